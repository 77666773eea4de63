/* Trace dump files: the pieces a dump writer puts into a file, the file layouts, the parsers that
 * read records back, and the decoding of one record's data items.
 *
 * File layouts (little-endian):
 *   instantaneous  GTraceDumpHeader . RamboDumpHead (kind 1) . data area image (S bytes, slot 0
 *                  first) . RamboDumpTail
 *   stream         GTraceDumpHeader . RamboDumpHead (kind 2) . drained 128 KiB chunks in the order
 *                  drained, to the end of the file
 *   profile        GTraceDumpHeader . 16 bytes (zero) . profile table (GTraceProfileEntry)
 * A bare ring buffer dump starts directly with the RamboDumpHead; the rambo parsers read that
 * form, the gtrace parsers the full form. */
#ifndef OSSE_TRACEDUMP_H
#define OSSE_TRACEDUMP_H

#include "osse/base.h"
#include "osse/rambo.h"
#include "osse/trace.h"

#define GTRACE_DUMP_EYECATCHER   "GTDUMP1"     /* and a NUL byte */
#define RAMBO_DUMP_HEAD_EYECATCHER "@HEAD\r\n"  /* and a NUL byte */
#define RAMBO_DUMP_TAIL_EYECATCHER "@TAIL\r\n"  /* and a NUL byte */
/* Size of the dump header (the trace options and the tick factor) at the start of a dump file. */
#define GTRACE_DUMP_HEADER_SIZE  0x318D0u
/* Smallest header buffer gtraceGetDumpHeaderBuffer accepts: the header and the ring head. */
#define GTRACE_DUMP_HEADER_BUFFER_SIZE 0x318E0u
#define RAMBO_DUMP_KIND_INSTANT  1u
#define RAMBO_DUMP_KIND_STREAM   2u
/* gtraceValidateDumpFile's expected kinds and GTraceDumpParser::kind. */
#define GTRACE_DUMP_ANY          0u
#define GTRACE_DUMP_RECORDS      1u
#define GTRACE_DUMP_PROFILE      2u
#define GTRACE_PROFILE_ENTRY_SIZE 24u
#define GTRACE_PROFILE_READ_BUFFER 24576u
#define GTRACE_PROFILE_MAX_DEPTH 512u
/* Qualifier of a profile entry that is not keyed by qualifier. */
#define GTRACE_PROFILE_NO_QUALIFIER 1000000u
/* RamboDumpParser::sequenceState */
#define RAMBO_PARSER_NEXT_KNOWN  0x01u  /* nextSequence holds */
#define RAMBO_PARSER_END_SEEN    0x08u  /* the missing slots after the last record were counted */

#ifdef __cplusplus
#include "osse/file.h"
#include "osse/tick.h"

/* Ring buffer head, 16 bytes. */
struct RamboDumpHead {
    char   eyeCatcher[8]; /* "@HEAD\r\n\0" */
    Uint32 bufferSize;    /* S */
    Uint16 kind;          /* RAMBO_DUMP_KIND_ */
    Uint8  wraps;         /* 1: the buffer was circular */
    Uint8  format;        /* RAMBO_FORMAT_ of the records (0 in dumps of plain rings) */
};

/* Ring buffer tail, 32 bytes; instantaneous dumps only. */
struct RamboDumpTail {
    char   eyeCatcher[8];  /* "@TAIL\r\n\0" */
    Uint32 position;       /* next sequence at dump time (linear: clamped, see ramboGetDumpTail) */
    Uint32 index;          /* circular: position AND index mask (the oldest slot); linear: 0 */
    Uint32 sequenceStart;  /* circular: sequence start; linear: 0 */
    Uint8  truncated;      /* 1: a linear buffer had overflowed */
    Uint8  zero[11]; /* 0 */
};

/* Trace dump header, 202,960 bytes. */
struct GTraceDumpHeader {
    char                    eyeCatcher[8]; /* "GTDUMP1\0" */
    GTraceOptions           options;       /* of the traced control block */
    OSSTickConversionFactor tickFactor;    /* at dump time: turns timestamps into time */
};

/* One entry of the profile table. */
struct GTraceProfileEntry {
    Uint32 calls; /* times the function was entered */
    Uint32 functionId;  /* 0: entry free */
    Uint32 qualifier; /* the key the entry is kept under; GTRACE_PROFILE_NO_QUALIFIER when none */
    Uint32 zero; /* 0 */
    Uint64 ticks;       /* accumulated elapsed performance-counter ticks */
};

