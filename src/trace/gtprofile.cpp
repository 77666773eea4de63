// Profile and coverage modes: counting tables kept behind the trace control block instead of a
// ring buffer. Profile mode counts calls per function (and times them on per-thread call
// stacks); coverage mode counts each trace point reached and the bits seen in exit data.
#include "trace/gtrace_internal.h"

#include "osse/tracedump.h"

#include <stdlib.h>
#include <string.h>

using namespace osse::gtrace;

namespace {

// ---- Profile --------------------------------------------------------------------------------------------

struct ProfileFrame {
    Uint32 functionId;
    Uint32 qualifier;  // the key the exit looks up
    Uint64 timestamp;
};
struct ProfileStack {
    ProfileFrame* frames;
    Uint32 depth;      // may exceed the frames stored
    Uint32 qualifier;  // of the current entry
};
static_assert(sizeof(ProfileFrame) == 16, "profile frame is 16 bytes");

GTraceProfileEntry* profileTable(GTCB* cb) {
    return reinterpret_cast<GTraceProfileEntry*>(reinterpret_cast<Uint8*>(cb) + GTCB_SIZE);
}
Uint32 profileEntries(const GTCB* cb) { return cb->options.bufferSize / GTRACE_PROFILE_ENTRY_SIZE; }

// The per-thread call stacks live in a thread-local-storage slot created once per process. Only
// the raw calls are used here: an operation of this library would write trace records and come
// straight back into the trace point.
volatile LONG g_tlsState = 0;  // 0 none, 1 being created, 2 ready
DWORD g_tlsSlot = TLS_OUT_OF_INDEXES;

void createStackSlot() {
    if (InterlockedCompareExchange(&g_tlsState, 1, 0) == 0) {
        g_tlsSlot = TlsAlloc();
        InterlockedExchange(&g_tlsState, 2);
        return;
    }
    while (g_tlsState != 2) Sleep(0);
}

ProfileStack* threadStack(bool create) {
    if (g_tlsState != 2) {
        if (!create) return nullptr;
        createStackSlot();
    }
    if (g_tlsSlot == TLS_OUT_OF_INDEXES) return nullptr;
    ProfileStack* s = static_cast<ProfileStack*>(TlsGetValue(g_tlsSlot));
    if (s != nullptr || !create) return s;
    s = static_cast<ProfileStack*>(malloc(sizeof *s));
    ProfileFrame* frames = static_cast<ProfileFrame*>(malloc(sizeof(ProfileFrame) * GTRACE_PROFILE_MAX_DEPTH));
    if (s == nullptr || frames == nullptr) {
        free(s);
        free(frames);
        return nullptr;
    }
    s->frames = frames;
    s->depth = 0;
    s->qualifier = GTRACE_PROFILE_NO_QUALIFIER;
    TlsSetValue(g_tlsSlot, s);
    return s;
}

// Open addressing, up to 10 probes. The home slot is computed in integers: the fraction of
// k times 0.618033989 as a 32-bit fixed-point value, scaled to the table. (Floating point
// gives one key two homes when threads run the x87 unit at different precisions.)
GTraceProfileEntry* profileLookup(GTCB* cb, Uint32 f, Uint32 q) {
    const Uint32 m = profileEntries(cb);
    if (m == 0) return nullptr;
    const Uint32 k = q == GTRACE_PROFILE_NO_QUALIFIER ? f : static_cast<Uint32>(f / (Uint64(q) + 1));
    const Uint32 fraction = k * 2654435770u;  // mod 2^32
    const Uint64 home = (Uint64(fraction) * m) >> 32;
    Uint64 step = k % 988927u;
    if (step == 0) step = 1;
    GTraceProfileEntry* table = profileTable(cb);
    for (Uint32 i = 0; i < 10; ++i) {
        GTraceProfileEntry* e = &table[(home + i * step) % m];
        if (e->functionId == 0) {
            e->functionId = f;
            e->qualifier = q;
            return e;
        }
        if (e->functionId == f && e->qualifier == q) return e;
    }
    return nullptr;
}

Uint64 now() {
    LARGE_INTEGER v;
    return QueryPerformanceCounter(&v) ? static_cast<Uint64>(v.QuadPart) : 0;
}

constexpr Uint32 kProfileFilterFlags = 0x1203Eu;

// ---- Coverage ---------------------------------------------------------------------------------------------

constexpr Uint32 kBuckets = 262144;
constexpr Uint64 kBucketsAt = 0x20;
constexpr Uint64 kEntriesAt = 0x400020;
constexpr Uint32 kExitProbeKey = 120011;

struct CoverageHeader {
    OSSLatch lock;
    Uint8 pad[7];
    Uint32 bucketOffset;
    Uint32 zero;
    Uint64 bucketEnd;
    volatile Uint64 nextFree;
};
struct CoverageBucket {
    Uint64 first;
    OSSLatch lock;
    Uint8 pad[7];
};
struct CoverageEntry {
    Uint32 functionId;
    Uint16 type;
    Uint16 probe;
    Uint32 count;
    Uint32 zero;
    Uint64 bits;   // offset of the bit block (exit entries)
    Uint64 next;
};
static_assert(sizeof(CoverageHeader) == 0x20, "coverage header");
static_assert(offsetof(CoverageHeader, bucketOffset) == 8, "layout");
static_assert(offsetof(CoverageHeader, bucketEnd) == 0x10, "layout");
static_assert(offsetof(CoverageHeader, nextFree) == 0x18, "layout");
static_assert(sizeof(CoverageBucket) == 16, "coverage bucket");
static_assert(sizeof(CoverageEntry) == 32, "coverage entry");

Uint8* coverageArea(GTCB* cb) { return reinterpret_cast<Uint8*>(cb) + GTCB_SIZE; }

Uint32 coverageHash(Uint32 a, Uint32 b) {
    Uint32 h = a + b + (b << 15);
    h += h << 12;
    h ^= h >> 22;
    h += h << 4;
    h ^= h >> 9;
    h += h << 10;
    h ^= h >> 2;
    h += h << 7;
    h ^= h >> 12;
    return h;
}

bool tryLatch(OSSLatch* l) {
    return __atomic_exchange_n(reinterpret_cast<volatile Uint8*>(l), 0x80, __ATOMIC_ACQUIRE) == 0;
}
void freeLatch(OSSLatch* l) { __atomic_store_n(reinterpret_cast<volatile Uint8*>(l), 0, __ATOMIC_RELEASE); }

bool coverageLive(const GTCB* cb) {
    return cb != nullptr && cb->initialized && cb->enabled && cb->options.mode == GTRACE_MODE_COVERAGE &&
           (cb->options.flags & GTRACE_FLAG_COVERAGE_MODE);
}

// Sets the bits of a 64-bit exit value in a bit block: word i holds bit i once it was seen.
void orBits(Uint32* words, Uint32 lo, Uint32 hi) {
    const Uint64 v = (Uint64(hi) << 32) | lo;
    for (Uint32 i = 0; i < 64; ++i)
        if ((v >> i) & 1u) words[i] |= 1u;
}

void coverageCount(GTCB* cb, Uint32 f, Uint32 probe, Uint32 type, bool exit, Uint32 lo, Uint32 hi) {
    if (!coverageLive(cb)) return;
    Uint8* area = coverageArea(cb);
    CoverageHeader* head = reinterpret_cast<CoverageHeader*>(area);
    const Uint32 bucketIndex = coverageHash(f, exit ? kExitProbeKey : probe) & (kBuckets - 1);
    CoverageBucket* bucket = reinterpret_cast<CoverageBucket*>(area + kBucketsAt) + bucketIndex;
    if (!tryLatch(&bucket->lock)) return;  // busy: the point is not counted
    const Uint64 limit = cb->options.bufferSize;
    CoverageEntry* found = nullptr;
    // Entries are linked at the head of their chain as they are allocated upward, so along a
    // chain the offsets only go down. A link that does not (left by a point that was in flight
    // while the area was cleared) ends the walk: the chain can never loop.
    for (Uint64 off = bucket->first; off >= kEntriesAt && off + sizeof(CoverageEntry) <= limit;) {
        CoverageEntry* e = reinterpret_cast<CoverageEntry*>(area + off);
        if (e->functionId == f && e->type == type && e->probe == static_cast<Uint16>(probe)) {
            found = e;
            break;
        }
        if (e->next >= off) break;
        off = e->next;
    }
    const Uint32 need = exit ? sizeof(CoverageEntry) + 256 : sizeof(CoverageEntry);
    if (found != nullptr) {
        ++found->count;
        // An exit may meet an entry made by a marker of the same key, which has no bit block.
        if (exit && (lo | hi) && found->bits != 0 && found->bits + 256 <= limit)
            orBits(reinterpret_cast<Uint32*>(area + found->bits), lo, hi);
    } else if (head->nextFree + need < limit && cb->options.mode == GTRACE_MODE_COVERAGE &&
               tryLatch(&head->lock)) {
        const Uint64 at = head->nextFree;
        if (at + need < limit) {  // again, now that no other thread can allocate
            head->nextFree = at + need;
            CoverageEntry* e = reinterpret_cast<CoverageEntry*>(area + at);
            memset(e, 0, need);
            e->functionId = f;
            e->type = static_cast<Uint16>(type);
            e->probe = static_cast<Uint16>(probe);
            e->count = 1;
            if (exit) {
                e->bits = at + sizeof(CoverageEntry);
                orBits(reinterpret_cast<Uint32*>(area + e->bits), lo, hi);
            }
            e->next = bucket->first;
            bucket->first = at;
        }
        freeLatch(&head->lock);
    }
    freeLatch(&bucket->lock);
}

void resetCoverageArea(GTCB* cb, bool wholeArea) {
    Uint8* area = coverageArea(cb);
    CoverageHeader* head = reinterpret_cast<CoverageHeader*>(area);
    const Uint64 used = wholeArea ? cb->options.bufferSize : head->nextFree;
    memset(area + kBucketsAt, 0, kBuckets * sizeof(CoverageBucket));  // locks free, chains empty
    if (used > kEntriesAt) memset(area + kEntriesAt, 0, static_cast<size_t>(used - kEntriesAt));
    head->nextFree = kEntriesAt;
}

// Trace points that passed the enabled test just before the tables change finish within this
// time. The wait does not depend on the enabled word at that moment: tracing may have been
// switched off an instant earlier, with points of other threads and processes still in flight.
void letPointsInFlightFinish() { ossSleep(5000); }

}  // namespace

