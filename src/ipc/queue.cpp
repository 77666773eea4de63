// The message queue: a classic segment holding a 20-byte header, a ring and a record of the
// latch holders, and two classic semaphores on which readers wait for data and a writer waits
// for space. A message is its 4-byte length followed by its bytes, each item padded to 4 bytes.
//
// How the stream stays in step:
// - A message that fits in the ring (length item and padded body) is written in one piece once
//   there is room for all of it, and read in one piece; a reader never sees part of it. A
//   larger message streams through in chunks while its writer holds the put latch and its
//   reader the get latch, so the ring holds nothing else once the reader has its length.
// - A reader looks at the length before taking anything: a message larger than the caller's
//   buffer stays in the ring and its length is handed back.
// - Bytes are copied outside the state latch, into free space (writer) or out of used space
//   (reader), and the offsets move only after the copy, under the latch. A copying bit (in the
//   generation byte, which only state latch holders change) says that a side is between the
//   two, which is all that flush waits for. A small message is copied with the latch held
//   instead: letting go of the latch and taking it again would cost more than its copy.
// - A flush counts a generation. A writer or reader part way through a message that finds the
//   generation changed stops with ECF_SESSION_CANCELED: neither resumes in the emptied ring.
// - A reader whose time runs out in the body of a streamed message cannot put back what it
//   took: it leaves the get latch held in the writer's name and raises a flag; the writer
//   withdraws the rest of the message, frees the latch and writes the message again from its
//   length. A slow writer costs a reader its time, never the queue a message. A poll does not
//   start such a message at all: it is never there whole.
// - A side that finds no data or no room first watches the header: a plain spin, kept up while
//   the other side's copying bit is set (its bytes are on their way), then a spin that gives
//   the processor away a few times, and only then a block on the semaphore. The flag is set
//   and the ring checked under the state latch, under which the mover publishes and reads the
//   flag, so a post is never missed; blocks are short slices all the same.
// - Whoever moves bytes wakes the other side when its waiting flag is set. The reader flag is
//   re-armed by every reader that sleeps and by every reader woken by a post, and a reader
//   that leaves data behind passes a post on; all sleeps are slices, so a post that went to a
//   reader that has gone costs one wake-up at most.
//
// Latches have no owner in the header; the holder record after the ring names the process
// holding each. Every wait looks at it once per slice, and a holder found dead marks the queue
// broken for every process (a holder killed between taking a latch and naming itself, a few
// instructions, goes unseen). The recovery is to destroy the queue and create it again.
#include <windows.h>

#include <string.h>

#include "osse/ecf.h"
#include "osse/ipc.h"
#include "osse/tick.h"

#include "base/callframe.h"
#include "sync/latch_internal.h"

namespace {

constexpr Uint32 kCreate = OSS_FUNC_ID(OSS_FN_OSSHIPCQueue_create);
constexpr Uint32 kAttach = OSS_FUNC_ID(OSS_FN_OSSHIPCQueue_attach);
constexpr Uint32 kDetach = OSS_FUNC_ID(OSS_FN_OSSHIPCQueue_detach);
constexpr Uint32 kDestroy = OSS_FUNC_ID(OSS_FN_OSSHIPCQueue_destroy);
constexpr Uint32 kFlush = OSS_FUNC_ID(OSS_FN_OSSHIPCQueue_flush);
constexpr Uint32 kPut = OSS_FUNC_ID(OSS_FN_OSSHIPCQueue_put);
constexpr Uint32 kGet = OSS_FUNC_ID(OSS_FN_OSSHIPCQueue_get);
constexpr Uint32 kHasMessage = OSS_FUNC_ID(OSS_FN_OSSHIPCQueue_hasMessage);
constexpr Uint32 kAuthorize = OSS_FUNC_ID(OSS_FN_OSSHIPCQueue_authorize);

constexpr Uint32 kMemCreate = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_create);
constexpr Uint32 kMemAttach = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_attach);
constexpr Uint32 kMemDetach = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_detach);
constexpr Uint32 kMemDestroy = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_destroy);
constexpr Uint32 kMemGetAddress = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_getAddress);
constexpr Uint32 kMemGetSize = OSS_FUNC_ID(OSS_FN_OSSHIPCMemory_getMemorySize);
constexpr Uint32 kSemCreate = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_create);
constexpr Uint32 kSemAttach = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_attach);
constexpr Uint32 kSemDetach = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_detach);
constexpr Uint32 kSemDestroy = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_destroy);
constexpr Uint32 kSemPost = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_post);
constexpr Uint32 kSemWait = OSS_FUNC_ID(OSS_FN_OSSHIPCSemaphore_wait);

static_assert(kCreate == 0x081A0042u && kAttach == 0x081A0044u && kDetach == 0x081A0045u &&
                  kDestroy == 0x081A0043u && kFlush == 0x081A0046u && kPut == 0x081A0047u &&
                  kGet == 0x081A0048u && kHasMessage == 0x081A004Au && kAuthorize == 0x081A004Bu,
              "operation identifiers");

constexpr Uint32 kHeaderSize = sizeof(OSSIPCQueueHeader);
constexpr Uint32 kLengthItem = 4;
constexpr Uint32 kInfinite = 0xFFFFFFFFu;
// The state latch is held only while offsets and flags change, never across a wait or a copy:
// hasMessage, which has no time of its own, gives up on a holder that keeps it this long.
constexpr Uint32 kStateLatchGraceMs = 2000;

inline Uint32 padded(Uint32 n)
{
    return (n + 3u) & ~3u;
}

// ---- Ring arithmetic (call with the state latch held) ----------------------------------------

inline Uint32 freeSpace(const OSSIPCQueueHeader* h)
{
    if (h->readOffset >= h->writeOffset && h->dataPresent) return h->readOffset - h->writeOffset;
    return h->capacity - h->writeOffset + h->readOffset;
}

