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

// The full-mode layout of this build: the record is 48 bytes on i686 and 64 on x86_64, where an
// odd number of front pad units also leaves 8 bytes in front of them, so that the user address
// stays 16-byte aligned.
constexpr int kRecordSize = (int)sizeof(OSSMemFullRecord);
constexpr Uint32 kAlignSlack = sizeof(void*) == 8 ? 8 : 0;
inline Uint32 fullGap(Uint32 frontUnits) { return kAlignSlack && (frontUnits & 1) ? 8 : 0; }
// User address - start of the memory from malloc.
inline Uint32 fullUserOffset(Uint32 frontUnits)
{
    return fullGap(frontUnits) + 8 * frontUnits + kRecordSize + 16;
}
// Bytes obtained from malloc.
inline Uint32 fullTotal(Uint32 size, Uint32 frontUnits, Uint32 backUnits)
{
    return ((size + 7) & ~7u) + kRecordSize + 16 + 8 + kAlignSlack + 8 * (frontUnits + backUnits);
}
// The record of a full-mode block, and its pad type word (just before the header).
inline OSSMemFullRecord* recordOf(void* user)
{
    return (OSSMemFullRecord*)((Uint8*)user - 16 - kRecordSize);
}

std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
std::vector<std::string> lines(const std::string& text);
// Files in dir whose names match the wildcard.
std::vector<std::string> listFiles(const std::string& dir, const std::string& wildcard);

}  // namespace memtest

#endif
