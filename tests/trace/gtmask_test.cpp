// The trace mask: setting, removing, membership, exclusions, the point table and flattening.
#include "trace_fixture.h"

using namespace tracetest;

namespace {

const Uint32 kAll = GTM_ALL;
const Uint32 kClose = 0x081A0003;  // product 1, component 3, kind 2, function 3

std::unique_ptr<GTM_TRC_MASK> newMask() {
    std::unique_ptr<GTM_TRC_MASK> m(new GTM_TRC_MASK);
    memset(static_cast<void*>(m.get()), 0xEE, sizeof *m);  // constructing must not rely on zeroed memory for the table
    m->gtmClearMask();
    return m;
}

}  // namespace

TEST(GTraceMask, EmptyMaskLetsNothingPass) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    for (Uint32 type : {0u, 1u, 2u, 4u, 15u}) {
        EXPECT_FALSE(m->gtmIsElemInMask(kClose, type, 0));
        EXPECT_FALSE(m->gtmIsElemInMask(0x18100001, type, 7));
    }
    EXPECT_EQ(m->points.firstFree, 1u);
    EXPECT_EQ(m->points.entries[1999].next, 0u);
    EXPECT_EQ(m->points.used, 0u);
}

TEST(GTraceMask, RecordTypesSwitchWholeTypesOnForAFunction) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    EXPECT_TRUE(m->gtmSetMask(1, 3, 3, 1, 0, 0));
    EXPECT_TRUE(m->gtmIsElemInMask(kClose, 1, 0));
    EXPECT_TRUE(m->gtmIsElemInMask(kClose, 1, 99));
    EXPECT_FALSE(m->gtmIsElemInMask(kClose, 2, 0));
    EXPECT_FALSE(m->gtmIsElemInMask(kClose + 1, 1, 0));
    EXPECT_FALSE(m->gtmIsElemInMask(0x10000000 | (3u << 19) | 3, 1, 0)) << "product 2";
    EXPECT_TRUE(m->gtmIsCompInMask(1, 3));
    EXPECT_TRUE(m->gtmIsFuncInMask(1, 3, 3));
    EXPECT_TRUE(m->gtmIsTypeInMask(1, 3, 1));
    EXPECT_FALSE(m->gtmIsTypeInMask(1, 3, 2));
    // The mask stores the global component index base(product) + component.
    EXPECT_TRUE((m->componentBits[(1 + 3) / 8] >> ((1 + 3) % 8)) & 1);
}

TEST(GTraceMask, ComponentsBeyondTheirProductsCapacityAreIgnored) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    // Component 40 of product 1 would share global index 41 with component 8 of product 2.
    m->gtmSetMask(1, 40, 3, 1, 0, 0);
    m->gtmSetMask(1, 40, 3, 9, GTM_FLAG_POINT, 0);
    EXPECT_FALSE(m->gtmIsElemInMask((2u << 27) | (8u << 19) | 3, 1, 0));
    EXPECT_FALSE(m->gtmIsElemInMask((1u << 27) | (40u << 19) | 3, 1, 0));
    EXPECT_EQ(m->points.used, 0u);
}

TEST(GTraceMask, PointEntriesSwitchSingleProbesOnAndExclusionsOff) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    EXPECT_TRUE(m->gtmSetMask(1, 3, 3, 40, GTM_FLAG_POINT, 0));
    EXPECT_TRUE(m->gtmIsCompInMask(1, 3));
    EXPECT_TRUE(m->gtmIsFuncInMask(1, 3, 3));
    EXPECT_FALSE(m->gtmIsTypeInMask(1, 3, 4));
    EXPECT_TRUE(m->gtmIsElemInMask(kClose, 4, 40));
    EXPECT_TRUE(m->gtmIsElemInMask(kClose & ~0x70000u, 4, 40)) << "kind bits do not count";
    EXPECT_FALSE(m->gtmIsElemInMask(kClose, 4, 41));
    EXPECT_TRUE(m->gtmSetMask(1, 3, 3, 40, GTM_FLAG_POINT, 0)) << "already present";
    EXPECT_EQ(m->points.used, 1u);

    // Type 4 switched on for the component: removing a point it includes leaves an exclusion.
    m->gtmSetMask(1, 3, 3, 4, 0, 0);
    m->gtmDelMask(1, 3, 3, 40, GTM_FLAG_POINT);  // the point entry goes
    EXPECT_EQ(m->points.used, 0u);
    EXPECT_TRUE(m->gtmIsElemInMask(kClose, 4, 40));
    m->gtmDelMask(1, 3, 3, 40, GTM_FLAG_POINT);  // now an exclusion comes
    EXPECT_EQ(m->points.used, 1u);
    EXPECT_EQ(m->points.excluded, 1u);
    EXPECT_FALSE(m->gtmIsElemInMask(kClose, 4, 40));
    EXPECT_TRUE(m->gtmIsElemInMask(kClose, 4, 41));
    // Exclusions apply to group A types only.
    m->gtmSetMask(1, 3, 3, 6, 0, 0);
    EXPECT_TRUE(m->gtmIsElemInMask(kClose, 6, 40));
    // An exclusion never switches a probe on, even once its type is off.
    m->gtmDelMask(1, 3, 3, 4, 0);
    EXPECT_FALSE(m->gtmIsTypeInMask(1, 3, 4));
    EXPECT_FALSE(m->gtmIsElemInMask(kClose, 4, 40));
    EXPECT_FALSE(m->gtmIsElemInMask(kClose, 4, 41));
}

