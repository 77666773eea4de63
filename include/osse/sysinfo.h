/* System information: processor, memory, swap, operating system, caches, mounts, network
 * interfaces, disks and usage counters. Every value of a record carries its own
 * status word: 0 when the value is valid, ECF_NOT_SUPPORTED when this platform cannot provide
 * it, ECF_FAILED when the OS call behind it failed. */
#ifndef OSSE_SYSINFO_H
#define OSSE_SYSINFO_H

#include "osse/base.h"

#ifdef __cplusplus

/* One value of a record and its status: 0 when the value is valid, else the code that says why the
 * system could not give it (the value is then 0 or empty). The types differ in the value only. */
struct OSSSysInfoSint {
    Sint32 value; /* the value; 0 when status is not 0 */
    Uint32 status; /* 0, or why the value is missing */
    OSSSysInfoSint() : value(0), status(0) {}
};
/* The same with an unsigned 32-bit value. */
struct OSSSysInfoUint {
    Uint32 value; /* the value; 0 when status is not 0 */
    Uint32 status; /* 0, or why the value is missing */
    OSSSysInfoUint() : value(0), status(0) {}
};
/* The same with a signed 64-bit value. */
struct OSSSysInfoSint64 {
    Sint64 value; /* the value; 0 when status is not 0 */
    Uint32 status; /* 0, or why the value is missing */
    OSSSysInfoSint64() : value(0), status(0) {}
};
/* The same with an unsigned 64-bit value. */
struct OSSSysInfoUint64 {
    Uint64 value; /* the value; 0 when status is not 0 */
    Uint32 status; /* 0, or why the value is missing */
    OSSSysInfoUint64() : value(0), status(0) {}
};
/* The same with a floating value. */
struct OSSSysInfoDouble {
    double value; /* the value; 0 when status is not 0 */
    Uint32 status; /* 0, or why the value is missing */
    OSSSysInfoDouble() : value(0), status(0) {}
};
/* The same with a text. */
struct OSSSysInfoStr {
    char value[255]; /* NUL-terminated text; empty when status is not 0 */
    Uint32 status; /* 0, or why the value is missing */
    OSSSysInfoStr() : value(), status(0) {}
};
/* A mount point path and its status. */
struct OSSSysInfoMountPoint {
    char value[1024]; /* NUL-terminated path; empty when status is not 0 */
    Uint32 status; /* 0, or why the value is missing */
    OSSSysInfoMountPoint() : value(), status(0) {}
};

/* Callers keep these in records read by other modules: the layouts are fixed. */
static_assert(sizeof(OSSSysInfoSint) == 8 && sizeof(OSSSysInfoUint) == 8, "32-bit values");
static_assert(sizeof(OSSSysInfoSint64) == 16 && sizeof(OSSSysInfoUint64) == 16 &&
                  sizeof(OSSSysInfoDouble) == 16 && offsetof(OSSSysInfoUint64, status) == 8,
              "64-bit values: 8-byte aligned, status after the value");
static_assert(sizeof(OSSSysInfoStr) == 260 && offsetof(OSSSysInfoStr, status) == 256, "text");
static_assert(sizeof(OSSSysInfoMountPoint) == 1028 && offsetof(OSSSysInfoMountPoint, status) == 1024,
              "mount point");

/* ---- Records and queries --------------------------------------------------------------
 * Every record begins with its version word (OSS_CURRENT_VERSION; the constructors set it) and
 * every value carries its own status: 0 valid, ECF_NOT_SUPPORTED when this platform cannot
 * provide it, ECF_FAILED when the OS call behind it failed. A query returns 0,
 * ECF_PARTIAL_INFO when some values are missing, or a failure code. Sizes in megabytes are
 * rounded up. */

/* Record versions from which fields are read or written. */
#define OSS_SYSINFO_VERSION_REQUEST_MASK 0x0A010000u /* OSSCPUInfo::requestMask */
#define OSS_SYSINFO_VERSION_V10_5        0x0A050000u /* feature bytes, OS description/platform */
#define OSS_SYSINFO_VERSION_CORES        0x0131F31Bu /* coresPerPackage in records before the mask */

