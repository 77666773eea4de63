/* The library allocator and its debug blocks.
 *
 * Every allocation of the library goes through _ossMemAlloc / _ossMemFree, which wrap the C
 * runtime's malloc and free and surround each block with debugging structures whose shape
 * depends on the process-wide memory debug mode:
 *
 *   mode 0      header, data
 *   idle mode   idle prefix (16), header (16), data rounded to 8          (the default)
 *   light mode  front pad (16), header, data, 0xCC slack, back pad (16)
 *   full mode   F front pad units (8 each), full record (48), header, data, 0xCC slack,
 *               B back pad units, trailer (8); the record is linked into the list of live blocks
 *
 * The word just before the header is the block's pad type (its mode), so a block is always
 * verified by the layout it was built with. Corruption found on release or by _ossMemAllocCheck
 * is reported through the non-fatal assertion-failure action and the process goes on.
 *
 * The mode is chosen at load from the OSSEMEMDBG environment variable ("<path>,<level>", level
 * one of FULL, CORRUPTIONS, LEAKS, ALL, LIGHT) or later by ossMemSetDebug.
 *
 * Out-of-memory testing (full mode only): every allocation the built-in allocator builds is
 * counted, and the nth one after ossMemSetDebugFailAllocation(n, ...) fails exactly as a malloc
 * that has nothing left (the caller gets the allocator's failure code); the allocations after
 * it succeed again. A process can be started with it on: "<path>,<full-mode level>,FAILALLOC=<n>"
 * counts from the load and fails the nth allocation of any thread; at its end such a process
 * appends "PID 0x<pid> at exit: <counted> allocations, <failed> failed" to ossememdbg.log in
 * <path>, so that a loop over n knows when n has passed the last allocation. The user hooks take the
 * allocations away from the built-in allocator, so with hooks installed nothing is counted. */
#ifndef OSSE_MEM_H
#define OSSE_MEM_H

#include "osse/base.h"
#include "osse/latch.h"

#ifndef __cplusplus
#include <stdbool.h>
#endif

/* ---- Modes, markers and flags ------------------------------------------------------------ */

/* Memory debug modes, as stored in the control block and in each block's pad type: none, idle,
 * light and full. */
#define OSS_MEM_MODE_NONE  0x00000000u
#define OSS_MEM_MODE_IDLE  0x1D1EC0DEu
#define OSS_MEM_MODE_LIGHT 0xE7AC011Au
#define OSS_MEM_MODE_FULL  0xA110CA7Eu

/* Pad type word of a released block. */
#define OSS_MEM_FREED_MARKER 0xF4EEDA7Au

/* Block header eye-catcher; its low four bits carry the block's flags. */
#define OSS_MEM_EYECATCHER       0x7A3055E0u
#define OSS_MEM_EYECATCHER_FLAGS 0x0000000Fu
#define OSS_MEM_EYECATCHER_DEAD  0xDEAD055Eu

/* The two words of every pad unit. */
#define OSS_MEM_PAD_WORD1 0x600DBEEFu
#define OSS_MEM_PAD_WORD2 0xFEEDFACEu

/* Fill of the bytes between the end of the data and the next multiple of 8. */
#define OSS_MEM_SLACK_FILL 0xCCu
/* Fill of new and released data when the debug flags ask for it. */
#define OSS_MEM_DATA_FILL 0xFFu

/* Debug flags (OSSMemDebugCB::flags). Bits 2 and 3 are carried for readers of g_pMemDebugCB. */
#define OSS_MEM_DEBUG_FILL_NEW    0x01u /* fill new data with 0xFF unless zeroing was asked */
#define OSS_MEM_DEBUG_FILL_FREED  0x02u /* fill released data with 0xFF (light and full mode) */
#define OSS_MEM_DEBUG_LEAK_REPORT 0x20u /* list reports are leak reports */

