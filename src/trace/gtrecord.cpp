// Trace point writers and the filtering step.
//
// Every writer runs the same pipeline: the filtering step (only when a flag of the filtering
// set asks for it), the errors-only test of exits, the pre-trace callback, one reservation in
// the ring buffer, the record filled in place, publication, and the after-record actions (stop
// condition, application callback). The common case (no flag) is one atomic add and the stores
// of one 64-byte slot.
#include "trace/gtrace_internal.h"

#include <stdarg.h>
#include <string.h>

using namespace osse::gtrace;

namespace {

constexpr Uint32 kFixedPayload = offsetof(GTraceRecord, itemCount);  // one slot
constexpr Uint32 kExtraPayload = 64;  // two slots: the fixed part and 8 extra bytes
constexpr Uint32 kVarOffset = 0x38;
// Records with items up to this many slots are composed on the writer's stack on a sealed ring.
constexpr Uint32 kLocalSlots = 8;

enum class Kind { Entry, Exit, Other, ErrorTrans, Correlator };

inline Uint64 tidOf(Uint32 lo, Uint32 hi) { return (static_cast<Uint64>(hi) << 32) | lo; }

// What one writer call puts into its record and hands to the callbacks.
struct Point {
    Kind kind;
    Uint16 type;        // record type written
    Uint16 recordFlags;
    Uint16 probe;       // written and filtered (0 for entries and exits)
    Uint32 callType;    // type given to the callbacks
    Uint32 functionId;
    Uint64 threadId;
    Uint32 data1, data2, result;
    bool hasExtra;
    Uint32 extraLow, extraHigh;
    const Uint32* returnCode;  // exits: the pointer handed to the application callback
    bool stopCandidate;        // _gtraceError / _gtraceErrorVar: type 5 is a stop hit
};

bool includedInMask(const GTCB* cb, Uint16 type, Uint32 functionId, Uint16 probe, Uint64 threadId);

// The filtering step of the block cb, with the timestamp taken first when asked for.
bool filter(const GTCB* cb, Uint16 type, Uint32 functionId, Uint16 probe, Uint64 threadId,
            Uint64* timestamp) {
    if (cb->options.flags & GTRACE_FLAG_TIMESTAMP) {
        LARGE_INTEGER now;
        const Uint64 value = QueryPerformanceCounter(&now) ? static_cast<Uint64>(now.QuadPart) : 0;
        if (timestamp) *timestamp = value;
    }
    return includedInMask(cb, type, functionId, probe, threadId);
}

// Profile and coverage mode keep tables behind the block, not a ring buffer: every writer
// looks at the mode first, so that no record is ever reserved in a table, whatever the flags
// word holds at the moment. True when the point went to a table.
bool routedToTable(GTCB* cb, const Point& pt) {
    const Uint32 mode = cb->options.mode & 0x88u;
    if (__builtin_expect(mode != GTRACE_MODE_PROFILE && mode != GTRACE_MODE_COVERAGE, 1)) return false;
    if (mode == GTRACE_MODE_PROFILE) {
        if (pt.kind == Kind::Entry) profileEntry(cb, static_cast<Uint32>(pt.threadId), pt.functionId, pt.data2, 0);
        else if (pt.kind == Kind::Exit) profileExit(cb, static_cast<Uint32>(pt.threadId), pt.functionId, 0);
    } else if (pt.kind == Kind::Exit) {
        coverageExit(cb, pt.functionId, pt.data1, pt.data2);
    } else {
        coveragePoint(cb, pt.functionId, pt.probe, pt.type);
    }
    return true;
}

// Steps before the reservation that only run when a flag asks for them. True: write the record.
bool admit(GTCB* cb, Uint32 flags, const Point& pt, Uint64* timestamp) {
    if (flags & GTRACE_FILTER_FLAGS) {
        const Uint32 mode = cb->options.mode;
        if (!filter(cb, pt.type, pt.functionId, pt.probe, pt.threadId, timestamp)) return false;
        if (mode & GTRACE_MODE_RANDOM_SLEEP) {
            _gtraceRandSleep();
            return false;
        }
        if (pt.kind == Kind::Exit && (flags & GTRACE_FLAG_ERRORS_ONLY) && pt.result == 0) {
            return false;
        }
    }
    if (flags & GTRACE_FLAG_PRE_TRACE) {
        GTracePreTraceCallBack pre = g_state.preTraceCallBack;
        if (pre == nullptr) return false;
        if (pre(pt.callType, pt.functionId, pt.probe) != 0) return false;
    }
    return true;
}

// Stop condition and application callback.
void afterRecord(GTCB* cb, Uint32 flags, const Point& pt, Uint32 itemCount, va_list* cursor) {
    if (flags & GTRACE_FLAG_STOP) {
        bool hit;
        if (pt.kind == Kind::Exit) {
            hit = (flags & GTRACE_FLAG_STOP_ON_RC) && pt.result == cb->options.stopRcOrSleepPeriod;
        } else {
            hit = pt.stopCandidate && pt.type == GTRACE_TYPE_STOP_ERROR;
        }
        if (hit) {
            const Uint32 before = __atomic_fetch_add(&cb->stopCounter, 1u, __ATOMIC_SEQ_CST);
            if (before >= cb->options.stopCount) gtraceDisable();
        }
    }
    if (flags & GTRACE_FLAG_APP_CALLBACK) {
        if (GTraceAppCallBack app = g_state.appCallBack) {
            app(pt.callType, pt.functionId, pt.probe, const_cast<Uint32*>(pt.returnCode),
                itemCount, itemCount ? cursor : nullptr);
        }
    }
}

// Writes the head word by word: the 52 bytes of a one-slot record, plus the item count when
// the record is longer.
inline void fillHead(void* at, const Point& pt, Uint64 timestamp, Uint16 itemAreaLength,
                     Uint32 itemCount, bool withItemCount) {
    Uint32* w = static_cast<Uint32*>(at);
    w[0] = static_cast<Uint32>(timestamp);
    w[1] = static_cast<Uint32>(timestamp >> 32);
    w[2] = static_cast<Uint32>(pt.threadId);
    w[3] = static_cast<Uint32>(pt.threadId >> 32);
    w[4] = g_state.processId;
    w[5] = pt.functionId;
    w[6] = g_state.fixedData1;
    w[7] = g_state.fixedData2;
    w[8] = pt.type | (static_cast<Uint32>(pt.recordFlags) << 16);
    w[9] = pt.probe | (static_cast<Uint32>(itemAreaLength) << 16);
    w[10] = pt.data1;
    w[11] = pt.data2;
    w[12] = pt.result;
    if (withItemCount) w[13] = itemCount;
}
static_assert(offsetof(GTraceRecord, recordFlags) == 4 * 8 + 2 && offsetof(GTraceRecord, probe) == 4 * 9 &&
                  offsetof(GTraceRecord, itemAreaLength) == 4 * 9 + 2,
              "the head is written as 32-bit words");

// A record without items.
void writeFixed(const Point& pt) {
    GTCB* cb = __atomic_load_n(&g_pGTCB, __ATOMIC_ACQUIRE);
    if (cb == nullptr) return;  // detached since the caller looked
    if (routedToTable(cb, pt)) return;
    const Uint32 flags = cb->options.flags;
    Uint64 timestamp = 0;
    if ((flags & (GTRACE_FILTER_FLAGS | GTRACE_FLAG_PRE_TRACE)) && !admit(cb, flags, pt, &timestamp)) {
        return;
    }
    RamboControlBlock* ring = ringOf(cb);
    RingToken token;
    // The record is composed in the writer's memory, then published in one piece.
    // Zeros after the record: the seal covers the whole payload area of its slots.
    Uint32 rec[osse::rambo::payloadWords(2)] = {};
    const Uint32 bytes = pt.hasExtra ? kExtraPayload : kFixedPayload;
    fillHead(rec, pt, timestamp, 0, 0, pt.hasExtra);
    if (pt.hasExtra) {
        rec[kVarOffset / 4] = pt.extraLow;
        rec[kVarOffset / 4 + 1] = pt.extraHigh;
    }
    ringReserve(ring, bytes, &token);
    if (!osse::rambo::isSealed(ring)) {
        osse::rambo::publishPlain(ring, &token, rec, bytes);
    } else if (pt.hasExtra) {
        osse::rambo::publishWords<kExtraPayload / 4>(ring, &token, rec,
                                                     osse::rambo::sealOf(reinterpret_cast<const Uint8*>(rec), 2));
    } else {
        osse::rambo::publishWords<kFixedPayload / 4>(ring, &token, rec,
                                                     osse::rambo::sealOf(reinterpret_cast<const Uint8*>(rec), 1));
    }
    if (flags & GTRACE_AFTER_RECORD_FLAGS) afterRecord(cb, flags, pt, 0, nullptr);
}

// ---- Items -----------------------------------------------------------------------------------------
struct ItemPlan {
    Uint32 accepted;   // items stored
    Uint32 areaBytes;  // headers plus reserved item bytes
    Uint32 cutSize;    // size of the last accepted item when it was cut
    bool cut;
};

inline bool byValue(Uint32 kind) { return kind == GTRACE_ITEM_VALUE1 || kind == GTRACE_ITEM_VALUE2; }
// Bytes an item asks for: a value item holds at most its own 4-byte word.
inline Uint64 wanted(Uint32 kind, Uint32 size) {
    return byValue(kind) && size > 4 ? 4 : size;
}

// First walk: which items fit into `limit` bytes of item area.
ItemPlan planItems(Uint32 n, va_list ap, Uint32 limit) {
    ItemPlan plan{0, 0, 0, false};
    Uint64 used = 0;
    for (Uint32 i = 0; i < n; ++i) {
        const Uint32 kind = va_arg(ap, Uint32);
        const Uint32 size = va_arg(ap, Uint32);
        (void)va_arg(ap, uintptr_t);
        if (used + 8 > limit) break;
        const Uint64 need = 8 + wanted(kind, size);
        ++plan.accepted;
        if (used + need <= limit) {
            used += need;
            continue;
        }
        plan.cut = true;
        plan.cutSize = static_cast<Uint32>(limit - used - 8);
        used = limit;
        break;
    }
    plan.areaBytes = static_cast<Uint32>(used);
    return plan;
}

// The stored header of item i and the bytes it stores (none for a null pointer).
struct ItemOut {
    Uint32 header[2];
    const void* from;
    Uint32 n;
};
inline ItemOut itemOut(const ItemPlan& plan, Uint32 i, Uint32 kind, Uint32 size, uintptr_t arg,
                       const Uint32* word) {
    const bool cut = plan.cut && i + 1 == plan.accepted;
    ItemOut o;
    o.n = cut ? plan.cutSize : static_cast<Uint32>(wanted(kind, size));
    o.header[0] = cut ? GTRACE_ITEM_CUT : kind;
    o.header[1] = o.n;
    if (byValue(kind)) {
        o.from = word;
    } else if (arg == 0) {
        // Nothing stored: the next item's bytes follow the bytes stored so far, and this
        // item's reserved bytes stay unused at the end of the area.
        o.header[1] = GTRACE_ITEM_NULL_SIZE;
        o.n = 0;
        o.from = nullptr;
    } else {
        o.from = reinterpret_cast<const void*>(arg);
    }
    return o;
}

// Second walk: headers, then the item bytes back to back. With a sealer, the headers are
// stored in one walk and the bytes in another, so that both go to the seal in payload order,
// and the seal is taken from the writer's words and the caller's bytes, not from the ring.
void copyItems(Uint8* headers, const ItemPlan& plan, va_list ap, osse::rambo::Sealer* sealer,
               va_list bytesAp) {
    Uint8* bytes = headers + 8 * plan.accepted;
    for (Uint32 i = 0; i < plan.accepted; ++i) {
        const Uint32 kind = va_arg(ap, Uint32);
        const Uint32 size = va_arg(ap, Uint32);
        // The third argument is a pointer, or a value in the low 32 bits of its argument slot
        // (a slot is as wide as a pointer: on x86_64 the high half of a value's slot is
        // undefined and never read).
        const uintptr_t arg = va_arg(ap, uintptr_t);
        const Uint32 word = static_cast<Uint32>(arg);
        const ItemOut o = itemOut(plan, i, kind, size, arg, &word);
        if (sealer) {
            sealer->bytes(reinterpret_cast<const Uint8*>(o.header), sizeof o.header);
        } else if (o.n) {
            memcpy(bytes, o.from, o.n);
        }
        memcpy(headers + 8 * i, o.header, sizeof o.header);
        bytes += o.n;
    }
    if (!sealer) return;
    bytes = headers + 8 * plan.accepted;
    for (Uint32 i = 0; i < plan.accepted; ++i) {
        const Uint32 kind = va_arg(bytesAp, Uint32);
        const Uint32 size = va_arg(bytesAp, Uint32);
        const uintptr_t arg = va_arg(bytesAp, uintptr_t);
        const Uint32 word = static_cast<Uint32>(arg);
        const ItemOut o = itemOut(plan, i, kind, size, arg, &word);
        if (o.n == 0) continue;
        memcpy(bytes, o.from, o.n);
        sealer->bytes(static_cast<const Uint8*>(o.from), o.n);
        bytes += o.n;
    }
}

// The head, the extra words and the items of a record with items, stored at `p` as they are
// (the sealed ring's large records seal each piece as it is stored instead, below).
inline void composeVar(Uint8* p, const Point& pt, Uint64 timestamp, Uint32 extra, const ItemPlan& plan,
                       va_list ap) {
    fillHead(p, pt, timestamp, static_cast<Uint16>(extra + plan.areaBytes), plan.accepted, true);
    if (extra) {
        const Uint32 words[2] = {pt.extraLow, pt.extraHigh};
        memcpy(p + kVarOffset, words, sizeof words);
    }
    va_list walk;
    va_copy(walk, ap);
    copyItems(p + kVarOffset + extra, plan, walk, nullptr, walk);
    va_end(walk);
}

// Zeroes `vectors` times 16 bytes at `words` (16-aligned) with stores of a zero the compiler
// cannot see: it would turn them back into one string instruction, whose start-up costs about
// as much as a whole small record.
inline void zeroWithoutStringOp(Uint32* words, Uint32 vectors) {
#if defined(__SSE2__)
    typedef Uint32 Vec4 __attribute__((vector_size(16), may_alias));
    Vec4 zero = {0, 0, 0, 0};
    __asm__("" : "+x"(zero));
    for (Uint32 i = 0; i < vectors; ++i) reinterpret_cast<Vec4*>(words)[i] = zero;
#else
    Uint32 zero = 0;
    __asm__("" : "+r"(zero));
    for (Uint32 i = 0; i < 4 * vectors; ++i) words[i] = zero;
#endif
}

// A record with items (and, for _gtraceErrorRcVar, 8 extra bytes in front of them).
void writeVar(const Point& pt, Uint32 n, va_list ap) {
    GTCB* cb = __atomic_load_n(&g_pGTCB, __ATOMIC_ACQUIRE);
    if (cb == nullptr) return;  // detached since the caller looked
    if (routedToTable(cb, pt)) return;
    const Uint32 flags = cb->options.flags;
    Uint64 timestamp = 0;
    if ((flags & (GTRACE_FILTER_FLAGS | GTRACE_FLAG_PRE_TRACE)) && !admit(cb, flags, pt, &timestamp)) {
        return;
    }
    const Uint32 extra = pt.hasExtra ? 8 : 0;
    va_list walk;
    va_copy(walk, ap);
    const ItemPlan plan = planItems(n, walk, GTRACE_MAX_VAR_BYTES - extra);
    va_end(walk);

    RamboControlBlock* ring = ringOf(cb);
    RingToken token;
    const Uint32 payloadBytes = kVarOffset + extra + plan.areaBytes;
    const Uint32 k = osse::rambo::slotsFor(payloadBytes);
    // A small record on a sealed ring is composed in the writer's memory and copied into its
    // slots in one piece. It is sealed after the reservation: the locked add waits for the
    // composing stores to reach the cache, and the seal then reads them from there instead of
    // stalling on stores still in flight.
    if (osse::rambo::isSealed(ring) && k == 2) {
        // The common case, of a size known here: no call and no loop of unknown length.
        alignas(16) Uint32 rec[32];
        zeroWithoutStringOp(rec, 8);
        composeVar(reinterpret_cast<Uint8*>(rec), pt, timestamp, extra, plan, ap);
        ringReserve(ring, payloadBytes, &token);
        const Uint32 seal = osse::rambo::sealOf(reinterpret_cast<const Uint8*>(rec), 2);
        osse::rambo::publishWords<osse::rambo::payloadWords(2)>(ring, &token, rec, seal);
    } else if (osse::rambo::isSealed(ring) && k <= kLocalSlots) {
        alignas(16) Uint32 rec[osse::rambo::payloadWords(kLocalSlots) + 3];
        Uint8* q = reinterpret_cast<Uint8*>(rec);
        zeroWithoutStringOp(rec, 4 * k);  // the payload area, 16 k - 3 words
        composeVar(q, pt, timestamp, extra, plan, ap);
        ringReserve(ring, payloadBytes, &token);
        osse::rambo::publishArea(ring, &token, q);
    } else if (Uint8* p = static_cast<Uint8*>(ringReserve(ring, payloadBytes, &token));
               !osse::rambo::isSealed(ring)) {
        composeVar(p, pt, timestamp, extra, plan, ap);
        ringSync(ring, &token);
    } else if (osse::rambo::lapped(ring, &token)) {
        osse::rambo::dropLapped(ring, &token);
    } else {
        // Sealed: the head and extra words are composed here, items come from the caller's
        // memory; each piece is sealed from the writer's side as it is stored.
        Uint32 head[(kVarOffset + 8) / 4];
        fillHead(head, pt, timestamp, static_cast<Uint16>(extra + plan.areaBytes), plan.accepted, true);
        head[kVarOffset / 4] = pt.extraLow;
        head[kVarOffset / 4 + 1] = pt.extraHigh;
        memcpy(p, head, kVarOffset + extra);
        osse::rambo::Sealer sealer(token.slotCount);
        sealer.bytes(reinterpret_cast<const Uint8*>(head), kVarOffset + extra);
        va_list bytesWalk;
        va_copy(walk, ap);
        va_copy(bytesWalk, ap);
        copyItems(p + kVarOffset + extra, plan, walk, &sealer, bytesWalk);
        va_end(bytesWalk);
        va_end(walk);
        const Uint32 area = osse::rambo::payloadWords(token.slotCount) * 4;
        const Uint32 stored = sealer.words * 4 + sealer.pendingBytes;
        memset(p + stored, 0, area - stored);
        sealer.zerosTo(osse::rambo::payloadWords(token.slotCount));
        osse::rambo::storeEnds(ring, &token, ~token.sequence ^ sealer.value());
    }

    if (flags & GTRACE_AFTER_RECORD_FLAGS) {
        va_list cursor;
        va_copy(cursor, ap);
        afterRecord(cb, flags, pt, n, &cursor);
        va_end(cursor);
    }
}

Point point(Kind kind, Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 type, Uint32 probe) {
    Point pt;
    pt.kind = kind;
    pt.type = static_cast<Uint16>(type);
    pt.recordFlags = 0;
    pt.probe = static_cast<Uint16>(probe);
    pt.callType = type;
    pt.functionId = functionId;
    pt.threadId = tidOf(lo, hi);
    pt.data1 = pt.data2 = pt.result = 0;
    pt.hasExtra = false;
    pt.extraLow = pt.extraHigh = 0;
    pt.returnCode = nullptr;
    pt.stopCandidate = false;
    return pt;
}

Point markerPoint(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 probe, Uint32 type) {
    Point pt = point(Kind::Other, lo, hi, functionId, type, probe);
    if (type & GTRACE_MARKER_FLAG) pt.recordFlags = 2;
    return pt;
}

bool includedInMask(const GTCB* cb, Uint16 type, Uint32 functionId, Uint16 probe, Uint64 threadId) {
    const GTraceOptions& o = cb->options;
    const Uint32 flags = o.flags;
    if ((flags & GTRACE_FLAG_ERRORS_ONLY) && !isErrorClass(type)) return false;
    if (flags & GTRACE_FLAG_THREAD_FILTER) {
        Uint32 count = o.threadFilterCount;
        if (count > GTRACE_MAX_THREAD_FILTERS) count = GTRACE_MAX_THREAD_FILTERS;
        const Uint32 pid = g_state.processId;
        bool match = false;
        for (Uint32 i = 0; i < count && !match; ++i) {
            const GTraceThreadFilter& e = o.threadFilter[i];
            match = (e.flags & GTRACE_THREAD_FILTER_IN_USE) && e.processId == pid &&
                    (!(e.flags & GTRACE_THREAD_FILTER_THREAD) || e.threadId == threadId);
        }
        if (!match) return false;
    }
    if (flags & GTRACE_FLAG_FIXED_DATA2) {
        Uint32 count = o.fixedData2FilterCount;
        if (count > GTRACE_MAX_FIXED_DATA2) count = GTRACE_MAX_FIXED_DATA2;
        const Uint32 fd2 = g_state.fixedData2;
        bool match = false;
        for (Uint32 i = 0; i < count && !match; ++i) match = o.fixedData2Filter[i] == fd2;
        if (!match) return false;
    }
    if (flags & GTRACE_FLAG_POINT_BITMAPS) {
        const GTMask& m = o.pointBitmaps;
        const Uint32 c = ECF_FUNC_COMPONENT(functionId);
        const Uint32 f = ECF_FUNC_INDEX(functionId);
        // Function numbers beyond the bitmap never pass.
        return ((m.products >> ECF_FUNC_PRODUCT(functionId)) & 1u) && type < 16 &&
               ((m.recordTypes >> type) & 1u) && ((m.components[c >> 3] >> (c & 7)) & 1u) &&
               f < 4096 && ((m.functions[f >> 3] >> (f & 7)) & 1u) &&
               ((m.functionKinds >> ECF_FUNC_KIND(functionId)) & 1u);
    }
    if (flags & GTRACE_FLAG_TRACE_MASK) return o.traceMask.gtmIsElemInMask(functionId, type, probe);
    return true;
}

}  // namespace

