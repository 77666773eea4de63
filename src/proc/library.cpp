// OSSHLibrary: LoadLibraryExA, GetProcAddress and FreeLibrary with the portable load flags and a
// per-call quiet switch. Quiet calls still map their OS errors (the mapping writes its trace
// record) but never reach the diagnostic log.
#include <windows.h>

#include "osse/ecf.h"
#include "osse/library.h"

#include "base/callframe.h"

namespace {

constexpr Uint32 kLoad = OSS_FUNC_ID(OSS_FN_OSSHLibrary_load);
constexpr Uint32 kUnload = OSS_FUNC_ID(OSS_FN_OSSHLibrary_unload);
constexpr Uint32 kGetFuncAddress = OSS_FUNC_ID(OSS_FN_OSSHLibrary_getFuncAddress);
constexpr Uint32 kGetFunctionAddresses = OSS_FUNC_ID(OSS_FN_OSSHLibrary_getFunctionAddresses);

constexpr Uint32 kCallLoadLibrary = OSS_SYS_FUNC_ID(OSS_SYSFN_LoadLibrary);
constexpr Uint32 kCallFreeLibrary = OSS_SYS_FUNC_ID(OSS_SYSFN_FreeLibrary);
constexpr Uint32 kCallGetProcAddress = OSS_SYS_FUNC_ID(OSS_SYSFN_GetProcAddress);

static_assert(kLoad == 0x081A0054u && kUnload == 0x081A0055u && kGetFuncAddress == 0x081A0056u &&
                  kGetFunctionAddresses == 0x081A0057u,
              "library operation identifiers");
static_assert(kCallLoadLibrary == 0x08140085u && kCallFreeLibrary == 0x08140078u &&
                  kCallGetProcAddress == 0x08140080u,
              "failed-call identifiers");

const char kNotReadyHint[] =
    "A possible reason for a LoadLibrary failure might be a CD/DVD drive in a middle of the PATH. "
    "Please consider rearranging the PATH";

// The portable load flags as LoadLibraryExA flags.
DWORD translateLoadFlags(unsigned int flags)
{
    DWORD os = 0;
    if (flags & OSS_LIB_LOAD_NO_RESOLVE) os |= DONT_RESOLVE_DLL_REFERENCES;
    if (flags & OSS_LIB_LOAD_IGNORE_CODE_AUTHZ) os |= 0x10;  // LOAD_IGNORE_CODE_AUTHZ_LEVEL
    if (flags & OSS_LIB_LOAD_AS_DATAFILE) os |= LOAD_LIBRARY_AS_DATAFILE;
    if (flags & OSS_LIB_LOAD_ALTERED_SEARCH) os |= LOAD_WITH_ALTERED_SEARCH_PATH;
    return os;
}

Uint32 traceOnly(OSSCallFrame& f, Uint32 code, Uint32 probe)
{
    if (gtraceFrameOn()) gtraceFrameError(f.id(), probe, &code);
    return f.ret(code);
}

// The lookup of getFuncAddress, in the caller's frame.
Uint32 lookup(OSSCallFrame& f, const OSSHLibrary* lib, const char* name, bool quiet,
              OSSLibFunction* function)
{
    if (!lib->loaded) {
        if (quiet) return traceOnly(f, ECF_LIB_NOT_LOADED, 20);
        return f.fail(ECF_LIB_NOT_LOADED, 20, OSS_LEVEL_ERROR, ossItemString(name));
    }
    // Through void*: the exported type says nothing of the function's real signature.
    *function = (OSSLibFunction)(void*)GetProcAddress((HMODULE)lib->module, name);
    if (*function) return f.ret(OSS_OK);

    const DWORD e = GetLastError();
    if (quiet) {
        Uint32 level = 0;
        ossErrorMapSystem(f.id(), 30, kCallGetProcAddress, e, &level);
        return traceOnly(f, ECF_LIB_FUNC_NOT_FOUND, 30);
    }
    f.systemError(kCallGetProcAddress, e, 30, ossItemHex(lib->module), ossItemString(name));
    return f.fail(ECF_LIB_FUNC_NOT_FOUND, 30, OSS_LEVEL_INFO, ossItemString(name));
}

}  // namespace

void OSSHLibrary::constructor()
{
    module = nullptr;
    loaded = 0;
}

void OSSHLibrary::destructor() {}

