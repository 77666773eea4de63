// ossetool sysinfo: every system-information record of this machine, as text (the records'
// own text forms where they have one) or as JSON for scripts. Unavailable values are marked
// with their status.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "osse/osse.h"
#include "verbs.h"

namespace {

const char kHelp[] =
    "usage: ossetool sysinfo [--json] [PATH]\n"
    "\n"
    "Prints the processor, memory, swap, virtual memory, operating system, kernel IPC limits,\n"
    "processor caches, mounted drives, network interfaces, the file system holding PATH\n"
    "(default: the current folder), processor usage and the raw usage counters of this\n"
    "process.\n"
    "A value the system cannot give is shown as \"unavailable\" with its status code;\n"
    "each section shows the query's return code when it is not 0.\n"
    "--json prints one JSON object: each section has \"rc\" and either \"values\" (each\n"
    "{\"value\": ..., \"status\": ...}, value null when unavailable) or \"entries\" (a list of\n"
    "such value sets).\n";

std::string jsonString(const char* s)
{
    std::string out = "\"";
    for (const unsigned char* p = (const unsigned char*)s; *p; ++p) {
        char buf[8];
        switch (*p) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (*p < 0x20 || *p >= 0x7F) {
                snprintf(buf, sizeof buf, "\\u%04x", *p);
                out += buf;
            } else {
                out += (char)*p;
            }
        }
    }
    return out + "\"";
}

struct Field {
    std::string name;
    std::string text;  // as printed
    std::string json;  // a JSON value
    Uint32 status;
};
using Fields = std::vector<Field>;

struct Section {
    explicit Section(const char* n) : name(n) {}
    std::string name;
    Uint32 rc = 0;
    Fields values;
    std::vector<Fields> entries;
    bool isList = false;
    std::string textForm;  // the record's own text form, printed instead of the values
};

std::string u64Text(Uint64 v)
{
    return std::to_string(v);
}

Field num(const char* name, Uint64 value, Uint32 status)
{
    return Field{name, u64Text(value), u64Text(value), status};
}
Field dbl(const char* name, double value, Uint32 status)
{
    char buf[40];
    snprintf(buf, sizeof buf, "%.2f", value);
    return Field{name, buf, buf, status};
}
Field str(const char* name, const char* value, Uint32 status)
{
    return Field{name, value, jsonString(value), status};
}
Field u(const char* name, const OSSSysInfoUint& v)
{
    return num(name, v.value, v.status);
}
Field u64(const char* name, const OSSSysInfoUint64& v)
{
    return num(name, v.value, v.status);
}
Field s(const char* name, const OSSSysInfoStr& v)
{
    return str(name, v.value, v.status);
}

// A record's own text form.
template <class Record>
std::string textOf(const Record& record)
{
    typename Record::toStringParam param;
    param.version = OSS_CURRENT_VERSION;
    record.toString(&param);
    return param.buffer;
}

Section processor()
{
    Section sec("processor");
    OSSCPUInfo cpu;
    sec.rc = ossGetCPUInfo(&cpu);
    sec.values = {u("cpuCount", cpu.cpuCount),
                  u("cpuCountOnline", cpu.cpuCountOnline),
                  u("cpuCountConfigured", cpu.cpuCountConfigured),
                  u("speedMHz", cpu.speedMHz),
                  u("threadsPerCore", cpu.threadsPerCore),
                  u("coresPerPackage", cpu.coresPerPackage),
                  num("hasSSE41", cpu.hasSSE41, 0),
                  num("hasSSE42", cpu.hasSSE42, 0),
                  num("hasSSE4", cpu.hasSSE4, 0)};
    return sec;
}

Section memory()
{
    Section sec("memory");
    OSSMemInfo m;
    sec.rc = ossGetPhysMemInfo(&m);
    sec.values = {u("total", m.total), u("free", m.free), u("available", m.available),
                  u("addressable", m.addressable)};
    sec.textForm = textOf(m);
    return sec;
}

Section swap()
{
    Section sec("swap");
    OSSSwapInfo m;
    sec.rc = ossGetPhysSwapInfo(&m);
    sec.values = {u("total", m.total), u("free", m.free)};
    sec.textForm = textOf(m);
    return sec;
}

Section virtualMemory()
{
    Section sec("virtualMemory");
    OSSVirtMemInfo m;
    sec.rc = ossGetVirtualMemInfo(&m);
    sec.values = {u("total", m.total), u("reserved", m.reserved), u("available", m.available),
                  u("free", m.free)};
    sec.textForm = textOf(m);
    return sec;
}

Section operatingSystem()
{
    Section sec("operatingSystem");
    OSSOSInfo os;
    sec.rc = ossGetOSInfo(&os);
    sec.values = {s("osType", os.osType),
                  s("computerName", os.computerName),
                  s("osVersion", os.osVersion),
                  s("servicePack", os.servicePack),
                  s("cpuDescription", os.cpuDescription),
                  s("osRelease", os.osRelease),
                  str("description", os.description, 0),
                  str("platform", os.platform, 0)};
    return sec;
}

