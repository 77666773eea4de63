// Fuzz target: the argument parsing of ossetool for ecf values and for the log's filters and
// time ranges. The input is a list of arguments separated by zero bytes; the first byte chooses
// the verb. A parsed ecf value must print back to a text that parses to the same value, and a
// parsed time range must take the records' times at its own ends.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "ecfvalue.h"
#include "logargs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const bool ecf = data[0] & 1;
    std::vector<std::string> args;
    std::string one;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(one);
            one.clear();
        } else {
            one += static_cast<char>(data[i]);
        }
    }
    args.push_back(one);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);

    if (ecf) {
        for (char* a : argv) {
            Uint32 v = 0;
            if (!parseEcfValue(a, &v)) continue;
            char text[16];
            snprintf(text, sizeof text, "0x%08X", (unsigned)v);
            Uint32 back = 0;
            if (!parseEcfValue(text, &back) || back != v) abort();
        }
        return 0;
    }
    LogOptions o;
    std::string error;
    if (parseLogArgs(static_cast<int>(argv.size()), argv.data(), &o, &error) != 0) {
        if (error.empty()) abort();  // a refusal always says why
        return 0;
    }
    if (!o.path) abort();
    if (!o.since.empty()) {
        if (!validLogTime(o.since)) abort();
        // A record stamped exactly at --since is in the range unless --until ends before it.
        const bool beforeUntil = o.until.empty() || o.since.substr(0, o.until.size()) <= o.until;
        if (inLogTimeRange(o.since, o) != beforeUntil) abort();
    }
    if (!o.until.empty() && !validLogTime(o.until)) abort();
    return 0;
}
