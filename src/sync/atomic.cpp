// The exported atomic primitives and the versioned atomic counter.
#include "sync/atomic_ops.h"
#include "sync/latch_internal.h"

using namespace osse_sync;

static_assert(sizeof(OSSVAtomicSigned32) == 8, "version, then value");
static_assert(offsetof(OSSVAtomicSigned32, value) == 4, "version, then value");

extern "C" {

OSSE_API Uint32 ossWin32Lock8TestGetInternal(volatile Uint8* lock)
{
    return lockTestGet(lock);
}

OSSE_API void ossWin32Lock8ReleaseInternal(volatile Uint8* lock)
{
    lockRelease(lock);
}

OSSE_API Uint32 ossWin32AtomicExchange8Internal(volatile Uint8* addr, Uint8 value)
{
    return exchange(addr, value);
}

OSSE_API Uint32 ossWin32AtomicExchange32Internal(volatile Uint32* addr, Uint32 value)
{
    return exchange(addr, value);
}

OSSE_API Uint32 ossWin32FetchAndAdd32Internal(volatile Uint32* addr, Uint32 value)
{
    return fetchAndAdd(addr, value);
}

OSSE_API Uint8 ossWin32Lock8ExchangeInternal(volatile Uint8* lock)
{
    return lockExchange(lock);
}

OSSE_API Uint8 ossWin32Lock8ReleaseAndReturnInternal(volatile Uint8* lock)
{
    return lockReleaseAndReturn(lock);
}

OSSE_API Uint8 ossWin32CompareSwapAndReturn8Internal(volatile Uint8* addr, Uint8 newValue,
                                                      Uint8 expected)
{
    return compareSwapAndReturn(addr, newValue, expected);
}

OSSE_API Uint16 ossWin32CompareSwapAndReturn16Internal(volatile Uint16* addr, Uint16 newValue,
                                                        Uint16 expected)
{
    return compareSwapAndReturn(addr, newValue, expected);
}

OSSE_API Uint32 ossWin32CompareSwapAndReturn32Internal(volatile Uint32* addr, Uint32 newValue,
                                                        Uint32 expected)
{
    return compareSwapAndReturn(addr, newValue, expected);
}

OSSE_API Uint32 ossWin32CompareSwapAndReturn64Internal(volatile Uint64* addr, Uint64* expected,
                                                        Uint64 newValue)
{
    // One locked 8-byte compare-exchange; on failure the current word lands in *expected.
    return __atomic_compare_exchange_n(addr, expected, newValue, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST)
               ? 1u
               : 0u;
}

OSSE_API Uint64 ossWin32Fetch64Internal(volatile Uint64* addr)
{
    // A 32-bit processor has no plain 8-byte load that is atomic for every caller's
    // alignment: compare the word with anything and keep what the exchange reports. When the
    // guess happens to match, the word is "replaced" by itself, which changes nothing.
    Uint64 current = 0;
    __atomic_compare_exchange_n(addr, &current, current, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return current;
}

}  // extern "C"

// ---- OSSVAtomicSigned32 ----------------------------------------------------------------

namespace {
inline bool versionOk(const OSSVAtomicSigned32* a)
{
    return a->version >= OSS_VOBJECT_MIN_VERSION;
}
inline volatile Uint32* word(OSSVAtomicSigned32* a)
{
    return reinterpret_cast<volatile Uint32*>(&a->value);
}
inline void give(Sint32* out, Uint32 v)
{
    if (out) *out = static_cast<Sint32>(v);
}
}  // namespace

void OSSVAtomicSigned32::init(Sint32 initialValue, Uint32 flags)
{
    version = OSS_CURRENT_VERSION;
    if (!(flags & OSS_VATOMIC_KEEP_VALUE)) value = initialValue;
}

Uint32 OSSVAtomicSigned32::size() const
{
    return sizeof(value);
}

Uint32 OSSVAtomicSigned32::peek(Sint32* out) const
{
    if (!versionOk(this)) return ECF_INVALID_VERSION;
    if (!out) return ECF_INVALID_PARAMETER;
    *out = value;
    return 0;
}

Uint32 OSSVAtomicSigned32::poke(Sint32 newValue)
{
    if (!versionOk(this)) return ECF_INVALID_VERSION;
    value = newValue;
    return 0;
}

Uint32 OSSVAtomicSigned32::add(Sint32 delta, Sint32* previous)
{
    if (!versionOk(this)) return ECF_INVALID_VERSION;
    give(previous, fetchAndAdd(word(this), static_cast<Uint32>(delta)));
    return 0;
}

Uint32 OSSVAtomicSigned32::increment(Sint32* previous)
{
    return add(1, previous);
}

Uint32 OSSVAtomicSigned32::decrement(Sint32* previous)
{
    return add(-1, previous);
}

Uint32 OSSVAtomicSigned32::swap(Sint32 newValue, Sint32* previous)
{
    if (!versionOk(this)) return ECF_INVALID_VERSION;
    give(previous, exchange(word(this), static_cast<Uint32>(newValue)));
    return 0;
}

Uint32 OSSVAtomicSigned32::compareAndSwap(Sint32 expected, Sint32 newValue)
{
    if (!versionOk(this)) return ECF_INVALID_VERSION;
    const Uint32 e = static_cast<Uint32>(expected);
    return compareSwapAndReturn(word(this), static_cast<Uint32>(newValue), e) == e ? 0u
                                                                                   : ECF_FAILED;
}
