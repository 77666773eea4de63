/* Security and user queries: process tokens, elevation, integrity level, the administrator
 * and system identities, the user name and session, the common application-data path, and the
 * native system information. Each returns 0 or an ECF code; the system types are declared by
 * their structure tags (include <windows.h> for them), a token information class is passed as
 * its numeric value. */
#ifndef OSSE_SECURITY_H
#define OSSE_SECURITY_H

#include "osse/base.h"

struct _SYSTEM_INFO;

/* Parameter of the user queries. */
typedef struct OSSUserQueryParam {
    Uint32 version;    /* OSS_CURRENT_VERSION; at least OSS_MIN_VERSION */
    Uint32 outSize;    /* size of the caller's output buffer */
} OSSUserQueryParam;

/* Integrity level of an elevated process (ossGetProcessIntegrityLevel). */
#define OSS_INTEGRITY_LEVEL_HIGH 0x3000u

/* Fills the system's record of processors and memory pages. */
OSSE_C_API Uint32 ossGetSystemInfo(struct _SYSTEM_INFO* info);
/* *buffer is allocated here (zeroed) and freed by the caller with _ossMemFree; null after a
 * failure. */
OSSE_C_API Uint32 ossGetTokenInformation(void* token, int infoClass, void** buffer,
                                         Uint32* length);
/* *result: whether the process's token holds the local administrators group. */
OSSE_C_API Uint32 ossDoesProcessHaveLocalAdminSID(Uint32 processId, bool* result);
/* *level: the integrity level of the process (OSS_INTEGRITY_LEVEL_HIGH when elevated). */
OSSE_C_API Uint32 ossGetProcessIntegrityLevel(Uint32 processId, Uint32* level);
/* *result: whether the process runs with a filtered (limited) token. */
OSSE_C_API Uint32 ossIsProcessRunningWithFilteredToken(Uint32 processId, bool* result);
/* *result: whether the token is elevated. */
OSSE_C_API Uint32 ossIsTokenElevated(void* token, bool* result);
/* A null token returns 0 and leaves *result as it was. */
OSSE_C_API Uint32 ossDoesTokenHaveSystemSID(void* token, bool* result);
/* 0, 0x90000002 ECF_FAILED, or 0x90000008 ECF_BUFFER_TOO_SMALL when the path and its
 * terminator do not fit in outSize. */
OSSE_C_API Uint32 ossGetCommonAppDataPath(char* out, Uint32 outSize);
/* The name of the user the process runs as, into out[param->outSize]. */
OSSE_C_API Uint32 ossGetCurrentUserName(const OSSUserQueryParam* param, char* out);
/* The session number of the process in decimal; 0x90000008 when it does not fit. */
OSSE_C_API Uint32 ossGetCurrentUserDisplay(const OSSUserQueryParam* param, char* out);

#ifdef __cplusplus
static_assert(sizeof(OSSUserQueryParam) == 8, "user query parameter layout");
#endif

#endif
