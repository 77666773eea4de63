// The checked-in seeds of the fuzz targets read as what they are: the logs written by the
// library's log tests cut alike whole and in pieces, and the trace dumps written by the dump
// tests parsed alike both ways (their record payloads become the item walk's seeds).
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

TEST(FuzzSeeds, DumpsParseAlikeBothWaysInPlaceAndCopied)
{
    const std::vector<std::string> seeds = seedsOf("trace_dump_fuzz");
    ASSERT_FALSE(seeds.empty());
    size_t saved = 0, parsed = 0;
    for (const std::string& path : seeds) {
        SCOPED_TRACE(path);
        const std::string image = readFile(path);
        const Uint8* bytes = reinterpret_cast<const Uint8*>(image.data());
        Payloads forward, backward, copiedForward, copiedBackward;
        Uint32 nf = 0, nb = 0, ncf = 0, ncb = 0;
        using osse::tracedump::ImageRead;
        osse::tracedump::parseRingImage(bytes, image.size(), true, keepPayload, &forward, &nf);
        osse::tracedump::parseRingImage(bytes, image.size(), false, keepPayload, &backward, &nb);
        osse::tracedump::parseRingImage(bytes, image.size(), true, keepPayload, &copiedForward, &ncf,
                                        ImageRead::kCopied);
        osse::tracedump::parseRingImage(bytes, image.size(), false, keepPayload, &copiedBackward, &ncb,
                                        ImageRead::kCopied);
        parsed += nf;
        EXPECT_EQ(nf, nb);
        EXPECT_EQ(nf, ncf);
        EXPECT_EQ(nf, ncb);
        EXPECT_TRUE(forward.all == copiedForward.all);
        EXPECT_TRUE(backward.all == copiedBackward.all);
        std::reverse(backward.all.begin(), backward.all.end());
        EXPECT_TRUE(forward.all == backward.all);
        // A few records of each dump, of different lengths, seed the item walk.
        size_t taken = 0;
        for (size_t i = 0; i < forward.all.size() && taken < 3; i += 1 + forward.all.size() / 3, ++taken)
            saveSeed("item_walk_fuzz", std::to_string(saved++), forward.all[i]);
    }
    EXPECT_GT(parsed, seeds.size());
}
