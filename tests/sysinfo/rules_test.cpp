// The decisions of the system-information queries on their inputs: the cases this machine
// cannot show (other OS versions and architectures, drives without a medium, odd counter
// values, duplicate counter instances).
#include <gtest/gtest.h>

#include <string>

#include "osse/osse.h"

#include "../../src/sysinfo/sysinfo_rules.h"

using namespace osse_sysinfo;

TEST(SysInfoRules, MegabytesRoundUp)
{
    const struct {
        Uint64 bytes;
        Uint32 mb;
    } cases[] = {
        {0, 0}, {1, 1}, {1u << 20, 1}, {(1u << 20) + 1, 2},
        {4096ull << 20, 4096}, {(4096ull << 20) - (512u << 10), 4096},  // 4095.5 MB free
        {(1ull << 42) - 1, 1u << 22},
    };
    for (const auto& c : cases) EXPECT_EQ(megabytes(c.bytes), c.mb) << c.bytes;
}

TEST(SysInfoRules, SwapIsSixtyFourBitAndNeverNegative)
{
    // 2 GB of paging file beyond 6 GB of memory, in 4 KB pages: 8 GB of commit.
    SwapBytes s = swapBytes(0x200000, 0x180000, 4096, 0.0);
    EXPECT_EQ(s.total, 0x80000000ull);
    EXPECT_EQ(s.free, s.total);
    // More than 4 GB of swap: the product does not wrap at 32 bits.
    s = swapBytes(0x300000, 0x100000, 4096, 25.0);
    EXPECT_EQ(s.total, 0x200000000ull);
    EXPECT_EQ(s.free, 0x180000000ull);
    // Commit limit below physical memory (no paging file): no swap, not a wrapped size.
    s = swapBytes(0x100000, 0x180000, 4096, 10.0);
    EXPECT_EQ(s.total, 0u);
    EXPECT_EQ(s.free, 0u);
    EXPECT_EQ(megabytes(swapBytes(0x100001, 0x100000, 4096, 100.0).free), 0u);
}

TEST(SysInfoRules, SwapStatusAndResult)
{
    EXPECT_EQ(swapStatus(PerformanceInfo::unavailable), ECF_NOT_SUPPORTED);
    EXPECT_EQ(swapStatus(PerformanceInfo::failed), ECF_FAILED);
    EXPECT_EQ(swapStatus(PerformanceInfo::read), 0u);
    EXPECT_EQ(swapResult(0, 0), 0u);
    EXPECT_EQ(swapResult(0, ECF_UNKNOWN), ECF_UNKNOWN);
    EXPECT_EQ(swapResult(ECF_NOT_SUPPORTED, 0), ECF_NOT_SUPPORTED);
    EXPECT_EQ(swapResult(ECF_ACCESS_DENIED, ECF_UNKNOWN), ECF_ACCESS_DENIED);
}

TEST(SysInfoRules, PagingUsageOutsideZeroToHundredCountsAsZero)
{
    EXPECT_EQ(pagingUsagePercent(true, 42.5), 42.5);
    EXPECT_EQ(pagingUsagePercent(true, 100.0), 100.0);
    EXPECT_EQ(pagingUsagePercent(true, 100.5), 0.0);
    EXPECT_EQ(pagingUsagePercent(true, -3.0), 0.0);
    EXPECT_EQ(pagingUsagePercent(false, 42.5), 0.0);  // the counter query failed
    const SwapBytes s = swapBytes(0x200000, 0x100000, 4096, pagingUsagePercent(true, 140.0));
    EXPECT_EQ(s.free, s.total);
}

TEST(SysInfoRules, ProductNameByVersionAndType)
{
    const struct {
        Uint32 major, minor;
        Uint8 type;
        Uint16 suite, arch;
        bool r2;
        const char* name;
    } cases[] = {
        {6, 2, 1, 0, 9, false, "Microsoft(R) Windows(R) 8"},
        {6, 2, 3, 0, 9, false, "Microsoft(R) Windows(R) Server 2012"},
        {6, 1, 1, 0, 0, false, "Microsoft(R) Windows(R) 7"},
        {6, 1, 2, 0, 9, false, "Microsoft(R) Windows(R) Server 2008 R2"},
        {6, 0, 1, 0, 0, false, "Microsoft(R) Windows(R) Vista"},
        {6, 0, 3, 0, 0, false, "Microsoft(R) Windows(R) Server 2008"},
        {5, 2, 3, 0, 0, true, "Microsoft(R) Windows(R) Server 2003 R2"},
        {5, 2, 3, 0x8000, 0, false, "Microsoft(R) Windows(R) Home Server"},
        {5, 2, 1, 0, 9, false, "Microsoft(R) Windows(R) XP Professional x64 Edition"},
        {5, 2, 3, 0, 0, false, "Microsoft(R) Windows(R) Server 2003"},
        {5, 1, 1, 0, 0, false, "Microsoft(R) Windows(R) XP"},
        {5, 1, 3, 0, 0, false, "Microsoft(R) Windows(R) XP"},
        {5, 0, 3, 0, 0, false, "Microsoft(R) Windows(R) 2000"},
        {6, 3, 1, 0, 9, false, "Microsoft(R) Windows(R)"},   // a version the table does not know
        {10, 0, 1, 0, 9, false, "Microsoft(R) Windows(R)"},
    };
    for (const auto& c : cases) {
        ProductFacts f = {c.major, c.minor, c.type, c.suite, c.arch, c.r2};
        EXPECT_STREQ(productName(f), c.name) << c.major << "." << c.minor << " type " << (int)c.type;
    }
}

