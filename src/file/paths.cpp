// Operations on path names that need no file: the last component and the directory part of a
// path, raw device names, joining, comparison, the drive map and temporary names.
//
// Both '\' and '/' separate components, as they do for the OS; a run of separators counts as
// one. The results are always terminated, and a result that does not fit the caller's buffer
// is refused with ECF_BUFFER_TOO_SMALL before anything is written.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "file/file_internal.h"

namespace {

constexpr Uint32 kBaseName = OSS_FUNC_ID(OSS_FN_ossBaseName);
constexpr Uint32 kDirectoryName = OSS_FUNC_ID(OSS_FN_ossDirectoryName);
constexpr Uint32 kComparePaths = OSS_FUNC_ID(OSS_FN_ossComparePaths);
constexpr Uint32 kGetLogicalDriveMap = OSS_FUNC_ID(OSS_FN_ossGetLogicalDriveMap);
constexpr Uint32 kTmpnam = OSS_FUNC_ID(OSS_FN_osstmpnam);
constexpr Uint32 kCallGetTempPath = OSS_SYS_FUNC_ID(OSS_SYSFN_GetTempPath);
constexpr Uint32 kCallGetTempFileName = OSS_SYS_FUNC_ID(OSS_SYSFN_GetTempFileName);

static_assert(kBaseName == 0x081A001Cu && kDirectoryName == 0x081A001Bu &&
                  kComparePaths == 0x081A0027u && kGetLogicalDriveMap == 0x081A0021u &&
                  kTmpnam == 0x081A00AAu,
              "operation identifiers");
static_assert(kCallGetTempPath == 0x08140156u && kCallGetTempFileName == 0x08140157u,
              "failed-call identifiers");

// The runtime's temporary names need this much (its L_tmpnam).
constexpr Uint32 kTmpnamSize = 14;

inline bool isSep(char c)
{
    return c == '\\' || c == '/';
}

// Index of the last separator followed by a character that is not one, or -1.
int lastInnerSep(const char* p, size_t len)
{
    for (size_t i = len; i-- > 0;)
        if (isSep(p[i]) && p[i + 1] && !isSep(p[i + 1])) return (int)i;
    return -1;
}

Uint32 copyOut(OSSCallFrame& f, const char* text, size_t len, char* out, Uint32 outSize)
{
    const Uint32 need = (Uint32)len + 1;
    if (outSize < need) {
        return f.fail(ECF_BUFFER_TOO_SMALL, 30, OSS_LEVEL_INFO, ossItemUnsigned(outSize),
                      ossItemUnsigned(need));
    }
    memcpy(out, text, len);
    out[len] = '\0';
    return f.ret(OSS_OK);
}

bool equalNoCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
    }
}

bool fullName(const char* path, char* out)
{
    memset(out, 0, kOssPathMax);
    DWORD n = GetFullPathNameA(path, kOssPathMax, out, nullptr);
    return n != 0 && n < kOssPathMax;
}

// The short form of a path, or false when the OS cannot give it (no such file, or too long).
// The short form keeps "." and ".." components as they are: resolve them first.
bool shortName(const char* path, char* out)
{
    char full[kOssPathMax];
    if (fullName(path, full)) path = full;
    memset(out, 0, kOssPathMax);
    DWORD n = GetShortPathNameA(path, out, kOssPathMax);
    return n != 0 && n < kOssPathMax;
}

}  // namespace

bool ossIsRawDevicePath(const char* path)
{
    if (!path) return false;
    if (strncmp(path, "\\\\.\\", 4) == 0) {
        // The drive letter's colon is the sixth character; a shorter name has none to read.
        if (path[4] && path[5] == ':') return true;
        return strncmp(path + 4, "PhysicalDrive", 13) == 0;
    }
    return strncmp(path, "\\\\?\\Volume", 10) == 0;
}

size_t ossRootLength(const char* p)
{
    size_t i = 0;
    int parts = 0;  // components after the leading separators that still belong to the root
    if (isSep(p[0]) && isSep(p[1])) {
        if ((p[2] == '?' || p[2] == '.') && isSep(p[3])) {
            // "\\?\C:\", "\\?\Volume{...}\" or "\\?\UNC\server\share\"
            i = 4;
            parts = 1;
            if (_strnicmp(p + 4, "UNC", 3) == 0 && isSep(p[7])) {
                i = 8;
                parts = 2;
            }
        } else {
            parts = 2;  // server and share
        }
    } else if (ossHasDrive(p) && isSep(p[2])) {
        i = 2;
    }
    while (isSep(p[i])) ++i;
    for (; parts > 0; --parts) {
        while (p[i] && !isSep(p[i])) ++i;
        while (isSep(p[i])) ++i;
    }
    return i;
}

bool ossJoinPath(char* out, const char* parent, const char* name)
{
    const size_t pl = strlen(parent), nl = strlen(name);
    // A parent that already ends with a separator (a root such as "C:\") gets no second one,
    // and neither does a bare "C:": "C:name" is in that drive's current directory, "C:\name"
    // in its root.
    const bool sep = pl > 0 && !isSep(parent[pl - 1]) && !ossIsBareDrive(parent);
    if (pl + (sep ? 1 : 0) + nl + 1 > kOssPathMax) return false;
    memcpy(out, parent, pl);
    size_t at = pl;
    if (sep) out[at++] = '\\';
    memcpy(out + at, name, nl + 1);
    return true;
}

