// The spin latch: states and texts of lock words, the spin tuning, and mutual exclusion under
// real contention between threads and between processes.
#include <windows.h>
#include <cpuid.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../../src/sync/latch_internal.h"
#include "osse/ecf.h"
#include "osse/latch.h"
#include "osse/tick.h"
#include "osse_test.h"

namespace {

bool sameTune(const OSSSpinTune& a, const OSSSpinTune& b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}

// Restores the process's spin tuning after a test that changes it.
class SpinTuneTest : public ::testing::Test {
protected:
    void SetUp() override { OSSLatch::getSpinCounts(saved_); }
    void TearDown() override { OSSLatch::updateSpinCounts(saved_); }
    static void useTuneOf(Uint32 processors)
    {
        OSSLatch::updateSpinCounts(osse_sync::spinTuneForProcessors(processors));
    }

private:
    OSSSpinTune saved_{};
};

}  // namespace

TEST(Latch, AcquireTryAcquireRelease)
{
    static OSSLatch staticLatch;  // zero storage is a free latch
    EXPECT_EQ(staticLatch.lockWord, 0x00);

    OSSLatch l;
    l.lockWord = 0x5A;
    l.init();
    EXPECT_EQ(l.lockWord, 0x00);
    l.acquire();
    EXPECT_EQ(l.lockWord, 0x80);
    EXPECT_FALSE(l.tryAcquire());
    EXPECT_EQ(l.lockWord, 0x80);
    l.release();
    EXPECT_EQ(l.lockWord, 0x00);
    EXPECT_TRUE(l.tryAcquire());
    EXPECT_EQ(l.lockWord, 0x80);
    l.release();
    {
        OSSLatchGuard hold(l);
        EXPECT_EQ(l.lockWord, 0x80);
    }
    EXPECT_EQ(l.lockWord, 0x00);

    // The contended path on a free latch takes it at its first attempt.
    EXPECT_NE(ossLockGetConflict(&l), 0u);
    EXPECT_EQ(l.lockWord, 0x80);
}

extern "C" int ossetestLatchFromC(void);

TEST(Latch, UsableFromC)
{
    EXPECT_EQ(ossetestLatchFromC(), 0);
}

TEST(LockWords, LatchTextsAndCodes)
{
    struct Case {
        Uint8 value;
        const char* text;
        Uint32 rc;
    };
    static const Case cases[] = {
        {0x00, "{ 0x00 [ unlocked ] }", 0},
        {0x80, "{ 0x80 [ locked ] }", 0},
        {0xC0, "{ 0xC0 [ locked;waiting ] }", 0},
        {0x05, "{ 0x05 [ corrupt ] }", ECF_OSSLOCK_CORRUPT},
        {0x81, "{ 0x81 [ corrupt ] }", ECF_OSSLOCK_CORRUPT},
        {0xFF, "{ 0xFF [ corrupt ] }", ECF_OSSLOCK_CORRUPT},
    };
    for (const Case& c : cases) {
        OSSLatch l{c.value};
        char buf[64];
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(ossLockToString(&l, buf, sizeof buf), c.rc) << c.text;
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(ossLockToString(&l, nullptr, 64), c.rc) << "no buffer: " << c.text;

        Uint32 code = 0x12345678u;
        const char* name = ossLockWordElementToString(c.value, &code);
        EXPECT_NE(strstr(c.text, name), nullptr) << name;
        EXPECT_EQ(code, c.rc ? ECF_OSSLOCK_CORRUPT : 0x12345678u) << "code left alone unless corrupt";
    }
    EXPECT_STREQ(ossLockWordElementToString(0x05, nullptr), "corrupt");
}

TEST(LockWords, TextIsCutToTheBufferAndTerminated)
{
    OSSLatch l{0x80};
    char buf[8];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(ossLockToString(&l, buf, 6), 0u);
    EXPECT_STREQ(buf, "{ 0x8");
    EXPECT_EQ(buf[6], 'x');  // nothing written past the given size
    EXPECT_EQ(ossLockToString(&l, buf, 0), 0u);
    EXPECT_EQ(buf[0], '{');

    EXPECT_EQ(ossFighterCountLockToString(0x00000102u, buf, sizeof buf), ECF_OSSLOCK_CORRUPT);
    EXPECT_STREQ(buf, "{ 0x000");
}

