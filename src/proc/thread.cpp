// Threads started through the C runtime, and slots of thread-local storage.
//
// A thread starts on a small start block (function and argument) allocated by the library
// allocator; the new thread owns it and releases it before it calls the function, and the
// creator releases it itself when the runtime could not start the thread.
#include <windows.h>

#include <errno.h>
#include <process.h>
#include <stdlib.h>

#include "osse/ecf.h"
#include "osse/mem.h"
#include "osse/thread.h"

#include "base/callframe.h"

namespace {

constexpr Uint32 kCreate = OSS_FUNC_ID(OSS_FN_OSSHThread_create);
constexpr Uint32 kWait = OSS_FUNC_ID(OSS_FN_OSSHThread_wait);
constexpr Uint32 kClose = OSS_FUNC_ID(OSS_FN_OSSHThread_close);
constexpr Uint32 kTsdCreate = OSS_FUNC_ID(OSS_FN_OSSHThreadSpecificData_create);
constexpr Uint32 kTsdDestroy = OSS_FUNC_ID(OSS_FN_OSSHThreadSpecificData_destroy);
constexpr Uint32 kTsdSet = OSS_FUNC_ID(OSS_FN_OSSHThreadSpecificData_set);
constexpr Uint32 kTsdGet = OSS_FUNC_ID(OSS_FN_OSSHThreadSpecificData_get);
constexpr Uint32 kTsdInnerCreate = OSS_FUNC_ID(OSS_FN_OSSHThreadSpecificDataInternal_create);
constexpr Uint32 kTsdInnerDestroy = OSS_FUNC_ID(OSS_FN_OSSHThreadSpecificDataInternal_destroy);
constexpr Uint32 kTsdInnerSet = OSS_FUNC_ID(OSS_FN_OSSHThreadSpecificDataInternal_set);
constexpr Uint32 kTsdInnerGet = OSS_FUNC_ID(OSS_FN_OSSHThreadSpecificDataInternal_get);

constexpr Uint32 kCallBeginThread = OSS_SYS_FUNC_ID(OSS_SYSFN__beginthreadex);
constexpr Uint32 kCallWait = OSS_SYS_FUNC_ID(OSS_SYSFN_WaitForSingleObject);
constexpr Uint32 kCallTlsAlloc = OSS_SYS_FUNC_ID(OSS_SYSFN_TlsAlloc);
constexpr Uint32 kCallTlsFree = OSS_SYS_FUNC_ID(OSS_SYSFN_TlsFree);
constexpr Uint32 kCallTlsGetValue = OSS_SYS_FUNC_ID(OSS_SYSFN_TlsGetValue);
constexpr Uint32 kCallTlsSetValue = OSS_SYS_FUNC_ID(OSS_SYSFN_TlsSetValue);

static_assert(kCreate == 0x081A005Bu && kWait == 0x081A005Cu && kClose == 0x081A005Du,
              "thread operation identifiers");
static_assert(kTsdCreate == 0x081A0063u && kTsdGet == 0x081A0066u &&
                  kTsdInnerCreate == 0x081A005Fu && kTsdInnerGet == 0x081A0062u,
              "thread-specific data identifiers");
static_assert(kCallBeginThread == 0x08140068u && kCallWait == 0x081400A6u &&
                  kCallTlsAlloc == 0x0814009Eu && kCallTlsFree == 0x0814009Fu &&
                  kCallTlsGetValue == 0x081400A0u && kCallTlsSetValue == 0x081400A1u,
              "failed-call identifiers");

struct StartBlock {
    void (*fn)(void*);
    void* arg;
};
static_assert(sizeof(StartBlock) == 8 || sizeof(void*) != 4, "the start block is 8 bytes");

unsigned __stdcall threadStart(void* p)
{
    StartBlock* block = (StartBlock*)p;
    void (*fn)(void*) = block->fn;
    void* arg = block->arg;
    OSS_MEM_FREE(&block);
    fn(arg);
    // Returning from a routine started by _beginthreadex ends the thread through
    // _endthreadex with this code, whatever the function computed.
    return 0;
}

// A refusal that is returned without a log record; the trace still shows it.
Uint32 quietFail(OSSCallFrame& f, Uint32 code, Uint32 probe)
{
    if (gtraceFrameOn()) gtraceFrameError(f.id(), probe, &code);
    return f.ret(code);
}

}  // namespace

extern "C" OSSE_API Uint32 ossThreadID(void)
{
    return GetCurrentThreadId();
}

extern "C" OSSE_API void ossThreadExit(void)
{
    _endthreadex(0);
}

// ---- OSSHThread ----------------------------------------------------------------------------

void OSSHThread::constructor()
{
    threadId = 0;
    handle = nullptr;
    created = 0;
    joinable = 0;
}

void OSSHThread::destructor()
{
    if (created) close();
}

