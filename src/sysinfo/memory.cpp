// Physical memory, swap space and virtual memory, and their text forms.
#include "sysinfo/sysinfo_internal.h"

#include <psapi.h>

#include "osse/library.h"
#include "osse/strutil.h"

namespace {

using namespace osse_sysinfo;

constexpr Uint32 kGetPhysMemInfo = OSS_FUNC_ID(OSS_FN_ossGetPhysMemInfo);
constexpr Uint32 kGetPhysSwapInfo = OSS_FUNC_ID(OSS_FN_ossGetPhysSwapInfo);
constexpr Uint32 kGetVirtualMemInfo = OSS_FUNC_ID(OSS_FN_ossGetVirtualMemInfo);
static_assert(kGetPhysMemInfo == 0x081A006Fu && kGetPhysSwapInfo == 0x081A0070u &&
                  kGetVirtualMemInfo == 0x081A0071u,
              "operation identifiers");

struct MemoryFigures {
    Uint64 totalPhys, availPhys, totalVirtual, availVirtual;
};

MemoryFigures memoryFigures()
{
    using Fn = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
    MemoryFigures m;
    HMODULE k32 = GetModuleHandleA("KERNEL32");
    Fn ex = k32 ? reinterpret_cast<Fn>(
                      reinterpret_cast<void*>(GetProcAddress(k32, "GlobalMemoryStatusEx")))
                : nullptr;
    MEMORYSTATUSEX s;
    s.dwLength = sizeof s;
    static_assert(sizeof(MEMORYSTATUSEX) == 64, "extended memory status");
    if (ex && ex(&s)) {
        m = {s.ullTotalPhys, s.ullAvailPhys, s.ullTotalVirtual, s.ullAvailVirtual};
    } else {
        MEMORYSTATUS old;
        old.dwLength = sizeof old;
        GlobalMemoryStatus(&old);
        m = {old.dwTotalPhys, old.dwAvailPhys, old.dwTotalVirtual, old.dwAvailVirtual};
    }
    return m;
}

void setValue(OSSSysInfoUint& v, Uint32 value)
{
    v.value = value;
    v.status = 0;
}

// The paging files' usage in percent from the performance counter. Returns 0 or the code of the
// failed counter call (logged quietly: most failures mean the counter does not exist here).
Uint32 pagingFileUsage(OSSCallFrame& f, double* percent)
{
    *percent = 0.0;
    const PdhApi* pdh = pdhApi();
    if (!pdh) return f.fail(ECF_NOT_SUPPORTED, 30, OSS_LEVEL_INFO, ossItemString("pdh.dll"));
    static const char kPath[] = "\\Paging File(_Total)\\% Usage";
    PDH_HQUERY query = nullptr;
    PDH_STATUS s = pdh->openQuery(nullptr, 0, &query);
    if (s != ERROR_SUCCESS) return pdhFailure(f, kCallPdhOpenQuery, (Uint32)s, 31);
    Uint32 rc = 0;
    PDH_HCOUNTER counter = nullptr;
    s = pdh->addCounter(query, kPath, 0, &counter);
    if (s != ERROR_SUCCESS) rc = pdhFailure(f, kCallPdhAddCounter, (Uint32)s, 32, kPath);
    if (rc == 0) {
        s = pdh->collect(query);
        if (s != ERROR_SUCCESS) rc = pdhFailure(f, kCallPdhCollectQueryData, (Uint32)s, 33);
    }
    if (rc == 0) {
        PDH_FMT_COUNTERVALUE value;
        s = pdh->formatted(counter, PDH_FMT_DOUBLE, nullptr, &value);
        if (s != ERROR_SUCCESS) {
            rc = pdhFailure(f, kCallPdhGetFormattedCounterValue, (Uint32)s, 34, kPath);
        } else {
            *percent = value.doubleValue;
        }
    }
    pdh->closeQuery(query);
    return rc;
}

// Text of a value that may be unavailable, for the "%s%d" slots: "-" and 1, or "" and the value.
struct Shown {
    const char* sign;
    int value;
};
Shown shown(const OSSSysInfoUint& v)
{
    return v.status ? Shown{"-", 1} : Shown{"", (int)v.value};
}

}  // namespace

extern "C" OSSE_API Uint32 ossGetPhysMemInfo(OSSMemInfo* info)
{
    OSSCallFrame f(kGetPhysMemInfo);
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    info->available.status = ECF_NOT_SUPPORTED;
    info->addressable.status = ECF_NOT_SUPPORTED;
    const MemoryFigures m = memoryFigures();
    setValue(info->total, megabytes(m.totalPhys));
    setValue(info->free, megabytes(m.availPhys));
    setValue(info->addressable, megabytes(m.totalVirtual));
    setValue(info->available, megabytes(m.availPhys < m.availVirtual ? m.availPhys : m.availVirtual));
    return f.ret(0);
}

