/* Dynamic libraries: load one library, look up its functions by name, singly or as a table, and
 * unload it. Each call chooses whether its failures are written to the diagnostic log, so that
 * probing for optional libraries and functions stays quiet. Every operation returns an ECF code,
 * 0 on success. */
#ifndef OSSE_LIBRARY_H
#define OSSE_LIBRARY_H

#include "osse/base.h"

/* Flags of OSSHLibrary::load. */
#define OSS_LIB_LOAD_QUIET              0x02u /* failures are not logged */
#define OSS_LIB_LOAD_NO_RESOLVE         0x08u /* do not resolve references (no DllMain call) */
#define OSS_LIB_LOAD_IGNORE_CODE_AUTHZ  0x10u /* ignore the code authorisation level */
#define OSS_LIB_LOAD_AS_DATAFILE        0x20u /* map as a data file */
#define OSS_LIB_LOAD_ALTERED_SEARCH     0x40u /* altered search path */

/* OSSLibGetFuncAddressParam::flags */
#define OSS_LIB_LOOKUP_QUIET 0x1u

#ifdef __cplusplus

/* The type of an address found in a library. */
typedef int (*OSSLibFunction)(void);

/* Input of OSSHLibrary::getFunctionAddress: the name to look up and whether a missing one is
 * logged. */
struct OSSLibGetFuncAddressParam {
    Uint32 version; /* parameter version */
    const char* name; /* name of the function, NUL-terminated */
    Uint32 flags;      /* OSS_LIB_LOOKUP_QUIET */

    OSSLibGetFuncAddressParam() : version(OSS_CURRENT_VERSION), name(nullptr), flags(0) {}
};

/* Output of OSSHLibrary::getFunctionAddress: the address found. */
struct OSSLibGetFuncAddressInfo {
    Uint32 version; /* record version */
    OSSLibFunction function;  /* null when not found */
};

/* Input of OSSHLibrary::getFunctionAddresses: the names to look up. */
struct OSSLibGetFunctionAddressesParam {
    Uint32 version; /* parameter version */
    Uint32 count; /* entries in names */
    const char* const* names;  /* count names */
    Uint32 reserved; /* 0 */
};
static_assert(offsetof(OSSLibGetFunctionAddressesParam, count) == 4, "addresses param: count");
static_assert(offsetof(OSSLibGetFunctionAddressesParam, names) == 8, "addresses param: names");
#if OSSE_PTR32
static_assert(sizeof(OSSLibGetFunctionAddressesParam) == 16,
              "OSSLibGetFunctionAddressesParam is 16 bytes");
#else
static_assert(sizeof(OSSLibGetFunctionAddressesParam) == 24,
              "x86_64 layout");
#endif

/* One loaded library. Lives in the caller's memory; the destructor does nothing, so a library
 * stays loaded until unload. */
class OSSE_API OSSHLibrary {
public:
    void* module;  /* OS module handle while loaded */
    Uint8 loaded; /* 1 while a library is loaded through this object */

    OSSHLibrary() { constructor(); }

    /* Sets the object up as not loaded. */
    void constructor();
    /* Does nothing. */
    void destructor();

    /* Loads name with the OSS_LIB_LOAD_ flags. ECF_LIB_ALREADY_LOADED (the loaded library is
     * kept); ECF_LIB_CANNOT_LOAD for a library that is not found; ECF_FILE_DEVICE_UNAVAILABLE
     * when a drive on the search path is not ready. */
    Uint32 load(const char* name, unsigned int flags);
    /* ECF_LIB_NOT_LOADED; on a failure of the OS the object stays loaded. */
    Uint32 unload();
    /* Looks name up; info->function receives the address, null when not found.
     * ECF_LIB_NOT_LOADED, ECF_LIB_FUNC_NOT_FOUND; ECF_INVALID_PARAMETER for a null param or info. */
    Uint32 getFuncAddress(const OSSLibGetFuncAddressParam* param, OSSLibGetFuncAddressInfo* info);
    /* The same, logging its failures; *function receives the address, null when not found. */
    Uint32 getFuncAddress(const char* name, OSSLibFunction* function);
    /* Looks up param->count names into functions[0..count-1]. A missing name gets null, is
     * logged once, and the call goes on: ECF_PARTIAL_INFO at the end. Any other failure is
     * returned at once (later entries are left as they were). */
    Uint32 getFunctionAddresses(const OSSLibGetFunctionAddressesParam* param,
                                OSSLibFunction* functions);
    /* True while a library is loaded through this object. */
    bool isLoaded() const { return loaded != 0; }
};

#endif

#endif
