// The message queue: a classic segment holding a 20-byte header and a ring, and two classic
// semaphores on which readers wait for data and a writer waits for space. A message is its
// 4-byte length followed by its bytes, each item padded to 4 bytes.
//
// How the stream stays in step:
// - A message that fits in the ring (length item and padded body) is written in one piece once
//   there is room for all of it, and read in one piece; a reader never sees part of it. A
//   larger message streams through in chunks: once a reader has taken its length it finishes
//   the body whatever its timeout, since a half-read message cannot be put back.
// - A reader looks at the length before taking anything: a message larger than the caller's
//   buffer stays in the ring and its length is handed back.
// - Bytes are copied outside the state latch, into free space (writer) or out of used space
//   (reader), and the offsets move only after the copy, under the latch. The put and get
//   latches keep a second writer or reader out meanwhile.
// - Whoever moves bytes wakes the other side when it waits. readerWaiting counts the readers
//   waiting for data (they wait without holding the get latch, so several can); a writer
//   counts one out and posts the data semaphore once per message, and a reader that leaves
//   more messages behind wakes the next one. A post that finds nobody (a reader that timed
//   out, or died, after counting itself) leaves a unit that wakes a later reader early;
//   readers always look again after waking.
//
// The latches have no owner: a process that dies holding one wedges the queue. Every wait of
// get is bounded by its caller's timeout; the recovery is to destroy the queue and create it
// again.
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
// a holder that keeps it longer than this is dead or stopped, and waiting on has no end.
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

// ---- Waiting ---------------------------------------------------------------------------------

// Latches without a time limit. The state latch is held for a few stores at a time, the
// others for a copy: a waiter yields rather than sleeps at once.
inline void take(OSSLatch& latch)
{
    if (!latch.tryAcquire()) osse_sync::latchAcquireTimed(&latch, kInfinite);
}

inline void takeState(OSSIPCQueueHeader* h)
{
    take(h->stateLatch);
}

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

// Before a reader or writer sleeps on a semaphore (two kernel calls, one on each side) it
// watches the header for a moment: the other side is usually in the middle of a copy. True
// when `ready` came true meanwhile.
template <class Ready>
bool spinFor(Ready ready)
{
    for (int round = 0; round < 64; ++round) {
        for (int i = 0; i < 32; ++i) {
            if (ready()) return true;
            __builtin_ia32_pause();
        }
        if (round % 16 == 15) ossYield();
    }
    return ready();
}

// Milliseconds left of a wait that started at `start`; kInfinite stays kInfinite.
Uint32 remaining(Uint32 timeout, DWORD start)
{
    if (timeout == kInfinite) return kInfinite;
    const DWORD spent = GetTickCount() - start;
    return spent >= timeout ? 0 : timeout - spent;
}

Uint32 semWait(OSSHIPCSemaphore& s, Uint32 timeout)
{
    OSSIPCSemaphoreWaitParam p = {OSS_CURRENT_VERSION, timeout, {0, 0}};
    return s.wait(&p);
}

// Posts the data semaphore once when `wake` is set.
Uint32 wakeReader(OSSHIPCQueue* q, bool wake)
{
    return wake ? q->dataSemaphore.post() : 0;
}

// With the state latch held: when a reader counted itself as waiting, counts it out and says
// that it is to be woken.
bool takeWaitingReader(OSSIPCQueueHeader* h)
{
    if (!h->readerWaiting) return false;
    --h->readerWaiting;
    return true;
}

// With the state latch held: counts out every waiting reader. A message larger than the ring
// wakes them all, because the one reader that has started it must hear of every chunk and a
// single post could go to another.
Uint32 takeAllWaitingReaders(OSSIPCQueueHeader* h)
{
    const Uint32 n = h->readerWaiting;
    h->readerWaiting = 0;
    return n;
}

