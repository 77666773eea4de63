// Cutting a diagnostic log into records by their locators, and reading the header lines.
#include "logscan.h"

#include <string.h>

#include <algorithm>

namespace logscan {

namespace {

constexpr size_t kLocatorAt = 33;
constexpr size_t kLocatorEnd = 51;  // the locator and its blank fill end before byte 51
// The shortest record: the three header lines with empty names.
constexpr size_t kMinRecord = 128;

inline bool digit(char c) { return c >= '0' && c <= '9'; }

// Reads decimal digits from p[*at] on, up to `end`; false when there are none or too many.
bool number(const char* p, size_t* at, size_t end, uint64_t* value)
{
    size_t i = *at;
    uint64_t v = 0;
    const size_t first = i;
    while (i < end && digit(p[i])) {
        if (i - first >= 19) return false;
        v = v * 10 + (uint64_t)(p[i] - '0');
        ++i;
    }
    if (i == first) return false;
    *at = i;
    *value = v;
    return true;
}

size_t locatorAt(const char* p, size_t avail, uint64_t* named);

// The length of a record starting at `p` with a well-formed locator, which names the position
// *named (of the record's leading line break); 0 when there is none.
size_t locatorAt(const char* p, size_t avail, uint64_t* named)
{
    if (avail < kStartBytes || p[0] != '\r' || p[1] != '\n') return 0;
    // Cheap checks on the time stamp before the locator is read.
    if (!digit(p[2]) || p[6] != '-' || p[9] != '-' || p[12] != '-' || p[kLocatorAt] != 'I')
        return 0;
    size_t at = kLocatorAt + 1;
    uint64_t where = 0, length = 0;
    if (!number(p, &at, kLocatorEnd, &where) || where < 2) return 0;
    if (at >= kLocatorEnd || p[at] != 'H') return 0;
    ++at;
    if (!number(p, &at, kLocatorEnd, &length) || at >= kLocatorEnd || p[at] != ' ') return 0;
    if (length + 2 < kMinRecord || length + 2 > kMaxRecord) return 0;
    *named = where - 2;
    return (size_t)length + 2;
}

}  // namespace

size_t recordAt(const char* p, size_t avail, uint64_t offset)
{
    uint64_t named = 0;
    const size_t length = locatorAt(p, avail, &named);
    return length && named == offset ? length : 0;
}

void Cutter::endDamage(uint64_t at, Sink& sink)
{
    if (!inDamage_) return;
    inDamage_ = false;
    ++problems_;
    sink.damaged(damageFrom_, at - damageFrom_, false);
}

// The first record start in [from, limit) whose locator names its own position (under the
// current shift); `limit` when there is none that can be decided.
size_t Cutter::findStart(const char* data, size_t from, size_t limit, size_t size, uint64_t base) const
{
    for (size_t i = from; i < limit; ++i) {
        const void* cr = memchr(data + i, '\r', limit - i);
        if (!cr) return limit;
        i = (size_t)((const char*)cr - data);
        if (size - i < kStartBytes) return limit;
        if (recordAt(data + i, size - i, base + i + shift_)) return i;
    }
    return limit;
}

// After damage: the next record start, also one whose locator names another position, when the
// record after it confirms the new shift (a log with bytes inserted, or two logs joined).
// Returns `size` when there is none; *undecided is set to the first candidate that needs more
// bytes to be judged.
size_t Cutter::resync(const char* data, size_t from, size_t size, uint64_t base, bool atEnd,
                      size_t* undecided)
{
    *undecided = size;
    for (size_t i = from; i < size; ++i) {
        const void* cr = memchr(data + i, '\r', size - i);
        if (!cr) return size;
        i = (size_t)((const char*)cr - data);
        if (size - i < kStartBytes) {
            if (!atEnd) *undecided = i;
            return size;
        }
        uint64_t named = 0;
        const size_t length = locatorAt(data + i, size - i, &named);
        if (!length) continue;
        const uint64_t shift = named - (base + i);
        const size_t end = i + length;
        bool take = shift == shift_;
        if (!take) {
            if (end >= size || size - end < kStartBytes) {
                if (!atEnd) {
                    *undecided = i;
                    return size;
                }
                take = true;  // the last record of the file
            } else {
                take = recordAt(data + end, size - end, base + end + shift) != 0;
            }
        }
        if (take) {
            shift_ = shift;
            return i;
        }
    }
    return size;
}

size_t Cutter::scan(const char* data, size_t size, uint64_t base, bool atEnd, Sink& sink,
                    bool drained)
{
    size_t pos = 0;
    while (pos < size) {
        const size_t left = size - pos;
        if (left < kStartBytes) {
            if (!atEnd) return pos;
            // Too short to hold a record start: the end of a damaged stretch, or the first bytes
            // of a record whose header was cut.
            if (!inDamage_ && left >= 2 && data[pos] == '\r' && data[pos + 1] == '\n') {
                ++problems_;
                sink.truncated(base + pos, left, 0);
            } else {
                if (!inDamage_) {
                    inDamage_ = true;
                    damageFrom_ = base + pos;
                }
                endDamage(base + size, sink);
            }
            return size;
        }
        // The start of the record after a whole one was read when that one was checked.
        const size_t length = base + pos == checkedAt_ ? checkedLength_
                                                       : recordAt(data + pos, left, base + pos + shift_);
        if (length == 0) {
            // A stretch of damage continued from the previous call starts at a candidate that
            // could not be judged then.
            const size_t from = inDamage_ ? pos : pos + 1;
            if (!inDamage_) {
                inDamage_ = true;
                damageFrom_ = base + pos;
            }
            size_t undecided = size;
            const size_t next = resync(data, from, size, base, atEnd, &undecided);
            if (next == size) {
                if (atEnd) {
                    endDamage(base + size, sink);
                    return size;
                }
                // Keep what cannot be judged yet: a candidate start, or a tail too short for one.
                const size_t keep = std::min(undecided, size - kStartBytes + 1);
                return std::max(keep, pos);
            }
            endDamage(base + next, sink);
            pos = next;
            continue;
        }
        endDamage(base + pos, sink);
        const size_t end = pos + length;
        if (end > size) {
            if (!atEnd) return pos;
            // The file ends inside the record: either it was cut, or it was cut short and the
            // rest of the file is further records.
            const size_t next = findStart(data, pos + 2, size, size, base);
            ++problems_;
            if (next == size) {
                sink.truncated(base + pos, left, length);
                return size;
            }
            sink.damaged(base + pos, next - pos, true);
            pos = next;
            continue;
        }
        // Wait to see what follows, unless the record ends where the file ends for now.
        if (size - end < kStartBytes && !atEnd && !(drained && end == size)) return pos;
        if (end < size) {
            checkedAt_ = ~0ull;
            if (size - end >= kStartBytes) {
                checkedLength_ = recordAt(data + end, size - end, base + end + shift_);
                if (checkedLength_) checkedAt_ = base + end;
            }
            if (size - end >= kStartBytes && !checkedLength_) {
                // Something other than a record follows: a record that starts inside this one
                // means this one was cut short.
                const size_t next = findStart(data, pos + 2, end, size, base);
                if (next < end) {
                    ++problems_;
                    sink.damaged(base + pos, next - pos, true);
                    pos = next;
                    continue;
                }
            }
        }
        ++records_;
        sink.record(base + pos, data + pos, length);
        pos = end;
    }
    return pos;
}

namespace {

// The first carriage return in [p, end), or end. Four bytes at a time: the header lines are
// read for every record, and a library search costs more to call on lines this short.
const char* findCR(const char* p, const char* end)
{
    while (p != end && ((uintptr_t)p & 3) != 0) {
        if (*p == '\r') return p;
        ++p;
    }
    while (end - p >= 4) {
        uint32_t w;
        memcpy(&w, p, 4);
        w ^= 0x0D0D0D0Du;
        if ((w - 0x01010101u) & ~w & 0x80808080u) break;
        p += 4;
    }
    while (p != end && *p != '\r') ++p;
    return p;
}

// Splits off the next line (without its "\r\n"); false at the end of the text. The header
// lines hold no carriage return of their own.
bool nextLine(std::string_view& rest, std::string_view* line, size_t skip = 0)
{
    if (rest.empty()) return false;
    const char* const stop = rest.data() + rest.size();
    const char* from = rest.data() + std::min(skip, rest.size());
    const char* cr = findCR(from, stop);
    if (cr == stop) {
        *line = rest;
        rest = std::string_view();
        return true;
    }
    const size_t eol = (size_t)(cr - rest.data());
    *line = rest.substr(0, eol);
    rest.remove_prefix(eol + 1 < rest.size() && cr[1] == '\n' ? eol + 2 : eol + 1);
    return true;
}

bool startsWith(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (s[i] != prefix[i]) return false;
    return true;
}

bool decimal(std::string_view s, uint64_t* value)
{
    if (s.empty() || s.size() > 19) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (!digit(c)) return false;
        v = v * 10 + (uint64_t)(c - '0');
    }
    *value = v;
    return true;
}

// "ECF=0x%X ..." -> the code.
bool ecfCode(std::string_view s, uint32_t* code)
{
    if (!startsWith(s, "ECF=0x")) return false;
    s.remove_prefix(6);
    uint32_t v = 0;
    size_t n = 0;
    for (; n < s.size() && n < 8; ++n) {
        const char c = s[n];
        uint32_t d;
        if (digit(c)) d = (uint32_t)(c - '0');
        else if (c >= 'A' && c <= 'F') d = (uint32_t)(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') d = (uint32_t)(c - 'a' + 10);
        else break;
        v = v << 4 | d;
    }
    if (n == 0 || (n < s.size() && s[n] != ' ')) return false;
    *code = v;
    return true;
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

bool parseHeader(const char* text, size_t length, Header* out, bool full)
{
    std::string_view rest(text, length);
    if (!startsWith(rest, "\r\n")) return false;
    rest.remove_prefix(2);
    std::string_view line;

    // "<time stamp><offset> ... LEVEL: <name>[ (OS)]"; the level name starts at byte 57.
    if (!nextLine(rest, &line, 57) || line.size() < 49 + 8) return false;
    out->time = line.substr(0, 26);
    out->utcOffset = trimRight(line.substr(26, 4));
    std::string_view level = line.substr(49);
    if (!startsWith(level, " LEVEL: ")) return false;
    level.remove_prefix(8);
    out->os = level.size() >= 5 && level.substr(level.size() - 5) == " (OS)";
    if (out->os) level.remove_suffix(5);
    out->level = level;

    // "PID     : %-21luTID : %I64u"
    if (!nextLine(rest, &line, 37) || !startsWith(line, "PID     : ")) return false;
    line.remove_prefix(10);
    // The pid is printed in a field of 21 characters; a longer one pushes the TID text on.
    const size_t tidAt =
        line.size() > 27 && startsWith(line.substr(21), "TID : ") ? 21 : line.find("TID : ");
    if (tidAt == std::string_view::npos) return false;
    if (!decimal(trimRight(line.substr(0, tidAt)), &out->pid)) return false;
    if (!decimal(line.substr(tidAt + 6), &out->tid)) return false;

    // "FUNCTION: product, component, function, probe:%u"
    if (!nextLine(rest, &line) || !startsWith(line, "FUNCTION: ")) return false;
    line.remove_prefix(10);
    size_t probeAt = line.size();
    while (probeAt > 0 && digit(line[probeAt - 1])) --probeAt;
    if (probeAt < 8 || !startsWith(line.substr(probeAt - 8), ", probe:")) return false;
    probeAt -= 8;
    uint64_t probe = 0;
    if (!decimal(line.substr(probeAt + 8), &probe) || probe > 0xFFFFFFFFu) return false;
    out->probe = (uint32_t)probe;
    std::string_view names = line.substr(0, probeAt);
    const size_t c1 = names.find(',');
    if (c1 == std::string_view::npos || c1 + 1 >= names.size() || names[c1 + 1] != ' ') return false;
    const size_t c2 = names.find(',', c1 + 2);
    if (c2 == std::string_view::npos || c2 + 1 >= names.size() || names[c2 + 1] != ' ') return false;
    out->product = names.substr(0, c1);
    out->component = names.substr(c1 + 2, c2 - c1 - 2);
    out->function = names.substr(c2 + 2);

    out->hasMessage = out->hasRetcode = false;
    out->message = out->retcode = 0;
    out->called = out->oserr = std::string_view();
    if (startsWith(rest, "MESSAGE : ")) {
        out->hasMessage = ecfCode(rest.substr(10), &out->message);
        if (!full) return true;
        nextLine(rest, &line);
    }
    if (nextLine(rest, &line) && startsWith(line, "CALLED  : ")) {
        line.remove_prefix(10);
        const size_t oserr = line.find(" OSERR: ");
        if (oserr != std::string_view::npos) {
            out->called = trimRight(line.substr(0, oserr));
            out->oserr = line.substr(oserr + 8);
        } else {
            out->called = line;
            if (nextLine(rest, &line) && startsWith(line, "RETCODE : "))
                out->hasRetcode = ecfCode(line.substr(10), &out->retcode);
        }
    }
    return true;
}

unsigned levelNumber(std::string_view name)
{
    if (name == "Severe") return 1;
    if (name == "Error") return 3;
    if (name == "Warning") return 4;
    if (name == "Info") return 5;
    if (name == "Event") return 6;
    return 0;
}

}  // namespace logscan
