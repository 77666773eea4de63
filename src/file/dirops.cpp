// Directory operations: create one directory or a whole path, delete one directory or a tree,
// copy a tree, and the current directory.
//
// The tree walks read each directory with OSSDirectoryStream, so their memory does not grow
// with the number of entries; each level of the walk takes one small allocation for its
// search record and its child paths, and no level holds more than one open search. Every
// child path must fit the 260-byte path buffer: a name that does not fit stops the walk
// rather than being cut (a cut name could be another file's), and since each level adds at
// least two characters, the path bound is also the bound on the depth of the recursion.
//
// Links to directories (junctions, symbolic links) are never walked: a tree delete removes
// the link and leaves its target alone, a tree copy leaves it out. A target elsewhere is not
// part of the tree, and a target above it would make the walk go round.
#include <windows.h>

#include <new>
#include <string.h>

#include "osse/mem.h"

#include "file/file_internal.h"

namespace {

constexpr Uint32 kCreate = OSS_FUNC_ID(OSS_FN_ossDirectoryCreate);
constexpr Uint32 kDelete = OSS_FUNC_ID(OSS_FN_ossDirectoryDelete);
constexpr Uint32 kCopy = OSS_FUNC_ID(OSS_FN_ossDirectoryCopy);
constexpr Uint32 kGetCurrent = OSS_FUNC_ID(OSS_FN_ossDirectoryGetCurrent);
constexpr Uint32 kSetCurrent = OSS_FUNC_ID(OSS_FN_ossDirectorySetCurrent);
constexpr Uint32 kTreeDelete = OSS_FUNC_ID(OSS_FN_oss_directory_delete_recursive);
constexpr Uint32 kRemoveOne = OSS_FUNC_ID(OSS_FN_oss_directory_delete);
constexpr Uint32 kListBegin = OSS_FUNC_ID(OSS_FN_OSSDirectoryListing_begin);
constexpr Uint32 kListEnd = OSS_FUNC_ID(OSS_FN_OSSDirectoryListing_end);
constexpr Uint32 kFileDelete = OSS_FUNC_ID(OSS_FN_ossFileDelete);
constexpr Uint32 kFileCopy = OSS_FUNC_ID(OSS_FN_ossFileCopy);
constexpr Uint32 kGetInfo = OSS_FUNC_ID(OSS_FN_ossGetFileInfo);
constexpr Uint32 kMemAlloc = OSS_FUNC_ID(OSS_FN_ossMemAlloc);

constexpr Uint32 kCallCreateDirectory = OSS_SYS_FUNC_ID(OSS_SYSFN_CreateDirectory);
constexpr Uint32 kCallRemoveDirectory = OSS_SYS_FUNC_ID(OSS_SYSFN_RemoveDirectory);
constexpr Uint32 kCallGetCurrentDirectory = OSS_SYS_FUNC_ID(OSS_SYSFN_GetCurrentDirectory);
constexpr Uint32 kCallSetCurrentDirectory = OSS_SYS_FUNC_ID(OSS_SYSFN_SetCurrentDirectory);

static_assert(kCreate == 0x081A0019u && kDelete == 0x081A001Au && kCopy == 0x081A0026u &&
                  kGetCurrent == 0x081A001Du && kSetCurrent == 0x081A001Eu &&
                  kTreeDelete == 0x081A0023u && kRemoveOne == 0x081A0022u,
              "operation identifiers");
static_assert(kCallCreateDirectory == 0x0814006Bu && kCallRemoveDirectory == 0x08140095u &&
                  kCallGetCurrentDirectory == 0x0814007Au &&
                  kCallSetCurrentDirectory == 0x0814009Bu,
              "failed-call identifiers");

inline bool isSep(char c)
{
    return c == '\\' || c == '/';
}

inline bool isDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// One level of a tree walk, off the stack.
struct WalkLevel {
    OSSDirectoryStream stream;
    char child[kOssPathMax];
    char target[kOssPathMax];
};

Uint32 newLevel(WalkLevel** level)
{
    void* p = nullptr;
    if (Uint32 rc = OSS_MEM_ALLOC(&p, sizeof(WalkLevel), 0)) return rc;
    *level = new (p) WalkLevel;
    return OSS_OK;
}

void freeLevel(WalkLevel* level)
{
    level->~WalkLevel();
    OSS_MEM_FREE(&level);
}

Uint32 createOne(OSSCallFrame& f, const OSSDirectoryCreateParam* param, const char* prefix,
                 bool existingIsFine)
{
    if (CreateDirectoryA(prefix, nullptr)) return OSS_OK;
    const DWORD e = GetLastError();
    // "Already exists" is fine only when what exists is a directory; a file of that name
    // would make the path unusable while the call reported success.
    if (existingIsFine && (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) &&
        ossIsDirectory(prefix)) {
        return OSS_OK;
    }
    f.ctx.setTargetFileName(param->path);
    f.ctx.setPermissions(param->permissions);
    return f.systemError(kCallCreateDirectory, e, 20, ossItemString(param->path),
                         ossItemString(prefix), ossItemHex(param->permissions),
                         ossItemUnsigned(param->mode));
}

bool equalNoCaseN(const char* a, const char* b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Room for a final path: short names grow when the OS spells them out.
constexpr DWORD kFinalPathMax = 4 * kOssPathMax;

// The path as the file system names it, into out[kFinalPathMax]: "." and ".." and the drive's
// current directory resolved, then the deepest part that exists named by the OS (links
// followed, short names spelt out, letters in their stored case) and the rest appended as
// given. When no part can be opened the full path stands as it is. False when the path
// cannot be made full.
bool finalPath(const char* path, char* out)
{
    char full[kOssPathMax];
    const DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) return false;
    const size_t root = ossRootLength(full);
    size_t keep = n;
    for (;;) {
        const char cut = full[keep];
        full[keep] = '\0';
        HANDLE h = CreateFileA(full, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        full[keep] = cut;
        if (h != INVALID_HANDLE_VALUE) {
            const DWORD m = GetFinalPathNameByHandleA(h, out, kFinalPathMax, FILE_NAME_NORMALIZED);
            CloseHandle(h);
            if (m == 0 || m + (n - keep) >= kFinalPathMax) break;
            // "\\?\C:\x" and "\\?\UNC\server\share\x" back to the forms of a full path.
            char* at = out;
            if (strncmp(out, "\\\\?\\UNC\\", 8) == 0) {
                at = out + 6;
                at[0] = '\\';
            } else if (strncmp(out, "\\\\?\\", 4) == 0 && ossHasDrive(out + 4)) {
                at = out + 4;
            }
            const size_t len = strlen(at);
            memmove(out, at, len);
            memcpy(out + len, full + keep, n - keep + 1);
            return true;
        }
        if (keep <= root) break;
        while (keep > root && !isSep(full[keep - 1])) --keep;
        while (keep > root && isSep(full[keep - 1])) --keep;
    }
    memcpy(out, full, n + 1);
    return true;
}

// True when `to` is `from` itself or lies inside it, however the two are spelt (short names,
// "..", letter case, a link on the way): such a copy would read what it writes and never end.
bool isWithin(const char* from, const char* to)
{
    char a[kFinalPathMax], b[kFinalPathMax];
    if (!finalPath(from, a) || !finalPath(to, b)) return false;
    size_t na = strlen(a), nb = strlen(b);
    while (na > 0 && isSep(a[na - 1])) --na;
    while (nb > 0 && isSep(b[nb - 1])) --nb;
    if (nb < na || !equalNoCaseN(a, b, na)) return false;
    return nb == na || isSep(b[na]);
}

// True when the path resolves to the root of a drive or a share ("C:" resolves there when no
// current directory is recorded for C): a tree delete would empty the whole volume.
bool resolvesToRoot(const char* path)
{
    char full[kOssPathMax];
    const DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    return n != 0 && n < sizeof full && ossRootLength(full) >= n;
}

Uint32 removeOne(const char* path)
{
    OSSCallFrame f(kRemoveOne);
    if (!RemoveDirectoryA(path)) {
        const DWORD e = GetLastError();
        f.ctx.setTargetFileName(path);
        return f.systemError(kCallRemoveDirectory, e, 20, ossItemString(path));
    }
    return f.ret(OSS_OK);
}

// Clears the read-only attribute, which would make the OS refuse the deletion.
void makeWritable(const char* path)
{
    const DWORD a = GetFileAttributesA(path);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path, a & ~FILE_ATTRIBUTE_READONLY);
}

}  // namespace

