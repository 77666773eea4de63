// Trap files: sections, header rewrites, the code window, the environment, the memory dump,
// the XML prolog, and a real fault written by a child's exception filter and read back by
// ossetool.
#include <windows.h>

#include <dbghelp.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"
#include "context_regs.h"

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

template <class T>
T at(const std::string& bytes, size_t offset)
{
    T v;
    memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

// Offsets of the header fields in this build's layout.
constexpr size_t kFlagsAt = offsetof(OSSTrapFileHeader, flags);
constexpr size_t kModuleCountAt = offsetof(OSSTrapFileHeader, moduleCount);
constexpr size_t kCodeLengthAt = offsetof(OSSTrapFileHeader, codeWindowLength);

CONTEXT capture()
{
    CONTEXT ctx = {};
    ctx.ContextFlags = CONTEXT_FULL;
    RtlCaptureContext(&ctx);
    return ctx;
}

TEST(TrapFile, ModulesRewriteTheHeaderAtItsOffsetAndLeadingBytesSurvive)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("modules.trap");
    const std::string leading = "LEADING BYTES BEFORE THE TRAP\n";
    writeAll(path, leading);

    OSSTrapFile trap;
    ASSERT_EQ(0, trap.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS));
    trap.seekToEnd();
    trap.initialize(0, nullptr, nullptr, nullptr);
    trap.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_MODULES, 0, nullptr, nullptr);
    trap.close();

    const std::string bytes = readAll(path);
    ASSERT_EQ(leading, bytes.substr(0, leading.size()));
    const size_t h = leading.size();
    ASSERT_EQ(std::string(OSS_TRAP_EYECATCHER, 8), bytes.substr(h, 8));
    EXPECT_EQ(GetCurrentProcessId(), at<Uint32>(bytes, h + 8));
    const Uint16 count = at<Uint16>(bytes, h + kModuleCountAt);
    const Uint32 flags = at<Uint32>(bytes, h + kFlagsAt);
    ASSERT_GT(count, 0);
    EXPECT_TRUE(flags & OSS_TRAP_HDR_MODULES_DIRECT);
    ASSERT_EQ(h + OSS_TRAP_HEADER_SIZE + count * OSS_TRAP_MODULE_RECORD_SIZE, bytes.size());

    // The library's own module carries its marker; the test program does not.
    const uintptr_t library = (uintptr_t)GetModuleHandleA("NRVOSSE.dll");
    const uintptr_t exe = (uintptr_t)GetModuleHandleA(nullptr);
    bool sawLibrary = false, sawExe = false;
    for (Uint16 i = 0; i < count; ++i) {
        OSSTrapModuleRecord r;
        memcpy(&r, bytes.data() + h + OSS_TRAP_HEADER_SIZE + i * sizeof r, sizeof r);
        EXPECT_EQ('\0', r.path[260]);
        EXPECT_GT(r.end, r.base);
        if (r.base == library) {
            sawLibrary = true;
            EXPECT_EQ((uintptr_t)&sqlzThisIsANRVLibrary, r.markerAddress);
        }
        if (r.base == exe) {
            sawExe = true;
            EXPECT_EQ(0u, r.markerAddress);
        }
    }
    EXPECT_TRUE(sawLibrary);
    EXPECT_TRUE(sawExe);
}

TEST(TrapFile, MemoryIsDumpedOncePerFile)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("memory.trap");
    writeAll(path, "PREFIX");
    OSSTrapFile trap;
    ASSERT_EQ(0, trap.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS));
    trap.seekToEnd();
    trap.initialize(0, nullptr, nullptr, nullptr);
    trap.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_MEMORY, 0, nullptr, nullptr);
    OSSPrimitiveFileOp::offsetType first = 0;
    trap.getSize(&first);
    trap.dump(OSS_TRAP_SECTION_MEMORY, 0, nullptr, nullptr);
    OSSPrimitiveFileOp::offsetType second = 0;
    trap.getSize(&second);
    trap.close();
    EXPECT_EQ(first, second);

    const std::string bytes = readAll(path);
    EXPECT_EQ("PREFIX", bytes.substr(0, 6));
    EXPECT_TRUE(at<Uint32>(bytes, 6 + kFlagsAt) & OSS_TRAP_HDR_MEMORY_DUMPED);
    // Regions follow each other: base, size (address-wide both), bytes ... up to the end
    // marker in the place of a base.
    typedef uintptr_t FileWord;
    constexpr size_t w = sizeof(FileWord);
    EXPECT_EQ(OSS_TRAP_MEMORY_END_MARKER, at<FileWord>(bytes, bytes.size() - w));
    size_t pos = 6 + OSS_TRAP_HEADER_SIZE;
    int regions = 0;
    bool sawHighHalf = false;
    while (pos + w <= bytes.size() && at<FileWord>(bytes, pos) != OSS_TRAP_MEMORY_END_MARKER) {
        ASSERT_LE(pos + 2 * w, bytes.size());
        const Uint64 base = at<FileWord>(bytes, pos);
        const Uint64 size = at<FileWord>(bytes, pos + w);
        ASSERT_LE(size, bytes.size() - pos);
        sawHighHalf |= (base >> 32) != 0;
        pos += 2 * w + size;
        ++regions;
    }
    EXPECT_EQ(bytes.size() - w, pos);
    EXPECT_GT(regions, 0);
    // A 64-bit process has regions above 4 GiB (its image, the system's modules): their bases
    // must arrive whole.
    if (w == 8) {
        EXPECT_TRUE(sawHighHalf);
    }

    // The tool reads the same regions back.
    int rc = 0;
    std::string out;
    rc = ossetest::runProgram(OSSETOOL_EXE, "trap \"" + path + "\"", &out);
    EXPECT_EQ(0, rc) << out;
    EXPECT_NE(std::string::npos, out.find("memory: " + std::to_string(regions) + " regions"))
        << out;
}

