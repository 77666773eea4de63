// Atomic primitives and the versioned objects: results, return values and refusal of objects
// that were never initialised.
#include <string.h>

#include <thread>
#include <vector>

#include "../../src/sync/atomic_ops.h"
#include "osse/ecf.h"
#include "osse/latch.h"
#include "osse_test.h"

TEST(Atomic8, LockWordOperations)
{
    struct Case {
        const char* what;
        Uint8 before;
        Uint32 (*op)(volatile Uint8*);
        Uint32 result;
        Uint8 after;
    };
    static const Case cases[] = {
        {"test-and-get free", 0x00, ossWin32Lock8TestGetInternal, 0, 0x80},
        {"test-and-get held", 0x80, ossWin32Lock8TestGetInternal, 0x870F0035u, 0x80},
        {"test-and-get keeps low bits", 0x05, ossWin32Lock8TestGetInternal, 0, 0x85},
        {"test-and-get 0xC0", 0xC0, ossWin32Lock8TestGetInternal, 0x870F0035u, 0xC0},
        {"lock-exchange free", 0x00, [](volatile Uint8* p) -> Uint32 { return ossWin32Lock8ExchangeInternal(p); }, 0x00, 0x80},
        {"lock-exchange held", 0x80, [](volatile Uint8* p) -> Uint32 { return ossWin32Lock8ExchangeInternal(p); }, 0x80, 0x80},
        {"lock-exchange 0xC0", 0xC0, [](volatile Uint8* p) -> Uint32 { return ossWin32Lock8ExchangeInternal(p); }, 0xC0, 0x80},
        {"release-and-return", 0xC0, [](volatile Uint8* p) -> Uint32 { return ossWin32Lock8ReleaseAndReturnInternal(p); }, 0xC0, 0x00},
        {"release", 0x80, [](volatile Uint8* p) -> Uint32 { ossWin32Lock8ReleaseInternal(p); return 0; }, 0, 0x00},
        {"exchange 8", 0xAB, [](volatile Uint8* p) -> Uint32 { return ossWin32AtomicExchange8Internal(p, 0x12) & 0xFFu; }, 0xAB, 0x12},
    };
    for (const Case& c : cases) {
        // Neighbours of the byte must survive every operation.
        volatile Uint8 bytes[3] = {0x5A, c.before, 0xA5};
        EXPECT_EQ(c.op(&bytes[1]), c.result) << c.what;
        EXPECT_EQ(bytes[1], c.after) << c.what;
        EXPECT_EQ(bytes[0], 0x5A) << c.what;
        EXPECT_EQ(bytes[2], 0xA5) << c.what;
    }
}

TEST(Atomic, CompareSwapAndReturnAtEachWidth)
{
    volatile Uint8 b = 0x11;
    EXPECT_EQ(ossWin32CompareSwapAndReturn8Internal(&b, 0x22, 0x99), 0x11);
    EXPECT_EQ(b, 0x11);
    EXPECT_EQ(ossWin32CompareSwapAndReturn8Internal(&b, 0x22, 0x11), 0x11);
    EXPECT_EQ(b, 0x22);

    volatile Uint16 h = 0x8001;
    EXPECT_EQ(ossWin32CompareSwapAndReturn16Internal(&h, 0x1234, 0x0001), 0x8001);
    EXPECT_EQ(h, 0x8001);
    EXPECT_EQ(ossWin32CompareSwapAndReturn16Internal(&h, 0x1234, 0x8001), 0x8001);
    EXPECT_EQ(h, 0x1234);

    volatile Uint32 w = 0xDEADBEEFu;
    EXPECT_EQ(ossWin32CompareSwapAndReturn32Internal(&w, 7, 0xDEADBEEEu), 0xDEADBEEFu);
    EXPECT_EQ(w, 0xDEADBEEFu);
    EXPECT_EQ(ossWin32CompareSwapAndReturn32Internal(&w, 7, 0xDEADBEEFu), 0xDEADBEEFu);
    EXPECT_EQ(w, 7u);
}

TEST(Atomic, ExchangeAndFetchAndAdd32)
{
    volatile Uint32 w = 0xFFFFFFFEu;
    EXPECT_EQ(ossWin32FetchAndAdd32Internal(&w, 3), 0xFFFFFFFEu);
    EXPECT_EQ(w, 1u);  // wraps
    EXPECT_EQ(ossWin32FetchAndAdd32Internal(&w, 0xFFFFFFFFu), 1u);  // adding -1
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(ossWin32AtomicExchange32Internal(&w, 0xCAFEF00Du), 0u);
    EXPECT_EQ(w, 0xCAFEF00Du);
}

