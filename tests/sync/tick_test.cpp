// Tick calibration and conversions, yielding and sleeping through the host callbacks, the busy
// loop.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"

namespace {

const OSSErr kTooBig = ECF_OSSTICK_TIME_VALUE_TOO_BIG;
const OSSErr kTooSmall = ECF_OSSTICK_TIME_VALUE_TOO_SMALL;
const Uint64 kMaxTime = 4294967295ull * 1000000000ull;

OSSTickConversionFactor factorOf(Uint64 frequency)
{
    OSSTickConversionFactor f;
    f.calibrationTicks = 1;
    f.calibrationCycles = 1;
    f.frequency = frequency;
    return f;
}

}  // namespace

TEST(TickConversion, TicksToTime)
{
    struct Case {
        Uint64 frequency;
        Uint64 ticks;
        Uint32 seconds;
        Uint32 nanoseconds;
    } cases[] = {
        {10000000, 15000000, 1, 500000000},
        {10000000, 0, 0, 0},
        {10000000, 10, 0, 1000},
        {10000000, 157, 0, 15700},  // exact, where a double quotient gives 15,699
        {3, 10, 3, 333333333},
        // Above 1.8e10 ticks per second the nanoseconds need a 128-bit product.
        {1ull << 40, (1ull << 40) * 3 / 2, 1, 500000000},
        {1ull << 40, (1ull << 40) - 1, 0, 999999999},
        {10000000, 10000000ull * 4294967295ull, 4294967295u, 0},
        {1048576, 65536, 0, 62500000},
        {1, 42, 42, 0},  // a failed frequency query: ticks count as seconds
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ticks << " ticks at " << c.frequency);
        const OSSTickConversionFactor f = factorOf(c.frequency);
        OSSTickDelta d;
        d.ticks = c.ticks;
        Uint32 s = 0xDEAD, ns = 0xDEAD;
        d.convertToTime(f, &s, &ns);
        EXPECT_EQ(s, c.seconds);
        EXPECT_EQ(ns, c.nanoseconds);

        OSSTick t;
        t.ticks = c.ticks;
        s = ns = 0xDEAD;
        t.convertToTime(f, &s, &ns);
        EXPECT_EQ(s, c.seconds);
        EXPECT_EQ(ns, c.nanoseconds);
    }
}

TEST(TickConversion, TimeToTicksAtItsLimits)
{
    // At 10 MHz, 65536 ticks are exactly 6,553,600 ns: one tick per 100 ns.
    struct Case {
        Uint64 frequency;
        Uint64 nanoseconds;
        OSSErr rc;
        Uint64 ticks;
    } cases[] = {
        {10000000, 0, kTooSmall, 0},
        {10000000, 999, kTooSmall, 0},
        {10000000, 1000, OSS_OK, 10},
        {10000000, 1099, OSS_OK, 10},
        {10000000, 1000000000, OSS_OK, 10000000},
        // The last value of the 64-bit path and the first of the 128-bit one.
        {10000000, 0xFFFFFFFFFFFFull, OSS_OK, 0xFFFFFFFFFFFFull / 100},
        {10000000, 0x1000000000000ull, OSS_OK, 0x1000000000000ull / 100},
        {10000000, kMaxTime, OSS_OK, kMaxTime / 100},
        {10000000, kMaxTime + 1, kTooBig, 0},
        {10000000, ~0ull, kTooBig, 0},
        // One tick per second: a microsecond is less than a tick, the longest time is not.
        {1, 1000, kTooSmall, 0},
        {1, 999999999, kTooSmall, 0},
        {1, 1000000000, OSS_OK, 1},
        {1, kMaxTime, OSS_OK, 4294967295ull},
        // At 10^10 ticks per second 65536 ticks take 6,553 ns: the longest times need more
        // ticks than 64 bits hold.
        {10000000000ull, 1844505522384928767ull, OSS_OK, 18446744073709551605ull},
        {10000000000ull, 1844505522384928768ull, kTooBig, 0},
        {10000000000ull, kMaxTime, kTooBig, 0},
        // A factor that was never calibrated cannot represent any time.
        {0, 1000000, kTooBig, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nanoseconds << " ns at " << c.frequency);
        OSSTickDelta d;
        d.ticks = 12345;  // every failure leaves 0
        EXPECT_EQ(d.initFromTimeValue64(factorOf(c.frequency), c.nanoseconds), c.rc);
        EXPECT_EQ(d.ticks, c.ticks);
    }
}

