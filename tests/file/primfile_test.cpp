// The primitive file wrapper against real files: flag mapping, raw OS errors, fwrite's cut.
#include <windows.h>

#include <string>

#include "osse/osse.h"
#include "osse_test.h"

namespace {

std::string readAll(const std::string& path)
{
    std::string data;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) data.append(buf, n);
    CloseHandle(h);
    return data;
}

void writeFile(const std::string& path, const std::string& data)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    CloseHandle(h);
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(PrimitiveFileOp, OpenDispositionFromFlags)
{
    ossetest::TempDir dir;
    const struct {
        Uint32 flags;
        int rcWhenMissing;
    } cases[] = {
        {0x08, ERROR_FILE_NOT_FOUND},
        {0x18, ERROR_FILE_NOT_FOUND},  // OPEN_EXISTING wins over OPEN_ALWAYS
        {0x00, ERROR_FILE_NOT_FOUND},  // neither: the file must exist
        {0x03, ERROR_FILE_NOT_FOUND},
        {0x10, 0},
        {0x14, 0},                     // bit 2 has no effect
        {0x11, 0},
    };
    int i = 0;
    for (const auto& c : cases) {
        const std::string path = dir.file("f" + std::to_string(i++));
        OSSPrimitiveFileOp f;
        EXPECT_EQ(f.open(path.c_str(), c.flags), c.rcWhenMissing) << "flags " << c.flags;
        EXPECT_EQ(f.isValid(), c.rcWhenMissing == 0) << "flags " << c.flags;
        EXPECT_EQ(exists(path), c.rcWhenMissing == 0) << "flags " << c.flags;
        f.close();
        EXPECT_FALSE(f.isValid());
    }

    // A missing folder is a different raw error; the object stays not open.
    OSSPrimitiveFileOp f(dir.file("nofolder\\x.log").c_str(), 0x10);
    EXPECT_FALSE(f.isValid());
    EXPECT_EQ(f.open(dir.file("nofolder\\x.log").c_str(), 0x10), ERROR_PATH_NOT_FOUND);
}

TEST(PrimitiveFileOp, AccessFromFlags)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("data.txt");
    writeFile(path, "0123456789");

    const struct {
        Uint32 flags;
        bool canRead;
        bool canWrite;
    } cases[] = {
        {0x01, true, false},
        {0x03, true, false},  // read wins
        {0x02, false, true},
        {0x00, true, true},
        {0x18, true, true},
    };
    for (const auto& c : cases) {
        OSSPrimitiveFileOp f;
        ASSERT_EQ(f.open(path.c_str(), c.flags), 0) << "flags " << c.flags;
        char buf[4] = {};
        Uint32 got = 99;
        const int rcRead = f.read(3, buf, &got);
        EXPECT_EQ(rcRead, c.canRead ? 0 : ERROR_ACCESS_DENIED) << "flags " << c.flags;
        EXPECT_EQ(got, c.canRead ? 3u : 0u) << "flags " << c.flags;
        f.seekToOffset(0);
        EXPECT_EQ(f.write("ab", 2), c.canWrite ? 0 : ERROR_ACCESS_DENIED) << "flags " << c.flags;
        f.close();
    }
    EXPECT_EQ(readAll(path), "ab23456789");
}

TEST(PrimitiveFileOp, SharesReadAndWriteWithOtherOpens)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("shared.log");
    OSSPrimitiveFileOp a(path.c_str(), 0x10);
    OSSPrimitiveFileOp b(path.c_str(), 0x10);
    ASSERT_TRUE(a.isValid());
    ASSERT_TRUE(b.isValid());
    EXPECT_EQ(a.write("one\r\n", 0), 0);
    b.seekToEnd();
    EXPECT_EQ(b.write("two\r\n", 0), 0);
    a.close();
    b.close();
    EXPECT_EQ(readAll(path), "one\r\ntwo\r\n");
}

