// ossetool ecf run in-process: what it prints and its exit status for a code, a function
// identifier, a value that is both or neither, and the code list (the Windows build runs the
// tool itself on the same kinds of value).
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "verbs.h"

namespace {

struct EcfRun {
    int rc;
    std::string out, err;
};

EcfRun runEcf(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EcfRun r;
    r.rc = verbEcf((int)argv.size(), argv.data());
    r.out = testing::internal::GetCapturedStdout();
    r.err = testing::internal::GetCapturedStderr();
    return r;
}

}  // namespace

TEST(OssetoolEcf, DecodesCodesAndIdentifiersAndRejectsTheRest)
{
    const struct {
        std::vector<std::string> args;
        int rc;
        bool toErr;
        const char* pattern;
    } cases[] = {
        {{"0x9000000C"}, 0, false,
         "0x9000000C is a return code[\\s\\S]*ECF_INVALID_PARAMETER[\\s\\S]*Invalid parameter"},
        {{"0x90000006"}, 0, false, "value: +0x10000006 \\(warning\\)[\\s\\S]*ECF_PARTIAL_INFO"},
        {{"0x9080000C"}, 0, false, "reserved bits 23-27 \\(0x00800000\\) are set"},
        {{"0x081A0003"}, 0, false,
         "function identifier[\\s\\S]*3 OSSHFile::close[\\s\\S]*2 \\(library operation\\)"},
        {{"0x08140069"}, 0, false, "105 CloseHandle[\\s\\S]*4 \\(operating-system call\\)"},
        {{"0x90000657"}, 1, true, "neither a return code nor a function identifier"},
        {{"0x9000000G"}, 2, true, "not a 32-bit value"},
        {{"1", "2"}, 2, true, "ossetool ecf"},
        {{"--list"}, 0, false, "0x10000006 +ECF_PARTIAL_INFO +Only partial information available"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const EcfRun r = runEcf(c.args);
        EXPECT_EQ(r.rc, c.rc);
        const std::string& shown = c.toErr ? r.err : r.out;
        EXPECT_TRUE(std::regex_search(shown, std::regex(c.pattern))) << r.out << r.err;
        EXPECT_TRUE((c.toErr ? r.out : r.err).empty()) << r.out << r.err;
    }
}