Section kernelIPC()
{
    Section sec("kernelIPC");
    OSSKernelIPCInfo k;
    sec.rc = ossGetKernelIPCInfo(&k);
    auto add = [&](const std::string& name, Sint64 value, Uint32 status) {
        sec.values.push_back(Field{name, std::to_string(value), std::to_string(value), status});
    };
    for (int i = 0; i < 7; ++i) add("limit" + std::to_string(i), k.limits[i].value, k.limits[i].status);
    for (int i = 0; i < 2; ++i)
        add("limit64_" + std::to_string(i), k.limits64[i].value, k.limits64[i].status);
    for (int i = 0; i < 14; ++i)
        add("moreLimit" + std::to_string(i), k.moreLimits[i].value, k.moreLimits[i].status);
    return sec;
}

Section caches()
{
    Section sec("caches");
    sec.isList = true;
    OSSCPUCacheTopologyParam p = {OSS_CURRENT_VERSION, 0, nullptr, 0, 0};
    sec.rc = ossGetCPUCacheTopology(&p);
    if (sec.rc == ECF_BUFFER_TOO_SMALL) {
        std::vector<OSSCPUCacheInfo> list(p.count);
        p.capacity = p.count;
        p.caches = list.data();
        sec.rc = ossGetCPUCacheTopology(&p);
        for (Uint32 i = 0; sec.rc == 0 && i < p.count; ++i) {
            const OSSCPUCacheInfo& c = list[i];
            char text[200];
            c.toString(text, sizeof text);
            sec.textForm += text;
            const char* type = c.type == OSS_CPU_CACHE_DATA          ? "Data"
                               : c.type == OSS_CPU_CACHE_UNIFIED     ? "Unified"
                               : c.type == OSS_CPU_CACHE_INSTRUCTION ? "Instruction"
                                                                     : "Unknown";
            sec.entries.push_back({num("level", c.level, 0), num("size", c.size, 0),
                                   num("numThreads", c.numThreads, 0), str("type", type, 0),
                                   num("lineSize", c.lineSize, 0)});
        }
    }
    return sec;
}

Section mounts()
{
    Section sec("mounts");
    sec.isList = true;
    OSSMountListing listing;
    sec.rc = listing.begin();
    if (sec.rc) return sec;
    const OSSMountListingGetParam get = {OSS_CURRENT_VERSION, 0};
    OSSMountInfo m;
    Uint32 rc;
    while ((rc = listing.getNext(&get, &m)) == 0) {
        sec.entries.push_back({str("mountPoint", m.mountPoint, 0), num("totalMB", m.totalMB, 0),
                               num("freeMB", m.freeMB, 0), str("fsName", m.fsName, 0),
                               str("volumeName", m.volumeName, 0)});
    }
    if (rc != ECF_FILE_EOF) sec.rc = rc;
    listing.end();
    return sec;
}

Section network()
{
    Section sec("networkInterfaces");
    sec.isList = true;
    OSSNetworkInterfaceListing listing;
    sec.rc = listing.begin();
    if (sec.rc) return sec;
    const OSSGetNetworkInterfaceInfoParam get = {OSS_CURRENT_VERSION, 0};
    OSSNetworkInterfaceInfo n;
    Uint32 rc;
    while ((rc = listing.getNext(&get, &n)) == 0) {
        sec.textForm += textOf(n);
        sec.entries.push_back({str("name", n.name, 0), num("packetsReceived", n.packetsReceived, 0),
                               num("packetsSent", n.packetsSent, 0),
                               num("packetsReceivedErrors", n.packetsReceivedErrors, 0),
                               num("packetsOutboundErrors", n.packetsOutboundErrors, 0),
                               num("bytesReceived", n.bytesReceived, 0),
                               num("bytesSent", n.bytesSent, 0)});
    }
    if (rc != ECF_FILE_EOF) sec.rc = rc;
    listing.end();
    return sec;
}

Section disk(const char* path)
{
    Section sec("disk");
    OSSDiskInfo d;
    OSSGetDiskInfoParam p = {OSS_CURRENT_VERSION, path, &d};
    sec.rc = ossGetDiskInfo(&p);
    sec.values = {str("path", path, 0),
                  u("blockSize", d.blockSize),
                  u64("totalSize", d.totalSize),
                  u64("freeSize", d.freeSize),
                  u("totalInodes", d.totalInodes),
                  s("fsName", d.fsName),
                  str("mountPoint", d.mountPoint.value, d.mountPoint.status),
                  u("fsid", d.fsid),
                  s("fsTypeName", d.fsTypeName),
                  s("dioCioMountOption", d.dioCioMountOption),
                  u("deviceType", d.deviceType),
                  u64("fsType", d.fsType)};
    if (sec.rc == 0 || sec.rc == ECF_PARTIAL_INFO) {
        sec.textForm = textOf(d);
    }
    return sec;
}

