// Waitposts: payload handed from one process to another, manual and auto reset, polling, and
// what every party sees after the owner's destroy.
#include "ipc_test.h"

#include <process.h>

using namespace ipctest;

namespace {

struct Shared {
    OSSIPCWaitpostCore core;
    char payload[64];
};

const OSSIPCWaitpostWaitParam kForever = {OSS_CURRENT_VERSION, INFINITE};
const OSSIPCWaitpostWaitParam kPoll = {OSS_CURRENT_VERSION, 0};

// Child: opens the waitpost whose core and payload lie in segment args[0] and event args[1];
// waits for three posts and answers each payload in the segment's answer area.
OSSE_CHILD_ROLE(wp_waiter)
{
    OSSIPCResID seg, ev;
    snprintf(seg.name, sizeof seg.name, "%s", args[0].c_str());
    snprintf(ev.name, sizeof ev.name, "%s", args[1].c_str());
    OSSHIPCMemory m;
    if (m.attach(&seg, nullptr)) return 2;
    Shared* sh = static_cast<Shared*>(m.address);
    OSSIPCWaitpostOpenParam op = {OSS_CURRENT_VERSION, &sh->core, sh->payload, 64, &ev};
    OSSHIPCWaitpost wp;
    if (wp.open(&op)) return 3;
    char* answer = static_cast<char*>(m.address) + 1024;
    volatile LONG* round = reinterpret_cast<volatile LONG*>(answer + 512);
    for (int i = 0; i < 3; ++i) {
        char got[64];
        if (wp.wait(&kForever, got)) return 4;
        if (wp.reset()) return 5;
        strcpy(answer, got);
        InterlockedIncrement(round);
    }
    // The owner destroys after the third round; a wait then says so, and close still closes.
    if (wp.wait(&kForever, nullptr) != ECF_WAITPOST_NOT_INITIALIZED) return 6;
    if (wp.close() != ECF_WAITPOST_NOT_INITIALIZED) return 7;
    if (wp.event != INVALID_HANDLE_VALUE) return 8;
    return m.detach() ? 9 : 0;
}

unsigned __stdcall blockedWaiter(void* arg)
{
    OSSHIPCWaitpost* wp = static_cast<OSSHIPCWaitpost*>(arg);
    return wp->wait(&kForever, nullptr);
}

// Posts three payloads to a waiter in another process: a copy of this program, or the other
// architecture's build of it when `peer` names one.
void payloadReachesAWaiter(const std::string& peer)
{
    const std::string key = uniqueKey("wp");
    OSSIPCMemoryCreateParam cp;
    cp.resId = resId(20, key);
    cp.size = 4096;
    OSSHIPCMemory m;
    ASSERT_EQ(0u, m.create(&cp));
    Shared* sh = static_cast<Shared*>(m.address);
    const OSSIPCResID ev = resId(21, key);
    OSSIPCWaitpostCreateParam wc = {OSS_CURRENT_VERSION, &sh->core, sh->payload, 64, &ev, 0, 0};
    OSSHIPCWaitpost wp;
    ASSERT_EQ(0u, wp.create(&wc));
    EXPECT_EQ(OSS_WAITPOST_STATE_NAMED, sh->core.state);

    ossetest::Child child;
    if (peer.empty())
        ASSERT_TRUE(child.start("wp_waiter", {cp.resId.name, ev.name}));
    else
        ASSERT_TRUE(child.startProgram(peer, "wp_waiter", {cp.resId.name, ev.name}));
    char* answer = static_cast<char*>(m.address) + 1024;
    volatile LONG* round = reinterpret_cast<volatile LONG*>(answer + 512);
    for (LONG i = 0; i < 3; ++i) {
        char text[64] = {};
        snprintf(text, sizeof text, "payload %ld", i);
        ASSERT_EQ(0u, wp.post(text));
        ASSERT_TRUE(waitUntil([&] { return *round == i + 1; }));
        EXPECT_STREQ(text, answer);
    }
    EXPECT_EQ(0u, wp.destroy());
    EXPECT_EQ(0u, sh->core.state);
    EXPECT_EQ(0, child.wait());
    // Both parties closed their handles: the event is gone.
    EXPECT_EQ(nullptr, OpenEventA(SYNCHRONIZE, FALSE, ev.name));
    m.destroy();
}

}  // namespace

