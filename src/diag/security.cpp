// Security and user queries: tokens, elevation, integrity level, administrator and system
// identities, the user name and session, the common application-data path.
#include <windows.h>

#include <shlobj.h>
#include <string.h>

#include "base/callframe.h"
#include "diag/security_internal.h"
#include "diag/security_rules.h"
#include "osse/ecf.h"
#include "osse/mem.h"
#include "osse/platform.h"
#include "osse/security.h"
#include "osse/strutil.h"

namespace {

constexpr Uint32 kFnGetSystemInfo = OSS_FUNC_ID(OSS_FN_ossGetSystemInfo);
constexpr Uint32 kFnGetTokenInformation = OSS_FUNC_ID(OSS_FN_ossGetTokenInformation);
constexpr Uint32 kFnLocalAdminSID = OSS_FUNC_ID(OSS_FN_ossDoesProcessHaveLocalAdminSID);
constexpr Uint32 kFnIntegrityLevel = OSS_FUNC_ID(OSS_FN_ossGetProcessIntegrityLevel);
constexpr Uint32 kFnFilteredToken = OSS_FUNC_ID(OSS_FN_ossIsProcessRunningWithFilteredToken);
constexpr Uint32 kFnTokenElevated = OSS_FUNC_ID(OSS_FN_ossIsTokenElevated);
constexpr Uint32 kFnSystemSID = OSS_FUNC_ID(OSS_FN_ossDoesTokenHaveSystemSID);
constexpr Uint32 kFnCommonAppData = OSS_FUNC_ID(OSS_FN_ossGetCommonAppDataPath);
constexpr Uint32 kFnUserName = OSS_FUNC_ID(OSS_FN_ossGetCurrentUserName);
constexpr Uint32 kFnUserDisplay = OSS_FUNC_ID(OSS_FN_ossGetCurrentUserDisplay);
static_assert(kFnGetSystemInfo == 0x081A00BB && kFnGetTokenInformation == 0x081A00C0 &&
                  kFnLocalAdminSID == 0x081A00C1 && kFnIntegrityLevel == 0x081A00BF &&
                  kFnFilteredToken == 0x081A00BE && kFnTokenElevated == 0x081A00C4 &&
                  kFnSystemSID == 0x081A00C5 && kFnCommonAppData == 0x081A00C2 &&
                  kFnUserName == 0x081A0086 && kFnUserDisplay == 0x081A0087,
              "function identifiers of the security queries");

constexpr Uint32 kCallGetProcAddress = OSS_SYS_FUNC_ID(OSS_SYSFN_GetProcAddress);
constexpr Uint32 kCallGetTokenInformation = OSS_SYS_FUNC_ID(OSS_SYSFN_GetTokenInformation);
constexpr Uint32 kCallGetUserName = OSS_SYS_FUNC_ID(OSS_SYSFN_GetUserName);
constexpr Uint32 kCallOpenProcessToken = OSS_SYS_FUNC_ID(OSS_SYSFN_OpenProcessToken);
constexpr Uint32 kCallOpenProcess = OSS_SYS_FUNC_ID(OSS_SYSFN_OpenProcess);
constexpr Uint32 kCallAllocateSid = OSS_SYS_FUNC_ID(OSS_SYSFN_AllocateAndInitializeSid);
constexpr Uint32 kCallGetSidSubAuthority = OSS_SYS_FUNC_ID(OSS_SYSFN_GetSidSubAuthority);
constexpr Uint32 kCallCloseHandle = OSS_SYS_FUNC_ID(OSS_SYSFN_CloseHandle);
static_assert(kCallGetProcAddress == 0x08140080 && kCallGetTokenInformation == 0x08140081 &&
                  kCallGetUserName == 0x08140082 && kCallOpenProcessToken == 0x08140090 &&
                  kCallOpenProcess == 0x081400D2 && kCallAllocateSid == 0x081400E0 &&
                  kCallGetSidSubAuthority == 0x08140185,
              "failed-call identifiers of the security queries");

// The value reported when the length query of GetTokenInformation succeeds against all sense.
constexpr Uint32 kUnexpectedSuccess = 0x8000FFFFu;

typedef void(WINAPI* SystemInfoFn)(SYSTEM_INFO*);

SystemInfoFn systemInfoFunction()
{
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (!kernel) return nullptr;
    SystemInfoFn fn = (SystemInfoFn)(void*)GetProcAddress(kernel, "GetNativeSystemInfo");
    if (!fn) fn = (SystemInfoFn)(void*)GetProcAddress(kernel, "GetSystemInfo");
    return fn;
}

// Owns what a query opened, so that every path releases it.
struct Owned {
    HANDLE process = nullptr;
    HANDLE token = nullptr;
    PSID sid = nullptr;
    void* buffer = nullptr;
    ~Owned()
    {
        if (buffer) _ossMemFree(&buffer, 0, 0, __FILE__, __LINE__);
        if (sid) FreeSid(sid);
        if (token) CloseHandle(token);
        if (process) CloseHandle(process);
    }
};

Uint32 openProcessToken(OSSCallFrame& f, Uint32 pid, DWORD access, Owned& o, Uint32 processProbe,
                        Uint32 tokenProbe)
{
    o.process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!o.process) {
        const DWORD e = GetLastError();
        return f.systemError(kCallOpenProcess, e, processProbe, ossItemUnsigned(pid));
    }
    if (!OpenProcessToken(o.process, access, &o.token)) {
        o.token = nullptr;
        const DWORD e = GetLastError();
        return f.systemError(kCallOpenProcessToken, e, tokenProbe, ossItemUnsigned(pid));
    }
    return 0;
}

