/* Trace facility: the trace control block shared by every traced process, its options and
 * filters, the trace mask, and the trace point writers.
 *
 * A controlling program sizes the block with gtraceGetAllocSize, places it (normally in shared
 * memory), formats it once with gtraceInitialize; every process binds it with gtraceAttach and
 * tracing is switched on and off for all of them through the block's enable word. The ring
 * buffer that holds the records follows the block directly (offset GTCB_SIZE).
 *
 * All layouts below are shared-memory formats: little-endian, offsets never pointers. */
#ifndef OSSE_TRACE_H
#define OSSE_TRACE_H

#include "osse/base.h"

#include <stddef.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

/* ---- Sizes and markers ----------------------------------------------------------------------- */
#define GTCB_SIZE                 0x318D8u /* control block; the ring buffer starts here */
#define GTRACE_OPTIONS_SIZE       0x318B8u
#define GTRACE_EYECATCHER         "@GTCB@" /* followed by two NUL bytes */
#define GTRACE_MAX_THREAD_FILTERS 64u
#define GTRACE_MAX_FIXED_DATA2    64u
#define GTRACE_MAX_VAR_BYTES      65535u   /* item area of one record */
#define GTRACE_NOT_SET            0xFFFFFFFFu /* process id and fixed data before they are set */

/* ---- Mode word (options + 0x00C) ---------------------------------------------------------------- */
#define GTRACE_MODE_CIRCULAR     0x01u /* ring buffer wraps */
#define GTRACE_MODE_LINEAR       0x02u /* ring buffer stops when full */
#define GTRACE_MODE_AUTODUMP     0x04u /* circular, chunks drained by a dumper */
#define GTRACE_MODE_PROFILE      0x08u /* when 0x80 is clear */
#define GTRACE_MODE_RANDOM_SLEEP 0x10u /* trace points that pass the filters sleep instead */
#define GTRACE_MODE_COVERAGE     0x80u /* when 0x08 is clear */

/* ---- Flags word (options + 0x010) ---------------------------------------------------------------- */
#define GTRACE_FLAG_TIMESTAMP        0x00002u /* stamp records with the performance counter */
#define GTRACE_FLAG_POINT_BITMAPS    0x00004u /* filter by the flat point bitmaps */
#define GTRACE_FLAG_RESERVED_8       0x00008u
#define GTRACE_FLAG_RESERVED_10      0x00010u
#define GTRACE_FLAG_THREAD_FILTER    0x00020u
#define GTRACE_FLAG_STOP             0x00040u /* stop condition armed */
#define GTRACE_FLAG_STOP_ON_RC       0x00080u /* exits with the stop return code are hits */
#define GTRACE_FLAG_APP_CALLBACK     0x00100u /* call the application callback after a record */
#define GTRACE_FLAG_PROFILE_MODE     0x00200u /* mirrors mode 0x08 */
#define GTRACE_FLAG_PROFILE_TIMING   0x00400u
#define GTRACE_FLAG_RANDOM_SLEEP     0x00800u /* mirrors mode 0x10 */
#define GTRACE_FLAG_TRACE_MASK       0x02000u /* filter by the trace mask */
#define GTRACE_FLAG_ERRORS_ONLY      0x04000u
#define GTRACE_FLAG_COVERAGE_MODE    0x08000u /* mirrors mode 0x80 */
#define GTRACE_FLAG_FIXED_DATA2      0x10000u /* filter by the fixed-data-2 filter */
#define GTRACE_FLAG_PRE_TRACE        0x20000u /* ask the pre-trace callback */
#define GTRACE_FLAG_PROFILE_QUALIFY  0x800000u
/* Any of these sends a trace point through the filtering step. */
#define GTRACE_FILTER_FLAGS          0x1EA3Eu
/* Any of these asks for the after-record actions. */
#define GTRACE_AFTER_RECORD_FLAGS    0x001C0u

