// Mapping of operating-system and C-runtime error numbers to ECF codes, the level a failure
// is suggested to be logged at, and the names of the error numbers: tables and rules only.
#include "diag/oserrors.h"

#include "osse/ecf.h"
#include "osse/error.h"
#include "osse/log.h"

namespace {

// Failed-call identifiers whose errors need their own rows. Compared without the function-kind
// bits, which name no call.
constexpr Uint32 callOf(Uint32 id)
{
    return id & ~0x00070000u;
}

constexpr Uint32 kCallAccess = callOf(OSS_SYS_FUNC_ID(OSS_SYSFN_access));
constexpr Uint32 kCallCreateFileMapping = callOf(OSS_SYS_FUNC_ID(OSS_SYSFN_CreateFileMapping));
constexpr Uint32 kCallCreateSemaphore = callOf(OSS_SYS_FUNC_ID(OSS_SYSFN_CreateSemaphore));
constexpr Uint32 kCallStat = callOf(OSS_SYS_FUNC_ID(OSS_SYSFN__stat));
constexpr Uint32 kCallTlsGetValue = callOf(OSS_SYS_FUNC_ID(OSS_SYSFN_TlsGetValue));

struct MapRow {
    Uint32 error;
    Uint32 code;
};

// Rows for every call; the first match wins.
const MapRow kGeneralRows[] = {
    {145, ECF_FILE_DIR_NOT_EMPTY},  // ERROR_DIR_NOT_EMPTY
    {267, ECF_FILE_NOT_A_DIRECTORY},  // ERROR_DIRECTORY
    {112, ECF_FILE_NO_SPACE},  // ERROR_DISK_FULL
    {80, ECF_FILE_EXISTS},  // ERROR_FILE_EXISTS
    {2, ECF_FILE_DOESNT_EXIST},  // ERROR_FILE_NOT_FOUND
    {206, ECF_FILE_NAME_TOO_LONG},  // ERROR_FILENAME_EXCED_RANGE
    {38, ECF_FILE_EOF},  // ERROR_HANDLE_EOF
    {122, ECF_BUFFER_TOO_SMALL},  // ERROR_INSUFFICIENT_BUFFER
    {487, ECF_INVALID_ADDRESS},  // ERROR_INVALID_ADDRESS
    {1132, ECF_INVALID_ADDRESS},
    {123, ECF_FILE_INVALID_NAME},  // ERROR_INVALID_NAME
    {6, ECF_INVALID_PARAMETER},  // ERROR_INVALID_HANDLE
    {87, ECF_INVALID_PARAMETER},
    {1004, ECF_INVALID_PARAMETER},
    {86, ECF_SEC_INVALID_PASSWORD},  // ERROR_INVALID_PASSWORD
    {33, ECF_FILE_LOCK},  // ERROR_LOCK_VIOLATION
    {126, ECF_FILE_DOESNT_EXIST},  // ERROR_MOD_NOT_FOUND
    {234, ECF_BUFFER_TOO_SMALL},  // ERROR_MORE_DATA
    {18, ECF_FILE_PROCESS_MAX},  // ERROR_NO_MORE_FILES
    {1113, ECF_NO_UNICODE_TRANSLATION},  // ERROR_NO_UNICODE_TRANSLATION
    {8, ECF_NO_MEMORY},  // ERROR_NOT_ENOUGH_MEMORY
    {14, ECF_NO_MEMORY},
    {1455, ECF_NO_MEMORY},
    {21, ECF_FILE_DEVICE_UNAVAILABLE},  // ERROR_NOT_READY
    {3, ECF_FILE_PATH_DOESNT_EXIST},  // ERROR_PATH_NOT_FOUND
    {1005, ECF_FILE_PATH_DOESNT_EXIST},
    {127, ECF_LIB_FUNC_NOT_FOUND},  // ERROR_PROC_NOT_FOUND
    {32, ECF_FILE_SHARE},  // ERROR_SHARING_VIOLATION
    {240, ECF_SESSION_CANCELED},  // ERROR_VC_DISCONNECTED
};

struct NameRow {
    Uint32 error;
    const char* name;
};

const NameRow kGeneralNames[] = {
    {5, "ERROR_ACCESS_DENIED"},
    {183, "ERROR_ALREADY_EXISTS"},
    {145, "ERROR_DIR_NOT_EMPTY"},
    {267, "ERROR_DIRECTORY"},
    {112, "ERROR_DISK_FULL"},
    {80, "ERROR_FILE_EXISTS"},
    {2, "ERROR_FILE_NOT_FOUND"},
    {206, "ERROR_FILENAME_EXCED_RANGE"},
    {38, "ERROR_HANDLE_EOF"},
    {122, "ERROR_INSUFFICIENT_BUFFER"},
    {487, "ERROR_INVALID_ADDRESS"},
    {123, "ERROR_INVALID_NAME"},
    {6, "ERROR_INVALID_FLAGS"},
    {87, "ERROR_INVALID_FLAGS"},
    {1004, "ERROR_INVALID_FLAGS"},
    {33, "ERROR_LOCK_VIOLATION"},
    {126, "ERROR_MOD_NOT_FOUND"},
    {234, "ERROR_MORE_DATA"},
    {18, "ERROR_NO_MORE_FILES"},
    {1113, "ERROR_NO_UNICODE_TRANSLATION"},
    {8, "ERROR_OUTOFMEMORY"},
    {14, "ERROR_OUTOFMEMORY"},
    {21, "ERROR_NOT_READY"},
    {3, "ERROR_PATH_NOT_FOUND"},
    {127, "ERROR_PROC_NOT_FOUND"},
    {32, "ERROR_SHARING_VIOLATION"},
    {1005, "ERROR_UNRECOGNIZED_VOLUME"},
    {240, "ERROR_VC_DISCONNECTED"},
};

Uint32 mapCode(Uint32 failedCall, Uint32 osError)
{
    const Uint32 call = callOf(failedCall);
    // access and _stat report C-runtime errno values: only their own rows apply.
    if (call == kCallAccess) {
        switch (osError) {
        case 13: return ECF_ACCESS_DENIED;      // EACCES
        case 22: return ECF_INVALID_PARAMETER;  // EINVAL
        case 3: return ECF_FILE_DOESNT_EXIST;
        default: return ECF_UNKNOWN;
        }
    }
    if (call == kCallStat)
        return (osError == 2 || osError == 22) ? ECF_FILE_DOESNT_EXIST : ECF_UNKNOWN;
    // The performance-counter helper reports its own status codes (PDH_CSTATUS_*, PDH_*:
    // severity bits set, facility 0, 0x7D0 to 0xBFF): a counter, object or instance this
    // machine does not have. They say "not available here", not an unexplained failure.
    if ((osError & 0xC0000000u) && !(osError & 0x3FFF0000u) && (osError & 0xFFFFu) >= 0x7D0u &&
        (osError & 0xFFFFu) <= 0xBFFu)
        return ECF_NOT_SUPPORTED;
    if (osError == 0)
        return call == kCallTlsGetValue ? ECF_INVALID_INVOCATION_SEQUENCE : ECF_UNKNOWN;
    if (osError == 5) return ECF_ACCESS_DENIED;
    if (osError == 183) {
        if (call == kCallCreateFileMapping) return ECF_MEM_EXISTS;
        if (call == kCallCreateSemaphore) return ECF_SEM_EXISTS;
        return ECF_FILE_EXISTS;
    }
    for (const MapRow& row : kGeneralRows)
        if (row.error == osError) return row.code;
    return ECF_UNKNOWN;
}

Uint32 suggestedLevel(Uint32 code)
{
    switch (code) {
    case ECF_UNKNOWN:
    case ECF_NO_MEMORY:
    case ECF_FILE_PROCESS_MAX:
    case ECF_FILE_DEVICE_UNAVAILABLE:
    case ECF_FILE_SHARE:
        return OSS_LEVEL_ERROR;
    default:
        return OSS_LEVEL_INFO;
    }
}

}  // namespace

namespace ossdiag {

Uint32 mapSystemError(Uint32 failedCall, Uint32 osError, Uint32* level)
{
    const Uint32 code = mapCode(failedCall, osError);
    if (level) *level = suggestedLevel(code);
    return code;
}

}  // namespace ossdiag

extern "C" OSSE_API const char* ossErrorNameMapSystem(Uint32 failedCall, Uint32 osError)
{
    const Uint32 call = callOf(failedCall);
    if (call == kCallAccess) {
        if (osError == 13) return "EACCES";
        if (osError == 22) return "EINVAL";
        return nullptr;
    }
    if (call == kCallStat) return osError == 2 ? "ENOENT" : nullptr;
    if (osError == 0) return call == kCallTlsGetValue ? "NO_ERROR" : nullptr;
    for (const NameRow& row : kGeneralNames)
        if (row.error == osError) return row.name;
    return nullptr;
}
