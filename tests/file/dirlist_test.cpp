// Directory listings over a real tree: the names each type filter and pattern yields, the
// packed buffer, iteration, the invocation sequence, hand-built listings, the dump text, and
// memory: a listing that cannot allocate fails whole and leaves nothing, a stream allocates
// nothing however large the directory.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "files_fixture.h"

using namespace filetest;

namespace {

constexpr Uint32 kVersion = OSS_CURRENT_VERSION;
using Names = std::multiset<std::string>;

// root: a.txt b.txt c.log ro.txt(read-only) d1\ (inner.txt, d2\deep.txt) empty\ .
struct ListTree {
    ossetest::TempDir dir;
    const std::string& root = dir.path();
    ListTree()
    {
        for (const char* f : {"a.txt", "b.txt", "c.log", "ro.txt"}) writeFile(dir.file(f), f);
        makeReadOnly(dir.file("ro.txt"));
        makeDir(dir.file("d1"));
        writeFile(dir.file("d1\\inner.txt"), "inner");
        makeDir(dir.file("d1\\d2"));
        writeFile(dir.file("d1\\d2\\deep.txt"), "deep");
        makeDir(dir.file("empty"));
    }
};

Names streamed(const std::string& path, Uint32 type, Uint32* rc)
{
    Names n;
    OSSDirectoryStream s;
    OSSDirectoryListingParam p = {kVersion, path.c_str(), type, 0};
    *rc = s.open(&p);
    if (*rc) return n;
    while (const char* name = s.next()) n.insert(name);
    *rc = s.status;
    if (!*rc) *rc = s.close();
    return n;
}

bool isReset(const OSSDirectoryListing& l)
{
    return l.count == 0 && l.head == nullptr && l.fileList == nullptr && l.fileListSize == 0 &&
           l.cursor == nullptr && l.rewound && !l.active;
}

}  // namespace

