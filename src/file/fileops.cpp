// Operations on one file by name: what it is (information and its text form, existence and
// access tests), and delete, rename, copy and permission changes.
#include <windows.h>

#include <errno.h>
#include <io.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "osse/strutil.h"

#include "file/file_internal.h"

namespace {

constexpr Uint32 kGetInfo = OSS_FUNC_ID(OSS_FN_ossGetFileInfo);
constexpr Uint32 kPathTest = OSS_FUNC_ID(OSS_FN_ossPathTest);
constexpr Uint32 kFileDelete = OSS_FUNC_ID(OSS_FN_ossFileDelete);
constexpr Uint32 kFileRename = OSS_FUNC_ID(OSS_FN_ossFileRename);
constexpr Uint32 kFileCopy = OSS_FUNC_ID(OSS_FN_ossFileCopy);
constexpr Uint32 kCopyOne = OSS_FUNC_ID(OSS_FN_oss_copy);
constexpr Uint32 kSetPermissions = OSS_FUNC_ID(OSS_FN_ossFileSetPermissions);

constexpr Uint32 kCallStat = OSS_SYS_FUNC_ID(OSS_SYSFN__stat);
constexpr Uint32 kCallGetFileInformationByHandle =
    OSS_SYS_FUNC_ID(OSS_SYSFN_GetFileInformationByHandle);
constexpr Uint32 kCallAccess = OSS_SYS_FUNC_ID(OSS_SYSFN_access);
constexpr Uint32 kCallChmod = OSS_SYS_FUNC_ID(OSS_SYSFN_chmod);
constexpr Uint32 kCallDeleteFile = OSS_SYS_FUNC_ID(OSS_SYSFN_DeleteFile);
constexpr Uint32 kCallMoveFile = OSS_SYS_FUNC_ID(OSS_SYSFN_MoveFile);
constexpr Uint32 kCallCopyFile = OSS_SYS_FUNC_ID(OSS_SYSFN_CopyFile);

static_assert(kGetInfo == 0x081A001Fu && kPathTest == 0x081A009Cu && kFileDelete == 0x081A0013u &&
                  kFileRename == 0x081A0016u && kFileCopy == 0x081A0025u &&
                  kCopyOne == 0x081A0024u && kSetPermissions == 0x081A0018u,
              "operation identifiers");
static_assert(kCallStat == 0x0814009Du && kCallGetFileInformationByHandle == 0x08140164u &&
                  kCallAccess == 0x08140001u && kCallChmod == 0x08140003u &&
                  kCallDeleteFile == 0x08140071u && kCallMoveFile == 0x08140089u &&
                  kCallCopyFile == 0x0814006Au,
              "failed-call identifiers");

// Handler flags of a quiet query: map the error, write nothing, analyse nothing.
constexpr Uint32 kQuietHandlerFlags = OSS_SEH_NO_ANALYSIS | OSS_SEH_MAP_ONLY;

inline bool isSep(char c)
{
    return c == '\\' || c == '/';
}

// The stat of a path named with trailing separators, taken without them, when it is a
// directory; false otherwise (also for a root, which the runtime takes as it is).
bool statDirectoryWithoutSeparator(const char* path, struct _stat64* st)
{
    const size_t len = strlen(path);
    if (len < 2 || len >= kOssPathMax || !isSep(path[len - 1])) return false;
    char trimmed[kOssPathMax];
    size_t n = len;
    while (n > 1 && isSep(path[n - 1])) --n;
    if (n == 2 && path[1] == ':') ++n;
    memcpy(trimmed, path, n);
    trimmed[n] = '\0';
    struct _stat64 dir;
    if (_stat64(trimmed, &dir) != 0 || (dir.st_mode & _S_IFMT) != _S_IFDIR) return false;
    *st = dir;
    return true;
}

Uint32 getInfo(OSSCallFrame& f, const OSSFileGetInfoParam* param, OSSFileInfo* info)
{
    if (!info) return f.fail(ECF_INVALID_PARAMETER, 20, OSS_LEVEL_INFO);
    const bool quiet = (param->flags & OSS_FILE_INFO_QUIET) != 0;
    const Uint32 handlerFlags = quiet ? kQuietHandlerFlags : 0;

    if (param->handle != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION bhi;
        if (!GetFileInformationByHandle(param->handle, &bhi)) {
            const DWORD e = GetLastError();
            f.ctx.setTargetFileHandle(param->handle);
            return ossSystemErrorFlags(f, kCallGetFileInformationByHandle, e, 80, handlerFlags,
                                       ossItemHex(param->handle));
        }
        info->type = (bhi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? OSS_FILE_TYPE_DIRECTORY
                                                                        : OSS_FILE_TYPE_REGULAR;
        info->size = ((Uint64)bhi.nFileSizeHigh << 32) | bhi.nFileSizeLow;
        info->permissions = (bhi.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0x100u : 0x180u;
        return f.ret(OSS_OK);
    }

    const char* path = param->path;
    if (!path) return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO);
    // The runtime takes "C:" alone for no file at all; every other call takes it for the drive's
    // current directory, and so it is asked here.
    char full[kOssPathMax];
    if (ossIsBareDrive(path)) {
        const DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
        if (n != 0 && n < sizeof full) path = full;
    }
    struct _stat64 st;
    if (_stat64(path, &st) != 0) {
        const int e = errno;
        // The runtime refuses a directory named with a trailing separator ("C:\dir\"), which
        // every other call accepts: such a name is taken when it names a directory. A file
        // named so fails as the runtime says.
        if (!statDirectoryWithoutSeparator(path, &st)) {
            f.ctx.setTargetFileName(param->path);
            return ossSystemErrorFlags(f, kCallStat, (Uint32)e, 30, handlerFlags,
                                       ossItemString(param->path));
        }
    }
    Uint32 type;
    switch (st.st_mode & _S_IFMT) {
    case _S_IFREG: type = OSS_FILE_TYPE_REGULAR; break;
    case _S_IFDIR: type = OSS_FILE_TYPE_DIRECTORY; break;
    default: {
        const Uint32 mode = st.st_mode;
        if (quiet) return f.ret(ECF_FILE_UNKNOWN_FILE_TYPE);
        return f.fail(ECF_FILE_UNKNOWN_FILE_TYPE, 70, OSS_LEVEL_INFO, ossItemString(param->path),
                      ossItemHex(mode));
    }
    }
    info->size = (Uint64)st.st_size;
    info->isLink = false;
    info->referencePath = nullptr;
    info->type = type;
    info->permissions = st.st_mode & 0xFFFu;
    info->uid = (Uint32)st.st_uid;
    info->gid = (Uint32)st.st_gid;
    info->modified = (Sint64)st.st_mtime;
    return f.ret(OSS_OK);
}

// Errors of GetFileAttributesA that answer the question rather than fail it.
bool isNotThere(DWORD e)
{
    switch (e) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH: case ERROR_BAD_NET_NAME: case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return true;
    default:
        return false;
    }
}

bool isRefused(DWORD e)
{
    switch (e) {
    case ERROR_ACCESS_DENIED: case ERROR_CURRENT_DIRECTORY: case ERROR_LOCK_VIOLATION:
    case ERROR_CANNOT_MAKE: case ERROR_FAIL_I24: case ERROR_DRIVE_LOCKED:
    case ERROR_SEEK_ON_DEVICE: case ERROR_NOT_LOCKED: case ERROR_LOCK_FAILED:
        return true;
    default:
        return false;
    }
}

// One CopyFileA, reported under its own identifier. A copy that fails after it created the
// destination (read error, full disk) would leave a truncated file under the new name: it is
// removed. A destination that appeared meanwhile is someone else's and is left alone.
Uint32 copyOne(const char* from, const char* to)
{
    OSSCallFrame f(kCopyOne);
    if (CopyFileA(from, to, TRUE)) return f.ret(OSS_OK);
    const DWORD e = GetLastError();
    if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS &&
        GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesA(to, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(to);
    }
    f.ctx.setTargetFileName(from);
    return f.systemError(kCallCopyFile, e, 10, ossItemString(from), ossItemString(to));
}

}  // namespace