/* _ossMemAlloc flags. */
#define OSS_MEM_ALLOC_ZERO    0x1u /* zero the data */
#define OSS_MEM_ALLOC_FLAGGED 0x2u /* set bit 0 of the eye-catcher */

/* ---- Block layouts ------------------------------------------------------------------------ */

/* Immediately before every user address, in every mode. */
typedef struct OSSMemBlockHeader {
    Uint32 eyeCatcher; /* OSS_MEM_EYECATCHER | flags; OSS_MEM_EYECATCHER_DEAD once released */
    Uint32 size;       /* size asked for */
    Uint32 reserved; /* 0 */
    Uint32 line;       /* caller's line */
} OSSMemBlockHeader;

/* Idle prefix ({0, 0, size, idle}) and light-mode front and back pads
 * ({0x600DBEEF, 0xFEEDFACE, size, light}). */
typedef struct OSSMemPad {
    Uint32 word1; /* OSS_MEM_PAD_WORD1 (light), 0 (idle) */
    Uint32 word2; /* OSS_MEM_PAD_WORD2 (light), 0 (idle) */
    Uint32 size; /* size asked for */
    Uint32 padType; /* OSS_MEM_MODE_IDLE or OSS_MEM_MODE_LIGHT */
} OSSMemPad;

/* One full-mode pad unit. */
typedef struct OSSMemPadUnit {
    Uint32 word1; /* OSS_MEM_PAD_WORD1 */
    Uint32 word2; /* OSS_MEM_PAD_WORD2 */
} OSSMemPadUnit;

/* Full-mode record: between the front pad units and the header; a node of the live list.
 *   i686 (48 bytes):   next 0, prev 4, file 8, size 28, line 32, frontPadUnits 36,
 *                      backPadUnits 40, padType 44
 *   x86_64 (64 bytes): next 0, prev 8, file 16, size 36, line 40, frontPadUnits 44,
 *                      backPadUnits 48, alignmentGap 52, reserved 56, padType 60
 * The pad type stays the last word, just before the block header, in both. On x86_64 malloc
 * hands out 16-byte aligned blocks and callers rely on the same of this allocator; with an odd
 * number of 8-byte front pad units the user address would be only 8-byte aligned, so such a
 * block starts with 8 unused bytes, recorded in alignmentGap. */
typedef struct OSSMemFullRecord {
    struct OSSMemFullRecord* next; /* next older record, null at the end */
    struct OSSMemFullRecord* prev; /* next newer record, null for the head */
    char file[20];                 /* caller's file name without directories, at most 19 chars */
    Uint32 size; /* size asked for */
    Uint32 line; /* caller's line */
    Uint32 frontPadUnits; /* pad units before this record */
    Uint32 backPadUnits; /* pad units after the data */
#if !OSSE_PTR32
    Uint32 alignmentGap;           /* bytes in front of the pad units: 0 or 8 */
    Uint32 reserved;
#endif
    Uint32 padType;                /* OSS_MEM_MODE_FULL; OSS_MEM_FREED_MARKER once released */
} OSSMemFullRecord;

/* Full-mode trailer behind the back pad units. */
typedef struct OSSMemBackPad {
    Uint32 size; /* size asked for */
    Uint32 mode; /* OSS_MEM_MODE_FULL */
} OSSMemBackPad;

/* The process's memory debug control block; every field is guarded by the latch. */
typedef struct OSSMemDebugCB {
    Uint32 flags; /* OSS_MEM_DEBUG_... bits */
    Uint32 mode; /* OSS_MEM_MODE_... of new blocks */
    Uint32 allocated; /* 1 from the first allocation by the built-in allocator on */
    Uint32 reserved[4]; /* 0 */
    Uint32 frontPadUnits; /* pad units before a new full-mode block */
    Uint32 backPadUnits; /* pad units after a new full-mode block */
    OSSMemFullRecord* allocList; /* newest live full-mode record */
    OSSLatch latch; /* guards every field of the block */
} OSSMemDebugCB;