TEST(SysInfoRules, ProcessorDescriptionAndPlatformFollowTheArchitecture)
{
    const struct {
        Uint16 arch;
        Uint32 type;
        Uint32 status;
        const char* text;
        const char* platform;
    } cases[] = {
        {0, 586, 0, "x86 Family 6, model 58, stepping 9", "X86-based PC"},
        {0, 486, ECF_NOT_SUPPORTED, "", "X86-based PC"},
        {0, 386, ECF_NOT_SUPPORTED, "", "X86-based PC"},
        {9, 8664, 0, "AMD64 Family 6, model 58, stepping 9", "X64-based PC"},
        {6, 2200, 0, "IA64 Family 6, model 58, stepping 9", "IA64-based PC"},
        {12, 0, ECF_FAILED, "", ""},  // an architecture this code does not know
    };
    for (const auto& c : cases) {
        char text[255] = "";
        const char* platform = nullptr;
        const CpuFacts facts = {c.arch, c.type, 6, (58 << 8) | 9};
        EXPECT_EQ(cpuDescription(facts, text, sizeof text, &platform), c.status) << c.arch;
        EXPECT_STREQ(text, c.text) << c.arch;
        EXPECT_STREQ(platform, c.platform) << c.arch;
    }
    EXPECT_EQ(osInfoResult(0), ECF_PARTIAL_INFO);
    EXPECT_EQ(osInfoResult(2), ECF_PARTIAL_INFO);
    EXPECT_EQ(osInfoResult(3), ECF_FAILED);
    EXPECT_STREQ(osTypeName(2), "WIN32_NT");
    EXPECT_STREQ(osTypeName(1), "WIN32_WINDOWS");
    EXPECT_STREQ(osTypeName(7), "UNKNOWN");
}

TEST(SysInfoRules, ProcessorValuesWantedByVersionAndMask)
{
    const struct {
        Uint32 version;
        Uint64 mask;
        Uint64 wanted;
    } cases[] = {
        {0x09050000u, 0, 0x17C},             // before the mask: counts, speed, threads, cores
        {0x09050000u, 0x20, 0x17C},          // ... whatever the mask holds
        {0x0A010000u, 0x20, 0x20},           // speed only
        {0x0A010000u, 0xFFFF, 0x17C},        // no feature bytes before 10.5
        {0x0A050004u, 0xFFFF, 0xE17C},
        {0x0A050004u, 0x1E83, 0},            // only bits naming values never provided
    };
    for (const auto& c : cases)
        EXPECT_EQ(cpuInfoWanted(c.version, c.mask), c.wanted) << std::hex << c.version << " " << c.mask;
}

