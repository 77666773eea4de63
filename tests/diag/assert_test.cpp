// Assertion failures: the record and where it goes (dump directory, OSS_DEBUG_LOG_FILE), data
// items, and the host callback that takes everything over.
#include <windows.h>

#include <stdio.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "osse/osse.h"
#include "osse_test.h"

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The record for a failure in this process on this thread (or any thread when tid is empty).
std::string recordPattern(bool fatal, const std::string& expr, unsigned long pid,
                          const std::string& tid, const std::string& file, unsigned line)
{
    return std::string(fatal ? "" : "NON-FATAL ") +
           "ASSERTION FAILED!!!\r\nTime       = [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d "
           "\\d\\d:\\d\\d:\\d\\d \\d{4}\nExpr       = " + expr + "\r\nPID        = " +
           std::to_string(pid) + "\r\nTID        = " + (tid.empty() ? "\\d+" : tid) +
           "\r\nFile       = " + file + "\r\nLine       = " + std::to_string(line) + "\r\n";
}

struct Seen {
    std::string expression, file, dumpDir;
    Uint32 line = 0;
    Uint8 fatal = 0;
    std::vector<std::pair<const void*, Uint32>> items;
};
std::vector<Seen> g_seen;

void recordingCallback(const char* expression, const char* file, Uint32 line, const char* dumpDir,
                       Uint8 fatal, const OSSAssertDataItem* items)
{
    Seen s;
    s.expression = expression;
    s.file = file;
    s.line = line;
    s.dumpDir = dumpDir ? dumpDir : "(null)";
    s.fatal = fatal;
    for (; items && items->data && items->length; ++items) s.items.push_back({items->data, items->length});
    g_seen.push_back(s);
}

}  // namespace

OSSE_CHILD_ROLE(assert_non_fatal)
{
    (void)args;
    ossAssertFailed("x == 1", "C:\\src\\thing.cpp", 42);
    return 0;
}

TEST(Assert, NonFatalRecordIsAppendedToTheDebugLogFile)
{
    ossetest::TempDir dir;
    const std::string log = dir.file("assert.log");
    FILE* f = fopen(log.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("earlier\r\n", f);
    fclose(f);

    ossetest::Child child;
    ASSERT_TRUE(child.start("assert_non_fatal", {}, {"OSS_DEBUG_LOG_FILE=" + log}));
    const unsigned long pid = child.pid();
    ASSERT_EQ(child.wait(), 0);
    const std::string text = readFile(log);
    EXPECT_TRUE(std::regex_match(
        text, std::regex("earlier\r\n" +
                         recordPattern(false, "x == 1", pid, "", "C:\\\\src\\\\thing\\.cpp", 42))))
        << text;
}

// Opens the default log facility on the file named by its argument, then fails an assertion.
OSSE_CHILD_ROLE(assert_with_default_facility)
{
    OSSLogFacOpenParam param = {};
    param.version = OSS_CURRENT_VERSION;
    snprintf(param.path, sizeof param.path, "%s", args.at(0).c_str());
    snprintf(param.name, sizeof param.name, "%s", "assert-test");
    param.level = 5;
    param.destination = OSS_LOG_DEST_FILE;
    if (ossLogFacOpen(&param, nullptr) != OSS_OK) return 10;
    ossAssertFailed("y != 0", "z.cpp", 7);
    return 0;
}

TEST(Assert, WithoutTheVariableTheDefaultFacilitysFileTakesTheRecord)
{
    ossetest::TempDir dir;
    const std::string log = dir.file("diag.log");
    ossetest::Child child;
    ASSERT_TRUE(child.start("assert_with_default_facility", {log}, {"OSS_DEBUG_LOG_FILE="}));
    const unsigned long pid = child.pid();
    ASSERT_EQ(child.wait(), 0);
    const std::string text = readFile(log);
    EXPECT_TRUE(std::regex_match(text, std::regex(recordPattern(false, "y != 0", pid, "",
                                                                "z\\.cpp", 7))))
        << text;
}

OSSE_CHILD_ROLE(assert_with_callback)
{
    (void)args;
    if (ossSetAssertionCallback(recordingCallback) != recordingCallback) return 10;
    ossAssertFailed("a", "f.cpp", 1);
    ossAssertFailureAction("b", "g.cpp", 2, nullptr, 1, (const void*)nullptr, 0);
    return (int)g_seen.size();
}

TEST(Assert, WithACallbackNothingIsWrittenEvenForFatalFailures)
{
    ossetest::TempDir dir;
    const std::string log = dir.file("assert.log");
    EXPECT_EQ(ossetest::runChild("assert_with_callback", {}, {"OSS_DEBUG_LOG_FILE=" + log}), 2);
    EXPECT_FALSE(exists(log));
}

TEST(Assert, CallbackReceivesEveryArgumentAndTheItemsUpToTheEnd)
{
    g_seen.clear();
    ASSERT_EQ(ossSetAssertionCallback(recordingCallback), recordingCallback);
    const Uint32 a = 1, c = 3;
    const char b[] = "bytes";
    EXPECT_EQ(ossAssertFailureAction("expr", "file.cpp", 9, "C:\\dumps", 1, &a, 4u, b, 5u, &c,
                                     0u, &a, 4u),
              0u);
    ossAssertFailed("plain", "p.cpp", 10);
    EXPECT_EQ(ossSetAssertionCallback(nullptr), nullptr);

    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0].expression, "expr");
    EXPECT_EQ(g_seen[0].file, "file.cpp");
    EXPECT_EQ(g_seen[0].line, 9u);
    EXPECT_EQ(g_seen[0].dumpDir, "C:\\dumps");
    EXPECT_EQ(g_seen[0].fatal, 1);
    ASSERT_EQ(g_seen[0].items.size(), 2u) << "the list ends at the first zero length";
    EXPECT_EQ(g_seen[0].items[0].first, &a);
    EXPECT_EQ(g_seen[0].items[0].second, 4u);
    EXPECT_EQ(g_seen[0].items[1].first, b);
    EXPECT_EQ(g_seen[0].items[1].second, 5u);
    EXPECT_EQ(g_seen[1].dumpDir, "(null)");
    EXPECT_EQ(g_seen[1].fatal, 0);
    EXPECT_TRUE(g_seen[1].items.empty());
}