/* ---- Record types -------------------------------------------------------------------------------- */
#define GTRACE_TYPE_ENTRY      1u
#define GTRACE_TYPE_EXIT       2u
#define GTRACE_TYPE_DATA       3u
#define GTRACE_TYPE_ERROR      4u
#define GTRACE_TYPE_STOP_ERROR 5u
#define GTRACE_TYPE_ERROR11    11u
#define GTRACE_TYPE_CORRELATOR 12u
#define GTRACE_TYPE_ERROR_TRANS 13u
/* Bit 16 of a marker's type argument: the record flags become 2. */
#define GTRACE_MARKER_FLAG     0x10000u

/* Data item kinds of the Var writers (the third word is a value for 1 and 2, else a pointer).
 * Each item is passed as (kind, size, word); the word of a pointer item is a pointer (pass
 * nullptr, not 0: on x86_64 a vararg slot is 8 bytes and only a value's low half is read). */
#define GTRACE_ITEM_BYTES 0u
#define GTRACE_ITEM_VALUE1 1u
#define GTRACE_ITEM_VALUE2 2u
#define GTRACE_ITEM_CUT   4u /* stored only: an item cut short by the length limit */
#define GTRACE_ITEM_NULL_SIZE 0xFFFFFFFFu /* stored size of an item whose pointer was null */

#ifdef __cplusplus

/* ---- Trace mask ---------------------------------------------------------------------------------- */

/* Flat point bitmaps, 552 bytes: the coarse filter of flag 0x00004, filled by gtmReplicateMask.
 * Bit n of a bitmap is bit (n mod 8) of byte n / 8. */
struct GTMask {
    Uint8  functions[512];  /* 4,096 bits by function field */
    Uint8  components[32];  /* 256 bits by component field */
    Uint32 products;        /* 32 bits by product field */
    Uint16 recordTypes;     /* 16 bits by record type */
    Uint8  functionKinds;   /* 8 bits by function-kind field */
    Uint8  padding; /* 0 */
};

/* One individual trace point (function identifier without its kind bits, probe). */
struct GTMPoint {
    Uint32 flags;       /* bit 1: the point is excluded */
    Uint32 data; /* the caller's data of gtmSetMask, low 32 bits */
    Uint32 functionId;  /* kind bits 16..18 cleared; 0 in a free entry */
    Uint16 probe; /* probe of the point */
    Uint16 next;        /* next entry of the chain or of the free list; 0 ends it */
};

#define GTM_POINT_ENTRIES   2000u  /* entry 0 is never used */
/* Hash buckets of the point table. */
#define GTM_POINT_BUCKETS   1024u
#define GTM_COMPONENTS      321u   /* global component indices 0..320 (0 unused) */
/* "All" for any argument of the mask calls. */
#define GTM_ALL             0xFFFFFFFFu
/* Flag bit of a point-table entry: the point is excluded rather than included. */
#define GTM_POINT_EXCLUDED  0x2u
#define GTM_FLAG_POINT      0x1u   /* gtmSetMask/gtmDelMask: e is a probe, not a record type */

/* The table of single trace points of a mask: entries chained by hash bucket, with a free list. */
struct GTMPointTable {
    GTMPoint entries[GTM_POINT_ENTRIES]; /* the point entries; entry 0 unused */
    Uint16   firstFree;                     /* 0 when none is free */
    Uint16   chainHeads[GTM_POINT_BUCKETS]; /* bucket b (1..1024) at chainHeads[b - 1] */
    Uint8    padding[14]; /* 0 */
    Uint64   used; /* entries in use */
    Uint64   excluded;                      /* entries in use with flags bit 1 */
};

/* The function and record-type bits of one component in a mask. */
struct GTMComponentBlock {
    Uint8  functions[512]; /* 4,096 bits by function field */
    Uint16 recordTypes;    /* 16 bits by record type */
    Uint8  padding[6]; /* 0 */
};

/* Hierarchical trace mask (product, component, function, record type) with a table of single
 * trace points that are included or excluded one by one. It lives inside the trace options and
 * holds no pointers. All arguments are unsigned 32-bit; GTM_ALL means "all". */
