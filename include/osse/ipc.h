/* Inter-process communication. Every inter-process object of the library is a named kernel
 * object; a second process finds it only by its name. This header gives the name makers, the
 * identifier records that carry names from a creating process to an attaching one, and the
 * security attributes every such object is created with. */
#ifndef OSSE_IPC_H
#define OSSE_IPC_H

#include "osse/base.h"
#include "osse/sysinfo.h"

struct _SECURITY_ATTRIBUTES;

/* Version of the records and parameter objects of this family, and the versions from which
 * fields added later are honoured. Records below OSS_MIN_VERSION are refused. */
#define OSS_IPC_VERSION                 OSS_CURRENT_VERSION
#define OSS_IPC_VERSION_LOCAL           0x09010003u /* OSSIPCGetResIDParam::local */
#define OSS_IPC_VERSION_NAMESPACE       0x09070000u /* OSSIPCGetResIDParam::namespacePrefix */

/* Longest kernel object name, without its terminator. */
#define OSS_IPC_NAME_MAX 260

#ifdef __cplusplus

/* The name of one kernel object; an empty name when the identifier was made without a key. */
struct OSSIPCResID {
    Uint32 version;
    char name[OSS_IPC_NAME_MAX + 1];
    OSSIPCResID() : version(OSS_IPC_VERSION), name() {}
};

/* The three names of a message queue (ring, put side, get side). */
struct OSSIPCQueResID {
    Uint32 version;
    OSSIPCResID resID[3];
    OSSIPCQueResID() : version(OSS_IPC_VERSION) {}
};

/* Input of ossIPCGetResID: the name is [prefix\]["Global\"]OSSEIPC<id><key without ':' and '\'>. */
struct OSSIPCGetResIDParam {
    Uint32 version;
    const char* path;            /* key text; null: the object has no name */
    Sint32 id;                   /* printed into the name with %d */
    Uint32 aux;                  /* carried along, not part of the name */
    Uint8 local;                 /* never give the name the Global\ prefix */
    const char* namespacePrefix; /* put the name into this namespace (Vista and later) */
    OSSIPCGetResIDParam()
        : version(OSS_IPC_VERSION), path(0), id(0), aux(0), local(0), namespacePrefix(0) {}
};

/* Kernel IPC limits. None of them exists on this platform: every status is ECF_NOT_SUPPORTED.
 * limits[1] is the largest message a kernel queue accepts. */
struct OSSKernelIPCInfo {
    Uint32 version;
    OSSSysInfoSint limits[7];
    OSSSysInfoSint64 limits64[2];
    OSSSysInfoSint moreLimits[14];
    OSSKernelIPCInfo() : version(OSS_IPC_VERSION) {}
};

static_assert(sizeof(OSSIPCResID) == 268 && offsetof(OSSIPCResID, name) == 4, "OSSIPCResID");
static_assert(sizeof(OSSIPCQueResID) == 808 && offsetof(OSSIPCQueResID, resID) == 4 &&
                  offsetof(OSSIPCQueResID, resID[1]) == 272 &&
                  offsetof(OSSIPCQueResID, resID[2]) == 540,
              "OSSIPCQueResID");
static_assert(sizeof(OSSIPCGetResIDParam) == 24 && offsetof(OSSIPCGetResIDParam, path) == 4 &&
                  offsetof(OSSIPCGetResIDParam, id) == 8 && offsetof(OSSIPCGetResIDParam, aux) == 12 &&
                  offsetof(OSSIPCGetResIDParam, local) == 16 &&
                  offsetof(OSSIPCGetResIDParam, namespacePrefix) == 20,
              "OSSIPCGetResIDParam");
static_assert(offsetof(OSSKernelIPCInfo, limits) == 4 && offsetof(OSSKernelIPCInfo, limits64) == 64 &&
                  offsetof(OSSKernelIPCInfo, moreLimits) == 96 && sizeof(OSSKernelIPCInfo) == 208,
              "OSSKernelIPCInfo");

/* Makes the kernel object name for (id, key, prefix) into `resID`. 0, ECF_INVALID_PARAMETER
 * (null record, or a name that would not fit: keys are never cut, since two cut keys would
 * name one object), ECF_INVALID_VERSION. */
OSSE_C_API Uint32 ossIPCGetResID(const OSSIPCGetResIDParam* param, OSSIPCResID* resID);
/* Makes the three names of a queue: ids id, id + 1 and id + 2 with the same key. */
OSSE_C_API Uint32 ossIPCGetQueResID(const OSSIPCGetResIDParam* param, OSSIPCQueResID* queResID);
/* Every status of `info` set to ECF_NOT_SUPPORTED; returns ECF_NOT_SUPPORTED. */
OSSE_C_API Uint32 ossGetKernelIPCInfo(OSSKernelIPCInfo* info);

#endif /* __cplusplus */

/* No seed is needed on this platform: always ECF_NOT_SUPPORTED. */
OSSE_C_API Uint32 ossIPCGenerateSeed(void);
/* Registers the security attributes every later IPC object and child process is created with.
 * The library keeps the pointer, not a copy; null restores the default (inheritable handles, a
 * null DACL: every user has full access). */
OSSE_C_API void ossSetSecurityAttributesForOSS(struct _SECURITY_ATTRIBUTES* attrs);

#endif
