// Helpers of the file, path and directory tests: files with content, attributes, and the
// diagnostic-log records an operation writes.
#ifndef OSSE_TESTS_FILE_FILES_FIXTURE_H
#define OSSE_TESTS_FILE_FILES_FIXTURE_H

#include <windows.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"

namespace filetest {

inline void writeFile(const std::string& name, const std::string& content)
{
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, content.data(), (DWORD)content.size(), &n, nullptr));
    CloseHandle(h);
}

inline std::string readFile(const std::string& name)
{
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string all;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n) all.append(buf, n);
    CloseHandle(h);
    return all;
}

inline bool exists(const std::string& name)
{
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool isReadOnly(const std::string& name)
{
    const DWORD a = GetFileAttributesA(name.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

inline void makeReadOnly(const std::string& name)
{
    const DWORD a = GetFileAttributesA(name.c_str());
    ASSERT_TRUE(SetFileAttributesA(name.c_str(), a | FILE_ATTRIBUTE_READONLY)) << name;
}

inline void makeDir(const std::string& name)
{
    ASSERT_TRUE(CreateDirectoryA(name.c_str(), nullptr)) << name;
}

// One diagnostic-log request, with its items' bytes copied while they were alive.
struct Record {
    Uint32 functionId, calledId, code, messageCode, probe, level, flags;
    std::vector<std::string> values;
};

inline std::vector<Record>& records()
{
    static std::vector<Record> r;
    return r;
}

inline Uint32 captureRecord(OSSLogFacility*, Uint32 fn, Uint32 called, Uint32 code, Uint32 msg,
                            Uint32 probe, Uint32 level, Uint32 flags, Sint32 count,
                            va_list* items)
{
    Record r{fn, called, code, msg, probe, level, flags, {}};
    std::vector<OSSLogItem> its;
    for (Sint32 i = 0; i < count; ++i) its.push_back(va_arg(*items, OSSLogItem));
    if (!its.empty() && its[0].type == OSS_ITEM_NESTED) {
        va_list* inner = (va_list*)its[0].p;
        Sint32 n = its[0].size;
        its.clear();
        for (Sint32 i = 0; i < n; ++i) its.push_back(va_arg(*inner, OSSLogItem));
    }
    for (const OSSLogItem& it : its)
        r.values.push_back(it.p ? std::string((const char*)it.p, (size_t)it.size) : "<null>");
    records().push_back(r);
    return 0;
}

// Captures every log request while it lives.
struct RecordCapture {
    RecordCapture()
    {
        records().clear();
        ossSetOSSeLogCallback(captureRecord);
    }
    ~RecordCapture() { ossSetOSSeLogCallback(nullptr); }
    const std::vector<Record>& all() const { return records(); }
    // The records of one operation.
    std::vector<Record> of(Uint32 functionId) const
    {
        std::vector<Record> out;
        for (const Record& r : records())
            if (r.functionId == functionId) out.push_back(r);
        return out;
    }
};

}  // namespace filetest

#endif
