// Dump files of a trace in this process, written as a dump tool writes them, and read back
// through the library's parsers.
#ifndef OSSE_TESTS_TRACE_DUMP_HELPERS_H
#define OSSE_TESTS_TRACE_DUMP_HELPERS_H

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "osse/file.h"
#include "osse/tracedump.h"

namespace tracetest {

using Bytes = std::vector<Uint8>;

// Header (and ring head), data area image and, when instantaneous, the tail of the bound trace.
inline Bytes dumpOfBoundTrace(bool instantaneous = true) {
    Bytes header(GTRACE_DUMP_HEADER_BUFFER_SIZE);
    void* data = nullptr;
    Uint32 size = 0;
    if (gtraceGetDumpHeaderBuffer(instantaneous, header.data(), &data, &size) != 0) return {};
    Bytes out(header);
    const Uint8* d = static_cast<const Uint8*>(data);
    out.insert(out.end(), d, d + size);
    if (instantaneous) {
        RamboDumpTail tail;
        if (gtraceGetDumpTail(&tail) != 0) return {};
        const Uint8* t = reinterpret_cast<const Uint8*>(&tail);
        out.insert(out.end(), t, t + sizeof tail);
    }
    return out;
}

inline bool writeBytes(const std::string& path, const Bytes& b, size_t n = (size_t)-1) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const size_t len = n < b.size() ? n : b.size();
    const bool ok = len == 0 || fwrite(b.data(), 1, len, f) == len;
    return fclose(f) == 0 && ok;
}

inline bool openRead(OSSHFile& f, const std::string& path) {
    OSSFileOpenParam p = {OSS_CURRENT_VERSION, path.c_str(), OSS_FILE_OPEN_EXISTING,
                          OSS_FILE_ACCESS_READ, 0, 0, 0};
    return f.open(&p) == 0;
}

struct Parsed {
    OSSErr openRc = 0;
    std::vector<Bytes> records;  // payloads, in parse order
    bool wrapped = false, truncated = false;
    std::vector<Uint32> lostBefore;  // slots reported missing just before each record
    Uint32 lostAfter = 0;            // ... and after the last one
    bool anyLost() const {
        for (Uint32 n : lostBefore)
            if (n) return true;
        return lostAfter != 0;
    }
};

// How records are read: copied out one by one, or handed out in place in small batches (so
// that batches end everywhere in a buffer).
enum class Via { Copy, Batch };

// Opens the dump at `path` with the trace parser (the form that counts missing records) and
// reads every record in one direction.
inline Parsed parseFile(const std::string& path, bool forward, Via via = Via::Copy) {
    Parsed out;
    OSSHFile f;
    if (!openRead(f, path)) {
        out.openRc = 0xFFFFFFFF;
        return out;
    }
    GTraceDumpParserEx ex;
    GTraceDumpParser& p = ex.parser;
    out.openRc = gtraceOpenDumpFileParserEx(&f, &ex, forward);
    if (out.openRc == 0) {
        static Uint8 buf[RAMBO_MAX_PAYLOAD];
        Uint32 lost = 0;
        if (via == Via::Batch) {
            GTraceRecordView views[5];
            while (Uint32 n = gtraceParseRecordBatchEx(&f, &ex, views, 5)) {
                for (Uint32 i = 0; i < n; ++i) {
                    const Uint8* payload = static_cast<const Uint8*>(views[i].payload);
                    out.records.emplace_back(payload, payload + views[i].length);
                    out.lostBefore.push_back(views[i].lostSlots);
                }
            }
        } else {
            while (Uint32 n = gtraceParseRecordsEx(&f, &ex, nullptr, buf, sizeof buf)) {
                out.records.emplace_back(buf, buf + (n < sizeof buf ? n : sizeof buf));
                gtraceGetLostSlots(&ex, &lost);
                out.lostBefore.push_back(lost);
            }
        }
        if (gtraceGetLostSlots(&ex, &lost) == 0) out.lostAfter = lost;
        if (p.kind == GTRACE_DUMP_RECORDS) {
            ramboDidBufferWrap(&p.rambo, &out.wrapped);
            ramboWasBufferTruncated(&p.rambo, &out.truncated);
        }
    }
    gtraceCloseDumpFileParser(&p);
    f.close();
    return out;
}

// The id that the tests' writer puts into the first item of each record.
inline Uint32 idOf(const Bytes& payload) {
    GTraceItemWalk w;
    Uint32 kind = 0, size = 0, present = 0;
    const void* bytes = nullptr;
    if (!gtraceRecordItemsBegin(payload.data(), (Uint32)payload.size(), &w) ||
        !gtraceRecordItemsNext(&w, &kind, &size, &bytes, &present) || present != 4) {
        return 0xFFFFFFFF;
    }
    Uint32 id;
    memcpy(&id, bytes, 4);
    return id;
}

inline std::vector<Uint32> idsOf(const Parsed& p) {
    std::vector<Uint32> ids;
    for (const Bytes& r : p.records) ids.push_back(idOf(r));
    return ids;
}

// A data record carrying its id and `extra` bytes of filler: 1 slot for extra 0 .. 40 more
// slots for large values.
inline void writeRecord(Uint32 id, Uint32 extra = 0) {
    static Uint8 filler[4096];
    if (extra == 0) {
        _gtraceVar(1, 0, 0x081A0003, id & 0xFFFF, GTRACE_TYPE_DATA, 1, GTRACE_ITEM_BYTES, 4u,
                   &id);
    } else {
        _gtraceVar(1, 0, 0x081A0003, id & 0xFFFF, GTRACE_TYPE_DATA, 2, GTRACE_ITEM_BYTES, 4u,
                   &id, GTRACE_ITEM_BYTES, extra, filler);
    }
}

inline std::vector<Uint32> range(Uint32 from, Uint32 to) {
    std::vector<Uint32> v;
    for (Uint32 i = from; i < to; ++i) v.push_back(i);
    return v;
}

}  // namespace tracetest

#endif
