// Internals shared by the system-information sources: the identifiers of the OS calls they
// report, the performance-counter helper bound at run time, and the raw counter step.
#ifndef OSSE_SYSINFO_INTERNAL_H
#define OSSE_SYSINFO_INTERNAL_H

#include <windows.h>
#include <pdh.h>
#include <pdhmsg.h>

#include "osse/ecf.h"
#include "osse/error.h"
#include "osse/sysinfo.h"
#include "sysinfo/sysinfo_rules.h"

#include "base/callframe.h"

namespace osse_sysinfo {

// Failed-call identifiers (the index of each call in the system function table).
constexpr Uint32 kCallFreeLibrary = OSS_SYS_FUNC_ID(120);
constexpr Uint32 kCallGetComputerName = OSS_SYS_FUNC_ID(121);
constexpr Uint32 kCallGetDiskFreeSpaceEx = OSS_SYS_FUNC_ID(123);
constexpr Uint32 kCallGetLogicalDriveStrings = OSS_SYS_FUNC_ID(127);
constexpr Uint32 kCallGetProcAddress = OSS_SYS_FUNC_ID(128);
constexpr Uint32 kCallGetVolumeInformation = OSS_SYS_FUNC_ID(131);
constexpr Uint32 kCallLoadLibrary = OSS_SYS_FUNC_ID(133);
constexpr Uint32 kCallRegOpenKeyEx = OSS_SYS_FUNC_ID(221);
constexpr Uint32 kCallRegQueryValueEx = OSS_SYS_FUNC_ID(222);
constexpr Uint32 kCallGetVolumeNameForVolumeMountPoint = OSS_SYS_FUNC_ID(272);
constexpr Uint32 kCallPdhCloseQuery = OSS_SYS_FUNC_ID(287);
constexpr Uint32 kCallPdhGetFormattedCounterValue = OSS_SYS_FUNC_ID(288);
constexpr Uint32 kCallGetPerformanceInfo = OSS_SYS_FUNC_ID(313);
constexpr Uint32 kCallGetDriveType = OSS_SYS_FUNC_ID(326);
constexpr Uint32 kCallGetVolumePathName = OSS_SYS_FUNC_ID(328);
constexpr Uint32 kCallGetLogicalProcessorInformation = OSS_SYS_FUNC_ID(373);
constexpr Uint32 kCallGetVersionEx = OSS_SYS_FUNC_ID(394);
constexpr Uint32 kCallPdhOpenQuery = OSS_SYS_FUNC_ID(OSS_SYSFN_PdhOpenQuery);
constexpr Uint32 kCallPdhAddCounter = OSS_SYS_FUNC_ID(OSS_SYSFN_PdhAddCounter);
constexpr Uint32 kCallPdhCollectQueryData = OSS_SYS_FUNC_ID(OSS_SYSFN_PdhCollectQueryData);
constexpr Uint32 kCallPdhGetRawCounterArray = OSS_SYS_FUNC_ID(OSS_SYSFN_PdhGetRawCounterArray);
static_assert(kCallGetLogicalDriveStrings == 0x0814007Fu && kCallGetVolumeInformation == 0x08140083u &&
                  kCallGetDiskFreeSpaceEx == 0x0814007Bu && kCallGetProcAddress == 0x08140080u,
              "failed-call identifiers");

// An OS failure that the operation reports and then carries on from (one value or group is
// marked failed): the handler maps and logs it; the operation's result is decided later. The
// error analysis is not asked: it calls the memory and disk queries itself, and a query that
// failed for a path would fail again inside the analysis of its own failure, without end.
template <class... I>
Uint32 reportFailure(OSSCallFrame& f, Uint32 failedCall, Uint32 osError, Uint32 probe, I... items)
{
    return ossSystemErrorHandler(f.id(), failedCall, osError, probe, 5, OSS_SEH_NO_ANALYSIS,
                                 &f.ctx, (Uint32)sizeof...(items), items...);
}

// ---- Performance counters -----------------------------------------------------------------
// pdh.dll is loaded at the first use and kept; where it (or one of these functions) is missing
// the counter queries report ECF_NOT_SUPPORTED and the library still loads.
struct PdhApi {
    PDH_STATUS(WINAPI* openQuery)(LPCSTR, DWORD_PTR, PDH_HQUERY*);
    PDH_STATUS(WINAPI* addCounter)(PDH_HQUERY, LPCSTR, DWORD_PTR, PDH_HCOUNTER*);
    PDH_STATUS(WINAPI* collect)(PDH_HQUERY);
    PDH_STATUS(WINAPI* formatted)(PDH_HCOUNTER, DWORD, LPDWORD, PPDH_FMT_COUNTERVALUE);
    PDH_STATUS(WINAPI* rawArray)(PDH_HCOUNTER, LPDWORD, LPDWORD, PPDH_RAW_COUNTER_ITEM_A);
    PDH_STATUS(WINAPI* closeQuery)(PDH_HQUERY);
};
const PdhApi* pdhApi();

// A failed PDH call: mapped and logged without the error analysis (the analysis itself reads
// counters), recorded in the frame and returned. PDH's own status codes map to
// ECF_NOT_SUPPORTED at information level: the counter is not there on this machine.
Uint32 pdhFailure(OSSCallFrame& f, Uint32 failedCall, Uint32 status, Uint32 probe,
                  const char* path = nullptr);

// One counter of the raw counter step: its instances after one collection.
struct RawCounter {
    DWORD count;
    PDH_RAW_COUNTER_ITEM_A* items;  // library allocator; null when count is 0
};

// The raw counter step: open a query, add every path, collect once, read each counter's raw
// instance array. On success `counters[i]` holds path i's instances and *instances the count of
// the first; the caller releases them with releaseRawCounters. On failure nothing is left held.
Uint32 collectRawCounters(const char* const* paths, Uint32 count, RawCounter* counters,
                          Uint32* instances);
void releaseRawCounters(RawCounter* counters, Uint32 count);

// The instances of a sampled counter in the form the joins of the rules take. `out` holds at
// least c.count entries.
inline void instancesOf(const RawCounter& c, Instance* out)
{
    for (DWORD i = 0; i < c.count; ++i) {
        out[i].name = c.items[i].szName;
        out[i].status = c.items[i].RawValue.CStatus;
        out[i].value = c.items[i].RawValue.FirstValue;
    }
}

// The processor count and architecture facts of the native system, through the unframed
// helper behind ossGetSystemInfo. Returns 0, or the last error when neither GetNativeSystemInfo
// nor GetSystemInfo could be found.
Uint32 nativeSystemInfo(SYSTEM_INFO* info);

// Threads per core, computed once per process (the first caller computes; concurrent callers
// wait for it).
Uint32 threadsPerCore();

}  // namespace osse_sysinfo

#endif
