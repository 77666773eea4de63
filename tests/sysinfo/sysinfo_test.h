// Shared by the system-information tests: a capture of the diagnostic-log requests.
#ifndef OSSE_TESTS_SYSINFO_TEST_H
#define OSSE_TESTS_SYSINFO_TEST_H

#include <gtest/gtest.h>

#include <vector>

#include "osse/osse.h"

namespace sysinfotest {

struct LogRecord {
    Uint32 functionId, calledId, code, probe, level;
};

// Takes over the log while it lives and keeps every request (of one operation when a function
// identifier is given, else of all).
class RecordCapture {
public:
    explicit RecordCapture(Uint32 functionId) : functionId_(functionId)
    {
        current() = this;
        ossSetOSSeLogCallback(capture);
    }
    ~RecordCapture()
    {
        ossSetOSSeLogCallback(nullptr);
        current() = nullptr;
    }
    RecordCapture(const RecordCapture&) = delete;
    RecordCapture& operator=(const RecordCapture&) = delete;

    std::vector<LogRecord> records;

private:
    static RecordCapture*& current()
    {
        static RecordCapture* c = nullptr;
        return c;
    }
    static Uint32 capture(OSSLogFacility*, Uint32 fn, Uint32 called, Uint32 code, Uint32,
                          Uint32 probe, Uint32 level, Uint32, Sint32, va_list*)
    {
        RecordCapture* c = current();
        if (c && (!c->functionId_ || c->functionId_ == fn))
            c->records.push_back(LogRecord{fn, called, code, probe, level});
        return 0;
    }
    Uint32 functionId_;
};

}  // namespace sysinfotest

#endif
