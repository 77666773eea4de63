// What the file, path and directory operations share inside the library: the records an inner
// step writes about a failed callee, the handler call with flags, and the inner operations of
// the tree walks.
#ifndef OSSE_SRC_FILE_FILE_INTERNAL_H
#define OSSE_SRC_FILE_FILE_INTERNAL_H

#include <stddef.h>

#include "osse/ecf.h"
#include "osse/file.h"

#include "base/callframe.h"

// Longest path the operations build themselves (child paths, prefixes, search strings),
// terminating NUL included.
constexpr Uint32 kOssPathMax = 260;

// A callee of this library returned `rc`: one record under the frame's identifier naming the
// callee, and the code becomes the frame's result.
template <class... I>
inline Uint32 ossFailedCallee(OSSCallFrame& f, Uint32 calleeId, Uint32 rc, Uint32 probe,
                              I... items)
{
    static_assert(ossAllItems<I...>, "pass data items (ossItemHex, ossItemString, ...)");
    ossLogRC(nullptr, f.id(), calleeId, rc, rc, probe, OSS_LEVEL_INFO, (Sint32)sizeof...(items),
             items...);
    if (gtraceFrameOn()) gtraceFrameError(f.id(), probe, &rc);
    return f.ret(rc);
}

// The system error handler with handler flags (OSS_SEH_...).
template <class... I>
inline Uint32 ossSystemErrorFlags(OSSCallFrame& f, Uint32 failedCall, Uint32 osError,
                                  Uint32 probe, Uint32 flags, I... items)
{
    static_assert(ossAllItems<I...>, "pass data items (ossItemHex, ossItemString, ...)");
    const Uint32 rc = ossSystemErrorHandler(f.id(), failedCall, osError, probe, 5, flags, &f.ctx,
                                            (Uint32)sizeof...(items), items...);
    if (gtraceFrameOn()) gtraceFrameError(f.id(), probe, &rc);
    return f.ret(rc);
}

// A drive letter and its colon lead the path: "C:\x", "C:x" and "C:" alone.
inline bool ossHasDrive(const char* p)
{
    return ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':';
}

// "C:" and nothing more: that drive's current directory, not its root.
inline bool ossIsBareDrive(const char* p)
{
    return ossHasDrive(p) && p[2] == '\0';
}

// Length of the part of a full path that names no directory of its own and is never created or
// removed: "\\server\share\", "\\?\UNC\server\share\", "\\?\C:\", "C:\", "\".
size_t ossRootLength(const char* path);

// "\\.\X:", "\\.\PhysicalDriveN" and "\\?\Volume{...}": names of devices, not of files.
bool ossIsRawDevicePath(const char* path);

// "parent\name" into out[kOssPathMax]; false when it does not fit (nothing usable is left).
bool ossJoinPath(char* out, const char* parent, const char* name);

// Deletes a directory's contents and, unless keepTop, the directory itself. A caller's delete
// stops at a read-only entry as the OS refuses it; a roll-back of what this library created
// (clearReadOnly) clears the attribute first, since the read-only files are its own copies.
Uint32 ossDirectoryDeleteTree(const char* path, bool keepTop, bool clearReadOnly);

#endif
