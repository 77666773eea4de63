// The spin latch: its contended path, the process's spin tuning, the versioned latch, and the
// checks and texts of lock words.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "osse/tick.h"
#include "sync/atomic_ops.h"
#include "sync/latch_internal.h"

using namespace osse_sync;

static_assert(sizeof(OSSLatch) == 1, "a latch is one byte, also inside shared memory");
static_assert(sizeof(OSSSpinTune) == 36, "nine 32-bit fields");
static_assert(offsetof(OSSSpinTune, spinPasses) == 4 && offsetof(OSSSpinTune, spinDelay) == 8 &&
                  offsetof(OSSSpinTune, sleepIncrement) == 16 &&
                  offsetof(OSSSpinTune, tuneField8) == 32,
              "field order");
static_assert(sizeof(OSSVLatch) == 8 && offsetof(OSSVLatch, latch) == 4, "version, then latch");

namespace {

// Read without a lock by every contended acquire; a replacement during contention only
// changes the passes that start after it.
OSSSpinTune g_spinTune = spinTuneForProcessors(1);

// Reads first and exchanges only when the byte looks free, so that a spinning thread does not
// keep pulling the contended cache line into its own cache for writing.
inline bool attempt(OSSLatch* latch)
{
    if (__atomic_load_n(&latch->lockWord, __ATOMIC_RELAXED) >= OSS_LATCH_HELD) return false;
    return lockExchange(&latch->lockWord) == 0;
}

// steps - 1 multiply-add steps. The result is stored so that the loop is kept, and stored on
// the waiter's own stack: a global would be one cache line written by every spinning thread
// of the process.
inline void busyDelay(Uint32 steps)
{
    Uint32 acc = 1;
    for (Uint32 i = 1; i < steps; ++i) acc = acc * 31u + i;
    [[maybe_unused]] volatile Uint32 sink = acc;
}

inline Uint32 readTune(const volatile Uint32& field)
{
    return field;
}

// Formats into a local buffer, then copies at most size - 1 characters and terminates, so
// the result is the same whatever the C runtime does on truncation.
template <typename... Args>
void boundedFormat(char* buffer, Uint32 size, const char* format, Args... args)
{
    if (!buffer || size == 0) return;
    char text[128];
    int n = snprintf(text, sizeof text, format, args...);
    if (n < 0) n = 0;
    Uint32 len = static_cast<Uint32>(n) < sizeof text ? static_cast<Uint32>(n) : sizeof text - 1;
    if (len > size - 1) len = size - 1;
    memcpy(buffer, text, len);
    buffer[len] = '\0';
}

}  // namespace

namespace osse_sync {

void spinTuneAtLoad()
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    g_spinTune = spinTuneForProcessors(si.dwNumberOfProcessors);
}

}  // namespace osse_sync

extern "C" OSSE_API Uint32 ossLockGetConflict(OSSLatch* latch)
{
    Uint64 sleepMs = 1;
    for (;;) {
        const Uint32 passes = readTune(g_spinTune.spinPasses);
        const Uint32 delay = readTune(g_spinTune.spinDelay);
        for (Uint32 pass = 0; pass < passes; ++pass) {
            if (attempt(latch)) return 1;
            __builtin_ia32_pause();
            busyDelay(delay);
        }
        if (attempt(latch)) return 1;

        // Through the yield callbacks, so that a host that schedules its own threads sees
        // the latch's waiter leave and re-enter the processor.
        ossSleep(static_cast<Uint32>(sleepMs));

        // With the default increment of 0 every sleep is 1 ms; otherwise the sleep grows
        // to 8 increments and starts over. 64-bit so that a huge increment cannot wrap into
        // an endless sleep.
        const Uint64 increment = readTune(g_spinTune.sleepIncrement);
        sleepMs += increment;
        if (sleepMs > 8 * increment || sleepMs >= 0xFFFFFFFFu) sleepMs = 1;

        if (attempt(latch)) return 1;
    }
}

