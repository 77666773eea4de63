// The message queue between real processes: delivery across ring sizes and message sizes in
// both start orders, the stream after refusals, timeouts and dead peers, and many producers
// and consumers at once.
#include "ipc_test.h"

#include <process.h>

#include <sstream>

using namespace ipctest;

namespace {

const Uint32 kGetId = 0x081A0048;

Uint8 patternByte(Uint32 message, Uint32 j)
{
    return (Uint8)(message * 31u + j * 7u + 1u);
}

std::vector<Uint8> patternMessage(Uint32 message, Uint32 size)
{
    std::vector<Uint8> m(size);
    for (Uint32 j = 0; j < size; ++j) m[j] = patternByte(message, j);
    return m;
}

std::vector<Uint32> parseSizes(const std::string& text)
{
    std::vector<Uint32> sizes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) sizes.push_back((Uint32)std::stoul(item));
    return sizes;
}

std::string joinSizes(const std::vector<Uint32>& sizes)
{
    std::string out;
    for (Uint32 s : sizes) out += (out.empty() ? "" : ",") + std::to_string(s);
    return out;
}

bool attachQueue(OSSHIPCQueue& q, const std::string& key)
{
    OSSIPCQueResID id = queResId(30, key);
    return q.attach(&id) == 0;
}

// A queue created by this process, destroyed at the end of the test.
struct OwnQueue {
    std::string key;
    OSSHIPCQueue q;
    explicit OwnQueue(Uint32 maxBytes, const char* what = "q") : key(uniqueKey(what))
    {
        OSSIPCQueueCreateParam p;
        p.queResId = queResId(30, key);
        p.maxBytes = maxBytes;
        EXPECT_EQ(0u, q.create(&p));
    }
    ~OwnQueue() { q.destroy(); }
};

// Child: puts the messages of the size list args[1] into queue args[0].
OSSE_CHILD_ROLE(q_writer)
{
    OSSHIPCQueue q;
    if (!attachQueue(q, args[0])) return 2;
    const std::vector<Uint32> sizes = parseSizes(args[1]);
    for (Uint32 i = 0; i < sizes.size(); ++i) {
        std::vector<Uint8> m = patternMessage(i, sizes[i]);
        if (q.put(m.data(), sizes[i])) return 3;
    }
    return q.detach() ? 4 : 0;
}

// Child: gets the messages of the size list args[1] from queue args[0] and checks each; with
// args[2] the get timeout (a poll loop: timeouts and empty polls are retried, and after many
// of them one get without a limit takes a message that polls cannot, one larger than the ring).
OSSE_CHILD_ROLE(q_reader)
{
    OSSHIPCQueue q;
    if (!attachQueue(q, args[0])) return 2;
    const std::vector<Uint32> sizes = parseSizes(args[1]);
    const int timeout = args.size() > 2 ? std::stoi(args[2]) : -1;
    std::vector<Uint8> buffer(1 << 20);
    for (Uint32 i = 0; i < sizes.size(); ++i) {
        unsigned int length = 0xFFFFFFFF;
        Uint32 rc;
        int misses = 0;
        while ((rc = q.get(buffer.data(), (unsigned)buffer.size(), &length,
                           ++misses > 200 ? -1 : timeout)) == ECF_QUE_INVALID_MSG_TYPE ||
               rc == ECF_TIMEOUT) {
        }
        if (rc) return 3;
        if (length != sizes[i]) return 4;
        for (Uint32 j = 0; j < length; ++j)
            if (buffer[j] != patternByte(i, j)) return 5;
    }
    return q.detach() ? 6 : 0;
}

// Child: blocks in a get on queue args[0] until it is killed.
OSSE_CHILD_ROLE(q_blocked_reader)
{
    OSSHIPCQueue q;
    if (!attachQueue(q, args[0])) return 2;
    char buffer[64];
    unsigned int length;
    q.get(buffer, sizeof buffer, &length, -1);
    return 3;
}

struct ReaderArg {
    OSSHIPCQueue* q;
    unsigned int length;
};

unsigned __stdcall threadReader(void* p)
{
    ReaderArg* a = static_cast<ReaderArg*>(p);
    char b[64];
    return a->q->get(b, sizeof b, &a->length, 30000);
}

// Child: attaches to queue args[0], gets one message with timeout args[1], and exits with the
// code that get returned.
OSSE_CHILD_ROLE(q_get_code)
{
    OSSHIPCQueue q;
    if (!attachQueue(q, args[0])) return 2;
    std::vector<Uint8> buffer(1 << 16);
    unsigned int length;
    return (int)q.get(buffer.data(), (unsigned)buffer.size(), &length, std::stoi(args[1]));
}

template <class Fn>
struct CallBox {
    Fn* fn;
    Uint32 rc;
};

template <class Fn>
unsigned __stdcall callThread(void* p)
{
    CallBox<Fn>* b = static_cast<CallBox<Fn>*>(p);
    b->rc = (*b->fn)();
    return 0;
}

