// The arguments of `ossetool log`: its mode, its filters and the time range, read from the
// command line into LogOptions. Plain C++ (no Windows header), so that it also builds natively
// for sanitizers and fuzzing.
#ifndef OSSETOOL_LOGARGS_H
#define OSSETOOL_LOGARGS_H

#include <string>
#include <string_view>

#include "osse/base.h"

enum class LogMode { Whole, Summary, Stats };

struct LogOptions {
    const char* path = nullptr;
    LogMode mode = LogMode::Whole;
    bool follow = false;
    unsigned levels = 0;  // bit n: level n selected; 0: every level
    bool hasPid = false, hasTid = false;
    unsigned long long pid = 0, tid = 0;
    const char* function = nullptr;
    const char* component = nullptr;
    bool hasCode = false;
    Uint32 code = 0;
    std::string codeName;  // when the code was given by name
    std::string since, until;
};

// Reads the arguments after the verb. Returns 0, or 2 with what is wrong in *error (the
// options read so far stay in *o). Pointers in *o point into argv.
int parseLogArgs(int argc, char** argv, LogOptions* o, std::string* error);

// A number in decimal or, with 0x, hexadecimal; the whole text must be used.
bool parseLogNumber(const char* text, unsigned long long* value);
// A comma-separated list of level names or numbers 1-6, added to *levels as bits.
bool parseLogLevels(const char* text, unsigned* levels);
// A time given as a leading part of YYYY-MM-DD-hh.mm.ss.uuuuuu.
bool validLogTime(const std::string& t);
// Whether a record's time (YYYY-MM-DD-hh.mm.ss.uuuuuu) lies in the range of --since and
// --until, each compared on the leading part given: --until 2026-12-10-13 takes the whole hour.
bool inLogTimeRange(std::string_view time, const LogOptions& o);

#endif