extern "C" OSSE_API Uint32 ossBaseName(const char* path, char* out, Uint32 outSize)
{
    OSSCallFrame f(kBaseName);
    if (!path || !*path) return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO);
    if (!out) return f.fail(ECF_INVALID_PARAMETER, 20, OSS_LEVEL_INFO);

    const size_t len = strlen(path);
    const int sep = lastInnerSep(path, len);
    const char* start = path + (sep >= 0 ? sep + 1 : 0);
    const Uint32 need = (Uint32)(path + len - start) + 1;
    if (outSize < need) {
        return f.fail(ECF_BUFFER_TOO_SMALL, 30, OSS_LEVEL_INFO, ossItemUnsigned(outSize),
                      ossItemUnsigned(need));
    }
    if (sep < 0 && isSep(path[0])) {
        out[0] = '\\';
        out[1] = '\0';
        return f.ret(OSS_OK);
    }
    char* o = out;
    for (const char* p = start; *p; ++p)
        if (!isSep(*p)) *o++ = *p;
    *o = '\0';
    return f.ret(OSS_OK);
}

extern "C" OSSE_API Uint32 ossDirectoryName(const char* path, char* out, Uint32 outSize)
{
    OSSCallFrame f(kDirectoryName);
    if (!path || !*path) return f.fail(ECF_INVALID_PARAMETER, 10, OSS_LEVEL_INFO);
    if (!out) return f.fail(ECF_INVALID_PARAMETER, 20, OSS_LEVEL_INFO);

    const size_t len = strlen(path);
    if (ossIsRawDevicePath(path)) return copyOut(f, path, len, out, outSize);

    const int sep = lastInnerSep(path, len);
    if (sep < 0) {
        // One component: the drive's root ("C:\x"), the drive's current directory ("C:x"),
        // the root ("\"), or the current directory.
        if (ossHasDrive(path)) return copyOut(f, path, isSep(path[2]) ? 3 : 2, out, outSize);
        if (isSep(path[0])) return copyOut(f, "\\", 1, out, outSize);
        return copyOut(f, ".", 1, out, outSize);
    }
    size_t n = (size_t)sep;
    while (n > 0 && isSep(path[n - 1])) --n;
    if (n == 0) return copyOut(f, "\\", 1, out, outSize);
    // The root of a drive keeps its separator: "C:" alone names a current directory.
    if (n == 2 && ossHasDrive(path)) n = 3;
    return copyOut(f, path, n, out, outSize);
}

extern "C" OSSE_API bool ossComparePaths(const char* a, const char* b)
{
    OSSCallFrame f(kComparePaths);
    if (!a || !b) return false;
    char sa[kOssPathMax], sb[kOssPathMax];
    const bool okA = shortName(a, sa), okB = shortName(b, sb);
    if (okA && okB) return equalNoCase(sa, sb);
    if (okA != okB) return false;
    // Neither exists (or neither can be shortened): the same name, once made absolute, is the
    // same file; two different missing files are not.
    if (fullName(a, sa) && fullName(b, sb)) return equalNoCase(sa, sb);
    return equalNoCase(a, b);
}

extern "C" OSSE_API Uint32 ossGetLogicalDriveMap(Uint32* map)
{
    OSSCallFrame f(kGetLogicalDriveMap);
    if (!map) return f.fail(ECF_INVALID_PARAMETER, 20, OSS_LEVEL_INFO);
    const DWORD drives = GetLogicalDrives();
    if (drives == 0) {
        const DWORD e = GetLastError();
        return f.fail(ECF_FILE_CANNOT_RETRIEVE_DRIVE_MAP, 10, OSS_LEVEL_INFO, ossItemUnsigned(e));
    }
    *map = drives;
    return f.ret(OSS_OK);
}

extern "C" OSSE_API Uint32 osstmpnam(char* out, Uint32 outSize, Uint32 flags)
{
    OSSCallFrame f(kTmpnam);
    if (!out) return f.fail(ECF_INVALID_PARAMETER, 60, OSS_LEVEL_INFO);
    if (!(flags & OSS_TMPNAM_TEMP_FOLDER)) {
        if (outSize < kTmpnamSize) {
            return f.fail(ECF_BUFFER_TOO_SMALL, 40, OSS_LEVEL_INFO, ossItemUnsigned(outSize),
                          ossItemUnsigned(kTmpnamSize));
        }
        if (!tmpnam(out)) return f.fail(ECF_FAILED, 50, OSS_LEVEL_INFO);
        return f.ret(OSS_OK);
    }
    if (outSize < kOssPathMax) {
        return f.fail(ECF_BUFFER_TOO_SMALL, 40, OSS_LEVEL_INFO, ossItemUnsigned(outSize),
                      ossItemUnsigned(kOssPathMax));
    }
    char folder[512];
    const DWORD n = GetTempPathA(sizeof folder, folder);
    if (n == 0 || n >= sizeof folder) {
        const DWORD e = n == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
        return f.systemError(kCallGetTempPath, e, 10, ossItemUnsigned(n));
    }
    if (!GetTempFileNameA(folder, "nrv", 0, out)) {
        const DWORD e = GetLastError();
        f.ctx.setTargetFileName(folder);
        return f.systemError(kCallGetTempFileName, e, 20, ossItemString(folder));
    }
    return f.ret(OSS_OK);
}
