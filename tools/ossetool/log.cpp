// ossetool log: the users' view of the diagnostic log file that the library's processes share.
// The file is read in one pass through a buffer of a fixed size and cut into records by their
// locators (logscan); records are printed whole or one line each, filtered, or counted.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "osse/ecf.h"
#include "logargs.h"
#include "logscan.h"
#include "verbs.h"

namespace {

const char kHelp[] =
    "usage: ossetool log FILE [--summary | --stats] [--follow] [FILTERS]\n"
    "\n"
    "Reads a diagnostic log file written by the library (by any number of processes) and\n"
    "cuts it into records by the locator in each record's header line.\n"
    "\n"
    "  (default)          print each record whole, as it is in the file\n"
    "  --summary, -s      one line per record: time, pid, tid, level, function, code, probe\n"
    "  --stats            count the records per level, function and code\n"
    "  --follow, -f       after the end of the file, wait for and print the records that\n"
    "                     other processes append (stop with Ctrl-C)\n"
    "\n"
    "filters (all given must match):\n"
    "  --level L[,L...]   level name (Severe, Error, Warning, Info, Event) or number 1-6\n"
    "  --pid N, --tid N   process or thread identifier\n"
    "  --function NAME    function name as printed (OSSHFile::open)\n"
    "  --component NAME   component name as printed (OSSe)\n"
    "  --code CODE        return code of the MESSAGE or RETCODE line: 0x9000001A, decimal,\n"
    "                     or a name (ECF_FILE_DOESNT_EXIST)\n"
    "  --since T, --until T\n"
    "                     local time of the record, in the log's form\n"
    "                     YYYY-MM-DD-hh.mm.ss.uuuuuu or any leading part of it (2026-12-10-13)\n"
    "\n"
    "A damaged or truncated record is reported on stderr with its byte offset and skipped.\n"
    "Exit status: 0 every record read; 3 some were damaged or truncated; 1 the file cannot be\n"
    "read or is not a diagnostic log; 2 wrong arguments.\n";

constexpr size_t kChunk = 1u << 20;
constexpr size_t kBufferSize = kChunk + logscan::kMaxRecord + logscan::kStartBytes;

int usage(const char* why, const char* what = "")
{
    fprintf(stderr, "ossetool log: %s%s (try ossetool log --help)\n", why, what);
    return 2;
}

std::string view(std::string_view s)
{
    return std::string(s.data(), s.size());
}

const char* codeName(Uint32 code)
{
    const char* name = code ? ecfErrorGetCodeName(code) : "OK";
    return name && *name ? name : nullptr;
}

class Printer final : public logscan::Sink {
public:
    explicit Printer(const LogOptions& o) : o_(o)
    {
        selects_ = o.levels || o.hasPid || o.hasTid || o.function || o.component || o.hasCode ||
                   !o.since.empty() || !o.until.empty();
        filtered_ = selects_ || o.mode != LogMode::Whole;
    }

    void record(uint64_t offset, const char* text, size_t length) override
    {
        flushDamage();
        ++records_;
        if (!filtered_ && o_.mode == LogMode::Whole) {
            fwrite(text, 1, length, stdout);
            return;
        }
        logscan::Header h;
        if (!logscan::parseHeader(text, length, &h, o_.hasCode)) {
            ++problems_;
            fprintf(stderr, "ossetool log: record at offset %llu has malformed header lines, skipped\n",
                    (unsigned long long)offset);
            return;
        }
        if (!passes(h)) return;
        ++shown_;
        switch (o_.mode) {
        case LogMode::Whole: fwrite(text, 1, length, stdout); break;
        case LogMode::Summary: summary(h); break;
        case LogMode::Stats: count(h); break;
        }
    }

    void damaged(uint64_t offset, uint64_t length, bool cutShort) override
    {
        ++problems_;
        char line[200];
        if (cutShort)
            snprintf(line, sizeof line,
                     "ossetool log: record at offset %llu cut short by the record at offset %llu, skipped\n",
                     (unsigned long long)offset, (unsigned long long)(offset + length));
        else
            snprintf(line, sizeof line,
                     "ossetool log: %llu bytes at offset %llu are not a record, skipped\n",
                     (unsigned long long)length, (unsigned long long)offset);
        report(line);
    }

