/* Operating-system failures: the mapping of error numbers to return codes, their names, the
 * one handler every failure goes through, the error context an operation fills for it, the
 * typed data items that the handler and the diagnostic log take, and the entry point of the
 * error analysis. */
#ifndef OSSE_ERROR_H
#define OSSE_ERROR_H

#include "osse/base.h"

/* ---- Data items ------------------------------------------------------------------------
 * One data item is three 32-bit words: the address of the value, its size in bytes and its
 * type code. Items are passed by value through a variable argument list. */
#define OSS_ITEM_HEX      (-1)
#define OSS_ITEM_SIGNED   (-2)
#define OSS_ITEM_UNSIGNED (-3)
#define OSS_ITEM_CHAR     (-4)
#define OSS_ITEM_STRING   (-5)
#define OSS_ITEM_BOOL     (-6)
/* The address is that of a va_list positioned on further items; the size is their count, or,
 * when negative, an argument mask. */
#define OSS_ITEM_NESTED   (-7)
/* Any other type code (0 or positive): the bytes are dumped. */
#define OSS_ITEM_BYTES    0

/* One typed data item of a log record or a failure: the value's address, its size in bytes and its
 * type code (OSS_ITEM_...). */
typedef struct OSSLogItem {
    const void* p; /* address of the value */
    Sint32 size; /* bytes, or the count or mask of OSS_ITEM_NESTED */
    Sint32 type; /* OSS_ITEM_..., or 0 and up for raw bytes */
} OSSLogItem;

/* ---- Error context ---------------------------------------------------------------------
 * Filled by an operation before it calls the handler, so that the error analysis can look at
 * the resource concerned. `valid` says which fields are set. */
#define OSS_ERRCTX_TARGET_FILE_NAME   0x01u
#define OSS_ERRCTX_TARGET_FILE_HANDLE 0x02u
#define OSS_ERRCTX_IO_SIZE            0x04u
#define OSS_ERRCTX_VALUE64            0x08u
#define OSS_ERRCTX_PERMISSIONS        0x10u
#define OSS_ERRCTX_ALLOCATION_SIZE    0x20u

/* What an operation knew of the resource concerned when it failed; `valid` has one OSS_ERRCTX_...
 * bit per field set. init() clears it; each setter stores one field and sets its bit. */
typedef struct OSSErrorContext {
    Uint32 version; /* OSS_CURRENT_VERSION, set by init() */
    Uint64 valid; /* OSS_ERRCTX_... bits of the fields set */
    const char* targetFileName; /* name of the file concerned; not copied */
    Uint32 targetFileHandle; /* handle of the file concerned, cut to 32 bits */
    Uint32 ioSize; /* bytes of the transfer that failed */
    Uint64 value64; /* an offset or a size of the operation */
    Uint32 permissions; /* permissions asked for */
    Uint32 allocationSize; /* bytes of the allocation that failed */

#ifdef __cplusplus
    /* Sets the version and clears every field and bit. */
    void init()
    {
        version = OSS_CURRENT_VERSION;
        valid = 0;
        targetFileName = 0;
        targetFileHandle = 0;
        ioSize = 0;
        value64 = 0;
        permissions = 0;
        allocationSize = 0;
    }
    /* Records the name of the file concerned. */
    void setTargetFileName(const char* name)
    {
        if (name) {
            targetFileName = name;
            valid |= OSS_ERRCTX_TARGET_FILE_NAME;
        }
    }
    /* Records the handle of the file concerned. */
    void setTargetFileHandle(Uint32 handle)
    {
        targetFileHandle = handle;
        valid |= OSS_ERRCTX_TARGET_FILE_HANDLE;
    }
    /* Records the handle of the file concerned, given as a system handle. */
    void setTargetFileHandle(const void* handle)
    {
        setTargetFileHandle((Uint32)(uintptr_t)handle);
    }
    /* Records the size of the transfer that failed. */
    void setIOSize(Uint32 size)
    {
        ioSize = size;
        valid |= OSS_ERRCTX_IO_SIZE;
    }
    /* Records a 64-bit value of the operation (an offset or a size). */
    void setValue64(Uint64 value)
    {
        value64 = value;
        valid |= OSS_ERRCTX_VALUE64;
    }
    /* Records the permissions asked for. */
    void setPermissions(Uint32 perms)
    {
        permissions = perms;
        valid |= OSS_ERRCTX_PERMISSIONS;
    }
    /* Records the size of the allocation that failed. */
    void setAllocationSize(Uint32 size)
    {
        allocationSize = size;
        valid |= OSS_ERRCTX_ALLOCATION_SIZE;
    }
#endif
} OSSErrorContext;

/* ---- Error analysis request ------------------------------------------------------------ */
#define OSS_ERRANALYSIS_GENERAL 0u
#define OSS_ERRANALYSIS_IO      1u
#define OSS_ERRANALYSIS_MEMORY  2u