/* Physical memory, in megabytes. */
struct OSSE_API OSSMemInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    OSSSysInfoUint total; /* installed physical memory */
    OSSSysInfoUint free; /* free physical memory */
    OSSSysInfoUint available;   /* min(available physical, available virtual) */
    OSSSysInfoUint addressable; /* total virtual address space of the process */

    /* Input of toString: the buffer the text is written into. */
    struct toStringParam {
        Uint32 version; /* parameter version */
        char buffer[200]; /* receives the text, always terminated */
    };
    OSSMemInfo() : version(OSS_CURRENT_VERSION) {}
    /* Writes the text form; a parameter below the minimum version is left untouched. */
    void toString(toStringParam* param) const;
};

/* Swap space (paging files), in megabytes. */
struct OSSE_API OSSSwapInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    OSSSysInfoUint total; /* size of all paging files */
    OSSSysInfoUint free; /* free space in the paging files */

    /* Input of toString: the buffer the text is written into. */
    struct toStringParam {
        Uint32 version; /* parameter version */
        char buffer[108]; /* receives the text, always terminated */
    };
    OSSSwapInfo() : version(OSS_CURRENT_VERSION) {}
    /* Writes the text form into param->buffer (always terminated). */
    void toString(toStringParam* param) const;
};

/* Virtual memory (physical memory plus swap), in megabytes. */
struct OSSE_API OSSVirtMemInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    OSSSysInfoUint total; /* physical memory plus swap */
    OSSSysInfoUint reserved; /* never available on this platform */
    OSSSysInfoUint available; /* never available on this platform */
    OSSSysInfoUint free; /* free physical memory plus free swap */

    /* Input of toString: the buffer the text is written into. */
    struct toStringParam {
        Uint32 version; /* parameter version */
        char buffer[196]; /* receives the text, always terminated */
    };
    OSSVirtMemInfo() : version(OSS_CURRENT_VERSION) {}
    /* Writes the text form into param->buffer (always terminated). */
    void toString(toStringParam* param) const;
};

/* The operating system. */
struct OSSOSInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    OSSSysInfoStr osType;         /* "WIN32s", "WIN32_WINDOWS", "WIN32_NT" or "UNKNOWN" */
    OSSSysInfoStr computerName; /* the machine's NetBIOS name */
    OSSSysInfoStr osVersion;      /* "major.minor" */
    OSSSysInfoStr servicePack; /* service pack text, "" when none is installed */
    OSSSysInfoStr cpuDescription; /* "x86 Family 6, model 58, stepping 9" */
    OSSSysInfoStr osRelease;      /* never available on this platform */
    /* Records of version OSS_SYSINFO_VERSION_V10_5 or later: */
    char description[80];         /* product name, version, service pack and build */
    char platform[30];            /* "X86-based PC", "X64-based PC" */

    OSSOSInfo() : version(OSS_CURRENT_VERSION), description(), platform() {}
};

/* Request-mask bits of OSSCPUInfo (records of version OSS_SYSINFO_VERSION_REQUEST_MASK or
 * later). The bits named NOT_PROVIDED select values other platforms of the family deliver;
 * here their status is always ECF_NOT_SUPPORTED. */
#define OSS_CPUINFO_REQ_NOT_PROVIDED_0      (1ull << 0)
#define OSS_CPUINFO_REQ_NOT_PROVIDED_1      (1ull << 1)
#define OSS_CPUINFO_REQ_CPU_COUNT           (1ull << 2)
#define OSS_CPUINFO_REQ_CPU_COUNT_ONLINE    (1ull << 3)
#define OSS_CPUINFO_REQ_CPU_COUNT_CONFIGURED (1ull << 4)
#define OSS_CPUINFO_REQ_SPEED_MHZ           (1ull << 5)
#define OSS_CPUINFO_REQ_THREADS_PER_CORE    (1ull << 6)
#define OSS_CPUINFO_REQ_CORES_PER_PACKAGE   (1ull << 8)
#define OSS_CPUINFO_REQ_NOT_PROVIDED_9      (1ull << 9)
#define OSS_CPUINFO_REQ_NOT_PROVIDED_11     (1ull << 11)
#define OSS_CPUINFO_REQ_NOT_PROVIDED_12     (1ull << 12)
#define OSS_CPUINFO_REQ_HAS_SSE41           (1ull << 13)
#define OSS_CPUINFO_REQ_HAS_SSE42           (1ull << 14)
#define OSS_CPUINFO_REQ_HAS_SSE4            (1ull << 15)
#define OSS_CPUINFO_REQ_ALL                 0xFFFFull

