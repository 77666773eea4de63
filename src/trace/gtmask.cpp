// The trace mask: a hierarchy of bitmaps (product, component by global index, function, record
// type) and a hashed table of single trace points, all inside the shared trace options.
#include "trace/gtrace_internal.h"

#include <string.h>

namespace {

constexpr Uint32 kAll = GTM_ALL;
constexpr Uint32 kFunctionBits = 4096;
constexpr Uint32 kKindBits = 0x70000u;
// Record types that a point entry can exclude (group A) and that replication adds for
// functions with point entries (groups A and B).
constexpr Uint16 kGroupA = (1u << 3) | (1u << 4) | (1u << 5) | (1u << 11) | (1u << 13) | (1u << 15);
constexpr Uint16 kGroupB = (1u << 6) | (1u << 7) | (1u << 8) | (1u << 9) | (1u << 10);

inline bool testBit(const Uint8* bits, Uint32 n) { return (bits[n >> 3] >> (n & 7)) & 1u; }
inline void setBit(Uint8* bits, Uint32 n) { bits[n >> 3] |= static_cast<Uint8>(1u << (n & 7)); }
inline void clearBit(Uint8* bits, Uint32 n) {
    bits[n >> 3] &= static_cast<Uint8>(~(1u << (n & 7)));
}
inline bool allZero(const Uint8* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i]) return false;
    }
    return true;
}

// Components of every product share one range of global indices.
Uint32 productBase(Uint32 p) { return p == 1 ? 1 : p == 2 ? 33 : p == 3 ? 65 : 0; }
Uint32 productCapacity(Uint32 p) { return p == 1 || p == 2 ? 32 : p == 3 ? 256 : 0; }
// Global index of component c of product p; 0 when the pair has no place in the mask (a
// component beyond its product's capacity would otherwise land in the next product's range).
Uint32 globalIndex(Uint32 p, Uint32 c) {
    return c < productCapacity(p) ? productBase(p) + c : 0;
}

inline Uint32 pointId(Uint32 functionId) { return functionId & ~kKindBits; }
inline Uint32 makeId(Uint32 p, Uint32 c, Uint32 f) { return (p << 27) | (c << 19) | f; }
inline Uint32 bucketOf(Uint32 id) { return (id & 0x3FFu) + 1; }

// Process-wide cursor of gtmScanPointsHash.
Uint32 g_scanCursor = 0;
bool g_scanStarted = false;

// ---- Point table ----------------------------------------------------------------------------------
// The table lives in shared memory that other programs write: every walk stays inside the table
// and ends after as many steps as there are entries, whatever the links say.
struct Points {
    GTMPointTable& t;

    Uint16& head(Uint32 bucket) { return t.chainHeads[bucket - 1]; }
    static bool valid(Uint32 i) { return i != 0 && i < GTM_POINT_ENTRIES; }

    Uint32 find(Uint32 id, Uint16 probe) const {
        Uint32 i = t.chainHeads[bucketOf(id) - 1];
        for (Uint32 steps = 0; valid(i) && steps < GTM_POINT_ENTRIES; ++steps, i = t.entries[i].next) {
            if (t.entries[i].functionId == id && t.entries[i].probe == probe) return i;
        }
        return 0;
    }
    bool anyFor(Uint32 id) const {
        if (t.used == 0) return false;
        Uint32 i = t.chainHeads[bucketOf(id) - 1];
        for (Uint32 steps = 0; valid(i) && steps < GTM_POINT_ENTRIES; ++steps, i = t.entries[i].next) {
            if (t.entries[i].functionId == id) return true;
        }
        return false;
    }
    bool insert(Uint32 id, Uint16 probe, Uint32 flags, Uint32 data) {
        const Uint32 i = t.firstFree;
        if (!valid(i)) return false;
        GTMPoint& e = t.entries[i];
        t.firstFree = e.next;
        e.flags = flags;
        e.data = data;
        e.functionId = id;
        e.probe = probe;
        Uint16& h = head(bucketOf(id));
        e.next = h;
        h = static_cast<Uint16>(i);
        ++t.used;
        if (flags & GTM_POINT_EXCLUDED) ++t.excluded;
        return true;
    }
    // Unlinks entry i of its chain and returns it to the free list.
    void release(Uint32 i) {
        GTMPoint& e = t.entries[i];
        Uint16* link = &head(bucketOf(e.functionId));
        for (Uint32 steps = 0; *link != i; ++steps) {
            if (!valid(*link) || steps >= GTM_POINT_ENTRIES) return;  // not in its chain
            link = &t.entries[*link].next;
        }
        *link = e.next;
        --t.used;
        if (e.flags & GTM_POINT_EXCLUDED) --t.excluded;
        memset(&e, 0, sizeof e);
        e.next = t.firstFree;
        t.firstFree = static_cast<Uint16>(i);
    }
    bool remove(Uint32 id, Uint16 probe) {
        const Uint32 i = find(id, probe);
        if (i == 0) return false;
        release(i);
        return true;
    }
    void removeAllFor(Uint32 id) {
        Uint32 i = t.chainHeads[bucketOf(id) - 1];
        for (Uint32 steps = 0; valid(i) && steps < GTM_POINT_ENTRIES; ++steps) {
            const Uint32 next = t.entries[i].next;
            if (t.entries[i].functionId == id) release(i);
            i = next;
        }
    }
    static bool ofComponent(Uint32 id, Uint32 p, Uint32 c) {
        return id != 0 && ECF_FUNC_PRODUCT(id) == p && ECF_FUNC_COMPONENT(id) == c;
    }
    bool anyForComponent(Uint32 p, Uint32 c) const {
        if (t.used == 0) return false;
        for (Uint32 i = 1; i < GTM_POINT_ENTRIES; ++i) {
            if (ofComponent(t.entries[i].functionId, p, c)) return true;
        }
        return false;
    }
    void removeAllForComponent(Uint32 p, Uint32 c) {
        if (t.used == 0) return;
        for (Uint32 i = 1; i < GTM_POINT_ENTRIES; ++i) {
            if (ofComponent(t.entries[i].functionId, p, c)) release(i);
        }
    }
};

}  // namespace

