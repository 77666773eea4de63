// Processor information: counts, speed, threads per core, cores per package, feature bytes,
// and the cache topology.
#include "sysinfo/sysinfo_internal.h"

#include "osse/mem.h"
#include "osse/platform.h"
#include "osse/strutil.h"
#include "diag/security_internal.h"
#include "sysinfo/htlevel.h"

namespace osse_sysinfo {

namespace {

constexpr Uint32 kGetCPUInfo = OSS_FUNC_ID(OSS_FN_ossGetCPUInfo);
constexpr Uint32 kGetCPUCacheTopology = OSS_FUNC_ID(OSS_FN_ossGetCPUCacheTopology);
static_assert(kGetCPUInfo == 0x081A006Eu && kGetCPUCacheTopology == 0x081A00F9u,
              "operation identifiers");

HtLevelOnce g_htLevel;  // static storage: zeroed, latch free

// The preferred source failed: the reason goes to the diagnostic trace, then the fallback runs.
void noteHtLevelFailure(Uint32 error, Uint32 probe)
{
    if (!gtraceFrameOn()) return;
    char text[80];
    ossSnprintf(text, sizeof text, "ossGetHTLevel failed with rc= %d and probe = %d", (int)error,
                (int)probe);
    gtraceFrameDataString(kGetCPUInfo, probe, text);
}

}  // namespace

Uint32 threadsPerCore()
{
    return htLevelOnce(g_htLevel, htLevelFromProcessorInformation, noteHtLevelFailure);
}

Uint32 nativeSystemInfo(SYSTEM_INFO* info)
{
    // The unframed form: a failure here is reported once, by the query that asked.
    if (osse_security::nativeSystemInfo(info)) return 0;
    const DWORD e = GetLastError();
    return e ? e : ERROR_PROC_NOT_FOUND;
}

}  // namespace osse_sysinfo

using namespace osse_sysinfo;

extern "C" OSSE_API void ossSysInfoOneTimeOnly(void)
{
    threadsPerCore();
}

extern "C" OSSE_API Uint32 ossGetCPUInfo(OSSCPUInfo* info)
{
    OSSCallFrame f(kGetCPUInfo);
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    const Uint32 ht = threadsPerCore();

    const Uint64 wanted = cpuInfoWanted(info->version, info->requestMask);
    OSSSysInfoUint* const counts[3] = {&info->cpuCount, &info->cpuCountOnline,
                                       &info->cpuCountConfigured};
    // Values not wanted, and those this platform never has.
    for (int i = 0; i < 3; ++i)
        if (!(wanted & (OSS_CPUINFO_REQ_CPU_COUNT << i))) counts[i]->status = ECF_NOT_SUPPORTED;
    if (!(wanted & OSS_CPUINFO_REQ_SPEED_MHZ)) info->speedMHz.status = ECF_NOT_SUPPORTED;
    if (!(wanted & OSS_CPUINFO_REQ_THREADS_PER_CORE)) info->threadsPerCore.status = ECF_NOT_SUPPORTED;
    if (!(wanted & OSS_CPUINFO_REQ_CORES_PER_PACKAGE)) info->coresPerPackage.status = ECF_NOT_SUPPORTED;
    info->notProvided0.status = ECF_NOT_SUPPORTED;
    info->notProvided9.status = ECF_NOT_SUPPORTED;
    info->notProvided1.status = ECF_NOT_SUPPORTED;
    info->notProvided11.status = ECF_NOT_SUPPORTED;
    info->notProvided12.status = ECF_NOT_SUPPORTED;

    Uint32 rc = 0;
    if (wanted & (OSS_CPUINFO_REQ_CPU_COUNT | OSS_CPUINFO_REQ_CPU_COUNT_ONLINE |
                  OSS_CPUINFO_REQ_CPU_COUNT_CONFIGURED)) {
        SYSTEM_INFO si;
        if (Uint32 e = nativeSystemInfo(&si)) {
            for (int i = 0; i < 3; ++i)
                if (wanted & (OSS_CPUINFO_REQ_CPU_COUNT << i)) counts[i]->status = ECF_FAILED;
            return f.systemError(kCallGetProcAddress, e, 10);
        }
        for (int i = 0; i < 3; ++i) {
            if (!(wanted & (OSS_CPUINFO_REQ_CPU_COUNT << i))) continue;
            counts[i]->value = si.dwNumberOfProcessors;
            counts[i]->status = 0;
        }
    }
    if (wanted & OSS_CPUINFO_REQ_THREADS_PER_CORE) {
        info->threadsPerCore.value = ht;
        info->threadsPerCore.status = 0;
    }
    if (wanted & OSS_CPUINFO_REQ_CORES_PER_PACKAGE) {
        info->coresPerPackage.value = g_htLevel.coresPerPackage;
        info->coresPerPackage.status = 0;
    }
    if (wanted & OSS_CPUINFO_REQ_SPEED_MHZ) {
        if (g_bIsPlatformID_Win32On95) {
            info->speedMHz.status = ECF_NOT_SUPPORTED;
            rc = ECF_PARTIAL_INFO;
        } else {
            HKEY key;
            LONG e = RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                   "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                                   KEY_READ, &key);
            if (e == ERROR_SUCCESS) {
                DWORD mhz = 0, type = 0, size = sizeof mhz;
                e = RegQueryValueExA(key, "~MHZ", nullptr, &type, (LPBYTE)&mhz, &size);
                RegCloseKey(key);
                if (e == ERROR_SUCCESS && type != REG_DWORD) e = ERROR_INVALID_DATA;
                if (e == ERROR_SUCCESS) {
                    info->speedMHz.value = mhz;
                    info->speedMHz.status = 0;
                }
            }
            if (e != ERROR_SUCCESS) {
                info->speedMHz.status = ECF_FAILED;
                rc = ECF_PARTIAL_INFO;
            }
        }
    }
    if (info->version >= OSS_SYSINFO_VERSION_V10_5) {
        Uint8 sse41 = 0, sse42 = 0;
        cpuSse4(&sse41, &sse42);
        if (wanted & OSS_CPUINFO_REQ_HAS_SSE41) info->hasSSE41 = sse41;
        if (wanted & OSS_CPUINFO_REQ_HAS_SSE42) info->hasSSE42 = sse42;
        if (wanted & OSS_CPUINFO_REQ_HAS_SSE4) info->hasSSE4 = sse41 | sse42;
    }
    return f.ret(rc);
}

