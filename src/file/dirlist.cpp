// Directory listings. OSSDirectoryListing reads every name of a directory (or of a wildcard
// pattern) into a list of nodes and one packed buffer and hands them out one at a time; memory
// grows with the directory. OSSDirectoryStream hands out the same names straight from the OS
// search, one at a time, with no allocation at all: the tree walks use it, so that a huge
// directory costs them nothing more than a small one.
//
// Both decide the type filter from the attributes the search returns with each name, so a
// listing costs one OS search and no query per entry.
//
// begin does not take two allocations per name: its nodes, each followed by its name, are
// packed into 64 KB chunks, and the chunk chain is kept in a small record just before the
// packed buffer, which only begin makes. end releases the chunks whole, and frees one by one
// only the nodes insertOne added (after the last node of begin, or all of them when begin was
// not called).
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "osse/mem.h"

#include "file/file_internal.h"

namespace {

constexpr Uint32 kBegin = OSS_FUNC_ID(OSS_FN_OSSDirectoryListing_begin);
constexpr Uint32 kEnd = OSS_FUNC_ID(OSS_FN_OSSDirectoryListing_end);
constexpr Uint32 kInsertOne = OSS_FUNC_ID(OSS_FN_OSSDirectoryListing_insertOne);
constexpr Uint32 kMemAlloc = OSS_FUNC_ID(OSS_FN_ossMemAlloc);
constexpr Uint32 kMemFree = OSS_FUNC_ID(OSS_FN_ossMemFree);
constexpr Uint32 kCallFindFirstFile = OSS_SYS_FUNC_ID(OSS_SYSFN_FindFirstFile);
constexpr Uint32 kCallFindNextFile = OSS_SYS_FUNC_ID(OSS_SYSFN_FindNextFile);
constexpr Uint32 kCallFindClose = OSS_SYS_FUNC_ID(OSS_SYSFN_FindClose);

static_assert(kBegin == 0x081A000Eu && kEnd == 0x081A000Fu && kInsertOne == 0x081A0102u &&
                  kMemAlloc == 0x081A0058u && kMemFree == 0x081A0059u,
              "operation identifiers");
static_assert(kCallFindFirstFile == 0x08140073u && kCallFindNextFile == 0x08140074u &&
                  kCallFindClose == 0x08140075u,
              "failed-call identifiers");
static_assert(sizeof(((OSSDirectoryStream*)nullptr)->data) == sizeof(WIN32_FIND_DATAA),
              "the stream holds one search record");

constexpr Uint32 kBothTypes = OSS_LIST_DIRECTORIES | OSS_LIST_FILES;

inline bool isSep(char c)
{
    return c == '\\' || c == '/';
}

// The OS search string for a listing path: the path itself when its last component is a
// pattern, else the directory (one trailing separator dropped) followed by "\*". False when
// there is no path or the result would not fit.
bool searchString(const char* path, char* search)
{
    if (!path || !*path) return false;
    const size_t len = strlen(path);
    size_t start = 0;
    for (size_t i = len; i-- > 0;) {
        if (isSep(path[i]) && path[i + 1] && !isSep(path[i + 1])) {
            start = i + 1;
            break;
        }
    }
    if (strpbrk(path + start, "*?")) {
        if (len + 1 > kOssPathMax) return false;
        memcpy(search, path, len + 1);
        return true;
    }
    // "C:" alone is that drive's current directory: "C:*" searches it, "C:\*" the root.
    if (ossIsBareDrive(path)) {
        memcpy(search, path, 2);
        memcpy(search + 2, "*", 2);
        return true;
    }
    size_t dirLen = len;
    if (dirLen > 0 && isSep(path[dirLen - 1])) --dirLen;
    if (dirLen + 3 > kOssPathMax) return false;
    memcpy(search, path, dirLen);
    memcpy(search + dirLen, "\\*", 3);
    return true;
}

inline bool passes(DWORD attributes, Uint32 filter)
{
    const bool dir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return dir ? (filter == 0 || filter == OSS_LIST_DIRECTORIES)
               : (filter == 0 || filter == OSS_LIST_FILES);
}

// Nodes and names of begin, packed.
struct ListChunk {
    ListChunk* next;
    Uint32 used;  // bytes from the start of the chunk, header included
    Uint32 size;
};
constexpr Uint32 kChunkBytes = 64 * 1024;

// Just before the packed buffer of a listing made by begin.
struct ListStore {
    ListChunk* chunks;
    FileNode* lastOfBegin;  // null when begin found nothing
};

// Nodes hold pointers: each starts on their alignment, 8 bytes on x86_64.
constexpr Uint32 kNodeAlign = (Uint32)alignof(FileNode);
static_assert((kNodeAlign & (kNodeAlign - 1)) == 0, "a power of two");

inline Uint32 alignNode(Uint32 n)
{
    return (n + kNodeAlign - 1) & ~(kNodeAlign - 1);
}

// Releases a chain of chunks; the first failure's code, or 0.
Uint32 freeChunks(ListChunk* chunk)
{
    while (chunk) {
        ListChunk* next = chunk->next;
        if (Uint32 rc = OSS_MEM_FREE(&chunk)) return rc;
        chunk = next;
    }
    return OSS_OK;
}

}  // namespace