/* The processor (136 bytes). */
struct OSSCPUInfo {
    Uint32 version; /* record version; selects which fields are read and written */
    OSSSysInfoUint cpuCount;           /* the three counts are the processor count */
    OSSSysInfoUint cpuCountOnline; /* logical processors online */
    OSSSysInfoUint cpuCountConfigured; /* logical processors configured */
    OSSSysInfoUint speedMHz; /* processor speed */
    OSSSysInfoUint threadsPerCore; /* logical processors per core */
    OSSSysInfoUint coresPerPackage; /* cores per processor package */
    OSSSysInfoUint notProvided9;       /* mask bit 9 */
    OSSSysInfoUint notProvided0;       /* mask bit 0 */
    Uint64 requestMask;                /* OSS_CPUINFO_REQ_* */
    OSSSysInfoUint64 notProvided1;     /* mask bit 1 */
    OSSSysInfoUint64 notProvided11;    /* mask bit 11 */
    OSSSysInfoUint64 notProvided12;    /* mask bit 12 */
    /* Records of version OSS_SYSINFO_VERSION_V10_5 or later: */
    Uint8 hasSSE41;
    Uint8 hasSSE42;
    Uint8 hasSSE4;                     /* either of the two */

    OSSCPUInfo()
        : version(OSS_CURRENT_VERSION), requestMask(OSS_CPUINFO_REQ_ALL), hasSSE41(0),
          hasSSE42(0), hasSSE4(0)
    {
    }
};

/* Cache types of OSSCPUCacheInfo. */
#define OSS_CPU_CACHE_DATA        1u
#define OSS_CPU_CACHE_UNIFIED     2u
#define OSS_CPU_CACHE_INSTRUCTION 3u

/* One processor cache (40 bytes). */
struct OSSE_API OSSCPUCacheInfo {
    Uint64 level; /* 1 for the level-1 caches, 2, 3 */
    Uint64 numThreads; /* logical processors sharing the cache */
    Uint64 size;       /* bytes */
    Uint64 lineSize;   /* bytes */
    Uint32 type;       /* OSS_CPU_CACHE_*; any other value is unknown */

    /* "Level: 2, Size: 262144 bytes, Num threads: 2, Type: Unified, Cache Line Size: 64
     * bytes\n", bounded to the buffer. */
    void toString(char* buffer, Uint32 size) const;
};

/* Request of ossGetCPUCacheTopology: the caller's array of `capacity` records (may be null
 * when capacity is 0). `count` returns the number of caches the machine has; when it exceeds
 * the capacity, the first `capacity` records are filled and the query returns
 * ECF_BUFFER_TOO_SMALL. */
struct OSSCPUCacheTopologyParam {
    Uint32 version; /* parameter version */
    Uint32 capacity; /* records the caller's array holds */
    OSSCPUCacheInfo* caches; /* the caller's array; may be null when capacity is 0 */
    Uint32 count; /* set by the query: how many caches the machine has */
    Uint32 reserved; /* 0 */
};

/* Load-time set-up of the system information; the library calls it, callers need not. */
OSSE_C_API void ossSysInfoOneTimeOnly(void);
/* Processor count, speed, threads per core, cores per package and feature bits. 0, ECF_PARTIAL_INFO
 * (see each value's status), or a failure code. */
