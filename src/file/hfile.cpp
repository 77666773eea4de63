// OSSHFile: a thin layer over CreateFileA and its companions. What it adds is the mapping of the
// portable creation, access, lock and map codes to OS arguments, parameter checks, and the
// return codes; every OS failure goes through the system error handler of the call frame.
//
// The diagnostic log's file destination appends every record through this class (open, lock,
// seek, getSize, write, unlock, close), so nothing here allocates.
#include <windows.h>

#include "osse/ecf.h"
#include "osse/file.h"
#include "osse/tick.h"

#include "base/callframe.h"

namespace {

constexpr Uint32 kOpen = OSS_FUNC_ID(OSS_FN_OSSHFile_open);
constexpr Uint32 kClose = OSS_FUNC_ID(OSS_FN_OSSHFile_close);
constexpr Uint32 kSeek = OSS_FUNC_ID(OSS_FN_OSSHFile_seek);
constexpr Uint32 kGetSize = OSS_FUNC_ID(OSS_FN_OSSHFile_getSize);
constexpr Uint32 kSetSize = OSS_FUNC_ID(OSS_FN_OSSHFile_setSize);
constexpr Uint32 kRead = OSS_FUNC_ID(OSS_FN_OSSHFile_read);
constexpr Uint32 kWrite = OSS_FUNC_ID(OSS_FN_OSSHFile_write);
constexpr Uint32 kLock = OSS_FUNC_ID(OSS_FN_OSSHFile_lock);
constexpr Uint32 kUnlock = OSS_FUNC_ID(OSS_FN_OSSHFile_unlock);
constexpr Uint32 kMap = OSS_FUNC_ID(OSS_FN_OSSHFile_map);
constexpr Uint32 kUnmap = OSS_FUNC_ID(OSS_FN_OSSHFile_unmap);
constexpr Uint32 kSync = OSS_FUNC_ID(OSS_FN_OSSHFile_sync);

constexpr Uint32 kCallCloseHandle = OSS_SYS_FUNC_ID(OSS_SYSFN_CloseHandle);
constexpr Uint32 kCallCreateFile = OSS_SYS_FUNC_ID(OSS_SYSFN_CreateFile);
constexpr Uint32 kCallCreateFileMapping = OSS_SYS_FUNC_ID(OSS_SYSFN_CreateFileMapping);
constexpr Uint32 kCallFlushFileBuffers = OSS_SYS_FUNC_ID(OSS_SYSFN_FlushFileBuffers);
constexpr Uint32 kCallGetFileSize = OSS_SYS_FUNC_ID(OSS_SYSFN_GetFileSize);
constexpr Uint32 kCallLockFileEx = OSS_SYS_FUNC_ID(OSS_SYSFN_LockFileEx);
constexpr Uint32 kCallMapViewOfFileEx = OSS_SYS_FUNC_ID(OSS_SYSFN_MapViewOfFileEx);
constexpr Uint32 kCallReadFile = OSS_SYS_FUNC_ID(OSS_SYSFN_ReadFile);
constexpr Uint32 kCallSetEndOfFile = OSS_SYS_FUNC_ID(OSS_SYSFN_SetEndOfFile);
constexpr Uint32 kCallSetFilePointer = OSS_SYS_FUNC_ID(OSS_SYSFN_SetFilePointer);
constexpr Uint32 kCallUnlockFileEx = OSS_SYS_FUNC_ID(OSS_SYSFN_UnlockFileEx);
constexpr Uint32 kCallUnmapViewOfFile = OSS_SYS_FUNC_ID(OSS_SYSFN_UnmapViewOfFile);
constexpr Uint32 kCallWriteFile = OSS_SYS_FUNC_ID(OSS_SYSFN_WriteFile);

static_assert(kOpen == 0x081A0002u && kSync == 0x081A000Du, "operation identifiers");
static_assert(kCallCloseHandle == 0x08140069u && kCallCreateFile == 0x0814006Du &&
                  kCallCreateFileMapping == 0x0814006Eu && kCallFlushFileBuffers == 0x08140076u &&
                  kCallGetFileSize == 0x0814007Eu && kCallLockFileEx == 0x08140087u &&
                  kCallMapViewOfFileEx == 0x0814008Au && kCallReadFile == 0x08140092u &&
                  kCallSetEndOfFile == 0x08140097u && kCallSetFilePointer == 0x0814009Au &&
                  kCallUnlockFileEx == 0x081400A3u && kCallUnmapViewOfFile == 0x081400A4u &&
                  kCallWriteFile == 0x081400A8u,
              "failed-call identifiers");

constexpr DWORD kLockRetryMs = 100;

// SetFilePointer with a 64-bit position. 0xFFFFFFFF is also a valid low word, so the result is a
// failure only when the last error says so; it is cleared first so that a stale value from an
// earlier call cannot turn a success into a failure.
bool movePointer(HANDLE file, Uint64 distance, DWORD method, Uint64* position, DWORD* error)
{
    LONG high = (LONG)(Uint32)(distance >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, (LONG)(Uint32)distance, &high, method);
    if (low == INVALID_SET_FILE_POINTER) {
        DWORD e = GetLastError();
        if (e != NO_ERROR) {
            *error = e;
            return false;
        }
    }
    *position = ((Uint64)(Uint32)high << 32) | low;
    return true;
}

// GetFileSize with the high word, under the same rule for 0xFFFFFFFF.
bool fileSize(HANDLE file, Uint64* size, DWORD* error)
{
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE) {
        DWORD e = GetLastError();
        if (e != NO_ERROR) {
            *error = e;
            return false;
        }
    }
    *size = ((Uint64)high << 32) | low;
    return true;
}

}  // namespace