TEST(AtomicInternalWidths, LockWordsAndAddsAt16And32Bits)
{
    using namespace osse_sync;
    // Wider lock words: bit 7 is the lock bit, the other bits are left as they are.
    volatile Uint16 h = 0x0100;
    EXPECT_EQ(lockTestGet(&h), 0u);
    EXPECT_EQ(h, 0x0180);
    EXPECT_EQ(lockTestGet(&h), 0x870F0035u);
    EXPECT_EQ(lockReleaseAndReturn(&h), 0x0180);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(lockExchange(&h), 0);
    EXPECT_EQ(h, 0x80);
    lockRelease(&h);
    EXPECT_EQ(h, 0);

    volatile Uint32 w = 0x80000000u;
    EXPECT_EQ(lockTestGet(&w), 0u);
    EXPECT_EQ(w, 0x80000080u);
    EXPECT_EQ(lockExchange(&w), 0x80000080u);
    EXPECT_EQ(w, 0x80u);

    volatile Uint8 b = 0xFF;
    EXPECT_EQ(fetchAndAdd(&b, Uint8(2)), 0xFF);
    EXPECT_EQ(b, 0x01);
    EXPECT_EQ(fetchAndAdd(&h, Uint16(0xFFFF)), 0);
    EXPECT_EQ(h, 0xFFFF);
    EXPECT_EQ(exchange(&h, Uint16(0x1234)), 0xFFFF);
    EXPECT_EQ(h, 0x1234);
}

TEST(Atomic64, CompareSwapWritesThePreviousValueBack)
{
    // Halves differ so that a swap of only one half would show.
    alignas(8) volatile Uint64 word = 0x1111111122222222ull;

    Uint64 expected = 0x1111111100000000ull;  // high half right, low half wrong
    EXPECT_EQ(ossWin32CompareSwapAndReturn64Internal(&word, &expected, 0x3333333344444444ull), 0u);
    EXPECT_EQ(word, 0x1111111122222222ull);
    EXPECT_EQ(expected, 0x1111111122222222ull);

    // The written-back value is the one to retry with.
    EXPECT_EQ(ossWin32CompareSwapAndReturn64Internal(&word, &expected, 0x3333333344444444ull), 1u);
    EXPECT_EQ(word, 0x3333333344444444ull);
    EXPECT_EQ(expected, 0x1111111122222222ull);

    EXPECT_EQ(ossWin32Fetch64Internal(&word), 0x3333333344444444ull);
    EXPECT_EQ(word, 0x3333333344444444ull);
    word = 0;  // a word that equals the fetch's guess stays as it is
    EXPECT_EQ(ossWin32Fetch64Internal(&word), 0u);
    EXPECT_EQ(word, 0u);
}

