// Reading a trap file into text: the sections, where a file is cut or damaged. Plain C++ over
// bytes (no Windows header): the file comes through a Source, the text goes to an Output, and
// what needs the system (symbol names, whether a module image may be opened) is asked of the
// Output, so that the same reader serves the tool, the tests and the fuzzer.
//
// The sections carry no tags of their own: which ones are present follows from the header's
// flags (exception record, context, modules, memory) and from what the bytes look like (the
// system information starts with its page size and version-record size, the environment is a
// run of short length-prefixed strings closed by its end marker).
//
// Files of both layouts are read, whichever build this is: the 32-bit one (4-byte addresses,
// x86 context) and the 64-bit one (8-byte addresses, AMD64 context), told apart by the
// header's eye-catcher. Nothing is read through this build's own system records: the few
// fields of system records that are printed are taken at their byte offsets (below).
#ifndef OSSETOOL_TRAPREAD_H
#define OSSETOOL_TRAPREAD_H

#include <stddef.h>

#include <string>
#include <vector>

#include "osse/stack.h"

namespace trapread {

// Byte offsets in the system records of a trap file, which are the same in both layouts (the
// Windows build of the tool checks them against the system's own declarations).
constexpr size_t kVersionMajor = 4, kVersionMinor = 8, kVersionBuild = 12, kVersionText = 20;
constexpr size_t kVersionTextSize = 128;
constexpr size_t kMemoryLoad = 4, kMemoryTotalPhys = 8, kMemoryAvailPhys = 16;
constexpr Uint32 kAccessViolation = 0xC0000005u;

// The file: its size and its bytes at an offset.
class Source {
public:
    virtual Uint64 size() const = 0;
    // n bytes at offset into out; false when they cannot all be read.
    virtual bool readAt(Uint64 offset, void* out, size_t n) = 0;

protected:
    ~Source() = default;
};

// A file held in memory.
class MemorySource final : public Source {
public:
    MemorySource(const void* data, size_t size) : data_(static_cast<const Uint8*>(data)), size_(size) {}
    Uint64 size() const override { return size_; }
    bool readAt(Uint64 offset, void* out, size_t n) override;

private:
    const Uint8* data_;
    size_t size_;
};

// A module record of either layout.
struct Module {
    std::string path;
    Uint64 markerAddress = 0, base = 0, end = 0;
    Uint32 timeStamp = 0;
    bool openable = false;  // the path may be opened for its symbols
};

// Where the text goes, and what the reader asks of the system.
class Output {
public:
    virtual void text(const char* s, size_t n) = 0;
    // Whether a module path whose form was accepted may be opened for its symbols; *why says
    // what was refused (null for a file that is simply not there). By default nothing is.
    virtual bool openableImage(const std::string& path, const char** why);
    // The symbol of an address as "name+0xN", "" when unknown; `modules` are those of the file.
    virtual std::string symbolName(const std::vector<Module>& modules, Uint64 address);

protected:
    ~Output() = default;
};

// Prints the trap file's sections. The header is at `headerOffset`, or (when it is negative)
// at the first eye-catcher of either layout (a trap may be appended to a file that held other
// bytes). `name` is printed in the first line. Returns 0 when the file was read to its end,
// 1 when it is cut or damaged (the text says where).
int read(Source& file, Output& out, const char* name, long long headerOffset = -1);

// Why a module path from a trap file must not be opened, by its form alone; null when it names
// something on a drive letter.
const char* pathRefusal(const std::string& path);

}  // namespace trapread

#endif
