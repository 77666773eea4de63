/* Atomics and the one-byte spin latch.
 *
 * OSSLatch is the library's only mutual-exclusion primitive: a byte that is 0 when free and
 * 0x80 when held, taken by one atomic exchange and given back by one store. A contended
 * acquire spins for a tunable number of passes, then sleeps until it wins (ossLockGetConflict).
 * The latch works between processes when it lies in shared memory; it has no owner, is not
 * re-entrant and is not fair. */
#ifndef OSSE_LATCH_H
#define OSSE_LATCH_H

#include "osse/base.h"

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

/* Latch byte values. 0xC0 (held with waiters) is never produced by this library but is a
 * valid state for the checks and texts below; every other value is corrupt. */
#define OSS_LATCH_FREE         0x00u
#define OSS_LATCH_HELD         0x80u
#define OSS_LATCH_HELD_WAITING 0xC0u

/* Result of a test-and-get on a lock word whose bit 7 was already set. */
#define OSS_LOCK_TEST_GET_BUSY 0x870F0035u

/* Spin tuning: one process-wide instance, chosen at load from the processor count. */
typedef struct OSSSpinTune {
    Uint32 spinFactor;     /* carried for callers; unused here */
    Uint32 spinPasses;     /* spin passes before each sleep */
    Uint32 spinDelay;      /* length of the busy delay between two spin passes */
    Uint32 reserved1; /* 0 */
    Uint32 sleepIncrement; /* milliseconds added to the sleep after each sleep */
    Uint32 reserved2; /* 0 */
    Uint32 tuneField6; /* carried for callers; unused here */
    Uint32 tuneField7; /* carried for callers; unused here */
    Uint32 tuneField8; /* carried for callers; unused here */
} OSSSpinTune;

#ifdef __cplusplus
class OSSLatch;
#else
/* What C code sees of the latch: the byte. It is taken and given back through the exported
 * primitives (ossWin32Lock8ExchangeInternal, then ossLockGetConflict when that did not return
 * 0; ossWin32Lock8ReleaseInternal). */
typedef struct OSSLatch {
    volatile Uint8 lockWord;
} OSSLatch;
#endif

/* The contended path of an acquire: spins, then sleeps, until the caller holds the latch.
 * Returns non-zero once held. */
OSSE_C_API Uint32 ossLockGetConflict(OSSLatch* latch);

#ifdef __cplusplus
/* One-byte spin latch. Plain and trivially constructible, so that a latch in static storage or
 * in zero-filled shared memory is free without any call. */
class OSSE_API OSSLatch {
public:
    volatile Uint8 lockWord; /* OSS_LATCH_FREE or OSS_LATCH_HELD */

    /* Makes the latch free. */
    void init() { storeFree(); }

    /* One exchange when free; the contended path is out of line. */
    void acquire()
    {
        if (exchangeHeld() != 0) ossLockGetConflict(this);
    }

    /* One exchange; true when the caller now holds the latch. */
    bool tryAcquire() { return exchangeHeld() == 0; }

    /* Makes the latch free; only its holder calls this. */
    void release() { storeFree(); }

    /* Copies out / replaces the process's spin tuning (the replacement is not validated). */
    static void getSpinCounts(OSSSpinTune& tune);
    /* Replaces the process's spin tuning. */
    static void updateSpinCounts(const OSSSpinTune& tune);

private:
    Uint8 exchangeHeld()
    {
#if defined(_MSC_VER) && !defined(__clang__)
        return (Uint8)_InterlockedExchange8((volatile char*)&lockWord, (char)OSS_LATCH_HELD);
#else
        return __atomic_exchange_n(&lockWord, (Uint8)OSS_LATCH_HELD, __ATOMIC_ACQUIRE);
#endif
    }
    void storeFree()
    {
#if defined(_MSC_VER) && !defined(__clang__)
        _ReadWriteBarrier();
        lockWord = 0;
#else
        __atomic_store_n(&lockWord, (Uint8)0, __ATOMIC_RELEASE);
#endif
    }
};

