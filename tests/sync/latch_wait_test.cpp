// The latch's waiting path as a waiter lives it: the lengths of its sleeps (seen by replacing the
// library's import of Sleep, so no clock is involved), and that its attempts read the lock byte
// before exchanging it.
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "../../src/sync/latch_internal.h"
#include "osse/latch.h"
#include "osse/tick.h"
#include "osse_test.h"

namespace {

// The slot of the library's import table that holds kernel32's Sleep.
void** sleepImportOfTheLibrary()
{
    HMODULE lib = GetModuleHandleA("NRVOSSE.dll");
    if (!lib) return nullptr;
    Uint8* base = (Uint8*)lib;
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA((const char*)(base + d->Name), "KERNEL32.dll") != 0) continue;
        auto* names = (IMAGE_THUNK_DATA*)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        auto* slots = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (names->u1.Ordinal & IMAGE_ORDINAL_FLAG) continue;
            auto* byName = (IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
            if (strcmp((const char*)byName->Name, "Sleep") == 0) return (void**)&slots->u1.Function;
        }
    }
    return nullptr;
}

std::atomic<DWORD> g_watched{0};
std::vector<DWORD> g_sleeps;  // written by the watched thread only
std::atomic<size_t> g_sleepCount{0};

// Notes the length the watched thread asked for, and sleeps not at all.
VOID WINAPI recordingSleep(DWORD ms)
{
    if (GetCurrentThreadId() == g_watched.load()) {
        g_sleeps.push_back(ms);
        g_sleepCount = g_sleeps.size();
    }
    SwitchToThread();
}

// Replaces the library's Sleep for the life of the object.
class SleepRecorder {
public:
    SleepRecorder() : slot_(sleepImportOfTheLibrary())
    {
        g_sleeps.clear();
        g_sleepCount = 0;
        if (slot_) swap((void*)&recordingSleep);
    }
    ~SleepRecorder()
    {
        if (slot_) swap(saved_);
    }
    bool active() const { return slot_ != nullptr; }

private:
    void swap(void* to)
    {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        if (to != saved_) saved_ = *slot_;
        *slot_ = to;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }
    void** slot_;
    void* saved_ = nullptr;
};

class LatchWait : public ::testing::Test {
protected:
    void SetUp() override { OSSLatch::getSpinCounts(saved_); }
    void TearDown() override { OSSLatch::updateSpinCounts(saved_); }
    static void useTune(Uint32 processors, Uint32 sleepIncrement)
    {
        OSSSpinTune t = osse_sync::spinTuneForProcessors(processors);
        t.sleepIncrement = sleepIncrement;
        OSSLatch::updateSpinCounts(t);
    }

private:
    OSSSpinTune saved_{};
};

// Runs a waiter on `latch` (held by the caller) until it has slept `sleeps` times, then releases
// the latch and returns once the waiter held and released it.
void waitOut(OSSLatch& latch, size_t sleeps, std::atomic<bool>* done)
{
    std::thread waiter([&] {
        g_watched = GetCurrentThreadId();
        ossLockGetConflict(&latch);
        *done = true;
        latch.release();
    });
    const DWORD start = GetTickCount();  // a way out for a waiter that never sleeps
    while (g_sleepCount.load() < sleeps && GetTickCount() - start < 20000) SwitchToThread();
    EXPECT_FALSE(done->load());
    latch.release();
    waiter.join();
    g_watched = 0;
}

}  // namespace

// With an increment, each sleep is the increment longer than the one before, until it would pass
// eight increments; then it starts again at 1 ms. With the default 0 every sleep is 1 ms.
TEST_F(LatchWait, SleepsGrowByTheIncrementAndStartOver)
{
    SleepRecorder recorder;
    ASSERT_TRUE(recorder.active()) << "the library's import of Sleep was not found";
    const struct {
        Uint32 processors, increment;
        std::vector<DWORD> want;
    } cases[] = {
        {1, 10, {1, 11, 21, 31, 41, 51, 61, 71, 1, 11, 21}},
        {8, 3, {1, 4, 7, 10, 13, 16, 19, 22, 1, 4}},
        {1, 0, {1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.increment);
        useTune(c.processors, c.increment);
        g_sleeps.clear();
        g_sleepCount = 0;
        OSSLatch latch{};
        latch.acquire();
        std::atomic<bool> done{false};
        waitOut(latch, c.want.size(), &done);
        EXPECT_TRUE(done.load());
        ASSERT_GE(g_sleeps.size(), c.want.size());
        EXPECT_EQ(std::vector<DWORD>(g_sleeps.begin(), g_sleeps.begin() + (long)c.want.size()), c.want);
        EXPECT_EQ(latch.lockWord, 0x00);
    }
}

// A waiter's attempts read the byte first: a held byte with the waiting bit set (0xC0) stays as
// it is while the waiter spins and sleeps, and the waiter takes the latch once it is freed.
TEST_F(LatchWait, WaiterDoesNotOverwriteAHeldByte)
{
    SleepRecorder recorder;
    ASSERT_TRUE(recorder.active());
    for (Uint32 processors : {1u, 8u}) {
        SCOPED_TRACE(processors);
        useTune(processors, 0);
        g_sleeps.clear();
        g_sleepCount = 0;
        OSSLatch latch{};
        latch.lockWord = OSS_LATCH_HELD_WAITING;
        std::atomic<bool> done{false};
        std::thread waiter([&] {
            g_watched = GetCurrentThreadId();
            ossLockGetConflict(&latch);
            done = true;
        });
        const DWORD start = GetTickCount();
        while (g_sleepCount.load() < 5 && GetTickCount() - start < 20000) {
            EXPECT_EQ(latch.lockWord, OSS_LATCH_HELD_WAITING);
            SwitchToThread();
        }
        EXPECT_EQ(latch.lockWord, OSS_LATCH_HELD_WAITING);
        EXPECT_FALSE(done.load());
        latch.release();
        waiter.join();
        g_watched = 0;
        EXPECT_TRUE(done.load());
        EXPECT_EQ(latch.lockWord, OSS_LATCH_HELD);
    }
}