OSSE_C_API Uint32 ossGetCPUInfo(OSSCPUInfo* info);
/* Physical memory in megabytes. */
OSSE_C_API Uint32 ossGetPhysMemInfo(OSSMemInfo* info);
/* Swap space in megabytes. */
OSSE_C_API Uint32 ossGetPhysSwapInfo(OSSSwapInfo* info);
/* Virtual memory in megabytes. */
OSSE_C_API Uint32 ossGetVirtualMemInfo(OSSVirtMemInfo* info);
/* Operating system type, version, service pack, computer name, processor description. */
OSSE_C_API Uint32 ossGetOSInfo(OSSOSInfo* info);
/* The processor caches, into param->caches[param->capacity]; param->count receives how many there
 * are. */
OSSE_C_API Uint32 ossGetCPUCacheTopology(OSSCPUCacheTopologyParam* param);

/* ---- Mounts ------------------------------------------------------------------------------ */

/* One mounted file system (a logical drive), filled by OSSMountListing::getNext. */
struct OSSMountInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    char mountPoint[1024]; /* the drive root, "C:\" */
    Uint64 totalMB; /* size in megabytes */
    Uint64 freeMB;         /* free to the caller */
    char fsName[100];      /* "NTFS" */
    char volumeName[1024]; /* volume label, "" when there is none */
    Uint32 status;         /* 0 when the record is valid */

    OSSMountInfo() : version(OSS_CURRENT_VERSION), mountPoint(), totalMB(0), freeMB(0), fsName(),
                     volumeName(), status(0) {}
};

/* Input of OSSMountListing::getNext. */
struct OSSMountListingGetParam {
    Uint32 version; /* parameter version */
    Uint32 reserved; /* must be 0 */
};

/* Iterator over the mounted file systems: begin, getNext until ECF_FILE_EOF, end. Drives
 * without a medium are skipped. Lives in the caller's memory; one thread uses it at a time. */
class OSSE_API OSSMountListing {
public:
    char driveStrings[1024]; /* the double-NUL-terminated list of drive roots */
    char* cursor; /* next root in driveStrings, null before begin */
    Uint8 begun; /* 1 between begin and end */

    OSSMountListing() { constructor(); }
    ~OSSMountListing() { destructor(); }
    /* Sets the listing up as not begun. */
    void constructor();
    /* Ends the listing when it was begun. */
    void destructor();
    /* Reads the list of drives. */
    Uint32 begin();
    /* The next mounted file system into *info; ECF_FILE_EOF after the last one. */
    Uint32 getNext(const OSSMountListingGetParam* param, OSSMountInfo* info);
    /* Ends the listing. */
    Uint32 end();
};

/* ---- Network interfaces ------------------------------------------------------------------ */

/* Traffic counters of one interface (raw cumulative values). */
struct OSSE_API OSSNetworkInterfaceInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    char name[104];        /* at most 100 characters */
    Uint64 packetsReceived; /* packets received */
    Uint64 packetsSent; /* packets sent */
    Uint64 packetsReceivedErrors; /* received packets discarded for errors */
    Uint64 packetsOutboundErrors; /* outbound packets discarded for errors */
    Uint64 bytesReceived; /* bytes received */
    Uint64 bytesSent; /* bytes sent */

    /* Input of toString: the buffer the text is written into. */
    struct toStringParam {
        Uint32 version; /* parameter version */
        char buffer[512]; /* receives the text, always terminated */
    };
    OSSNetworkInterfaceInfo()
        : version(OSS_CURRENT_VERSION), name(), packetsReceived(0), packetsSent(0),
          packetsReceivedErrors(0), packetsOutboundErrors(0), bytesReceived(0), bytesSent(0)
    {
    }
    /* Writes the text form into param->buffer (always terminated). */
    void toString(toStringParam* param) const;
};

/* Input of OSSNetworkInterfaceListing::getNext. */
struct OSSGetNetworkInterfaceInfoParam {
    Uint32 version; /* parameter version */
    Uint32 reserved; /* must be 0 */
};

/* Iterator over the network interfaces: begin samples the counters of every interface once,
 * getNext returns them one by one until ECF_FILE_EOF, end releases the sample. */
class OSSE_API OSSNetworkInterfaceListing {
public:
    void* counters;         /* the sampled counter block (library allocator) */
    Uint32 instanceCount; /* interfaces in the sample */
    Uint32 cursor; /* index of the next interface getNext returns */
    Uint8 begun; /* 1 between begin and end */