inline Uint32 usedSpace(const OSSIPCQueueHeader* h)
{
    return h->capacity - freeSpace(h);
}

inline Uint8* ring(OSSIPCQueueHeader* h)
{
    return reinterpret_cast<Uint8*>(h) + kHeaderSize;
}

inline Uint32 advance(const OSSIPCQueueHeader* h, Uint32 offset, Uint32 n)
{
    Uint32 next = offset + padded(n);
    if (next >= h->capacity) next -= h->capacity;
    return next;
}

// Copies n bytes into the ring at `offset`, wrapping at the end (no latch needed: the bytes are
// free space that only this writer touches).
void copyIn(OSSIPCQueueHeader* h, Uint32 offset, const void* from, Uint32 n)
{
    const Uint32 first = n < h->capacity - offset ? n : h->capacity - offset;
    memcpy(ring(h) + offset, from, first);
    if (n > first) memcpy(ring(h), static_cast<const Uint8*>(from) + first, n - first);
}

void copyOut(OSSIPCQueueHeader* h, Uint32 offset, void* to, Uint32 n)
{
    const Uint32 first = n < h->capacity - offset ? n : h->capacity - offset;
    memcpy(to, ring(h) + offset, first);
    if (n > first) memcpy(static_cast<Uint8*>(to) + first, ring(h), n - first);
}

// ---- Holders, the broken mark and waits ----------------------------------------------------

// Longest block on a semaphore before a waiter looks again at the ring, the broken mark, the
// holders and its caller's time. Short, so that a post missed for any reason costs little.
constexpr Uint32 kSliceMs = 5;
// Longest latch wait before the broken mark and the holder are looked at again.
constexpr Uint32 kLatchSliceMs = 50;
// A message whose length item and body take at most this many bytes is copied with the state
// latch held: cheaper than letting go of the latch and taking it again around the copy.
constexpr Uint32 kCopyHeldMax = 512;
// Checks of the holders while flush waits for a copy, one per yield.
constexpr Uint32 kCopyChecksEvery = 50;

inline Uint32 holdersOffset(Uint32 capacity)
{
    return (kHeaderSize + capacity + 7u) & ~7u;
}

inline Uint64 segmentBytes(Uint32 capacity)
{
    return (Uint64)holdersOffset(capacity) + sizeof(OSSIPCQueueHolders);
}

inline Uint8 flags(const OSSIPCQueueHeader* h)
{
    return __atomic_load_n(&h->flags, __ATOMIC_ACQUIRE);
}

// The flush count, with the state latch held.
inline Uint8 flushCount(const OSSIPCQueueHeader* h)
{
    return h->generation & OSS_QUEUE_GENERATION_MASK;
}

inline void setFlag(OSSIPCQueueHeader* h, Uint8 bit)
{
    __atomic_fetch_or(&h->flags, bit, __ATOMIC_SEQ_CST);
}

inline void clearFlag(OSSIPCQueueHeader* h, Uint8 bit)
{
    __atomic_fetch_and(&h->flags, (Uint8)~bit, __ATOMIC_SEQ_CST);
}

// A process's start time in milliseconds, cut to 32 bits and never 0; 0 when unknown.
Uint32 startStamp(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    const Uint64 t = ((Uint64)created.dwHighDateTime << 32) | created.dwLowDateTime;
    return (Uint32)(t / 10000u) | 1u;
}

// This process as a holder: its id in the low word, its start stamp in the high word.
Uint64 selfId()
{
    static Uint64 id = 0;  // two threads that race here compute the same value
    Uint64 v = __atomic_load_n(&id, __ATOMIC_RELAXED);
    if (!v) {
        v = GetCurrentProcessId() | (Uint64)startStamp(GetCurrentProcess()) << 32;
        __atomic_store_n(&id, v, __ATOMIC_RELAXED);
    }
    return v;
}

// False only when the process is known to be gone: no such process, exited, or its id now
// belongs to a process that started at another time.
bool holderAlive(Uint64 id)
{
    if (id == selfId()) return true;
    HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, (DWORD)id);
    if (!p) return GetLastError() == ERROR_ACCESS_DENIED;
    bool alive = WaitForSingleObject(p, 0) != WAIT_OBJECT_0;
    const Uint32 stamp = startStamp(p);
    if (stamp && stamp != (Uint32)(id >> 32)) alive = false;
    CloseHandle(p);
    return alive;
}

// Kernel calls made by queue operations in this process (waits, posts, thread switches), for
// measurement only. Each is counted next to a call that costs far more than the add.
Uint64 g_kernelCalls[3];

inline void countKernelCall(int kind)
{
    __atomic_fetch_add(&g_kernelCalls[kind], 1, __ATOMIC_RELAXED);
}

Uint32 semWait(OSSHIPCSemaphore& s, Uint32 timeout)
{
    countKernelCall(0);
    OSSIPCSemaphoreWaitParam p = {OSS_CURRENT_VERSION, timeout, {0, 0}};
    return s.wait(&p);
}

Uint32 semPost(OSSHIPCSemaphore& s)
{
    countKernelCall(1);
    return s.post();
}

void switchThread()
{
    countKernelCall(2);
    SwitchToThread();
}

// The queue's latches are held for a few instructions, unless the holder lost its processor:
// look at the byte with a pause between looks, and now and then give the processor away so
// that a holder waiting for it can finish. False after a while; the caller then waits in
// slices that sleep.
bool takeSoon(OSSLatch& latch)
{
    for (int round = 0; round < 8; ++round) {
        for (int look = 0; look < 256; ++look) {
            if (__atomic_load_n(&latch.lockWord, __ATOMIC_RELAXED) < OSS_LATCH_HELD &&
                latch.tryAcquire())
                return true;
            __builtin_ia32_pause();
        }
        switchThread();
    }
    return latch.tryAcquire();
}