// Two objects appending to one file: the second finds the mark in the file's first header and
// adds no second copy of the memory; its own header does not claim regions after it.
TEST(TrapFile, MemoryIsDumpedOnceWhenTwoObjectsAppendToOneFile)
{
    ossetest::TempDir dir;
    struct Case {
        const char* name;
        Uint32 second;       // the sections the second object writes
        size_t secondAdds;  // bytes it adds
    } cases[] = {
        {"the second writes its own header", OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_MEMORY,
         OSS_TRAP_HEADER_SIZE},
        {"the second writes no header", OSS_TRAP_SECTION_MEMORY, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".trap");
        {
            OSSTrapFile first;
            ASSERT_EQ(0, first.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS));
            first.initialize(0, nullptr, nullptr, nullptr);
            first.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_MEMORY, 0, nullptr, nullptr);
            first.close();
        }
        const size_t firstSize = readAll(path).size();
        ASSERT_GT(firstSize, OSS_TRAP_HEADER_SIZE);
        {
            OSSTrapFile second;
            ASSERT_EQ(0, second.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS));
            second.seekToEnd();
            second.initialize(0, nullptr, nullptr, nullptr);
            second.dump(c.second, 0, nullptr, nullptr);
            second.close();
        }
        const std::string bytes = readAll(path);
        ASSERT_EQ(firstSize + c.secondAdds, bytes.size());
        EXPECT_TRUE(at<Uint32>(bytes, kFlagsAt) & OSS_TRAP_HDR_MEMORY_DUMPED);
        if (c.secondAdds) {
            EXPECT_EQ(std::string(OSS_TRAP_EYECATCHER, 8), bytes.substr(firstSize, 8));
            EXPECT_FALSE(at<Uint32>(bytes, firstSize + kFlagsAt) & OSS_TRAP_HDR_MEMORY_DUMPED);
        }
    }
}

TEST(TrapFile, EnvironmentLengthsMatchTheBytesWritten)
{
    SetEnvironmentVariableA("OSSE_TRAP_A", "1");
    SetEnvironmentVariableA("OSSE_TRAP_LONG", std::string(3000, 'L').c_str());
    ossetest::TempDir dir;
    const std::string path = dir.file("env.trap");
    OSSTrapFile trap;
    ASSERT_EQ(0, trap.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS));
    trap.initialize(0, nullptr, nullptr, nullptr);
    trap.dump(OSS_TRAP_SECTION_ENVIRONMENT, 0, nullptr, nullptr);
    trap.close();
    SetEnvironmentVariableA("OSSE_TRAP_A", nullptr);
    SetEnvironmentVariableA("OSSE_TRAP_LONG", nullptr);

    const std::string bytes = readAll(path);
    std::vector<std::string> strings;
    size_t pos = 0;
    while (pos + 4 <= bytes.size()) {
        const Uint32 n = at<Uint32>(bytes, pos);
        ASSERT_LE(pos + 4 + n, bytes.size());
        strings.push_back(bytes.substr(pos + 4, n));
        pos += 4 + n;
    }
    EXPECT_EQ(bytes.size(), pos);
    ASSERT_FALSE(strings.empty());
    EXPECT_EQ(OSS_TRAP_ENV_END_MARKER, strings.back());
    bool sawA = false, sawLong = false;
    for (const std::string& s : strings) {
        sawA |= s == "OSSE_TRAP_A=1";
        if (s.compare(0, 15, "OSSE_TRAP_LONG=") == 0) {
            sawLong = true;
            EXPECT_EQ(2047u, s.size());
        }
    }
    EXPECT_TRUE(sawA);
    EXPECT_TRUE(sawLong);
}

