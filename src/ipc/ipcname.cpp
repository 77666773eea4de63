// Kernel object names, identifier records and the security attributes of IPC objects.
//
// A second process finds an object only by its name, so the name is a pure function of the
// caller's (id, key, prefix) and two start-up facts; nothing here takes a lock. A name that
// would not fit the 260-character name field is refused rather than cut: two keys that differ
// only past the cut would otherwise name one object.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "osse/ecf.h"
#include "osse/ipc.h"
#include "osse/platform.h"

#include "base/callframe.h"
#include "ipc/ipc_internal.h"

namespace {

constexpr Uint32 kGetResID = OSS_FUNC_ID(OSS_FN_ossIPCGetResID);
constexpr Uint32 kGetQueResID = OSS_FUNC_ID(OSS_FN_ossIPCGetQueResID);
constexpr Uint32 kGetKernelIPCInfo = OSS_FUNC_ID(OSS_FN_ossGetKernelIPCInfo);
constexpr Uint32 kSecuritySource = OSS_FUNC_ID(OSS_FN_ossInitSecurityAttributes);
constexpr Uint32 kSecurityDefault = OSS_FUNC_ID(OSS_FN_ossInitSecurityAttributes2);
constexpr Uint32 kCallInitializeSecurityDescriptor =
    OSS_SYS_FUNC_ID(OSS_SYSFN_InitializeSecurityDescriptor);
constexpr Uint32 kCallSetSecurityDescriptorDacl = OSS_SYS_FUNC_ID(OSS_SYSFN_SetSecurityDescriptorDacl);

static_assert(kGetResID == 0x081A008Du && kGetQueResID == 0x081A008Eu &&
                  kGetKernelIPCInfo == 0x081A0073u && kSecuritySource == 0x081A0088u &&
                  kSecurityDefault == 0x081A00A6u,
              "operation identifiers");
static_assert(kCallInitializeSecurityDescriptor == 0x08140084u &&
                  kCallSetSecurityDescriptorDacl == 0x0814009Cu,
              "failed-call identifiers");
#if OSSE_PTR32
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "nLength of the default attributes");
#else
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24, "nLength of the default attributes");
#endif

// Set by callers during their start-up; each create reads it once.
SECURITY_ATTRIBUTES* volatile g_registeredAttributes = nullptr;

// Probes of the name maker's own refusals.
constexpr Uint32 kProbeNullParam = 1111;
constexpr Uint32 kProbeHeadTooLong = 10;
constexpr Uint32 kProbeKeyTooLong = 30;

Uint32 buildDefaultAttributes(SECURITY_DESCRIPTOR* descriptor, SECURITY_ATTRIBUTES* attrs)
{
    OSSCallFrame f(kSecurityDefault);
    attrs->nLength = sizeof(SECURITY_ATTRIBUTES);
    attrs->bInheritHandle = TRUE;
    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION))
        return f.systemError(kCallInitializeSecurityDescriptor, GetLastError(), 10,
                             ossItemHex(descriptor));
    // A present but null DACL: every user has full access.
    if (!SetSecurityDescriptorDacl(descriptor, TRUE, nullptr, FALSE))
        return f.systemError(kCallSetSecurityDescriptorDacl, GetLastError(), 20,
                             ossItemHex(descriptor));
    attrs->lpSecurityDescriptor = descriptor;
    return f.ret(0);
}

}  // namespace

Uint32 ossIPCSecurityAttributes(SECURITY_DESCRIPTOR* descriptor, SECURITY_ATTRIBUTES* attrs)
{
    OSSCallFrame f(kSecuritySource);
    if (const SECURITY_ATTRIBUTES* registered = g_registeredAttributes) {
        attrs->nLength = registered->nLength;
        attrs->lpSecurityDescriptor = registered->lpSecurityDescriptor;
        attrs->bInheritHandle = registered->bInheritHandle;
        return f.ret(0);
    }
    return f.ret(buildDefaultAttributes(descriptor, attrs));
}

OSSE_C_API void ossSetSecurityAttributesForOSS(SECURITY_ATTRIBUTES* attrs)
{
    g_registeredAttributes = attrs;
}

