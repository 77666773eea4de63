// Shared memory: pagefile-backed named file mappings. The classic segment takes a name made by
// the caller; the extended one makes its own from a key (id 120); the private one finds a free
// name for its process and thread. No header is kept inside a segment: every byte is the
// caller's.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "osse/ecf.h"
#include "osse/ipc.h"
#include "osse/platform.h"
#include "osse/strutil.h"

#include "base/callframe.h"
#include "ipc/ipc_internal.h"

namespace {

constexpr Uint32 kCreate = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_create);
constexpr Uint32 kAttach = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_attach);
constexpr Uint32 kDetach = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_detach);
constexpr Uint32 kDetachAndDestroy = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_detachAndDestroy);
constexpr Uint32 kDestroy = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_destroy);
constexpr Uint32 kGetAddress = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_getAddress);
constexpr Uint32 kGetMemorySize = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_getMemorySize);
constexpr Uint32 kAuthorize = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_authorize);
constexpr Uint32 kExCreate = OSS_FUNC_ID(OSS_FN_OSSHIPCMemoryEx_create);
constexpr Uint32 kExAttach = OSS_FUNC_ID(OSS_FN_OSSHIPCMemoryEx_attach);
constexpr Uint32 kExDetach = OSS_FUNC_ID(OSS_FN_OSSHIPCMemoryEx_detach);
constexpr Uint32 kExDestroy = OSS_FUNC_ID(OSS_FN_OSSHIPCMemoryEx_destroy);
constexpr Uint32 kPrivCreate = OSS_FUNC_ID(OSS_FN_OSSHIPCPrivateMemory_create);
constexpr Uint32 kPrivAttach = OSS_FUNC_ID(OSS_FN_OSSHIPCPrivateMemory_attach);
constexpr Uint32 kPrivRemoteInit = OSS_FUNC_ID(OSS_FN_OSSHIPCPrivateMemory_remoteInitialization);

constexpr Uint32 kCallCloseHandle = OSS_SYS_FUNC_ID(OSS_SYSFN_CloseHandle);
constexpr Uint32 kCallClose = OSS_SYS_FUNC_ID(OSS_SYSFN_close);
constexpr Uint32 kCallCreateFileMapping = OSS_SYS_FUNC_ID(OSS_SYSFN_CreateFileMapping);
constexpr Uint32 kCallMapViewOfFileEx = OSS_SYS_FUNC_ID(OSS_SYSFN_MapViewOfFileEx);
constexpr Uint32 kCallOpenFileMapping = OSS_SYS_FUNC_ID(OSS_SYSFN_OpenFileMapping);
constexpr Uint32 kCallUnmapViewOfFile = OSS_SYS_FUNC_ID(OSS_SYSFN_UnmapViewOfFile);
constexpr Uint32 kCallVirtualQueryEx = OSS_SYS_FUNC_ID(OSS_SYSFN_VirtualQueryEx);

static_assert(kCreate == 0x081A0032u && kAttach == 0x081A0034u && kDetach == 0x081A0035u &&
                  kDetachAndDestroy == 0x081A0099u && kDestroy == 0x081A0033u &&
                  kGetAddress == 0x081A0038u && kGetMemorySize == 0x081A0039u &&
                  kAuthorize == 0x081A0036u && kExCreate == 0x081A009Du &&
                  kExAttach == 0x081A009Fu && kExDetach == 0x081A00A0u &&
                  kExDestroy == 0x081A009Eu && kPrivCreate == 0x081A00A1u &&
                  kPrivAttach == 0x081A00A2u && kPrivRemoteInit == 0x081A00A3u,
              "operation identifiers");
static_assert(kCallCloseHandle == 0x08140069u && kCallClose == 0x08140005u &&
                  kCallCreateFileMapping == 0x0814006Eu && kCallMapViewOfFileEx == 0x0814008Au &&
                  kCallOpenFileMapping == 0x0814008Fu && kCallUnmapViewOfFile == 0x081400A4u &&
                  kCallVirtualQueryEx == 0x081400A5u,
              "failed-call identifiers");

constexpr Sint32 kExId = 120;
constexpr size_t kExKeyMax = 253;

// Kernel object names are made of printable characters only.
bool printableName(const char* name)
{
    for (; *name; ++name)
        if ((unsigned char)*name < 0x20 || (unsigned char)*name > 0x7E) return false;
    return true;
}

