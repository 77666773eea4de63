// Trap files: sections, header rewrites, the code window, the environment, the memory dump,
// the XML prolog, and a real fault written by a child's exception filter and read back by
// ossetool.
#include <windows.h>

#include <dbghelp.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"

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
    const Uint16 count = at<Uint16>(bytes, h + 42);
    const Uint32 flags = at<Uint32>(bytes, h + 36);
    ASSERT_GT(count, 0);
    EXPECT_TRUE(flags & OSS_TRAP_HDR_MODULES_DIRECT);
    ASSERT_EQ(h + OSS_TRAP_HEADER_SIZE + count * OSS_TRAP_MODULE_RECORD_SIZE, bytes.size());

    // The library's own module carries its marker; the test program does not.
    const Uint32 library = (Uint32)(uintptr_t)GetModuleHandleA("NRVOSSE.dll");
    const Uint32 exe = (Uint32)(uintptr_t)GetModuleHandleA(nullptr);
    bool sawLibrary = false, sawExe = false;
    for (Uint16 i = 0; i < count; ++i) {
        OSSTrapModuleRecord r;
        memcpy(&r, bytes.data() + h + OSS_TRAP_HEADER_SIZE + i * sizeof r, sizeof r);
        EXPECT_EQ('\0', r.path[260]);
        EXPECT_GT(r.end, r.base);
        if (r.base == library) {
            sawLibrary = true;
            EXPECT_EQ((Uint32)(uintptr_t)&sqlzThisIsANRVLibrary, r.markerAddress);
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
    EXPECT_TRUE(at<Uint32>(bytes, 6 + 36) & OSS_TRAP_HDR_MEMORY_DUMPED);
    EXPECT_EQ(OSS_TRAP_MEMORY_END_MARKER, at<Uint32>(bytes, bytes.size() - 4));
    // Regions follow each other: base, size, bytes ... up to the end marker.
    size_t pos = 6 + OSS_TRAP_HEADER_SIZE;
    int regions = 0;
    while (pos + 4 <= bytes.size() && at<Uint32>(bytes, pos) != OSS_TRAP_MEMORY_END_MARKER) {
        ASSERT_LE(pos + 8, bytes.size());
        pos += 8 + at<Uint32>(bytes, pos + 4);
        ++regions;
    }
    EXPECT_EQ(bytes.size() - 4, pos);
    EXPECT_GT(regions, 0);
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
    const Uint32 page = (Uint32)(uintptr_t)pages;
    struct Case {
        const char* name;
        Uint32 ip;
        Uint32 start, length, flag;
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
        ctx.Eip = c.ip;
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
    size_t pos = OSS_TRAP_HEADER_SIZE + at<Uint16>(bytes, 384);
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
    const Uint32 words = at<Uint32>(bytes, pos);
    EXPECT_GE(words, 1024u);
    EXPECT_EQ(bytes.size(), pos + 4 + words * 4);
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
    const Uint32 flags = at<Uint32>(bytes, leading.size() + 36);
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
        const std::string out = runTool("trap \"" + path + "\"", &rc);
        EXPECT_NE(0, rc);
        EXPECT_NE(std::string::npos, out.find(c.says)) << out;
    }
}

}  // namespace