extern "C" {

// ---- Filtering step ------------------------------------------------------------------------------------
// Without a bound block nothing passes (a process may detach while another thread is tracing).
bool gtraceIsTracePointIncludedInMask(Uint16 type, Uint32 functionId, Uint16 probe, Uint64 threadId) {
    const GTCB* cb = __atomic_load_n(&g_pGTCB, __ATOMIC_ACQUIRE);
    return cb != nullptr && includedInMask(cb, type, functionId, probe, threadId);
}

bool preOptions(Uint16 type, Uint32 functionId, Uint16 probe, Uint64 threadId, Uint64* timestamp) {
    const GTCB* cb = __atomic_load_n(&g_pGTCB, __ATOMIC_ACQUIRE);
    return cb != nullptr && filter(cb, type, functionId, probe, threadId, timestamp);
}

// ---- Fixed writers ---------------------------------------------------------------------------------------
void _gtraceEntry(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 data1, Uint32 data2) {
    GTCB* cb = __atomic_load_n(&g_pGTCB, __ATOMIC_ACQUIRE);
    if (__builtin_expect(cb == nullptr, 0)) return;  // detached since the caller looked
    const Uint32 flags = cb->options.flags;
    if (__builtin_expect((flags & (GTRACE_FILTER_FLAGS | GTRACE_FLAG_PRE_TRACE |
                                   GTRACE_AFTER_RECORD_FLAGS)) != 0 || isTableMode(cb->options.mode), 0)) {
        Point pt = point(Kind::Entry, lo, hi, functionId, GTRACE_TYPE_ENTRY, 0);
        pt.data1 = data1;
        pt.data2 = data2;
        writeFixed(pt);
        return;
    }
    // The common case: no filter, no callback. On a plain ring the 52 bytes of the record are
    // stored straight into the slot, word by word in the order of the layout; on a sealed one
    // they are composed first, so that the seal is taken from the writer's own words (while the
    // reservation's locked add is under way) and the lap check comes before any store.
    RamboControlBlock* ring = ringOf(cb);
    RingToken token;
    if (osse::rambo::isSealed(ring)) {
        using namespace osse::rambo;
        // The seal from the words in registers, before the locked add; nothing is stored before
        // it (a locked instruction waits for earlier stores to drain). Words 0, 1 (timestamp),
        // 9 and 12 are 0, word 8 is the type.
        const Uint32 pid = g_state.processId, fd1 = g_state.fixedData1, fd2 = g_state.fixedData2;
        const Uint32 seal = foldSeal(sealTerm(1, lo, hi) + sealTerm(2, pid, functionId) +
                                         sealTerm(3, fd1, fd2) + sealTerm(4, GTRACE_TYPE_ENTRY, 0) +
                                         sealTerm(5, data1, data2),
                                     1);
        Uint32* w = static_cast<Uint32*>(ringReserve(ring, kFixedPayload, &token));
        if (lapped(ring, &token)) {
            dropLapped(ring, &token);
            return;
        }
        w[0] = 0;
        w[1] = 0;
        w[2] = lo;
        w[3] = hi;
        w[4] = pid;
        w[5] = functionId;
        w[6] = fd1;
        w[7] = fd2;
        w[8] = GTRACE_TYPE_ENTRY;
        w[9] = 0;
        w[10] = data1;
        w[11] = data2;
        w[12] = 0;
        storeEnds(ring, &token, ~token.sequence ^ seal);
        return;
    }
    Uint32* w = static_cast<Uint32*>(ringReserve(ring, kFixedPayload, &token));
    w[0] = 0;  // timestamp
    w[1] = 0;
    w[2] = lo;
    w[3] = hi;
    w[4] = g_state.processId;
    w[5] = functionId;
    w[6] = g_state.fixedData1;
    w[7] = g_state.fixedData2;
    w[8] = GTRACE_TYPE_ENTRY;  // type 1, record flags 0
    w[9] = 0;                  // probe 0, no items
    w[10] = data1;
    w[11] = data2;
    w[12] = 0;                 // result
    ringSync(ring, &token);
}

void _gtraceExit(Uint32 lo, Uint32 hi, Uint32 functionId, const Uint32* returnCode, Uint32 data1,
                 Uint32 data2) {
    Point pt = point(Kind::Exit, lo, hi, functionId, GTRACE_TYPE_EXIT, 0);
    pt.result = returnCode ? *returnCode : 0;
    pt.returnCode = returnCode;
    pt.data1 = data1;
    pt.data2 = data2;
    writeFixed(pt);
}

void _gtraceMarker(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 probe, Uint32 type) {
    writeFixed(markerPoint(lo, hi, functionId, probe, type));
}

void _gtraceError(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 probe, Uint32 type, Uint32 data1,
                  Uint32 data2) {
    Point pt = point(Kind::Other, lo, hi, functionId, type, probe);
    pt.data1 = data1;
    pt.data2 = data2;
    pt.stopCandidate = true;
    writeFixed(pt);
}

void _gtraceErrorRc(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 probe, Uint32 type,
                    Uint32 data1, Uint32 data2, Uint32 returnCode, Uint32 extraLow,
                    Uint32 extraHigh) {
    Point pt = point(Kind::Other, lo, hi, functionId, type, probe);
    pt.data1 = data1;
    pt.data2 = data2;
    pt.result = returnCode;
    pt.hasExtra = true;
    pt.extraLow = extraLow;
    pt.extraHigh = extraHigh;
    writeFixed(pt);
}

void _gtraceErrorTrans(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 probe, Uint32 data1,
                       Uint32 data2, Uint32 extraLow, Uint32 extraHigh) {
    Point pt = point(Kind::ErrorTrans, lo, hi, functionId, GTRACE_TYPE_ERROR_TRANS, probe);
    pt.data1 = data1;
    pt.data2 = data2;
    pt.hasExtra = true;
    pt.extraLow = extraLow;
    pt.extraHigh = extraHigh;
    writeFixed(pt);
}

// ---- Writers with items -------------------------------------------------------------------------------------
void _gtraceEntryVar(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 data1, Uint32 data2,
                     Uint32 itemCount, ...) {
    Point pt = point(Kind::Entry, lo, hi, functionId, GTRACE_TYPE_ENTRY, 0);
    pt.data1 = data1;
    pt.data2 = data2;
    va_list ap;
    va_start(ap, itemCount);
    writeVar(pt, itemCount, ap);
    va_end(ap);
}

void _gtraceExitVar(Uint32 lo, Uint32 hi, Uint32 functionId, const Uint32* returnCode,
                    Uint32 data1, Uint32 data2, Uint32 itemCount, ...) {
    Point pt = point(Kind::Exit, lo, hi, functionId, GTRACE_TYPE_EXIT, 0);
    pt.result = returnCode ? *returnCode : 0;
    pt.returnCode = returnCode;
    pt.data1 = data1;
    pt.data2 = data2;
    va_list ap;
    va_start(ap, itemCount);
    writeVar(pt, itemCount, ap);
    va_end(ap);
}

void _gtraceMarkerVar(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 probe, Uint32 type,
                      Uint32 itemCount, ...) {
    const Point pt = markerPoint(lo, hi, functionId, probe, type);
    va_list ap;
    va_start(ap, itemCount);
    writeVar(pt, itemCount, ap);
    va_end(ap);
}

void _gtraceVar(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 probe, Uint32 type,
                Uint32 itemCount, ...) {
    const Point pt = point(Kind::Other, lo, hi, functionId, type, probe);
    va_list ap;
    va_start(ap, itemCount);
    writeVar(pt, itemCount, ap);
    va_end(ap);
}

void _gtraceErrorVar(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 probe, Uint32 type,
                     Uint32 data1, Uint32 data2, Uint32 itemCount, ...) {
    Point pt = point(Kind::Other, lo, hi, functionId, type, probe);
    pt.data1 = data1;
    pt.data2 = data2;
    pt.stopCandidate = true;
    va_list ap;
    va_start(ap, itemCount);
    writeVar(pt, itemCount, ap);
    va_end(ap);
}

void _gtraceErrorRcVar(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 probe, Uint32 type,
                       Uint32 data1, Uint32 data2, Uint32 returnCode, Uint32 extraLow,
                       Uint32 extraHigh, Uint32 itemCount, ...) {
    Point pt = point(Kind::Other, lo, hi, functionId, type, probe);
    pt.data1 = data1;
    pt.data2 = data2;
    pt.result = returnCode;
    pt.hasExtra = true;
    pt.extraLow = extraLow;
    pt.extraHigh = extraHigh;
    va_list ap;
    va_start(ap, itemCount);
    writeVar(pt, itemCount, ap);
    va_end(ap);
}

void _gtraceCorrelatorVar(Uint32 lo, Uint32 hi, Uint32 functionId, Uint32 probe,
                          Uint32 correlator, Uint32 data1, Uint32 data2, Uint32 itemCount, ...) {
    Point pt = point(Kind::Correlator, lo, hi, functionId, GTRACE_TYPE_CORRELATOR, probe);
    pt.data1 = data1;
    pt.data2 = data2;
    pt.result = correlator;
    va_list ap;
    va_start(ap, itemCount);
    writeVar(pt, itemCount, ap);
    va_end(ap);
}

void _gtraceEvent(Uint32, Uint32, Uint32, ...) {}
void _gtraceEventVar(Uint32, Uint32, Uint32, ...) {}

}  // extern "C"
