// Records per second appended to a log file by ossLog, beside the bare Win32 call sequence the
// file destination makes (open, lock, seek, size, write, unlock, close) writing a pre-built
// record of the same length. The difference is what building a record costs.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "osse/osse.h"

namespace {

// Many short rounds, the two sides alternating, and the fastest round of each side kept: the
// machine is shared, and the fastest round is the one least disturbed.
constexpr int kRecordsPerRound = 100;
constexpr int kRounds = 60;

// One record as an operation's failure typically produces it.
Uint32 logOne(OSSLogFacility* f, Uint32 i)
{
    const Uint32 handle = 0x1F4;
    const Uint64 offset = 0x12345678ull + i;
    static const char name[] = "C:\\data\\tables\\T0001.DAT";
    const OSSLogItem items[3] = {{&handle, 4, OSS_ITEM_HEX},
                                 {name, (Sint32)sizeof name - 1, OSS_ITEM_STRING},
                                 {&offset, 8, OSS_ITEM_UNSIGNED}};
    return ossLog(f, 0x081A0007, 0x90000001, 40, 5, 3, items[0], items[1], items[2]);
}

// The destination's call sequence with nothing else around it.
bool appendBare(const char* path, const char* record, DWORD length)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED at = {};
    bool ok = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
    if (ok) {
        DWORD high = 0, written = 0;
        ok = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
             GetFileSize(file, &high) != INVALID_FILE_SIZE &&
             WriteFile(file, record, length, &written, nullptr) && written == length;
        UnlockFileEx(file, 0, 1, 0, &at);
    }
    CloseHandle(file);
    return ok;
}

}  // namespace

int main()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char dir[MAX_PATH];
    snprintf(dir, sizeof dir, "%sosse_bench_log_%lu", temp, GetCurrentProcessId());
    CreateDirectoryA(dir, nullptr);
    const std::string logPath = std::string(dir) + "\\osslog.log";
    const std::string barePath = std::string(dir) + "\\bare.log";

    OSSLogFacOpenParam p = {};
    p.version = OSS_CURRENT_VERSION;
    snprintf(p.path, sizeof p.path, "%s", logPath.c_str());
    snprintf(p.name, sizeof p.name, "bench");
    p.level = OSS_LEVEL_INFO;
    p.destination = OSS_LOG_DEST_FILE;
    OSSLogFacility facility = {};
    if (ossLogFacOpen(&p, &facility) != 0 || logOne(&facility, 0) != 0) {
        fprintf(stderr, "cannot log to %s\n", logPath.c_str());
        return 1;
    }

    // The pre-built record: the one just written, of the same length as the ones to come.
    char record[OSS_LOG_RECORD_MAX];
    DWORD length = 0;
    {
        HANDLE f = CreateFileA(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        ReadFile(f, record, sizeof record - 1, &length, nullptr);
        CloseHandle(f);
    }

    double bestLog = 1e30, bestBare = 1e30;
    std::vector<double> ratios, extra;
    for (int round = 0; round < kRounds; ++round) {
        double t0 = nowSeconds();
        for (int i = 0; i < kRecordsPerRound; ++i)
            if (logOne(&facility, (Uint32)i) != 0) return 2;
        double t1 = nowSeconds();
        for (int i = 0; i < kRecordsPerRound; ++i)
            if (!appendBare(barePath.c_str(), record, length)) return 3;
        double t2 = nowSeconds();
        if (t1 - t0 < bestLog) bestLog = t1 - t0;
        if (t2 - t1 < bestBare) bestBare = t2 - t1;
        ratios.push_back((t1 - t0) / (t2 - t1));
        extra.push_back((t1 - t0 - (t2 - t1)) / kRecordsPerRound);
    }
    std::sort(ratios.begin(), ratios.end());
    std::sort(extra.begin(), extra.end());
    // The writer alone: the same request on a facility with no destination builds the record
    // text and returns without sending it anywhere.
    OSSLogFacility unsent = facility;
    unsent.destination = 0;
    double bestBuild = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        double t0 = nowSeconds();
        for (int i = 0; i < kRecordsPerRound; ++i) logOne(&unsent, (Uint32)i);
        double t1 = nowSeconds();
        if (t1 - t0 < bestBuild) bestBuild = t1 - t0;
    }
    ossLogFacClose(&facility);
    DeleteFileA(logPath.c_str());
    DeleteFileA(barePath.c_str());
    RemoveDirectoryA(dir);

    const double logPer = bestLog / kRecordsPerRound, barePer = bestBare / kRecordsPerRound;
    printf("record length            : %lu bytes\n", (unsigned long)length);
    printf("ossLog to a log file     : %10.0f records/s  (%.2f us/record)\n", 1.0 / logPer,
           logPer * 1e6);
    printf("bare Win32 append        : %10.0f records/s  (%.2f us/record)\n", 1.0 / barePer,
           barePer * 1e6);
    printf("ratio ossLog / bare      : %.3f (median of %d rounds; fastest rounds %.3f; target at "
           "most 1.15)\n",
           ratios[ratios.size() / 2], kRounds, logPer / barePer);
    printf("ossLog over bare         : %.2f us/record (median of the rounds' differences)\n",
           extra[extra.size() / 2] * 1e6);
    printf("building a record        : %.2f us/record (ossLog on a facility without destination)\n",
           bestBuild / kRecordsPerRound * 1e6);
    return 0;
}
