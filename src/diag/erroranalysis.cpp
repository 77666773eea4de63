// Error analysis: after the system error handler has logged a failure, gathers the facts that
// usually explain it (who runs the process, resource limits, memory, the target file, the
// permissions along its path, the file system) and writes them as one more log record.
//
// The memory, target-file and file-system facts come from the library's own queries, as their
// text forms; the path walk asks the system directly. A per-thread guard stops an analysis from
// analysing a failure of its own (a query that fails inside it may report, but never analyse).
#include <windows.h>

#include <stdarg.h>
#include <string.h>

#include "diag/analysis_rules.h"
#include "osse/ecf.h"
#include "osse/error.h"
#include "osse/file.h"
#include "osse/log.h"
#include "osse/strutil.h"
#include "osse/sysinfo.h"

namespace {

constexpr Uint32 kFnIOAnalysis = OSS_FUNC_ID(OSS_FN_ossErrorIOAnalysis);
constexpr Uint32 kFnMemoryAnalysis = OSS_FUNC_ID(OSS_FN_ossErrorMemoryAnalysis);
static_assert(kFnIOAnalysis == 0x081A00AD && kFnMemoryAnalysis == 0x081A00AE,
              "analysis identifiers");
constexpr Uint32 kAnalysisProbe = 100;

// The per-thread "analysis running" mark lives in a TLS slot taken when the library is loaded.
// Not thread_local: this compiler emulates that with a malloc on a thread's first use, and the
// memory analysis runs right after malloc failed.
class AnalysisGuardSlot {
public:
    AnalysisGuardSlot() : slot_(TlsAlloc()) {}
    ~AnalysisGuardSlot()
    {
        if (slot_ != TLS_OUT_OF_INDEXES) TlsFree(slot_);
    }
    AnalysisGuardSlot(const AnalysisGuardSlot&) = delete;
    AnalysisGuardSlot& operator=(const AnalysisGuardSlot&) = delete;

    // Marks this thread as analysing; false when it already is, or when the mark cannot be
    // kept (no slot, or no room for it): an analysis that could recurse without end is not
    // started.
    bool enter()
    {
        if (slot_ == TLS_OUT_OF_INDEXES || TlsGetValue(slot_)) return false;
        return TlsSetValue(slot_, (void*)1) != 0;
    }
    void leave() { TlsSetValue(slot_, nullptr); }

private:
    const DWORD slot_;
};
AnalysisGuardSlot g_analysing;

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
// The full form of a path: a relative path is taken from the current directory, a UNC path
// keeps its server and share. False when the system cannot make it full.
bool fullPath(const char* path, char* out, DWORD size)
{
    const DWORD n = GetFullPathNameA(path, size, out, nullptr);
    return n > 0 && n < size;
}

// A query that filled its record, completely or in part.
bool answered(Uint32 rc)
{
    return rc == OSS_OK || rc == ECF_PARTIAL_INFO;
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

const char kCannotDescend[] = "\n Cannot descend any further than the above subdirectory.";

// One line per directory from the root down to the directory that holds the target; the
// target itself is a line only when it is a directory (a file's facts are the target file
// information). The walk says it could not descend when a directory on the way cannot be
// looked at (missing, or denied) or cannot be entered; not when it reached the target.
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
        const bool isTarget = i + 1 == count;
        char prefix[MAX_PATH + 1];
        memcpy(prefix, full, ends[i]);
        prefix[ends[i]] = 0;
        const DWORD attributes = GetFileAttributesA(prefix);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!isTarget) t.add("%s", kCannotDescend);
            return;
        }
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            // A file has no line; one where a directory was expected has nothing below it.
            if (!isTarget) t.add("%s", kCannotDescend);
            return;
        }
        const bool endsWithSeparator = prefix[ends[i] - 1] == '\\';
        t.add("   %u:%u:%o (%s%s)\n", 0u, 0u, (unsigned)permissionBits(attributes), prefix,
              endsWithSeparator ? "" : "\\");
        if (isTarget) return;
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
    Text<sizeof(OSSMemInfo::toStringParam::buffer)> physical;
    Text<sizeof(OSSSwapInfo::toStringParam::buffer)> swap;
    Text<sizeof(OSSVirtMemInfo::toStringParam::buffer)> virtualMemory;
    Text<201> allocation;
    Text<MAX_PATH + 32 + sizeof(OSSFileInfo::toStringParam::buffer)> target;
    Text<64> ioAttempt;
    Text<4096> path;
    Text<sizeof(OSSDiskInfo::toStringParam::buffer)> fileSystem;
};