TEST(DirectoryListing, FiltersAndPatterns)
{
    ListTree t;
    const Names files = {"a.txt", "b.txt", "c.log", "ro.txt"};
    const Names dirs = {".", "..", "d1", "empty"};
    Names all = files;
    all.insert(dirs.begin(), dirs.end());
    struct Case {
        std::string path;
        Uint32 type;
        Names expected;
    } cases[] = {
        {t.root, OSS_LIST_ALL, all},
        {t.root + "\\", OSS_LIST_ALL, all},
        {t.root + "/", OSS_LIST_DIRECTORIES, dirs},
        {t.root, OSS_LIST_FILES, files},
        {t.root + "\\*.txt", OSS_LIST_ALL, {"a.txt", "b.txt", "ro.txt"}},
        {t.root + "\\?.log", OSS_LIST_FILES, {"c.log"}},
        {t.root + "\\*.txt", OSS_LIST_DIRECTORIES, {}},
        {t.root + "\\d1", OSS_LIST_ALL, {".", "..", "inner.txt", "d2"}},
        {t.root + "\\empty", OSS_LIST_ALL, {".", ".."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " type " + std::to_string(c.type));
        OSSDirectoryListing l;
        OSSDirectoryListingParam p = {kVersion, c.path.c_str(), c.type, 0};
        ASSERT_EQ(l.begin(&p), 0u);
        EXPECT_TRUE(l.active);
        EXPECT_EQ(l.getNumberOfFiles(), (Uint32)c.expected.size());

        // The packed buffer holds the names in the order getNext gives them, then one NUL.
        std::vector<std::string> order;
        while (const char* name = l.getNext()) order.push_back(name);
        EXPECT_EQ(l.getNext(), nullptr);
        EXPECT_EQ(Names(order.begin(), order.end()), c.expected);
        Uint32 size = 1;
        const char* at = l.getFileList();
        ASSERT_NE(at, nullptr);
        for (const std::string& name : order) {
            EXPECT_STREQ(at, name.c_str());
            at += name.size() + 1;
            size += (Uint32)name.size() + 1;
        }
        EXPECT_EQ(*at, '\0');
        EXPECT_EQ(l.fileListSize, size);
        for (FileNode* n = l.head; n; n = n->next)
            EXPECT_EQ((uintptr_t)n % alignof(FileNode), 0u) << n->name << " misaligned";
        if (!order.empty()) {
            l.rewind();
            EXPECT_STREQ(l.getNext(), order[0].c_str());
        }
        EXPECT_EQ(l.end(), 0u);
        EXPECT_TRUE(isReset(l));

        Uint32 rc = 1;
        EXPECT_EQ(streamed(c.path, c.type, &rc), c.expected) << "stream";
        EXPECT_EQ(rc, 0u);
    }
}

TEST(DirectoryListing, SequenceAndParameters)
{
    ListTree t;
    OSSDirectoryListing l;
    EXPECT_EQ(l.end(), ECF_INVALID_INVOCATION_SEQUENCE);
    EXPECT_EQ(l.begin(nullptr), ECF_INVALID_PARAMETER);
    OSSDirectoryListingParam p = {OSS_MIN_VERSION - 1, t.root.c_str(), 0, 0};
    EXPECT_EQ(l.begin(&p), ECF_INVALID_VERSION);
    p.version = kVersion;
    p.type = OSS_LIST_DIRECTORIES | OSS_LIST_FILES;
    EXPECT_EQ(l.begin(&p), ECF_INVALID_PARAMETER);
    p.type = 0;
    p.path = "";
    EXPECT_EQ(l.begin(&p), ECF_INVALID_PARAMETER);
    const std::string missing = t.dir.file("missing");
    p.path = missing.c_str();
    EXPECT_EQ(l.begin(&p), ECF_FILE_PATH_DOESNT_EXIST);
    EXPECT_TRUE(isReset(l));

    p.path = t.root.c_str();
    ASSERT_EQ(l.begin(&p), 0u);
    // The object's bytes, not a copy of it: a copy would end the same listing again.
    char before[sizeof l];
    memcpy(before, &l, sizeof l);
    const Uint32 countBefore = l.count;
    EXPECT_EQ(l.begin(&p), ECF_INVALID_INVOCATION_SEQUENCE);
    EXPECT_EQ(memcmp(before, &l, sizeof l), 0);
    // Appending to a listing read by begin goes after its last name.
    l.insertOne("added", 7);
    EXPECT_EQ(l.getNumberOfFiles(), countBefore + 1);
    std::string last;
    l.rewind();
    while (FileNode* n = l.getNextEntry()) last = n->name;
    EXPECT_EQ(last, "added");
    EXPECT_EQ(l.end(), 0u);
    EXPECT_EQ(l.end(), ECF_INVALID_INVOCATION_SEQUENCE);

    // Built by hand.
    l.insertOneBegin();
    l.insertOne("first", 1);
    l.insertOne("second", 2);
    EXPECT_EQ(l.getNumberOfFiles(), 2u);
    EXPECT_EQ(l.fileListSize, 13u);
    FileNode* n1 = l.getNextEntry();
    FileNode* n2 = l.getNextEntry();
    ASSERT_TRUE(n1 && n2);
    EXPECT_STREQ(n1->name, "first");
    EXPECT_EQ(n1->value, 1u);
    EXPECT_STREQ(n2->name, "second");
    EXPECT_EQ(n2->value, 2u);
    EXPECT_EQ(l.getNextEntry(), nullptr);
    EXPECT_EQ(l.end(), 0u);

    // The stream keeps the same sequence rules.
    OSSDirectoryStream s;
    EXPECT_EQ(s.close(), ECF_INVALID_INVOCATION_SEQUENCE);
    EXPECT_EQ(s.next(), nullptr);
    ASSERT_EQ(s.open(&p), 0u);
    EXPECT_EQ(s.open(&p), ECF_INVALID_INVOCATION_SEQUENCE);
    {
        OSSDirectoryListing fresh;  // its destructor frees nothing and does not fail
        OSSDirectoryStream open;
        ASSERT_EQ(open.open(&p), 0u);  // the destructor closes the search
    }
}

OSSE_CHILD_ROLE(dump_listing)
{
    if (!freopen(args.at(0).c_str(), "wb", stdout)) return 2;
    OSSDirectoryListing l;
    l.insertOneBegin();
    l.insertOne("alpha", 0);
    l.insertOne("b", 0);
    l.dumpFileList();
    return 0;
}

TEST(DirectoryListing, DumpText)
{
    ossetest::TempDir dir;
    const std::string out = dir.file("dump.txt");
    ASSERT_EQ(ossetest::runChild("dump_listing", {out}), 0);
    EXPECT_EQ(readFile(out),
              "========================================= \r\nm_iFileListSize = 8\r\n"
              "There is/are 2 file(s) \r\n========> File List Dump Start <========= \r\n"
              "File 1 : |alpha|\r\nFile 2 : |b|\r\n"
              "========>  File List Dump End  <========= \r\n");
}

namespace {

// Allocator hooks of the memory child: every block counted, one chosen allocation refused.
long g_allocs = 0, g_live = 0, g_failAt = 0;

Uint32 countingAlloc(void** pp, Uint32, Uint32 size, Uint32 flags)
{
    ++g_allocs;
    if (g_failAt && g_allocs == g_failAt) return ECF_NO_MEMORY;
    *pp = (flags & OSS_MEM_ALLOC_ZERO) ? calloc(1, size) : malloc(size);
    if (!*pp) return ECF_NO_MEMORY;
    ++g_live;
    return 0;
}

Uint32 countingFree(void** pp)
{
    free(*pp);
    *pp = nullptr;
    --g_live;
    return 0;
}

#define CHILD_CHECK(cond)                                                          \
    do {                                                                           \
        if (!(cond)) {                                                             \
            fprintf(stderr, "%s:%d: %s (allocs %ld live %ld)\n", __FILE__, __LINE__, \
                    #cond, g_allocs, g_live);                                      \
            return 1;                                                              \
        }                                                                          \
    } while (0)

}  // namespace

// args: a directory holding `count` files. Runs with the counting allocator.
OSSE_CHILD_ROLE(listing_memory)
{
    const std::string dir = args.at(0);
    const long count = atol(args.at(1).c_str());
    CHILD_CHECK(ossMemDefineUserAllocAndFreeFunctions(countingAlloc, countingFree) == 0);
    OSSDirectoryListingParam p = {kVersion, dir.c_str(), OSS_LIST_FILES, 0};

    // A whole listing: its nodes and names packed in a few blocks (the names fill several
    // chunks), all released, also with names added by hand after it.
    OSSDirectoryListing l;
    g_allocs = 0;
    CHILD_CHECK(l.begin(&p) == 0);
    CHILD_CHECK(l.count == (Uint32)count);
    const long perListing = g_allocs;
    CHILD_CHECK(perListing >= 4 && perListing <= count / 100);
    l.insertOne("by hand", 1);
    l.insertOne("again", 2);
    CHILD_CHECK(l.count == (Uint32)count + 2);
    CHILD_CHECK(l.end() == 0);
    CHILD_CHECK(g_live == 0);
    // Hand-added names after a begin that found nothing.
    const std::string pattern = dir + "\\*.dat";
    OSSDirectoryListingParam none = {kVersion, pattern.c_str(), OSS_LIST_DIRECTORIES, 0};
    CHILD_CHECK(l.begin(&none) == 0);
    CHILD_CHECK(l.count == 0 && l.head == nullptr);
    l.insertOne("only", 3);
    CHILD_CHECK(l.count == 1 && l.head && l.head == l.tail);
    CHILD_CHECK(l.end() == 0);
    CHILD_CHECK(g_live == 0);

    // Any allocation refused, the first chunk's or a later one's or the packed buffer's: the
    // listing fails whole and nothing is left allocated.
    for (long failAt = 1; failAt <= perListing; ++failAt) {
        g_allocs = 0;
        g_failAt = failAt;
        const Uint32 rc = l.begin(&p);
        g_failAt = 0;
        CHILD_CHECK(rc == ECF_NO_MEMORY);
        CHILD_CHECK(l.count == 0 && l.head == nullptr && l.fileList == nullptr && !l.active);
        CHILD_CHECK(g_live == 0);
    }

    // The stream reads every entry without one allocation.
    OSSDirectoryStream s;
    g_allocs = 0;
    CHILD_CHECK(s.open(&p) == 0);
    long seen = 0;
    while (s.next()) ++seen;
    CHILD_CHECK(s.status == 0 && s.close() == 0);
    CHILD_CHECK(seen == count);
    CHILD_CHECK(g_allocs == 0);

    // A tree delete takes one allocation per directory, not per entry.
    g_allocs = 0;
    OSSDirectoryDeleteParam d = {kVersion, dir.c_str(), OSS_DIR_DELETE_CONTENTS};
    CHILD_CHECK(ossDirectoryDelete(&d) == 0);
    CHILD_CHECK(g_allocs == 1);
    CHILD_CHECK(g_live == 0);
    CHILD_CHECK(GetFileAttributesA(dir.c_str()) == INVALID_FILE_ATTRIBUTES);
    return 0;
}

// About 150 bytes of node and name per entry: three 64 KB chunks and part of a fourth.
TEST(DirectoryListing, MemoryPerEntryAndFailedAllocations)
{
    ossetest::TempDir dir;
    const int count = 1400;
    for (int i = 0; i < count; ++i) {
        char name[32];
        snprintf(name, sizeof name, "entry%04d", i);
        writeFile(dir.file(name + std::string(100 + i % 11, 'x') + ".dat"), "");
    }
    EXPECT_EQ(ossetest::runChild("listing_memory", {dir.path(), std::to_string(count)}), 0);
}
