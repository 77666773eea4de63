// Operations on one file by name, on real files: information and its text, existence and
// access tests, delete, rename, copy, permissions, and what they log when they fail.
#include <windows.h>

#include <cstring>
#include <ctime>
#include <string>

#include "files_fixture.h"

using namespace filetest;

namespace {

constexpr Uint32 kVersion = OSS_CURRENT_VERSION;

OSSFileGetInfoParam infoParam(const char* path, Uint32 flags = 0,
                              void* handle = INVALID_HANDLE_VALUE)
{
    return {kVersion, path, 0, 0, flags, handle};
}

struct Tree {
    ossetest::TempDir dir;
    std::string file = dir.file("ten.bin");
    std::string ro = dir.file("ro.txt");
    std::string sub = dir.file("sub");
    std::string missing = dir.file("missing.txt");
    std::string missingParent = dir.file("nodir\\x.txt");
    Tree()
    {
        writeFile(file, "0123456789");
        writeFile(ro, "read only");
        makeReadOnly(ro);
        makeDir(sub);
    }
};

}  // namespace

TEST(FileOps, InformationByPathAndByHandle)
{
    Tree t;
    const std::string subSlash = t.sub + "\\";
    struct Case {
        std::string path;
        Uint64 size;
        Uint32 type, ownerBits;
    } cases[] = {
        {t.file, 10, OSS_FILE_TYPE_REGULAR, 0x180},
        {t.ro, 9, OSS_FILE_TYPE_REGULAR, 0x100},
        {t.sub, 0, OSS_FILE_TYPE_DIRECTORY, 0x1C0},
        // the runtime alone would refuse the trailing separator
        {subSlash, 0, OSS_FILE_TYPE_DIRECTORY, 0x1C0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        OSSFileInfo info;
        memset(&info, 0xAB, sizeof info);
        OSSFileGetInfoParam p = infoParam(c.path.c_str());
        ASSERT_EQ(ossFileGetInfoV9(&p, &info), 0u);
        if (c.type == OSS_FILE_TYPE_REGULAR) {
            EXPECT_EQ(info.size, c.size);
        }
        EXPECT_EQ(info.type, c.type);
        EXPECT_EQ(info.permissions & 0x1C0u, c.ownerBits);
        EXPECT_EQ(info.permissions & ~0xFFFu, 0u);
        EXPECT_FALSE(info.isLink);
        EXPECT_EQ(info.referencePath, nullptr);
        EXPECT_LT(llabs(info.modified - (Sint64)time(nullptr)), 3600);

        OSSFileInfo byValue;
        ASSERT_EQ(ossFileGetInfo(kVersion, c.path.c_str(), 0, 0, 0, &byValue), 0u);
        EXPECT_EQ(byValue.type, info.type);
        EXPECT_EQ(byValue.permissions, info.permissions);
    }

    // By handle: size, type and the read-only attribute; the other fields are left alone.
    for (const std::string& name : {t.file, t.ro}) {
        HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        OSSFileInfo info;
        memset(&info, 0, sizeof info);
        info.uid = 77;
        OSSFileGetInfoParam p = infoParam(nullptr, 0, h);
        EXPECT_EQ(ossFileGetInfoV9(&p, &info), 0u);
        CloseHandle(h);
        EXPECT_EQ(info.type, OSS_FILE_TYPE_REGULAR);
        EXPECT_EQ(info.size, name == t.file ? 10u : 9u);
        EXPECT_EQ(info.permissions, name == t.ro ? 0x100u : 0x180u);
        EXPECT_EQ(info.uid, 77u);
    }
}

TEST(FileOps, InformationFailures)
{
    Tree t;
    OSSFileInfo info;
    EXPECT_EQ(ossFileGetInfoV9(nullptr, &info), ECF_INVALID_PARAMETER);
    OSSFileGetInfoParam old = infoParam(t.file.c_str());
    old.version = OSS_MIN_VERSION - 1;
    EXPECT_EQ(ossFileGetInfoV9(&old, &info), ECF_INVALID_VERSION);
    EXPECT_EQ(ossFileGetInfo(OSS_MIN_VERSION - 1, t.file.c_str(), 0, 0, 0, &info),
              ECF_INVALID_VERSION);
    OSSFileGetInfoParam p = infoParam(t.file.c_str());
    EXPECT_EQ(ossFileGetInfoV9(&p, nullptr), ECF_INVALID_PARAMETER);

    // A missing file, and a file named with a trailing separator as only a directory may be:
    // the runtime's own refusal.
    for (const std::string& path : {t.missing, t.file + "\\", t.file + "/"}) {
        SCOPED_TRACE(path);
        RecordCapture capture;
        OSSFileGetInfoParam m = infoParam(path.c_str());
        EXPECT_EQ(ossFileGetInfoV9(&m, &info), ECF_FILE_DOESNT_EXIST);
        ASSERT_EQ(capture.all().size(), 1u);
        const Record& r = capture.all()[0];
        EXPECT_EQ(r.functionId, 0x081A001Fu);
        EXPECT_EQ(r.calledId, 0x0814009Du);
        EXPECT_EQ(r.code, 2u);  // ENOENT
        EXPECT_EQ(r.probe, 30u);
        ASSERT_FALSE(r.values.empty());
        EXPECT_EQ(r.values[0], path);
    }
    {
        RecordCapture capture;
        OSSFileGetInfoParam m = infoParam(t.missing.c_str(), OSS_FILE_INFO_QUIET);
        EXPECT_EQ(ossFileGetInfoV9(&m, &info), ECF_FILE_DOESNT_EXIST);
        HANDLE closed = CreateFileA(t.file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        CloseHandle(closed);
        OSSFileGetInfoParam h = infoParam(nullptr, OSS_FILE_INFO_QUIET, closed);
        EXPECT_NE(ossFileGetInfoV9(&h, &info), 0u);
        EXPECT_TRUE(capture.all().empty()) << "a quiet query logs nothing";
    }
}

TEST(FileOps, InformationText)
{
    OSSFileInfo info = {};
    info.size = 1234;
    info.type = OSS_FILE_TYPE_REGULAR;
    info.permissions = 0x180;
    info.uid = 1;
    info.gid = 2;
    info.modified = 0x100000005ll;
    OSSFileInfo::toStringParam p;
    p.version = kVersion;
    info.toString(&p);
    EXPECT_STREQ(p.buffer,
                 "Target File Information :\n"
                 "  Size               = 1234\n"
                 "  Link               = No\n"
                 "  Reference path     = N/A\n"
                 "  Type               = 0x8000\n"
                 "  Permissions        = rw-------\n"
                 "  UID                = 1\n"
                 "  GID                = 2\n"
                 "  Last modified time = 5");

    const std::string target(100, 't');
    info.isLink = true;
    info.referencePath = target.c_str();
    info.permissions = 0x1FF;
    info.toString(&p);
    EXPECT_NE(strstr(p.buffer, "Link               = Yes\n"), nullptr);
    EXPECT_NE(strstr(p.buffer, ("Reference path     = " + std::string(30, 't') + "\n").c_str()),
              nullptr);
    EXPECT_NE(strstr(p.buffer, "Permissions        = rwx------\n"), nullptr);

    memset(p.buffer, 'z', sizeof p.buffer);
    p.version = OSS_MIN_VERSION - 1;
    info.toString(&p);
    EXPECT_EQ(p.buffer[0], 'z');
}

TEST(FileOps, ExistenceAndAccessTests)
{
    Tree t;
    struct Case {
        std::string path;
        bool isFile, isDir;
        int accessRead, accessWrite;
        Uint32 testExists, testWrite;
    } cases[] = {
        {t.file, true, false, 0, 0, 0, 0},
        {t.ro, true, false, 0, -1, 0, ECF_ACCESS_DENIED},
        {t.sub, false, true, 0, 0, 0, 0},
        {t.missing, false, false, -1, -1, ECF_FILE_DOESNT_EXIST, ECF_FILE_DOESNT_EXIST},
        {t.missingParent, false, false, -1, -1, ECF_FILE_DOESNT_EXIST, ECF_FILE_DOESNT_EXIST},
    };
    RecordCapture capture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(ossIsFile(c.path.c_str()), c.isFile);
        EXPECT_EQ(ossIsDirectory(c.path.c_str()), c.isDir);
        EXPECT_FALSE(ossIsSymbolicLink(c.path.c_str()));
        EXPECT_EQ(ossPathExists(c.path.c_str()), c.testExists == 0);
        EXPECT_EQ(oss_access(c.path.c_str(), 0), c.accessRead);
        SetLastError(0);
        EXPECT_EQ(oss_access(c.path.c_str(), 2), c.accessWrite);
        if (c.accessWrite && c.accessRead == 0) {
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        }
        OSSPathTestParam p = {kVersion, c.path.c_str(), OSS_PATH_TEST_EXISTS, 0};
        EXPECT_EQ(ossPathTest(&p), c.testExists);
        p.flags = OSS_PATH_TEST_EXISTS | OSS_PATH_TEST_READ | OSS_PATH_TEST_WRITE;
        SetLastError(0);
        EXPECT_EQ(ossPathTest(&p), c.testWrite);
        if (c.testWrite == ECF_ACCESS_DENIED) {
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        }
    }
    // Answers, not failures: nothing was logged.
    EXPECT_TRUE(capture.all().empty());

    EXPECT_FALSE(ossIsFile(nullptr));
    EXPECT_FALSE(ossPathExists(nullptr));
    EXPECT_EQ(oss_access(nullptr, 0), -1);
    EXPECT_EQ(ossPathTest(nullptr), ECF_INVALID_PARAMETER);
    OSSPathTestParam old = {OSS_MIN_VERSION - 1, t.file.c_str(), 1, 0};
    EXPECT_EQ(ossPathTest(&old), ECF_INVALID_VERSION);
}

TEST(FileOps, DeleteRenameAndCopy)
{
    Tree t;
    const std::string renamed = t.dir.file("renamed.bin");
    const std::string copy = t.dir.file("copy.bin");

    EXPECT_EQ(ossFileCopy(t.file.c_str(), copy.c_str()), 0u);
    EXPECT_EQ(readFile(copy), "0123456789");
    // Never overwrites, never copies onto itself.
    writeFile(renamed, "keep");
    EXPECT_EQ(ossFileCopy(t.file.c_str(), renamed.c_str()), ECF_FILE_EXISTS);
    EXPECT_EQ(readFile(renamed), "keep");
    EXPECT_EQ(ossFileCopy(t.file.c_str(), t.file.c_str()), ECF_INVALID_PARAMETER);
    EXPECT_EQ(ossFileCopy(nullptr, copy.c_str()), ECF_INVALID_PARAMETER);
    EXPECT_NE(ossFileCopy(t.missing.c_str(), t.dir.file("c2").c_str()), 0u);
    EXPECT_FALSE(exists(t.dir.file("c2")));

    // Rename refuses an existing destination, and reports every failure the same way.
    EXPECT_EQ(ossFileRename(copy.c_str(), renamed.c_str()), ECF_FILE_DOESNT_EXIST);
    EXPECT_EQ(readFile(renamed), "keep");
    EXPECT_EQ(ossFileDelete(renamed.c_str()), 0u);
    EXPECT_EQ(ossFileRename(copy.c_str(), renamed.c_str()), 0u);
    EXPECT_FALSE(exists(copy));
    EXPECT_EQ(readFile(renamed), "0123456789");
    EXPECT_EQ(ossFileRename(t.missing.c_str(), copy.c_str()), ECF_FILE_DOESNT_EXIST);

    EXPECT_EQ(ossFileDelete(renamed.c_str()), 0u);
    EXPECT_FALSE(exists(renamed));
    EXPECT_EQ(ossFileDelete(t.missing.c_str()), ECF_FILE_DOESNT_EXIST);
    EXPECT_EQ(ossFileDelete(t.sub.c_str()), ECF_FILE_IS_A_DIRECTORY);
    EXPECT_TRUE(exists(t.sub));
    // A read-only file is refused by the OS and stays.
    EXPECT_EQ(ossFileDelete(t.ro.c_str()), ECF_ACCESS_DENIED);
    EXPECT_TRUE(exists(t.ro));
}

// Each failure is written once under the operation, naming what failed and with its probe.
TEST(FileOps, FailureRecords)
{
    Tree t;
    const std::string copy = t.dir.file("copy.bin");
    struct Case {
        const char* what;
        Uint32 rc;
        Uint32 (*op)(const Tree&);
        Uint32 functionId, calledId, probe;
        bool osError;
    } cases[] = {
        {"delete of a missing file", ECF_FILE_DOESNT_EXIST,
         [](const Tree& t) { return ossFileDelete(t.missing.c_str()); }, 0x081A0013, 0x081A009C,
         20, false},
        {"delete of a directory", ECF_FILE_IS_A_DIRECTORY,
         [](const Tree& t) { return ossFileDelete(t.sub.c_str()); }, 0x081A0013, 0, 30, false},
        {"delete refused by the OS", ECF_ACCESS_DENIED,
         [](const Tree& t) { return ossFileDelete(t.ro.c_str()); }, 0x081A0013, 0x08140071, 40,
         true},
        {"rename of a missing file", ECF_FILE_DOESNT_EXIST,
         [](const Tree& t) { return ossFileRename(t.missing.c_str(), t.dir.file("r").c_str()); },
         0x081A0016, 0x08140089, 30, true},
        {"copy onto an existing file", ECF_FILE_EXISTS,
         [](const Tree& t) { return ossFileCopy(t.file.c_str(), t.ro.c_str()); }, 0x081A0025, 0,
         20, false},
        {"copy onto itself", ECF_INVALID_PARAMETER,
         [](const Tree& t) { return ossFileCopy(t.file.c_str(), t.file.c_str()); }, 0x081A0025,
         0, 10, false},
        {"permissions of a missing file", ECF_FILE_DOESNT_EXIST,
         [](const Tree& t) { return ossFileSetPermissions(t.missing.c_str(), 0x100); },
         0x081A0018, 0x08140003, 20, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordCapture capture;
        EXPECT_EQ(c.op(t), c.rc);
        ASSERT_EQ(capture.all().size(), 1u);
        const Record& r = capture.all()[0];
        EXPECT_EQ(r.functionId, c.functionId);
        EXPECT_EQ(r.probe, c.probe);
        if (c.calledId) {
            EXPECT_EQ(r.calledId, c.calledId);
        }
        EXPECT_EQ((r.flags & OSS_LOG_FLAG_OSERR) != 0, c.osError);
    }
    // A failed CopyFileA: one record of the copy itself, one of the operation naming it.
    RecordCapture capture;
    EXPECT_EQ(ossFileCopy(t.missing.c_str(), copy.c_str()), ECF_FILE_DOESNT_EXIST);
    ASSERT_EQ(capture.all().size(), 2u);
    EXPECT_EQ(capture.all()[0].functionId, 0x081A0024u);
    EXPECT_EQ(capture.all()[0].calledId, 0x0814006Au);
    EXPECT_EQ(capture.all()[0].probe, 10u);
    EXPECT_EQ(capture.all()[1].functionId, 0x081A0025u);
    EXPECT_EQ(capture.all()[1].calledId, 0x081A0024u);
    EXPECT_EQ(capture.all()[1].probe, 30u);
}

TEST(FileOps, Permissions)
{
    Tree t;
    EXPECT_EQ(ossFileSetPermissions(t.file.c_str(), 0x100), 0u);
    EXPECT_TRUE(isReadOnly(t.file));
    OSSFileInfo info;
    OSSFileGetInfoParam p = infoParam(t.file.c_str());
    ASSERT_EQ(ossFileGetInfoV9(&p, &info), 0u);
    EXPECT_EQ(info.permissions & 0x180u, 0x100u);
    // 0 means owner read and write.
    EXPECT_EQ(ossFileSetPermissions(t.file.c_str(), 0), 0u);
    EXPECT_FALSE(isReadOnly(t.file));
    EXPECT_EQ(ossFileSetOwnership(t.file.c_str(), 1, 2), 0u);
    EXPECT_EQ(ossFileCreateSymlink(t.file.c_str(), t.dir.file("link").c_str()), 0u);
}