Uint32 wakeReaders(OSSHIPCQueue* q, Uint32 n)
{
    Uint32 rc = 0;
    for (Uint32 i = 0; i < n; ++i) {
        const Uint32 r = q->dataSemaphore.post();
        if (r && !rc) rc = r;
    }
    return rc;
}

// A post that failed because the semaphore is at its maximum still leaves the waiter a unit
// to wake on; only other failures matter.
bool postMatters(Uint32 rc)
{
    return rc != 0 && rc != ECF_UNKNOWN;
}

// Takes a message larger than the ring whose length is at the head, with the get and state
// latches held; returns with both released. Once the length is taken the body must follow,
// so the waits here have no time limit.
Uint32 streamOut(OSSCallFrame& f, OSSHIPCQueue* q, void* buffer, Uint32 length,
                 unsigned int* messageLength)
{
    OSSIPCQueueHeader* h = q->header;
    Uint8* dst = static_cast<Uint8*>(buffer);
    Uint32 left = length;
    bool spun = false;
    h->readOffset = advance(h, h->readOffset, kLengthItem);
    if (h->readOffset == h->writeOffset) h->dataPresent = 0;
    for (;;) {
        if (h->writerWaiting) {
            h->writerWaiting = 0;
            h->stateLatch.release();
            const Uint32 rc = q->spaceSemaphore.post();
            if (postMatters(rc)) f.innerError(kSemPost, rc, 130);
            takeState(h);
        }
        if (left == 0) break;
        const Uint32 used = usedSpace(h);
        if (used == 0) {
            if (!spun) {
                spun = true;
                h->stateLatch.release();
                spinFor([&] { return hintData(h); });
                takeState(h);
                continue;
            }
            spun = false;
            ++h->readerWaiting;
            h->stateLatch.release();
            const Uint32 rc = semWait(q->dataSemaphore, kInfinite);
            if (rc) {
                h->getLatch.release();
                return f.innerError(kSemWait, rc, 120);
            }
            takeState(h);
            continue;
        }
        Uint32 take = used < left ? used : left;
        if (take < left) take &= ~3u;
        const Uint32 at = h->readOffset;
        h->stateLatch.release();
        copyOut(h, at, dst, take);
        takeState(h);
        h->readOffset = advance(h, at, take);
        if (h->readOffset == h->writeOffset) h->dataPresent = 0;
        dst += take;
        left -= take;
    }
    const bool reader = h->dataPresent && takeWaitingReader(h);
    h->stateLatch.release();
    h->getLatch.release();
    wakeReader(q, reader);
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

    // Capacity + header must fit in 32 bits, and rounding must not wrap to 0.
    const Uint32 maxBytes = param->maxBytes;
    if (maxBytes > 0xFFFFFFFFu - kHeaderSize - 7u) {
        return f.fail(ECF_INVALID_PARAMETER, 30, OSS_LEVEL_ERROR, ossItemUnsigned(maxBytes));
    }
    const Uint32 capacity = maxBytes > 4 ? padded(maxBytes) : padded(maxBytes + 4);
    const OSSLogItem whole = ossItemBytes(param, sizeof *param);

    OSSIPCMemoryCreateParam mp;
    mp.resId = param->queResId.resID[0];
    mp.size = capacity + kHeaderSize;
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
                h->capacity = capacity;
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
        if (capacity == 0 || capacity % 4 != 0 || capacity > size - kHeaderSize ||
            size < kHeaderSize) {
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
    // No writer or reader may be between its copy and its offset update: both latches first.
    take(h->putLatch);
    take(h->getLatch);
    takeState(h);
    h->writeOffset = 0;
    h->readOffset = 0;
    h->dataPresent = 0;
    const Uint32 readers = h->readerWaiting;
    const bool writer = h->writerWaiting != 0;
    h->readerWaiting = 0;
    h->writerWaiting = 0;
    h->stateLatch.release();
    h->getLatch.release();
    h->putLatch.release();
    Uint32 rc = 0;
    if (readers) {
        const Uint32 r = wakeReaders(this, readers);
        if (postMatters(r)) rc = f.innerError(kSemPost, r, 40);
    }
    if (writer) {
        const Uint32 r = spaceSemaphore.post();
        if (postMatters(r) && !rc) rc = f.innerError(kSemPost, r, 50);
    }
    return f.ret(rc);
}

bool OSSHIPCQueue::hasMessage()
{
    OSSCallFrame f(kHasMessage);
    OSSIPCQueueHeader* h = header;
    if (!h) return false;
    if (!osse_sync::latchAcquireTimed(&h->stateLatch, kStateLatchGraceMs)) return false;
    const bool present = h->dataPresent != 0;
    h->stateLatch.release();
    return present;
}

Uint32 OSSHIPCQueue::put(void* buffer, unsigned int length)
{
    OSSCallFrame f(kPut);
    OSSIPCQueueHeader* h = header;
    if (!h) return f.fail(ECF_INVALID_HANDLE, 10, OSS_LEVEL_ERROR);
    if (length && !buffer) return f.checkPointer(buffer);

    const Uint32 capacity = h->capacity;
    const Uint32 whole = kLengthItem + padded(length);
    // A message that fits is written in one piece; a larger one streams (length first).
    const bool streams = length > capacity - kLengthItem || whole > capacity;
    const Uint8* src = static_cast<const Uint8*>(buffer);
    Uint32 left = length;
    bool lengthDone = false;
    bool spun = false;

    take(h->putLatch);
    takeState(h);
    for (;;) {
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
                h->stateLatch.release();
                const Uint32 need = !streams ? whole : !lengthDone ? kLengthItem : 4;
                spinFor([&] { return hintRoom(h, need); });
                takeState(h);
                continue;
            }
            spun = false;
            // Wait for space: the reader posts when it frees some and sees this flag.
            h->writerWaiting = 1;
            h->stateLatch.release();
            const Uint32 rc = semWait(spaceSemaphore, kInfinite);
            if (rc) {
                h->putLatch.release();
                return f.innerError(kSemWait, rc, lengthDone ? 60 : 50, rc, ossItemHex(buffer),
                                    ossItemUnsigned(length), ossItemHex(spaceSemaphore.handle));
            }
            takeState(h);
            continue;
        }
        // Chunks other than the last are whole multiples of 4, so the stream stays aligned.
        if (take < left) take &= ~3u;
        const Uint32 at = h->writeOffset;
        h->stateLatch.release();

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

        takeState(h);
        h->writeOffset = offset;
        h->dataPresent = 1;
        lengthDone = true;
        const Uint32 readers = streams ? takeAllWaitingReaders(h) : takeWaitingReader(h) ? 1 : 0;
        if (left == 0) {
            h->stateLatch.release();
            h->putLatch.release();
            const Uint32 rc = wakeReaders(this, readers);
            if (postMatters(rc)) {
                return f.innerError(kSemPost, rc, 70, rc, ossItemHex(buffer),
                                    ossItemUnsigned(length), ossItemHex(dataSemaphore.handle));
            }
            return f.ret(0);
        }
        if (readers) {
            h->stateLatch.release();
            const Uint32 rc = wakeReaders(this, readers);
            if (postMatters(rc)) {
                // The reader that started this message waits for the rest of it without a time
                // limit: go on, it still has a unit or will be posted at the next chunk.
                f.innerError(kSemPost, rc, 70, rc, ossItemHex(buffer), ossItemUnsigned(length),
                             ossItemHex(dataSemaphore.handle));
            }
            takeState(h);
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
    const DWORD start = GetTickCount();
    const Uint32 capacity = h->capacity;
    bool spun = false;

    for (;;) {
        // With timeout 0 the get latch is tried, not waited for. A reader that holds it is
        // taking a message: the queue is not known to be empty, so the poll ends as a wait
        // that ran out, quietly (a poll that comes back empty-handed is no failure).
        if (!osse_sync::latchAcquireTimed(&h->getLatch, remaining(timeout, start))) {
            if (timeout == 0) return f.passOn(ECF_TIMEOUT, 75);
            return f.fail(ECF_TIMEOUT, 80, OSS_LEVEL_ERROR, ossItemUnsigned(timeout));
        }
        const Uint32 stateWait = remaining(timeout, start) > kStateLatchGraceMs
                                     ? remaining(timeout, start)
                                     : kStateLatchGraceMs;
        if (!osse_sync::latchAcquireTimed(&h->stateLatch, stateWait)) {
            h->getLatch.release();
            return f.fail(ECF_TIMEOUT, 85, OSS_LEVEL_ERROR, ossItemUnsigned(timeout));
        }

        if (h->dataPresent) {
            Uint32 length;
            const Uint32 at = h->readOffset;
            memcpy(&length, ring(h) + at, kLengthItem);
            if (length > bufferSize) {
                h->stateLatch.release();
                h->getLatch.release();
                if (messageLength) *messageLength = length;
                return f.fail(ECF_QUE_MSG_TOO_BIG, 100, OSS_LEVEL_ERROR, ossItemUnsigned(length),
                              ossItemUnsigned(bufferSize));
            }
            const Uint32 whole = kLengthItem + padded(length);
            const bool streams = length > capacity - kLengthItem || whole > capacity;
            if (!streams && usedSpace(h) >= whole) {
                h->stateLatch.release();
                if (length) copyOut(h, advance(h, at, kLengthItem), buffer, length);
                takeState(h);
                h->readOffset = advance(h, advance(h, at, kLengthItem), length);
                if (h->readOffset == h->writeOffset) h->dataPresent = 0;
                const bool writer = h->writerWaiting != 0;
                h->writerWaiting = 0;
                // More messages and another reader asleep (its wake-up went to a reader that
                // had timed out or died): pass one on.
                const bool reader = h->dataPresent && takeWaitingReader(h);
                h->stateLatch.release();
                h->getLatch.release();
                if (writer) {
                    const Uint32 rc = spaceSemaphore.post();
                    if (postMatters(rc)) return f.innerError(kSemPost, rc, 130);
                }
                wakeReader(this, reader);
                if (messageLength) *messageLength = length;
                return f.ret(0);
            }
            if (streams) return streamOut(f, this, buffer, length, messageLength);
            // A message that fits but is not all there yet (another writer's doing): wait.
        }

        if (timeout == 0) {
            h->stateLatch.release();
            h->getLatch.release();
            return f.passOn(ECF_QUE_INVALID_MSG_TYPE, 70);
        }
        if (!spun) {
            spun = true;
            h->stateLatch.release();
            h->getLatch.release();
            spinFor([&] { return hintData(h); });
            continue;
        }
        spun = false;
        // Count this reader in and wait without either latch, so that other readers and a
        // flush are not held up by a reader that has nothing to read yet.
        ++h->readerWaiting;
        h->stateLatch.release();
        h->getLatch.release();
        const Uint32 left = remaining(timeout, start);
        const Uint32 rc = left ? semWait(dataSemaphore, left) : ECF_TIMEOUT;
        if (rc == 0) continue;
        // Withdraw, unless a writer already counted this reader out (its post then wakes a
        // later reader early, which looks again).
        if (osse_sync::latchAcquireTimed(&h->stateLatch, kStateLatchGraceMs)) {
            if (h->readerWaiting) --h->readerWaiting;
            h->stateLatch.release();
        }
        if (rc == ECF_TIMEOUT) {
            return f.fail(ECF_TIMEOUT, 80, OSS_LEVEL_ERROR, ossItemUnsigned(timeout));
        }
        return f.innerError(kSemWait, rc, 90);
    }
}

namespace {
volatile Uint32 g_maxQueueMessageSize = 0;
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