TEST(LockWords, FighterCountTexts)
{
    struct Case {
        Uint32 word;
        const char* text;
        Uint32 rc;
    };
    static const Case cases[] = {
        {0x00030201u, "{ 0x00030201 : aux: 3, fighters: 2, held: 1 [ locked ] }", 0},
        {0x00000000u, "{ 0x00000000 : aux: 0, fighters: 0, held: 0 [ unlocked ] }", 0},
        {0xFFFF0500u, "{ 0xFFFF0500 : aux: 65535, fighters: 5, held: 0 [ unlocked ] }", 0},
        {0x00000002u, "{ 0x00000002 : aux: 0, fighters: 0, held: 2 [ corrupt ] }", ECF_OSSLOCK_CORRUPT},
        {0x000000FFu, "{ 0x000000FF : aux: 0, fighters: 0, held: 255 [ corrupt ] }", ECF_OSSLOCK_CORRUPT},
    };
    for (const Case& c : cases) {
        char buf[96];
        EXPECT_EQ(ossFighterCountLockToString(c.word, buf, sizeof buf), c.rc) << c.text;
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(ossFighterCountLockToString(c.word, nullptr, 0), c.rc) << c.text;
    }
}

TEST(LockWords, VerifyModes)
{
    // Mode 1: must be free; mode 2: must be held; other modes: any valid state.
    struct Case {
        Uint8 value;
        Uint32 mode0, mode1, mode2, mode3;
    };
    static const Case cases[] = {
        {0x00, 0, 0, ECF_OSSLOCK_CORRUPT, 0},
        {0x80, 0, ECF_OSSLOCK_CORRUPT, 0, 0},
        {0xC0, 0, ECF_OSSLOCK_CORRUPT, 0, 0},
        {0x05, ECF_OSSLOCK_CORRUPT, ECF_OSSLOCK_CORRUPT, ECF_OSSLOCK_CORRUPT, ECF_OSSLOCK_CORRUPT},
        {0x40, ECF_OSSLOCK_CORRUPT, ECF_OSSLOCK_CORRUPT, ECF_OSSLOCK_CORRUPT, ECF_OSSLOCK_CORRUPT},
    };
    for (const Case& c : cases) {
        OSSLatch l{c.value};
        EXPECT_EQ(ossLockVerify(&l, 0), c.mode0) << int(c.value);
        EXPECT_EQ(ossLockVerify(&l, 1), c.mode1) << int(c.value);
        EXPECT_EQ(ossLockVerify(&l, 2), c.mode2) << int(c.value);
        EXPECT_EQ(ossLockVerify(&l, 0xFFFFFFFFu), c.mode3) << int(c.value);
        EXPECT_EQ(l.lockWord, c.value);
    }

    struct FighterCase {
        Uint32 word;
        Uint32 mode0, mode1, mode2;
    };
    static const FighterCase fighters[] = {
        {0xABCD0300u, 0, 0, ECF_OSSLOCK_CORRUPT},
        {0xABCD0301u, 0, ECF_OSSLOCK_CORRUPT, 0},
        {0x00000002u, ECF_OSSLOCK_CORRUPT, ECF_OSSLOCK_CORRUPT, ECF_OSSLOCK_CORRUPT},
    };
    for (const FighterCase& c : fighters) {
        EXPECT_EQ(osse_sync::fighterCountLockVerify(c.word, 0), c.mode0) << std::hex << c.word;
        EXPECT_EQ(osse_sync::fighterCountLockVerify(c.word, 1), c.mode1) << std::hex << c.word;
        EXPECT_EQ(osse_sync::fighterCountLockVerify(c.word, 2), c.mode2) << std::hex << c.word;
    }
}

TEST(SpinTune, ChosenFromTheProcessorCount)
{
    struct Case {
        Uint32 processors, factor, passes, delay;
    };
    static const Case cases[] = {
        {1, 0, 0, 0}, {2, 2, 10, 50}, {3, 5, 20, 50}, {4, 5, 20, 50}, {5, 5, 30, 50}, {64, 5, 30, 50},
    };
    for (const Case& c : cases) {
        const OSSSpinTune t = osse_sync::spinTuneForProcessors(c.processors);
        EXPECT_EQ(t.spinFactor, c.factor) << c.processors;
        EXPECT_EQ(t.spinPasses, c.passes) << c.processors;
        EXPECT_EQ(t.spinDelay, c.delay) << c.processors;
        EXPECT_EQ(t.reserved1, 0u);
        EXPECT_EQ(t.sleepIncrement, 0u);
        EXPECT_EQ(t.reserved2, 0u);
        EXPECT_EQ(t.tuneField6, 1000u);
        EXPECT_EQ(t.tuneField7, 128000u);
        EXPECT_EQ(t.tuneField8, 256000u);
    }

    // The load sequence picked the row of this machine.
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    OSSSpinTune loaded;
    OSSLatch::getSpinCounts(loaded);
    EXPECT_TRUE(sameTune(loaded, osse_sync::spinTuneForProcessors(si.dwNumberOfProcessors)))
        << "processors: " << si.dwNumberOfProcessors << ", passes: " << loaded.spinPasses;
}