// Runs fn on a thread and returns its result, or 0xDEADDEAD when it has not returned within
// `ms` (the thread is then ended): a call that would hang fails the test instead.
template <class Fn>
Uint32 callWithin(DWORD ms, Fn fn)
{
    CallBox<Fn> box = {&fn, 0xDEADDEADu};
    HANDLE t = (HANDLE)_beginthreadex(nullptr, 0, callThread<Fn>, &box, 0, nullptr);
    if (WaitForSingleObject(t, ms) != WAIT_OBJECT_0) TerminateThread(t, 1);
    CloseHandle(t);
    return box.rc;
}

struct PutArg {
    OSSHIPCQueue* q;
    Uint8* data;
    Uint32 length;
};

struct GetArg {
    OSSHIPCQueue* q;
    Uint8* buffer;
    Uint32 size;
    unsigned int length;
    int timeout;
};

unsigned __stdcall putThread(void* p)
{
    PutArg* a = static_cast<PutArg*>(p);
    return a->q->put(a->data, a->length);
}

unsigned __stdcall getThread(void* p)
{
    GetArg* a = static_cast<GetArg*>(p);
    return a->q->get(a->buffer, a->size, &a->length, a->timeout);
}

// Queue calls on threads of their own, with small stacks (hundreds of them may run at once).
HANDLE startPut(PutArg& a)
{
    return (HANDLE)_beginthreadex(nullptr, 64 << 10, putThread, &a,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}

HANDLE startGet(GetArg& a)
{
    return (HANDLE)_beginthreadex(nullptr, 64 << 10, getThread, &a,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}

// Waits for a queue thread and returns what its call returned (0xDEADDEAD when it hangs).
Uint32 threadResult(HANDLE t)
{
    DWORD rc = 0xDEADDEADu;
    if (WaitForSingleObject(t, 30000) == WAIT_OBJECT_0) GetExitCodeThread(t, &rc);
    else TerminateThread(t, 0xDEADDEADu);
    CloseHandle(t);
    return rc;
}

bool hintDataPresent(const OSSHIPCQueue& q)
{
    return __atomic_load_n(&q.header->dataPresent, __ATOMIC_ACQUIRE) != 0;
}

// Stops a thread that is inside a put or get somewhere other than under the state latch or in a
// copy, as a live process that has stalled.
bool suspendOutsideStateLatch(HANDLE t, const OSSIPCQueueHeader* h)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        SuspendThread(t);
        CONTEXT c;
        c.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(t, &c);  // returns once the thread has really stopped
        const Uint8 copying = OSS_QUEUE_WRITER_COPYING | OSS_QUEUE_READER_COPYING;
        if (__atomic_load_n(&h->stateLatch.lockWord, __ATOMIC_ACQUIRE) == 0 &&
            (__atomic_load_n(&h->generation, __ATOMIC_ACQUIRE) & copying) == 0)
            return true;
        ResumeThread(t);
        Sleep(1);
    }
    return false;
}

}  // namespace

TEST(Queue, CapacityFromMaxBytesAndTheRingSpaceOfAMessage)
{
    struct Case {
        Uint32 maxBytes, capacity;
    } cases[] = {{0, 4}, {3, 8}, {4, 8}, {5, 8}, {4096, 4096}, {4097, 4100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxBytes);
        OwnQueue own(c.maxBytes);
        ASSERT_NE(nullptr, own.q.header);
        EXPECT_EQ(c.capacity, own.q.header->capacity);
        unsigned int size = 0;
        own.q.segment.getMemorySize(&size);
        EXPECT_GE(size, c.capacity + 20);
    }
    OwnQueue own(4096);
    char ten[10] = "123456789";
    ASSERT_EQ(0u, own.q.put(ten, 10));
    EXPECT_EQ(16u, own.q.header->writeOffset);  // length, 10 bytes and 2 of padding
    EXPECT_TRUE(own.q.hasMessage());

    // Sizes whose ring and header would not fit in 32 bits are refused, not wrapped.
    for (Uint32 maxBytes : {0xFFFFFFFFu, 0xFFFFFFFFu - 20u}) {
        OSSIPCQueueCreateParam p;
        p.queResId = queResId(30, uniqueKey("huge"));
        p.maxBytes = maxBytes;
        OSSHIPCQueue q;
        EXPECT_EQ(ECF_INVALID_PARAMETER, q.create(&p));
        EXPECT_FALSE(q.isAttached());
    }
}

