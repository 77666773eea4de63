// Memory debugging: the OSSEMEMDBG configuration at load, its settings log, the reports of live
// blocks and the unload-time leak report.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mem/mem_internal.h"
#include "osse/osse.h"

OSSE_API OSSMemDebugCB* g_pMemDebugCB = nullptr;
OSSE_API char g_szMemDebugLogPath[260] = "";
OSSE_API Uint8 g_bIsMemoryFFDCEnabledFlag = 0;
OSSE_API Uint8 g_bDumpMemAllocListFlag = 0;

namespace osse_mem {
namespace {

const char kSettingsLogName[] = "ossememdbg.log";
const char kAsteriskLine[] =
    "****************************************************************************\n";
const char kEqualsLine[] =
    "============================================================================\n";
const char kDumpTitle[] = "OSSe Unfreed Memory Blocks :\n";
const char kLegend[] =
    "Legend:\n-------\nAddr - block address\nCode - block eye-catcher with flags\n"
    "Size - size of the block\nLine - line of code in a file\nFile - file name\n";
const char kUsage[] =
    "Invalid OSSEMEMDBG string detected.\n\nUsage : export OSSEMEMDBG=<PATH>,<LEVEL>\n"
    "   where <PATH> is the path to store ossememdbg.log\n"
    "         <LEVEL> is one of the OSSFULL, LIGHT, or IDLE\n\n";
const char kFailAllocPrefix[] = "FAILALLOC=";
bool g_failAtFromLoad = false;  // OSSEMEMDBG armed the fail-the-nth counter

struct Level {
    const char* name;
    Uint32 flags;
    Uint32 mode;
    bool ffdc;
};

const Level kLevels[] = {
    {"FULL", 0xF, OSS_MEM_MODE_FULL, false},  {"CORRUPTIONS", 0xF, OSS_MEM_MODE_FULL, false},
    {"LEAKS", 0x2F, OSS_MEM_MODE_FULL, true}, {"ALL", 0x2F, OSS_MEM_MODE_FULL, true},
    {"LIGHT", 0xB, OSS_MEM_MODE_LIGHT, false},
};

// strtok-style: skips leading separators, returns the token and moves *cursor past it.
char* nextToken(char** cursor)
{
    char* p = *cursor;
    while (*p == ',') ++p;
    if (!*p) {
        *cursor = p;
        return nullptr;
    }
    char* token = p;
    while (*p && *p != ',') ++p;
    if (*p) *p++ = 0;
    *cursor = p;
    return token;
}

void copyBounded(char* to, size_t size, const char* from)
{
    size_t n = strnlen(from, size - 1);
    memcpy(to, from, n);
    to[n] = 0;
}

const Level* findLevel(const char* text)
{
    for (const Level& level : kLevels)
        if (_stricmp(text, level.name) == 0) return &level;
    return nullptr;
}

void settingsLogName(char* name, size_t size)
{
    ossSnprintf(name, size, "%s\\%s", g_szMemDebugLogPath, kSettingsLogName);
}

void applySettings(Uint32 flags, Uint32 mode, Uint32 front, Uint32 back)
{
    ossMemSetDebug(flags, mode, front, back);
}

Uint64 threadId() { return (Uint64)GetCurrentThreadId(); }

// The file a list report goes to: the leak report with flag 0x20, else the per-thread dump.
void reportFileName(char* name, size_t size, bool leakReport)
{
    const DWORD pid = GetCurrentProcessId();
    if (leakReport)
        ossSnprintf(name, size, "%s%c%u.%I64u.mem_leaks.txt", g_szMemDebugLogPath, '\\',
                    (unsigned)pid, threadId());
    else
        ossSnprintf(name, size, "%s%cp%ut%I64u.mem", g_szMemDebugLogPath, '\\', (unsigned)pid,
                    threadId());
}

// At process exit the other threads are gone, and one of them may have been holding the
// latch: it is tried for a while, never waited on.
bool tryLatchAtExit(OSSLatch& latch)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (latch.tryAcquire()) return true;
        Sleep(1);
    }
    return false;
}

// Says in the report's file (standard output when it cannot be opened) that the report was
// not written. Written with the system's calls: the C runtime's stream locks may be held by
// the same ended threads.
void writeReportSkipped(bool leakReport)
{
    static const char kSkipped[] =
        "OSSe Unfreed Memory Blocks not reported: the memory debug latch is held by a thread "
        "that ended with the process.\n";
    char name[261];
    reportFileName(name, sizeof name, leakReport);
    HANDLE out = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool opened = out != INVALID_HANDLE_VALUE;
    if (!opened) out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE)
        WriteFile(out, kSkipped, sizeof kSkipped - 1, &written, nullptr);
    if (opened) CloseHandle(out);
}

}  // namespace

