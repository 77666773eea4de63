// Mapping of OS and C-runtime error numbers to ECF codes, suggested levels and names, in the
// DLL and in the native build.
#include "osse/osse.h"
#include "osse_test.h"

#ifndef _WIN32
#include "diag/oserrors.h"
#endif

namespace {

constexpr Uint32 kAccess = 0x08140001, kStat = 0x0814009D, kTlsGetValue = 0x081400A0,
                 kCreateFileMapping = 0x0814006E, kCreateSemaphore = 0x08140070,
                 kCloseHandle = 0x08140069, kReadFile = 0x08140092,
                 kPdhCollect = 0x081401BA;

#ifdef _WIN32
Uint32 mapError(Uint32 call, Uint32 error, Uint32* level)
{
    return ossErrorMapSystem(0x081A0003, 10, call, error, level);
}
#else
// The native build has no trace to record the mapping in: the mapping alone.
Uint32 mapError(Uint32 call, Uint32 error, Uint32* level)
{
    return ossdiag::mapSystemError(call, error, level);
}
#endif

}  // namespace

TEST(ErrorMap, CodesLevelsAndNames)
{
    struct Case {
        Uint32 call, error, code, level;
        const char* name;
    } cases[] = {
        // access and _stat report errno values and never reach the general rows.
        {kAccess, 13, 0x90000001, 5, "EACCES"},
        {kAccess, 22, 0x9000000C, 5, "EINVAL"},
        {kAccess, 3, 0x9000001A, 5, nullptr},
        {kAccess, 2, 0x90000007, 3, nullptr},
        {kAccess, 5, 0x90000007, 3, nullptr},
        {kAccess, 0, 0x90000007, 3, nullptr},
        {kStat, 2, 0x9000001A, 5, "ENOENT"},
        {kStat, 22, 0x9000001A, 5, nullptr},
        {kStat, 5, 0x90000007, 3, nullptr},
        {kStat, 32, 0x90000007, 3, nullptr},
        {kTlsGetValue, 0, 0x90000003, 5, "NO_ERROR"},
        {kCloseHandle, 0, 0x90000007, 3, nullptr},
        {kReadFile, 5, 0x90000001, 5, "ERROR_ACCESS_DENIED"},
        {kCreateFileMapping, 183, 0x9000004A, 5, "ERROR_ALREADY_EXISTS"},
        {kCreateSemaphore, 183, 0x90000052, 5, "ERROR_ALREADY_EXISTS"},
        {kCloseHandle, 183, 0x9000001B, 5, "ERROR_ALREADY_EXISTS"},
        {kCloseHandle, 145, 0x90000039, 5, "ERROR_DIR_NOT_EMPTY"},
        {kCloseHandle, 267, 0x90000019, 5, "ERROR_DIRECTORY"},
        {kCloseHandle, 112, 0x90000028, 5, "ERROR_DISK_FULL"},
        {kCloseHandle, 80, 0x9000001B, 5, "ERROR_FILE_EXISTS"},
        {kCloseHandle, 2, 0x9000001A, 5, "ERROR_FILE_NOT_FOUND"},
        {kCloseHandle, 206, 0x9000001F, 5, "ERROR_FILENAME_EXCED_RANGE"},
        {kCloseHandle, 38, 0x90000021, 5, "ERROR_HANDLE_EOF"},
        {kCloseHandle, 122, 0x90000008, 5, "ERROR_INSUFFICIENT_BUFFER"},
        {kCloseHandle, 487, 0x9000000A, 5, "ERROR_INVALID_ADDRESS"},
        {kCloseHandle, 1132, 0x9000000A, 5, nullptr},
        {kCloseHandle, 123, 0x9000001E, 5, "ERROR_INVALID_NAME"},
        {kCloseHandle, 6, 0x9000000C, 5, "ERROR_INVALID_FLAGS"},
        {kCloseHandle, 87, 0x9000000C, 5, "ERROR_INVALID_FLAGS"},
        {kCloseHandle, 1004, 0x9000000C, 5, "ERROR_INVALID_FLAGS"},
        {kCloseHandle, 86, 0x90000315, 5, nullptr},
        {kCloseHandle, 33, 0x90000014, 5, "ERROR_LOCK_VIOLATION"},
        {kCloseHandle, 126, 0x9000001A, 5, "ERROR_MOD_NOT_FOUND"},
        {kCloseHandle, 234, 0x90000008, 5, "ERROR_MORE_DATA"},
        {kCloseHandle, 18, 0x9000002D, 3, "ERROR_NO_MORE_FILES"},
        {kCloseHandle, 1113, 0x90000010, 5, "ERROR_NO_UNICODE_TRANSLATION"},
        {kCloseHandle, 8, 0x9000000D, 3, "ERROR_OUTOFMEMORY"},
        {kCloseHandle, 14, 0x9000000D, 3, "ERROR_OUTOFMEMORY"},
        {kCloseHandle, 1455, 0x9000000D, 3, nullptr},
        {kCloseHandle, 21, 0x9000002F, 3, "ERROR_NOT_READY"},
        {kCloseHandle, 3, 0x90000037, 5, "ERROR_PATH_NOT_FOUND"},
        {kCloseHandle, 1005, 0x90000037, 5, "ERROR_UNRECOGNIZED_VOLUME"},
        {kCloseHandle, 127, 0x90000078, 5, "ERROR_PROC_NOT_FOUND"},
        {kCloseHandle, 32, 0x9000003F, 3, "ERROR_SHARING_VIOLATION"},
        {kCloseHandle, 240, 0x900003FE, 5, "ERROR_VC_DISCONNECTED"},
        {kCloseHandle, 13, 0x90000007, 3, nullptr},
        {kCloseHandle, 99999, 0x90000007, 3, nullptr},
        // The performance-counter helper's own status codes mean "not here", at information
        // level, for any of its calls; a system error it passes on maps as usual.
        {kPdhCollect, 0xC0000BB8u, ECF_NOT_SUPPORTED, 5, nullptr},
        {kPdhCollect, 0x800007D2u, ECF_NOT_SUPPORTED, 5, nullptr},
        {kPdhCollect, 0xC0000BC4u, ECF_NOT_SUPPORTED, 5, nullptr},
        {kPdhCollect, 0xC0000C00u, 0x90000007, 3, nullptr},  // past the status codes
        {kPdhCollect, 5, ECF_ACCESS_DENIED, 5, "ERROR_ACCESS_DENIED"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "call 0x" << c.call << std::dec
                                        << " error " << c.error);
        Uint32 level = 99;
        EXPECT_EQ(mapError(c.call, c.error, &level), c.code);
        EXPECT_EQ(level, c.level);
        EXPECT_EQ(mapError(c.call, c.error, nullptr), c.code);
        const char* name = ossErrorNameMapSystem(c.call, c.error);
        if (c.name)
            EXPECT_STREQ(name, c.name);
        else
            EXPECT_EQ(name, nullptr);
    }
}
