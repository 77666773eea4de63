// Processor and per-process usage counters, sampled through the performance-counter helper.
#include "sysinfo/sysinfo_internal.h"

#include "osse/strutil.h"
#include "osse/mem.h"
#include "osse/tick.h"

namespace {

using namespace osse_sysinfo;

constexpr Uint32 kGetCPUUsage = OSS_FUNC_ID(OSS_FN_ossGetCPUUsage);
constexpr Uint32 kGetRawCPUUsage = OSS_FUNC_ID(OSS_FN_ossGetRawCPUUsage);
constexpr Uint32 kGetProcessRawCPUUsage = OSS_FUNC_ID(OSS_FN_ossGetProcessRawCPUUsage);
constexpr Uint32 kGetAvgCPULoad = OSS_FUNC_ID(OSS_FN_ossGetAvgCPULoad);
constexpr Uint32 kGetRawPagingActivityInfo = OSS_FUNC_ID(OSS_FN_ossGetRawPagingActivityInfo);
static_assert(kGetCPUUsage == 0x081A00C3u && kGetRawCPUUsage == 0x081A00E4u &&
                  kGetProcessRawCPUUsage == 0x081A00E5u && kGetAvgCPULoad == 0x081A0075u &&
                  kGetRawPagingActivityInfo == 0x081A00E6u,
              "operation identifiers");

}  // namespace

extern "C" OSSE_API Uint32 ossGetCPUUsage(OSSCPUUsageInfo* info)
{
    OSSCallFrame f(kGetCPUUsage);
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    static const char* const kPaths[5] = {
        "\\Processor(_Total)\\% Processor Time", "\\Processor(_Total)\\% User Time",
        "\\Processor(_Total)\\% Privileged Time", "\\Processor(_Total)\\% Interrupt Time",
        "\\Processor(_Total)\\% Idle Time",
    };
    OSSSysInfoDouble* const values[5] = {&info->processorTime, &info->userTime,
                                         &info->privilegedTime, &info->interruptTime,
                                         &info->idleTime};
    for (auto* v : values) v->status = ECF_FAILED;

    char computer[2049];
    computer[0] = '\\';
    computer[1] = '\\';
    DWORD size = sizeof computer - 2;
    if (!GetComputerNameA(computer + 2, &size)) {
        reportFailure(f, kCallGetComputerName, GetLastError(), 20);
        return f.ret(ECF_FAILED);
    }
    const PdhApi* pdh = pdhApi();
    if (!pdh) return f.fail(ECF_FAILED, 30, OSS_LEVEL_INFO, ossItemString("pdh.dll"));

    PDH_HQUERY query = nullptr;
    PDH_STATUS s = pdh->openQuery(nullptr, 0, &query);
    if (s != ERROR_SUCCESS) {
        pdhFailure(f, kCallPdhOpenQuery, (Uint32)s, 35);
        return f.ret(ECF_FAILED);
    }
    PDH_HCOUNTER counters[5] = {};
    Uint32 rc = 0;
    for (int i = 0; rc == 0 && i < 5; ++i) {
        char path[2200];
        ossSnprintf(path, sizeof path, "%s%s", computer, kPaths[i]);
        s = pdh->addCounter(query, path, 0, &counters[i]);
        if (s != ERROR_SUCCESS) rc = pdhFailure(f, kCallPdhAddCounter, (Uint32)s, 40, path);
    }
    if (rc == 0) {
        // Rates need two samples; an interval of 0 still takes both.
        s = pdh->collect(query);
        if (s != ERROR_SUCCESS) rc = pdhFailure(f, kCallPdhCollectQueryData, (Uint32)s, 50);
    }
    if (rc == 0) {
        ossSleep(info->interval);
        s = pdh->collect(query);
        if (s != ERROR_SUCCESS) rc = pdhFailure(f, kCallPdhCollectQueryData, (Uint32)s, 60);
    }
    // Whatever the counter helper said, this query's failure is ECF_FAILED.
    if (rc) rc = f.ret(ECF_FAILED);
    if (rc == 0) {
        int read = 0;
        for (int i = 0; i < 5; ++i) {
            PDH_FMT_COUNTERVALUE v;
            if (pdh->formatted(counters[i], PDH_FMT_DOUBLE, nullptr, &v) == ERROR_SUCCESS) {
                values[i]->value = v.doubleValue;
                values[i]->status = 0;
                ++read;
            }
        }
        if (read == 0) rc = f.fail(ECF_FAILED, 90, OSS_LEVEL_INFO);
    }
    pdh->closeQuery(query);
    return f.ret(rc);
}

extern "C" OSSE_API Uint32 ossGetRawCPUUsage(OSSRawCPUUsageInfo* info)
{
    OSSCallFrame f(kGetRawCPUUsage);
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    static const char* const kPaths[4] = {
        "\\Processor(_Total)\\% Idle Time", "\\Processor(_Total)\\% Privileged Time",
        "\\Processor(_Total)\\% Interrupt Time", "\\Processor(_Total)\\% User Time",
    };
    OSSSysInfoUint64* const values[4] = {&info->idle, &info->system, &info->ioWait, &info->user};
    RawCounter counters[4];
    Uint32 instances = 0;
    const Uint32 rc = collectRawCounters(kPaths, 4, counters, &instances);
    for (int i = 0; i < 4; ++i) {
        values[i]->status = rc ? rc : 0;
        values[i]->value = 0;
        if (rc == 0 && counters[i].count > 0) {
            const PDH_RAW_COUNTER& raw = counters[i].items[0].RawValue;
            values[i]->value = rawValue(raw.CStatus, raw.FirstValue);
        }
    }
    if (rc == 0) releaseRawCounters(counters, 4);
    return f.ret(rc);
}