class OSSE_API GTM_TRC_MASK {
public:
    GTM_TRC_MASK() { constructor(); }
    /* Empty point table (free list 1 -> 2 -> ... -> 1,999); the bitmaps are left as they are. */
    void constructor();

    /* Adds to the mask; e is a record type, or a probe when flags has GTM_FLAG_POINT. False only
     * when a point found the table full. */
    bool gtmSetMask(Uint32 p, Uint32 c, Uint32 f, Uint32 e, Uint32 flags, Uint64 data);
    /* Removes from the mask; removing a point that a record type includes adds an exclusion. */
    bool gtmDelMask(Uint32 p, Uint32 c, Uint32 f, Uint32 e, Uint32 flags);
    /* Empties the mask: nothing is included. True. */
    bool gtmClearMask();
    /* ORs the mask into the flat bitmaps: coarser than the mask, never narrower. */
    void gtmReplicateMask(GTMask* out) const;

    /* True when the mask includes a trace point (function identifier, record type, probe). */
    bool gtmIsElemInMask(Uint32 functionId, Uint32 type, Uint32 probe) const;
    /* True when the mask includes a component of product p. */
    bool gtmIsCompInMask(Uint32 p, Uint32 c) const;
    /* True when the mask includes a function of component c of product p. */
    bool gtmIsFuncInMask(Uint32 p, Uint32 c, Uint32 f) const;
    /* True when the mask includes a record type for component c of product p. */
    bool gtmIsTypeInMask(Uint32 p, Uint32 c, Uint32 t) const;
    /* True when every product is included. */
    bool gtmIsProdMaskFull() const;
    /* True when every component of product p is included. */
    bool gtmIsCompMaskFull(Uint32 p) const;
    /* True when every function of component c of product p is included. */
    bool gtmIsFuncMaskFull(Uint32 p, Uint32 c) const;
    /* True when every record type of component c of product p is included. */
    bool gtmIsTypeMaskFull(Uint32 p, Uint32 c) const;
    /* Walks the point table with one cursor per process; true while it yields an entry. */
    bool gtmScanPointsHash(Uint32* functionId, Uint64* data, Uint16* probe);

    Uint8             componentBits[48];          /* by global component index */
    GTMComponentBlock blocks[GTM_COMPONENTS];     /* by global component index */
    GTMPointTable     points; /* the single trace points */
    Uint32            productBits; /* bit p: product p is included */
    Uint32            padding; /* 0 */
};

/* ---- Options and control block ------------------------------------------------------------------- */

/* A thread filter of the trace options: record only this process, or this thread of it. */
struct GTraceThreadFilter {
    Uint32 flags;     /* bit 0: in use; bit 1: match the thread too */
    Uint32 processId; /* the process the filter matches */
    Uint64 threadId; /* the thread the filter matches, when bit 1 is set */
};
/* GTraceThreadFilter::flags: the filter is in use; it matches the thread as well. */
#define GTRACE_THREAD_FILTER_IN_USE 0x1u
#define GTRACE_THREAD_FILTER_THREAD 0x2u

/* Trace options: the same layout in a caller's structure, in the control block and in a dump
 * header. Constructing one zeroes it and empties its mask's point table. */
struct OSSE_API GTraceOptions {
    GTraceOptions();

    Uint64             wrappingDumpMarker;  /* 0x000 */
    Uint32             bufferSize;          /* 0x008 power of two, 512 KiB .. 1 GiB */
    Uint32             mode;                /* 0x00C GTRACE_MODE_ */
    Uint32             flags;               /* 0x010 GTRACE_FLAG_ */
    Uint8              reserved1[8];        /* 0x014 */
    Uint32             stopCount;           /* 0x01C */
    Uint32             stopRcOrSleepPeriod; /* 0x020 */
    Uint32             threadFilterCount;   /* 0x024 */
    GTraceThreadFilter threadFilter[GTRACE_MAX_THREAD_FILTERS]; /* 0x028 */
    GTMask             pointBitmaps;        /* 0x428 */
    GTM_TRC_MASK       traceMask;           /* 0x650 */
    Uint32             fixedData2Filter[GTRACE_MAX_FIXED_DATA2]; /* 0x317B0 */
    Uint32             fixedData2FilterCount; /* 0x318B0 */
    Uint32             reserved2;           /* 0x318B4 */
};

