/* Inter-process communication. Every inter-process object of the library is a named kernel
 * object; a second process finds it only by its name. This header gives the name makers, the
 * identifier records that carry names from a creating process to an attaching one, and the
 * security attributes every such object is created with. */
#ifndef OSSE_IPC_H
#define OSSE_IPC_H

#include "osse/base.h"
#include "osse/latch.h"
#include "osse/sysinfo.h"

struct _SECURITY_ATTRIBUTES;

/* Version of the records and parameter objects of this family, and the versions from which
 * fields added later are honoured. Records below OSS_MIN_VERSION are refused. */
#define OSS_IPC_VERSION                 OSS_CURRENT_VERSION
#define OSS_IPC_VERSION_LOCAL           0x09010003u /* OSSIPCGetResIDParam::local */
#define OSS_IPC_VERSION_NAMESPACE       0x09070000u /* OSSIPCGetResIDParam::namespacePrefix */

/* Longest kernel object name, without its terminator. */
#define OSS_IPC_NAME_MAX 260

#ifdef __cplusplus

/* The name of one kernel object; an empty name when the identifier was made without a key. */
struct OSSIPCResID {
    Uint32 version; /* record version; the constructor sets OSS_IPC_VERSION */
    char name[OSS_IPC_NAME_MAX + 1]; /* the object's name, NUL-terminated; empty without a key */
    OSSIPCResID() : version(OSS_IPC_VERSION), name() {}
};

/* The three names of a message queue (ring, put side, get side). */
struct OSSIPCQueResID {
    Uint32 version; /* record version; the constructor sets OSS_IPC_VERSION */
    OSSIPCResID resID[3]; /* the ring's segment, the data semaphore, the space semaphore */
    OSSIPCQueResID() : version(OSS_IPC_VERSION) {}
};

/* Input of ossIPCGetResID: the name is [prefix\]["Global\"]OSSEIPC<id><key without ':' and '\'>. */
struct OSSIPCGetResIDParam {
    Uint32 version; /* parameter version; below OSS_IPC_VERSION_LOCAL local is not read */
    const char* path;            /* key text; null: the object has no name */
    Sint32 id;                   /* printed into the name with %d */
    Uint32 aux;                  /* carried along, not part of the name */
    Uint8 local;                 /* never give the name the Global\ prefix */
    const char* namespacePrefix; /* put the name into this namespace (Vista and later) */
    OSSIPCGetResIDParam()
        : version(OSS_IPC_VERSION), path(0), id(0), aux(0), local(0), namespacePrefix(0) {}
};

/* Kernel IPC limits. None of them exists on this platform: every status is ECF_NOT_SUPPORTED.
 * limits[1] is the largest message a kernel queue accepts. */
struct OSSKernelIPCInfo {
    Uint32 version; /* record version; the constructor sets OSS_IPC_VERSION */
    OSSSysInfoSint limits[7]; /* never available on this platform */
    OSSSysInfoSint64 limits64[2]; /* never available on this platform */
    OSSSysInfoSint moreLimits[14]; /* never available on this platform */
    OSSKernelIPCInfo() : version(OSS_IPC_VERSION) {}
};

static_assert(sizeof(OSSIPCResID) == 268 && offsetof(OSSIPCResID, name) == 4, "OSSIPCResID");
static_assert(sizeof(OSSIPCQueResID) == 808 && offsetof(OSSIPCQueResID, resID) == 4 &&
                  offsetof(OSSIPCQueResID, resID[1]) == 272 &&
                  offsetof(OSSIPCQueResID, resID[2]) == 540,
              "OSSIPCQueResID");
#if OSSE_PTR32
static_assert(sizeof(OSSIPCGetResIDParam) == 24 && offsetof(OSSIPCGetResIDParam, path) == 4 &&
                  offsetof(OSSIPCGetResIDParam, id) == 8 && offsetof(OSSIPCGetResIDParam, aux) == 12 &&
                  offsetof(OSSIPCGetResIDParam, local) == 16 &&
                  offsetof(OSSIPCGetResIDParam, namespacePrefix) == 20,
              "OSSIPCGetResIDParam");
#else
static_assert(sizeof(OSSIPCGetResIDParam) == 40 && offsetof(OSSIPCGetResIDParam, path) == 8 &&
                  offsetof(OSSIPCGetResIDParam, id) == 16 && offsetof(OSSIPCGetResIDParam, aux) == 20 &&
                  offsetof(OSSIPCGetResIDParam, local) == 24 &&
                  offsetof(OSSIPCGetResIDParam, namespacePrefix) == 32,
              "x86_64 layout");
#endif
static_assert(offsetof(OSSKernelIPCInfo, limits) == 4 && offsetof(OSSKernelIPCInfo, limits64) == 64 &&
                  offsetof(OSSKernelIPCInfo, moreLimits) == 96 && sizeof(OSSKernelIPCInfo) == 208,
              "OSSKernelIPCInfo");

/* Makes the kernel object name for (id, key, prefix) into `resID`. 0, ECF_INVALID_PARAMETER
 * (null record, or a name that would not fit: keys are never cut, since two cut keys would
 * name one object), ECF_INVALID_VERSION. */
OSSE_C_API Uint32 ossIPCGetResID(const OSSIPCGetResIDParam* param, OSSIPCResID* resID);
/* Makes the three names of a queue: ids id, id + 1 and id + 2 with the same key. */
OSSE_C_API Uint32 ossIPCGetQueResID(const OSSIPCGetResIDParam* param, OSSIPCQueResID* queResID);
/* Every status of `info` set to ECF_NOT_SUPPORTED; returns ECF_NOT_SUPPORTED. */
OSSE_C_API Uint32 ossGetKernelIPCInfo(OSSKernelIPCInfo* info);


