// Waitpost: a Win32 event plus an 8-byte core and a payload area in memory all parties reach.
// Posters copy the payload in under the core's latch (unless the waitpost was made unguarded)
// and set the event; waiters copy it out after waking.
//
// The owner's destroy clears the core before it wakes the event, so that every waiter blocked
// at that moment returns ECF_WAITPOST_NOT_INITIALIZED instead of sleeping on an event nobody
// will set again. A woken waiter of an auto-reset waitpost passes the wake on to the next one.
#include <windows.h>

#include <string.h>

#include "osse/ecf.h"
#include "osse/ipc.h"

#include "base/callframe.h"
#include "ipc/ipc_internal.h"
#include "ipc/ipc_wait.h"

namespace {

constexpr Uint32 kCreate = OSS_FUNC_ID(OSS_FN_OSSHIPCWaitpost_create);
constexpr Uint32 kOpen = OSS_FUNC_ID(OSS_FN_OSSHIPCWaitpost_open);
constexpr Uint32 kClose = OSS_FUNC_ID(OSS_FN_OSSHIPCWaitpost_close);
constexpr Uint32 kDestroy = OSS_FUNC_ID(OSS_FN_OSSHIPCWaitpost_destroy);
constexpr Uint32 kWait = OSS_FUNC_ID(OSS_FN_OSSHIPCWaitpost_wait);
constexpr Uint32 kPost = OSS_FUNC_ID(OSS_FN_OSSHIPCWaitpost_post);
constexpr Uint32 kReset = OSS_FUNC_ID(OSS_FN_OSSHIPCWaitpost_reset);

constexpr Uint32 kCallCloseHandle = OSS_SYS_FUNC_ID(OSS_SYSFN_CloseHandle);
constexpr Uint32 kCallCreateEvent = OSS_SYS_FUNC_ID(OSS_SYSFN_CreateEvent);
constexpr Uint32 kCallOpenEvent = OSS_SYS_FUNC_ID(OSS_SYSFN_OpenEvent);
constexpr Uint32 kCallSetEvent = OSS_SYS_FUNC_ID(OSS_SYSFN_SetEvent);
constexpr Uint32 kCallResetEvent = OSS_SYS_FUNC_ID(OSS_SYSFN_ResetEvent);
constexpr Uint32 kCallWaitForSingleObject = OSS_SYS_FUNC_ID(OSS_SYSFN_WaitForSingleObject);

static_assert(kCreate == 0x081A004Du && kOpen == 0x081A004Fu && kClose == 0x081A0050u &&
                  kDestroy == 0x081A004Eu && kWait == 0x081A0051u && kPost == 0x081A0052u &&
                  kReset == 0x081A0053u,
              "operation identifiers");
static_assert(kCallCloseHandle == 0x08140069u && kCallCreateEvent == 0x0814006Cu &&
                  kCallOpenEvent == 0x0814008Eu && kCallSetEvent == 0x08140098u &&
                  kCallResetEvent == 0x08140096u && kCallWaitForSingleObject == 0x081400A6u,
              "failed-call identifiers");

constexpr Uint32 kValidBits = OSS_WAITPOST_STATE_NAMED | OSS_WAITPOST_STATE_PRIVATE;

Uint32 coreState(const OSSIPCWaitpostCore* core)
{
    return core ? __atomic_load_n(&core->state, __ATOMIC_ACQUIRE) : 0;
}

bool valid(const OSSIPCWaitpostCore* core)
{
    return (coreState(core) & kValidBits) != 0;
}

Uint32 notInitialized(OSSCallFrame& f, const OSSIPCWaitpostCore* core, Uint32 probe)
{
    const Uint32 state = coreState(core);
    return f.fail(ECF_WAITPOST_NOT_INITIALIZED, probe, OSS_LEVEL_ERROR, ossItemHex(state));
}

// Payload copies: whole under the core latch unless the waitpost is unguarded.
void copyPayload(OSSIPCWaitpostCore* core, void* to, const void* from, Uint32 size)
{
    if (!size) return;
    if (core->unguarded) {
        memcpy(to, from, size);
        return;
    }
    OSSLatchGuard hold(core->latch);
    memcpy(to, from, size);
}

}  // namespace