// One call's view of a queue: its header, the holder record and the caller's time limit.
struct Side {
    OSSHIPCQueue* q;
    OSSIPCQueueHeader* h;
    OSSIPCQueueHolders* holders;  // null for a segment made without the record
    Uint32 timeout;               // kInfinite for no limit
    DWORD start;
    Uint64 me;                    // this process as a holder

    Side(OSSHIPCQueue* queue, Uint32 timeoutMs)
        : q(queue), h(queue->header), holders(nullptr), timeout(timeoutMs), start(GetTickCount()), me(0)
    {
        if (flags(h) & OSS_QUEUE_HOLDERS) {
            holders = reinterpret_cast<OSSIPCQueueHolders*>(reinterpret_cast<Uint8*>(h) +
                                                            holdersOffset(h->capacity));
            // Known before any latch is taken: found out the first time (a kernel call), it
            // would leave a latch held with no holder named for that long.
            me = selfId();
        }
    }

    bool broken() const { return (flags(h) & OSS_QUEUE_BROKEN) != 0; }

    // Milliseconds left of the caller's time; kInfinite stays kInfinite.
    Uint32 left() const
    {
        if (timeout == kInfinite) return kInfinite;
        const DWORD spent = GetTickCount() - start;
        return spent >= timeout ? 0 : timeout - spent;
    }

    Uint64* slot(const OSSLatch& latch) const
    {
        if (!holders) return nullptr;
        if (&latch == &h->putLatch) return &holders->put;
        if (&latch == &h->getLatch) return &holders->get;
        return &holders->state;
    }

    // True when the holder named in `s` has died; the queue is then marked broken. The slot
    // is read again after the check: a holder that let go and then ended cleared it first.
    bool holderDied(Uint64* s) const
    {
        const Uint64 id = __atomic_load_n(s, __ATOMIC_ACQUIRE);
        if (!id || holderAlive(id) || __atomic_load_n(s, __ATOMIC_ACQUIRE) != id) return false;
        setFlag(h, OSS_QUEUE_BROKEN);
        return true;
    }

    bool anyHolderDied() const
    {
        return holders && (holderDied(&holders->put) || holderDied(&holders->get) ||
                           holderDied(&holders->state));
    }

    // Takes a latch: 0, ECF_TIMEOUT when `bounded` and the caller's time ran out, or
    // ECF_SEM_WAIT_ABANDONED (broken). The wait goes in slices that look at the mark and at
    // the holder.
    Uint32 take(OSSLatch& latch, bool bounded)
    {
        Uint64* s = slot(latch);
        for (;;) {
            const Uint32 budget = bounded ? left() : kInfinite;
            if (takeSoon(latch) ||
                osse_sync::latchAcquireTimed(&latch, budget < kLatchSliceMs ? budget
                                                                             : kLatchSliceMs)) {
                if (s) __atomic_store_n(s, me, __ATOMIC_RELAXED);
                return 0;
            }
            if (broken() || (s && holderDied(s))) return ECF_SEM_WAIT_ABANDONED;
            if (bounded && left() == 0) return ECF_TIMEOUT;
        }
    }

    // Takes the state latch again in the middle of an operation, which cannot stop half-way:
    // only a dead holder ends the wait. True when held.
    bool retakeState() { return take(h->stateLatch, false) == 0; }

    void release(OSSLatch& latch)
    {
        if (Uint64* s = slot(latch)) __atomic_store_n(s, 0, __ATOMIC_RELAXED);
        latch.release();
    }

    // Sleeps on a semaphore for one slice: 0 when posted, ECF_TIMEOUT when the slice ran out,
    // ECF_SEM_WAIT_ABANDONED when a holder turned out dead, or the code of a failed wait.
    Uint32 sleep(OSSHIPCSemaphore& sem, Uint32 slice)
    {
        const Uint32 rc = semWait(sem, slice);
        if (rc != ECF_TIMEOUT) return rc;
        return broken() || anyHolderDied() ? ECF_SEM_WAIT_ABANDONED : ECF_TIMEOUT;
    }
};

// Header fields read without the state latch, as hints for spinning only.
inline bool hintData(const OSSIPCQueueHeader* h)
{
    return __atomic_load_n(&h->dataPresent, __ATOMIC_ACQUIRE) != 0;
}

inline bool hintRoom(const OSSIPCQueueHeader* h, Uint32 need)
{
    const Uint32 r = __atomic_load_n(&h->readOffset, __ATOMIC_ACQUIRE);
    const Uint32 w = __atomic_load_n(&h->writeOffset, __ATOMIC_ACQUIRE);
    const bool present = hintData(h);
    const Uint32 room = (r >= w && present) ? r - w : h->capacity - w + r;
    return room >= need;
}

// The performance counter in ticks, and how many make a microsecond.
inline Uint64 counterNow()
{
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return (Uint64)c.QuadPart;
}

Uint64 countsPerMicrosecond()
{
    static Uint64 perUs = 0;  // two threads that race here compute the same value
    Uint64 v = __atomic_load_n(&perUs, __ATOMIC_RELAXED);
    if (!v) {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        v = (Uint64)f.QuadPart / 1000000u;
        if (!v) v = 1;
        __atomic_store_n(&perUs, v, __ATOMIC_RELAXED);
    }
    return v;
}

// Looking at the header before blocking: a plain spin this long (microseconds), which covers
// a busy peer between two calls or in a short copy,
constexpr Uint32 kSpinUs = 50;
// then, while the other side is copying, a plain spin up to this long: its bytes are on their
// way, and a block would cost both sides a kernel call and the wait for a scheduler round;
constexpr Uint32 kCopySpinUs = 2000;
// otherwise a spin that gives the processor away every kSpinUs, up to this long in all.
constexpr Uint32 kSwitchUs = 200;
// Looks between two readings of the clock.
constexpr int kLooks = 64;