OSSE_C_API Uint32 ossIPCGenerateSeed(void)
{
    return ECF_NOT_SUPPORTED;
}

OSSE_C_API Uint32 ossIPCGetResID(const OSSIPCGetResIDParam* param, OSSIPCResID* resID)
{
    OSSCallFrame f(kGetResID);
    if (Uint32 rc = f.checkParam(resID)) return rc;
    if (!param) return f.fail(ECF_INVALID_PARAMETER, kProbeNullParam, OSS_LEVEL_ERROR);

    const bool local = resID->version >= OSS_IPC_VERSION_LOCAL && param->local;
    const char* prefix = resID->version >= OSS_IPC_VERSION_NAMESPACE ? param->namespacePrefix : nullptr;
    if (!param->path) {
        resID->name[0] = '\0';
        return f.ret(0);
    }

    // Built aside and copied whole, so a refused name leaves the record as it was.
    char name[OSS_IPC_NAME_MAX + 1];
    int head;
    if (g_bIsPlatformID_Vista && prefix)
        head = _snprintf(name, sizeof name, "%s\\OSSEIPC%d", prefix, (int)param->id);
    else if (!local && g_bRunningTerminalServiceRemoteAdminMode)
        head = _snprintf(name, sizeof name, "Global\\OSSEIPC%d", (int)param->id);
    else
        head = _snprintf(name, sizeof name, "OSSEIPC%d", (int)param->id);
    if (head < 0 || head > OSS_IPC_NAME_MAX)
        return f.fail(ECF_INVALID_PARAMETER, kProbeHeadTooLong, OSS_LEVEL_ERROR,
                      ossItemString(prefix));

    size_t n = (size_t)head;
    for (const char* p = param->path; *p; ++p) {
        if (*p == ':' || *p == '\\') continue;
        if (n == OSS_IPC_NAME_MAX)
            return f.fail(ECF_INVALID_PARAMETER, kProbeKeyTooLong, OSS_LEVEL_ERROR,
                          ossItemString(param->path));
        name[n++] = *p;
    }
    name[n] = '\0';
    memcpy(resID->name, name, n + 1);
    return f.ret(0);
}

OSSE_C_API Uint32 ossIPCGetQueResID(const OSSIPCGetResIDParam* param, OSSIPCQueResID* queResID)
{
    OSSCallFrame f(kGetQueResID);
    if (Uint32 rc = f.checkParam(queResID)) return rc;
    if (!param) return f.fail(ECF_INVALID_PARAMETER, kProbeNullParam, OSS_LEVEL_ERROR);

    if (Uint32 rc = ossIPCGetResID(param, &queResID->resID[0])) return f.passOn(rc, 20);
    // The other two names use the next ids; the fields added later are taken over only when
    // the queue record is recent enough to know them.
    static const Uint32 kProbes[3] = {0, 30, 40};
    for (int i = 1; i < 3; ++i) {
        OSSIPCGetResIDParam next;
        next.path = param->path;
        next.aux = param->aux;
        next.id = param->id + i;
        if (queResID->version >= OSS_IPC_VERSION_LOCAL) next.local = param->local;
        if (queResID->version >= OSS_IPC_VERSION_NAMESPACE) next.namespacePrefix = param->namespacePrefix;
        if (Uint32 rc = ossIPCGetResID(&next, &queResID->resID[i])) return f.passOn(rc, kProbes[i]);
    }
    return f.ret(0);
}

OSSE_C_API Uint32 ossGetKernelIPCInfo(OSSKernelIPCInfo* info)
{
    OSSCallFrame f(kGetKernelIPCInfo);
    if (Uint32 rc = f.checkParam(info)) return rc;
    for (OSSSysInfoSint& v : info->limits) v.status = ECF_NOT_SUPPORTED;
    for (OSSSysInfoSint64& v : info->limits64) v.status = ECF_NOT_SUPPORTED;
    for (OSSSysInfoSint& v : info->moreLimits) v.status = ECF_NOT_SUPPORTED;
    return f.ret(ECF_NOT_SUPPORTED);
}