/* Reader of the records of a ring buffer dump (in memory of the caller; opened by
 * ramboOpenDumpFileParser, which allocates its read buffer, and closed by
 * ramboCloseDumpFileParser). Slots are visited in parse order, from the slot the parse starts at
 * for slotCount slots at most (bytesLeft decides), the physical slot wrapping from slotCount - 1
 * to 0. Every other position of the parse follows from these fields. */
struct RamboDumpParser {
    Uint64 dataOffset;      /* file offset of slot 0 */
    Uint64 slotOffset;      /* offset of the current slot from slot 0 */
    Uint64 bytesLeft;       /* bytes of slots not yet visited */
    Uint8* buffer;          /* read buffer */
    Uint32 cursor;          /* offset of the last record handed out in the buffer */
    Uint32 held;            /* bytes held in the buffer */
    Uint32 capacity;        /* buffer capacity */
    Uint64 bufferStart;     /* slot, in parse order, of the first buffered byte */
    Uint32 backSlots;       /* backwards: buffered slots before the current one */
    Uint32 slotIndex;       /* physical slot of the current slot */
    Uint32 slotCount;       /* slots of the data area (instantaneous) or of the file (stream) */
    Uint32 tailPosition;    /* instantaneous dumps: the tail's position */
    Uint16 kind;            /* RAMBO_DUMP_KIND_ */
    Uint8  forward; /* 1: the parse runs from oldest to newest */
    Uint8  open; /* 1 between open and close */
    Uint8  wrapped; /* 1: the ring had wrapped when dumped */
    Uint8  truncated; /* 1: a linear ring had overflowed */
    Uint8  sealed;          /* the dump's records are sealed (its head's format) */
    Uint8  reserved; /* 0 */
};

/* What a RamboDumpParser has no room for: the sequence bookkeeping that finds the records
 * missing between the ones handed out. */
struct RamboDumpParserState {
    Uint32 ringSlots;       /* circular rings: N of the ring the records were written into */
    Uint32 nextSequence;    /* the sequence that should follow the last record, in parse order */
    Uint32 lowSequence;     /* instantaneous dumps: where the sequence began, when known */
    Uint32 lostSlots;       /* see ramboGetLostSlots */
    Uint8  sequenceState;   /* RAMBO_PARSER_ bits */
    Uint8  padding[3]; /* 0 */
};

/* A ring buffer parser that also counts the records missing from the dump: opened by
 * ramboOpenDumpFileParserEx and read by the Ex calls; `parser` serves every other call
 * (ramboCloseDumpFileParser, ramboDidBufferWrap, ramboWasBufferTruncated). */
struct RamboDumpParserEx {
    RamboDumpParser      parser; /* the parse itself */
    RamboDumpParserState state; /* the missing-record bookkeeping */
};

/* Reader of a profile dump's table. */
struct GTraceProfileParser {
    Uint64 tablePosition;   /* file offset of the table */
    Uint8* buffer;          /* GTRACE_PROFILE_READ_BUFFER bytes */
    Uint32 cursor;          /* next entry in the buffer */
    Uint32 bufferOffset;    /* table offset of the buffer's first byte */
    Uint32 held;            /* bytes in the buffer */
    Uint8  open; /* 1 between open and close */
    Uint8  padding[3]; /* 0 */
    Uint32 entries;         /* entries of the table (buffer size / 24) */
    Uint32 consumed;        /* entries handed out or skipped */
    Uint8  endOfFile; /* 1 once the whole table has been read */
    Uint8  padding2[3]; /* 0 */
};

/* A reader of a trace dump file: a record dump (the ring's records) or a profile table, walked
 * forward or backward. */
struct GTraceDumpParser {
    Uint32 kind;            /* GTRACE_DUMP_RECORDS or GTRACE_DUMP_PROFILE */
    Uint32 padding; /* 0 */
    union {
        RamboDumpParser     rambo;
        GTraceProfileParser profile;
    };
};

/* The same for a whole trace dump: opened by gtraceOpenDumpFileParserEx and read by the Ex
 * calls; `parser` serves gtraceCloseDumpFileParser and the rambo flag queries (parser.rambo). */
struct GTraceDumpParserEx {
    GTraceDumpParser     parser; /* the parse itself */
    RamboDumpParserState state; /* the missing-record bookkeeping (record dumps) */
};

/* One record handed out in place by a batch parse. */
struct GTraceRecordView {
    const void* payload;    /* in the parser's read buffer: valid until the parser reads again */
    Uint32 length;          /* payload bytes (64 k - 12) */
    Uint32 lostSlots;       /* slots of records missing just before it (ramboGetLostSlots) */
    Uint64 offset;          /* file offset of the payload */
};