TEST(TrapFile, CodeWindowStaysInReadableMemory)
{
    Uint8* pages = (Uint8*)VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    DWORD old;
    VirtualProtect(pages + 0x1000, 0x1000, PAGE_NOACCESS, &old);
    const uintptr_t page = (uintptr_t)pages;
    struct Case {
        const char* name;
        uintptr_t ip;
        uintptr_t start;
        Uint32 length, flag;
    } cases[] = {
        {"instruction pointer 0", 0, 0, 0, OSS_TRAP_HDR_CODE_UNREAD},
        {"instruction pointer below 32", 16, 0, 0, OSS_TRAP_HDR_CODE_UNREAD},
        {"inside readable memory", page + 0x100, page + 0xE0, 64, OSS_TRAP_HDR_CODE_WINDOW},
        {"10 bytes before a no-access page", page + 0xFF6, page + 0xFD6, 39,
         OSS_TRAP_HDR_CODE_WINDOW},
        {"inside a no-access page", page + 0x1100, page + 0x1101, 0, OSS_TRAP_HDR_CODE_UNREAD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CONTEXT ctx = capture();
        CONTEXT_IP(ctx) = c.ip;
        OSSTrapFile trap;
        trap.initialize(0, nullptr, &ctx, nullptr);
        EXPECT_EQ(c.length, trap.header().codeWindowLength);
        if (c.length) {
            EXPECT_EQ(c.start, trap.header().codeWindowAddress);
        }
        EXPECT_EQ(c.flag, trap.header().flags & (OSS_TRAP_HDR_CODE_UNREAD | OSS_TRAP_HDR_CODE_WINDOW));
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(TrapFile, NullRecordsSkipTheirSectionsAndStackEndsWithTerminator)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("null.trap");
    OSSTrapFile trap;
    ASSERT_EQ(0, trap.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS));
    trap.initialize(0, nullptr, nullptr, nullptr);
    trap.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_EXCEPTION | OSS_TRAP_SECTION_CONTEXT |
                  OSS_TRAP_SECTION_STACK,
              0, nullptr, nullptr);
    // Not initialised: nothing at all.
    OSSTrapFile idle;
    idle.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS);
    idle.seekToEnd();
    idle.dump(0xFFFFFFFF, 0, nullptr, nullptr);
    idle.close();
    trap.close();
    EXPECT_EQ(OSS_TRAP_HEADER_SIZE, readAll(path).size());

    // With a context, the stack section: frames up to a terminator, then the raw words.
    const std::string path2 = dir.file("stack.trap");
    CONTEXT ctx = capture();
    OSSTrapFile t2;
    ASSERT_EQ(0, t2.open(path2.c_str(), OSS_PRIMFILE_OPEN_ALWAYS));
    t2.initialize(0, nullptr, &ctx, nullptr);
    t2.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_STACK, 0, nullptr, &ctx);
    t2.close();
    const std::string bytes = readAll(path2);
    size_t pos = OSS_TRAP_HEADER_SIZE + at<Uint16>(bytes, kCodeLengthAt);
    int frames = 0;
    for (;;) {
        ASSERT_LE(pos + OSS_TRAP_FRAME_RECORD_SIZE, bytes.size());
        STACKFRAME64 f;
        memcpy(&f, bytes.data() + pos, sizeof f);
        pos += sizeof f;
        ++frames;
        if (f.AddrReturn.Offset == 0 || f.AddrReturn.Offset == OSS_TRAP_FRAME_END_MARKER) break;
    }
    EXPECT_GE(frames, 2);
    // The raw stack: words of the build's width from the context's stack pointer, which the
    // 64-bit layout names before the count.
    if (sizeof(void*) == 8) {
        EXPECT_EQ((Uint64)CONTEXT_SP(ctx), at<Uint64>(bytes, pos));
        pos += 8;
    }
    const Uint32 words = at<Uint32>(bytes, pos);
    EXPECT_GE(words * sizeof(void*), 4096u);
    EXPECT_EQ(bytes.size(), pos + 4 + words * sizeof(void*));
}

TEST(TrapFile, XmlPrologIsWrittenFoundOrAppended)
{
    const std::string prolog =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
        "<?xml-stylesheet href=\"nrvtrapfile.xsl\" type=\"text/xsl\"?>\n";
    ossetest::TempDir dir;
    struct Case {
        const char* name;
        std::string before;
        bool wrote;
        std::string after;  // the file after writing "X" at the position
    } cases[] = {
        {"empty file", "", true, prolog + "X"},
        {"closing tag at the end", prolog + "<trap>data</trap>", false,
         prolog + "<trap>dataX/trap>"},  // the caller writes the closing tag again
        {"no closing tag in the tail", prolog + "<trap>" + std::string(200, 'd'), false,
         prolog + "<trap>" + std::string(200, 'd') + "X"},
        {"foreign bytes stay", "foreign content", true, "foreign content" + prolog + "X"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("prolog.xml");
        writeAll(path, c.before);
        OSSTrapFile trap;
        ASSERT_EQ(0, trap.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS));
        EXPECT_EQ(c.wrote, trap.writeXMLProlog());
        trap.write("X", 1);
        trap.close();
        EXPECT_EQ(c.after, readAll(path));
    }
}