/* ---- Allocator ------------------------------------------------------------------------------ */

/* Host replacements of the allocator (C calling convention). */
typedef Uint32 (*OSSMemUserAllocFn)(void** ppMem, Uint32 reserved, Uint32 size, Uint32 flags);
typedef Uint32 (*OSSMemUserFreeFn)(void** ppMem);

/* Allocates size bytes; *ppMem receives the user address. noHooks non-zero bypasses the user
 * hooks. 0, 0x9000000C for a null ppMem, size 0 or flags other than OSS_MEM_ALLOC_*, or the
 * system error handler's code when malloc fails. */
OSSE_C_API Uint32 _ossMemAlloc(void** ppMem, Uint32 noHooks, Uint32 size, Uint32 flags,
                               const char* file, Uint32 line);
/* Verifies and releases *ppMem and sets it to null. 0; 0x9000000C for a null ppMem;
 * 0x900003EE (logged) for a null *ppMem. */
OSSE_C_API Uint32 _ossMemFree(void** ppMem, Uint32 noHooks, Uint32 unused, const char* file,
                              Uint32 line);
/* Verifies the block at *ppMem (and releases it when release is non-zero, leaving the start of
 * the memory obtained from malloc in *ppMem). The block's size; -1 in mode 0; 0 when user
 * hooks are installed or the block is not a valid live block. */
OSSE_C_API Sint32 _ossMemAllocCheck(void** ppMem, const char* file, Uint32 line, Uint32 release);
/* 0, or 0x90000079 when after the first allocation the call would switch between mode 0 and
 * a non-zero mode (the flags and pad units are stored all the same). */
OSSE_C_API Uint32 ossMemSetDebug(Uint32 flags, Uint32 mode, Uint32 frontPadUnits,
                                 Uint32 backPadUnits);
/* Copies out the current settings (each pointer may be null). */
OSSE_C_API void _ossMemGetDebug(Uint32* flags, Uint32* mode, Uint32* frontPadUnits,
                                Uint32* backPadUnits);
/* Fails the nth allocation (counted from this call; 0: none, only count) that the built-in
 * allocator builds in full mode, and restarts the count; with thisThreadOnly only the calling
 * thread's allocations count. 0, or ECF_NOT_SUPPORTED (0x90000005) outside full mode. */
OSSE_C_API Uint32 ossMemSetDebugFailAllocation(Uint32 nth, bool thisThreadOnly);
/* Copies out the allocations counted and the failures given since the last
 * ossMemSetDebugFailAllocation (or the load), and the number of live full-mode blocks (the
 * length of the list the leak report walks). Each pointer may be null. */
OSSE_C_API void _ossMemGetDebugCounts(Uint32* allocations, Uint32* failures, Uint32* liveBlocks);
/* 0, or 0x90000002 when either function is null. */
OSSE_C_API Uint32 ossMemDefineUserAllocAndFreeFunctions(OSSMemUserAllocFn allocFn,
                                                        OSSMemUserFreeFn freeFn);

/* Pointer probes: non-zero when the range is bad (always for length 0 or an address below
 * 4096; for strings, a null pointer or maxLength 0). */
OSSE_C_API Uint32 _ossIsBadReadPtr(const void* p, Uint32 length);
/* Non-zero when the range cannot be written (with write) or read now. */
OSSE_C_API Uint32 _ossIsBadWritePtr(void* p, Uint32 length, bool write);
/* Non-zero when the string cannot be read up to its terminator within maxLength characters. */
OSSE_C_API Uint32 _ossIsBadString(const char* s, Uint32 maxLength);

/* The library's own call sites. */
#define OSS_MEM_ALLOC(ppMem, size, flags) \
    _ossMemAlloc((void**)(ppMem), 0, (Uint32)(size), (flags), __FILE__, __LINE__)
#define OSS_MEM_FREE(ppMem) _ossMemFree((void**)(ppMem), 0, 0, __FILE__, __LINE__)

