// Reading a trace dump held in memory: the same validation and record walk the file parsers run,
// over a byte image. Used by the native fuzz build; no Windows header.
#ifndef OSSE_TRACE_DUMPIMAGE_H
#define OSSE_TRACE_DUMPIMAGE_H

#include "osse/tracedump.h"

namespace osse {
namespace tracedump {

// Called for every record found, with its payload (valid during the call).
using RecordVisitor = void (*)(void* context, const Uint8* payload, Uint32 length, Uint64 offset);

// How the parser takes the image's bytes: where they lie (as a parser over a mapped file would),
// or copied into its buffer window by window (as the file parsers of the library read).
enum class ImageRead { kInPlace, kCopied };

// Validates and parses the trace dump (full form, with the trace dump header) in `image`, in the
// given direction, calling `visit` for each record or profile entry. Returns the open's code
// (0 when it parsed) and the number of records in *records.
OSSErr parseTraceImage(const Uint8* image, size_t size, bool forward, RecordVisitor visit,
                       void* context, Uint32* records, ImageRead how = ImageRead::kInPlace);
// The same for a bare ring buffer dump (starting with the ring head).
OSSErr parseRingImage(const Uint8* image, size_t size, bool forward, RecordVisitor visit,
                      void* context, Uint32* records, ImageRead how = ImageRead::kInPlace);

}  // namespace tracedump
}  // namespace osse

#endif