// ---- A real fault -------------------------------------------------------------------------
std::string g_trapPath;

volatile LONG g_trapping = 0;

LONG WINAPI writeTrapFile(EXCEPTION_POINTERS* info)
{
    // Only the fault itself: the debug-help library raises and handles exceptions of its own
    // while the trap file is written.
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION ||
        InterlockedExchange(&g_trapping, 1) != 0)
        return EXCEPTION_CONTINUE_SEARCH;
    OSSTrapFile trap;
    if (trap.open(g_trapPath.c_str(), OSS_PRIMFILE_OPEN_ALWAYS) == 0) {
        trap.seekToEnd();
        trap.initialize(0, info->ExceptionRecord, info->ContextRecord, nullptr);
        trap.dump(0xFFFFFFFF & ~OSS_TRAP_SECTION_MEMORY, 0, info->ExceptionRecord,
                  info->ContextRecord);
        trap.close();
    }
    TerminateProcess(GetCurrentProcess(), 42);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

extern "C" __attribute__((noinline, used)) int osseFaultTestCrashHere(volatile int* p)
{
    *p = 7;  // p is an address nothing maps
    return *p;
}

namespace {

OSSE_CHILD_ROLE(crash_with_trap_file)
{
    g_trapPath = args.at(0);
    SetUnhandledExceptionFilter(writeTrapFile);
    AddVectoredExceptionHandler(0, writeTrapFile);
    return osseFaultTestCrashHere((volatile int*)(uintptr_t)0x00000010);
}

// ---- A writer that dies while it copies -----------------------------------------------------
// A trap file object on a handle of the caller's (here a pipe).
struct HandleTrapFile : OSSTrapFile {
    void useHandle(HANDLE h) { setFileHandle(h); }
};

DWORD WINAPI dumpMemoryIntoPipe(void* pipe)
{
    HandleTrapFile trap;
    trap.useHandle((HANDLE)pipe);
    trap.initialize(0, nullptr, nullptr, nullptr);
    trap.dump(OSS_TRAP_SECTION_MEMORY, 0, nullptr, nullptr);
    return 0;
}

bool readFully(HANDLE h, void* buffer, size_t size)
{
    Uint8* p = (Uint8*)buffer;
    while (size) {
        DWORD got = 0;
        if (!ReadFile(h, p, (DWORD)size, &got, nullptr) || got == 0) return false;
        p += got;
        size -= got;
    }
    return true;
}

bool skipFully(HANDLE h, Uint64 size)
{
    static Uint8 sink[64 * 1024];
    while (size) {
        const size_t n = size < sizeof sink ? (size_t)size : sizeof sink;
        if (!readFully(h, sink, n)) return false;
        size -= n;
    }
    return true;
}

// A writer thread dumps the memory into a pipe; this thread reads the section up to the first
// bytes of a region far larger than the pipe holds, so the writer is stopped inside that
// region's copy, and ends it there. Then a second trap file (every section that copies memory
// or the environment, but not the whole memory) is written to args[0].
OSSE_CHILD_ROLE(trap_writer_ended_mid_copy)
{
    const SIZE_T kRegion = 4 << 20;
    Uint8* region = (Uint8*)VirtualAlloc(nullptr, kRegion, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    HANDLE readEnd, writeEnd;
    if (!region || !CreatePipe(&readEnd, &writeEnd, nullptr, 64 * 1024)) return 2;
    HANDLE writer = CreateThread(nullptr, 0, dumpMemoryIntoPipe, writeEnd, 0, nullptr);
    if (!writer) return 2;
    for (;;) {
        uintptr_t base = 0, size = 0;
        if (!readFully(readEnd, &base, sizeof base) || base == OSS_TRAP_MEMORY_END_MARKER ||
            !readFully(readEnd, &size, sizeof size))
            return 3;  // the region was not in the dump
        if (base == (uintptr_t)region) break;
        if (!skipFully(readEnd, size)) return 3;
    }
    Uint8 firstBytes[16];
    if (!readFully(readEnd, firstBytes, sizeof firstBytes)) return 3;
    TerminateThread(writer, 1);
    if (WaitForSingleObject(writer, 60000) != WAIT_OBJECT_0) return 4;
    // The writer was inside the copy: most of the region never reached the pipe.
    DWORD waiting = 0;
    if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr) ||
        waiting >= kRegion - sizeof firstBytes)
        return 5;

