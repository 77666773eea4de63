// Decoding of one record's data items, and the dump parsers over a memory image. No Windows
// header: this file also builds natively for the fuzz target.
#include "trace/dumpcore.h"
#include "trace/dumpimage.h"

#include <stdlib.h>

namespace osse {
namespace tracedump {
namespace {

constexpr Uint32 kHeadBytes = 0x38;        // record head; items follow
constexpr Uint32 kItemCountEnd = 0x38;     // the item count is present from this length on

// True when `count` item headers at `headers` with their stored bytes fit `area` bytes; an
// exact fit is required unless an item was stored with a null pointer (its reserved bytes stay
// unused at the end of the record).
bool itemsFit(const Uint8* headers, Uint32 count, Uint32 area) {
    if (Uint64(count) * 8 > area) return false;
    Uint64 used = Uint64(count) * 8;
    bool anyNull = false;
    for (Uint32 i = 0; i < count; ++i) {
        const Uint32 size = loadAt<Uint32>(headers + 8 * i + 4);
        if (size == GTRACE_ITEM_NULL_SIZE) {
            anyNull = true;
            continue;
        }
        used += size;
        if (used > area) return false;
    }
    return anyNull ? used <= area : used == area;
}

// A memory image read like a file: in place, or copied into the parser's buffer. Image parsing
// runs on one thread (the fuzz target and the native tests), so a copying parser's buffer is one
// kept for the process, large enough for every window: a fresh megabyte per parse would cost more
// than the parse.
template <bool kView>
struct ImageReader {
    static constexpr bool kInPlace = kView;
    const Uint8* image;
    size_t total;
    size_t pos = 0;

    ImageReader(const Uint8* i, size_t n) : image(i), total(n) {}
    OSSErr read(void* to, Uint32 n, Uint32* got) {
        const size_t left = pos < total ? total - pos : 0;
        const Uint32 take = left < n ? static_cast<Uint32>(left) : n;
        if (take) memcpy(to, image + pos, take);
        pos += take;
        *got = take;
        return take == n ? OSS_OK : ECF_FILE_EOF;
    }
    const Uint8* view(Uint64 at, Uint32 n, Uint32* got) const {
        const Uint64 left = at < total ? total - at : 0;
        *got = left < n ? static_cast<Uint32>(left) : n;
        return image + (at < total ? at : total);
    }
    OSSErr tell(Uint64* p) {
        *p = pos;
        return OSS_OK;
    }
    OSSErr seekTo(Uint64 p) {
        if (p > total) return ECF_FILE_SEEK_BEYOND_EOF;
        pos = static_cast<size_t>(p);
        return OSS_OK;
    }
    OSSErr size(Uint64* s) {
        *s = total;
        return OSS_OK;
    }
    OSSErr alloc(Uint8** p, Uint32 n) {
        static_assert(kReadBuffer >= GTRACE_PROFILE_READ_BUFFER, "one buffer serves both parsers");
        static Uint8* const buffer = static_cast<Uint8*>(malloc(kReadBuffer));
        *p = n <= kReadBuffer ? buffer : nullptr;
        return *p ? OSS_OK : ECF_INVALID_PARAMETER;
    }
    void release(Uint8** p) { *p = nullptr; }
};

// Reads the records one copied out, then a batch of up to three in place, and so on: both ways
// of reading and their mixing.
template <class R>
Uint32 walkRing(R& r, RingParser* p, RecordVisitor visit, void* context) {
    static Uint8 out[RAMBO_MAX_PAYLOAD];
    Uint32 n = 0;
    Uint64 offset = 0;
    GTraceRecordView views[3];
    for (;;) {
        const Uint32 length = parseNext(r, p, &offset, out, RAMBO_MAX_PAYLOAD);
        if (length == 0) break;
        ++n;
        if (visit) visit(context, out, length, offset);
        const Uint32 got = parseBatch(r, p, views, 3);
        if (got == 0) break;
        for (Uint32 i = 0; i < got; ++i, ++n) {
            if (visit) visit(context, static_cast<const Uint8*>(views[i].payload), views[i].length, views[i].offset);
        }
    }
    closeRing(r, p);
    return n;
}

template <class R>
OSSErr parseRing(R& r, bool forward, RecordVisitor visit, void* context, Uint32* records) {
    RingParser p;
    if (OSSErr rc = openRing(r, &p, forward, false)) return rc;
    *records = walkRing(r, &p, visit, context);
    return OSS_OK;
}

template <class R>
OSSErr parseTrace(R& r, bool forward, RecordVisitor visit, void* context, Uint32* records) {
    TraceHeaderHead header;
    OSSErr rc = validateTrace(r, GTRACE_DUMP_ANY, &header);
    if (rc == OSS_OK) rc = readTraceHeader(r, &header);
    if (rc == OSS_OK && isProfileMode(header.mode)) {
        GTraceProfileParser p;
        rc = openProfile(r, &p, header);
        if (rc == OSS_OK) {
            Uint8 entry[GTRACE_PROFILE_ENTRY_SIZE];
            Uint64 offset = 0;
            while (profileNext(r, &p, &offset, entry, sizeof entry)) {
                ++*records;
                if (visit) visit(context, entry, sizeof entry, offset);
            }
            closeProfile(r, &p);
        }
    } else if (rc == OSS_OK) {
        RingParser p;
        rc = openRing(r, &p, forward, header.wrappingDumpMarker != 0);
        if (rc == OSS_OK) *records = walkRing(r, &p, visit, context);
    }
    return rc;
}

}  // namespace

OSSErr parseRingImage(const Uint8* image, size_t size, bool forward, RecordVisitor visit,
                      void* context, Uint32* records, ImageRead how) {
    *records = 0;
    if (how == ImageRead::kInPlace) {
        ImageReader<true> r(image, size);
        return parseRing(r, forward, visit, context, records);
    }
    ImageReader<false> r(image, size);
    return parseRing(r, forward, visit, context, records);
}

OSSErr parseTraceImage(const Uint8* image, size_t size, bool forward, RecordVisitor visit,
                       void* context, Uint32* records, ImageRead how) {
    *records = 0;
    if (how == ImageRead::kInPlace) {
        ImageReader<true> r(image, size);
        return parseTrace(r, forward, visit, context, records);
    }
    ImageReader<false> r(image, size);
    return parseTrace(r, forward, visit, context, records);
}

}  // namespace tracedump
}  // namespace osse

