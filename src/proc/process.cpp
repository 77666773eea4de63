// OSSHProcess: CreateProcessA on a command line built from a program path and an argument list,
// with the IPC security attributes for the process and its first thread, and an optional wait
// for the child's exit code. Every handle to the child is closed before create returns.
#include <windows.h>

#include <string.h>

#include <initializer_list>

#include "osse/ecf.h"
#include "osse/mem.h"
#include "osse/process.h"

#include "base/callframe.h"
#include "ipc/ipc_internal.h"

namespace {

constexpr Uint32 kCreate = OSS_FUNC_ID(OSS_FN_OSSHProcess_create);
constexpr Uint32 kStart = OSS_FUNC_ID(OSS_FN_OSSHProcess_createProcess);
constexpr Uint32 kWaitStep = OSS_FUNC_ID(OSS_FN_OSSHProcess_wait);

constexpr Uint32 kCallCreateProcess = OSS_SYS_FUNC_ID(OSS_SYSFN_CreateProcess);
constexpr Uint32 kCallWait = OSS_SYS_FUNC_ID(OSS_SYSFN_WaitForSingleObject);
constexpr Uint32 kCallGetExitCode = OSS_SYS_FUNC_ID(OSS_SYSFN_GetExitCodeProcess);

static_assert(kCreate == 0x081A0067u && kStart == 0x081A0068u && kWaitStep == 0x081A0069u,
              "process operation identifiers");
static_assert(kCallCreateProcess == 0x0814006Fu && kCallWait == 0x081400A6u &&
                  kCallGetExitCode == 0x0814007Cu,
              "failed-call identifiers");
#if OSSE_PTR32
static_assert(sizeof(STARTUPINFOA) == 68, "the startup record is 68 bytes");
#else
static_assert(sizeof(STARTUPINFOA) == 104, "the startup record is 104 bytes");
#endif

// The accepted flag values, one bit per value: 0-7, 10, 16-23, 26, 32-39, 42. Bit 3 goes only
// with bit 1 and neither bit 0 nor bit 2; bits 4 and 5 never together.
constexpr Uint64 acceptedFlags()
{
    Uint64 mask = 0;
    for (Uint32 high : {0u, 16u, 32u}) {
        for (Uint32 low = 0; low <= 7; ++low) mask |= 1ull << (high + low);
        mask |= 1ull << (high + 10);
    }
    return mask;
}
constexpr Uint64 kAcceptedFlags = acceptedFlags();
static_assert(kAcceptedFlags == 0x000004FF04FF04FFull, "accepted flag values");

bool flagsAccepted(Uint32 flags)
{
    return flags < 64 && ((kAcceptedFlags >> flags) & 1) != 0;
}

// The program in double quotes unless it already begins with one, then each argument after one
// blank, as given. The texts of `arguments` follow one another and end at an empty one.
// Returns the length without the terminator; writes it into `out` when out is not null.
Uint32 buildCommandLine(const char* program, const char* arguments, char* out)
{
    Uint32 n = 0;
    auto put = [&](const char* s, size_t len) {
        if (out) memcpy(out + n, s, len);
        n += (Uint32)len;
    };
    const bool quoted = program[0] == '"';
    if (!quoted) put("\"", 1);
    put(program, strlen(program));
    if (!quoted) put("\"", 1);
    if (arguments) {
        for (const char* a = arguments; *a; a += strlen(a) + 1) {
            put(" ", 1);
            put(a, strlen(a));
        }
    }
    if (out) out[n] = '\0';
    return n;
}

// The start step: command line, security attributes, CreateProcessA. On success the thread
// handle is closed and the process handle left in the object.
Uint32 startChild(OSSHProcess* self, const OSSProcessParam* param, Uint32 flags,
                  unsigned long* pid)
{
    OSSCallFrame f(kStart);
    const Uint32 size = buildCommandLine(param->program, param->arguments, nullptr) + 1;
    char* commandLine = nullptr;
    if (Uint32 rc = OSS_MEM_ALLOC(&commandLine, size, 0)) {
        return f.fail(rc, 10, OSS_LEVEL_ERROR, ossItemUnsigned(size));
    }
    buildCommandLine(param->program, param->arguments, commandLine);

    Uint32 rc = OSS_OK;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
    if ((rc = ossIPCSecurityAttributes(&descriptor, &attributes)) != OSS_OK) {
        f.fail(rc, 30, OSS_LEVEL_ERROR, ossItemString(param->program));
    } else {
        STARTUPINFOA startup;
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION info;
        memset(&info, 0, sizeof info);
        const BOOL inherit = (flags & OSS_PROCESS_INHERIT) ? TRUE : FALSE;
        const DWORD creation =
            NORMAL_PRIORITY_CLASS | ((flags & OSS_PROCESS_DETACHED) ? DETACHED_PROCESS : 0);
        if (CreateProcessA(nullptr, commandLine, &attributes, &attributes, inherit, creation,
                           param->environment, nullptr, &startup, &info)) {
            CloseHandle(info.hThread);
            self->started = 1;
            self->handle = info.hProcess;
            *pid = info.dwProcessId;
        } else {
            const DWORD e = GetLastError();
            f.ctx.setTargetFileName(param->program);
            rc = f.systemError(kCallCreateProcess, e, 40, ossItemString(commandLine),
                               ossItemBool(inherit), ossItemHex(creation));
        }
    }
    OSS_MEM_FREE(&commandLine);
    return f.ret(rc);
}

// The wait step: the child's end and its exit code.
Uint32 waitChild(OSSHProcess* self, OSSProcessStatus* status)
{
    OSSCallFrame f(kWaitStep);
    if (!self->started) return f.fail(ECF_PROCESS_NOT_CREATED, 10, OSS_LEVEL_ERROR);
    memset(status, 0, sizeof *status);
    Uint32 rc = OSS_OK;
    const DWORD w = WaitForSingleObject(self->handle, INFINITE);
    if (w == WAIT_FAILED) {
        const DWORD e = GetLastError();
        return f.systemError(kCallWait, e, 50, ossItemHex(self->handle));
    }
    if (w == WAIT_OBJECT_0) {
        self->waiting = 0;
    } else {
        rc = f.fail(ECF_FAILED, 60, OSS_LEVEL_ERROR, ossItemHex(w));
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(self->handle, &code)) {
        const DWORD e = GetLastError();
        return f.systemError(kCallGetExitCode, e, 70, ossItemHex(self->handle));
    }
    status->exitCode = code;
    return f.ret(rc);
}

}  // namespace