// Extended keys: 1 to 253 characters without a backslash (the backslash would be dropped from
// the name, so two keys would name one object).
bool validExKey(const char* key)
{
    if (!key) return false;
    const size_t n = strnlen(key, kExKeyMax + 1);
    return n >= 1 && n <= kExKeyMax && !strchr(key, '\\');
}

// The namespace prefix of an extended or private segment: honoured only in parameter objects
// that know the field, and only where the OS has private namespaces.
const char* prefixOf(Uint32 version, const char* prefix)
{
    return version >= OSS_IPC_VERSION_NAMESPACE && g_bIsPlatformID_Vista ? prefix : nullptr;
}

DWORD exAccess(Uint64 flags)
{
    if (flags & OSS_IPC_MEMEX_READONLY) return FILE_MAP_READ;
    if (flags & OSS_IPC_MEMEX_READWRITE) return FILE_MAP_READ | FILE_MAP_WRITE;
    return 0;
}

}  // namespace

// ---- Classic segment -----------------------------------------------------------------------

void OSSHIPCMemory::constructor()
{
    handle = INVALID_HANDLE_VALUE;
    address = nullptr;
}

Uint32 OSSHIPCMemory::create(const OSSIPCMemoryCreateParam* param)
{
    OSSCallFrame f(kCreate);
    if (Uint32 rc = f.checkParam(param)) return rc;

    const char* name = param->resId.name;
    Uint32 rc = 0;
    Uint32 probe = 0;
    bool silent = false;
    HANDLE h = nullptr;
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa;
    if ((rc = ossIPCSecurityAttributes(&sd, &sa)) != 0) {
        probe = 60;
    } else {
        SetLastError(0);
        h = CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, param->size, name);
        const DWORD err = GetLastError();
        if (!h) {
            probe = 80;
            rc = f.systemError(kCallCreateFileMapping, err, probe, ossItemUnsigned(param->size));
        } else if (err == ERROR_ALREADY_EXISTS) {
            probe = 90;
            rc = f.mapError(kCallCreateFileMapping, err, probe);
            if (rc == ECF_MEM_EXISTS && (param->flags & OSS_IPC_MEM_MAY_EXIST)) {
                silent = true;
            } else {
                rc = f.systemError(kCallCreateFileMapping, err, probe,
                                   ossItemUnsigned(param->size));
            }
        } else {
            void* view = MapViewOfFileEx(h, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0,
                                         param->baseAddress);
            if (view) {
                handle = h;
                address = view;
                return f.ret(0);
            }
            probe = 100;
            rc = f.systemError(kCallMapViewOfFileEx, GetLastError(), probe);
        }
    }

    if (!silent) {
        const void* self = this;
        f.fail(rc, probe, OSS_LEVEL_ERROR, ossItemString(name));
        f.fail(rc, probe + 1, OSS_LEVEL_ERROR, ossItemUnsigned(param->size),
               ossItemHex(param->baseAddress), ossItemHex(param->auxWord),
               ossItemHex(param->flags), ossItemHex(self));
    }
    if (h) CloseHandle(h);
    constructor();
    return f.ret(rc);
}

Uint32 OSSHIPCMemory::attach(const OSSIPCResID* resId, const void* at)
{
    OSSCallFrame f(kAttach);
    if (Uint32 rc = f.checkPointer(resId)) return rc;
    const char* name = resId->name;

    HANDLE h = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name);
    if (!h) {
        // Missing or not accessible: the caller cannot use it either way.
        const Uint32 rc = f.systemErrorAs(ECF_MEM_DOESNT_EXIST, kCallOpenFileMapping,
                                          GetLastError(), 50);
        f.fail(rc, 51, OSS_LEVEL_ERROR, ossItemString(name), ossItemHex(at));
        return rc;
    }
    void* view = MapViewOfFileEx(h, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0, (void*)at);
    if (!view) {
        const DWORD err = GetLastError();
        CloseHandle(h);
        const Uint32 rc = f.systemError(kCallMapViewOfFileEx, err, 70);
        f.fail(rc, 71, OSS_LEVEL_ERROR, ossItemString(name), ossItemHex(at));
        constructor();
        return rc;
    }
    handle = h;
    address = view;
    return f.ret(0);
}

