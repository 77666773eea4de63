// ossetool trap FILE: prints the sections of a trap file and says where a file is cut or
// damaged.
//
// The sections carry no tags of their own: which ones are present follows from the header's
// flags (exception record, context, modules, memory) and from what the bytes look like (the
// system information starts with its page size and version-record size, the environment is a
// run of short length-prefixed strings closed by its end marker).
//
// Files of both layouts are read, whichever build this tool is: the 32-bit one (4-byte
// addresses, x86 context) and the 64-bit one (8-byte addresses, AMD64 context), told apart by
// the header's eye-catcher. Nothing is read through this build's own system records.
//
// A trap file comes from a failing process and may be damaged, or made to do harm: it is read
// in bounded pieces (it may hold the memory of a whole process), every count and size in it is
// checked against what the file holds before it is used, its fixed-size strings are printed
// within their fields, and a module path in it is opened for symbols only when it names a
// regular file of bounded size on a drive letter (a network path would open a connection, a
// device or a pipe could block the tool for good).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "osse/osse.h"
#include "verbs.h"

namespace {

// The file, read a piece at a time at the offsets asked for.
class Reader {
public:
    ~Reader()
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
    Uint64 pos = 0;
    Uint64 size() const { return size_; }
    Uint64 left() const { return pos <= size_ ? size_ - pos : 0; }
    // n bytes at offset into out; false when the file does not hold them all.
    bool readAt(Uint64 offset, void* out, size_t n)
    {
        if (offset > size_ || n > size_ - offset) return false;
        return _fseeki64(f_, (long long)offset, SEEK_SET) == 0 && fread(out, 1, n, f_) == n;
    }
    // Takes n bytes of the named section: a record of the layout, or a length from the file
    // that was checked against its limit. False (with the message printed) when the file ends
    // first. *out stays valid until the next take.
    bool take(const char* section, size_t n, const Uint8** out)
    {
        if (!holds(section, n)) return false;
        piece_.resize(n ? n : 1);
        if (!readAt(pos, piece_.data(), n)) {
            printf("file cannot be read in the %s section at offset %s\n", section,
                   std::to_string(pos).c_str());
            return false;
        }
        *out = piece_.data();
        pos += n;
        return true;
    }
    // Passes over n bytes of the named section that are not printed.
    bool skip(const char* section, Uint64 n)
    {
        if (!holds(section, n)) return false;
        pos += n;
        return true;
    }
    template <class T>
    bool peek(T* v, Uint64 ahead = 0)
    {
        return ahead <= left() && readAt(pos + ahead, v, sizeof(T));
    }

    // True when n more bytes are in the file; says where it is cut otherwise.
    bool holds(const char* section, Uint64 n) const
    {
        if (n <= left()) return true;
        printf("file is cut in the %s section at offset %s: %s bytes needed, %s left\n", section,
               std::to_string(pos).c_str(), std::to_string(n).c_str(),
               std::to_string(left()).c_str());
        return false;
    }

private:
    FILE* f_ = nullptr;
    Uint64 size_ = 0;
    std::vector<Uint8> piece_;
};

// The offset of the first eye-catcher of either layout, searched a piece at a time; 0 when
// there is none.
Uint64 findHeader(Reader& r)
{
    std::vector<Uint8> piece(64 * 1024);
    const size_t overlap = 7;  // an eye-catcher across two pieces
    for (Uint64 at = 0; at < r.size(); at += piece.size() - overlap) {
        const size_t n = (size_t)std::min<Uint64>(piece.size(), r.size() - at);
        if (n < 8 || !r.readAt(at, piece.data(), n)) break;
        for (size_t i = 0; i + 8 <= n; ++i)
            if (memcmp(&piece[i], OSS_TRAP_EYECATCHER32, 8) == 0 ||
                memcmp(&piece[i], OSS_TRAP_EYECATCHER64, 8) == 0)
                return at + i;
        if (n < piece.size()) break;
    }
    return 0;
}

void hexLine(const Uint8* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) printf("%s%02X", i ? " " : "", p[i]);
    printf("\n");
}