/* ==== Inter-process objects: shared memory segments, semaphores, the message queue, waitposts
 * and the pipe shell. Every handle object lives in the caller's memory and is set up with
 * constructor() (the language constructor does the same); it owns the OS handle it opened until
 * its detach, close or destroy. Objects are not guarded: one thread uses one object at a time. */

/* ---- Shared memory ------------------------------------------------------------------------ */

/* OSSIPCMemoryCreateParam::flags */
#define OSS_IPC_MEM_MAY_EXIST 0x1u /* an existing segment is an expected outcome: no log record */

/* OSSIPCMemoryExCreateParam::flags and OSSIPCMemoryExAttachParam::flags */
#define OSS_IPC_MEMEX_EXCLUSIVE  0x1ull /* fail with ECF_EXISTS when the segment exists */
#define OSS_IPC_MEMEX_READONLY   0x4ull /* read-only view */
#define OSS_IPC_MEMEX_READWRITE  0x8ull /* read-write view */

/* Input of OSSHIPCMemory::create and OSSHIPCPrivateMemory::create: the segment's name, its size and
 * where to map it. */
struct OSSIPCMemoryCreateParam {
    Uint32 version; /* parameter version; the constructor sets OSS_CURRENT_VERSION */
    OSSIPCResID resId;       /* the segment's name; filled by OSSHIPCPrivateMemory::create */
    Uint32 size;             /* bytes */
    void* baseAddress;       /* where to map the view; null lets the OS choose */
    Uint32 auxWord;          /* logged only */
    Uint32 flags;            /* OSS_IPC_MEM_MAY_EXIST */
    const char* namespacePrefix; /* OSSHIPCPrivateMemory::create, version 0x09070000 and later */

    OSSIPCMemoryCreateParam() { constructor(); }
    /* Sets every field to its default: current version, no name, size 0, any address, no flags. */
    void constructor()
    {
        version = OSS_CURRENT_VERSION;
        resId = OSSIPCResID();
        size = 0;
        baseAddress = 0;
        auxWord = 0;
        flags = 0;
        namespacePrefix = 0;
    }
};

/* Input of OSSHIPCMemoryEx::create: the key the name is made from, the size and the OSS_IPC_MEMEX_
 * flags. */
struct OSSIPCMemoryExCreateParam {
    Uint32 version; /* parameter version */
    const char* key;         /* 1 to 253 characters, no backslash, and the whole name must fit */
    Uint64 size;             /* bytes, 1 to 0xFFFFFFFF */
    Uint64 flags;            /* OSS_IPC_MEMEX_...; not 0 */
    void* baseAddress; /* where to map the view; null lets the OS choose */
    Uint32 auxWord;          /* not 0; not otherwise used here */
    Uint64 auxValue;         /* logged only */
    const char* namespacePrefix; /* namespace of the name; null: none */
};

/* Input of OSSHIPCMemoryEx::attach: the key and the kind of view. */
struct OSSIPCMemoryExAttachParam {
    Uint32 version; /* parameter version */
    const char* key; /* the key the creator gave */
    Uint64 flags;            /* OSS_IPC_MEMEX_READONLY or OSS_IPC_MEMEX_READWRITE */
    void* baseAddress; /* where to map the view; null lets the OS choose */
    Uint64 auxValue;         /* logged only */
    const char* namespacePrefix; /* namespace of the name; null: none */
};

/* Output of OSSHIPCMemoryEx::create and attach: the address of the view. */
struct OSSIPCMemoryExInfo {
    Uint32 version; /* record version */
    void* address;           /* the view, stored by create and attach */
};

/* Parameter object of the authorize operations; only its version is read here. */
struct OSSIPCSecurityParam {
    Uint32 version; /* parameter version */
    Uint32 reserved[3]; /* not read */
};

/* Classic segment: its name is made by the caller with ossIPCGetResID. */
class OSSE_API OSSHIPCMemory {
public:
    void* handle;            /* file mapping; INVALID_HANDLE_VALUE when not attached */
    void* address;           /* this process's view; null when not attached */

    OSSHIPCMemory() { constructor(); }
    /* Sets the object up as not attached. */
    void constructor();

    /* Creates the segment named in param->resId and maps it. An existing segment is a failure
     * (logged unless OSS_IPC_MEM_MAY_EXIST). */
    Uint32 create(const OSSIPCMemoryCreateParam* param);
    /* Every failure to open the segment is ECF_MEM_DOESNT_EXIST. */
    Uint32 attach(const OSSIPCResID* resId, const void* address);
    /* Unmaps the view and closes the handle; the segment lives on while other processes hold it. */
    Uint32 detach();
    /* The same as detach: the system removes a segment when its last holder lets go. */
    Uint32 detachAndDestroy();
    /* A detach whose code is dropped: always 0. The segment lives on while other processes
     * hold it. */
    Uint32 destroy();
    /* *address: this process's view; ECF_INVALID_HANDLE when not attached. */
    Uint32 getAddress(void** address);
    /* The view's size in whole pages; ECF_INVALID_HANDLE when not attached. */
    Uint32 getMemorySize(unsigned int* size);
    /* Accepts the security parameter object and changes nothing: objects are created with the
     * library's own security attributes. 0, or the version and null-parameter codes. */
    Uint32 authorize(const OSSIPCSecurityParam* param);
    /* True while the segment is mapped in this process. */
    bool isAttached() const { return address != 0; }
};

/* Extended segment: named from a key with the fixed id 120, 64-bit sizes and flags. */
class OSSE_API OSSHIPCMemoryEx {
public:
    void* handle; /* file mapping; INVALID_HANDLE_VALUE when not attached */
    char name[261]; /* the segment's name, made from the key */
    void* address;           /* non-null means attached */
    Uint64 size;             /* the size given to create; 0 after attach */

    OSSHIPCMemoryEx() { constructor(); }
    ~OSSHIPCMemoryEx() { destructor(); }
    /* Sets the object up as not attached. */
    void constructor();
    /* Forgets the segment without unmapping it. */
    void destructor();

