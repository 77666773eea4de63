// Inside view of the trace ring buffer: the inline reservation and publication used by the
// trace writers of this library, the out-of-line slow paths behind them, and the atomic
// operations they use (kept inline: reservation is the hot path of every trace point).
#ifndef OSSE_TRACE_RAMBO_INTERNAL_H
#define OSSE_TRACE_RAMBO_INTERNAL_H

#include "osse/ecf.h"
#include "osse/rambo.h"
#include "osse/tick.h"

namespace osse {
namespace rambo {

constexpr Uint32 kSlotShift = 6;    // 64-byte slots
constexpr Uint32 kChunkSlotShift = 11;  // 2048 slots per chunk
static_assert((1u << kSlotShift) == RAMBO_SLOT_SIZE, "slot size");
static_assert((1u << kChunkSlotShift) == RAMBO_SLOTS_PER_CHUNK, "chunk size");
static_assert(RAMBO_SLOTS_PER_CHUNK * RAMBO_SLOT_SIZE == RAMBO_CHUNK_SIZE, "chunk size");
static_assert(RAMBO_MAX_PAYLOAD + RAMBO_SLOT_HEADER_SIZE + RAMBO_SLOT_TRAILER_SIZE ==
                  RAMBO_MAX_RECORD_SLOTS * RAMBO_SLOT_SIZE, "largest record");
static_assert(RAMBO_MAX_RECORD_SLOTS * RAMBO_SLOT_SIZE <= RAMBO_SCRATCH_SIZE,
              "the scratch area holds the largest record");

// Full-barrier read-modify-write operations, as the processor's locked instructions give them.
inline Uint32 fetchAdd32(volatile Uint32* p, Uint32 v) {
    return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST);
}
inline Uint32 compareSwap32(volatile Uint32* p, Uint32 newValue, Uint32 expected) {
    __atomic_compare_exchange_n(p, &expected, newValue, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return expected;  // previous value either way
}
inline Uint32 load32(const volatile Uint32* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
inline Uint8 load8(const volatile Uint8* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
inline void store32(volatile Uint32* p, Uint32 v) { __atomic_store_n(p, v, __ATOMIC_RELEASE); }
inline void store8(volatile Uint8* p, Uint8 v) { __atomic_store_n(p, v, __ATOMIC_RELEASE); }


// Gives up the processor while a writer waits for its chunk to be drained (through the host's
// yield callbacks).
inline void yieldWhileWaiting() { ossYield(); }

inline Uint8* dataArea(RamboControlBlock* cb) {
    return reinterpret_cast<Uint8*>(cb) + cb->dataOffset;
}
inline RamboChunk* chunkTable(RamboControlBlock* cb) {
    return reinterpret_cast<RamboChunk*>(reinterpret_cast<Uint8*>(cb) + cb->chunkTableOffset);
}
inline Uint8* scratchArea(RamboControlBlock* cb) {
    return reinterpret_cast<Uint8*>(cb) + cb->scratchOffset;
}
// Slots needed by a record of `payload` bytes (payload at most RAMBO_MAX_PAYLOAD).
constexpr Uint32 slotsFor(Uint32 payload) {
    return (payload + RAMBO_SLOT_HEADER_SIZE + RAMBO_SLOT_TRAILER_SIZE + RAMBO_SLOT_SIZE - 1) >>
           kSlotShift;
}

// Everything but the plain circular buffer without straddle: linear mode, auto-dump mode and
// records that would run over the end of the buffer. `seq` was handed out for k slots already.
void* reserveSlow(RamboControlBlock* cb, Uint32 k, Uint32 seq, RamboReservation* token);
// A payload too large for any record.
void* reserveOversize(RamboControlBlock* cb, RamboReservation* token);

// Reservation: one atomic fetch-and-add hands out the slots. The common case (a circular buffer
// without auto-dump, record not crossing the end) finishes here without any further shared write.
inline void* reserve(RamboControlBlock* cb, Uint32 payload, RamboReservation* token) {
    if (payload > RAMBO_MAX_PAYLOAD) return reserveOversize(cb, token);
    const Uint32 k = slotsFor(payload);
    const Uint32 seq = fetchAdd32(&cb->nextSequence, k);
    const Uint32 index = seq & cb->indexMask;
    if (__builtin_expect(cb->wraps == 1 && cb->autoDumpAllowed == 0 &&
                             index + k <= cb->slotCount, 1)) {
        Uint8* slot = dataArea(cb) + (index << kSlotShift);
        token->slot = slot;
        token->chunk = nullptr;
        token->sequence = seq;
        token->slotCount = static_cast<Uint16>(k);
        token->firstChunkSlots = static_cast<Uint16>(k);
        return slot + RAMBO_SLOT_HEADER_SIZE;
    }
    return reserveSlow(cb, k, seq, token);
}

// Publication: trailer and sequence, then the marker word that makes the record recognisable,
// then the chunk fill counts of auto-dump mode.
inline void sync(RamboControlBlock* cb, RamboReservation* token) {
    Uint8* slot = static_cast<Uint8*>(token->slot);
    const Uint32 seq = token->sequence;
    const Uint32 k = token->slotCount;
    __atomic_store_n(reinterpret_cast<Uint32*>(slot + (k << kSlotShift) - RAMBO_SLOT_TRAILER_SIZE),
                     ~seq, __ATOMIC_RELEASE);
    __atomic_store_n(reinterpret_cast<Uint32*>(slot), seq, __ATOMIC_RELEASE);
    __atomic_store_n(reinterpret_cast<Uint32*>(slot + 4), RAMBO_SLOT_MARKER | (k << 16),
                     __ATOMIC_RELEASE);
    RamboChunk* chunk = token->chunk;
    if (chunk != nullptr && cb->autoDumpAllowed && load8(&cb->autoDumpEnabled)) {
        const Uint32 first = token->firstChunkSlots;
        fetchAdd32(&chunk->filled, first);
        if (k > first) fetchAdd32(&chunk[1].filled, k - first);
    }
}

}  // namespace rambo
}  // namespace osse

#endif