namespace {

// Unmaps and closes; a failed unmap keeps the address but still closes the handle, and the
// close's code replaces the unmap's.
Uint32 detachSegment(OSSCallFrame& f, OSSHIPCMemory* m)
{
    Uint32 rc = 0;
    if (m->address) {
        if (UnmapViewOfFile(m->address)) {
            m->address = nullptr;
        } else {
            rc = f.systemError(kCallUnmapViewOfFile, GetLastError(), 30, ossItemHex(m->address));
        }
    }
    if (m->handle != INVALID_HANDLE_VALUE && !CloseHandle(m->handle)) {
        f.ctx.setTargetFileHandle(m->handle);
        rc = f.systemError(kCallCloseHandle, GetLastError(), 40, ossItemHex(m->handle));
    }
    m->handle = INVALID_HANDLE_VALUE;
    return f.ret(rc);
}

}  // namespace

Uint32 OSSHIPCMemory::detach()
{
    OSSCallFrame f(kDetach);
    return detachSegment(f, this);
}

Uint32 OSSHIPCMemory::detachAndDestroy()
{
    OSSCallFrame f(kDetachAndDestroy);
    return detachSegment(f, this);
}

Uint32 OSSHIPCMemory::destroy()
{
    OSSCallFrame f(kDestroy);
    detachSegment(f, this);
    return f.ret(0);
}

Uint32 OSSHIPCMemory::getAddress(void** out)
{
    OSSCallFrame f(kGetAddress);
    if (Uint32 rc = f.checkPointer(out)) return rc;
    *out = address;
    return f.ret(0);
}

Uint32 OSSHIPCMemory::getMemorySize(unsigned int* size)
{
    OSSCallFrame f(kGetMemorySize);
    if (Uint32 rc = f.checkPointer(size)) return rc;
    // A detached object would ask about whatever lies at address 0.
    if (!address) return f.fail(ECF_INVALID_HANDLE, 20, OSS_LEVEL_ERROR, ossItemHex(address));
    HANDLE process = GetCurrentProcess();
    if (!process) return f.fail(ECF_INVALID_HANDLE, 10, OSS_LEVEL_ERROR);
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQueryEx(process, address, &info, sizeof info) != sizeof info) {
        return f.fail(ECF_FAILED, 30, OSS_LEVEL_ERROR, ossItemHex(process), ossItemHex(address));
    }
    *size = (unsigned int)info.RegionSize;
    return f.ret(0);
}

Uint32 OSSHIPCMemory::authorize(const OSSIPCSecurityParam* param)
{
    OSSCallFrame f(kAuthorize);
    if (Uint32 rc = f.checkParam(param)) return rc;
    return f.ret(0);
}

// ---- Extended segment ----------------------------------------------------------------------

void OSSHIPCMemoryEx::constructor()
{
    handle = INVALID_HANDLE_VALUE;
    memset(name, 0, sizeof name);
    address = nullptr;
    size = 0;
}

void OSSHIPCMemoryEx::destructor()
{
    constructor();
}

namespace {

// Closes the handle of a failed create or attach (a failing close is logged and does not
// change the code) and resets the object.
void resetEx(OSSCallFrame& f, OSSHIPCMemoryEx* m)
{
    if (m->handle != INVALID_HANDLE_VALUE && m->handle != nullptr && !CloseHandle(m->handle)) {
        const Uint32 keep = f.systemError(kCallClose, GetLastError(), 200, ossItemHex(m->handle));
        (void)keep;
    }
    m->constructor();
}

Uint32 makeExName(OSSCallFrame& f, const char* key, const char* prefix, char (&out)[261],
                  Uint32 probe, Uint32* rcOut)
{
    OSSIPCGetResIDParam np;
    np.path = key;
    np.id = kExId;
    np.local = 0;
    np.namespacePrefix = prefix;
    OSSIPCResID id;
    const Uint32 rc = ossIPCGetResID(&np, &id);
    if (rc) {
        *rcOut = f.innerError(OSS_FUNC_ID(OSS_FN_ossIPCGetResID), rc, probe);
        return rc;
    }
    memcpy(out, id.name, sizeof out);
    out[sizeof out - 1] = '\0';
    return 0;
}

}  // namespace