void OSSHFile::constructor()
{
    file = INVALID_HANDLE_VALUE;
    mapping = INVALID_HANDLE_VALUE;
    view = nullptr;
}

void* OSSHFile::getFileHandle() const
{
    return file;
}

Uint32 OSSHFile::open(const OSSFileOpenParam* param)
{
    OSSCallFrame f(kOpen);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);

    const char* name = param->fileName;
    DWORD disposition;
    switch (param->creation) {
    case OSS_FILE_OPEN_EXISTING: disposition = OPEN_EXISTING; break;
    case OSS_FILE_OPEN_ALWAYS: disposition = OPEN_ALWAYS; break;
    case OSS_FILE_TRUNCATE_EXISTING: disposition = TRUNCATE_EXISTING; break;
    case OSS_FILE_CREATE_NEW: disposition = CREATE_NEW; break;
    case OSS_FILE_CREATE_ALWAYS: disposition = CREATE_ALWAYS; break;
    default:
        return f.fail(ECF_INVALID_PARAMETER, 230, OSS_LEVEL_INFO, ossItemHex(param->creation));
    }
    DWORD desiredAccess;
    switch (param->access) {
    case OSS_FILE_ACCESS_READ: desiredAccess = GENERIC_READ; break;
    case OSS_FILE_ACCESS_WRITE: desiredAccess = GENERIC_WRITE; break;
    case OSS_FILE_ACCESS_READWRITE: desiredAccess = GENERIC_READ | GENERIC_WRITE; break;
    default:
        return f.fail(ECF_INVALID_PARAMETER, 240, OSS_LEVEL_INFO, ossItemHex(param->access));
    }
    if (param->creation == OSS_FILE_TRUNCATE_EXISTING && param->access == OSS_FILE_ACCESS_READ) {
        return f.fail(ECF_INVALID_PARAMETER, 250, OSS_LEVEL_INFO, ossItemHex(param->creation),
                      ossItemHex(param->access));
    }
    // A missing name would only reach the OS (and the failure record) as a null string.
    if (!name) {
        return f.fail(ECF_INVALID_PARAMETER, 220, OSS_LEVEL_INFO, ossItemHex(name));
    }
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (param->options & OSS_FILE_OPTION_WRITE_THROUGH) flags |= FILE_FLAG_WRITE_THROUGH;
    if (param->options & OSS_FILE_OPTION_DELETE_ON_CLOSE) flags |= FILE_FLAG_DELETE_ON_CLOSE;

    // Decide the two existence cases before asking for a handle, so that they give their own
    // codes whatever the OS would have said. Only those two creation codes need the answer, and
    // the query is not free (the log file opens with OPEN_ALWAYS for every record).
    if (param->creation == OSS_FILE_CREATE_NEW || param->creation == OSS_FILE_OPEN_EXISTING) {
        const bool exists = GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
        if (exists && param->creation == OSS_FILE_CREATE_NEW) {
            return f.fail(ECF_FILE_EXISTS, 260, OSS_LEVEL_INFO, ossItemString(name));
        }
        if (!exists && param->creation == OSS_FILE_OPEN_EXISTING) {
            return f.fail(ECF_FILE_DOESNT_EXIST, 270, OSS_LEVEL_INFO, ossItemString(name));
        }
    }

    constructor();
    file = CreateFileA(name, desiredAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       disposition, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        f.ctx.setTargetFileName(name);
        f.ctx.setTargetFileHandle(file);
        f.ctx.setPermissions(param->permissions);
        return f.systemError(kCallCreateFile, e, 280, ossItemString(name),
                                   ossItemHex(param->creation), ossItemHex(param->access),
                                   ossItemHex(param->options), ossItemHex(param->permissions),
                                   ossItemHex(param->reserved), ossItemHex(disposition),
                                   ossItemHex(desiredAccess), ossItemHex(flags));
    }
    return f.ret(OSS_OK);
}