TEST(Queue, DeliveryAcrossRingAndMessageSizesInBothStartOrders)
{
    for (Uint32 maxBytes : {0u, 8u, 64u, 4096u}) {
        for (bool writerFirst : {true, false}) {
            SCOPED_TRACE(std::to_string(maxBytes) + (writerFirst ? " writer first" : " reader first"));
            OwnQueue own(maxBytes);
            const Uint32 cap = own.q.header->capacity;
            // Empty messages, one byte, one that fills the ring with its length, one exactly
            // the ring, ten rings, and small ones after the big ones.
            const std::vector<Uint32> sizes = {0, 0, 1, cap - 4, cap, 10 * cap, 3, 0, cap + 1, 5};
            const std::string plan = joinSizes(sizes);
            ossetest::Child writer, reader;
            if (writerFirst) {
                ASSERT_TRUE(writer.start("q_writer", {own.key, plan}));
                ASSERT_TRUE(waitUntil([&] { return own.q.hasMessage(); }));
                ASSERT_TRUE(reader.start("q_reader", {own.key, plan}));
            } else {
                ASSERT_TRUE(reader.start("q_reader", {own.key, plan}));
                ASSERT_TRUE(waitUntil([&] { return own.q.header->readerWaiting != 0; }));
                ASSERT_TRUE(writer.start("q_writer", {own.key, plan}));
            }
            EXPECT_EQ(0, writer.wait());
            EXPECT_EQ(0, reader.wait());
            EXPECT_FALSE(own.q.hasMessage());
        }
    }
}

TEST(Queue, TooBigLeavesTheMessageForALargerBuffer)
{
    OwnQueue own(64);
    std::vector<Uint8> m = patternMessage(1, 40), n = patternMessage(2, 7);
    ASSERT_EQ(0u, own.q.put(m.data(), 40));
    ASSERT_EQ(0u, own.q.put(n.data(), 7));
    char small[10];
    unsigned int length = 0;
    {
        LogCapture log;
        EXPECT_EQ(ECF_QUE_MSG_TOO_BIG, own.q.get(small, sizeof small, &length, 0));
        EXPECT_TRUE(log.has(kGetId, 100));
    }
    EXPECT_EQ(40u, length);
    std::vector<Uint8> big(40);
    ASSERT_EQ(0u, own.q.get(big.data(), 40, &length, 0));
    EXPECT_EQ(m, big);
    ASSERT_EQ(0u, own.q.get(small, sizeof small, &length, 0));
    EXPECT_EQ(7u, length);
    EXPECT_EQ(0, memcmp(small, n.data(), 7));
}

TEST(Queue, EmptyPollsTimeoutsAndFlush)
{
    OwnQueue own(64);
    char buffer[64];
    unsigned int length;
    {
        LogCapture log;
        EXPECT_EQ(ECF_QUE_INVALID_MSG_TYPE, own.q.get(buffer, sizeof buffer, &length, 0));
        EXPECT_EQ(0u, log.count());
        EXPECT_EQ(ECF_TIMEOUT, own.q.get(buffer, sizeof buffer, &length, 10));
        EXPECT_TRUE(log.has(kGetId, 80));
        EXPECT_EQ(ECF_INVALID_PARAMETER, own.q.get(nullptr, 8, &length, 0));
        EXPECT_EQ(ECF_INVALID_PARAMETER, own.q.put(nullptr, 8));
    }
    // A poll while another reader holds the get latch: that reader is taking a message, so the
    // queue is not said to be empty; the poll ran out of time, and that is not logged.
    ASSERT_EQ(0u, own.q.put(buffer, 4));
    ASSERT_TRUE(own.q.header->getLatch.tryAcquire());
    {
        LogCapture log;
        EXPECT_EQ(ECF_TIMEOUT, own.q.get(buffer, sizeof buffer, &length, 0));
        EXPECT_EQ(0u, log.count());
    }
    own.q.header->getLatch.release();
    ASSERT_EQ(0u, own.q.get(buffer, sizeof buffer, &length, 0));
    EXPECT_EQ(4u, length);
    // An empty message is a message.
    ASSERT_EQ(0u, own.q.put(nullptr, 0));
    EXPECT_TRUE(own.q.hasMessage());
    ASSERT_EQ(0u, own.q.get(nullptr, 0, &length, 0));
    EXPECT_EQ(0u, length);

    // flush wakes a waiting reader, which finds nothing and waits again.
    ReaderArg arg = {&own.q, 0};
    HANDLE t = (HANDLE)_beginthreadex(nullptr, 0, threadReader, &arg, 0, nullptr);
    ASSERT_TRUE(waitUntil([&] { return own.q.header->readerWaiting != 0; }));
    EXPECT_EQ(0u, own.q.flush());
    ASSERT_TRUE(waitUntil([&] { return own.q.header->readerWaiting != 0; }));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(t, 0));
    ASSERT_EQ(0u, own.q.put(buffer, 3));
    ASSERT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(t, 20000));
    DWORD rc = 1;
    GetExitCodeThread(t, &rc);
    CloseHandle(t);
    EXPECT_EQ(0u, rc);
    EXPECT_EQ(3u, arg.length);
}