void flagText(Uint32 flags)
{
    static const struct {
        Uint32 bit;
        const char* name;
    } names[] = {{OSS_TRAP_HDR_EXCEPTION, "exception"},     {OSS_TRAP_HDR_CONTEXT, "context"},
                 {OSS_TRAP_HDR_MODULES_DIRECT, "modules"},  {OSS_TRAP_HDR_CODE_UNREAD, "code unreadable"},
                 {OSS_TRAP_HDR_CODE_WINDOW, "code window"}, {OSS_TRAP_HDR_API_VERSION, "api version"},
                 {OSS_TRAP_HDR_MEMORY_DUMPED, "memory"},    {OSS_TRAP_HDR_MODULES_LIST, "module list"},
                 {OSS_TRAP_HDR_MEMSTATUS_EX, "memory status ex"},
                 {OSS_TRAP_HDR_MEMSTATUS, "memory status"}};
    printf("  flags: 0x%08X (", (unsigned)flags);
    bool first = true;
    for (const auto& n : names)
        if (flags & n.bit) {
            printf("%s%s", first ? "" : ", ", n.name);
            first = false;
        }
    printf(")\n");
}

// The sizes that differ between the two layouts.
struct Layout {
    bool wide;  // 8-byte addresses
    const char* eyeCatcher;
    size_t header, exception, context, module, systemInfo, memStatus, word;
};
const Layout kLayout32 = {false,
                          OSS_TRAP_EYECATCHER32,
                          OSS_TRAP_HEADER32_SIZE,
                          OSS_TRAP_EXCEPTION_RECORD32_SIZE,
                          OSS_TRAP_CONTEXT32_SIZE,
                          OSS_TRAP_MODULE_RECORD32_SIZE,
                          OSS_TRAP_SYSTEM_INFO32_SIZE,
                          OSS_TRAP_MEMSTATUS32_SIZE,
                          4};
const Layout kLayout64 = {true,
                          OSS_TRAP_EYECATCHER64,
                          OSS_TRAP_HEADER64_SIZE,
                          OSS_TRAP_EXCEPTION_RECORD64_SIZE,
                          OSS_TRAP_CONTEXT64_SIZE,
                          OSS_TRAP_MODULE_RECORD64_SIZE,
                          OSS_TRAP_SYSTEM_INFO64_SIZE,
                          OSS_TRAP_MEMSTATUS64_SIZE,
                          8};

// An address as wide as the file's layout: "0x" and 8 or 16 upper-case hex digits.
std::string hexAddress(const Layout& layout, Uint64 value)
{
    char text[24];
    const int digits = layout.wide ? 16 : 8;
    if (!layout.wide) value &= 0xFFFFFFFFu;
    text[0] = '0';
    text[1] = 'x';
    for (int i = 0; i < digits; ++i)
        text[2 + i] = "0123456789ABCDEF"[(value >> (4 * (digits - 1 - i))) & 0xF];
    text[2 + digits] = 0;
    return text;
}

std::string hex8(Uint64 value)
{
    char text[24];
    snprintf(text, sizeof text, "%08X", (unsigned)value);
    return text;
}

std::string hex16(Uint64 value)
{
    return hex8(value >> 32) + hex8(value & 0xFFFFFFFFu);
}

template <class T>
T fieldAt(const Uint8* p, size_t offset)
{
    T v;
    memcpy(&v, p + offset, sizeof v);
    return v;
}

// A module record of either layout.
struct Module {
    std::string path;
    Uint64 markerAddress, base, end;
    Uint32 timeStamp;
    bool openable;  // the path may be opened for its symbols
};

