// The operating system: type, computer name, version, service pack, processor description,
// and (newer records) the product description and the platform.
#include "sysinfo/sysinfo_internal.h"

#include "osse/strutil.h"

namespace {

using namespace osse_sysinfo;

constexpr Uint32 kGetOSInfo = OSS_FUNC_ID(OSS_FN_ossGetOSInfo);
static_assert(kGetOSInfo == 0x081A0072u, "operation identifier");

void setText(OSSSysInfoStr& v, const char* text)
{
    ossSnprintf(v.value, sizeof v.value, "%s", text);
    v.status = 0;
}

}  // namespace

extern "C" OSSE_API Uint32 ossGetOSInfo(OSSOSInfo* info)
{
    OSSCallFrame f(kGetOSInfo);
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    info->osRelease.status = ECF_NOT_SUPPORTED;
    const bool extended = info->version >= OSS_SYSINFO_VERSION_V10_5;
    Uint32 failures = 0;

    DWORD size = sizeof info->computerName.value;
    if (GetComputerNameA(info->computerName.value, &size)) {
        info->computerName.status = 0;
    } else {
        info->computerName.value[0] = 0;
        info->computerName.status = ECF_FAILED;
        ++failures;
        reportFailure(f, kCallGetComputerName, GetLastError(), 10);
    }

    SYSTEM_INFO si = {};
    OSVERSIONINFOEXA v = {};
    static_assert(sizeof v == 156, "extended version information");
    v.dwOSVersionInfoSize = sizeof v;
    const Uint32 siError = nativeSystemInfo(&si);
    const bool haveVersion = siError == 0 && GetVersionExA((OSVERSIONINFOA*)&v);
    if (!haveVersion) {
        ++failures;
        info->osType.status = ECF_FAILED;
        info->osVersion.status = ECF_FAILED;
        info->servicePack.status = ECF_FAILED;
        if (siError) reportFailure(f, kCallGetProcAddress, siError, 20);
        else reportFailure(f, kCallGetVersionEx, GetLastError(), 30);
    } else {
        setText(info->osType, osTypeName(v.dwPlatformId));
        ossSnprintf(info->osVersion.value, sizeof info->osVersion.value, "%d.%d",
                    (int)v.dwMajorVersion, (int)v.dwMinorVersion);
        info->osVersion.status = 0;
        setText(info->servicePack, v.szCSDVersion);
        if (extended) {
            ProductFacts p;
            p.major = v.dwMajorVersion;
            p.minor = v.dwMinorVersion;
            p.productType = v.wProductType;
            p.suiteMask = v.wSuiteMask;
            p.architecture = si.wProcessorArchitecture;
            p.serverR2 = v.dwMajorVersion == 5 && v.dwMinorVersion == 2 &&
                         GetSystemMetrics(SM_SERVERR2) != 0;
            ossSnprintf(info->description, sizeof info->description, "%s, %u.%u.%u %s %s %u",
                        productName(p), (unsigned)v.dwMajorVersion, (unsigned)v.dwMinorVersion,
                        (unsigned)v.dwBuildNumber, v.szCSDVersion, "Build",
                        (unsigned)v.dwBuildNumber);
        }
    }

    if (siError == 0) {
        const CpuFacts c = {si.wProcessorArchitecture, si.dwProcessorType, si.wProcessorLevel,
                            si.wProcessorRevision};
        const char* platform = "";
        const Uint32 status = cpuDescription(c, info->cpuDescription.value,
                                             sizeof info->cpuDescription.value, &platform);
        info->cpuDescription.status = status;
        if (status == ECF_FAILED) {
            ++failures;
            f.log(40, OSS_LEVEL_INFO, ossItemUnsigned(c.architecture));
        }
        if (extended) ossSnprintf(info->platform, sizeof info->platform, "%s", platform);
    } else {
        info->cpuDescription.status = ECF_FAILED;
        ++failures;
    }
    return f.ret(osInfoResult(failures));
}
