// Error analysis: after the system error handler has logged a failure, gathers the facts that
// usually explain it (who runs the process, resource limits, memory, the target file, the
// permissions along its path, the file system) and writes them as one more log record.
//
// The facts come from small functions below that ask the system directly (memory status, file
// attributes, disk space); nothing here goes through the handler, and a per-thread guard stops
// an analysis from analysing a failure of its own.
#include <windows.h>

#include <stdarg.h>
#include <string.h>

#include "diag/analysis_rules.h"
#include "osse/ecf.h"
#include "osse/error.h"
#include "osse/log.h"
#include "osse/strutil.h"

namespace {

constexpr Uint32 kFnIOAnalysis = OSS_FUNC_ID(OSS_FN_ossErrorIOAnalysis);
constexpr Uint32 kFnMemoryAnalysis = OSS_FUNC_ID(OSS_FN_ossErrorMemoryAnalysis);
static_assert(kFnIOAnalysis == 0x081A00AD && kFnMemoryAnalysis == 0x081A00AE,
              "analysis identifiers");
constexpr Uint32 kAnalysisProbe = 100;

thread_local bool t_analysing = false;

// ---- Text buffers -------------------------------------------------------------------------
template <size_t N>
struct Text {
    char s[N] = {};
    size_t length = 0;
    void add(const char* format, ...) OSSE_MS_PRINTF(2, 3)
    {
        if (length + 1 >= N) return;
        va_list args;
        va_start(args, format);
        char piece[N];
        const int n = _vsnprintf(piece, sizeof piece - 1, format, args);
        va_end(args);
        piece[sizeof piece - 1] = 0;
        size_t take = n < 0 ? strlen(piece) : (size_t)n;
        if (take > N - 1 - length) take = N - 1 - length;
        memcpy(s + length, piece, take);
        length += take;
        s[length] = 0;
    }
    OSSLogItem item() const { return OSSLogItem{s, (Sint32)length, OSS_ITEM_STRING}; }
};

// ---- Facts from the system ----------------------------------------------------------------
// The memory situation in megabytes, as the system-information queries report it.
struct MemoryFacts {
    Uint64 physicalTotalMB, physicalAvailableMB;
    Uint64 swapTotalMB, swapAvailableMB;
    Uint64 virtualTotalMB, virtualAvailableMB;
    Uint32 loadPercent;
};

bool memoryFacts(MemoryFacts* m)
{
    MEMORYSTATUSEX status;
    memset(&status, 0, sizeof status);
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return false;
    const Uint64 mb = 1024 * 1024;
    m->physicalTotalMB = status.ullTotalPhys / mb;
    m->physicalAvailableMB = status.ullAvailPhys / mb;
    m->swapTotalMB = status.ullTotalPageFile / mb;
    m->swapAvailableMB = status.ullAvailPageFile / mb;
    m->virtualTotalMB = status.ullTotalVirtual / mb;
    m->virtualAvailableMB = status.ullAvailVirtual / mb;
    m->loadPercent = status.dwMemoryLoad;
    return true;
}

// The full form of a path: a relative path is taken from the current directory, a UNC path
// keeps its server and share. False when the system cannot make it full.
bool fullPath(const char* path, char* out, DWORD size)
{
    const DWORD n = GetFullPathNameA(path, size, out, nullptr);
    return n > 0 && n < size;
}

void fileInfoText(WIN32_FILE_ATTRIBUTE_DATA& a, Text<600>& t)
{
    const Uint64 size = ((Uint64)a.nFileSizeHigh << 32) | a.nFileSizeLow;
    SYSTEMTIME st;
    FileTimeToSystemTime(&a.ftLastWriteTime, &st);
    t.add("\n   attributes = 0x%08lX%s\n   size = %I64u bytes\n   last written = "
          "%04u-%02u-%02u %02u:%02u:%02u UTC\n",
          a.dwFileAttributes, (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? " (directory)" : "",
          size, st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

// Disk facts of the volume that holds path; true when at least part of them was obtained.
bool diskText(const char* path, Text<600>& t)
{
    char full[MAX_PATH + 1];
    char volume[MAX_PATH + 1];
    if (!fullPath(path, full, sizeof full)) return false;
    if (!GetVolumePathNameA(full, volume, sizeof volume)) return false;
    ULARGE_INTEGER freeToCaller, total, freeTotal;
    const bool space = GetDiskFreeSpaceExA(volume, &freeToCaller, &total, &freeTotal) != 0;
    char label[MAX_PATH + 1] = {}, fs[64] = {};
    DWORD serial = 0, maxComponent = 0, flags = 0;
    const bool info = GetVolumeInformationA(volume, label, sizeof label, &serial, &maxComponent,
                                            &flags, fs, sizeof fs) != 0;
    if (!space && !info) return false;
    // A partial answer is still an answer: what was obtained is shown.
    t.add("\n File system of %s:\n", volume);
    if (info) t.add("   type = %s, label = %s, serial = %08lX\n", fs, label, serial);
    if (space)
        t.add("   total = %I64u bytes, free = %I64u bytes, free to this user = %I64u bytes\n",
              total.QuadPart, freeTotal.QuadPart, freeToCaller.QuadPart);
    return true;
}

// Permission bits in the form of the other platforms: no owner or group here, write bits
// cleared for read-only objects.
Uint32 permissionBits(DWORD attributes)
{
    const bool dir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    Uint32 bits = dir ? 0777 : 0666;
    if (attributes & FILE_ATTRIBUTE_READONLY) bits &= ~0222u;
    return bits;
}

bool missingPart(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH ||
           error == ERROR_BAD_NET_NAME;
}

const char kCannotDescend[] = "\n Cannot descend any further than the above subdirectory.";

void pathWalkText(const char* target, Text<4096>& t)
{
    t.add("Information of each subdirectory leading up to the first inaccessible one is shown "
          "in the format below :\n   <UID>:<GID>:<permissions> (subdirectories)\n\n");
    char full[MAX_PATH + 1];
    if (!fullPath(target, full, sizeof full)) return;
    size_t length = strlen(full);
    if (length > 3 && full[length - 1] == '\\') full[--length] = 0;

    // The ends of the prefixes to look at: the root ("C:\" or "\\server\share\"), then one
    // more component each.
    size_t pos = 0;
    if (full[0] == '\\' && full[1] == '\\') {
        int separators = 0;
        pos = 2;
        while (pos < length && separators < 2)
            if (full[pos++] == '\\') ++separators;
    } else if (length >= 3 && full[1] == ':' && full[2] == '\\') {
        pos = 3;
    }
    size_t ends[MAX_PATH + 1];
    size_t count = 0;
    if (pos > 0) ends[count++] = pos;
    while (pos < length) {
        size_t end = pos;
        while (end < length && full[end] != '\\') ++end;
        if (end > pos) ends[count++] = end;
        pos = end + 1;
    }

    for (size_t i = 0; i < count; ++i) {
        char prefix[MAX_PATH + 1];
        memcpy(prefix, full, ends[i]);
        prefix[ends[i]] = 0;
        const DWORD attributes = GetFileAttributesA(prefix);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            // A missing part of the path ends the walk quietly; only a part that exists but
            // cannot be read stops it for good.
            if (!missingPart(GetLastError())) t.add("%s", kCannotDescend);
            return;
        }
        const bool dir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool endsWithSeparator = prefix[ends[i] - 1] == '\\';
        t.add("   %u:%u:%o (%s%s)\n", 0u, 0u, (unsigned)permissionBits(attributes), prefix,
              dir && !endsWithSeparator ? "\\" : "");
        if (i + 1 == count || !dir) return;
        // Going into the directory needs the right to read it.
        char pattern[MAX_PATH + 3];
        ossSnprintf(pattern, sizeof pattern, "%s%s*", prefix, endsWithSeparator ? "" : "\\");
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA(pattern, &found);
        if (h != INVALID_HANDLE_VALUE) {
            FindClose(h);
        } else if (GetLastError() == ERROR_ACCESS_DENIED) {
            t.add("%s", kCannotDescend);
            return;
        }
    }
}

}  // namespace

namespace {

// The texts of one analysis record, one slot each; slots not produced stay empty.
struct Texts {
    char summary[osse_analysis::kSummaryMax + 1] = {};
    size_t summaryLength = 0;
    Text<80> user;
    Text<200> ulimit;
    Text<200> physical;
    Text<200> swap;
    Text<200> virtualMemory;
    Text<201> allocation;
    Text<600> target;
    Text<64> ioAttempt;
    Text<4096> path;
    Text<600> fileSystem;
};

void gather(Uint32 set, const OSSErrorAnalysisRequest& request, const char* targetName,
            Uint32 targetHandle, const Uint32* allocationSize, Texts& t)
{
    using namespace osse_analysis;
    t.summaryLength = summaryText(set, t.summary);
    if (set & kUserInfo) t.user.add("Real / Effective user and group ID info is N/A on this platform.");
    if (set & kUlimit) {
        DWORD handles = 0;
        GetProcessHandleCount(GetCurrentProcess(), &handles);
        t.ulimit.add("Resource limits (ulimit) are N/A on this platform; the process holds %lu "
                     "handles.\n",
                     handles);
    }
    if (set & kMemoryInfo) {
        MemoryFacts m;
        if (memoryFacts(&m)) {
            t.physical.add("Physical memory: total %I64u MB, available %I64u MB, load %u%%\n",
                           m.physicalTotalMB, m.physicalAvailableMB, (unsigned)m.loadPercent);
            t.swap.add("Swap (paging file): total %I64u MB, available %I64u MB\n", m.swapTotalMB,
                       m.swapAvailableMB);
            t.virtualMemory.add("Virtual memory: total %I64u MB, available %I64u MB\n",
                                m.virtualTotalMB, m.virtualAvailableMB);
            Uint64 availableBytes = 0;
            if (allocationSize &&
                allocationExceeds(*allocationSize, m.virtualAvailableMB, &availableBytes))
                t.allocation.add("Attempt to allocate %u bytes when only %I64u bytes is available.",
                                 (unsigned)*allocationSize, availableBytes);
        }
    }
    if (set & kTargetFile) {
        if (targetName) {
            t.target.add("\n Target file = %s", targetName);
            WIN32_FILE_ATTRIBUTE_DATA a;
            if (GetFileAttributesExA(targetName, GetFileExInfoStandard, &a)) fileInfoText(a, t.target);
        } else if (targetHandle != 0xFFFFFFFFu) {
            t.target.add("\n Target file handle = %d\n", (int)targetHandle);
            BY_HANDLE_FILE_INFORMATION info;
            if (GetFileInformationByHandle((HANDLE)(uintptr_t)targetHandle, &info)) {
                WIN32_FILE_ATTRIBUTE_DATA a;
                a.dwFileAttributes = info.dwFileAttributes;
                a.ftCreationTime = info.ftCreationTime;
                a.ftLastAccessTime = info.ftLastAccessTime;
                a.ftLastWriteTime = info.ftLastWriteTime;
                a.nFileSizeHigh = info.nFileSizeHigh;
                a.nFileSizeLow = info.nFileSizeLow;
                fileInfoText(a, t.target);
            }
        }
    }
    if (set & kIoAttempt) t.ioAttempt.add("I/O attempt not implemented yet.\n");
    if ((set & kPathAccess) && targetName) pathWalkText(targetName, t.path);
    if ((set & kFileSystem) && targetName) diskText(targetName, t.fileSystem);
    (void)request;
}

void writeRecord(Uint32 analysisId, const OSSErrorAnalysisRequest& request, const Texts& t)
{
    const OSSLogItem summary = {t.summary, (Sint32)t.summaryLength, OSS_ITEM_STRING};
    ossLogSysRC(nullptr, analysisId, request.failedCall, request.osError, 0, kAnalysisProbe,
                request.level, 11, summary, t.user.item(), t.ulimit.item(), t.physical.item(),
                t.swap.item(), t.virtualMemory.item(), t.allocation.item(), t.target.item(),
                t.ioAttempt.item(), t.path.item(), t.fileSystem.item());
}

bool cRuntimeCall(Uint32 failedCall)
{
    return osse_analysis::isCRuntimeName(failedCall, ecfGetFunctionName(failedCall));
}

void memoryAnalysis(const OSSErrorAnalysisRequest& request)
{
    const Uint32 set = osse_analysis::selectMemory(request.osError, cRuntimeCall(request.failedCall));
    if (osse_analysis::analysisCount(set) == 0) return;
    const Uint32* size = nullptr;
    if (request.kind == OSS_ERRANALYSIS_MEMORY && request.details)
        size = &((const OSSErrorAnalysisMemoryDetails*)request.details)->allocationSize;
    Texts t;
    gather(set, request, nullptr, 0xFFFFFFFFu, size, t);
    writeRecord(kFnMemoryAnalysis, request, t);
}

void ioAnalysis(const OSSErrorAnalysisRequest& request)
{
    const Uint32 set =
        osse_analysis::selectIO(request.failedCall, request.osError, cRuntimeCall(request.failedCall));
    if (osse_analysis::analysisCount(set) == 0) return;
    const OSSErrorAnalysisIODetails* io = (const OSSErrorAnalysisIODetails*)request.details;
    Texts t;
    gather(set, request, io ? io->targetFileName : nullptr, io ? io->targetFileHandle : 0xFFFFFFFFu,
           nullptr, t);
    writeRecord(kFnIOAnalysis, request, t);
}

}  // namespace

extern "C" OSSE_API void ossErrorAnalysis(const OSSErrorAnalysisRequest* request)
{
    if (!request) return;
    // What the failing operation sees afterwards must not change (reading the per-thread guard
    // may itself reset the last error).
    const DWORD lastError = GetLastError();
    if (t_analysing) {
        SetLastError(lastError);
        return;
    }
    t_analysing = true;
    switch (request->kind) {
    case OSS_ERRANALYSIS_IO:
        ioAnalysis(*request);
        break;
    case OSS_ERRANALYSIS_MEMORY:
        memoryAnalysis(*request);
        break;
    default:
        if (request->osError == 12) memoryAnalysis(*request);
        break;
    }
    SetLastError(lastError);
    t_analysing = false;
}