void OSSFileInfo::toString(toStringParam* param) const
{
    if (!param || param->version < OSS_MIN_VERSION) return;
    char perms[10] = "---------";
    if (permissions & 0x100) perms[0] = 'r';
    if (permissions & 0x80) perms[1] = 'w';
    if (permissions & 0x40) perms[2] = 'x';
    const char* ref = (referencePath && *referencePath) ? referencePath : "N/A";
    ossSnprintf(param->buffer, sizeof param->buffer,
                "Target File Information :\n"
                "  Size               = %I64u\n"
                "  Link               = %.3s\n"
                "  Reference path     = %.30s\n"
                "  Type               = 0x%X\n"
                "  Permissions        = %.9s\n"
                "  UID                = %u\n"
                "  GID                = %u\n"
                "  Last modified time = %u",
                size, isLink ? "Yes" : "No", ref, type, perms, uid, gid, (Uint32)modified);
}

extern "C" OSSE_API Uint32 ossFileGetInfoV9(const OSSFileGetInfoParam* param, OSSFileInfo* info)
{
    OSSCallFrame f(kGetInfo);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    return getInfo(f, param, info);
}

extern "C" OSSE_API Uint32 ossFileGetInfo(Uint32 version, const char* path, Uint32 reserved1,
                                          Uint32 reserved2, Uint32 flags, OSSFileInfo* info)
{
    OSSCallFrame f(kGetInfo);
    const OSSFileGetInfoParam param = {version, path, reserved1, reserved2, flags,
                                       INVALID_HANDLE_VALUE};
    if (Uint32 rc = f.checkParam(&param)) return f.ret(rc);
    return getInfo(f, &param, info);
}