// Before a reader or writer blocks on a semaphore (a wait here and a post on the other side)
// it watches the header: the other side is usually in the middle of a copy or about to come
// back for the next message. `otherCopying` is the copying bit of the side that would make
// `ready` true. A thread switch is cheap on an idle machine and costly on a busy one (the
// processor may go to another program for a whole time slice), so there are few of them.
// True when `ready` came true meanwhile.
template <class Ready>
bool spinFor(const OSSIPCQueueHeader* h, Uint8 otherCopying, Ready ready)
{
    const Uint64 perUs = countsPerMicrosecond();
    const Uint64 start = counterNow();
    Uint64 lastSwitch = start;
    for (;;) {
        for (int i = 0; i < kLooks; ++i) {
            if (ready()) return true;
            __builtin_ia32_pause();
        }
        const Uint64 now = counterNow();
        const Uint64 spent = (now - start) / perUs;
        if (spent < kSpinUs) continue;
        if (__atomic_load_n(&h->generation, __ATOMIC_RELAXED) & otherCopying) {
            if (spent < kCopySpinUs) continue;
            return ready();
        }
        if (spent >= kSwitchUs) return ready();
        if ((now - lastSwitch) / perUs >= kSpinUs) {
            switchThread();
            lastSwitch = counterNow();
        }
    }
}

inline Uint32 sliceOf(Uint32 budget, Uint32 slice)
{
    return budget < slice ? budget : slice;
}

// With the state latch held: whether a reader declared itself waiting, clearing the flag. One
// post per message wakes one reader; a reader woken so sets the flag again before it looks
// (others may sleep too), and a reader that leaves data behind passes a post on, so every
// sleeper hears of data without a count that a dead reader could leave wrong.
bool takeReaderFlag(OSSIPCQueueHeader* h)
{
    if (!h->readerWaiting) return false;
    h->readerWaiting = 0;
    return true;
}

bool takeWriterFlag(OSSIPCQueueHeader* h)
{
    if (!h->writerWaiting) return false;
    h->writerWaiting = 0;
    return true;
}

// A post that failed because the semaphore is at its maximum still leaves the waiter a unit
// to wake on; only other failures matter.
bool postMatters(Uint32 rc)
{
    return rc != 0 && rc != ECF_UNKNOWN;
}

Uint32 postIf(OSSHIPCSemaphore& sem, bool wake)
{
    return wake ? semPost(sem) : 0;
}

// Takes a message larger than the ring whose length is at the head, with the get and state
// latches held; returns with the state latch released, and the get latch too unless the
// message is left to its writer to withdraw.
Uint32 streamOut(OSSCallFrame& f, Side& s, void* buffer, Uint32 length,
                 unsigned int* messageLength)
{
    OSSIPCQueueHeader* h = s.h;
    OSSHIPCQueue* q = s.q;
    const Uint8 generation = flushCount(h);
    Uint8* dst = static_cast<Uint8*>(buffer);
    Uint32 left = length;
    bool spun = false;
    auto endWith = [&](Uint32 code, Uint32 probe, bool stateHeld) {
        if (stateHeld) s.release(h->stateLatch);
        s.release(h->getLatch);
        return f.fail(code, probe, OSS_LEVEL_ERROR, ossItemUnsigned(length),
                      ossItemUnsigned(length - left));
    };
    h->readOffset = advance(h, h->readOffset, kLengthItem);
    if (h->readOffset == h->writeOffset) h->dataPresent = 0;
    for (;;) {
        if (s.broken()) return endWith(ECF_SEM_WAIT_ABANDONED, 60, true);
        // A flush removed the rest of this body: what follows in the ring is not part of it.
        if (flushCount(h) != generation) return endWith(ECF_SESSION_CANCELED, 115, true);
        if (takeWriterFlag(h)) {
            s.release(h->stateLatch);
            const Uint32 rc = semPost(q->spaceSemaphore);
            if (postMatters(rc)) f.innerError(kSemPost, rc, 130);
            if (!s.retakeState()) return endWith(ECF_SEM_WAIT_ABANDONED, 60, false);
            continue;
        }
        if (left == 0) break;
        const Uint32 used = usedSpace(h);
        if (used == 0) {
            if (!spun) {
                spun = true;
                s.release(h->stateLatch);
                spinFor(h, OSS_QUEUE_WRITER_COPYING, [&] { return hintData(h); });
                if (!s.retakeState()) return endWith(ECF_SEM_WAIT_ABANDONED, 60, false);
                continue;
            }
            spun = false;
            const Uint32 budget = s.left();
            if (budget == 0 && s.holders) {
                // The time is up and what was taken cannot be put back. The get latch stays
                // held for this message, named after its writer, who withdraws the rest and
                // frees it: no other reader ever starts in the middle of a body.
                const Uint64 writer = __atomic_load_n(&s.holders->put, __ATOMIC_ACQUIRE);
                if (!writer) {
                    // Part of a body is missing and no writer is there to send it.
                    setFlag(h, OSS_QUEUE_BROKEN);
                    return endWith(ECF_SEM_WAIT_ABANDONED, 60, true);
                }
                __atomic_store_n(&s.holders->get, writer, __ATOMIC_RELAXED);
                setFlag(h, OSS_QUEUE_STREAM_DROPPED);
                const bool wake = takeWriterFlag(h);
                s.release(h->stateLatch);
                const Uint32 rc = postIf(q->spaceSemaphore, wake);
                if (postMatters(rc)) f.innerError(kSemPost, rc, 130);
                return f.fail(ECF_TIMEOUT, 110, OSS_LEVEL_ERROR, ossItemUnsigned(s.timeout),
                              ossItemUnsigned(length), ossItemUnsigned(length - left));
            }
            h->readerWaiting = 1;
            s.release(h->stateLatch);
            // (Without a holder record there is no one to hand the message to: read on.)
            const Uint32 slice = budget ? sliceOf(budget, kSliceMs) : kSliceMs;
            const Uint32 rc = s.sleep(q->dataSemaphore, slice);
            if (rc == ECF_SEM_WAIT_ABANDONED) return endWith(rc, 60, false);
            if (rc && rc != ECF_TIMEOUT) {
                s.release(h->getLatch);
                return f.innerError(kSemWait, rc, 120);
            }
            // A slice that ran out with nothing posted: the other side is stalled, look again
            // and block again without spinning (a post is worth a spin).
            spun = rc == ECF_TIMEOUT;
            if (!s.retakeState()) return endWith(ECF_SEM_WAIT_ABANDONED, 60, false);
            continue;
        }
        Uint32 take = used < left ? used : left;
        if (take < left) take &= ~3u;
        const Uint32 at = h->readOffset;
        h->generation |= OSS_QUEUE_READER_COPYING;
        s.release(h->stateLatch);
        copyOut(h, at, dst, take);
        if (!s.retakeState()) return endWith(ECF_SEM_WAIT_ABANDONED, 60, false);
        h->generation &= (Uint8)~OSS_QUEUE_READER_COPYING;
        h->readOffset = advance(h, at, take);
        if (h->readOffset == h->writeOffset) h->dataPresent = 0;
        dst += take;
        left -= take;
    }
    const bool reader = h->dataPresent && takeReaderFlag(h);
    s.release(h->stateLatch);
    s.release(h->getLatch);
    postIf(q->dataSemaphore, reader);
    if (messageLength) *messageLength = length;
    return f.ret(0);
}

}  // namespace

