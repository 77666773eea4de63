// Mapping of operating-system and C-runtime error numbers to ECF codes, and their names.
#include "osse/error.h"

#include "base/callframe.h"

namespace {

// Failed-call identifiers whose errors need their own rows. Compared without the function-kind
// bits, which name no call.
constexpr Uint32 callOf(Uint32 id)
{
    return id & ~0x00070000u;
}

constexpr Uint32 kCallAccess = callOf(0x08140001u);
constexpr Uint32 kCallCreateFileMapping = callOf(0x0814006Eu);
constexpr Uint32 kCallCreateSemaphore = callOf(0x08140070u);
constexpr Uint32 kCallStat = callOf(0x0814009Du);
constexpr Uint32 kCallTlsGetValue = callOf(0x081400A0u);

struct MapRow {
    Uint32 error;
    Uint32 code;
};

// Rows for every call; the first match wins.
const MapRow kGeneralRows[] = {
    {145, 0x90000039u},   // ERROR_DIR_NOT_EMPTY -> ECF_FILE_DIR_NOT_EMPTY
    {267, 0x90000019u},   // ERROR_DIRECTORY -> ECF_FILE_NOT_A_DIRECTORY
    {112, 0x90000028u},   // ERROR_DISK_FULL -> ECF_FILE_NO_SPACE
    {80, 0x9000001Bu},    // ERROR_FILE_EXISTS -> ECF_FILE_EXISTS
    {2, 0x9000001Au},     // ERROR_FILE_NOT_FOUND -> ECF_FILE_DOESNT_EXIST
    {206, 0x9000001Fu},   // ERROR_FILENAME_EXCED_RANGE -> ECF_FILE_NAME_TOO_LONG
    {38, 0x90000021u},    // ERROR_HANDLE_EOF -> ECF_FILE_EOF
    {122, 0x90000008u},   // ERROR_INSUFFICIENT_BUFFER -> ECF_BUFFER_TOO_SMALL
    {487, 0x9000000Au},   // ERROR_INVALID_ADDRESS -> ECF_INVALID_ADDRESS
    {1132, 0x9000000Au},
    {123, 0x9000001Eu},   // ERROR_INVALID_NAME -> ECF_FILE_INVALID_NAME
    {6, 0x9000000Cu},     // ERROR_INVALID_HANDLE -> ECF_INVALID_PARAMETER
    {87, 0x9000000Cu},
    {1004, 0x9000000Cu},
    {86, 0x90000315u},    // ERROR_INVALID_PASSWORD -> ECF_SEC_INVALID_PASSWORD
    {33, 0x90000014u},    // ERROR_LOCK_VIOLATION -> ECF_FILE_LOCK
    {126, 0x9000001Au},   // ERROR_MOD_NOT_FOUND -> ECF_FILE_DOESNT_EXIST
    {234, 0x90000008u},   // ERROR_MORE_DATA -> ECF_BUFFER_TOO_SMALL
    {18, 0x9000002Du},    // ERROR_NO_MORE_FILES -> ECF_FILE_PROCESS_MAX
    {1113, 0x90000010u},  // ERROR_NO_UNICODE_TRANSLATION -> ECF_NO_UNICODE_TRANSLATION
    {8, 0x9000000Du},     // ERROR_NOT_ENOUGH_MEMORY -> ECF_NO_MEMORY
    {14, 0x9000000Du},
    {1455, 0x9000000Du},
    {21, 0x9000002Fu},    // ERROR_NOT_READY -> ECF_FILE_DEVICE_UNAVAILABLE
    {3, 0x90000037u},     // ERROR_PATH_NOT_FOUND -> ECF_FILE_PATH_DOESNT_EXIST
    {1005, 0x90000037u},
    {127, 0x90000078u},   // ERROR_PROC_NOT_FOUND -> ECF_LIB_FUNC_NOT_FOUND
    {32, 0x9000003Fu},    // ERROR_SHARING_VIOLATION -> ECF_FILE_SHARE
    {240, 0x900003FEu},   // ERROR_VC_DISCONNECTED -> ECF_SESSION_CANCELED
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
        case 13: return 0x90000001u;  // EACCES -> ECF_ACCESS_DENIED
        case 22: return 0x9000000Cu;  // EINVAL -> ECF_INVALID_PARAMETER
        case 3: return 0x9000001Au;   // -> ECF_FILE_DOESNT_EXIST
        default: return 0x90000007u;  // ECF_UNKNOWN
        }
    }
    if (call == kCallStat) return (osError == 2 || osError == 22) ? 0x9000001Au : 0x90000007u;
    if (osError == 0) return call == kCallTlsGetValue ? 0x90000003u : 0x90000007u;
    if (osError == 5) return 0x90000001u;
    if (osError == 183) {
        if (call == kCallCreateFileMapping) return 0x9000004Au;  // ECF_MEM_EXISTS
        if (call == kCallCreateSemaphore) return 0x90000052u;    // ECF_SEM_EXISTS
        return 0x9000001Bu;                                      // ECF_FILE_EXISTS
    }
    for (const MapRow& row : kGeneralRows)
        if (row.error == osError) return row.code;
    return 0x90000007u;
}

Uint32 suggestedLevel(Uint32 code)
{
    switch (code) {
    case 0x90000007u:  // ECF_UNKNOWN
    case 0x9000000Du:  // ECF_NO_MEMORY
    case 0x9000002Du:  // ECF_FILE_PROCESS_MAX
    case 0x9000002Fu:  // ECF_FILE_DEVICE_UNAVAILABLE
    case 0x9000003Fu:  // ECF_FILE_SHARE
        return OSS_LEVEL_ERROR;
    default:
        return OSS_LEVEL_INFO;
    }
}

}  // namespace

extern "C" OSSE_API Uint32 ossErrorMapSystem(Uint32 functionId, Uint32 probe, Uint32 failedCall,
                                             Uint32 osError, Uint32* level)
{
    const Uint32 code = mapCode(failedCall, osError);
    if (level) *level = suggestedLevel(code);
    const OSSCallFrameTraceHooks* t = g_ossCallFrameTrace;
    if (t) t->data3(functionId, probe, failedCall, osError, code);
    return code;
}

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
