// Trace dumps: the header and tail a dump writer asks for, the auto-dump switch and chunk
// walker of the bound trace, and the dump file validators and parsers over OSSHFile.
#include "trace/dumpcore.h"
#include "trace/gtrace_internal.h"

#include "osse/file.h"
#include "osse/mem.h"

#include <string.h>

using namespace osse::gtrace;
using namespace osse::tracedump;

namespace {

// An open OSSHFile read through the library's own file operations.
struct FileReader {
    static constexpr bool kInPlace = false;
    OSSHFile* file;

    OSSErr read(void* to, Uint32 n, Uint32* got) {
        OSSFileReadParam p = {OSS_CURRENT_VERSION, n, 0};
        *got = 0;
        return file->read(&p, to, got);
    }
    OSSErr tell(Uint64* pos) {
        OSSFileSeekParam p = {OSS_CURRENT_VERSION, 0, OSS_FILE_SEEK_CUR};
        return file->seek(&p, pos);
    }
    OSSErr seekTo(Uint64 pos) {
        OSSFileSeekParam p = {OSS_CURRENT_VERSION, static_cast<Sint64>(pos), OSS_FILE_SEEK_SET};
        return file->seek(&p, nullptr);
    }
    OSSErr size(Uint64* bytes) { return file->getSize(bytes); }
    OSSErr alloc(Uint8** p, Uint32 n) { return OSS_MEM_ALLOC(p, n, 0); }
    void release(Uint8** p) {
        if (*p) OSS_MEM_FREE(p);
        *p = nullptr;
    }
};

const char kHeadEye[8] = RAMBO_DUMP_HEAD_EYECATCHER;
const char kTailEye[8] = RAMBO_DUMP_TAIL_EYECATCHER;
const char kDumpEye[8] = GTRACE_DUMP_EYECATCHER;

OSSErr checkBound() {
    const GTCB* cb = g_pGTCB;
    if (cb == nullptr) return ECF_GTRACE_NOT_ATTACHED;
    if (cb->initialized == 0) return ECF_GTRACE_NOT_INITIALIZED;
    return OSS_OK;
}

OSSErr checkRing(const RamboControlBlock* cb) {
    if (cb == nullptr) return ECF_INVALID_PARAMETER;
    if (memcmp(cb->eyeCatcher, RAMBO_CB_EYECATCHER, 8) != 0) return ECF_RAMBO_NOT_INITIALIZED;
    return OSS_OK;
}

// The parsers of both forms run on a RingParser loaded from the caller's parser (and its Ex
// state, when given) and stored back after the call.
OSSErr openRingParser(OSSHFile* file, RamboDumpParser* parser, RamboDumpParserState* state, bool forward,
                      bool scanning = false) {
    if (parser == nullptr) return ECF_INVALID_PARAMETER;
    parser->open = 0;
    if (state) memset(state, 0, sizeof *state);
    if (file == nullptr) return ECF_INVALID_PARAMETER;
    FileReader r{file};
    RingParser w;
    const OSSErr rc = openRing(r, &w, forward, scanning);
    if (rc) {
        // Nothing is owned: the caller's parser stays closed.
        memset(parser, 0, sizeof *parser);
        return rc;
    }
    store(parser, state, &w);
    return OSS_OK;
}

Uint32 parseRing(OSSHFile* file, RamboDumpParser* parser, RamboDumpParserState* state, Uint64* recordOffset,
                 void* out, Uint32 outSize) {
    if (file == nullptr || parser == nullptr || !parser->open) return 0;
    FileReader r{file};
    RingParser w;
    load(&w, parser, state);
    const Uint32 length = parseNext(r, &w, recordOffset, out, outSize);
    store(parser, state, &w);
    return length;
}

Uint32 parseRingBatch(OSSHFile* file, RamboDumpParser* parser, RamboDumpParserState* state,
                      GTraceRecordView* views, Uint32 max) {
    if (file == nullptr || parser == nullptr || !parser->open || views == nullptr) return 0;
    FileReader r{file};
    RingParser w;
    load(&w, parser, state);
    const Uint32 n = parseBatch(r, &w, views, max);
    store(parser, state, &w);
    if (state == nullptr) {
        for (Uint32 i = 0; i < n; ++i) views[i].lostSlots = 0;
    }
    return n;
}

OSSErr openTraceParser(OSSHFile* file, GTraceDumpParser* parser, RamboDumpParserState* state, bool forward) {
    if (parser == nullptr) return ECF_INVALID_PARAMETER;
    // A failed open leaves a parser that close refuses cleanly: the kind is known and nothing
    // is marked open before it owns its buffer.
    memset(parser, 0, sizeof *parser);
    if (state) memset(state, 0, sizeof *state);
    parser->kind = GTRACE_DUMP_RECORDS;
    if (file == nullptr) return ECF_INVALID_PARAMETER;
    FileReader r{file};
    TraceHeaderHead header;
    OSSErr rc = readTraceHeader(r, &header);
    if (rc == OSS_OK) {
        if (isProfileMode(header.mode)) {
            parser->kind = GTRACE_DUMP_PROFILE;
            rc = openProfile(r, &parser->profile, header);
        } else {
            rc = openRingParser(file, &parser->rambo, state, forward, header.wrappingDumpMarker != 0);
        }
    }
    return rc;
}

Uint32 parseTrace(OSSHFile* file, GTraceDumpParser* parser, RamboDumpParserState* state, Uint64* recordOffset,
                  void* out, Uint32 outSize) {
    if (file == nullptr || parser == nullptr) return 0;
    switch (parser->kind) {
    case GTRACE_DUMP_RECORDS: return parseRing(file, &parser->rambo, state, recordOffset, out, outSize);
    case GTRACE_DUMP_PROFILE: {
        FileReader r{file};
        return profileNext(r, &parser->profile, recordOffset, out, outSize);
    }
    default: return 0;
    }
}

}  // namespace