TEST_F(SpinTuneTest, UpdateReplacesTheTuningWholesale)
{
    const OSSSpinTune odd{1, 2, 3, 4, 5, 6, 7, 8, 9};
    OSSLatch::updateSpinCounts(odd);
    OSSSpinTune back{};
    OSSLatch::getSpinCounts(back);
    EXPECT_TRUE(sameTune(back, odd));
}

namespace {

// Several threads add to a plain counter under one latch; half of the acquires go through
// the inline path, half try first and then take the contended path, which counts how often
// the latch was found held. The read-yield-write inside the latch makes a lost update likely
// whenever two threads are inside at once.
struct CounterRun {
    Uint32 total;
    Uint32 contended;
};

CounterRun addUnderLatch(int threads, int perThread)
{
    OSSLatch latch{};
    volatile Uint32 counter = 0;
    std::atomic<int> ready{0};
    std::atomic<Uint32> contended{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            ++ready;
            while (ready.load() < threads) SwitchToThread();
            for (int i = 0; i < perThread; ++i) {
                if (i & 1) {
                    latch.acquire();
                } else if (!latch.tryAcquire()) {
                    ++contended;
                    ossLockGetConflict(&latch);
                }
                const Uint32 v = counter;
                if ((i & 15) == 0) SwitchToThread();
                counter = v + 1;
                latch.release();
            }
        });
    }
    for (auto& th : pool) th.join();
    EXPECT_EQ(latch.lockWord, 0x00);
    return {counter, contended.load()};
}

}  // namespace

TEST_F(SpinTuneTest, ThreadsAddingUnderOneLatchEndAtTheExactTotal)
{
    const CounterRun r = addUnderLatch(4, 20000);
    EXPECT_EQ(r.total, 4u * 20000u);
    EXPECT_GT(r.contended, 0u);
}

TEST_F(SpinTuneTest, ExactTotalWithSingleProcessorTuningThatSleeps)
{
    useTuneOf(1);  // no spinning: every conflict sleeps
    const CounterRun r = addUnderLatch(4, 2000);
    EXPECT_EQ(r.total, 4u * 2000u);
    EXPECT_GT(r.contended, 0u);
}

TEST_F(SpinTuneTest, WaiterGetsTheLatchOnlyAfterRelease)
{
    for (Uint32 processors : {1u, 2u, 8u}) {
        useTuneOf(processors);
        OSSLatch latch{};
        latch.acquire();
        std::atomic<int> stage{0};
        volatile int guarded = 0;
        int seen = -1;
        std::thread waiter([&] {
            const bool first = latch.tryAcquire();
            stage = first ? 2 : 1;
            if (!first) ossLockGetConflict(&latch);
            seen = guarded;
            stage = 3;
            latch.release();
        });
        while (stage.load() == 0) SwitchToThread();
        ASSERT_EQ(stage.load(), 1) << "the held latch was taken";
        // A correct latch keeps the waiter out however long this takes.
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 30) {
            EXPECT_EQ(stage.load(), 1);
            SwitchToThread();
        }
        guarded = 42;
        latch.release();
        waiter.join();
        EXPECT_EQ(seen, 42) << processors;
        EXPECT_EQ(latch.lockWord, 0x00);
    }
}

namespace {
std::atomic<Uint32> g_preSleeps{0};
std::atomic<Uint32> g_postSleeps{0};
Uint32 countPre()
{
    ++g_preSleeps;
    return 0;
}
Uint32 countPost()
{
    ++g_postSleeps;
    return 0;
}
}  // namespace