    /* Creates the segment named from param->key and maps it; *info receives the address. ECF_EXISTS
     * with OSS_IPC_MEMEX_EXCLUSIVE for a segment that exists. */
    Uint32 create(const OSSIPCMemoryExCreateParam* param, OSSIPCMemoryExInfo* info);
    /* Maps the existing segment named from param->key; *info receives the address. */
    Uint32 attach(const OSSIPCMemoryExAttachParam* param, OSSIPCMemoryExInfo* info);
    /* Unmaps the view and closes the handle. */
    Uint32 detach();
    /* The same as detach: the system removes a segment when its last holder lets go. */
    Uint32 destroy();
};

/* A segment private to its creator until the whole object is copied to another process,
 * which calls remoteInitialization() and then attach(). */
class OSSE_API OSSHIPCPrivateMemory {
public:
    OSSHIPCMemory segment; /* the segment as mapped in this process */
    OSSIPCResID resId;       /* the segment's name */

    OSSHIPCPrivateMemory() { constructor(); }
    /* Sets the object up as not attached. */
    void constructor();

    /* Finds a free name "PRIVMEMPID<pid>TID<tid>" with ids 0 to 99 and creates the segment;
     * the chosen name is also left in param->resId. */
    Uint32 create(OSSIPCMemoryCreateParam* param);
    /* Maps the segment (after remoteInitialization in a process that received a copy), preferably
     * at address. */
    Uint32 attach(const void* address);
    /* In a process that received a copy: drops the copied handle and address. */
    Uint32 remoteInitialization();
    /* Unmaps the view and closes the handle. */
    Uint32 detach() { return segment.detach(); }
    /* The same as detach for the segment. */
    Uint32 destroy() { return segment.destroy(); }
    /* *address: this process's view. */
    Uint32 getAddress(void** address) { return segment.getAddress(address); }
    /* The view's size in whole pages. */
    Uint32 getMemorySize(unsigned int* size) { return segment.getMemorySize(size); }
    /* As OSSHIPCMemory::authorize. */
    Uint32 authorize(const OSSIPCSecurityParam* param) { return segment.authorize(param); }
    /* True while the segment is mapped in this process. */
    bool isAttached() const { return segment.isAttached(); }
};

/* ---- Semaphores --------------------------------------------------------------------------- */

/* Largest count of a semaphore. */
#define OSS_IPC_SEM_MAX_COUNT 32767u

/* Input of OSSHIPCSemaphore::create: the name and the initial count. */
struct OSSIPCSemaphoreCreateParam {
    Uint32 version; /* parameter version; the constructor sets OSS_CURRENT_VERSION */
    OSSIPCResID resId; /* the semaphore's name */
    Uint32 initialCount; /* count at creation, up to OSS_IPC_SEM_MAX_COUNT */
    Uint32 auxWord;          /* not used here */
    Uint32 reserved; /* 0 */

    OSSIPCSemaphoreCreateParam() { constructor(); }
    /* Sets every field to its default: current version, no name, count 0. */
    void constructor()
    {
        version = OSS_CURRENT_VERSION;
        resId = OSSIPCResID();
        initialCount = 0;
        auxWord = 0;
        reserved = 0;
    }
};

/* Input of OSSHIPCSemaphore::wait: the timeout. */
struct OSSIPCSemaphoreWaitParam {
    Uint32 version; /* parameter version */
    Uint32 timeout;          /* milliseconds; 0xFFFFFFFF waits without limit */
    Uint32 reserved[2]; /* 0 */
};

/* Input of OSSHIPCSemaphoreEx::create: the key the name is made from and the initial count. */
struct OSSIPCSemaphoreExCreateParam {
    Uint32 version; /* parameter version */
    const char* key;         /* 1 to 292 characters, no backslash, and the whole name must fit */
    Uint64 auxValue;         /* logged only */
    Uint32 semaphoreCount;   /* not 0; a set holds one semaphore here */
    Uint32 initialCount; /* count at creation */
    Uint64 auxValue2;        /* logged only */
};

/* OSSIPCSemaphoreExPostParam::flags */
#define OSS_IPC_SEMEX_POST_QUIET 0x1u
/* OSSIPCSemaphoreExWaitParam::flags */
#define OSS_IPC_SEMEX_WAIT_QUIET 0x2u

/* Input of OSSHIPCSemaphoreEx::post. */
struct OSSIPCSemaphoreExPostParam {
    Uint32 version; /* parameter version */
    Uint32 reserved; /* 0 */
    Uint32 flags; /* OSS_IPC_SEMEX_POST_QUIET: a failed post is not logged */
};

/* Input of OSSHIPCSemaphoreEx::wait: the timeout in milliseconds. */
struct OSSIPCSemaphoreExWaitParam {
    Uint32 version; /* parameter version */
    Uint32 timeout; /* milliseconds; 0xFFFFFFFF waits without limit */
    Uint32 flags; /* OSS_IPC_SEMEX_WAIT_QUIET: a failed wait is not logged */
};

/* Input of OSSHIPCSemaphoreEx::detach. */
struct OSSIPCSemaphoreExDetachParam {
    Uint32 version; /* parameter version */
};

/* Input of OSSHIPCSemaphoreEx::destroy. */
struct OSSIPCSemaphoreExDestroyParam {
    Uint32 version; /* parameter version */
};

/* Output of OSSHIPCSemaphoreEx::getInfo (nothing is filled on this platform). */
struct OSSIPCSemaphoreExSemInfo {
    Uint32 version; /* record version */
    Uint32 reserved[3]; /* not filled on this platform */
};

/* A counting semaphore named with ossIPCGetResID. */
class OSSE_API OSSHIPCSemaphore {
public:
    void* handle;            /* INVALID_HANDLE_VALUE when not attached */

