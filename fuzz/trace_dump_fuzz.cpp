// Fuzz target: the dump parsers' byte-level decoding (validation, record-start and window tests,
// the record walk in both directions, the scanning form of circular stream files, the profile
// table reader and the item walk of each record), built natively with the sanitizers. Every
// input is parsed from memory.
//
// The input is a bare ring buffer dump (head, slots, and for instantaneous dumps a tail). Each
// input is read four ways: as it is; with an instantaneous dump's data area padded out to the
// size its head states (so that small inputs reach the windowed paths); and behind a trace dump
// header, once as a circularly written stream and once as a profile dump.
#include <stdlib.h>
#include <string.h>

#include "osse/tracedump.h"
#include "trace/dumpimage.h"

using namespace osse::tracedump;

namespace {

void walkItems(void*, const Uint8* payload, Uint32 length, Uint64) {
    GTraceItemWalk w;
    if (!gtraceRecordItemsBegin(payload, length, &w)) return;
    Uint32 kind, size, present;
    const void* bytes;
    volatile Uint8 sink = 0;
    while (gtraceRecordItemsNext(&w, &kind, &size, &bytes, &present)) {
        if (present) sink ^= static_cast<const Uint8*>(bytes)[present - 1];
    }
    (void)sink;
}

void bothWays(OSSErr (*parse)(const Uint8*, size_t, bool, RecordVisitor, void*, Uint32*), const Uint8* d,
              size_t n) {
    Uint32 forward = 0, backward = 0;
    parse(d, n, true, walkItems, nullptr, &forward);
    parse(d, n, false, walkItems, nullptr, &backward);
}

// The images the input is placed in are kept from one input to the next (they are large: the
// trace dump header alone is 0x318D0 bytes), zeroed once, and only the bytes an input wrote are
// cleared again after it; no state of the parser outlives an input.
// A padded image is at least 512 KiB of slots, which the parser scans whole in both directions:
// that costs some forty times the reading of the input itself. One input in eight, chosen by a
// hash of its bytes (the same input always takes the same paths), is read padded as well.
bool paddedShare(const Uint8* data, size_t size) {
    Uint32 h = 2166136261u;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return (h >> 29) == 0;
}

struct PaddedImage {
    static constexpr size_t kMaxData = 0x100000;
    Uint8* bytes = static_cast<Uint8*>(calloc(1, sizeof(RamboDumpHead) + kMaxData + sizeof(RamboDumpTail)));
};

struct TraceImage {
    Uint8* bytes = nullptr;
    size_t room = 0;
    // Room for the header and `size` bytes after it; the header area is zero but for the
    // fields set per input.
    Uint8* reserve(size_t size) {
        const size_t total = GTRACE_DUMP_HEADER_SIZE + size;
        if (room < total) {
            free(bytes);
            room = total;
            bytes = static_cast<Uint8*>(calloc(1, room));
        }
        return bytes;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const Uint8* data, size_t size) {
    bothWays(parseRingImage, data, size);

    RamboDumpHead head;
    if (size >= sizeof head + sizeof(RamboDumpTail)) {
        memcpy(&head, data, sizeof head);
        if (paddedShare(data, size) && head.kind == RAMBO_DUMP_KIND_INSTANT &&
            head.bufferSize >= RAMBO_MIN_BUFFER_SIZE && head.bufferSize <= PaddedImage::kMaxData) {
            // Slots from the input, zeros to the stated size, then the input's last 32 bytes.
            static PaddedImage padded;
            Uint8* image = padded.bytes;
            const size_t slots = size - sizeof head - sizeof(RamboDumpTail);
            const size_t copied = slots < head.bufferSize ? slots : head.bufferSize;
            const size_t total = sizeof head + head.bufferSize + sizeof(RamboDumpTail);
            memcpy(image, data, sizeof head);
            memcpy(image + sizeof head, data + sizeof head, copied);
            memcpy(image + total - sizeof(RamboDumpTail), data + size - sizeof(RamboDumpTail),
                   sizeof(RamboDumpTail));
            bothWays(parseRingImage, image, total);
            memset(image, 0, sizeof head + copied);
            memset(image + total - sizeof(RamboDumpTail), 0, sizeof(RamboDumpTail));
        }
    }

    // Behind a trace dump header: a circularly written stream, and a profile dump.
    static TraceImage trace;
    Uint8* image = trace.reserve(size);
    GTraceDumpHeader* h = reinterpret_cast<GTraceDumpHeader*>(image);
    memcpy(h->eyeCatcher, GTRACE_DUMP_EYECATCHER, 8);
    h->options.wrappingDumpMarker = 1;
    h->options.mode = 0;
    h->options.bufferSize = 0;
    if (size) memcpy(image + GTRACE_DUMP_HEADER_SIZE, data, size);
    const size_t total = GTRACE_DUMP_HEADER_SIZE + size;
    bothWays(parseTraceImage, image, total);
    h->options.mode = GTRACE_MODE_PROFILE;
    h->options.bufferSize = size >= 4 ? (data[0] | data[1] << 8 | data[2] << 16) : 0;
    bothWays(parseTraceImage, image, total);
    return 0;
}
