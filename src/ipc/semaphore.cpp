// Semaphores: one named Win32 semaphore per object, maximum count 32767, posted one unit at a
// time. The classic class takes a name made by the caller; the extended one makes its own from
// a key (id 120, the same name an extended segment of that key gets, so the two cannot both
// exist: they share the kernel's name space).
#include <windows.h>

#include <string.h>

#include "osse/ecf.h"
#include "osse/ipc.h"

#include "base/callframe.h"
#include "ipc/ipc_internal.h"
#include "ipc/ipc_wait.h"

namespace {

constexpr Uint32 kCreate = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_create);
constexpr Uint32 kAttach = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_attach);
constexpr Uint32 kDetach = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_detach);
constexpr Uint32 kDestroy = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_destroy);
constexpr Uint32 kPost = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_post);
constexpr Uint32 kWait = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_wait);
constexpr Uint32 kAuthorize = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_authorize);
constexpr Uint32 kExCreate = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphoreEx_create);
constexpr Uint32 kExDetach = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphoreEx_detach);
constexpr Uint32 kExPost = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphoreEx_post);
constexpr Uint32 kExWait = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphoreEx_wait);

constexpr Uint32 kCallCloseHandle = OSS_SYS_FUNC_ID(OSS_SYSFN_CloseHandle);
constexpr Uint32 kCallCreateSemaphore = OSS_SYS_FUNC_ID(OSS_SYSFN_CreateSemaphore);
constexpr Uint32 kCallOpenSemaphore = OSS_SYS_FUNC_ID(OSS_SYSFN_OpenSemaphore);
constexpr Uint32 kCallReleaseSemaphore = OSS_SYS_FUNC_ID(OSS_SYSFN_ReleaseSemaphore);
constexpr Uint32 kCallWaitForSingleObject = OSS_SYS_FUNC_ID(OSS_SYSFN_WaitForSingleObject);

static_assert(kCreate == 0x081A003Au && kAttach == 0x081A003Cu && kDetach == 0x081A003Du &&
                  kDestroy == 0x081A003Bu && kPost == 0x081A003Eu && kWait == 0x081A003Fu &&
                  kAuthorize == 0x081A0040u && kExCreate == 0x081A00CDu &&
                  kExDetach == 0x081A00CFu && kExPost == 0x081A00D0u && kExWait == 0x081A00D1u,
              "operation identifiers");
static_assert(kCallCloseHandle == 0x08140069u && kCallCreateSemaphore == 0x08140070u &&
                  kCallOpenSemaphore == 0x08140091u && kCallReleaseSemaphore == 0x08140094u &&
                  kCallWaitForSingleObject == 0x081400A6u,
              "failed-call identifiers");

constexpr LONG kMaxCount = OSS_IPC_SEM_MAX_COUNT;
constexpr size_t kExKeyMax = 292;

// Creates the named semaphore. A handle that comes with ERROR_ALREADY_EXISTS (the existing
// object) or with any other last error is closed, so a failed create holds nothing.
Uint32 createSemaphore(OSSCallFrame& f, const SECURITY_ATTRIBUTES* sa, Uint32 initialCount,
                       const char* name, HANDLE* out, Uint32* probe)
{
    *out = INVALID_HANDLE_VALUE;
    SetLastError(0);
    HANDLE h = CreateSemaphoreA((SECURITY_ATTRIBUTES*)sa, (LONG)initialCount, kMaxCount, name);
    const DWORD err = GetLastError();
    if (h && err == 0) {
        *out = h;
        return 0;
    }
    *probe = !h ? 80 : err == ERROR_ALREADY_EXISTS ? 90 : 100;
    if (h) CloseHandle(h);
    const Uint32 maxCount = kMaxCount;
    return f.systemError(kCallCreateSemaphore, err, *probe, ossItemUnsigned(initialCount),
                         ossItemUnsigned(maxCount), ossItemString(name));
}

// The wait of both classes; `timeoutCode` is what an expired wait returns.
Uint32 waitSemaphore(OSSCallFrame& f, const void* self, HANDLE h, Uint32 timeout,
                     Uint32 timeoutCode, bool quiet)
{
    const DWORD r = WaitForSingleObject(h, timeout);
    const osse_ipc::WaitVerdict v = osse_ipc::semaphoreWaitVerdict(r, timeoutCode, quiet);
    if (v.osError) {
        const DWORD err = GetLastError();
        if (!v.log) return f.mapError(kCallWaitForSingleObject, err, v.probe);
        return f.systemError(kCallWaitForSingleObject, err, v.probe, ossItemHex(self),
                             ossItemUnsigned(timeout));
    }
    if (v.code == 0) return f.ret(0);
    if (!v.log) return f.passOn(v.code, v.probe);
    return f.fail(v.code, v.probe, OSS_LEVEL_ERROR, ossItemHex(self), ossItemUnsigned(timeout));
}