Uint32 OSSHThread::create(void (*fn)(void*), void* arg, const OSSThreadParam* param,
                          unsigned long* newThreadId)
{
    OSSCallFrame f(kCreate);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (!fn) return f.fail(ECF_INVALID_PARAMETER, 20, OSS_LEVEL_ERROR);
    if (created) {
        return f.fail(ECF_THREAD_ALREADY_CREATED, 30, OSS_LEVEL_ERROR, ossItemUnsigned(threadId));
    }

    constructor();
    StartBlock* block = nullptr;
    if (Uint32 rc = OSS_MEM_ALLOC(&block, sizeof(StartBlock), 0)) {
        const Uint32 size = sizeof(StartBlock);
        return f.fail(rc, 90, OSS_LEVEL_ERROR, ossItemUnsigned(size));
    }
    block->fn = fn;
    block->arg = arg;

    unsigned id = 0;
    uintptr_t h = _beginthreadex(nullptr, param->stackSize, threadStart, block, 0, &id);
    if (h == 0) {
        // The runtime keeps the OS error of the failed thread creation; errno alone says less.
        DWORD e = GetLastError();
        if (e == 0) e = (DWORD)_doserrno;
        OSS_MEM_FREE(&block);
        return f.systemError(kCallBeginThread, e, 100, ossItemUnsigned(param->stackSize),
                             ossItemHex(param->flags));
    }
    threadId = id;
    handle = (void*)h;
    created = 1;
    joinable = (param->flags & OSS_THREAD_JOINABLE) ? 1 : 0;
    if (newThreadId) *newThreadId = id;
    return f.ret(OSS_OK);
}

Uint32 OSSHThread::wait()
{
    OSSCallFrame f(kWait);
    if (!created) return f.fail(ECF_THREAD_NOT_CREATED, 10, OSS_LEVEL_ERROR);
    if (!joinable) {
        return f.fail(ECF_THREAD_CANNOT_WAIT, 20, OSS_LEVEL_ERROR, ossItemUnsigned(threadId));
    }
    // Waited for at most once, whatever the outcome.
    joinable = 0;
    if (WaitForSingleObject(handle, INFINITE) == WAIT_FAILED) {
        DWORD e = GetLastError();
        return f.systemError(kCallWait, e, 50, ossItemHex(handle), ossItemUnsigned(threadId));
    }
    return f.ret(OSS_OK);
}

Uint32 OSSHThread::close()
{
    OSSCallFrame f(kClose);
    if (!created) return f.fail(ECF_THREAD_NOT_CREATED, 10, OSS_LEVEL_ERROR);
    if (joinable) {
        return f.fail(ECF_THREAD_MUST_WAIT, 20, OSS_LEVEL_ERROR, ossItemUnsigned(threadId));
    }
    CloseHandle(handle);
    constructor();
    return f.ret(OSS_OK);
}

// ---- OSSHThreadSpecificData ------------------------------------------------------------------
// Each operation runs an inner step with its own identifier, which does the OS call. An object
// that holds no slot is refused before any OS call: its index would name a slot of some other
// module, and TlsFree or TlsSetValue on it would damage that module's data.

namespace {

Uint32 tsdCreate(OSSHThreadSpecificData* d)
{
    OSSCallFrame f(kTsdInnerCreate);
    const DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) {
        DWORD e = GetLastError();
        return f.systemError(kCallTlsAlloc, e, 20);
    }
    d->index = index;
    d->created = 1;
    return f.ret(OSS_OK);
}

Uint32 tsdDestroy(OSSHThreadSpecificData* d)
{
    OSSCallFrame f(kTsdInnerDestroy);
    if (!d->created) {
        return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 10, OSS_LEVEL_ERROR,
                      ossItemUnsigned(d->index));
    }
    if (!TlsFree(d->index)) {
        DWORD e = GetLastError();
        return f.systemError(kCallTlsFree, e, 20, ossItemUnsigned(d->index));
    }
    d->created = 0;
    return f.ret(OSS_OK);
}

Uint32 tsdSet(OSSHThreadSpecificData* d, const void* value)
{
    OSSCallFrame f(kTsdInnerSet);
    if (!d->created) {
        return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 10, OSS_LEVEL_ERROR,
                      ossItemUnsigned(d->index));
    }
    if (!TlsSetValue(d->index, (void*)value)) {
        DWORD e = GetLastError();
        return f.systemError(kCallTlsSetValue, e, 20, ossItemUnsigned(d->index),
                             ossItemHex(value));
    }
    return f.ret(OSS_OK);
}

// Failures of get are not logged: a null value is an answer callers probe for.
Uint32 tsdGet(OSSHThreadSpecificData* d, void** value)
{
    OSSCallFrame f(kTsdInnerGet);
    if (!value) return f.fail(ECF_INVALID_PARAMETER, 1111, OSS_LEVEL_ERROR);
    if (!d->created) {
        *value = nullptr;
        return quietFail(f, ECF_INVALID_INVOCATION_SEQUENCE, 5);
    }
    void* v = TlsGetValue(d->index);
    *value = v;
    if (v) return f.ret(OSS_OK);
    // A slot never set, or set to null, reads as null with OS error 0 (cleared by the call).
    DWORD e = GetLastError();
    Uint32 level = 0;
    const Uint32 code = ossErrorMapSystem(f.id(), 10, kCallTlsGetValue, e, &level);
    return quietFail(f, code, 10);
}

}  // namespace

void OSSHThreadSpecificData::constructor()
{
    index = 0;
    created = 0;
}

void OSSHThreadSpecificData::destructor() {}

Uint32 OSSHThreadSpecificData::create()
{
    OSSCallFrame f(kTsdCreate);
    return f.ret(tsdCreate(this));
}

Uint32 OSSHThreadSpecificData::destroy()
{
    OSSCallFrame f(kTsdDestroy);
    return f.ret(tsdDestroy(this));
}

Uint32 OSSHThreadSpecificData::set(const void* value)
{
    OSSCallFrame f(kTsdSet);
    return f.ret(tsdSet(this, value));
}

Uint32 OSSHThreadSpecificData::get(void** value)
{
    OSSCallFrame f(kTsdGet);
    return f.ret(tsdGet(this, value));
}
