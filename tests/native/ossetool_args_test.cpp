// The argument parsing of ossetool: ecf values, and the log's filters and time ranges.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ecfvalue.h"
#include "logargs.h"
#include "seeds.h"

namespace {

// Arguments as the fuzz target takes them: the verb's byte, then the arguments separated by
// zero bytes.
std::string seedOf(bool ecf, const std::vector<std::string>& args)
{
    std::string bytes(1, ecf ? '\1' : '\0');
    for (size_t i = 0; i < args.size(); ++i) bytes += (i ? std::string(1, '\0') : "") + args[i];
    return bytes;
}

int parseLog(std::vector<std::string> args, LogOptions* o, std::string* error)
{
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    return parseLogArgs((int)argv.size(), argv.data(), o, error);
}

}  // namespace

TEST(OsseToolArgs, EcfValues)
{
    const struct {
        const char* text;
        bool ok;
        Uint32 value;
    } cases[] = {
        {"0x9000000C", true, 0x9000000Cu}, {"0X9000000c", true, 0x9000000Cu},
        {"2415919116", true, 0x9000000Cu}, {"-1879048180", true, 0x9000000Cu},
        {"0", true, 0},                    {"4294967295", true, 0xFFFFFFFFu},
        {"-2147483648", true, 0x80000000u}, {"-2147483649", false, 0},
        {"4294967296", false, 0},          {"0x100000000", false, 0},
        {"-0", false, 0},                  {"--1", false, 0},
        {"-0x1", false, 0},                {"+1", false, 0},
        {"", false, 0},                    {"0x", false, 0},
        {" 1", false, 0},                  {"1 ", false, 0},
        {"12a", false, 0},                 {"0x1g", false, 0},
        {"-", false, 0},                   {"99999999999999999999999", false, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        Uint32 v = 0xDEADBEEF;
        EXPECT_EQ(c.ok, parseEcfValue(c.text, &v)) << '"' << c.text << '"';
        if (c.ok) EXPECT_EQ(c.value, v) << c.text;
        saveSeed("ossetool_args_fuzz", "ecf-" + std::to_string(n++), seedOf(true, {c.text}));
    }
}

TEST(OsseToolArgs, LogOptionsAndTheirRefusals)
{
    const struct {
        std::vector<std::string> args;
        bool ok;
    } cases[] = {
        {{"f.log"}, true},
        {{"f.log", "-s", "--level", "Severe,error,3", "--pid", "0x4D2", "--tid", "7"}, true},
        {{"f.log", "--code", "ECF_FILE_DOESNT_EXIST", "--function", "OSSHFile::open"}, true},
        {{"f.log", "--since", "2026-12-10-13.40", "--until", "2026-12-10-13.40.59.999999"}, true},
        {{"f.log", "--stats", "--follow"}, false},
        {{"f.log", "--level", "Loud"}, false},
        {{"f.log", "--level", "1,,2"}, false},
        {{"f.log", "--level"}, false},
        {{"f.log", "--pid", "-5"}, false},
        {{"f.log", "--pid", " -5"}, false},  // strtoull would take this as 2^64 - 5
        {{"f.log", "--pid", "0x"}, false},
        {{"f.log", "--pid", "99999999999999999999"}, false},
        {{"f.log", "--code", "0x100000000"}, false},
        {{"f.log", "--since", "2026-1"}, true},
        {{"f.log", "--since", "2026-1x"}, false},
        {{"f.log", "--since", "2026-12-10-13.40.59.9999990"}, false},
        {{"f.log", "--until", ""}, false},
        {{"f.log", "g.log"}, false},
        {{"--summary"}, false},
        {{"f.log", "--bogus"}, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        LogOptions o;
        std::string error;
        std::string shown;
        for (const std::string& a : c.args) shown += a + " ";
        const int rc = parseLog(c.args, &o, &error);
        EXPECT_EQ(c.ok ? 0 : 2, rc) << shown << error;
        EXPECT_EQ(c.ok, error.empty()) << shown;
        saveSeed("ossetool_args_fuzz", "log-" + std::to_string(n++), seedOf(false, c.args));
    }
    LogOptions o;
    std::string error;
    ASSERT_EQ(0, parseLog({"f.log", "--level", "severe,4", "--pid", "0x10", "--code", "0x9000001A"}, &o, &error));
    EXPECT_EQ((1u << 1) | (1u << 4), o.levels);
    EXPECT_EQ(16u, o.pid);
    EXPECT_TRUE(o.hasCode);
    EXPECT_EQ(0x9000001Au, o.code);
}

// A time range compares the leading part given: --until an hour takes the whole hour.
TEST(OsseToolArgs, TimeRangeTakesWholeLeadingParts)
{
    LogOptions o;
    o.since = "2026-12-10-13";
    o.until = "2026-12-10-14.05";
    const struct {
        const char* time;
        bool in;
    } cases[] = {
        {"2026-12-10-12.59.59.999999", false}, {"2026-12-10-13.00.00.000000", true},
        {"2026-12-10-14.05.59.999999", true},  {"2026-12-10-14.06.00.000000", false},
        {"2026-12-11-00.00.00.000000", false}, {"2026-12-10-13", true},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.in, inLogTimeRange(c.time, o)) << c.time;
}
