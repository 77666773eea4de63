// OSSEMEMDBG at load, seen from child processes started with the variable set, and the leak
// report a LEAKS child leaves behind when it exits with blocks allocated.
#include <stdio.h>

#include <regex>

#include "mem_test_util.h"

using memtest::lines;
using memtest::readFile;

namespace {

// What a child saw after its load sequence: the settings, the layout of a new block, the
// exported switches.
struct Seen {
    Uint32 flags = 0, mode = 0, front = 0, back = 0, blockPadType = 0;
    int cbSet = -1, ffdc = -1;
    std::string path;
};

Seen parseSeen(const std::string& text)
{
    Seen s;
    char path[300] = "";
    sscanf(text.c_str(), "%x %x %u %u %x %d %d|%299[^|]", &s.flags, &s.mode, &s.front, &s.back,
           &s.blockPadType, &s.cbSet, &s.ffdc, path);
    s.path = path;
    return s;
}

}  // namespace

OSSE_CHILD_ROLE(mem_report_settings)
{
    FILE* out = fopen(args.at(0).c_str(), "w");
    if (!out) return 2;
    Uint32 flags, mode, front, back;
    _ossMemGetDebug(&flags, &mode, &front, &back);
    void* p = nullptr;
    if (_ossMemAlloc(&p, 0, 8, 0, "env_test.cpp", __LINE__) != OSS_OK) return 3;
    Uint32 padType = memtest::word(p, -20);
    _ossMemFree(&p, 0, 0, "env_test.cpp", __LINE__);
    fprintf(out, "%x %x %u %u %x %d %d|%s|", flags, mode, front, back, padType,
            g_pMemDebugCB == nullptr ? 0 : 1, g_bIsMemoryFFDCEnabledFlag, g_szMemDebugLogPath);
    fclose(out);
    return 0;
}

struct EnvCase {
    const char* name;
    std::string value;  // "@" stands for the scratch folder; empty removes the variable
    Uint32 flags, mode, front, back;
    bool cbSet, ffdc;
    bool pathSet;
    const char* logMode;  // the mode line of a valid settings log; null: usage text or none
};