/* Holds a latch for the life of a scope. */
class OSSLatchGuard {
public:
    /* Acquires the latch; the destructor releases it. */
    explicit OSSLatchGuard(OSSLatch& latch) : latch_(latch) { latch_.acquire(); }
    ~OSSLatchGuard() { latch_.release(); }
    OSSLatchGuard(const OSSLatchGuard&) = delete;
    OSSLatchGuard& operator=(const OSSLatchGuard&) = delete;

private:
    OSSLatch& latch_;
};
#endif

/* ---- Atomic primitives ------------------------------------------------------------------
 * Each is one atomic instruction with full-barrier semantics, except the release stores,
 * which are plain stores. Compare-and-swap arguments: address, new value, expected value. */

/* Sets bit 7; 0 when it was clear (the caller now holds the lock), OSS_LOCK_TEST_GET_BUSY
 * when it was already set. */
OSSE_C_API Uint32 ossWin32Lock8TestGetInternal(volatile Uint8* lock);
/* Stores 0. */
OSSE_C_API void ossWin32Lock8ReleaseInternal(volatile Uint8* lock);
/* Stores the value; the previous byte is in the low 8 bits of the result. */
OSSE_C_API Uint32 ossWin32AtomicExchange8Internal(volatile Uint8* addr, Uint8 value);
/* The same on a 32-bit word; returns the previous value. */
OSSE_C_API Uint32 ossWin32AtomicExchange32Internal(volatile Uint32* addr, Uint32 value);
/* Adds the value; returns the previous value. */
OSSE_C_API Uint32 ossWin32FetchAndAdd32Internal(volatile Uint32* addr, Uint32 value);
/* Stores 0x80; returns the previous value (0: the caller now holds the latch). */
OSSE_C_API Uint8 ossWin32Lock8ExchangeInternal(volatile Uint8* lock);
/* Stores 0; returns the previous value. */
OSSE_C_API Uint8 ossWin32Lock8ReleaseAndReturnInternal(volatile Uint8* lock);
/* Stores newValue when the word equals expected; returns the previous value either way. */
OSSE_C_API Uint8 ossWin32CompareSwapAndReturn8Internal(volatile Uint8* addr, Uint8 newValue,
                                                        Uint8 expected);
/* The same on a 16-bit word. */
OSSE_C_API Uint16 ossWin32CompareSwapAndReturn16Internal(volatile Uint16* addr, Uint16 newValue,
                                                          Uint16 expected);
/* The same on a 32-bit word. */
OSSE_C_API Uint32 ossWin32CompareSwapAndReturn32Internal(volatile Uint32* addr, Uint32 newValue,
                                                          Uint32 expected);
/* Stores newValue when the word equals *expected; writes the previous value back through
 * expected either way; 1 when it stored, 0 otherwise. */
OSSE_C_API Uint32 ossWin32CompareSwapAndReturn64Internal(volatile Uint64* addr, Uint64* expected,
                                                          Uint64 newValue);
/* The 64-bit word, read atomically. */
OSSE_C_API Uint64 ossWin32Fetch64Internal(volatile Uint64* addr);

/* ---- Versioned objects ------------------------------------------------------------------
 * Their initialisers write OSS_CURRENT_VERSION; every other operation refuses an object whose
 * version is below OSS_VOBJECT_MIN_VERSION with 0x90000004 (an object never initialised has
 * version 0), and a null object with 0x9000000C. */
/* Lowest version word a versioned object may carry. */
#define OSS_VOBJECT_MIN_VERSION 20040702u

#ifdef __cplusplus
/* Versioned 32-bit atomic counter. The previous-value pointers may be null (the value is
 * dropped); peek refuses a null pointer with 0x9000000C. */
class OSSE_API OSSVAtomicSigned32 {
public:
    Uint32 version; /* set by init */
    volatile Sint32 value; /* the counter */

