// ossetool trap FILE: prints the sections of a trap file and says where a file is cut or
// damaged. The reading itself is in trapread.cpp; here are the file, the symbol names of the
// trapped process and the checks of a module image on disk, which need the system.
#include <windows.h>

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "osse/osse.h"
#include "trapread.h"
#include "verbs.h"

// The reader takes the fields it prints from the system records at these offsets.
static_assert(offsetof(OSVERSIONINFOEXA, dwMajorVersion) == trapread::kVersionMajor, "version");
static_assert(offsetof(OSVERSIONINFOEXA, dwMinorVersion) == trapread::kVersionMinor, "version");
static_assert(offsetof(OSVERSIONINFOEXA, dwBuildNumber) == trapread::kVersionBuild, "version");
static_assert(offsetof(OSVERSIONINFOEXA, szCSDVersion) == trapread::kVersionText, "version");
static_assert(sizeof(((OSVERSIONINFOEXA*)nullptr)->szCSDVersion) == trapread::kVersionTextSize, "version");
static_assert(sizeof(OSVERSIONINFOEXA) == OSS_TRAP_VERSION_INFO_SIZE, "version");
static_assert(offsetof(MEMORYSTATUSEX, dwMemoryLoad) == trapread::kMemoryLoad, "memory");
static_assert(offsetof(MEMORYSTATUSEX, ullTotalPhys) == trapread::kMemoryTotalPhys, "memory");
static_assert(offsetof(MEMORYSTATUSEX, ullAvailPhys) == trapread::kMemoryAvailPhys, "memory");
static_assert(EXCEPTION_ACCESS_VIOLATION == trapread::kAccessViolation, "access violation");

namespace {

// The file, read at the offsets asked for.
class FileSource final : public trapread::Source {
public:
    ~FileSource()
    {
        if (f_) fclose(f_);
    }
    bool open(const char* path)
    {
        f_ = fopen(path, "rb");
        if (!f_ || _fseeki64(f_, 0, SEEK_END) != 0) return false;
        const long long end = _ftelli64(f_);
        if (end < 0) return false;
        size_ = (Uint64)end;
        return true;
    }
    Uint64 size() const override { return size_; }
    bool readAt(Uint64 offset, void* out, size_t n) override
    {
        if (offset > size_ || n > size_ - offset) return false;
        return _fseeki64(f_, (long long)offset, SEEK_SET) == 0 && fread(out, 1, n, f_) == n;
    }

private:
    FILE* f_ = nullptr;
    Uint64 size_ = 0;
};

// The largest module image opened for symbols.
constexpr Uint64 kImageSizeMax = 512ull << 20;

// Prints to stdout; opens module images of the trapped process for symbol names.
// An image is loaded when a frame first falls into it: reading debug information takes a
// while, and most modules hold no frame. Addresses this build cannot hold are not named.
class ToolOutput final : public trapread::Output {
public:
    void text(const char* s, size_t n) override { fwrite(s, 1, n, stdout); }

    // A module path of an accepted form may be opened when it names a regular file of bounded
    // size.
    bool openableImage(const std::string& path, const char** why) override
    {
        *why = nullptr;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
        const Uint64 size = ((Uint64)data.nFileSizeHigh << 32) | data.nFileSizeLow;
        if (data.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT))
            *why = "not a regular file";
        else if (size < 64)  // a pipe or a device seen through a drive has no size
            *why = "too small for an image";
        else if (size > kImageSizeMax)
            *why = "larger than an image is taken";
        return !*why;
    }

    std::string symbolName(const std::vector<trapread::Module>& modules, Uint64 address) override
    {
        if (!tried_) {
            tried_ = true;
            ready_ = ossSymInitialize(GetCurrentProcess(), nullptr, FALSE) != 0;
        }
        if (loaded_.size() < modules.size()) loaded_.resize(modules.size(), false);
        if (!ready_ || !address || !fits(address)) return "";
        for (size_t i = 0; i < modules.size(); ++i) {
            const trapread::Module& m = modules[i];
            if (address < m.base || address >= m.end || loaded_[i] || !m.openable) continue;
            loaded_[i] = true;
            if (fits(m.end) && m.end - m.base <= 0xFFFFFFFFu)
                ossSymLoadModule(GetCurrentProcess(), nullptr, m.path.c_str(), nullptr,
                                 (OSSSymAddress)m.base, (Uint32)(m.end - m.base));
        }
        char out[300];
        Uint32 displacement = 0;
        ossSymbolNameForAddress((const void*)(uintptr_t)address, out, sizeof out, &displacement);
        if (strncmp(out, "0x", 2) == 0) return "";
        char text[340];
        snprintf(text, sizeof text, "%s+0x%X", out, (unsigned)displacement);
        return text;
    }

private:
    static bool fits(Uint64 address) { return address == (Uint64)(uintptr_t)address; }
    std::vector<bool> loaded_;
    bool tried_ = false;
    bool ready_ = false;
};

}  // namespace

int verbTrap(int argc, char** argv)
{
    static const char kUsage[] = "usage: ossetool trap FILE [--offset N]\n";
    const char* path = nullptr;
    long long offset = -1;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            printf("%s"
                   "Prints a trap file's sections and says where the file is cut or damaged.\n"
                   "  --offset N  reads the header at file offset N (by default it is found by its eye-catcher)\n",
                   kUsage);
            return 0;
        }
        if (!strcmp(argv[i], "--offset")) {
            char* end = nullptr;
            if (i + 1 < argc) offset = strtoll(argv[++i], &end, 0);
            if (!end || *end || offset < 0) {
                fprintf(stderr, "ossetool trap: --offset needs a number of bytes\n%s", kUsage);
                return 2;
            }
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            fprintf(stderr, "ossetool trap: unknown option '%s'\n%s", argv[i], kUsage);
            return 2;
        } else if (!path) {
            path = argv[i];
        }
    }
    if (!path) {
        fprintf(stderr, "%s", kUsage);
        return 2;
    }
    FileSource file;
    if (!file.open(path)) {
        fprintf(stderr, "ossetool trap: cannot open '%s'\n", path);
        return 2;
    }
    ToolOutput out;
    return trapread::read(file, out, path, offset);
}
