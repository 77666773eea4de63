// Frame-pointer walks over forged and real stacks, symbol names, and the debug-help wrappers
// under several threads.
#include <windows.h>

#include <dbghelp.h>
#include <string.h>

#include <atomic>
#include <string>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"
#include "context_regs.h"
#include "../../src/fault/framewalk.h"

extern "C" __attribute__((noinline, used)) int osseFaultTestNamedFunction(int x)
{
    return x * 3 + 1;
}

namespace {

// ---- Forged frames ------------------------------------------------------------------------
// Frames of this build's word width. Three pages: two readable, the third no-access. Frames
// are written into the readable ones.
typedef uintptr_t Word;

class ForgedStack {
public:
    ForgedStack()
    {
        base_ = (Uint8*)VirtualAlloc(nullptr, 3 * 0x1000, MEM_COMMIT | MEM_RESERVE,
                                     PAGE_READWRITE);
        DWORD old;
        VirtualProtect(base_ + 2 * 0x1000, 0x1000, PAGE_NOACCESS, &old);
    }
    ~ForgedStack() { VirtualFree(base_, 0, MEM_RELEASE); }
    Word at(Uint32 offset) const { return (Word)(base_ + offset); }
    void frame(Uint32 offset, Word next, Word ret)
    {
        memcpy(base_ + offset, &next, sizeof next);
        memcpy(base_ + offset + sizeof next, &ret, sizeof ret);
    }
    Word low() const { return at(0); }
    Word high() const { return at(3 * 0x1000); }

private:
    Uint8* base_;
};

bool readWords(Word address, Word* words)
{
    if (IsBadReadPtr((const void*)address, 2 * sizeof(Word))) return false;
    memcpy(words, (const void*)address, 2 * sizeof(Word));
    return true;
}

struct WalkCase {
    const char* name;
    Uint32 skip;
    // builds the frames and returns the start frame
    Word (*build)(ForgedStack& s);
    std::vector<Word> expected;  // return addresses stored, in order
    Word low = 0, high = 0;      // 0: the forged block's bounds
};

TEST(FrameWalk, ForgedChainsAlwaysEndWithoutFault)
{
    const WalkCase cases[] = {
        {"three frames then a null link", 0,
         [](ForgedStack& s) {
             s.frame(0x100, s.at(0x200), 0x401000);
             s.frame(0x200, s.at(0x300), 0x401100);
             s.frame(0x300, 0, 0x401200);
             return s.at(0x100);
         },
         {0x401000, 0x401100, 0x401200}},
        {"skip two", 2,
         [](ForgedStack& s) {
             s.frame(0x100, s.at(0x200), 0x401000);
             s.frame(0x200, s.at(0x300), 0x401100);
             s.frame(0x300, 0, 0x401200);
             return s.at(0x100);
         },
         {0x401200}},
        {"self link", 0,
         [](ForgedStack& s) {
             s.frame(0x100, s.at(0x200), 0x401000);
             s.frame(0x200, s.at(0x200), 0x401100);
             return s.at(0x100);
         },
         {0x401000, 0x401100}},
        {"link downwards", 0,
         [](ForgedStack& s) {
             s.frame(0x400, s.at(0x100), 0x401000);
             s.frame(0x100, s.at(0x400), 0x401100);
             return s.at(0x400);
         },
         {0x401000}},
        {"hop over 1 MiB", 0,
         [](ForgedStack& s) {
             s.frame(0x100, s.at(0x100) + 0x100008, 0x401000);
             return s.at(0x100);
         },
         {0x401000}},
        {"link into a no-access page", 0,
         [](ForgedStack& s) {
             s.frame(0x1F00, s.at(0x2010), 0x401000);
             return s.at(0x1F00);
         },
         {0x401000}},
        {"return address below 0x1000", 0,
         [](ForgedStack& s) {
             s.frame(0x100, s.at(0x200), 0x401000);
             s.frame(0x200, s.at(0x300), 0xFFF);
             s.frame(0x300, 0, 0x401200);
             return s.at(0x100);
         },
         {0x401000}},
        {"frame at or below 0xFFF", 0,
         [](ForgedStack& s) {
             s.frame(0x100, 0xFFF, 0x401000);
             return s.at(0x100);
         },
         {0x401000}},
        {"start below the bounds", 0,
         [](ForgedStack& s) {
             s.frame(0x100, s.at(0x200), 0x401000);
             return s.at(0x100);
         },
         {}, 1, 0},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.name);
        ForgedStack s;
        const Word start = c.build(s);
        const Word low = c.low ? s.at(0x800) : s.low();
        const Word high = c.high ? c.high : s.high();
        void* out[8];
        memset(out, 0xCC, sizeof out);
        const Uint32 n = osse_fault::walkFrames(start, c.skip, out, 8, low, high, readWords);
        ASSERT_EQ(c.expected.size(), n);
        for (Uint32 i = 0; i < 8; ++i)
            EXPECT_EQ(i < n ? c.expected[i] : 0u, (Word)out[i]) << "slot " << i;
    }
}

