// Walking and copying a directory tree. The walk reads each directory with the directory
// stream, one name at a time, so it needs no memory for large directories; the copy is one call
// that leaves nothing behind when it fails. The program lists the tree, copies it and lists the
// copy the same way.
//
//     copy_tree SOURCE DESTINATION      DESTINATION must not exist yet
#include <stdio.h>
#include <string.h>

#include "osse/osse.h"

struct Totals {
    Uint32 directories = 0;
    Uint32 files = 0;
    Uint64 bytes = 0;
};

// Prints the tree under `path` (names relative to `prefix`), one line an entry, in the order
// the file system gives them; returns 0 or the code that stopped the walk.
static Uint32 walk(const char* path, const char* prefix, Totals& totals)
{
    OSSDirectoryStream stream;
    OSSDirectoryListingParam param = {OSS_CURRENT_VERSION, path, OSS_LIST_ALL, 0};
    if (Uint32 rc = stream.open(&param)) return rc;
    Uint32 rc = 0;
    while (const char* name = stream.next()) {
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        char child[260], shown[260];
        if (snprintf(child, sizeof child, "%s\\%s", path, name) >= (int)sizeof child ||
            snprintf(shown, sizeof shown, "%s%s", prefix, name) >= (int)sizeof shown)
            continue;  // deeper than a path can name
        if (stream.lastIsDirectory && !stream.lastIsLink) {
            printf("  %s\\\n", shown);
            ++totals.directories;
            char nested[260];
            snprintf(nested, sizeof nested, "%s\\", shown);
            if ((rc = walk(child, nested, totals)) != 0) break;
        } else {
            OSSFileInfo info;
            if ((rc = ossFileGetInfo(OSS_CURRENT_VERSION, child, 0, 0, 0, &info)) != 0) break;
            printf("  %s  %llu bytes\n", shown, (unsigned long long)info.size);
            ++totals.files;
            totals.bytes += info.size;
        }
    }
    // A stream that ended on a failure says so in its status.
    if (rc == 0) rc = stream.status;
    stream.close();
    return rc;
}

static bool list(const char* title, const char* path, Totals& totals)
{
    printf("%s %s\n", title, path);
    const Uint32 rc = walk(path, "", totals);
    if (rc) printf("walk failed: 0x%08X %s\n", rc, ecfErrorGetCodeName(rc));
    printf("%u directories, %u files, %llu bytes\n", totals.directories, totals.files,
           (unsigned long long)totals.bytes);
    return rc == 0;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: copy_tree SOURCE DESTINATION\n");
        return 2;
    }
    Totals source, copy;
    if (!list("source", argv[1], source)) return 1;
    const Uint32 rc = ossDirectoryCopy(argv[1], argv[2]);
    printf("ossDirectoryCopy: 0x%08X %s\n", rc, ecfErrorGetCodeName(rc));
    if (rc) return 1;
    if (!list("copy", argv[2], copy)) return 1;
    const bool same = source.directories == copy.directories && source.files == copy.files &&
                      source.bytes == copy.bytes;
    printf(same ? "the copy matches\n" : "the copy differs\n");
    return same ? 0 : 1;
}