namespace osse_sync {

bool latchAcquireTimed(OSSLatch* latch, Uint32 timeoutMs)
{
    if (attempt(latch)) return true;
    const Uint32 passes = readTune(g_spinTune.spinPasses);
    const Uint32 delay = readTune(g_spinTune.spinDelay);
    for (Uint32 pass = 0; pass < passes; ++pass) {
        if (attempt(latch)) return true;
        __builtin_ia32_pause();
        busyDelay(delay);
    }
    if (attempt(latch)) return true;
    if (timeoutMs == 0) return false;
    const DWORD start = GetTickCount();
    // Holders of such latches keep them for a copy at most: give the processor away a few
    // times before sleeping whole milliseconds.
    for (Uint32 round = 0;; ++round) {
        if (round < 16)
            ossYield();
        else
            ossSleep(1);
        if (attempt(latch)) return true;
        if (timeoutMs != 0xFFFFFFFFu && GetTickCount() - start >= timeoutMs) return false;
    }
}

}  // namespace osse_sync

void OSSLatch::getSpinCounts(OSSSpinTune& tune)
{
    tune = g_spinTune;
}

void OSSLatch::updateSpinCounts(const OSSSpinTune& tune)
{
    g_spinTune = tune;
}

// ---- Versioned latch -------------------------------------------------------------------

namespace {
inline Uint32 checkVLatch(const OSSVLatch* v)
{
    if (!v) return ECF_INVALID_PARAMETER;
    if (v->version < OSS_VOBJECT_MIN_VERSION) return ECF_INVALID_VERSION;
    return 0;
}
}  // namespace

extern "C" OSSE_API Uint32 ossVLatchInit(OSSVLatch* vlatch, Uint32)
{
    if (!vlatch) return ECF_INVALID_PARAMETER;
    vlatch->version = OSS_CURRENT_VERSION;
    vlatch->latch.init();
    return 0;
}

extern "C" OSSE_API Uint32 ossVLatchGet(OSSVLatch* vlatch)
{
    if (Uint32 rc = checkVLatch(vlatch)) return rc;
    vlatch->latch.acquire();
    return 0;
}

extern "C" OSSE_API Uint32 ossVLatchTestGet(OSSVLatch* vlatch)
{
    if (Uint32 rc = checkVLatch(vlatch)) return rc;
    return vlatch->latch.tryAcquire() ? 0u : ECF_FAILED;
}

extern "C" OSSE_API Uint32 ossVLatchRelease(OSSVLatch* vlatch)
{
    if (Uint32 rc = checkVLatch(vlatch)) return rc;
    vlatch->latch.release();
    return 0;
}

// ---- Lock words ------------------------------------------------------------------------

extern "C" OSSE_API const char* ossLockWordElementToString(Uint8 value, Uint32* code)
{
    if (const char* name = latchStateName(value)) return name;
    if (code) *code = ECF_OSSLOCK_CORRUPT;
    return "corrupt";
}

extern "C" OSSE_API Uint32 ossLockToString(const OSSLatch* latch, char* buffer, Uint32 size)
{
    const Uint8 value = latch->lockWord;
    Uint32 rc = 0;
    const char* name = ossLockWordElementToString(value, &rc);
    boundedFormat(buffer, size, "{ 0x%02X [ %s ] }", static_cast<unsigned>(value), name);
    return rc;
}

extern "C" OSSE_API Uint32 ossFighterCountLockToString(Uint32 word, char* buffer, Uint32 size)
{
    const Uint32 held = word & 0xFFu;
    const char* name = held == 0 ? "unlocked" : held == 1 ? "locked" : "corrupt";
    boundedFormat(buffer, size, "{ 0x%08X : aux: %u, fighters: %u, held: %u [ %s ] }",
                  static_cast<unsigned>(word), static_cast<unsigned>(word >> 16),
                  static_cast<unsigned>((word >> 8) & 0xFFu), static_cast<unsigned>(held), name);
    return held > 1 ? ECF_OSSLOCK_CORRUPT : 0u;
}

// A one-byte latch has no owner, so the only requirement a mode can express is the state:
// mode 1 asks for a free latch and mode 2 for a held one (0x80, or 0xC0 with waiters), the
// same meaning the modes have for the fighter-count word. A failed requirement is reported
// like corruption, because it means the caller's view of the latch is broken.
extern "C" OSSE_API Uint32 ossLockVerify(const OSSLatch* latch, Uint32 mode)
{
    const Uint8 value = latch->lockWord;
    if (!latchStateName(value)) return ECF_OSSLOCK_CORRUPT;
    if (mode == 1 && value != OSS_LATCH_FREE) return ECF_OSSLOCK_CORRUPT;
    if (mode == 2 && value == OSS_LATCH_FREE) return ECF_OSSLOCK_CORRUPT;
    return 0;
}