Uint32 ossDirectoryDeleteTree(const char* path, bool keepTop, bool clearReadOnly)
{
    OSSCallFrame f(kTreeDelete);
    if (!path || _stricmp(path, "NUL") == 0 || resolvesToRoot(path)) {
        return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO, ossItemString(path));
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return f.fail(ECF_FILE_NOT_A_DIRECTORY, 70, OSS_LEVEL_INFO, ossItemString(path));
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link: only the link itself belongs to this tree.
        if (keepTop) return f.ret(OSS_OK);
        if (clearReadOnly) makeWritable(path);
        return f.ret(removeOne(path));
    }
    WalkLevel* level = nullptr;
    if (Uint32 rc = newLevel(&level)) return ossFailedCallee(f, kMemAlloc, rc, 50, ossItemString(path));

    const OSSDirectoryListingParam lp = {OSS_CURRENT_VERSION, path, OSS_LIST_ALL, 0};
    if (Uint32 rc = level->stream.open(&lp)) {
        freeLevel(level);
        return ossFailedCallee(f, kListBegin, rc, 50, ossItemString(path));
    }
    Uint32 rc = OSS_OK;
    while (const char* name = level->stream.next()) {
        if (isDot(name)) continue;
        if (!ossJoinPath(level->child, path, name)) {
            rc = f.fail(ECF_FILE_NAME_TOO_LONG, 90, OSS_LEVEL_INFO, ossItemString(path),
                        ossItemString(name));
            break;
        }
        if (level->stream.lastIsDirectory) {
            rc = ossDirectoryDeleteTree(level->child, false, clearReadOnly);
            if (rc) {
                ossFailedCallee(f, kTreeDelete, rc, 20, ossItemString(level->child));
                break;
            }
        } else {
            if (clearReadOnly && level->stream.lastIsReadOnly) makeWritable(level->child);
            rc = ossFileDelete(level->child);
            if (rc) {
                ossFailedCallee(f, kFileDelete, rc, 40, ossItemString(level->child));
                break;
            }
        }
    }
    if (!rc && level->stream.status) {
        rc = ossFailedCallee(f, kListBegin, level->stream.status, 50, ossItemString(path));
    }
    if (Uint32 crc = level->stream.close()) ossFailedCallee(f, kListEnd, crc, 60, ossItemString(path));
    freeLevel(level);
    if (rc) return f.ret(rc);
    if (!keepTop) {
        if (clearReadOnly) makeWritable(path);
        if ((rc = removeOne(path)) != OSS_OK) return f.ret(rc);
    }
    return f.ret(OSS_OK);
}