/* Trace control block; never constructed, formatted in place by gtraceInitialize. */
struct GTCB {
    char            eyeCatcher[8];      /* 0x00000 "@GTCB@\0\0" */
    Uint32          initialized;        /* 0x00008 */
    volatile Uint32 enabled;            /* 0x0000C the word every trace point tests */
    GTraceOptions   options;            /* 0x00010 */
    volatile Uint32 stopCounter;        /* 0x318C8 */
    char            trailingEyeCatcher[8]; /* 0x318CC */
    Uint32          padding;            /* 0x318D4 */
};

static_assert(sizeof(GTMask) == 552, "GTMask is 552 bytes");
static_assert(offsetof(GTMask, components) == 512, "layout");
static_assert(offsetof(GTMask, products) == 544, "layout");
static_assert(offsetof(GTMask, recordTypes) == 548, "layout");
static_assert(offsetof(GTMask, functionKinds) == 550, "layout");
static_assert(sizeof(GTMPoint) == 16, "point entry is 16 bytes");
static_assert(offsetof(GTMPoint, data) == 4, "layout");
static_assert(offsetof(GTMPoint, functionId) == 8, "layout");
static_assert(offsetof(GTMPoint, probe) == 12, "layout");
static_assert(offsetof(GTMPoint, next) == 14, "layout");
static_assert(sizeof(GTMPointTable) == 34080, "point table is 34,080 bytes");
static_assert(offsetof(GTMPointTable, firstFree) == 32000, "layout");
static_assert(offsetof(GTMPointTable, chainHeads) == 32002, "layout");
static_assert(offsetof(GTMPointTable, padding) == 34050, "layout");
static_assert(offsetof(GTMPointTable, used) == 34064, "layout");
static_assert(offsetof(GTMPointTable, excluded) == 34072, "layout");
static_assert(sizeof(GTMComponentBlock) == 520, "component block is 520 bytes");
static_assert(offsetof(GTMComponentBlock, recordTypes) == 512, "layout");
static_assert(sizeof(GTM_TRC_MASK) == 201056, "GTM_TRC_MASK is 201,056 bytes");
static_assert(offsetof(GTM_TRC_MASK, blocks) == 48, "layout");
static_assert(offsetof(GTM_TRC_MASK, points) == 166968, "layout");
static_assert(offsetof(GTM_TRC_MASK, productBits) == 201048, "layout");
static_assert(sizeof(GTraceThreadFilter) == 16, "thread filter entry is 16 bytes");
static_assert(offsetof(GTraceThreadFilter, threadId) == 8, "layout");
static_assert(sizeof(GTraceOptions) == GTRACE_OPTIONS_SIZE, "GTraceOptions is 202,936 bytes");
static_assert(offsetof(GTraceOptions, bufferSize) == 0x008, "layout");
static_assert(offsetof(GTraceOptions, mode) == 0x00C, "layout");
static_assert(offsetof(GTraceOptions, flags) == 0x010, "layout");
static_assert(offsetof(GTraceOptions, reserved1) == 0x014, "layout");
static_assert(offsetof(GTraceOptions, stopCount) == 0x01C, "layout");
static_assert(offsetof(GTraceOptions, stopRcOrSleepPeriod) == 0x020, "layout");
static_assert(offsetof(GTraceOptions, threadFilterCount) == 0x024, "layout");
static_assert(offsetof(GTraceOptions, threadFilter) == 0x028, "layout");
static_assert(offsetof(GTraceOptions, pointBitmaps) == 0x428, "layout");
static_assert(offsetof(GTraceOptions, traceMask) == 0x650, "layout");
static_assert(offsetof(GTraceOptions, fixedData2Filter) == 0x317B0, "layout");
static_assert(offsetof(GTraceOptions, fixedData2FilterCount) == 0x318B0, "layout");
static_assert(offsetof(GTraceOptions, reserved2) == 0x318B4, "layout");
static_assert(sizeof(GTCB) == GTCB_SIZE, "GTCB is 202,968 bytes");
static_assert(offsetof(GTCB, initialized) == 0x00008, "layout");
static_assert(offsetof(GTCB, enabled) == 0x0000C, "layout");
static_assert(offsetof(GTCB, options) == 0x00010, "layout");
static_assert(offsetof(GTCB, stopCounter) == 0x318C8, "layout");
static_assert(offsetof(GTCB, trailingEyeCatcher) == 0x318CC, "layout");
static_assert(offsetof(GTCB, padding) == 0x318D4, "layout");
static_assert(GTCB_SIZE % 8 == 0, "the ring buffer follows at a multiple of 8");

