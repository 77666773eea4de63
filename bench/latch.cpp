// The spin latch beside the system's locks: uncontended acquire+release cost and two-thread
// contended throughput, each printed with the latch-to-peer ratio from the same run.
#include <windows.h>

#include <stdio.h>

#include <mutex>
#include <thread>

#include "bench_clock.h"
#include "osse/latch.h"

namespace {

volatile unsigned g_counter;
// Which thread held the lock last, and how often the lock passed to the other thread: a lock
// that lets the releasing thread take it straight back shows high throughput and few hand-offs.
volatile unsigned g_lastOwner;
volatile unsigned g_handOffs;

struct LatchLock {
    OSSLatch l{};
    void lock() { l.acquire(); }
    void unlock() { l.release(); }
};
struct CritSecLock {
    CRITICAL_SECTION cs;
    CritSecLock() { InitializeCriticalSection(&cs); }
    ~CritSecLock() { DeleteCriticalSection(&cs); }
    void lock() { EnterCriticalSection(&cs); }
    void unlock() { LeaveCriticalSection(&cs); }
};
struct SrwLock {
    SRWLOCK s = SRWLOCK_INIT;
    void lock() { AcquireSRWLockExclusive(&s); }
    void unlock() { ReleaseSRWLockExclusive(&s); }
};
struct StdMutexLock {
    std::mutex m;
    void lock() { m.lock(); }
    void unlock() { m.unlock(); }
};

template <typename Lock>
void loop(Lock& lock, unsigned n, unsigned me = 0)
{
    for (unsigned i = 0; i < n; ++i) {
        lock.lock();
        g_counter = g_counter + 1;
        if (g_lastOwner != me) {
            g_lastOwner = me;
            g_handOffs = g_handOffs + 1;
        }
        lock.unlock();
    }
}

// Nanoseconds per acquire+release pair on one thread, best of several rounds.
template <typename Lock>
double uncontendedNs(unsigned n, int rounds)
{
    Lock lock;
    loop(lock, n / 10);  // warm up
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
        const double t0 = nowSeconds();
        loop(lock, n);
        const double t = (nowSeconds() - t0) * 1e9 / n;
        if (t < best) best = t;
    }
    return best;
}

struct Contended {
    double mops;      // million acquire+release pairs per second
    double handOffs;  // per 1000 acquires
};

// Two threads on one lock, best of several rounds.
template <typename Lock>
Contended contended(unsigned perThread, int rounds)
{
    Contended best{0, 0};
    for (int r = 0; r < rounds; ++r) {
        Lock lock;
        g_counter = 0;
        g_lastOwner = 0;
        g_handOffs = 0;
        volatile LONG ready = 0;
        auto body = [&](unsigned me) {
            InterlockedIncrement(&ready);
            while (ready < 2) YieldProcessor();
            loop(lock, perThread, me);
        };
        const double t0 = nowSeconds();
        std::thread a(body, 1u), b(body, 2u);
        a.join();
        b.join();
        const double t = nowSeconds() - t0;
        if (g_counter != 2 * perThread) {
            printf("lost updates: %u of %u\n", g_counter, 2 * perThread);
        }
        const double mops = 2.0 * perThread / t / 1e6;
        if (mops > best.mops) best = {mops, 1000.0 * g_handOffs / (2.0 * perThread)};
    }
    return best;
}

}  // namespace

int main()
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    OSSSpinTune tune;
    OSSLatch::getSpinCounts(tune);
    printf("processors: %lu, latch spin passes: %u, spin delay: %u\n",
           (unsigned long)si.dwNumberOfProcessors, tune.spinPasses, tune.spinDelay);

    const unsigned n = 5000000;
    const double latch = uncontendedNs<LatchLock>(n, 5);
    const double cs = uncontendedNs<CritSecLock>(n, 5);
    const double srw = uncontendedNs<SrwLock>(n, 5);
    const double mtx = uncontendedNs<StdMutexLock>(n, 5);
    printf("\nuncontended acquire+release, ns per pair (best of 5 x %u); ratio = latch / peer\n", n);
    printf("  %-18s %8.2f\n", "OSSLatch", latch);
    printf("  %-18s %8.2f   ratio %.2f\n", "CRITICAL_SECTION", cs, latch / cs);
    printf("  %-18s %8.2f   ratio %.2f\n", "SRWLOCK", srw, latch / srw);
    printf("  %-18s %8.2f   ratio %.2f\n", "std::mutex", mtx, latch / mtx);
    double fastest = cs < srw ? cs : srw;
    if (mtx < fastest) fastest = mtx;
    printf("  latch vs fastest peer: %.2f (%s)\n", latch / fastest,
           latch <= fastest ? "no slower" : "slower");

    const unsigned per = 1000000;
    const Contended clatch = contended<LatchLock>(per, 3);
    const Contended ccs = contended<CritSecLock>(per, 3);
    const Contended csrw = contended<SrwLock>(per, 3);
    const Contended cmtx = contended<StdMutexLock>(per, 3);
    printf("\ncontended, 2 threads x %u, million pairs per second (best of 3); "
           "ratio = latch / peer (above 1: latch faster); hand-offs between the threads "
           "per 1000 acquires\n", per);
    printf("  %-18s %8.2f              hand-offs %6.1f\n", "OSSLatch", clatch.mops,
           clatch.handOffs);
    const struct {
        const char* name;
        Contended c;
    } peers[] = {{"CRITICAL_SECTION", ccs}, {"SRWLOCK", csrw}, {"std::mutex", cmtx}};
    for (const auto& p : peers) {
        printf("  %-18s %8.2f   ratio %.2f   hand-offs %6.1f\n", p.name, p.c.mops,
               clatch.mops / p.c.mops, p.c.handOffs);
    }
    return 0;
}
