// Threads per core and cores per package (see htlevel.h).
#include <windows.h>

#include <cpuid.h>
#include <string.h>

#include "sysinfo/htlevel.h"
#include "sysinfo/sysinfo_rules.h"

namespace osse_sysinfo {

namespace {

struct Vendor {
    bool intel, amd;
};

Vendor cpuVendor(Uint32* maxStandard)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    Vendor v = {false, false};
    *maxStandard = 0;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return v;
    *maxStandard = a;
    char id[13];
    memcpy(id, &b, 4);
    memcpy(id + 4, &d, 4);
    memcpy(id + 8, &c, 4);
    id[12] = 0;
    v.intel = !strcmp(id, "GenuineIntel");
    v.amd = !strcmp(id, "AuthenticAMD");
    return v;
}

}  // namespace

Uint32 cpuCoresPerPackage()
{
    CpuIdFacts f = {};
    const Vendor v = cpuVendor(&f.maxStandardLeaf);
    f.intel = v.intel;
    f.amd = v.amd;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (f.intel && f.maxStandardLeaf >= 4) {
        // Leaf 4 enumerates the caches by the subleaf in ECX; its core count is the same in
        // each, but only subleaf 0 is sure to exist, and ECX must be set or the result is
        // whatever subleaf the register happened to hold.
        __cpuid_count(4, 0, a, b, c, d);
        f.leaf4Eax = a;
    }
    f.maxExtendedLeaf = __get_cpuid_max(0x80000000u, nullptr);
    if (f.amd && f.maxExtendedLeaf >= 0x80000008u) {
        __cpuid(0x80000008u, a, b, c, d);
        f.ext8Ecx = c;
    }
    return coresPerPackage(f);
}

void cpuSse4(Uint8* sse41, Uint8* sse42)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) c = 0;
    *sse41 = (c >> 19) & 1u;
    *sse42 = (c >> 20) & 1u;
}

bool htLevelFromProcessorInformation(Uint32* value, Uint32* error, Uint32* probe)
{
    using Fn = BOOL(WINAPI*)(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION, PDWORD);
    *error = 0;
    HMODULE k32 = GetModuleHandleA("KERNEL32");
    Fn fn = k32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(
                      GetProcAddress(k32, "GetLogicalProcessorInformation")))
                : nullptr;
    if (!fn) {
        *error = GetLastError();
        *probe = 10;
        return false;
    }
    DWORD length = 0;
    if (fn(nullptr, &length) || GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0) {
        *error = GetLastError();
        *probe = 20;
        return false;
    }
    // No allocation through the library allocator here: this runs at start-up too.
    HANDLE heap = GetProcessHeap();
    auto* info = static_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION>(HeapAlloc(heap, 0, length));
    if (!info) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        *probe = 30;
        return false;
    }
    bool ok = fn(info, &length) != 0;
    Uint32 most = 0;
    if (ok) {
        const DWORD n = length / sizeof *info;
        for (DWORD i = 0; i < n; ++i) {
            if (info[i].Relationship != RelationProcessorCore) continue;
            const Uint32 count = (Uint32)__builtin_popcount((unsigned)info[i].ProcessorMask);
            if (count > most) most = count;
        }
    } else {
        *error = GetLastError();
    }
    HeapFree(heap, 0, info);
    if (!ok || most < 1 || most > 254) {
        *probe = ok ? 50 : 40;
        return false;
    }
    *value = most;
    return true;
}

Uint32 htLevelByAffinity(Uint32 coresPerPackage)
{
    using GetMaskFn = BOOL(WINAPI*)(HANDLE, PDWORD_PTR, PDWORD_PTR);
    using SetThreadMaskFn = DWORD_PTR(WINAPI*)(HANDLE, DWORD_PTR);
    HMODULE k32 = GetModuleHandleA("KERNEL32");
    if (!k32) return 1;
    auto getMask = reinterpret_cast<GetMaskFn>(
        reinterpret_cast<void*>(GetProcAddress(k32, "GetProcessAffinityMask")));
    auto setThreadMask = reinterpret_cast<SetThreadMaskFn>(
        reinterpret_cast<void*>(GetProcAddress(k32, "SetThreadAffinityMask")));
    if (!getMask || !setThreadMask) return 1;

    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return 1;
    const Uint32 logicalPerPackage = (d & (1u << 28)) ? ((b >> 16) & 0xFFu) : 1u;
    if (logicalPerPackage <= 1) return 1;
    const Uint32 shift = apicPackageShift(logicalPerPackage);

    DWORD_PTR processMask = 0, systemMask = 0;
    if (!getMask(GetCurrentProcess(), &processMask, &systemMask) || !processMask) return 1;

    Uint32 packages[sizeof(DWORD_PTR) * 8];
    Uint32 seen = 0;
    HANDLE self = GetCurrentThread();
    DWORD_PTR original = 0;
    for (unsigned cpu = 0; cpu < sizeof(DWORD_PTR) * 8; ++cpu) {
        const DWORD_PTR bit = (DWORD_PTR)1 << cpu;
        if (!(processMask & bit)) continue;
        const DWORD_PTR previous = setThreadMask(self, bit);
        if (!previous) continue;  // not allowed there: leave it out
        if (!original) original = previous;
        Sleep(0);  // let the scheduler move the thread
        __get_cpuid(1, &a, &b, &c, &d);
        packages[seen++] = (b >> 24) >> shift;
    }
    if (original) setThreadMask(self, original);
    return threadsPerCoreFromPackages(packages, seen, coresPerPackage);
}

Uint32 htLevelOnce(HtLevelOnce& once, HtPreferred preferred, HtFailureNote note)
{
    if (__atomic_load_n(&once.done, __ATOMIC_ACQUIRE)) return once.value;
    OSSLatchGuard hold(once.latch);
    if (!once.done) {
        once.coresPerPackage = cpuCoresPerPackage();
        Uint32 value = 0, error = 0, probe = 0;
        if (!preferred(&value, &error, &probe)) {
            if (note) note(error, probe);
            value = htLevelByAffinity(once.coresPerPackage);
        }
        once.value = value ? value : 1;
        __atomic_store_n(&once.done, Uint8(1), __ATOMIC_RELEASE);
    }
    return once.value;
}

}  // namespace osse_sysinfo
