// Mounted drives, disk information, network interfaces and usage counters on this machine.
#include <windows.h>

#include <cmath>
#include <set>
#include <string>

#include "osse/osse.h"
#include "osse_test.h"
#include "sysinfo_test.h"

using sysinfotest::RecordCapture;

namespace {

const OSSMountListingGetParam kGet = {OSS_CURRENT_VERSION, 0};

Uint64 mbOf(Uint64 bytes)
{
    return (bytes + 0xFFFFF) >> 20;
}

}  // namespace

// The drives with a readable volume, as the OS reports them now.
static std::set<char> readableDrives()
{
    std::set<char> drives;
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(mask & (1u << i))) continue;
        const std::string root = std::string(1, (char)('A' + i)) + ":\\";
        // Only drives whose volume can be read are listed (no medium: skipped).
        if (GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0))
            drives.insert((char)('A' + i));
    }
    return drives;
}

// The listing gives the logical drives that have a medium, with the sizes the OS reports, then
// ECF_FILE_EOF on every further call until end. Drive letters belong to the whole Wine prefix,
// and the directory tests map one for a moment: a listing that meets a drive coming or going
// is taken again (a real fault fails every attempt).
TEST(MountListing, ListsTheLogicalDrives)
{
    for (int attempt = 1;; ++attempt) {
        SCOPED_TRACE(attempt);
        const std::set<char> expected = readableDrives();
        OSSMountListing listing;
        ASSERT_EQ(listing.begin(), 0u);
        std::set<char> seen;
        OSSMountInfo info;
        Uint32 rc;
        bool sizesMatch = true;
        while ((rc = listing.getNext(&kGet, &info)) == 0) {
            ASSERT_EQ(strlen(info.mountPoint), 3u) << info.mountPoint;
            seen.insert(info.mountPoint[0]);
            EXPECT_EQ(info.status, 0u);
            EXPECT_NE(info.fsName[0], 0) << info.mountPoint;
            ULARGE_INTEGER freeToCaller, total, totalFree;
            sizesMatch = sizesMatch &&
                         GetDiskFreeSpaceExA(info.mountPoint, &freeToCaller, &total, &totalFree) &&
                         info.totalMB == mbOf(total.QuadPart) &&
                         std::abs((double)info.freeMB - (double)mbOf(freeToCaller.QuadPart)) <= 64.0;
        }
        const bool stable = readableDrives() == expected;
        const bool right = rc == ECF_FILE_EOF && seen == expected && sizesMatch;
        if ((!stable || !right) && attempt < 5) {
            listing.end();
            continue;
        }
        EXPECT_EQ(rc, ECF_FILE_EOF);
        EXPECT_EQ(seen, expected);
        EXPECT_TRUE(sizesMatch) << "a drive's sizes differ from what the OS reports";
        EXPECT_EQ(listing.getNext(&kGet, &info), ECF_FILE_EOF);
        EXPECT_EQ(listing.getNext(&kGet, &info), ECF_FILE_EOF);
        EXPECT_EQ(listing.end(), 0u);
        break;
    }
}

TEST(MountListing, InvocationSequence)
{
    OSSMountListing listing;
    OSSMountInfo info;
    RecordCapture capture(0x081A007Bu);
    EXPECT_EQ(listing.getNext(&kGet, &info), ECF_INVALID_INVOCATION_SEQUENCE);
    ASSERT_EQ(capture.records.size(), 1u);
    EXPECT_EQ(capture.records[0].probe, 20u);
    EXPECT_EQ(listing.end(), ECF_INVALID_INVOCATION_SEQUENCE);

    ASSERT_EQ(listing.begin(), 0u);
    const char* cursor = listing.cursor;
    // A second begin fails and leaves the first listing as it was.
    EXPECT_EQ(listing.begin(), ECF_INVALID_INVOCATION_SEQUENCE);
    EXPECT_EQ(listing.cursor, cursor);
    const OSSMountListingGetParam nonZero = {OSS_CURRENT_VERSION, 1};
    EXPECT_EQ(listing.getNext(&nonZero, &info), ECF_INVALID_INVOCATION_SEQUENCE);
    ASSERT_EQ(listing.getNext(&kGet, &info), 0u);
    EXPECT_EQ(listing.end(), 0u);
    EXPECT_EQ(listing.getNext(&kGet, &info), ECF_INVALID_INVOCATION_SEQUENCE);
    // Begun again after end, it starts from the first drive.
    OSSMountInfo again;
    ASSERT_EQ(listing.begin(), 0u);
    ASSERT_EQ(listing.getNext(&kGet, &again), 0u);
    EXPECT_STREQ(again.mountPoint, info.mountPoint);
    EXPECT_EQ(listing.end(), 0u);
}