/* Head of a record (the payload of a ring buffer reservation). A record without items is the
 * first 52 bytes, up to the result word, and fills one 64-byte slot exactly; the item count is
 * part of records with items and of the two-slot records. */
#pragma pack(push, 4)
struct GTraceRecord {
    Uint64 timestamp;      /* 0x00 performance counter with flag 0x00002, else 0 */
    Uint64 threadId;       /* 0x08 */
    Uint32 processId;      /* 0x10 */
    Uint32 functionId;     /* 0x14 */
    Uint32 fixedData1;     /* 0x18 */
    Uint32 fixedData2;     /* 0x1C */
    Uint16 recordType;     /* 0x20 */
    Uint16 recordFlags;    /* 0x22 */
    Uint16 probe;          /* 0x24 */
    Uint16 itemAreaLength; /* 0x26 */
    Uint32 data1;          /* 0x28 */
    Uint32 data2;          /* 0x2C */
    Uint32 result;         /* 0x30 */
    Uint32 itemCount;      /* 0x34 */
};
#pragma pack(pop)
static_assert(sizeof(GTraceRecord) == 0x38, "items start at 0x38");
static_assert(offsetof(GTraceRecord, itemCount) == 52, "a record without items fills one slot");
static_assert(offsetof(GTraceRecord, processId) == 0x10, "layout");
static_assert(offsetof(GTraceRecord, functionId) == 0x14, "layout");
static_assert(offsetof(GTraceRecord, recordType) == 0x20, "layout");
static_assert(offsetof(GTraceRecord, probe) == 0x24, "layout");
static_assert(offsetof(GTraceRecord, data1) == 0x28, "layout");
static_assert(offsetof(GTraceRecord, result) == 0x30, "layout");
static_assert(offsetof(GTraceRecord, itemCount) == 0x34, "layout");

#endif /* __cplusplus */

/* ---- Callbacks (C calling convention) ---------------------------------------------------------------- */
/* After each record with flag 0x00100: (type, function identifier, probe, pointer argument, item
 * count, address of the item cursor); the cursor is valid only during the call. */
typedef void (*GTraceAppCallBack)(Uint32 type, Uint32 functionId, Uint32 probe, void* pointer,
                                  Uint32 itemCount, void* cursor);
/* Before each record with flag 0x20000; non-zero suppresses the record. */
typedef Uint64 (*GTracePreTraceCallBack)(Uint32 type, Uint32 functionId, Uint32 probe);
/* After gtraceDisable. */
typedef void (*GTraceDisableCallBack)(void);

#ifdef __cplusplus
/* The control block type the trace calls take. */
typedef GTCB GTCBType;
#else
typedef struct GTCB GTCBType;
typedef struct GTraceOptions GTraceOptions;
#endif

/* The calling process's binding; null while detached. */
OSSE_C_API GTCBType* g_pGTCB;

