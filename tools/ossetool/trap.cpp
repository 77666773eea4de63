// ossetool trap FILE: prints the sections of a trap file and says where a file is cut or
// damaged.
//
// The sections carry no tags of their own: which ones are present follows from the header's
// flags (exception record, context, modules, memory) and from what the bytes look like (the
// system information starts with its page size and version-record size, the environment is a
// run of short length-prefixed strings closed by its end marker).
#include <windows.h>

#include <dbghelp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "osse/osse.h"
#include "verbs.h"

namespace {

class Reader {
public:
    explicit Reader(std::vector<Uint8> bytes) : bytes_(std::move(bytes)) {}
    size_t pos = 0;
    size_t size() const { return bytes_.size(); }
    size_t left() const { return pos <= bytes_.size() ? bytes_.size() - pos : 0; }
    const Uint8* here() const { return bytes_.data() + pos; }
    const Uint8* at(size_t offset) const { return bytes_.data() + offset; }
    // Takes n bytes of the named section; false (with the message printed) when the file ends
    // first.
    bool take(const char* section, size_t n, const Uint8** out)
    {
        if (left() < n) {
            printf("file is cut in the %s section at offset %u: %u bytes needed, %u left\n",
                   section, (unsigned)pos, (unsigned)n, (unsigned)left());
            return false;
        }
        *out = here();
        pos += n;
        return true;
    }
    template <class T>
    bool peek(T* v, size_t ahead = 0) const
    {
        if (left() < ahead + sizeof(T)) return false;
        memcpy(v, here() + ahead, sizeof(T));
        return true;
    }

private:
    std::vector<Uint8> bytes_;
};

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

// Symbol names of the trapped process, from the module images on disk.
// An image is loaded when a frame first falls into it: reading debug information takes a
// while, and most modules hold no frame.
struct Symbols {
    const std::vector<OSSTrapModuleRecord>* modules = nullptr;
    std::vector<bool> loaded;
    bool tried = false;
    bool ready = false;
    std::string name(Uint32 address)
    {
        if (!tried && modules) {
            tried = true;
            ready = ossSymInitialize(GetCurrentProcess(), nullptr, FALSE) != 0;
            loaded.assign(modules->size(), false);
        }
        if (!ready || !address) return "";
        for (size_t i = 0; i < modules->size(); ++i) {
            const OSSTrapModuleRecord& m = (*modules)[i];
            if (address < m.base || address >= m.end || loaded[i]) continue;
            loaded[i] = true;
            ossSymLoadModule(GetCurrentProcess(), nullptr, m.path, nullptr, m.base, m.end - m.base);
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

bool looksLikeSystemSection(const Reader& r)
{
    Uint32 pageSize = 0, versionSize = 0;
    return r.peek(&pageSize, 4) && r.peek(&versionSize, 36) && pageSize >= 0x1000 &&
           (pageSize & (pageSize - 1)) == 0 && versionSize == 156;
}

bool looksLikeEnvironment(const Reader& r)
{
    size_t ahead = 0;
    for (;;) {
        Uint32 n = 0;
        if (!r.peek(&n, ahead) || n > 2047 || r.left() < ahead + 4 + n) return false;
        if (n == 11 && memcmp(r.here() + ahead + 4, OSS_TRAP_ENV_END_MARKER, 11) == 0) return true;
        ahead += 4 + n;
    }
}

int fail(const char* what)
{
    printf("%s\n", what);
    return 1;
}

}  // namespace

int verbTrap(int argc, char** argv)
{
    const char* path = nullptr;
    long offset = -1;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--offset") && i + 1 < argc)
            offset = strtol(argv[++i], nullptr, 0);
        else if (!path)
            path = argv[i];
    }
    if (!path) {
        fprintf(stderr, "usage: ossetool trap FILE [--offset N]\n");
        return 2;
    }
    FILE* f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "ossetool trap: cannot open '%s'\n", path);
        return 2;
    }
    std::vector<Uint8> bytes;
    Uint8 chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    fclose(f);
    Reader r(std::move(bytes));