TEST(DiskInfo, ExistingPathMatchesTheVolume)
{
    ossetest::TempDir dir;
    OSSDiskInfo disk;
    OSSGetDiskInfoParam p = {OSS_CURRENT_VERSION, dir.path().c_str(), &disk};
    ASSERT_EQ(ossGetDiskInfo(&p), ECF_PARTIAL_INFO);

    char root[MAX_PATH];
    ASSERT_TRUE(GetVolumePathNameA(dir.path().c_str(), root, sizeof root));
    EXPECT_EQ(disk.mountPoint.status, 0u);
    EXPECT_STREQ(disk.mountPoint.value, root);
    DWORD serial = 0;
    char fs[100];
    ASSERT_TRUE(GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, fs, sizeof fs));
    EXPECT_EQ(disk.fsid.status, 0u);
    EXPECT_EQ(disk.fsid.value, serial);
    EXPECT_STREQ(disk.fsName.value, fs);
    ULARGE_INTEGER freeToCaller, total, totalFree;
    ASSERT_TRUE(GetDiskFreeSpaceExA(root, &freeToCaller, &total, &totalFree));
    EXPECT_EQ(disk.totalSize.status, 0u);
    EXPECT_EQ(disk.totalSize.value, total.QuadPart);
    EXPECT_NEAR((double)disk.freeSize.value, (double)freeToCaller.QuadPart, 64.0 * 1048576);
    EXPECT_EQ(disk.deviceType.status, 0u);
    EXPECT_EQ(disk.deviceType.value, GetDriveTypeA(root) == DRIVE_REMOVABLE ? 5u : 1u);
    for (Uint32 s : {disk.blockSize.status, disk.totalInodes.status, disk.fsTypeName.status,
                     disk.dioCioMountOption.status, disk.fsType.status})
        EXPECT_EQ(s, ECF_NOT_SUPPORTED);
}

TEST(DiskInfo, MissingPathFailsEveryValue)
{
    ossetest::TempDir dir;
    const std::string missing = dir.file("no-such-file");
    OSSDiskInfo disk;
    OSSGetDiskInfoParam p = {OSS_CURRENT_VERSION, missing.c_str(), &disk};
    EXPECT_EQ(ossGetDiskInfo(&p), ECF_FILE_DOESNT_EXIST);
    for (Uint32 s : {disk.blockSize.status, disk.totalSize.status, disk.freeSize.status,
                     disk.totalInodes.status, disk.fsName.status, disk.mountPoint.status,
                     disk.fsid.status, disk.fsTypeName.status, disk.dioCioMountOption.status,
                     disk.deviceType.status, disk.fsType.status})
        EXPECT_EQ(s, ECF_FAILED);
}

