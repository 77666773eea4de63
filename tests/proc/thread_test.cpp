// Threads: the create/wait/close state machine, the thread's end and exit code, the start block
// under full memory debugging, and thread-specific data.
#include "proc_test.h"

#include <atomic>
#include <functional>
#include <thread>
#include <tuple>

using namespace proctest;

namespace {

constexpr Uint32 kCreate = 0x081A005B, kWait = 0x081A005C, kClose = 0x081A005D;

// A manual-reset event released by the test; threads that must still run at a given step wait on
// it, so every state below is reached by synchronisation, not by timing.
struct Gate {
    HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~Gate() { CloseHandle(h); }
    void open() { SetEvent(h); }
    bool isOpen() const { return WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }
    void await() const { WaitForSingleObject(h, 30000); }  // bounded: a failing test ends
};

void waitOnGate(void* gate)
{
    static_cast<Gate*>(gate)->await();
}

OSSThreadParam param(Uint32 flags = 0, Uint32 stackSize = 0)
{
    return {OSS_CURRENT_VERSION, flags, stackSize};
}

DWORD exitCodeOf(HANDLE thread)
{
    DWORD code = 0xDEAD;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

}  // namespace

// Every thread handle the library opens is closed again: by close for a joinable thread, at
// once for a plain one.
TEST(Thread, NoHandleIsLeftBehind)
{
    auto round = [](Uint32 flags) {
        Gate gate;
        gate.open();
        OSSHThread t;
        const OSSThreadParam p = param(flags);
        ASSERT_EQ(t.create(waitOnGate, &gate, &p, nullptr), 0u);
        if (flags & OSS_THREAD_JOINABLE) {
            ASSERT_EQ(t.wait(), 0u);
            ASSERT_EQ(t.close(), 0u);
        }
    };
    round(OSS_THREAD_JOINABLE);  // whatever the first create sets up once is counted before
    const size_t before = openHandles();
    for (int i = 0; i < 50; ++i) round(OSS_THREAD_JOINABLE);
    EXPECT_EQ(openHandles(), before);
}

// Each step is one operation on one object; failing steps log one record with their code and
// probe and leave the object as it was.
TEST(Thread, StateMachineTransitionsAndCodes)
{
    enum Op { CreatePlain, CreateJoinable, Wait, Close };
    struct Step {
        Op op;
        Uint32 code;
        Uint32 fn, probe;  // of the log record of a failing step
        bool createdAfter, joinableAfter;
    };
    const Step steps[] = {
        {Wait, ECF_THREAD_NOT_CREATED, kWait, 10, false, false},
        {Close, ECF_THREAD_NOT_CREATED, kClose, 10, false, false},
        // Not joinable: never waited for, closed at once.
        {CreatePlain, 0, 0, 0, true, false},
        {Wait, ECF_THREAD_CANNOT_WAIT, kWait, 20, true, false},
        {CreateJoinable, ECF_THREAD_ALREADY_CREATED, kCreate, 30, true, false},
        {Close, 0, 0, 0, false, false},
        {Close, ECF_THREAD_NOT_CREATED, kClose, 10, false, false},
        // Joinable: must be waited for, once, before close.
        {CreateJoinable, 0, 0, 0, true, true},
        {Close, ECF_THREAD_MUST_WAIT, kClose, 20, true, true},
        {CreatePlain, ECF_THREAD_ALREADY_CREATED, kCreate, 30, true, true},
        {Wait, 0, 0, 0, true, false},
        {Wait, ECF_THREAD_CANNOT_WAIT, kWait, 20, true, false},
        {Close, 0, 0, 0, false, false},
        {Wait, ECF_THREAD_NOT_CREATED, kWait, 10, false, false},
    };
    const char* const opNames[] = {"create", "create joinable", "wait", "close"};

    LogCapture log;
    Gate gate;
    OSSHThread t;
    std::vector<HANDLE> started;
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(testing::Message() << "step " << i << ": " << opNames[s.op]);
        const auto before = std::make_tuple(t.threadId, t.handle, t.created, t.joinable);
        unsigned long id = 0;
        Uint32 rc = 0;
        switch (s.op) {
        case CreatePlain:
        case CreateJoinable: {
            const OSSThreadParam p = param(s.op == CreateJoinable ? OSS_THREAD_JOINABLE : 0);
            rc = t.create(waitOnGate, &gate, &p, &id);
            break;
        }
        case Wait:
            // The thread of a wait that should succeed must have ended first.
            if (s.code == 0) gate.open();
            rc = t.wait();
            break;
        case Close: rc = t.close(); break;
        }
        EXPECT_EQ(rc, s.code);
        EXPECT_EQ(t.created != 0, s.createdAfter);
        EXPECT_EQ(t.joinable != 0, s.joinableAfter);
        auto records = log.take();
        if (s.code != 0) {
            EXPECT_EQ(before, std::make_tuple(t.threadId, t.handle, t.created, t.joinable))
                << "a refused step changes nothing";
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].functionId, s.fn);
            EXPECT_EQ(records[0].messageCode, s.code);
            EXPECT_EQ(records[0].probe, s.probe);
        } else {
            EXPECT_TRUE(records.empty());
            if (s.op == CreatePlain || s.op == CreateJoinable) {
                EXPECT_NE(t.handle, nullptr);
                EXPECT_EQ(t.threadId, id);
                EXPECT_NE(id, 0u);
                // Kept to see the thread end; the object's handle is released by close.
                HANDLE dup = nullptr;
                ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), t.handle, GetCurrentProcess(),
                                            &dup, SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE,
                                            0));
                started.push_back(dup);
            } else if (s.op == Close) {
                EXPECT_EQ(t.handle, nullptr);
                EXPECT_EQ(t.threadId, 0u);
            }
        }
    }

    // The destructor closes a created object, and so cannot release a joinable thread that was
    // not waited for: the handle stays open for a later wait.
    {
        LogCapture destructorLog;
        const OSSThreadParam p = param(OSS_THREAD_JOINABLE);
        ASSERT_EQ(t.create(waitOnGate, &gate, &p, nullptr), 0u);
        t.destructor();
        EXPECT_EQ(t.created, 1);
        auto records = destructorLog.take();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].messageCode, ECF_THREAD_MUST_WAIT);
        gate.open();
        EXPECT_EQ(t.wait(), 0u);
        t.destructor();
        EXPECT_EQ(t.created, 0);
        EXPECT_TRUE(destructorLog.take().empty());
    }
    gate.open();
    for (HANDLE h : started) {
        EXPECT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
        EXPECT_EQ(exitCodeOf(h), 0u);
        CloseHandle(h);
    }
}

