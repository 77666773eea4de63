// Shared by the thread, process and library tests: a capture of every log request and the
// folder of the test program.
#ifndef OSSE_TESTS_PROC_TEST_H
#define OSSE_TESTS_PROC_TEST_H

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"

namespace proctest {

struct Logged {
    Uint32 functionId, calledId, code, messageCode, probe, level;
    std::vector<std::string> strings;  // the string items, in order
};

// Every log request of the process while it lives (none reaches a file).
class LogCapture {
public:
    LogCapture()
    {
        std::lock_guard<std::mutex> g(lock());
        records().clear();
        ossSetOSSeLogCallback(capture);
    }
    ~LogCapture() { ossSetOSSeLogCallback(nullptr); }

    std::vector<Logged> take()
    {
        std::lock_guard<std::mutex> g(lock());
        std::vector<Logged> out;
        out.swap(records());
        return out;
    }

private:
    static std::mutex& lock()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<Logged>& records()
    {
        static std::vector<Logged> r;
        return r;
    }
    static Uint32 capture(OSSLogFacility*, Uint32 fn, Uint32 called, Uint32 code, Uint32 msg,
                          Uint32 probe, Uint32 level, Uint32 flags, Sint32 count, va_list* items)
    {
        Logged l{fn, called, code, msg, probe, level, {}};
        // Plain counts only; the handler's nested lists are not opened.
        if (!(flags & OSS_LOG_FLAG_MASK)) {
            for (Sint32 i = 0; i < count; ++i) {
                OSSLogItem item = va_arg(*items, OSSLogItem);
                if (item.type == OSS_ITEM_STRING)
                    l.strings.emplace_back((const char*)item.p, (size_t)item.size);
            }
        }
        std::lock_guard<std::mutex> g(lock());
        records().push_back(l);
        return 0;
    }
};

inline std::string exeDir()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string s = path;
    return s.substr(0, s.find_last_of('\\'));
}

inline std::string exePath()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

// The handles this process has open, counted by asking about every small handle value: the
// system's own count is not kept by every implementation.
inline size_t openHandles()
{
    size_t n = 0;
    DWORD info;
    for (uintptr_t h = 4; h < 0x10000; h += 4)
        if (GetHandleInformation((HANDLE)h, &info)) ++n;
    return n;
}

}  // namespace proctest

#endif