/* Walk over the data items of one record (see gtraceRecordItemsBegin). */
struct GTraceItemWalk {
    const Uint8* headers;   /* next item header */
    const Uint8* bytes;     /* next item's bytes */
    const Uint8* end;       /* end of the item area */
    Uint32 count;           /* items in the record */
    Uint32 index;           /* items handed out */
    Uint32 hasExtra;        /* 1: 8 extra bytes precede the items (or stand alone) */
    Uint32 extra[2]; /* the 8 extra bytes, when hasExtra is 1 */
};

static_assert(sizeof(RamboDumpHead) == 16, "RamboDumpHead is 16 bytes");
static_assert(offsetof(RamboDumpHead, bufferSize) == 8, "layout");
static_assert(offsetof(RamboDumpHead, kind) == 12, "layout");
static_assert(offsetof(RamboDumpHead, wraps) == 14, "layout");
static_assert(offsetof(RamboDumpHead, format) == 15, "layout");
static_assert(sizeof(RamboDumpTail) == 32, "RamboDumpTail is 32 bytes");
static_assert(offsetof(RamboDumpTail, position) == 8, "layout");
static_assert(offsetof(RamboDumpTail, index) == 12, "layout");
static_assert(offsetof(RamboDumpTail, sequenceStart) == 16, "layout");
static_assert(offsetof(RamboDumpTail, truncated) == 20, "layout");
static_assert(sizeof(OSSTickConversionFactor) == 16, "tick factor is 16 bytes");
static_assert(sizeof(GTraceDumpHeader) == GTRACE_DUMP_HEADER_SIZE, "GTraceDumpHeader size");
static_assert(offsetof(GTraceDumpHeader, options) == 8, "layout");
static_assert(offsetof(GTraceDumpHeader, tickFactor) == 0x318C0, "layout");
static_assert(GTRACE_DUMP_HEADER_BUFFER_SIZE == GTRACE_DUMP_HEADER_SIZE + sizeof(RamboDumpHead),
              "header buffer holds the ring head");
static_assert(sizeof(GTraceProfileEntry) == GTRACE_PROFILE_ENTRY_SIZE, "profile entry");
static_assert(offsetof(GTraceProfileEntry, functionId) == 4, "layout");
static_assert(offsetof(GTraceProfileEntry, qualifier) == 8, "layout");
static_assert(offsetof(GTraceProfileEntry, ticks) == 16, "layout");
static_assert(offsetof(RamboDumpParser, slotOffset) == 8, "layout");
static_assert(offsetof(RamboDumpParser, bytesLeft) == 16, "layout");
static_assert(offsetof(RamboDumpParser, buffer) == 24, "layout");
static_assert(sizeof(RamboDumpParserState) == 20, "layout");
static_assert(offsetof(GTraceDumpParser, rambo) == 8, "layout");
#if OSSE_PTR32
static_assert(sizeof(RamboDumpParser) == 72, "parser layout of the 32-bit library");
static_assert(offsetof(RamboDumpParser, cursor) == 28, "layout");
static_assert(offsetof(RamboDumpParser, held) == 32, "layout");
static_assert(offsetof(RamboDumpParser, capacity) == 36, "layout");
static_assert(offsetof(RamboDumpParser, bufferStart) == 40, "layout");
static_assert(offsetof(RamboDumpParser, backSlots) == 48, "layout");
static_assert(offsetof(RamboDumpParser, slotIndex) == 52, "layout");
static_assert(offsetof(RamboDumpParser, slotCount) == 56, "layout");
static_assert(offsetof(RamboDumpParser, tailPosition) == 60, "layout");
static_assert(offsetof(RamboDumpParser, kind) == 64, "layout");
static_assert(offsetof(RamboDumpParser, forward) == 66, "layout");
static_assert(offsetof(RamboDumpParser, open) == 67, "layout");
static_assert(offsetof(RamboDumpParser, wrapped) == 68, "layout");
static_assert(offsetof(RamboDumpParser, truncated) == 69, "layout");
static_assert(offsetof(RamboDumpParser, sealed) == 70, "layout");
static_assert(sizeof(GTraceDumpParser) == 80, "layout");
static_assert(sizeof(RamboDumpParserEx) == 96, "layout");
static_assert(sizeof(GTraceDumpParserEx) == 104, "layout");
#else
static_assert(sizeof(RamboDumpParser) == 80, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, cursor) == 32, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, held) == 36, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, capacity) == 40, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, bufferStart) == 48, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, backSlots) == 56, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, slotIndex) == 60, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, slotCount) == 64, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, tailPosition) == 68, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, kind) == 72, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, forward) == 74, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, open) == 75, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, wrapped) == 76, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, truncated) == 77, "x86_64 layout");
static_assert(offsetof(RamboDumpParser, sealed) == 78, "x86_64 layout");
static_assert(sizeof(GTraceDumpParser) == 88, "x86_64 layout");
static_assert(sizeof(RamboDumpParserEx) == 104, "x86_64 layout");
static_assert(sizeof(GTraceDumpParserEx) == 112, "x86_64 layout");
#endif
static_assert(sizeof(GTraceRecordView) == 24, "layout");
static_assert(offsetof(GTraceRecordView, offset) == 16, "layout");
#if OSSE_PTR32
static_assert(sizeof(GTraceProfileParser) == 40, "profile parser layout");
static_assert(offsetof(GTraceProfileParser, open) == 24, "layout");
static_assert(offsetof(GTraceProfileParser, entries) == 28, "layout");
static_assert(sizeof(GTraceItemWalk) == 32, "layout");
#else
static_assert(sizeof(GTraceProfileParser) == 48, "x86_64 layout");
static_assert(offsetof(GTraceProfileParser, open) == 28, "x86_64 layout");
static_assert(offsetof(GTraceProfileParser, entries) == 32, "x86_64 layout");
static_assert(sizeof(GTraceItemWalk) == 48, "x86_64 layout");
#endif