    CONTEXT ctx = capture();
    OSSTrapFile next;
    if (next.open(args.at(0).c_str(), OSS_PRIMFILE_OPEN_ALWAYS) != 0) return 6;
    next.initialize(0, nullptr, &ctx, nullptr);
    next.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_ENVIRONMENT | OSS_TRAP_SECTION_STACK, 0,
              nullptr, &ctx);
    next.close();
    return 0;
}

TEST(TrapFile, AWriterEndedMidCopyDoesNotHoldUpTheNextTrapFile)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("next.trap");
    ASSERT_EQ(0, ossetest::runChild("trap_writer_ended_mid_copy", {path}, {}, 60000))
        << "-1: the second trap file never got written";
    const std::string bytes = readAll(path);
    EXPECT_EQ(std::string(OSS_TRAP_EYECATCHER, 8), bytes.substr(0, 8));
    EXPECT_NE(std::string::npos, bytes.find(OSS_TRAP_ENV_END_MARKER));
    EXPECT_GT(bytes.size(), OSS_TRAP_HEADER_SIZE + 4096u);
}

// Runs ossetool with the arguments and returns its output.
std::string runTool(const std::string& args, int* exitCode)
{
    std::string out;
    *exitCode = ossetest::runProgram(OSSETOOL_EXE, args, &out);
    return out;
}

TEST(TrapFile, ChildFaultIsWrittenAndReadBackByTheTool)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("fault.trap");
    const std::string leading = "earlier content\n";
    writeAll(path, leading);
    ASSERT_EQ(42, ossetest::runChild("crash_with_trap_file", {path}));

    const std::string bytes = readAll(path);
    ASSERT_GT(bytes.size(), leading.size() + OSS_TRAP_HEADER_SIZE);
    EXPECT_EQ(leading, bytes.substr(0, leading.size()));
    const Uint32 flags = at<Uint32>(bytes, leading.size() + kFlagsAt);
    EXPECT_EQ(OSS_TRAP_HDR_EXCEPTION | OSS_TRAP_HDR_CONTEXT,
              flags & (OSS_TRAP_HDR_EXCEPTION | OSS_TRAP_HDR_CONTEXT));
    EXPECT_TRUE(flags & OSS_TRAP_HDR_CODE_WINDOW);

    int rc = 0;
    const std::string out = runTool("trap \"" + path + "\" --offset " +
                                        std::to_string(leading.size()),
                                    &rc);
    EXPECT_EQ(0, rc) << out;
    EXPECT_NE(std::string::npos, out.find("exception code: 0xC0000005")) << out;
    EXPECT_NE(std::string::npos, out.find("NRVOSSE.dll [marker")) << out;
    EXPECT_NE(std::string::npos, out.find("code window:")) << out;
    EXPECT_NE(std::string::npos, out.find("osseFaultTestCrashHere")) << out;
}

// A trap file written by a process of the other architecture is read by this build's tool, and
// this build's file by the other's tool: each says which layout it found.
TEST(TrapFile, FilesOfEitherArchitectureAreReadByEithersTool)
{
    OSSE_PEER_PROGRAM_OR_SKIP(peer);
    const std::string peerTool =
        peer.substr(0, peer.rfind("\\tests\\")) + "\\tools\\ossetool\\ossetool.exe";
    ossetest::TempDir dir;
    const std::string mine = dir.file("mine.trap"), theirs = dir.file("theirs.trap");
    ASSERT_EQ(42, ossetest::runChild("crash_with_trap_file", {mine}));
    ossetest::Child other;
    ASSERT_TRUE(other.startProgram(peer, "crash_with_trap_file", {theirs}));
    ASSERT_EQ(42, other.wait());
    const std::string myLayout = sizeof(void*) == 8 ? "64-bit" : "32-bit";
    const std::string theirLayout = sizeof(void*) == 8 ? "32-bit" : "64-bit";
    const struct {
        std::string tool, file, layout;
    } runs[] = {{OSSETOOL_EXE, theirs, theirLayout}, {peerTool, mine, myLayout},
                {peerTool, theirs, theirLayout}};
    for (const auto& r : runs) {
        std::string out;
        EXPECT_EQ(0, ossetest::runProgram(r.tool, "trap \"" + r.file + "\"", &out)) << out;
        EXPECT_NE(std::string::npos, out.find(r.layout)) << r.tool << " " << r.file << "\n" << out;
        EXPECT_NE(std::string::npos, out.find("exception code: 0xC0000005")) << out;
        EXPECT_NE(std::string::npos, out.find("osseFaultTestCrashHere")) << out;
    }
}