TEST(Waitpost, PayloadReachesAWaiterInAnotherProcess)
{
    payloadReachesAWaiter("");
}

// The core and payload in shared memory mean the same to a 32-bit and a 64-bit process.
TEST(Waitpost, PayloadReachesAWaiterOfTheOtherArchitecture)
{
    OSSE_PEER_PROGRAM_OR_SKIP(peer);
    payloadReachesAWaiter(peer);
}

// Another party still holds the event of a destroyed waitpost (its destroy set the event to
// wake the waiters): a new waitpost of that name starts not posted, and one of the other reset
// type is refused rather than given the old event's type.
TEST(Waitpost, CreateOverAnEventLeftByADestroyedWaitpost)
{
    const OSSIPCResID ev = resId(22, uniqueKey("wpold"));
    OSSIPCWaitpostCore core;
    OSSIPCWaitpostCreateParam wc = {OSS_CURRENT_VERSION, &core, nullptr, 0, &ev, 0, 0};
    OSSHIPCWaitpost old;
    ASSERT_EQ(0u, old.create(&wc));
    HANDLE party = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, ev.name);
    ASSERT_NE(nullptr, party);
    ASSERT_EQ(0u, old.destroy());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(party, 0));  // left set by the destroy

    OSSHIPCWaitpost fresh;
    ASSERT_EQ(0u, fresh.create(&wc));
    EXPECT_EQ(ECF_WAITPOST_NOT_POSTED, fresh.wait(&kPoll, nullptr));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(party, 0));
    EXPECT_EQ(0u, fresh.destroy());

    LogCapture log;
    OSSIPCWaitpostCreateParam autoReset = wc;
    autoReset.mode = OSS_WAITPOST_AUTO_RESET;
    OSSHIPCWaitpost other;
    EXPECT_EQ(ECF_EXISTS, other.create(&autoReset));
    EXPECT_TRUE(log.has(0x081A004Du, 135));
    CloseHandle(party);
    // Once nobody holds the old event, the name is free for either type.
    ASSERT_EQ(0u, other.create(&autoReset));
    EXPECT_EQ(0u, other.destroy());
}

TEST(Waitpost, ManualResetAutoResetAndPolling)
{
    LogCapture log;
    OSSIPCWaitpostCore core;
    Uint32 data = 0;
    OSSIPCWaitpostCreateParam wc = {OSS_CURRENT_VERSION, &core, &data, 4, nullptr, 0, 0};
    OSSHIPCWaitpost wp;
    ASSERT_EQ(0u, wp.create(&wc));
    EXPECT_EQ(OSS_WAITPOST_STATE_PRIVATE, core.state);
    Uint32 out = 99;
    EXPECT_EQ(ECF_WAITPOST_NOT_POSTED, wp.wait(&kPoll, &out));
    EXPECT_EQ(0u, log.count());
    const Uint32 value = 42;
    ASSERT_EQ(0u, wp.post(&value));
    for (int i = 0; i < 3; ++i) {
        out = 0;
        EXPECT_EQ(0u, wp.wait(&kPoll, &out));
        EXPECT_EQ(42u, out);
    }
    EXPECT_EQ(0u, wp.reset());
    EXPECT_EQ(ECF_WAITPOST_NOT_POSTED, wp.wait(&kPoll, nullptr));
    EXPECT_EQ(0u, wp.post(nullptr));  // signals, payload untouched
    EXPECT_EQ(42u, data);
    const OSSIPCWaitpostWaitParam shortWait = {OSS_CURRENT_VERSION, 10};
    EXPECT_EQ(0u, wp.reset());
    EXPECT_EQ(ECF_TIMEOUT, wp.wait(&shortWait, nullptr));
    EXPECT_EQ(0u, wp.destroy());

    wc.mode = OSS_WAITPOST_AUTO_RESET;
    ASSERT_EQ(0u, wp.create(&wc));
    EXPECT_EQ(OSS_WAITPOST_STATE_PRIVATE | OSS_WAITPOST_STATE_AUTO_RESET, core.state);
    EXPECT_EQ(0u, wp.post(&value));
    EXPECT_EQ(0u, wp.wait(&kPoll, nullptr));
    EXPECT_EQ(ECF_WAITPOST_NOT_POSTED, wp.wait(&kPoll, nullptr));
    EXPECT_EQ(0u, wp.destroy());

    wc.mode = OSS_WAITPOST_UNGUARDED;
    ASSERT_EQ(0u, wp.create(&wc));
    EXPECT_EQ(1, core.unguarded);
    EXPECT_EQ(0u, wp.destroy());
    EXPECT_EQ(0, core.unguarded);
}