// Physical memory, swap and virtual memory as the system-information queries report them, and
// the allocation that did not fit. Those queries report the failures they carry on from without
// asking for an analysis; anything else they report meets the guard of ossErrorAnalysis.
void memoryTexts(const Uint32* allocationSize, Texts& t)
{
    OSSMemInfo physical;
    if (answered(ossGetPhysMemInfo(&physical))) {
        OSSMemInfo::toStringParam p = {OSS_CURRENT_VERSION, {}};
        physical.toString(&p);
        t.physical.add("%s", p.buffer);
        Uint64 availableBytes = 0;
        if (allocationSize && physical.available.status == 0 &&
            osse_analysis::allocationExceeds(*allocationSize, physical.available.value,
                                             &availableBytes))
            t.allocation.add("Attempt to allocate %u bytes when only %I64u bytes is available.",
                             (unsigned)*allocationSize, availableBytes);
    }
    OSSSwapInfo swap;
    if (answered(ossGetPhysSwapInfo(&swap))) {
        OSSSwapInfo::toStringParam p = {OSS_CURRENT_VERSION, {}};
        swap.toString(&p);
        t.swap.add("%s", p.buffer);
    }
    OSSVirtMemInfo virtualMemory;
    if (answered(ossGetVirtualMemInfo(&virtualMemory))) {
        OSSVirtMemInfo::toStringParam p = {OSS_CURRENT_VERSION, {}};
        virtualMemory.toString(&p);
        t.virtualMemory.add("%s", p.buffer);
    }
}

// The target's file information, asked quietly: a target that cannot be read is no news.
void targetTexts(const char* targetName, Uint32 targetHandle, Texts& t)
{
    OSSFileGetInfoParam param = {OSS_CURRENT_VERSION, targetName, 0, 0, OSS_FILE_INFO_QUIET,
                                 INVALID_HANDLE_VALUE};
    if (targetName) {
        t.target.add("\n Target file = %s", targetName);
    } else if (targetHandle != 0xFFFFFFFFu) {
        t.target.add("\n Target file handle = %d\n", (int)targetHandle);
        param.handle = (void*)(uintptr_t)targetHandle;
    } else {
        return;
    }
    OSSFileInfo info;
    memset(&info, 0, sizeof info);
    if (ossFileGetInfoV9(&param, &info) == OSS_OK) {
        OSSFileInfo::toStringParam p = {OSS_CURRENT_VERSION, {}};
        info.toString(&p);
        // On a line of its own, without a blank line after a name that ended its line.
        const bool lineEnded = t.target.length > 0 && t.target.s[t.target.length - 1] == '\n';
        t.target.add("%s%s", lineEnded ? "" : "\n", p.buffer);
    }
}

void fileSystemText(const char* targetName, Texts& t)
{
    OSSDiskInfo disk;
    OSSGetDiskInfoParam param = {OSS_CURRENT_VERSION, targetName, &disk};
    if (!answered(ossGetDiskInfo(&param))) return;
    OSSDiskInfo::toStringParam p = {OSS_CURRENT_VERSION, {}};
    disk.toString(&p);
    t.fileSystem.add("%s", p.buffer);
}

void gather(Uint32 set, const char* targetName, Uint32 targetHandle,
            const Uint32* allocationSize, Texts& t)
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
    if (set & kMemoryInfo) memoryTexts(allocationSize, t);
    if (set & kTargetFile) targetTexts(targetName, targetHandle, t);
    if (set & kIoAttempt) t.ioAttempt.add("I/O attempt not implemented yet.\n");
    if ((set & kPathAccess) && targetName) pathWalkText(targetName, t.path);
    if ((set & kFileSystem) && targetName) fileSystemText(targetName, t);
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
    gather(set, nullptr, 0xFFFFFFFFu, size, t);
    writeRecord(kFnMemoryAnalysis, request, t);
}

void ioAnalysis(const OSSErrorAnalysisRequest& request)
{
    const Uint32 set =
        osse_analysis::selectIO(request.failedCall, request.osError, cRuntimeCall(request.failedCall));
    if (osse_analysis::analysisCount(set) == 0) return;
    const OSSErrorAnalysisIODetails* io = (const OSSErrorAnalysisIODetails*)request.details;
    Texts t;
    gather(set, io ? io->targetFileName : nullptr, io ? io->targetFileHandle : 0xFFFFFFFFu,
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
    if (!g_analysing.enter()) {
        SetLastError(lastError);
        return;
    }
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
    g_analysing.leave();
    SetLastError(lastError);
}