// A handle of none is the current-process pseudo-handle to the OS: waiting on it would never
// end, and posting it would fail with a misleading code.
Uint32 refuseDetached(OSSCallFrame& f, const void* self, Uint32 probe)
{
    return f.fail(ECF_INVALID_HANDLE, probe, OSS_LEVEL_ERROR, ossItemHex(self));
}

bool validExKey(const char* key)
{
    if (!key) return false;
    const size_t n = strnlen(key, kExKeyMax + 1);
    return n >= 1 && n <= kExKeyMax && !strchr(key, '\\');
}

}  // namespace

// ---- Classic semaphore ---------------------------------------------------------------------

void OSSHIPCSemaphore::constructor()
{
    handle = INVALID_HANDLE_VALUE;
}

bool OSSHIPCSemaphore::isAttached() const
{
    return handle != INVALID_HANDLE_VALUE;
}

Uint32 OSSHIPCSemaphore::create(const OSSIPCSemaphoreCreateParam* param)
{
    OSSCallFrame f(kCreate);
    if (Uint32 rc = f.checkParam(param)) return rc;
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa;
    if (Uint32 rc = ossIPCSecurityAttributes(&sd, &sa)) {
        handle = INVALID_HANDLE_VALUE;
        return f.passOn(rc, 70);
    }
    Uint32 probe = 0;
    HANDLE h;
    const Uint32 rc = createSemaphore(f, &sa, param->initialCount, param->resId.name, &h, &probe);
    handle = h;
    return f.ret(rc);
}

Uint32 OSSHIPCSemaphore::attach(const OSSIPCResID* resId)
{
    OSSCallFrame f(kAttach);
    if (Uint32 rc = f.checkPointer(resId)) return rc;
    HANDLE h = OpenSemaphoreA(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, resId->name);
    if (!h) {
        handle = INVALID_HANDLE_VALUE;
        return f.systemError(kCallOpenSemaphore, GetLastError(), 40, ossItemString(resId->name));
    }
    handle = h;
    return f.ret(0);
}

namespace {

Uint32 detachSemaphore(OSSCallFrame& f, OSSHIPCSemaphore* s)
{
    Uint32 rc = 0;
    if (s->handle != INVALID_HANDLE_VALUE && !CloseHandle(s->handle)) {
        f.ctx.setTargetFileHandle(s->handle);
        rc = f.systemError(kCallCloseHandle, GetLastError(), 30, ossItemHex(s->handle));
    }
    s->handle = INVALID_HANDLE_VALUE;
    return f.ret(rc);
}

}  // namespace

Uint32 OSSHIPCSemaphore::detach()
{
    OSSCallFrame f(kDetach);
    return detachSemaphore(f, this);
}

Uint32 OSSHIPCSemaphore::destroy()
{
    OSSCallFrame f(kDestroy);
    return detachSemaphore(f, this);
}

Uint32 OSSHIPCSemaphore::post(const OSSIPCSemaphoreWaitParam*)
{
    return post();
}

Uint32 OSSHIPCSemaphore::post()
{
    OSSCallFrame f(kPost);
    if (!isAttached()) return refuseDetached(f, this, 30);
    if (!ReleaseSemaphore(handle, 1, nullptr)) {
        return f.systemError(kCallReleaseSemaphore, GetLastError(), 40, ossItemHex(handle));
    }
    return f.ret(0);
}

Uint32 OSSHIPCSemaphore::wait(const OSSIPCSemaphoreWaitParam* param)
{
    OSSCallFrame f(kWait);
    if (Uint32 rc = f.checkParam(param)) return rc;
    if (!isAttached()) return refuseDetached(f, this, 80);
    return waitSemaphore(f, this, handle, param->timeout, ECF_TIMEOUT, false);
}

Uint32 OSSHIPCSemaphore::authorize(const OSSIPCSecurityParam* param)
{
    OSSCallFrame f(kAuthorize);
    if (Uint32 rc = f.checkParam(param)) return rc;
    return f.ret(0);
}