    // The header is at the offset given, else at the first eye-catcher (a trap may be appended
    // to a file that held other bytes).
    if (offset < 0) {
        offset = 0;
        for (size_t i = 0; i + 8 <= r.size(); ++i)
            if (memcmp(r.at(i), OSS_TRAP_EYECATCHER, 8) == 0) {
                offset = (long)i;
                break;
            }
    }
    printf("trap file: %s (%u bytes), header at offset %ld\n", path, (unsigned)r.size(), offset);
    r.pos = (size_t)offset;
    const Uint8* p;
    if (!r.take("header", OSS_TRAP_HEADER_SIZE, &p)) return 1;
    OSSTrapFileHeader h;
    memcpy(&h, p, sizeof h);
    if (memcmp(h.eyeCatcher, OSS_TRAP_EYECATCHER, 8) != 0)
        return fail("damaged: the header's eye-catcher is not \"*TPHDR32\"");
    printf("header:\n  process id: %u, thread id: %u\n", (unsigned)h.processId,
           (unsigned)h.threadId);
    printf("  local time: %04u-%02u-%02u %02u:%02u:%02u.%03u\n", h.localTime[0], h.localTime[1],
           h.localTime[3], h.localTime[4], h.localTime[5], h.localTime[6], h.localTime[7]);
    char exe[261] = {};
    memcpy(exe, h.executablePath, 260);
    printf("  executable: %s\n", exe);
    flagText(h.flags);
    printf("  modules: %u\n", h.moduleCount);
    if (h.codeWindowLength > 64) return fail("damaged: code window longer than 64 bytes");