void OSSHIPCQueue::constructor()
{
    segment.constructor();
    dataSemaphore.constructor();
    spaceSemaphore.constructor();
    header = nullptr;
}

bool OSSHIPCQueue::isAttached() const
{
    return segment.isAttached() && dataSemaphore.isAttached() && spaceSemaphore.isAttached();
}

Uint32 OSSHIPCQueue::authorize(const OSSIPCSecurityParam* param)
{
    OSSCallFrame f(kAuthorize);
    if (Uint32 rc = f.checkParam(param)) return rc;
    return f.ret(0);
}

Uint32 OSSHIPCQueue::create(const OSSIPCQueueCreateParam* param)
{
    OSSCallFrame f(kCreate);
    if (Uint32 rc = f.checkParam(param)) return rc;

    // The segment (header, ring, holder record) must fit in 32 bits, and rounding must not
    // wrap to 0.
    const Uint32 maxBytes = param->maxBytes;
    if (maxBytes > 0xFFFFFFFFu - kHeaderSize - 7u - 7u - (Uint32)sizeof(OSSIPCQueueHolders)) {
        return f.fail(ECF_INVALID_PARAMETER, 30, OSS_LEVEL_ERROR, ossItemUnsigned(maxBytes));
    }
    const Uint32 capacity = maxBytes > 4 ? padded(maxBytes) : padded(maxBytes + 4);
    const OSSLogItem whole = ossItemBytes(param, sizeof *param);

    OSSIPCMemoryCreateParam mp;
    mp.resId = param->queResId.resID[0];
    mp.size = (Uint32)segmentBytes(capacity);
    mp.auxWord = param->auxWord;
    Uint32 rc = segment.create(&mp);
    if (rc) return f.innerError(kMemCreate, rc, 50, rc, whole);

    // Both semaphores start at 1 and are waited down to 0 at once: the wait proves each works.
    OSSIPCSemaphoreCreateParam sp;
    sp.initialCount = 1;
    sp.auxWord = param->auxWord;
    Uint32 probe = 0;
    Uint32 failedId = 0;
    sp.resId = param->queResId.resID[1];
    if ((rc = dataSemaphore.create(&sp)) != 0) {
        probe = 60;
        failedId = kSemCreate;
    } else {
        sp.resId = param->queResId.resID[2];
        if ((rc = spaceSemaphore.create(&sp)) != 0) {
            probe = 70;
            failedId = kSemCreate;
        } else if ((rc = semWait(dataSemaphore, kInfinite)) != 0) {
            probe = 80;
            failedId = kSemWait;
        } else if ((rc = semWait(spaceSemaphore, kInfinite)) != 0) {
            probe = 90;
            failedId = kSemWait;
        } else {
            void* address = nullptr;
            if ((rc = segment.getAddress(&address)) != 0) {
                probe = 100;
                failedId = kMemGetAddress;
            } else {
                OSSIPCQueueHeader* h = static_cast<OSSIPCQueueHeader*>(address);
                h->putLatch.init();
                h->getLatch.init();
                h->stateLatch.init();
                h->writeOffset = 0;
                h->readOffset = 0;
                h->writerWaiting = 0;
                h->readerWaiting = 0;
                h->dataPresent = 0;
                h->generation = 0;
                h->capacity = capacity;
                memset(reinterpret_cast<Uint8*>(h) + holdersOffset(capacity), 0,
                       sizeof(OSSIPCQueueHolders));
                h->flags = OSS_QUEUE_HOLDERS;
                header = h;
                return f.ret(0);
            }
        }
    }
    // Nothing of a failed create is left behind, so the names can be created again.
    spaceSemaphore.destroy();
    dataSemaphore.destroy();
    segment.destroy();
    header = nullptr;
    return f.innerError(failedId, rc, probe, rc, whole);
}

