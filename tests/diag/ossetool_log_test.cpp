// ossetool log run as a user runs it, on log files written by several processes and threads at
// once, on a log cut in the middle of a record, on a file that is not a log, and following a
// log while a process appends to it.
#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "diag_test.h"

using namespace diagtest;

namespace {

constexpr Uint32 kFn = 0x081A0002;  // OSSHFile::open
constexpr Uint32 kLevels[4] = {1, 3, 4, 5};
constexpr Uint32 kCodes[2] = {0x9000001A, 0x90000001};

// Record i of a writer: its level, message code and probe follow from i.
Uint32 writeRecords(const std::string& path, int count, Uint32 probeBase)
{
    OSSLogFacility f = {};
    OSSLogFacOpenParam p = openParam(OSS_LOG_DEST_FILE, path, 5);
    if (ossLogFacOpen(&p, &f) != 0) return 1;
    Uint32 failed = 0;
    for (int i = 0; i < count; ++i) {
        const Uint32 v = (Uint32)i;
        if (ossLog(&f, kFn, kCodes[i % 2], probeBase + (Uint32)i, kLevels[i % 4], 1,
                   item(&v, 4, -3)) != 0)
            ++failed;
    }
    ossLogFacClose(&f);
    return failed;
}

OSSE_CHILD_ROLE(log_writer)
{
    return (int)writeRecords(args.at(0), std::stoi(args.at(1)), 1000);
}

std::string toolPath()
{
    std::string p = OSSETOOL_EXE;
    if (!p.empty() && p[0] == '/') {  // a host path, as Wine's Z: drive sees it
        for (char& c : p)
            if (c == '/') c = '\\';
        p = "Z:" + p;
    }
    return p;
}

struct ToolRun {
    int rc = -1;
    std::string out, err;
};

HANDLE inheritable(const std::string& path)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       CREATE_ALWAYS, 0, nullptr);
}

// Starts ossetool with `args`, its output going to files in `dir`.
PROCESS_INFORMATION startTool(const ossetest::TempDir& dir, const std::string& args,
                              const std::string& tool = toolPath())
{
    HANDLE out = inheritable(dir.file("tool.out"));
    HANDLE err = inheritable(dir.file("tool.err"));
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    std::string cmd = "\"" + tool + "\" " + args;
    PROCESS_INFORMATION pi = {};
    EXPECT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &si, &pi))
        << cmd << " error " << GetLastError();
    CloseHandle(out);
    CloseHandle(err);
    return pi;
}

ToolRun runTool(const std::string& args, const std::string& tool = toolPath())
{
    ossetest::TempDir dir;
    PROCESS_INFORMATION pi = startTool(dir, args, tool);
    ToolRun r;
    if (!pi.hProcess) return r;
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    r.rc = (int)code;
    r.out = readFile(dir.file("tool.out"));
    r.err = readFile(dir.file("tool.err"));
    return r;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

// The count printed for `key` in a --stats section line "  <key>   <count>".
long long statOf(const std::string& out, const std::string& key)
{
    for (const std::string& l : lines(out)) {
        if (l.compare(0, 2 + key.size(), "  " + key) != 0) continue;
        std::smatch m;
        if (std::regex_search(l, m, std::regex(" ([0-9]+)$"))) return std::stoll(m[1]);
    }
    return -1;
}

std::string quoted(const std::string& s)
{
    return "\"" + s + "\"";
}

}  // namespace

