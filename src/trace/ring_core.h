// The trace ring's reservation and publication, and the test every reader applies to a record.
// Atomics and memory only: no Windows header may come in here, so that the same code runs in
// the library and in a native build on ordinary memory (thread sanitizer, fuzzing).
//
// Sealed records. A writer that was descheduled between its reservation and its stores for
// longer than the ring takes to come round again stores over slots that a writer of a later lap
// has published meanwhile. The header and trailer of that newer record may survive while its
// payload does not, so "marker, slot count and trailer agree" cannot tell such a record from a
// whole one. Wrapping rings are therefore formatted as sealed (RAMBO_FORMAT_SEALED in the control
// block, and in the head of every dump taken from it): the trailer is the complement of the
// sequence XORed with a 32-bit seal of the payload area (all 64 k - 12 bytes, slot count mixed
// in). A reader recomputes the seal; any store into the record after the seal was taken makes it
// a missing record, counted with the other lost slots. Rings and dumps of the plain format keep
// the plain trailer and are read as before. A reader that does not know the sealed format finds
// no trailer that matches and so returns no record of a sealed ring: it loses them, it is never
// handed a damaged one.
//
// Besides, a writer that can see that the ring has come round past its reservation (the next
// sequence is more than N ahead of its own) drops its record instead of publishing it, and
// counts the drop in the control block. The check is one plain load of the next-sequence word;
// nothing waits and nothing is locked. A writer descheduled between that check and its stores
// can still store over newer bytes: the seal is what makes that harmless.
#ifndef OSSE_TRACE_RING_CORE_H
#define OSSE_TRACE_RING_CORE_H

#include "osse/rambo.h"

#include <string.h>

