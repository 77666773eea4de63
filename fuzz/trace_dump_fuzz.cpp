// Fuzz target: the dump parsers' byte-level decoding (validation, record-start and window tests,
// the record walk in both directions, the scanning form of circular stream files, the profile
// table reader and the item walk of each record), built natively with the sanitizers.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const Uint8* data, size_t size) {
    bothWays(parseRingImage, data, size);
    walkItems(nullptr, data, static_cast<Uint32>(size > 0xFFFF ? 0xFFFF : size), 0);

    RamboDumpHead head;
    if (size >= sizeof head + sizeof(RamboDumpTail)) {
        memcpy(&head, data, sizeof head);
        if (head.kind == RAMBO_DUMP_KIND_INSTANT && head.bufferSize >= RAMBO_MIN_BUFFER_SIZE &&
            head.bufferSize <= 0x100000) {
            // Slots from the input, zeros to the stated size, then the input's last 32 bytes.
            const size_t slots = size - sizeof head - sizeof(RamboDumpTail);
            const size_t total = sizeof head + head.bufferSize + sizeof(RamboDumpTail);
            static Uint8* image = static_cast<Uint8*>(malloc(sizeof head + 0x100000 + sizeof(RamboDumpTail)));
            memset(image, 0, total);
            memcpy(image, data, sizeof head);
            memcpy(image + sizeof head, data + sizeof head, slots < head.bufferSize ? slots : head.bufferSize);
            memcpy(image + total - sizeof(RamboDumpTail), data + size - sizeof(RamboDumpTail),
                   sizeof(RamboDumpTail));
            bothWays(parseRingImage, image, total);
        }
    }

    // Behind a trace dump header: a circularly written stream, and a profile dump.
    const size_t total = GTRACE_DUMP_HEADER_SIZE + size;
    static Uint8* image = nullptr;
    static size_t room = 0;
    if (room < total) {
        free(image);
        room = total;
        image = static_cast<Uint8*>(malloc(room));
    }
    memset(image, 0, GTRACE_DUMP_HEADER_SIZE);
    GTraceDumpHeader* h = reinterpret_cast<GTraceDumpHeader*>(image);
    memcpy(h->eyeCatcher, GTRACE_DUMP_EYECATCHER, 8);
    h->options.wrappingDumpMarker = 1;
    if (size) memcpy(image + GTRACE_DUMP_HEADER_SIZE, data, size);
    bothWays(parseTraceImage, image, total);
    h->options.mode = GTRACE_MODE_PROFILE;
    h->options.bufferSize = size >= 4 ? (data[0] | data[1] << 8 | data[2] << 16) : 0;
    bothWays(parseTraceImage, image, total);
    return 0;
}