/* ---- Waits and their bounds ---------------------------------------------------------------
 * Every wait of the trace facility and of its tool: where it is, what it waits for, what ends
 * it, and what it does when the process on the other side (a writer, the dumper, or the holder
 * of the ring's lock) was killed. The ring lock is the spin latch in the ring's header
 * (osse/rambo.h), taken without any bound.
 *
 * Where
 *   Waits for                      Bound                          When the other side died
 * -------------------------------------------------------------------------------------------------
 * trace point writers, auto-dump mode
 *   the dumper to drain the chunk  none while a registered        dumper gone: seen within 1024
 *   of their lap (yield loop)      dumper runs; ends when         yields, unregistered; writers go
 *                                  auto-dump is off or no dumper  on and count the undrained
 *                                  is registered                  slots. A writer that died
 *                                                                 mid-record: see the stream
 * trace point writers, circular and linear
 *   nothing (a full linear buffer  -                              -
 *   writes to scratch)
 * _gtraceRandSleep (random-sleep mode)
 *   nothing (a sleep)              fixed 0 to 199 ms, every       -
 *                                  period-th point
 * gtraceClear, ring modes (ramboNewSequence)
 *   ring lock (a latch in the      none                           holder died: waits for ever
 *   segment)
 * gtraceGetDumpHeaderBuffer, gtraceGetDumpTail, ramboGetDumpHeaderBuffer, ramboGetDumpTail
 *   ring lock                      none                           holder died: waits for ever
 * gtraceInitialize and gtraceCreateNamed, ring modes
 *   ring lock of the block it has  none needed: it is free        -
 *   just zeroed
 * gtraceClear in coverage mode; gtraceInitialize or gtraceCreateNamed of coverage over a trace
 * block
 *   trace points in flight         fixed 5000 ms                  nothing is checked
 * coverage trace points
 *   bucket and entry latches,      no wait: a point that finds    -
 *   tried once                     one busy is not counted
 * profile timing, first point of a process
 *   another thread making the      none; one TlsAlloc             threads of this process only
 *   stack slot (Sleep(0) loop)
 * gtraceEnable, gtraceDisable, gtraceSetOptions, gtraceAttach, gtraceDetach, gtraceOpenNamed,
 * gtraceCloseNamed, gtraceRemoveNamed
 *   nothing                        -                              -
 * ossetool trace stream (the dumper)
 *   each chunk to fill (1 ms       none: until Ctrl-C, --count N  a writer that died between
 *   polls)                         or the trace is switched off   reserving and publishing leaves
 *                                                                 its chunk short: once writers
 *                                                                 publish in the next chunk and
 *                                                                 the count stood still 200 ms,
 *                                                                 it is drained as it is
 * ossetool trace dump
 *   ring lock (header and tail)    none                           holder died: waits for ever
 */

/* ---- Control block ---------------------------------------------------------------------------------- */
/* Bytes of memory a trace control block with a buffer of bufferSize bytes needs; 0 for a size that
 * is not valid. */
OSSE_C_API Uint32 gtraceGetAllocSize(Uint32 bufferSize);
/* Sets up a trace control block with its ring (or table) in `memory` from the options. */
OSSE_C_API OSSErr gtraceInitialize(void* memory, GTraceOptions* options);
/* Binds the calling process to the block: from then on its trace points write into it. The
 * callbacks may be null. */
OSSE_C_API OSSErr gtraceAttach(GTCBType* block, Uint32 processId, GTraceAppCallBack appCallBack,
                               GTraceDisableCallBack disableCallBack,
                               GTracePreTraceCallBack preTraceCallBack);