TEST(MemEnv, LevelsAndInvalidStrings)
{
    const Uint32 FULL = OSS_MEM_MODE_FULL, LIGHT = OSS_MEM_MODE_LIGHT, IDLE = OSS_MEM_MODE_IDLE;
    const EnvCase cases[] = {
        {"FULL", "@,FULL", 0xF, FULL, 2, 2, true, false, true, "FULL"},
        {"lower-case full", "@,full", 0xF, FULL, 2, 2, true, false, true, "full"},
        {"Corruptions", "@,Corruptions", 0xF, FULL, 2, 2, true, false, true, "Corruptions"},
        {"LEAKS", "@,LEAKS", 0x2F, FULL, 2, 2, true, true, true, "LEAKS"},
        {"all", "@,all", 0x2F, FULL, 2, 2, true, true, true, "all"},
        {"LIGHT", "@,LIGHT", 0xB, LIGHT, 2, 2, false, false, true, "LIGHT"},
        {"empty tokens skipped", ",,@,,LiGhT", 0xB, LIGHT, 2, 2, false, false, true, "LiGhT"},
        {"unknown level IDLE", "@,IDLE", 0, IDLE, 2, 2, false, false, true, nullptr},
        {"third token", "@,FULL,X", 0, IDLE, 2, 2, false, false, true, nullptr},
        {"missing level", "@", 0, IDLE, 2, 2, false, false, true, nullptr},
        {"no tokens", ",,,", 0, IDLE, 2, 2, false, false, false, nullptr},
        {"not set", "", 0, IDLE, 0, 0, false, false, false, nullptr},
        {"longer than 259", "@," + std::string(300, 'L'), 0, IDLE, 0, 0, false, false, false,
         nullptr},
    };
    for (const EnvCase& c : cases) {
        SCOPED_TRACE(c.name);
        ossetest::TempDir dir;
        std::string value = c.value;
        size_t at = value.find('@');
        if (at != std::string::npos) value.replace(at, 1, dir.path());
        const std::string log = dir.file("ossememdbg.log");
        // A settings log from an earlier run: appended to by a valid string, truncated by an
        // invalid one.
        FILE* old = fopen(log.c_str(), "wb");
        ASSERT_NE(old, nullptr);
        fputs("earlier\r\n", old);
        fclose(old);

        const std::string seenFile = dir.file("seen.txt");
        ossetest::Child child;
        ASSERT_TRUE(child.start("mem_report_settings", {seenFile}, {"OSSEMEMDBG=" + value}));
        const unsigned long pid = child.pid();
        ASSERT_EQ(child.wait(), 0);
        Seen s = parseSeen(readFile(seenFile));
        EXPECT_EQ(s.flags, c.flags);
        EXPECT_EQ(s.mode, c.mode);
        EXPECT_EQ(s.front, c.front);
        EXPECT_EQ(s.back, c.back);
        EXPECT_EQ(s.blockPadType, c.mode) << "blocks are built in the chosen mode";
        EXPECT_EQ(s.cbSet, c.cbSet ? 1 : 0);
        EXPECT_EQ(s.ffdc, c.ffdc ? 1 : 0);
        EXPECT_EQ(s.path, c.pathSet ? dir.path() : "");

        char pidHex[16];
        snprintf(pidHex, sizeof pidHex, "%lX", pid);
        const std::string text = readFile(log);
        if (c.logMode) {
            char flags[16];
            snprintf(flags, sizeof flags, "%X", c.flags);
            EXPECT_EQ(text, std::string("earlier\r\n") + "PID            = 0x" + pidHex + "\r\n" +
                                std::string(33, '-') + "\r\nmode           = " + c.logMode +
                                "\r\nflags          = 0x" + flags +
                                "\r\nFront pad size = 2\r\nBack pad size  = 2\r\n\r\n");
        } else if (c.pathSet) {
            EXPECT_EQ(text, std::string("PID = 0x") + pidHex + "\r\n" + std::string(52, '-') +
                                "\r\nOriginal Debug String is " + value +
                                "\r\nInvalid OSSEMEMDBG string detected.\r\n\r\n"
                                "Usage : export OSSEMEMDBG=<PATH>,<LEVEL>\r\n"
                                "   where <PATH> is the path to store ossememdbg.log\r\n"
                                "         <LEVEL> is one of the OSSFULL, LIGHT, or IDLE\r\n\r\n");
        } else {
            EXPECT_EQ(text, "earlier\r\n") << "no path, no settings log";
        }
    }
}

TEST(MemEnv, ValidStringsAppendOneSettingsBlockPerProcess)
{
    ossetest::TempDir dir;
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(ossetest::runChild("mem_report_settings", {dir.file("seen.txt")},
                                     {"OSSEMEMDBG=" + dir.path() + ",FULL"}),
                  0);
    std::vector<std::string> got = lines(readFile(dir.file("ossememdbg.log")));
    EXPECT_EQ(std::count(got.begin(), got.end(), "mode           = FULL"), 2);
}

// Exits with two blocks still allocated; the unload writes the leak report.
OSSE_CHILD_ROLE(mem_leak_two)
{
    (void)args;
    void* first = nullptr;
    void* second = nullptr;
    if (_ossMemAlloc(&first, 0, 24, 0, "leaky/env_test.cpp", 1001) != OSS_OK) return 2;
    if (_ossMemAlloc(&second, 0, 40, 0, "leaky/env_test.cpp", 1002) != OSS_OK) return 3;
    void* freed = nullptr;
    _ossMemAlloc(&freed, 0, 8, 0, "env_test.cpp", 1003);
    _ossMemFree(&freed, 0, 0, "env_test.cpp", 1004);
    return 0;
}