void OSSHIPCWaitpost::constructor()
{
    core = nullptr;
    data = nullptr;
    dataSize = 0;
    event = INVALID_HANDLE_VALUE;
}

// The reset type of an event this create did not make: another party still holds the event of
// a destroyed waitpost of the same name. -1 when the system cannot say.
int existingEventIsAutoReset(HANDLE h)
{
    struct EventBasicInformation {
        int type;  // 0 manual reset (notification), 1 auto reset (synchronisation)
        LONG state;
    };
    using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static Query query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryEvent")));
    EventBasicInformation info = {};
    if (!query || query(h, 0, &info, sizeof info, nullptr) != 0) return -1;
    return info.type == 1;
}

Uint32 OSSHIPCWaitpost::create(const OSSIPCWaitpostCreateParam* param)
{
    OSSCallFrame f(kCreate);
    if (Uint32 rc = f.checkParam(param)) return rc;
    if (Uint32 rc = f.checkPointer(param->core)) return rc;
    if (param->dataSize && !param->data) return f.checkPointer(param->data);

    OSSIPCWaitpostCore* c = param->core;
    memset(c, 0, sizeof *c);
    if (param->mode == OSS_WAITPOST_UNGUARDED) {
        c->unguarded = 1;
    } else {
        c->unguarded = 0;
        c->latch.init();
    }
    const bool autoReset = (param->mode & OSS_WAITPOST_AUTO_RESET) != 0;
    const bool named = param->resId != nullptr;
    const char* name = named ? param->resId->name : nullptr;
    HANDLE h;
    if (named) {
        SECURITY_DESCRIPTOR sd;
        SECURITY_ATTRIBUTES sa;
        if (Uint32 rc = ossIPCSecurityAttributes(&sd, &sa)) {
            return f.innerError(0x081A0088u, rc, 120, rc, ossItemHex(param->mode),
                                ossItemString(name));
        }
        h = CreateEventA(&sa, autoReset ? FALSE : TRUE, FALSE, name);
        if (h && GetLastError() == ERROR_ALREADY_EXISTS) {
            // The event outlived an earlier waitpost of this name (destroy sets it for the
            // waiters it wakes): it keeps its old type and state. A type other than the one
            // asked for is refused; the state is cleared, so a new waitpost starts not posted.
            const int wasAuto = existingEventIsAutoReset(h);
            if (wasAuto >= 0 && (wasAuto != 0) != autoReset) {
                CloseHandle(h);
                return f.fail(ECF_EXISTS, 135, OSS_LEVEL_ERROR, ossItemHex(param->mode),
                              ossItemString(name));
            }
            ResetEvent(h);
        }
    } else {
        h = CreateEventA(nullptr, autoReset ? FALSE : TRUE, FALSE, nullptr);
    }
    if (!h) {
        return f.systemError(kCallCreateEvent, GetLastError(), 130, ossItemHex(param->mode),
                             ossItemString(name));
    }
    core = c;
    data = param->data;
    dataSize = param->dataSize;
    event = h;
    const Uint32 state = (autoReset ? OSS_WAITPOST_STATE_AUTO_RESET : 0u) |
                         (named ? OSS_WAITPOST_STATE_NAMED : OSS_WAITPOST_STATE_PRIVATE);
    __atomic_store_n(&c->state, state, __ATOMIC_RELEASE);
    return f.ret(0);
}

Uint32 OSSHIPCWaitpost::open(const OSSIPCWaitpostOpenParam* param)
{
    OSSCallFrame f(kOpen);
    if (Uint32 rc = f.checkParam(param)) return rc;
    if (Uint32 rc = f.checkPointer(param->core)) return rc;
    if (Uint32 rc = f.checkPointer(param->resId)) return rc;
    if (param->dataSize && !param->data) return f.checkPointer(param->data);
    if (!valid(param->core)) return notInitialized(f, param->core, 30);
    HANDLE h = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, param->resId->name);
    if (!h) {
        return f.systemError(kCallOpenEvent, GetLastError(), 40,
                             ossItemString(param->resId->name));
    }
    core = param->core;
    data = param->data;
    dataSize = param->dataSize;
    event = h;
    return f.ret(0);
}