extern "C" {

// ---- Writers' side -------------------------------------------------------------------------------

OSSErr ramboGetDumpHeaderBuffer(RamboControlBlock* cb, bool instantaneous, RamboDumpHead* head,
                                void** data, Uint32* size) {
    if (OSSErr rc = checkRing(cb)) return rc;
    if (head == nullptr) return ECF_INVALID_PARAMETER;
    cb->lock.acquire();
    memset(head, 0, sizeof *head);
    memcpy(head->eyeCatcher, kHeadEye, sizeof kHeadEye);
    head->bufferSize = cb->bufferSize;
    head->kind = instantaneous ? RAMBO_DUMP_KIND_INSTANT : RAMBO_DUMP_KIND_STREAM;
    head->wraps = cb->wraps;
    head->format = osse::rambo::isSealed(cb) ? RAMBO_FORMAT_SEALED : RAMBO_FORMAT_PLAIN;
    if (data) *data = osse::rambo::dataArea(cb);
    if (size) *size = cb->bufferSize;
    cb->lock.release();
    return OSS_OK;
}

OSSErr ramboGetDumpTail(RamboControlBlock* cb, RamboDumpTail* tail) {
    if (OSSErr rc = checkRing(cb)) return rc;
    if (tail == nullptr) return ECF_INVALID_PARAMETER;
    cb->lock.acquire();
    memset(tail, 0, sizeof *tail);
    memcpy(tail->eyeCatcher, kTailEye, sizeof kTailEye);
    Uint32 position = osse::rambo::load32(&cb->nextSequence);
    const Uint32 n = cb->slotCount;
    if (cb->wraps) {
        tail->index = position & cb->indexMask;
        tail->sequenceStart = osse::rambo::load32(&cb->sequenceStart);
    } else {
        // The buffer holds the N sequences from the sequence start. Once writers went past
        // them (into the scratch area, even a whole 2N window on), the position is where the
        // buffer ended, so that the dump reads every record the buffer holds.
        const Uint32 start = osse::rambo::load32(&cb->sequenceStart);
        if (position - start > n) {
            position = start + n;
            tail->truncated = 1;
        }
    }
    tail->position = position;
    cb->lock.release();
    return OSS_OK;
}

OSSErr gtraceGetDumpHeaderBuffer(bool instantaneous, void* header, void** data, Uint32* size) {
    if (OSSErr rc = checkBound()) return rc;
    if (header == nullptr) return ECF_INVALID_PARAMETER;
    GTCB* cb = g_pGTCB;
    GTraceDumpHeader* h = static_cast<GTraceDumpHeader*>(header);
    memcpy(h->eyeCatcher, kDumpEye, sizeof kDumpEye);
    memcpy(static_cast<void*>(&h->options), &cb->options, sizeof(GTraceOptions));
    h->tickFactor.initialize();
    Uint8* behind = static_cast<Uint8*>(header) + GTRACE_DUMP_HEADER_SIZE;
    const Uint32 mode = cb->options.mode;
    if (isTableMode(mode)) {
        // No ring head: the 16 bytes are zeroed so that the dump carries no stale memory.
        memset(behind, 0, sizeof(RamboDumpHead));
        Uint8* table = reinterpret_cast<Uint8*>(cb) + GTCB_SIZE;
        const Uint32 bytes = (mode & 0x88u) == GTRACE_MODE_PROFILE
                                 ? (cb->options.bufferSize / GTRACE_PROFILE_ENTRY_SIZE) *
                                       GTRACE_PROFILE_ENTRY_SIZE
                                 : cb->options.bufferSize;
        if (data) *data = table;
        if (size) *size = bytes;
        return OSS_OK;
    }
    return ramboGetDumpHeaderBuffer(ringOf(cb), instantaneous, reinterpret_cast<RamboDumpHead*>(behind),
                                    data, size);
}

OSSErr gtraceGetDumpTail(RamboDumpTail* tail) {
    if (OSSErr rc = checkBound()) return rc;
    if (tail == nullptr) return ECF_INVALID_PARAMETER;
    if (isTableMode(g_pGTCB->options.mode)) return OSS_OK;
    return ramboGetDumpTail(ringOf(g_pGTCB), tail);
}

OSSErr gtraceAutoDumpEnabled(bool enabled) {
    if (OSSErr rc = checkBound()) return rc;
    if (isTableMode(g_pGTCB->options.mode)) return ECF_RAMBO_AUTO_DUMP_NOT_ALLOWED;
    return ramboAutoDumpEnabled(ringOf(g_pGTCB), enabled);
}

OSSErr gtraceInitializeChunkWalker(RamboChunkWalker* walker) {
    if (OSSErr rc = checkBound()) return rc;
    if (walker == nullptr) return ECF_INVALID_PARAMETER;
    if (isTableMode(g_pGTCB->options.mode)) return ECF_RAMBO_AUTO_DUMP_NOT_ALLOWED;
    return ramboInitializeChunkWalker(ringOf(g_pGTCB), walker);
}

// ---- Readers' side -------------------------------------------------------------------------------

OSSErr ramboValidateDumpFile(OSSHFile* file) {
    if (file == nullptr) return ECF_INVALID_PARAMETER;
    FileReader r{file};
    RingInfo info;
    return validateRing(r, &info);
}

OSSErr ramboOpenDumpFileParser(OSSHFile* file, RamboDumpParser* parser, bool forward) {
    return openRingParser(file, parser, nullptr, forward);
}

OSSErr ramboOpenDumpFileParserEx(OSSHFile* file, RamboDumpParserEx* parser, bool forward) {
    if (parser == nullptr) return ECF_INVALID_PARAMETER;
    return openRingParser(file, &parser->parser, &parser->state, forward);
}

Uint32 ramboParseDumpFile(OSSHFile* file, RamboDumpParser* parser, Uint64* recordOffset, void* out,
                          Uint32 outSize) {
    return parseRing(file, parser, nullptr, recordOffset, out, outSize);
}

Uint32 ramboParseDumpFileEx(OSSHFile* file, RamboDumpParserEx* parser, Uint64* recordOffset, void* out,
                            Uint32 outSize) {
    if (parser == nullptr) return 0;
    return parseRing(file, &parser->parser, &parser->state, recordOffset, out, outSize);
}

Uint32 ramboParseDumpFileBatch(OSSHFile* file, RamboDumpParser* parser, GTraceRecordView* views, Uint32 max) {
    return parseRingBatch(file, parser, nullptr, views, max);
}

Uint32 ramboParseDumpFileBatchEx(OSSHFile* file, RamboDumpParserEx* parser, GTraceRecordView* views,
                                 Uint32 max) {
    if (parser == nullptr) return 0;
    return parseRingBatch(file, &parser->parser, &parser->state, views, max);
}

OSSErr ramboCloseDumpFileParser(RamboDumpParser* parser) {
    if (parser == nullptr || !parser->open) return ECF_INVALID_PARAMETER;
    FileReader r{nullptr};
    parser->open = 0;
    r.release(&parser->buffer);
    return OSS_OK;
}

OSSErr ramboDidBufferWrap(RamboDumpParser* parser, bool* wrapped) {
    if (parser == nullptr || !parser->open || wrapped == nullptr) return ECF_INVALID_PARAMETER;
    *wrapped = parser->wrapped != 0;
    return OSS_OK;
}

OSSErr ramboWasBufferTruncated(RamboDumpParser* parser, bool* truncated) {
    if (parser == nullptr || !parser->open || truncated == nullptr) return ECF_INVALID_PARAMETER;
    *truncated = parser->truncated != 0;
    return OSS_OK;
}

OSSErr ramboGetLostSlots(RamboDumpParserEx* parser, Uint32* lostSlots) {
    if (parser == nullptr || !parser->parser.open || lostSlots == nullptr) return ECF_INVALID_PARAMETER;
    *lostSlots = parser->state.lostSlots;
    return OSS_OK;
}

OSSErr gtraceValidateDumpFile(OSSHFile* file, Uint32 expectedKind) {
    if (file == nullptr) return ECF_INVALID_PARAMETER;
    FileReader r{file};
    TraceHeaderHead header;
    return validateTrace(r, expectedKind, &header);
}

OSSErr gtraceOpenDumpFileParser(OSSHFile* file, GTraceDumpParser* parser, bool forward) {
    return openTraceParser(file, parser, nullptr, forward);
}

OSSErr gtraceOpenDumpFileParserEx(OSSHFile* file, GTraceDumpParserEx* parser, bool forward) {
    if (parser == nullptr) return ECF_INVALID_PARAMETER;
    return openTraceParser(file, &parser->parser, &parser->state, forward);
}

Uint32 gtraceParseRecords(OSSHFile* file, GTraceDumpParser* parser, Uint64* recordOffset, void* out,
                          Uint32 outSize) {
    return parseTrace(file, parser, nullptr, recordOffset, out, outSize);
}

Uint32 gtraceParseRecordsEx(OSSHFile* file, GTraceDumpParserEx* parser, Uint64* recordOffset, void* out,
                            Uint32 outSize) {
    if (parser == nullptr) return 0;
    return parseTrace(file, &parser->parser, &parser->state, recordOffset, out, outSize);
}

Uint32 gtraceParseRecordBatch(OSSHFile* file, GTraceDumpParser* parser, GTraceRecordView* views, Uint32 max) {
    if (parser == nullptr || parser->kind != GTRACE_DUMP_RECORDS) return 0;
    return parseRingBatch(file, &parser->rambo, nullptr, views, max);
}

Uint32 gtraceParseRecordBatchEx(OSSHFile* file, GTraceDumpParserEx* parser, GTraceRecordView* views,
                                Uint32 max) {
    if (parser == nullptr || parser->parser.kind != GTRACE_DUMP_RECORDS) return 0;
    return parseRingBatch(file, &parser->parser.rambo, &parser->state, views, max);
}

OSSErr gtraceGetLostSlots(GTraceDumpParserEx* parser, Uint32* lostSlots) {
    if (parser == nullptr || lostSlots == nullptr) return ECF_INVALID_PARAMETER;
    switch (parser->parser.kind) {
    case GTRACE_DUMP_RECORDS:
        if (!parser->parser.rambo.open) return ECF_INVALID_PARAMETER;
        *lostSlots = parser->state.lostSlots;
        return OSS_OK;
    case GTRACE_DUMP_PROFILE:
        if (!parser->parser.profile.open) return ECF_INVALID_PARAMETER;
        *lostSlots = 0;
        return OSS_OK;
    default: return ECF_INVALID_PARAMETER;
    }
}

OSSErr gtraceCloseDumpFileParser(GTraceDumpParser* parser) {
    if (parser == nullptr) return ECF_INVALID_PARAMETER;
    FileReader r{nullptr};
    switch (parser->kind) {
    case GTRACE_DUMP_RECORDS: return ramboCloseDumpFileParser(&parser->rambo);
    case GTRACE_DUMP_PROFILE: return closeProfile(r, &parser->profile);
    default: return OSS_OK;
    }
}

}  // extern "C"