TEST_F(SpinTuneTest, ContendedAcquireSleepsThroughTheYieldCallbacks)
{
    // While the latch is held the waiter keeps sleeping, each sleep bracketed by the host's
    // callbacks; with the single-processor tuning it sleeps without spinning first, with a
    // larger machine's tuning after its spin passes. Either way it gets the latch on release.
    for (Uint32 processors : {1u, 8u}) {
        useTuneOf(processors);
        g_preSleeps = 0;
        g_postSleeps = 0;
        ossSetYieldCallbacks(countPre, countPost);
        OSSLatch latch{};
        latch.acquire();
        std::atomic<bool> done{false};
        std::thread waiter([&] {
            latch.acquire();
            done = true;
            latch.release();
        });
        const DWORD start = GetTickCount();
        while (g_preSleeps.load() < 3 && GetTickCount() - start < 20000) SwitchToThread();
        EXPECT_GE(g_preSleeps.load(), 3u) << processors;
        EXPECT_FALSE(done.load()) << processors;
        latch.release();
        waiter.join();
        ossSetYieldCallbacks(nullptr, nullptr);
        EXPECT_TRUE(done.load());
        EXPECT_EQ(g_postSleeps.load(), g_preSleeps.load()) << processors;
        EXPECT_EQ(latch.lockWord, 0x00);
    }
}

namespace {

// Latch and counter in a named mapping shared by the test and its children.
struct SharedCounter {
    OSSLatch latch;
    Uint8 pad[3];
    volatile LONG ready;
    volatile LONG go;
    volatile Uint32 counter;
};
static_assert(offsetof(SharedCounter, ready) == 4, "latch first, alone in its word");

constexpr int kPerProcess = 20000;
constexpr LONG kChildren = 2;

void addInShared(SharedCounter* s, int count)
{
    for (int i = 0; i < count; ++i) {
        s->latch.acquire();
        const Uint32 v = s->counter;
        if ((i & 31) == 0) SwitchToThread();
        s->counter = v + 1;
        s->latch.release();
    }
}

}  // namespace

// args: mapping name, "sleepy" to use the single-processor tuning
OSSE_CHILD_ROLE(latch_adder)
{
    if (args.size() < 2) return 10;
    if (args[1] == "sleepy") OSSLatch::updateSpinCounts(osse_sync::spinTuneForProcessors(1));
    HANDLE map = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, args[0].c_str());
    if (!map) return 11;
    auto* s = static_cast<SharedCounter*>(MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!s) return 12;
    InterlockedIncrement(&s->ready);
    while (!s->go) SwitchToThread();
    addInShared(s, kPerProcess);
    UnmapViewOfFile(s);
    CloseHandle(map);
    return 0;
}

TEST(LatchAcrossProcesses, ProcessesAddingUnderOneSharedLatchEndAtTheExactTotal)
{
    const std::string name = "osse_latch_test_" + std::to_string(GetCurrentProcessId());
    HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                    name.c_str());
    ASSERT_NE(map, nullptr);
    auto* s = static_cast<SharedCounter*>(MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->latch.lockWord, 0x00);  // fresh pages are zero: a free latch

    ossetest::Child children[kChildren];
    ASSERT_TRUE(children[0].start("latch_adder", {name, "spinning"}));
    ASSERT_TRUE(children[1].start("latch_adder", {name, "sleepy"}));
    const DWORD start = GetTickCount();
    while (s->ready < kChildren && GetTickCount() - start < 60000) SwitchToThread();
    ASSERT_EQ(s->ready, kChildren);
    s->go = 1;
    addInShared(s, kPerProcess);
    for (auto& c : children) EXPECT_EQ(c.wait(), 0);

    EXPECT_EQ(s->counter, Uint32(kPerProcess * (kChildren + 1)));
    EXPECT_EQ(s->latch.lockWord, 0x00);
    UnmapViewOfFile(s);
    CloseHandle(map);
}

TEST(ProcessorFacts, ComputedOnceUnderTheirLatch)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    ASSERT_TRUE(__get_cpuid(1, &a, &b, &c, &d));
    const Uint8 sse4 = ((c >> 19) & 1u) | ((c >> 20) & 1u);

    // Racing first calls agree, and the latch is left free.
    std::vector<std::thread> pool;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t) {
        pool.emplace_back([&] {
            if (OSS_SIMD_isHardwareVectorSupportedInternal() != sse4) ++mismatches;
        });
    }
    for (auto& th : pool) th.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(OSS_SIMD_isHardwareVectorSupportedInternal(), sse4);
    EXPECT_EQ(g_IsHWVectorSupportedLatch.lockWord, 0x00);
    EXPECT_EQ(g_IsSSE4_1SupportedLatch.lockWord, 0x00);
    EXPECT_EQ(g_IsSSE4_2SupportedLatch.lockWord, 0x00);

    SYSTEM_INFO si;
    GetSystemInfo(&si);
    EXPECT_EQ(ossCanUseRegister(), (si.wProcessorLevel >= 5 && (d & 0x10u)) ? 1 : 0);
}
