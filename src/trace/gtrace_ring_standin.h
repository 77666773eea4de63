// TEMPORARY stand-in for the ring buffer, which is being written elsewhere: the same memory
// layout and behaviour as far as the trace code relies on them, until the real one arrives.
#ifndef OSSE_TRACE_GTRACE_RING_STANDIN_H
#define OSSE_TRACE_GTRACE_RING_STANDIN_H

#include "osse/base.h"

namespace osse {
namespace gtrace {

struct RingHeader {
    volatile Uint32 nextSequence;
    char eyeCatcher[8];
    Uint8 reserved1[116];
    volatile Uint8 lock;
    Uint8 reserved2[3];
    volatile Uint32 sequenceStart;
    Uint32 indexMask, dataOffset, chunkTableOffset, scratchOffset, bufferSize, chunkCount,
        slotCount;
    Uint8 wraps, autoDumpAllowed, autoDumpEnabled;
    Uint8 reserved3[89];
};
static_assert(sizeof(RingHeader) == 256, "ring header");

// Held by a writer between reservation and publication.
struct RingToken {
    void*  slot;
    void*  chunk;
    Uint32 sequence;
    Uint16 slotCount;
    Uint16 firstChunkSlots;
};

Uint32 ringAllocSize(Uint32 bufferSize);
OSSErr ringInitialize(void* ring, Uint32 bufferSize, Uint32 mode);
OSSErr ringNewSequence(void* ring);
void ringSetFullCallBack(Uint32 (*callBack)(void));
void* ringReserveSlow(void* ring, Uint32 payload, Uint32 k, Uint32 seq, RingToken* token);

// Writable payload of `payload` bytes; never fails.
inline void* ringReserve(void* ring, Uint32 payload, RingToken* t) {
    RingHeader* h = static_cast<RingHeader*>(ring);
    const Uint32 k = (payload + 12u + 63u) >> 6;
    const Uint32 seq = __atomic_fetch_add(&h->nextSequence, k, __ATOMIC_SEQ_CST);
    const Uint32 index = seq & h->indexMask;
    if (__builtin_expect(payload > 131060u || index + k > h->slotCount, 0)) {
        return ringReserveSlow(ring, payload, k, seq, t);
    }
    Uint8* slot = reinterpret_cast<Uint8*>(h) + h->dataOffset + (index << 6);
    t->slot = slot;
    t->chunk = nullptr;
    t->sequence = seq;
    t->slotCount = static_cast<Uint16>(k);
    t->firstChunkSlots = static_cast<Uint16>(k);
    return slot + 8;
}

inline void ringSync(void*, RingToken* t) {
    Uint8* slot = static_cast<Uint8*>(t->slot);
    __atomic_store_n(reinterpret_cast<Uint32*>(slot + (t->slotCount << 6) - 4), ~t->sequence,
                     __ATOMIC_RELEASE);
    __atomic_store_n(reinterpret_cast<Uint32*>(slot), t->sequence, __ATOMIC_RELEASE);
    __atomic_store_n(reinterpret_cast<Uint32*>(slot + 4), 0xCAFEu | (Uint32(t->slotCount) << 16),
                     __ATOMIC_RELEASE);
}

}  // namespace gtrace
}  // namespace osse

#endif