TEST(DiskInfo, TextForm)
{
    OSSDiskInfo disk;
    disk.blockSize.status = ECF_NOT_SUPPORTED;
    disk.totalSize.value = 107374182400ull;
    disk.freeSize.value = 1048576;
    disk.totalInodes.status = ECF_NOT_SUPPORTED;
    strcpy(disk.fsName.value, "NTFS");
    strcpy(disk.mountPoint.value, "C:\\");
    disk.fsid.value = 3735928559u;
    disk.fsTypeName.status = ECF_NOT_SUPPORTED;
    disk.dioCioMountOption.status = ECF_NOT_SUPPORTED;
    disk.deviceType.value = 5;
    disk.fsType.status = ECF_NOT_SUPPORTED;
    OSSDiskInfo::toStringParam p;
    p.version = OSS_CURRENT_VERSION;
    disk.toString(&p);
    EXPECT_STREQ(p.buffer,
                 "File System Information of the target file :\n"
                 "  Block size        = N/A bytes\n"
                 "  Total size        = 107374182400 bytes\n"
                 "  Free size         = 1048576 bytes\n"
                 "  Total # of inodes = N/A\n"
                 "  FS name           = NTFS\n"
                 "  Mount point       = C:\\\n"
                 "  FSID              = 3735928559\n"
                 "  FS type name      = N/A\n"
                 "  DIO/CIO mount opt = N/A\n"
                 "  Device type       = Removable\n"
                 "  FS type           = N/A\n");
    disk.deviceType.value = 1;
    disk.fsType.status = 0;
    disk.fsType.value = 0x4D44;
    disk.toString(&p);
    EXPECT_NE(std::string(p.buffer).find("Device type       = Valid\n  FS type           = 0x4d44\n"),
              std::string::npos)
        << p.buffer;
}

// Where the network counters exist the listing walks them to ECF_FILE_EOF; where they do not,
// begin says "not supported" quietly (no error-level record) and keeps nothing.
TEST(NetworkInterfaceListing, WalksOrReportsNotSupported)
{
    OSSNetworkInterfaceListing listing;
    const OSSGetNetworkInterfaceInfoParam get = {OSS_CURRENT_VERSION, 0};
    OSSNetworkInterfaceInfo info;
    EXPECT_EQ(listing.getNext(&get, &info), ECF_INVALID_INVOCATION_SEQUENCE);
    EXPECT_EQ(listing.end(), ECF_INVALID_INVOCATION_SEQUENCE);

    RecordCapture capture(0);
    const Uint32 rc = listing.begin();
    if (rc == 0) {
        Uint32 n = 0, next;
        while ((next = listing.getNext(&get, &info)) == 0) {
            EXPECT_LE(strlen(info.name), 100u);
            ++n;
        }
        EXPECT_EQ(next, ECF_FILE_EOF);
        EXPECT_EQ(n, listing.instanceCount);
        EXPECT_EQ(listing.begin(), ECF_INVALID_INVOCATION_SEQUENCE);
        EXPECT_EQ(listing.end(), 0u);
        return;
    }
    EXPECT_EQ(rc, ECF_NOT_SUPPORTED);
    EXPECT_EQ(listing.counters, nullptr);
    EXPECT_EQ(listing.begun, 0);
    for (const auto& r : capture.records) EXPECT_GE(r.level, (Uint32)OSS_LEVEL_WARNING) << r.probe;
    EXPECT_EQ(listing.getNext(&get, &info), ECF_INVALID_INVOCATION_SEQUENCE);
    EXPECT_EQ(listing.end(), ECF_INVALID_INVOCATION_SEQUENCE);

    OSSNetworkInterfaceInfo shown;
    strcpy(shown.name, "eth0");
    shown.packetsReceived = 1;
    shown.bytesSent = 18446744073709551615ull;
    OSSNetworkInterfaceInfo::toStringParam p;
    p.version = OSS_CURRENT_VERSION;
    shown.toString(&p);
    EXPECT_STREQ(p.buffer,
                 "Network Interface Counters :\n  Interface Name          = eth0\n"
                 "  Packets Received        = 1\n  Packets Sent            = 0\n"
                 "  Packets Receive Errors  = 0\n  Packets Send Errors     = 0\n"
                 "  Bytes Received          = 0\n  Bytes Sent              = 18446744073709551615\n");
}

TEST(UsageCounters, ProcessorUsageOverAnInterval)
{
    OSSCPUUsageInfo usage;
    usage.interval = 0;  // still two samples
    const Uint32 rc = ossGetCPUUsage(&usage);
    ASSERT_TRUE(rc == 0 || rc == ECF_FAILED) << std::hex << rc;
    int valid = 0;
    for (const OSSSysInfoDouble* v : {&usage.processorTime, &usage.userTime, &usage.privilegedTime,
                                      &usage.interruptTime, &usage.idleTime}) {
        if (v->status) {
            EXPECT_EQ(v->status, ECF_FAILED);
            continue;
        }
        ++valid;
        EXPECT_GE(v->value, 0.0);
    }
    EXPECT_EQ(rc == 0, valid > 0);
}

