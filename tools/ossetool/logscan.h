// Cutting a diagnostic log file into records, and reading a record's header lines. Plain C++
// over bytes (no Windows header), so that it also builds natively for sanitizers and fuzzing.
//
// Each record of a log file starts with "\r\n"; its header line carries, from byte 33 of the
// record, a locator "I<offset>H<length> " whose offset is the position of the header line in the
// file (the record's position + 2) and whose length runs from there to the record's end. A
// record start is trusted when its locator names its own position; after a damaged stretch, also
// a start whose locator names another position when the record after it agrees with that shift
// (bytes inserted into a log, or two logs joined into one file).
#ifndef OSSETOOL_LOGSCAN_H
#define OSSETOOL_LOGSCAN_H

#include <stddef.h>
#include <stdint.h>

#include <string_view>

namespace logscan {

// Bytes needed at a position to tell whether a record starts there.
constexpr size_t kStartBytes = 51;
// The writer builds every record in a 4096-byte buffer.
constexpr size_t kMaxRecord = 4096;

// The length (leading "\r\n" included) of the record starting at `p`, whose position in the
// file is `offset`; 0 when no record starts there. `avail` must be at least kStartBytes.
size_t recordAt(const char* p, size_t avail, uint64_t offset);

// What the cutter finds, in file order.
class Sink {
public:
    // A whole record: `text` holds `length` bytes from its leading "\r\n" on.
    virtual void record(uint64_t offset, const char* text, size_t length) = 0;
    // `length` bytes from `offset` that are not records, or a record cut short by the record
    // that follows it.
    virtual void damaged(uint64_t offset, uint64_t length, bool cutShort) = 0;
    // A record whose end lies beyond the end of the file: `have` of its `want` bytes.
    virtual void truncated(uint64_t offset, uint64_t have, uint64_t want) = 0;

protected:
    ~Sink() = default;
};

// Cuts a stream of bytes into records. The caller hands it the unconsumed bytes followed by
// newly read ones, always from the first unconsumed byte; scan() reports what it can decide and
// returns how many bytes it consumed. Fewer than kMaxRecord + kStartBytes bytes are ever left
// unconsumed, so a buffer of a fixed size serves a file of any size.
class Cutter {
public:
    // `data` holds `size` bytes from file offset `base`; `atEnd` when nothing follows them (the
    // end of the file, and no more is awaited); `drained` when they reach the current end of a
    // file that may still grow, so that a record ending there is reported now.
    size_t scan(const char* data, size_t size, uint64_t base, bool atEnd, Sink& sink,
                bool drained = false);

    uint64_t records() const { return records_; }
    uint64_t problems() const { return problems_; }

private:
    void endDamage(uint64_t at, Sink& sink);
    size_t findStart(const char* data, size_t from, size_t limit, size_t size, uint64_t base) const;
    size_t resync(const char* data, size_t from, size_t size, uint64_t base, bool atEnd,
                  size_t* undecided);

    uint64_t shift_ = 0;
    uint64_t checkedAt_ = ~0ull;  // a record start already checked, and its length
    size_t checkedLength_ = 0;  // what locators name minus the records' positions (bytes inserted)
    bool inDamage_ = false;
    uint64_t damageFrom_ = 0;
    uint64_t records_ = 0;
    uint64_t problems_ = 0;
};

// The fields of a record's header lines, as views into the record text.
struct Header {
    std::string_view time;       // "YYYY-MM-DD-hh.mm.ss.uuuuuu"
    std::string_view utcOffset;  // "+060"
    std::string_view level;      // "Severe", "Error", "Warning", "Info", "Event", "Unknown"
    bool os = false;             // " (OS)": an operating-system failure
    uint64_t pid = 0;
    uint64_t tid = 0;
    std::string_view product, component, function;
    uint32_t probe = 0;
    bool hasMessage = false;     // MESSAGE line: the record's code
    uint32_t message = 0;
    bool hasRetcode = false;     // RETCODE line: the called function's code
    uint32_t retcode = 0;
    std::string_view called;     // the CALLED line's names, "" when none
    std::string_view oserr;      // the OSERR text, "" when none
};

// Reads the header lines of a record (leading "\r\n" included); false when they are malformed.
// Unless `full`, the lines after a MESSAGE line are not read (no called function, OSERR text or
// RETCODE): the record's own code is enough for most uses, and the reading is then shorter.
bool parseHeader(const char* text, size_t length, Header* out, bool full = true);

// The level number of a level name (Error gives 3), 0 for a name that is none.
unsigned levelNumber(std::string_view name);

}  // namespace logscan

#endif