/* ---- Writers' side (the bound control block; attached and initialized are checked first) ---- */

/* Fills the dump header; in the ring buffer modes also the ring head behind it (kind 1 when
 * instantaneous, else 2) and the address and size of the data area in *data and *size. In
 * profile and coverage mode *data and *size give that mode's table and the 16 bytes behind the
 * header are zeroed. header: at least GTRACE_DUMP_HEADER_BUFFER_SIZE bytes. */
OSSE_C_API OSSErr gtraceGetDumpHeaderBuffer(bool instantaneous, void* header, void** data,
                                            Uint32* size);
/* Ring buffer modes: ramboGetDumpTail on the bound buffer; profile and coverage: 0, nothing. */
OSSE_C_API OSSErr gtraceGetDumpTail(RamboDumpTail* tail);
/* ramboAutoDumpEnabled on the bound buffer. */
OSSE_C_API OSSErr gtraceAutoDumpEnabled(bool enabled);
/* ramboInitializeChunkWalker on the bound buffer. */
OSSE_C_API OSSErr gtraceInitializeChunkWalker(RamboChunkWalker* walker);

/* Fills the 16-byte head under the buffer's lock; data and size may be null. */
OSSE_C_API OSSErr ramboGetDumpHeaderBuffer(RamboControlBlock* cb, bool instantaneous,
                                           RamboDumpHead* head, void** data, Uint32* size);
/* Fills the 32-byte tail under the buffer's lock from the next-sequence counter. A linear buffer
 * that overflowed reports sequence start + N as position (the records it holds) and truncated. */
OSSE_C_API OSSErr ramboGetDumpTail(RamboControlBlock* cb, RamboDumpTail* tail);

/* ---- Readers' side: file is an open OSSHFile, read from its current position ---------------- */

/* 0 when the file is a trace dump of the expected kind (GTRACE_DUMP_); position restored. */
OSSE_C_API OSSErr gtraceValidateDumpFile(OSSHFile* file, Uint32 expectedKind);
/* Opens the parser on the dump at the file's position (after gtraceValidateDumpFile), for reading
 * forward (oldest first) or backward. */
OSSE_C_API OSSErr gtraceOpenDumpFileParser(OSSHFile* file, GTraceDumpParser* parser, bool forward);
/* Payload length of the next record (kind 1) or 24 (kind 2); 0 when none is left. */
OSSE_C_API Uint32 gtraceParseRecords(OSSHFile* file, GTraceDumpParser* parser, Uint64* recordOffset,
                                     void* out, Uint32 outSize);
/* Closes the parser; the file stays open. */
OSSE_C_API OSSErr gtraceCloseDumpFileParser(GTraceDumpParser* parser);
/* The next records of a record dump in place, up to `max` of them, without copying them: the
 * number handed out in views[0 .. n), 0 when none is left (or for a profile table, a null
 * argument or a parser that is not open). The payloads stay valid until the next call on the
 * parser. Mixes freely with gtraceParseRecords. A plain parser counts no missing records: its
 * views carry lostSlots 0 (the Ex form counts them). */
OSSE_C_API Uint32 gtraceParseRecordBatch(OSSHFile* file, GTraceDumpParser* parser, GTraceRecordView* views,
                                         Uint32 max);