SID_IDENTIFIER_AUTHORITY ntAuthority()
{
    SID_IDENTIFIER_AUTHORITY a = SECURITY_NT_AUTHORITY;
    return a;
}

}  // namespace

namespace osse_security {

bool nativeSystemInfo(SYSTEM_INFO* info)
{
    SystemInfoFn fn = systemInfoFunction();
    if (!fn) return false;
    fn(info);
    return true;
}

}  // namespace osse_security

extern "C" OSSE_API Uint32 ossGetSystemInfo(SYSTEM_INFO* info)
{
    OSSCallFrame f(kFnGetSystemInfo);
    SystemInfoFn fn = systemInfoFunction();
    if (!fn) {
        const DWORD e = GetLastError();
        return f.systemError(kCallGetProcAddress, e, 10);
    }
    fn(info);
    return f.ret(0);
}

extern "C" OSSE_API Uint32 ossGetTokenInformation(void* token, int infoClass, void** buffer,
                                                  Uint32* length)
{
    OSSCallFrame f(kFnGetTokenInformation);
    const TOKEN_INFORMATION_CLASS cls = (TOKEN_INFORMATION_CLASS)infoClass;
    if (buffer) *buffer = nullptr;
    DWORD needed = 0;
    if (GetTokenInformation(token, cls, nullptr, 0, &needed))
        return f.systemError(kCallGetTokenInformation, kUnexpectedSuccess, 30,
                             ossItemSigned(infoClass));
    const DWORD e = GetLastError();
    if (e != ERROR_INSUFFICIENT_BUFFER && e != ERROR_BAD_LENGTH)
        return f.systemError(kCallGetTokenInformation, e, 20, ossItemSigned(infoClass));
    if (!buffer) return f.fail(0x9000000Cu, 25, OSS_LEVEL_ERROR);
    void* data = nullptr;
    const Uint32 rc = _ossMemAlloc(&data, 0, needed ? needed : 1, OSS_MEM_ALLOC_ZERO, __FILE__,
                                   __LINE__);
    if (rc != 0) return f.ret(rc);
    DWORD got = 0;
    if (!GetTokenInformation(token, cls, data, needed, &got)) {
        const DWORD e2 = GetLastError();
        _ossMemFree(&data, 0, 0, __FILE__, __LINE__);
        return f.systemError(kCallGetTokenInformation, e2, 40, ossItemSigned(infoClass));
    }
    *buffer = data;
    if (length) *length = got;
    return f.ret(0);
}

extern "C" OSSE_API Uint32 ossDoesProcessHaveLocalAdminSID(Uint32 processId, bool* result)
{
    OSSCallFrame f(kFnLocalAdminSID);
    Owned o;
    Uint32 rc = openProcessToken(f, processId, TOKEN_QUERY, o, 10, 20);
    if (rc) return rc;
    rc = ossGetTokenInformation(o.token, TokenGroups, &o.buffer, nullptr);
    if (rc) return f.ret(rc);
    SID_IDENTIFIER_AUTHORITY nt = ntAuthority();
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &o.sid)) {
        o.sid = nullptr;
        const DWORD e = GetLastError();
        return f.systemError(kCallAllocateSid, e, 40);
    }
    const TOKEN_GROUPS* groups = (const TOKEN_GROUPS*)o.buffer;
    bool found = false;
    for (DWORD i = 0; i < groups->GroupCount && !found; ++i)
        found = EqualSid(groups->Groups[i].Sid, o.sid) != FALSE;
    if (result) *result = found;
    return f.ret(0);
}

extern "C" OSSE_API Uint32 ossGetProcessIntegrityLevel(Uint32 processId, Uint32* level)
{
    OSSCallFrame f(kFnIntegrityLevel);
    Owned o;
    // The token open has its own probe, so a report tells which of the two opens failed.
    Uint32 rc = openProcessToken(f, processId, TOKEN_QUERY | TOKEN_QUERY_SOURCE, o, 10, 15);
    if (rc) return rc;
    rc = ossGetTokenInformation(o.token, TokenIntegrityLevel, &o.buffer, nullptr);
    if (rc) return f.ret(rc);  // no label to read
    const TOKEN_MANDATORY_LABEL* label = (const TOKEN_MANDATORY_LABEL*)o.buffer;
    SetLastError(0);
    const UCHAR* count = GetSidSubAuthorityCount(label->Label.Sid);
    DWORD value = 0;
    if (count && *count > 0) {
        const DWORD* last = GetSidSubAuthority(label->Label.Sid, *count - 1u);
        if (last) value = *last;
    } else if (GetLastError() == 0) {
        SetLastError(ERROR_INVALID_SID);
    }
    const DWORD e = GetLastError();
    if (e != 0) return f.systemError(kCallGetSidSubAuthority, e, 20);
    if (level) *level = value;
    return f.ret(0);
}