TEST(Queue, PollingAndShortTimeoutsKeepTheStreamInStep)
{
    // Timeout 0 and 1 ms gets against a writer streaming messages larger than the ring: every
    // get either finds nothing, runs out of time, or returns one whole message, in order.
    OwnQueue own(64);
    const std::vector<Uint32> sizes = {640, 0, 7, 200, 60, 64, 1000, 1};
    for (const char* timeout : {"0", "1"}) {
        SCOPED_TRACE(timeout);
        ossetest::Child writer, reader;
        ASSERT_TRUE(reader.start("q_reader", {own.key, joinSizes(sizes), timeout}));
        ASSERT_TRUE(writer.start("q_writer", {own.key, joinSizes(sizes)}));
        EXPECT_EQ(0, writer.wait());
        EXPECT_EQ(0, reader.wait());
    }
}

TEST(Queue, AWriterKilledHoldingTheQueueBreaksItForEveryProcess)
{
    // Killed asleep holding the put latch with one whole message before it, and killed part
    // way through a message larger than the ring. Nothing half-written is ever returned, no
    // call waits for the dead writer, and every later call in any process fails the same way
    // until the queue is made again.
    struct Case {
        const char* plan;
        bool wholeMessageFirst;
    } cases[] = {{"40,40", true}, {"1000", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plan);
        OwnQueue own(64);
        ossetest::Child writer;
        ASSERT_TRUE(writer.start("q_writer", {own.key, c.plan}));
        ASSERT_TRUE(waitUntil([&] { return own.q.header->writerWaiting != 0; }));
        writer.kill();
        std::vector<Uint8> buffer(2000);
        unsigned int length = 0;
        if (c.wholeMessageFirst) {
            ASSERT_EQ(0u, own.q.get(buffer.data(), 2000, &length, 5000));
            EXPECT_EQ(40u, length);
            buffer.resize(40);
            EXPECT_EQ(patternMessage(0, 40), buffer);
            buffer.resize(2000);
        }
        length = 12345;
        EXPECT_EQ(ECF_SEM_WAIT_ABANDONED, own.q.get(buffer.data(), 2000, &length, 20000));
        EXPECT_EQ(12345u, length);
        EXPECT_EQ(ECF_SEM_WAIT_ABANDONED,
                  callWithin(20000, [&] { return own.q.put(buffer.data(), 8); }));
        EXPECT_EQ(ECF_SEM_WAIT_ABANDONED, own.q.flush());
        EXPECT_FALSE(own.q.hasMessage());
        ossetest::Child reader;
        ASSERT_TRUE(reader.start("q_get_code", {own.key, "-1"}));
        EXPECT_EQ(ECF_SEM_WAIT_ABANDONED, (Uint32)reader.wait(20000));

        EXPECT_EQ(0u, own.q.destroy());
        OSSIPCQueueCreateParam p;
        p.queResId = queResId(30, own.key);
        p.maxBytes = 64;
        ASSERT_EQ(0u, own.q.create(&p));
        ASSERT_EQ(0u, own.q.put(buffer.data(), 8));
        ASSERT_EQ(0u, own.q.get(buffer.data(), 2000, &length, 0));
        EXPECT_EQ(8u, length);
    }
}

TEST(Queue, AReaderOutOfTimeInALongMessageCostsTheQueueNothing)
{
    // The writer of a message larger than the ring is alive but stopped part way. The reader's
    // timeout holds; the writer then sends the message again from its start, so the next
    // reader takes it whole, and no reader ever sees the rest of a body as a message.
    OwnQueue own(64);
    std::vector<Uint8> big = patternMessage(3, 1000);
    PutArg put = {&own.q, big.data(), 1000};
    HANDLE writer = startPut(put);
    ASSERT_TRUE(waitUntil([&] { return own.q.header->writerWaiting != 0; }));
    ASSERT_TRUE(suspendOutsideStateLatch(writer, own.q.header));

    std::vector<Uint8> buffer(2000);
    unsigned int length = 0;
    const DWORD start = GetTickCount();
    {
        LogCapture log;
        EXPECT_EQ(ECF_TIMEOUT, own.q.get(buffer.data(), 2000, &length, 200));
        EXPECT_TRUE(log.has(kGetId, 110));
    }
    EXPECT_LT(GetTickCount() - start, 10000u);  // bounded by the timeout, not by the writer
    ResumeThread(writer);
    ASSERT_EQ(0u, own.q.get(buffer.data(), 2000, &length, 20000));
    EXPECT_EQ(1000u, length);
    EXPECT_EQ(big, std::vector<Uint8>(buffer.begin(), buffer.begin() + 1000));
    EXPECT_EQ(0u, threadResult(writer));
    EXPECT_EQ(ECF_QUE_INVALID_MSG_TYPE, own.q.get(buffer.data(), 2000, &length, 0));
    char next[5] = "next";
    ASSERT_EQ(0u, own.q.put(next, 5));
    ASSERT_EQ(0u, own.q.get(buffer.data(), 2000, &length, 0));
    EXPECT_EQ(5u, length);
    EXPECT_STREQ("next", reinterpret_cast<char*>(buffer.data()));
}