namespace osse {
namespace rambo {

constexpr Uint32 kSlotShift = 6;        // 64-byte slots
constexpr Uint32 kChunkSlotShift = 11;  // 2048 slots per chunk
static_assert((1u << kSlotShift) == RAMBO_SLOT_SIZE, "slot size");
static_assert((1u << kChunkSlotShift) == RAMBO_SLOTS_PER_CHUNK, "chunk size");
static_assert(RAMBO_SLOTS_PER_CHUNK * RAMBO_SLOT_SIZE == RAMBO_CHUNK_SIZE, "chunk size");
static_assert(RAMBO_MAX_PAYLOAD + RAMBO_SLOT_HEADER_SIZE + RAMBO_SLOT_TRAILER_SIZE ==
                  RAMBO_MAX_RECORD_SLOTS * RAMBO_SLOT_SIZE, "largest record");
static_assert(RAMBO_MAX_RECORD_SLOTS * RAMBO_SLOT_SIZE <= RAMBO_SCRATCH_SIZE,
              "the scratch area holds the largest record");
static_assert(RAMBO_FORMAT_OFFSET >= RAMBO_UNDRAINED_SLOTS_OFFSET + 4 &&
                  RAMBO_LAPPED_DROPS_OFFSET >= RAMBO_FORMAT_OFFSET + 4 &&
                  RAMBO_LAPPED_DROPS_OFFSET + 4 <= offsetof(RamboControlBlock, lock),
              "format and drop count in the reserved bytes of the header");

// ---- Atomics --------------------------------------------------------------------------------
// Read-modify-write operations are sequentially consistent, as the processor's locked
// instructions give them on x86. Plain loads and stores of the shared words are acquire and
// release: a reader that sees a word also sees what its writer stored before it.
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

// ---- Geometry -------------------------------------------------------------------------------
inline Uint8* at(RamboControlBlock* cb, size_t offset) {
    return reinterpret_cast<Uint8*>(cb) + offset;
}
inline Uint8* dataArea(RamboControlBlock* cb) { return at(cb, cb->dataOffset); }
inline RamboChunk* chunkTable(RamboControlBlock* cb) {
    return reinterpret_cast<RamboChunk*>(at(cb, cb->chunkTableOffset));
}
inline Uint8* scratchArea(RamboControlBlock* cb) { return at(cb, cb->scratchOffset); }
inline volatile Uint32* formatWord(RamboControlBlock* cb) {
    return reinterpret_cast<volatile Uint32*>(at(cb, RAMBO_FORMAT_OFFSET));
}
inline volatile Uint32* lappedDrops(RamboControlBlock* cb) {
    return reinterpret_cast<volatile Uint32*>(at(cb, RAMBO_LAPPED_DROPS_OFFSET));
}
// The format is written once, before the eye-catcher, and never changes: a plain read.
inline bool isSealed(const RamboControlBlock* cb) {
    Uint32 f;
    memcpy(&f, reinterpret_cast<const Uint8*>(cb) + RAMBO_FORMAT_OFFSET, 4);
    return f == RAMBO_FORMAT_SEALED;
}

// Slots needed by a record of `payload` bytes (payload at most RAMBO_MAX_PAYLOAD).
constexpr Uint32 slotsFor(Uint32 payload) {
    return (payload + RAMBO_SLOT_HEADER_SIZE + RAMBO_SLOT_TRAILER_SIZE + RAMBO_SLOT_SIZE - 1) >>
           kSlotShift;
}
// 32-bit words of the payload area of a k-slot record (64 k - 12 bytes).
constexpr Uint32 payloadWords(Uint32 k) { return (k << 4) - 3; }

// ---- The seal -------------------------------------------------------------------------------
// The payload area is taken as 64-bit values (two words each, the last one half), and the seal
// is the sum of each value times a multiplier of its own position (all odd, so that a change of
// one value always changes the sum), folded to 32 bits; the slot count is mixed in. The products
// are independent of each other: a one-slot record's seven take about ten cycles of latency,
// and the writer computes them from its own words while the reservation's locked add is under
// way. Two different payloads give the same seal only when their differences cancel over the
// multipliers, about once in 2^32 for unrelated contents. The sequence is not mixed in (it is
// known only after the locked add): the trailer ties the two together.
constexpr Uint64 kSealMul = 0x9E3779B97F4A7C15ull;   // odd
constexpr Uint64 kSealStep = 0xD6E8FEB86659FD92ull;  // even: every multiplier stays odd
constexpr Uint64 kSealSlots = 0xC2B2AE3D27D4EB4Full;

// The term of the 64-bit value j (words 2j and 2j + 1), for writers that seal a record from
// the words they hold in registers.
constexpr Uint64 sealMulOf(Uint32 j) { return kSealMul + j * kSealStep; }
inline Uint64 sealTerm(Uint32 j, Uint32 low, Uint32 high) {
    return (low | (Uint64(high) << 32)) * sealMulOf(j);
}

inline Uint32 foldSeal(Uint64 sum, Uint32 k) {
    sum += k * kSealSlots;
    return static_cast<Uint32>(sum >> 32) ^ static_cast<Uint32>(sum);
}

// Streaming form, for a payload stored piece by piece (words and bytes in payload order).
struct Sealer {
    Uint64 sum = 0;
    Uint64 mul = kSealMul;    // multiplier of the next 64-bit value
    Uint32 k;
    Uint32 words = 0;         // whole words taken
    Uint32 low = 0;           // first word of an unfinished value
    Uint32 pending = 0;       // bytes of an unfinished word, little-endian
    Uint32 pendingBytes = 0;

    explicit Sealer(Uint32 slots) : k(slots) {}

