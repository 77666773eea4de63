// Trace control block: sizing, formatting, binding a process to it, switching the trace on and
// off, the options, and the per-process values stamped into every record.
#include "trace/gtrace_internal.h"

#include <stdlib.h>
#include <string.h>

using namespace osse::gtrace;

GTCB* g_pGTCB = nullptr;

namespace osse {
namespace gtrace {

ProcessState g_state;

}  // namespace gtrace
}  // namespace osse

namespace {

const char kEye[8] = GTRACE_EYECATCHER;

// Random-sleep state of this process.
bool g_randSeeded = false;
Uint32 g_randCounter = 1;

// Attached, then initialized.
OSSErr checkBound() {
    const GTCB* cb = g_pGTCB;
    if (cb == nullptr) return ECF_GTRACE_NOT_ATTACHED;
    if (cb->initialized == 0) return ECF_GTRACE_NOT_INITIALIZED;
    return OSS_OK;
}

bool isProfile(Uint32 mode) { return (mode & 0x88u) == GTRACE_MODE_PROFILE; }
bool isCoverage(Uint32 mode) { return (mode & 0x88u) == GTRACE_MODE_COVERAGE; }

// The flags the library keeps in step with the mode word (set, never cleared here).
void deriveModeFlags(GTraceOptions* o) {
    const Uint32 mode = o->mode;
    if (mode & GTRACE_MODE_PROFILE) o->flags |= GTRACE_FLAG_PROFILE_MODE;
    if (mode & GTRACE_MODE_RANDOM_SLEEP) o->flags |= GTRACE_FLAG_RANDOM_SLEEP;
    if (mode & GTRACE_MODE_COVERAGE) o->flags |= GTRACE_FLAG_COVERAGE_MODE;
}

}  // namespace

GTraceOptions::GTraceOptions() {
    memset(static_cast<void*>(this), 0, sizeof *this);
    traceMask.constructor();
}