TEST(TrapFile, ToolSaysWhereAFileIsCut)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("cut.trap");
    CONTEXT ctx = capture();
    {
        OSSTrapFile trap;
        ASSERT_EQ(0, trap.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS));
        trap.initialize(0, nullptr, &ctx, nullptr);
        trap.dump(0xFFFFFFFF & ~OSS_TRAP_SECTION_MEMORY, 0, nullptr, &ctx);
        trap.close();
    }
    const std::string bytes = readAll(path);
    // The damaged header is named by its offset: the raw stack may hold a copy of the
    // eye-catcher (the trap object's own header), which a search would find instead.
    struct Case {
        const char* name;
        std::string content;
        std::string says;
    } cases[] = {
        {"cut inside the header", bytes.substr(0, 100), "cut"},
        {"cut inside the modules", bytes.substr(0, OSS_TRAP_HEADER_SIZE + 2000), "cut"},
        {"wrong eye-catcher", "NOTATRAP" + bytes.substr(8), "eye-catcher"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeAll(path, c.content);
        int rc = 0;
        const std::string out = runTool("trap \"" + path + "\" --offset 0", &rc);
        EXPECT_NE(0, rc);
        EXPECT_NE(std::string::npos, out.find(c.says)) << out;
    }
}

// ---- Layouts and checked-in files ----------------------------------------------------------
// A fault of known registers, its instruction pointer in memory of known bytes: Rip/Eip points
// 32 bytes into a page of code bytes, the stack pointer 64 bytes below the end of the next
// page, whose last words are zero (the walk ends there).
struct KnownFault {
    Uint8* pages = nullptr;
    EXCEPTION_RECORD record = {};
    CONTEXT ctx = {};
    KnownFault()
    {
        // Above 4 GiB when the build can address it, so that a cut address shows.
        if (sizeof(void*) == 8)
            pages = (Uint8*)VirtualAlloc((void*)(uintptr_t)0x7E0000000000ull, 0x2000,
                                         MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!pages)
            pages = (Uint8*)VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        for (int i = 0; i < 0x1000; ++i) pages[i] = (Uint8)(0x90 + i % 16);
        for (int i = 0; i < 0x1000; ++i) pages[0x1000 + i] = (Uint8)(i < 0x1000 - 64 ? 0xA5 : 0);
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        record.ExceptionAddress = pages + 32;
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = 1;
        record.ExceptionInformation[1] = 0x10;
        ctx.ContextFlags = CONTEXT_ALL;
#if OSSE_PTR32
        ctx.Eax = 0x11111111, ctx.Ebx = 0x22222222, ctx.Ecx = 0x33333333, ctx.Edx = 0x44444444;
        ctx.Esi = 0x55555555, ctx.Edi = 0x66666666, ctx.EFlags = 0x246;
#else
        ctx.Rax = 0x1111111111111111ull, ctx.Rbx = 0x2222222222222222ull;
        ctx.Rcx = 0x3333333333333333ull, ctx.Rdx = 0x4444444444444444ull;
        ctx.Rsi = 0x5555555555555555ull, ctx.Rdi = 0x6666666666666666ull;
        ctx.R8 = 0x8888888888888888ull, ctx.R15 = 0xFFFFFFFF00000015ull, ctx.EFlags = 0x246;
        ctx.SegCs = 0x33, ctx.SegSs = 0x2B, ctx.MxCsr = 0x1F80;
#endif
        CONTEXT_IP(ctx) = (uintptr_t)(pages + 32);
        CONTEXT_SP(ctx) = (uintptr_t)(pages + 0x2000 - 64);
        CONTEXT_FP(ctx) = (uintptr_t)(pages + 0x2000 - 32);
    }
    ~KnownFault() { VirtualFree(pages, 0, MEM_RELEASE); }
};

// Writes the sections a reader needs to be checked on: everything but the environment (this
// machine's) and the memory (megabytes).
void writeKnownFault(const std::string& path, const KnownFault& f)
{
    OSSTrapFile trap;
    if (trap.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS) != 0) return;
    trap.initialize(0, &f.record, &f.ctx, nullptr);
    trap.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_SYSTEM | OSS_TRAP_SECTION_EXCEPTION |
                  OSS_TRAP_SECTION_CONTEXT | OSS_TRAP_SECTION_MODULES |
                  OSS_TRAP_SECTION_APIVERSION | OSS_TRAP_SECTION_STACK,
              0, &f.record, &f.ctx);
    trap.close();
}

// Writes the checked-in trap file of this build's layout (data/trap64.trap comes from the
// x86_64 build): test_fault.exe --osse-child=write_known_fault PATH
OSSE_CHILD_ROLE(write_known_fault)
{
    KnownFault f;
    writeKnownFault(args.at(0), f);
    return 0;
}

