/* Threads and thread-specific data.
 *
 * OSSHThread starts a thread through the C runtime (so the runtime's per-thread state is set up
 * and torn down for it) on a caller's function and argument. Only a thread created joinable may
 * be waited for, once, and a joinable thread must be waited for before its object is closed:
 *
 *     empty --create--> created (joinable or not) --wait (joinable only)--> waited
 *     created, not joinable --close--> empty            waited --close--> empty
 *
 * OSSHThreadSpecificData is one slot of thread-local storage. Every operation returns an ECF
 * code, 0 on success. */
#ifndef OSSE_THREAD_H
#define OSSE_THREAD_H

#include "osse/base.h"

/* OSSThreadParam::flags */
#define OSS_THREAD_JOINABLE 0x1u

/* The calling thread's OS thread id. Wherever a 64-bit thread id is wanted (trace records, keys)
 * it is this value widened with zeros. */
OSSE_C_API Uint32 ossThreadID(void);
/* Ends the calling thread with exit code 0 (the C runtime's per-thread state is released). */
OSSE_C_API void ossThreadExit(void);

#ifdef __cplusplus

/* Input of OSSHThread::create: whether the thread is joinable, and its stack size. */
struct OSSThreadParam {
    Uint32 version; /* parameter version */
    Uint32 flags;      /* OSS_THREAD_JOINABLE */
    Uint32 stackSize;  /* bytes; 0 gives the executable's default */
};
static_assert(sizeof(OSSThreadParam) == 12, "OSSThreadParam is 12 bytes");
static_assert(offsetof(OSSThreadParam, flags) == 4, "OSSThreadParam: flags");
static_assert(offsetof(OSSThreadParam, stackSize) == 8, "OSSThreadParam: stackSize");

/* A started thread. Lives in the caller's memory; one thread uses an object at a time. The
 * thread's own life is independent of the object: a non-joinable thread may be closed while it
 * runs, and it runs on, detached. */
class OSSE_API OSSHThread {
public:
    Uint32 threadId;   /* OS thread id, 0 before create */
    void* handle;      /* OS thread handle, 0 before create */
    Uint8 created;     /* a thread was started and the object not yet closed */
    Uint8 joinable;    /* created joinable and not yet waited for */

    OSSHThread() { constructor(); }
    ~OSSHThread() { destructor(); }

    /* Sets the object up with no thread. */
    void constructor();
    /* Closes a created object; a joinable thread that was not waited for keeps its handle open
     * (close refuses it with ECF_THREAD_MUST_WAIT). */
    void destructor();

    /* Starts fn(arg) on a new thread; the thread ends with exit code 0 when fn returns.
     * threadId, when not null, receives the new thread's id. ECF_INVALID_PARAMETER for a null
     * param or fn; ECF_THREAD_ALREADY_CREATED for a created object (left unchanged). */
    Uint32 create(void (*fn)(void*), void* arg, const OSSThreadParam* param,
                  unsigned long* threadId);
    /* Waits without time limit for a joinable thread to end. ECF_THREAD_NOT_CREATED;
     * ECF_THREAD_CANNOT_WAIT when not joinable or already waited for. */
    Uint32 wait();
    /* Releases the thread handle and empties the object. ECF_THREAD_NOT_CREATED;
     * ECF_THREAD_MUST_WAIT for a joinable thread not yet waited for. */
    Uint32 close();
};

/* One slot of thread-local storage: each thread sees its own value, null until it sets one.
 * Destroy, set and get on an object that holds no slot are refused with
 * ECF_INVALID_INVOCATION_SEQUENCE (the index would name some other module's slot). */
class OSSE_API OSSHThreadSpecificData {
public:
    Uint32 index;      /* the TLS index while created */
    Uint8 created; /* 1 while the object holds a slot */

    OSSHThreadSpecificData() { constructor(); }
    ~OSSHThreadSpecificData() { destructor(); }

    /* Sets the object up with no slot. */
    void constructor();
    /* Does nothing: a slot stays allocated until destroy. */
    void destructor();

    /* Allocates the slot (one thread-local storage index of the process). */
    Uint32 create();
    /* Frees the slot. */
    Uint32 destroy();
    /* Stores value for the calling thread. */
    Uint32 set(const void* value);
    /* Reads the calling thread's value into *value. A null value (never set, or set to null)
     * is stored and gives ECF_INVALID_INVOCATION_SEQUENCE; nothing is logged for it.
     * ECF_INVALID_PARAMETER for a null value pointer. */
    Uint32 get(void** value);
};

#endif

#endif