    OSSHIPCSemaphore() { constructor(); }
    /* Sets the object up as not attached. */
    void constructor();

    /* Creates the semaphore named in param->resId with the initial count. */
    Uint32 create(const OSSIPCSemaphoreCreateParam* param);
    /* Opens the existing semaphore of that name. */
    Uint32 attach(const OSSIPCResID* resId);
    /* Closes the handle; the semaphore lives on while other processes hold it. */
    Uint32 detach();
    /* Closes the handle (the system removes a semaphore when its last holder lets go). */
    Uint32 destroy();
    /* Adds one unit (the parameter is not read). */
    Uint32 post(const OSSIPCSemaphoreWaitParam* param);
    /* Adds one unit. */
    Uint32 post();
    /* ECF_TIMEOUT without a log record when the count stays 0. */
    Uint32 wait(const OSSIPCSemaphoreWaitParam* param);
    /* As OSSHIPCMemory::authorize. */
    Uint32 authorize(const OSSIPCSecurityParam* param);
    /* True while a semaphore is open through this object. */
    bool isAttached() const;
};

/* A counting semaphore named from a key, with quiet options for post and wait. */
class OSSE_API OSSHIPCSemaphoreEx {
public:
    void* handle; /* the semaphore; INVALID_HANDLE_VALUE when not attached */
    char name[300]; /* the semaphore's name, made from the key */

    OSSHIPCSemaphoreEx() { constructor(); }
    ~OSSHIPCSemaphoreEx() { destructor(); }
    /* Sets the object up as not attached. */
    void constructor() { reset(); }
    /* Forgets the semaphore without closing it. */
    void destructor() { reset(); }
    /* Forgets the handle and the name without closing anything. */
    void reset();

    /* Creates the semaphore named from param->key; an existing one is a failure. */
    Uint32 create(const OSSIPCSemaphoreExCreateParam* param);
    /* Closes the handle. */
    Uint32 detach(const OSSIPCSemaphoreExDetachParam* param);
    /* Closes the handle and forgets the semaphore; always 0. */
    Uint32 destroy(const OSSIPCSemaphoreExDestroyParam* param);
    /* Adds one unit. */
    Uint32 post(const OSSIPCSemaphoreExPostParam* param);
    /* ECF_FILE_NFS_TIME_OUT when the count stays 0. */
    Uint32 wait(const OSSIPCSemaphoreExWaitParam* param);
    /* Returns 0; nothing is filled on this platform. */
    Uint32 getInfo(OSSIPCSemaphoreExSemInfo* info);

private:
    bool isAttached() const;
};


/* ---- Message queue ------------------------------------------------------------------------ */

/* Input of OSSHIPCQueue::create: the three names and the ring's capacity. */
struct OSSIPCQueueCreateParam {
    Uint32 version; /* parameter version; the constructor sets OSS_CURRENT_VERSION */
    OSSIPCQueResID queResId; /* names: 0 the segment, 1 the data semaphore, 2 the space one */
    Uint32 maxBytes;         /* ring capacity asked for; rounded up to a multiple of 4 */
    Uint32 auxWord;          /* not used here */

    OSSIPCQueueCreateParam() { constructor(); }
    /* Sets every field to its default: current version, no names, capacity 0. */
    void constructor()
    {
        version = OSS_CURRENT_VERSION;
        queResId = OSSIPCQueResID();
        maxBytes = 0;
        auxWord = 0;
    }
};

/* OSSIPCQueueHeader::flags. Every change is one atomic byte operation: the broken mark is set
 * by whichever process finds a dead holder, without any latch. */
#define OSS_QUEUE_BROKEN          0x01u /* a process died holding a latch or part way through
                                           a message: every put and get fails until the queue
                                           is destroyed and created again */
#define OSS_QUEUE_STREAM_DROPPED  0x02u /* the reader of a message larger than the ring gave up
                                           at its timeout; the writer withdraws the rest and
                                           writes the message again */
#define OSS_QUEUE_HOLDERS         0x04u /* the holder record follows the ring */

/* OSSIPCQueueHeader::generation, changed only under the state latch (plain stores: the common
 * path of put and get takes no locked instruction for it). */
#define OSS_QUEUE_GENERATION_MASK 0x3Fu /* counts flushes */
#define OSS_QUEUE_WRITER_COPYING  0x40u /* a writer copies between its reservation and its
                                           offset update */
#define OSS_QUEUE_READER_COPYING  0x80u /* the same for a reader */

/* The control block at the start of a queue's segment, read by every process attached to it;
 * the ring of `capacity` bytes follows it. */
struct OSSIPCQueueHeader {
    OSSLatch putLatch;       /* held by a writer for a whole put */
    OSSLatch getLatch;       /* held by a reader while it takes a message */
    OSSLatch stateLatch;     /* guards the fields below and the ring */
    Uint8 generation;        /* flushes counted, copies in progress (OSS_QUEUE_GENERATION_MASK) */
    Uint32 capacity;         /* ring bytes, a multiple of 4 */
    Uint32 writeOffset; /* ring offset where the next put writes */
    Uint32 readOffset; /* ring offset where the next get reads */
    Uint8 writerWaiting;     /* a writer waits on the space semaphore */
    Uint8 readerWaiting;     /* a reader may wait on the data semaphore: the next put posts */
    Uint8 dataPresent;       /* the ring holds at least one byte */
    Uint8 flags;             /* OSS_QUEUE_* */
};

/* Who holds each latch, 8-aligned after the ring (OSS_QUEUE_HOLDERS): a process id in the low
 * word and a stamp of that process's start time in the high word, 0 when free. A process that
 * waits for a latch or for the other side checks that the holder still lives; a holder that
 * died marks the queue broken. The stamp keeps a reused process id from passing as alive. */