    OSSNetworkInterfaceListing() { constructor(); }
    ~OSSNetworkInterfaceListing() { destructor(); }
    /* Sets the listing up as not begun. */
    void constructor();
    /* Ends the listing when it was begun. */
    void destructor();
    /* Reads the interface table (ECF_NOT_SUPPORTED where the counters are missing). */
    Uint32 begin();
    /* The next interface into *info; ECF_FILE_EOF after the last one. */
    Uint32 getNext(const OSSGetNetworkInterfaceInfoParam* param, OSSNetworkInterfaceInfo* info);
    /* Ends the listing. */
    Uint32 end();
};

/* ---- Disk information -------------------------------------------------------------------- */

/* Bits of OSSDiskInfo::deviceType. */
#define OSS_DISK_DEVICE_VALID     1u
#define OSS_DISK_DEVICE_READY     2u
#define OSS_DISK_DEVICE_REMOVABLE 4u

/* The file system that holds a path. Block size, inode count, file-system type name and type,
 * and the direct/concurrent I/O option are not available on this platform. */
struct OSSE_API OSSDiskInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    OSSSysInfoUint blockSize; /* never available on this platform */
    OSSSysInfoUint64 totalSize;         /* bytes */
    OSSSysInfoUint64 freeSize;          /* bytes free to the caller */
    OSSSysInfoUint totalInodes; /* never available on this platform */
    OSSSysInfoStr fsName;               /* "NTFS" */
    OSSSysInfoMountPoint mountPoint;    /* the volume's root ("C:\") or volume name */
    OSSSysInfoUint fsid;                /* the volume serial number */
    OSSSysInfoStr fsTypeName; /* never available on this platform */
    OSSSysInfoStr dioCioMountOption; /* never available on this platform */
    OSSSysInfoUint deviceType;          /* OSS_DISK_DEVICE_* bits */
    OSSSysInfoUint64 fsType; /* never available on this platform */

    /* Input of toString: the buffer the text is written into. */
    struct toStringParam {
        Uint32 version; /* parameter version */
        char buffer[1024]; /* receives the text, always terminated */
    };
    OSSDiskInfo() : version(OSS_CURRENT_VERSION) {}
    /* Writes the text form into param->buffer (always terminated). */
    void toString(toStringParam* param) const;
};

/* Request of ossGetDiskInfo: the path to look up and the record to fill. */
struct OSSGetDiskInfoParam {
    Uint32 version; /* parameter version */
    const char* path; /* path to look up, NUL-terminated */
    OSSDiskInfo* info; /* the record the query fills */
};

/* Describes the file system holding param->path into *param->info. */
OSSE_C_API Uint32 ossGetDiskInfo(OSSGetDiskInfoParam* param);

/* ---- Usage counters ---------------------------------------------------------------------- */

/* Processor time over an interval, in percent. */
struct OSSCPUUsageInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    Uint32 interval; /* milliseconds between the two samples */
    OSSSysInfoDouble processorTime; /* total processor time */
    OSSSysInfoDouble userTime; /* time in user mode */
    OSSSysInfoDouble privilegedTime; /* time in privileged mode */
    OSSSysInfoDouble interruptTime; /* time servicing interrupts */
    OSSSysInfoDouble idleTime; /* idle time */

    OSSCPUUsageInfo() : version(OSS_CURRENT_VERSION), interval(0) {}
};

/* The raw cumulative processor counters. */
struct OSSE_API OSSRawCPUUsageInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    OSSSysInfoUint64 idle; /* cumulative idle time, 100-ns units */
    OSSSysInfoUint64 system; /* cumulative privileged time, 100-ns units */
    OSSSysInfoUint64 ioWait; /* interrupt time on this platform */
    OSSSysInfoUint64 user; /* cumulative user time, 100-ns units */

    /* Input of toString: the buffer the text is written into. */
    struct toStringParam {
        Uint32 version; /* parameter version */
        char buffer[242]; /* receives the text, always terminated */
    };
    OSSRawCPUUsageInfo() : version(OSS_CURRENT_VERSION) {}
    /* Writes the text form into param->buffer (always terminated). */
    void toString(toStringParam* param) const;
};

