/* Trace ring buffer: a lock-free store of 64-byte slots in memory shared by many processes.
 *
 * Memory layout (offsets from the start of the control block, little-endian):
 *   0x000          256 bytes   RamboControlBlock
 *   0x100          T bytes     chunk descriptor table: S / 0x20000 RamboChunk entries of 20 bytes,
 *                              T = that size rounded up to a multiple of 8
 *   0x100 + T      S bytes     data area: S / 64 slots
 *   0x100 + T + S  0x20018     scratch area (a full linear buffer writes here)
 *
 * A record of n payload bytes takes k = ceil((n + 12) / 64) consecutive slots: an 8-byte slot
 * header (sequence, 0xCAFE, k) in front of the payload and the complement of the sequence in the
 * last 4 bytes of the last slot. */
#ifndef OSSE_RAMBO_H
#define OSSE_RAMBO_H

#include "osse/base.h"
#include "osse/latch.h"

/* Buffer modes given to ramboInitialize. */
#define RAMBO_MODE_CIRCULAR  1u /* wraps, overwriting the oldest records */
#define RAMBO_MODE_LINEAR    2u /* stops when full; later records go to the scratch area */
#define RAMBO_MODE_AUTODUMP  4u /* wraps; writers wait for a dumper to drain each chunk */

/* Sizes of the ring buffer: the buffer (a power of two from 512 KiB to 1 GiB), its 64-byte slots
 * and 128 KiB chunks, the control block header, the chunk descriptors and the scratch area; the
 * slot header, trailer and marker; the most slots one record takes. */
#define RAMBO_MIN_BUFFER_SIZE   0x80000u
#define RAMBO_MAX_BUFFER_SIZE   0x40000000u
#define RAMBO_SLOT_SIZE         64u
#define RAMBO_CHUNK_SIZE        0x20000u
#define RAMBO_SLOTS_PER_CHUNK   2048u
#define RAMBO_HEADER_SIZE       0x100u
#define RAMBO_CHUNK_DESC_SIZE   20u
#define RAMBO_SCRATCH_SIZE      0x20018u
#define RAMBO_SLOT_HEADER_SIZE  8u
#define RAMBO_SLOT_TRAILER_SIZE 4u
#define RAMBO_SLOT_MARKER       0xCAFEu
#define RAMBO_MAX_RECORD_SLOTS  2048u
/* Largest payload of one record: 2048 slots less the slot header and trailer. */
#define RAMBO_MAX_PAYLOAD       131060u
/* Payload bytes of a one-slot record. */
#define RAMBO_ONE_SLOT_PAYLOAD  52u

/* Auto-dump mode keeps these in the reserved bytes of the control block header: the dumper that
 * placed its chunk walker (process id, and that process's start time as a FILETIME, so that a
 * reused id is not taken for it) and the slots writers put over chunks no dumper drained. */
#define RAMBO_DUMPER_PID_OFFSET      0x0Cu /* u32 */
#define RAMBO_DUMPER_START_OFFSET    0x10u /* u64 */
#define RAMBO_UNDRAINED_SLOTS_OFFSET 0x18u /* u32 */

/* Record format of the ring, in the reserved bytes of the header (and in the head of every dump
 * taken from it). Plain: the trailer is the complement of the sequence. Sealed (the wrapping
 * modes): the trailer is that complement XORed with a seal of the record's payload area, so that
 * a record written over after its publication (by a writer of an earlier lap) is not taken for
 * a whole one. Memory formatted before the format word existed holds 0 there: plain. */
#define RAMBO_FORMAT_OFFSET       0x1Cu /* u32 */
#define RAMBO_FORMAT_PLAIN        0u
#define RAMBO_FORMAT_SEALED       1u
/* Records dropped by writers that found the ring had come round past their reservation. */
#define RAMBO_LAPPED_DROPS_OFFSET 0x20u /* u32 */

/* Eye-catchers of the control block and of the chunk table. */
#define RAMBO_CB_EYECATCHER    "RAMBOCB"
#define RAMBO_CHUNK_EYECATCHER "RAMBOCK"

