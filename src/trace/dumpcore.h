// Byte-level reading of trace dumps: the record-start test, the window test, validation of the
// ring buffer head and tail, and the record walk of the parsers, written once over a reader
// (a file through OSSHFile in the library, a memory image in the native fuzz build). No Windows
// header may come in here.
//
// A reader provides:
//   OSSErr read(void* to, Uint32 n, Uint32* got)   0, ECF_FILE_EOF (short, *got valid) or error
//   OSSErr tell(Uint64* pos)
//   OSSErr seekTo(Uint64 pos)                        pos is never beyond the end
//   OSSErr size(Uint64* bytes)
//   OSSErr alloc(Uint8** p, Uint32 n)  /  void release(Uint8** p)
//   static constexpr bool kInPlace                   true: the bytes are in memory already
//   const Uint8* view(Uint64 pos, Uint32 n, Uint32* got)   (in place only) where bytes
//                                                    [pos, pos + n) lie, *got of them present
// An in-place reader's ring parser takes its slots where they lie: its buffer points into the
// reader's bytes (and is never written), so nothing is copied and no buffer is allocated.
#ifndef OSSE_TRACE_DUMPCORE_H
#define OSSE_TRACE_DUMPCORE_H

#include "osse/ecf.h"
#include "osse/tracedump.h"
#include "trace/ring_core.h"

#include <string.h>

