// Semaphores between real processes, their timeouts and limits, the extended class's object
// rules, and what each wait result means.
#include "ipc_test.h"

#include "ipc/ipc_wait.h"

using namespace ipctest;

namespace {

OSSIPCSemaphoreWaitParam waitFor(Uint32 ms)
{
    return {OSS_CURRENT_VERSION, ms, {0, 0}};
}

// Child: attaches "ping" (args[0]) and "pong" (args[1]); answers each ping with a pong.
OSSE_CHILD_ROLE(sem_pong)
{
    OSSIPCResID ping, pong;
    snprintf(ping.name, sizeof ping.name, "%s", args[0].c_str());
    snprintf(pong.name, sizeof pong.name, "%s", args[1].c_str());
    OSSHIPCSemaphore a, b;
    if (a.attach(&ping) || b.attach(&pong)) return 2;
    const OSSIPCSemaphoreWaitParam w = waitFor(20000);
    for (int i = 0; i < 50; ++i) {
        if (a.wait(&w)) return 3;
        if (b.post()) return 4;
    }
    return a.detach() || b.detach() ? 5 : 0;
}

OSSIPCSemaphoreExCreateParam exParam(const char* key, Uint32 initial = 0)
{
    OSSIPCSemaphoreExCreateParam p = {};
    p.version = OSS_CURRENT_VERSION;
    p.key = key;
    p.semaphoreCount = 1;
    p.initialCount = initial;
    return p;
}

}  // namespace

TEST(Semaphore, PostedAndWaitedAcrossProcesses)
{
    const std::string key = uniqueKey("sem");
    OSSIPCSemaphoreCreateParam cp;
    cp.resId = resId(10, key);
    OSSHIPCSemaphore ping, pong;
    ASSERT_EQ(0u, ping.create(&cp));
    cp.resId = resId(11, key);
    ASSERT_EQ(0u, pong.create(&cp));
    ossetest::Child child;
    ASSERT_TRUE(child.start("sem_pong", {resId(10, key).name, resId(11, key).name}));
    const OSSIPCSemaphoreWaitParam w = waitFor(20000);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(0u, ping.post());
        ASSERT_EQ(0u, pong.wait(&w));
    }
    EXPECT_EQ(0, child.wait());
    EXPECT_EQ(0u, ping.destroy());
    EXPECT_EQ(0u, pong.destroy());
    // Nothing holds the names any more.
    EXPECT_EQ(0u, ping.create(&cp));
    ping.destroy();
}

TEST(Semaphore, SecondCreateFailsClosesItsHandleAndAttachSucceeds)
{
    OSSIPCSemaphoreCreateParam cp;
    cp.resId = resId(12, uniqueKey("dup"));
    cp.initialCount = 1;
    OSSHIPCSemaphore first, second, opener;
    ASSERT_EQ(0u, first.create(&cp));
    EXPECT_EQ(ECF_SEM_EXISTS, second.create(&cp));
    EXPECT_FALSE(second.isAttached());
    ASSERT_EQ(0u, opener.attach(&cp.resId));
    const OSSIPCSemaphoreWaitParam w = waitFor(0);
    EXPECT_EQ(0u, opener.wait(&w));
    EXPECT_EQ(0u, opener.detach());
    EXPECT_EQ(0u, first.destroy());
    EXPECT_EQ(0u, second.create(&cp));
    second.destroy();
}

TEST(Semaphore, TimeoutsLimitsAndDetachedObjects)
{
    LogCapture log;
    OSSIPCSemaphoreCreateParam cp;
    cp.resId = resId(13, uniqueKey("limit"));
    cp.initialCount = OSS_IPC_SEM_MAX_COUNT;
    OSSHIPCSemaphore s;
    ASSERT_EQ(0u, s.create(&cp));
    // At the maximum a post fails and the count stays where it was: one wait makes room for
    // exactly one post.
    EXPECT_NE(0u, s.post());
    const OSSIPCSemaphoreWaitParam w0 = waitFor(0);
    EXPECT_EQ(0u, s.wait(&w0));
    EXPECT_EQ(0u, s.post());
    EXPECT_NE(0u, s.post());
    s.destroy();

    cp.initialCount = 0;
    ASSERT_EQ(0u, s.create(&cp));
    logged().clear();
    EXPECT_EQ(ECF_TIMEOUT, s.wait(&w0));
    EXPECT_EQ(0u, log.count());  // timeouts are silent
    s.destroy();

    // A detached object answers at once instead of waiting on what its handle value means to
    // the OS (the current process).
    const OSSIPCSemaphoreWaitParam forever = waitFor(INFINITE);
    EXPECT_EQ(ECF_INVALID_HANDLE, s.wait(&forever));
    EXPECT_EQ(ECF_INVALID_HANDLE, s.post());
    EXPECT_EQ(ECF_INVALID_PARAMETER, s.wait(nullptr));
    EXPECT_EQ(ECF_INVALID_PARAMETER, s.attach(nullptr));
    OSSIPCSemaphoreWaitParam old = waitFor(0);
    old.version = 0x09000000;
    EXPECT_EQ(ECF_INVALID_VERSION, s.wait(&old));
}