    void word(Uint32 w) {
        if ((words & 1) == 0) {
            low = w;
        } else {
            sum += (low | (Uint64(w) << 32)) * mul;
            mul += kSealStep;
        }
        ++words;
    }
    // Whole words from memory (n words at p, any alignment).
    void wordsAt(const Uint8* p, Uint32 n) {
        for (Uint32 i = 0; i < n; ++i) {
            Uint32 w;
            memcpy(&w, p + 4 * i, 4);
            word(w);
        }
    }
    // Bytes in payload order, words formed across calls.
    void bytes(const Uint8* p, Uint32 n) {
        while (pendingBytes != 0 && n != 0) {
            pending |= Uint32(*p++) << (8 * pendingBytes);
            --n;
            if (++pendingBytes == 4) {
                word(pending);
                pending = pendingBytes = 0;
            }
        }
        if (n == 0) return;
        const Uint32 whole = n / 4;
        wordsAt(p, whole);
        p += 4 * whole;
        n -= 4 * whole;
        for (Uint32 i = 0; i < n; ++i) pending |= Uint32(p[i]) << (8 * i);
        pendingBytes = n;
    }
    // Zero bytes up to `total` words (the rest of the payload area, which the writer zeroed).
    void zerosTo(Uint32 total) {
        if (pendingBytes != 0) {
            word(pending);
            pending = pendingBytes = 0;
        }
        while (words < total && (words & 1) != 0) word(0);
        // Whole zero values add nothing: only the multiplier moves on.
        words = words < total ? total - (total & 1) : words;
        if (words < total) word(0);
    }
    Uint32 value() const {
        Uint64 s = sum;
        if (words & 1) s += Uint64(low) * mul;  // the last value's high half is not part of the area
        return foldSeal(s, k);
    }
};

// The seal in one pass over the area, as readers and copying writers take it. With the
// multipliers M + j S, the sum of v_j (M + j S) is M A + S B, where A is the sum of the values
// and B the sum of j v_j; B is built from running sums, so the whole area costs two
// multiplications instead of one per value (the same 64-bit result, which the streaming form
// above computes term by term). Values are taken in pairs w_i = v_2i + v_2i+1, which halves the
// chains: B = 2 (sum of i w_i) + (the odd values) + (m - 1) v_m-1 for the last, single-word
// value.
//
// The accumulation, pair by pair from the last one down (the running sum needs that order).
struct SealSums {
    Uint64 run = 0, weighted = 0, odd = 0;
    __attribute__((always_inline)) void pair(Uint32 i, Uint64 v0, Uint64 v1) {
        odd += v1;
        run += v0 + v1;               // sum of w_i' for i' >= i
        if (i != 0) weighted += run;  // adds w_i' once for each 1 <= i'' <= i'
    }
    __attribute__((always_inline)) Uint32 value(Uint32 pairs, Uint32 lastWord, Uint32 k) const {
        const Uint64 last = lastWord;
        const Uint64 a = run + last;
        const Uint64 b = 2 * weighted + odd + Uint64(2 * pairs) * last;
        return foldSeal(kSealMul * a + kSealStep * b, k);
    }
};

// The seal of the payload area of a k-slot record at `from`; with kCopy, the area is copied to
// `to` on the way (a writer's own memory into its slots: one pass instead of a copy and a
// reading for the seal, and the seal comes from the values copied).
template <bool kCopy>
__attribute__((always_inline)) inline Uint32 sealArea(Uint8* to, const Uint8* from, Uint32 k) {
    const Uint32 pairs = 4 * k - 1;  // 16 k - 4 words before the last one
    SealSums sums;
    for (Uint32 i = pairs; i-- > 0;) {
        Uint64 v[2];
        memcpy(v, from + 16 * i, 16);
        if (kCopy) memcpy(to + 16 * i, v, 16);
        sums.pair(i, v[0], v[1]);
    }
    Uint32 lastWord;
    memcpy(&lastWord, from + 16 * pairs, 4);
    if (kCopy) memcpy(to + 16 * pairs, &lastWord, 4);
    return sums.value(pairs, lastWord, k);
}
__attribute__((always_inline)) inline Uint32 sealOf(const Uint8* payload, Uint32 k) {
    return sealArea<false>(nullptr, payload, k);
}
inline Uint32 copyAndSeal(Uint8* to, const Uint8* from, Uint32 k) { return sealArea<true>(to, from, k); }

// ---- The reader's test ----------------------------------------------------------------------
// The trailer a record of sequence seq must end with.
inline Uint32 expectedTrailer(const Uint8* slot, Uint32 k, Uint32 seq, bool sealed) {
    return sealed ? ~seq ^ sealOf(slot + RAMBO_SLOT_HEADER_SIZE, k) : ~seq;
}
// k when a whole record starts at `slot` (at most `available` slots readable from there), else 0.
inline Uint32 wholeRecord(const Uint8* slot, Uint32 available, bool sealed) {
    Uint32 word, seq, trailer;
    memcpy(&word, slot + 4, 4);
    const Uint32 k = word >> 16;
    if ((word & 0xFFFFu) != RAMBO_SLOT_MARKER || k < 1 || k > RAMBO_MAX_RECORD_SLOTS ||
        k > available) {
        return 0;
    }
    memcpy(&seq, slot, 4);
    memcpy(&trailer, slot + (k << kSlotShift) - 4, 4);
    return trailer == expectedTrailer(slot, k, seq, sealed) ? k : 0;
}

// ---- Reservation ----------------------------------------------------------------------------
// Everything but the plain circular buffer without straddle: linear mode, auto-dump mode and
// records that would run over the end of the buffer. `seq` was handed out for k slots already.
void* reserveSlow(RamboControlBlock* cb, Uint32 k, Uint32 seq, RamboReservation* token);
// A payload too large for any record.
void* reserveOversize(RamboControlBlock* cb, RamboReservation* token);

// What the ring needs from its host. While a writer waits for a chunk in auto-dump mode:
// whether the registered dumper still runs, and a way to give up the processor. For records
// that callers fill (below): the address of a word of the calling thread's own, where the
// memory of one such record is kept for the thread's next one (null: the host has no such
// word). The library installs the Windows ones; a native build on ordinary memory has no
// dumper process and keeps nothing.
struct Host {
    bool (*dumperRuns)(RamboControlBlock* cb);
    void (*yield)();
    void** (*threadWord)();
};
void setHost(const Host& host);

// The process-wide full-buffer callback of linear mode.
extern RamboFullBufferCallBack g_fullBufferCallBack;

// Size of the chunk descriptor table, rounded up to a multiple of 8.
Uint32 chunkTableSize(Uint32 size);
// Formats the ring's header, chunk table and data area (bufferSize already checked; the header
// was zeroed and the caller holds its lock). False for an unknown mode: the eye-catcher is then
// not written and the block stays unusable.
bool formatRing(RamboControlBlock* cb, Uint32 bufferSize, Uint32 mode);

// Reservation: one atomic fetch-and-add hands out the slots (the only shared write of the
// common case: a circular buffer without auto-dump, record not crossing the end).
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

// ---- Publication ----------------------------------------------------------------------------
// True when the ring has come round past the reservation: a writer of a later lap holds (or has
// filled) some of its slots. Only circular sealed rings are checked; the relaxed load is a hint
// that orders nothing, the seal is what readers rely on. In auto-dump mode the next sequence
// runs ahead of the writers waiting for their chunks, and a chunk is drained only once all its
// slots were published, so the next sequence tells nothing there: those writers never drop.
__attribute__((always_inline)) inline bool lapped(RamboControlBlock* cb, const RamboReservation* token) {
    if (!isSealed(cb) || cb->autoDumpAllowed) return false;
    const Uint32 ahead = __atomic_load_n(&cb->nextSequence, __ATOMIC_RELAXED) - token->sequence;
    return ahead > cb->slotCount;
}

// The chunk fill counts of auto-dump mode: also for a dropped record, whose slots the dumper
// must see filled like any others.
inline void countFilled(RamboControlBlock* cb, const RamboReservation* token) {
    RamboChunk* chunk = token->chunk;
    if (chunk != nullptr && cb->autoDumpAllowed && load8(&cb->autoDumpEnabled)) {
        const Uint32 k = token->slotCount;
        const Uint32 first = token->firstChunkSlots;
        fetchAdd32(&chunk->filled, first);
        if (k > first) fetchAdd32(&chunk[1].filled, k - first);
    }
}

// Counts a record that its lapped writer dropped.
inline void dropLapped(RamboControlBlock* cb, const RamboReservation* token) {
    fetchAdd32(lappedDrops(cb), 1);
    countFilled(cb, token);
}

// Trailer, then sequence, then the marker word that makes the record recognisable; `trailer`
// is the complement of the sequence, sealed or not. Release stores: a reader that acquires the
// marker sees the payload stored before it (the payload itself is plain memory).
__attribute__((always_inline)) inline void storeEnds(RamboControlBlock* cb, const RamboReservation* token,
                                                 Uint32 trailer) {
    Uint8* slot = static_cast<Uint8*>(token->slot);
    const Uint32 k = token->slotCount;
    __atomic_store_n(reinterpret_cast<Uint32*>(slot + (k << kSlotShift) - RAMBO_SLOT_TRAILER_SIZE),
                     trailer, __ATOMIC_RELEASE);
    __atomic_store_n(reinterpret_cast<Uint32*>(slot), token->sequence, __ATOMIC_RELEASE);
    __atomic_store_n(reinterpret_cast<Uint32*>(slot + 4), RAMBO_SLOT_MARKER | (k << 16),
                     __ATOMIC_RELEASE);
    countFilled(cb, token);
}

// Publication of a record filled in place: the seal is taken from the slots as they are now.
// False when the writer was lapped and dropped the record.
inline bool sync(RamboControlBlock* cb, RamboReservation* token) {
    const Uint32 seq = token->sequence;
    if (!isSealed(cb)) {
        storeEnds(cb, token, ~seq);
        return true;
    }
    if (lapped(cb, token)) {
        dropLapped(cb, token);
        return false;
    }
    const Uint32 k = token->slotCount;
    storeEnds(cb, token,
              ~seq ^ sealOf(static_cast<const Uint8*>(token->slot) + RAMBO_SLOT_HEADER_SIZE, k));
    return true;
}

// Publication on a plain ring of a record whose payload the writer holds in its own memory
// (`record`, `bytes` long).
__attribute__((always_inline)) inline void publishPlain(RamboControlBlock* cb, RamboReservation* token,
                                                        const void* record, Uint32 bytes) {
    memcpy(static_cast<Uint8*>(token->slot) + RAMBO_SLOT_HEADER_SIZE, record, bytes);
    storeEnds(cb, token, ~token->sequence);
}

// Publication on a sealed ring of a record whose whole payload area the writer holds in its own
// memory (zeros after its bytes). The lap check comes before any store into the ring, and the
// seal is taken from the writer's copy while it is copied into the slots, so that stores of a
// lapped writer landing in the slots meanwhile are caught by readers.
inline bool publishArea(RamboControlBlock* cb, RamboReservation* token, const void* area) {
    if (lapped(cb, token)) {
        dropLapped(cb, token);
        return false;
    }
    Uint8* payload = static_cast<Uint8*>(token->slot) + RAMBO_SLOT_HEADER_SIZE;
    const Uint32 seal = copyAndSeal(payload, static_cast<const Uint8*>(area), token->slotCount);
    storeEnds(cb, token, ~token->sequence ^ seal);
    return true;
}

// publishArea() for a record of a fixed number of words known at compile time (the one-slot and
// two-slot records of the trace writers): the words are stored one by one, as the plain path
// stores them, with no call.
template <Uint32 kWords, Uint32 kSlots = (kWords * 4 + RAMBO_SLOT_HEADER_SIZE + RAMBO_SLOT_TRAILER_SIZE + RAMBO_SLOT_SIZE - 1) / RAMBO_SLOT_SIZE>
__attribute__((always_inline)) inline bool publishWords(RamboControlBlock* cb, RamboReservation* token,
                                                        const Uint32* record, Uint32 seal) {
    static_assert(kWords <= (RAMBO_SLOT_SIZE * 2 - RAMBO_SLOT_HEADER_SIZE - RAMBO_SLOT_TRAILER_SIZE) / 4,
                  "one or two slots");
    if (lapped(cb, token)) {
        dropLapped(cb, token);
        return false;
    }
    Uint32* payload = reinterpret_cast<Uint32*>(static_cast<Uint8*>(token->slot) + RAMBO_SLOT_HEADER_SIZE);
    for (Uint32 i = 0; i < kWords; ++i) payload[i] = record[i];
    for (Uint32 i = kWords; i < payloadWords(kSlots); ++i) payload[i] = 0;
    storeEnds(cb, token, ~token->sequence ^ seal);
    return true;
}

// ---- Records that the caller fills ----------------------------------------------------------
// The public reservation hands out memory that the caller fills as it likes and publishes
// later. Filled in place, such a record would be sealed from its slots, so stores that a lapped
// writer made into them before the seal was taken would be sealed in: the reader would accept
// a record holding another writer's bytes. On a sealed ring the caller therefore fills memory
// of its own, and publication copies it into the slots and seals it on the way, as the trace
// writers publish their records. A caller lapped meanwhile stored nothing into the ring, and
// its record is dropped. Plain rings, and a caller whose own memory cannot be had, fill the
// slots in place as before.
//
// The token's slot is the caller's memory until publication (the payload address is always the
// slot's plus the header), and the record's slot after it.
// The memory of a record of up to kKeptSlots slots is kept for the thread's next one; the host
// frees it when the thread ends (freeKeptStage).
constexpr Uint32 kKeptSlots = 8;
void* reserveStaged(RamboControlBlock* cb, Uint32 payload, RamboReservation* token);
// False when the writer was lapped and dropped the record.
bool syncStaged(RamboControlBlock* cb, RamboReservation* token);
void freeKeptStage();

}  // namespace rambo
}  // namespace osse

#endif