Section cpuUsage()
{
    Section sec("cpuUsage");
    OSSCPUUsageInfo c;
    c.interval = 100;
    sec.rc = ossGetCPUUsage(&c);
    sec.values = {num("interval", c.interval, 0),
                  dbl("processorTime", c.processorTime.value, c.processorTime.status),
                  dbl("userTime", c.userTime.value, c.userTime.status),
                  dbl("privilegedTime", c.privilegedTime.value, c.privilegedTime.status),
                  dbl("interruptTime", c.interruptTime.value, c.interruptTime.status),
                  dbl("idleTime", c.idleTime.value, c.idleTime.status)};
    return sec;
}

Section rawCpuUsage()
{
    Section sec("rawCpuUsage");
    OSSRawCPUUsageInfo r;
    sec.rc = ossGetRawCPUUsage(&r);
    sec.values = {u64("idle", r.idle), u64("system", r.system), u64("ioWait", r.ioWait),
                  u64("user", r.user)};
    if (sec.rc == 0) {
        sec.textForm = textOf(r);
    }
    return sec;
}

Section processUsage()
{
    Section sec("processCpuUsage");
    const Uint32 pid = GetCurrentProcessId();
    const OSSProcessRawCPUUsageParam p = {OSS_CURRENT_VERSION, &pid, 1};
    OSSProcessRawCPUUsageInfo r;
    sec.rc = ossGetProcessRawCPUUsage(&p, &r);
    if (sec.rc) {
        sec.values = {num("pid", pid, 0)};
        return sec;
    }
    sec.values = {num("pid", r.pid, 0), str("name", r.name, 0), u64("systemTime", r.systemTime),
                  u64("userTime", r.userTime)};
    sec.textForm = textOf(r);
    return sec;
}

std::string statusText(Uint32 status)
{
    char buf[64];
    const char* name = ecfErrorGetCodeName(status);
    snprintf(buf, sizeof buf, "unavailable (0x%08X%s%s)", status, name ? " " : "", name ? name : "");
    return buf;
}

void printFields(const Fields& fields)
{
    for (const Field& f : fields)
        printf("  %-22s = %s\n", f.name.c_str(),
               f.status ? statusText(f.status).c_str() : f.text.c_str());
}

void printText(const std::vector<Section>& sections)
{
    for (const Section& sec : sections) {
        printf("[%s]", sec.name.c_str());
        if (sec.rc) {
            const char* name = ecfErrorGetCodeName(sec.rc);
            printf(" rc 0x%08X %s", sec.rc, name ? name : "");
        }
        printf("\n");
        if (!sec.textForm.empty()) {
            printf("%s", sec.textForm.c_str());
            if (sec.textForm.back() != '\n') printf("\n");
            // Values the text form cannot mark.
            for (const Field& f : sec.values)
                if (f.status) printf("  (%s %s)\n", f.name.c_str(), statusText(f.status).c_str());
        } else if (sec.isList) {
            for (size_t i = 0; i < sec.entries.size(); ++i) {
                if (i) printf("  --\n");
                printFields(sec.entries[i]);
            }
            if (sec.entries.empty()) printf("  (none)\n");
        } else {
            printFields(sec.values);
        }
        printf("\n");
    }
}

std::string jsonFields(const Fields& fields)
{
    std::string out = "{";
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        if (i) out += ", ";
        out += jsonString(f.name.c_str()) + ": {\"value\": " + (f.status ? "null" : f.json) +
               ", \"status\": " + std::to_string(f.status) + "}";
    }
    return out + "}";
}

void printJson(const std::vector<Section>& sections)
{
    printf("{\n");
    for (size_t i = 0; i < sections.size(); ++i) {
        const Section& sec = sections[i];
        printf("  %s: {\"rc\": %u, ", jsonString(sec.name.c_str()).c_str(), (unsigned)sec.rc);
        if (sec.isList) {
            printf("\"entries\": [");
            for (size_t e = 0; e < sec.entries.size(); ++e)
                printf("%s%s", e ? ", " : "", jsonFields(sec.entries[e]).c_str());
            printf("]}");
        } else {
            printf("\"values\": %s}", jsonFields(sec.values).c_str());
        }
        printf("%s\n", i + 1 < sections.size() ? "," : "");
    }
    printf("}\n");
}

}  // namespace

int verbSysinfo(int argc, char** argv)
{
    bool json = false;
    const char* path = ".";
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            fputs(kHelp, stdout);
            return 0;
        }
        if (!strcmp(argv[i], "--json")) {
            json = true;
        } else if (argv[i][0] == '-') {
            fprintf(stderr, "ossetool sysinfo: unknown option '%s'\n", argv[i]);
            return 2;
        } else {
            path = argv[i];
        }
    }
    const std::vector<Section> sections = {processor(), memory(),   swap(),     virtualMemory(),
                                           operatingSystem(), kernelIPC(), caches(), mounts(),
                                           network(),
                                           disk(path), cpuUsage(), rawCpuUsage(), processUsage()};
    if (json) printJson(sections);
    else printText(sections);
    return 0;
}