TEST(Semaphore, ExtendedObjectRules)
{
    const std::string key = uniqueKey("semex");
    OSSIPCSemaphoreExCreateParam p = exParam(key.c_str());
    OSSHIPCSemaphoreEx s;
    ASSERT_EQ(0u, s.create(&p));
    const OSSIPCSemaphoreExWaitParam w0 = {OSS_CURRENT_VERSION, 0, 0};
    EXPECT_EQ(ECF_FILE_NFS_TIME_OUT, s.wait(&w0));

    // A create on an attached object is refused and the object still works.
    const std::string other = uniqueKey("semex2");
    OSSIPCSemaphoreExCreateParam p2 = exParam(other.c_str());
    EXPECT_EQ(ECF_INVALID_INVOCATION_SEQUENCE, s.create(&p2));
    const OSSIPCSemaphoreExPostParam post = {OSS_CURRENT_VERSION, 0, 0};
    EXPECT_EQ(0u, s.post(&post));
    EXPECT_EQ(0u, s.wait(&w0));

    // destroy gives the handle back: the same key can be created again.
    EXPECT_EQ(0u, s.destroy(nullptr));
    EXPECT_EQ(0u, s.create(&p));
    const OSSIPCSemaphoreExDetachParam dp = {OSS_CURRENT_VERSION};
    EXPECT_EQ(0u, s.detach(&dp));
    EXPECT_EQ(ECF_INVALID_INVOCATION_SEQUENCE, s.detach(&dp));
    EXPECT_EQ(ECF_INVALID_HANDLE, s.wait(&w0));
    EXPECT_EQ(0u, s.create(&p));
    s.destroy(nullptr);

    OSSIPCSemaphoreExSemInfo info = {OSS_CURRENT_VERSION, {7, 8, 9}};
    EXPECT_EQ(0u, s.getInfo(&info));
    EXPECT_EQ(7u, info.reserved[0]);
    EXPECT_EQ(0u, ossIPCSemaphoreExDestroy());
}

TEST(Semaphore, ExtendedKeysThatCannotNameOneSemaphoreAreRefused)
{
    const std::string k251(251, 's');  // "OSSEIPC120" + 251 > 260
    struct Case {
        const char* key;
        Uint32 count;
    } cases[] = {{"", 1}, {"a\\b", 1}, {k251.c_str(), 1}, {"fine", 0}, {nullptr, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key ? c.key : "(null)");
        LogCapture log;
        OSSIPCSemaphoreExCreateParam p = exParam(c.key);
        p.semaphoreCount = c.count;
        OSSHIPCSemaphoreEx s;
        EXPECT_EQ(ECF_INVALID_PARAMETER, s.create(&p));
        EXPECT_EQ(INVALID_HANDLE_VALUE, s.handle);
        EXPECT_TRUE(log.has(0x081A00CD, 30) || log.has(0x081A00CD, 50));
    }
}

TEST(Semaphore, WaitResultsMeanTheStatedCodes)
{
    using osse_ipc::semaphoreWaitVerdict;
    using osse_ipc::waitpostWaitVerdict;
    struct Case {
        osse_ipc::WaitVerdict v;
        Uint32 code, probe;
        bool log, osError;
    } cases[] = {
        {semaphoreWaitVerdict(WAIT_OBJECT_0, ECF_TIMEOUT, false), 0, 0, false, false},
        {semaphoreWaitVerdict(WAIT_TIMEOUT, ECF_TIMEOUT, false), ECF_TIMEOUT, 90, false, false},
        {semaphoreWaitVerdict(WAIT_TIMEOUT, ECF_FILE_NFS_TIME_OUT, false), ECF_FILE_NFS_TIME_OUT, 90,
         false, false},
        {semaphoreWaitVerdict(WAIT_ABANDONED, ECF_TIMEOUT, false), ECF_SEM_WAIT_ABANDONED, 100, true,
         false},
        {semaphoreWaitVerdict(WAIT_ABANDONED, ECF_TIMEOUT, true), ECF_SEM_WAIT_ABANDONED, 100, false,
         false},
        {semaphoreWaitVerdict(WAIT_FAILED, ECF_TIMEOUT, false), 0, 110, true, true},
        {semaphoreWaitVerdict(WAIT_FAILED, ECF_TIMEOUT, true), 0, 110, false, true},
        {waitpostWaitVerdict(WAIT_OBJECT_0, 5), 0, 0, false, false},
        {waitpostWaitVerdict(WAIT_TIMEOUT, 0), ECF_WAITPOST_NOT_POSTED, 105, false, false},
        {waitpostWaitVerdict(WAIT_TIMEOUT, 5), ECF_TIMEOUT, 110, true, false},
        {waitpostWaitVerdict(WAIT_ABANDONED, 5), ECF_SEM_WAIT_ABANDONED, 100, true, false},
        {waitpostWaitVerdict(WAIT_FAILED, 5), 0, 120, true, true},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        EXPECT_EQ(c.code, c.v.code);
        EXPECT_EQ(c.probe, c.v.probe);
        EXPECT_EQ(c.log, c.v.log);
        EXPECT_EQ(c.osError, c.v.osError);
    }
}
