/* The file handle: open by name with portable creation and access codes, read, write, seek,
 * size query and change, a whole-file advisory lock, memory mapping, flush and close.
 * Every operation takes a versioned parameter object (version word at least OSS_MIN_VERSION)
 * and returns an ECF code, 0 on success. */
#ifndef OSSE_FILE_H
#define OSSE_FILE_H

#include "osse/base.h"

/* OSSFileOpenParam::creation */
#define OSS_FILE_OPEN_EXISTING     1u  /* the file must exist */
#define OSS_FILE_OPEN_ALWAYS       2u  /* open, creating the file when absent */
#define OSS_FILE_TRUNCATE_EXISTING 4u  /* the file must exist; cut to 0 bytes (needs write) */
#define OSS_FILE_CREATE_NEW        8u  /* the file must not exist */
#define OSS_FILE_CREATE_ALWAYS     16u /* create, or cut an existing file to 0 bytes */

/* OSSFileOpenParam::access */
#define OSS_FILE_ACCESS_READ       1u
#define OSS_FILE_ACCESS_WRITE      2u
#define OSS_FILE_ACCESS_READWRITE  4u

/* OSSFileOpenParam::options (bit set; other bits have no effect here) */
#define OSS_FILE_OPTION_WRITE_THROUGH   0x1u
#define OSS_FILE_OPTION_DELETE_ON_CLOSE 0x2u

/* OSSFileSeekParam::whence */
#define OSS_FILE_SEEK_SET 0u
#define OSS_FILE_SEEK_CUR 1u
#define OSS_FILE_SEEK_END 2u

/* OSSFileLockParam::type and ::wait */
#define OSS_FILE_LOCK_EXCLUSIVE 1u
#define OSS_FILE_LOCK_SHARED    2u
#define OSS_FILE_LOCK_WAIT      1u /* poll every 100 ms until granted */
#define OSS_FILE_LOCK_NOWAIT    2u /* fail at once with ECF_FILE_LOCK */

/* OSSFileMapParam::access */
#define OSS_FILE_MAP_READ  1u /* read-only view */
#define OSS_FILE_MAP_COPY  2u /* private copy-on-write view: writes never reach the file */
#define OSS_FILE_MAP_WRITE 4u /* shared read-write view */

#ifdef __cplusplus

struct OSSFileOpenParam {
    Uint32 version;
    const char* fileName;
    Uint32 creation;     /* OSS_FILE_OPEN_EXISTING ... OSS_FILE_CREATE_ALWAYS */
    Uint32 access;       /* OSS_FILE_ACCESS_... */
    Uint32 options;      /* OSS_FILE_OPTION_... */
    Uint32 permissions;  /* reported in failure records only */
    Uint32 reserved;     /* reported in failure records only */
};

struct OSSFileReadParam {
    Uint32 version;
    Uint32 length;       /* bytes to read */
    Uint32 reserved;
};

struct OSSFileWriteParam {
    Uint32 version;
    const void* buffer;
    Uint32 length;       /* bytes to write */
    Uint32 reserved;     /* reported in failure records only */
};

struct OSSFileSeekParam {
    Uint32 version;
    Sint64 offset;
    Uint32 whence;       /* OSS_FILE_SEEK_... */
};

struct OSSFileSetSizeParam {
    Uint32 version;
    Uint64 size;
    Uint32 flags;        /* must be 0 */
};

struct OSSFileLockParam {
    Uint32 version;
    Uint32 type;         /* OSS_FILE_LOCK_EXCLUSIVE or OSS_FILE_LOCK_SHARED */
    Uint32 wait;         /* OSS_FILE_LOCK_WAIT or OSS_FILE_LOCK_NOWAIT */
};

struct OSSFileMapParam {
    Uint32 version;
    Uint32 length;       /* bytes to map; 0 maps the whole file */
    Uint32 access;       /* OSS_FILE_MAP_... */
    Uint32 reserved;
};

/* Handle to an open file. Lives in the caller's memory; set it up with constructor() (the
 * language constructor does the same). It is not guarded: one thread uses it at a time.
 * The fields are for reading only. */
class OSSE_API OSSHFile {
public:
    void* file;     /* OS file handle; INVALID_HANDLE_VALUE when not open */
    void* mapping;  /* file-mapping handle of the current mapping; INVALID_HANDLE_VALUE when none */
    void* view;     /* base of the current mapped view; null when none */

    OSSHFile() { constructor(); }

    /* Resets the three fields: no file, no mapping, no view. */
    void constructor();