TEST(Queue, FlushDoesNotWaitForASleepingWriterAndCutsAMessageOnBothSides)
{
    // A writer asleep for space with nothing of its message written yet goes on in the
    // emptied ring.
    {
        OwnQueue own(64);
        ossetest::Child writer;
        ASSERT_TRUE(writer.start("q_writer", {own.key, "40,40"}));
        ASSERT_TRUE(waitUntil([&] { return own.q.header->writerWaiting != 0; }));
        EXPECT_EQ(0u, callWithin(10000, [&] { return own.q.flush(); }));
        EXPECT_EQ(0, writer.wait(20000));
        std::vector<Uint8> buffer(64);
        unsigned int length = 0;
        ASSERT_EQ(0u, own.q.get(buffer.data(), 64, &length, 0));
        EXPECT_EQ(patternMessage(1, 40), std::vector<Uint8>(buffer.begin(), buffer.begin() + 40));
        EXPECT_EQ(ECF_QUE_INVALID_MSG_TYPE, own.q.get(buffer.data(), 64, &length, 0));
    }
    // A message larger than the ring, with its reader part way through the body: both sides
    // fail, and no reader takes what follows the flush as the rest of a body.
    OwnQueue own(64);
    std::vector<Uint8> big = patternMessage(4, 1000);
    PutArg put = {&own.q, big.data(), 1000};
    HANDLE writer = startPut(put);
    ASSERT_TRUE(waitUntil([&] { return own.q.header->writerWaiting != 0; }));
    ASSERT_TRUE(suspendOutsideStateLatch(writer, own.q.header));
    std::vector<Uint8> body(2000);
    GetArg get = {&own.q, body.data(), 2000, 0, -1};
    HANDLE reader = startGet(get);
    // The reader is part way through the body once the ring is empty and it waits.
    ASSERT_TRUE(waitUntil(
        [&] { return own.q.header->readerWaiting != 0 && !hintDataPresent(own.q); }));
    EXPECT_EQ(0u, callWithin(10000, [&] { return own.q.flush(); }));
    EXPECT_EQ(ECF_SESSION_CANCELED, threadResult(reader));
    ResumeThread(writer);
    EXPECT_EQ(ECF_SESSION_CANCELED, threadResult(writer));
    std::vector<Uint8> buffer(2000);
    unsigned int length = 0;
    EXPECT_EQ(ECF_QUE_INVALID_MSG_TYPE, own.q.get(buffer.data(), 2000, &length, 0));
    char next[5] = "next";
    ASSERT_EQ(0u, own.q.put(next, 5));
    ASSERT_EQ(0u, own.q.get(buffer.data(), 2000, &length, 0));
    EXPECT_STREQ("next", reinterpret_cast<char*>(buffer.data()));
}

TEST(Queue, EveryOneOfThreeHundredWaitingReadersIsWoken)
{
    constexpr int kReaders = 300;
    OwnQueue own(4096);
    std::vector<GetArg> args(kReaders);
    std::vector<HANDLE> readers;
    std::vector<std::vector<Uint8>> buffers(kReaders, std::vector<Uint8>(8));
    for (int i = 0; i < kReaders; ++i) {
        args[i] = {&own.q, buffers[i].data(), 8, 0, 60000};
        readers.push_back(startGet(args[i]));
    }
    ASSERT_TRUE(waitUntil([&] { return own.q.header->readerWaiting != 0; }));
    for (Uint32 i = 0; i < (Uint32)kReaders; ++i) ASSERT_EQ(0u, own.q.put(&i, 4));
    std::vector<int> seen(kReaders, 0);
    for (int i = 0; i < kReaders; ++i) {
        ASSERT_EQ(0u, threadResult(readers[i]));
        Uint32 value;
        memcpy(&value, buffers[i].data(), 4);
        ASSERT_LT(value, (Uint32)kReaders);
        seen[value]++;
    }
    EXPECT_EQ(std::vector<int>(kReaders, 1), seen);
}

TEST(Queue, ReadersKilledWhileWaitingCostLaterPutsNothing)
{
    // The readers are killed once one of them sleeps; another may be on its way in and hold a
    // latch just then. A reader killed holding a latch is another case (the queue finds itself
    // broken), so such a run is started again: this one is about readers that died waiting.
    auto latchHeld = [](const OSSIPCQueueHeader* h) {
        return h->putLatch.lockWord >= OSS_LATCH_HELD || h->getLatch.lockWord >= OSS_LATCH_HELD ||
               h->stateLatch.lockWord >= OSS_LATCH_HELD;
    };
    for (int attempt = 0; attempt < 5; ++attempt) {
        OwnQueue own(64);
        ossetest::Child blocked[3];
        for (auto& b : blocked) ASSERT_TRUE(b.start("q_blocked_reader", {own.key}));
        ASSERT_TRUE(waitUntil([&] { return own.q.header->readerWaiting != 0; }));
        for (auto& b : blocked) b.kill();
        if (latchHeld(own.q.header)) continue;
        char m[5] = "ping";
        char buffer[8] = {};
        unsigned int length = 0;
        // The first put may post once for a sleeper that has gone; after it no put posts.
        ASSERT_EQ(0u, own.q.put(m, 5));
        EXPECT_EQ(0, own.q.header->readerWaiting);
        ASSERT_EQ(0u, own.q.put(m, 5));
        EXPECT_EQ(0, own.q.header->readerWaiting);
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(0u, own.q.get(buffer, sizeof buffer, &length, 5000));
            EXPECT_STREQ("ping", buffer);
        }
        // And a new reader that waits is still woken.
        GetArg get = {&own.q, reinterpret_cast<Uint8*>(buffer), sizeof buffer, 0, 20000};
        HANDLE reader = startGet(get);
        ASSERT_TRUE(waitUntil([&] { return own.q.header->readerWaiting != 0; }));
        ASSERT_EQ(0u, own.q.put(m, 5));
        EXPECT_EQ(0u, threadResult(reader));
        return;
    }
    FAIL() << "every run killed a reader that held a latch";
}