// ---- Construction ------------------------------------------------------------------------------------
void GTM_TRC_MASK::constructor() {
    memset(&points, 0, sizeof points);
    for (Uint32 i = 1; i < GTM_POINT_ENTRIES - 1; ++i) {
        points.entries[i].next = static_cast<Uint16>(i + 1);
    }
    points.firstFree = 1;
}

bool GTM_TRC_MASK::gtmClearMask() {
    memset(componentBits, 0, sizeof componentBits);
    memset(blocks, 0, sizeof blocks);
    productBits = 0;
    padding = 0;
    constructor();
    return true;
}

// ---- Setting ----------------------------------------------------------------------------------------
namespace {

void setTypes(GTMComponentBlock& b, Uint32 e) {
    if (e == kAll) b.recordTypes = 0xFFFF;
    else if (e < 16) b.recordTypes |= static_cast<Uint16>(1u << e);
}

void setProduct(GTM_TRC_MASK& m, Uint32 p) {
    if (p < 32) m.productBits |= 1u << p;
}

}  // namespace

bool GTM_TRC_MASK::gtmSetMask(Uint32 p, Uint32 c, Uint32 f, Uint32 e, Uint32 flags, Uint64 data) {
    if (flags & GTM_FLAG_POINT) {
        if (p == kAll) return true;
        setProduct(*this, p);
        if (c == kAll) return true;
        const Uint32 g = globalIndex(p, c);
        if (g == 0) return true;
        setBit(componentBits, g);
        if (f == kAll) return true;
        if (f < kFunctionBits) setBit(blocks[g].functions, f);
        Points pts{points};
        const Uint32 id = makeId(p, c, f & 0xFFFFu);
        const Uint16 probe = static_cast<Uint16>(e);
        if (pts.find(id, probe) != 0) return true;
        return pts.insert(id, probe, static_cast<Uint32>(data), static_cast<Uint32>(data >> 32));
    }

    if (p == kAll) {
        productBits = 0xFFFFFFFFu;
        for (Uint32 g = 1; g < GTM_COMPONENTS; ++g) {
            setBit(componentBits, g);
            memset(blocks[g].functions, 0xFF, sizeof blocks[g].functions);
            setTypes(blocks[g], e);
        }
        return true;
    }
    setProduct(*this, p);
    if (c == kAll) {
        for (Uint32 cc = 0; cc < productCapacity(p); ++cc) {
            const Uint32 g = globalIndex(p, cc);
            setBit(componentBits, g);
            memset(blocks[g].functions, 0xFF, sizeof blocks[g].functions);
            setTypes(blocks[g], e);
        }
        return true;
    }
    const Uint32 g = globalIndex(p, c);
    if (g == 0) return true;
    setBit(componentBits, g);
    if (f == kAll) memset(blocks[g].functions, 0xFF, sizeof blocks[g].functions);
    else if (f < kFunctionBits) setBit(blocks[g].functions, f);
    setTypes(blocks[g], e);
    return true;
}