TEST(PrimitiveFileOp, AppendSizeAndOffsets)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("append.log");

    OSSPrimitiveFileOp f;
    ASSERT_EQ(f.open(path.c_str(), 0x14), 0);
    OSSPrimitiveFileOp::offsetType size = 123;
    EXPECT_EQ(f.getSize(&size), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(f.write("hello", 0), 0);  // the string without its NUL
    EXPECT_EQ(f.getCurrentOffset(), 5u);
    EXPECT_EQ(f.write("!?xyz", 1), 0);  // an explicit length is honoured
    f.close();
    EXPECT_EQ(readAll(path), "hello!");

    // The callers' append sequence: open, seekToEnd, write, close.
    ASSERT_EQ(f.open(path.c_str(), 0x14), 0);
    f.seekToEnd();
    EXPECT_EQ(f.getCurrentOffset(), 6u);
    f.fwrite("%s=%d;%I64u", "n", -7, 18446744073709551615ull);
    EXPECT_EQ(f.getSize(&size), 0);
    EXPECT_EQ(size, 6u + strlen("n=-7;18446744073709551615"));
    f.seekToOffset(1);
    char buf[8] = {};
    Uint32 got = 0;
    EXPECT_EQ(f.read(4, buf, &got), 0);
    EXPECT_EQ(got, 4u);
    EXPECT_STREQ(buf, "ello");
    f.seekToEnd();
    EXPECT_EQ(f.read(4, buf, &got), 0);  // end of file: success, nothing read
    EXPECT_EQ(got, 0u);
    f.close();
    EXPECT_EQ(readAll(path), "hello!n=-7;18446744073709551615");
}

TEST(PrimitiveFileOp, FwriteCutsAt2047Characters)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("long.log");
    const std::string longText(3000, 'L');
    const struct {
        size_t length;
        size_t written;
    } cases[] = {{2046, 2046}, {2047, 2047}, {2048, 2047}, {3000, 2047}};
    for (const auto& c : cases) {
        OSSPrimitiveFileOp f;
        ASSERT_EQ(f.open(path.c_str(), 0x10), 0);
        f.fwrite("%s", longText.substr(0, c.length).c_str());
        f.close();
        EXPECT_EQ(readAll(path), std::string(c.written, 'L')) << "length " << c.length;
        DeleteFileA(path.c_str());
    }

    // The cut also applies when a short format expands past the buffer.
    OSSPrimitiveFileOp f;
    ASSERT_EQ(f.open(path.c_str(), 0x10), 0);
    f.fwrite("[%3000d]", 5);
    f.close();
    EXPECT_EQ(readAll(path), "[" + std::string(2046, ' '));
}

TEST(PrimitiveFileOp, NotOpenObject)
{
    OSSPrimitiveFileOp f;
    EXPECT_FALSE(f.isValid());
    EXPECT_EQ(f.write("ignored", 0), 0);  // succeeds silently
    f.fwrite("%s", "ignored");
    char buf[4];
    Uint32 got = 77;
    EXPECT_EQ(f.read(sizeof buf, buf, &got), ERROR_INVALID_HANDLE);
    EXPECT_EQ(got, 0u);
    OSSPrimitiveFileOp::offsetType size = 77;
    EXPECT_EQ(f.getSize(&size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(size, 0u);
    f.close();  // nothing to close
    f.constructor();
    EXPECT_FALSE(f.isValid());
}

TEST(PrimitiveFileOp, OpenOfAFolderReportsTheOsError)
{
    ossetest::TempDir dir;
    OSSPrimitiveFileOp f;
    // Opening a folder as a file is refused by the system with its own error code.
    EXPECT_EQ(f.open(dir.path().c_str(), 0x01), static_cast<int>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(f.isValid());
}

TEST(PrimitiveFileOp, ConsoleHandleSurvivesClose)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    OSSPrimitiveFileOp f;
    f.openConsole();
    EXPECT_EQ(f.isValid(), out != INVALID_HANDLE_VALUE);
    f.close();
    EXPECT_FALSE(f.isValid());
    if (out != nullptr && out != INVALID_HANDLE_VALUE) {
        DWORD info = 0;
        EXPECT_TRUE(GetHandleInformation(out, &info)) << "standard output was closed";
    }
}

// A derived writer that takes over a handle it got elsewhere.
class AdoptingFileOp : public OSSPrimitiveFileOp {
public:
    void adopt(HANDLE h) { setFileHandle(h); }
};

TEST(PrimitiveFileOp, SetFileHandleAdoptsAHandle)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("adopted.log");
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    AdoptingFileOp f;
    f.adopt(h);
    EXPECT_TRUE(f.isValid());
    EXPECT_EQ(f.write("adopted", 0), 0);
    f.close();
    EXPECT_EQ(readAll(path), "adopted");
}

}  // namespace