// ---- OSSDirectoryListing --------------------------------------------------------------------

void OSSDirectoryListing::constructor()
{
    tail = nullptr;
    reset();
}

void OSSDirectoryListing::destructor()
{
    active = true;
    end();
}

void OSSDirectoryListing::reset()
{
    count = 0;
    head = nullptr;
    fileList = nullptr;
    fileListSize = 0;
    cursor = nullptr;
    tail = nullptr;
    rewound = true;
    active = false;
}

Uint32 OSSDirectoryListing::begin(const OSSDirectoryListingParam* param)
{
    OSSCallFrame f(kBegin);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if ((param->type & kBothTypes) == kBothTypes) {
        return f.fail(ECF_INVALID_PARAMETER, 110, OSS_LEVEL_INFO, ossItemHex(param->type));
    }
    if (active) return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 40, OSS_LEVEL_INFO);
    char search[kOssPathMax];
    if (!searchString(param->path, search)) {
        return f.fail(ECF_INVALID_PARAMETER, 20, OSS_LEVEL_INFO, ossItemString(param->path));
    }

    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(search, &fd);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        f.ctx.setTargetFileName(param->path);
        return f.systemError(kCallFindFirstFile, e, 80, ossItemString(param->path),
                             ossItemString(search), ossItemHex(param->type),
                             ossItemHex(param->reserved));
    }

    // Built aside and published only when complete: a listing that failed half-way would look
    // like a smaller directory, and the tree walks would take it for the whole one.
    ListChunk* chunks = nullptr;
    ListChunk* chunk = nullptr;
    FileNode* first = nullptr;
    FileNode* last = nullptr;
    Uint32 n = 0, size = 0;
    Uint32 rc = OSS_OK;
    do {
        if (!passes(fd.dwFileAttributes, param->type)) continue;
        const Uint32 len = (Uint32)strlen(fd.cFileName);
        const Uint32 need = alignNode((Uint32)sizeof(FileNode) + len + 1);
        if (!chunk || chunk->size - chunk->used < need) {
            ListChunk* fresh = nullptr;
            if ((rc = OSS_MEM_ALLOC(&fresh, kChunkBytes, 0)) != OSS_OK) break;
            fresh->next = nullptr;
            fresh->used = alignNode(sizeof(ListChunk));
            fresh->size = kChunkBytes;
            if (chunk)
                chunk->next = fresh;
            else
                chunks = fresh;
            chunk = fresh;
        }
        FileNode* node = reinterpret_cast<FileNode*>(reinterpret_cast<char*>(chunk) + chunk->used);
        chunk->used += need;
        node->name = reinterpret_cast<char*>(node + 1);
        memcpy(node->name, fd.cFileName, len + 1);
        node->next = nullptr;
        node->value = 0;
        if (last)
            last->next = node;
        else
            first = node;
        last = node;
        ++n;
        size += len + 1;
    } while (FindNextFileA(h, &fd));

    if (rc != OSS_OK) {
        FindClose(h);
        freeChunks(chunks);
        return ossFailedCallee(f, kMemAlloc, rc, 50, ossItemString(param->path),
                               ossItemUnsigned(n));
    }
    const DWORD stop = GetLastError();
    if (stop != ERROR_NO_MORE_FILES) {
        FindClose(h);
        freeChunks(chunks);
        f.ctx.setTargetFileName(param->path);
        return f.systemError(kCallFindNextFile, stop, 90, ossItemString(param->path),
                             ossItemString(search), ossItemUnsigned(n));
    }
    if (!FindClose(h)) {
        const DWORD e = GetLastError();
        freeChunks(chunks);
        return f.systemError(kCallFindClose, e, 100, ossItemString(param->path));
    }

    size += 1;
    ListStore* store = nullptr;
    if ((rc = OSS_MEM_ALLOC(&store, sizeof(ListStore) + size, OSS_MEM_ALLOC_ZERO)) != OSS_OK) {
        freeChunks(chunks);
        return ossFailedCallee(f, kMemAlloc, rc, 50, ossItemString(param->path),
                               ossItemUnsigned(size));
    }
    store->chunks = chunks;
    store->lastOfBegin = last;
    char* list = reinterpret_cast<char*>(store + 1);
    char* at = list;
    for (FileNode* node = first; node; node = node->next) {
        const size_t len = strlen(node->name) + 1;
        memcpy(at, node->name, len);
        at += len;
    }
    head = first;
    tail = last;
    count = n;
    fileList = list;
    fileListSize = size;
    cursor = nullptr;
    rewound = true;
    active = true;
    return f.ret(OSS_OK);
}