extern "C" OSSE_API bool ossIsFile(const char* path)
{
    if (!path) return false;
    const DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

extern "C" OSSE_API bool ossIsDirectory(const char* path)
{
    if (!path) return false;
    const DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

extern "C" OSSE_API bool ossIsSymbolicLink(const char*)
{
    return false;
}

extern "C" OSSE_API int oss_access(const char* path, int mode)
{
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return -1;
    if ((mode & 0x2) && (a & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    return 0;
}

extern "C" OSSE_API Uint32 ossPathTest(const OSSPathTestParam* param)
{
    OSSCallFrame f(kPathTest);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (!param->path) return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO);

    const DWORD a = GetFileAttributesA(param->path);
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        // Not there, or not for us: the answer to the question, not a failure to log.
        if (isNotThere(e)) return f.ret(ECF_FILE_DOESNT_EXIST);
        if (isRefused(e)) return f.ret(ECF_ACCESS_DENIED);
        f.ctx.setTargetFileName(param->path);
        return ossSystemErrorFlags(f, kCallAccess, e, 40, OSS_SEH_NO_ANALYSIS,
                                   ossItemString(param->path), ossItemHex(param->flags));
    }
    if ((param->flags & OSS_PATH_TEST_WRITE) && (a & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return f.ret(ECF_ACCESS_DENIED);
    }
    return f.ret(OSS_OK);
}

extern "C" OSSE_API bool ossPathExists(const char* path)
{
    const OSSPathTestParam p = {OSS_CURRENT_VERSION, path, OSS_PATH_TEST_EXISTS, 0};
    return ossPathTest(&p) == OSS_OK;
}

extern "C" OSSE_API Uint32 ossFileDelete(const char* path)
{
    OSSCallFrame f(kFileDelete);
    const OSSPathTestParam p = {OSS_CURRENT_VERSION, path, OSS_PATH_TEST_EXISTS, 0};
    if (Uint32 rc = ossPathTest(&p)) {
        return ossFailedCallee(f, kPathTest, rc, 20, ossItemString(path));
    }
    if (ossIsDirectory(path)) {
        return f.fail(ECF_FILE_IS_A_DIRECTORY, 30, OSS_LEVEL_INFO, ossItemString(path));
    }
    if (!DeleteFileA(path)) {
        const DWORD e = GetLastError();
        f.ctx.setTargetFileName(path);
        return f.systemError(kCallDeleteFile, e, 40, ossItemString(path));
    }
    return f.ret(OSS_OK);
}

extern "C" OSSE_API Uint32 ossFileRename(const char* from, const char* to)
{
    OSSCallFrame f(kFileRename);
    if (!from || !to) {
        return f.fail(ECF_FILE_DOESNT_EXIST, 10, OSS_LEVEL_INFO, ossItemString(from),
                      ossItemString(to));
    }
    if (!MoveFileA(from, to)) {
        const DWORD e = GetLastError();
        Uint32 rc = ECF_FILE_DOESNT_EXIST;
        ossLogSysRC(nullptr, f.id(), kCallMoveFile, e, rc, 30, OSS_LEVEL_INFO, 2,
                    ossItemString(from), ossItemString(to));
        if (gtraceFrameOn()) gtraceFrameError(f.id(), 30, &rc);
        return f.ret(rc);
    }
    return f.ret(OSS_OK);
}

extern "C" OSSE_API Uint32 ossFileCopy(const char* from, const char* to)
{
    OSSCallFrame f(kFileCopy);
    if (!from || !to || strcmp(from, to) == 0) {
        return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO, ossItemString(from),
                      ossItemString(to));
    }
    if (GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES) {
        return f.fail(ECF_FILE_EXISTS, 20, OSS_LEVEL_INFO, ossItemString(to));
    }
    if (Uint32 rc = copyOne(from, to)) {
        return ossFailedCallee(f, kCopyOne, rc, 30, ossItemString(from), ossItemString(to));
    }
    return f.ret(OSS_OK);
}

extern "C" OSSE_API Uint32 ossFileSetPermissions(const char* path, Uint32 mode)
{
    OSSCallFrame f(kSetPermissions);
    if (!path) return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO);
    if (mode == 0) mode = 0x180;
    SetLastError(NO_ERROR);
    if (_chmod(path, (int)mode) < 0) {
        const DWORD e = GetLastError();
        f.ctx.setTargetFileName(path);
        f.ctx.setPermissions(mode);
        return f.systemError(kCallChmod, e, 20, ossItemString(path), ossItemHex(mode));
    }
    return f.ret(OSS_OK);
}

extern "C" OSSE_API Uint32 ossFileSetOwnership(const char*, Uint32, Uint32)
{
    return OSS_OK;
}

extern "C" OSSE_API Uint32 ossFileCreateSymlink(const char*, const char*)
{
    return OSS_OK;
}