Uint32 OSSHIPCWaitpost::close()
{
    OSSCallFrame f(kClose);
    // After the owner's destroy the core says "not initialised", but this party's event
    // handle is still open: close it all the same, or it would leak.
    const bool wasValid = valid(core);
    if (event != INVALID_HANDLE_VALUE && event != nullptr) {
        if (!CloseHandle(event)) {
            if (!wasValid) return notInitialized(f, core, 10);
            f.ctx.setTargetFileHandle(event);
            return f.systemError(kCallCloseHandle, GetLastError(), 20, ossItemHex(event));
        }
    }
    const OSSIPCWaitpostCore* c = core;
    constructor();
    if (!wasValid) return notInitialized(f, c, 10);
    return f.ret(0);
}

Uint32 OSSHIPCWaitpost::destroy()
{
    OSSCallFrame f(kDestroy);
    if (!valid(core)) {
        // A second destroy, or one by a party whose owner already destroyed: still give the
        // event handle back.
        if (event != INVALID_HANDLE_VALUE && event != nullptr) CloseHandle(event);
        const OSSIPCWaitpostCore* c = core;
        constructor();
        return notInitialized(f, c, 10);
    }
    // Every party now sees the waitpost as not initialised; then wake whoever is blocked so
    // that they find out.
    core->unguarded = 0;
    __atomic_store_n(&core->state, 0u, __ATOMIC_RELEASE);
    Uint32 rc = 0;
    if (event != INVALID_HANDLE_VALUE && event != nullptr) {
        SetEvent(event);
        if (!CloseHandle(event)) {
            f.ctx.setTargetFileHandle(event);
            rc = f.systemError(kCallCloseHandle, GetLastError(), 40, ossItemHex(event));
        }
    }
    constructor();
    return f.ret(rc);
}

Uint32 OSSHIPCWaitpost::wait(const OSSIPCWaitpostWaitParam* param, void* out)
{
    OSSCallFrame f(kWait);
    if (Uint32 rc = f.checkParam(param)) return rc;
    // Threads of one process may share this object with its owner, whose destroy resets it:
    // work on copies.
    OSSIPCWaitpostCore* const c = core;
    const HANDLE ev = event;
    if (!valid(c)) return notInitialized(f, c, 20);

    const DWORD r = WaitForSingleObject(ev, param->timeout);
    const DWORD err = GetLastError();
    if (!valid(c)) {
        // Destroyed while this party waited. Pass an auto-reset wake on to the next waiter.
        if (r == WAIT_OBJECT_0) SetEvent(ev);
        return notInitialized(f, c, 20);
    }
    const osse_ipc::WaitVerdict v = osse_ipc::waitpostWaitVerdict(r, param->timeout);
    if (v.osError) {
        return f.systemError(kCallWaitForSingleObject, err, v.probe, ossItemHex(ev),
                             ossItemUnsigned(param->timeout));
    }
    if (v.code == 0 || v.code == ECF_WAITPOST_NOT_POSTED) {
        if (out) copyPayload(c, out, data, dataSize);
        if (v.code == 0) return f.ret(0);
        return f.passOn(v.code, v.probe);
    }
    return f.fail(v.code, v.probe, OSS_LEVEL_ERROR, ossItemHex(ev),
                  ossItemUnsigned(param->timeout));
}

Uint32 OSSHIPCWaitpost::post(const void* in)
{
    OSSCallFrame f(kPost);
    if (!valid(core)) return notInitialized(f, core, 10);
    if (in) copyPayload(core, data, in, dataSize);
    if (!SetEvent(event)) {
        return f.systemError(kCallSetEvent, GetLastError(), 70, ossItemHex(event));
    }
    return f.ret(0);
}

Uint32 OSSHIPCWaitpost::reset()
{
    OSSCallFrame f(kReset);
    if (!valid(core)) return notInitialized(f, core, 10);
    if (!ResetEvent(event)) {
        return f.systemError(kCallResetEvent, GetLastError(), 50, ossItemHex(event));
    }
    return f.ret(0);
}