struct OSSIPCQueueHolders {
    Uint64 put; /* holder of the put latch, 0 when free */
    Uint64 get; /* holder of the get latch, 0 when free */
    Uint64 state; /* holder of the state latch, 0 when free */
    Uint64 reserved; /* 0 */
};

/* A byte-stream message queue between processes.
 *
 * Waits. A finite timeout of get bounds all of get, also in the middle of a message larger
 * than the ring. put, and get with timeout -1, wait without a limit for data or space only:
 * never for a process that died. Every wait runs in slices of at most 50 ms that look at the
 * broken mark and at the latch holders; a dead holder marks the queue broken, and from then on
 * put, get and flush in every process return ECF_SEM_WAIT_ABANDONED (the holder was gone
 * without letting go) until the queue is destroyed and created again. flush waits for no
 * sleeping side, only for a copy in progress (one copy).
 * A message cut off part way never reaches a reader. A reader of a message larger than the
 * ring whose time runs out part way returns ECF_TIMEOUT; its writer withdraws what is left in
 * the ring and writes the whole message again, so the message is not lost. A flush during a
 * message ends it on both sides: put and get return ECF_SESSION_CANCELED. */
class OSSE_API OSSHIPCQueue {
public:
    OSSHIPCMemory segment; /* the shared segment: header, ring, holder record */
    OSSHIPCSemaphore dataSemaphore; /* posted when data arrives for a waiting reader */
    OSSHIPCSemaphore spaceSemaphore; /* posted when space frees for a waiting writer */
    OSSIPCQueueHeader* header; /* the header in this process's view; null when not attached */

    OSSHIPCQueue() { constructor(); }
    /* Sets the object up as not attached. */
    void constructor();

    /* Creates the queue: its segment (header, ring, holder record) and its two semaphores. A name
     * in use is refused. */
    Uint32 create(const OSSIPCQueueCreateParam* param);
    /* Attaches to the queue of those names, created by another process (or this one). */
    Uint32 attach(OSSIPCQueResID* queResId);
    /* Lets go of the segment and the semaphores; the queue lives on for the other processes. */
    Uint32 detach();
    /* Removes the queue (its creator calls this once every side is done). */
    Uint32 destroy();
    /* Empties the queue and wakes the waiting sides. */
    Uint32 flush();
    /* Writes one message, waiting for space without a time limit. */
    Uint32 put(void* buffer, unsigned int length);
    /* Takes one message. timeout in milliseconds (-1: no limit; 0: ECF_QUE_INVALID_MSG_TYPE at
     * once when no whole message is there, which is always the case for a message larger than
     * the ring; ECF_TIMEOUT, not logged, when another reader is taking one). A message above
     * bufferSize is left in the queue, ECF_QUE_MSG_TOO_BIG is returned and its length stored in
     * *messageLength. A message larger than the ring streams through; a reader that runs out of
     * time in its body returns ECF_TIMEOUT and the writer sends the message again whole. */
    Uint32 get(void* buffer, unsigned int bufferSize, unsigned int* messageLength, int timeout);
    /* True when a whole message is there to take (false also after 2 s of waiting for the state
     * latch). */
    bool hasMessage();
    /* True while attached. */
    bool isAttached() const;
    /* As OSSHIPCMemory::authorize. */
    Uint32 authorize(const OSSIPCSecurityParam* param);
};

/* ---- Waits and their bounds ---------------------------------------------------------------
 * Every wait of the objects of this header: where it is, what it waits for, what ends it, and
 * what it does when the process on the other side (holder or poster) was killed. A latch is
 * the spin latch of osse/latch.h; a kernel wait is one WaitForSingleObject.
 *
 * Where
 *   Waits for                      Bound                          When the other side died
 * -------------------------------------------------------------------------------------------------
 * OSSHIPCSemaphore::wait
 *   a unit of the semaphore        caller's timeout (0xFFFFFFFF:  not seen (a semaphore has no
 *   (kernel wait)                  none); ECF_TIMEOUT             owner): runs to the timeout, for
 *                                                                 ever without one
 * OSSHIPCSemaphoreEx::wait
 *   the same                       caller's timeout;              the same
 *                                  ECF_FILE_NFS_TIME_OUT
 * OSSHIPCQueue::create
 *   its two new semaphores, made   none; returns at once (an      -
 *   at 1 and waited down to 0      existing name is refused)
 * OSSHIPCQueue::put
 *   put latch, then state latch    none; slices of 50 ms          holder named in the holder
 *                                                                 record found dead: queue broken,
 *                                                                 ECF_SEM_WAIT_ABANDONED
 * OSSHIPCQueue::put
 *   space: a spin (up to 2 ms      none; slices of 5 ms           dead latch holder: as above; a
 *   while the reader copies), then                                reader that died holding nothing
 *   the space semaphore                                           is no holder: put waits for
 *                                                                 space
 * OSSHIPCQueue::get
 *   get latch, then state latch    caller's timeout (-1: none),   dead holder: queue broken,
 *                                  slices of at most 50 ms        ECF_SEM_WAIT_ABANDONED
 * OSSHIPCQueue::get
 *   data: a spin (up to 2 ms while caller's timeout, slices of    dead holder: as above; a writer
 *   the writer copies), then the   5 ms; 0 never sleeps           that died holding nothing: an
 *   data semaphore                                                empty queue, to the timeout
 * OSSHIPCQueue::get, message larger than the ring
 *   the rest of the body from its  caller's timeout, slices of 5  the writer holds the put latch:
 *   writer                         ms; then ECF_TIMEOUT and the   found dead, queue broken
 *                                  writer sends it again whole
 * OSSHIPCQueue put, get, flush, in mid-operation
 *   the state latch again, after   none in time: the latch is     dead holder:
 *   a copy or a post               held only while offsets        ECF_SEM_WAIT_ABANDONED
 *                                  change (and a message of at
 *                                  most 512 bytes is copied)
 * OSSHIPCQueue::hasMessage
 *   state latch                    fixed 2000 ms, then false      false; a dead holder marks the
 *                                                                 queue broken
 * OSSHIPCQueue::flush
 *   state latch, then a copy in    none; holders checked every    dead holder:
 *   progress (yield loop)          50 yields                      ECF_SEM_WAIT_ABANDONED; a side
 *                                                                 asleep is not waited for
 * OSSHIPCWaitpost::wait
 *   the event (kernel wait)        caller's timeout (0 polls;     dead poster not seen: to the
 *                                  0xFFFFFFFF: none)              timeout; the owner's destroy
 *                                                                 wakes waiters
 *                                                                 (ECF_WAITPOST_NOT_INITIALIZED)
 * OSSHIPCWaitpost::wait, post
 *   core latch around the payload  none (latch acquire), also     a party killed in its copy
 *   copy (not when unguarded)      after a timed or polling wait  leaves the latch held: the other
 *                                                                 waits for ever
 * OSSHIPCMemory, OSSHIPCMemoryEx, OSSHIPCPrivateMemory
 *   nothing                        -                              -
 * OSSHPipe
 *   nothing: no pipe is made,      -                              -
 *   write is not supported
 *
 * A queue segment without the holder record (OSS_QUEUE_HOLDERS clear) names no holder: its
 * waits find no dead process, and a get in the body of a message larger than the ring reads on
 * past its timeout. */