extern "C" OSSE_API Uint32 ossGetProcessRawCPUUsage(const OSSProcessRawCPUUsageParam* param,
                                                    OSSProcessRawCPUUsageInfo* results)
{
    OSSCallFrame f(kGetProcessRawCPUUsage);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (param->count && (!param->pids || !results))
        return f.fail(ECF_INVALID_PARAMETER, 1111, OSS_LEVEL_ERROR);

    OSSCPUInfo cpu;
    cpu.requestMask = OSS_CPUINFO_REQ_CPU_COUNT;
    Uint32 processors = 1;
    if (ossGetCPUInfo(&cpu) == 0 && cpu.cpuCount.status == 0 && cpu.cpuCount.value)
        processors = cpu.cpuCount.value;

    // One sample of all three counters over every process, joined by process id. Instance
    // names are image names: several processes of one image share a name, so looking the
    // times up by name could read another process's counters.
    static const char* const kPaths[3] = {
        "\\Process(*)\\ID Process", "\\Process(*)\\% User Time", "\\Process(*)\\% Privileged Time"};
    RawCounter counters[3];
    Uint32 instances = 0;
    if (Uint32 rc = collectRawCounters(kPaths, 3, counters, &instances)) {
        f.log(13060, OSS_LEVEL_INFO, ossItemHex(rc));
        return f.ret(rc);
    }
    Uint32 most = 0;
    for (const RawCounter& c : counters)
        if (c.count > most) most = c.count;
    void* scratch = nullptr;
    if (most) {
        if (Uint32 rc = _ossMemAlloc(&scratch, 0, 3 * most * sizeof(Instance), 0, __FILE__, __LINE__)) {
            releaseRawCounters(counters, 3);
            return f.fail(rc, 13068, OSS_LEVEL_ERROR);
        }
    }
    Instance* ids = static_cast<Instance*>(scratch);
    Instance* user = ids + most;
    Instance* privileged = user + most;
    if (most) {
        instancesOf(counters[0], ids);
        instancesOf(counters[1], user);
        instancesOf(counters[2], privileged);
    }
    for (Uint32 r = 0; r < param->count; ++r) {
        OSSProcessRawCPUUsageInfo& out = results[r];
        const Uint32 pid = param->pids[r];
        const int at = most ? findProcessInstance(ids, counters[0].count, pid) : -1;
        if (at < 0) {
            out.pid = 0xFFFFFFFFu;
            ossSnprintf(out.name, sizeof out.name, "%s", OSS_INVALID_PID_NAME);
            out.systemTime.value = out.userTime.value = 0;
            out.systemTime.status = out.userTime.status = ECF_PARTIAL_INFO;
            continue;
        }
        out.pid = pid;
        ossSnprintf(out.name, sizeof out.name, "%s", ids[at].name ? ids[at].name : "");
        const int u = matchInstance(ids, counters[0].count, (Uint32)at, user, counters[1].count);
        const int p = matchInstance(ids, counters[0].count, (Uint32)at, privileged,
                                    counters[2].count);
        out.userTime.value = u < 0 ? 0 : rawValue(user[u].status, user[u].value) / processors;
        out.systemTime.value =
            p < 0 ? 0 : rawValue(privileged[p].status, privileged[p].value) / processors;
        out.userTime.status = u < 0 ? ECF_PARTIAL_INFO : 0;
        out.systemTime.status = p < 0 ? ECF_PARTIAL_INFO : 0;
    }
    if (scratch) _ossMemFree(&scratch, 0, 0, __FILE__, __LINE__);
    releaseRawCounters(counters, 3);
    return f.ret(0);
}

extern "C" OSSE_API Uint32 ossGetAvgCPULoad(OSSAvgCPULoadInfo* info)
{
    OSSCallFrame f(kGetAvgCPULoad);
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    info->load1.status = info->load5.status = info->load15.status = ECF_NOT_SUPPORTED;
    return f.ret(ECF_NOT_SUPPORTED);
}

extern "C" OSSE_API Uint32 ossGetRawPagingActivityInfo(Uint32, OSSRawPagingActivityInfo* info)
{
    OSSCallFrame f(kGetRawPagingActivityInfo);
    if (info) info->pageSize.status = info->pagesIn.status = info->pagesOut.status = ECF_NOT_SUPPORTED;
    return f.ret(ECF_NOT_SUPPORTED);
}

void OSSRawCPUUsageInfo::toString(toStringParam* param) const
{
    if (!param || param->version < OSS_MIN_VERSION) return;
    ossSnprintf(param->buffer, sizeof param->buffer,
                "Raw CPU Usage Counters :\n  Idle Time Units         = %I64u\n"
                "  System Time Units       = %I64u\n  IO Wait Time Units      = %I64u\n"
                "  User Program Time Units = %I64u\n",
                idle.value, system.value, ioWait.value, user.value);
}

void OSSProcessRawCPUUsageInfo::toString(toStringParam* param) const
{
    if (!param || param->version < OSS_MIN_VERSION) return;
    ossSnprintf(param->buffer, sizeof param->buffer,
                "Process Raw CPU Usage Counters :\n  Process ID            = %d\n"
                "  Process Name          = %s\n  System Time Units     = %I64u\n"
                "  User Time Units       = %I64u\n",
                (int)pid, name, systemTime.value, userTime.value);
}

void OSSRawPagingActivityInfo::toString(toStringParam* param) const
{
    if (!param || param->version < OSS_MIN_VERSION) return;
    ossSnprintf(param->buffer, sizeof param->buffer,
                "Raw CPU Paging Activity Info :\n  Page Size       = %I64u\n"
                "  Pages In        = %I64u\n  Pages Out       = %I64u\n",
                pageSize.value, pagesIn.value, pagesOut.value);
}
