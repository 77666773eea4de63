// Processor, memory, swap, operating-system and cache queries on this machine, cross-checked
// against the OS calls they summarise, and their text forms.
#include <windows.h>

#include <cpuid.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "osse/osse.h"
#include "sysinfo_test.h"

using sysinfotest::RecordCapture;

// Every query checks its record first: null and versions below the minimum.
TEST(SysInfo, RecordChecks)
{
    OSSMemInfo mem;
    OSSSwapInfo swap;
    OSSVirtMemInfo virt;
    OSSOSInfo os;
    OSSCPUInfo cpu;
    OSSCPUCacheTopologyParam caches = {};
    OSSCPUUsageInfo usage;
    OSSRawCPUUsageInfo raw;
    OSSAvgCPULoadInfo avg;
    OSSDiskInfo disk;
    OSSGetDiskInfoParam diskParam = {0, "C:\\", &disk};
    OSSProcessRawCPUUsageParam procParam = {0, nullptr, 0};
    struct Query {
        const char* name;
        Uint32* version;
        Uint32 (*call)(void*);
    } queries[] = {
        {"mem", &mem.version, [](void* p) { return ossGetPhysMemInfo((OSSMemInfo*)p); }},
        {"swap", &swap.version, [](void* p) { return ossGetPhysSwapInfo((OSSSwapInfo*)p); }},
        {"virt", &virt.version, [](void* p) { return ossGetVirtualMemInfo((OSSVirtMemInfo*)p); }},
        {"os", &os.version, [](void* p) { return ossGetOSInfo((OSSOSInfo*)p); }},
        {"cpu", &cpu.version, [](void* p) { return ossGetCPUInfo((OSSCPUInfo*)p); }},
        {"caches", &caches.version,
         [](void* p) { return ossGetCPUCacheTopology((OSSCPUCacheTopologyParam*)p); }},
        {"usage", &usage.version, [](void* p) { return ossGetCPUUsage((OSSCPUUsageInfo*)p); }},
        {"raw", &raw.version, [](void* p) { return ossGetRawCPUUsage((OSSRawCPUUsageInfo*)p); }},
        {"avg", &avg.version, [](void* p) { return ossGetAvgCPULoad((OSSAvgCPULoadInfo*)p); }},
        {"disk", &diskParam.version, [](void* p) { return ossGetDiskInfo((OSSGetDiskInfoParam*)p); }},
        {"process", &procParam.version,
         [](void* p) {
             return ossGetProcessRawCPUUsage((const OSSProcessRawCPUUsageParam*)p, nullptr);
         }},
    };
    for (const Query& q : queries) {
        RecordCapture capture(0);
        EXPECT_EQ(q.call(nullptr), ECF_INVALID_PARAMETER) << q.name;
        *q.version = 0x09040000u;
        EXPECT_EQ(q.call(q.version), ECF_INVALID_VERSION) << q.name;
        ASSERT_EQ(capture.records.size(), 2u) << q.name;
        EXPECT_EQ(capture.records[0].probe, 1111u) << q.name;
        EXPECT_EQ(capture.records[1].probe, 1112u) << q.name;
    }
    // The record inside the disk request is checked as well.
    OSSGetDiskInfoParam noRecord = {OSS_CURRENT_VERSION, "C:\\", nullptr};
    EXPECT_EQ(ossGetDiskInfo(&noRecord), ECF_INVALID_PARAMETER);
}

TEST(SysInfo, PhysicalMemoryMatchesTheMemoryStatus)
{
    OSSMemInfo mem;
    ASSERT_EQ(ossGetPhysMemInfo(&mem), 0u);
    MEMORYSTATUSEX ms;
    ms.dwLength = sizeof ms;
    ASSERT_TRUE(GlobalMemoryStatusEx(&ms));
    const Uint32 mb = 1u << 20;
    EXPECT_EQ(mem.total.status, 0u);
    EXPECT_EQ(mem.total.value, (Uint32)((ms.ullTotalPhys + mb - 1) / mb));
    EXPECT_EQ(mem.addressable.status, 0u);
    EXPECT_EQ(mem.addressable.value, (Uint32)((ms.ullTotalVirtual + mb - 1) / mb));
    // Free memory moves between the two reads: a loose bound.
    EXPECT_EQ(mem.free.status, 0u);
    EXPECT_NEAR((double)mem.free.value, (double)(ms.ullAvailPhys / mb), 256.0);
    EXPECT_EQ(mem.available.status, 0u);
    EXPECT_LE(mem.available.value, mem.free.value);
    EXPECT_LE(mem.free.value, mem.total.value);
}

