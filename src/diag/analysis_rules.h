// Which facts the error analysis gathers for a failure, and the summary it opens its record
// with. Plain C++, no system header.
//
// The rules are written for C-runtime error numbers (errno). A Win32 error number means
// something else under the same value (12 is ENOMEM but ERROR_INVALID_ACCESS), so the
// error-number rules apply only when the failed call is a C-runtime call.
#ifndef OSSE_DIAG_ANALYSIS_RULES_H
#define OSSE_DIAG_ANALYSIS_RULES_H

#include <stdio.h>
#include <string.h>

#include "osse/base.h"

namespace osse_analysis {

enum : Uint32 {
    kUserInfo = 1,
    kUlimit = 2,
    kMemoryInfo = 4,
    kTargetFile = 8,
    kIoAttempt = 16,
    kPathAccess = 32,
    kFileSystem = 64,
};

// Function fields of the C-runtime calls the rules name (operating-system component).
enum : Uint32 {
    kCall_access = 1, kCall_chdir = 2, kCall_chmod = 3, kCall_fork = 16, kCall_fstat = 17,
    kCall_ftruncate = 19, kCall_link = 27, kCall_lstat = 31, kCall_mkdir = 33, kCall_mmap = 34,
    kCall_open = 43, kCall_pread = 53, kCall_read = 75, kCall_readdir_r = 76, kCall_rename = 78,
    kCall_rmdir = 79, kCall_stat = 95, kCall_statvfs = 96, kCall_unlink = 99, kCall_write = 103,
    kCall__stat = 157, kCall_writev = 212, kCall_readv = 213, kCall_statfs = 273,
    kCall_fstat64 = 299, kCall_realpath = 355, kCall_preadv = 364, kCall_pwrite = 366,
};

constexpr Uint32 kOsComponentMask = 0xFFFF0000u;
constexpr Uint32 kOsComponent = 0x08140000u;

// A failed call named in the operating-system component by a lower-case or underscore name
// (open, malloc, _stat) is a C-runtime call; Win32 calls have capitalised names.
inline bool isCRuntimeName(Uint32 failedCall, const char* name)
{
    if ((failedCall & kOsComponentMask) != kOsComponent || !name || !*name) return false;
    if (strcmp(name, "unspecified_system_function") == 0) return false;
    return (*name >= 'a' && *name <= 'z') || *name == '_';
}

inline Uint32 selectMemory(Uint32 error, bool cRuntime)
{
    if (!cRuntime) return 0;
    switch (error) {
    case 12: return kUlimit | kMemoryInfo;
    case 23: case 24: case 27: case 28: return kUlimit;
    default: return 0;
    }
}

inline Uint32 selectIO(Uint32 failedCall, Uint32 error, bool cRuntime)
{
    if (!cRuntime) return 0;
    Uint32 set = 0;
    switch (failedCall & 0xFFFFu) {
    case kCall_open: case kCall_access: case kCall_chdir: case kCall_chmod: case kCall_realpath:
    case kCall_mkdir: case kCall_rename: case kCall_rmdir: case kCall_unlink: case kCall_stat:
    case kCall_statvfs: case kCall__stat: case kCall_statfs: case kCall_fstat64: case kCall_link:
    case kCall_lstat: case kCall_fstat: case kCall_readdir_r:
        if (error == 13 || error == 1) set |= kUserInfo | kPathAccess;
        if (error == 20) set |= kUserInfo | kTargetFile | kPathAccess;
        break;
    case kCall_read: case kCall_write: case kCall_writev: case kCall_readv: case kCall_preadv:
    case kCall_pread: case kCall_pwrite:
        set |= kUserInfo | kTargetFile | kIoAttempt;
        break;
    case kCall_mmap:
        if (error == 13) set |= kTargetFile;
        break;
    case kCall_ftruncate:
        if (error == 22) set |= kUserInfo | kTargetFile;
        if (error == 13 || error == 1) set |= kUserInfo | kPathAccess;
        break;
    case kCall_fork:
        if (error == 11) set |= kUserInfo | kUlimit;
        break;
    default:
        break;
    }
    switch (error) {
    case 12: set |= kUserInfo | kUlimit | kMemoryInfo; break;
    case 23: case 24: set |= kUserInfo | kUlimit | kTargetFile; break;
    case 27: case 28: set |= kUserInfo | kUlimit | kTargetFile | kFileSystem; break;
    default: break;
    }
    return set;
}

// Memory information reports physical memory, swap and virtual memory separately.
inline Uint32 analysisCount(Uint32 set)
{
    Uint32 n = 0;
    for (Uint32 bit = 1; bit <= kFileSystem; bit <<= 1)
        if (set & bit) ++n;
    if (set & kMemoryInfo) n += 3;
    return n;
}

constexpr size_t kSummaryMax = 390;

// The summary into out[kSummaryMax + 1]; returns its length.
inline size_t summaryText(Uint32 set, char* out)
{
    static const char* const lines[] = {" - User info\n",         " - ulimit info\n",
                                        " - Memory info\n",       " - Target file info\n",
                                        " - I/O attempt\n",       " - Path access permission\n",
                                        " - File system\n"};
    int n = snprintf(out, kSummaryMax + 1, "A total of %u analysis will be performed :\n",
                     (unsigned)analysisCount(set));
    size_t length = n > 0 ? (size_t)n : 0;
    for (Uint32 i = 0; i < 7; ++i) {
        if (!(set & (1u << i))) continue;
        const size_t add = strlen(lines[i]);
        if (length + add > kSummaryMax) break;
        memcpy(out + length, lines[i], add);
        length += add;
    }
    out[length] = 0;
    return length;
}

// True when an allocation of `size` bytes exceeds what is available (megabytes, as the memory
// queries report it); the comparison is in bytes, in 64 bits.
inline bool allocationExceeds(Uint32 size, Uint64 availableMegabytes, Uint64* availableBytes)
{
    *availableBytes = availableMegabytes * 1024ull * 1024ull;
    return (Uint64)size > *availableBytes;
}

}  // namespace osse_analysis

#endif