/* ---- Debugging configuration and reports ----------------------------------------------------- */

/* The control block when the mode chosen at load is full mode, null otherwise. */
OSSE_C_API OSSMemDebugCB* g_pMemDebugCB;
/* Directory of every memory debug file (settings log, per-thread dumps, leak report). */
OSSE_C_API char g_szMemDebugLogPath[260];
/* Write the leak report when the library unloads. */
OSSE_C_API Uint8 g_bIsMemoryFFDCEnabledFlag;
/* Dump the list of live blocks at the next allocation or release. */
OSSE_C_API Uint8 g_bDumpMemAllocListFlag;

/* Reports the live full-mode blocks: a per-thread dump, or a leak report with debug flag 0x20;
 * to standard output when toFile is false or no path is set. Always 0. */
OSSE_C_API Uint32 _ossMemAllocList(const char* file, Uint32 line, bool toFile);
/* Asks for the leak report when the library unloads (sets g_bIsMemoryFFDCEnabledFlag). */
OSSE_C_API void ossMemSetMemFFDCEnabledFlag(void);
/* True when the leak report is asked for and a memory debug log path is set. */
OSSE_C_API bool ossMemIsMemFFDCAndOSSeMemDebugPathSet(void);

#ifdef __cplusplus
static_assert(sizeof(OSSMemBlockHeader) == 16, "block header is 16 bytes");
static_assert(sizeof(OSSMemPad) == 16, "idle prefix and light pads are 16 bytes");
static_assert(sizeof(OSSMemPadUnit) == 8, "pad units are 8 bytes");
static_assert(sizeof(OSSMemBackPad) == 8, "full-mode trailer is 8 bytes");
static_assert(offsetof(OSSMemDebugCB, mode) == 4, "control block: mode");
static_assert(offsetof(OSSMemDebugCB, allocated) == 8, "control block: allocated");
static_assert(offsetof(OSSMemDebugCB, frontPadUnits) == 28, "control block: front pad units");
static_assert(offsetof(OSSMemDebugCB, backPadUnits) == 32, "control block: back pad units");
#if OSSE_PTR32
static_assert(sizeof(OSSMemFullRecord) == 48, "full record is 48 bytes");
static_assert(offsetof(OSSMemFullRecord, file) == 8, "record: file");
static_assert(offsetof(OSSMemFullRecord, size) == 28, "record: size");
static_assert(offsetof(OSSMemFullRecord, line) == 32, "record: line");
static_assert(offsetof(OSSMemFullRecord, frontPadUnits) == 36, "record: front pad units");
static_assert(offsetof(OSSMemFullRecord, backPadUnits) == 40, "record: back pad units");
static_assert(offsetof(OSSMemFullRecord, padType) == 44, "record: pad type");
static_assert(offsetof(OSSMemDebugCB, allocList) == 36, "control block: list head");
static_assert(offsetof(OSSMemDebugCB, latch) == 40, "control block: latch");
#else
static_assert(sizeof(OSSMemFullRecord) == 64, "x86_64 layout");
static_assert(offsetof(OSSMemFullRecord, alignmentGap) == 52, "x86_64 layout");
static_assert(offsetof(OSSMemFullRecord, file) == 16, "x86_64 layout");
static_assert(offsetof(OSSMemFullRecord, size) == 36, "x86_64 layout");
static_assert(offsetof(OSSMemFullRecord, line) == 40, "x86_64 layout");
static_assert(offsetof(OSSMemFullRecord, frontPadUnits) == 44, "x86_64 layout");
static_assert(offsetof(OSSMemFullRecord, backPadUnits) == 48, "x86_64 layout");
static_assert(offsetof(OSSMemFullRecord, padType) == 60, "x86_64 layout");
static_assert(offsetof(OSSMemDebugCB, allocList) == 40, "x86_64 layout");
static_assert(offsetof(OSSMemDebugCB, latch) == 48, "x86_64 layout");
#endif
#endif

#endif