TEST(FrameWalk, LongChainStopsAtMaxOrAtItsEnd)
{
    // Frames 16 bytes apart up to the first unwritten (zero) one.
    ForgedStack s;
    for (Uint32 off = 0; off + 16 <= 0x2000 - 8; off += 16) s.frame(off, s.at(off + 16), 0x402000);
    static_assert(2 * sizeof(Word) <= 16, "frames overlap");
    std::vector<void*> out(600);
    const Uint32 n = osse_fault::walkFrames(s.at(0), 0, out.data(), 600, s.low(), s.high(),
                                            readWords);
    EXPECT_EQ(511u, n);
    EXPECT_EQ(100u, osse_fault::walkFrames(s.at(0), 0, out.data(), 100, s.low(), s.high(),
                                           readWords));
}

__attribute__((noinline)) Uint32 walkLevel3(void** out, Uint32 max, Uint32 skip)
{
    const Uint32 n = ossWalkStackCollect(skip, out, max);
    __asm__ volatile("" ::: "memory");
    return n;
}
__attribute__((noinline)) Uint32 walkLevel2(void** out, Uint32 max, Uint32 skip)
{
    const Uint32 n = walkLevel3(out, max, skip);
    __asm__ volatile("" ::: "memory");
    return n;
}
__attribute__((noinline)) Uint32 walkLevel1(void** out, Uint32 max, Uint32 skip)
{
    const Uint32 n = walkLevel2(out, max, skip);
    __asm__ volatile("" ::: "memory");
    return n;
}

TEST(FrameWalk, RealStackGivesTheCallersReturnAddresses)
{
    void* all[16];
    const Uint32 n = walkLevel1(all, 16, 0);
    ASSERT_GE(n, 3u);
    // The walk starts at its caller's frame: the first address returns into walkLevel2, the
    // second into walkLevel1.
    const auto in = [](void* p, void* fn) {
        return (uintptr_t)p > (uintptr_t)fn && (uintptr_t)p < (uintptr_t)fn + 0x100;
    };
    EXPECT_TRUE(in(all[0], (void*)&walkLevel2));
    EXPECT_TRUE(in(all[1], (void*)&walkLevel1));
    for (Uint32 i = n; i < 16; ++i) EXPECT_EQ(nullptr, all[i]);

    void* skipped[16];
    const Uint32 m = walkLevel1(skipped, 16, 1);
    EXPECT_EQ(n - 1, m);
    EXPECT_EQ(all[1], skipped[0]);

    void* two[2] = {};
    EXPECT_EQ(2u, walkLevel1(two, 2, 0));
    void* ex[4] = {};
    EXPECT_GE(ossWalkStackCollectEx(0, ex, 4), 1u);
}

// ---- Symbols ------------------------------------------------------------------------------
// The named function's address through a call the compiler cannot see into. A local that holds
// a known constant address is described in the debug information by that address, and some
// debug-help versions then take the local for a variable living there and name it instead.
__attribute__((noipa)) const char* namedFunction()
{
    return (const char*)(void*)&osseFaultTestNamedFunction;
}

void loadOwnSymbols()
{
    // Without loading every module of the process (slow): this program is loaded below.
    ossSymInitialize(GetCurrentProcess(), nullptr, FALSE);
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    // Load this program's image by its path, once: the debug information is read from the file.
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    ossSymLoadModule(GetCurrentProcess(), nullptr, exe, nullptr,
                     (OSSSymAddress)(uintptr_t)GetModuleHandleA(nullptr), 0);
}

TEST(Symbols, NamesAreAlwaysTerminated)
{
    loadOwnSymbols();
    char out[300];
    Uint32 displacement = 77;
    const char* fn = namedFunction();
    ossSymbolNameForAddress(fn + 3, out, sizeof out, &displacement);
    EXPECT_STREQ("osseFaultTestNamedFunction", out);
    EXPECT_EQ(3u, displacement);

    // Addresses inside the function: at its very first byte some debug-help versions name a
    // symbol of the debug information that starts there too.
    memset(out, 'x', sizeof out);
    ossSymbolNameForAddress(fn + 1, out, 6, nullptr);
    EXPECT_STREQ("osseF", out);

    memset(out, 'x', sizeof out);
    ossSymbolNameForAddress(nullptr, out, 4, &displacement);
    EXPECT_STREQ("?un", out);

    // Memory no module covers has no symbol: its address in hexadecimal, all of it.
    void* heap = VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    char expected[24];
    snprintf(expected, sizeof expected, sizeof(void*) == 4 ? "0x%08llX" : "0x%016llX",
             (unsigned long long)(uintptr_t)heap + 0x10);
    displacement = 77;
    ossSymbolNameForAddress((char*)heap + 0x10, out, sizeof out, &displacement);
    EXPECT_STREQ(expected, out);
    EXPECT_EQ(0u, displacement);
    VirtualFree(heap, 0, MEM_RELEASE);
}