    void truncated(uint64_t offset, uint64_t have, uint64_t want) override
    {
        ++problems_;
        char line[200];
        if (want)
            snprintf(line, sizeof line,
                     "ossetool log: record at offset %llu truncated: the file ends after %llu of its %llu bytes, skipped\n",
                     (unsigned long long)offset, (unsigned long long)have, (unsigned long long)want);
        else
            snprintf(line, sizeof line,
                     "ossetool log: record at offset %llu truncated: the file ends after %llu bytes, within its header, skipped\n",
                     (unsigned long long)offset, (unsigned long long)have);
        report(line);
    }

    // Until a first record is found, problems are held back: a file without any record is
    // reported as not being a log at all.
    void flushDamage()
    {
        for (const std::string& s : held_) fputs(s.c_str(), stderr);
        held_.clear();
        seenRecord_ = true;
    }

    void printStats(uint64_t bytes) const
    {
        printf("records: %llu (%llu bytes read", (unsigned long long)records_, (unsigned long long)bytes);
        if (problems_) printf(", %llu damaged or truncated skipped", (unsigned long long)problems_);
        printf(")\r\n");
        if (selects_) printf("selected by the filters: %llu\r\n", (unsigned long long)shown_);
        printf("\r\nby level:\r\n");
        static const char* const kNames[] = {"Unknown", "Severe", "", "Error", "Warning", "Info", "Event"};
        for (unsigned n : {1u, 3u, 4u, 5u, 6u, 0u})
            if (levels_[n]) printf("  %-10s %10llu\r\n", kNames[n], (unsigned long long)levels_[n]);
        printf("\r\nby function:\r\n");
        for (const auto& e : sorted(functions_))
            printf("  %-40s %10llu\r\n", e.first.c_str(), (unsigned long long)e.second);
        printf("\r\nby code:\r\n");
        std::vector<std::pair<std::string, uint64_t>> codes;
        for (const auto& e : codes_) {
            char key[160];
            if (e.first == kNoCode) {
                snprintf(key, sizeof key, "(none)");
            } else {
                const char* name = codeName((Uint32)e.first);
                snprintf(key, sizeof key, "0x%08X %s", (Uint32)e.first, name ? name : "");
            }
            codes.emplace_back(key, e.second);
        }
        std::sort(codes.begin(), codes.end(), byCount);
        for (const auto& e : codes)
            printf("  %-40s %10llu\r\n", e.first.c_str(), (unsigned long long)e.second);
    }

    uint64_t records() const { return records_; }
    uint64_t problems() const { return problems_; }
    bool anyHeld() const { return !held_.empty(); }

private:
    static constexpr uint64_t kNoCode = ~0ull;

    void report(const char* line)
    {
        if (seenRecord_)
            fputs(line, stderr);
        else
            held_.push_back(line);
    }

    static bool matchesCode(const LogOptions& o, Uint32 code)
    {
        if (o.codeName.empty()) return code == o.code;
        const char* name = codeName(code);
        return name && o.codeName == name;
    }

    bool passes(const logscan::Header& h) const
    {
        if (o_.levels && !(o_.levels & (1u << logscan::levelNumber(h.level)))) return false;
        if (o_.hasPid && h.pid != o_.pid) return false;
        if (o_.hasTid && h.tid != o_.tid) return false;
        if (o_.function && h.function != o_.function) return false;
        if (o_.component && h.component != o_.component) return false;
        if (o_.hasCode && !((h.hasMessage && matchesCode(o_, h.message)) ||
                            (h.hasRetcode && matchesCode(o_, h.retcode))))
            return false;
        if (!inLogTimeRange(h.time, o_)) return false;
        return true;
    }

    void summary(const logscan::Header& h)
    {
        char code[64];
        const bool has = h.hasMessage || h.hasRetcode;
        const Uint32 c = h.hasMessage ? h.message : h.retcode;
        const char* name = has ? codeName(c) : nullptr;
        if (!has)
            snprintf(code, sizeof code, "-");
        else if (name)
            snprintf(code, sizeof code, "%s", name);
        else
            snprintf(code, sizeof code, "0x%08X", c);
        const std::string level = view(h.level) + (h.os ? "(OS)" : "");
        printf("%.*s %6llu %6llu %-11s %-32.*s %-30s probe:%u\r\n", (int)h.time.size(), h.time.data(),
               (unsigned long long)h.pid, (unsigned long long)h.tid, level.c_str(),
               (int)h.function.size(), h.function.data(), code, h.probe);
    }

    void count(const logscan::Header& h)
    {
        ++levels_[logscan::levelNumber(h.level)];
        name_.assign(h.function.data(), h.function.size());
        ++functions_[name_];
        ++codes_[h.hasMessage ? h.message : h.hasRetcode ? h.retcode : kNoCode];
    }