void resetControlBlock()
{
    memset(&g_memDebugCB, 0, sizeof g_memDebugCB);
    g_memDebugCB.latch.init();
}

void configureFromEnvironment()
{
    resetControlBlock();

    char value[260];
    DWORD n = GetEnvironmentVariableA("OSSEMEMDBG", value, sizeof value);
    if (n == 0 || n > 259) {
        applySettings(0, OSS_MEM_MODE_IDLE, 0, 0);
        return;
    }

    char copy[260];
    copyBounded(copy, sizeof copy, value);
    char* cursor = copy;
    const char* path = nextToken(&cursor);
    const char* levelToken = nextToken(&cursor);
    const char* extra = nextToken(&cursor);
    char level[19] = "";
    if (path) copyBounded(g_szMemDebugLogPath, sizeof g_szMemDebugLogPath, path);
    if (levelToken) copyBounded(level, sizeof level, levelToken);

    // An optional third token "FAILALLOC=<n>" (full-mode levels only) fails the nth allocation
    // of the process, for out-of-memory tests of whole programs.
    Uint32 failAt = 0;
    bool extraValid = !extra;
    if (extra && !nextToken(&cursor) &&
        _strnicmp(extra, kFailAllocPrefix, sizeof kFailAllocPrefix - 1) == 0) {
        const char* digits = extra + sizeof kFailAllocPrefix - 1;
        char* end = nullptr;
        const unsigned long long n =
            *digits >= '0' && *digits <= '9' ? strtoull(digits, &end, 10) : 0;
        if (end && !*end && n > 0 && n <= 0xFFFFFFFFull) {
            failAt = (Uint32)n;
            extraValid = true;
        }
    }
    const Level* chosen = (path && levelToken && extraValid) ? findLevel(level) : nullptr;
    if (chosen && failAt && chosen->mode != OSS_MEM_MODE_FULL) chosen = nullptr;
    const DWORD pid = GetCurrentProcessId();
    char logName[261];
    if (!chosen) {
        if (g_szMemDebugLogPath[0]) {
            settingsLogName(logName, sizeof logName);
            if (FILE* f = fopen(logName, "w")) {
                fprintf(f, "PID = 0x%X\n", (unsigned)pid);
                fprintf(f, "----------------------------------------------------\n");
                fprintf(f, "Original Debug String is %s\n", value);
                fputs(kUsage, f);
                fclose(f);
            }
        }
        applySettings(0, OSS_MEM_MODE_IDLE, 2, 2);
        return;
    }

    if (chosen->ffdc) g_bIsMemoryFFDCEnabledFlag = 1;
    settingsLogName(logName, sizeof logName);
    if (FILE* f = fopen(logName, "a")) {
        fprintf(f, "PID            = 0x%X\n", (unsigned)pid);
        fprintf(f, "---------------------------------\n");
        fprintf(f, "mode           = %s\n", level);
        fprintf(f, "flags          = 0x%X\n", chosen->flags);
        fprintf(f, "Front pad size = %u\n", 2u);
        fprintf(f, "Back pad size  = %u\n", 2u);
        if (failAt) fprintf(f, "Fail alloc     = %u\n", failAt);
        fprintf(f, "\n");
        fclose(f);
    }
    applySettings(chosen->flags, chosen->mode, 2, 2);
    if (chosen->mode == OSS_MEM_MODE_FULL) g_pMemDebugCB = &g_memDebugCB;
    if (failAt) {
        g_failAtFromLoad = true;
        setFailAllocation(failAt, 0);
    }
}

// A process started with FAILALLOC=<n> says at its end, in the settings log, how many
// allocations it counted and whether the nth was failed: a whole-program out-of-memory loop
// knows from it when n has passed the program's last allocation. Written with the system's
// calls: at process exit the C runtime's stream locks may be held by ended threads.
static void writeFailAllocOutcome()
{
    if (!g_failAtFromLoad) return;
    Uint32 counted = 0, failed = 0;
    _ossMemGetDebugCounts(&counted, &failed, nullptr);
    char name[261];
    settingsLogName(name, sizeof name);
    char line[96];
    const int n = ossSnprintf(line, sizeof line, "PID 0x%X at exit: %u allocations, %u failed\n",
                              (unsigned)GetCurrentProcessId(), counted, failed);
    HANDLE out = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (n > 0) WriteFile(out, line, (DWORD)n, &written, nullptr);
    CloseHandle(out);
}

}  // namespace osse_mem