extern "C" {

Uint32 gtraceGetAllocSize(Uint32 bufferSize) {
    const Uint32 ring = ramboGetAllocSize(bufferSize);
    return ring == 0 ? 0 : GTCB_SIZE + ring;
}

OSSErr gtraceInitialize(void* memory, GTraceOptions* options) {
    if (options == nullptr) return ECF_INVALID_PARAMETER;
    if (options->bufferSize < 0x80000u || options->bufferSize > 0x40000000u) {
        return ECF_GTRACE_INVALID_BUFFER_SIZE;
    }
    if (memory == nullptr) return ECF_INVALID_PARAMETER;
    const Uint32 mode = options->mode;
    if (isProfile(mode)) return profileInitialize(memory, options);
    if (isCoverage(mode)) return coverageInitialize(memory, options);

    Uint32 ringMode;
    if (mode & GTRACE_MODE_AUTODUMP) ringMode = 4;
    else if (mode & GTRACE_MODE_CIRCULAR) ringMode = 1;
    else if (mode & (GTRACE_MODE_LINEAR | GTRACE_MODE_RANDOM_SLEEP)) ringMode = 2;
    else return ECF_INVALID_PARAMETER;

    GTCB* cb = static_cast<GTCB*>(memory);
    memset(memory, 0, sizeof(GTCB));
    if (OSSErr rc = ramboInitialize(ringOf(cb), options->bufferSize, ringMode)) return rc;

    memcpy(cb->eyeCatcher, kEye, sizeof kEye);
    memcpy(static_cast<void*>(&cb->options), options, sizeof(GTraceOptions));
    deriveModeFlags(&cb->options);
    cb->enabled = 0;
    memcpy(cb->trailingEyeCatcher, kEye, sizeof kEye);
    cb->stopCounter = 1;
    // Last: a process that attached early sees a complete block once this is 1.
    __atomic_store_n(&cb->initialized, 1u, __ATOMIC_RELEASE);
    return OSS_OK;
}

OSSErr gtraceAttach(GTCB* block, Uint32 processId, GTraceAppCallBack appCallBack,
                    GTraceDisableCallBack disableCallBack,
                    GTracePreTraceCallBack preTraceCallBack) {
    if (block == nullptr) return ECF_INVALID_PARAMETER;
    // The timestamps of the records may come from the time-stamp counter: test for it again.
    ossTimeStampCounterTest();
    g_state.processId = processId;
    g_state.appCallBack = appCallBack;
    g_state.disableCallBack = disableCallBack;
    g_state.preTraceCallBack = preTraceCallBack;
    ramboSetCallBack(gtraceDisable);
    if ((block->options.mode & GTRACE_MODE_PROFILE) && (block->options.flags & GTRACE_FLAG_PROFILE_TIMING)) {
        profileAttach();
    }
    __atomic_store_n(&g_pGTCB, block, __ATOMIC_RELEASE);
    if (__atomic_load_n(&block->initialized, __ATOMIC_ACQUIRE) == 0) return OSS_OK;
    if (memcmp(block->eyeCatcher, kEye, sizeof kEye) != 0 ||
        memcmp(block->trailingEyeCatcher, kEye, sizeof kEye) != 0) {
        // Not a trace control block: leave the process unbound rather than let trace points
        // write through whatever this memory holds.
        __atomic_store_n(&g_pGTCB, static_cast<GTCB*>(nullptr), __ATOMIC_RELEASE);
        return ECF_INVALID_PARAMETER;
    }
    return OSS_OK;
}

OSSErr gtraceDetach(void) {
    __atomic_store_n(&g_pGTCB, static_cast<GTCB*>(nullptr), __ATOMIC_RELEASE);
    g_state.appCallBack = nullptr;
    g_state.disableCallBack = nullptr;
    g_state.preTraceCallBack = nullptr;
    return OSS_OK;
}

OSSErr gtraceEnable(void) {
    if (OSSErr rc = checkBound()) return rc;
    g_pGTCB->enabled = 1;
    return OSS_OK;
}

OSSErr gtraceDisable(void) {
    if (OSSErr rc = checkBound()) return rc;
    g_pGTCB->enabled = 0;
    if (GTraceDisableCallBack cb = g_state.disableCallBack) cb();
    return OSS_OK;
}

OSSErr gtraceGetOptions(GTraceOptions* out) {
    if (OSSErr rc = checkBound()) return rc;
    if (out == nullptr) return ECF_INVALID_PARAMETER;
    memcpy(static_cast<void*>(out), &g_pGTCB->options, sizeof(GTraceOptions));
    return OSS_OK;
}

OSSErr gtraceGetOptionsPtr(GTraceOptions** out) {
    if (OSSErr rc = checkBound()) return rc;
    if (out == nullptr) return ECF_INVALID_PARAMETER;
    *out = &g_pGTCB->options;
    return OSS_OK;
}

OSSErr gtraceSetOptions(GTraceOptions* options) {
    if (OSSErr rc = checkBound()) return rc;
    if (options == nullptr) return ECF_INVALID_PARAMETER;
    GTraceOptions* o = &g_pGTCB->options;
    if (o->mode & GTRACE_MODE_PROFILE) {
        options->flags &= ~(GTRACE_FLAG_TIMESTAMP | GTRACE_FLAG_PROFILE_TIMING);
    }
    // The flags word is stored once, with the mode's own bits already in it: a trace point
    // running meanwhile never sees the flags of a table mode without them.
    Uint32 flags = options->flags;
    if (o->mode & GTRACE_MODE_PROFILE) flags |= GTRACE_FLAG_PROFILE_MODE;
    if (o->mode & GTRACE_MODE_RANDOM_SLEEP) flags |= GTRACE_FLAG_RANDOM_SLEEP;
    if (o->mode & GTRACE_MODE_COVERAGE) flags |= GTRACE_FLAG_COVERAGE_MODE;
    const size_t from = offsetof(GTraceOptions, flags) + sizeof(Uint32);
    memcpy(reinterpret_cast<Uint8*>(o) + from, reinterpret_cast<const Uint8*>(options) + from,
           sizeof(GTraceOptions) - from);
    __atomic_store_n(&o->flags, flags, __ATOMIC_RELEASE);
    return OSS_OK;
}

OSSErr gtraceClear(void) {
    if (OSSErr rc = checkBound()) return rc;
    const Uint32 mode = g_pGTCB->options.mode;
    if (isProfile(mode)) {
        profileClear(g_pGTCB);
        return OSS_OK;
    }
    if (isCoverage(mode)) {
        coverageClear(g_pGTCB);
        return OSS_OK;
    }
    return ramboNewSequence(ringOf(g_pGTCB));
}

void gtraceSetProcessID(Uint32 processId) { g_state.processId = processId; }
Uint32 gtraceGetProcessID(void) { return g_state.processId; }
void gtraceSetFixedData1(Uint32 value) { g_state.fixedData1 = value; }
Uint32 gtraceGetFixedData1(void) { return g_state.fixedData1; }
void gtraceSetFixedData2(Uint32 value) { g_state.fixedData2 = value; }
Uint32 gtraceGetFixedData2(void) { return g_state.fixedData2; }
GTraceAppCallBack gtraceGetAppCallBackFnPtr(void) { return g_state.appCallBack; }
GTracePreTraceCallBack gtraceGetAppPreTraceCallBackFnPtr(void) {
    return g_state.preTraceCallBack;
}

void _gtraceRandSleep(void) {
    if (!g_randSeeded) {
        srand(1020);
        g_randSeeded = true;
    }
    const double x = rand() / 32768.0;
    const GTCB* cb = g_pGTCB;
    const Uint32 period = cb != nullptr ? cb->options.stopRcOrSleepPeriod : 0;
    if (period > g_randCounter) {
        ++g_randCounter;
        return;
    }
    ossSleep(static_cast<Uint32>(x * x * x * x * 200.0));
    g_randCounter = 1;
}

}  // extern "C"