TEST(Queue, AReaderKilledWhileBlockedLeavesTheOthersWorking)
{
    OwnQueue own(64);
    ossetest::Child blocked;
    ASSERT_TRUE(blocked.start("q_blocked_reader", {own.key}));
    ASSERT_TRUE(waitUntil([&] { return own.q.header->readerWaiting != 0; }));
    blocked.kill();
    char m[5] = "ping";
    char buffer[8] = {};
    unsigned int length = 0;
    ASSERT_EQ(0u, own.q.put(m, 5));
    ASSERT_EQ(0u, own.q.get(buffer, sizeof buffer, &length, 5000));
    EXPECT_STREQ("ping", buffer);
    ASSERT_EQ(0u, own.q.put(m, 5));
    ASSERT_EQ(0u, own.q.get(buffer, sizeof buffer, &length, 5000));
}

TEST(Queue, ReaderLatchHeldElsewhereBoundsEveryWait)
{
    // As if another process held the get latch (or died holding it): a poll returns at once
    // (someone else is taking the message), a wait returns when its time is up.
    OwnQueue own(64);
    char buffer[8];
    unsigned int length;
    ASSERT_EQ(0u, own.q.put(buffer, 4));
    own.q.header->getLatch.acquire();
    EXPECT_EQ(ECF_TIMEOUT, own.q.get(buffer, sizeof buffer, &length, 0));
    EXPECT_EQ(ECF_TIMEOUT, own.q.get(buffer, sizeof buffer, &length, 30));
    own.q.header->getLatch.release();
    EXPECT_EQ(0u, own.q.get(buffer, sizeof buffer, &length, 0));
}