using namespace osse_mem;

namespace osse_mem {

Uint32 allocListReport(const char* file, Uint32 line, bool toFile, bool atProcessExit)
{
    OSSMemDebugCB& cb = g_memDebugCB;
    if (userHooksInstalled() || __atomic_load_n(&cb.mode, __ATOMIC_RELAXED) != OSS_MEM_MODE_FULL)
        return OSS_OK;

    if (!atProcessExit) {
        cb.latch.acquire();
    } else if (!tryLatchAtExit(cb.latch)) {
        // The flags are read without the latch: its holder is gone and wrote none.
        if (toFile && g_szMemDebugLogPath[0])
            writeReportSkipped((cb.flags & OSS_MEM_DEBUG_LEAK_REPORT) != 0);
        return OSS_OK;
    }
    const bool leakReport = (cb.flags & OSS_MEM_DEBUG_LEAK_REPORT) != 0;
    if (!cb.allocList) {
        cb.latch.release();
        return OSS_OK;
    }

    FILE* out = nullptr;
    if (toFile && g_szMemDebugLogPath[0]) {
        char name[261];
        reportFileName(name, sizeof name, leakReport);
        if (!leakReport) {
            out = fopen(name, "a");
            if (out) {
                fputs(kAsteriskLine, out);
                fputs(kDumpTitle, out);
                fputs(kEqualsLine, out);
            } else {
                printf("%s", kAsteriskLine);
                printf("%s", kDumpTitle);
                printf("%s", kEqualsLine);
            }
        } else {
            out = fopen(name, "a");
            if (out) {
                fputs(kAsteriskLine, out);
                fprintf(out,
                        "NRV Support and Development can generate a report of possible memory "
                        "leaks\nusing the following command from any uselvl'd build:\n"
                        "perl -S nrvreportleaks -path %s\n\n",
                        g_szMemDebugLogPath);
                fputs("To display all available options, run \"perl -S nrvreportleaks -help\"\n",
                      out);
                fputs(kAsteriskLine, out);
                fputs(kLegend, out);
                fputs(kEqualsLine, out);
                fputs(kDumpTitle, out);
                fputs(kEqualsLine, out);
            }
        }
    }

    for (OSSMemFullRecord* record = cb.allocList; record; record = record->next) {
        OSSMemBlockHeader* header = (OSSMemBlockHeader*)(record + 1);
        void* user = header + 1;
        checkBlock(&user, file, line, false, true);
        // The address in full, 8 hex digits on i686 and 16 on x86_64: lower case in the report
        // file, upper case (as %p gives it on i686) on standard output.
        char addr[2 * sizeof(void*) + 1];
        const char* digits = out ? "0123456789abcdef" : "0123456789ABCDEF";
        const uintptr_t value = (uintptr_t)header;
        for (size_t i = 0; i < 2 * sizeof value; ++i)
            addr[i] = digits[(value >> (4 * (2 * sizeof value - 1 - i))) & 0xF];
        addr[sizeof addr - 1] = 0;
        if (out)
            fprintf(out, "Addr: %s Code: 0x%x Size: %u Line: %u File: %s\n", addr,
                    header->eyeCatcher, record->size, record->line, record->file);
        else
            printf("Address: %s Size: %u Line: %u File: %s\n", addr, record->size,
                   record->line, record->file);
    }
    if (out) {
        fputs(kEqualsLine, out);
        fflush(out);
        fclose(out);
    } else {
        fflush(stdout);
    }
    cb.latch.release();
    return OSS_OK;
}

Uint32 terminate(bool atProcessExit)
{
    writeFailAllocOutcome();
    if (!ossMemIsMemFFDCAndOSSeMemDebugPathSet()) return OSS_OK;
    return allocListReport(__FILE__, __LINE__, true, atProcessExit);
}

}  // namespace osse_mem

extern "C" OSSE_API Uint32 _ossMemAllocList(const char* file, Uint32 line, bool toFile)
{
    return allocListReport(file, line, toFile, false);
}

extern "C" OSSE_API void ossMemSetMemFFDCEnabledFlag(void)
{
    g_bIsMemoryFFDCEnabledFlag = 1;
}

extern "C" OSSE_API bool ossMemIsMemFFDCAndOSSeMemDebugPathSet(void)
{
    return g_bIsMemoryFFDCEnabledFlag && g_szMemDebugLogPath[0] != 0;
}

extern "C" OSSE_API Uint32 ossTerminate(void)
{
    return terminate(false);
}