/* ---- Waitpost ----------------------------------------------------------------------------- */

/* OSSIPCWaitpostCreateParam::mode */
#define OSS_WAITPOST_AUTO_RESET 0x1u
#define OSS_WAITPOST_UNGUARDED  0x2u

/* OSSIPCWaitpostCore::state */
#define OSS_WAITPOST_STATE_AUTO_RESET 0x1u
#define OSS_WAITPOST_STATE_NAMED      0x2u
#define OSS_WAITPOST_STATE_PRIVATE    0x4u

/* The part of a waitpost that lies in memory all parties reach. */
struct OSSIPCWaitpostCore {
    Uint8 unguarded;         /* 1: payload copies do not take the latch */
    OSSLatch latch; /* guards the payload copies unless unguarded */
    Uint16 reserved; /* 0 */
    Uint32 state;            /* OSS_WAITPOST_STATE_...; 0 when not created */
};

/* Input of OSSHIPCWaitpost::create: the core and payload in memory the parties map, the payload's
 * size, the name (null: private to this process) and the mode. */
struct OSSIPCWaitpostCreateParam {
    Uint32 version; /* parameter version */
    OSSIPCWaitpostCore* core; /* the core, in memory every party maps */
    void* data; /* the payload, in memory every party maps */
    Uint32 dataSize; /* payload bytes */
    const OSSIPCResID* resId; /* null: private to this process */
    Uint32 reserved; /* 0 */
    Uint32 mode;             /* OSS_WAITPOST_AUTO_RESET, or OSS_WAITPOST_UNGUARDED */
};

/* Input of OSSHIPCWaitpost::open: the same core, payload and name as the owner's. */
struct OSSIPCWaitpostOpenParam {
    Uint32 version; /* parameter version */
    OSSIPCWaitpostCore* core; /* the core the owner created */
    void* data; /* the owner's payload */
    Uint32 dataSize; /* payload bytes */
    const OSSIPCResID* resId; /* the owner's name; null for a private waitpost */
};

/* Input of OSSHIPCWaitpost::wait: the timeout. */
struct OSSIPCWaitpostWaitParam {
    Uint32 version; /* parameter version */
    Uint32 timeout;          /* 0 polls; 0xFFFFFFFF waits without limit */
};

/* An event with a small payload between processes: the owner creates it, the others open it; post
 * stores the payload and wakes the waiters, wait returns with it. */
class OSSE_API OSSHIPCWaitpost {
public:
    OSSIPCWaitpostCore* core; /* the shared core; null when not created */
    void* data; /* the shared payload */
    Uint32 dataSize; /* payload bytes */
    void* event;             /* INVALID_HANDLE_VALUE when none */

    OSSHIPCWaitpost() { constructor(); }
    ~OSSHIPCWaitpost() { destructor(); }
    /* Sets the object up as not created. */
    void constructor();
    /* Does nothing: close or destroy first. */
    void destructor() {}

    /* The owner: sets up the core and creates the event. */
    Uint32 create(const OSSIPCWaitpostCreateParam* param);
    /* Another party: opens the event of a created waitpost. */
    Uint32 open(const OSSIPCWaitpostOpenParam* param);
    /* Another party: closes its handle. */
    Uint32 close();
    /* The owner's teardown. Waiters blocked at that moment are woken and get
     * ECF_WAITPOST_NOT_INITIALIZED. */
    Uint32 destroy();
    /* Waits for a post up to param->timeout; the payload is copied to out. ECF_TIMEOUT;
     * ECF_WAITPOST_NOT_INITIALIZED when the owner destroyed it. */
    Uint32 wait(const OSSIPCWaitpostWaitParam* param, void* out);
    /* Stores the payload from in and wakes the waiters. */
    Uint32 post(const void* in);
    /* Clears a post not yet waited for. */
    Uint32 reset();
};

/* ---- Pipe --------------------------------------------------------------------------------- */

/* Input of OSSHPipe::create. */
struct OSSPipeCreateParam {
    Uint32 version; /* parameter version */
    Uint32 reserved[3]; /* not read */
};

/* Input of OSSHPipe::write. */
struct OSSPipeWriteParam {
    Uint32 version; /* parameter version */
    const void* buffer; /* bytes to write */
    Uint32 length; /* length of buffer in bytes */
    Uint32 reserved; /* 0 */
};

/* Output of OSSHPipe::write. */
struct OSSPipeWriteInfo {
    Uint32 version; /* record version */
    Uint32 bytesWritten; /* never set: write is not supported */
};

