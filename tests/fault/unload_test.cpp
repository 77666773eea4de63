// Load and unload: the debug-help mutexes across a free and a reload of the library, and a
// process that exits while another thread is inside the debug-help layer.
#include <windows.h>

#include <stdio.h>

#include "osse/osse.h"
#include "osse_test.h"

namespace {

HANDLE g_inside;   // set when the enumerating thread holds the debug-help lock
HANDLE g_never;    // never set: the enumerating thread waits on it for good

int __stdcall blockInCallback(const char*, Uint64, unsigned long, void*)
{
    SetEvent(g_inside);
    WaitForSingleObject(g_never, INFINITE);
    return 1;
}

DWORD WINAPI enumerateAndBlock(void*)
{
    ossEnumerateLoadedModules(GetCurrentProcess(), blockInCallback, nullptr);
    return 0;
}

// The main thread exits while another thread holds the debug-help lock: the unload at process
// exit must not wait for it.
OSSE_CHILD_ROLE(exit_while_symbols_busy)
{
    (void)args;
    g_inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CreateThread(nullptr, 0, enumerateAndBlock, nullptr, 0, nullptr);
    if (WaitForSingleObject(g_inside, 30000) != WAIT_OBJECT_0) return 3;
    ExitProcess(7);
}

TEST(Unload, ProcessExitDoesNotWaitForTheDebugHelpLock)
{
    EXPECT_EQ(7, ossetest::runChild("exit_while_symbols_busy", {}, {}, 30000));
}

// The library freed and loaded again: the load sequence runs again, so the wrappers work.
OSSE_CHILD_ROLE(reload_library)
{
    HMODULE first = GetModuleHandleA("NRVOSSE.dll");
    char path[MAX_PATH];
    GetModuleFileNameA(first, path, sizeof path);
    // This program holds its own reference: a second LoadLibrary and FreeLibrary pair only
    // counts. Load a copy under another name to see a real load and unload.
    char copy[MAX_PATH];
    snprintf(copy, sizeof copy, "%s", args.at(0).c_str());
    if (!CopyFileA(path, copy, FALSE)) return 2;
    for (int round = 0; round < 2; ++round) {
        HMODULE m = LoadLibraryA(copy);
        if (!m) return 3;
        typedef int(__cdecl * Walk)(void*, void*, void*, void*);
        typedef Uint32(__cdecl * Terminate)(void);
        typedef void(__cdecl * OneTime)(void);
        Walk walk = (Walk)(void*)GetProcAddress(m, "ossStackWalk");
        Terminate terminate = (Terminate)(void*)GetProcAddress(m, "ossTerminate");
        OneTime oneTime = (OneTime)(void*)GetProcAddress(m, "ossOneTimeOnly");
        if (!walk || !terminate || !oneTime) return 4;
        oneTime();
        oneTime();
        if (terminate() != 0) return 5;  // memory debugging is off: nothing to report
        if (!FreeLibrary(m)) return 6;
    }
    DeleteFileA(copy);
    return 0;
}

TEST(Unload, FreedAndReloadedLibrarySettlesAgain)
{
    ossetest::TempDir dir;
    EXPECT_EQ(0, ossetest::runChild("reload_library", {dir.file("NRVOSSE2.dll")}, {"OSSEMEMDBG="}));
}

}  // namespace
