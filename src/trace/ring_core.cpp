// The trace ring's reservation slow paths: linear mode, auto-dump mode and records that would
// run over the end of a circular buffer. Atomics and memory only (see ring_core.h); the one
// thing auto-dump mode needs from the system, whether the registered dumper still runs, comes
// through the host hooks.
#include "trace/ring_core.h"

#include <stdlib.h>

namespace osse {
namespace rambo {
namespace {

bool noDumperCheck(RamboControlBlock*) { return true; }
void noYield() {}
void** noThreadWord() { return nullptr; }

Host g_host = {noDumperCheck, noYield, noThreadWord};

}  // namespace

RamboFullBufferCallBack g_fullBufferCallBack = nullptr;

void setHost(const Host& host) { g_host = host; }

Uint32 chunkTableSize(Uint32 size) {
    return ((size / RAMBO_CHUNK_SIZE) * RAMBO_CHUNK_DESC_SIZE + 7u) & ~7u;
}

bool formatRing(RamboControlBlock* cb, Uint32 bufferSize, Uint32 mode) {
    const Uint32 tableSize = chunkTableSize(bufferSize);
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
        return false;
    }
    // A ring that wraps can be lapped: its records are sealed. A linear one never reuses a slot
    // within a sequence and keeps the plain format.
    const Uint32 format = cb->wraps ? RAMBO_FORMAT_SEALED : RAMBO_FORMAT_PLAIN;
    memcpy(at(cb, RAMBO_FORMAT_OFFSET), &format, 4);
    memset(at(cb, RAMBO_LAPPED_DROPS_OFFSET), 0, 4);

    Uint8* table = at(cb, RAMBO_HEADER_SIZE);
    memset(table, 0, tableSize);
    RamboChunk* chunks = reinterpret_cast<RamboChunk*>(table);
    for (Uint32 i = 0; i < chunkCount; ++i) {
        memcpy(chunks[i].eyeCatcher, RAMBO_CHUNK_EYECATCHER, 8);
        chunks[i].filled = 0;
        chunks[i].lap = 0;
        chunks[i].index = i;
    }
    memcpy(cb->eyeCatcher, RAMBO_CB_EYECATCHER, 8);
    return true;
}

namespace {

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

inline volatile Uint32* dumperPid(RamboControlBlock* cb) {
    return reinterpret_cast<volatile Uint32*>(at(cb, RAMBO_DUMPER_PID_OFFSET));
}
inline volatile Uint32* undrainedSlots(RamboControlBlock* cb) {
    return reinterpret_cast<volatile Uint32*>(at(cb, RAMBO_UNDRAINED_SLOTS_OFFSET));
}

// A writer of `lap` may write its `slots` into `chunk` once the dumper has moved the chunk to
// that lap. It goes on at once while auto-dump is off or no dumper is registered, and when the
// registered one ended without switching auto-dump off (checked now and then while waiting):
// the slots then go over a chunk no dumper drained, and are counted. No lock is taken here: a
// tool killed while holding the ring's lock must not stop the writers.
void waitForLap(RamboControlBlock* cb, RamboChunk* chunk, Uint32 lap, Uint32 slots,
                const LapGeometry& g) {
    Uint32 spins = 0;
    while (load8(&cb->autoDumpEnabled) != 0 && ((load32(&chunk->lap) ^ lap) & g.mask) != 0) {
        if (load32(dumperPid(cb)) == 0 || ((++spins & 0x3FFu) == 0 && !g_host.dumperRuns(cb))) {
            fetchAdd32(undrainedSlots(cb), slots);
            return;
        }
        g_host.yield();
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
    // scratch area, whose contents are discarded. Its sequence is the current one, so that the
    // lap check at publication does not count it as a lapped record.
    return toScratch(cb, load32(&cb->nextSequence), token);
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

namespace {

// The caller's memory of a staged record: a slot header's room, then the payload area. Small
// records, the common case, all take the same size, so that one kept for the thread serves any.
// It starts zeroed, so that no bytes of this process's heap go into the shared ring; what a
// caller leaves unwritten of a later record holds an earlier record's bytes, as a slot filled
// in place would.
constexpr size_t kKeptBytes = RAMBO_SLOT_HEADER_SIZE + payloadWords(kKeptSlots) * 4;

Uint8* takeStage(Uint32 k) {
    if (k <= kKeptSlots) {
        void** kept = g_host.threadWord();
        if (kept != nullptr && *kept != nullptr) {
            // Taken out: a reservation made before this one is published gets memory of its own.
            Uint8* stage = static_cast<Uint8*>(*kept);
            *kept = nullptr;
            return stage;
        }
        return static_cast<Uint8*>(calloc(1, kKeptBytes));
    }
    return static_cast<Uint8*>(calloc(1, RAMBO_SLOT_HEADER_SIZE + payloadWords(k) * 4));
}

void giveStage(Uint8* stage, Uint32 k) {
    void** kept = k <= kKeptSlots ? g_host.threadWord() : nullptr;
    if (kept != nullptr && *kept == nullptr) {
        *kept = stage;
    } else {
        free(stage);
    }
}

// Whether the token's slot is the caller's memory rather than the ring's: on a sealed ring
// every reservation of a record lies in the data area, and only an oversized payload is given
// the scratch area.
bool staged(RamboControlBlock* cb, const RamboReservation* token) {
    const Uint8* slot = static_cast<const Uint8*>(token->slot);
    const Uint8* data = dataArea(cb);
    return isSealed(cb) && slot != scratchArea(cb) &&
           (slot < data || slot >= data + (size_t(cb->slotCount) << kSlotShift));
}

}  // namespace

void* reserveStaged(RamboControlBlock* cb, Uint32 payload, RamboReservation* token) {
    void* inPlace = reserve(cb, payload, token);
    if (!isSealed(cb) || payload > RAMBO_MAX_PAYLOAD) return inPlace;
    const Uint32 k = token->slotCount;
    Uint8* stage = takeStage(k);
    if (stage == nullptr) return inPlace;
    token->slot = stage;
    return stage + RAMBO_SLOT_HEADER_SIZE;
}

bool syncStaged(RamboControlBlock* cb, RamboReservation* token) {
    if (!staged(cb, token)) return sync(cb, token);
    Uint8* stage = static_cast<Uint8*>(token->slot);
    const Uint32 k = token->slotCount;
    // Sealed rings wrap, and a wrapping ring's record never runs over the end of its buffer.
    token->slot = dataArea(cb) + ((token->sequence & cb->indexMask) << kSlotShift);
    const bool published = publishArea(cb, token, stage + RAMBO_SLOT_HEADER_SIZE);
    giveStage(stage, k);
    return published;
}

void freeKeptStage() {
    if (void** kept = g_host.threadWord()) {
        free(*kept);
        *kept = nullptr;
    }
}

}  // namespace rambo
}  // namespace osse