using namespace osse::tracedump;

extern "C" {

bool gtraceRecordItemsBegin(const void* payload, Uint32 length, GTraceItemWalk* walk) {
    if (walk == nullptr) return false;
    memset(walk, 0, sizeof *walk);
    if (payload == nullptr || length < RAMBO_ONE_SLOT_PAYLOAD) return false;
    const Uint8* rec = static_cast<const Uint8*>(payload);
    const Uint8* end = rec + length;
    walk->headers = walk->bytes = walk->end = end;
    if (length < kItemCountEnd + 8) return true;  // one slot: no items, no extra bytes
    Uint32 area = loadAt<Uint16>(rec + 0x26);
    Uint32 count = loadAt<Uint32>(rec + 0x34);
    const Uint32 room = length - kHeadBytes;
    if (area > room) area = room;
    const Uint16 type = loadAt<Uint16>(rec + 0x20);
    if (count == 0) {
        // A two-slot record without items: the error writers' 8 extra bytes.
        if (area == 0 && (type == GTRACE_TYPE_ERROR_TRANS || type == GTRACE_TYPE_ERROR ||
                          type == GTRACE_TYPE_STOP_ERROR || type == GTRACE_TYPE_ERROR11)) {
            walk->hasExtra = 1;
        } else if (area == 8) {
            walk->hasExtra = 1;  // items dropped by the length limit behind the extra bytes
        }
    } else if (!itemsFit(rec + kHeadBytes, count, area) && area >= 8 &&
               itemsFit(rec + kHeadBytes + 8, count, area - 8)) {
        walk->hasExtra = 1;
    }
    if (walk->hasExtra) {
        walk->extra[0] = loadAt<Uint32>(rec + kHeadBytes);
        walk->extra[1] = loadAt<Uint32>(rec + kHeadBytes + 4);
        area = area >= 8 ? area - 8 : 0;
    }
    const Uint8* headers = rec + kHeadBytes + (walk->hasExtra ? 8 : 0);
    if (count > area / 8) count = area / 8;
    walk->headers = headers;
    walk->bytes = headers + 8 * count;
    walk->end = headers + area;
    walk->count = count;
    return true;
}

bool gtraceRecordItemsNext(GTraceItemWalk* walk, Uint32* kind, Uint32* size, const void** bytes,
                           Uint32* present) {
    if (walk == nullptr || walk->index >= walk->count) return false;
    const Uint8* h = walk->headers + 8 * walk->index++;
    const Uint32 k = loadAt<Uint32>(h);
    const Uint32 s = loadAt<Uint32>(h + 4);
    if (kind) *kind = k;
    if (size) *size = s;
    if (s == GTRACE_ITEM_NULL_SIZE) {
        // Nothing was stored: the next item's bytes start where this one's would have.
        if (bytes) *bytes = nullptr;
        if (present) *present = 0;
        return true;
    }
    const Uint32 left = static_cast<Uint32>(walk->end - walk->bytes);
    const Uint32 n = s < left ? s : left;
    if (bytes) *bytes = walk->bytes;
    if (present) *present = n;
    walk->bytes += n;
    return true;
}

}  // extern "C"
