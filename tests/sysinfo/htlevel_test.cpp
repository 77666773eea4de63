// Threads per core: the once-only computation and its fallback, which moves the calling thread
// from processor to processor and must leave every other thread (and the process) where it was.
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "osse/osse.h"
#include "osse_test.h"
#include "sysinfo/htlevel.h"

using namespace osse_sysinfo;

namespace {

std::atomic<int> g_notes{0};

bool preferredFails(Uint32*, Uint32* error, Uint32* probe)
{
    *error = ERROR_NOT_SUPPORTED;
    *probe = 10;
    return false;
}

void countNote(Uint32, Uint32)
{
    ++g_notes;
}

DWORD_PTR processMask()
{
    DWORD_PTR process = 0, system = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
    return process;
}

// Watches the process's affinity mask from its own thread until stopped.
class MaskWatch {
public:
    MaskWatch() : expected_(processMask()), thread_([this] {
        while (!stop_) {
            if (processMask() != expected_) changed_ = true;
            Sleep(0);
        }
    }) {}
    bool stopAndCheck()
    {
        stop_ = true;
        thread_.join();
        return !changed_ && processMask() == expected_;
    }

private:
    DWORD_PTR expected_;
    std::atomic<bool> stop_{false}, changed_{false};
    std::thread thread_;
};

}  // namespace

// Many threads ask at once with the preferred source failing: one computes (one note), all get
// the same value, the process's mask never changes, and each thread's own mask is as before.
TEST(SysInfoThreadsPerCore, ConcurrentFallbackLeavesEveryMaskAsItWas)
{
    HtLevelOnce once = {};
    g_notes = 0;
    const DWORD_PTR mask = processMask();
    ASSERT_NE(mask, 0u);
    MaskWatch watch;
    constexpr int kThreads = 6;
    std::atomic<int> ready{0};
    std::vector<Uint32> values(kThreads);
    std::vector<DWORD_PTR> after(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready < kThreads) Sleep(0);
            values[i] = htLevelOnce(once, preferredFails, countNote);
            // A thread's mask starts as the process's; what it was is what setting it returns.
            after[i] = SetThreadAffinityMask(GetCurrentThread(), mask);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_TRUE(watch.stopAndCheck());
    EXPECT_EQ(g_notes.load(), 1);
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_GE(values[i], 1u);
        EXPECT_EQ(values[i], values[0]);
        EXPECT_EQ(after[i], mask) << "thread " << i;
    }
    EXPECT_GE(once.coresPerPackage, 1u);
    // Later calls read the value without computing again.
    EXPECT_EQ(htLevelOnce(once, preferredFails, countNote), values[0]);
    EXPECT_EQ(g_notes.load(), 1);
}

// The fallback itself, run by several threads at the same time (as separate once-objects in
// different modules could): each restores its own thread, none touches the process.
TEST(SysInfoThreadsPerCore, FallbacksRunningTogetherRestoreTheirThreads)
{
    const DWORD_PTR mask = processMask();
    const Uint32 cores = cpuCoresPerPackage();
    MaskWatch watch;
    std::vector<Uint32> values(4);
    std::vector<DWORD_PTR> after(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 5; ++round) values[i] = htLevelByAffinity(cores);
            after[i] = SetThreadAffinityMask(GetCurrentThread(), mask);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_TRUE(watch.stopAndCheck());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(values[i], values[0]);
        EXPECT_EQ(after[i], mask);
    }
    // The preferred source, where it works, gives a value in its range.
    Uint32 preferred = 0, error = 0, probe = 0;
    if (htLevelFromProcessorInformation(&preferred, &error, &probe)) {
        EXPECT_GE(preferred, 1u);
        EXPECT_LE(preferred, 254u);
    }
}

// The library's own once-only value: in a fresh process, the first processor queries arrive
// together from several threads; all get one threads-per-core value and the process's mask
// never changes.
OSSE_CHILD_ROLE(concurrentFirstCpuInfo)
{
    (void)args;
    const DWORD_PTR mask = processMask();
    MaskWatch watch;
    constexpr int kThreads = 6;
    std::atomic<int> ready{0};
    std::vector<OSSCPUInfo> infos(kThreads);
    std::vector<Uint32> codes(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready < kThreads) Sleep(0);
            codes[i] = ossGetCPUInfo(&infos[i]);
        });
    }
    for (auto& t : threads) t.join();
    if (!watch.stopAndCheck() || processMask() != mask) return 10;
    for (int i = 0; i < kThreads; ++i) {
        if (codes[i] != codes[0] || infos[i].threadsPerCore.status != 0) return 20 + i;
        if (infos[i].threadsPerCore.value != infos[0].threadsPerCore.value) return 30 + i;
    }
    return 0;
}

TEST(SysInfoThreadsPerCore, ConcurrentFirstQueriesInAFreshProcess)
{
    EXPECT_EQ(ossetest::runChild("concurrentFirstCpuInfo"), 0);
}
