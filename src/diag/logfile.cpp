// The log file destination: every record is appended under an exclusive lock on the file, with
// a locator (its offset in the file and its length) stamped into its header first, so that a
// reader can cut the file by record without parsing it.
#include <stdio.h>

#include "osse/file.h"

#include "diag/logfile.h"

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

// Failures of the file operations are reported by the operations themselves, through the
// handler and so back into the log, where the writing flag turns them into no-ops.
Uint32 appendToLogFile(const OSSLogFacility* facility, char* record, Uint32 length)
{
    OSSHFile file;
    // Options 4 sets no bit with an effect.
    const OSSFileOpenParam open = {OSS_CURRENT_VERSION, facility->path, OSS_FILE_OPEN_ALWAYS,
                                   OSS_FILE_ACCESS_WRITE, 4, facility->permissions, 0};
    Uint32 rc = file.open(&open);
    if (rc != 0) return rc;
    const OSSFileLockParam lock = {OSS_CURRENT_VERSION, OSS_FILE_LOCK_EXCLUSIVE,
                                   OSS_FILE_LOCK_WAIT};
    rc = file.lock(&lock);
    if (rc == 0) {
        const OSSFileSeekParam toEnd = {OSS_CURRENT_VERSION, 0, OSS_FILE_SEEK_END};
        Uint64 size = 0;
        rc = file.seek(&toEnd, nullptr);
        if (rc == 0) rc = file.getSize(&size);
        if (rc == 0) {
            stampLocator(record, size, length);
            const OSSFileWriteParam write = {OSS_CURRENT_VERSION, record, length, 0};
            Uint32 written = 0;
            rc = file.write(&write, &written);
        }
        const Uint32 unlocked = file.unlock();
        if (rc == 0) rc = unlocked;
    }
    const Uint32 closed = file.close();
    return rc != 0 ? rc : closed;
}

}  // namespace ossdiag
