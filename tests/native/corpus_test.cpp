// The checked-in seeds of the fuzz targets read as what they are: the logs written by the
// library's log tests cut alike whole and in pieces, and the trace dumps written by the dump
// tests parsed alike every way the fuzz target reads them (their record payloads become the
// item walk's seeds).
#include <gtest/gtest.h>

#include <dirent.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "logscan.h"
#include "osse/tracedump.h"
#include "seeds.h"
#include "trace/dumpimage.h"

namespace {

const std::string kCorpus = std::string(OSSE_SOURCE_ROOT) + "/fuzz/corpus/";

std::vector<std::string> seedsOf(const char* target)
{
    std::vector<std::string> names;
    if (DIR* d = opendir((kCorpus + target).c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(kCorpus + target + "/" + e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Events final : logscan::Sink {
    std::string seen;
    size_t records = 0, headers = 0;
    void record(uint64_t offset, const char* text, size_t length) override
    {
        seen += "R" + std::to_string(offset) + "+" + std::to_string(length) + " ";
        ++records;
        logscan::Header h;
        if (logscan::parseHeader(text, length, &h)) ++headers;
    }
    void damaged(uint64_t offset, uint64_t length, bool cutShort) override
    {
        seen += (cutShort ? "C" : "D") + std::to_string(offset) + "+" + std::to_string(length) + " ";
    }
    void truncated(uint64_t offset, uint64_t have, uint64_t want) override
    {
        seen += "T" + std::to_string(offset) + ":" + std::to_string(have) + "/" + std::to_string(want) + " ";
    }
};

Events cut(const std::string& file, size_t piece)
{
    Events ev;
    logscan::Cutter cutter;
    std::vector<char> buffer(piece + logscan::kMaxRecord + logscan::kStartBytes);
    size_t kept = 0, read = 0;
    uint64_t base = 0;
    for (;;) {
        const size_t n = std::min(piece, file.size() - read);
        memcpy(buffer.data() + kept, file.data() + read, n);
        read += n;
        const size_t have = kept + n;
        const bool atEnd = n == 0;
        const size_t used = cutter.scan(buffer.data(), have, base, atEnd, ev);
        memmove(buffer.data(), buffer.data() + used, have - used);
        kept = have - used;
        base += used;
        if (atEnd) break;
    }
    EXPECT_EQ(kept, 0u);
    return ev;
}

struct Payloads {
    std::vector<std::string> all;
};

void keepPayload(void* context, const Uint8* payload, Uint32 length, Uint64)
{
    static_cast<Payloads*>(context)->all.emplace_back(reinterpret_cast<const char*>(payload), length);
}

}  // namespace

TEST(FuzzSeeds, LogsCutAlikeWholeAndInPieces)
{
    const std::vector<std::string> seeds = seedsOf("logscan_fuzz");
    ASSERT_FALSE(seeds.empty());
    size_t records = 0, headers = 0;
    for (const std::string& path : seeds) {
        SCOPED_TRACE(path);
        const std::string file = readFile(path).substr(2);
        const Events whole = cut(file, file.size() ? file.size() : 1);
        for (size_t piece : {1, 7, 64, 1000, 4096}) EXPECT_EQ(whole.seen, cut(file, piece).seen) << piece;
        records += whole.records;
        headers += whole.headers;
    }
    EXPECT_GT(records, seeds.size());
    EXPECT_EQ(records, headers);
}

namespace {

using osse::tracedump::ImageRead;
using ImageParser = OSSErr (*)(const Uint8*, size_t, bool, osse::tracedump::RecordVisitor, void*, Uint32*,
                               ImageRead);

// The records of an image read in one direction, in place and copied window by window: both
// must hand out the same records, and forwards and backwards the same ones in reverse order.
// Returns them in forward order.
std::vector<std::string> readAlike(ImageParser parse, const std::vector<Uint8>& image, bool directions = true)
{
    Payloads got[2][2];  // [copied][forward]
    OSSErr rc[2][2];
    for (int copied = 0; copied < 2; ++copied) {
        for (int forward = 0; forward < (directions ? 2 : 1); ++forward) {
            Uint32 n = 0;
            rc[copied][forward] = parse(image.data(), image.size(), forward == 0 ? true : false, keepPayload,
                                        &got[copied][forward], &n, copied ? ImageRead::kCopied : ImageRead::kInPlace);
            EXPECT_EQ(n, got[copied][forward].all.size());
        }
    }
    EXPECT_EQ(rc[0][0], rc[1][0]);
    EXPECT_TRUE(got[0][0].all == got[1][0].all) << "in place and copied differ";
    if (directions) {
        EXPECT_TRUE(got[0][1].all == got[1][1].all) << "in place and copied differ backwards";
        std::vector<std::string> back = got[0][1].all;
        std::reverse(back.begin(), back.end());
        EXPECT_TRUE(back == got[0][0].all) << "backwards is not forwards reversed";
    }
    return got[0][0].all;
}

// A seed behind a trace dump header, read as a circularly written stream or as a profile table
// of `profileBytes` (the fuzz target's other readings).
std::vector<Uint8> behindHeader(const std::string& seed, Uint32 mode, Uint32 profileBytes)
{
    std::vector<Uint8> image(GTRACE_DUMP_HEADER_SIZE + seed.size(), 0);
    GTraceDumpHeader* h = reinterpret_cast<GTraceDumpHeader*>(image.data());
    memcpy(h->eyeCatcher, GTRACE_DUMP_EYECATCHER, 8);
    h->options.wrappingDumpMarker = 1;
    h->options.mode = mode;
    h->options.bufferSize = profileBytes;
    memcpy(image.data() + GTRACE_DUMP_HEADER_SIZE, seed.data(), seed.size());
    return image;
}

// An instantaneous dump's slots padded with zeros to the size its head states.
std::vector<Uint8> padded(const std::string& seed)
{
    RamboDumpHead head;
    if (seed.size() < sizeof head + sizeof(RamboDumpTail)) return {};
    memcpy(&head, seed.data(), sizeof head);
    if (head.kind != RAMBO_DUMP_KIND_INSTANT || head.bufferSize < RAMBO_MIN_BUFFER_SIZE || head.bufferSize > (4u << 20))
        return {};
    std::vector<Uint8> image(sizeof head + head.bufferSize + sizeof(RamboDumpTail), 0);
    const size_t slots = std::min<size_t>(seed.size() - sizeof head - sizeof(RamboDumpTail), head.bufferSize);
    memcpy(image.data(), seed.data(), sizeof head + slots);
    memcpy(image.data() + image.size() - sizeof(RamboDumpTail), seed.data() + seed.size() - sizeof(RamboDumpTail),
           sizeof(RamboDumpTail));
    return image;
}

}  // namespace

// Every dump seed read every way the fuzz target reads it: as a bare ring, padded to its stated
// size, behind a trace dump header as a circular stream and as a profile table.
TEST(FuzzSeeds, DumpsParseAlikeEveryWayInPlaceAndCopied)
{
    const std::vector<std::string> seeds = seedsOf("trace_dump_fuzz");
    ASSERT_FALSE(seeds.empty());
    size_t saved = 0, bare = 0, instant = 0, streamed = 0, entries = 0;
    for (const std::string& path : seeds) {
        SCOPED_TRACE(path);
        const std::string seed = readFile(path);
        const std::vector<Uint8> image(seed.begin(), seed.end());
        const std::vector<std::string> records = readAlike(osse::tracedump::parseRingImage, image);
        bare += records.size();
        const std::vector<Uint8> full = padded(seed);
        if (!full.empty()) instant += readAlike(osse::tracedump::parseRingImage, full).size();
        streamed += readAlike(osse::tracedump::parseTraceImage, behindHeader(seed, 0, 0)).size();
        entries += readAlike(osse::tracedump::parseTraceImage,
                             behindHeader(seed, GTRACE_MODE_PROFILE, static_cast<Uint32>(seed.size())), false)
                       .size();
        // A few records of each dump, of different lengths, seed the item walk.
        size_t taken = 0;
        for (size_t i = 0; i < records.size() && taken < 3; i += 1 + records.size() / 3, ++taken)
            saveSeed("item_walk_fuzz", std::to_string(saved++), records[i]);
    }
    // The seeds hold stream dumps and instantaneous ones of both ring modes.
    EXPECT_GT(bare, seeds.size());
    EXPECT_GT(instant, seeds.size());
    EXPECT_GT(streamed, seeds.size());
    EXPECT_GT(entries, 0u);
}

// The item walk over the records the dump seeds hold: every item it hands out lies inside its
// record, and records with items are met.
TEST(FuzzSeeds, ItemWalkStaysInsideEachRecord)
{
    const std::vector<std::string> seeds = seedsOf("item_walk_fuzz");
    ASSERT_FALSE(seeds.empty());
    size_t items = 0;
    for (const std::string& path : seeds) {
        SCOPED_TRACE(path);
        const std::string record = readFile(path);
        const Uint8* begin = reinterpret_cast<const Uint8*>(record.data());
        GTraceItemWalk w;
        if (!gtraceRecordItemsBegin(begin, static_cast<Uint32>(record.size()), &w)) continue;
        Uint32 kind = 0, size = 0, present = 0;
        const void* bytes = nullptr;
        while (gtraceRecordItemsNext(&w, &kind, &size, &bytes, &present)) {
            ++items;
            EXPECT_LE(present, size);
            if (present == 0) continue;
            const Uint8* at = static_cast<const Uint8*>(bytes);
            EXPECT_TRUE(at >= begin && at + present <= begin + record.size());
        }
    }
    EXPECT_GT(items, 0u);
}