TEST(Thread, RefusedArgumentsStartNothing)
{
    struct Case {
        const char* what;
        bool nullParam;
        Uint32 version;
        bool nullFn;
        Uint32 code, probe;
    };
    const Case cases[] = {
        {"null parameter object", true, 0, false, ECF_INVALID_PARAMETER, 1111},
        {"version below the minimum", false, OSS_MIN_VERSION - 1, false, ECF_INVALID_VERSION, 1112},
        {"null thread function", false, OSS_CURRENT_VERSION, true, ECF_INVALID_PARAMETER, 20},
    };
    LogCapture log;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OSSThreadParam p = param(OSS_THREAD_JOINABLE);
        p.version = c.version;
        OSSHThread t;
        unsigned long id = 77;
        EXPECT_EQ(t.create(c.nullFn ? nullptr : waitOnGate, nullptr, c.nullParam ? nullptr : &p,
                           &id),
                  c.code);
        EXPECT_EQ(id, 77u);
        EXPECT_EQ(t.created, 0);
        EXPECT_EQ(t.handle, nullptr);
        auto records = log.take();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].functionId, kCreate);
        EXPECT_EQ(records[0].probe, c.probe);
    }
}

namespace {
struct Work {
    std::atomic<Uint32> seenId{0};
    std::atomic<bool> pastExit{false};
    bool callExit = false;
};
// Returns from the thread, or leaves it through ossThreadExit; either way the exit code is 0.
void work(void* p)
{
    Work* w = static_cast<Work*>(p);
    w->seenId = ossThreadID();
    if (w->callExit) {
        ossThreadExit();
        w->pastExit = true;
    }
}
}  // namespace