Uint32 OSSHIPCQueue::attach(OSSIPCQueResID* queResId)
{
    OSSCallFrame f(kAttach);
    if (Uint32 rc = f.checkPointer(queResId)) return rc;

    Uint32 rc = 0;
    Uint32 probe = 0;
    Uint32 failedId = 0;
    void* address = nullptr;
    unsigned int size = 0;
    if ((rc = segment.attach(&queResId->resID[0], nullptr)) != 0) {
        probe = 40;
        failedId = kMemAttach;
    } else if ((rc = dataSemaphore.attach(&queResId->resID[1])) != 0) {
        probe = 50;
        failedId = kSemAttach;
    } else if ((rc = spaceSemaphore.attach(&queResId->resID[2])) != 0) {
        probe = 60;
        failedId = kSemAttach;
    } else if ((rc = segment.getAddress(&address)) != 0) {
        probe = 70;
        failedId = kMemGetAddress;
    } else if ((rc = segment.getMemorySize(&size)) != 0) {
        probe = 70;
        failedId = kMemGetSize;
    } else {
        // The header comes from another process: check it before the ring arithmetic trusts it.
        const OSSIPCQueueHeader* h = static_cast<OSSIPCQueueHeader*>(address);
        const Uint32 capacity = h->capacity;
        const Uint64 needed = (h->flags & OSS_QUEUE_HOLDERS) ? segmentBytes(capacity)
                                                             : (Uint64)kHeaderSize + capacity;
        if (capacity == 0 || capacity % 4 != 0 || needed > size) {
            segment.detach();
            dataSemaphore.detach();
            spaceSemaphore.detach();
            return f.fail(ECF_QUE_DOESNT_EXIST, 80, OSS_LEVEL_ERROR, ossItemUnsigned(capacity),
                          ossItemUnsigned(size));
        }
        header = static_cast<OSSIPCQueueHeader*>(address);
        return f.ret(0);
    }
    // A missing member means a missing queue; the semaphore's own attach reports a missing
    // name as a missing file.
    const Uint32 inner = rc;
    if (rc == ECF_MEM_DOESNT_EXIST || rc == ECF_SEM_DOESNT_EXIST || rc == ECF_FILE_DOESNT_EXIST)
        rc = ECF_QUE_DOESNT_EXIST;
    spaceSemaphore.detach();
    dataSemaphore.detach();
    segment.detach();
    return f.innerError(failedId, inner, probe, rc);
}

Uint32 OSSHIPCQueue::detach()
{
    OSSCallFrame f(kDetach);
    header = nullptr;
    if (Uint32 rc = segment.detach()) return f.innerError(kMemDetach, rc, 30);
    if (Uint32 rc = dataSemaphore.detach()) return f.innerError(kSemDetach, rc, 40);
    if (Uint32 rc = spaceSemaphore.detach()) return f.innerError(kSemDetach, rc, 50);
    return f.ret(0);
}

Uint32 OSSHIPCQueue::destroy()
{
    OSSCallFrame f(kDestroy);
    header = nullptr;
    if (Uint32 rc = segment.destroy()) return f.innerError(kMemDestroy, rc, 40);
    if (Uint32 rc = dataSemaphore.destroy()) return f.innerError(kSemDestroy, rc, 50);
    if (Uint32 rc = spaceSemaphore.destroy()) return f.innerError(kSemDestroy, rc, 60);
    return f.ret(0);
}

Uint32 OSSHIPCQueue::flush()
{
    OSSCallFrame f(kFlush);
    OSSIPCQueueHeader* h = header;
    if (!h) return f.fail(ECF_INVALID_HANDLE, 10, OSS_LEVEL_ERROR);
    Side s(this, kInfinite);
    if (s.broken() || s.take(h->stateLatch, false))
        return f.fail(ECF_SEM_WAIT_ABANDONED, 30, OSS_LEVEL_ERROR);
    // A side between its copy and its offset update would publish a stale offset into the
    // emptied ring: let it finish that one copy. A side asleep on its semaphore is not waited
    // for; it finds the generation changed when it wakes.
    for (Uint32 round = 1; h->generation & (OSS_QUEUE_WRITER_COPYING | OSS_QUEUE_READER_COPYING);
         ++round) {
        s.release(h->stateLatch);
        ossYield();
        if ((round % kCopyChecksEvery == 0 && s.anyHolderDied()) || !s.retakeState())
            return f.fail(ECF_SEM_WAIT_ABANDONED, 30, OSS_LEVEL_ERROR);
    }
    h->writeOffset = 0;
    h->readOffset = 0;
    h->dataPresent = 0;
    h->generation = (Uint8)((h->generation + 1) & OSS_QUEUE_GENERATION_MASK);
    const bool reader = takeReaderFlag(h);
    const bool writer = takeWriterFlag(h);
    s.release(h->stateLatch);
    Uint32 rc = 0;
    const Uint32 r = postIf(dataSemaphore, reader);
    if (postMatters(r)) rc = f.innerError(kSemPost, r, 40);
    const Uint32 w = postIf(spaceSemaphore, writer);
    if (postMatters(w) && !rc) rc = f.innerError(kSemPost, w, 50);
    return f.ret(rc);
}

bool OSSHIPCQueue::hasMessage()
{
    OSSCallFrame f(kHasMessage);
    OSSIPCQueueHeader* h = header;
    if (!h) return false;
    Side s(this, kStateLatchGraceMs);
    if (s.broken() || s.take(h->stateLatch, true)) return false;
    const bool present = h->dataPresent != 0;
    s.release(h->stateLatch);
    return present;
}