// One log file written at once by processes of both architectures, read back whole by the
// ossetool of each: the records are one text format whatever the writer's pointer size.
TEST(OsseToolLog, LogWrittenByBothArchitecturesIsReadByEithersTool)
{
    OSSE_PEER_PROGRAM_OR_SKIP(peer);
    const std::string peerTool =
        peer.substr(0, peer.rfind("\\tests\\")) + "\\tools\\ossetool\\ossetool.exe";
    ossetest::TempDir dir;
    const std::string path = dir.file("mixed.log");
    constexpr int kPerWriter = 100;
    ossetest::Child own, other;
    ASSERT_TRUE(own.start("log_writer", {path, std::to_string(kPerWriter)}));
    ASSERT_TRUE(other.startProgram(peer, "log_writer", {path, std::to_string(kPerWriter)}));
    EXPECT_EQ(writeRecords(path, kPerWriter, 1000), 0u);
    ASSERT_EQ(own.wait(), 0);
    ASSERT_EQ(other.wait(), 0);
    const int total = 3 * kPerWriter;
    for (const std::string& tool : {toolPath(), peerTool}) {
        ToolRun stats = runTool("log " + quoted(path) + " --stats", tool);
        EXPECT_EQ(stats.rc, 0) << tool << ": " << stats.err;
        EXPECT_NE(stats.out.find("records: " + std::to_string(total) + " ("), std::string::npos)
            << tool << ": " << stats.out;
        ToolRun byPid = runTool("log " + quoted(path) + " --summary --pid " +
                                    std::to_string(other.pid()), tool);
        EXPECT_EQ(lines(byPid.out).size(), (size_t)kPerWriter) << tool;
        ToolRun whole = runTool("log " + quoted(path), tool);
        EXPECT_TRUE(whole.out == readFile(path)) << tool;
    }
}

// Three processes and two threads append to one log at once: the tool finds every record, and
// its counts and filters are exact.
TEST(OsseToolLog, LogOfSeveralProcessesAtOnce)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("shared.log");
    constexpr int kPerWriter = 120;
    std::vector<ossetest::Child> children(3);
    for (ossetest::Child& c : children)
        ASSERT_TRUE(c.start("log_writer", {path, std::to_string(kPerWriter)}));
    std::atomic<Uint32> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] { failed += writeRecords(path, kPerWriter, 1000); });
    for (std::thread& t : threads) t.join();
    for (ossetest::Child& c : children) ASSERT_EQ(c.wait(), 0);
    ASSERT_EQ(failed.load(), 0u);
    const int total = 5 * kPerWriter;
    ASSERT_EQ(cutRecords(readFile(path)).size(), (size_t)total);

    ToolRun stats = runTool("log " + quoted(path) + " --stats");
    EXPECT_EQ(stats.rc, 0) << stats.err;
    EXPECT_NE(stats.out.find("records: " + std::to_string(total) + " ("), std::string::npos) << stats.out;
    for (const char* level : {"Severe", "Error", "Warning", "Info"})
        EXPECT_EQ(statOf(stats.out, level), total / 4) << level;
    EXPECT_EQ(statOf(stats.out, "OSSHFile::open"), total);
    EXPECT_EQ(statOf(stats.out, "0x9000001A ECF_FILE_DOESNT_EXIST"), total / 2);
    EXPECT_EQ(statOf(stats.out, "0x90000001 ECF_ACCESS_DENIED"), total / 2);

    // Whole records: the file's bytes exactly.
    ToolRun whole = runTool("log " + quoted(path));
    EXPECT_EQ(whole.rc, 0) << whole.err;
    EXPECT_TRUE(whole.out == readFile(path));

    struct Filter {
        std::string args;
        size_t want;
    } filters[] = {
        {"--pid " + std::to_string(children[1].pid()), (size_t)kPerWriter},
        {"--pid " + std::to_string(GetCurrentProcessId()), 2u * kPerWriter},
        {"--level Severe,warning", (size_t)total / 2},
        {"--level 2", (size_t)total / 4},
        {"--code ECF_FILE_DOESNT_EXIST", (size_t)total / 2},
        {"--code 0x90000001 --level 4", 0u},  // odd records are never level 4
        {"--code 0x90000001 --level 3", (size_t)total / 4},
        {"--function OSSHFile::open --component OSSe", (size_t)total},
        {"--function OSSHFile::close", 0u},
        {"--since 2000 --until 2999", (size_t)total},
        {"--until 2000-01-01", 0u},
    };
    for (const Filter& f : filters) {
        ToolRun r = runTool("log " + quoted(path) + " --summary " + f.args);
        EXPECT_EQ(r.rc, 0) << f.args << r.err;
        EXPECT_EQ(lines(r.out).size(), f.want) << f.args;
    }
    // The one-line form.
    ToolRun one = runTool("log " + quoted(path) + " -s --pid " + std::to_string(children[0].pid()));
    ASSERT_FALSE(lines(one.out).empty());
    EXPECT_TRUE(std::regex_match(
        lines(one.out)[0],
        std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}-[0-9]{2}\\.[0-9]{2}\\.[0-9]{2}\\.[0-9]{6} +" +
                   std::to_string(children[0].pid()) +
                   " +[0-9]+ Severe +OSSHFile::open +ECF_FILE_DOESNT_EXIST +probe:1000")))
        << lines(one.out)[0];
}

