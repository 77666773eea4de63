// The performance-counter helper (pdh.dll), bound at its first use, and the raw counter step
// that the network listing and the raw usage queries share.
//
// Under some PDH implementations the raw-array call exists only as a stub that ends the
// process; it is therefore called only on counters whose add succeeded, which such
// implementations refuse for every counter they cannot sample.
#include "sysinfo/sysinfo_internal.h"

#include "osse/latch.h"
#include "osse/mem.h"

namespace osse_sysinfo {

namespace {

OSSLatch g_pdhLatch;  // static storage: free at load
volatile Uint8 g_pdhBound = 0;
PdhApi g_pdh;
bool g_pdhComplete = false;

constexpr Uint32 kCollectRawCounterArrays = OSS_FUNC_ID(OSS_FN_ossCollectRawCounterArrays);
static_assert(kCollectRawCounterArrays == 0x081A00EAu, "operation identifier");

template <class F>
void bind(HMODULE module, const char* name, F*& fn)
{
    fn = reinterpret_cast<F*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

const PdhApi* pdhApi()
{
    if (!__atomic_load_n(&g_pdhBound, __ATOMIC_ACQUIRE)) {
        OSSLatchGuard hold(g_pdhLatch);
        if (!g_pdhBound) {
            // Kept loaded for the life of the process: the counter queries are sampled again
            // and again, and unloading at process exit is not needed.
            if (HMODULE m = LoadLibraryA("pdh.dll")) {
                bind(m, "PdhOpenQueryA", g_pdh.openQuery);
                bind(m, "PdhAddCounterA", g_pdh.addCounter);
                bind(m, "PdhCollectQueryData", g_pdh.collect);
                bind(m, "PdhGetFormattedCounterValue", g_pdh.formatted);
                bind(m, "PdhGetRawCounterArrayA", g_pdh.rawArray);
                bind(m, "PdhCloseQuery", g_pdh.closeQuery);
                g_pdhComplete = g_pdh.openQuery && g_pdh.addCounter && g_pdh.collect &&
                                g_pdh.formatted && g_pdh.rawArray && g_pdh.closeQuery;
            }
            __atomic_store_n(&g_pdhBound, Uint8(1), __ATOMIC_RELEASE);
        }
    }
    return g_pdhComplete ? &g_pdh : nullptr;
}

Uint32 pdhFailure(OSSCallFrame& f, Uint32 failedCall, Uint32 status, Uint32 probe, const char* path)
{
    Uint32 rc;
    if (path) {
        rc = ossSystemErrorHandler(f.id(), failedCall, status, probe, 5, OSS_SEH_NO_ANALYSIS,
                                   &f.ctx, 1, ossItemString(path));
    } else {
        rc = ossSystemErrorHandler(f.id(), failedCall, status, probe, 5, OSS_SEH_NO_ANALYSIS,
                                   &f.ctx, 0);
    }
    if (gtraceFrameOn()) gtraceFrameError(f.id(), probe, &rc);
    return f.ret(rc);
}

void releaseRawCounters(RawCounter* counters, Uint32 count)
{
    for (Uint32 i = 0; i < count; ++i) {
        if (counters[i].items) {
            void* p = counters[i].items;
            _ossMemFree(&p, 0, 0, __FILE__, __LINE__);
        }
        counters[i].items = nullptr;
        counters[i].count = 0;
    }
}

Uint32 collectRawCounters(const char* const* paths, Uint32 count, RawCounter* counters,
                          Uint32* instances)
{
    OSSCallFrame f(kCollectRawCounterArrays);
    for (Uint32 i = 0; i < count; ++i) counters[i] = RawCounter{0, nullptr};
    *instances = 0;
    const PdhApi* pdh = pdhApi();
    if (!pdh) return f.fail(ECF_NOT_SUPPORTED, 5, OSS_LEVEL_INFO, ossItemString("pdh.dll"));

    PDH_HQUERY query = nullptr;
    PDH_STATUS s = pdh->openQuery(nullptr, 0, &query);
    if (s != ERROR_SUCCESS) return pdhFailure(f, kCallPdhOpenQuery, (Uint32)s, 10);

    Uint32 rc = 0;
    PDH_HCOUNTER handles[8] = {};
    if (count > 8) {
        rc = f.fail(ECF_INVALID_PARAMETER, 15, OSS_LEVEL_ERROR, ossItemUnsigned(count));
    }
    for (Uint32 i = 0; rc == 0 && i < count; ++i) {
        s = pdh->addCounter(query, paths[i], 0, &handles[i]);
        if (s != ERROR_SUCCESS) rc = pdhFailure(f, kCallPdhAddCounter, (Uint32)s, 20, paths[i]);
    }
    if (rc == 0) {
        s = pdh->collect(query);
        if (s != ERROR_SUCCESS) rc = pdhFailure(f, kCallPdhCollectQueryData, (Uint32)s, 30);
    }
    for (Uint32 i = 0; rc == 0 && i < count; ++i) {
        DWORD size = 0, items = 0;
        s = pdh->rawArray(handles[i], &size, &items, nullptr);
        if (s != (PDH_STATUS)PDH_MORE_DATA && s != ERROR_SUCCESS) {
            rc = pdhFailure(f, kCallPdhGetRawCounterArray, (Uint32)s, 40, paths[i]);
            break;
        }
        if (size == 0 || items == 0) continue;  // no instances
        void* buffer = nullptr;
        if (Uint32 arc = _ossMemAlloc(&buffer, 0, size, 0, __FILE__, __LINE__)) {
            rc = f.fail(arc, 50, OSS_LEVEL_ERROR, ossItemUnsigned(size));
            break;
        }
        counters[i].items = static_cast<PDH_RAW_COUNTER_ITEM_A*>(buffer);
        s = pdh->rawArray(handles[i], &size, &items, counters[i].items);
        if (s != ERROR_SUCCESS) {
            rc = pdhFailure(f, kCallPdhGetRawCounterArray, (Uint32)s, 60, paths[i]);
            break;
        }
        counters[i].count = items;
    }
    // The instance names live in the arrays we own, so the query can go now.
    s = pdh->closeQuery(query);
    if (s != ERROR_SUCCESS && rc == 0) rc = pdhFailure(f, kCallPdhCloseQuery, (Uint32)s, 70);
    if (rc != 0) {
        releaseRawCounters(counters, count);
        return rc;
    }
    *instances = count ? counters[0].count : 0;
    return f.ret(0);
}

}  // namespace osse_sysinfo
