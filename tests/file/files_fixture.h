// Helpers of the file, path and directory tests: files with content, attributes, the
// diagnostic-log records an operation writes, and a drive letter of their own.
#ifndef OSSE_TESTS_FILE_FILES_FIXTURE_H
#define OSSE_TESTS_FILE_FILES_FIXTURE_H

#include <windows.h>
#include <winioctl.h>

#include <cstdarg>
#include <cstring>
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

// A free drive letter mapped to a folder while the object lives, as `subst` maps one. Where
// DefineDosDevice does not reach file access (Wine keeps its drives with its mount manager),
// the mount manager's own request for a drive over a host folder is used instead. letter() is
// 0 when neither works, and why() says what failed.
class MappedDrive {
public:
    explicit MappedDrive(const std::string& folder) : folder_(folder)
    {
        const DWORD used = GetLogicalDrives();
        for (char d = 'M'; d <= 'Y' && !letter_; ++d) {
            const std::string root = std::string(1, d) + ":\\";
            if (!(used & (1u << (d - 'A'))) &&
                GetFileAttributesA(root.c_str()) == INVALID_FILE_ATTRIBUTES) {
                letter_ = d;
            }
        }
        if (!letter_) {
            why_ = "no free drive letter";
            return;
        }
        if (DefineDosDeviceA(0, name().c_str(), folder.c_str())) {
            if (reaches()) return;
            DefineDosDeviceA(DDD_REMOVE_DEFINITION, name().c_str(), nullptr);
        }
        if (wineDefine(folder) && reaches()) {
            wine_ = true;
            return;
        }
        wineDefine("");
        why_ = std::string("drive ") + letter_ + ": could not be mapped to " + folder;
        letter_ = 0;
    }
    ~MappedDrive()
    {
        if (!letter_) return;
        SetEnvironmentVariableA(("=" + name()).c_str(), nullptr);
        if (wine_)
            wineDefine("");
        else
            DefineDosDeviceA(DDD_REMOVE_DEFINITION, name().c_str(), nullptr);
    }
    MappedDrive(const MappedDrive&) = delete;
    MappedDrive& operator=(const MappedDrive&) = delete;

    char letter() const { return letter_; }
    const std::string& why() const { return why_; }
    std::string name() const { return std::string(1, letter_) + ":"; }
    // Records `dir` (a path on the drive) as the drive's current directory, as a command shell
    // does when it leaves the drive: "M:" then names it.
    void setCurrent(const std::string& dir) const
    {
        SetEnvironmentVariableA(("=" + name()).c_str(), dir.c_str());
    }

private:
    // A file made in the folder is seen through the drive.
    bool reaches() const
    {
        const std::string probe = folder_ + "\\~drive.probe";
        writeFile(probe, "");
        const bool seen = GetFileAttributesA((name() + "\\~drive.probe").c_str()) !=
                          INVALID_FILE_ATTRIBUTES;
        DeleteFileA(probe.c_str());
        return seen;
    }

    // Wine's mount manager: define (or, with no folder, remove) a drive over a host folder.
    bool wineDefine(const std::string& folder) const
    {
        struct UnixDrive {
            ULONG size, type, fsType;
            DWORD serial;
            ULONGLONG unixDev;
            WCHAR letter;
            USHORT mountPointOffset, deviceOffset, labelOffset;
        };
        using ToUnix = char*(__cdecl*)(const WCHAR*);
        HMODULE k32 = GetModuleHandleA("kernel32.dll");
        ToUnix toUnix = k32 ? (ToUnix)(void*)GetProcAddress(k32, "wine_get_unix_file_name")
                            : nullptr;
        if (!toUnix) return false;
        std::string unixPath;
        if (!folder.empty()) {
            WCHAR wide[MAX_PATH];
            if (!MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide, MAX_PATH)) return false;
            char* u = toUnix(wide);
            if (!u) return false;
            unixPath = u;
            HeapFree(GetProcessHeap(), 0, u);
        }
        std::vector<char> buf(sizeof(UnixDrive) + unixPath.size() + 1, 0);
        UnixDrive* d = reinterpret_cast<UnixDrive*>(buf.data());
        d->size = (ULONG)buf.size();
        // A drive is removed by defining it with no root.
        d->type = folder.empty() ? DRIVE_NO_ROOT_DIR : DRIVE_FIXED;
        d->letter = (WCHAR)(letter_ - 'A' + 'a');
        if (!unixPath.empty()) {
            memcpy(buf.data() + sizeof(UnixDrive), unixPath.c_str(), unixPath.size() + 1);
            d->mountPointOffset = sizeof(UnixDrive);
        }
        HANDLE mgr = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
        if (mgr == INVALID_HANDLE_VALUE) return false;
        const DWORD defineUnixDrive =
            CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
        DWORD n = 0;
        const BOOL ok = DeviceIoControl(mgr, defineUnixDrive, buf.data(), (DWORD)buf.size(),
                                        nullptr, 0, &n, nullptr);
        CloseHandle(mgr);
        return ok != FALSE;
    }

    std::string folder_;
    std::string why_;
    char letter_ = 0;
    bool wine_ = false;
};

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