namespace osse {
namespace tracedump {

constexpr Uint32 kSlot = RAMBO_SLOT_SIZE;
constexpr Uint32 kMaxRecordSlots = RAMBO_MAX_RECORD_SLOTS;
constexpr Uint32 kReadBuffer = 0x100000;  // 1 MiB

template <class T>
inline T loadAt(const Uint8* p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

// Results of the record-start test.
enum StartTest : int {
    kRecord = 0,
    kNoMarker = 1,
    kBadSlotCount = 2,
    kNeedMore = 3,     // the record's slots are not all available
    kBadTrailer = 4,
    kStale = 5,        // left over from an earlier lap (instantaneous dumps)
};

// The window of an instantaneous dump: the N sequences before the tail position, counted modulo
// 2^32 so that a dump taken just after the sequence counter wrapped keeps its newest records.
inline bool inWindow(Uint32 seq, Uint32 tailPosition, Uint32 n) {
    return static_cast<Uint32>(tailPosition - 1u - seq) < n;
}

// The trailer of a record of k slots and sequence seq: the complement of the sequence, XORed
// with the seal of the payload area in a sealed dump. A record whose bytes were written over
// after its seal was taken fails here and is counted as missing.
inline bool trailerOk(const Uint8* slot, Uint32 k, Uint32 seq, bool sealed) {
    const Uint32 trailer = loadAt<Uint32>(slot + k * kSlot - 4);
    if (__builtin_expect(!sealed, 1)) return trailer == ~seq;
    return trailer == rambo::expectedTrailer(slot, k, seq, true);
}

// Tests `slot` as the start of a record. `available`: slots present from it on (the record must
// not run past them). windowed: instantaneous dump with its tail position, slot count n and the
// physical index of the slot, whose sequence must fall in the window and map to that index.
inline int recordStart(const Uint8* slot, Uint32 available, bool sealed, bool windowed,
                       Uint32 tailPosition, Uint32 n, Uint32 physical, Uint32* slotsOut) {
    const Uint32 word = loadAt<Uint32>(slot + 4);
    if ((word & 0xFFFFu) != RAMBO_SLOT_MARKER) return kNoMarker;
    const Uint32 k = word >> 16;
    if (k < 1 || k > kMaxRecordSlots) return kBadSlotCount;
    if (k > available) return kNeedMore;
    const Uint32 seq = loadAt<Uint32>(slot);
    if (!trailerOk(slot, k, seq, sealed)) return kBadTrailer;
    if (windowed && (!inWindow(seq, tailPosition, n) || seq % n != physical)) return kStale;
    *slotsOut = k;
    return kRecord;
}

// ---- Validation of a ring buffer dump ---------------------------------------------------------

struct RingInfo {
    RamboDumpHead head;
    RamboDumpTail tail;
    Uint64 slot0;     // file offset of slot 0
    Uint64 fileSize;
};

// Validates the head (and tail) from the current position; the position is restored in every
// case, its error reported only when all else succeeded. A cut file is found by comparing the
// sizes the head states with the file's size, never by seeking past its end.
template <class R>
OSSErr validateRing(R& r, RingInfo* info) {
    Uint64 start = 0;
    if (OSSErr rc = r.tell(&start)) return rc;
    OSSErr rc = OSS_OK;
    Uint32 got = 0;
    memset(info, 0, sizeof *info);
    do {
        if ((rc = r.size(&info->fileSize))) break;
        rc = r.read(&info->head, sizeof info->head, &got);
        if (rc == ECF_FILE_EOF || (rc == OSS_OK && got < sizeof info->head)) {
            rc = ECF_RAMBO_DUMP_HEADER_TRUNCATED;
            break;
        }
        if (rc) break;
        const RamboDumpHead& h = info->head;
        if (memcmp(h.eyeCatcher, RAMBO_DUMP_HEAD_EYECATCHER, 8) != 0) {
            rc = ECF_RAMBO_INVALID_DUMP_HEADER_EYE_CATCHER;
            break;
        }
        // A format this reader does not know is refused as a kind it does not know: its
        // records would not be checked as they must be.
        if ((h.kind != RAMBO_DUMP_KIND_INSTANT && h.kind != RAMBO_DUMP_KIND_STREAM) ||
            h.format > RAMBO_FORMAT_SEALED) {
            rc = ECF_RAMBO_INVALID_DUMP_TYPE;
            break;
        }
        if (h.bufferSize < RAMBO_MIN_BUFFER_SIZE || h.bufferSize > RAMBO_MAX_BUFFER_SIZE) {
            rc = ECF_RAMBO_INVALID_DUMP_BUFFER_SIZE;
            break;
        }
        info->slot0 = start + sizeof(RamboDumpHead);
        const Uint64 rest = info->fileSize > info->slot0 ? info->fileSize - info->slot0 : 0;
        if (h.kind == RAMBO_DUMP_KIND_INSTANT) {
            if (rest < Uint64(h.bufferSize) + sizeof(RamboDumpTail)) {
                rc = ECF_RAMBO_INSTANT_DUMP_TRUNCATED;
                break;
            }
            if ((rc = r.seekTo(info->slot0 + h.bufferSize))) break;
            rc = r.read(&info->tail, sizeof info->tail, &got);
            if (rc == ECF_FILE_EOF || (rc == OSS_OK && got < sizeof info->tail)) {
                rc = ECF_RAMBO_INSTANT_DUMP_TRUNCATED;
                break;
            }
            if (rc) break;
            if (memcmp(info->tail.eyeCatcher, RAMBO_DUMP_TAIL_EYECATCHER, 8) != 0) {
                rc = ECF_RAMBO_INVALID_DUMP_TAIL_EYE_CATCHER;
                break;
            }
            if (info->tail.index >= h.bufferSize / kSlot) {
                rc = ECF_RAMBO_INVALID_DUMP_SLOT_INDEX;
                break;
            }
        } else if (rest != 0 && rest < kSlot) {
            rc = ECF_RAMBO_DUMP_TRUNCATED;
            break;
        }
    } while (false);
    const OSSErr seekRc = r.seekTo(start);
    return rc ? rc : seekRc;
}

// ---- The parser -------------------------------------------------------------------------------

// The whole state of a ring buffer parse: the caller's RamboDumpParser (the position), the
// start slot, which follows from it (see load), and the sequence bookkeeping, which lives in
// the Ex companion when the caller has one. Every parse visits all slotCount slots.
struct RingParser : RamboDumpParser {
    Uint32 startSlot;       // physical slot of logical slot 0
    RamboDumpParserState seq;
};

// Logical slot of the current slot, from the slots left and the direction.
inline Uint32 currentFrom(Uint64 bytesLeft, Uint32 total, bool forward) {
    const Uint32 left = static_cast<Uint32>(bytesLeft / kSlot);
    return forward ? total - left : left - 1;
}

// The parse state of a caller's parser: the visit runs over all slotCount slots, so the start
// slot is where the current physical slot lies back from the current logical one. Without an
// Ex companion no sequence is followed (state is null) and no slot is counted as missing.
inline void load(RingParser* w, const RamboDumpParser* p, const RamboDumpParserState* state) {
    static_cast<RamboDumpParser&>(*w) = *p;
    w->startSlot = 0;
    if (p->bytesLeft != 0 && p->slotCount != 0) {
        const Uint32 n = p->slotCount;
        const Uint32 current = currentFrom(p->bytesLeft, n, p->forward != 0) % n;
        w->startSlot = p->slotIndex >= current ? p->slotIndex - current : p->slotIndex + (n - current);
    }
    if (state) {
        w->seq = *state;
    } else {
        memset(&w->seq, 0, sizeof w->seq);
    }
}

inline void store(RamboDumpParser* p, RamboDumpParserState* state, const RingParser* w) {
    *p = *w;
    p->backSlots = 0;
    if (!w->forward && w->bytesLeft != 0) {
        const Uint64 current = w->bytesLeft / kSlot - 1u;
        const Uint64 held = w->held / kSlot;
        if (current >= w->bufferStart && current < w->bufferStart + held) {
            p->backSlots = static_cast<Uint32>(current - w->bufferStart);
        }
    }
    if (state) *state = w->seq;
}

// Logical slot i maps to physical slot (start + i) mod N. The slots run in at most two
// physically contiguous runs: [0, split) from `start`, and [split, total) from physical 0.
inline Uint32 splitOf(const RingParser* p) {
    return p->slotCount - p->startSlot;
}
inline Uint32 physicalOf(const RingParser* p, Uint32 i) {
    const Uint32 split = splitOf(p);
    return i < split ? p->startSlot + i : i - split;
}
inline Uint32 runStartOf(const RingParser* p, Uint32 i) {
    const Uint32 split = splitOf(p);
    return i < split ? 0 : split;
}
inline Uint32 runEndOf(const RingParser* p, Uint32 i) {
    const Uint32 split = splitOf(p);
    return i < split ? split : p->slotCount;
}
// The logical slot the parser stands at.
inline Uint32 currentOf(const RingParser* p) {
    return currentFrom(p->bytesLeft, p->slotCount, p->forward != 0);
}

template <class R>
OSSErr readSlots(R& r, RingParser* p, Uint32 from, Uint32 count, Uint8* to, Uint32* gotSlots) {
    *gotSlots = 0;
    if (count == 0) return OSS_OK;
    if (OSSErr rc = r.seekTo(p->dataOffset + Uint64(physicalOf(p, from)) * kSlot)) return rc;
    Uint32 got = 0;
    const OSSErr rc = r.read(to, count * kSlot, &got);
    if (rc && rc != ECF_FILE_EOF) return rc;
    *gotSlots = got / kSlot;
    return OSS_OK;
}

// Makes logical slots [i, i + need) present in the buffer (need never leaves i's run). The new
// window is read from the file, keeping whatever of it the buffer already holds. False when the
// slots cannot be read.
template <class R>
bool ensure(R& r, RingParser* p, Uint32 i, Uint32 need) {
    const Uint32 lo0 = static_cast<Uint32>(p->bufferStart);
    const Uint32 hi0 = lo0 + p->held / kSlot;
    if (p->held && i >= lo0 && i + need <= hi0) return true;
    const Uint32 capSlots = p->capacity / kSlot;
    const Uint32 runStart = runStartOf(p, i), runEnd = runEndOf(p, i);
    Uint32 lo, hi;
    if (p->forward) {
        lo = i;
        hi = runEnd - i > capSlots ? i + capSlots : runEnd;
    } else {
        hi = runEnd - i > kMaxRecordSlots ? i + kMaxRecordSlots : runEnd;
        lo = hi - runStart > capSlots ? hi - capSlots : runStart;
    }
    if constexpr (R::kInPlace) {
        Uint32 got = 0;
        p->buffer = const_cast<Uint8*>(r.view(p->dataOffset + Uint64(physicalOf(p, lo)) * kSlot,
                                              (hi - lo) * kSlot, &got));
        p->bufferStart = lo;
        p->held = got / kSlot * kSlot;
        return i >= lo && i + need <= lo + got / kSlot;
    }
    // Keep the overlap with what is buffered (same run only).
    Uint32 ovLo = lo, ovHi = lo;
    if (p->held && runStartOf(p, lo0) == runStart) {
        ovLo = lo0 > lo ? lo0 : lo;
        ovHi = hi0 < hi ? hi0 : hi;
        if (ovLo < ovHi) {
            memmove(p->buffer + (ovLo - lo) * kSlot, p->buffer + (ovLo - lo0) * kSlot,
                    (ovHi - ovLo) * kSlot);
        } else {
            ovLo = ovHi = lo;
        }
    }
    Uint32 got = 0;
    Uint32 newHi = hi;
    if (ovLo > lo) {
        if (readSlots(r, p, lo, ovLo - lo, p->buffer, &got) || got < ovLo - lo) newHi = lo + got;
    }
    if (newHi == hi && ovHi < hi) {
        if (readSlots(r, p, ovHi, hi - ovHi, p->buffer + (ovHi - lo) * kSlot, &got) ||
            got < hi - ovHi) {
            newHi = ovHi + got;
        }
    }
    p->bufferStart = lo;
    p->held = (newHi - lo) * kSlot;
    return i >= lo && i + need <= newHi;
}

inline void finish(RingParser* p) { p->bytesLeft = 0; }

// Moves to the next logical slot in the parse direction, `slots` of them forwards.
inline void advance(RingParser* p, Uint32 slots) {
    p->bytesLeft -= Uint64(slots) * kSlot;
    if (p->bytesLeft == 0) return;
    const Uint32 i = currentOf(p);
    p->slotIndex = physicalOf(p, i);
    p->slotOffset = Uint64(p->slotIndex) * kSlot;
}

// The window test of an instantaneous dump's record: its sequence falls in the window and maps
// to its physical slot (a mask when the slot count is a power of two, as it mostly is).
inline bool inWindowAt(Uint32 seq, Uint32 physical, Uint32 tailPosition, Uint32 n) {
    if (!inWindow(seq, tailPosition, n)) return false;
    return (n & (n - 1)) == 0 ? (seq & (n - 1)) == physical : seq % n == physical;
}

// Slots [from, to) of the sequence were handed out to writers but hold no record: the records
// written there are missing. A gap of more than 2^31 is a step back (records out of order), not
// a loss. A circular writer whose record would run past the end of the ring abandons the slots
// of that reservation, up to 2,048 around a lap boundary: those held no record to lose.
inline Uint32 missingSlots(const RingParser* p, Uint32 from, Uint32 to) {
    const Uint32 gap = to - from;
    if (gap == 0 || gap > 0x7FFFFFFFu) return 0;
    const Uint32 n = p->seq.ringSlots;
    if (n != 0 && gap <= kMaxRecordSlots && from / n != (to - 1u) / n) return 0;
    return gap;
}

// The sequence bookkeeping of a record of k slots with sequence seq, handed out next. Mostly
// it follows the last one directly: one compare.
inline void noteRecord(RingParser* p, bool forward, Uint32 seq, Uint32 k) {
    const Uint32 from = forward ? p->seq.nextSequence : seq + k;
    const Uint32 to = forward ? seq : p->seq.nextSequence;
    Uint32 lost = 0;
    if (from != to && (p->seq.sequenceState & RAMBO_PARSER_NEXT_KNOWN)) lost = missingSlots(p, from, to);
    p->seq.lostSlots = lost;
    p->seq.nextSequence = forward ? seq + k : seq;
    p->seq.sequenceState |= RAMBO_PARSER_NEXT_KNOWN;
}

// Where an instantaneous dump's sequence ends: at its tail position, unless the buffer was
// linear and overflowed (its position is then where the buffer ended, not where writing did).
inline bool knowsNewest(const RingParser* p) {
    return p->kind == RAMBO_DUMP_KIND_INSTANT && !p->truncated;
}
// Where it began (lowSequence): linear buffers start at slot 0, circular ones at their sequence
// start unless the sequence overwrote itself.
inline bool knowsOldest(const RingParser* p) {
    return p->kind == RAMBO_DUMP_KIND_INSTANT && (p->seq.ringSlots == 0 || !p->wrapped);
}

// No record is left: the slots missing after the last one, counted once.
inline void noteEnd(RingParser* p) {
    const Uint8 state = p->seq.sequenceState;
    p->seq.lostSlots = 0;
    if (state & RAMBO_PARSER_END_SEEN) return;
    p->seq.sequenceState = state | RAMBO_PARSER_END_SEEN;
    if (!(state & RAMBO_PARSER_NEXT_KNOWN)) return;
    if (p->forward && knowsNewest(p)) {
        p->seq.lostSlots = missingSlots(p, p->seq.nextSequence, p->tailPosition);
    } else if (!p->forward && knowsOldest(p)) {
        p->seq.lostSlots = missingSlots(p, p->seq.lowSequence, p->seq.nextSequence);
    }
}

// Hands out the record of k slots and sequence seq at the current slot (`slot` in the buffer,
// `physical` its physical index; `left` slots were left before it; `forward` the direction):
// payload length and place, and moves on.
inline Uint32 takeRecord(RingParser* p, bool forward, Uint32 left, Uint32 k, Uint32 seq,
                         Uint32 physical, const Uint8* slot, const Uint8** payload, Uint32* physicalOut) {
    noteRecord(p, forward, seq, k);
    // Backwards every step is one slot: a record's own later slots were passed already.
    const Uint32 step = forward ? k : 1;
    left = step < left ? left - step : 0;
    p->bytesLeft = Uint64(left) * kSlot;
    p->cursor = static_cast<Uint32>(slot - p->buffer);
    if (left) {
        // Logical slot i is physical slot (startSlot + i) mod slotCount.
        Uint32 next;
        if (forward) {
            next = physical + k;
            if (next >= p->slotCount) next -= p->slotCount;
        } else {
            next = physical ? physical - 1 : p->slotCount - 1;
        }
        p->slotIndex = next;
        p->slotOffset = Uint64(next) * kSlot;
    }
    *payload = slot + RAMBO_SLOT_HEADER_SIZE;
    *physicalOut = physical;
    return k * kSlot - RAMBO_SLOT_HEADER_SIZE - RAMBO_SLOT_TRAILER_SIZE;
}

// The parser stops at logical slot `left` slots before the end, physical slot `physical`.
inline void park(RingParser* p, Uint32 left, Uint32 physical) {
    p->bytesLeft = Uint64(left) * kSlot;
    p->slotIndex = physical;
    p->slotOffset = Uint64(physical) * kSlot;
}

// The general walk of nextRecord: scans slot by slot, refills the buffer, and takes records
// that run past the buffered slots. Without kMayRefill it parks where it would have to read
// and answers 0, so that records already handed out of the buffer stay where they are.
template <class R, bool kMayRefill>
__attribute__((noinline)) Uint32 scanRecord(R& r, RingParser* p, const Uint8** payload, Uint32* physicalOut) {
    Uint32 left = static_cast<Uint32>(p->bytesLeft / kSlot);
    if (left == 0) return 0;
    const bool windowed = p->kind == RAMBO_DUMP_KIND_INSTANT;
    const bool forward = p->forward != 0;
    const Uint32 total = p->slotCount;
    Uint32 i = currentOf(p);
    Uint32 physical = physicalOf(p, i);
    // The buffer holds logical slots [lo, lo + held) of one run; i is buffered when i - lo < held.
    Uint32 lo = static_cast<Uint32>(p->bufferStart);
    Uint32 held = p->held / kSlot;
    for (;;) {
        if (i - lo >= held) {
            if (!kMayRefill) {
                park(p, left, physical);
                return 0;
            }
            p->bytesLeft = Uint64(left) * kSlot;
            const bool ok = ensure(r, p, i, 1);
            lo = static_cast<Uint32>(p->bufferStart);
            held = p->held / kSlot;
            if (!ok) break;
        }
        const Uint8* slot = p->buffer + (i - lo) * kSlot;
        const Uint32 word = loadAt<Uint32>(slot + 4);
        const Uint32 k = word >> 16;
        bool record = (word & 0xFFFFu) == RAMBO_SLOT_MARKER && k - 1u < kMaxRecordSlots;
        if (record && i - lo + k > held) {
            // Past the buffered slots: a record cannot run past its run, else read on.
            if (k > runEndOf(p, i) - i) {
                record = false;
            } else {
                if (!kMayRefill) {
                    park(p, left, physical);
                    return 0;
                }
                p->bytesLeft = Uint64(left) * kSlot;
                const bool ok = ensure(r, p, i, k);
                lo = static_cast<Uint32>(p->bufferStart);
                held = p->held / kSlot;
                if (!ok) break;
                slot = p->buffer + (i - lo) * kSlot;
            }
        }
        if (record) {
            const Uint32 seq = loadAt<Uint32>(slot);
            if (trailerOk(slot, k, seq, p->sealed != 0) &&
                (!windowed || inWindowAt(seq, physical, p->tailPosition, p->slotCount))) {
                return takeRecord(p, forward, left, k, seq, physical, slot, payload, physicalOut);
            }
        }
        if (--left == 0) break;
        if (forward) {
            ++i;
            if (++physical == total) physical = 0;
        } else {
            --i;
            physical = physical ? physical - 1 : total - 1;
        }
    }
    finish(p);
    return 0;
}

// The next record in the parse direction: its payload length (0 when none is left), where its
// payload lies in the parser's buffer (valid until the parser reads again) and its physical
// slot. A forward walk over a sound dump meets one whole record after the other in the buffer:
// that case is tested here with the position kept in the parser (slotIndex is the current
// slot's physical index), everything else goes to the general walk.
template <class R, bool kMayRefill = true>
__attribute__((always_inline)) inline Uint32 nextRecord(R& r, RingParser* p, const Uint8** payload, Uint32* physicalOut) {
    const Uint32 left = static_cast<Uint32>(p->bytesLeft / kSlot);
    if (p->forward && left != 0) {
        const Uint32 off = p->slotCount - left - static_cast<Uint32>(p->bufferStart);
        const Uint32 held = p->held / kSlot;
        if (off < held) {
            const Uint8* slot = p->buffer + off * kSlot;
            const Uint32 word = loadAt<Uint32>(slot + 4);
            const Uint32 k = word >> 16;
            const Uint32 seq = loadAt<Uint32>(slot);
            if ((word & 0xFFFFu) == RAMBO_SLOT_MARKER && k - 1u < kMaxRecordSlots &&
                k <= held - off && trailerOk(slot, k, seq, p->sealed != 0) &&
                (p->kind != RAMBO_DUMP_KIND_INSTANT ||
                 inWindowAt(seq, p->slotIndex, p->tailPosition, p->slotCount))) {
                return takeRecord(p, true, left, k, seq, p->slotIndex, slot, payload, physicalOut);
            }
        }
    }
    return scanRecord<R, kMayRefill>(r, p, payload, physicalOut);
}

// Forwards, the whole records that follow one another in the buffer from the current slot, as
// views (at most `max`): the walk of nextRecord with the parser's state kept in locals and
// stored once. Stops at the first slot that needs more than that. Called after a record was
// handed out, so the sequence to follow is known. The buffer holds one run of physically
// consecutive slots, so physical index and file offset advance with the buffer position.
inline Uint32 directRecords(RingParser* p, GTraceRecordView* views, Uint32 max) {
    const Uint32 left = static_cast<Uint32>(p->bytesLeft / kSlot);
    if (!p->forward || left == 0 || max == 0) return 0;
    const Uint32 held = p->held / kSlot;
    const Uint32 first = p->slotCount - left - static_cast<Uint32>(p->bufferStart);
    if (first >= held) return 0;
    const Uint32 usable = held - first < left ? held - first : left;
    const Uint8* const base = p->buffer + first * kSlot;
    const Uint8* const end = base + usable * kSlot;
    const Uint32 physical0 = p->slotIndex;
    const Uint64 fileBase = p->dataOffset + Uint64(physical0) * kSlot + RAMBO_SLOT_HEADER_SIZE;
    const bool windowed = p->kind == RAMBO_DUMP_KIND_INSTANT;
    const bool sealed = p->sealed != 0;
    const Uint32 tail = p->tailPosition, n = p->slotCount;
    // The window of an instantaneous dump holds one sequence per physical slot, the one of the
    // last lap that maps there: lapBase + slot before the tail's slot, a lap less from it on.
    // One compare then stands for the window and slot tests of inWindowAt, unless the slot count
    // is no power of two and the window reaches below sequence 0 (modulo 2^32 is then no whole
    // number of laps).
    const Uint32 tailSlot = windowed ? tail % n : 0;
    const Uint32 lapBase = tail - tailSlot;
    const bool oneCompare = (n & (n - 1)) == 0 || lapBase >= n;
    auto outsideWindow = [&](Uint32 seq, Uint32 physical) {
        if (!oneCompare) return !inWindowAt(seq, physical, tail, n);
        return seq != (physical < tailSlot ? lapBase : lapBase - n) + physical;
    };
    Uint32 next = p->seq.nextSequence, lost = p->seq.lostSlots;
    const Uint8* slot = base;
    const Uint8* last = nullptr;
    Uint32 count = 0;
    while (count < max && slot < end) {
        const Uint32 word = loadAt<Uint32>(slot + 4);
        const Uint32 k = word >> 16;
        const Uint32 seq = loadAt<Uint32>(slot);
        const Uint32 at = static_cast<Uint32>(slot - base) / kSlot;
        if ((word & 0xFFFFu) != RAMBO_SLOT_MARKER || k - 1u >= kMaxRecordSlots ||
            k > static_cast<Uint32>(end - slot) / kSlot || !trailerOk(slot, k, seq, sealed) ||
            (windowed && outsideWindow(seq, physical0 + at))) {
            break;
        }
        lost = seq == next ? 0 : missingSlots(p, next, seq);
        next = seq + k;
        GTraceRecordView& v = views[count++];
        v.payload = slot + RAMBO_SLOT_HEADER_SIZE;
        v.length = k * kSlot - RAMBO_SLOT_HEADER_SIZE - RAMBO_SLOT_TRAILER_SIZE;
        v.lostSlots = lost;
        v.offset = fileBase + static_cast<Uint32>(slot - base);
        last = slot;
        slot += k * kSlot;
    }
    if (count != 0) {
        const Uint32 used = static_cast<Uint32>(slot - base) / kSlot;
        p->cursor = static_cast<Uint32>(last - p->buffer);
        p->seq.nextSequence = next;
        p->seq.lostSlots = lost;
        if (used < left) park(p, left - used, (physical0 + used) % p->slotCount);
        else finish(p);
    }
    return count;
}

template <Uint32 kWords>
inline void copyWords(Uint8* to, const Uint8* from) {
    if constexpr (kWords != 0) {
        const Uint32 w = loadAt<Uint32>(from);
        memcpy(to, &w, 4);
        copyWords<kWords - 1>(to + 4, from + 4);
    }
}
inline void copyOneSlot(Uint8* to, const Uint8* from) {
    static_assert(RAMBO_ONE_SLOT_PAYLOAD % 4 == 0, "whole words");
    copyWords<RAMBO_ONE_SLOT_PAYLOAD / 4>(to, from);
}

// Kept out of line so that the one-slot copy beside it stays inline moves.
__attribute__((noinline)) inline void copyOut(void* out, const Uint8* payload, Uint32 n) {
    memcpy(out, payload, n);
}

// The next record in the parse direction, its payload copied to `out` (as much as fits); its
// payload length, 0 when none is left.
template <class R>
Uint32 parseNext(R& r, RingParser* p, Uint64* recordOffset, void* out, Uint32 outSize) {
    const Uint8* payload = nullptr;
    Uint32 physical = 0;
    const Uint32 length = nextRecord(r, p, &payload, &physical);
    if (length == 0) {
        noteEnd(p);
        return 0;
    }
    if (out != nullptr && outSize != 0) {
        // One-slot records are most of a trace: their copy is thirteen word moves, not a call.
        if (length == RAMBO_ONE_SLOT_PAYLOAD && outSize >= length) {
            copyOneSlot(static_cast<Uint8*>(out), payload);
        } else {
            copyOut(out, payload, outSize < length ? outSize : length);
        }
    }
    if (recordOffset) {
        *recordOffset = p->dataOffset + Uint64(physical) * kSlot + RAMBO_SLOT_HEADER_SIZE;
    }
    return length;
}

// Up to `max` next records handed out in place: views into the parser's buffer, all valid until
// the parser reads again. Only the first may refill the buffer; the batch ends where another
// refill would be needed.
template <class R>
Uint32 parseBatch(R& r, RingParser* p, GTraceRecordView* views, Uint32 max) {
    if (max == 0) return 0;
    const Uint8* payload = nullptr;
    Uint32 physical = 0;
    Uint32 length = nextRecord(r, p, &payload, &physical);
    if (length == 0) {
        noteEnd(p);
        return 0;
    }
    Uint32 n = 0;
    for (;;) {
        GTraceRecordView& v = views[n++];
        v.payload = payload;
        v.length = length;
        v.lostSlots = p->seq.lostSlots;
        v.offset = p->dataOffset + Uint64(physical) * kSlot + RAMBO_SLOT_HEADER_SIZE;
        n += directRecords(p, views + n, max - n);
        if (n == max) return n;
        length = nextRecord<R, false>(r, p, &payload, &physical);
        if (length == 0) return n;
    }
}

// Scanning form of a stream dump that may have been written circularly: the slots, modulo the
// file's slot count, start after the newest record, which is the last one before the sequence
// drops (the records of a later lap overwrote the file's start).
template <class R>
void scanForStart(R& r, RingParser* p) {
    const Uint32 n = p->slotCount;
    bool first = true, dropped = false;
    Uint32 prevSeq = 0, newestSlot = 0, newestK = 0;
    Uint32 i = 0;
    while (i < n && !dropped) {
        if (!ensure(r, p, i, 1)) break;
        const Uint8* slot = p->buffer + (i - static_cast<Uint32>(p->bufferStart)) * kSlot;
        const Uint32 k = loadAt<Uint32>(slot + 4) >> 16;
        if (k >= 1 && k <= kMaxRecordSlots && k <= n - i && k > 1) {
            if (!ensure(r, p, i, k)) break;
            slot = p->buffer + (i - static_cast<Uint32>(p->bufferStart)) * kSlot;
        }
        Uint32 slots = 0;
        if (recordStart(slot, n - i, p->sealed != 0, false, 0, n, i, &slots) != kRecord) {
            ++i;
            continue;
        }
        const Uint32 seq = loadAt<Uint32>(slot);
        if (!first && static_cast<Sint32>(seq - prevSeq) < 0) {
            dropped = true;
            break;
        }
        first = false;
        prevSeq = seq;
        newestSlot = i;
        newestK = slots;
        i += slots;
    }
    p->held = 0;
    p->bufferStart = 0;
    if (dropped) {
        p->startSlot = (newestSlot + newestK) % n;
        p->wrapped = 1;
    }
}

// Opens the ring buffer parser on the dump at the reader's position. scanning: the trace says
// its stream dumps may have been written circularly; only a stream dump is scanned for its
// start (an instantaneous dump's tail tells where the oldest slot is). Every dump is visited as
// a ring of slotCount slots from its start slot: a linear one from the tail position's slot too,
// so that the slots it never reached come first and hold nothing of this sequence. The parser is
// marked open only once it owns its buffer.
template <class R>
OSSErr openRing(R& r, RingParser* p, bool forward, bool scanning) {
    memset(p, 0, sizeof *p);
    RingInfo info;
    if (OSSErr rc = validateRing(r, &info)) return rc;
    const Uint32 s = info.head.bufferSize;
    Uint32 n = s / kSlot;
    p->dataOffset = info.slot0;
    p->kind = info.head.kind;
    p->sealed = info.head.format == RAMBO_FORMAT_SEALED ? 1 : 0;
    p->forward = forward ? 1 : 0;
    if (info.head.wraps) p->seq.ringSlots = n;
    if (info.head.kind == RAMBO_DUMP_KIND_INSTANT) {
        const Uint32 position = info.tail.position;
        p->tailPosition = position;
        p->startSlot = position % n;
        if (info.head.wraps) {
            p->wrapped = Uint32(position - info.tail.sequenceStart) > n ? 1 : 0;
            p->seq.lowSequence = info.tail.sequenceStart;
        } else {
            p->truncated = info.tail.truncated ? 1 : 0;
            // A linear sequence starts at a multiple of 2N and fills slots 0 .. N - 1.
            const Uint32 used = position % (2 * n);
            p->seq.lowSequence = position - (used < n ? used : n);
        }
        // The first record is checked against the end the parse starts from, when known.
        if (forward ? knowsOldest(p) : knowsNewest(p)) {
            p->seq.nextSequence = forward ? p->seq.lowSequence : position;
            p->seq.sequenceState = RAMBO_PARSER_NEXT_KNOWN;
        }
    } else {
        const Uint64 bytes = info.fileSize > info.slot0 ? info.fileSize - info.slot0 : 0;
        const Uint64 slots = bytes / kSlot;
        // A stream longer than 2^32 - 1 slots is read up to there.
        n = slots > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<Uint32>(slots);
    }
    p->slotCount = n;
    const Uint64 bytes = Uint64(n) * kSlot;
    p->capacity = bytes == 0 ? kSlot : (bytes < kReadBuffer ? static_cast<Uint32>(bytes) : kReadBuffer);
    if (OSSErr rc = r.seekTo(info.slot0)) return rc;
    if constexpr (!R::kInPlace) {
        if (OSSErr rc = r.alloc(&p->buffer, p->capacity)) {
            p->buffer = nullptr;
            return rc;
        }
    }
    if (scanning && p->kind == RAMBO_DUMP_KIND_STREAM && n != 0) {
        p->forward = 1;
        scanForStart(r, p);
        p->forward = forward ? 1 : 0;
    }
    p->bytesLeft = bytes;
    if (n != 0) {
        const Uint32 i = forward ? 0 : n - 1;
        p->slotIndex = physicalOf(p, i);
        p->slotOffset = Uint64(p->slotIndex) * kSlot;
    }
    p->open = 1;
    return OSS_OK;
}

template <class R>
OSSErr closeRing(R& r, RingParser* p) {
    if (p == nullptr || !p->open) return ECF_INVALID_PARAMETER;
    p->open = 0;
    if constexpr (!R::kInPlace) r.release(&p->buffer);
    p->buffer = nullptr;
    return OSS_OK;
}

// ---- The trace dump header ----------------------------------------------------------------------

inline bool isProfileMode(Uint32 mode) { return (mode & 0x88u) == GTRACE_MODE_PROFILE; }

// What the parsers use of the trace dump header: its first bytes (eye-catcher, the marker of
// circular stream dumps, the buffer size and the mode). The rest of it, the masks and the tick
// factor, is for the tools; the parsers step over it instead of reading 0x318D0 bytes.
struct TraceHeaderHead {
    char eyeCatcher[8];
    Uint64 wrappingDumpMarker;
    Uint32 bufferSize;
    Uint32 mode;
};
static_assert(offsetof(GTraceDumpHeader, options) + offsetof(GTraceOptions, wrappingDumpMarker) ==
                  offsetof(TraceHeaderHead, wrappingDumpMarker), "layout");
static_assert(offsetof(GTraceDumpHeader, options) + offsetof(GTraceOptions, bufferSize) ==
                  offsetof(TraceHeaderHead, bufferSize), "layout");
static_assert(offsetof(GTraceDumpHeader, options) + offsetof(GTraceOptions, mode) ==
                  offsetof(TraceHeaderHead, mode), "layout");

// Reads the head of the trace dump header, checks the header's length and eye-catcher, and
// leaves the reader behind the header.
template <class R>
OSSErr readTraceHeader(R& r, TraceHeaderHead* head) {
    Uint64 pos = 0, size = 0;
    if (OSSErr rc = r.tell(&pos)) return rc;
    if (OSSErr rc = r.size(&size)) return rc;
    if (pos > size || size - pos < GTRACE_DUMP_HEADER_SIZE) return ECF_GTRACE_DUMP_HEADER_TRUNCATED;
    Uint32 got = 0;
    const OSSErr rc = r.read(head, sizeof *head, &got);
    if (rc == ECF_FILE_EOF || (rc == OSS_OK && got < sizeof *head)) {
        return ECF_GTRACE_DUMP_HEADER_TRUNCATED;
    }
    if (rc) return rc;
    if (memcmp(head->eyeCatcher, GTRACE_DUMP_EYECATCHER, 8) != 0) {
        return ECF_GTRACE_INVALID_DUMP_EYE_CATCHER;
    }
    return r.seekTo(pos + GTRACE_DUMP_HEADER_SIZE);
}

// ---- The profile table ---------------------------------------------------------------------------

template <class R>
OSSErr openProfile(R& r, GTraceProfileParser* p, const TraceHeaderHead& header) {
    memset(p, 0, sizeof *p);
    p->entries = header.bufferSize / GTRACE_PROFILE_ENTRY_SIZE;
    Uint64 pos = 0;
    if (OSSErr rc = r.tell(&pos)) return rc;
    Uint64 size = 0;
    if (OSSErr rc = r.size(&size)) return rc;
    // The 16 bytes behind the header are not interpreted.
    p->tablePosition = pos + 16;
    if (OSSErr rc = r.alloc(&p->buffer, GTRACE_PROFILE_READ_BUFFER)) {
        p->buffer = nullptr;
        return rc;
    }
    if (p->tablePosition >= size) {
        p->endOfFile = 1;
    } else {
        if (OSSErr rc = r.seekTo(p->tablePosition)) {
            r.release(&p->buffer);
            return rc;
        }
        Uint32 got = 0;
        const OSSErr rc = r.read(p->buffer, GTRACE_PROFILE_READ_BUFFER, &got);
        if (rc && rc != ECF_FILE_EOF) {
            r.release(&p->buffer);
            return rc;
        }
        p->held = got;
        if (rc == ECF_FILE_EOF) p->endOfFile = 1;
    }
    p->open = 1;
    return OSS_OK;
}

// The next used entry; 24, or 0 when none is left.
template <class R>
Uint32 profileNext(R& r, GTraceProfileParser* p, Uint64* offset, void* out, Uint32 outSize) {
    if (p == nullptr || !p->open) return 0;
    while (p->consumed < p->entries) {
        if (p->held - p->cursor < GTRACE_PROFILE_ENTRY_SIZE) {
            if (p->endOfFile) return 0;
            p->bufferOffset += p->cursor;
            const Uint32 keep = p->held - p->cursor;
            memmove(p->buffer, p->buffer + p->cursor, keep);
            p->cursor = 0;
            p->held = keep;
            Uint32 got = 0;
            if (r.seekTo(p->tablePosition + p->bufferOffset + keep)) return 0;
            const OSSErr rc = r.read(p->buffer + keep, GTRACE_PROFILE_READ_BUFFER - keep, &got);
            if (rc && rc != ECF_FILE_EOF) return 0;
            if (rc == ECF_FILE_EOF) p->endOfFile = 1;
            p->held += got;
            if (p->held < GTRACE_PROFILE_ENTRY_SIZE) return 0;
        }
        const Uint8* e = p->buffer + p->cursor;
        const Uint32 at = p->bufferOffset + p->cursor;
        p->cursor += GTRACE_PROFILE_ENTRY_SIZE;
        ++p->consumed;
        if (loadAt<Uint32>(e + 4) == 0) continue;
        if (out != nullptr && outSize != 0) {
            memcpy(out, e, outSize < GTRACE_PROFILE_ENTRY_SIZE ? outSize : GTRACE_PROFILE_ENTRY_SIZE);
        }
        if (offset) *offset = p->tablePosition + at;
        return GTRACE_PROFILE_ENTRY_SIZE;
    }
    return 0;
}

template <class R>
OSSErr closeProfile(R& r, GTraceProfileParser* p) {
    if (!p->open) return ECF_INVALID_PARAMETER;
    p->open = 0;
    r.release(&p->buffer);
    p->buffer = nullptr;
    return OSS_OK;
}

// ---- A whole trace dump -------------------------------------------------------------------------

template <class R>
OSSErr validateTrace(R& r, Uint32 expected, TraceHeaderHead* header) {
    Uint64 start = 0;
    if (OSSErr rc = r.tell(&start)) return rc;
    OSSErr rc = readTraceHeader(r, header);
    if (rc == OSS_OK) {
        const Uint32 kind = isProfileMode(header->mode) ? GTRACE_DUMP_PROFILE
                                                                : GTRACE_DUMP_RECORDS;
        if (expected != GTRACE_DUMP_ANY && expected != kind) {
            rc = ECF_INVALID_PARAMETER;
        } else if (kind == GTRACE_DUMP_RECORDS) {
            // A profile dump has no ring head: only the header is checked there.
            RingInfo info;
            rc = validateRing(r, &info);
        }
    }
    const OSSErr seekRc = r.seekTo(start);
    return rc ? rc : seekRc;
}

}  // namespace tracedump
}  // namespace osse

#endif
