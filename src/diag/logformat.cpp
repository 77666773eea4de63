// The text of a diagnostic-log record: header, message and called-function lines, data items.
// Every piece is written with a bound, so a record never outgrows its 4096-byte buffer. When and
// where the record is written comes from the caller (logtext.cpp asks the system).
#include "diag/logtext.h"

#include <string.h>
#include <time.h>

#include "base/crtformat.h"
#include "osse/ecf.h"
#include "osse/error.h"

namespace ossdiag {

namespace {

// The header and the message lines end by this many bytes; the items may fill the rest.
constexpr size_t kHeaderEnd = 4093;
constexpr Uint32 kItemShownMax = 512;
constexpr Uint32 kStringMax = 511;
constexpr size_t kDumpLineBudget = 61;  // bytes a dump line is allowed when fitting a dump
constexpr int kMaxNesting = 8;

class Text {
public:
    explicit Text(char* buffer) : buf_(buffer) {}

    void setEnd(size_t end) { end_ = end; }
    // Bytes left, the terminator's included.
    size_t space() const { return end_ > pos_ ? end_ - pos_ : 0; }
    bool full() const { return space() <= 1; }
    size_t length() const { return pos_; }
    size_t column(size_t lineStart) const { return pos_ - lineStart; }

    void add(const char* format, ...) OSSE_CRT_PRINTF(2, 3)
    {
        if (full()) return;
        va_list args;
        va_start(args, format);
        const size_t room = space();
        int n = osse_crt::vformat(buf_ + pos_, room, format, args);
        va_end(args);
        if (n < 0 || (size_t)n >= room) {
            pos_ = end_ - 1;
            buf_[pos_] = '\0';
        } else {
            pos_ += (size_t)n;
        }
    }
    void addChars(const char* s, size_t n)
    {
        if (full()) return;
        if (n > space() - 1) n = space() - 1;
        memcpy(buf_ + pos_, s, n);
        pos_ += n;
        buf_[pos_] = '\0';
    }

private:
    char* buf_;
    size_t pos_ = 0;
    size_t end_ = OSS_LOG_RECORD_MAX;
};

const char* orEmpty(const char* s)
{
    return s ? s : "";
}

const char* levelName(Uint32 level)
{
    switch (level) {
    case 1: return "Severe";
    case 2: case 3: return "Error";
    case 4: return "Warning";
    case 5: return "Info";
    case 6: return "Event";
    default: return "Unknown";
    }
}

// ---- Items -------------------------------------------------------------------------------------

inline Uint32 shownSize(Sint32 size)
{
    if (size <= 0) return 0;
    return (Uint32)size > kItemShownMax ? kItemShownMax : (Uint32)size;
}

template <class T>
inline T readValue(const void* p)
{
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

void addDumpLine(Text& t, const Uint8* bytes, size_t n)
{
    static const char kHex[] = "0123456789ABCDEF";
    char line[72];
    size_t k = 0;
    for (size_t i = 0; i < 16; ++i) {
        if (i < n) {
            line[k++] = kHex[bytes[i] >> 4];
            line[k++] = kHex[bytes[i] & 0xF];
        } else {
            line[k++] = ' ';
            line[k++] = ' ';
        }
        if ((i & 3) == 3) {
            line[k++] = ' ';
            line[k++] = ' ';
        }
    }
    line[k++] = ' ';
    line[k++] = ' ';
    for (size_t i = 0; i < n; ++i) line[k++] = (bytes[i] >= 0x20 && bytes[i] <= 0x7E) ? (char)bytes[i] : '.';
    line[k++] = '\r';
    line[k++] = '\n';
    t.addChars(line, k);
}

// How many of `shown` bytes to dump when `avail` bytes are left for the dump lines.
Uint32 fittingBytes(Uint32 shown, size_t avail)
{
    const size_t lines = (shown + 15) / 16;
    if (lines * kDumpLineBudget + 1 <= avail) return shown;
    const size_t fit = avail >= 1 ? (avail - 1) / kDumpLineBudget * 16 : 0;
    return fit < shown ? (Uint32)fit : shown;
}

void addDump(Text& t, const OSSLogItem& item)
{
    const Uint32 full = item.size > 0 ? (Uint32)item.size : 0;
    const Uint32 shown = shownSize(item.size);
    char head[40], tail[20];
    const int headLen = osse_crt::format(head, sizeof head, "<hexdump>, %u bytes", shown);
    const int tailLen = osse_crt::format(tail, sizeof tail, "of %u", full);
    // The lines get what the header line leaves; a header that grows by "of" leaves less.
    auto avail = [&t](size_t headerLine) {
        return t.space() > headerLine ? t.space() - headerLine : 0;
    };
    Uint32 m = fittingBytes(shown, avail(headLen + 2));
    if (m != full) m = fittingBytes(shown, avail(headLen + tailLen + 2));

    t.addChars(head, headLen);
    if (m != full) t.addChars(tail, tailLen);
    t.addChars("\r\n", 2);
    const Uint8* bytes = static_cast<const Uint8*>(item.p);
    for (Uint32 at = 0; at < m; at += 16) {
        const size_t n = m - at < 16 ? m - at : 16;
        if (t.space() <= (size_t)(44 + n)) break;  // whole lines only
        addDumpLine(t, bytes + at, n);
    }
}

void addString(Text& t, const OSSLogItem& item)
{
    t.add("String, %u bytes\r\n", shownSize(item.size));
    const char* s = static_cast<const char*>(item.p);
    t.addChars(s, strnlen(s, kStringMax));
    if (t.space() >= 3) t.addChars("\r\n", 2);
}

// The value text of an item that is not a nested list; the dump for anything without a form.
void addValue(Text& t, const OSSLogItem& item)
{
    if (!item.p) {
        t.addChars("\r\nNULL\r\n", 8);
        return;
    }
    const Uint32 shown = shownSize(item.size);
    const void* p = item.p;
    switch (item.type) {
    case OSS_ITEM_HEX:
        switch (item.size) {
        case 1:
            t.add("Hex, %u bytes\r\n0x%hX\r\n", shown, (unsigned short)readValue<Uint8>(p));
            return;
        case 2:
            t.add("Hex, %u bytes\r\n0x%hX\r\n", shown, (unsigned short)readValue<Uint16>(p));
            return;
        case 4: t.add("Hex, %u bytes\r\n0x%X\r\n", shown, readValue<Uint32>(p)); return;
        case 8: t.add("Hex, %u bytes\r\n0x%" OSSE_PRI64 "X\r\n", shown,
                        (unsigned long long)readValue<Uint64>(p)); return;
        }
        break;
    case OSS_ITEM_SIGNED:
        switch (item.size) {
        case 1: t.add("Sint8, %u bytes\r\n%hd\r\n", shown, (short)readValue<Sint8>(p)); return;
        case 2: t.add("Sint16, %u bytes\r\n%hd\r\n", shown, (short)readValue<Sint16>(p)); return;
        case 4: t.add("Sint32, %u bytes\r\n%d\r\n", shown, readValue<Sint32>(p)); return;
        case 8: t.add("Sint64, %u bytes\r\n%" OSSE_PRI64 "d\r\n", shown,
                        (long long)readValue<Sint64>(p)); return;
        }
        break;
    case OSS_ITEM_UNSIGNED:
        switch (item.size) {
        case 1:
            t.add("Uint8, %u bytes\r\n%hu\r\n", shown, (unsigned short)readValue<Uint8>(p));
            return;
        case 2:
            t.add("Uint16, %u bytes\r\n%hu\r\n", shown, (unsigned short)readValue<Uint16>(p));
            return;
        case 4: t.add("Uint32, %u bytes\r\n%u\r\n", shown, readValue<Uint32>(p)); return;
        case 8: t.add("Uint64, %u bytes\r\n%" OSSE_PRI64 "u\r\n", shown,
                        (unsigned long long)readValue<Uint64>(p)); return;
        }
        break;
    case OSS_ITEM_CHAR:
        t.add("Char, %u bytes\r\n%c\r\n", shown, (int)readValue<char>(p));
        return;
    case OSS_ITEM_STRING:
        addString(t, item);
        return;
    case OSS_ITEM_BOOL:
        if (item.size == 1 || item.size == 2 || item.size == 4 || item.size == 8) {
            bool value = false;
            for (Sint32 i = 0; i < item.size; ++i) value |= static_cast<const Uint8*>(p)[i] != 0;
            t.add("Bool, %u bytes\r\n%s\r\n", shown, value ? "true" : "false");
            return;
        }
        break;
    }
    addDump(t, item);
}

void addMaskList(Text& t, va_list* items, Uint32 mask, int depth);

// Items read in order and labelled "DATA #n"; nested lists are expanded in place.
void addCountList(Text& t, va_list* items, Sint32 count, Uint32& number, int depth)
{
    for (Sint32 i = 1; i <= count && !t.full(); ++i) {
        const OSSLogItem item = va_arg(*items, OSSLogItem);
        if (item.type == OSS_ITEM_NESTED && item.p) {
            if (depth >= kMaxNesting) continue;
            va_list* inner = static_cast<va_list*>(const_cast<void*>(item.p));
            if (item.size >= 0) {
                addCountList(t, inner, item.size, number, depth + 1);
            } else {
                addMaskList(t, inner, (Uint32)item.size, depth + 1);
                number = (Uint32)i;  // the next item is numbered by its position minus 1
            }
            continue;
        }
        t.add("DATA #%-2u: ", number++);
        addValue(t, item);
    }
}

// Arguments selected by the mask (bit i-1 for argument i, i up to 31), labelled "ARG  #i".
void addMaskList(Text& t, va_list* items, Uint32 mask, int depth)
{
    for (Uint32 position = 1; position <= 31 && !t.full(); ++position) {
        if (!(mask & (1u << (position - 1)))) continue;
        const OSSLogItem item = va_arg(*items, OSSLogItem);
        if (item.type == OSS_ITEM_NESTED && item.p) {
            if (depth >= kMaxNesting) continue;
            va_list* inner = static_cast<va_list*>(const_cast<void*>(item.p));
            if (item.size >= 0) {
                Uint32 number = 1;
                addCountList(t, inner, item.size, number, depth + 1);
            } else {
                addMaskList(t, inner, (Uint32)item.size, depth + 1);
            }
            continue;
        }
        t.add("ARG  #%-2u: ", position);
        addValue(t, item);
    }
}

}  // namespace

// The calendar day of the two times settles the sign across midnight, so that zones 12 hours or
// more from UTC (+13:00, +14:00, -12:00) get their true offset.
Sint32 utcOffsetMinutes(const struct tm& local, const struct tm& utc)
{
    int days = 0;
    if (local.tm_year != utc.tm_year)
        days = local.tm_year > utc.tm_year ? 1 : -1;
    else if (local.tm_yday != utc.tm_yday)
        days = local.tm_yday > utc.tm_yday ? 1 : -1;
    const int d = days * 86400 + (local.tm_hour - utc.tm_hour) * 3600 +
                  (local.tm_min - utc.tm_min) * 60 + (local.tm_sec - utc.tm_sec);
    return d / 60;
}

Uint32 formatRecordText(const LogRequest& req, const RecordStamp& when, char* record)
{
    memset(record, 0, OSS_LOG_RECORD_MAX);
    Text t(record);
    t.setEnd(kHeaderEnd + 1);

    char stamp[40], offset[5];
    osse_crt::format(stamp, sizeof stamp, "%04d-%02d-%02d-%02d.%02d.%02d.%06d", (int)when.year,
                     (int)when.month, (int)when.day, (int)when.hour, (int)when.minute,
                     (int)when.second, (int)when.millisecond * 1000);
    stamp[sizeof stamp - 1] = '\0';
    // "%+.3d" in at most 4 characters.
    const int n = osse_crt::format(offset, sizeof offset, "%+.3d", (int)when.utcOffsetMinutes);
    if (n < 0 || (size_t)n >= sizeof offset) offset[sizeof offset - 1] = '\0';

    t.addChars("\r\n", 2);
    t.add("%s%-23s LEVEL: %s%s\r\nPID     : %-21luTID : %" OSSE_PRI64 "u\r\n"
          "FUNCTION: %.40s, %.40s, %.40s, probe:%u\r\n",
          stamp, offset, levelName(req.level), (req.flags & OSS_LOG_FLAG_OSERR) ? " (OS)" : "",
          (unsigned long)when.pid, (unsigned long long)when.tid,
          orEmpty(ecfGetProductName(req.functionId)), orEmpty(ecfGetComponentName(req.functionId)),
          orEmpty(ecfGetFunctionName(req.functionId)), req.probe);

    if (req.messageCode != 0)
        t.add("MESSAGE : ECF=0x%X %.128s\r\n", req.messageCode,
              orEmpty(ecfErrorGetDescription(req.messageCode)));

    if (req.calledId != 0) {
        const Uint32 product = req.calledId >> 27;
        const Uint32 component = (req.calledId >> 19) & 0xFF;
        const bool osCall = product == 1 && component == 2;
        const char* productText = osCall ? "OS" : orEmpty(ecfGetProductName(req.calledId));
        const char* componentText = osCall ? "-" : orEmpty(ecfGetComponentName(req.calledId));
        const char* functionText = orEmpty(ecfGetFunctionName(req.calledId));
        if (!(req.flags & OSS_LOG_FLAG_OSERR)) {
            t.add("CALLED  : %.40s, %.40s, %.40s\r\nRETCODE : ECF=0x%X %.128s\r\n", productText,
                  componentText, functionText, req.code, orEmpty(ecfErrorGetDescription(req.code)));
        } else {
            const size_t lineStart = t.length();
            t.add("CALLED  : %.40s, %.40s, %.40s", productText, componentText, functionText);
            const size_t n = t.column(lineStart);
            const int pad = n < 50 ? (int)(50 - n) : 0;
            if (const char* name = ossErrorNameMapSystem(req.calledId, req.code))
                t.add("%*s%s%s (%d)\r\n", pad, " ", "OSERR: ", name, (int)req.code);
            else
                t.add("%*s%s%d\r\n", pad, " ", "OSERR: ", (int)req.code);
        }
    }

    t.setEnd(OSS_LOG_RECORD_MAX);
    if (req.count != 0) {
        if (req.flags & OSS_LOG_FLAG_MASK) {
            addMaskList(t, req.items, (Uint32)req.count, 0);
        } else {
            Uint32 number = 1;
            addCountList(t, req.items, req.count, number, 0);
        }
    }
    return (Uint32)t.length();
}

}  // namespace ossdiag