void OSSCPUCacheInfo::toString(char* buffer, Uint32 size) const
{
    if (!buffer || !size) return;
    const char* word = type == OSS_CPU_CACHE_DATA          ? "Data"
                       : type == OSS_CPU_CACHE_UNIFIED     ? "Unified"
                       : type == OSS_CPU_CACHE_INSTRUCTION ? "Instruction"
                                                           : "Unknown";
    ossSnprintf(buffer, size,
                "Level: %I64u, Size: %I64u bytes, Num threads: %I64u, Type: %s, Cache Line Size: "
                "%I64u bytes\n",
                level, this->size, numThreads, word, lineSize);
}

extern "C" OSSE_API Uint32 ossGetCPUCacheTopology(OSSCPUCacheTopologyParam* param)
{
    OSSCallFrame f(kGetCPUCacheTopology);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    param->count = 0;
    if (param->capacity && !param->caches)
        return f.fail(ECF_INVALID_PARAMETER, 5, OSS_LEVEL_ERROR, ossItemUnsigned(param->capacity));

    using Fn = BOOL(WINAPI*)(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION, PDWORD);
    HMODULE k32 = GetModuleHandleA("KERNEL32");
    Fn fn = k32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(
                      GetProcAddress(k32, "GetLogicalProcessorInformation")))
                : nullptr;
    if (!fn) return f.fail(ECF_NOT_SUPPORTED, 10, OSS_LEVEL_INFO);
    DWORD length = 0;
    if (fn(nullptr, &length) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return f.systemError(kCallGetLogicalProcessorInformation, GetLastError(), 20);
    void* buffer = nullptr;
    if (Uint32 rc = _ossMemAlloc(&buffer, 0, length, 0, __FILE__, __LINE__))
        return f.fail(rc, 30, OSS_LEVEL_ERROR, ossItemUnsigned((Uint32)length));
    auto* info = static_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION>(buffer);
    Uint32 rc = 0;
    if (!fn(info, &length)) {
        rc = f.systemError(kCallGetLogicalProcessorInformation, GetLastError(), 40);
    } else {
        const DWORD n = length / sizeof *info;
        for (DWORD i = 0; i < n; ++i) {
            if (info[i].Relationship != RelationCache) continue;
            if (param->count < param->capacity) {
                const CACHE_DESCRIPTOR& c = info[i].Cache;
                OSSCPUCacheInfo& out = param->caches[param->count];
                out.level = c.Level;
                out.numThreads = (Uint64)__builtin_popcount((unsigned)info[i].ProcessorMask);
                out.size = c.Size;
                out.lineSize = c.LineSize;
                out.type = c.Type == CacheData          ? OSS_CPU_CACHE_DATA
                           : c.Type == CacheUnified     ? OSS_CPU_CACHE_UNIFIED
                           : c.Type == CacheInstruction ? OSS_CPU_CACHE_INSTRUCTION
                                                        : 0u;
            }
            ++param->count;
        }
        if (param->count > param->capacity)
            rc = f.fail(ECF_BUFFER_TOO_SMALL, 50, OSS_LEVEL_INFO, ossItemUnsigned(param->count));
    }
    _ossMemFree(&buffer, 0, 0, __FILE__, __LINE__);
    return f.ret(rc);
}