extern "C" OSSE_API Uint32 ossGetPhysSwapInfo(OSSSwapInfo* info)
{
    OSSCallFrame f(kGetPhysSwapInfo);
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    auto mark = [&](PerformanceInfo p) {
        info->total.status = info->free.status = swapStatus(p);
    };
    mark(PerformanceInfo::unavailable);

    // Psapi is optional: loading it and looking the function up are quiet, and this query
    // says once why it has no answer.
    OSSHLibrary psapi;
    if (psapi.load("Psapi.dll", OSS_LIB_LOAD_QUIET) != OSS_OK)
        return f.fail(ECF_NOT_SUPPORTED, 10, OSS_LEVEL_INFO, ossItemString("Psapi.dll"));
    using Fn = BOOL(WINAPI*)(PPERFORMANCE_INFORMATION, DWORD);
    OSSLibGetFuncAddressParam lookup;
    lookup.name = "GetPerformanceInfo";
    lookup.flags = OSS_LIB_LOOKUP_QUIET;
    OSSLibGetFuncAddressInfo found = {OSS_CURRENT_VERSION, nullptr};
    psapi.getFuncAddress(&lookup, &found);
    Fn getPerformanceInfo = reinterpret_cast<Fn>(reinterpret_cast<void*>(found.function));
    Uint32 queryRc = 0;
    PERFORMANCE_INFORMATION perf;
    static_assert(sizeof perf == (OSSE_PTR32 ? 56 : 104), "performance information");
    if (!getPerformanceInfo) {
        queryRc = ECF_NOT_SUPPORTED;
        f.log(15, OSS_LEVEL_INFO, ossItemString("GetPerformanceInfo"));
    } else if (!getPerformanceInfo(&perf, sizeof perf)) {
        mark(PerformanceInfo::failed);
        queryRc = reportFailure(f, kCallGetPerformanceInfo, GetLastError(), 20);
    } else {
        double percent = 0.0;
        const Uint32 counterRc = pagingFileUsage(f, &percent);
        const SwapBytes s = swapBytes(perf.CommitLimit, perf.PhysicalTotal, perf.PageSize,
                                      pagingUsagePercent(counterRc == 0, percent));
        info->total.value = megabytes(s.total);
        info->free.value = megabytes(s.free);
        mark(PerformanceInfo::read);
    }
    // The library reports a failed unload itself.
    const Uint32 unloadRc = psapi.unload();
    return f.ret(swapResult(queryRc, unloadRc));
}

extern "C" OSSE_API Uint32 ossGetVirtualMemInfo(OSSVirtMemInfo* info)
{
    OSSCallFrame f(kGetVirtualMemInfo);
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    info->reserved.status = ECF_NOT_SUPPORTED;
    info->available.status = ECF_NOT_SUPPORTED;

    auto failed = [](Uint32 rc, const OSSSysInfoUint& total, const OSSSysInfoUint& free) {
        return rc == ECF_NOT_SUPPORTED || rc == ECF_FAILED || total.status || free.status;
    };
    auto failure = [&](Uint32 inner, Uint32 probe) {
        const Uint32 rc = inner == ECF_NOT_SUPPORTED ? ECF_NOT_SUPPORTED : ECF_FAILED;
        info->total.status = rc;
        info->free.status = rc;
        return f.fail(rc, probe, OSS_LEVEL_INFO, ossItemHex(inner));
    };
    OSSMemInfo mem;
    const Uint32 memRc = ossGetPhysMemInfo(&mem);
    if (failed(memRc, mem.total, mem.free)) return failure(memRc, 10);
    OSSSwapInfo swap;
    const Uint32 swapRc = ossGetPhysSwapInfo(&swap);
    if (failed(swapRc, swap.total, swap.free))
        return failure(swapRc ? swapRc : swap.total.status ? swap.total.status : swap.free.status, 20);
    setValue(info->total, mem.total.value + swap.total.value);
    setValue(info->free, mem.free.value + swap.free.value);
    return f.ret(swapRc);
}

void OSSMemInfo::toString(toStringParam* param) const
{
    if (!param || param->version < OSS_MIN_VERSION) return;
    const Shown avail = shown(available), addr = shown(addressable);
    ossSnprintf(param->buffer, sizeof param->buffer,
                "System RAM information (in megabytes) :\n  Total       = %d\n  Free        = %d\n"
                "  Available   = %s%d\n  Addressable = %s%d",
                shownOrMinusOne(total.value, total.status), shownOrMinusOne(free.value, free.status),
                avail.sign, avail.value, addr.sign, addr.value);
}

void OSSSwapInfo::toString(toStringParam* param) const
{
    if (!param || param->version < OSS_MIN_VERSION) return;
    ossSnprintf(param->buffer, sizeof param->buffer,
                "Swap space information (in megabytes) :\n  Total = %d\n  Free  = %d",
                shownOrMinusOne(total.value, total.status), shownOrMinusOne(free.value, free.status));
}

void OSSVirtMemInfo::toString(toStringParam* param) const
{
    if (!param || param->version < OSS_MIN_VERSION) return;
    const Shown res = shown(reserved), avail = shown(available);
    ossSnprintf(param->buffer, sizeof param->buffer,
                "Virtual Memory Information (in megabytes) :\n  Total     = %d\n  Reserved  = %s%d\n"
                "  Available = %s%d\n  Free      = %d",
                shownOrMinusOne(total.value, total.status), res.sign, res.value, avail.sign,
                avail.value, shownOrMinusOne(free.value, free.status));
}
