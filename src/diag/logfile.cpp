// The log file destination: every record is appended under an exclusive lock on the file, with
// a locator (its offset in the file and its length) stamped into its header first, so that a
// reader can cut the file by record without parsing it.
#include <windows.h>

#include <stdio.h>

#include "diag/diagdeps.h"

namespace ossdiag {

namespace {

// The locator sits in the blank fill after the time stamp and UTC offset of the header line.
constexpr size_t kLocatorAt = 33;
constexpr size_t kLocatorRoom = 18;  // terminator included
constexpr size_t kHeaderFillEnd = 50;

void stampLocator(char* record, Uint64 fileSize, Uint32 length)
{
    char* at = record + kLocatorAt;
    int n = _snprintf(at, kLocatorRoom, "%c%I64u%c%u", 'I', fileSize + 2, 'H', length - 2);
    if (n < 0 || (size_t)n >= kLocatorRoom) n = (int)kLocatorRoom - 1;
    at[n] = ' ';
    record[kHeaderFillEnd] = ' ';
}

}  // namespace

Uint32 appendToLogFile(const OSSLogFacility* facility, char* record, Uint32 length)
{
    HANDLE file = CreateFileA(facility->path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0x90000002u;
    Uint32 rc = 0x90000002u;
    OVERLAPPED at = {};
    for (;;) {
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            break;
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            CloseHandle(file);
            return rc;
        }
        pause();
    }
    LARGE_INTEGER zero = {}, size = {};
    DWORD written = 0;
    if (SetFilePointerEx(file, zero, nullptr, FILE_END) && GetFileSizeEx(file, &size)) {
        stampLocator(record, (Uint64)size.QuadPart, length);
        if (WriteFile(file, record, length, &written, nullptr) && written == length) rc = 0;
    }
    UnlockFileEx(file, 0, 1, 0, &at);
    CloseHandle(file);
    return rc;
}

}  // namespace ossdiag
