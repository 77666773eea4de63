// Throughput of `ossetool log FILE --stats` on a 256 MiB log, beside a loop that only reads the
// same file with the same buffer size (1 MiB). The log is made of real records that the library
// wrote, repeated with their locators set to their new positions, written with plain file
// writes. Usage: bench_ossetool_log [PATH_OF_OSSETOOL_EXE] (default: beside this program's
// build folder, ..\tools\ossetool\ossetool.exe).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "osse/osse.h"

namespace {

constexpr Uint64 kLogBytes = 256ull << 20;
constexpr DWORD kBuffer = 1u << 20;
constexpr int kRounds = 5;  // the fastest round of each side is kept: the machine is shared

std::string readAll(const std::string& path)
{
    std::string data;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return data;
    char chunk[65536];
    DWORD n = 0;
    while (ReadFile(h, chunk, sizeof chunk, &n, nullptr) && n) data.append(chunk, n);
    CloseHandle(h);
    return data;
}

// A few records as the library writes them: failures with items, system-call failures, called
// functions' codes, at several levels.
std::vector<std::string> sampleRecords(const std::string& dir)
{
    const std::string path = dir + "\\sample.log";
    DeleteFileA(path.c_str());
    OSSLogFacOpenParam p = {};
    p.version = OSS_CURRENT_VERSION;
    snprintf(p.path, sizeof p.path, "%s", path.c_str());
    snprintf(p.name, sizeof p.name, "bench");
    p.level = 5;
    p.destination = OSS_LOG_DEST_FILE;
    OSSLogFacility f = {};
    ossLogFacOpen(&p, &f);
    const Uint32 handle = 0x1F4;
    const Uint64 offset = 0x12345678ull;
    static const char name[] = "C:\\data\\tables\\T0001.DAT";
    const OSSLogItem str = {name, (Sint32)sizeof name - 1, OSS_ITEM_STRING};
    ossLog(&f, 0x081A0007, 0x90000001, 40, 5, 3, OSSLogItem{&handle, 4, OSS_ITEM_HEX}, str,
           OSSLogItem{&offset, 8, OSS_ITEM_UNSIGNED});
    ossLogSysRC(&f, 0x081A0002, 0x0814006D, 3, 0x9000001D, 280, 5, 1, str);
    ossLogRC(&f, 0x081A0009, 0x081A0003, 0x9000000C, 0, 20, 4, 0);
    ossLog(&f, 0x081A0058, 0x9000000B, 10, 1, 1, OSSLogItem{&offset, 8, OSS_ITEM_UNSIGNED});
    ossLog(&f, 0x081A0003, 0, 1, 6, 0);
    ossLogFacClose(&f);

    // Cut the sample by its locators.
    const std::string data = readAll(path);
    DeleteFileA(path.c_str());
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos + 51 <= data.size()) {
        unsigned long long at = 0;
        unsigned length = 0;
        if (sscanf(data.c_str() + pos + 33, "I%lluH%u", &at, &length) != 2) break;
        out.push_back(data.substr(pos, length + 2));
        pos += length + 2;
    }
    return out;
}

// Writes records round-robin until the file holds `bytes`, each locator naming its position.
bool writeLog(const std::string& path, const std::vector<std::string>& records, Uint64 bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::vector<char> block;
    block.reserve(kBuffer + 8192);
    Uint64 written = 0;
    size_t next = 0;
    bool ok = true;
    while (ok && written < bytes) {
        block.clear();
        while (block.size() < kBuffer) {
            const std::string& r = records[next++ % records.size()];
            const Uint64 at = written + block.size();
            const size_t start = block.size();
            block.insert(block.end(), r.begin(), r.end());
            char locator[19];
            snprintf(locator, sizeof locator, "I%lluH%-16u", (unsigned long long)(at + 2),
                     (unsigned)(r.size() - 2));
            memcpy(block.data() + start + 33, locator, 17);
        }
        DWORD n = 0;
        ok = WriteFile(h, block.data(), (DWORD)block.size(), &n, nullptr) && n == block.size();
        written += block.size();
    }
    CloseHandle(h);
    return ok;
}

// The peer: reads the whole file once with a 1 MiB buffer and counts its line ends.
double readOnly(const std::string& path, Uint64* lines)
{
    std::vector<char> buffer(kBuffer);
    const double t0 = nowSeconds();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    DWORD n = 0;
    Uint64 count = 0;
    while (ReadFile(h, buffer.data(), kBuffer, &n, nullptr) && n)
        count += (Uint64)std::count(buffer.data(), buffer.data() + n, '\n');
    CloseHandle(h);
    *lines = count;
    return nowSeconds() - t0;
}

// The tool, started as a user starts it, its output going to the null device.
double toolStats(const std::string& tool, const std::string& path, DWORD* exitCode)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = nul;
    si.hStdError = nul;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string cmd = "\"" + tool + "\" log \"" + path + "\" --stats";
    PROCESS_INFORMATION pi = {};
    const double t0 = nowSeconds();
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(nul);
        *exitCode = 9999;
        return 0;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    const double t = nowSeconds() - t0;
    GetExitCodeProcess(pi.hProcess, exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(nul);
    return t;
}

std::string defaultTool()
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string dir(exe);
    dir = dir.substr(0, dir.find_last_of("\\/"));
    return dir + "\\..\\tools\\ossetool\\ossetool.exe";
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string tool = argc > 1 ? argv[1] : defaultTool();
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    const std::string dir = tmp;
    const std::string path = dir + "\\osse_bench_log.log";

    const std::vector<std::string> records = sampleRecords(dir);
    if (records.size() != 5) {
        fprintf(stderr, "could not build the sample records (%u)\n", (unsigned)records.size());
        return 1;
    }
    const double g0 = nowSeconds();
    if (!writeLog(path, records, kLogBytes)) {
        fprintf(stderr, "could not write %s\n", path.c_str());
        return 1;
    }
    const double gen = nowSeconds() - g0;
    const double mib = (double)kLogBytes / (1 << 20);
    printf("log of %.0f MiB written in %.2f s (%.0f MiB/s)\n", mib, gen, mib / gen);

    Uint64 lines = 0;
    readOnly(path, &lines);  // both sides then read from the cache
    double bestRead = 1e9, bestTool = 1e9;
    DWORD exitCode = 0;
    for (int i = 0; i < kRounds; ++i) {
        bestRead = std::min(bestRead, readOnly(path, &lines));
        bestTool = std::min(bestTool, toolStats(tool, path, &exitCode));
        if (exitCode != 0) {
            fprintf(stderr, "ossetool log --stats exited with %lu (%s)\n", exitCode, tool.c_str());
            DeleteFileA(path.c_str());
            return 1;
        }
    }
    if (!getenv("OSSE_BENCH_KEEP")) DeleteFileA(path.c_str());
    printf("read-only loop, 1 MiB buffer (%llu lines): %8.0f MiB/s\n", (unsigned long long)lines,
           mib / bestRead);
    printf("ossetool log --stats (process start included): %8.0f MiB/s\n", mib / bestTool);
    printf("ratio ossetool log --stats / read-only: %.2f (target >= 0.5)\n", bestRead / bestTool);
    return 0;
}
