// The trap-file reader (see trapread.h). A trap file comes from a failing process and may be
// damaged, or made to do harm: it is read in bounded pieces (it may hold the memory of a whole
// process), every count and size in it is checked against what the file holds before it is
// used, its fixed-size strings are printed within their fields, and a module path in it is
// offered for opening only when it names something on a drive letter (a network path would
// open a connection, a device or a pipe could block the tool for good).
#include "trapread.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace trapread {

bool MemorySource::readAt(Uint64 offset, void* out, size_t n)
{
    if (offset > size_ || n > size_ - offset) return false;
    if (n) memcpy(out, data_ + offset, n);
    return true;
}

bool Output::openableImage(const std::string&, const char** why)
{
    *why = nullptr;
    return false;
}

std::string Output::symbolName(const std::vector<Module>&, Uint64)
{
    return "";
}

namespace {

void say(Output& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void say(Output& out, const char* format, ...)
{
    char small[512];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return;
    if ((size_t)n < sizeof small) {
        out.text(small, (size_t)n);
        return;
    }
    std::string big((size_t)n + 1, '\0');
    va_start(args, format);
    vsnprintf(&big[0], big.size(), format, args);
    va_end(args);
    out.text(big.data(), (size_t)n);
}

std::string number(Uint64 v)
{
    return std::to_string(v);
}

// The file, read a piece at a time at the offsets asked for.
class Reader {
public:
    Reader(Source& file, Output& out) : file_(file), out_(out), size_(file.size()) {}
    Uint64 pos = 0;
    Uint64 size() const { return size_; }
    Uint64 left() const { return pos <= size_ ? size_ - pos : 0; }
    bool readAt(Uint64 offset, void* out, size_t n)
    {
        if (offset > size_ || n > size_ - offset) return false;
        return file_.readAt(offset, out, n);
    }
    // Takes n bytes of the named section: a record of the layout, or a length from the file
    // that was checked against its limit. False (with the message printed) when the file ends
    // first. *out stays valid until the next take.
    bool take(const char* section, size_t n, const Uint8** out)
    {
        if (!holds(section, n)) return false;
        piece_.resize(n ? n : 1);
        if (!readAt(pos, piece_.data(), n)) {
            say(out_, "file cannot be read in the %s section at offset %s\n", section, number(pos).c_str());
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
        say(out_, "file is cut in the %s section at offset %s: %s bytes needed, %s left\n", section,
            number(pos).c_str(), number(n).c_str(), number(left()).c_str());
        return false;
    }

private:
    Source& file_;
    Output& out_;
    Uint64 size_;
    std::vector<Uint8> piece_;
};

// The offset of the first eye-catcher of either layout, searched a piece at a time; 0 when
// there is none.
Uint64 findHeader(Reader& r)
{
    // Pieces of 64 KiB, or the whole of a smaller file.
    std::vector<Uint8> piece((size_t)std::min<Uint64>(64 * 1024, std::max<Uint64>(r.size(), 8)));
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

void hexLine(Output& out, const Uint8* p, size_t n)
{
    std::string line;
    char byte[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(byte, sizeof byte, "%s%02X", i ? " " : "", p[i]);
        line += byte;
    }
    line += '\n';
    out.text(line.data(), line.size());
}

void flagText(Output& out, Uint32 flags)
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
    say(out, "  flags: 0x%08X (", (unsigned)flags);
    bool first = true;
    for (const auto& n : names)
        if (flags & n.bit) {
            say(out, "%s%s", first ? "" : ", ", n.name);
            first = false;
        }
    say(out, ")\n");
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

// Case-insensitive comparison of n bytes in the ASCII range, as the system compares names.
bool sameNameNoCase(const char* a, const char* b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        if (x >= 'A' && x <= 'Z') x = (unsigned char)(x | 0x20);
        if (y >= 'A' && y <= 'Z') y = (unsigned char)(y | 0x20);
        if (x != y) return false;
    }
    return true;
}

bool isDeviceName(const char* name, size_t length)
{
    // The name before its first dot, without trailing spaces, is what the system compares.
    size_t n = 0;
    while (n < length && name[n] != '.') ++n;
    while (n > 0 && name[n - 1] == ' ') --n;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : kDevices)
        if (n == strlen(d) && sameNameNoCase(name, d, n)) return true;
    // COM0 to COM9 and LPT0 to LPT9, also with the superscript digits 1, 2 and 3.
    if (n == 4 && (sameNameNoCase(name, "COM", 3) || sameNameNoCase(name, "LPT", 3))) {
        const unsigned char digit = (unsigned char)name[3];
        return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

bool looksLikeSystemSection(Reader& r, const Layout& layout)
{
    Uint32 pageSize = 0, versionSize = 0;
    return r.peek(&pageSize, 4) && r.peek(&versionSize, layout.systemInfo) &&
           pageSize >= 0x1000 && (pageSize & (pageSize - 1)) == 0 &&
           versionSize == OSS_TRAP_VERSION_INFO_SIZE;
}

enum class Environment { absent, whole, cut };

// The environment section has no flag of its own: it is there when a chain of length-prefixed
// strings ends in the end marker. A chain of "NAME=value" strings that runs into the end of the
// file is the section cut short, not something else to be read as the next section.
Environment looksLikeEnvironment(Reader& r)
{
    Uint64 ahead = 0;
    bool named = false;  // a whole string of the form NAME=value was seen
    for (;;) {
        Uint32 n = 0;
        if (r.left() - ahead < 4) return named ? Environment::cut : Environment::absent;
        if (!r.peek(&n, ahead) || n > 2047) return Environment::absent;
        if (r.left() - ahead < 4 + (Uint64)n) return named ? Environment::cut : Environment::absent;
        char text[2048];
        if (!r.readAt(r.pos + ahead + 4, text, n)) return Environment::absent;
        if (n == 11 && memcmp(text, OSS_TRAP_ENV_END_MARKER, 11) == 0) return Environment::whole;
        if (n > 1 && memchr(text + 1, '=', n - 1)) named = true;
        ahead += 4 + n;
    }
}

int fail(Output& out, const char* what)
{
    say(out, "%s\n", what);
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

void printRegisters32(Output& out, const Uint8* p)
{
    OSSTrapContext32 c;
    memcpy(&c, p, sizeof c);
    say(out,
        "registers:\n  eip=%08X esp=%08X ebp=%08X efl=%08X\n"
        "  eax=%08X ebx=%08X ecx=%08X edx=%08X esi=%08X edi=%08X\n",
        (unsigned)c.eip, (unsigned)c.esp, (unsigned)c.ebp, (unsigned)c.eflags, (unsigned)c.eax,
        (unsigned)c.ebx, (unsigned)c.ecx, (unsigned)c.edx, (unsigned)c.esi, (unsigned)c.edi);
}

void printRegisters64(Output& out, const Uint8* p)
{
    OSSTrapContext64 c;
    memcpy(&c, p, sizeof c);
    say(out, "registers:\n  rip=%s rsp=%s rbp=%s efl=%08X\n", hex16(c.rip).c_str(),
        hex16(c.rsp).c_str(), hex16(c.rbp).c_str(), (unsigned)c.eflags);
    say(out, "  rax=%s rbx=%s rcx=%s rdx=%s\n", hex16(c.rax).c_str(), hex16(c.rbx).c_str(),
        hex16(c.rcx).c_str(), hex16(c.rdx).c_str());
    say(out, "  rsi=%s rdi=%s r8=%s r9=%s\n", hex16(c.rsi).c_str(), hex16(c.rdi).c_str(),
        hex16(c.r8).c_str(), hex16(c.r9).c_str());
    say(out, "  r10=%s r11=%s r12=%s r13=%s\n", hex16(c.r10).c_str(), hex16(c.r11).c_str(),
        hex16(c.r12).c_str(), hex16(c.r13).c_str());
    say(out, "  r14=%s r15=%s\n", hex16(c.r14).c_str(), hex16(c.r15).c_str());
    say(out, "  cs=%04X ss=%04X ds=%04X es=%04X fs=%04X gs=%04X mxcsr=%08X\n", c.segCs, c.segSs,
        c.segDs, c.segEs, c.segFs, c.segGs, (unsigned)c.mxCsr);
}

}  // namespace

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

int read(Source& file, Output& out, const char* name, long long headerOffset)
{
    Reader r(file, out);
    r.pos = headerOffset < 0 ? findHeader(r) : (Uint64)headerOffset;
    say(out, "trap file: %s (%s bytes), header at offset %s\n", name, number(r.size()).c_str(),
        number(r.pos).c_str());
    const Uint8* p;
    char eyeCatcher[8] = {};
    r.peek(&eyeCatcher);
    const Layout* chosen =
        memcmp(eyeCatcher, OSS_TRAP_EYECATCHER64, 8) == 0 ? &kLayout64 : &kLayout32;
    const Layout& L = *chosen;
    if (!r.take("header", L.header, &p)) return 1;
    if (memcmp(p, OSS_TRAP_EYECATCHER32, 8) != 0 && memcmp(p, OSS_TRAP_EYECATCHER64, 8) != 0)
        return fail(out, "damaged: the header's eye-catcher is neither \"*TPHDR32\" nor \"*TPHDR64\"");

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
    say(out, "header:\n  layout: %s\n", L.wide ? "64-bit" : "32-bit");
    say(out, "  process id: %u, thread id: %u\n", (unsigned)processId, (unsigned)threadId);
    say(out, "  local time: %04u-%02u-%02u %02u:%02u:%02u.%03u\n", localTime[0], localTime[1],
        localTime[3], localTime[4], localTime[5], localTime[6], localTime[7]);
    say(out, "  executable: %s\n", exe);
    flagText(out, flags);
    say(out, "  modules: %u\n", moduleCount);
    if (codeWindowLength > 64) return fail(out, "damaged: code window longer than 64 bytes");

    if (looksLikeSystemSection(r, L)) {
        // The section's first and last words were seen; the whole of it must be there too.
        if (!r.take("system", L.systemInfo + OSS_TRAP_VERSION_INFO_SIZE, &p)) return 1;
        // SYSTEM_INFO: the page size at 4, the processor count after the three pointer-wide
        // fields that follow it.
        const Uint32 pageSize = fieldAt<Uint32>(p, 4);
        const Uint32 processors = fieldAt<Uint32>(p, 8 + 3 * L.word);
        const Uint8* v = p + L.systemInfo;
        char servicePack[kVersionTextSize];
        memcpy(servicePack, v + kVersionText, sizeof servicePack);
        servicePack[sizeof servicePack - 1] = 0;
        say(out, "system:\n  processors: %u, page size: %u\n  version: %u.%u build %u %s\n",
            (unsigned)processors, (unsigned)pageSize, (unsigned)fieldAt<Uint32>(v, kVersionMajor),
            (unsigned)fieldAt<Uint32>(v, kVersionMinor), (unsigned)fieldAt<Uint32>(v, kVersionBuild),
            servicePack);
        if (flags & OSS_TRAP_HDR_MEMSTATUS_EX) {
            if (!r.take("system", OSS_TRAP_MEMSTATUS_EX_SIZE, &p)) return 1;
            say(out, "  memory load: %u%%, physical: %s of %s bytes free\n",
                (unsigned)fieldAt<Uint32>(p, kMemoryLoad), number(fieldAt<Uint64>(p, kMemoryAvailPhys)).c_str(),
                number(fieldAt<Uint64>(p, kMemoryTotalPhys)).c_str());
        } else if (flags & OSS_TRAP_HDR_MEMSTATUS) {
            if (!r.take("system", L.memStatus, &p)) return 1;
        }
    }
    // A cut section is read as far as it goes, which reports where the file ends.
    if (looksLikeEnvironment(r) != Environment::absent) {
        int strings = 0;
        for (;;) {
            Uint32 n;
            if (!r.take("environment", 4, &p)) return 1;
            memcpy(&n, p, 4);
            if (!r.take("environment", n, &p)) return 1;
            if (n == 11 && memcmp(p, OSS_TRAP_ENV_END_MARKER, 11) == 0) break;
            ++strings;
        }
        say(out, "environment: %d strings\n", strings);
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
        say(out, "exception:\n  exception code: 0x%08X\n  exception address: %s\n", (unsigned)code,
            hexAddress(L, address).c_str());
        if (code == kAccessViolation && parameters >= 2)
            say(out, "  access: %s at %s\n", access == 1 ? "write" : access == 8 ? "execute" : "read",
                hexAddress(L, target).c_str());
    }
    Uint64 contextStack = 0;
    bool haveContext = false;
    if (flags & OSS_TRAP_HDR_CONTEXT) {
        if (!r.take("registers", L.context, &p)) return 1;
        haveContext = true;
        if (L.wide) {
            printRegisters64(out, p);
            contextStack = fieldAt<Uint64>(p, offsetof(OSSTrapContext64, rsp));
        } else {
            printRegisters32(out, p);
            contextStack = fieldAt<Uint32>(p, offsetof(OSSTrapContext32, esp));
        }
    }
    std::vector<Module> modules;
    if (moduleCount) {
        say(out, "modules:\n");
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
            if (terminated) {
                why = pathRefusal(m.path);
                m.openable = !why && out.openableImage(m.path, &why);
            }
            modules.push_back(m);
            say(out, "  %s-%s %s", hexAddress(L, m.base).c_str(), hexAddress(L, m.end).c_str(),
                m.path.c_str());
            if (!terminated) say(out, " [path not terminated]");
            if (m.markerAddress) say(out, " [marker %s]", hexAddress(L, m.markerAddress).c_str());
            say(out, " time stamp 0x%08X\n", (unsigned)m.timeStamp);
            if (why) say(out, "    symbols not read from this module: %s\n", why);
        }
    }
    if (flags & OSS_TRAP_HDR_API_VERSION) {
        Uint16 v[4];
        // Only present when dump was asked for it: a plausible version (major 1 to 99,
        // reserved 0) is taken, anything else belongs to the next section.
        if (r.peek(&v) && v[0] >= 1 && v[0] < 100 && v[3] == 0) {
            if (!r.take("api version", 8, &p)) return 1;
            say(out, "debug-help version: %u.%u.%u\n", v[0], v[1], v[2]);
        }
    }
    if (haveContext) {
        if (codeWindowLength) {
            if (!r.take("stack", codeWindowLength, &p)) return 1;
            say(out, "code window: %s (%u bytes)\n  ", hexAddress(L, codeWindowAddress).c_str(),
                codeWindowLength);
            hexLine(out, p, codeWindowLength);
        }
        say(out, "frames:\n");
        for (int n = 0;; ++n) {
            if (!r.take("stack", OSS_TRAP_FRAME_RECORD_SIZE, &p)) return 1;
            OSSTrapFrameRecord frame;
            memcpy(&frame, p, sizeof frame);
            // A 32-bit walk may give its addresses sign-extended: only the low half counts.
            const Uint64 mask = L.wide ? ~(Uint64)0 : 0xFFFFFFFFu;
            const Uint64 pc = frame.pc.offset & mask;
            const Uint64 ret = frame.returnAddress.offset & mask;
            if (ret == OSS_TRAP_FRAME_END_MARKER) {
                say(out, "  (end of walk)\n");
                break;
            }
            say(out, "  #%d pc=%s ret=%s frame=%s %s\n", n, hexAddress(L, pc).c_str(),
                hexAddress(L, ret).c_str(), hexAddress(L, frame.frame.offset).c_str(),
                out.symbolName(modules, pc).c_str());
            if (ret == 0) break;
        }
        Uint64 start = contextStack;
        if (L.wide && !takeWord(r, L, "stack", &start)) return 1;
        if (!r.take("stack", 4, &p)) return 1;
        const Uint32 words = fieldAt<Uint32>(p, 0);
        if (!r.skip("stack", (Uint64)words * L.word)) return 1;
        say(out, "raw stack: %u words from %s\n", (unsigned)words, hexAddress(L, start).c_str());
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
        say(out, "memory: %u regions, %s bytes\n", (unsigned)regions, number(total).c_str());
    }
    if (r.left()) say(out, "%s bytes after the last section were not read\n", number(r.left()).c_str());
    return 0;
}

}  // namespace trapread