extern "C" OSSE_API Uint32 ossDirectoryCreate(const OSSDirectoryCreateParam* param)
{
    OSSCallFrame f(kCreate);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    const char* path = param->path;
    if (!path || !*path) {
        return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO, ossItemString(path),
                      ossItemUnsigned(param->mode));
    }
    if (param->mode == OSS_DIR_CREATE_ONE) {
        Uint32 rc = createOne(f, param, path, false);
        return f.ret(rc);
    }
    const size_t len = strlen(path);
    if (len >= kOssPathMax) {
        return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO, ossItemString(path),
                      ossItemUnsigned(param->mode));
    }
    // Shortest prefix first; each takes one more component and the separators after it. Mode
    // 2 takes the directories that are there already; the other modes stop at the first prefix
    // that cannot be created, an existing one included.
    const bool existingIsFine = param->mode == OSS_DIR_CREATE_PATH;
    char prefix[kOssPathMax];
    size_t at = ossRootLength(path);
    while (at < len) {
        while (at < len && !isSep(path[at])) ++at;
        while (at < len && isSep(path[at])) ++at;
        memcpy(prefix, path, at);
        prefix[at] = '\0';
        if (Uint32 rc = createOne(f, param, prefix, existingIsFine)) return f.ret(rc);
    }
    return f.ret(OSS_OK);
}

extern "C" OSSE_API Uint32 ossDirectoryDelete(const OSSDirectoryDeleteParam* param)
{
    OSSCallFrame f(kDelete);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (!param->path || !*param->path) {
        return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO, ossItemString(param->path));
    }
    if (param->flags & OSS_DIR_DELETE_CONTENTS) {
        return f.ret(ossDirectoryDeleteTree(param->path, false, false));
    }
    return f.ret(removeOne(param->path));
}