// The writer puts every field where the layout of its build says, counted in bytes here
// rather than taken from the structures the writer uses.
TEST(TrapFile, WriterPlacesFieldsAtTheLayoutsOffsets)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("layout.trap");
    KnownFault f;
    {
        OSSTrapFile trap;
        ASSERT_EQ(0, trap.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS));
        trap.initialize(0, &f.record, &f.ctx, nullptr);
        trap.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_EXCEPTION | OSS_TRAP_SECTION_CONTEXT,
                  0, &f.record, &f.ctx);
        trap.close();
    }
    const std::string bytes = readAll(path);
    const Uint64 ip = (uintptr_t)(f.pages + 32);
    struct Layout {
        const char* eye;
        size_t header, exception, context;
        size_t codeAddress, codeAddressWidth, flags, codeLength;
        size_t exceptionAddress, contextIp, contextSp, contextRax;
    };
    const Layout l32 = {"*TPHDR32", 388, 80, 716, 16, 4, 36, 384, 12, 184, 196, 176};
    const Layout l64 = {"*TPHDR64", 392, 152, 1232, 16, 8, 40, 388, 16, 248, 152, 120};
    const Layout& l = sizeof(void*) == 4 ? l32 : l64;
    const size_t w = l.codeAddressWidth;
    const auto word = [&](size_t offset) {
        Uint64 v = 0;
        memcpy(&v, bytes.data() + offset, w);
        return v;
    };
    ASSERT_EQ(l.header + l.exception + l.context, bytes.size());
    EXPECT_EQ(l.eye, bytes.substr(0, 8));
    EXPECT_EQ(GetCurrentProcessId(), at<Uint32>(bytes, 8));
    EXPECT_EQ(ip - 32, word(l.codeAddress));
    EXPECT_EQ(OSS_TRAP_HDR_EXCEPTION | OSS_TRAP_HDR_CONTEXT | OSS_TRAP_HDR_CODE_WINDOW,
              at<Uint32>(bytes, l.flags) & 0xFFu & ~OSS_TRAP_HDR_API_VERSION);
    EXPECT_EQ(64, at<Uint16>(bytes, l.codeLength));
    EXPECT_EQ(EXCEPTION_ACCESS_VIOLATION, at<Uint32>(bytes, l.header));
    EXPECT_EQ(ip, word(l.header + l.exceptionAddress));
    const size_t c = l.header + l.exception;
    EXPECT_EQ(ip, word(c + l.contextIp));
    EXPECT_EQ((Uint64)(uintptr_t)(f.pages + 0x2000 - 64), word(c + l.contextSp));
    EXPECT_EQ(w == 4 ? 0x11111111ull : 0x1111111111111111ull, word(c + l.contextRax));
}

// The checked-in trap files of both layouts read by this build's tool: the 32-bit one built
// from the layout's byte offsets (data/make_trap32.py), the 64-bit one written by the x86_64
// library (write_known_fault). Each expected text is the tool's output after its first line
// (which names the file's path).
TEST(TrapFile, ToolReadsTheCheckedInFilesOfBothLayouts)
{
    const char* files[] = {"trap32", "trap64"};
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const std::string base = std::string(OSSE_FAULT_FIXTURES) + "/data/" + name;
        std::string expected = readAll(base + ".txt");
        ASSERT_FALSE(expected.empty()) << base << ".txt";
        // The tool is a Windows program: the host path through Wine's drive of the root.
        const std::string trap = (base[0] == '/' ? "Z:" : "") + base + ".trap";
        int rc = 0;
        std::string out = runTool("trap \"" + trap + "\"", &rc);
        EXPECT_EQ(0, rc) << out;
        std::string text;
        for (char ch : out)
            if (ch != '\r') text += ch;
        text = text.substr(text.find('\n') + 1);
        EXPECT_EQ(expected, text);
    }
}