/* Control block header, 256 bytes at the start of the ring buffer memory. */
typedef struct RamboControlBlock {
    volatile Uint32 nextSequence;   /* 0x00 sequence of the next slot handed out */
    char            eyeCatcher[8];  /* 0x04 "RAMBOCB\0" once initialized */
    Uint8           reserved1[116]; /* 0x0C */
    OSSLatch        lock;           /* 0x80 guards the configuration operations */
    Uint8           reserved2[3];   /* 0x81 */
    volatile Uint32 sequenceStart;  /* 0x84 sequence at which the current trace sequence began */
    Uint32          indexMask;      /* 0x88 N - 1 (circular modes) or 2N - 1 (linear) */
    Uint32          dataOffset;     /* 0x8C 0x100 + T */
    Uint32          chunkTableOffset; /* 0x90 0x100 */
    Uint32          scratchOffset;  /* 0x94 0x100 + T + S */
    Uint32          bufferSize;     /* 0x98 S */
    Uint32          chunkCount;     /* 0x9C S / 0x20000 */
    Uint32          slotCount;      /* 0xA0 N = S / 64 */
    Uint8           wraps;          /* 0xA4 1 in modes 1 and 4 */
    Uint8           autoDumpAllowed; /* 0xA5 1 in mode 4 */
    volatile Uint8  autoDumpEnabled; /* 0xA6 see ramboAutoDumpEnabled */
    Uint8           reserved3[89];  /* 0xA7 */
} RamboControlBlock;

/* Chunk descriptor, 20 bytes; one per 128 KiB of the data area. */
typedef struct RamboChunk {
    char            eyeCatcher[8];  /* 0x00 "RAMBOCK\0" */
    volatile Uint32 filled;         /* 0x08 slots of the chunk published in the current lap */
    volatile Uint32 lap;            /* 0x0C lap whose writers may write into the chunk */
    Uint32          index;          /* 0x10 position in the table */
} RamboChunk;

/* Held by a writer between reservation and ramboSync. */
typedef struct RamboReservation {
    void*       slot;            /* first slot of the record */
    RamboChunk* chunk;           /* descriptor of the first slot's chunk (auto-dump mode), else null */
    Uint32      sequence;        /* sequence of the first slot */
    Uint16      slotCount;       /* k */
    Uint16      firstChunkSlots; /* slots of the record inside the first chunk */
} RamboReservation;

/* Position of a dumper draining chunks in auto-dump mode; the dumper advances it. */
typedef struct RamboChunkWalker {
    RamboControlBlock* controlBlock; /* the ring the walker drains */
    RamboChunk*        chunk0;     /* descriptor of chunk 0 */
    Uint32             chunkNumber; /* chunk the walker stands at */
    void*              slot0;      /* first slot of chunk 0 */
} RamboChunkWalker;

/* Called (in the writing process) by every writer that finds a linear buffer full. */
typedef Uint32 (*RamboFullBufferCallBack)(void);

static_assert(sizeof(OSSLatch) == 1, "one-byte latch");
static_assert(sizeof(RamboControlBlock) == 0x100, "RamboControlBlock is 256 bytes");
static_assert(offsetof(RamboControlBlock, nextSequence) == 0x00, "layout");
static_assert(offsetof(RamboControlBlock, eyeCatcher) == 0x04, "layout");
static_assert(offsetof(RamboControlBlock, reserved1) == 0x0C, "layout");
static_assert(offsetof(RamboControlBlock, lock) == 0x80, "layout");
static_assert(offsetof(RamboControlBlock, reserved2) == 0x81, "layout");
static_assert(offsetof(RamboControlBlock, sequenceStart) == 0x84, "layout");
static_assert(offsetof(RamboControlBlock, indexMask) == 0x88, "layout");
static_assert(offsetof(RamboControlBlock, dataOffset) == 0x8C, "layout");
static_assert(offsetof(RamboControlBlock, chunkTableOffset) == 0x90, "layout");
static_assert(offsetof(RamboControlBlock, scratchOffset) == 0x94, "layout");
static_assert(offsetof(RamboControlBlock, bufferSize) == 0x98, "layout");
static_assert(offsetof(RamboControlBlock, chunkCount) == 0x9C, "layout");
static_assert(offsetof(RamboControlBlock, slotCount) == 0xA0, "layout");
static_assert(offsetof(RamboControlBlock, wraps) == 0xA4, "layout");
static_assert(offsetof(RamboControlBlock, autoDumpAllowed) == 0xA5, "layout");
static_assert(offsetof(RamboControlBlock, autoDumpEnabled) == 0xA6, "layout");
static_assert(offsetof(RamboControlBlock, reserved3) == 0xA7, "layout");
static_assert(sizeof(RamboChunk) == 20, "RamboChunk is 20 bytes");
static_assert(offsetof(RamboChunk, eyeCatcher) == 0, "layout");
static_assert(offsetof(RamboChunk, filled) == 8, "layout");
static_assert(offsetof(RamboChunk, lap) == 12, "layout");
static_assert(offsetof(RamboChunk, index) == 16, "layout");
#if OSSE_PTR32
static_assert(sizeof(RamboReservation) == 16, "token layout of the 32-bit library");
static_assert(offsetof(RamboReservation, sequence) == 8, "layout");
static_assert(offsetof(RamboReservation, slotCount) == 12, "layout");
static_assert(offsetof(RamboReservation, firstChunkSlots) == 14, "layout");
static_assert(sizeof(RamboChunkWalker) == 16, "walker layout of the 32-bit library");
static_assert(offsetof(RamboChunkWalker, chunkNumber) == 8, "layout");
static_assert(offsetof(RamboChunkWalker, slot0) == 12, "layout");
#else
static_assert(sizeof(RamboReservation) == 24, "x86_64 layout");
static_assert(offsetof(RamboReservation, sequence) == 16, "x86_64 layout");
static_assert(offsetof(RamboReservation, slotCount) == 20, "x86_64 layout");
static_assert(offsetof(RamboReservation, firstChunkSlots) == 22, "x86_64 layout");
static_assert(sizeof(RamboChunkWalker) == 32, "x86_64 layout");
static_assert(offsetof(RamboChunkWalker, chunkNumber) == 16, "x86_64 layout");
static_assert(offsetof(RamboChunkWalker, slot0) == 24, "x86_64 layout");
#endif

