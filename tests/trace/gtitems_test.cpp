// Decoding the data items of a record payload, as a formatter reads them.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "osse/tracedump.h"

namespace {

// A record head followed by `headers` (kind, size pairs) and `bytes`, with `unused` bytes at the
// end; extra: 8 bytes in front of the item headers, counted in the item area.
std::vector<Uint8> record(const std::vector<std::pair<Uint32, Uint32>>& headers, const std::string& bytes,
                          Uint32 unused, bool extra = false) {
    std::vector<Uint8> r(0x38, 0);
    GTraceRecord h = {};
    h.recordType = GTRACE_TYPE_DATA;
    h.itemCount = (Uint32)headers.size();
    h.itemAreaLength = (Uint16)((extra ? 8 : 0) + 8 * headers.size() + bytes.size() + unused);
    memcpy(r.data(), &h, sizeof h);
    if (extra) {
        const Uint32 words[2] = {0x11111111, 0x22222222};
        r.insert(r.end(), (const Uint8*)words, (const Uint8*)words + 8);
    }
    for (auto& p : headers) {
        r.insert(r.end(), (const Uint8*)&p.first, (const Uint8*)&p.first + 4);
        r.insert(r.end(), (const Uint8*)&p.second, (const Uint8*)&p.second + 4);
    }
    r.insert(r.end(), bytes.begin(), bytes.end());
    r.resize(r.size() + unused, 0xEE);
    // Payloads are whole slots less the slot header and trailer.
    while ((r.size() + 12) % 64) r.push_back(0xEE);
    return r;
}

std::vector<std::string> items(const std::vector<Uint8>& r, GTraceItemWalk* w) {
    std::vector<std::string> out;
    EXPECT_TRUE(gtraceRecordItemsBegin(r.data(), (Uint32)r.size(), w));
    Uint32 kind, size, present;
    const void* bytes;
    while (gtraceRecordItemsNext(w, &kind, &size, &bytes, &present))
        out.push_back(size == GTRACE_ITEM_NULL_SIZE ? "<null>" : std::string((const char*)bytes, present));
    return out;
}

}  // namespace

TEST(GTraceItems, AnItemAfterANullItemStartsRightAfterTheStoredBytes) {
    // The null item reserved 5 bytes; they stay unused at the end of the record.
    const auto r = record({{0, 4}, {0, GTRACE_ITEM_NULL_SIZE}, {0, 2}}, "ABCDXY", 5);
    GTraceItemWalk w;
    EXPECT_EQ(items(r, &w), (std::vector<std::string>{"ABCD", "<null>", "XY"}));
    EXPECT_EQ(w.hasExtra, 0u);
}

TEST(GTraceItems, ExtraWordsInFrontOfTheItemsAreFound) {
    const auto r = record({{1, 4}, {0, 3}}, "wxyzabc", 0, true);
    GTraceItemWalk w;
    EXPECT_EQ(items(r, &w), (std::vector<std::string>{"wxyz", "abc"}));
    EXPECT_EQ(w.hasExtra, 1u);
    EXPECT_EQ(w.extra[0], 0x11111111u);
    EXPECT_EQ(w.extra[1], 0x22222222u);
}

TEST(GTraceItems, ClaimsBeyondTheRecordAreCutToIt) {
    // Sizes and counts that overrun the payload never read past it.
    auto r = record({{0, 4}, {0, 60000}}, "ABCD", 0);
    GTraceItemWalk w;
    const auto got = items(r, &w);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_LE(got[1].size(), r.size());
    GTraceRecord h;
    memcpy(&h, r.data(), sizeof h);
    h.itemCount = 0xFFFFFFFF;
    memcpy(r.data(), &h, sizeof h);
    const auto many = items(r, &w);
    EXPECT_LE(many.size(), r.size() / 8);
    EXPECT_FALSE(gtraceRecordItemsBegin(r.data(), 51, &w)) << "shorter than a record head";
}