Uint32 OSSHIPCQueue::put(void* buffer, unsigned int length)
{
    OSSCallFrame f(kPut);
    OSSIPCQueueHeader* h = header;
    if (!h) return f.fail(ECF_INVALID_HANDLE, 10, OSS_LEVEL_ERROR);
    if (length && !buffer) return f.checkPointer(buffer);

    Side s(this, kInfinite);
    auto failWith = [&](Uint32 code, Uint32 probe) {
        return f.fail(code, probe, OSS_LEVEL_ERROR, ossItemHex(buffer), ossItemUnsigned(length));
    };
    // Ends the put with the state latch held or not; the put latch is always held.
    auto endWith = [&](Uint32 code, Uint32 probe, bool stateHeld) {
        if (stateHeld) s.release(h->stateLatch);
        s.release(h->putLatch);
        return failWith(code, probe);
    };
    if (s.broken() || s.take(h->putLatch, false)) return failWith(ECF_SEM_WAIT_ABANDONED, 40);

    const Uint32 capacity = h->capacity;
    const Uint32 whole = kLengthItem + padded(length);
    // A message that fits is written in one piece; a larger one streams (length first).
    const bool streams = length > capacity - kLengthItem || whole > capacity;
    const Uint8* src = static_cast<const Uint8*>(buffer);
    Uint32 left = length;
    bool lengthDone = false;
    // A full ring is waited for before the state latch is taken: a writer that takes it only
    // to find no room slows down the reader that is making room.
    bool spun = !hintRoom(h, streams ? kLengthItem : whole);
    if (spun) spinFor(h, OSS_QUEUE_READER_COPYING, [&] { return hintRoom(h, streams ? kLengthItem : whole); });
    if (!s.retakeState()) {
        s.release(h->putLatch);
        return failWith(ECF_SEM_WAIT_ABANDONED, 40);
    }
    Uint8 generation = flushCount(h);

    for (;;) {
        if (s.broken()) return endWith(ECF_SEM_WAIT_ABANDONED, 40, true);
        if (lengthDone && (flags(h) & OSS_QUEUE_STREAM_DROPPED)) {
            // The reader of this message ran out of time part way. Withdraw the rest, which is
            // all the ring holds, free the get latch it left held for us, and start the
            // message again from its length: the next reader takes it whole.
            h->readOffset = h->writeOffset;
            h->dataPresent = 0;
            clearFlag(h, OSS_QUEUE_STREAM_DROPPED);
            s.release(h->getLatch);
            src = static_cast<const Uint8*>(buffer);
            left = length;
            lengthDone = false;
            continue;
        }
        if (flushCount(h) != generation) {
            // A flush emptied the ring: a message already begun is gone, one not yet begun
            // goes on with more room.
            if (lengthDone) return endWith(ECF_SESSION_CANCELED, 65, true);
            generation = flushCount(h);
        }
        const Uint32 room = freeSpace(h);
        Uint32 take = 0;  // body bytes to copy now
        bool go;
        if (!streams) {
            go = room >= whole;
            take = left;
        } else if (!lengthDone) {
            go = room >= kLengthItem;
            take = room - kLengthItem < left ? room - kLengthItem : left;
        } else {
            go = room > 0;
            take = room < left ? room : left;
        }
        if (!go) {
            if (!spun) {
                spun = true;
                s.release(h->stateLatch);
                const Uint32 need = !streams ? whole : !lengthDone ? kLengthItem : 4;
                spinFor(h, OSS_QUEUE_READER_COPYING, [&] { return hintRoom(h, need); });
                if (!s.retakeState()) return endWith(ECF_SEM_WAIT_ABANDONED, 40, false);
                continue;
            }
            spun = false;
            // Wait for space: a reader posts when it frees some and sees this flag.
            h->writerWaiting = 1;
            s.release(h->stateLatch);
            const Uint32 rc = s.sleep(spaceSemaphore, kSliceMs);
            if (rc == ECF_SEM_WAIT_ABANDONED) return endWith(rc, lengthDone ? 60 : 50, false);
            if (rc && rc != ECF_TIMEOUT) {
                s.release(h->putLatch);
                return f.innerError(kSemWait, rc, lengthDone ? 60 : 50, rc, ossItemHex(buffer),
                                    ossItemUnsigned(length), ossItemHex(spaceSemaphore.handle));
            }
            spun = rc == ECF_TIMEOUT;  // as in streamOut: no spin after a slice ran out
            if (!s.retakeState()) return endWith(ECF_SEM_WAIT_ABANDONED, 40, false);
            continue;
        }
        // Chunks other than the last are whole multiples of 4, so the stream stays aligned.
        if (take < left) take &= ~3u;
        const Uint32 at = h->writeOffset;
        const bool held = !streams && whole <= kCopyHeldMax;
        if (!held) {
            h->generation |= OSS_QUEUE_WRITER_COPYING;
            s.release(h->stateLatch);
        }

        Uint32 offset = at;
        if (!lengthDone) {
            const Uint32 len = length;
            copyIn(h, offset, &len, kLengthItem);
            offset = advance(h, offset, kLengthItem);
        }
        if (take) {
            copyIn(h, offset, src, take);
            offset = advance(h, offset, take);
            src += take;
            left -= take;
        }

        if (!held) {
            if (!s.retakeState()) return endWith(ECF_SEM_WAIT_ABANDONED, 40, false);
            h->generation &= (Uint8)~OSS_QUEUE_WRITER_COPYING;
        }
        h->writeOffset = offset;
        h->dataPresent = 1;
        lengthDone = true;
        const bool reader = takeReaderFlag(h);
        if (left == 0) {
            s.release(h->stateLatch);
            s.release(h->putLatch);
            const Uint32 rc = postIf(dataSemaphore, reader);
            if (postMatters(rc)) {
                return f.innerError(kSemPost, rc, 70, rc, ossItemHex(buffer),
                                    ossItemUnsigned(length), ossItemHex(dataSemaphore.handle));
            }
            return f.ret(0);
        }
        if (reader) {
            s.release(h->stateLatch);
            const Uint32 rc = semPost(dataSemaphore);
            if (postMatters(rc)) {
                // The reader of this message looks again within a slice: go on.
                f.innerError(kSemPost, rc, 70, rc, ossItemHex(buffer), ossItemUnsigned(length),
                             ossItemHex(dataSemaphore.handle));
            }
            if (!s.retakeState()) return endWith(ECF_SEM_WAIT_ABANDONED, 40, false);
        }
    }
}