extern "C" OSSE_API Uint32 ossDirectoryCopy(const char* from, const char* to)
{
    OSSCallFrame f(kCopy);
    if (!from || !to || strcmp(from, to) == 0 || GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES) {
        return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO, ossItemString(from),
                      ossItemString(to));
    }
    if (!ossIsDirectory(from)) {
        return f.fail(ECF_FILE_NOT_A_DIRECTORY, 70, OSS_LEVEL_INFO, ossItemString(from));
    }
    if (isWithin(from, to)) {
        return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO, ossItemString(from),
                      ossItemString(to));
    }

    OSSFileInfo info = {};
    const OSSFileGetInfoParam ip = {OSS_CURRENT_VERSION, from, 0, 0, 0, INVALID_HANDLE_VALUE};
    if (Uint32 rc = ossFileGetInfoV9(&ip, &info)) {
        return ossFailedCallee(f, kGetInfo, rc, 20, ossItemString(from));
    }
    const OSSDirectoryCreateParam cp = {OSS_CURRENT_VERSION, to, info.permissions,
                                        OSS_DIR_CREATE_ONE};
    if (Uint32 rc = ossDirectoryCreate(&cp)) {
        return ossFailedCallee(f, kCreate, rc, 30, ossItemString(to));
    }

    // From here on a failure removes the destination: the copy is whole or it is not there.
    WalkLevel* level = nullptr;
    Uint32 rc = newLevel(&level);
    if (rc) {
        ossFailedCallee(f, kMemAlloc, rc, 40, ossItemString(from));
        ossDirectoryDeleteTree(to, false, true);
        return f.ret(rc);
    }
    const OSSDirectoryListingParam lp = {OSS_CURRENT_VERSION, from, OSS_LIST_ALL, 0};
    if ((rc = level->stream.open(&lp)) != OSS_OK) {
        freeLevel(level);
        ossFailedCallee(f, kListBegin, rc, 40, ossItemString(from));
        ossDirectoryDeleteTree(to, false, true);
        return f.ret(rc);
    }
    while (const char* name = level->stream.next()) {
        if (isDot(name)) continue;
        if (!ossJoinPath(level->child, from, name) || !ossJoinPath(level->target, to, name)) {
            rc = f.fail(ECF_FILE_NAME_TOO_LONG, 90, OSS_LEVEL_INFO, ossItemString(from),
                        ossItemString(name));
            break;
        }
        if (level->stream.lastIsDirectory) {
            if (level->stream.lastIsLink) continue;
            if ((rc = ossDirectoryCopy(level->child, level->target)) != OSS_OK) {
                ossFailedCallee(f, kCopy, rc, 50, ossItemString(level->child));
                break;
            }
        } else if ((rc = ossFileCopy(level->child, level->target)) != OSS_OK) {
            ossFailedCallee(f, kFileCopy, rc, 60, ossItemString(level->child));
            break;
        }
    }
    if (!rc && level->stream.status) {
        rc = ossFailedCallee(f, kListBegin, level->stream.status, 40, ossItemString(from));
    }
    if (Uint32 crc = level->stream.close()) ossFailedCallee(f, kListEnd, crc, 80, ossItemString(from));
    freeLevel(level);
    if (rc) {
        ossDirectoryDeleteTree(to, false, true);
        return f.ret(rc);
    }
    return f.ret(OSS_OK);
}

extern "C" OSSE_API Uint32 ossDirectoryGetCurrent(char* buffer, Uint32* size)
{
    OSSCallFrame f(kGetCurrent);
    if (!size || (!buffer && *size)) return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO);
    const DWORD n = GetCurrentDirectoryA(*size, buffer);
    if (n == 0) {
        const DWORD e = GetLastError();
        return f.systemError(kCallGetCurrentDirectory, e, 30, ossItemUnsigned(*size));
    }
    if (n > *size) {
        const Uint32 given = *size;
        *size = n;
        return f.fail(ECF_BUFFER_TOO_SMALL, 40, OSS_LEVEL_INFO, ossItemUnsigned(given),
                      ossItemUnsigned(n));
    }
    *size = n;
    return f.ret(OSS_OK);
}

extern "C" OSSE_API Uint32 ossDirectorySetCurrent(const char* path)
{
    OSSCallFrame f(kSetCurrent);
    if (!path) return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO);
    if (!SetCurrentDirectoryA(path)) {
        const DWORD e = GetLastError();
        f.ctx.setTargetFileName(path);
        return f.systemError(kCallSetCurrentDirectory, e, 20, ossItemString(path));
    }
    return f.ret(OSS_OK);
}