    static bool byCount(const std::pair<std::string, uint64_t>& a,
                        const std::pair<std::string, uint64_t>& b)
    {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    }
    static std::vector<std::pair<std::string, uint64_t>> sorted(
        const std::unordered_map<std::string, uint64_t>& m)
    {
        std::vector<std::pair<std::string, uint64_t>> v(m.begin(), m.end());
        std::sort(v.begin(), v.end(), byCount);
        return v;
    }

    const LogOptions& o_;
    bool selects_;   // filters were given
    bool filtered_;  // each record's header is read
    bool seenRecord_ = false;
    std::vector<std::string> held_;
    uint64_t records_ = 0, problems_ = 0, shown_ = 0;
    uint64_t levels_[7] = {};
    std::string name_;
    std::unordered_map<std::string, uint64_t> functions_;
    std::unordered_map<uint64_t, uint64_t> codes_;
};

// Reads up to `size` bytes; a read of a range another process holds locked while it appends a
// record is retried once the lock is gone.
bool readSome(HANDLE file, char* into, DWORD size, DWORD* got)
{
    for (int tries = 0;; ++tries) {
        if (ReadFile(file, into, size, got, nullptr)) return true;
        const DWORD e = GetLastError();
        if (e != ERROR_LOCK_VIOLATION || tries > 6000) {
            *got = e;
            return false;
        }
        Sleep(5);
    }
}

class Progress {
public:
    Progress(HANDLE file, bool wanted)
    {
        LARGE_INTEGER size;
        on_ = wanted && _isatty(_fileno(stderr)) && GetFileSizeEx(file, &size);
        if (on_) total_ = (uint64_t)size.QuadPart;
        last_ = GetTickCount();
    }
    void at(uint64_t done)
    {
        if (!on_) return;
        const DWORD now = GetTickCount();
        if (now - last_ < 250) return;
        last_ = now;
        shown_ = true;
        fprintf(stderr, "\rossetool log: %llu of %llu MiB (%u%%)  ", (unsigned long long)(done >> 20),
                (unsigned long long)(total_ >> 20),
                total_ ? (unsigned)(done * 100 / total_) : 100u);
    }
    void done()
    {
        if (shown_) fprintf(stderr, "\r%60s\r", "");
    }

private:
    bool on_ = false, shown_ = false;
    uint64_t total_ = 0;
    DWORD last_ = 0;
};

}  // namespace

int verbLog(int argc, char** argv)
{
    if (argc == 1 && (!strcmp(argv[0], "--help") || !strcmp(argv[0], "-h"))) {
        fputs(kHelp, stdout);
        return 0;
    }
    LogOptions o;
    std::string error;
    if (parseLogArgs(argc, argv, &o, &error)) return usage(error.c_str());

    HANDLE file = CreateFileA(o.path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "ossetool log: cannot open %s (error %lu)\n", o.path, GetLastError());
        return 1;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    static char out[1 << 16];
    setvbuf(stdout, out, _IOFBF, sizeof out);

    std::vector<char> buffer(kBufferSize);
    Printer printer(o);
    logscan::Cutter cutter;
    Progress progress(file, !o.follow);
    size_t kept = 0;      // unconsumed bytes at the front of the buffer
    uint64_t base = 0;    // file offset of buffer[0]
    bool failed = false;
    for (;;) {
        DWORD got = 0;
        if (!readSome(file, buffer.data() + kept, (DWORD)std::min(kChunk, buffer.size() - kept), &got)) {
            fprintf(stderr, "ossetool log: cannot read %s (error %lu)\n", o.path, got);
            failed = true;
            break;
        }
        const bool atEnd = got == 0 && !o.follow;
        const size_t have = kept + got;
        const size_t used = cutter.scan(buffer.data(), have, base, atEnd, printer, got == 0);
        memmove(buffer.data(), buffer.data() + used, have - used);
        kept = have - used;
        base += used;
        progress.at(base);
        if (atEnd) break;
        if (got == 0) {
            fflush(stdout);
            Sleep(200);
        }
    }
    progress.done();
    CloseHandle(file);
    if (failed) return 1;
    if (printer.records() == 0 && printer.anyHeld()) {
        fprintf(stderr, "ossetool log: %s is not a diagnostic log (no record with a valid locator)\n", o.path);
        return 1;
    }
    printer.flushDamage();
    if (o.mode == LogMode::Stats) printer.printStats(base);
    fflush(stdout);
    return printer.problems() ? 3 : 0;
}