Uint32 OSSHIPCQueue::get(void* buffer, unsigned int bufferSize, unsigned int* messageLength,
                         int timeoutArg)
{
    OSSCallFrame f(kGet);
    OSSIPCQueueHeader* h = header;
    if (!h) return f.fail(ECF_INVALID_HANDLE, 10, OSS_LEVEL_ERROR);
    if (bufferSize && !buffer) return f.checkPointer(buffer);

    const Uint32 timeout = timeoutArg < 0 ? kInfinite : (Uint32)timeoutArg;
    Side s(this, timeout);
    const Uint32 capacity = h->capacity;
    bool spun = false;
    bool posted = false;
    auto broken = [&](Uint32 probe) {
        return f.fail(ECF_SEM_WAIT_ABANDONED, probe, OSS_LEVEL_ERROR);
    };
    // A poll that finds another reader at work ends as a wait that ran out, quietly: the
    // queue is not known to be empty, and a poll that comes back empty-handed is no failure.
    auto timedOut = [&](Uint32 probe) {
        if (timeout == 0) return f.passOn(ECF_TIMEOUT, 75);
        return f.fail(ECF_TIMEOUT, probe, OSS_LEVEL_ERROR, ossItemUnsigned(timeout));
    };

    for (;;) {
        if (s.broken()) return broken(60);
        // An empty ring is watched before the latches are taken: a reader that takes them only
        // to find nothing slows down the writer that is bringing data.
        if (!spun && timeout != 0 && !hintData(h)) {
            spun = true;
            spinFor(h, OSS_QUEUE_WRITER_COPYING, [&] { return hintData(h); });
        }
        Uint32 rc = s.take(h->getLatch, true);
        if (rc == ECF_TIMEOUT) return timedOut(80);
        if (rc) return broken(60);
        if ((rc = s.take(h->stateLatch, true)) != 0) {
            s.release(h->getLatch);
            return rc == ECF_TIMEOUT ? timedOut(85) : broken(60);
        }
        if (s.broken()) {
            s.release(h->stateLatch);
            s.release(h->getLatch);
            return broken(60);
        }
        // Woken by a post: other readers may sleep as well, so the next put posts again.
        if (posted) h->readerWaiting = 1;
        posted = false;

        if (h->dataPresent) {
            Uint32 length;
            const Uint32 at = h->readOffset;
            memcpy(&length, ring(h) + at, kLengthItem);
            if (length > bufferSize) {
                s.release(h->stateLatch);
                s.release(h->getLatch);
                if (messageLength) *messageLength = length;
                return f.fail(ECF_QUE_MSG_TOO_BIG, 100, OSS_LEVEL_ERROR, ossItemUnsigned(length),
                              ossItemUnsigned(bufferSize));
            }
            const Uint32 whole = kLengthItem + padded(length);
            const bool streams = length > capacity - kLengthItem || whole > capacity;
            // A message larger than the ring is never there whole: a poll leaves it in place.
            if (streams && timeout != 0) return streamOut(f, s, buffer, length, messageLength);
            // A message that fits is published whole; anything less is a damaged ring, which
            // is waited on like an empty one.
            if (!streams && usedSpace(h) >= whole) {
                const bool held = whole <= kCopyHeldMax;
                if (!held) {
                    h->generation |= OSS_QUEUE_READER_COPYING;
                    s.release(h->stateLatch);
                }
                if (length) copyOut(h, advance(h, at, kLengthItem), buffer, length);
                if (!held) {
                    if (!s.retakeState()) {
                        s.release(h->getLatch);
                        return broken(60);
                    }
                    h->generation &= (Uint8)~OSS_QUEUE_READER_COPYING;
                }
                h->readOffset = advance(h, advance(h, at, kLengthItem), length);
                if (h->readOffset == h->writeOffset) h->dataPresent = 0;
                const bool writer = takeWriterFlag(h);
                const bool reader = h->dataPresent && takeReaderFlag(h);
                s.release(h->stateLatch);
                s.release(h->getLatch);
                const Uint32 w = postIf(spaceSemaphore, writer);
                if (postMatters(w)) return f.innerError(kSemPost, w, 130);
                postIf(dataSemaphore, reader);
                if (messageLength) *messageLength = length;
                return f.ret(0);
            }
        }

        if (timeout == 0) {
            s.release(h->stateLatch);
            s.release(h->getLatch);
            return f.passOn(ECF_QUE_INVALID_MSG_TYPE, 70);
        }
        if (!spun) {
            spun = true;
            s.release(h->stateLatch);
            s.release(h->getLatch);
            spinFor(h, OSS_QUEUE_WRITER_COPYING, [&] { return hintData(h); });
            continue;
        }
        spun = false;
        // Sleep without either latch, so that other readers and a flush are not held up by a
        // reader that has nothing to read yet.
        h->readerWaiting = 1;
        s.release(h->stateLatch);
        s.release(h->getLatch);
        const Uint32 budget = s.left();
        if (budget == 0) return timedOut(80);
        rc = s.sleep(dataSemaphore, sliceOf(budget, kSliceMs));
        if (rc == 0) {
            posted = true;
            continue;
        }
        if (rc == ECF_SEM_WAIT_ABANDONED) return broken(60);
        if (rc != ECF_TIMEOUT) return f.innerError(kSemWait, rc, 90);
        if (s.left() == 0) return timedOut(80);
        spun = true;  // as in streamOut: no spin after a slice ran out
    }
}

namespace {
volatile Uint32 g_maxQueueMessageSize = 0;
}

OSSE_C_API void ossGetQueueKernelCalls(OSSQueueKernelCalls* counts)
{
    if (!counts) return;
    counts->semaphoreWaits = __atomic_load_n(&g_kernelCalls[0], __ATOMIC_RELAXED);
    counts->semaphorePosts = __atomic_load_n(&g_kernelCalls[1], __ATOMIC_RELAXED);
    counts->threadSwitches = __atomic_load_n(&g_kernelCalls[2], __ATOMIC_RELAXED);
}

OSSE_C_API Uint32 ossGetMaxQueueMessageSize(void)
{
    if (g_maxQueueMessageSize) return g_maxQueueMessageSize;
    OSSKernelIPCInfo info;
    const Uint32 rc = ossGetKernelIPCInfo(&info);
    Uint32 size = 0;
    if ((rc == 0 || rc == ECF_PARTIAL_INFO) && info.limits[1].status == 0)
        size = (Uint32)info.limits[1].value;
    g_maxQueueMessageSize = size;
    return size;
}