/* Unbinds the calling process. */
OSSE_C_API OSSErr gtraceDetach(void);
/* Switches the bound trace on. */
OSSE_C_API OSSErr gtraceEnable(void);
/* Switches the bound trace off (the disable callback runs after it). */
OSSE_C_API OSSErr gtraceDisable(void);
/* Copies out the options of the bound trace. */
OSSE_C_API OSSErr gtraceGetOptions(GTraceOptions* out);
/* The address of the options inside the bound block. */
OSSE_C_API OSSErr gtraceGetOptionsPtr(GTraceOptions** out);
/* Replaces the options of the bound trace (the buffer size and mode stay those it was set up with). */
OSSE_C_API OSSErr gtraceSetOptions(GTraceOptions* options);
/* Empties the buffer of the bound trace (or its table in the profile and coverage modes). */
OSSE_C_API OSSErr gtraceClear(void);
/* Sets the process id that this process's records carry. */
OSSE_C_API void   gtraceSetProcessID(Uint32 processId);
/* The process id that this process's records carry. */
OSSE_C_API Uint32 gtraceGetProcessID(void);
/* Sets the fixed data word 1 of this process's records. */
OSSE_C_API void   gtraceSetFixedData1(Uint32 value);
/* Fixed data word 1 of this process's records. */
OSSE_C_API Uint32 gtraceGetFixedData1(void);
/* Sets the fixed data word 2 of this process's records (what --fixed2 filters on). */
OSSE_C_API void   gtraceSetFixedData2(Uint32 value);
/* Fixed data word 2 of this process's records. */
OSSE_C_API Uint32 gtraceGetFixedData2(void);
/* The application callback given to gtraceAttach. */
OSSE_C_API GTraceAppCallBack      gtraceGetAppCallBackFnPtr(void);
/* The pre-trace callback given to gtraceAttach. */
OSSE_C_API GTracePreTraceCallBack gtraceGetAppPreTraceCallBackFnPtr(void);
/* One step of random-sleep mode: every period-th call sleeps 0..199 ms. */
OSSE_C_API void _gtraceRandSleep(void);

/* ---- Coverage mode --------------------------------------------------------------------------------------- */
/* 0 when the bound block's mode word is exactly 0x80; 0x9000000A when no block is bound; 0x9000000C
 * otherwise. */
OSSE_C_API OSSErr gctraceValidateTraceType(void);
/* Stores the address of the coverage area (bound block + 0x318D8). */
/* An address handed out in a 32-bit word by the i686 library: as wide as a pointer on x86_64,
 * where 32 bits would cut it. */
#if OSSE_PTR32
typedef Uint32 GTraceAddressWord;
#else
typedef Uint64 GTraceAddressWord;
#endif
/* Stores the address of the coverage area of the bound block. */
OSSE_C_API OSSErr gctraceGetOffset(GTraceAddressWord* out);

/* ---- Named traces ---------------------------------------------------------------------------------------
 * A trace control block in a shared segment found by name (letters, digits, '_', '-', '.'; at most 64
 * characters): a mapping of the file "ossetrace-NAME.gtcb" in the temporary folder, so the trace outlives
 * the process that created it. A process of the product binds to a named trace with one call:
 *     gtraceAttachNamed("NAME", processId, nullptr, nullptr, nullptr);
 * after which its operations write records whenever the trace is enabled. */
/* Creates (or re-creates) the segment sized by gtraceGetAllocSize and formats it with the options; the
 * trace starts disabled. *block receives the mapping when block is not null (release it with
 * gtraceCloseNamed). */
OSSE_C_API OSSErr gtraceCreateNamed(const char* name, GTraceOptions* options, GTCBType** block);
/* Maps an existing named trace without binding the process to it (a dumper must not be bound to the
 * trace it drains). */
OSSE_C_API OSSErr gtraceOpenNamed(const char* name, GTCBType** block);
/* Maps the named trace and binds the calling process to it (gtraceAttach). */
OSSE_C_API OSSErr gtraceAttachNamed(const char* name, Uint32 processId, GTraceAppCallBack appCallBack,
                                    GTraceDisableCallBack disableCallBack,
                                    GTracePreTraceCallBack preTraceCallBack);
/* Unmaps a block from gtraceCreateNamed or gtraceOpenNamed; the bound block is refused. */
OSSE_C_API OSSErr gtraceCloseNamed(GTCBType* block);
/* Removes the segment file of a named trace that is no longer needed. While a process still maps it,
 * either the system refuses (the mapped error comes back and nothing changes) or the file goes with
 * the last view (the processes keep theirs meanwhile). */
OSSE_C_API OSSErr gtraceRemoveNamed(const char* name);

/* ---- Filtering step (the bound block must be set) ---------------------------------------------------- */
/* True when a trace point passes the bound trace's filters (mask, thread filters, fixed data 2,
 * errors-only). */