Uint32 OSSDirectoryListing::end()
{
    OSSCallFrame f(kEnd);
    if (!active) return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 10, OSS_LEVEL_INFO);
    ListStore* store = fileList ? reinterpret_cast<ListStore*>(fileList) - 1 : nullptr;
    // The nodes insertOne added, one by one; the link to them is cut as each goes, so that a
    // failure leaves only what is still owned.
    FileNode** link = (store && store->lastOfBegin) ? &store->lastOfBegin->next : &head;
    while (*link) {
        FileNode* node = *link;
        if (node->name) {
            if (Uint32 rc = OSS_MEM_FREE(&node->name)) {
                return ossFailedCallee(f, kMemFree, rc, 20, ossItemHex(node));
            }
        }
        *link = node->next;
        if (Uint32 rc = OSS_MEM_FREE(&node)) return ossFailedCallee(f, kMemFree, rc, 30);
    }
    if (store) {
        if (Uint32 rc = freeChunks(store->chunks)) return ossFailedCallee(f, kMemFree, rc, 30);
        store->chunks = nullptr;
        if (Uint32 rc = OSS_MEM_FREE(&store)) return ossFailedCallee(f, kMemFree, rc, 40);
    }
    reset();
    return f.ret(OSS_OK);
}

FileNode* OSSDirectoryListing::getNextEntry()
{
    if (rewound) {
        rewound = false;
        cursor = head;
    }
    FileNode* node = cursor;
    if (node) cursor = node->next;
    return node;
}

char* OSSDirectoryListing::getNext()
{
    FileNode* node = getNextEntry();
    return node ? node->name : nullptr;
}

void OSSDirectoryListing::rewind()
{
    rewound = true;
}

char* OSSDirectoryListing::getFileList()
{
    return fileList;
}

Uint32 OSSDirectoryListing::getNumberOfFiles()
{
    return count;
}

void OSSDirectoryListing::insertOneBegin()
{
    active = true;
}