extern "C" OSSE_API Uint32 ossIsProcessRunningWithFilteredToken(Uint32 processId, bool* result)
{
    OSSCallFrame f(kFnFilteredToken);
    bool answer = false;
    const Uint32 rc = osse_security::decideFilteredToken(
        g_bIsPlatformID_Vista != 0,
        [&](bool* admin) { return ossDoesProcessHaveLocalAdminSID(processId, admin); },
        [&](Uint32* level) { return ossGetProcessIntegrityLevel(processId, level); }, &answer);
    if (result) *result = answer;
    return f.ret(rc);
}

extern "C" OSSE_API Uint32 ossIsTokenElevated(void* token, bool* result)
{
    OSSCallFrame f(kFnTokenElevated);
    Owned o;
    const Uint32 rc = ossGetTokenInformation(token, TokenElevation, &o.buffer, nullptr);
    if (rc) return f.ret(rc);
    if (result) *result = ((const TOKEN_ELEVATION*)o.buffer)->TokenIsElevated != 0;
    return f.ret(0);
}

extern "C" OSSE_API Uint32 ossDoesTokenHaveSystemSID(void* token, bool* result)
{
    OSSCallFrame f(kFnSystemSID);
    if (!token) return f.ret(0);
    Owned o;
    const Uint32 rc = ossGetTokenInformation(token, TokenUser, &o.buffer, nullptr);
    if (rc) return f.ret(rc);
    SID_IDENTIFIER_AUTHORITY nt = ntAuthority();
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                  &o.sid)) {
        o.sid = nullptr;
        const DWORD e = GetLastError();
        return f.systemError(kCallAllocateSid, e, 10);
    }
    if (result) *result = EqualSid(((const TOKEN_USER*)o.buffer)->User.Sid, o.sid) != FALSE;
    return f.ret(0);
}

extern "C" OSSE_API Uint32 ossGetCommonAppDataPath(char* out, Uint32 outSize)
{
    OSSCallFrame f(kFnCommonAppData);
    char path[MAX_PATH + 1] = {};
    const HRESULT hr = SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr,
                                        SHGFP_TYPE_DEFAULT, path);
    if (FAILED(hr)) return f.fail(ECF_FAILED, 10, OSS_LEVEL_ERROR, ossItemHex(hr));
    const Uint32 length = (Uint32)strlen(path);
    if (!out || length >= outSize)
        return f.fail(ECF_BUFFER_TOO_SMALL, 20, OSS_LEVEL_ERROR, ossItemUnsigned(length),
                      ossItemUnsigned(outSize));
    memcpy(out, path, length + 1);
    return f.ret(0);
}

extern "C" OSSE_API Uint32 ossGetCurrentUserName(const OSSUserQueryParam* param, char* out)
{
    OSSCallFrame f(kFnUserName);
    if (const Uint32 rc = f.checkParam(param)) return rc;
    DWORD size = param->outSize;
    if (!GetUserNameA(out, &size)) {
        const DWORD e = GetLastError();
        return f.systemError(kCallGetUserName, e, 40, ossItemUnsigned(param->outSize));
    }
    return f.ret(0);
}

extern "C" OSSE_API Uint32 ossGetCurrentUserDisplay(const OSSUserQueryParam* param, char* out)
{
    OSSCallFrame f(kFnUserDisplay);
    if (const Uint32 rc = f.checkParam(param)) return rc;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &token)) {
        const DWORD e = GetLastError();
        return f.systemError(kCallOpenProcessToken, e, 30);
    }
    DWORD session = 0;
    DWORD got = 0;
    Uint32 rc = 0;
    if (!GetTokenInformation(token, TokenSessionId, &session, sizeof session, &got)) {
        const DWORD e = GetLastError();
        rc = f.systemError(kCallGetTokenInformation, e, 40);
    } else {
        char text[16];
        const int n = (int)ossSnprintf(text, sizeof text, "%d", (int)session);
        // A session number cut short would name another session: it is not success.
        if (!out || param->outSize == 0 || (Uint32)n >= param->outSize) {
            rc = f.fail(ECF_BUFFER_TOO_SMALL, 45, OSS_LEVEL_ERROR, ossItemUnsigned(session),
                        ossItemUnsigned(param->outSize));
        } else {
            memcpy(out, text, (size_t)n + 1);
        }
    }
    if (!CloseHandle(token)) {
        const DWORD e = GetLastError();
        if (rc == 0) return f.systemError(kCallCloseHandle, e, 50);
    }
    return f.ret(rc);
}