// The raw counters either come back or the step's code marks every value; a process that does
// not exist is named "InvalidPID".
TEST(UsageCounters, RawCounters)
{
    OSSRawCPUUsageInfo raw;
    const Uint32 rc = ossGetRawCPUUsage(&raw);
    for (const OSSSysInfoUint64* v : {&raw.idle, &raw.system, &raw.ioWait, &raw.user})
        EXPECT_EQ(v->status, rc);

    const Uint32 pids[2] = {GetCurrentProcessId(), 0xFFFFFFF0u};
    OSSProcessRawCPUUsageInfo results[2];
    const OSSProcessRawCPUUsageParam p = {OSS_CURRENT_VERSION, pids, 2};
    const Uint32 prc = ossGetProcessRawCPUUsage(&p, results);
    if (prc == 0) {
        EXPECT_EQ(results[0].pid, pids[0]);
        EXPECT_STRNE(results[0].name, OSS_INVALID_PID_NAME);
        EXPECT_EQ(results[1].pid, 0xFFFFFFFFu);
        EXPECT_STREQ(results[1].name, OSS_INVALID_PID_NAME);
        EXPECT_EQ(results[1].userTime.status, ECF_PARTIAL_INFO);
        EXPECT_EQ(results[1].systemTime.value, 0u);
    } else {
        EXPECT_EQ(prc, ECF_NOT_SUPPORTED);
    }

    OSSRawCPUUsageInfo shown;
    shown.idle.value = 1;
    shown.system.value = 2;
    shown.ioWait.value = 3;
    shown.user.value = 4;
    OSSRawCPUUsageInfo::toStringParam rp;
    rp.version = OSS_CURRENT_VERSION;
    shown.toString(&rp);
    EXPECT_STREQ(rp.buffer,
                 "Raw CPU Usage Counters :\n  Idle Time Units         = 1\n"
                 "  System Time Units       = 2\n  IO Wait Time Units      = 3\n"
                 "  User Program Time Units = 4\n");
    OSSProcessRawCPUUsageInfo proc;
    proc.pid = 0xFFFFFFFFu;
    strcpy(proc.name, OSS_INVALID_PID_NAME);
    OSSProcessRawCPUUsageInfo::toStringParam pp;
    pp.version = OSS_CURRENT_VERSION;
    proc.toString(&pp);
    EXPECT_STREQ(pp.buffer,
                 "Process Raw CPU Usage Counters :\n  Process ID            = -1\n"
                 "  Process Name          = InvalidPID\n  System Time Units     = 0\n"
                 "  User Time Units       = 0\n");
}

TEST(UsageCounters, LoadAndPagingAreNotSupported)
{
    for (int i = 0; i < 2; ++i) {
        OSSAvgCPULoadInfo avg;
        EXPECT_EQ(ossGetAvgCPULoad(&avg), ECF_NOT_SUPPORTED);
        for (Uint32 s : {avg.load1.status, avg.load5.status, avg.load15.status})
            EXPECT_EQ(s, ECF_NOT_SUPPORTED);
        OSSRawPagingActivityInfo paging;
        EXPECT_EQ(ossGetRawPagingActivityInfo(0, &paging), ECF_NOT_SUPPORTED);
        for (Uint32 s : {paging.pageSize.status, paging.pagesIn.status, paging.pagesOut.status})
            EXPECT_EQ(s, ECF_NOT_SUPPORTED);
    }
    OSSRawPagingActivityInfo paging;
    paging.pageSize.value = 4096;
    OSSRawPagingActivityInfo::toStringParam p;
    p.version = OSS_CURRENT_VERSION;
    paging.toString(&p);
    EXPECT_STREQ(p.buffer,
                 "Raw CPU Paging Activity Info :\n  Page Size       = 4096\n"
                 "  Pages In        = 0\n  Pages Out       = 0\n");
}