// Damaged copies of the checked-in files of both layouts: strings without their terminator
// are printed within their fields, counts and sizes are checked against the file before use,
// and module paths that are not regular files on a drive letter are not opened for symbols.
TEST(TrapFile, ToolTreatsADamagedFileAsHostile)
{
    struct Layout {
        const char* name;
        size_t header, exeAt, moduleCountAt, pathAndReserved;
        size_t rawStackCountFromEnd;  // the raw stack's word count, counted from the file's end
    } layouts[] = {{"trap32", 388, 44, 42, 268, 64}, {"trap64", 392, 48, 46, 264, 68}};
    // A file of the given golden with bytes replaced at an offset.
    struct Damage {
        const char* name;
        std::function<void(std::string&, size_t hdr, size_t module0, const Layout&)> apply;
        int rc;
        std::string says;
    };
    const auto modulePath = [](const std::string& path) {
        return [path](std::string& b, size_t, size_t module0, const Layout& l) {
            b.replace(module0, l.pathAndReserved, std::string(l.pathAndReserved, '\0'));
            b.replace(module0, path.size(), path);
        };
    };
    const Damage damages[] = {
        {"executable path without terminator",
         [](std::string& b, size_t hdr, size_t, const Layout& l) {
             // The reserved bytes after the field too: nothing ends the text there.
             b.replace(hdr + l.exeAt, 260 + 80, std::string(260 + 80, 'E'));
         },
         0, "  executable: " + std::string(260, 'E') + "\n"},
        {"module path without terminator",
         [](std::string& b, size_t, size_t module0, const Layout& l) {
             b.replace(module0, l.pathAndReserved, std::string(l.pathAndReserved, 'M'));
         },
         0, " " + std::string(261, 'M') + " [path not terminated]"},
        {"module count beyond the file",
         [](std::string& b, size_t hdr, size_t, const Layout& l) {
             b.replace(hdr + l.moduleCountAt, 2, "\xFF\xFF");
         },
         1, "file is cut in the modules section"},
        {"raw stack words whose byte count overflows 32 bits",
         [](std::string& b, size_t, size_t, const Layout& l) {
             b.replace(b.size() - l.rawStackCountFromEnd, 4, std::string("\0\0\0\x40", 4));
         },
         1, "file is cut in the stack section"},
        {"network path", modulePath("\\\\server\\share\\app.exe"), 0, "a network path"},
        {"network path with slashes", modulePath("//server/share/app.exe"), 0, "a network path"},
        {"long path prefix", modulePath("\\\\?\\C:\\golden\\app.exe"), 0, "a \\\\?\\ path"},
        {"device namespace", modulePath("\\\\.\\PhysicalDrive0"), 0, "a device path"},
        {"console", modulePath("C:\\golden\\CON"), 0, "a device name"},
        {"serial port with an extension", modulePath("C:\\golden\\com1.dll"), 0, "a device name"},
        {"null device in a folder name", modulePath("C:\\nul \\app.exe"), 0, "a device name"},
        {"stream name", modulePath("C:\\golden\\app.exe:stream"), 0, "not a file name"},
        {"relative path", modulePath("golden\\app.exe"), 0, "not a drive-letter path"},
    };
    ossetest::TempDir dir;
    for (const Layout& l : layouts) {
        const std::string golden =
            readAll(std::string(OSSE_FAULT_FIXTURES) + "/data/" + l.name + ".trap");
        const size_t hdr = golden.find("*TPHDR");
        ASSERT_NE(std::string::npos, hdr) << l.name;
        // The first module is the executable.
        const std::string exe = golden.substr(hdr + l.exeAt, 260).c_str();
        const size_t module0 = golden.find(exe + '\0', hdr + l.header);
        ASSERT_NE(std::string::npos, module0) << l.name;
        for (const Damage& d : damages) {
            SCOPED_TRACE(std::string(l.name) + ": " + d.name);
            std::string bytes = golden;
            d.apply(bytes, hdr, module0, l);
            const std::string path = dir.file("damaged.trap");
            writeAll(path, bytes);
            int rc = 0;
            std::string out;
            for (char ch : runTool("trap \"" + path + "\"", &rc))
                if (ch != '\r') out += ch;
            EXPECT_EQ(d.rc, rc) << out;
            EXPECT_NE(std::string::npos, out.find(d.says)) << out;
        }
    }
}

// A module path naming a pipe is never opened: the trapped frame lies in the first module of
// the 32-bit file, whose path is made to name a pipe that this test serves.
TEST(TrapFile, ToolOpensNoPipeNamedAsAModule)
{
    const std::string pipeName =
        "\\\\.\\pipe\\osse-trap-module-" + std::to_string(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    OVERLAPPED connect = {};
    connect.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_FALSE(ConnectNamedPipe(pipe, &connect));
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());

    std::string bytes = readAll(std::string(OSSE_FAULT_FIXTURES) + "/data/trap32.trap");
    const std::string exe = "C:\\golden\\app.exe";
    const size_t module0 = bytes.find(exe + '\0', bytes.find("*TPHDR32") + 388);
    ASSERT_NE(std::string::npos, module0);
    bytes.replace(module0, 261, std::string(261, '\0'));
    bytes.replace(module0, pipeName.size(), pipeName);
    ossetest::TempDir dir;
    const std::string path = dir.file("pipe.trap");
    writeAll(path, bytes);

    int rc = 0;
    const std::string out = runTool("trap \"" + path + "\"", &rc);
    EXPECT_EQ(0, rc) << out;
    EXPECT_NE(std::string::npos, out.find("symbols not read from this module: a device path"))
        << out;
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(connect.hEvent, 0))
        << "the tool opened the pipe";
    CancelIo(pipe);
    CloseHandle(pipe);
    CloseHandle(connect.hEvent);
}

}  // namespace