/* The details of an I/O failure for the error analysis. */
typedef struct OSSErrorAnalysisIODetails {
    const char* targetFileName;   /* null when unknown */
    Uint32 targetFileHandle;      /* 0xFFFFFFFF when the operation did not set one */
    Uint32 ioSize; /* bytes of the transfer that failed; 0 when unknown */
    Uint64 value64; /* an offset or a size of the operation; 0 when unknown */
    Uint32 reserved1; /* 0 */
    Uint32 reserved2; /* 0 */
} OSSErrorAnalysisIODetails;

/* The details of a memory failure for the error analysis: the size asked for. */
typedef struct OSSErrorAnalysisMemoryDetails {
    Uint32 allocationSize; /* bytes asked for */
} OSSErrorAnalysisMemoryDetails;

/* A request to the error analysis: the failure (function, probe, failed call, operating-system
 * error, level) and, for the I/O and memory kinds, the details record. */
typedef struct OSSErrorAnalysisRequest {
    Uint32 version;               /* OSS_CURRENT_VERSION */
    Uint32 kind;                  /* OSS_ERRANALYSIS_* */
    const void* details;          /* IO or memory details; null for the general kind */
    Uint32 functionId; /* operation identifier of the failed function */
    Uint32 probe; /* probe point within that function */
    Uint32 failedCall; /* identifier of the call that failed */
    Uint32 osError; /* error code that call returned */
    Uint32 level; /* log level of the failure (OSS_LEVEL_...) */
    Uint32 reserved1; /* 0 */
    Uint32 reserved2; /* 0 */
} OSSErrorAnalysisRequest;

#ifdef __cplusplus
#if OSSE_PTR32
static_assert(sizeof(OSSLogItem) == 12, "a data item is three 32-bit words");
#else
static_assert(sizeof(OSSLogItem) == 16, "x86_64 layout");
#endif
static_assert(sizeof(OSSErrorContext) == 48, "OSSErrorContext layout");
static_assert(offsetof(OSSErrorContext, valid) == 8, "OSSErrorContext layout");
static_assert(offsetof(OSSErrorContext, targetFileName) == 16, "OSSErrorContext layout");
#if OSSE_PTR32
static_assert(offsetof(OSSErrorContext, targetFileHandle) == 20, "OSSErrorContext layout");
static_assert(offsetof(OSSErrorContext, ioSize) == 24, "OSSErrorContext layout");
#else
static_assert(offsetof(OSSErrorContext, targetFileHandle) == 24, "x86_64 layout");
static_assert(offsetof(OSSErrorContext, ioSize) == 28, "x86_64 layout");
#endif
static_assert(offsetof(OSSErrorContext, value64) == 32, "OSSErrorContext layout");
static_assert(offsetof(OSSErrorContext, permissions) == 40, "OSSErrorContext layout");
static_assert(offsetof(OSSErrorContext, allocationSize) == 44, "OSSErrorContext layout");
#if OSSE_PTR32
static_assert(sizeof(OSSErrorAnalysisRequest) == 40, "OSSErrorAnalysisRequest layout");
#else
static_assert(sizeof(OSSErrorAnalysisRequest) == 48, "x86_64 layout");
#endif
static_assert(offsetof(OSSErrorAnalysisIODetails, value64) == 16, "IO details layout");
static_assert(sizeof(OSSErrorAnalysisIODetails) == 32, "IO details layout");
#endif

/* ---- Handler flags --------------------------------------------------------------------- */
#define OSS_SEH_NO_ANALYSIS 0x1u   /* no error analysis and no hint item */
#define OSS_SEH_MAP_ONLY    0x2u   /* map only: no record, no analysis */

/* Maps an operating-system (or C-runtime errno) error number reported by `failedCall` to an
 * ECF code; stores the suggested severity level through `level` when it is not null. */
OSSE_C_API Uint32 ossErrorMapSystem(Uint32 functionId, Uint32 probe, Uint32 failedCall,
                                    Uint32 osError, Uint32* level);

/* Symbolic name of the error number, or null when the pair has none. */
OSSE_C_API const char* ossErrorNameMapSystem(Uint32 failedCall, Uint32 osError);

/* Maps the failure, writes one diagnostic-log record on the default facility and hands the
 * failure to the error analysis; returns the mapped ECF code. `itemCount` OSSLogItem values
 * follow. */
OSSE_C_API Uint32 ossSystemErrorHandler(Uint32 functionId, Uint32 failedCall, Uint32 osError,
                                        Uint32 probe, Uint32 severityCeiling, Uint32 flags,
                                        OSSErrorContext* context, Uint32 itemCount, ...);

/* Gathers the facts that usually explain a failure and logs them; does nothing for null. */
OSSE_C_API void ossErrorAnalysis(const OSSErrorAnalysisRequest* request);

#endif