TEST(Waitpost, DestroyWakesBlockedWaitersWithNotInitialised)
{
    for (Uint32 mode : {0u, (Uint32)OSS_WAITPOST_AUTO_RESET}) {
        SCOPED_TRACE(mode);
        OSSIPCWaitpostCore core;
        OSSIPCWaitpostCreateParam wc = {OSS_CURRENT_VERSION, &core, nullptr, 0, nullptr, 0, mode};
        OSSHIPCWaitpost owner;
        ASSERT_EQ(0u, owner.create(&wc));
        OSSHIPCWaitpost shared = owner;  // a second thread's copy of the object
        HANDLE t = (HANDLE)_beginthreadex(nullptr, 0, blockedWaiter, &shared, 0, nullptr);
        ASSERT_NE(nullptr, t);
        // Let the waiter block; the outcome does not depend on it, only what is exercised.
        EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(t, 50));
        EXPECT_EQ(0u, owner.destroy());
        ASSERT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(t, 20000));
        DWORD rc = 0;
        GetExitCodeThread(t, &rc);
        CloseHandle(t);
        EXPECT_EQ(ECF_WAITPOST_NOT_INITIALIZED, rc);
        EXPECT_EQ(ECF_WAITPOST_NOT_INITIALIZED, owner.post(nullptr));
        EXPECT_EQ(ECF_WAITPOST_NOT_INITIALIZED, owner.wait(&kPoll, nullptr));
        EXPECT_EQ(ECF_WAITPOST_NOT_INITIALIZED, owner.reset());
        EXPECT_EQ(ECF_WAITPOST_NOT_INITIALIZED, owner.destroy());
    }
}

TEST(Waitpost, RefusedBeforeCreationAndForMissingPointers)
{
    OSSIPCWaitpostCore core = {};
    const OSSIPCResID ev = resId(22, uniqueKey("wpmissing"));
    OSSIPCWaitpostOpenParam op = {OSS_CURRENT_VERSION, &core, nullptr, 0, &ev};
    OSSHIPCWaitpost wp;
    EXPECT_EQ(ECF_WAITPOST_NOT_INITIALIZED, wp.open(&op));
    EXPECT_EQ(ECF_WAITPOST_NOT_INITIALIZED, wp.post(nullptr));
    EXPECT_EQ(ECF_WAITPOST_NOT_INITIALIZED, wp.close());

    LogCapture log;
    OSSIPCWaitpostCreateParam wc = {OSS_CURRENT_VERSION, nullptr, nullptr, 0, nullptr, 0, 0};
    EXPECT_EQ(ECF_INVALID_PARAMETER, wp.create(&wc));
    wc.core = &core;
    wc.dataSize = 8;  // a payload size without a payload area
    EXPECT_EQ(ECF_INVALID_PARAMETER, wp.create(&wc));
    op.resId = nullptr;
    EXPECT_EQ(ECF_INVALID_PARAMETER, wp.open(&op));
    EXPECT_EQ(ECF_INVALID_PARAMETER, wp.create(nullptr));
    EXPECT_EQ(4u, log.count());
    for (const Logged& l : logged()) EXPECT_EQ(1111u, l.probe);
    EXPECT_EQ(0u, core.state);
}

TEST(Pipe, OnlyTheShapeExists)
{
    OSSHPipe pipe;
    EXPECT_EQ(0u, pipe.create(nullptr));
    EXPECT_EQ(-1, pipe.getReadFD());
    EXPECT_EQ(ECF_NOT_SUPPORTED, pipe.write(nullptr, nullptr));
    EXPECT_EQ(0u, pipe.closeWriteFD());
    EXPECT_EQ(0u, pipe.destroy());
    EXPECT_EQ(-1, pipe.readFD);
    EXPECT_EQ(-1, pipe.writeFD);
    EXPECT_EQ(0x1000u, pipe.bufferSize);
}
