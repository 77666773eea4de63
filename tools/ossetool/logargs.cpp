// Reading the arguments of `ossetool log` (see logargs.h).
#include "logargs.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "logscan.h"

bool parseLogNumber(const char* text, unsigned long long* value)
{
    const char* digits = text;
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        digits = text + 2;
        base = 16;
    }
    // strtoull takes leading blanks and a sign itself: the text must be digits alone.
    if (!*digits || *digits == '-' || *digits == '+' || isspace((unsigned char)*digits)) return false;
    errno = 0;
    char* end = nullptr;
    *value = strtoull(digits, &end, base);
    return errno == 0 && *end == '\0';
}

bool parseLogLevels(const char* text, unsigned* levels)
{
    std::string all(text);
    size_t at = 0;
    while (at <= all.size()) {
        size_t comma = all.find(',', at);
        if (comma == std::string::npos) comma = all.size();
        const std::string one = all.substr(at, comma - at);
        unsigned n = 0;
        if (one.size() == 1 && one[0] >= '1' && one[0] <= '6') {
            n = (unsigned)(one[0] - '0');
            if (n == 2) n = 3;  // level 2 is written as level 3
        } else {
            std::string name = one;
            if (!name.empty()) {
                std::transform(name.begin(), name.end(), name.begin(),
                               [](char c) { return (char)tolower((unsigned char)c); });
                name[0] = (char)toupper((unsigned char)name[0]);
            }
            n = logscan::levelNumber(name);
        }
        if (n == 0) return false;
        *levels |= 1u << n;
        at = comma + 1;
    }
    return true;
}

bool validLogTime(const std::string& t)
{
    static const char kForm[] = "dddd-dd-dd-dd.dd.dd.dddddd";
    if (t.empty() || t.size() > sizeof kForm - 1) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        const bool wantDigit = kForm[i] == 'd';
        if (wantDigit ? !isdigit((unsigned char)t[i]) : t[i] != kForm[i]) return false;
    }
    return true;
}

bool inLogTimeRange(std::string_view time, const LogOptions& o)
{
    if (!o.since.empty() && time.substr(0, o.since.size()) < o.since) return false;
    if (!o.until.empty() && time.substr(0, o.until.size()) > o.until) return false;
    return true;
}

int parseLogArgs(int argc, char** argv, LogOptions* o, std::string* error)
{
    auto usage = [error](const char* why, const char* what = "") {
        *error = std::string(why) + what;
        return 2;
    };
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        if (!strcmp(a, "--summary") || !strcmp(a, "-s")) {
            o->mode = LogMode::Summary;
        } else if (!strcmp(a, "--stats")) {
            o->mode = LogMode::Stats;
        } else if (!strcmp(a, "--follow") || !strcmp(a, "-f")) {
            o->follow = true;
        } else if (!strcmp(a, "--level")) {
            if (!value(&v) || !parseLogLevels(v, &o->levels)) return usage("bad level: ", v ? v : "");
        } else if (!strcmp(a, "--pid")) {
            if (!value(&v) || !parseLogNumber(v, &o->pid)) return usage("bad pid: ", v ? v : "");
            o->hasPid = true;
        } else if (!strcmp(a, "--tid")) {
            if (!value(&v) || !parseLogNumber(v, &o->tid)) return usage("bad tid: ", v ? v : "");
            o->hasTid = true;
        } else if (!strcmp(a, "--function")) {
            if (!value(&o->function)) return usage("--function needs a name");
        } else if (!strcmp(a, "--component")) {
            if (!value(&o->component)) return usage("--component needs a name");
        } else if (!strcmp(a, "--code")) {
            if (!value(&v)) return usage("--code needs a code");
            unsigned long long c = 0;
            if (parseLogNumber(v, &c)) {
                if (c > 0xFFFFFFFFull) return usage("bad code: ", v);
                o->code = (Uint32)c;
            } else {
                o->codeName = v;
            }
            o->hasCode = true;
        } else if (!strcmp(a, "--since") || !strcmp(a, "--until")) {
            if (!value(&v) || !validLogTime(v))
                return usage("bad time (YYYY-MM-DD-hh.mm.ss.uuuuuu or a leading part): ", v ? v : "");
            (a[2] == 's' ? o->since : o->until) = v;
        } else if (a[0] == '-' && a[1] != '\0') {
            return usage("unknown option ", a);
        } else if (!o->path) {
            o->path = a;
        } else {
            return usage("more than one file: ", a);
        }
    }
    if (!o->path) return usage("no log file given");
    if (o->follow && o->mode == LogMode::Stats) return usage("--stats does not follow");
    return 0;
}