/* An anonymous pipe's shape: on this platform nothing is created and nothing carries data. */
class OSSE_API OSSHPipe {
public:
    intptr_t readFD;         /* -1 when none */
    intptr_t writeFD;        /* -1 when none */
    Uint32 bufferSize; /* 4096; not used on this platform */

    OSSHPipe() { constructor(); }
    ~OSSHPipe() { destructor(); }
    /* Sets the object up with no descriptors. */
    void constructor();
    /* Forgets the descriptors. */
    void destructor() { constructor(); }

    /* Always 0; nothing is created. */
    Uint32 create(const OSSPipeCreateParam* param);
    /* Always ECF_NOT_SUPPORTED. */
    Uint32 write(OSSPipeWriteParam* param, OSSPipeWriteInfo* info);
    /* Closes the descriptors that are open. */
    Uint32 destroy();
    /* Closes the write descriptor. */
    Uint32 closeWriteFD();
    /* The read descriptor (-1: none). */
    intptr_t getReadFD();

private:
    Uint32 closeFD(intptr_t fd, Uint32 callerId);
    Uint32 closeReadFD();
    void setReadFD(intptr_t fd);
    void setWriteFD(intptr_t fd);
    intptr_t getWriteFD();
};

/* ---- Layouts shared with other processes and with callers built separately ---------------- */
static_assert(sizeof(OSSIPCQueueHeader) == 20, "queue header layout");
static_assert(offsetof(OSSIPCQueueHeader, putLatch) == 0 && offsetof(OSSIPCQueueHeader, getLatch) == 1 &&
                  offsetof(OSSIPCQueueHeader, stateLatch) == 2 &&
                  offsetof(OSSIPCQueueHeader, capacity) == 4 &&
                  offsetof(OSSIPCQueueHeader, writeOffset) == 8 &&
                  offsetof(OSSIPCQueueHeader, readOffset) == 12 &&
                  offsetof(OSSIPCQueueHeader, writerWaiting) == 16 &&
                  offsetof(OSSIPCQueueHeader, readerWaiting) == 17 &&
                  offsetof(OSSIPCQueueHeader, dataPresent) == 18 &&
                  offsetof(OSSIPCQueueHeader, generation) == 3 &&
                  offsetof(OSSIPCQueueHeader, flags) == 19,
              "queue header layout");
static_assert(sizeof(OSSIPCQueueHolders) == 32 && offsetof(OSSIPCQueueHolders, get) == 8 &&
                  offsetof(OSSIPCQueueHolders, state) == 16,
              "queue holder record layout");
static_assert(sizeof(OSSIPCWaitpostCore) == 8 && offsetof(OSSIPCWaitpostCore, latch) == 1 &&
                  offsetof(OSSIPCWaitpostCore, state) == 4,
              "waitpost core layout");
static_assert(sizeof(OSSIPCSemaphoreWaitParam) == 16, "layout");
static_assert(sizeof(OSSIPCSemaphoreExPostParam) == 12, "layout");
static_assert(sizeof(OSSIPCSemaphoreCreateParam) == 284 &&
                  offsetof(OSSIPCSemaphoreCreateParam, initialCount) == 272,
              "layout");
static_assert(sizeof(OSSIPCQueueCreateParam) == 820 &&
                  offsetof(OSSIPCQueueCreateParam, maxBytes) == 812,
              "layout");
#if OSSE_PTR32
static_assert(sizeof(OSSIPCMemoryCreateParam) == 292, "layout");
static_assert(offsetof(OSSIPCMemoryCreateParam, resId) == 4 &&
                  offsetof(OSSIPCMemoryCreateParam, size) == 272 &&
                  offsetof(OSSIPCMemoryCreateParam, baseAddress) == 276 &&
                  offsetof(OSSIPCMemoryCreateParam, auxWord) == 280 &&
                  offsetof(OSSIPCMemoryCreateParam, flags) == 284 &&
                  offsetof(OSSIPCMemoryCreateParam, namespacePrefix) == 288,
              "layout");
static_assert(sizeof(OSSIPCMemoryExCreateParam) == 48, "layout");
static_assert(offsetof(OSSIPCMemoryExCreateParam, key) == 4 &&
                  offsetof(OSSIPCMemoryExCreateParam, size) == 8 &&
                  offsetof(OSSIPCMemoryExCreateParam, flags) == 16 &&
                  offsetof(OSSIPCMemoryExCreateParam, baseAddress) == 24 &&
                  offsetof(OSSIPCMemoryExCreateParam, auxWord) == 28 &&
                  offsetof(OSSIPCMemoryExCreateParam, auxValue) == 32 &&
                  offsetof(OSSIPCMemoryExCreateParam, namespacePrefix) == 40,
              "layout");
static_assert(sizeof(OSSIPCMemoryExAttachParam) == 40, "layout");
static_assert(offsetof(OSSIPCMemoryExAttachParam, flags) == 8 &&
                  offsetof(OSSIPCMemoryExAttachParam, baseAddress) == 16 &&
                  offsetof(OSSIPCMemoryExAttachParam, auxValue) == 24 &&
                  offsetof(OSSIPCMemoryExAttachParam, namespacePrefix) == 32,
              "layout");
static_assert(sizeof(OSSHIPCMemory) == 8, "layout");
static_assert(sizeof(OSSHIPCPrivateMemory) == 276 && offsetof(OSSHIPCPrivateMemory, resId) == 8,
              "layout");
static_assert(offsetof(OSSHIPCMemoryEx, name) == 4 && offsetof(OSSHIPCMemoryEx, address) == 268 &&
                  offsetof(OSSHIPCMemoryEx, size) == 272,
              "layout");
