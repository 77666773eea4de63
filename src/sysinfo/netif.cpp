// The network interfaces with their traffic counters, sampled once by begin.
#include "sysinfo/sysinfo_internal.h"

#include "osse/mem.h"
#include "osse/strutil.h"

namespace {

using namespace osse_sysinfo;

constexpr Uint32 kBegin = OSS_FUNC_ID(OSS_FN_OSSNetworkInterfaceListing_begin);
constexpr Uint32 kEnd = OSS_FUNC_ID(OSS_FN_OSSNetworkInterfaceListing_end);
constexpr Uint32 kGetNext = OSS_FUNC_ID(OSS_FN_OSSNetworkInterfaceListing_getNext);
static_assert(kBegin == 0x081A00E7u && kEnd == 0x081A00E8u && kGetNext == 0x081A00E9u,
              "operation identifiers");

constexpr Uint32 kCounters = 6;
const char* const kPaths[kCounters] = {
    "\\Network Interface(*)\\Packets Received/sec",
    "\\Network Interface(*)\\Packets Sent/sec",
    "\\Network Interface(*)\\Packets Received Errors",
    "\\Network Interface(*)\\Packets Outbound Errors",
    "\\Network Interface(*)\\Bytes Received/sec",
    "\\Network Interface(*)\\Bytes Sent/sec",
};

struct CounterBlock {
    RawCounter counters[kCounters];
};

void releaseBlock(void*& block)
{
    if (!block) return;
    releaseRawCounters(static_cast<CounterBlock*>(block)->counters, kCounters);
    _ossMemFree(&block, 0, 0, __FILE__, __LINE__);
    block = nullptr;
}

}  // namespace

void OSSNetworkInterfaceListing::constructor()
{
    counters = nullptr;
    instanceCount = 0;
    cursor = 0;
    begun = 0;
}

void OSSNetworkInterfaceListing::destructor()
{
    releaseBlock(counters);
    instanceCount = 0;
    cursor = 0;
    begun = 0;
}

Uint32 OSSNetworkInterfaceListing::begin()
{
    OSSCallFrame f(kBegin);
    if (begun) return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 8220, OSS_LEVEL_ERROR);
    releaseBlock(counters);  // a sample left by a failed or misused listing
    void* block = nullptr;
    if (Uint32 rc = _ossMemAlloc(&block, 0, sizeof(CounterBlock), OSS_MEM_ALLOC_ZERO, __FILE__,
                                 __LINE__))
        return f.fail(rc, 8230, OSS_LEVEL_ERROR);
    Uint32 instances = 0;
    const Uint32 rc = collectRawCounters(kPaths, kCounters,
                                         static_cast<CounterBlock*>(block)->counters, &instances);
    if (rc) {
        // Nothing of a failed begin stays held.
        releaseBlock(block);
        f.log(8240, OSS_LEVEL_INFO, ossItemHex(rc));
        return f.ret(rc);
    }
    counters = block;
    instanceCount = instances;
    cursor = 0;
    begun = 1;
    return f.ret(0);
}

Uint32 OSSNetworkInterfaceListing::getNext(const OSSGetNetworkInterfaceInfoParam* param,
                                           OSSNetworkInterfaceInfo* info)
{
    OSSCallFrame f(kGetNext);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (Uint32 rc = f.checkParam(info)) return f.ret(rc);
    if (!begun || !counters) {
        releaseBlock(counters);
        instanceCount = 0;
        cursor = 0;
        return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 8861, OSS_LEVEL_ERROR);
    }
    const CounterBlock* block = static_cast<const CounterBlock*>(counters);
    const RawCounter& first = block->counters[0];
    if (cursor >= instanceCount || cursor >= first.count) return f.ret(ECF_FILE_EOF);

    Instance* ref = nullptr;
    Instance* other = nullptr;
    void* scratch = nullptr;
    Uint32 most = 0;
    for (Uint32 k = 0; k < kCounters; ++k)
        if (block->counters[k].count > most) most = block->counters[k].count;
    if (Uint32 rc = _ossMemAlloc(&scratch, 0, 2 * most * sizeof(Instance), 0, __FILE__, __LINE__))
        return f.fail(rc, 8870, OSS_LEVEL_ERROR);
    ref = static_cast<Instance*>(scratch);
    other = ref + most;
    instancesOf(first, ref);

    ossSnprintf(info->name, 101, "%s", ref[cursor].name ? ref[cursor].name : "");
    Uint64* const values[kCounters] = {&info->packetsReceived,       &info->packetsSent,
                                       &info->packetsReceivedErrors, &info->packetsOutboundErrors,
                                       &info->bytesReceived,         &info->bytesSent};
    for (Uint32 k = 0; k < kCounters; ++k) {
        const RawCounter& c = block->counters[k];
        // Each counter's array is its own: matched by name, never indexed past its end.
        instancesOf(c, other);
        const int at = k == 0 ? (int)cursor : matchInstance(ref, first.count, cursor, other, c.count);
        *values[k] = at < 0 ? 0 : rawValue(other[at].status, other[at].value);
    }
    _ossMemFree(&scratch, 0, 0, __FILE__, __LINE__);
    ++cursor;
    return f.ret(0);
}

Uint32 OSSNetworkInterfaceListing::end()
{
    OSSCallFrame f(kEnd);
    if (!begun) return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 8287, OSS_LEVEL_ERROR);
    releaseBlock(counters);
    instanceCount = 0;
    cursor = 0;
    begun = 0;
    return f.ret(0);
}

void OSSNetworkInterfaceInfo::toString(toStringParam* param) const
{
    if (!param || param->version < OSS_MIN_VERSION) return;
    ossSnprintf(param->buffer, sizeof param->buffer,
                "Network Interface Counters :\n  Interface Name          = %s\n"
                "  Packets Received        = %I64u\n  Packets Sent            = %I64u\n"
                "  Packets Receive Errors  = %I64u\n  Packets Send Errors     = %I64u\n"
                "  Bytes Received          = %I64u\n  Bytes Sent              = %I64u\n",
                name, packetsReceived, packetsSent, packetsReceivedErrors, packetsOutboundErrors,
                bytesReceived, bytesSent);
}