extern "C" OSSE_API Uint32 ossProcessID(void)
{
    return GetCurrentProcessId();
}

extern "C" OSSE_API Uint32 ossProcessParentID(void)
{
    return OSS_PROCESS_NO_PARENT_ID;
}

extern "C" OSSE_API void ossProcessExit(Uint32 code)
{
    ExitProcess(code);
}

void OSSHProcess::constructor()
{
    waiting = 0;
    started = 0;
    mode = 0;
    handle = INVALID_HANDLE_VALUE;
}

void OSSHProcess::destructor() {}

Uint32 OSSHProcess::create(const OSSProcessParam* param, unsigned long* processId,
                           OSSProcessStatus* status)
{
    OSSCallFrame f(kCreate);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    Uint32 flags = param->flags;
    // Bit 5 came later: older callers may leave anything in it.
    if (param->version < OSS_PROCESS_FLAG5_VERSION) flags &= ~OSS_PROCESS_FLAG5;
    if (!param->program || !flagsAccepted(flags)) {
        return f.fail(ECF_INVALID_PARAMETER, 30, OSS_LEVEL_ERROR, ossItemString(param->program),
                      ossItemHex(param->flags));
    }
    // Both results are written by the library: refuse where they could not be.
    if (!processId) return f.fail(ECF_INVALID_PARAMETER, 31, OSS_LEVEL_ERROR);
    if ((flags & OSS_PROCESS_WAIT) && !status) {
        return f.fail(ECF_INVALID_PARAMETER, 32, OSS_LEVEL_ERROR, ossItemHex(flags));
    }
    mode = flags;

    unsigned long pid = 0;
    Uint32 rc = startChild(this, param, flags, &pid);
    if (rc != OSS_OK) return f.ret(rc);
    // The child runs whatever the wait says: its id is the caller's either way.
    *processId = pid;
    if (flags & OSS_PROCESS_WAIT) {
        waiting = 1;
        rc = waitChild(this, status);
        waiting = 0;
    }
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    return f.ret(rc);
}
