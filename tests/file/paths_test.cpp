// Path names: the last component and the directory part over one table of paths, raw device
// names read no further than their end, path comparison, the drive map and temporary names.
#include <windows.h>

#include <cstring>
#include <string>

#include "osse/osse.h"
#include "osse_test.h"

namespace {

struct Expect {
    Uint32 rc;
    const char* text;  // result when rc is 0
};
constexpr Uint32 OK = 0;

}  // namespace

TEST(Paths, BaseAndDirectoryNames)
{
    const std::string x259(259, 'x'), x260(260, 'x');
    const std::string d259(259, 'd');
    const std::string dirFits = d259 + "\\f", dirOnePast = d259 + "d\\f";
    struct Case {
        const char* path;
        Uint32 outSize;
        Expect base, dir;
    } cases[] = {
        // separators, runs of them, and trailing ones
        {"a\\b", 260, {OK, "b"}, {OK, "a"}},
        {"a\\b\\c\\", 260, {OK, "c"}, {OK, "a\\b"}},
        {"a\\\\b", 260, {OK, "b"}, {OK, "a"}},
        {"a\\\\", 260, {OK, "a"}, {OK, "."}},
        {"a/b/c", 260, {OK, "c"}, {OK, "a/b"}},
        {"a/b\\c/", 260, {OK, "c"}, {OK, "a/b"}},
        {"file", 260, {OK, "file"}, {OK, "."}},
        // roots
        {"\\", 260, {OK, "\\"}, {OK, "\\"}},
        {"\\\\", 260, {OK, "\\"}, {OK, "\\"}},
        {"\\x", 260, {OK, "x"}, {OK, "\\"}},
        {"C:\\", 260, {OK, "C:"}, {OK, "C:\\"}},
        {"C:\\x", 260, {OK, "x"}, {OK, "C:\\"}},
        {"C:\\dir\\f.txt", 260, {OK, "f.txt"}, {OK, "C:\\dir"}},
        // drive-relative
        {"C:x", 260, {OK, "C:x"}, {OK, "C:"}},
        {"C:dir\\x", 260, {OK, "x"}, {OK, "C:dir"}},
        // UNC
        {"\\\\server\\share", 260, {OK, "share"}, {OK, "\\\\server"}},
        {"\\\\server\\share\\dir\\f", 260, {OK, "f"}, {OK, "\\\\server\\share\\dir"}},
        // raw device paths are their own directory; other device names are not raw
        {"\\\\.\\C:", 260, {OK, "C:"}, {OK, "\\\\.\\C:"}},
        {"\\\\.\\PhysicalDrive0", 260, {OK, "PhysicalDrive0"}, {OK, "\\\\.\\PhysicalDrive0"}},
        {"\\\\?\\Volume{12}\\", 260, {OK, "Volume{12}"}, {OK, "\\\\?\\Volume{12}\\"}},
        {"\\\\.\\C:", 6, {OK, "C:"}, {ECF_BUFFER_TOO_SMALL, nullptr}},
        {"\\\\.\\pipe\\p", 260, {OK, "p"}, {OK, "\\\\.\\pipe"}},
        {"\\\\.\\", 260, {OK, "."}, {OK, "\\"}},
        // dots
        {".", 260, {OK, "."}, {OK, "."}},
        {"..", 260, {OK, ".."}, {OK, "."}},
        {"a\\.", 260, {OK, "."}, {OK, "a"}},
        {"a\\..\\", 260, {OK, ".."}, {OK, "a"}},
        // empty and null
        {"", 260, {ECF_INVALID_PARAMETER, nullptr}, {ECF_INVALID_PARAMETER, nullptr}},
        {nullptr, 260, {ECF_INVALID_PARAMETER, nullptr}, {ECF_INVALID_PARAMETER, nullptr}},
        // results that exactly fill the buffer, and one character more
        {x259.c_str(), 260, {OK, x259.c_str()}, {OK, "."}},
        {x260.c_str(), 260, {ECF_BUFFER_TOO_SMALL, nullptr}, {OK, "."}},
        {dirFits.c_str(), 260, {OK, "f"}, {OK, d259.c_str()}},
        {dirOnePast.c_str(), 260, {OK, "f"}, {ECF_BUFFER_TOO_SMALL, nullptr}},
        // trailing separators count against the buffer before they are dropped
        {"ab", 1, {ECF_BUFFER_TOO_SMALL, nullptr}, {ECF_BUFFER_TOO_SMALL, nullptr}},
        {"a\\b\\\\", 3, {ECF_BUFFER_TOO_SMALL, nullptr}, {OK, "a"}},
        {"a\\b", 0, {ECF_BUFFER_TOO_SMALL, nullptr}, {ECF_BUFFER_TOO_SMALL, nullptr}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path ? std::string("path \"") + c.path + "\" out " + std::to_string(c.outSize)
                            : std::string("null path"));
        for (int which = 0; which < 2; ++which) {
            const Expect& e = which == 0 ? c.base : c.dir;
            // Guard bytes behind the caller's buffer: nothing may be written past outSize.
            char out[300];
            memset(out, '#', sizeof out);
            const Uint32 rc = which == 0 ? ossBaseName(c.path, out, c.outSize)
                                         : ossDirectoryName(c.path, out, c.outSize);
            EXPECT_EQ(rc, e.rc) << (which == 0 ? "base name" : "directory name");
            if (rc == OK && e.rc == OK) {
                EXPECT_STREQ(out, e.text) << (which == 0 ? "base name" : "directory name");
            }
            for (size_t i = c.outSize; i < sizeof out; ++i) {
                ASSERT_EQ(out[i], '#') << "written past the buffer at " << i;
            }
        }
    }
    EXPECT_EQ(ossBaseName("a", nullptr, 8), ECF_INVALID_PARAMETER);
    EXPECT_EQ(ossDirectoryName("a", nullptr, 8), ECF_INVALID_PARAMETER);
}