// Swap comes from the performance information: either both values are valid (and free is
// within total), or both are marked and the code says why; never valid zeros by default.
TEST(SysInfo, SwapAndVirtualMemory)
{
    OSSSwapInfo swap;
    const Uint32 rc = ossGetPhysSwapInfo(&swap);
    PERFORMANCE_INFORMATION perf;
    typedef BOOL(WINAPI * Fn)(PPERFORMANCE_INFORMATION, DWORD);
    HMODULE psapi = LoadLibraryA("psapi.dll");
    Fn fn = psapi ? (Fn)(void*)GetProcAddress(psapi, "GetPerformanceInfo") : nullptr;
    if (fn && fn(&perf, sizeof perf)) {
        ASSERT_EQ(rc, 0u);
        ASSERT_EQ(swap.total.status, 0u);
        ASSERT_EQ(swap.free.status, 0u);
        const Uint64 pages = perf.CommitLimit > perf.PhysicalTotal
                                 ? (Uint64)(perf.CommitLimit - perf.PhysicalTotal)
                                 : 0;
        EXPECT_EQ(swap.total.value, (Uint32)((pages * perf.PageSize + 0xFFFFF) >> 20));
        EXPECT_LE(swap.free.value, swap.total.value);
    } else {
        EXPECT_NE(rc, 0u);
        EXPECT_NE(swap.total.status, 0u);
        EXPECT_NE(swap.free.status, 0u);
    }
    if (psapi) FreeLibrary(psapi);

    OSSVirtMemInfo virt;
    OSSMemInfo mem;
    ASSERT_EQ(ossGetPhysMemInfo(&mem), 0u);
    const Uint32 vrc = ossGetVirtualMemInfo(&virt);
    EXPECT_EQ(virt.reserved.status, ECF_NOT_SUPPORTED);
    EXPECT_EQ(virt.available.status, ECF_NOT_SUPPORTED);
    if (rc == 0) {
        EXPECT_EQ(vrc, 0u);
        EXPECT_EQ(virt.total.status, 0u);
        EXPECT_EQ(virt.total.value, mem.total.value + swap.total.value);
    } else {
        EXPECT_TRUE(vrc == ECF_FAILED || vrc == ECF_NOT_SUPPORTED) << std::hex << vrc;
        EXPECT_NE(virt.total.status, 0u);
    }
}

// Unavailable values print as -1, whichever slot they are in.
TEST(SysInfo, MemoryTextForms)
{
    OSSMemInfo mem;
    mem.total.value = 4096;
    mem.free.value = 1024;
    mem.available.value = 1000;
    mem.available.status = ECF_NOT_SUPPORTED;
    mem.addressable.value = 2047;
    OSSMemInfo::toStringParam mp;
    mp.version = OSS_CURRENT_VERSION;
    mem.toString(&mp);
    EXPECT_STREQ(mp.buffer,
                 "System RAM information (in megabytes) :\n  Total       = 4096\n"
                 "  Free        = 1024\n  Available   = -1\n  Addressable = 2047");

    OSSSwapInfo swap;
    swap.total.value = 2048;
    swap.free.status = ECF_FAILED;
    OSSSwapInfo::toStringParam sp;
    sp.version = OSS_CURRENT_VERSION;
    swap.toString(&sp);
    EXPECT_STREQ(sp.buffer, "Swap space information (in megabytes) :\n  Total = 2048\n  Free  = -1");

    OSSVirtMemInfo virt;
    virt.total.value = 6144;
    virt.reserved.status = ECF_NOT_SUPPORTED;
    virt.available.value = 12;
    virt.free.value = 3000;
    OSSVirtMemInfo::toStringParam vp;
    vp.version = OSS_CURRENT_VERSION;
    virt.toString(&vp);
    EXPECT_STREQ(vp.buffer,
                 "Virtual Memory Information (in megabytes) :\n  Total     = 6144\n"
                 "  Reserved  = -1\n  Available = 12\n  Free      = 3000");

    // A parameter below the minimum version leaves the buffer alone.
    OSSMemInfo::toStringParam old;
    old.version = 0x09040000u;
    strcpy(old.buffer, "untouched");
    mem.toString(&old);
    EXPECT_STREQ(old.buffer, "untouched");
}

TEST(SysInfo, OperatingSystem)
{
    OSSOSInfo os;
    ASSERT_EQ(ossGetOSInfo(&os), ECF_PARTIAL_INFO);
    EXPECT_EQ(os.osRelease.status, ECF_NOT_SUPPORTED);

    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &size));
    EXPECT_EQ(os.computerName.status, 0u);
    EXPECT_STREQ(os.computerName.value, name);

    OSVERSIONINFOEXA v = {};
    v.dwOSVersionInfoSize = sizeof v;
    ASSERT_TRUE(GetVersionExA((OSVERSIONINFOA*)&v));
    EXPECT_STREQ(os.osType.value, "WIN32_NT");
    EXPECT_EQ(std::string(os.osVersion.value),
              std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion));
    EXPECT_STREQ(os.servicePack.value, v.szCSDVersion);
    const std::string description = os.description;
    EXPECT_EQ(description.rfind("Microsoft(R) Windows(R)", 0), 0u) << description;
    EXPECT_NE(description.find("Build " + std::to_string(v.dwBuildNumber)), std::string::npos)
        << description;

    SYSTEM_INFO si;
    GetNativeSystemInfo(&si);
    if (si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL) {
        EXPECT_STREQ(os.platform, "X86-based PC");
    } else if (si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) {
        EXPECT_STREQ(os.platform, "X64-based PC");
        EXPECT_EQ(std::string(os.cpuDescription.value).rfind("AMD64 Family ", 0), 0u);
    }

    // An older record gets neither the description nor the platform.
    OSSOSInfo old;
    old.version = 0x09050000u;
    memset(old.description, 'x', sizeof old.description);
    ASSERT_EQ(ossGetOSInfo(&old), ECF_PARTIAL_INFO);
    EXPECT_EQ(old.description[0], 'x');
    EXPECT_EQ(old.platform[0], 0);
    EXPECT_STREQ(old.computerName.value, name);
}