TEST(Thread, EndsWithExitCodeZeroOnReturnAndOnThreadExit)
{
    for (bool callExit : {false, true}) {
        SCOPED_TRACE(callExit ? "ossThreadExit" : "return");
        Work w;
        w.callExit = callExit;
        OSSHThread t;
        const OSSThreadParam p = param(OSS_THREAD_JOINABLE);
        unsigned long id = 0;
        ASSERT_EQ(t.create(work, &w, &p, &id), 0u);
        ASSERT_EQ(t.wait(), 0u);
        // The handle stays open after the wait.
        EXPECT_EQ(exitCodeOf(t.handle), 0u);
        EXPECT_EQ(w.seenId.load(), id) << "ossThreadID names the thread create reported";
        EXPECT_FALSE(w.pastExit.load());
        EXPECT_EQ(t.close(), 0u);
    }
    EXPECT_EQ(ossThreadID(), GetCurrentThreadId());
}

TEST(Thread, ClosedWhileRunningRunsOnDetached)
{
    Gate go, done;
    struct Ctx {
        Gate* go;
        Gate* done;
    } ctx{&go, &done};
    OSSHThread t;
    const OSSThreadParam p = param(0);
    ASSERT_EQ(t.create(
                  [](void* c) {
                      Ctx* x = static_cast<Ctx*>(c);
                      x->go->await();
                      x->done->open();
                  },
                  &ctx, &p, nullptr),
              0u);
    EXPECT_EQ(t.close(), 0u);
    EXPECT_FALSE(done.isOpen());
    go.open();
    done.await();
}

// Under full memory debugging every block of the library is on the live list: the start blocks
// of finished threads and of a thread the runtime could not start must all be gone from it.
TEST(Thread, StartBlocksAreReleasedAlsoWhenTheThreadCannotStart)
{
    Uint32 flags, mode, front, back;
    _ossMemGetDebug(&flags, &mode, &front, &back);
    if (mode == OSS_MEM_MODE_NONE) GTEST_SKIP() << "no debug blocks in this process";
    ASSERT_EQ(ossMemSetDebug(flags, OSS_MEM_MODE_FULL, 1, 1), 0u);
    struct Restore {
        Uint32 flags, mode, front, back;
        ~Restore() { ossMemSetDebug(flags, mode, front, back); }
    } restore{flags, mode, front, back};
    auto newest = []() {
        void* probe = nullptr;
        EXPECT_EQ(_ossMemAlloc(&probe, 1, 8, 0, "probe", 1), 0u);
        // The record lies before the 16-byte header.
        OSSMemFullRecord* r = (OSSMemFullRecord*)((Uint8*)probe - 16 - sizeof(OSSMemFullRecord));
        OSSMemFullRecord* next = r->next;
        _ossMemFree(&probe, 1, 0, "probe", 1);
        return next;
    };
    OSSMemFullRecord* const headBefore = newest();

    for (int i = 0; i < 8; ++i) {
        Work w;
        OSSHThread t;
        const OSSThreadParam p = param(OSS_THREAD_JOINABLE);
        ASSERT_EQ(t.create(work, &w, &p, nullptr), 0u);
        ASSERT_EQ(t.wait(), 0u);
        ASSERT_EQ(t.close(), 0u);
    }
    EXPECT_EQ(newest(), headBefore);
    // A stack of 4 GiB less 1 MiB has no room in a 32-bit address space, so the runtime cannot
    // start the thread; a 64-bit one has room for it, and there is no cheap other way to make
    // a thread start fail.
    if (sizeof(void*) == 8)
        GTEST_SKIP() << "the failed start needs a 32-bit address space; the blocks of the "
                        "started threads were checked";
    LogCapture log;
    Work w;
    OSSHThread t;
    const OSSThreadParam huge = param(OSS_THREAD_JOINABLE, 0xFFF00000u);
    const Uint32 rc = t.create(work, &w, &huge, nullptr);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(t.created, 0);
    EXPECT_EQ(w.seenId.load(), 0u);
    auto records = log.take();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].functionId, kCreate);
    EXPECT_EQ(records[0].calledId, 0x08140068u);
    EXPECT_EQ(records[0].probe, 100u);
    EXPECT_EQ(records[0].messageCode, rc);

    EXPECT_EQ(newest(), headBefore) << "a start block is still live";
}

