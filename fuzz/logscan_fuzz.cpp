// Fuzz target: the log cutter and header reader behind `ossetool log`. The input's first two
// bytes choose a piece size; the rest is a log file, cut once whole and once fed in pieces
// through a buffer of a fixed size as the tool reads it. Both cuts must report the same
// records, damage and truncation, and every record's header is read.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "logscan.h"

namespace {

struct Events final : logscan::Sink {
    std::string seen;
    void record(uint64_t offset, const char* text, size_t length) override
    {
        seen += "R" + std::to_string(offset) + "+" + std::to_string(length) + " ";
        logscan::Header h;
        if (logscan::parseHeader(text, length, &h, true)) logscan::levelNumber(h.level);
        logscan::parseHeader(text, length, &h, false);
    }
    void damaged(uint64_t offset, uint64_t length, bool cutShort) override
    {
        seen += (cutShort ? "C" : "D") + std::to_string(offset) + "+" + std::to_string(length) + " ";
    }
    void truncated(uint64_t offset, uint64_t have, uint64_t want) override
    {
        seen += "T" + std::to_string(offset) + ":" + std::to_string(have) + "/" + std::to_string(want) + " ";
    }
};

std::string cut(const char* file, size_t size, size_t piece)
{
    Events ev;
    logscan::Cutter cutter;
    std::vector<char> buffer(piece + logscan::kMaxRecord + logscan::kStartBytes);
    size_t kept = 0, read = 0;
    uint64_t base = 0;
    for (;;) {
        const size_t n = piece < size - read ? piece : size - read;
        if (n) memcpy(buffer.data() + kept, file + read, n);
        read += n;
        const size_t have = kept + n;
        const bool atEnd = n == 0;
        const size_t used = cutter.scan(buffer.data(), have, base, atEnd, ev);
        if (used > have || have - used > logscan::kMaxRecord + logscan::kStartBytes) abort();
        memmove(buffer.data(), buffer.data() + used, have - used);
        kept = have - used;
        base += used;
        if (atEnd) break;
    }
    if (kept != 0) abort();  // at the end every byte is decided
    return ev.seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const size_t piece = 1 + ((data[0] | data[1] << 8) % 8192);
    const char* file = reinterpret_cast<const char*>(data + 2);
    size -= 2;
    const std::string whole = cut(file, size, size ? size : 1);
    const std::string pieces = cut(file, size, piece);
    if (whole != pieces) {
        fprintf(stderr, "whole: %s\npieces of %zu: %s\n", whole.c_str(), piece, pieces.c_str());
        abort();
    }
    return 0;
}