/* The parser that also counts missing records: the same calls on a GTraceDumpParserEx. */
OSSE_C_API OSSErr gtraceOpenDumpFileParserEx(OSSHFile* file, GTraceDumpParserEx* parser, bool forward);
/* gtraceParseRecords on the parser that counts missing records. */
OSSE_C_API Uint32 gtraceParseRecordsEx(OSSHFile* file, GTraceDumpParserEx* parser, Uint64* recordOffset,
                                       void* out, Uint32 outSize);
/* gtraceParseRecordBatch on the parser that counts missing records. */
OSSE_C_API Uint32 gtraceParseRecordBatchEx(OSSHFile* file, GTraceDumpParserEx* parser,
                                           GTraceRecordView* views, Uint32 max);
/* ramboGetLostSlots of a record parser; 0 lost slots for a profile table. */
OSSE_C_API OSSErr gtraceGetLostSlots(GTraceDumpParserEx* parser, Uint32* lostSlots);

/* 0 when the file is a valid ring buffer dump from its current position; position restored. */
OSSE_C_API OSSErr ramboValidateDumpFile(OSSHFile* file);
/* Opens the parser on the ring buffer dump at the file's position, forward (oldest first) or
 * backward. */
OSSE_C_API OSSErr ramboOpenDumpFileParser(OSSHFile* file, RamboDumpParser* parser, bool forward);
/* Payload length of the next record (64 k - 12), copying min(length, outSize) bytes to out and
 * the payload's file offset to *recordOffset when given; 0 when no record is left, on a read
 * error, or for a parser that is null or not open. */
OSSE_C_API Uint32 ramboParseDumpFile(OSSHFile* file, RamboDumpParser* parser, Uint64* recordOffset,
                                     void* out, Uint32 outSize);
/* Closes the parser; the file stays open. */
OSSE_C_API OSSErr ramboCloseDumpFileParser(RamboDumpParser* parser);
/* gtraceParseRecordBatch of a ring buffer dump parser. */
OSSE_C_API Uint32 ramboParseDumpFileBatch(OSSHFile* file, RamboDumpParser* parser, GTraceRecordView* views,
                                          Uint32 max);
/* *wrapped: whether the ring had wrapped (overwritten its oldest records) when the dump was taken. */
OSSE_C_API OSSErr ramboDidBufferWrap(RamboDumpParser* parser, bool* wrapped);
/* *truncated: whether a linear ring had filled up (later records were not kept). */
OSSE_C_API OSSErr ramboWasBufferTruncated(RamboDumpParser* parser, bool* truncated);
/* The parser that also counts missing records: the same calls on a RamboDumpParserEx. */
OSSE_C_API OSSErr ramboOpenDumpFileParserEx(OSSHFile* file, RamboDumpParserEx* parser, bool forward);
/* ramboParseDumpFile on the parser that counts missing records. */
OSSE_C_API Uint32 ramboParseDumpFileEx(OSSHFile* file, RamboDumpParserEx* parser, Uint64* recordOffset,
                                       void* out, Uint32 outSize);
/* ramboParseDumpFileBatch on the parser that counts missing records. */
OSSE_C_API Uint32 ramboParseDumpFileBatchEx(OSSHFile* file, RamboDumpParserEx* parser,
                                            GTraceRecordView* views, Uint32 max);
/* Records missing from the dump, counted in the slots they took (a record takes 1 to 2,048):
 * after a parse call that handed out a record, the slots missing just before it in parse order;
 * after the first call that found no record left, the slots missing after the last one (records
 * still being written when an instantaneous dump was taken). Records never written are not
 * missing: the slots a circular ring abandons at the end of a lap are not counted, nor those a
 * truncated linear dump never held (ramboWasBufferTruncated) or a wrapped one overwrote. 0x9000000C
 * when a pointer is null or the parser is not open. */
OSSE_C_API OSSErr ramboGetLostSlots(RamboDumpParserEx* parser, Uint32* lostSlots);

/* ---- Decoding one record --------------------------------------------------------------------- */

/* Starts a walk over the items of a record payload of `length` bytes (as a parser returns it).
 * False when the payload is too short to be a record. An item that follows an item stored with
 * a null pointer starts right after the bytes stored before it. */
OSSE_C_API bool gtraceRecordItemsBegin(const void* payload, Uint32 length, GTraceItemWalk* walk);
/* The next item: its stored kind and size, and the bytes present (null and 0 for an item stored
 * with a null pointer, size GTRACE_ITEM_NULL_SIZE). False when no item is left. */
OSSE_C_API bool gtraceRecordItemsNext(GTraceItemWalk* walk, Uint32* kind, Uint32* size,
                                      const void** bytes, Uint32* present);

#endif /* __cplusplus */

#endif