TEST(Symbols, UseCountedInitialiseAndCleanupAnswerTrue)
{
    loadOwnSymbols();  // initialised by now, whatever ran before
    SetLastError(1234);
    EXPECT_EQ(TRUE, ossSymInitialize(GetCurrentProcess(), nullptr, FALSE));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(TRUE, ossSymCleanup(GetCurrentProcess()));
    // The handler is still usable after the cleanup.
    char out[64];
    ossSymbolNameForAddress((char*)(void*)&osseFaultTestNamedFunction + 1, out, sizeof out,
                            nullptr);
    EXPECT_STREQ("osseFaultTestNamedFunction", out);
}

TEST(Symbols, WrapperLeavesTheLibrarysErrorInPlace)
{
    loadOwnSymbols();
    union {
        IMAGEHLP_SYMBOL64 s;
        char room[sizeof(IMAGEHLP_SYMBOL64) + 64];
    } sym = {};
    sym.s.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL64);
    sym.s.MaxNameLength = 64;
    SetLastError(0);
    EXPECT_FALSE(ossSymGetSymFromAddr(GetCurrentProcess(), 0x10, nullptr, &sym.s));
    EXPECT_NE(0u, GetLastError());
    EXPECT_NE(nullptr, ossImagehlpApiVersion());
}

TEST(Symbols, StackWalkStepsThroughThisThread)
{
    loadOwnSymbols();
    CONTEXT ctx = {};
    ctx.ContextFlags = CONTEXT_FULL;
    RtlCaptureContext(&ctx);
    STACKFRAME64 frame = firstFrame(ctx);
    int steps = 0;
    while (steps < 64 && ossStackWalk(GetCurrentProcess(), GetCurrentThread(), &frame, &ctx)) {
        ++steps;
        if (frame.AddrReturn.Offset == 0) break;
    }
    EXPECT_GE(steps, 2);
}

// ---- Several threads ----------------------------------------------------------------------
struct StressShared {
    std::atomic<int> failures{0};
    std::string trapPath;
};

DWORD WINAPI symbolWorker(void* p)
{
    StressShared* s = (StressShared*)p;
    for (int i = 0; i < 40; ++i) {
        char out[128];
        ossSymbolNameForAddress((char*)(void*)&osseFaultTestNamedFunction + 1, out, sizeof out,
                                nullptr);
        if (strcmp(out, "osseFaultTestNamedFunction") != 0) s->failures++;
        void* frames[16];
        if (ossWalkStackCollect(0, frames, 16) == 0) s->failures++;
    }
    return 0;
}

DWORD WINAPI walkWorker(void* p)
{
    StressShared* s = (StressShared*)p;
    for (int i = 0; i < 20; ++i) {
        CONTEXT ctx = {};
        ctx.ContextFlags = CONTEXT_FULL;
        RtlCaptureContext(&ctx);
        STACKFRAME64 frame = firstFrame(ctx);
        if (!ossStackWalk(GetCurrentProcess(), GetCurrentThread(), &frame, &ctx)) s->failures++;
    }
    return 0;
}

DWORD WINAPI trapWorker(void* p)
{
    StressShared* s = (StressShared*)p;
    for (int i = 0; i < 10; ++i) {
        CONTEXT ctx = {};
        ctx.ContextFlags = CONTEXT_FULL;
        RtlCaptureContext(&ctx);
        OSSTrapFile trap;
        trap.open(s->trapPath.c_str(), OSS_PRIMFILE_OPEN_ALWAYS);
        trap.initialize(0, nullptr, &ctx, nullptr);
        trap.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_MODULES | OSS_TRAP_SECTION_STACK, 0,
                  nullptr, &ctx);
        trap.close();
    }
    return 0;
}

TEST(Symbols, EightThreadsAndATrapWriterFinish)
{
    loadOwnSymbols();
    ossetest::TempDir dir;
    StressShared shared;
    shared.trapPath = dir.file("stress.trap");
    HANDLE threads[9];
    for (int i = 0; i < 4; ++i) threads[i] = CreateThread(nullptr, 0, symbolWorker, &shared, 0, nullptr);
    for (int i = 4; i < 8; ++i) threads[i] = CreateThread(nullptr, 0, walkWorker, &shared, 0, nullptr);
    threads[8] = CreateThread(nullptr, 0, trapWorker, &shared, 0, nullptr);
    const DWORD rc = WaitForMultipleObjects(9, threads, TRUE, 20000);
    EXPECT_NE((DWORD)WAIT_TIMEOUT, rc) << "a thread did not finish: the wrappers hang";
    for (HANDLE h : threads) CloseHandle(h);
    EXPECT_EQ(0, shared.failures.load());
}

}  // namespace