// Processor time a thread has used, in milliseconds.
double cpuMs(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
    auto ms = [](const FILETIME& t) {
        return (double)(((Uint64)t.dwHighDateTime << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

TEST(Queue, AWaiterWhosePeerStallsInItsCopyBlocksInsteadOfSpinning)
{
    // A waiter spins while the other side's copying bit is set, since its bytes are coming. A
    // peer stopped in the middle of its copy (a process that lost its processor, or was
    // suspended) must cost the waiter a bounded spin, then blocks: not a whole core.
    OwnQueue own(64);
    OSSIPCQueueHeader* h = own.q.header;
    char buffer[64] = {};
    unsigned int length;
    auto setCopying = [&](Uint8 bit, bool on) {
        h->stateLatch.acquire();
        h->generation = on ? (Uint8)(h->generation | bit) : (Uint8)(h->generation & ~bit);
        h->stateLatch.release();
    };

    // A reader on an empty ring whose writer is "copying".
    setCopying(OSS_QUEUE_WRITER_COPYING, true);
    OSSQueueKernelCalls before, after;
    ossGetQueueKernelCalls(&before);
    const double cpu0 = cpuMs(GetCurrentThread());
    EXPECT_EQ(ECF_TIMEOUT, own.q.get(buffer, sizeof buffer, &length, 400));
    const double readerCpu = cpuMs(GetCurrentThread()) - cpu0;
    ossGetQueueKernelCalls(&after);
    setCopying(OSS_QUEUE_WRITER_COPYING, false);
    EXPECT_LT(readerCpu, 100.0);
    EXPECT_GT(after.semaphoreWaits, before.semaphoreWaits);

    // A writer on a full ring whose reader is "copying"; it blocks, then gets its room.
    while (own.q.get(buffer, sizeof buffer, &length, 0) == 0) {
    }
    ASSERT_EQ(0u, own.q.put(buffer, 40));
    setCopying(OSS_QUEUE_READER_COPYING, true);
    PutArg put = {&own.q, reinterpret_cast<Uint8*>(buffer), 40};
    HANDLE t = startPut(put);
    Sleep(400);
    const double writerCpu = cpuMs(t);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(t, 0));
    setCopying(OSS_QUEUE_READER_COPYING, false);
    ASSERT_EQ(0u, own.q.get(buffer, sizeof buffer, &length, 1000));
    EXPECT_EQ(0u, threadResult(t));
    EXPECT_LT(writerCpu, 100.0);
    ASSERT_EQ(0u, own.q.get(buffer, sizeof buffer, &length, 1000));
    EXPECT_EQ(40u, length);
}

TEST(Queue, AttachRefusesMissingMembersAndBadHeaders)
{
    const std::string key = uniqueKey("qmissing");
    OSSIPCQueResID ids = queResId(30, key);
    OSSHIPCQueue q;
    EXPECT_EQ(ECF_QUE_DOESNT_EXIST, q.attach(&ids));
    EXPECT_FALSE(q.isAttached());

    // The segment alone: the semaphores are missing.
    OSSIPCMemoryCreateParam mp;
    mp.resId = ids.resID[0];
    mp.size = 20 + 64;
    OSSHIPCMemory seg;
    ASSERT_EQ(0u, seg.create(&mp));
    EXPECT_EQ(ECF_QUE_DOESNT_EXIST, q.attach(&ids));
    EXPECT_FALSE(q.isAttached());

    // All three objects, but a header whose capacity cannot be right.
    OSSHIPCSemaphore sems[2];
    for (int i = 0; i < 2; ++i) {
        OSSIPCSemaphoreCreateParam sp;
        sp.resId = ids.resID[1 + i];
        ASSERT_EQ(0u, sems[i].create(&sp));
    }
    OSSIPCQueueHeader* h = static_cast<OSSIPCQueueHeader*>(seg.address);
    for (Uint32 capacity : {0u, 6u, 1u << 20}) {
        h->capacity = capacity;
        EXPECT_EQ(ECF_QUE_DOESNT_EXIST, q.attach(&ids)) << capacity;
        EXPECT_FALSE(q.isAttached());
    }
    h->capacity = 64;
    EXPECT_EQ(0u, q.attach(&ids));
    EXPECT_EQ(0u, q.detach());
    seg.destroy();
    sems[0].destroy();
    sems[1].destroy();
    EXPECT_EQ(ECF_INVALID_PARAMETER, q.attach(nullptr));
    EXPECT_EQ(0u, ossGetMaxQueueMessageSize());
}

// ---- Many producers and consumers -------------------------------------------------------------

namespace {

constexpr Uint32 kProducers = 4, kConsumers = 4;
// 60,000 messages in all. 100,000 take 12 s alone under Wine on two shared cores, and 18 s
// while the rest of the suite runs beside them: too close to what one test may take.
constexpr Uint32 kPerProducer = 15000;
constexpr Uint32 kStressRing = 2048;

struct StressHeader {
    Uint32 producer, seq, size, checksum;
};

struct StressBoard {
    volatile LONG zeroMessages;
    volatile LONG errors;
    Uint8 received[kProducers][kPerProducer];
};

Uint32 stressSize(Uint32 producer, Uint32 seq)
{
    Uint32 x = producer * 2654435761u + seq * 40503u;
    x ^= x >> 13;
    if (seq % 97 == 5) return 0;
    if (seq % 41 == 3) return kStressRing * 2 + x % (kStressRing * 2);
    return sizeof(StressHeader) + x % 300;
}

Uint32 checksum(const Uint8* p, Uint32 n)
{
    Uint32 c = 2166136261u;
    for (Uint32 i = 0; i < n; ++i) c = (c ^ p[i]) * 16777619u;
    return c;
}

bool attachBoard(OSSHIPCMemory& m, const std::string& key)
{
    OSSIPCResID id = resId(40, key);
    return m.attach(&id, nullptr) == 0;
}

OSSE_CHILD_ROLE(q_producer)
{
    OSSHIPCQueue q;
    if (!attachQueue(q, args[0])) return 2;
    const Uint32 producer = (Uint32)std::stoul(args[1]);
    std::vector<Uint8> m(kStressRing * 4 + 64);
    for (Uint32 seq = 0; seq < kPerProducer; ++seq) {
        const Uint32 size = stressSize(producer, seq);
        if (size) {
            for (Uint32 j = sizeof(StressHeader); j < size; ++j) m[j] = (Uint8)(seq + j * 13);
            StressHeader h = {producer, seq, size,
                              checksum(m.data() + sizeof h, size - (Uint32)sizeof h)};
            memcpy(m.data(), &h, sizeof h);
        }
        if (q.put(m.data(), size)) return 3;
    }
    return 0;
}

OSSE_CHILD_ROLE(q_consumer)
{
    OSSHIPCQueue q;
    OSSHIPCMemory board;
    if (!attachQueue(q, args[0]) || !attachBoard(board, args[0])) return 2;
    StressBoard* b = static_cast<StressBoard*>(board.address);
    std::vector<Uint8> m(kStressRing * 4 + 64);
    Sint64 last[kProducers] = {-1, -1, -1, -1};
    for (;;) {
        unsigned int length = 0;
        const Uint32 rc = q.get(m.data(), (unsigned)m.size(), &length, 60000);
        if (rc) return 3;
        if (length == 0) {
            InterlockedIncrement(&b->zeroMessages);
            continue;
        }
        StressHeader h;
        memcpy(&h, m.data(), sizeof h);
        if (h.producer == 0xFF) return 0;  // stop
        if (h.producer >= kProducers || h.seq >= kPerProducer || h.size != length ||
            h.checksum != checksum(m.data() + sizeof h, length - (Uint32)sizeof h) ||
            (Sint64)h.seq <= last[h.producer]) {
            InterlockedIncrement(&b->errors);
            continue;
        }
        last[h.producer] = h.seq;
        b->received[h.producer][h.seq]++;
    }
}

// Four producers and four consumers through one small ring; with `peer`, every second producer
// and consumer is the other architecture's build of this program.
void fourProducersAndFourConsumers(const std::string& peer)
{
    OwnQueue own(kStressRing, "stress");
    OSSIPCMemoryCreateParam bp;
    bp.resId = resId(40, own.key);
    bp.size = sizeof(StressBoard);
    OSSHIPCMemory board;
    ASSERT_EQ(0u, board.create(&bp));
    StressBoard* b = static_cast<StressBoard*>(board.address);

    ossetest::Child consumers[kConsumers], producers[kProducers];
    auto start = [&](ossetest::Child& c, Uint32 n, const char* role,
                     const std::vector<std::string>& args) {
        return peer.empty() || n % 2 == 0 ? c.start(role, args)
                                          : c.startProgram(peer, role, args);
    };
    for (Uint32 n = 0; n < kConsumers; ++n)
        ASSERT_TRUE(start(consumers[n], n, "q_consumer", {own.key}));
    for (Uint32 p = 0; p < kProducers; ++p)
        ASSERT_TRUE(start(producers[p], p, "q_producer", {own.key, std::to_string(p)}));
    for (auto& p : producers) EXPECT_EQ(0, p.wait(120000));
    StressHeader stop = {0xFF, 0, sizeof(StressHeader), 0};
    for (Uint32 i = 0; i < kConsumers; ++i) ASSERT_EQ(0u, own.q.put(&stop, sizeof stop));
    for (auto& c : consumers) EXPECT_EQ(0, c.wait(120000));

    EXPECT_EQ(0, b->errors);
    LONG zeros = 0, missing = 0, duplicated = 0;
    for (Uint32 p = 0; p < kProducers; ++p) {
        for (Uint32 s = 0; s < kPerProducer; ++s) {
            const Uint32 size = stressSize(p, s);
            if (size == 0) {
                ++zeros;
                continue;
            }
            missing += b->received[p][s] == 0;
            duplicated += b->received[p][s] > 1;
        }
    }
    EXPECT_EQ(zeros, b->zeroMessages);
    EXPECT_EQ(0, missing);
    EXPECT_EQ(0, duplicated);
    board.destroy();
}

}  // namespace

TEST(Queue, FourProducersAndFourConsumersDeliverEveryMessageOnceWholeAndInOrder)
{
    fourProducersAndFourConsumers("");
}

// The queue's header and stream are one format for both architectures: producers and
// consumers of both kinds share one queue.
TEST(Queue, ProducersAndConsumersOfBothArchitecturesShareOneQueue)
{
    OSSE_PEER_PROGRAM_OR_SKIP(peer);
    fourProducersAndFourConsumers(peer);
}

// The bytes another process reads, whatever the architecture of the writer: the 20-byte header
// and the ring as the format defines them (each message a 4-byte length and its body padded to
// 4 bytes), written out by hand here rather than taken from either build's writer.
TEST(Queue, SharedBytesAreTheFormatOfEitherArchitecture)
{
    OwnQueue own(64, "bytes");
    ASSERT_NE(nullptr, own.q.header);
    char alpha[] = "alpha", twelve[] = "0123456789AB";
    ASSERT_EQ(0u, own.q.put(alpha, 5));
    ASSERT_EQ(0u, own.q.put(alpha, 0));
    ASSERT_EQ(0u, own.q.put(twelve, 12));
    char got[16];
    unsigned int length = 0;
    ASSERT_EQ(0u, own.q.get(got, sizeof got, &length, 0));
    ASSERT_EQ(5u, length);

    const char* const expected =
        // latches, generation | capacity 64 | write offset 32 | read offset 12 | waiting,
        // present, flags (holder record present)
        "00000000" "40000000" "20000000" "0c000000" "00000104"
        // ring: [5] "alpha" pad | [0] | [12] "0123456789AB" | free
        "05000000" "616c7068" "61000000" "00000000" "0c000000" "30313233" "34353637"
        "38394142" "0000000000000000000000000000000000000000000000000000000000000000"
        // padding to 8 | holder record: put, get, state, reserved (all free)
        "00000000" "0000000000000000" "0000000000000000" "0000000000000000" "0000000000000000";
    const Uint8* bytes = reinterpret_cast<const Uint8*>(own.q.header);
    std::string hex;
    for (size_t i = 0; i < 88 + 32; ++i) {
        char two[3];
        snprintf(two, sizeof two, "%02x", bytes[i]);
        hex += two;
    }
    EXPECT_EQ(expected, hex);
}
