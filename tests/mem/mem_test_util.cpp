#include "mem_test_util.h"

#include <stdio.h>

#include <fstream>
#include <mutex>
#include <sstream>

namespace memtest {
namespace {
// The callback must not allocate: a report about a freed block would otherwise be written into
// memory the heap hands out again while the block is still being examined.
struct RawFailure {
    char expression[160];
    char file[96];
    Uint32 line;
    char dumpDir[272];
    Uint8 fatal;
};
const size_t kMaxFailures = 256;
RawFailure g_raw[kMaxFailures];
size_t g_count = 0;
std::mutex g_mutex;

void copyText(char* to, size_t size, const char* from)
{
    snprintf(to, size, "%s", from ? from : "(null)");
}
}  // namespace

Recorder::Recorder()
{
    take();
    ossSetAssertionCallback(&Recorder::callback);
}

Recorder::~Recorder()
{
    ossSetAssertionCallback(nullptr);
}

void Recorder::callback(const char* expression, const char* file, Uint32 line, const char* dumpDir,
                        Uint8 fatal, const OSSAssertDataItem*)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_count == kMaxFailures) return;
    RawFailure& f = g_raw[g_count++];
    copyText(f.expression, sizeof f.expression, expression);
    copyText(f.file, sizeof f.file, file);
    f.line = line;
    copyText(f.dumpDir, sizeof f.dumpDir, dumpDir);
    f.fatal = fatal;
}

std::vector<Failure> Recorder::take()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<Failure> out;
    for (size_t i = 0; i < g_count; ++i)
        out.push_back({g_raw[i].expression, g_raw[i].file, g_raw[i].line, g_raw[i].dumpDir,
                       g_raw[i].fatal});
    g_count = 0;
    return out;
}

std::vector<std::string> Recorder::texts()
{
    std::vector<std::string> out;
    for (const Failure& f : take()) out.push_back(f.expression);
    return out;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            if (!cur.empty() && cur.back() == '\r') cur.pop_back();
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

std::vector<std::string> listFiles(const std::string& dir, const std::string& wildcard)
{
    std::vector<std::string> out;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\" + wildcard).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        out.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return out;
}

}  // namespace memtest