    if (looksLikeSystemSection(r)) {
        r.take("system", 36 + 156, &p);
        SYSTEM_INFO si;
        OSVERSIONINFOEXA v;
        memcpy(&si, p, sizeof si);
        memcpy(&v, p + 36, sizeof v);
        printf("system:\n  processors: %lu, page size: %lu\n  version: %lu.%lu build %lu %s\n",
               si.dwNumberOfProcessors, si.dwPageSize, v.dwMajorVersion, v.dwMinorVersion,
               v.dwBuildNumber, v.szCSDVersion);
        if (h.flags & OSS_TRAP_HDR_MEMSTATUS_EX) {
            if (!r.take("system", 64, &p)) return 1;
            MEMORYSTATUSEX m;
            memcpy(&m, p, sizeof m);
            printf("  memory load: %lu%%, physical: %I64u of %I64u bytes free\n", m.dwMemoryLoad,
                   m.ullAvailPhys, m.ullTotalPhys);
        } else if (h.flags & OSS_TRAP_HDR_MEMSTATUS) {
            if (!r.take("system", 32, &p)) return 1;
        }
    }
    if (looksLikeEnvironment(r)) {
        int strings = 0;
        for (;;) {
            Uint32 n;
            r.take("environment", 4, &p);
            memcpy(&n, p, 4);
            r.take("environment", n, &p);
            if (n == 11 && memcmp(p, OSS_TRAP_ENV_END_MARKER, 11) == 0) break;
            ++strings;
        }
        printf("environment: %d strings\n", strings);
    }
    if (h.flags & OSS_TRAP_HDR_EXCEPTION) {
        if (!r.take("exception", OSS_TRAP_EXCEPTION_RECORD_SIZE, &p)) return 1;
        EXCEPTION_RECORD e;
        memcpy(&e, p, sizeof e);
        printf("exception:\n  exception code: 0x%08lX\n  exception address: 0x%08X\n",
               e.ExceptionCode, (unsigned)(uintptr_t)e.ExceptionAddress);
        if (e.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && e.NumberParameters >= 2)
            printf("  access: %s at 0x%08lX\n",
                   e.ExceptionInformation[0] == 1 ? "write" : e.ExceptionInformation[0] == 8 ? "execute" : "read",
                   (unsigned long)e.ExceptionInformation[1]);
    }
    CONTEXT ctx = {};
    bool haveContext = false;
    if (h.flags & OSS_TRAP_HDR_CONTEXT) {
        if (!r.take("registers", OSS_TRAP_CONTEXT_SIZE, &p)) return 1;
        memcpy(&ctx, p, sizeof ctx);
        haveContext = true;
        printf("registers:\n  eip=%08lX esp=%08lX ebp=%08lX efl=%08lX\n"
               "  eax=%08lX ebx=%08lX ecx=%08lX edx=%08lX esi=%08lX edi=%08lX\n",
               ctx.Eip, ctx.Esp, ctx.Ebp, ctx.EFlags, ctx.Eax, ctx.Ebx, ctx.Ecx, ctx.Edx, ctx.Esi,
               ctx.Edi);
    }
    std::vector<OSSTrapModuleRecord> modules;
    if (h.moduleCount) {
        printf("modules:\n");
        for (Uint32 i = 0; i < h.moduleCount; ++i) {
            if (!r.take("modules", OSS_TRAP_MODULE_RECORD_SIZE, &p)) return 1;
            OSSTrapModuleRecord m;
            memcpy(&m, p, sizeof m);
            if (m.path[260] != 0) return fail("damaged: a module path is not terminated");
            modules.push_back(m);
            printf("  0x%08X-0x%08X %s", (unsigned)m.base, (unsigned)m.end, m.path);
            if (m.markerAddress) printf(" [marker 0x%08X]", (unsigned)m.markerAddress);
            printf(" time stamp 0x%08X\n", (unsigned)m.timeStamp);
        }
    }
    Symbols symbols;
    symbols.modules = &modules;
    if (h.flags & OSS_TRAP_HDR_API_VERSION) {
        API_VERSION v;
        if (r.peek(&v) && v.MajorVersion < 100 && v.Reserved == 0) {
            r.take("api version", 8, &p);
            printf("debug-help version: %u.%u.%u\n", v.MajorVersion, v.MinorVersion, v.Revision);
        }
    }
    if (haveContext) {
        if (h.codeWindowLength) {
            if (!r.take("stack", h.codeWindowLength, &p)) return 1;
            printf("code window: 0x%08X (%u bytes)\n  ", (unsigned)h.codeWindowAddress,
                   h.codeWindowLength);
            hexLine(p, h.codeWindowLength);
        }
        printf("frames:\n");
        for (int n = 0;; ++n) {
            if (!r.take("stack", OSS_TRAP_FRAME_RECORD_SIZE, &p)) return 1;
            STACKFRAME64 frame;
            memcpy(&frame, p, sizeof frame);
            const Uint32 pc = (Uint32)frame.AddrPC.Offset;
            const Uint32 ret = (Uint32)frame.AddrReturn.Offset;
            if (ret == OSS_TRAP_FRAME_END_MARKER) {
                printf("  (end of walk)\n");
                break;
            }
            printf("  #%d pc=0x%08X ret=0x%08X frame=0x%08X %s\n", n, (unsigned)pc,
                   (unsigned)ret, (unsigned)frame.AddrFrame.Offset, symbols.name(pc).c_str());
            if (ret == 0) break;
        }
        if (!r.take("stack", 4, &p)) return 1;
        Uint32 words;
        memcpy(&words, p, 4);
        if (!r.take("stack", (size_t)words * 4, &p)) return 1;
        printf("raw stack: %u words from 0x%08lX\n", (unsigned)words, ctx.Esp);
    }
    if (h.flags & OSS_TRAP_HDR_MEMORY_DUMPED) {
        Uint32 regions = 0;
        Uint64 total = 0;
        for (;;) {
            if (!r.take("memory", 4, &p)) return 1;
            Uint32 base;
            memcpy(&base, p, 4);
            if (base == OSS_TRAP_MEMORY_END_MARKER) break;
            if (!r.take("memory", 4, &p)) return 1;
            Uint32 size;
            memcpy(&size, p, 4);
            if (!r.take("memory", size, &p)) return 1;
            ++regions;
            total += size;
        }
        printf("memory: %u regions, %I64u bytes\n", (unsigned)regions, total);
    }
    if (r.left()) printf("%u bytes after the last section were not read\n", (unsigned)r.left());
    return 0;
}
