// A trap file for a crash. The program installs an exception filter that writes a trap file
// (the exception, the registers, the loaded modules and the stack with symbol names) and ends
// the process, then faults on purpose.
//
//     trap_on_crash crash.trap      ends with exit code 3 after writing the file
//     ossetool trap crash.trap
#include <windows.h>

#include <stdio.h>

#include "osse/osse.h"

static char g_trapPath[MAX_PATH];
static volatile LONG g_trapping = 0;

static LONG WINAPI writeTrapFile(EXCEPTION_POINTERS* info)
{
    // The first fault only: a second one while the file is written must not start another.
    if (InterlockedExchange(&g_trapping, 1) != 0) return EXCEPTION_CONTINUE_SEARCH;
    OSSTrapFile trap;
    if (trap.open(g_trapPath, OSS_PRIMFILE_OPEN_ALWAYS) == 0) {
        trap.seekToEnd();  // a file that already holds traps keeps them
        trap.initialize(0, info->ExceptionRecord, info->ContextRecord, nullptr);
        // Everything but the dump of the process's memory regions.
        trap.dump(0xFFFFFFFFu & ~OSS_TRAP_SECTION_MEMORY, 0, info->ExceptionRecord, info->ContextRecord);
        trap.close();
    }
    // The process is in no state to go on; no other handler runs.
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Stores through a pointer nothing maps: an access violation in a function of its own, so the
// trap file's stack names it.
extern "C" __attribute__((noinline)) int applyDiscount(volatile int* price)
{
    *price = *price * 9 / 10;
    return *price;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: trap_on_crash TRAPFILE\n");
        return 2;
    }
    snprintf(g_trapPath, sizeof g_trapPath, "%s", argv[1]);
    SetUnhandledExceptionFilter(writeTrapFile);
    printf("about to crash; the trap file goes to %s\n", g_trapPath);
    fflush(stdout);
    const int price = applyDiscount((volatile int*)(uintptr_t)0x10);
    printf("not reached: %d\n", price);
    return 0;
}