TEST(GTraceMask, AllEverywhereFillsEveryLevel) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    m->gtmSetMask(kAll, 0, 0, kAll, 0, 0);
    EXPECT_TRUE(m->gtmIsProdMaskFull());
    for (Uint32 p = 1; p <= ecfGetNumProducts(); ++p) {
        EXPECT_TRUE(m->gtmIsCompMaskFull(p)) << p;
        for (Uint32 c = 1; c < ecfGetNumComponents(p); ++c) {
            EXPECT_TRUE(m->gtmIsTypeMaskFull(p, c)) << p << "/" << c;
            EXPECT_TRUE(m->gtmIsFuncMaskFull(p, c)) << p << "/" << c;
        }
    }
    EXPECT_TRUE(m->gtmIsElemInMask((3u << 27) | (200u << 19) | 4095, 15, 0));
    m->gtmDelMask(kAll, 0, 0, kAll, 0);
    EXPECT_EQ(m->productBits, 0u);
    for (Uint8 b : m->componentBits) EXPECT_EQ(b, 0);
    EXPECT_FALSE(m->gtmIsElemInMask(kClose, 1, 0));
}

TEST(GTraceMask, TypeAndComponentWideSetsAndOutOfRangeValues) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    m->gtmSetMask(1, kAll, 0, 2, 0, 0);   // every component of product 1, type 2
    EXPECT_TRUE(m->gtmIsCompMaskFull(1));
    EXPECT_FALSE(m->gtmIsCompMaskFull(2));
    EXPECT_TRUE(m->gtmIsElemInMask((1u << 27) | (31u << 19) | 4095, 2, 0));
    EXPECT_FALSE(m->gtmIsElemInMask((1u << 27) | (31u << 19) | 4095, 1, 0));
    m->gtmSetMask(2, 5, kAll, kAll, 0, 0);  // every function and type of one component
    EXPECT_TRUE(m->gtmIsFuncMaskFull(2, 5));
    EXPECT_TRUE(m->gtmIsTypeMaskFull(2, 5));
    EXPECT_FALSE(m->gtmIsFuncMaskFull(2, 6));
    // Types of 16 and more and functions of 4,096 and more are ignored.
    m->gtmSetMask(3, 7, 5000, 16, 0, 0);
    EXPECT_TRUE(m->gtmIsCompInMask(3, 7));
    EXPECT_FALSE(m->gtmIsFuncInMask(3, 7, 5000));
    EXPECT_EQ(m->blocks[65 + 7].recordTypes, 0u);
    EXPECT_FALSE(m->gtmIsElemInMask((3u << 27) | (7u << 19) | 5000, 16, 0));
}

TEST(GTraceMask, RemovingClearsLevelsThatNothingKeepsAlive) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    m->gtmSetMask(1, 3, 3, 1, 0, 0);
    m->gtmSetMask(1, 3, 4, 1, 0, 0);
    m->gtmSetMask(1, 3, 4, 70, GTM_FLAG_POINT, 0);
    m->gtmSetMask(1, 3, 3, 71, GTM_FLAG_POINT, 0);

    // Another function remains: type 1 stays for the component, function 3 and its points go.
    m->gtmDelMask(1, 3, 3, kAll, 0);
    EXPECT_FALSE(m->gtmIsFuncInMask(1, 3, 3));
    EXPECT_TRUE(m->gtmIsFuncInMask(1, 3, 4));
    EXPECT_EQ(m->points.used, 1u);
    EXPECT_TRUE(m->gtmIsTypeInMask(1, 3, 1));

    // A single type with other functions present changes nothing.
    m->gtmSetMask(1, 3, 5, 2, 0, 0);
    m->gtmDelMask(1, 3, 4, 2, 0);
    EXPECT_TRUE(m->gtmIsTypeInMask(1, 3, 2));
    m->gtmDelMask(1, 3, 5, kAll, 0);

    // The last function: the types and all points of the component go, then every level.
    m->gtmDelMask(1, 3, 4, kAll, 0);
    EXPECT_EQ(m->points.used, 0u);
    EXPECT_FALSE(m->gtmIsFuncInMask(1, 3, 4));
    EXPECT_FALSE(m->gtmIsCompInMask(1, 3));
    EXPECT_EQ(m->productBits, 0u);

    // Removing the last point of a function without types clears it too.
    m->gtmSetMask(2, 1, 9, 5, GTM_FLAG_POINT, 0);
    m->gtmDelMask(2, 1, 9, 5, GTM_FLAG_POINT);
    EXPECT_EQ(m->points.used, 0u);
    EXPECT_FALSE(m->gtmIsCompInMask(2, 1));
    EXPECT_EQ(m->productBits, 0u);

    // Component-wide removal of one type keeps the others.
    m->gtmSetMask(1, kAll, 0, kAll, 0, 0);
    m->gtmDelMask(1, kAll, 0, 4, 0);
    EXPECT_FALSE(m->gtmIsTypeInMask(1, 3, 4));
    EXPECT_TRUE(m->gtmIsTypeInMask(1, 3, 5));
    m->gtmDelMask(1, kAll, 0, kAll, 0);
    EXPECT_EQ(m->productBits, 0u);
}