OSSE_C_API bool gtraceIsTracePointIncludedInMask(Uint16 type, Uint32 functionId, Uint16 probe,
                                                 Uint64 threadId);
/* The same answer; with flag 0x00002 also stores the performance counter (0 when it fails). */
OSSE_C_API bool preOptions(Uint16 type, Uint32 functionId, Uint16 probe, Uint64 threadId,
                           Uint64* timestamp);

/* ---- Trace point writers --------------------------------------------------------------------------------
 * Callers test g_pGTCB and its enabled word first; the writers do not test it again. The 64-bit
 * thread id comes first as two words (low, high). Items of the Var writers are N triples of
 * 32-bit words (kind, size, value or pointer). */
/* An entry record of functionId with two data words: the start of the call frame. */
OSSE_C_API void _gtraceEntry(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, Uint32 data1,
                             Uint32 data2);
/* An exit record with the return code (null: none): the end of the call frame. */
OSSE_C_API void _gtraceExit(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId,
                            const Uint32* returnCode, Uint32 data1, Uint32 data2);
/* A record of the given type and probe with no data. */
OSSE_C_API void _gtraceMarker(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, Uint32 probe,
                              Uint32 type);
/* An error record of the given type and probe with two data words. */
OSSE_C_API void _gtraceError(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, Uint32 probe,
                             Uint32 type, Uint32 data1, Uint32 data2);
/* An error record with two data words, a return code and a 64-bit extra value (low, high). */
OSSE_C_API void _gtraceErrorRc(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, Uint32 probe,
                               Uint32 type, Uint32 data1, Uint32 data2, Uint32 returnCode,
                               Uint32 extraLow, Uint32 extraHigh);
/* An error record of type GTRACE_TYPE_ERROR_TRANS with two data words and a 64-bit extra value. */
OSSE_C_API void _gtraceErrorTrans(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, Uint32 probe,
                                  Uint32 data1, Uint32 data2, Uint32 extraLow, Uint32 extraHigh);
/* The entry record with itemCount items. */
OSSE_C_API void _gtraceEntryVar(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, Uint32 data1,
                                Uint32 data2, Uint32 itemCount, ...);
/* The exit record with itemCount items. */
OSSE_C_API void _gtraceExitVar(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId,
                               const Uint32* returnCode, Uint32 data1, Uint32 data2,
                               Uint32 itemCount, ...);
/* A record of the given type and probe with itemCount items. */
OSSE_C_API void _gtraceMarkerVar(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, Uint32 probe,
                                 Uint32 type, Uint32 itemCount, ...);
/* A record of the given type (GTRACE_TYPE_DATA for data) and probe with itemCount items. */
OSSE_C_API void _gtraceVar(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, Uint32 probe,
                           Uint32 type, Uint32 itemCount, ...);
/* The error record with itemCount items. */
OSSE_C_API void _gtraceErrorVar(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, Uint32 probe,
                                Uint32 type, Uint32 data1, Uint32 data2, Uint32 itemCount, ...);
/* The error record with a return code and extra value, and itemCount items. */
OSSE_C_API void _gtraceErrorRcVar(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, Uint32 probe,
                                  Uint32 type, Uint32 data1, Uint32 data2, Uint32 returnCode,
                                  Uint32 extraLow, Uint32 extraHigh, Uint32 itemCount, ...);
/* A correlator record (GTRACE_TYPE_CORRELATOR): a correlator value that ties records of different
 * threads or processes together, two data words and itemCount items. */
OSSE_C_API void _gtraceCorrelatorVar(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId,
                                     Uint32 probe, Uint32 correlator, Uint32 data1, Uint32 data2,
                                     Uint32 itemCount, ...);
/* Accepted and ignored. */
OSSE_C_API void _gtraceEvent(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, ...);
/* Accepted and ignored. */
OSSE_C_API void _gtraceEventVar(Uint32 tidLow, Uint32 tidHigh, Uint32 functionId, ...);

#endif
