// Cost of starting and ending a thread and a process through the library beside the bare system
// calls doing the same work:
//   thread:  OSSHThread create (joinable) + wait + close  vs  CreateThread + WaitForSingleObject +
//            CloseHandle; and, to tell the runtime's share apart, the runtime's _beginthreadex +
//            WaitForSingleObject + CloseHandle
//   process: OSSHProcess create with the wait flag  vs  CreateProcessA (hidden) +
//            WaitForSingleObject + GetExitCodeProcess + two CloseHandle
// Both process variants start this program again with "--child", which ends at once. Rounds
// alternate between the variants and the best round of each counts, so that a burst of load on
// the machine hits both alike.
#include <windows.h>

#include <process.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "bench_clock.h"
#include "osse/osse.h"

namespace {

const int kThreadsPerRound = 200;
const int kThreadRounds = 15;
const int kProcessesPerRound = 4;
const int kProcessRounds = 12;

volatile LONG g_sink;

void threadBody(void*)
{
    InterlockedIncrement(&g_sink);
}

DWORD WINAPI bareThreadBody(void*)
{
    InterlockedIncrement(&g_sink);
    return 0;
}

double ossThreads()
{
    const OSSThreadParam p = {OSS_CURRENT_VERSION, OSS_THREAD_JOINABLE, 0};
    const double start = nowNs();
    for (int i = 0; i < kThreadsPerRound; ++i) {
        OSSHThread t;
        if (t.create(threadBody, nullptr, &p, nullptr) || t.wait() || t.close()) {
            fprintf(stderr, "thread create failed\n");
            ExitProcess(1);
        }
    }
    return (nowNs() - start) / kThreadsPerRound;
}

double bareThreads()
{
    const double start = nowNs();
    for (int i = 0; i < kThreadsPerRound; ++i) {
        DWORD id;
        HANDLE h = CreateThread(nullptr, 0, bareThreadBody, nullptr, 0, &id);
        if (!h) {
            fprintf(stderr, "CreateThread failed\n");
            ExitProcess(1);
        }
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
    return (nowNs() - start) / kThreadsPerRound;
}

unsigned __stdcall runtimeThreadBody(void*)
{
    InterlockedIncrement(&g_sink);
    return 0;
}

double runtimeThreads()
{
    const double start = nowNs();
    for (int i = 0; i < kThreadsPerRound; ++i) {
        unsigned id;
        HANDLE h = (HANDLE)_beginthreadex(nullptr, 0, runtimeThreadBody, nullptr, 0, &id);
        if (!h) {
            fprintf(stderr, "_beginthreadex failed\n");
            ExitProcess(1);
        }
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
    return (nowNs() - start) / kThreadsPerRound;
}

std::string g_exe;

double ossProcesses()
{
    static const char args[] = "--child\0";
    const OSSProcessParam p = {OSS_CURRENT_VERSION, g_exe.c_str(), args, nullptr,
                               OSS_PROCESS_WAIT};
    const double start = nowNs();
    for (int i = 0; i < kProcessesPerRound; ++i) {
        OSSHProcess proc;
        unsigned long pid = 0;
        OSSProcessStatus status;
        if (proc.create(&p, &pid, &status) || status.exitCode != 0) {
            fprintf(stderr, "process create failed\n");
            ExitProcess(1);
        }
    }
    return (nowNs() - start) / kProcessesPerRound;
}

double bareProcesses()
{
    const std::string line = "\"" + g_exe + "\" --child";
    const double start = nowNs();
    for (int i = 0; i < kProcessesPerRound; ++i) {
        char cmd[MAX_PATH + 32];
        snprintf(cmd, sizeof cmd, "%s", line.c_str());
        STARTUPINFOA si;
        memset(&si, 0, sizeof si);
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION pi;
        if (!CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                            nullptr, &si, &pi)) {
            fprintf(stderr, "CreateProcessA failed\n");
            ExitProcess(1);
        }
        CloseHandle(pi.hThread);
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        if (code != 0) ExitProcess(1);
    }
    return (nowNs() - start) / kProcessesPerRound;
}

void report(const char* what, double ours, double bare)
{
    printf("%-32s %12.1f us %12.1f us %8.2fx\n", what, ours / 1000, bare / 1000, ours / bare);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && strcmp(argv[1], "--child") == 0) return 0;
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    g_exe = exe;

    double ossT = 1e30, bareT = 1e30, runtimeT = 1e30;
    ossThreads();
    bareThreads();
    for (int r = 0; r < kThreadRounds; ++r) {
        ossT = std::min(ossT, ossThreads());
        bareT = std::min(bareT, bareThreads());
        runtimeT = std::min(runtimeT, runtimeThreads());
    }
    double ossP = 1e30, bareP = 1e30;
    ossProcesses();
    for (int r = 0; r < kProcessRounds; ++r) {
        ossP = std::min(ossP, ossProcesses());
        bareP = std::min(bareP, bareProcesses());
    }
    printf("%-32s %15s %15s %9s\n", "best round, per start", "library", "bare calls", "ratio");
    report("thread create+wait+close", ossT, bareT);
    report("  (vs _beginthreadex+wait+close)", ossT, runtimeT);
    report("process create+wait", ossP, bareP);
    return 0;
}
