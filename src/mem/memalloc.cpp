// The library allocator: debug block layouts, their verification and the pointer probes.
#include <windows.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "diag/assert_internal.h"
#include "mem/mem_internal.h"
#include "osse/osse.h"

namespace osse_mem {

// Idle mode until the load-time configuration says otherwise, so that a block obtained by a
// static initialiser before the configuration has a layout every non-zero mode can verify.
OSSMemDebugCB g_memDebugCB = {0, OSS_MEM_MODE_IDLE, 0, {0, 0, 0, 0}, 0, 0, nullptr, {}};

namespace {

OSSMemUserAllocFn g_userAllocFn = nullptr;

// Allocation-failure injection (full mode): allocations the built-in allocator builds are
// counted from the last ossMemSetDebugFailAllocation on, and the nth of them fails as if malloc
// had nothing left. With a thread set, only that thread's allocations count, so that a test's
// count does not move with whatever other threads of the process do meanwhile.
struct FailInjection {
    Uint32 nth;      // 0: count only
    Uint32 counted;
    Uint32 failed;   // failures given since the last setting
    Uint32 thread;   // 0: every thread
};
FailInjection g_failInjection = {0, 0, 0, 0};

// True when this full-mode allocation is the one to fail.
inline bool injectFailure()
{
    FailInjection& f = g_failInjection;
    const Uint32 thread = __atomic_load_n(&f.thread, __ATOMIC_RELAXED);
    if (thread && thread != GetCurrentThreadId()) return false;
    const Uint32 n = __atomic_add_fetch(&f.counted, 1u, __ATOMIC_RELAXED);
    if (n != __atomic_load_n(&f.nth, __ATOMIC_RELAXED)) return false;
    __atomic_add_fetch(&f.failed, 1u, __ATOMIC_RELAXED);
    return true;
}
OSSMemUserFreeFn g_userFreeFn = nullptr;

const Uint32 kHeaderSize = sizeof(OSSMemBlockHeader);
const Uint32 kPrefixSize = sizeof(OSSMemPad);  // idle prefix, light front and back pads
const Uint32 kRecordSize = sizeof(OSSMemFullRecord);
// x86_64 full-mode blocks may start with 8 unused bytes that keep the user address 16-byte
// aligned (see OSSMemFullRecord); the i686 layout has none.
const Uint32 kFullAlignSlack = OSSE_PTR32 ? 0 : 8;

const Uint32 kFnMemAlloc = 0x081A0058u;  // _ossMemAlloc
const Uint32 kFnMemFree = 0x081A0059u;   // _ossMemFree
const Uint32 kFailedMalloc = 0x08140020u;

// Reports a failed malloc of `total` bytes under _ossMemAlloc's identifier; returns the code the
// caller returns.
Uint32 reportAllocFailure(Uint32 osError, Uint32 total, Uint32 flags)
{
    OSSErrorContext ctx;
    ctx.init();
    ctx.setAllocationSize(total);
    return ossSystemErrorHandler(kFnMemAlloc, kFailedMalloc, osError, 40, OSS_LEVEL_INFO, 0, &ctx,
                                 2, OSSLogItem{&total, 4, OSS_ITEM_UNSIGNED},
                                 OSSLogItem{&flags, 4, OSS_ITEM_HEX});
}

// Logs a release of a null address (message code ECF_MEM_NULL_POINTER, the text as one item).
void logNullFree(const char* text)
{
    ossLog(nullptr, kFnMemFree, ECF_MEM_NULL_POINTER, 10, OSS_LEVEL_ERROR, 1,
           OSSLogItem{text, (Sint32)strlen(text), OSS_ITEM_STRING});
}

inline Uint32 load(const Uint32& field) { return __atomic_load_n(&field, __ATOMIC_RELAXED); }
inline void store(Uint32& field, Uint32 value) { __atomic_store_n(&field, value, __ATOMIC_RELAXED); }

inline Uint32 round8(Uint32 size) { return (size + 7u) & ~7u; }

inline Uint32* padTypeWord(Uint8* user) { return (Uint32*)(user - kHeaderSize) - 1; }
inline OSSMemBlockHeader* headerOf(Uint8* user) { return (OSSMemBlockHeader*)(user - kHeaderSize); }

struct Settings {
    Uint32 flags;
    Uint32 mode;
    Uint32 frontPadUnits;
    Uint32 backPadUnits;
};

// Once the first allocation has set `allocated`, the mode can no longer switch between 0 and a
// non-zero mode, and every other change is harmless to a block being built (each block records
// its own layout), so the settings are read without the latch from then on.
inline void readSettings(Settings& s)
{
    OSSMemDebugCB& cb = g_memDebugCB;
    if (__atomic_load_n(&cb.allocated, __ATOMIC_ACQUIRE)) {
        s.flags = load(cb.flags);
        s.mode = load(cb.mode);
        s.frontPadUnits = load(cb.frontPadUnits);
        s.backPadUnits = load(cb.backPadUnits);
        return;
    }
    cb.latch.acquire();
    s.flags = cb.flags;
    s.mode = cb.mode;
    s.frontPadUnits = cb.frontPadUnits;
    s.backPadUnits = cb.backPadUnits;
    __atomic_store_n(&cb.allocated, 1u, __ATOMIC_RELEASE);
    cb.latch.release();
}

void report(const char* text, const char* file, Uint32 line)
{
    osse_diag::assertFailedWithDumpDir(text, file, line, g_szMemDebugLogPath);
}

void reportValue(const char* format, Uint32 value, const char* file, Uint32 line)
{
    char text[128];
    ossSnprintf(text, sizeof text, format, value);
    report(text, file, line);
}

const char* lastComponent(const char* file)
{
    const char* base = file;
    for (const char* p = file; *p; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    return base;
}

__attribute__((noinline, cold)) void dumpList(const char* file, Uint32 line)
{
    g_bDumpMemAllocListFlag = 0;
    _ossMemAllocList(file, line, true);
}

inline void dumpListIfAsked(const char* file, Uint32 line)
{
    if (__builtin_expect(g_bDumpMemAllocListFlag != 0, 0)) dumpList(file, line);
}

bool padUnitIntact(const OSSMemPadUnit* unit)
{
    return unit->word1 == OSS_MEM_PAD_WORD1 && unit->word2 == OSS_MEM_PAD_WORD2;
}

}  // namespace

void setFailAllocation(Uint32 nth, Uint32 thread)
{
    FailInjection& f = g_failInjection;
    // Stop first, so that no allocation counts against a half-made setting.
    __atomic_store_n(&f.nth, 0u, __ATOMIC_RELAXED);
    __atomic_store_n(&f.thread, thread, __ATOMIC_RELAXED);
    __atomic_store_n(&f.counted, 0u, __ATOMIC_RELAXED);
    __atomic_store_n(&f.failed, 0u, __ATOMIC_RELAXED);
    __atomic_store_n(&f.nth, nth, __ATOMIC_SEQ_CST);
}

bool userHooksInstalled()
{
    return g_userAllocFn != nullptr && g_userFreeFn != nullptr;
}

Uint32 blockTotal(Uint32 mode, Uint32 size, Uint32 frontPadUnits, Uint32 backPadUnits)
{
    Uint64 rounded = ((Uint64)size + 7u) & ~(Uint64)7u;
    Uint64 total;
    switch (mode) {
    case OSS_MEM_MODE_NONE:
        total = (Uint64)size + kHeaderSize;
        break;
    case OSS_MEM_MODE_LIGHT:
        total = rounded + 48u;
        break;
    case OSS_MEM_MODE_FULL:
        total = rounded + kRecordSize + kHeaderSize + sizeof(OSSMemBackPad) + kFullAlignSlack +
                8u * ((Uint64)frontPadUnits + backPadUnits);
        break;
    default:  // idle mode, and the idle layout for any mode value this allocator does not know
        total = rounded + 32u;
        break;
    }
    return total > 0xFFFFFFFFu ? 0 : (Uint32)total;
}

__attribute__((noinline)) Sint32 checkBlock(void** ppMem, const char* file, Uint32 line,
                                             bool release, bool honourHooks)
{
    if (honourHooks && userHooksInstalled()) return 0;
    if (!ppMem || !*ppMem) {
        report("NULL pointer for memory allocation address found at:", file, line);
        return 0;
    }
    Uint8* user = (Uint8*)*ppMem;
    OSSMemBlockHeader* header = headerOf(user);
    const Uint32 eyeCatcher = header->eyeCatcher;
    const bool eyeCatcherValid = (eyeCatcher & ~OSS_MEM_EYECATCHER_FLAGS) == OSS_MEM_EYECATCHER;
    if (!eyeCatcherValid)
        reportValue("Invalid block eye-catcher (0x%X) found at:", eyeCatcher, file, line);

    if (load(g_memDebugCB.mode) == OSS_MEM_MODE_NONE) {
        if (release) {
            // Without pads the eye-catcher is the only evidence that this is a live block of
            // ours; anything else is left alone rather than handed to free().
            if (eyeCatcherValid) {
                header->eyeCatcher = OSS_MEM_EYECATCHER_DEAD;
                *ppMem = header;
            } else {
                *ppMem = nullptr;
            }
        }
        return -1;
    }

    Uint32* padType = padTypeWord(user);
    Uint8* start = nullptr;
    Uint32 size = 0;
    Uint32 blockMode = *padType;
    switch (blockMode) {
    case OSS_MEM_MODE_IDLE: {
        OSSMemPad* prefix = (OSSMemPad*)(user - kHeaderSize - kPrefixSize);
        size = prefix->size;
        start = (Uint8*)prefix;
        break;
    }
    case OSS_MEM_MODE_LIGHT: {
        OSSMemPad* front = (OSSMemPad*)(user - kHeaderSize - kPrefixSize);
        if (front->word1 != OSS_MEM_PAD_WORD1 || front->word2 != OSS_MEM_PAD_WORD2)
            report("Front memory pad corruption found at:", file, line);
        size = front->size;
        const Uint32 rounded = round8(size);
        for (Uint32 i = size; i < rounded; ++i)
            if (user[i] != OSS_MEM_SLACK_FILL)
                report("Back memory pad corruption found at:", file, line);
        const OSSMemPad* back = (const OSSMemPad*)(user + rounded);
        if (back->padType != OSS_MEM_MODE_LIGHT || back->word1 != OSS_MEM_PAD_WORD1 ||
            back->word2 != OSS_MEM_PAD_WORD2)
            report("Back memory pad corruption found at:", file, line);
        if (back->size != front->size) report("Memory pad size corruption found at:", file, line);
        start = (Uint8*)front;
        break;
    }
    case OSS_MEM_MODE_FULL: {
        OSSMemFullRecord* record = (OSSMemFullRecord*)(user - kHeaderSize - kRecordSize);
        const Uint32 front = record->frontPadUnits;
        const Uint32 back = record->backPadUnits;
        size = record->size;
        const Uint32 rounded = round8(size);
        const OSSMemPadUnit* frontUnits = (const OSSMemPadUnit*)record - front;
        for (Uint32 i = 0; i < front; ++i)
            if (!padUnitIntact(&frontUnits[i])) report("Front pad corruption found at:", file, line);
        for (Uint32 i = size; i < rounded; ++i)
            if (user[i] != OSS_MEM_SLACK_FILL)
                report("Back Uint8 memory pad corruption found at:", file, line);
        const OSSMemPadUnit* backUnits = (const OSSMemPadUnit*)(user + rounded);
        for (Uint32 i = 0; i < back; ++i) {
            if (!padUnitIntact(&backUnits[i])) {
                Uint64 unit;
                memcpy(&unit, &backUnits[i], sizeof unit);
                char text[128];
                ossSnprintf(text, sizeof text, "Back pad corruption (0x%I64X) found at:",
                                   unit);
                report(text, file, line);
            }
        }
        const OSSMemBackPad* trailer = (const OSSMemBackPad*)(backUnits + back);
        if (trailer->mode != OSS_MEM_MODE_FULL)
            reportValue("Back pad mode (0x%x)found at:", trailer->mode, file, line);
        if (trailer->size != size)
            report("Allocation size does not match between front and back pad structures "
                   "found at:",
                   file, line);
        start = (Uint8*)frontUnits;
#if !OSSE_PTR32
        if (record->alignmentGap == 8) start -= 8;
#endif
        break;
    }
    case OSS_MEM_FREED_MARKER:
        report("Freeing freed memory found at:", file, line);
        break;
    default:
        reportValue("Invalid pad type (0x%X) found at:", blockMode, file, line);
        break;
    }

    if (!release) return (Sint32)size;
    if (!start) {
        *ppMem = nullptr;
        return 0;
    }
    if (blockMode == OSS_MEM_MODE_FULL) {
        OSSMemFullRecord* record = (OSSMemFullRecord*)(user - kHeaderSize - kRecordSize);
        OSSMemDebugCB& cb = g_memDebugCB;
        cb.latch.acquire();
        if (record->next) record->next->prev = record->prev;
        if (record->prev)
            record->prev->next = record->next;
        else
            cb.allocList = record->next;
        cb.latch.release();
    }
    header->eyeCatcher = OSS_MEM_EYECATCHER_DEAD;
    if (blockMode != OSS_MEM_MODE_IDLE && (load(g_memDebugCB.flags) & OSS_MEM_DEBUG_FILL_FREED) &&
        size != 0)
        memset(user, OSS_MEM_DATA_FILL, size);
    *ppMem = start;
    *padType = OSS_MEM_FREED_MARKER;
    return (Sint32)size;
}

}  // namespace osse_mem

using namespace osse_mem;

namespace {

// Every mode, with the settings read; the arguments are valid.
__attribute__((noinline)) Uint32 allocBlock(void** ppMem, Uint32 size, Uint32 flags, const char* file, Uint32 line)
{
    Settings s;
    readSettings(s);
    const Uint32 rounded = round8(size);
    const Uint32 total = blockTotal(s.mode, size, s.frontPadUnits, s.backPadUnits);
    errno = 0;
    Uint8* start = nullptr;
    if (s.mode == OSS_MEM_MODE_FULL && total && injectFailure()) {
        errno = ENOMEM;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else if (total) {
        start = (Uint8*)malloc(total);
    }
    if (!start) {
        // malloc is a C-runtime call: its error is errno, ENOMEM when the runtime left none and
        // when the padded total does not even fit in 32 bits.
        const int error = total && errno ? errno : ENOMEM;
        if (!total) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return reportAllocFailure((Uint32)error, total ? total : 0xFFFFFFFFu, flags);
    }

    Uint8* user;
    OSSMemFullRecord* record = nullptr;
    switch (s.mode) {
    case OSS_MEM_MODE_NONE:
        user = start + kHeaderSize;
        break;
    case OSS_MEM_MODE_LIGHT: {
        OSSMemPad* front = (OSSMemPad*)start;
        front->word1 = OSS_MEM_PAD_WORD1;
        front->word2 = OSS_MEM_PAD_WORD2;
        front->size = size;
        front->padType = OSS_MEM_MODE_LIGHT;
        user = start + kPrefixSize + kHeaderSize;
        memset(user + size, OSS_MEM_SLACK_FILL, rounded - size);
        memcpy(user + rounded, front, sizeof *front);
        break;
    }
    case OSS_MEM_MODE_FULL: {
        // x86_64: front units, record and header take 80 + 8 * units bytes; an odd count needs
        // 8 bytes in front to bring the user address to a multiple of 16.
        const Uint32 gap = kFullAlignSlack && (s.frontPadUnits & 1) ? 8 : 0;
        OSSMemPadUnit* units = (OSSMemPadUnit*)(start + gap);
        for (Uint32 i = 0; i < s.frontPadUnits; ++i) {
            units[i].word1 = OSS_MEM_PAD_WORD1;
            units[i].word2 = OSS_MEM_PAD_WORD2;
        }
        record = (OSSMemFullRecord*)(units + s.frontPadUnits);
        strncpy(record->file, file ? lastComponent(file) : "", sizeof record->file);
        record->file[sizeof record->file - 1] = 0;
        record->size = size;
        record->line = line;
        record->frontPadUnits = s.frontPadUnits;
        record->backPadUnits = s.backPadUnits;
        record->padType = OSS_MEM_MODE_FULL;
#if !OSSE_PTR32
        record->alignmentGap = gap;
        record->reserved = 0;
#endif
        user = (Uint8*)(record + 1) + kHeaderSize;
        memset(user + size, OSS_MEM_SLACK_FILL, rounded - size);
        units = (OSSMemPadUnit*)(user + rounded);
        for (Uint32 i = 0; i < s.backPadUnits; ++i) {
            units[i].word1 = OSS_MEM_PAD_WORD1;
            units[i].word2 = OSS_MEM_PAD_WORD2;
        }
        OSSMemBackPad* trailer = (OSSMemBackPad*)(units + s.backPadUnits);
        trailer->size = size;
        trailer->mode = OSS_MEM_MODE_FULL;
        break;
    }
    default: {
        OSSMemPad* prefix = (OSSMemPad*)start;
        prefix->word1 = 0;
        prefix->word2 = 0;
        prefix->size = size;
        prefix->padType = OSS_MEM_MODE_IDLE;
        user = start + kPrefixSize + kHeaderSize;
        break;
    }
    }

    OSSMemBlockHeader* header = headerOf(user);
    header->eyeCatcher = OSS_MEM_EYECATCHER | ((flags & OSS_MEM_ALLOC_FLAGGED) ? 1u : 0u);
    header->size = size;
    header->reserved = 0;
    header->line = line;

    // The header is complete before the record becomes visible to a list report.
    if (record) {
        OSSMemDebugCB& cb = g_memDebugCB;
        cb.latch.acquire();
        record->prev = nullptr;
        record->next = cb.allocList;
        if (cb.allocList) cb.allocList->prev = record;
        cb.allocList = record;
        cb.latch.release();
    }

    if (flags & OSS_MEM_ALLOC_ZERO)
        memset(user, 0, size);
    else if (s.flags & OSS_MEM_DEBUG_FILL_NEW)
        memset(user, OSS_MEM_DATA_FILL, size);
    *ppMem = user;
    return OSS_OK;
}

__attribute__((noinline, cold)) Uint32 releaseOfNull(const char* file, Uint32 line)
{
    char text[1024];
    ossSnprintf(text, sizeof text,
                       "NULL pointer for memory allocation address found at: %s, line %u",
                       file ? file : "", line);
    logNullFree(text);
    return ECF_MEM_NULL_POINTER;
}

}  // namespace

extern "C" OSSE_API Uint32 _ossMemAlloc(void** ppMem, Uint32 noHooks, Uint32 size, Uint32 flags,
                                        const char* file, Uint32 line)
{
    if (g_userAllocFn && noHooks == 0) return g_userAllocFn(ppMem, 0, size, flags);
    if (!ppMem || size == 0 || (flags & ~(OSS_MEM_ALLOC_ZERO | OSS_MEM_ALLOC_FLAGGED)))
        return ECF_INVALID_PARAMETER;
    dumpListIfAsked(file, line);

    // Idle mode, the default, in a straight line: the same block as allocBlock builds.
    OSSMemDebugCB& cb = g_memDebugCB;
    if (__builtin_expect(__atomic_load_n(&cb.allocated, __ATOMIC_ACQUIRE) != 0, 1) &&
        load(cb.mode) == OSS_MEM_MODE_IDLE && !(load(cb.flags) & OSS_MEM_DEBUG_FILL_NEW) &&
        size <= 0xFFFFFFFFu - 39u) {
        Uint32* start = (Uint32*)malloc(round8(size) + 32u);
        if (__builtin_expect(start != nullptr, 1)) {
            start[0] = 0;
            start[1] = 0;
            start[2] = size;
            start[3] = OSS_MEM_MODE_IDLE;
            start[4] = OSS_MEM_EYECATCHER | ((flags & OSS_MEM_ALLOC_FLAGGED) ? 1u : 0u);
            start[5] = size;
            start[6] = 0;
            start[7] = line;
            if (flags & OSS_MEM_ALLOC_ZERO) memset(start + 8, 0, size);
            *ppMem = start + 8;
            return OSS_OK;
        }
    }
    return allocBlock(ppMem, size, flags, file, line);
}

extern "C" OSSE_API Uint32 _ossMemFree(void** ppMem, Uint32 noHooks, Uint32, const char* file,
                                       Uint32 line)
{
    if (g_userFreeFn && noHooks == 0) return g_userFreeFn(ppMem);
    if (!ppMem) return ECF_INVALID_PARAMETER;
    if (!*ppMem) return releaseOfNull(file, line);
    dumpListIfAsked(file, line);

    // A sound idle-mode block in a straight line: what checkBlock's release does for it.
    Uint32* header = (Uint32*)*ppMem - 4;
    if (load(g_memDebugCB.mode) != OSS_MEM_MODE_NONE &&
        __builtin_expect(header[-1] == OSS_MEM_MODE_IDLE, 1) &&
        (header[0] & ~OSS_MEM_EYECATCHER_FLAGS) == OSS_MEM_EYECATCHER) {
        header[0] = OSS_MEM_EYECATCHER_DEAD;
        header[-1] = OSS_MEM_FREED_MARKER;
        free(header - 4);
        *ppMem = nullptr;
        return OSS_OK;
    }

    // The hooks were bypassed (or are not installed), so this block is one of ours whatever the
    // hooks: it is always verified and turned into the address malloc gave.
    checkBlock(ppMem, file, line, true, false);
    free(*ppMem);
    *ppMem = nullptr;
    return OSS_OK;
}

extern "C" OSSE_API Sint32 _ossMemAllocCheck(void** ppMem, const char* file, Uint32 line,
                                             Uint32 release)
{
    return checkBlock(ppMem, file, line, release != 0, true);
}

extern "C" OSSE_API Uint32 ossMemSetDebug(Uint32 flags, Uint32 mode, Uint32 frontPadUnits,
                                          Uint32 backPadUnits)
{
    OSSMemDebugCB& cb = g_memDebugCB;
    cb.latch.acquire();
    const bool toggle = cb.allocated && ((cb.mode == OSS_MEM_MODE_NONE) != (mode == OSS_MEM_MODE_NONE));
    store(cb.flags, flags);
    store(cb.frontPadUnits, frontPadUnits);
    store(cb.backPadUnits, backPadUnits);
    if (!toggle) store(cb.mode, mode);
    cb.latch.release();
    return toggle ? ECF_MEM_CANNOT_TOGGLE_MEM_DEBUG_AFTER_ALLOC : OSS_OK;
}

extern "C" OSSE_API void _ossMemGetDebug(Uint32* flags, Uint32* mode, Uint32* frontPadUnits,
                                         Uint32* backPadUnits)
{
    OSSMemDebugCB& cb = g_memDebugCB;
    cb.latch.acquire();
    if (flags) *flags = cb.flags;
    if (mode) *mode = cb.mode;
    if (frontPadUnits) *frontPadUnits = cb.frontPadUnits;
    if (backPadUnits) *backPadUnits = cb.backPadUnits;
    cb.latch.release();
}

extern "C" OSSE_API Uint32 ossMemSetDebugFailAllocation(Uint32 nth, bool thisThreadOnly)
{
    if (load(g_memDebugCB.mode) != OSS_MEM_MODE_FULL) return ECF_NOT_SUPPORTED;
    setFailAllocation(nth, thisThreadOnly ? (Uint32)GetCurrentThreadId() : 0);
    return OSS_OK;
}

extern "C" OSSE_API void _ossMemGetDebugCounts(Uint32* allocations, Uint32* failures,
                                               Uint32* liveBlocks)
{
    FailInjection& f = g_failInjection;
    if (allocations) *allocations = __atomic_load_n(&f.counted, __ATOMIC_RELAXED);
    if (failures) *failures = __atomic_load_n(&f.failed, __ATOMIC_RELAXED);
    if (liveBlocks) {
        Uint32 n = 0;
        OSSMemDebugCB& cb = g_memDebugCB;
        cb.latch.acquire();
        for (const OSSMemFullRecord* r = cb.allocList; r; r = r->next) ++n;
        cb.latch.release();
        *liveBlocks = n;
    }
}

extern "C" OSSE_API Uint32 ossMemDefineUserAllocAndFreeFunctions(OSSMemUserAllocFn allocFn,
                                                                 OSSMemUserFreeFn freeFn)
{
    if (!allocFn || !freeFn) return ECF_FAILED;
    g_userAllocFn = allocFn;
    g_userFreeFn = freeFn;
    return OSS_OK;
}

extern "C" OSSE_API Uint32 _ossIsBadReadPtr(const void* p, Uint32 length)
{
    if (length == 0 || (uintptr_t)p < 4096) return 1;
    return IsBadReadPtr(p, length) ? 1 : 0;
}

extern "C" OSSE_API Uint32 _ossIsBadWritePtr(void* p, Uint32 length, bool write)
{
    if (length == 0 || (uintptr_t)p < 4096) return 1;
    return (write ? IsBadWritePtr(p, length) : IsBadReadPtr(p, length)) ? 1 : 0;
}

extern "C" OSSE_API Uint32 _ossIsBadString(const char* s, Uint32 maxLength)
{
    if (!s || maxLength == 0) return 1;
    return IsBadStringPtrA(s, maxLength) ? 1 : 0;
}