/* Request of ossGetProcessRawCPUUsage: `count` process ids; the results array has one entry
 * per id. */
struct OSSProcessRawCPUUsageParam {
    Uint32 version; /* parameter version */
    const Uint32* pids; /* the process ids; may be null when count is 0 */
    Uint32 count; /* entries in pids and in the results array */
};

/* The name of a process that was not found. */
#define OSS_INVALID_PID_NAME "InvalidPID"

/* Processor time of one process (raw cumulative counters). */
struct OSSE_API OSSProcessRawCPUUsageInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    Uint32 pid;      /* 0xFFFFFFFF (-1) when the process was not found */
    char name[256];  /* the counter instance name, or "InvalidPID" */
    OSSSysInfoUint64 systemTime; /* cumulative privileged time over the processor count, 100-ns units */
    OSSSysInfoUint64 userTime; /* cumulative user time over the processor count, 100-ns units */

    /* Input of toString: the buffer the text is written into. */
    struct toStringParam {
        Uint32 version; /* parameter version */
        char buffer[473]; /* receives the text, always terminated */
    };
    OSSProcessRawCPUUsageInfo() : version(OSS_CURRENT_VERSION), pid(0), name() {}
    /* Writes the text form into param->buffer (always terminated). */
    void toString(toStringParam* param) const;
};

/* Load averages over 1, 5 and 15 minutes: not available on this platform. */
struct OSSAvgCPULoadInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    OSSSysInfoDouble load1; /* never available on this platform */
    OSSSysInfoDouble load5; /* never available on this platform */
    OSSSysInfoDouble load15; /* never available on this platform */

    OSSAvgCPULoadInfo() : version(OSS_CURRENT_VERSION) {}
};

/* Paging activity: not available on this platform. */
struct OSSE_API OSSRawPagingActivityInfo {
    Uint32 version; /* record version; the constructor sets OSS_CURRENT_VERSION */
    OSSSysInfoUint64 pageSize; /* never available on this platform */
    OSSSysInfoUint64 pagesIn; /* never available on this platform */
    OSSSysInfoUint64 pagesOut; /* never available on this platform */

    /* Input of toString: the buffer the text is written into. */
    struct toStringParam {
        Uint32 version; /* parameter version */
        char buffer[170]; /* receives the text, always terminated */
    };
    OSSRawPagingActivityInfo() : version(OSS_CURRENT_VERSION) {}
    /* Writes the text form into param->buffer (always terminated). */
    void toString(toStringParam* param) const;
};

/* Processor usage over info's interval, in percent of the machine: processor, user, privileged,
 * interrupt and idle time. Sleeps for the interval. */
OSSE_C_API Uint32 ossGetCPUUsage(OSSCPUUsageInfo* info);
/* Raw cumulative processor counters of the machine. */
OSSE_C_API Uint32 ossGetRawCPUUsage(OSSRawCPUUsageInfo* info);
/* Raw processor time of each process in param->pids, into results[param->count]. */
OSSE_C_API Uint32 ossGetProcessRawCPUUsage(const OSSProcessRawCPUUsageParam* param,
                                           OSSProcessRawCPUUsageInfo* results);
/* Average processor load (ECF_NOT_SUPPORTED on this platform). */
OSSE_C_API Uint32 ossGetAvgCPULoad(OSSAvgCPULoadInfo* info);
/* `flags` is reserved (0). */
OSSE_C_API Uint32 ossGetRawPagingActivityInfo(Uint32 flags, OSSRawPagingActivityInfo* info);

/* ---- Layouts shared with callers built separately ---------------------------------------- */
static_assert(sizeof(OSSMemInfo) == 36 && sizeof(OSSMemInfo::toStringParam) == 204, "layout");
static_assert(sizeof(OSSSwapInfo) == 20 && sizeof(OSSSwapInfo::toStringParam) == 112, "layout");
static_assert(sizeof(OSSVirtMemInfo) == 36 && sizeof(OSSVirtMemInfo::toStringParam) == 200,
              "layout");