/* The largest power of two not above x; 0 for 0. */
OSSE_C_API Uint32 ramboRoundNearest2(Uint32 x);
/* Bytes to allocate for a buffer of S data bytes; 0 when S is not a power of two in
 * 0x80000 .. 0x40000000. */
OSSE_C_API Uint32 ramboGetAllocSize(Uint32 bufferSize);
/* Formats the memory at cb (ramboGetAllocSize(bufferSize) bytes) as an empty buffer. */
OSSE_C_API OSSErr ramboInitialize(RamboControlBlock* cb, Uint32 bufferSize, Uint32 mode);
/* Registers the process-wide callback of a full linear buffer (null removes it). */
OSSE_C_API void ramboSetCallBack(RamboFullBufferCallBack callBack);
/* Starts a new trace sequence: earlier records fall out of the current one. */
OSSE_C_API OSSErr ramboNewSequence(RamboControlBlock* cb);
/* Reserves one slot; returns its 52 writable payload bytes. Never fails.
 * The payload address is always token->slot + 8. On a sealed ring it lies in memory of the
 * writer's own, which ramboSync copies into the record's slots; token->slot then points at
 * them. A writer lapped while it fills its record thus never stores into slots that a newer
 * record holds. Bytes of the payload area left unwritten hold zeros or an earlier record's. */
OSSE_C_API void* ramboReserveOneSlot(RamboControlBlock* cb, RamboReservation* token);
/* Reserves the slots of a record of payloadBytes (at most RAMBO_MAX_PAYLOAD); returns the
 * writable payload, as ramboReserveOneSlot does. Never fails. */
OSSE_C_API void* ramboReserveSlots(RamboControlBlock* cb, Uint32 payloadBytes,
                                   RamboReservation* token);
/* Publishes a reserved record; nothing happens when either pointer or token->slot is null.
 * Afterwards token->slot is the record's first slot. A writer of a sealed circular ring that
 * was lapped while it held the reservation drops the record instead (counted by
 * ramboGetLappedDrops) and finds token->slot null afterwards. A token is published once. */
OSSE_C_API void ramboSync(RamboControlBlock* cb, RamboReservation* token);
/* The number of records that writers dropped because the ring had come round past their
 * reservation before they published (wrapping rings; 0 for a plain ring). */
OSSE_C_API OSSErr ramboGetLappedDrops(RamboControlBlock* cb, Uint32* drops);
/* The process id of the dumper registered to drain the chunks (auto-dump rings) while that
 * process runs; 0 when none is registered, or when the registered one has ended (its
 * registration is then dropped, as writers would). */
OSSE_C_API OSSErr ramboGetDumperProcess(RamboControlBlock* cb, Uint32* processId);
/* Tests `slot` as the start of a whole record of a ring or dump of `format` (RAMBO_FORMAT_),
 * with `slotsAvailable` slots readable from it: its slot count, or 0 when it is none. No
 * window or sequence check: that is the parsers'. */
OSSE_C_API Uint32 ramboCheckRecord(const void* slot, Uint32 slotsAvailable, Uint32 format);
/* Switches auto-dump on or off (auto-dump mode only). Off releases every waiting writer. */
OSSE_C_API OSSErr ramboAutoDumpEnabled(RamboControlBlock* cb, bool enabled);
/* Places a chunk walker and registers the calling process as the dumper (auto-dump mode only).
 * The chunks are brought in line with the writers first, so the walker stands at the chunk the
 * writers are in: chunk 0 on a fresh buffer, elsewhere when writers went on without a dumper. */
OSSE_C_API OSSErr ramboInitializeChunkWalker(RamboControlBlock* cb, RamboChunkWalker* walker);

#endif
