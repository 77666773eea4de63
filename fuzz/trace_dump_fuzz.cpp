// Fuzz target: the dump parsers' byte-level decoding (validation, record-start and window tests,
// the record walk in both directions, the scanning form of circular stream files, the profile
// table reader and the item walk of each record), built natively with the sanitizers. Every
// input is parsed from memory.
//
// The input is a bare ring buffer dump (head, slots, and for instantaneous dumps a tail). It is
// read as it is; one input in eight with an instantaneous dump's data area padded out to the
// size its head states (so that small inputs reach the windowed paths); and behind a trace dump
// header, once as a circularly written stream and once as a profile dump.
//
// Each input is parsed in one direction only, and mostly in place: the fuzzer reaches both
// directions and both ways of reading through different inputs, at close to four times the
// executions per second of reading every input every way (the same features in the same time).
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

// How an input is read, chosen by a hash of its bytes, so that the same input always takes the
// same paths: in one direction or the other, and one input in eight copied window by window as
// the library reads files, besides in place as a mapped dump would be read.
bool g_forward = true;
ImageRead g_copied = ImageRead::kInPlace;

void read(OSSErr (*parse)(const Uint8*, size_t, bool, RecordVisitor, void*, Uint32*, ImageRead),
          const Uint8* d, size_t n) {
    Uint32 records = 0;
    parse(d, n, g_forward, walkItems, nullptr, &records, ImageRead::kInPlace);
    if (g_copied == ImageRead::kCopied) parse(d, n, g_forward, walkItems, nullptr, &records, ImageRead::kCopied);
}

// The images the input is placed in are kept from one input to the next (they are large: the
// trace dump header alone is 0x318D0 bytes), zeroed once, and only the bytes an input wrote are
// cleared again after it; no state of the parser outlives an input.
// A padded image is at least 512 KiB of slots, which the parser scans whole: that costs some
// forty times the reading of the input itself, so only one input in eight is read padded.
// The hash that chooses takes the size and at most the first 256 bytes: hashing a whole input, under the
// coverage instrumentation, cost more than a tenth of the run.
Uint32 hashOf(const Uint8* data, size_t size) {
    Uint32 h = 2166136261u ^ static_cast<Uint32>(size);
    const size_t n = size < 256 ? size : 256;
    for (size_t i = 0; i < n; ++i) h = (h ^ data[i]) * 16777619u;
    return h;
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
    const Uint32 hash = hashOf(data, size);
    g_copied = (hash >> 26 & 7) == 0 ? ImageRead::kCopied : ImageRead::kInPlace;
    g_forward = (hash >> 25 & 1) != 0;
    read(parseRingImage, data, size);

    RamboDumpHead head;
    if (size >= sizeof head + sizeof(RamboDumpTail)) {
        memcpy(&head, data, sizeof head);
        if ((hash >> 29) == 0 && head.kind == RAMBO_DUMP_KIND_INSTANT &&
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
            read(parseRingImage, image, total);
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
    read(parseTraceImage, image, total);
    h->options.mode = GTRACE_MODE_PROFILE;
    h->options.bufferSize = size >= 4 ? (data[0] | data[1] << 8 | data[2] << 16) : 0;
    read(parseTraceImage, image, total);
    return 0;
}
