// The atomic operations at every width (8, 16, 32 and 64 bits). The exported primitives are
// the widths other modules use; the others serve the library itself.
#ifndef OSSE_SYNC_ATOMIC_OPS_H
#define OSSE_SYNC_ATOMIC_OPS_H

#include <type_traits>

#include "osse/latch.h"

namespace osse_sync {

// Sets bit 7; 0 when it was clear, OSS_LOCK_TEST_GET_BUSY when it was already set.
template <typename T>
inline Uint32 lockTestGet(volatile T* lock)
{
    const T prev = __atomic_fetch_or(lock, T(0x80), __ATOMIC_SEQ_CST);
    return (prev & T(0x80)) ? OSS_LOCK_TEST_GET_BUSY : 0u;
}

template <typename T>
inline void lockRelease(volatile T* lock)
{
    __atomic_store_n(lock, T(0), __ATOMIC_RELEASE);
}

template <typename T>
inline T exchange(volatile T* addr, T value)
{
    return __atomic_exchange_n(addr, value, __ATOMIC_SEQ_CST);
}

template <typename T>
inline T fetchAndAdd(volatile T* addr, T value)
{
    return __atomic_fetch_add(addr, value, __ATOMIC_SEQ_CST);
}

// Stores 0x80; the previous value, 0 when the caller now holds the lock.
template <typename T>
inline T lockExchange(volatile T* lock)
{
    return __atomic_exchange_n(lock, T(0x80), __ATOMIC_SEQ_CST);
}

template <typename T>
inline T lockReleaseAndReturn(volatile T* lock)
{
    return __atomic_exchange_n(lock, T(0), __ATOMIC_SEQ_CST);
}

// Stores newValue when the word equals expected; the previous value either way.
template <typename T>
inline T compareSwapAndReturn(volatile T* addr, T newValue, T expected)
{
    __atomic_compare_exchange_n(addr, &expected, newValue, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return expected;  // on failure the builtin wrote the current value here
}

}  // namespace osse_sync

#endif