TEST(SysInfoRules, CoresPerPackageAndThreadsPerCore)
{
    CpuIdFacts intel = {true, false, 0xB, 7u << 26, 0x80000008u, 0};
    EXPECT_EQ(coresPerPackage(intel), 8u);
    intel.maxStandardLeaf = 3;
    EXPECT_EQ(coresPerPackage(intel), 1u);
    CpuIdFacts amd = {false, true, 0xD, 0, 0x80000008u, 0x0F};
    EXPECT_EQ(coresPerPackage(amd), 16u);
    amd.maxExtendedLeaf = 0x80000007u;
    EXPECT_EQ(coresPerPackage(amd), 1u);
    const CpuIdFacts other = {false, false, 0xB, 7u << 26, 0x80000008u, 0x0F};
    EXPECT_EQ(coresPerPackage(other), 1u);

    EXPECT_EQ(apicPackageShift(1), 0u);
    EXPECT_EQ(apicPackageShift(2), 1u);
    EXPECT_EQ(apicPackageShift(3), 2u);
    EXPECT_EQ(apicPackageShift(16), 4u);
    // Two packages of 4 cores with 2 threads each, seen in affinity order.
    const Uint32 twoPackages[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(threadsPerCoreFromPackages(twoPackages, 16, 4), 2u);
    EXPECT_EQ(threadsPerCoreFromPackages(twoPackages, 16, 8), 1u);
    EXPECT_EQ(threadsPerCoreFromPackages(twoPackages, 16, 16), 1u);  // never 0
    EXPECT_EQ(threadsPerCoreFromPackages(twoPackages, 0, 4), 1u);
}

TEST(SysInfoRules, DrivesWithoutMediumAndDeviceTypes)
{
    // The call's own result decides, not a stale last error.
    EXPECT_EQ(volumeOutcome(true, 21), VolumeOutcome::use);
    EXPECT_EQ(volumeOutcome(false, 21), VolumeOutcome::skip);
    EXPECT_EQ(volumeOutcome(false, 5), VolumeOutcome::fail);
    EXPECT_EQ(volumeOutcome(false, 0), VolumeOutcome::fail);

    const struct {
        Uint32 driveType, status, value;
        const char* text;
    } cases[] = {
        {0, ECF_FAILED, 0, "Unknown"}, {1, ECF_FAILED, 0, "Unknown"},
        {2, 0, 5, "Removable"},        {3, 0, 1, "Valid"},
        {4, 0, 1, "Valid"},            {5, 0, 1, "Valid"},
        {6, 0, 1, "Valid"},            {7, ECF_FAILED, 0, "Unknown"},
    };
    for (const auto& c : cases) {
        Uint32 value = 99;
        EXPECT_EQ(deviceTypeFromDrive(c.driveType, &value), c.status) << c.driveType;
        EXPECT_EQ(value, c.value) << c.driveType;
        EXPECT_STREQ(deviceTypeText(value), c.text) << c.driveType;
    }
    EXPECT_STREQ(deviceTypeText(2), "Ready");
    EXPECT_EQ(diskInfoResult(0), ECF_PARTIAL_INFO);
    EXPECT_EQ(diskInfoResult(3), ECF_PARTIAL_INFO);  // a removable drive without a medium
    EXPECT_EQ(diskInfoResult(4), ECF_FAILED);
}

TEST(SysInfoRules, PdhStatusCodes)
{
    for (Uint32 s : {0xC0000BB8u /* no object */, 0xC0000BB9u /* no counter */, 0x800007D0u,
                     0x800007D2u /* more data */, 0xC0000BC4u})
        EXPECT_TRUE(isPdhStatus(s)) << std::hex << s;
    for (Uint32 s : {0u, 5u, 21u, 0x80070005u, 0xC0000005u, 0x10000BB8u})
        EXPECT_FALSE(isPdhStatus(s)) << std::hex << s;
    // The error mapping reads them as "not here": oserrors_test.cpp.
    EXPECT_EQ(rawValue(0, 77), 77u);
    EXPECT_EQ(rawValue(1, 77), 77u);
    EXPECT_EQ(rawValue(0xC0000BC6u, 77), 0u);
}

// Several processes of one image share an instance name; the arrays of two counters of one
// sample may differ in order and length. Each process must get its own counters.
TEST(SysInfoRules, InstancesJoinByProcessIdAndRankAmongEqualNames)
{
    const Instance ids[] = {
        {"svc", 0, 100}, {"db", 0, 200}, {"svc", 0, 300}, {"svc", 0, (Sint64)0x100000190ll},
        {"gone", 0xC0000BBAu, 500},
    };
    // The other counter lists the instances in another order, and one "svc" fewer.
    const Instance user[] = {{"db", 0, 2000}, {"svc", 0, 1000}, {"svc", 0, 3000}};
    EXPECT_EQ(findProcessInstance(ids, 5, 300), 2);
    EXPECT_EQ(findProcessInstance(ids, 5, 0x190), -1);  // high word set: not this id
    EXPECT_EQ(findProcessInstance(ids, 5, 500), -1);    // invalid data
    EXPECT_EQ(findProcessInstance(ids, 5, 999), -1);
    EXPECT_EQ(matchInstance(ids, 5, 0, user, 3), 1);   // first "svc"
    EXPECT_EQ(matchInstance(ids, 5, 2, user, 3), 2);   // second "svc", not the first
    EXPECT_EQ(matchInstance(ids, 5, 1, user, 3), 0);   // "db"
    EXPECT_EQ(matchInstance(ids, 5, 3, user, 3), -1);  // a third "svc" the other lacks
    EXPECT_EQ(matchInstance(ids, 5, 4, user, 3), -1);  // beyond the other's end
    EXPECT_EQ(matchInstance(ids, 5, 9, user, 3), -1);  // beyond the reference's end
    EXPECT_EQ(matchInstance(ids, 5, 0, user, 0), -1);  // an empty array
    // The same order: the position itself.
    EXPECT_EQ(matchInstance(ids, 5, 2, ids, 5), 2);
}