// A device prefix at the very end of readable memory: the test for a drive letter's colon
// must not read past the terminating NUL.
TEST(Paths, DevicePrefixAtEndOfMemory)
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    char* pages = (char*)VirtualAlloc(nullptr, si.dwPageSize * 2, MEM_RESERVE | MEM_COMMIT,
                                      PAGE_READWRITE);
    ASSERT_NE(pages, nullptr);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(pages + si.dwPageSize, si.dwPageSize, PAGE_NOACCESS, &old));
    char* path = pages + si.dwPageSize - 5;
    memcpy(path, "\\\\.\\", 5);
    char out[16];
    EXPECT_EQ(ossDirectoryName(path, out, sizeof out), 0u);
    EXPECT_STREQ(out, "\\");
    EXPECT_EQ(ossBaseName(path, out, sizeof out), 0u);
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(Paths, ComparePaths)
{
    ossetest::TempDir dir;
    const std::string file = dir.file("Some Long File Name.txt");
    const std::string other = dir.file("other.txt");
    for (const std::string& f : {file, other}) {
        HANDLE h = CreateFileA(f.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    std::string upper = file;
    for (char& ch : upper) ch = (char)toupper((unsigned char)ch);
    char shortName[MAX_PATH] = {};
    GetShortPathNameA(file.c_str(), shortName, sizeof shortName);
    const std::string viaDots = dir.path() + "\\sub\\..\\Some Long File Name.txt";
    const std::string missing1 = dir.file("missing1"), missing2 = dir.file("missing2");

    struct Case {
        std::string a, b;
        bool same;
    } cases[] = {
        {file, file, true},
        {file, upper, true},
        {file, shortName, true},
        {file, other, false},
        {file, missing1, false},
        {missing1, missing1, true},
        // Two files that do not exist are not the same file.
        {missing1, missing2, false},
    };
    CreateDirectoryA((dir.path() + "\\sub").c_str(), nullptr);
    for (const Case& c : cases) {
        EXPECT_EQ(ossComparePaths(c.a.c_str(), c.b.c_str()), c.same) << c.a << " / " << c.b;
    }
    // "." and ".." are resolved before the names are compared.
    EXPECT_TRUE(ossComparePaths(file.c_str(), viaDots.c_str()));
    EXPECT_FALSE(ossComparePaths(file.c_str(), nullptr));
}

TEST(Paths, DriveMapAndTemporaryNames)
{
    Uint32 map = 0;
    EXPECT_EQ(ossGetLogicalDriveMap(&map), 0u);
    EXPECT_NE(map & (1u << ('C' - 'A')), 0u);
    EXPECT_EQ(ossGetLogicalDriveMap(nullptr), ECF_INVALID_PARAMETER);

    char name[300];
    EXPECT_EQ(osstmpnam(name, 13, 0), ECF_BUFFER_TOO_SMALL);
    memset(name, 0, sizeof name);
    EXPECT_EQ(osstmpnam(name, 14, 0), 0u);
    EXPECT_GT(strlen(name), 0u);
    EXPECT_LT(strlen(name), 14u);

    EXPECT_EQ(osstmpnam(name, 100, OSS_TMPNAM_TEMP_FOLDER), ECF_BUFFER_TOO_SMALL);
    ASSERT_EQ(osstmpnam(name, 260, OSS_TMPNAM_TEMP_FOLDER), 0u);
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    EXPECT_EQ(_strnicmp(name, folder, strlen(folder)), 0) << name;
    EXPECT_NE(strstr(name + strlen(folder), "nrv"), nullptr) << name;
    // The name is reserved by a new empty file; a second call gives another one.
    EXPECT_TRUE(ossIsFile(name));
    char second[260];
    ASSERT_EQ(osstmpnam(second, sizeof second, OSS_TMPNAM_TEMP_FOLDER), 0u);
    EXPECT_STRNE(name, second);
    DeleteFileA(name);
    DeleteFileA(second);
}
