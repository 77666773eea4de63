// Trace ring buffer: formatting, reservation slow paths, publication, sequences and the
// auto-dump switches.
#include "trace/rambo_internal.h"

#include <string.h>

#include <windows.h>

namespace osse {
namespace rambo {
namespace {

const char kCbEye[8] = RAMBO_CB_EYECATCHER;
const char kChunkEye[8] = RAMBO_CHUNK_EYECATCHER;

// The process-wide full-buffer callback of linear mode.
RamboFullBufferCallBack g_fullBufferCallBack = nullptr;

bool validBufferSize(Uint32 size) {
    return size >= RAMBO_MIN_BUFFER_SIZE && size <= RAMBO_MAX_BUFFER_SIZE &&
           (size & (size - 1)) == 0;
}

// Size of the chunk descriptor table, rounded up to a multiple of 8.
Uint32 chunkTableSize(Uint32 size) {
    return ((size / RAMBO_CHUNK_SIZE) * RAMBO_CHUNK_DESC_SIZE + 7u) & ~7u;
}

// Null block, then the eye-catcher.
OSSErr checkBlock(const RamboControlBlock* cb) {
    if (cb == nullptr) return ECF_INVALID_PARAMETER;
    if (memcmp(cb->eyeCatcher, kCbEye, sizeof kCbEye) != 0) return ECF_RAMBO_NOT_INITIALIZED;
    return OSS_OK;
}

// Laps are sequence / N; the 32-bit sequence wraps after 2^32 / N laps while a chunk's lap
// counter simply keeps counting, so laps are compared modulo 2^32 / N. Otherwise the first wrap
// of the sequence would leave every writer waiting for a lap that never comes.
struct LapGeometry {
    Uint32 shift;  // log2 N
    Uint32 mask;   // 2^32 / N - 1
    explicit LapGeometry(const RamboControlBlock* cb)
        : shift(static_cast<Uint32>(__builtin_ctz(cb->slotCount))), mask(0xFFFFFFFFu >> shift) {}
    Uint32 lapOf(Uint32 seq) const { return seq >> shift; }
};

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
inline Uint8* at(RamboControlBlock* cb, size_t offset) { return reinterpret_cast<Uint8*>(cb) + offset; }
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

// A writer of `lap` may write its `slots` into `chunk` once the dumper has moved the chunk to
// that lap. It goes on at once while auto-dump is off or no dumper is registered, and when the
// registered one ended without switching auto-dump off (checked now and then while waiting):
// the slots then go over a chunk no dumper drained, and are counted. No lock is taken here: a
// tool killed while holding the ring's lock must not stop the writers.
void waitForLap(RamboControlBlock* cb, RamboChunk* chunk, Uint32 lap, Uint32 slots, const LapGeometry& g) {
    Uint32 spins = 0;
    while (load8(&cb->autoDumpEnabled) != 0 && ((load32(&chunk->lap) ^ lap) & g.mask) != 0) {
        if (load32(dumperPid(cb)) == 0 || ((++spins & 0x3FFu) == 0 && !dumperRuns(cb))) {
            fetchAdd32(undrainedSlots(cb), slots);
            return;
        }
        yieldWhileWaiting();
    }
}

void* toScratch(RamboControlBlock* cb, Uint32 seq, RamboReservation* token) {
    Uint8* slot = scratchArea(cb);
    token->slot = slot;
    token->chunk = nullptr;
    token->sequence = seq;
    token->slotCount = 1;
    token->firstChunkSlots = 1;
    return slot + RAMBO_SLOT_HEADER_SIZE;
}

// Makes the chunks agree with where the writers stand, so that a dumper can start at any time,
// also after an earlier one ended and the writers went on without it, and registers the calling
// process as the dumper. Returns the chunk the dumper starts at: the one the writers are in.
// The writers' lap is L: the chunks from theirs on are written in lap L, the ones before it in
// lap L + 1. Fill counts restart from 0 (the slots already handed out in the writers' chunk are
// added), so a count can only come out high, never short of what the dumper waits for.
Uint32 resynchronise(RamboControlBlock* cb) {
    store32(dumperPid(cb), 0);  // writers do not wait while the chunks change
    const LapGeometry g(cb);
    RamboChunk* chunks = chunkTable(cb);
    const Uint32 count = cb->chunkCount;
    for (Uint32 i = 0; i < count; ++i) store32(&chunks[i].filled, 0);
    const Uint32 seq = load32(&cb->nextSequence);
    const Uint32 index = seq & cb->indexMask;
    const Uint32 lap = g.lapOf(seq);
    const Uint32 current = index >> kChunkSlotShift;
    for (Uint32 i = 0; i < count; ++i) store32(&chunks[i].lap, i < current ? lap + 1 : lap);
    fetchAdd32(&chunks[current].filled, index & (RAMBO_SLOTS_PER_CHUNK - 1));
    __atomic_store_n(dumperStart(cb), startTimeOf(GetCurrentProcess()), __ATOMIC_RELEASE);
    store32(dumperPid(cb), GetCurrentProcessId());
    return current;
}

}  // namespace

void* reserveOversize(RamboControlBlock* cb, RamboReservation* token) {
    // No record can be that large: nothing is taken from the buffer, and the writer gets the
    // scratch area, whose contents are discarded.
    return toScratch(cb, 0, token);
}

void* reserveSlow(RamboControlBlock* cb, Uint32 k, Uint32 seq, RamboReservation* token) {
    const Uint32 n = cb->slotCount;
    const Uint32 mask = cb->indexMask;
    Uint8* const data = dataArea(cb);
    for (;;) {
        const Uint32 index = seq & mask;
        if (cb->wraps == 0) {
            // Linear: the buffer holds the sequences of one 2N window starting at the sequence
            // start; indices N .. 2N - 1 of that window are beyond the end. A sequence outside
            // the window (the counter ran a whole window past a full buffer, or a new sequence
            // is being started right now) must not overwrite the buffer either.
            const bool inWindow = ((seq ^ load32(&cb->sequenceStart)) & ~mask) == 0;
            if (inWindow && index + k <= n) break;
            if (inWindow) {
                RamboFullBufferCallBack callBack =
                    __atomic_load_n(&g_fullBufferCallBack, __ATOMIC_ACQUIRE);
                if (callBack != nullptr) callBack();
            }
            return toScratch(cb, seq, token);
        }
        if (index + k <= n) break;
        // The record would run over the end of the buffer: give its slots up and take new ones.
        if (cb->autoDumpAllowed) {
            // The abandoned slots still belong to a lap of their chunks: clear them so that no
            // old record shows through, and count them so that the dumper sees the chunks fill.
            const LapGeometry g(cb);
            RamboChunk* chunks = chunkTable(cb);
            const Uint32 head = n - index;
            const Uint32 tail = k - head;
            const Uint32 lap = g.lapOf(seq);
            RamboChunk* last = &chunks[index >> kChunkSlotShift];
            waitForLap(cb, last, lap, head, g);
            memset(data + (index << kSlotShift), 0, head << kSlotShift);
            if (load8(&cb->autoDumpEnabled)) fetchAdd32(&last->filled, head);
            waitForLap(cb, &chunks[0], lap + 1, tail, g);
            memset(data, 0, tail << kSlotShift);
            if (load8(&cb->autoDumpEnabled)) fetchAdd32(&chunks[0].filled, tail);
        }
        seq = fetchAdd32(&cb->nextSequence, k);
    }

    const Uint32 index = seq & mask;
    Uint8* slot = data + (index << kSlotShift);
    token->slot = slot;
    token->chunk = nullptr;
    token->sequence = seq;
    token->slotCount = static_cast<Uint16>(k);
    token->firstChunkSlots = static_cast<Uint16>(k);
    if (cb->autoDumpAllowed) {
        const LapGeometry g(cb);
        const Uint32 lap = g.lapOf(seq);
        RamboChunk* chunk = &chunkTable(cb)[index >> kChunkSlotShift];
        token->chunk = chunk;
        const Uint32 rest = RAMBO_SLOTS_PER_CHUNK - (index & (RAMBO_SLOTS_PER_CHUNK - 1));
        waitForLap(cb, chunk, lap, rest < k ? rest : k, g);
        if (rest < k) {
            token->firstChunkSlots = static_cast<Uint16>(rest);
            waitForLap(cb, chunk + 1, lap, k - rest, g);
        }
    }
    return slot + RAMBO_SLOT_HEADER_SIZE;
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

    const Uint32 chunkCount = bufferSize / RAMBO_CHUNK_SIZE;
    cb->nextSequence = 0;
    cb->sequenceStart = 0;
    cb->dataOffset = RAMBO_HEADER_SIZE + tableSize;
    cb->chunkTableOffset = RAMBO_HEADER_SIZE;
    cb->bufferSize = bufferSize;
    memset(dataArea(cb), 0, bufferSize);
    cb->chunkCount = chunkCount;
    cb->scratchOffset = RAMBO_HEADER_SIZE + tableSize + bufferSize;
    cb->slotCount = bufferSize / RAMBO_SLOT_SIZE;

    switch (mode) {
    case RAMBO_MODE_CIRCULAR:
        cb->wraps = 1;
        cb->autoDumpAllowed = 0;
        cb->autoDumpEnabled = 0;
        cb->indexMask = cb->slotCount - 1;
        break;
    case RAMBO_MODE_LINEAR:
        cb->wraps = 0;
        cb->autoDumpAllowed = 0;
        cb->autoDumpEnabled = 0;
        cb->indexMask = 2 * cb->slotCount - 1;
        break;
    case RAMBO_MODE_AUTODUMP:
        cb->wraps = 1;
        cb->autoDumpAllowed = 1;
        cb->autoDumpEnabled = 1;
        cb->indexMask = cb->slotCount - 1;
        break;
    default:
        // The eye-catcher stays unwritten: the block is unusable.
        cb->lock.release();
        return ECF_INVALID_PARAMETER;
    }

    Uint8* table = reinterpret_cast<Uint8*>(cb) + RAMBO_HEADER_SIZE;
    memset(table, 0, tableSize);
    RamboChunk* chunks = reinterpret_cast<RamboChunk*>(table);
    for (Uint32 i = 0; i < chunkCount; ++i) {
        memcpy(chunks[i].eyeCatcher, kChunkEye, sizeof kChunkEye);
        chunks[i].filled = 0;
        chunks[i].lap = 0;
        chunks[i].index = i;
    }
    memcpy(cb->eyeCatcher, kCbEye, sizeof kCbEye);
    cb->lock.release();
    return OSS_OK;
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
    return reserve(cb, RAMBO_ONE_SLOT_PAYLOAD, token);
}

void* ramboReserveSlots(RamboControlBlock* cb, Uint32 payloadBytes, RamboReservation* token) {
    return reserve(cb, payloadBytes, token);
}

void ramboSync(RamboControlBlock* cb, RamboReservation* token) {
    if (cb == nullptr || token == nullptr) return;
    sync(cb, token);
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