TEST(Atomic, ConcurrentAddsAndSwapsLoseNothing)
{
    // Counters start just below a 32-bit boundary so that the 64-bit one carries into its high
    // half while the threads race: a torn read or a half-done swap would show in the total.
    constexpr int kThreads = 4;
    constexpr int kPerThread = 20000;
    volatile Uint32 sum32 = 0;
    alignas(8) volatile Uint64 sum64 = 0xFFFFFFFFull - 1000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) {
                ossWin32FetchAndAdd32Internal(&sum32, 1);
                Uint64 seen = ossWin32Fetch64Internal(&sum64);
                while (!ossWin32CompareSwapAndReturn64Internal(&sum64, &seen, seen + 1)) {
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(sum32, Uint32(kThreads * kPerThread));
    EXPECT_EQ(sum64, 0xFFFFFFFFull - 1000 + kThreads * kPerThread);
}

TEST(VAtomicSigned32, Operations)
{
    OSSVAtomicSigned32 a;
    a.init(10, 0);
    EXPECT_EQ(a.version, 0x0A050004u);
    EXPECT_EQ(a.size(), 4u);

    Sint32 old = -1;
    EXPECT_EQ(a.add(5, &old), 0u);
    EXPECT_EQ(old, 10);
    EXPECT_EQ(a.value, 15);

    EXPECT_EQ(a.increment(&old), 0u);
    EXPECT_EQ(old, 15);
    EXPECT_EQ(a.decrement(&old), 0u);
    EXPECT_EQ(old, 16);
    EXPECT_EQ(a.decrement(nullptr), 0u);  // the previous value may be dropped
    EXPECT_EQ(a.value, 14);

    EXPECT_EQ(a.swap(-7, &old), 0u);
    EXPECT_EQ(old, 14);
    EXPECT_EQ(a.compareAndSwap(0, 3), ECF_FAILED);
    EXPECT_EQ(a.value, -7);
    EXPECT_EQ(a.compareAndSwap(-7, 3), 0u);
    EXPECT_EQ(a.value, 3);

    EXPECT_EQ(a.poke(INT32_MIN), 0u);
    Sint32 seen = 0;
    EXPECT_EQ(a.peek(&seen), 0u);
    EXPECT_EQ(seen, INT32_MIN);
    EXPECT_EQ(a.decrement(&old), 0u);  // wraps like the machine word
    EXPECT_EQ(a.value, INT32_MAX);
    EXPECT_EQ(a.peek(nullptr), ECF_INVALID_PARAMETER);
}

TEST(VAtomicSigned32, InitKeepsTheValueWithFlag2)
{
    OSSVAtomicSigned32 a{0, 42};
    a.init(7, 2);
    EXPECT_EQ(a.version, 0x0A050004u);
    EXPECT_EQ(a.value, 42);
    a.init(7, 1);  // other bits do not keep it
    EXPECT_EQ(a.value, 7);
}

TEST(VAtomicSigned32, UninitialisedObjectIsRefusedAndLeftAlone)
{
    using Op = Uint32 (*)(OSSVAtomicSigned32&, Sint32*);
    static const Op ops[] = {
        [](OSSVAtomicSigned32& a, Sint32* o) { return a.peek(o); },
        [](OSSVAtomicSigned32& a, Sint32*) { return a.poke(99); },
        [](OSSVAtomicSigned32& a, Sint32* o) { return a.add(5, o); },
        [](OSSVAtomicSigned32& a, Sint32* o) { return a.increment(o); },
        [](OSSVAtomicSigned32& a, Sint32* o) { return a.decrement(o); },
        [](OSSVAtomicSigned32& a, Sint32* o) { return a.swap(99, o); },
        [](OSSVAtomicSigned32& a, Sint32*) { return a.compareAndSwap(10, 99); },
    };
    for (Uint32 version : {0u, 20040701u}) {
        for (size_t i = 0; i < sizeof ops / sizeof ops[0]; ++i) {
            OSSVAtomicSigned32 a{version, 10};
            Sint32 out = 1234;
            EXPECT_EQ(ops[i](a, &out), ECF_INVALID_VERSION) << "op " << i << " version " << version;
            EXPECT_EQ(a.version, version) << "op " << i;
            EXPECT_EQ(a.value, 10) << "op " << i;
            EXPECT_EQ(out, 1234) << "op " << i;
        }
    }
    // The lowest accepted version.
    OSSVAtomicSigned32 a{20040702u, 10};
    EXPECT_EQ(a.increment(nullptr), 0u);
    EXPECT_EQ(a.value, 11);
}

TEST(VLatch, RefusesUninitialisedAndWorksAfterInit)
{
    OSSVLatch v{0, {0}};
    EXPECT_EQ(ossVLatchGet(&v), ECF_INVALID_VERSION);
    EXPECT_EQ(ossVLatchTestGet(&v), ECF_INVALID_VERSION);
    v.latch.lockWord = 0x80;
    EXPECT_EQ(ossVLatchRelease(&v), ECF_INVALID_VERSION);
    EXPECT_EQ(v.latch.lockWord, 0x80);  // nothing touched
    EXPECT_EQ(ossVLatchGet(nullptr), ECF_INVALID_PARAMETER);

    EXPECT_EQ(ossVLatchInit(&v, 12345), 0u);  // second argument ignored
    EXPECT_EQ(v.version, 0x0A050004u);
    EXPECT_EQ(v.latch.lockWord, 0x00);
    EXPECT_EQ(ossVLatchTestGet(&v), 0u);
    EXPECT_EQ(v.latch.lockWord, 0x80);
    EXPECT_EQ(ossVLatchTestGet(&v), ECF_FAILED);
    EXPECT_EQ(ossVLatchRelease(&v), 0u);
    EXPECT_EQ(v.latch.lockWord, 0x00);
    EXPECT_EQ(ossVLatchGet(&v), 0u);
    EXPECT_EQ(v.latch.lockWord, 0x80);
    EXPECT_EQ(ossVLatchRelease(&v), 0u);
}