static_assert(offsetof(OSSOSInfo, description) == 1564 && offsetof(OSSOSInfo, platform) == 1644 &&
                  sizeof(OSSOSInfo) == 1676,
              "OSSOSInfo layout");
static_assert(sizeof(OSSCPUInfo) == 136, "OSSCPUInfo layout");
static_assert(offsetof(OSSCPUInfo, speedMHz) == 28 && offsetof(OSSCPUInfo, coresPerPackage) == 44 &&
                  offsetof(OSSCPUInfo, requestMask) == 72 &&
                  offsetof(OSSCPUInfo, notProvided1) == 80 && offsetof(OSSCPUInfo, hasSSE41) == 128 &&
                  offsetof(OSSCPUInfo, hasSSE4) == 130,
              "OSSCPUInfo layout");
static_assert(sizeof(OSSCPUCacheInfo) == 40 && offsetof(OSSCPUCacheInfo, type) == 32, "layout");
#if OSSE_PTR32
static_assert(sizeof(OSSCPUCacheTopologyParam) == 20, "layout");
#else
static_assert(sizeof(OSSCPUCacheTopologyParam) == 24, "x86_64 layout");
#endif
static_assert(offsetof(OSSMountInfo, totalMB) == 1032 && offsetof(OSSMountInfo, fsName) == 1048 &&
                  offsetof(OSSMountInfo, volumeName) == 1148 &&
                  offsetof(OSSMountInfo, status) == 2172 && sizeof(OSSMountInfo) == 2176,
              "OSSMountInfo layout");
static_assert(sizeof(OSSMountListingGetParam) == 8, "layout");
static_assert(offsetof(OSSNetworkInterfaceInfo, packetsReceived) == 112 &&
                  sizeof(OSSNetworkInterfaceInfo) == 160,
              "OSSNetworkInterfaceInfo layout");
static_assert(sizeof(OSSGetNetworkInterfaceInfoParam) == 8, "layout");
static_assert(offsetof(OSSDiskInfo, totalSize) == 16 && offsetof(OSSDiskInfo, freeSize) == 32 &&
                  offsetof(OSSDiskInfo, totalInodes) == 48 && offsetof(OSSDiskInfo, fsName) == 56 &&
                  offsetof(OSSDiskInfo, mountPoint) == 316 && offsetof(OSSDiskInfo, fsid) == 1344 &&
                  offsetof(OSSDiskInfo, fsTypeName) == 1352 &&
                  offsetof(OSSDiskInfo, dioCioMountOption) == 1612 &&
                  offsetof(OSSDiskInfo, deviceType) == 1872 && offsetof(OSSDiskInfo, fsType) == 1880 &&
                  sizeof(OSSDiskInfo) == 1896,
              "OSSDiskInfo layout");
#if OSSE_PTR32
static_assert(sizeof(OSSGetDiskInfoParam) == 12, "layout");
#else
static_assert(sizeof(OSSGetDiskInfoParam) == 24, "x86_64 layout");
#endif
static_assert(sizeof(OSSCPUUsageInfo) == 88 && offsetof(OSSCPUUsageInfo, processorTime) == 8,
              "layout");
static_assert(sizeof(OSSRawCPUUsageInfo) == 72 && offsetof(OSSRawCPUUsageInfo, idle) == 8, "layout");
#if OSSE_PTR32
static_assert(sizeof(OSSProcessRawCPUUsageParam) == 12, "layout");
#else
static_assert(sizeof(OSSProcessRawCPUUsageParam) == 24, "x86_64 layout");
#endif
static_assert(offsetof(OSSProcessRawCPUUsageInfo, systemTime) == 264 &&
                  sizeof(OSSProcessRawCPUUsageInfo) == 296,
              "layout");
static_assert(sizeof(OSSRawPagingActivityInfo) == 56, "layout");
static_assert(sizeof(OSSAvgCPULoadInfo) == 56, "layout");

#endif /* __cplusplus */

#endif