// ---- Thread-specific data ---------------------------------------------------------------------

TEST(ThreadSpecificData, ValuesAreSeparatePerThreadAndNullReadsAsRefusedWithoutLog)
{
    OSSHThreadSpecificData slot;
    ASSERT_EQ(slot.create(), 0u);
    EXPECT_EQ(slot.created, 1);
    LogCapture log;

    int mine = 1;
    void* v = &v;
    // Never set here: null is stored, and the mapping of OS error 0 for this call is returned.
    EXPECT_EQ(slot.get(&v), ECF_INVALID_INVOCATION_SEQUENCE);
    EXPECT_EQ(v, nullptr);
    ASSERT_EQ(slot.set(&mine), 0u);

    int theirs[2] = {10, 20};
    void* seen[2][2] = {};
    Uint32 codes[2][2] = {};
    auto body = [&](int i) {
        codes[i][0] = slot.get(&seen[i][0]);  // fresh thread: null
        codes[i][1] = slot.set(&theirs[i]);
        slot.get(&seen[i][1]);
    };
    std::thread a(body, 0), b(body, 1);
    a.join();
    b.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(codes[i][0], ECF_INVALID_INVOCATION_SEQUENCE);
        EXPECT_EQ(seen[i][0], nullptr);
        EXPECT_EQ(codes[i][1], 0u);
        EXPECT_EQ(seen[i][1], &theirs[i]);
    }
    EXPECT_EQ(slot.get(&v), 0u);
    EXPECT_EQ(v, &mine);

    // Set back to null reads as a never-set slot.
    ASSERT_EQ(slot.set(nullptr), 0u);
    EXPECT_EQ(slot.get(&v), ECF_INVALID_INVOCATION_SEQUENCE);
    EXPECT_TRUE(log.take().empty()) << "a null value is an answer, not a failure";

    EXPECT_EQ(slot.get(nullptr), ECF_INVALID_PARAMETER);
    EXPECT_EQ(slot.destroy(), 0u);
    EXPECT_EQ(slot.created, 0);
}

// An object that holds no slot still has an index, which may well be another module's slot;
// destroy, set and get must not touch it.
TEST(ThreadSpecificData, ObjectWithoutASlotLeavesAForeignSlotIntact)
{
    const DWORD foreign = TlsAlloc();
    ASSERT_NE(foreign, TLS_OUT_OF_INDEXES);
    int value = 5;
    ASSERT_TRUE(TlsSetValue(foreign, &value));

    OSSHThreadSpecificData fresh, destroyed;
    fresh.index = foreign;
    ASSERT_EQ(destroyed.create(), 0u);
    ASSERT_EQ(destroyed.destroy(), 0u);
    destroyed.index = foreign;

    LogCapture log;
    for (OSSHThreadSpecificData* d : {&fresh, &destroyed}) {
        SCOPED_TRACE(d == &fresh ? "never created" : "destroyed");
        void* v = &v;
        EXPECT_EQ(d->destroy(), ECF_INVALID_INVOCATION_SEQUENCE);
        EXPECT_EQ(d->set(&v), ECF_INVALID_INVOCATION_SEQUENCE);
        EXPECT_EQ(d->get(&v), ECF_INVALID_INVOCATION_SEQUENCE);
        EXPECT_EQ(v, nullptr);
        auto records = log.take();
        ASSERT_EQ(records.size(), 2u) << "destroy and set are logged, get is not";
        EXPECT_EQ(records[0].functionId, 0x081A0060u);
        EXPECT_EQ(records[1].functionId, 0x081A0061u);
        for (const Logged& r : records) {
            EXPECT_EQ(r.messageCode, ECF_INVALID_INVOCATION_SEQUENCE);
            EXPECT_EQ(r.probe, 10u);
        }
    }
    EXPECT_EQ(TlsGetValue(foreign), &value);
    EXPECT_TRUE(TlsFree(foreign)) << "the foreign slot was freed behind its owner's back";
}