Uint32 OSSHFile::close()
{
    OSSCallFrame f(kClose);
    if (!CloseHandle(file)) {
        DWORD e = GetLastError();
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallCloseHandle, e, 10, ossItemHex(file));
    }
    constructor();
    return f.ret(OSS_OK);
}

Uint32 OSSHFile::seek(const OSSFileSeekParam* param, Uint64* newPosition)
{
    OSSCallFrame f(kSeek);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);

    DWORD method;
    switch (param->whence) {
    case OSS_FILE_SEEK_SET: method = FILE_BEGIN; break;
    case OSS_FILE_SEEK_CUR: method = FILE_CURRENT; break;
    case OSS_FILE_SEEK_END: method = FILE_END; break;
    default:
        return f.fail(ECF_INVALID_PARAMETER, 120, OSS_LEVEL_INFO, ossItemUnsigned(param->whence));
    }
    // The base of whence 2 is the file size, which the range check needs anyway; taking it from
    // a pointer move to the end would leave a refused seek at the end of the file.
    DWORD e = 0;
    Uint64 base = 0, size = 0;
    if (method == FILE_CURRENT && !movePointer(file, 0, FILE_CURRENT, &base, &e)) {
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallSetFilePointer, e, 130, ossItemHex(file),
                                   ossItemUnsigned(param->whence));
    }
    if (!fileSize(file, &size, &e)) {
        f.ctx.setTargetFileHandle(file);
        // For whence 2 this query is the one that finds the base, and is reported as that step.
        if (method == FILE_END) {
            return f.systemError(kCallSetFilePointer, e, 130, ossItemHex(file),
                                 ossItemUnsigned(param->whence));
        }
        return f.systemError(kCallGetFileSize, e, 140, ossItemHex(file));
    }
    if (method == FILE_END) base = size;

    // Signed 64-bit sum. A sum past the largest value saturates (it is beyond any end of file)
    // rather than wrapping to a negative target that would land on 0.
    const Sint64 offset = param->offset;
    const Sint64 maxTarget = 0x7FFFFFFFFFFFFFFFll;
    Sint64 target;
    if (offset > 0 && (Uint64)offset > (Uint64)maxTarget - base)
        target = maxTarget;
    else
        target = (Sint64)(base + (Uint64)offset);
    if (target < 0) target = 0;

    if ((Uint64)target > size) {
        return f.fail(ECF_FILE_SEEK_BEYOND_EOF, 150, OSS_LEVEL_INFO, ossItemSigned(target),
                      ossItemUnsigned(size));
    }
    Uint64 position = 0;
    if (!movePointer(file, (Uint64)target, FILE_BEGIN, &position, &e)) {
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallSetFilePointer, e, 160, ossItemHex(file),
                                   ossItemSigned(target));
    }
    if (newPosition) *newPosition = position;
    return f.ret(OSS_OK);
}

Uint32 OSSHFile::getSize(Uint64* size)
{
    OSSCallFrame f(kGetSize);
    // The out pointer is the operation's only argument: treat it like a parameter object.
    if (!size) {
        return f.fail(ECF_INVALID_PARAMETER, 1111, OSS_LEVEL_ERROR);
    }
    DWORD e = 0;
    if (!fileSize(file, size, &e)) {
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallGetFileSize, e, 10, ossItemHex(file));
    }
    return f.ret(OSS_OK);
}