// A log cut inside its last record, a log with junk inside, a file that is not a log, a file
// that does not exist and wrong arguments.
TEST(OsseToolLog, DamagedTruncatedAndForeignFiles)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("full.log");
    ASSERT_EQ(writeRecords(path, 10, 1), 0u);
    const std::string full = readFile(path);
    const std::vector<Record> rec = cutRecords(full);
    ASSERT_EQ(rec.size(), 10u);
    auto writeAs = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir.file(name), std::ios::binary) << bytes;
        return quoted(dir.file(name));
    };

    const std::string cut = writeAs("cut.log", full.substr(0, rec[9].start + 100));
    ToolRun r = runTool("log " + cut + " --summary");
    EXPECT_EQ(r.rc, 3);
    EXPECT_EQ(lines(r.out).size(), 9u);
    EXPECT_NE(r.err.find("record at offset " + std::to_string(rec[9].start) +
                         " truncated: the file ends after 100 of its " +
                         std::to_string(rec[9].text.size()) + " bytes"),
              std::string::npos)
        << r.err;

    const std::string junk = "garbage that came from nowhere\r\n";
    const std::string damaged = writeAs(
        "damaged.log", full.substr(0, rec[4].start) + junk + full.substr(rec[4].start));
    r = runTool("log " + damaged + " --stats");
    EXPECT_EQ(r.rc, 3);
    EXPECT_NE(r.out.find("records: 10 "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(std::to_string(junk.size()) + " bytes at offset " +
                         std::to_string(rec[4].start) + " are not a record"),
              std::string::npos)
        << r.err;

    struct Case {
        const char* what;
        std::string args;
        int rc;
        const char* err;
    } cases[] = {
        {"not a log", "log " + writeAs("notes.txt", "line one\r\nline two\r\n" + std::string(5000, 'x')),
         1, "is not a diagnostic log"},
        {"missing", "log " + quoted(dir.file("none.log")), 1, "cannot open"},
        {"no file", "log --stats", 2, "no log file given"},
        {"unknown option", "log " + cut + " --frobnicate", 2, "unknown option --frobnicate"},
        {"bad level", "log " + cut + " --level 9", 2, "bad level"},
        {"bad time", "log " + cut + " --since 12:00", 2, "bad time"},
    };
    for (const Case& c : cases) {
        ToolRun k = runTool(c.args);
        EXPECT_EQ(k.rc, c.rc) << c.what;
        EXPECT_NE(k.err.find(c.err), std::string::npos) << c.what << ": " << k.err;
        if (c.rc == 1) {
            EXPECT_TRUE(k.out.empty()) << c.what;
        }
    }
}

// --follow prints the records another process appends after the tool reached the end.
TEST(OsseToolLog, FollowPrintsAppendedRecords)
{
    ossetest::TempDir dir, out;
    const std::string path = dir.file("live.log");
    ASSERT_EQ(writeRecords(path, 3, 1), 0u);
    PROCESS_INFORMATION pi = startTool(out, "log " + quoted(path) + " --follow --summary");
    ASSERT_NE(pi.hProcess, nullptr);
    auto waitForLines = [&](size_t n) {
        for (int i = 0; i < 600; ++i) {
            if (lines(readFile(out.file("tool.out"))).size() >= n) return true;
            Sleep(50);
        }
        return false;
    };
    EXPECT_TRUE(waitForLines(3));
    ASSERT_EQ(ossetest::runChild("log_writer", {path, "5"}), 0);
    EXPECT_TRUE(waitForLines(8));
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    const std::vector<std::string> got = lines(readFile(out.file("tool.out")));
    ASSERT_EQ(got.size(), 8u);
    EXPECT_NE(got[7].find("probe:1004"), std::string::npos) << got[7];
}
