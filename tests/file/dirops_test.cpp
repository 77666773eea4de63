// Directory operations on real trees built here: creation of one directory and of whole paths,
// deletion of one directory and of trees (stopped by read-only files, refused at the root of a
// drive), tree copies that either complete or leave nothing behind and never copy into
// themselves, drive-relative paths on a drive of the test's own, and the current directory.
#include <windows.h>
#include <winioctl.h>

#include <cctype>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "files_fixture.h"

using namespace filetest;

namespace {

constexpr Uint32 kVersion = OSS_CURRENT_VERSION;

Uint32 createDir(const std::string& path, Uint32 mode)
{
    OSSDirectoryCreateParam p = {kVersion, path.c_str(), 0755, mode};
    return ossDirectoryCreate(&p);
}

Uint32 deleteDir(const std::string& path, Uint32 flags)
{
    OSSDirectoryDeleteParam p = {kVersion, path.c_str(), flags};
    return ossDirectoryDelete(&p);
}

bool isDir(const std::string& path)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Everything below a directory: relative name -> "D" (+ "r" when read-only) or the content.
using Snapshot = std::map<std::string, std::string>;
void snapshot(const std::string& root, const std::string& rel, Snapshot& out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((root + rel + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        const std::string r = rel + "\\" + name;
        const bool ro = (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[r] = ro ? "Dr" : "D";
            snapshot(root, r, out);
        } else {
            out[r] = readFile(root + r) + (ro ? " (ro)" : "");
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}
Snapshot snapshot(const std::string& root)
{
    Snapshot s;
    snapshot(root, "", s);
    return s;
}

// "Source Tree": top.txt, ro.txt (read-only), empty\, n1\f1.txt, n1\n2\f2.txt, n1\n2\ro2.txt
// (read-only), n1\n2\empty2\ . The name is no 8.3 name, so it has a short form of its own.
struct SourceTree {
    ossetest::TempDir dir;
    std::string src = dir.file("Source Tree");
    SourceTree()
    {
        makeDir(src);
        writeFile(src + "\\top.txt", "top");
        writeFile(src + "\\ro.txt", "read only");
        makeReadOnly(src + "\\ro.txt");
        makeDir(src + "\\empty");
        makeDir(src + "\\n1");
        writeFile(src + "\\n1\\f1.txt", "one");
        makeDir(src + "\\n1\\n2");
        writeFile(src + "\\n1\\n2\\f2.txt", std::string(100000, 'x'));
        writeFile(src + "\\n1\\n2\\ro2.txt", "deep read only");
        makeReadOnly(src + "\\n1\\n2\\ro2.txt");
        makeDir(src + "\\n1\\n2\\empty2");
    }
};

// A file held open with no sharing at all: nobody else can read it.
struct Locked {
    HANDLE h;
    explicit Locked(const std::string& name)
    {
        h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                        nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
    }
    ~Locked() { CloseHandle(h); }
};

// A link at `link` to the directory `target`: a symbolic link where the process may make one,
// else a junction. False when the file system makes neither (Wine's does not).
bool makeDirectoryLink(const std::string& link, const std::string& target)
{
    const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    auto isLink = [&] {
        const DWORD a = GetFileAttributesA(link.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
    };
    if (CreateSymbolicLinkA(link.c_str(), target.c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY | unprivileged) && isLink()) {
        return true;
    }
    RemoveDirectoryA(link.c_str());
    if (!CreateDirectoryA(link.c_str(), nullptr)) return false;
    // A mount-point reparse record: the NT name of the target, then its printed name.
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, wide, MAX_PATH);
    const std::wstring nt = L"\\??\\" + std::wstring(wide), print = wide;
    const USHORT ntBytes = (USHORT)(nt.size() * 2), printBytes = (USHORT)(print.size() * 2);
    std::vector<BYTE> buf(16 + ntBytes + 2 + printBytes + 2, 0);
    USHORT* h = reinterpret_cast<USHORT*>(buf.data());
    *reinterpret_cast<DWORD*>(buf.data()) = IO_REPARSE_TAG_MOUNT_POINT;
    h[2] = (USHORT)(buf.size() - 8);           // data length
    h[4] = 0;                                  // substitute name offset and length
    h[5] = ntBytes;
    h[6] = (USHORT)(ntBytes + 2);              // print name offset and length
    h[7] = printBytes;
    memcpy(buf.data() + 16, nt.c_str(), ntBytes);
    memcpy(buf.data() + 16 + ntBytes + 2, print.c_str(), printBytes);
    HANDLE dir = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD n = 0;
    const bool made = dir != INVALID_HANDLE_VALUE &&
                      DeviceIoControl(dir, FSCTL_SET_REPARSE_POINT, buf.data(), (DWORD)buf.size(),
                                      nullptr, 0, &n, nullptr);
    if (dir != INVALID_HANDLE_VALUE) CloseHandle(dir);
    if (made && isLink()) return true;
    RemoveDirectoryA(link.c_str());
    return false;
}

char unusedDrive()
{
    const DWORD map = GetLogicalDrives();
    for (char d = 'Q'; d <= 'Y'; ++d)
        if (!(map & (1u << (d - 'A')))) return d;
    return 0;
}

}  // namespace

TEST(DirectoryOps, Create)
{
    ossetest::TempDir dir;
    const std::string one = dir.file("one");
    EXPECT_EQ(createDir(one, OSS_DIR_CREATE_ONE), 0u);
    EXPECT_TRUE(isDir(one));
    EXPECT_EQ(createDir(one, OSS_DIR_CREATE_ONE), ECF_FILE_EXISTS);
    EXPECT_EQ(createDir(dir.file("x\\y"), OSS_DIR_CREATE_ONE), ECF_FILE_PATH_DOESNT_EXIST);

    const std::string deep = dir.file("a\\b\\c");
    EXPECT_EQ(createDir(deep, OSS_DIR_CREATE_PATH), 0u);
    EXPECT_TRUE(isDir(dir.file("a")) && isDir(dir.file("a\\b")) && isDir(deep));
    EXPECT_EQ(createDir(deep, OSS_DIR_CREATE_PATH), 0u);
    EXPECT_EQ(createDir(dir.file("a\\\\b2/c2\\"), OSS_DIR_CREATE_PATH), 0u);
    EXPECT_TRUE(isDir(dir.file("a\\b2\\c2")));

    // A file where a directory should be is not "already there".
    writeFile(dir.file("a\\file"), "f");
    EXPECT_EQ(createDir(dir.file("a\\file"), OSS_DIR_CREATE_PATH), ECF_FILE_EXISTS);
    EXPECT_NE(createDir(dir.file("a\\file\\sub"), OSS_DIR_CREATE_PATH), 0u);
    EXPECT_FALSE(isDir(dir.file("a\\file")));

    EXPECT_EQ(ossDirectoryCreate(nullptr), ECF_INVALID_PARAMETER);
    OSSDirectoryCreateParam old = {OSS_MIN_VERSION - 1, one.c_str(), 0, 1};
    EXPECT_EQ(ossDirectoryCreate(&old), ECF_INVALID_VERSION);
    OSSDirectoryCreateParam noPath = {kVersion, nullptr, 0, 2};
    EXPECT_EQ(ossDirectoryCreate(&noPath), ECF_INVALID_PARAMETER);
}

// Modes other than 1 and 2 create the path a directory at a time, like mode 2, but stop at the
// first one that is there already, a root's first directory included.
TEST(DirectoryOps, CreateWithOtherModesWalksThePath)
{
    char original[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof original, original), 0u);
    ossetest::TempDir dir;
    ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
    makeDir(dir.file("have"));
    const std::string top = dir.path().substr(0, dir.path().find('\\', 3) + 1);  // "C:\users\"
    struct Case {
        Uint32 mode;
        std::string path, failingPrefix;  // none when the whole path is made
    } cases[] = {
        {0, "m0\\a\\b", ""},
        {3, "m3", ""},
        {7, "have\\x\\y", "have\\"},
        {3, dir.file("abs\\x"), top},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " mode " + std::to_string(c.mode));
        RecordCapture capture;
        const Uint32 rc = createDir(c.path, c.mode);
        if (c.failingPrefix.empty()) {
            EXPECT_EQ(rc, 0u);
            EXPECT_TRUE(isDir(c.path));
            continue;
        }
        EXPECT_EQ(rc, ECF_FILE_EXISTS);
        const auto recs = capture.of(0x081A0019);
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_EQ(recs[0].probe, 20u);
        ASSERT_GE(recs[0].values.size(), 2u);
        EXPECT_EQ(recs[0].values[1], c.failingPrefix);
    }
    EXPECT_FALSE(exists(dir.file("have\\x")) || exists(dir.file("abs")));
    ASSERT_TRUE(SetCurrentDirectoryA(original));
}

// Mode 2 starts below the root: the first directory it asks for is the first component after
// the drive or the share, which the failure record names.
TEST(DirectoryOps, CreatePathNeverCreatesRoots)
{
    const char drive = unusedDrive();
    ASSERT_NE(drive, 0);
    const std::string onDrive = std::string(1, drive) + ":\\a\\b";
    struct Case {
        std::string path, firstPrefix;
    } cases[] = {
        {onDrive, std::string(1, drive) + ":\\a\\"},
        {"\\\\nosuchhost\\share\\a\\b", "\\\\nosuchhost\\share\\a\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        RecordCapture capture;
        EXPECT_NE(createDir(c.path, OSS_DIR_CREATE_PATH), 0u);
        const auto recs = capture.of(0x081A0019);
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_EQ(recs[0].calledId, 0x0814006Bu);
        EXPECT_EQ(recs[0].probe, 20u);
        ASSERT_GE(recs[0].values.size(), 2u);
        EXPECT_EQ(recs[0].values[1], c.firstPrefix);
    }
}

TEST(DirectoryOps, Delete)
{
    SourceTree t;
    const Snapshot before = snapshot(t.src);
    // One directory only: a full one is refused by the OS and stays whole.
    EXPECT_EQ(deleteDir(t.src, 0), ECF_FILE_DIR_NOT_EMPTY);
    EXPECT_EQ(snapshot(t.src), before);
    EXPECT_EQ(deleteDir(t.src + "\\empty", 0), 0u);
    EXPECT_FALSE(exists(t.src + "\\empty"));

    EXPECT_EQ(deleteDir("NUL", OSS_DIR_DELETE_CONTENTS), ECF_INVALID_PARAMETER);
    EXPECT_EQ(deleteDir(t.src + "\\top.txt", OSS_DIR_DELETE_CONTENTS), ECF_FILE_NOT_A_DIRECTORY);
    EXPECT_EQ(deleteDir(t.dir.file("missing"), OSS_DIR_DELETE_CONTENTS), ECF_FILE_NOT_A_DIRECTORY);
    EXPECT_TRUE(exists(t.src + "\\top.txt"));
    EXPECT_EQ(ossDirectoryDelete(nullptr), ECF_INVALID_PARAMETER);

    // A read-only file stops the walk: read-only files stay, read-only as they were.
    {
        RecordCapture capture;
        EXPECT_EQ(deleteDir(t.src, OSS_DIR_DELETE_CONTENTS), ECF_ACCESS_DENIED);
        bool refused = false;
        for (const Record& r : capture.all())
            refused |= r.functionId == 0x081A0013 && r.calledId == 0x08140071;
        EXPECT_TRUE(refused) << "the file delete's own failure";
    }
    EXPECT_TRUE(exists(t.src));
    EXPECT_TRUE(isReadOnly(t.src + "\\ro.txt") && isReadOnly(t.src + "\\n1\\n2\\ro2.txt"));

    // Without read-only files the tree goes.
    for (const char* ro : {"\\ro.txt", "\\n1\\n2\\ro2.txt"})
        SetFileAttributesA((t.src + ro).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(deleteDir(t.src, OSS_DIR_DELETE_CONTENTS), 0u);
    EXPECT_FALSE(exists(t.src));
}

// "M:" alone is drive M's current directory, for a listing, a tree copy and a tree delete; a
// tree delete that would start at the root of a drive or a share is refused, and "M:" is that
// root while no current directory is recorded for M.
TEST(DirectoryOps, DriveRelativePathsAndRoots)
{
    ossetest::TempDir dir;
    const std::string folder = dir.file("drive");
    makeDir(folder);
    writeFile(folder + "\\at root.txt", "root");
    makeDir(folder + "\\cur");
    writeFile(folder + "\\cur\\a.txt", "a");
    makeDir(folder + "\\cur\\sub");
    writeFile(folder + "\\cur\\sub\\b.txt", "b");
    MappedDrive drive(folder);
    if (!drive.letter()) GTEST_SKIP() << drive.why();
    const std::string m = drive.name();
    const Snapshot whole = snapshot(folder);

    for (const std::string& top : {m, m + "\\", m + "\\cur\\..", std::string("\\\\host\\share"),
                                   std::string("\\\\host\\share\\")}) {
        SCOPED_TRACE(top);
        EXPECT_EQ(deleteDir(top, OSS_DIR_DELETE_CONTENTS), ECF_INVALID_PARAMETER);
        EXPECT_EQ(snapshot(folder), whole);
    }

    drive.setCurrent(m + "\\cur");
    {
        OSSDirectoryListing l;
        OSSDirectoryListingParam p = {kVersion, m.c_str(), OSS_LIST_ALL, 0};
        ASSERT_EQ(l.begin(&p), 0u);
        std::multiset<std::string> names;
        while (const char* n = l.getNext()) names.insert(n);
        EXPECT_EQ(names, (std::multiset<std::string>{".", "..", "a.txt", "sub"}));
        EXPECT_EQ(l.end(), 0u);
    }
    const std::string copy = dir.file("copy");
    EXPECT_EQ(ossDirectoryCopy(m.c_str(), copy.c_str()), 0u);
    EXPECT_EQ(snapshot(copy), snapshot(folder + "\\cur"));

    EXPECT_EQ(deleteDir(m, OSS_DIR_DELETE_CONTENTS), 0u);
    EXPECT_FALSE(exists(folder + "\\cur"));
    EXPECT_EQ(readFile(folder + "\\at root.txt"), "root");
}

// A tree delete stops at the first entry it cannot delete, and says so at every level.
TEST(DirectoryOps, DeleteStopsAtAFileInUse)
{
    SourceTree t;
    Locked busy(t.src + "\\n1\\n2\\busy.txt");
    RecordCapture capture;
    EXPECT_EQ(deleteDir(t.src, OSS_DIR_DELETE_CONTENTS), ECF_FILE_SHARE);
    EXPECT_TRUE(exists(t.src + "\\n1\\n2\\busy.txt"));
    // The file's own failure, then one record per level of the walk.
    bool fileRecord = false;
    int levels = 0;
    for (const Record& r : capture.all()) {
        if (r.functionId == 0x081A0013 && r.calledId == 0x08140071) fileRecord = true;
        if (r.functionId == 0x081A0023 && (r.probe == 40 || r.probe == 20)) ++levels;
    }
    EXPECT_TRUE(fileRecord);
    EXPECT_EQ(levels, 3);
}

TEST(DirectoryOps, CopyTree)
{
    SourceTree t;
    const std::string dst = t.dir.file("dst");
    const Snapshot before = snapshot(t.src);
    ASSERT_EQ(ossDirectoryCopy(t.src.c_str(), dst.c_str()), 0u);
    EXPECT_EQ(snapshot(dst), before);
    EXPECT_EQ(snapshot(t.src), before);

    // Refusals leave both sides as they were. A destination inside the source is refused
    // however it is spelt.
    const std::string inside = t.src + "\\n1\\copy";
    char shortSrc[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(t.src.c_str(), shortSrc, sizeof shortSrc), 0u);
    ASSERT_NE(std::string(shortSrc), t.src);
    std::string upper = t.src;
    for (char& ch : upper) ch = (char)toupper((unsigned char)ch);
    struct Case {
        std::string from, to;
        Uint32 rc;
    } cases[] = {
        {t.src, dst, ECF_INVALID_PARAMETER},                    // destination exists
        {t.src, t.src, ECF_INVALID_PARAMETER},                  // the same name
        {t.src, inside, ECF_INVALID_PARAMETER},                 // inside the source
        {t.src + "\\", t.src + "\\.\\n1\\copy", ECF_INVALID_PARAMETER},
        {t.src, std::string(shortSrc) + "\\n1\\copy", ECF_INVALID_PARAMETER},
        {shortSrc, upper + "\\N1\\copy", ECF_INVALID_PARAMETER},
        {t.src, t.src + "\\n1\\..\\..\\" + t.src.substr(t.src.rfind('\\') + 1) + "\\copy",
         ECF_INVALID_PARAMETER},
        {t.src + "\\top.txt", t.dir.file("d2"), ECF_FILE_NOT_A_DIRECTORY},
        {t.dir.file("missing"), t.dir.file("d3"), ECF_FILE_NOT_A_DIRECTORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from + " -> " + c.to);
        EXPECT_EQ(ossDirectoryCopy(c.from.c_str(), c.to.c_str()), c.rc);
        EXPECT_EQ(snapshot(t.src), before);
        EXPECT_EQ(snapshot(dst), before);
    }
    EXPECT_FALSE(exists(inside) || exists(t.dir.file("d2")) || exists(t.dir.file("d3")));
    EXPECT_EQ(ossDirectoryCopy(nullptr, dst.c_str()), ECF_INVALID_PARAMETER);
}

// A copy that fails anywhere in the tree returns the failure and leaves no destination, even
// when read-only files were copied before the failure.
TEST(DirectoryOps, FailedCopyLeavesNothing)
{
    struct Case {
        const char* what;
        std::string lockedRel;  // a file held open with no sharing, relative to the source
        size_t longName;        // or: a name that fits under the source but not the destination
        Uint32 rc;
    } cases[] = {
        {"file in use at the top", "\\zz_busy.txt", 0, ECF_FILE_SHARE},
        {"file in use two levels down", "\\n1\\n2\\zz_busy.txt", 0, ECF_FILE_SHARE},
        {"name too long for the destination", "", 1, ECF_FILE_NAME_TOO_LONG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SourceTree t;
        const std::string dst = t.dir.file(std::string(60, 'd'));
        std::unique_ptr<Locked> busy;
        if (!c.lockedRel.empty()) busy.reset(new Locked(t.src + c.lockedRel));
        if (c.longName) {
            const size_t len = 259 - (t.src.size() + 1) - 10;
            writeFile(t.src + "\\n1\\" + std::string(len - 3, 'n'), "long");
        }
        EXPECT_EQ(ossDirectoryCopy(t.src.c_str(), dst.c_str()), c.rc);
        EXPECT_FALSE(exists(dst));
    }
}

// Links to directories are not walked: a tree delete removes a link (also one named as the top)
// and leaves its target whole; a tree copy leaves links out, also one that leads back up.
TEST(DirectoryOps, LinksAreNotWalked)
{
    ossetest::TempDir dir;
    const std::string target = dir.file("target"), tree = dir.file("tree");
    makeDir(target);
    writeFile(target + "\\keep.txt", "keep");
    makeDir(tree);
    writeFile(tree + "\\own.txt", "own");
    if (!makeDirectoryLink(tree + "\\away", target)) {
        GTEST_SKIP() << "this file system makes neither symbolic links nor junctions";
    }
    ASSERT_TRUE(makeDirectoryLink(tree + "\\up", tree));
    ASSERT_TRUE(makeDirectoryLink(dir.file("top"), target));
    const Snapshot kept = snapshot(target);

    const std::string copy = dir.file("copy");
    EXPECT_EQ(ossDirectoryCopy(tree.c_str(), copy.c_str()), 0u);
    EXPECT_EQ(snapshot(copy), (Snapshot{{"\\own.txt", "own"}}));

    EXPECT_EQ(deleteDir(dir.file("top"), OSS_DIR_DELETE_CONTENTS), 0u);
    EXPECT_FALSE(exists(dir.file("top")));
    EXPECT_EQ(deleteDir(tree, OSS_DIR_DELETE_CONTENTS), 0u);
    EXPECT_FALSE(exists(tree));
    EXPECT_EQ(snapshot(target), kept);
}

TEST(DirectoryOps, CurrentDirectory)
{
    char original[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof original, original), 0u);
    ossetest::TempDir dir;

    EXPECT_EQ(ossDirectorySetCurrent(dir.path().c_str()), 0u);
    char buf[MAX_PATH];
    Uint32 size = sizeof buf;
    ASSERT_EQ(ossDirectoryGetCurrent(buf, &size), 0u);
    EXPECT_EQ(std::string(buf), dir.path());
    EXPECT_EQ(size, (Uint32)dir.path().size());

    char small[4];
    size = sizeof small;
    EXPECT_EQ(ossDirectoryGetCurrent(small, &size), ECF_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, (Uint32)dir.path().size() + 1);
    EXPECT_EQ(ossDirectoryGetCurrent(buf, nullptr), ECF_INVALID_PARAMETER);

    // Relative paths of the other operations follow it.
    EXPECT_EQ(createDir("rel\\sub", OSS_DIR_CREATE_PATH), 0u);
    EXPECT_TRUE(isDir(dir.file("rel\\sub")));

    EXPECT_EQ(ossDirectorySetCurrent(dir.file("missing").c_str()), ECF_FILE_DOESNT_EXIST);
    EXPECT_EQ(ossDirectorySetCurrent(nullptr), ECF_INVALID_PARAMETER);
    EXPECT_EQ(ossDirectorySetCurrent(original), 0u);
}