static_assert(sizeof(OSSIPCSemaphoreExCreateParam) == 32 &&
                  offsetof(OSSIPCSemaphoreExCreateParam, auxValue) == 8 &&
                  offsetof(OSSIPCSemaphoreExCreateParam, semaphoreCount) == 16 &&
                  offsetof(OSSIPCSemaphoreExCreateParam, initialCount) == 20 &&
                  offsetof(OSSIPCSemaphoreExCreateParam, auxValue2) == 24,
              "layout");
static_assert(sizeof(OSSHIPCSemaphoreEx) == 304, "layout");
static_assert(sizeof(OSSHIPCQueue) == 20, "layout");
static_assert(sizeof(OSSIPCWaitpostCreateParam) == 28 &&
                  offsetof(OSSIPCWaitpostCreateParam, resId) == 16 &&
                  offsetof(OSSIPCWaitpostCreateParam, mode) == 24,
              "layout");
static_assert(sizeof(OSSHIPCWaitpost) == 16, "layout");
static_assert(sizeof(OSSHPipe) == 12, "layout");
#else
static_assert(sizeof(OSSIPCMemoryCreateParam) == 304, "x86_64 layout");
static_assert(offsetof(OSSIPCMemoryCreateParam, resId) == 4 &&
                  offsetof(OSSIPCMemoryCreateParam, size) == 272 &&
                  offsetof(OSSIPCMemoryCreateParam, baseAddress) == 280 &&
                  offsetof(OSSIPCMemoryCreateParam, auxWord) == 288 &&
                  offsetof(OSSIPCMemoryCreateParam, flags) == 292 &&
                  offsetof(OSSIPCMemoryCreateParam, namespacePrefix) == 296,
              "x86_64 layout");
static_assert(sizeof(OSSIPCMemoryExCreateParam) == 64, "x86_64 layout");
static_assert(offsetof(OSSIPCMemoryExCreateParam, key) == 8 &&
                  offsetof(OSSIPCMemoryExCreateParam, size) == 16 &&
                  offsetof(OSSIPCMemoryExCreateParam, flags) == 24 &&
                  offsetof(OSSIPCMemoryExCreateParam, baseAddress) == 32 &&
                  offsetof(OSSIPCMemoryExCreateParam, auxWord) == 40 &&
                  offsetof(OSSIPCMemoryExCreateParam, auxValue) == 48 &&
                  offsetof(OSSIPCMemoryExCreateParam, namespacePrefix) == 56,
              "x86_64 layout");
static_assert(sizeof(OSSIPCMemoryExAttachParam) == 48, "x86_64 layout");
static_assert(offsetof(OSSIPCMemoryExAttachParam, flags) == 16 &&
                  offsetof(OSSIPCMemoryExAttachParam, baseAddress) == 24 &&
                  offsetof(OSSIPCMemoryExAttachParam, auxValue) == 32 &&
                  offsetof(OSSIPCMemoryExAttachParam, namespacePrefix) == 40,
              "x86_64 layout");
static_assert(sizeof(OSSHIPCMemory) == 16, "x86_64 layout");
static_assert(sizeof(OSSHIPCPrivateMemory) == 288 && offsetof(OSSHIPCPrivateMemory, resId) == 16,
              "x86_64 layout");
static_assert(offsetof(OSSHIPCMemoryEx, name) == 8 && offsetof(OSSHIPCMemoryEx, address) == 272 &&
                  offsetof(OSSHIPCMemoryEx, size) == 280,
              "x86_64 layout");
static_assert(sizeof(OSSIPCSemaphoreExCreateParam) == 40 &&
                  offsetof(OSSIPCSemaphoreExCreateParam, auxValue) == 16 &&
                  offsetof(OSSIPCSemaphoreExCreateParam, semaphoreCount) == 24 &&
                  offsetof(OSSIPCSemaphoreExCreateParam, initialCount) == 28 &&
                  offsetof(OSSIPCSemaphoreExCreateParam, auxValue2) == 32,
              "x86_64 layout");
static_assert(sizeof(OSSHIPCSemaphoreEx) == 312, "x86_64 layout");
static_assert(sizeof(OSSHIPCQueue) == 40, "x86_64 layout");
static_assert(sizeof(OSSIPCWaitpostCreateParam) == 48 &&
                  offsetof(OSSIPCWaitpostCreateParam, resId) == 32 &&
                  offsetof(OSSIPCWaitpostCreateParam, mode) == 44,
              "x86_64 layout");
static_assert(sizeof(OSSHIPCWaitpost) == 32, "x86_64 layout");
static_assert(sizeof(OSSHPipe) == 24, "x86_64 layout");
#endif

#endif /* __cplusplus */

/* No seed is needed on this platform: always ECF_NOT_SUPPORTED. */
OSSE_C_API Uint32 ossIPCGenerateSeed(void);
/* Registers the security attributes every later IPC object and child process is created with.
 * The library keeps the pointer, not a copy; null restores the default (inheritable handles, a
 * null DACL: every user has full access). */
OSSE_C_API void ossSetSecurityAttributesForOSS(struct _SECURITY_ATTRIBUTES* attrs);

/* Does nothing here; always 0. */
OSSE_C_API Uint32 ossIPCSemaphoreExDestroy(void);
/* The largest message the kernel's own queues take; 0 (unknown) on this platform. */
OSSE_C_API Uint32 ossGetMaxQueueMessageSize(void);

/* Kernel calls made so far by the queue operations of this process, for measurement: semaphore
 * waits and posts, and the processor handed to another thread while waiting for the ring or a
 * latch. Sleeps go through the yield callbacks and are counted there. */
typedef struct OSSQueueKernelCalls {
    Uint64 semaphoreWaits; /* semaphore waits */
    Uint64 semaphorePosts; /* semaphore posts */
    Uint64 threadSwitches; /* times the processor was handed to another thread */
} OSSQueueKernelCalls;
/* Copies out the counts of this process so far. */
OSSE_C_API void ossGetQueueKernelCalls(OSSQueueKernelCalls* counts);

#endif