    /* Writes the version; stores the value unless flags has bit 1 (OSS_VATOMIC_KEEP_VALUE). */
    void init(Sint32 initialValue, Uint32 flags);
    /* Size of the object in bytes. */
    Uint32 size() const;
    /* Reads the value into *out. */
    Uint32 peek(Sint32* out) const;
    /* Stores the value. */
    Uint32 poke(Sint32 newValue);
    /* Adds delta atomically; the value before is stored through `previous`. */
    Uint32 add(Sint32 delta, Sint32* previous);
    /* Adds 1 atomically; the value before is stored through `previous`. */
    Uint32 increment(Sint32* previous);
    /* Subtracts 1 atomically; the value before is stored through `previous`. */
    Uint32 decrement(Sint32* previous);
    /* Replaces the value atomically; the value before is stored through `previous`. */
    Uint32 swap(Sint32 newValue, Sint32* previous);
    /* 0 when the value equalled expected and was replaced, 0x90000002 otherwise. */
    Uint32 compareAndSwap(Sint32 expected, Sint32 newValue);
};
#else
typedef struct OSSVAtomicSigned32 {
    Uint32 version;
    volatile Sint32 value;
} OSSVAtomicSigned32;
#endif
/* Flag of OSSVAtomicSigned32::init: keep the value the object holds. */
#define OSS_VATOMIC_KEEP_VALUE 0x2u

/* Versioned latch. */
typedef struct OSSVLatch {
    Uint32 version; /* record version */
    OSSLatch latch; /* the latch */
} OSSVLatch;

/* Writes the version and makes the latch free; the second argument is not used. */
OSSE_C_API Uint32 ossVLatchInit(OSSVLatch* vlatch, Uint32 ignored);
/* Acquires the latch, waiting for it as OSSLatch::acquire does; 0 or the version and null-object
 * codes. */
OSSE_C_API Uint32 ossVLatchGet(OSSVLatch* vlatch);
/* 0 when the latch was taken, 0x90000002 when it is held. */
OSSE_C_API Uint32 ossVLatchTestGet(OSSVLatch* vlatch);
/* Releases the latch; 0 or the version and null-object codes. */
OSSE_C_API Uint32 ossVLatchRelease(OSSVLatch* vlatch);

/* ---- Lock words: checks and texts ------------------------------------------------------- */

/* "{ 0x%02X [ state ] }" into buffer (when not null, bounded by size); 0, or 0x900003EF when
 * the byte is corrupt (the text is still written). */
OSSE_C_API Uint32 ossLockToString(const OSSLatch* latch, char* buffer, Uint32 size);
/* "unlocked", "locked", "locked;waiting" or "corrupt"; for a corrupt value 0x900003EF is
 * stored through code (when not null), which is otherwise left alone. */
OSSE_C_API const char* ossLockWordElementToString(Uint8 value, Uint32* code);
/* Fighter-count word: bits 0-7 held count, 8-15 fighters, 16-31 auxiliary value.
 * "{ 0x%08X : aux: %u, fighters: %u, held: %u [ state ] }"; 0 or 0x900003EF. */
OSSE_C_API Uint32 ossFighterCountLockToString(Uint32 word, char* buffer, Uint32 size);
/* 0x900003EF for a corrupt latch. Mode 1: the latch must be free; mode 2: it must be held
 * (with or without waiters); any other mode accepts every valid state. */
OSSE_C_API Uint32 ossLockVerify(const OSSLatch* latch, Uint32 mode);

/* ---- Processor facts -------------------------------------------------------------------- */

/* One-time latches around the first run of the processor feature checks below. */
OSSE_C_API OSSLatch g_IsHWVectorSupportedLatch;
OSSE_C_API OSSLatch g_IsSSE4_1SupportedLatch;
OSSE_C_API OSSLatch g_IsSSE4_2SupportedLatch;

/* Whether the processor has the SSE4.1 or SSE4.2 vector instructions; computed once. */
OSSE_C_API Uint8 OSS_SIMD_isHardwareVectorSupportedInternal(void);
/* Whether the processor's time-stamp counter can be read. */
OSSE_C_API Uint8 ossCanUseRegister(void);

#endif