// ---- Removing -------------------------------------------------------------------------------------
namespace {

bool hasFunctionsOtherThan(const GTMComponentBlock& b, Uint32 f) {
    for (Uint32 i = 0; i < sizeof b.functions; ++i) {
        Uint8 byte = b.functions[i];
        if (f < kFunctionBits && (f >> 3) == i) byte &= static_cast<Uint8>(~(1u << (f & 7)));
        if (byte) return true;
    }
    return false;
}

// Drops the levels that nothing keeps alive any more: the function f (when given), then the
// component, then the product.
void clearEmptyLevels(GTM_TRC_MASK& m, Uint32 p, Uint32 c, Uint32 g, Uint32 f) {
    GTMComponentBlock& b = m.blocks[g];
    Points pts{m.points};
    if (f != kAll && f < kFunctionBits && b.recordTypes == 0 &&
        !pts.anyFor(makeId(p, c, f))) {
        clearBit(b.functions, f);
    }
    if (allZero(b.functions, sizeof b.functions)) clearBit(m.componentBits, g);
    const Uint32 base = productBase(p);
    for (Uint32 i = 0; i < productCapacity(p); ++i) {
        if (testBit(m.componentBits, base + i)) return;
    }
    if (p < 32) m.productBits &= ~(1u << p);
}

// Removal within one component: function f or all of them, record type e or all of them.
void removeFromComponent(GTM_TRC_MASK& m, Uint32 p, Uint32 c, Uint32 f, Uint32 e) {
    const Uint32 g = globalIndex(p, c);
    if (g == 0) return;
    GTMComponentBlock& b = m.blocks[g];
    Points pts{m.points};
    if (f != kAll && hasFunctionsOtherThan(b, f)) {
        // Record types belong to the whole component: only the function itself goes.
        if (e == kAll) {
            pts.removeAllFor(makeId(p, c, f & 0xFFFFu));
            if (f < kFunctionBits) clearBit(b.functions, f);
        }
    } else if (e == kAll) {
        b.recordTypes = 0;
        pts.removeAllForComponent(p, c);
    } else if (e < 16) {
        b.recordTypes &= static_cast<Uint16>(~(1u << e));
    }
    if (f == kAll && b.recordTypes == 0 && !pts.anyForComponent(p, c)) {
        memset(b.functions, 0, sizeof b.functions);
        clearBit(m.componentBits, g);
    }
    clearEmptyLevels(m, p, c, g, f);
}

}  // namespace

bool GTM_TRC_MASK::gtmDelMask(Uint32 p, Uint32 c, Uint32 f, Uint32 e, Uint32 flags) {
    if (flags & GTM_FLAG_POINT) {
        // A point needs all three levels.
        if (p == kAll || c == kAll || f == kAll) return true;
        const Uint32 g = globalIndex(p, c);
        if (g == 0) return true;
        Points pts{points};
        const Uint32 id = makeId(p, c, f & 0xFFFFu);
        const Uint16 probe = static_cast<Uint16>(e);
        if (!pts.remove(id, probe) && p < 32 && ((productBits >> p) & 1u) &&
            testBit(componentBits, g) && f < kFunctionBits && testBit(blocks[g].functions, f) &&
            (blocks[g].recordTypes & kGroupA) != 0) {
            // Switched on by its record type: keep it out with an exclusion entry.
            pts.insert(id, probe, GTM_POINT_EXCLUDED, 0);
        }
        clearEmptyLevels(*this, p, c, g, f);
        return true;
    }
    // Every component the mask can hold, not only those the name tables know, so that removing
    // "all" undoes what setting "all" did.
    if (p == kAll) {
        for (Uint32 pp = 1; pp <= 3; ++pp) {
            for (Uint32 cc = 0; cc < productCapacity(pp); ++cc) {
                removeFromComponent(*this, pp, cc, kAll, e);
            }
        }
        // Products without a place for components keep no bit once nothing is left below them.
        if (e == kAll) {
            for (Uint32 pp = 0; pp < 32; ++pp) {
                if (productCapacity(pp) == 0) productBits &= ~(1u << pp);
            }
        }
        return true;
    }
    if (c == kAll) {
        for (Uint32 cc = 0; cc < productCapacity(p); ++cc) removeFromComponent(*this, p, cc, kAll, e);
        return true;
    }
    removeFromComponent(*this, p, c, f, e);
    return true;
}

