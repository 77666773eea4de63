// Trace ring buffer: the exported operations, sequences, the auto-dump switches and the
// dumper registration (the reservation and publication themselves are in ring_core).
#include "trace/rambo_internal.h"
#include "fault/fault_internal.h"
#include "osse/tick.h"

#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <winternl.h>

namespace osse {
namespace rambo {
namespace {

const char kCbEye[8] = RAMBO_CB_EYECATCHER;

bool validBufferSize(Uint32 size) {
    return size >= RAMBO_MIN_BUFFER_SIZE && size <= RAMBO_MAX_BUFFER_SIZE &&
           (size & (size - 1)) == 0;
}

// Null block, then the eye-catcher.
OSSErr checkBlock(const RamboControlBlock* cb) {
    if (cb == nullptr) return ECF_INVALID_PARAMETER;
    if (memcmp(cb->eyeCatcher, kCbEye, sizeof kCbEye) != 0) return ECF_RAMBO_NOT_INITIALIZED;
    return OSS_OK;
}

// The dumper that drains chunks registers itself in the reserved bytes of the header when it
// places its chunk walker: its process id and that process's start time (ids are reused, the
// pair is not). Writers wait for a chunk only while a registered dumper runs. The slots that
// writers put over chunks no dumper drained are counted beside it.
constexpr size_t kDumperPidOffset = RAMBO_DUMPER_PID_OFFSET;
constexpr size_t kDumperStartOffset = RAMBO_DUMPER_START_OFFSET;
constexpr size_t kUndrainedOffset = RAMBO_UNDRAINED_SLOTS_OFFSET;
static_assert(kDumperPidOffset >= offsetof(RamboControlBlock, reserved1) &&
                  kUndrainedOffset + 4 <= offsetof(RamboControlBlock, lock),
              "dumper registration in the reserved bytes");
static_assert(kDumperStartOffset % 8 == 0, "the start time is one aligned 64-bit word");
inline volatile Uint32* dumperPid(RamboControlBlock* cb) {
    return reinterpret_cast<volatile Uint32*>(at(cb, kDumperPidOffset));
}
inline volatile Uint64* dumperStart(RamboControlBlock* cb) {
    return reinterpret_cast<volatile Uint64*>(at(cb, kDumperStartOffset));
}
inline volatile Uint32* undrainedSlots(RamboControlBlock* cb) {
    return reinterpret_cast<volatile Uint32*>(at(cb, kUndrainedOffset));
}

// Start time of a process (0 when it cannot be read).
Uint64 startTimeOf(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (Uint64(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// True while the process `pid` that started at `start` still runs. A process that cannot be
// opened for another reason than its absence (access) is taken to run.
bool processRuns(Uint32 pid, Uint64 start) {
    if (pid == GetCurrentProcessId()) return true;
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (h == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
    const Uint64 started = startTimeOf(h);
    const bool ended = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    CloseHandle(h);
    return !ended && (started == 0 || started == start);
}

// True while a dumper is registered and runs. A dumper found gone is unregistered (only the
// registration that was seen: a new dumper may have taken its place meanwhile).
bool dumperRuns(RamboControlBlock* cb) {
    const Uint32 pid = load32(dumperPid(cb));
    if (pid == 0) return false;
    const Uint64 start = __atomic_load_n(dumperStart(cb), __ATOMIC_ACQUIRE);
    if (processRuns(pid, start)) return true;
    compareSwap32(dumperPid(cb), 0, pid);
    return false;
}

// Makes the chunks agree with where the writers stand, so that a dumper can start at any time,
// also after an earlier one ended and the writers went on without it, and registers the calling
// process as the dumper. Returns the chunk the dumper starts at: the one the writers are in.
// The writers' lap is L: the chunks from theirs on are written in lap L, the ones before it in
// lap L + 1. Fill counts restart from 0 (the slots already handed out in the writers' chunk are
// added), so a count can only come out high, never short of what the dumper waits for.
Uint32 resynchronise(RamboControlBlock* cb) {
    store32(dumperPid(cb), 0);  // writers do not wait while the chunks change
    RamboChunk* chunks = chunkTable(cb);
    const Uint32 count = cb->chunkCount;
    for (Uint32 i = 0; i < count; ++i) store32(&chunks[i].filled, 0);
    const Uint32 seq = load32(&cb->nextSequence);
    const Uint32 index = seq & cb->indexMask;
    const Uint32 lap = seq >> __builtin_ctz(cb->slotCount);
    const Uint32 current = index >> kChunkSlotShift;
    for (Uint32 i = 0; i < count; ++i) store32(&chunks[i].lap, i < current ? lap + 1 : lap);
    fetchAdd32(&chunks[current].filled, index & (RAMBO_SLOTS_PER_CHUNK - 1));
    __atomic_store_n(dumperStart(cb), startTimeOf(GetCurrentProcess()), __ATOMIC_RELEASE);
    store32(dumperPid(cb), GetCurrentProcessId());
    return current;
}

// The host of the ring in the library: the dumper check above, the host's yield, and a
// thread-local-storage slot for the memory of caller-filled records. The slot is read in the
// thread's environment block, as TlsGetValue reads it, but without the call, and without
// clearing the caller's last error as that call does. A slot beyond the block's own 64 is
// not used: records then take memory of their own each time.
void yieldWhileWaiting() { ossYield(); }
DWORD g_stageSlot = TlsAlloc();
static_assert(offsetof(TEB, TlsSlots) == (sizeof(void*) == 8 ? 0x1480 : 0xE10), "slots of the thread block");
void** stageWord() {
    if (g_stageSlot >= 64) return nullptr;
    return &static_cast<TEB*>(osse_fault::currentTeb())->TlsSlots[g_stageSlot];
}
struct InstallHost {
    InstallHost() { setHost(Host{dumperRuns, yieldWhileWaiting, stageWord}); }
} g_installHost;

}  // namespace

void releaseStageSlot() {
    freeKeptStage();
    if (g_stageSlot != TLS_OUT_OF_INDEXES) TlsFree(g_stageSlot);
    g_stageSlot = TLS_OUT_OF_INDEXES;
}

}  // namespace rambo
}  // namespace osse

using namespace osse::rambo;

extern "C" {

Uint32 ramboRoundNearest2(Uint32 x) {
    if (x == 0) return 0;
    return 1u << (31 - __builtin_clz(x));
}

Uint32 ramboGetAllocSize(Uint32 bufferSize) {
    if (!validBufferSize(bufferSize)) return 0;
    return bufferSize + chunkTableSize(bufferSize) + RAMBO_HEADER_SIZE + RAMBO_SCRATCH_SIZE;
}

OSSErr ramboInitialize(RamboControlBlock* cb, Uint32 bufferSize, Uint32 mode) {
    if (!validBufferSize(bufferSize) || ramboRoundNearest2(bufferSize) != bufferSize) {
        return ECF_RAMBO_INVALID_BUFFER_SIZE;
    }
    const Uint32 tableSize = chunkTableSize(bufferSize);
    // The total must not wrap to 0 (it cannot with the sizes allowed above).
    if (bufferSize + tableSize == 0xFFFDFEE8u) return ECF_RAMBO_INVALID_BUFFER_SIZE;
    if (cb == nullptr) return ECF_INVALID_PARAMETER;

    memset(cb, 0, sizeof *cb);
    cb->lock.acquire();
    const bool known = formatRing(cb, bufferSize, mode);
    cb->lock.release();
    return known ? OSS_OK : ECF_INVALID_PARAMETER;
}

void ramboSetCallBack(RamboFullBufferCallBack callBack) {
    __atomic_store_n(&g_fullBufferCallBack, callBack, __ATOMIC_RELEASE);
}

OSSErr ramboNewSequence(RamboControlBlock* cb) {
    if (OSSErr rc = checkBlock(cb)) return rc;
    if (cb->autoDumpAllowed) return ECF_NOT_SUPPORTED;
    cb->lock.acquire();
    if (cb->wraps) {
        // Every slot written so far now lies in a lap before the sequence start.
        const Uint32 n = cb->slotCount;
        store32(&cb->sequenceStart, fetchAdd32(&cb->nextSequence, n) + n);
    } else {
        // Move to the start of the next 2N window: writing starts again at index 0 of an
        // empty buffer.
        const Uint32 mask = cb->indexMask;
        Uint32 current = load32(&cb->nextSequence);
        Uint32 next;
        for (;;) {
            next = (current & ~mask) + mask + 1;
            const Uint32 seen = compareSwap32(&cb->nextSequence, next, current);
            if (seen == current) break;
            current = seen;
        }
        store32(&cb->sequenceStart, next);
    }
    cb->lock.release();
    return OSS_OK;
}

void* ramboReserveOneSlot(RamboControlBlock* cb, RamboReservation* token) {
    return reserveStaged(cb, RAMBO_ONE_SLOT_PAYLOAD, token);
}

void* ramboReserveSlots(RamboControlBlock* cb, Uint32 payloadBytes, RamboReservation* token) {
    return reserveStaged(cb, payloadBytes, token);
}

void ramboSync(RamboControlBlock* cb, RamboReservation* token) {
    if (cb == nullptr || token == nullptr || token->slot == nullptr) return;
    // A dropped record leaves the token without its slot: the writer can count what it lost.
    if (!syncStaged(cb, token)) token->slot = nullptr;
}

OSSErr ramboGetLappedDrops(RamboControlBlock* cb, Uint32* drops) {
    if (OSSErr rc = checkBlock(cb)) return rc;
    if (drops == nullptr) return ECF_INVALID_PARAMETER;
    *drops = isSealed(cb) ? load32(lappedDrops(cb)) : 0;
    return OSS_OK;
}

OSSErr ramboGetDumperProcess(RamboControlBlock* cb, Uint32* processId) {
    if (OSSErr rc = checkBlock(cb)) return rc;
    if (processId == nullptr) return ECF_INVALID_PARAMETER;
    *processId = 0;
    if (!cb->autoDumpAllowed) return OSS_OK;
    // The check writers make: a registration of a process that ended is dropped.
    const Uint32 pid = load32(dumperPid(cb));
    if (pid != 0 && dumperRuns(cb)) *processId = pid;
    return OSS_OK;
}

Uint32 ramboCheckRecord(const void* slot, Uint32 slotsAvailable, Uint32 format) {
    if (slot == nullptr || slotsAvailable == 0) return 0;
    return wholeRecord(static_cast<const Uint8*>(slot), slotsAvailable, format == RAMBO_FORMAT_SEALED);
}

OSSErr ramboAutoDumpEnabled(RamboControlBlock* cb, bool enabled) {
    if (OSSErr rc = checkBlock(cb)) return rc;
    if (!cb->autoDumpAllowed) return ECF_RAMBO_AUTO_DUMP_NOT_ALLOWED;
    // One store, no lock: switching off must work while a dead process holds the lock.
    store8(&cb->autoDumpEnabled, enabled ? 1 : 0);
    return OSS_OK;
}

OSSErr ramboInitializeChunkWalker(RamboControlBlock* cb, RamboChunkWalker* walker) {
    if (OSSErr rc = checkBlock(cb)) return rc;
    if (!cb->autoDumpAllowed) return ECF_RAMBO_AUTO_DUMP_NOT_ALLOWED;
    if (walker == nullptr) return ECF_INVALID_PARAMETER;
    walker->controlBlock = cb;
    walker->chunk0 = chunkTable(cb);
    walker->chunkNumber = resynchronise(cb);
    walker->slot0 = dataArea(cb);
    return OSS_OK;
}

}  // extern "C"