Uint32 OSSHIPCMemoryEx::create(const OSSIPCMemoryExCreateParam* param, OSSIPCMemoryExInfo* info)
{
    OSSCallFrame f(kExCreate);
    if (Uint32 rc = f.checkParam(param)) return rc;

    Uint32 rc = 0;
    Uint32 probe = 0;
    if (address) {
        probe = 20;
        rc = ECF_INVALID_INVOCATION_SEQUENCE;
    } else if (!info || !validExKey(param->key) || param->size == 0 ||
               param->size > 0xFFFFFFFFull || param->flags == 0 || param->auxWord == 0) {
        // Only the low 32 bits of a size would reach the OS: a larger one is refused rather
        // than cut to a segment of another size.
        probe = 30;
        rc = ECF_INVALID_PARAMETER;
    }
    HANDLE h = nullptr;
    bool existed = false;
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa;
    if (!rc) {
        if ((rc = ossIPCSecurityAttributes(&sd, &sa)) != 0) {
            probe = 110;
            f.innerError(0x081A0088u, rc, probe);
        }
    }
    if (!rc && makeExName(f, param->key, prefixOf(param->version, param->namespacePrefix), name,
                          120, &rc)) {
        probe = 120;
    }
    if (!rc) {
        SetLastError(0);
        h = CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0,
                               (DWORD)param->size, name);
        const DWORD err = GetLastError();
        if (!h) {
            probe = 140;
            rc = f.systemError(kCallCreateFileMapping, err, probe, ossItemHex(param->size),
                               ossItemString(name));
        } else {
            handle = h;
            existed = err == ERROR_ALREADY_EXISTS;
            if ((param->flags & OSS_IPC_MEMEX_EXCLUSIVE) && existed) {
                probe = 150;
                rc = f.systemErrorAs(ECF_EXISTS, kCallCreateFileMapping, err, probe);
            }
        }
    }
    if (!rc) {
        void* view = MapViewOfFileEx(h, exAccess(param->flags), 0, 0, 0, param->baseAddress);
        if (view) {
            address = view;
            size = param->size;
            // An existing segment keeps the size it was made with: record what is really
            // there when it is smaller than what was asked for (whole pages, as the OS sees it).
            MEMORY_BASIC_INFORMATION mbi;
            if (existed && VirtualQuery(view, &mbi, sizeof mbi) == sizeof mbi &&
                mbi.RegionSize < size) {
                size = mbi.RegionSize;
            }
            info->address = view;
            return f.ret(0);
        }
        probe = 160;
        rc = f.systemError(kCallMapViewOfFileEx, GetLastError(), probe);
    }

    const void* self = this;
    f.fail(rc, probe, OSS_LEVEL_ERROR, ossItemString(param->key), ossItemHex(param->size),
           ossItemHex(param->flags), ossItemHex(param->baseAddress), ossItemHex(param->auxWord),
           ossItemHex(param->auxValue), ossItemHex(self), ossItemString(name));
    // An object that was attached keeps its view and handle: the failed call was a mistake of
    // the caller, and forgetting them would leak both.
    if (probe != 20) resetEx(f, this);
    return f.ret(rc);
}

Uint32 OSSHIPCMemoryEx::attach(const OSSIPCMemoryExAttachParam* param, OSSIPCMemoryExInfo* info)
{
    OSSCallFrame f(kExAttach);
    if (Uint32 rc = f.checkParam(param)) return rc;

    Uint32 rc = 0;
    Uint32 probe = 0;
    if (address) {
        probe = 20;
        rc = ECF_INVALID_INVOCATION_SEQUENCE;
    } else if (!info || !validExKey(param->key)) {
        probe = 30;
        rc = ECF_INVALID_PARAMETER;
    }
    if (!rc && makeExName(f, param->key, prefixOf(param->version, param->namespacePrefix), name,
                          90, &rc)) {
        probe = 90;
    }
    const DWORD access = exAccess(param->flags);
    if (!rc) {
        HANDLE h = OpenFileMappingA(access, FALSE, name);
        if (!h) {
            probe = 100;
            rc = f.systemError(kCallOpenFileMapping, GetLastError(), probe, ossItemString(name));
        } else {
            handle = h;
        }
    }
    if (!rc) {
        void* view = MapViewOfFileEx(handle, access, 0, 0, 0, param->baseAddress);
        if (view) {
            address = view;
            info->address = view;
            return f.ret(0);
        }
        probe = 120;
        rc = f.systemError(kCallMapViewOfFileEx, GetLastError(), probe);
    }

    const void* self = this;
    f.fail(rc, probe, OSS_LEVEL_ERROR, ossItemString(param->key), ossItemHex(param->flags),
           ossItemHex(param->baseAddress), ossItemHex(param->auxValue), ossItemHex(self),
           ossItemString(name));
    if (probe != 20) resetEx(f, this);
    return f.ret(rc);
}

