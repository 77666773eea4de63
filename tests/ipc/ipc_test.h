// Shared pieces of the IPC tests: names that no other test process uses, identifier records,
// a capture of the diagnostic log, and a small shared block for talking to child processes.
#ifndef OSSE_TESTS_IPC_TEST_H
#define OSSE_TESTS_IPC_TEST_H

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"

namespace ipctest {

// A key that is unique to this process and call, so tests never meet each other's objects.
inline std::string uniqueKey(const char* what)
{
    static LONG counter = 0;
    char key[128];
    snprintf(key, sizeof key, "t%lu_%ld_%s", GetCurrentProcessId(), InterlockedIncrement(&counter),
             what);
    return key;
}

inline OSSIPCResID resId(Sint32 id, const std::string& key)
{
    OSSIPCGetResIDParam p;
    p.path = key.c_str();
    p.id = id;
    OSSIPCResID r;
    EXPECT_EQ(0u, ossIPCGetResID(&p, &r));
    return r;
}

inline OSSIPCQueResID queResId(Sint32 id, const std::string& key)
{
    OSSIPCGetResIDParam p;
    p.path = key.c_str();
    p.id = id;
    OSSIPCQueResID r;
    EXPECT_EQ(0u, ossIPCGetQueResID(&p, &r));
    return r;
}

struct Logged {
    Uint32 functionId, calledId, code, messageCode, probe, level;
};

inline std::vector<Logged>& logged()
{
    static std::vector<Logged> records;
    return records;
}

inline Uint32 captureLog(OSSLogFacility*, Uint32 fn, Uint32 called, Uint32 code, Uint32 msg,
                         Uint32 probe, Uint32 level, Uint32, Sint32, va_list*)
{
    logged().push_back({fn, called, code, msg, probe, level});
    return 0;
}

// Captures every diagnostic-log record written while it lives.
struct LogCapture {
    LogCapture()
    {
        logged().clear();
        ossSetOSSeLogCallback(captureLog);
    }
    ~LogCapture() { ossSetOSSeLogCallback(nullptr); }
    size_t count() const { return logged().size(); }
    bool has(Uint32 functionId, Uint32 probe) const
    {
        for (const Logged& l : logged())
            if (l.functionId == functionId && l.probe == probe) return true;
        return false;
    }
};

// Waits until pred() holds, polling shared state another process changes; false after
// `limitMs` (a generous bound for a hung peer, not a timing assumption).
template <class Pred>
bool waitUntil(Pred pred, DWORD limitMs = 20000)
{
    const DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > limitMs) return false;
        Sleep(1);
    }
    return true;
}

}  // namespace ipctest

#endif