Uint32 OSSHLibrary::load(const char* name, unsigned int flags)
{
    OSSCallFrame f(kLoad);
    const bool quiet = (flags & OSS_LIB_LOAD_QUIET) != 0;
    if (loaded) {
        if (quiet) return traceOnly(f, ECF_LIB_ALREADY_LOADED, 20);
        return f.fail(ECF_LIB_ALREADY_LOADED, 20, OSS_LEVEL_ERROR, ossItemString(name),
                      ossItemHex(module));
    }
    constructor();
    const DWORD osFlags = translateLoadFlags(flags);
    HMODULE h = LoadLibraryExA(name, nullptr, osFlags);
    if (h) {
        module = h;
        loaded = 1;
        return f.ret(OSS_OK);
    }

    const DWORD e = GetLastError();
    Uint32 rc;
    if (e == ERROR_MOD_NOT_FOUND) {
        rc = ECF_LIB_CANNOT_LOAD;
        if (!quiet) {
            ossLogSysRC(nullptr, f.id(), kCallLoadLibrary, e, rc, 30, OSS_LEVEL_INFO, 0);
        }
        traceOnly(f, rc, 30);
    } else if (e == ERROR_NOT_READY) {
        // Logged whatever the quiet flag: the hint is worth the noise.
        rc = ECF_FILE_DEVICE_UNAVAILABLE;
        ossLogSysRC(nullptr, f.id(), kCallLoadLibrary, e, rc, 31, OSS_LEVEL_ERROR, 1,
                    ossItemString(kNotReadyHint));
        traceOnly(f, rc, 31);
    } else if (quiet) {
        Uint32 level = 0;
        rc = ossErrorMapSystem(f.id(), 30, kCallLoadLibrary, e, &level);
        traceOnly(f, rc, 30);
    } else {
        f.ctx.setTargetFileName(name);
        rc = f.systemError(kCallLoadLibrary, e, 30, ossItemString(name), ossItemHex(osFlags));
    }
    if (!quiet) f.log(30, OSS_LEVEL_INFO, ossItemString(name), ossItemHex(osFlags));
    return f.ret(rc);
}

Uint32 OSSHLibrary::unload()
{
    OSSCallFrame f(kUnload);
    if (!loaded) return f.fail(ECF_LIB_NOT_LOADED, 10, OSS_LEVEL_ERROR);
    if (!FreeLibrary((HMODULE)module)) {
        const DWORD e = GetLastError();
        return f.systemError(kCallFreeLibrary, e, 20, ossItemHex(module), ossItemBool(loaded));
    }
    constructor();
    return f.ret(OSS_OK);
}

Uint32 OSSHLibrary::getFuncAddress(const OSSLibGetFuncAddressParam* param,
                                   OSSLibGetFuncAddressInfo* info)
{
    OSSCallFrame f(kGetFuncAddress);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (!info) return f.fail(ECF_INVALID_PARAMETER, 1111, OSS_LEVEL_ERROR);
    return lookup(f, this, param->name, (param->flags & OSS_LIB_LOOKUP_QUIET) != 0,
                  &info->function);
}

Uint32 OSSHLibrary::getFuncAddress(const char* name, OSSLibFunction* function)
{
    OSSLibGetFuncAddressParam param;
    param.name = name;
    OSSLibGetFuncAddressInfo info = {OSS_CURRENT_VERSION, nullptr};
    const Uint32 rc = getFuncAddress(&param, &info);
    // Null on every failure, so that a caller who tests the pointer alone is safe.
    if (function) *function = rc == OSS_OK ? info.function : nullptr;
    return rc;
}

Uint32 OSSHLibrary::getFunctionAddresses(const OSSLibGetFunctionAddressesParam* param,
                                         OSSLibFunction* functions)
{
    OSSCallFrame f(kGetFunctionAddresses);
    if (Uint32 rc = f.checkParam(param)) return f.ret(rc);
    if (param->count == 0) return f.ret(OSS_OK);
    if (!param->names || !functions) {
        return f.fail(ECF_INVALID_PARAMETER, 30, OSS_LEVEL_ERROR, ossItemUnsigned(param->count));
    }
    bool missing = false;
    for (Uint32 i = 0; i < param->count; ++i) {
        const char* name = param->names[i];
        // Quiet lookups: each missing name is logged once, here.
        OSSLibFunction fn = nullptr;
        const Uint32 rc = lookup(f, this, name, true, &fn);
        if (rc == OSS_OK) {
            functions[i] = fn;
        } else if (rc == ECF_LIB_FUNC_NOT_FOUND) {
            ossLog(nullptr, f.id(), ECF_LIB_FUNC_NOT_FOUND, 40, OSS_LEVEL_INFO, 1,
                   ossItemString(name));
            functions[i] = nullptr;
            missing = true;
        } else {
            return f.fail(rc, 50, OSS_LEVEL_ERROR, ossItemString(name), ossItemUnsigned(i));
        }
    }
    return f.ret(missing ? ECF_PARTIAL_INFO : OSS_OK);
}