bool isDeviceName(const char* name, size_t length)
{
    // The name before its first dot, without trailing spaces, is what the system compares.
    size_t n = 0;
    while (n < length && name[n] != '.') ++n;
    while (n > 0 && name[n - 1] == ' ') --n;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : kDevices)
        if (n == strlen(d) && _strnicmp(name, d, n) == 0) return true;
    // COM0 to COM9 and LPT0 to LPT9, also with the superscript digits 1, 2 and 3.
    if (n == 4 && (_strnicmp(name, "COM", 3) == 0 || _strnicmp(name, "LPT", 3) == 0)) {
        const unsigned char digit = (unsigned char)name[3];
        return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

// Why a module path from a trap file must not be opened, by its form alone; null when it names
// something on a drive letter.
const char* pathRefusal(const std::string& path)
{
    const char* p = path.c_str();
    if (!strncmp(p, "\\\\?\\", 4) || !strncmp(p, "//?/", 4)) return "a \\\\?\\ path";
    if (!strncmp(p, "\\\\.\\", 4) || !strncmp(p, "//./", 4)) return "a device path";
    if ((p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/')) return "a network path";
    if (!(((p[0] | 0x20) >= 'a' && (p[0] | 0x20) <= 'z') && p[1] == ':' && p[2] == '\\'))
        return "not a drive-letter path";
    if (strpbrk(p + 2, ":*?\"<>|")) return "not a file name";
    for (const char* name = p + 3; *name;) {
        const size_t length = strcspn(name, "\\/");
        if (isDeviceName(name, length)) return "a device name";
        name += length;
        if (*name) ++name;
    }
    return nullptr;
}

// The largest module image opened for symbols.
constexpr Uint64 kImageSizeMax = 512ull << 20;

// True when a module path may be opened for its symbols: its form is accepted and it names a
// regular file of bounded size. *why says what was refused (null for a file that is simply
// not there, which is no news on another machine).
bool openableImage(const std::string& path, const char** why)
{
    *why = pathRefusal(path);
    if (*why) return false;
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

// Symbol names of the trapped process, from the module images on disk.
// An image is loaded when a frame first falls into it: reading debug information takes a
// while, and most modules hold no frame. Addresses this build cannot hold are not named.
struct Symbols {
    const std::vector<Module>* modules = nullptr;
    std::vector<bool> loaded;
    bool tried = false;
    bool ready = false;
    static bool fits(Uint64 address) { return address == (Uint64)(uintptr_t)address; }
    std::string name(Uint64 address)
    {
        if (!tried && modules) {
            tried = true;
            ready = ossSymInitialize(GetCurrentProcess(), nullptr, FALSE) != 0;
            loaded.assign(modules->size(), false);
        }
        if (!ready || !address || !fits(address)) return "";
        for (size_t i = 0; i < modules->size(); ++i) {
            const Module& m = (*modules)[i];
            if (address < m.base || address >= m.end || loaded[i] || !m.openable) continue;
            loaded[i] = true;
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
};

bool looksLikeSystemSection(Reader& r, const Layout& layout)
{
    Uint32 pageSize = 0, versionSize = 0;
    return r.peek(&pageSize, 4) && r.peek(&versionSize, layout.systemInfo) &&
           pageSize >= 0x1000 && (pageSize & (pageSize - 1)) == 0 &&
           versionSize == OSS_TRAP_VERSION_INFO_SIZE;
}

bool looksLikeEnvironment(Reader& r)
{
    Uint64 ahead = 0;
    for (;;) {
        Uint32 n = 0;
        if (!r.peek(&n, ahead) || n > 2047 || r.left() - ahead < 4 + (Uint64)n) return false;
        char marker[11];
        if (n == 11 && r.readAt(r.pos + ahead + 4, marker, 11) &&
            memcmp(marker, OSS_TRAP_ENV_END_MARKER, 11) == 0)
            return true;
        ahead += 4 + n;
    }
}

int fail(const char* what)
{
    printf("%s\n", what);
    return 1;
}

// Takes an address-wide value (4 or 8 bytes) of the file's layout.
bool takeWord(Reader& r, const Layout& layout, const char* section, Uint64* value)
{
    const Uint8* p;
    if (!r.take(section, layout.word, &p)) return false;
    *value = layout.wide ? fieldAt<Uint64>(p, 0) : fieldAt<Uint32>(p, 0);
    return true;
}

void printRegisters32(const Uint8* p)
{
    OSSTrapContext32 c;
    memcpy(&c, p, sizeof c);
    printf("registers:\n  eip=%08X esp=%08X ebp=%08X efl=%08X\n"
           "  eax=%08X ebx=%08X ecx=%08X edx=%08X esi=%08X edi=%08X\n",
           (unsigned)c.eip, (unsigned)c.esp, (unsigned)c.ebp, (unsigned)c.eflags,
           (unsigned)c.eax, (unsigned)c.ebx, (unsigned)c.ecx, (unsigned)c.edx, (unsigned)c.esi,
           (unsigned)c.edi);
}

void printRegisters64(const Uint8* p)
{
    OSSTrapContext64 c;
    memcpy(&c, p, sizeof c);
    printf("registers:\n  rip=%s rsp=%s rbp=%s efl=%08X\n", hex16(c.rip).c_str(),
           hex16(c.rsp).c_str(), hex16(c.rbp).c_str(), (unsigned)c.eflags);
    printf("  rax=%s rbx=%s rcx=%s rdx=%s\n", hex16(c.rax).c_str(), hex16(c.rbx).c_str(),
           hex16(c.rcx).c_str(), hex16(c.rdx).c_str());
    printf("  rsi=%s rdi=%s r8=%s r9=%s\n", hex16(c.rsi).c_str(), hex16(c.rdi).c_str(),
           hex16(c.r8).c_str(), hex16(c.r9).c_str());
    printf("  r10=%s r11=%s r12=%s r13=%s\n", hex16(c.r10).c_str(), hex16(c.r11).c_str(),
           hex16(c.r12).c_str(), hex16(c.r13).c_str());
    printf("  r14=%s r15=%s\n", hex16(c.r14).c_str(), hex16(c.r15).c_str());
    printf("  cs=%04X ss=%04X ds=%04X es=%04X fs=%04X gs=%04X mxcsr=%08X\n", c.segCs, c.segSs,
           c.segDs, c.segEs, c.segFs, c.segGs, (unsigned)c.mxCsr);
}

}  // namespace

int verbTrap(int argc, char** argv)
{
    const char* path = nullptr;
    long long offset = -1;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--offset") && i + 1 < argc)
            offset = strtoll(argv[++i], nullptr, 0);
        else if (!path)
            path = argv[i];
    }
    if (!path) {
        fprintf(stderr, "usage: ossetool trap FILE [--offset N]\n");
        return 2;
    }
    Reader r;
    if (!r.open(path)) {
        fprintf(stderr, "ossetool trap: cannot open '%s'\n", path);
        return 2;
    }

    // The header is at the offset given, else at the first eye-catcher of either layout (a
    // trap may be appended to a file that held other bytes).
    r.pos = offset < 0 ? findHeader(r) : (Uint64)offset;
    printf("trap file: %s (%s bytes), header at offset %s\n", path,
           std::to_string(r.size()).c_str(), std::to_string(r.pos).c_str());
    const Uint8* p;
    char eyeCatcher[8] = {};
    r.peek(&eyeCatcher);
    const Layout* chosen =
        memcmp(eyeCatcher, OSS_TRAP_EYECATCHER64, 8) == 0 ? &kLayout64 : &kLayout32;
    const Layout& L = *chosen;
    if (!r.take("header", L.header, &p)) return 1;
    if (memcmp(p, OSS_TRAP_EYECATCHER32, 8) != 0 && memcmp(p, OSS_TRAP_EYECATCHER64, 8) != 0)
        return fail("damaged: the header's eye-catcher is neither \"*TPHDR32\" nor \"*TPHDR64\"");

    // The header's fields, from the layout's own record.
    Uint32 processId, threadId, flags;
    Uint16 localTime[8], moduleCount, codeWindowLength;
    Uint64 codeWindowAddress;
    char exe[261] = {};
    if (L.wide) {
        OSSTrapFileHeader64 h;
        memcpy(&h, p, sizeof h);
        processId = h.processId, threadId = h.threadId, flags = h.flags;
        memcpy(localTime, h.localTime, sizeof localTime);
        moduleCount = h.moduleCount, codeWindowLength = h.codeWindowLength;
        codeWindowAddress = h.codeWindowAddress;
        memcpy(exe, h.executablePath, 260);
    } else {
        OSSTrapFileHeader32 h;
        memcpy(&h, p, sizeof h);
        processId = h.processId, threadId = h.threadId, flags = h.flags;
        memcpy(localTime, h.localTime, sizeof localTime);
        moduleCount = h.moduleCount, codeWindowLength = h.codeWindowLength;
        codeWindowAddress = h.codeWindowAddress;
        memcpy(exe, h.executablePath, 260);
    }
    printf("header:\n  layout: %s\n", L.wide ? "64-bit" : "32-bit");
    printf("  process id: %u, thread id: %u\n", (unsigned)processId, (unsigned)threadId);
    printf("  local time: %04u-%02u-%02u %02u:%02u:%02u.%03u\n", localTime[0], localTime[1],
           localTime[3], localTime[4], localTime[5], localTime[6], localTime[7]);
    printf("  executable: %s\n", exe);
    flagText(flags);
    printf("  modules: %u\n", moduleCount);
    if (codeWindowLength > 64) return fail("damaged: code window longer than 64 bytes");

    if (looksLikeSystemSection(r, L)) {
        r.take("system", L.systemInfo + OSS_TRAP_VERSION_INFO_SIZE, &p);
        // SYSTEM_INFO: the page size at 4, the processor count after the three pointer-wide
        // fields that follow it.
        const Uint32 pageSize = fieldAt<Uint32>(p, 4);
        const Uint32 processors = fieldAt<Uint32>(p, 8 + 3 * L.word);
        OSVERSIONINFOEXA v;
        memcpy(&v, p + L.systemInfo, sizeof v);
        v.szCSDVersion[sizeof v.szCSDVersion - 1] = 0;
        printf("system:\n  processors: %u, page size: %u\n  version: %lu.%lu build %lu %s\n",
               (unsigned)processors, (unsigned)pageSize, v.dwMajorVersion, v.dwMinorVersion,
               v.dwBuildNumber, v.szCSDVersion);
        if (flags & OSS_TRAP_HDR_MEMSTATUS_EX) {
            if (!r.take("system", OSS_TRAP_MEMSTATUS_EX_SIZE, &p)) return 1;
            MEMORYSTATUSEX m;
            memcpy(&m, p, sizeof m);
            printf("  memory load: %lu%%, physical: %s of %s bytes free\n", m.dwMemoryLoad,
                   std::to_string(m.ullAvailPhys).c_str(), std::to_string(m.ullTotalPhys).c_str());
        } else if (flags & OSS_TRAP_HDR_MEMSTATUS) {
            if (!r.take("system", L.memStatus, &p)) return 1;
        }
    }
    if (looksLikeEnvironment(r)) {
        int strings = 0;
        for (;;) {
            Uint32 n;
            if (!r.take("environment", 4, &p)) return 1;
            memcpy(&n, p, 4);
            if (!r.take("environment", n, &p)) return 1;
            if (n == 11 && memcmp(p, OSS_TRAP_ENV_END_MARKER, 11) == 0) break;
            ++strings;
        }
        printf("environment: %d strings\n", strings);
    }
    if (flags & OSS_TRAP_HDR_EXCEPTION) {
        if (!r.take("exception", L.exception, &p)) return 1;
        Uint32 code, parameters;
        Uint64 address, access, target;
        if (L.wide) {
            OSSTrapExceptionRecord64 e;
            memcpy(&e, p, sizeof e);
            code = e.code, parameters = e.numberParameters, address = e.address;
            access = e.information[0], target = e.information[1];
        } else {
            OSSTrapExceptionRecord32 e;
            memcpy(&e, p, sizeof e);
            code = e.code, parameters = e.numberParameters, address = e.address;
            access = e.information[0], target = e.information[1];
        }
        printf("exception:\n  exception code: 0x%08X\n  exception address: %s\n", (unsigned)code,
               hexAddress(L, address).c_str());
        if (code == EXCEPTION_ACCESS_VIOLATION && parameters >= 2)
            printf("  access: %s at %s\n",
                   access == 1 ? "write" : access == 8 ? "execute" : "read",
                   hexAddress(L, target).c_str());
    }
    Uint64 contextStack = 0;
    bool haveContext = false;
    if (flags & OSS_TRAP_HDR_CONTEXT) {
        if (!r.take("registers", L.context, &p)) return 1;
        haveContext = true;
        if (L.wide) {
            printRegisters64(p);
            contextStack = fieldAt<Uint64>(p, offsetof(OSSTrapContext64, rsp));
        } else {
            printRegisters32(p);
            contextStack = fieldAt<Uint32>(p, offsetof(OSSTrapContext32, esp));
        }
    }
    std::vector<Module> modules;
    if (moduleCount) {
        printf("modules:\n");
        // All the records must be there before any is read.
        if (!r.holds("modules", (Uint64)moduleCount * L.module)) return 1;
        for (Uint32 i = 0; i < moduleCount; ++i) {
            if (!r.take("modules", L.module, &p)) return 1;
            Module m;
            const bool terminated = p[260] == 0;
            m.path.assign((const char*)p, strnlen((const char*)p, 261));
            if (L.wide) {
                OSSTrapModuleRecord64 rec;
                memcpy(&rec, p, sizeof rec);
                m.markerAddress = rec.markerAddress, m.base = rec.base, m.end = rec.end;
                m.timeStamp = rec.timeStamp;
            } else {
                OSSTrapModuleRecord32 rec;
                memcpy(&rec, p, sizeof rec);
                m.markerAddress = rec.markerAddress, m.base = rec.base, m.end = rec.end;
                m.timeStamp = rec.timeStamp;
            }
            const char* why = nullptr;
            m.openable = terminated && openableImage(m.path, &why);
            modules.push_back(m);
            printf("  %s-%s %s", hexAddress(L, m.base).c_str(), hexAddress(L, m.end).c_str(),
                   m.path.c_str());
            if (!terminated) printf(" [path not terminated]");
            if (m.markerAddress) printf(" [marker %s]", hexAddress(L, m.markerAddress).c_str());
            printf(" time stamp 0x%08X\n", (unsigned)m.timeStamp);
            if (why) printf("    symbols not read from this module: %s\n", why);
        }
    }
    Symbols symbols;
    symbols.modules = &modules;
    if (flags & OSS_TRAP_HDR_API_VERSION) {
        Uint16 v[4];
        // Only present when dump was asked for it: a plausible version (major 1 to 99,
        // reserved 0) is taken, anything else belongs to the next section.
        if (r.peek(&v) && v[0] >= 1 && v[0] < 100 && v[3] == 0) {
            r.take("api version", 8, &p);
            printf("debug-help version: %u.%u.%u\n", v[0], v[1], v[2]);
        }
    }
    if (haveContext) {
        if (codeWindowLength) {
            if (!r.take("stack", codeWindowLength, &p)) return 1;
            printf("code window: %s (%u bytes)\n  ", hexAddress(L, codeWindowAddress).c_str(),
                   codeWindowLength);
            hexLine(p, codeWindowLength);
        }
        printf("frames:\n");
        for (int n = 0;; ++n) {
            if (!r.take("stack", OSS_TRAP_FRAME_RECORD_SIZE, &p)) return 1;
            OSSTrapFrameRecord frame;
            memcpy(&frame, p, sizeof frame);
            // A 32-bit walk may give its addresses sign-extended: only the low half counts.
            const Uint64 mask = L.wide ? ~(Uint64)0 : 0xFFFFFFFFu;
            const Uint64 pc = frame.pc.offset & mask;
            const Uint64 ret = frame.returnAddress.offset & mask;
            if (ret == OSS_TRAP_FRAME_END_MARKER) {
                printf("  (end of walk)\n");
                break;
            }
            printf("  #%d pc=%s ret=%s frame=%s %s\n", n, hexAddress(L, pc).c_str(),
                   hexAddress(L, ret).c_str(), hexAddress(L, frame.frame.offset).c_str(),
                   symbols.name(pc).c_str());
            if (ret == 0) break;
        }
        Uint64 start = contextStack;
        if (L.wide && !takeWord(r, L, "stack", &start)) return 1;
        if (!r.take("stack", 4, &p)) return 1;
        const Uint32 words = fieldAt<Uint32>(p, 0);
        if (!r.skip("stack", (Uint64)words * L.word)) return 1;
        printf("raw stack: %u words from %s\n", (unsigned)words, hexAddress(L, start).c_str());
    }
    if (flags & OSS_TRAP_HDR_MEMORY_DUMPED) {
        Uint32 regions = 0;
        Uint64 total = 0;
        for (;;) {
            Uint64 base, size;
            if (!takeWord(r, L, "memory", &base)) return 1;
            if (base == OSS_TRAP_MEMORY_END_MARKER) break;
            if (!takeWord(r, L, "memory", &size)) return 1;
            if (!r.skip("memory", size)) return 1;
            ++regions;
            total += size;
        }
        printf("memory: %u regions, %s bytes\n", (unsigned)regions, std::to_string(total).c_str());
    }
    if (r.left())
        printf("%s bytes after the last section were not read\n", std::to_string(r.left()).c_str());
    return 0;
}