void OSSDirectoryListing::insertOne(const char* name, Uint32 value)
{
    if (!name) return;
    const Uint32 len = (Uint32)strlen(name);
    FileNode* node = nullptr;
    if (Uint32 rc = OSS_MEM_ALLOC(&node, sizeof(FileNode), OSS_MEM_ALLOC_ZERO)) {
        ossLogRC(nullptr, kInsertOne, kMemAlloc, rc, rc, 10, OSS_LEVEL_ERROR, 1,
                 ossItemString(name));
        return;
    }
    if (Uint32 rc = OSS_MEM_ALLOC(&node->name, len + 1, OSS_MEM_ALLOC_ZERO)) {
        OSS_MEM_FREE(&node);
        ossLogRC(nullptr, kInsertOne, kMemAlloc, rc, rc, 20, OSS_LEVEL_ERROR, 1,
                 ossItemString(name));
        return;
    }
    memcpy(node->name, name, len);
    node->value = value;
    if (tail)
        tail->next = node;
    else
        head = node;
    tail = node;
    fileListSize += len + 1;
    ++count;
}

void OSSDirectoryListing::dumpFileList()
{
    printf("========================================= \r\nm_iFileListSize = %u\r\n"
           "There is/are %u file(s) \r\n========> File List Dump Start <========= \r\n",
           fileListSize, count);
    Uint32 i = 0;
    for (FileNode* node = head; node; node = node->next) printf("File %u : |%s|\r\n", ++i, node->name);
    printf("========>  File List Dump End  <========= \r\n");
    fflush(stdout);
}

// ---- OSSDirectoryStream ---------------------------------------------------------------------

void OSSDirectoryStream::constructor()
{
    find = INVALID_HANDLE_VALUE;
    filter = 0;
    status = OSS_OK;
    pending = false;
    lastIsDirectory = false;
    lastIsReadOnly = false;
    lastIsLink = false;
}

void OSSDirectoryStream::destructor()
{
    if (find != INVALID_HANDLE_VALUE) close();
}

Uint32 OSSDirectoryStream::open(const OSSDirectoryListingParam* param)
{
    OSSCallFrame f(kBegin);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if ((param->type & kBothTypes) == kBothTypes) {
        return f.fail(ECF_INVALID_PARAMETER, 110, OSS_LEVEL_INFO, ossItemHex(param->type));
    }
    if (find != INVALID_HANDLE_VALUE) return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 40, OSS_LEVEL_INFO);
    char search[kOssPathMax];
    if (!searchString(param->path, search)) {
        return f.fail(ECF_INVALID_PARAMETER, 20, OSS_LEVEL_INFO, ossItemString(param->path));
    }
    WIN32_FIND_DATAA* fd = reinterpret_cast<WIN32_FIND_DATAA*>(data);
    HANDLE h = FindFirstFileA(search, fd);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        f.ctx.setTargetFileName(param->path);
        return f.systemError(kCallFindFirstFile, e, 80, ossItemString(param->path),
                             ossItemString(search), ossItemHex(param->type),
                             ossItemHex(param->reserved));
    }
    find = h;
    filter = param->type;
    status = OSS_OK;
    pending = true;
    return f.ret(OSS_OK);
}

const char* OSSDirectoryStream::next()
{
    WIN32_FIND_DATAA* fd = reinterpret_cast<WIN32_FIND_DATAA*>(data);
    for (;;) {
        if (find == INVALID_HANDLE_VALUE || status != OSS_OK) return nullptr;
        if (!pending) {
            if (!FindNextFileA(find, fd)) {
                const DWORD e = GetLastError();
                if (e != ERROR_NO_MORE_FILES) {
                    OSSCallFrame f(kBegin);
                    status = f.systemError(kCallFindNextFile, e, 90, ossItemHex(find));
                }
                return nullptr;
            }
        }
        pending = false;
        if (!passes(fd->dwFileAttributes, filter)) continue;
        lastIsDirectory = (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        lastIsReadOnly = (fd->dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        lastIsLink = (fd->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        return fd->cFileName;
    }
}

Uint32 OSSDirectoryStream::close()
{
    OSSCallFrame f(kEnd);
    if (find == INVALID_HANDLE_VALUE) return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 10, OSS_LEVEL_INFO);
    HANDLE h = find;
    find = INVALID_HANDLE_VALUE;
    pending = false;
    if (!FindClose(h)) {
        const DWORD e = GetLastError();
        return f.systemError(kCallFindClose, e, 100, ossItemHex(h));
    }
    return f.ret(OSS_OK);
}