    Uint32 open(const OSSFileOpenParam* param);
    /* Closes the file; a current mapping must be unmapped first. */
    Uint32 close();
    /* Moves to offset from whence; a target before the start lands on 0, a target beyond the
     * end of the file fails with ECF_FILE_SEEK_BEYOND_EOF. newPosition may be null. */
    Uint32 seek(const OSSFileSeekParam* param, Uint64* newPosition);
    Uint32 getSize(Uint64* size);
    /* Sets the end of file; the position is kept when it is below the new size, else it is
     * left at the new end. */
    Uint32 setSize(const OSSFileSetSizeParam* param);
    /* One read of length bytes; fewer bytes (end of file) returns ECF_FILE_EOF with the
     * count read in *bytesRead and the data valid. */
    Uint32 read(const OSSFileReadParam* param, void* buffer, Uint32* bytesRead);
    /* Writes all of the buffer; a short total returns ECF_FILE_INCOMPLETE_WRITE. */
    Uint32 write(const OSSFileWriteParam* param, Uint32* bytesWritten);
    /* Locks byte 0 of the file, shared or exclusive. */
    Uint32 lock(const OSSFileLockParam* param);
    Uint32 unlock();
    /* Maps the file; *address is the preferred base on input (null for any) and the base of
     * the view on output. */
    Uint32 map(const OSSFileMapParam* param, void** address);
    /* Unmaps a view (null: the current one) and closes the current mapping. */
    Uint32 unmap(void* address);
    Uint32 sync();
    void* getFileHandle() const;
};

/* Layouts shared with callers built separately from this library. 64-bit fields sit on
 * 8-byte boundaries. */
static_assert(sizeof(OSSFileReadParam) == 12, "OSSFileReadParam layout");
static_assert(offsetof(OSSFileReadParam, version) == 0, "layout");
static_assert(offsetof(OSSFileReadParam, length) == 4, "layout");
static_assert(offsetof(OSSFileReadParam, reserved) == 8, "layout");
static_assert(sizeof(OSSFileSeekParam) == 24, "OSSFileSeekParam layout");
static_assert(offsetof(OSSFileSeekParam, version) == 0, "layout");
static_assert(offsetof(OSSFileSeekParam, offset) == 8, "layout");
static_assert(offsetof(OSSFileSeekParam, whence) == 16, "layout");
static_assert(sizeof(OSSFileSetSizeParam) == 24, "OSSFileSetSizeParam layout");
static_assert(offsetof(OSSFileSetSizeParam, version) == 0, "layout");
static_assert(offsetof(OSSFileSetSizeParam, size) == 8, "layout");
static_assert(offsetof(OSSFileSetSizeParam, flags) == 16, "layout");
static_assert(sizeof(OSSFileLockParam) == 12, "OSSFileLockParam layout");
static_assert(offsetof(OSSFileLockParam, version) == 0, "layout");
static_assert(offsetof(OSSFileLockParam, type) == 4, "layout");
static_assert(offsetof(OSSFileLockParam, wait) == 8, "layout");
static_assert(sizeof(OSSFileMapParam) == 16, "OSSFileMapParam layout");
static_assert(offsetof(OSSFileMapParam, version) == 0, "layout");
static_assert(offsetof(OSSFileMapParam, length) == 4, "layout");
static_assert(offsetof(OSSFileMapParam, access) == 8, "layout");
static_assert(offsetof(OSSFileMapParam, reserved) == 12, "layout");
/* Objects holding pointers: the layout of the 32-bit library. */
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(OSSHFile) == 12, "OSSHFile layout");
static_assert(offsetof(OSSHFile, file) == 0, "layout");
static_assert(offsetof(OSSHFile, mapping) == 4, "layout");
static_assert(offsetof(OSSHFile, view) == 8, "layout");
static_assert(sizeof(OSSFileOpenParam) == 28, "OSSFileOpenParam layout");
static_assert(offsetof(OSSFileOpenParam, version) == 0, "layout");
static_assert(offsetof(OSSFileOpenParam, fileName) == 4, "layout");
static_assert(offsetof(OSSFileOpenParam, creation) == 8, "layout");
static_assert(offsetof(OSSFileOpenParam, access) == 12, "layout");
static_assert(offsetof(OSSFileOpenParam, options) == 16, "layout");
static_assert(offsetof(OSSFileOpenParam, permissions) == 20, "layout");
static_assert(offsetof(OSSFileOpenParam, reserved) == 24, "layout");
static_assert(sizeof(OSSFileWriteParam) == 16, "OSSFileWriteParam layout");
static_assert(offsetof(OSSFileWriteParam, version) == 0, "layout");
static_assert(offsetof(OSSFileWriteParam, buffer) == 4, "layout");
static_assert(offsetof(OSSFileWriteParam, length) == 8, "layout");
static_assert(offsetof(OSSFileWriteParam, reserved) == 12, "layout");
#endif

#endif /* __cplusplus */

#endif
