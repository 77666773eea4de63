// Shared fixtures of the diagnostic tests: a log facility on a scratch file, the file cut into
// records by their locators, and the expected header of a record.
#ifndef OSSE_TESTS_DIAG_TEST_H
#define OSSE_TESTS_DIAG_TEST_H

#include <windows.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"

namespace diagtest {

inline std::string readFile(const std::string& path)
{
    std::string data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return data;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, n);
    fclose(f);
    return data;
}

inline bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline OSSLogFacOpenParam openParam(Uint32 destination, const std::string& path,
                                    Uint32 level = 5, const char* name = "osse-test")
{
    OSSLogFacOpenParam p = {};
    p.version = OSS_CURRENT_VERSION;
    snprintf(p.path, sizeof p.path, "%s", path.c_str());
    snprintf(p.name, sizeof p.name, "%s", name);
    p.level = level;
    p.destination = destination;
    return p;
}

// A record of a log file as its locator describes it.
struct Record {
    size_t start;       // offset of the record's leading "\r\n"
    std::string text;   // the record, leading "\r\n" included
};

// Cuts a log file into records by walking the locators: each must give the offset just after
// its record's leading line break and the length from there, and the records must tile the file.
inline std::vector<Record> cutRecords(const std::string& file)
{
    std::vector<Record> out;
    static const std::regex locator("^I([0-9]+)H([0-9]+) ");
    size_t pos = 0;
    while (pos < file.size()) {
        std::smatch m;
        std::string at = file.substr(pos + 33, 18);
        if (file.compare(pos, 2, "\r\n") != 0 || !std::regex_search(at, m, locator)) {
            ADD_FAILURE() << "no record with a locator at offset " << pos;
            break;
        }
        const unsigned long long offset = std::stoull(m[1]);
        const unsigned long long length = std::stoull(m[2]);
        if (offset != pos + 2 || pos + 2 + length > file.size()) {
            ADD_FAILURE() << "locator I" << offset << "H" << length << " of the record at "
                          << pos << " does not cut it";
            break;
        }
        out.push_back({pos, file.substr(pos, (size_t)length + 2)});
        pos += (size_t)length + 2;
    }
    return out;
}

// Checks the variable start of a record's first line (time stamp, UTC offset and, in a log file,
// the locator, blank-filled to byte 50) and replaces those 49 bytes by "<STAMP>".
inline std::string maskStamp(const std::string& record, bool withLocator)
{
    static const std::regex stamp(
        "^[0-9]{4}-[0-9]{2}-[0-9]{2}-[0-9]{2}\\.[0-9]{2}\\.[0-9]{2}\\.[0-9]{3}000"
        "[+-][0-9]{3} +$");
    static const std::regex stampLocator(
        "^[0-9]{4}-[0-9]{2}-[0-9]{2}-[0-9]{2}\\.[0-9]{2}\\.[0-9]{2}\\.[0-9]{3}000"
        "[+-][0-9]{3} I[0-9]+H[0-9]+ +$");
    if (record.size() < 51 || record.compare(0, 2, "\r\n") != 0) {
        ADD_FAILURE() << "not a record: " << record;
        return record;
    }
    const std::string head = record.substr(2, 49);
    if (!std::regex_match(head, withLocator ? stampLocator : stamp)) {
        ADD_FAILURE() << "time stamp, offset or locator malformed: [" << head << "]";
        return record;
    }
    return "\r\n<STAMP>" + record.substr(51);
}

// The names printed on the FUNCTION line for the library's operations used in these tests.
inline std::string functionNames(Uint32 id)
{
    const char* name = "?";
    switch (id) {
    case 0x081A0002: name = "OSSHFile::open"; break;
    case 0x081A0003: name = "OSSHFile::close"; break;
    case 0x081A0007: name = "OSSHFile::read"; break;
    case 0x081A0008: name = "OSSHFile::write"; break;
    case 0x081A0009: name = "OSSHFile::lock"; break;
    case 0x081A0058: name = "ossMemAlloc"; break;
    case 0x081A00BA: name = "ossStrCompWithPads"; break;
    }
    return std::string("NRV Common Services, OSSe, ") + name;
}

// The names printed on the CALLED line for the operating-system calls used in these tests.
inline std::string osCallNames(Uint32 id)
{
    const char* name = "?";
    switch (id) {
    case 0x08140069: name = "CloseHandle"; break;
    case 0x0814009D: name = "_stat"; break;
    }
    return std::string("OS, -, ") + name;
}

// The expected first three lines of a record written by this thread, after maskStamp.
inline std::string header(const char* level, Uint32 functionId, Uint32 probe, bool os = false)
{
    char text[512];
    snprintf(text, sizeof text,
             "\r\n<STAMP> LEVEL: %s%s\r\nPID     : %-21luTID : %lu\r\nFUNCTION: %s, probe:%u\r\n",
             level, os ? " (OS)" : "", GetCurrentProcessId(), GetCurrentThreadId(),
             functionNames(functionId).c_str(), probe);
    return text;
}

// A log facility writing to a file in a fresh folder.
class FileLog {
public:
    explicit FileLog(Uint32 level = 5, bool useDefault = false)
        : path_(dir_.file("diag.log")), facility_(useDefault ? nullptr : &own_)
    {
        OSSLogFacOpenParam p = openParam(OSS_LOG_DEST_FILE, path_, level);
        EXPECT_EQ(ossLogFacOpen(&p, facility_), 0u);
    }
    ~FileLog() { ossLogFacClose(facility_); }

    OSSLogFacility* facility() { return facility_; }
    const std::string& path() const { return path_; }
    std::string contents() const { return readFile(path_); }
    std::vector<Record> records() const { return cutRecords(contents()); }
    // The text of every record, stamps checked and masked.
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const Record& r : records()) out.push_back(maskStamp(r.text, true));
        return out;
    }
    // The only record's text; fails when there is not exactly one.
    std::string only() const
    {
        std::vector<std::string> all = texts();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? std::string() : all[0];
    }
    void clear() const { DeleteFileA(path_.c_str()); }

private:
    ossetest::TempDir dir_;
    std::string path_;
    OSSLogFacility own_ = {};
    OSSLogFacility* facility_;
};

inline OSSLogItem item(const void* p, Sint32 size, Sint32 type)
{
    return OSSLogItem{p, size, type};
}

}  // namespace diagtest

#endif