TEST(Assert, DumpDirectoryGetsThePerThreadFileWithNumberedItems)
{
    ossetest::TempDir dir;
    const char bytes[] = "ABCD";
    const Uint32 value = 0x11223344;
    EXPECT_EQ(ossAssertFailureAction("first", "a.cpp", 1, dir.path().c_str(), 0, bytes, 4u, &value,
                                     4u, (const void*)nullptr, 4u, bytes, 4u),
              0u);
    EXPECT_EQ(ossAssertFailureAction("second", "b.cpp", 2, dir.path().c_str(), 0,
                                     (const void*)nullptr, 0u),
              0u);

    const std::string name = dir.file("p" + std::to_string(GetCurrentProcessId()) + "t" +
                                      std::to_string(GetCurrentThreadId()) + ".mem");
    const std::string text = readFile(name);
    const std::string tid = std::to_string(GetCurrentThreadId());
    const unsigned long pid = GetCurrentProcessId();
    // Two records, the first with items 0 and 1 (the null pointer ends the list).
    const std::regex whole(recordPattern(false, "first", pid, tid, "a\\.cpp", 1) +
                           "dump data 0:\n[\\s\\S]*4142[\\s\\S]*dump data 1:\n[\\s\\S]*" +
                           recordPattern(false, "second", pid, tid, "b\\.cpp", 2));
    EXPECT_TRUE(std::regex_match(text, whole)) << text;
    EXPECT_EQ(text.find("dump data 2:"), std::string::npos);
}

namespace {
// The fatal stop raises a breakpoint; the child ends with a code of its own when it sees it, so
// that no debugger is started for it.
LONG CALLBACK exitOnBreakpoint(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_BREAKPOINT) ExitProcess(77);
    return EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

OSSE_CHILD_ROLE(assert_fatal)
{
    (void)args;
    AddVectoredExceptionHandler(1, exitOnBreakpoint);
    ossAssertFailureAction("p != 0", "fatal.cpp", 9, nullptr, 1, (const void*)nullptr, 0);
    return 0;  // not reached when the breakpoint is raised
}

// Without a callback, a fatal failure writes its record without the non-fatal prefix and then
// stops at a breakpoint.
TEST(Assert, FatalFailureWritesItsRecordAndRaisesABreakpoint)
{
    ossetest::TempDir dir;
    const std::string log = dir.file("assert.log");
    ossetest::Child child;
    ASSERT_TRUE(child.start("assert_fatal", {}, {"OSS_DEBUG_LOG_FILE=" + log}));
    const unsigned long pid = child.pid();
    EXPECT_EQ(child.wait(), 77);
    const std::string text = readFile(log);
    EXPECT_TRUE(std::regex_match(text, std::regex(recordPattern(true, "p != 0", pid, "",
                                                                "fatal\\.cpp", 9))))
        << text;
}
