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

// The process that placed a chunk walker (the dumper) is kept in the first reserved word of
// the header, so that waiting writers can tell a dumper that died from a slow one.
constexpr size_t kDumperPidOffset = offsetof(RamboControlBlock, reserved1);
static_assert(kDumperPidOffset == 0x0C, "dumper process id in the reserved bytes");
inline volatile Uint32* dumperPid(RamboControlBlock* cb) {
    return reinterpret_cast<volatile Uint32*>(reinterpret_cast<Uint8*>(cb) + kDumperPidOffset);
}

// True when the dumper's process is known to have ended.
bool dumperGone(RamboControlBlock* cb) {
    const Uint32 pid = load32(dumperPid(cb));
    if (pid == 0 || pid == GetCurrentProcessId()) return false;
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (h == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
    const bool ended = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    CloseHandle(h);
    return ended;
}

// A writer of `lap` may write into `chunk` once the dumper has moved the chunk to that lap, or
// at once while auto-dump is off. A dumper killed without switching auto-dump off would leave
// every writer waiting for ever: now and then the waiter checks that the dumper still runs, and
// switches auto-dump off for everyone when it does not.
void waitForLap(RamboControlBlock* cb, RamboChunk* chunk, Uint32 lap, const LapGeometry& g) {
    Uint32 spins = 0;
    while (load8(&cb->autoDumpEnabled) != 0 && ((load32(&chunk->lap) ^ lap) & g.mask) != 0) {
        yieldWhileWaiting();
        if ((++spins & 0x3FFu) == 0 && dumperGone(cb)) {
            store32(dumperPid(cb), 0);
            ramboAutoDumpEnabled(cb, false);
        }
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
            waitForLap(cb, last, lap, g);
            memset(data + (index << kSlotShift), 0, head << kSlotShift);
            if (load8(&cb->autoDumpEnabled)) fetchAdd32(&last->filled, head);
            waitForLap(cb, &chunks[0], lap + 1, g);
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
        waitForLap(cb, chunk, lap, g);
        const Uint32 rest = RAMBO_SLOTS_PER_CHUNK - (index & (RAMBO_SLOTS_PER_CHUNK - 1));
        if (rest < k) {
            token->firstChunkSlots = static_cast<Uint16>(rest);
            waitForLap(cb, chunk + 1, lap, g);
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
    cb->lock.acquire();
    store8(&cb->autoDumpEnabled, enabled ? 1 : 0);
    cb->lock.release();
    return OSS_OK;
}

OSSErr ramboInitializeChunkWalker(RamboControlBlock* cb, RamboChunkWalker* walker) {
    if (OSSErr rc = checkBlock(cb)) return rc;
    if (!cb->autoDumpAllowed) return ECF_RAMBO_AUTO_DUMP_NOT_ALLOWED;
    if (walker == nullptr) return ECF_INVALID_PARAMETER;
    store32(dumperPid(cb), GetCurrentProcessId());
    walker->controlBlock = cb;
    walker->chunk0 = chunkTable(cb);
    walker->chunkNumber = 0;
    walker->slot0 = dataArea(cb);
    return OSS_OK;
}

}  // extern "C"
