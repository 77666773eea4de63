// The primitive file wrapper: raw Win32 calls, raw error codes, nothing else. Used on failure
// paths, so it must not log, trace or allocate.
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "osse/primfile.h"

static_assert(sizeof(OSSPrimitiveFileOp) == sizeof(HANDLE), "one field: the OS handle");

namespace {

DWORD desiredAccess(Uint32 flags)
{
    if (flags & OSS_PRIMFILE_READ) return GENERIC_READ;
    if (flags & OSS_PRIMFILE_WRITE) return GENERIC_WRITE;
    return GENERIC_READ | GENERIC_WRITE;
}

DWORD creationDisposition(Uint32 flags)
{
    if (flags & OSS_PRIMFILE_OPEN_EXISTING) return OPEN_EXISTING;
    if (flags & OSS_PRIMFILE_OPEN_ALWAYS) return OPEN_ALWAYS;
    return OPEN_EXISTING;
}

}  // namespace

OSSPrimitiveFileOp::OSSPrimitiveFileOp() : m_hFile(INVALID_HANDLE_VALUE)
{
}

OSSPrimitiveFileOp::OSSPrimitiveFileOp(const char* name, Uint32 flags) : m_hFile(INVALID_HANDLE_VALUE)
{
    open(name, flags);
}

void OSSPrimitiveFileOp::constructor()
{
    m_hFile = INVALID_HANDLE_VALUE;
}

int OSSPrimitiveFileOp::open(const char* name, Uint32 flags)
{
    if (!name) {
        m_hFile = INVALID_HANDLE_VALUE;
        return ERROR_INVALID_PARAMETER;
    }
    m_hFile = CreateFileA(name, desiredAccess(flags), FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          creationDisposition(flags), FILE_ATTRIBUTE_NORMAL, nullptr);
    return m_hFile == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 0;
}

void OSSPrimitiveFileOp::openConsole()
{
    m_hFile = GetStdHandle(STD_OUTPUT_HANDLE);
}

bool OSSPrimitiveFileOp::isValid() const
{
    return m_hFile != INVALID_HANDLE_VALUE;
}

void OSSPrimitiveFileOp::close()
{
    if (m_hFile == INVALID_HANDLE_VALUE) return;
    // The console handle belongs to the process, not to this object: closing it would cut off
    // every later write to standard output.
    if (m_hFile != GetStdHandle(STD_OUTPUT_HANDLE)) CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

int OSSPrimitiveFileOp::read(Uint32 length, void* buffer, Uint32* bytesRead)
{
    DWORD count = 0;
    int rc = 0;
    if (m_hFile == INVALID_HANDLE_VALUE)
        rc = ERROR_INVALID_HANDLE;
    else if (!ReadFile(m_hFile, buffer, length, &count, nullptr))
        rc = static_cast<int>(GetLastError());
    if (bytesRead) *bytesRead = rc == 0 ? count : 0;
    return rc;
}

int OSSPrimitiveFileOp::write(const void* buffer, Uint32 length)
{
    if (m_hFile == INVALID_HANDLE_VALUE) return 0;
    if (length == 0) {
        if (!buffer) return 0;
        length = static_cast<Uint32>(strlen(static_cast<const char*>(buffer)));
    }
    DWORD written = 0;
    if (!WriteFile(m_hFile, buffer, length, &written, nullptr)) return static_cast<int>(GetLastError());
    return 0;
}

void OSSPrimitiveFileOp::fwrite(const char* format, ...)
{
    if (!format) return;
    char text[OSS_PRIMFILE_FWRITE_BUFFER];
    memset(text, 0, sizeof text);
    va_list args;
    va_start(args, format);
    // _TRUNCATE: a longer expansion is cut to sizeof text - 1 characters and terminated.
    const int n = _vsnprintf_s(text, sizeof text, _TRUNCATE, format, args);
    va_end(args);
    if (n < 0) text[sizeof text - 1] = '\0';
    write(text, 0);
}

int OSSPrimitiveFileOp::getSize(offsetType* size)
{
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(m_hFile, nullptr);
    const DWORD err = low == INVALID_FILE_SIZE ? GetLastError() : NO_ERROR;
    if (size) *size = err == NO_ERROR ? low : 0;
    return static_cast<int>(err);
}

// The high word passed to SetFilePointer keeps offsets of 2 GiB and more from being taken as
// negative distances.
OSSPrimitiveFileOp::offsetType OSSPrimitiveFileOp::getCurrentOffset()
{
    LONG high = 0;
    return SetFilePointer(m_hFile, 0, &high, FILE_CURRENT);
}

void OSSPrimitiveFileOp::seekToOffset(offsetType offset)
{
    LONG high = 0;
    SetFilePointer(m_hFile, static_cast<LONG>(offset), &high, FILE_BEGIN);
}

void OSSPrimitiveFileOp::seekToEnd()
{
    LONG high = 0;
    SetFilePointer(m_hFile, 0, &high, FILE_END);
}

void OSSPrimitiveFileOp::setFileHandle(void* handle)
{
    m_hFile = handle;
}