// ---- Tests ----------------------------------------------------------------------------------------
bool GTM_TRC_MASK::gtmIsElemInMask(Uint32 functionId, Uint32 type, Uint32 probe) const {
    const Uint32 p = ECF_FUNC_PRODUCT(functionId);
    if (((productBits >> p) & 1u) == 0) return false;
    const Uint32 g = globalIndex(p, ECF_FUNC_COMPONENT(functionId));
    if (g == 0 || !testBit(componentBits, g)) return false;
    const Uint32 f = ECF_FUNC_INDEX(functionId);
    if (f >= kFunctionBits || !testBit(blocks[g].functions, f)) return false;

    Points pts{const_cast<GTMPointTable&>(points)};
    const bool typeOn = type < 16 && ((blocks[g].recordTypes >> type) & 1u);
    if (typeOn) {
        if (((kGroupA >> type) & 1u) && points.excluded != 0) {
            const Uint32 i = pts.find(pointId(functionId), static_cast<Uint16>(probe));
            if (i != 0 && (points.entries[i].flags & GTM_POINT_EXCLUDED)) return false;
        }
        return true;
    }
    if (points.used == 0) return false;
    // A point entry switches one probe on; an exclusion entry never does.
    const Uint32 i = pts.find(pointId(functionId), static_cast<Uint16>(probe));
    return i != 0 && (points.entries[i].flags & GTM_POINT_EXCLUDED) == 0;
}

bool GTM_TRC_MASK::gtmIsCompInMask(Uint32 p, Uint32 c) const {
    const Uint32 g = globalIndex(p, c);
    return g != 0 && testBit(componentBits, g);
}

bool GTM_TRC_MASK::gtmIsFuncInMask(Uint32 p, Uint32 c, Uint32 f) const {
    const Uint32 g = globalIndex(p, c);
    return g != 0 && f < kFunctionBits && testBit(blocks[g].functions, f);
}

bool GTM_TRC_MASK::gtmIsTypeInMask(Uint32 p, Uint32 c, Uint32 t) const {
    const Uint32 g = globalIndex(p, c);
    return g != 0 && t < 16 && ((blocks[g].recordTypes >> t) & 1u);
}

bool GTM_TRC_MASK::gtmIsProdMaskFull() const { return productBits == 0xFFFFFFFFu; }

bool GTM_TRC_MASK::gtmIsCompMaskFull(Uint32 p) const {
    const Uint32 components = ecfGetNumComponents(p);
    for (Uint32 c = 1; c < components; ++c) {
        if (!gtmIsCompInMask(p, c)) return false;
    }
    return true;
}

bool GTM_TRC_MASK::gtmIsFuncMaskFull(Uint32 p, Uint32 c) const {
    const Uint32 g = globalIndex(p, c);
    if (g == 0) return false;
    for (Uint8 byte : blocks[g].functions) {
        if (byte != 0xFF) return false;
    }
    return true;
}

bool GTM_TRC_MASK::gtmIsTypeMaskFull(Uint32 p, Uint32 c) const {
    const Uint32 g = globalIndex(p, c);
    return g != 0 && blocks[g].recordTypes == 0xFFFF;
}

bool GTM_TRC_MASK::gtmScanPointsHash(Uint32* functionId, Uint64* data, Uint16* probe) {
    if (g_scanStarted) ++g_scanCursor;
    g_scanStarted = true;
    for (; g_scanCursor < GTM_POINT_ENTRIES; ++g_scanCursor) {
        const GTMPoint& e = points.entries[g_scanCursor];
        if (e.functionId == 0) continue;
        if (functionId) *functionId = e.functionId;
        if (data) *data = (static_cast<Uint64>(e.data) << 32) | e.flags;
        if (probe) *probe = e.probe;
        return true;
    }
    return false;
}

// ---- Flattening -------------------------------------------------------------------------------------
void GTM_TRC_MASK::gtmReplicateMask(GTMask* out) const {
    if (out == nullptr) return;
    Points pts{const_cast<GTMPointTable&>(points)};
    Uint16 types = 0;
    const Uint32 products = ecfGetNumProducts();
    for (Uint32 p = 1; p <= products && p < 32; ++p) {
        if (((productBits >> p) & 1u) == 0) continue;
        out->products |= 1u << p;
        // Every component and function that has a bit, whether or not the name tables know it,
        // so that the flat filter is never narrower than the mask.
        for (Uint32 c = 0; c < productCapacity(p); ++c) {
            const Uint32 g = globalIndex(p, c);
            if (!testBit(componentBits, g)) continue;
            setBit(out->components, c);
            const GTMComponentBlock& b = blocks[g];
            for (Uint32 f = 0; f < kFunctionBits; ++f) {
                if (b.functions[f >> 3] == 0) {
                    f |= 7;
                    continue;
                }
                if (!testBit(b.functions, f)) continue;
                setBit(out->functions, f);
                if (pts.anyFor(makeId(p, c, f))) types |= kGroupA | kGroupB;
            }
            types |= b.recordTypes & 0xFFFEu;
        }
    }
    if (types != 0) {
        out->recordTypes |= types;
        out->functionKinds = 0xFF;
    }
}