TEST(TickConversion, LargeTimesAgreeWithAnIndependentQuotient)
{
    // At 2^20 ticks per second, 65536 ticks are exactly 62,500,000 ns, so
    // ticks = t * 65536 / 62500000 = t * 2048 / 1953125. With t = a * 1953125 + b that is
    // 2048 * a + (2048 * b) / 1953125, which needs no more than 64 bits.
    const OSSTickConversionFactor f = factorOf(1048576);
    const Uint64 times[] = {0xFFFFFFFFFFFFull,      0x1000000000000ull,    0x1000000000001ull,
                            123456789012345678ull,  3000000000000000000ull, kMaxTime - 1,
                            kMaxTime};
    for (Uint64 t : times) {
        SCOPED_TRACE(t);
        const Uint64 expected = 2048 * (t / 1953125) + (2048 * (t % 1953125)) / 1953125;
        OSSTickDelta d;
        ASSERT_EQ(d.initFromTimeValue64(f, t), OSS_OK);
        EXPECT_EQ(d.ticks, expected);
    }
}

TEST(TickConversion, ThirtyTwoBitTimesWiden)
{
    const OSSTickConversionFactor f = factorOf(10000000);
    struct Case {
        Uint32 nanoseconds;
        OSSErr rc;
        Uint64 ticks;
    } cases[] = {
        {999, kTooSmall, 0},
        {1000, OSS_OK, 10},
        {4294967295u, OSS_OK, 42949672},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nanoseconds);
        OSSTickDelta d;
        d.ticks = 7;
        EXPECT_EQ(d.initFromTimeValue(f, c.nanoseconds), c.rc);
        EXPECT_EQ(d.ticks, c.ticks);
        OSSTick t;
        t.ticks = 7;
        EXPECT_EQ(t.initFromTimeValue(f, c.nanoseconds), c.rc);
        EXPECT_EQ(t.ticks, c.ticks);
    }
}

TEST(TickCalibration, ConcurrentFirstUsersGetOneFactor)
{
    // Each test runs in a process of its own, so these threads are the first users.
    const int kThreads = 8;
    std::vector<OSSTickConversionFactor> got(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            got[i].initialize();
        });
    }
    for (auto& t : threads) t.join();

    LARGE_INTEGER freq;
    ASSERT_TRUE(QueryPerformanceFrequency(&freq));
    EXPECT_EQ(got[0].frequency, static_cast<Uint64>(freq.QuadPart));
    EXPECT_GT(got[0].calibrationTicks, 0u);
    EXPECT_GT(got[0].calibrationCycles, 0u);
    for (int i = 1; i < kThreads; ++i) {
        EXPECT_EQ(got[i].calibrationTicks, got[0].calibrationTicks) << i;
        EXPECT_EQ(got[i].calibrationCycles, got[0].calibrationCycles) << i;
        EXPECT_EQ(got[i].frequency, got[0].frequency) << i;
    }
    // Later users receive the same copy.
    OSSTickConversionFactor again;
    again.initialize();
    EXPECT_EQ(memcmp(&again, &got[0], sizeof again), 0);
}

TEST(TickCalibration, MeasuredIntervalRoundTrips)
{
    OSSTickConversionFactor f;
    f.initialize();
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    Sleep(20);
    QueryPerformanceCounter(&b);
    OSSTickDelta measured;
    measured.ticks = static_cast<Uint64>(b.QuadPart - a.QuadPart);
    Uint32 s = 0, ns = 0;
    measured.convertToTime(f, &s, &ns);
    const Uint64 total = s * 1000000000ull + ns;
    EXPECT_GE(total, 15000000u);  // Sleep(20) took at least about 20 ms

    OSSTickDelta back;
    ASSERT_EQ(back.initFromTimeValue64(f, total), OSS_OK);
    // Both directions round down: the round trip loses less than two ticks.
    EXPECT_LE(back.ticks, measured.ticks);
    EXPECT_GE(back.ticks + 2, measured.ticks);
}

