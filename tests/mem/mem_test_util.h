// Shared by the memory tests: a recorder of assertion failures and block-layout accessors.
#ifndef OSSE_MEM_TEST_UTIL_H
#define OSSE_MEM_TEST_UTIL_H

#include <windows.h>

#include <string>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"

namespace memtest {

struct Failure {
    std::string expression;
    std::string file;
    Uint32 line;
    std::string dumpDir;
    Uint8 fatal;
};

// Every assertion failure of the process while a Recorder lives.
class Recorder {
public:
    Recorder();
    ~Recorder();
    std::vector<Failure> take();
    // Expressions only, in order.
    std::vector<std::string> texts();

private:
    static void callback(const char* expression, const char* file, Uint32 line,
                         const char* dumpDir, Uint8 fatal, const OSSAssertDataItem* items);
};

inline Uint32 word(const void* base, int offset)
{
    Uint32 w;
    memcpy(&w, (const Uint8*)base + offset, 4);
    return w;
}
inline void setWord(void* base, int offset, Uint32 value) { memcpy((Uint8*)base + offset, &value, 4); }

std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
std::vector<std::string> lines(const std::string& text);
// Files in dir whose names match the wildcard.
std::vector<std::string> listFiles(const std::string& dir, const std::string& wildcard);

}  // namespace memtest

#endif