Uint32 OSSHFile::setSize(const OSSFileSetSizeParam* param)
{
    OSSCallFrame f(kSetSize);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (param->flags != 0) {
        return f.fail(ECF_INVALID_PARAMETER, 30, OSS_LEVEL_INFO, ossItemHex(param->flags));
    }
    DWORD e = 0;
    Uint64 saved = 0, size = 0, moved = 0;
    if (!movePointer(file, 0, FILE_CURRENT, &saved, &e)) {
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallSetFilePointer, e, 100, ossItemHex(file));
    }
    if (!fileSize(file, &size, &e)) {
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallGetFileSize, e, 40, ossItemHex(file));
    }
    if (param->size == size) return f.ret(OSS_OK);

    if (!movePointer(file, param->size, FILE_BEGIN, &moved, &e)) {
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallSetFilePointer, e, 140, ossItemHex(file),
                                   ossItemUnsigned(param->size));
    }
    if (!SetEndOfFile(file)) {
        e = GetLastError();
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallSetEndOfFile, e, 150, ossItemHex(file),
                                   ossItemUnsigned(param->size));
    }
    // A position inside the new size is kept; one beyond it stays at the new end of file.
    if (saved < param->size && !movePointer(file, saved, FILE_BEGIN, &moved, &e)) {
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallSetFilePointer, e, 160, ossItemHex(file),
                                   ossItemUnsigned(saved));
    }
    return f.ret(OSS_OK);
}

Uint32 OSSHFile::read(const OSSFileReadParam* param, void* buffer, Uint32* bytesRead)
{
    OSSCallFrame f(kRead);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (bytesRead) *bytesRead = 0;

    DWORD count = 0;
    if (!ReadFile(file, buffer, param->length, &count, nullptr)) {
        DWORD e = GetLastError();
        f.ctx.setTargetFileHandle(file);
        f.ctx.setIOSize(param->length);
        return f.systemError(kCallReadFile, e, 40, ossItemHex(file), ossItemHex(buffer),
                                   ossItemUnsigned(param->length), ossItemHex(param->reserved));
    }
    if (bytesRead) *bytesRead = count;
    return f.ret(count == param->length ? OSS_OK : ECF_FILE_EOF);
}

Uint32 OSSHFile::write(const OSSFileWriteParam* param, Uint32* bytesWritten)
{
    OSSCallFrame f(kWrite);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (bytesWritten) *bytesWritten = 0;

    const char* data = static_cast<const char*>(param->buffer);
    Uint32 total = 0;
    while (total < param->length) {
        DWORD count = 0;
        if (!WriteFile(file, data + total, param->length - total, &count, nullptr)) {
            DWORD e = GetLastError();
            f.ctx.setTargetFileHandle(file);
            f.ctx.setIOSize(param->length);
            return f.systemError(kCallWriteFile, e, 40, ossItemHex(file),
                                       ossItemHex(param->buffer), ossItemUnsigned(param->length),
                                       ossItemUnsigned(total), ossItemHex(param->reserved));
        }
        if (count == 0) break;
        total += count;
    }
    if (bytesWritten) *bytesWritten = total;
    if (total != param->length) {
        return f.fail(ECF_FILE_INCOMPLETE_WRITE, 60, OSS_LEVEL_INFO, ossItemUnsigned(param->length),
                      ossItemUnsigned(total));
    }
    return f.ret(OSS_OK);
}