TEST(WasteTime, ReturnsItsSum)
{
    struct Case {
        Uint32 n;
        Uint32 expected;
    } cases[] = {{0, 77}, {1, 77}, {2, 79}, {3, 86}, {4, 101}, {10, 527}};
    for (const Case& c : cases) EXPECT_EQ(ossWasteTime(c.n), c.expected) << c.n;

    // Large n wraps modulo 2^32; the closed form in 64 bits is exact.
    for (Uint32 n : {65536u, 100000u, 1234567u}) {
        const Uint64 sum = static_cast<Uint64>(n) * (n - 1) / 2;
        EXPECT_EQ(ossWasteTime(n), static_cast<Uint32>(77 + n * sum)) << n;
    }
}

TEST(WasteTime, TakesTimeInProportionToItsArgument)
{
    // Twenty million dependent additions cannot finish in 0.1 ms on any processor; a loop
    // folded into its closed form by the optimiser would.
    LARGE_INTEGER freq, a, b;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&a);
    ossWasteTime(20000000);
    QueryPerformanceCounter(&b);
    EXPECT_GE(b.QuadPart - a.QuadPart, freq.QuadPart / 10000);
}

// Records the order of callback calls and what they see.
namespace {

std::string g_calls;
DWORD g_preThread, g_postThread;
LARGE_INTEGER g_preAt, g_postAt;

Uint32 recordPre()
{
    g_calls += "pre ";
    g_preThread = GetCurrentThreadId();
    QueryPerformanceCounter(&g_preAt);
    return 111;
}

Uint32 recordPost()
{
    g_calls += "post ";
    g_postThread = GetCurrentThreadId();
    QueryPerformanceCounter(&g_postAt);
    return 1234;
}

class YieldCallbacks : public testing::Test {
protected:
    void SetUp() override { g_calls.clear(); }
    void TearDown() override { ossSetYieldCallbacks(nullptr, nullptr); }
};

}  // namespace

TEST_F(YieldCallbacks, SurroundEveryYieldAndSleep)
{
    ossSetYieldCallbacks(recordPre, recordPost);
    struct Case {
        const char* name;
        Uint32 (*call)();
        Uint32 rc;
    } cases[] = {
        {"ossYield", [] { return ossYield(); }, 1234},
        {"ossSleep(0)", [] { return ossSleep(0); }, 0},
        {"ossSleep(5)", [] { return ossSleep(5); }, 0},
        {"kernel yield", [] { return ossPossiblyUselessCallToKernelYieldAPIOnSomePlatforms(); },
         1234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_calls.clear();
        EXPECT_EQ(c.call(), c.rc);
        EXPECT_EQ(g_calls, "pre post ");
    }
}

TEST_F(YieldCallbacks, MissingCallbacksAreSkipped)
{
    EXPECT_EQ(ossYield(), 0u);
    EXPECT_EQ(ossPossiblyUselessCallToKernelYieldAPIOnSomePlatforms(), 0u);
    EXPECT_EQ(ossSleep(0), 0u);

    ossSetYieldCallbacks(recordPre, nullptr);
    EXPECT_EQ(ossYield(), 0u);
    EXPECT_EQ(ossPossiblyUselessCallToKernelYieldAPIOnSomePlatforms(), 0u);
    EXPECT_EQ(g_calls, "pre pre ");

    g_calls.clear();
    ossSetYieldCallbacks(nullptr, recordPost);
    EXPECT_EQ(ossYield(), 1234u);
    EXPECT_EQ(ossSleep(1), 0u);
    EXPECT_EQ(g_calls, "post post ");
}

TEST_F(YieldCallbacks, SleepHappensBetweenThemOnTheSleepingThread)
{
    ossSetYieldCallbacks(recordPre, recordPost);
    DWORD sleeper = 0;
    std::thread t([&] {
        sleeper = GetCurrentThreadId();
        ossSleep(50);
    });
    t.join();
    EXPECT_EQ(g_preThread, sleeper);
    EXPECT_EQ(g_postThread, sleeper);
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    // Sleep may end up to a timer period early; 40 ms leaves room for that.
    EXPECT_GE((g_postAt.QuadPart - g_preAt.QuadPart) * 1000 / freq.QuadPart, 40);
}