TEST(GTraceMask, PointTableHolds1999Points) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    for (Uint32 i = 0; i < 1999; ++i) {
        ASSERT_TRUE(m->gtmSetMask(1, 3, i % 4096, i, GTM_FLAG_POINT, 0)) << i;
    }
    EXPECT_EQ(m->points.used, 1999u);
    EXPECT_EQ(m->points.firstFree, 0u);
    EXPECT_FALSE(m->gtmSetMask(1, 3, 5, 5000, GTM_FLAG_POINT, 0));
    EXPECT_FALSE(m->gtmIsElemInMask((1u << 27) | (3u << 19) | 5, 4, 5000));
    // Every point is found again through its chain.
    for (Uint32 i = 0; i < 1999; i += 97) {
        EXPECT_TRUE(m->gtmIsElemInMask((1u << 27) | (3u << 19) | (i % 4096), 4, i)) << i;
    }
    // A freed entry is used again.
    m->gtmDelMask(1, 3, 7, 7, GTM_FLAG_POINT);
    EXPECT_EQ(m->points.used, 1998u);
    EXPECT_TRUE(m->gtmSetMask(1, 3, 5, 5000, GTM_FLAG_POINT, 0));
    EXPECT_TRUE(m->gtmIsElemInMask((1u << 27) | (3u << 19) | 5, 4, 5000));
}

TEST(GTraceMask, BrokenChainsInSharedMemoryEndTheWalk) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    m->gtmSetMask(1, 3, 3, 40, GTM_FLAG_POINT, 0);
    const Uint32 bucket = (kClose & 0x3FF) + 1;
    const Uint16 first = m->points.chainHeads[bucket - 1];
    m->points.entries[first].next = first;  // a cycle
    EXPECT_FALSE(m->gtmIsElemInMask(kClose, 4, 41));
    m->points.entries[first].next = 60000;  // beyond the table
    EXPECT_FALSE(m->gtmIsElemInMask(kClose, 4, 41));
    m->points.firstFree = 2500;
    EXPECT_FALSE(m->gtmSetMask(1, 3, 3, 42, GTM_FLAG_POINT, 0));
}

TEST(GTraceMask, ScanWalksThePointTableOnce) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    m->gtmSetMask(1, 3, 3, 40, GTM_FLAG_POINT, 0x0000000500000000ull);
    m->gtmSetMask(2, 1, 9, 41, GTM_FLAG_POINT, 0x0000000600000001ull);
    m->gtmSetMask(3, 200, 4000, 42, GTM_FLAG_POINT, 0);
    Uint32 id;
    Uint64 data;
    Uint16 probe;
    std::vector<std::pair<Uint32, Uint16>> seen;
    while (m->gtmScanPointsHash(&id, &data, &probe)) {
        seen.emplace_back(id, probe);
        if (probe == 40) {
            EXPECT_EQ(data, 0x0000000500000000ull);
        }
        if (probe == 41) {
            EXPECT_EQ(data, 0x0000000600000001ull);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::pair<Uint32, Uint16>>{
                        {(1u << 27) | (3u << 19) | 3, 40},
                        {(2u << 27) | (1u << 19) | 9, 41},
                        {(3u << 27) | (200u << 19) | 4000, 42}}));
    EXPECT_FALSE(m->gtmScanPointsHash(&id, &data, &probe)) << "the cursor is never reset";
}

TEST(GTraceMask, ReplicateFlattensIntoThePointBitmaps) {
    std::unique_ptr<GTM_TRC_MASK> m = newMask();
    GTMask out;
    memset(&out, 0, sizeof out);
    m->gtmReplicateMask(&out);
    EXPECT_EQ(out.products, 0u);
    EXPECT_EQ(out.functionKinds, 0u);

    m->gtmSetMask(1, 3, 3, 1, 0, 0);
    m->gtmSetMask(2, 5, 9, 44, GTM_FLAG_POINT, 0);
    m->gtmReplicateMask(&out);
    EXPECT_EQ(out.products, (1u << 1) | (1u << 2));
    EXPECT_EQ(out.components[0], (1u << 3) | (1u << 5));
    EXPECT_EQ(out.functions[0], 1u << 3);
    EXPECT_EQ(out.functions[1], 1u << 1);
    // Type 1 from the component, groups A and B for the function with a point.
    EXPECT_EQ(out.recordTypes, 0xAFFAu);
    EXPECT_EQ(out.functionKinds, 0xFFu);
}
