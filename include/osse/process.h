/* Processes: start a program as a new hidden process, optionally inheriting the caller's
 * inheritable handles, detached from the console, or waited for with its exit code returned;
 * and the current process's id, parent id and exit. */
#ifndef OSSE_PROCESS_H
#define OSSE_PROCESS_H

#include "osse/base.h"

/* OSSProcessParam::flags. Bits 3 to 5 have meanings on other platforms and only take part in the
 * validity test here; bit 5 is cleared in parameter objects older than
 * OSS_PROCESS_FLAG5_VERSION. Accepted values: 0 to 7, 10, 16 to 23, 26, 32 to 39, 42. */
#define OSS_PROCESS_DETACHED 0x01u /* no console */
#define OSS_PROCESS_WAIT     0x02u /* wait for the child; its exit code in the status record */
#define OSS_PROCESS_INHERIT  0x04u /* the child inherits the inheritable handles */
#define OSS_PROCESS_FLAG3    0x08u
#define OSS_PROCESS_FLAG4    0x10u
#define OSS_PROCESS_FLAG5    0x20u
#define OSS_PROCESS_FLAG5_VERSION 0x09080000u

/* Not available on this platform: what ossProcessParentID returns. */
#define OSS_PROCESS_NO_PARENT_ID 0xFFFFFFFFu

/* The identifier of the calling process. */
OSSE_C_API Uint32 ossProcessID(void);
/* Always OSS_PROCESS_NO_PARENT_ID. */
OSSE_C_API Uint32 ossProcessParentID(void);
/* Does not return: ends the process with code. */
OSSE_C_API void ossProcessExit(Uint32 code);

#ifdef __cplusplus

/* Input of OSSHProcess::create: the program, its arguments, its environment and the OSS_PROCESS_...
 * flags. */
struct OSSProcessParam {
    Uint32 version; /* parameter version */
    const char* program;           /* program path; taken as it is when it begins with '"' */
    const char* arguments;         /* NUL-terminated texts one after the other, ended by an
                                      empty text ("-a\0b\0\0"), or null; appended as given, one
                                      blank apart (quote them as the child should see them) */
    void* environment;             /* environment block passed unchanged; null: the caller's */
    Uint32 flags;                  /* OSS_PROCESS_... */
};
#if OSSE_PTR32
static_assert(sizeof(OSSProcessParam) == 20, "OSSProcessParam is 20 bytes");
static_assert(offsetof(OSSProcessParam, environment) == 12, "OSSProcessParam: environment");
static_assert(offsetof(OSSProcessParam, flags) == 16, "OSSProcessParam: flags");
#else
static_assert(sizeof(OSSProcessParam) == 40, "x86_64 layout");
static_assert(offsetof(OSSProcessParam, environment) == 24, "x86_64 layout");
static_assert(offsetof(OSSProcessParam, flags) == 32, "x86_64 layout");
#endif

/* Output of OSSHProcess::create with OSS_PROCESS_WAIT: the child's exit code. */
struct OSSProcessStatus {
    Uint32 reserved1;  /* cleared by the wait */
    Uint32 exitCode;   /* the child's exit code */
    Uint32 reserved2;  /* cleared by the wait */
};
static_assert(sizeof(OSSProcessStatus) == 12, "OSSProcessStatus is 12 bytes");
static_assert(offsetof(OSSProcessStatus, exitCode) == 4, "OSSProcessStatus: exitCode");

/* Starts children. Each create starts at most one child and closes every handle to it before
 * returning; only the started flag and the mode stay in the object. */
class OSSE_API OSSHProcess {
public:
    Uint8 waiting;  /* set while create waits for the child */
    Uint8 started;  /* a child was started by this object */
    Uint32 mode;    /* the flags of the last create */
    void* handle;   /* the child's process handle while create runs; (void*)-1 otherwise */

    OSSHProcess() { constructor(); }

    /* Sets the object up with no child. */
    void constructor();
    /* Does nothing. */
    void destructor();

    /* Starts param->program with param->arguments. processId receives the child's id (also
     * when the wait fails: the child runs). With OSS_PROCESS_WAIT, returns after the child
     * ended, its exit code in status->exitCode. ECF_INVALID_PARAMETER for a null program,
     * flags outside the accepted values, a null processId, or a null status with
     * OSS_PROCESS_WAIT. */
    Uint32 create(const OSSProcessParam* param, unsigned long* processId,
                  OSSProcessStatus* status);
};

#endif

#endif