// ---- Extended semaphore --------------------------------------------------------------------

void OSSHIPCSemaphoreEx::reset()
{
    handle = INVALID_HANDLE_VALUE;
    memset(name, 0, sizeof name);
}

bool OSSHIPCSemaphoreEx::isAttached() const
{
    return handle != INVALID_HANDLE_VALUE;
}

Uint32 OSSHIPCSemaphoreEx::create(const OSSIPCSemaphoreExCreateParam* param)
{
    OSSCallFrame f(kExCreate);
    if (Uint32 rc = f.checkParam(param)) return rc;

    Uint32 rc = 0;
    Uint32 probe = 0;
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa;
    if (isAttached()) {
        // The object stays as it was: it still holds a semaphore its owner will detach.
        return f.fail(ECF_INVALID_INVOCATION_SEQUENCE, 20, OSS_LEVEL_ERROR,
                      ossItemString(param->key), ossItemString(name));
    }
    if (!validExKey(param->key) || param->semaphoreCount == 0) {
        probe = 30;
        rc = ECF_INVALID_PARAMETER;
    } else if ((rc = ossIPCSecurityAttributes(&sd, &sa)) != 0) {
        probe = 70;
    } else {
        OSSIPCGetResIDParam np;
        np.path = param->key;
        np.id = 120;
        np.local = 0;
        OSSIPCResID id;
        // The name maker refuses a key that would not fit whole, rather than cutting it.
        if ((rc = ossIPCGetResID(&np, &id)) != 0) {
            probe = 50;
        } else {
            memcpy(name, id.name, sizeof id.name);
            HANDLE h;
            rc = createSemaphore(f, &sa, param->initialCount, name, &h, &probe);
            if (!rc) {
                handle = h;
                return f.ret(0);
            }
        }
    }
    f.fail(rc, probe, OSS_LEVEL_ERROR, ossItemString(param->key), ossItemHex(param->auxValue),
           ossItemUnsigned(param->semaphoreCount), ossItemHex(param->auxValue2),
           ossItemString(name));
    reset();
    return f.ret(rc);
}

Uint32 OSSHIPCSemaphoreEx::detach(const OSSIPCSemaphoreExDetachParam* param)
{
    OSSCallFrame f(kExDetach);
    if (Uint32 rc = f.checkParam(param)) return rc;
    if (!isAttached()) return f.passOn(ECF_INVALID_INVOCATION_SEQUENCE, 30);
    Uint32 rc = 0;
    if (!CloseHandle(handle)) {
        f.ctx.setTargetFileHandle(handle);
        rc = f.systemError(kCallCloseHandle, GetLastError(), 40, ossItemHex(handle));
    }
    handle = INVALID_HANDLE_VALUE;
    return f.ret(rc);
}

Uint32 OSSHIPCSemaphoreEx::destroy(const OSSIPCSemaphoreExDestroyParam*)
{
    // Forgetting an open handle would leak it, and the semaphore would outlive its owner.
    if (isAttached()) CloseHandle(handle);
    reset();
    return 0;
}

Uint32 OSSHIPCSemaphoreEx::post(const OSSIPCSemaphoreExPostParam* param)
{
    OSSCallFrame f(kExPost);
    if (Uint32 rc = f.checkParam(param)) return rc;
    if (!isAttached()) return refuseDetached(f, this, 30);
    if (!ReleaseSemaphore(handle, 1, nullptr)) {
        const DWORD err = GetLastError();
        if (param->flags & OSS_IPC_SEMEX_POST_QUIET)
            return f.mapError(kCallReleaseSemaphore, err, 40);
        return f.systemError(kCallReleaseSemaphore, err, 40, ossItemHex(this));
    }
    return f.ret(0);
}

Uint32 OSSHIPCSemaphoreEx::wait(const OSSIPCSemaphoreExWaitParam* param)
{
    OSSCallFrame f(kExWait);
    if (Uint32 rc = f.checkParam(param)) return rc;
    if (!isAttached()) return refuseDetached(f, this, 80);
    return waitSemaphore(f, this, handle, param->timeout, ECF_FILE_NFS_TIME_OUT,
                         (param->flags & OSS_IPC_SEMEX_WAIT_QUIET) != 0);
}

Uint32 OSSHIPCSemaphoreEx::getInfo(OSSIPCSemaphoreExSemInfo*)
{
    return 0;
}

OSSE_C_API Uint32 ossIPCSemaphoreExDestroy(void)
{
    return 0;
}
