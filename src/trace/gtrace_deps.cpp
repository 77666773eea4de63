// TEMPORARY stand-in for the ring buffer, which is being written elsewhere: the same memory
// layout and behaviour as far as the trace code relies on them, until the real one arrives.
#include "trace/gtrace_internal.h"

#include <string.h>

namespace osse {
namespace gtrace {
namespace {

Uint32 (*g_full)(void) = nullptr;

bool validSize(Uint32 s) { return s >= 0x80000u && s <= 0x40000000u && (s & (s - 1)) == 0; }
Uint32 tableSize(Uint32 s) { return ((s / 0x20000u) * 20u + 7u) & ~7u; }

void* toScratch(RingHeader* h, Uint32 seq, RingToken* t) {
    Uint8* slot = reinterpret_cast<Uint8*>(h) + h->scratchOffset;
    t->slot = slot;
    t->chunk = nullptr;
    t->sequence = seq;
    t->slotCount = 1;
    t->firstChunkSlots = 1;
    return slot + 8;
}

}  // namespace

Uint32 ringAllocSize(Uint32 s) { return validSize(s) ? s + tableSize(s) + 0x100u + 0x20018u : 0; }

OSSErr ringInitialize(void* ring, Uint32 s, Uint32 mode) {
    if (!validSize(s)) return ECF_RAMBO_INVALID_BUFFER_SIZE;
    if (ring == nullptr || (mode != 1 && mode != 2 && mode != 4)) return ECF_INVALID_PARAMETER;
    RingHeader* h = static_cast<RingHeader*>(ring);
    memset(h, 0, sizeof *h + tableSize(s) + s);
    h->dataOffset = 0x100u + tableSize(s);
    h->chunkTableOffset = 0x100u;
    h->scratchOffset = h->dataOffset + s;
    h->bufferSize = s;
    h->chunkCount = s / 0x20000u;
    h->slotCount = s / 64u;
    h->wraps = mode != 2;
    h->autoDumpAllowed = h->autoDumpEnabled = mode == 4;
    h->indexMask = mode == 2 ? 2 * h->slotCount - 1 : h->slotCount - 1;
    memcpy(h->eyeCatcher, "RAMBOCB", 8);
    return OSS_OK;
}

OSSErr ringNewSequence(void* ring) {
    RingHeader* h = static_cast<RingHeader*>(ring);
    if (memcmp(h->eyeCatcher, "RAMBOCB", 8) != 0) return ECF_RAMBO_NOT_INITIALIZED;
    if (h->autoDumpAllowed) return ECF_NOT_SUPPORTED;
    if (h->wraps) {
        h->sequenceStart = __atomic_add_fetch(&h->nextSequence, h->slotCount, __ATOMIC_SEQ_CST);
    } else {
        Uint32 cur = h->nextSequence, next;
        do {
            next = (cur & ~h->indexMask) + h->indexMask + 1;
        } while (!__atomic_compare_exchange_n(&h->nextSequence, &cur, next, false,
                                              __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST));
        h->sequenceStart = next;
    }
    return OSS_OK;
}

void ringSetFullCallBack(Uint32 (*callBack)(void)) { g_full = callBack; }

void* ringReserveSlow(void* ring, Uint32 payload, Uint32 k, Uint32 seq, RingToken* t) {
    RingHeader* h = static_cast<RingHeader*>(ring);
    if (payload > 131060u) return toScratch(h, 0, t);
    for (;;) {
        const Uint32 index = seq & h->indexMask;
        if (index + k > h->slotCount) {
            if (!h->wraps) {
                if (g_full) g_full();
                return toScratch(h, seq, t);
            }
            seq = __atomic_fetch_add(&h->nextSequence, k, __ATOMIC_SEQ_CST);
            continue;
        }
        Uint8* slot = reinterpret_cast<Uint8*>(h) + h->dataOffset + (index << 6);
        t->slot = slot;
        t->chunk = nullptr;
        t->sequence = seq;
        t->slotCount = static_cast<Uint16>(k);
        t->firstChunkSlots = static_cast<Uint16>(k);
        return slot + 8;
    }
}

}  // namespace gtrace
}  // namespace osse
