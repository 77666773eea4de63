// The trap-file reader on the checked-in files of both layouts, whole, cut and damaged, read from
// memory as the tool reads them from disk.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "seeds.h"
#include "trapread.h"

namespace {

struct Text final : trapread::Output {
    std::string all;
    void text(const char* s, size_t n) override { all.append(s, n); }
};

const std::string kData = std::string(OSSE_SOURCE_ROOT) + "/tests/fault/data/";

int readTrap(const std::string& bytes, std::string* text, long long offset = -1)
{
    trapread::MemorySource file(bytes.data(), bytes.size());
    Text out;
    const int rc = trapread::read(file, out, "t", offset);
    *text = out.all;
    return rc;
}

}  // namespace

// The reader gives the text the Windows tool is checked against (after its first line, which
// names the file).
TEST(TrapRead, CheckedInFilesOfBothLayoutsReadAsExpected)
{
    for (const char* name : {"trap32", "trap64"}) {
        SCOPED_TRACE(name);
        const std::string bytes = readFile(kData + name + ".trap");
        const std::string expected = readFile(kData + name + ".txt");
        ASSERT_FALSE(bytes.empty());
        ASSERT_FALSE(expected.empty());
        std::string text;
        EXPECT_EQ(0, readTrap(bytes, &text));
        EXPECT_EQ(expected, text.substr(text.find('\n') + 1));
        saveSeed("trapread_fuzz", name, bytes);
        // Behind other bytes, the header is found by its eye-catcher.
        const size_t header = text.find("header at offset ");
        const std::string at = text.substr(header, text.find('\n', header) - header);
        EXPECT_EQ(0, readTrap(std::string(100, 'x') + bytes, &text));
        EXPECT_NE(std::string::npos,
                  text.find("header at offset " + std::to_string(100 + std::stoul(at.substr(17))) + "\n"))
            << text;
    }
}

// Every cut of the files is reported as a cut with its section, never read past the end (the
// sanitizers watch the reading), and never taken for a whole file.
TEST(TrapRead, EveryCutIsReportedNotRead)
{
    for (const char* name : {"trap32", "trap64"}) {
        SCOPED_TRACE(name);
        const std::string bytes = readFile(kData + name + ".trap");
        int cuts = 0;
        for (size_t n = 0; n < bytes.size(); n += (n < 2048 ? 7 : 61)) {
            std::string text;
            const int rc = readTrap(bytes.substr(0, n), &text);
            if (rc == 0) {
                // Only a cut inside the memory regions' trailing bytes could pass, and there is
                // always the end marker after them.
                ADD_FAILURE() << "cut at " << n << " read as whole:\n" << text;
                continue;
            }
            ++cuts;
            EXPECT_TRUE(text.find("file is cut in the") != std::string::npos ||
                        text.find("damaged:") != std::string::npos)
                << "cut at " << n << ":\n" << text;
        }
        EXPECT_GT(cuts, 100);
    }
}

// A file whose system section starts but is cut inside its version record: the section is
// reported cut, not printed from the bytes of the header read before it.
TEST(TrapRead, SystemSectionCutInsideIsReportedCut)
{
    const std::string bytes = readFile(kData + "trap32.trap");
    const size_t header = bytes.find(OSS_TRAP_EYECATCHER32);
    ASSERT_NE(std::string::npos, header);
    // The header, the system information and the version record's size word only.
    const std::string cut = bytes.substr(0, header + OSS_TRAP_HEADER32_SIZE + OSS_TRAP_SYSTEM_INFO32_SIZE + 4);
    std::string text;
    EXPECT_EQ(1, readTrap(cut, &text));
    EXPECT_NE(std::string::npos, text.find("file is cut in the system section")) << text;
    EXPECT_EQ(std::string::npos, text.find("processors:")) << text;
    saveSeed("trapread_fuzz", "system-cut", cut);
}

// A file that ends inside the environment section, after its first whole string, is reported
// cut there: the section is not skipped and the strings read as the exception record.
TEST(TrapRead, EnvironmentCutInsideIsReportedCut)
{
    const std::string bytes = readFile(kData + "trap32.trap");
    const size_t marker = bytes.find(OSS_TRAP_ENV_END_MARKER);
    ASSERT_NE(std::string::npos, marker);
    // The file's environment is "A=1", "B=22", then the marker, each after its 4-byte length.
    const size_t firstString = marker - 4 - (4 + 4) - (4 + 3);
    ASSERT_EQ(0, bytes.compare(firstString + 4, 3, "A=1"));
    for (size_t cut = firstString + 7; cut < marker + 11; ++cut) {
        std::string text;
        EXPECT_EQ(1, readTrap(bytes.substr(0, cut), &text)) << cut;
        EXPECT_NE(std::string::npos, text.find("file is cut in the environment section")) << cut << "\n" << text;
        EXPECT_EQ(std::string::npos, text.find("exception:")) << cut << "\n" << text;
        if (cut == marker) saveSeed("trapread_fuzz", "environment-cut", bytes.substr(0, cut));
    }
}

// Module paths are offered for opening only in a form that names a file on a drive letter.
TEST(TrapRead, ModulePathForms)
{
    const struct {
        const char* path;
        bool refused;
    } cases[] = {
        {"C:\\app\\lib.dll", false},   {"c:\\a\\b.dll", false},
        {"\\\\server\\share\\x.dll", true}, {"//server/share/x.dll", true},
        {"\\\\?\\C:\\x.dll", true},    {"\\\\.\\pipe\\x", true},
        {"C:x.dll", true},             {"lib.dll", true},
        {"C:\\a\\CON", true},          {"C:\\a\\con.txt", true},
        {"C:\\a\\COM1.dll", true},     {"C:\\a\\lpt\xB9", true},
        {"C:\\a\\COM10.dll", false},   {"C:\\a\\b:c.dll", true},
        {"C:\\a\\b?.dll", true},       {"C:\\a\\NUL  .x", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.refused, trapread::pathRefusal(c.path) != nullptr) << c.path;
}