Uint32 OSSHFile::lock(const OSSFileLockParam* param)
{
    OSSCallFrame f(kLock);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);

    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
    switch (param->type) {
    case OSS_FILE_LOCK_EXCLUSIVE: flags |= LOCKFILE_EXCLUSIVE_LOCK; break;
    case OSS_FILE_LOCK_SHARED: break;
    default:
        return f.fail(ECF_INVALID_PARAMETER, 130, OSS_LEVEL_INFO, ossItemUnsigned(param->type));
    }
    if (param->wait != OSS_FILE_LOCK_WAIT && param->wait != OSS_FILE_LOCK_NOWAIT) {
        return f.fail(ECF_INVALID_PARAMETER, 140, OSS_LEVEL_INFO, ossItemUnsigned(param->wait));
    }
    // Always ask without blocking in the kernel: a waiting caller polls, so that its sleeps go
    // through the yield callbacks.
    for (;;) {
        OVERLAPPED at = {};
        if (LockFileEx(file, flags, 0, 1, 0, &at)) return f.ret(OSS_OK);
        DWORD e = GetLastError();
        if (e != ERROR_LOCK_VIOLATION) {
            f.ctx.setTargetFileHandle(file);
            return f.systemError(kCallLockFileEx, e, 160, ossItemHex(file),
                                       ossItemUnsigned(param->type), ossItemUnsigned(param->wait));
        }
        if (param->wait == OSS_FILE_LOCK_NOWAIT) return f.ret(ECF_FILE_LOCK);
        ossSleep(kLockRetryMs);
    }
}

Uint32 OSSHFile::unlock()
{
    OSSCallFrame f(kUnlock);
    OVERLAPPED at = {};
    if (!UnlockFileEx(file, 0, 1, 0, &at)) {
        DWORD e = GetLastError();
        // Nothing to release is not a failure. Some kernels report an unlock of a range this
        // handle does not hold as a lock violation rather than as "not locked".
        if (e == ERROR_NOT_LOCKED || e == ERROR_LOCK_VIOLATION) return f.ret(OSS_OK);
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallUnlockFileEx, e, 10, ossItemHex(file));
    }
    return f.ret(OSS_OK);
}

Uint32 OSSHFile::map(const OSSFileMapParam* param, void** address)
{
    OSSCallFrame f(kMap);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);

    DWORD protection, viewAccess;
    switch (param->access) {
    case OSS_FILE_MAP_READ: protection = PAGE_READONLY; viewAccess = FILE_MAP_READ; break;
    case OSS_FILE_MAP_COPY: protection = PAGE_WRITECOPY; viewAccess = FILE_MAP_COPY; break;
    case OSS_FILE_MAP_WRITE: protection = PAGE_READWRITE; viewAccess = FILE_MAP_WRITE; break;
    default:
        return f.fail(ECF_INVALID_PARAMETER, 60, OSS_LEVEL_INFO, ossItemUnsigned(param->access));
    }
    // The view's base is both an input (preferred address) and the result.
    if (!address) {
        return f.fail(ECF_INVALID_PARAMETER, 1111, OSS_LEVEL_ERROR);
    }
    HANDLE m = CreateFileMappingA(file, nullptr, protection, 0, 0, nullptr);
    if (!m) {
        DWORD e = GetLastError();
        mapping = INVALID_HANDLE_VALUE;
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallCreateFileMapping, e, 70, ossItemHex(file),
                                   ossItemHex(protection));
    }
    mapping = m;
    void* preferred = *address;
    void* base = MapViewOfFileEx(m, viewAccess, 0, 0, param->length, preferred);
    *address = base;
    if (!base) {
        DWORD e = GetLastError();
        CloseHandle(m);
        mapping = INVALID_HANDLE_VALUE;
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallMapViewOfFileEx, e, 80, ossItemHex(file),
                                   ossItemHex(viewAccess), ossItemUnsigned(param->length),
                                   ossItemHex(preferred));
    }
    view = base;
    return f.ret(OSS_OK);
}

Uint32 OSSHFile::unmap(void* address)
{
    OSSCallFrame f(kUnmap);
    void* base = address ? address : view;
    if (!UnmapViewOfFile(base)) {
        DWORD e = GetLastError();
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallUnmapViewOfFile, e, 20, ossItemHex(file), ossItemHex(base));
    }
    if (!CloseHandle(mapping)) {
        DWORD e = GetLastError();
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallCloseHandle, e, 30, ossItemHex(file), ossItemHex(mapping));
    }
    mapping = INVALID_HANDLE_VALUE;
    view = nullptr;
    return f.ret(OSS_OK);
}

Uint32 OSSHFile::sync()
{
    OSSCallFrame f(kSync);
    if (!FlushFileBuffers(file)) {
        DWORD e = GetLastError();
        f.ctx.setTargetFileHandle(file);
        return f.systemError(kCallFlushFileBuffers, e, 10, ossItemHex(file));
    }
    return f.ret(OSS_OK);
}
