// Fuzz target: the walk over the data items of one trace record payload. Every item handed out
// must lie inside the payload, and the walk must end.
#include <stdlib.h>
#include <string.h>

#include "osse/tracedump.h"

extern "C" int LLVMFuzzerTestOneInput(const Uint8* data, size_t size)
{
    // A payload is at most 64 KiB; the copy makes the payload's end the allocation's end, so
    // that a read past it is caught.
    const Uint32 length = static_cast<Uint32>(size > 0xFFFF ? 0xFFFF : size);
    Uint8* payload = static_cast<Uint8*>(malloc(length ? length : 1));
    if (length) memcpy(payload, data, length);
    GTraceItemWalk w;
    if (gtraceRecordItemsBegin(payload, length, &w)) {
        Uint32 kind, itemSize, present;
        const void* bytes;
        Uint32 items = 0;
        while (gtraceRecordItemsNext(&w, &kind, &itemSize, &bytes, &present)) {
            const Uint8* b = static_cast<const Uint8*>(bytes);
            if (present && (b < payload || b + present > payload + length)) abort();
            if (present > itemSize) abort();
            if (++items > length) abort();  // every item takes at least one header byte
        }
    }
    free(payload);
    return 0;
}