TEST(MemEnv, LeaksChildLeavesALeakReportWithItsTwoBlocksNewestFirst)
{
    ossetest::TempDir dir;
    ossetest::Child child;
    ASSERT_TRUE(child.start("mem_leak_two", {}, {"OSSEMEMDBG=" + dir.path() + ",LEAKS"}));
    const unsigned long pid = child.pid();
    ASSERT_EQ(child.wait(), 0);

    std::vector<std::string> reports = memtest::listFiles(dir.path(), "*.mem_leaks.txt");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(std::regex_match(reports[0],
                                 std::regex(std::to_string(pid) + "\\.\\d+\\.mem_leaks\\.txt")))
        << reports[0];
    std::vector<std::string> got = lines(readFile(dir.file(reports[0])));
    std::vector<std::string> addr;
    for (const std::string& l : got)
        if (l.compare(0, 5, "Addr:") == 0) addr.push_back(l);
    ASSERT_EQ(addr.size(), 2u);
    // The whole address: 8 hex digits on i686, 16 on x86_64.
    const std::string addrDigits = "Addr: [0-9a-f]{" + std::to_string(2 * sizeof(void*)) + "}";
    const std::regex first(addrDigits + " Code: 0x7a3055e0 Size: 40 Line: 1002 File: env_test.cpp");
    const std::regex second(addrDigits + " Code: 0x7a3055e0 Size: 24 Line: 1001 File: env_test.cpp");
    EXPECT_TRUE(std::regex_match(addr[0], first)) << addr[0];
    EXPECT_TRUE(std::regex_match(addr[1], second)) << addr[1];
    EXPECT_EQ(got.at(0), std::string(76, '*'));
    EXPECT_EQ(got.back(), std::string(76, '='));
}

// Allocates 8 blocks and writes which of them failed ("n/8" numbers, 1-based counted from the
// load), the mode and the failures counted.
OSSE_CHILD_ROLE(mem_fail_from_env)
{
    FILE* out = fopen(args.at(0).c_str(), "w");
    if (!out) return 2;
    Uint32 before = 0;
    _ossMemGetDebugCounts(&before, nullptr, nullptr);
    Uint32 mode = 0;
    _ossMemGetDebug(nullptr, &mode, nullptr, nullptr);
    fprintf(out, "%x", mode);
    void* blocks[8] = {};
    for (Uint32 i = 0; i < 8; ++i)
        if (OSS_MEM_ALLOC(&blocks[i], 16, 0) != OSS_OK) fprintf(out, " %u", before + i + 1);
    for (void*& p : blocks)
        if (p) OSS_MEM_FREE(&p);
    Uint32 failures = 0;
    _ossMemGetDebugCounts(nullptr, &failures, nullptr);
    fprintf(out, " failures=%u", failures);
    fclose(out);
    return 0;
}

// FAILALLOC=<n> after a full-mode level fails the nth allocation of the process, once; with any
// other level, or a count that is not a positive number, the string is invalid (idle mode).
TEST(MemEnv, FailAllocTokenFailsTheNthAllocationOfTheProcess)
{
    const struct {
        const char* value;
        const char* seen;
    } cases[] = {
        {"@,FULL,FAILALLOC=6", "a110ca7e 6 failures=1"},
        {"@,leaks,failalloc=8", "a110ca7e 8 failures=1"},
        {"@,FULL,FAILALLOC=9999", "a110ca7e failures=0"},
        {"@,LIGHT,FAILALLOC=6", "1d1ec0de failures=0"},
        {"@,FULL,FAILALLOC=0", "1d1ec0de failures=0"},
        {"@,FULL,FAILALLOC=6x", "1d1ec0de failures=0"},
        {"@,FULL,FAILALLOC=6,X", "1d1ec0de failures=0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        ossetest::TempDir dir;
        std::string value = c.value;
        value.replace(value.find('@'), 1, dir.path());
        const std::string seen = dir.file("seen.txt");
        ASSERT_EQ(ossetest::runChild("mem_fail_from_env", {seen}, {"OSSEMEMDBG=" + value}), 0);
        EXPECT_EQ(readFile(seen), c.seen);
    }
}