namespace {

Uint32 detachEx(OSSCallFrame& f, OSSHIPCMemoryEx* m)
{
    Uint32 rc = 0;
    if (m->address && !UnmapViewOfFile(m->address)) {
        rc = f.systemError(kCallUnmapViewOfFile, GetLastError(), 30, ossItemString(m->name),
                           ossItemHex(m->size), ossItemHex(m->address));
    }
    if (m->handle != INVALID_HANDLE_VALUE && m->handle != nullptr && !CloseHandle(m->handle)) {
        const Uint32 closeRc = f.systemError(kCallCloseHandle, GetLastError(), 40,
                                             ossItemHex(m->handle));
        if (!rc) rc = closeRc;
    }
    m->constructor();
    return f.ret(rc);
}

}  // namespace

Uint32 OSSHIPCMemoryEx::detach()
{
    OSSCallFrame f(kExDetach);
    return detachEx(f, this);
}

Uint32 OSSHIPCMemoryEx::destroy()
{
    OSSCallFrame f(kExDestroy);
    return detachEx(f, this);
}

// ---- Private segment -----------------------------------------------------------------------

void OSSHIPCPrivateMemory::constructor()
{
    segment.constructor();
    resId = OSSIPCResID();
}

Uint32 OSSHIPCPrivateMemory::create(OSSIPCMemoryCreateParam* param)
{
    OSSCallFrame f(kPrivCreate);
    if (Uint32 rc = f.checkParam(param)) return rc;

    char key[OSS_IPC_NAME_MAX + 1];
    ossSnprintf(key, sizeof key, "PRIVMEMPID%luTID%I64u", GetCurrentProcessId(),
             (unsigned long long)GetCurrentThreadId());
    OSSIPCGetResIDParam np;
    np.path = key;
    np.local = 0;
    np.namespacePrefix = prefixOf(param->version, param->namespacePrefix);
    for (Sint32 id = 0; id < 100; ++id) {
        np.id = id;
        if (Uint32 rc = ossIPCGetResID(&np, &param->resId)) return f.passOn(rc, 10);
        HANDLE h = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, param->resId.name);
        if (h) {
            CloseHandle(h);
            continue;
        }
        resId = param->resId;
        return f.ret(segment.create(param));
    }
    return f.fail(ECF_NO_RESOURCE, 100, OSS_LEVEL_ERROR, ossItemString(key));
}

Uint32 OSSHIPCPrivateMemory::attach(const void* at)
{
    OSSCallFrame f(kPrivAttach);
    return f.ret(segment.attach(&resId, at));
}

Uint32 OSSHIPCPrivateMemory::remoteInitialization()
{
    OSSCallFrame f(kPrivRemoteInit);
    resId.name[sizeof resId.name - 1] = '\0';
    if (resId.name[0] == '\0') return f.fail(ECF_MEM_DOESNT_EXIST, 100, OSS_LEVEL_ERROR);
    // A copy made by a process of the other architecture has its name record 8 bytes away
    // from where this build keeps it: what is read here as the version word then holds
    // characters of the name (i686 copy read by x86_64) or the low half of an address, and the
    // name holds the bytes of an address and of a version word (x86_64 copy read by i686).
    // Either way the record is not one this library wrote; attaching by it would open a wrong
    // object or none.
    if (resId.version < OSS_MIN_VERSION || resId.version > OSS_CURRENT_VERSION ||
        !printableName(resId.name))
        return f.fail(ECF_INVALID_PARAMETER, 110, OSS_LEVEL_ERROR, ossItemHex(resId.version));
    segment.handle = INVALID_HANDLE_VALUE;
    segment.address = nullptr;
    return f.ret(0);
}