TEST(SysInfo, ProcessorCountsFeaturesAndMask)
{
    SYSTEM_INFO si;
    GetNativeSystemInfo(&si);
    unsigned a = 0, b = 0, c = 0, d = 0;
    __get_cpuid(1, &a, &b, &c, &d);

    OSSCPUInfo cpu;
    const Uint32 rc = ossGetCPUInfo(&cpu);
    EXPECT_TRUE(rc == 0 || rc == ECF_PARTIAL_INFO) << std::hex << rc;
    for (const OSSSysInfoUint* count : {&cpu.cpuCount, &cpu.cpuCountOnline, &cpu.cpuCountConfigured}) {
        EXPECT_EQ(count->status, 0u);
        EXPECT_EQ(count->value, si.dwNumberOfProcessors);
    }
    EXPECT_EQ(cpu.threadsPerCore.status, 0u);
    EXPECT_GE(cpu.threadsPerCore.value, 1u);
    EXPECT_LE(cpu.threadsPerCore.value, si.dwNumberOfProcessors);
    EXPECT_EQ(cpu.coresPerPackage.status, 0u);
    EXPECT_GE(cpu.coresPerPackage.value, 1u);
    EXPECT_EQ(rc == 0, cpu.speedMHz.status == 0);
    EXPECT_EQ(cpu.hasSSE41, (c >> 19) & 1u);
    EXPECT_EQ(cpu.hasSSE42, (c >> 20) & 1u);
    EXPECT_EQ(cpu.hasSSE4, cpu.hasSSE41 | cpu.hasSSE42);
    EXPECT_EQ(OSS_SIMD_isHardwareVectorSupportedInternal(), cpu.hasSSE4);
    for (Uint32 s : {cpu.notProvided0.status, cpu.notProvided9.status, cpu.notProvided1.status,
                     cpu.notProvided11.status, cpu.notProvided12.status})
        EXPECT_EQ(s, ECF_NOT_SUPPORTED);

    // Speed only: the counts are not read.
    OSSCPUInfo speed;
    speed.requestMask = OSS_CPUINFO_REQ_SPEED_MHZ;
    EXPECT_EQ(ossGetCPUInfo(&speed), rc);
    for (Uint32 s : {speed.cpuCount.status, speed.cpuCountOnline.status,
                     speed.cpuCountConfigured.status, speed.threadsPerCore.status,
                     speed.coresPerPackage.status})
        EXPECT_EQ(s, ECF_NOT_SUPPORTED);
    EXPECT_EQ(speed.speedMHz.status, cpu.speedMHz.status);
    EXPECT_EQ(speed.hasSSE4, 0);

    // A record from before the mask ignores it and gets no feature bytes.
    OSSCPUInfo old;
    old.version = 0x0A000000u;
    old.requestMask = 0;
    ossGetCPUInfo(&old);
    EXPECT_EQ(old.cpuCount.status, 0u);
    EXPECT_EQ(old.coresPerPackage.status, 0u);
    EXPECT_EQ(old.hasSSE41 | old.hasSSE42 | old.hasSSE4, 0);
}

TEST(SysInfo, CacheTopology)
{
    OSSCPUCacheTopologyParam p = {OSS_CURRENT_VERSION, 0, nullptr, 0, 0};
    const Uint32 rc = ossGetCPUCacheTopology(&p);
    if (rc == ECF_NOT_SUPPORTED) GTEST_SKIP() << "no processor information here";
    if (p.count == 0) {
        EXPECT_EQ(rc, 0u);
        return;
    }
    EXPECT_EQ(rc, ECF_BUFFER_TOO_SMALL);
    std::vector<OSSCPUCacheInfo> caches(p.count);
    p.capacity = p.count;
    p.caches = caches.data();
    ASSERT_EQ(ossGetCPUCacheTopology(&p), 0u);
    EXPECT_EQ(p.count, caches.size());
    for (const OSSCPUCacheInfo& c : caches) {
        EXPECT_GE(c.level, 1u);
        EXPECT_LE(c.level, 4u);
        EXPECT_GE(c.numThreads, 1u);
    }

    OSSCPUCacheInfo c = {2, 2, 262144, 64, OSS_CPU_CACHE_UNIFIED};
    char text[160];
    c.toString(text, sizeof text);
    EXPECT_STREQ(text,
                 "Level: 2, Size: 262144 bytes, Num threads: 2, Type: Unified, Cache Line Size: "
                 "64 bytes\n");
    c.type = 9;
    c.toString(text, sizeof text);
    EXPECT_NE(std::string(text).find("Type: Unknown"), std::string::npos);
}
