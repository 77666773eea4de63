// The decisions of the system-information queries, apart from where their inputs come from, so
// that the cases one machine cannot show (old record versions, other OS versions and
// architectures, drives without a medium, odd counter values) are checked on their inputs.
// Nothing here calls the OS.
#ifndef OSSE_SYSINFO_RULES_H
#define OSSE_SYSINFO_RULES_H

#include <string.h>

#include "osse/ecf.h"
#include "osse/strutil.h"

namespace osse_sysinfo {

// Megabytes, rounded up; the 64-bit sum cannot overflow for any real size.
inline Uint32 megabytes(Uint64 bytes)
{
    return (Uint32)((bytes + 0xFFFFFull) >> 20);
}

// ---- Swap --------------------------------------------------------------------------------
// The paging-file space is what the commit limit allows beyond physical memory. On a machine
// without a paging file (or with memory hot-added since boot) the commit limit can be below the
// physical total: that is no swap, not a huge unsigned number. The products are taken in 64
// bits: page counts times the page size overflow 32 bits from 4 GB on.
struct SwapBytes {
    Uint64 total;
    Uint64 free;
};

// A usage outside 0..100 (the counter can overshoot while a paging file grows) counts as 0.
inline double pagingUsagePercent(bool queried, double percent)
{
    if (!queried || !(percent >= 0.0) || percent > 100.0) return 0.0;
    return percent;
}

inline SwapBytes swapBytes(Uint64 commitLimitPages, Uint64 physicalTotalPages, Uint64 pageSize,
                           double usagePercent)
{
    SwapBytes s = {0, 0};
    if (commitLimitPages <= physicalTotalPages) return s;
    s.total = (commitLimitPages - physicalTotalPages) * pageSize;
    const double used = (double)s.total * usagePercent / 100.0;
    Uint64 usedBytes = (Uint64)(used + 0.5);
    if (usedBytes > s.total) usedBytes = s.total;
    s.free = s.total - usedBytes;
    return s;
}

// Status of the swap values from how the performance information went: a machine where it
// cannot be called (no process-status library, or no such function in it) has no swap figures,
// which is not the same as a valid swap size of 0.
enum class PerformanceInfo { unavailable, failed, read };

inline Uint32 swapStatus(PerformanceInfo p)
{
    switch (p) {
    case PerformanceInfo::read: return 0;
    case PerformanceInfo::failed: return ECF_FAILED;
    default: return ECF_NOT_SUPPORTED;
    }
}

// The swap query's result: the performance query's own failure comes first; the code of
// unloading its library only when the query succeeded.
inline Uint32 swapResult(Uint32 queryRc, Uint32 unloadRc)
{
    return queryRc ? queryRc : unloadRc;
}

// ---- Operating system ---------------------------------------------------------------------
inline const char* osTypeName(Uint32 platformId)
{
    switch (platformId) {
    case 0: return "WIN32s";
    case 1: return "WIN32_WINDOWS";
    case 2: return "WIN32_NT";
    default: return "UNKNOWN";
    }
}

#define OSSE_PRODUCT "Microsoft(R) Windows(R)"

// The facts the product name is chosen by.
struct ProductFacts {
    Uint32 major, minor;
    Uint8 productType;         // 1 workstation
    Uint16 suiteMask;
    Uint16 architecture;       // processor architecture of the system information
    bool serverR2;             // the system metric for the second release of 5.2 servers
};

inline const char* productName(const ProductFacts& f)
{
    const bool workstation = f.productType == 1;
    if (f.major == 6 && f.minor == 2)
        return workstation ? OSSE_PRODUCT " 8" : OSSE_PRODUCT " Server 2012";
    if (f.major == 6 && f.minor == 1)
        return workstation ? OSSE_PRODUCT " 7" : OSSE_PRODUCT " Server 2008 R2";
    if (f.major == 6 && f.minor == 0)
        return workstation ? OSSE_PRODUCT " Vista" : OSSE_PRODUCT " Server 2008";
    if (f.major == 5 && f.minor == 2) {
        if (f.serverR2) return OSSE_PRODUCT " Server 2003 R2";
        if (f.suiteMask & 0x8000) return OSSE_PRODUCT " Home Server";
        if (workstation && f.architecture == 9) return OSSE_PRODUCT " XP Professional x64 Edition";
        return OSSE_PRODUCT " Server 2003";
    }
    if (f.major == 5 && f.minor == 1) return OSSE_PRODUCT " XP";
    if (f.major == 5 && f.minor == 0) return OSSE_PRODUCT " 2000";
    return OSSE_PRODUCT;
}

// The processor description and the platform text. The platform follows the architecture:
// only AMD64 is "X64-based PC"; an x86 system is "X86-based PC" whatever its processor type,
// IA64 is "IA64-based PC", and an architecture this code does not know leaves it empty.
// Returns the description's status.
struct CpuFacts {
    Uint16 architecture;       // 0 x86, 6 IA64, 9 AMD64
    Uint32 processorType;      // 386, 486, 586
    Uint16 level;
    Uint16 revision;
};

inline Uint32 cpuDescription(const CpuFacts& c, char* text, size_t textSize, const char** platform)
{
    const unsigned model = (unsigned)(c.revision >> 8), stepping = (unsigned)(c.revision & 0xFF);
    const char* family = nullptr;
    *platform = "";
    switch (c.architecture) {
    case 0:
        *platform = "X86-based PC";
        if (c.processorType != 586) return ECF_NOT_SUPPORTED;
        family = "x86";
        break;
    case 9:
        *platform = "X64-based PC";
        family = "AMD64";
        break;
    case 6:
        *platform = "IA64-based PC";
        family = "IA64";
        break;
    default: return ECF_FAILED;
    }
    ossSnprintf(text, textSize, "%s Family %d, model %d, stepping %d", family, (int)c.level,
                (int)model, (int)stepping);
    return 0;
}

// The result of the OS query from its failure count.
inline Uint32 osInfoResult(Uint32 failures)
{
    return failures >= 3 ? ECF_FAILED : ECF_PARTIAL_INFO;
}

// ---- Processor ------------------------------------------------------------------------------
// Which values of a processor record are wanted, as request-mask bits.
inline Uint64 cpuInfoWanted(Uint32 version, Uint64 requestMask)
{
    if (version >= 0x0A010000u) {
        Uint64 wanted = requestMask & 0x017Cull;  // counts, speed, threads, cores
        if (version >= 0x0A050000u) wanted |= requestMask & 0xE000ull;  // feature bytes
        return wanted;
    }
    Uint64 wanted = 0x7Cull;  // the three counts, speed and threads per core
    if (version >= 0x0131F31Bu) wanted |= 0x100ull;
    return wanted;
}

// Cores per package from the identification values: leaf 4 (with subleaf 0) on Intel,
// leaf 0x80000008 on AMD, else 1.
struct CpuIdFacts {
    bool intel, amd;
    Uint32 maxStandardLeaf;
    Uint32 leaf4Eax;
    Uint32 maxExtendedLeaf;
    Uint32 ext8Ecx;
};

inline Uint32 coresPerPackage(const CpuIdFacts& f)
{
    if (f.intel && f.maxStandardLeaf >= 4) return ((f.leaf4Eax >> 26) & 0x3Fu) + 1;
    if (f.amd && f.maxExtendedLeaf >= 0x80000008u) return (f.ext8Ecx & 0xFFu) + 1;
    return 1;
}

// The bits of an initial APIC id below the package id: enough for the logical processors per
// package, rounded up to a power of two.
inline Uint32 apicPackageShift(Uint32 logicalPerPackage)
{
    Uint32 shift = 0;
    while (shift < 8 && (1u << shift) < logicalPerPackage) ++shift;
    return shift;
}

// Threads per core from the package ids of the processors the thread ran on (in affinity
// order): the processors sharing the first one's package, divided by its cores, at least 1.
inline Uint32 threadsPerCoreFromPackages(const Uint32* packageIds, Uint32 count,
                                         Uint32 coresPerPackage)
{
    if (count == 0) return 1;
    Uint32 same = 0;
    for (Uint32 i = 0; i < count; ++i)
        if (packageIds[i] == packageIds[0]) ++same;
    if (coresPerPackage == 0) coresPerPackage = 1;
    const Uint32 t = same / coresPerPackage;
    return t ? t : 1;
}

// ---- Mounts and disks -----------------------------------------------------------------------
// What to do with a drive after the volume query. The call's own result decides: a stale last
// error from an earlier call must not skip a good drive. A drive without a medium (not ready)
// is skipped.
enum class VolumeOutcome { use, skip, fail };

inline VolumeOutcome volumeOutcome(bool succeeded, Uint32 lastError)
{
    if (succeeded) return VolumeOutcome::use;
    return lastError == 21 ? VolumeOutcome::skip : VolumeOutcome::fail;
}

// Device-type value and status from the drive type: unknown (0) and no root (1) failed;
// removable (2) is valid and removable; fixed, remote, CD-ROM and RAM disks (3 to 6) valid.
inline Uint32 deviceTypeFromDrive(Uint32 driveType, Uint32* value)
{
    *value = 0;
    switch (driveType) {
    case 2: *value = 1u | 4u; return 0;
    case 3: case 4: case 5: case 6: *value = 1u; return 0;
    default: return ECF_FAILED;
    }
}

// Text of a device-type value (at most 9 characters): the most telling bit.
inline const char* deviceTypeText(Uint32 value)
{
    if (value & 4u) return "Removable";
    if (value & 2u) return "Ready";
    if (value & 1u) return "Valid";
    return "Unknown";
}

// The result of the disk query from how many of its four groups (sizes, identifier and name,
// mount point, device type) failed: all four is a failure, anything else partial (some values
// never exist here).
inline Uint32 diskInfoResult(Uint32 failedGroups)
{
    return failedGroups >= 4 ? ECF_FAILED : ECF_PARTIAL_INFO;
}

// ---- Counters ---------------------------------------------------------------------------------
// A PDH status code (PDH_CSTATUS_* and PDH_* values: severity bits set, facility 0, codes from
// 0x7D0 to 0xBFF), as opposed to a Win32 error that PDH passes on.
inline bool isPdhStatus(Uint32 status)
{
    const Uint32 code = status & 0xFFFFu;
    return (status & 0xC0000000u) != 0 && (status & 0x3FFF0000u) == 0 && code >= 0x7D0u &&
           code <= 0xBFFu;
}

// The raw value of an instance: only valid (0) or new (1) data counts.
inline Uint64 rawValue(Uint32 counterStatus, Sint64 firstValue)
{
    return (counterStatus == 0 || counterStatus == 1) ? (Uint64)firstValue : 0;
}

// One instance of a sampled counter as the joins see it.
struct Instance {
    const char* name;
    Uint32 status;
    Sint64 value;
};

// Finds the instance of another counter of the same sample that stands for instance `index`
// of the reference counter. Instances are matched by name and, among equal names (several
// processes with one image name, several adapters of one model), by their rank among those
// names; the arrays of different counters may differ in length and order. Returns the index or
// -1.
inline int matchInstance(const Instance* ref, Uint32 refCount, Uint32 index, const Instance* other,
                         Uint32 otherCount)
{
    if (index >= refCount || !ref[index].name) return -1;
    const char* name = ref[index].name;
    Uint32 rank = 0;
    for (Uint32 i = 0; i < index; ++i)
        if (ref[i].name && !strcmp(ref[i].name, name)) ++rank;
    // The usual case first: the same position holds the same name with the same rank.
    if (index < otherCount && other[index].name && !strcmp(other[index].name, name)) {
        Uint32 r = 0;
        for (Uint32 i = 0; i < index; ++i)
            if (other[i].name && !strcmp(other[i].name, name)) ++r;
        if (r == rank) return (int)index;
    }
    for (Uint32 i = 0, r = 0; i < otherCount; ++i) {
        if (!other[i].name || strcmp(other[i].name, name)) continue;
        if (r++ == rank) return (int)i;
    }
    return -1;
}

// The instance of the process-id counter whose value is the given process id (its high word 0).
inline int findProcessInstance(const Instance* ids, Uint32 count, Uint32 pid)
{
    for (Uint32 i = 0; i < count; ++i) {
        if (ids[i].status != 0 && ids[i].status != 1) continue;
        if ((Uint64)ids[i].value == (Uint64)pid) return (int)i;
    }
    return -1;
}

// Text of a value that may be unavailable: its number, or -1.
inline int shownOrMinusOne(Uint32 value, Uint32 status)
{
    return status ? -1 : (int)value;
}

}  // namespace osse_sysinfo

#endif