namespace osse {
namespace gtrace {

OSSErr profileInitialize(void* memory, GTraceOptions* options) {
    GTCB* cb = static_cast<GTCB*>(memory);
    memset(memory, 0, sizeof(GTCB));
    memset(profileTable(cb), 0, size_t(options->bufferSize / GTRACE_PROFILE_ENTRY_SIZE) * GTRACE_PROFILE_ENTRY_SIZE);
    memcpy(cb->eyeCatcher, GTRACE_EYECATCHER, 7);
    memcpy(static_cast<void*>(&cb->options), options, sizeof(GTraceOptions));
    cb->options.flags |= GTRACE_FLAG_PROFILE_MODE;
    cb->enabled = 0;
    memcpy(cb->trailingEyeCatcher, GTRACE_EYECATCHER, 7);
    cb->stopCounter = 1;
    __atomic_store_n(&cb->initialized, 1u, __ATOMIC_RELEASE);
    return OSS_OK;
}

OSSErr coverageInitialize(void* memory, GTraceOptions* options) {
    // The size is checked before anything is written.
    if (options->bufferSize < kEntriesAt) return ECF_GTRACE_INVALID_BUFFER_SIZE;
    GTCB* cb = static_cast<GTCB*>(memory);
    // Only a block that was already a trace can have points in flight (fresh memory has none).
    const bool wasTrace = memcmp(cb->eyeCatcher, GTRACE_EYECATCHER, 7) == 0 && cb->initialized;
    __atomic_store_n(&cb->initialized, 0u, __ATOMIC_RELEASE);
    cb->enabled = 0;
    if (wasTrace) letPointsInFlightFinish();
    memcpy(cb->eyeCatcher, GTRACE_EYECATCHER "\0", 8);
    memcpy(static_cast<void*>(&cb->options), options, sizeof(GTraceOptions));
    cb->options.mode = GTRACE_MODE_COVERAGE;
    cb->options.flags &= ~GTRACE_FLAG_COVERAGE_MODE;
    memcpy(cb->trailingEyeCatcher, GTRACE_EYECATCHER "\0", 8);
    cb->padding = 0;
    cb->stopCounter = 0;
    Uint8* area = coverageArea(cb);
    CoverageHeader* head = reinterpret_cast<CoverageHeader*>(area);
    memset(head, 0, sizeof *head);
    head->bucketOffset = kBucketsAt;
    head->bucketEnd = kEntriesAt;
    head->nextFree = options->bufferSize;  // everything up to the end is zeroed below
    resetCoverageArea(cb, true);
    __atomic_store_n(&cb->initialized, 1u, __ATOMIC_RELEASE);
    cb->options.flags |= GTRACE_FLAG_COVERAGE_MODE;
    return OSS_OK;
}

void profileClear(GTCB* cb) {
    memset(profileTable(cb), 0, size_t(profileEntries(cb)) * GTRACE_PROFILE_ENTRY_SIZE);
}

void coverageClear(GTCB* cb) {
    const Uint32 wasEnabled = cb->enabled;
    cb->enabled = 0;
    letPointsInFlightFinish();
    cb->options.flags &= ~GTRACE_FLAG_COVERAGE_MODE;
    resetCoverageArea(cb, false);
    cb->options.flags |= GTRACE_FLAG_COVERAGE_MODE;
    cb->enabled = wasEnabled;
}

void profileAttach() { createStackSlot(); }

void profileEntry(GTCB* cb, Uint32 threadLow, Uint32 f, Uint32 q, Uint64 timestamp) {
    const Uint32 flags = cb->options.flags;
    if ((flags & kProfileFilterFlags) && !preOptions(GTRACE_TYPE_ENTRY, f, 0, threadLow, &timestamp))
        return;
    GTraceProfileEntry* e;
    if (flags & GTRACE_FLAG_PROFILE_TIMING) {
        if (timestamp == 0) timestamp = now();
        ProfileStack* s = threadStack(true);
        const Uint32 key = (flags & GTRACE_FLAG_PROFILE_QUALIFY) ? q : GTRACE_PROFILE_NO_QUALIFIER;
        if (s != nullptr) {
            s->qualifier = key;
            // Past the frame limit the depth still counts, so that exits stay paired.
            if (s->depth < GTRACE_PROFILE_MAX_DEPTH) s->frames[s->depth] = {f, key, timestamp};
            ++s->depth;
        }
        e = profileLookup(cb, f, key);
    } else {
        e = profileLookup(cb, f, (flags & GTRACE_FLAG_PROFILE_QUALIFY) ? q : GTRACE_PROFILE_NO_QUALIFIER);
    }
    if (e != nullptr) ++e->calls;
    else __atomic_fetch_add(&cb->stopCounter, 1u, __ATOMIC_SEQ_CST);  // lost calls
}

void profileExit(GTCB* cb, Uint32 threadLow, Uint32 f, Uint64 timestamp) {
    const Uint32 flags = cb->options.flags;
    if ((flags & kProfileFilterFlags) && !preOptions(GTRACE_TYPE_EXIT, f, 0, threadLow, &timestamp))
        return;
    if (!(flags & GTRACE_FLAG_PROFILE_TIMING)) return;
    ProfileStack* s = threadStack(false);
    if (s == nullptr || s->depth == 0) return;
    if (s->depth > GTRACE_PROFILE_MAX_DEPTH) {
        --s->depth;  // its entry was counted but not stored
        return;
    }
    if (timestamp == 0) timestamp = now();
    // The topmost frame of f only: a recursive call ends its own frame, not its callers'.
    for (Uint32 i = s->depth; i-- > 0;) {
        const ProfileFrame& fr = s->frames[i];
        if (fr.functionId != f) continue;
        if (GTraceProfileEntry* e = profileLookup(cb, f, fr.qualifier))
            e->ticks += timestamp > fr.timestamp ? timestamp - fr.timestamp : 0;
        s->depth = i;
        return;
    }
    --s->depth;
}

void coveragePoint(GTCB* cb, Uint32 f, Uint32 probe, Uint32 type) {
    coverageCount(cb, f, probe, type, false, 0, 0);
}
void coverageExit(GTCB* cb, Uint32 f, Uint32 lo, Uint32 hi) {
    coverageCount(cb, f, 0, GTRACE_TYPE_EXIT, true, lo, hi);
}

}  // namespace gtrace
}  // namespace osse

extern "C" {

OSSErr gctraceValidateTraceType(void) {
    const GTCB* cb = g_pGTCB;
    if (cb == nullptr) return ECF_INVALID_ADDRESS;
    return cb->options.mode == GTRACE_MODE_COVERAGE ? OSS_OK : ECF_INVALID_PARAMETER;
}

OSSErr gctraceGetOffset(GTraceAddressWord* out) {
    GTCB* cb = g_pGTCB;
    if (cb == nullptr) return ECF_INVALID_ADDRESS;
    if (out == nullptr) return ECF_INVALID_PARAMETER;
    *out = static_cast<GTraceAddressWord>(reinterpret_cast<uintptr_t>(coverageArea(cb)));
    return OSS_OK;
}

}  // extern "C"
