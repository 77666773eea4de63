/* Files and directories. The file handle: open by name with portable creation and access
 * codes, read, write, seek, size query and change, a whole-file advisory lock, memory mapping,
 * flush and close. Every operation takes a versioned parameter object (version word at least
 * OSS_MIN_VERSION) and returns an ECF code, 0 on success. Then the operations on path names,
 * the directory listing and the directory operations. Paths are narrow strings in the system
 * code page of at most 259 characters. */
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

/* Input of OSSHFile::open: the file name, how to create it (OSS_FILE_OPEN_... /
 * OSS_FILE_CREATE_...), the access and the options. */
struct OSSFileOpenParam {
    Uint32 version; /* parameter version */
    const char* fileName; /* path of the file, NUL-terminated */
    Uint32 creation;     /* OSS_FILE_OPEN_EXISTING ... OSS_FILE_CREATE_ALWAYS */
    Uint32 access;       /* OSS_FILE_ACCESS_... */
    Uint32 options;      /* OSS_FILE_OPTION_... */
    Uint32 permissions;  /* reported in failure records only */
    Uint32 reserved;     /* reported in failure records only */
};

/* Input of OSSHFile::read: how many bytes to read. */
struct OSSFileReadParam {
    Uint32 version; /* parameter version */
    Uint32 length;       /* bytes to read */
    Uint32 reserved; /* reported in failure records only */
};

/* Input of OSSHFile::write: the bytes to write. */
struct OSSFileWriteParam {
    Uint32 version; /* parameter version */
    const void* buffer; /* the bytes to write */
    Uint32 length;       /* bytes to write */
    Uint32 reserved;     /* reported in failure records only */
};

/* Input of OSSHFile::seek: the offset and what it counts from. */
struct OSSFileSeekParam {
    Uint32 version; /* parameter version */
    Sint64 offset; /* bytes from whence; may be negative */
    Uint32 whence;       /* OSS_FILE_SEEK_... */
};

/* Input of OSSHFile::setSize: the new size of the file. */
struct OSSFileSetSizeParam {
    Uint32 version; /* parameter version */
    Uint64 size; /* the new size in bytes */
    Uint32 flags;        /* must be 0 */
};

/* Input of OSSHFile::lock: shared or exclusive, and whether to wait. */
struct OSSFileLockParam {
    Uint32 version; /* parameter version */
    Uint32 type;         /* OSS_FILE_LOCK_EXCLUSIVE or OSS_FILE_LOCK_SHARED */
    Uint32 wait;         /* OSS_FILE_LOCK_WAIT or OSS_FILE_LOCK_NOWAIT */
};

/* Input of OSSHFile::map: the kind of view, and the range of the file it shows. */
struct OSSFileMapParam {
    Uint32 version; /* parameter version */
    Uint32 length;       /* bytes to map; 0 maps the whole file */
    Uint32 access;       /* OSS_FILE_MAP_... */
    Uint32 reserved; /* not read */
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

    /* Opens or creates the file named in param. 0; ECF_FILE_DOESNT_EXIST, ECF_FILE_EXISTS,
     * ECF_ACCESS_DENIED and the other file codes on failure; ECF_INVALID_PARAMETER or
     * ECF_INVALID_VERSION for a bad parameter object. */
    Uint32 open(const OSSFileOpenParam* param);
    /* Closes the file; a current mapping must be unmapped first. */
    Uint32 close();
    /* Moves to offset from whence; a target before the start lands on 0, a target beyond the
     * end of the file fails with ECF_FILE_SEEK_BEYOND_EOF. newPosition may be null. */
    Uint32 seek(const OSSFileSeekParam* param, Uint64* newPosition);
    /* The size of the file in bytes. */
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
    /* Releases the lock taken by lock(). */
    Uint32 unlock();
    /* Maps the file; *address is the preferred base on input (null for any) and the base of
     * the view on output. */
    Uint32 map(const OSSFileMapParam* param, void** address);
    /* Unmaps a view (null: the current one) and closes the current mapping. */
    Uint32 unmap(void* address);
    /* Writes the file's buffered data to the disk. */
    Uint32 sync();
    /* The operating-system handle of the open file. */
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
static_assert(offsetof(OSSHFile, file) == 0, "layout");
static_assert(offsetof(OSSFileOpenParam, version) == 0, "layout");
static_assert(offsetof(OSSFileWriteParam, version) == 0, "layout");
#if OSSE_PTR32
static_assert(sizeof(OSSHFile) == 12, "OSSHFile layout");
static_assert(offsetof(OSSHFile, mapping) == 4, "layout");
static_assert(offsetof(OSSHFile, view) == 8, "layout");
static_assert(sizeof(OSSFileOpenParam) == 28, "OSSFileOpenParam layout");
static_assert(offsetof(OSSFileOpenParam, fileName) == 4, "layout");
static_assert(offsetof(OSSFileOpenParam, creation) == 8, "layout");
static_assert(offsetof(OSSFileOpenParam, access) == 12, "layout");
static_assert(offsetof(OSSFileOpenParam, options) == 16, "layout");
static_assert(offsetof(OSSFileOpenParam, permissions) == 20, "layout");
static_assert(offsetof(OSSFileOpenParam, reserved) == 24, "layout");
static_assert(sizeof(OSSFileWriteParam) == 16, "OSSFileWriteParam layout");
static_assert(offsetof(OSSFileWriteParam, buffer) == 4, "layout");
static_assert(offsetof(OSSFileWriteParam, length) == 8, "layout");
static_assert(offsetof(OSSFileWriteParam, reserved) == 12, "layout");
#else
static_assert(sizeof(OSSHFile) == 24, "x86_64 layout");
static_assert(offsetof(OSSHFile, mapping) == 8, "x86_64 layout");
static_assert(offsetof(OSSHFile, view) == 16, "x86_64 layout");
static_assert(sizeof(OSSFileOpenParam) == 40, "x86_64 layout");
static_assert(offsetof(OSSFileOpenParam, fileName) == 8, "x86_64 layout");
static_assert(offsetof(OSSFileOpenParam, creation) == 16, "x86_64 layout");
static_assert(offsetof(OSSFileOpenParam, access) == 20, "x86_64 layout");
static_assert(offsetof(OSSFileOpenParam, options) == 24, "x86_64 layout");
static_assert(offsetof(OSSFileOpenParam, permissions) == 28, "x86_64 layout");
static_assert(offsetof(OSSFileOpenParam, reserved) == 32, "x86_64 layout");
static_assert(sizeof(OSSFileWriteParam) == 24, "x86_64 layout");
static_assert(offsetof(OSSFileWriteParam, buffer) == 8, "x86_64 layout");
static_assert(offsetof(OSSFileWriteParam, length) == 16, "x86_64 layout");
static_assert(offsetof(OSSFileWriteParam, reserved) == 20, "x86_64 layout");
#endif


/* ---- File and path operations ------------------------------------------------------------ */

/* OSSFileInfo::type */
#define OSS_FILE_TYPE_DIRECTORY 0x4000u
#define OSS_FILE_TYPE_REGULAR   0x8000u

/* OSSFileGetInfoParam::flags */
#define OSS_FILE_INFO_QUIET 0x2u /* failures are not logged */

/* OSSPathTestParam::flags */
#define OSS_PATH_TEST_EXISTS 0x1u
#define OSS_PATH_TEST_READ   0x2u
#define OSS_PATH_TEST_WRITE  0x4u

/* osstmpnam flags */
#define OSS_TMPNAM_TEMP_FOLDER 0x1u /* create a unique file in the temporary folder (260 bytes) */

/* What a file is: size, type, mode bits and time of last change. */
class OSSE_API OSSFileInfo {
public:
    Uint64 size; /* bytes */
    bool isLink;               /* always false here */
    const char* referencePath; /* link target; null here */
    Uint32 type;               /* OSS_FILE_TYPE_... */
    Uint32 permissions;        /* mode bits, 12 bits: 0x100 owner read, 0x80 write, 0x40 execute */
    Uint32 uid; /* owner's user id, as the C runtime gives it (0 here) */
    Uint32 gid; /* owner's group id, as the C runtime gives it (0 here) */
    Sint64 modified;           /* seconds since 1970-01-01 UTC */

    /* Input of toString: the buffer the text is written into. */
    struct toStringParam {
        Uint32 version; /* parameter version */
        char buffer[384]; /* receives the text, always terminated */
    };
    /* Writes the text form into param->buffer (always terminated); nothing for an old version. */
    void toString(toStringParam* param) const;
};

/* Input of ossFileGetInfoV9: the path or the open handle to describe. */
struct OSSFileGetInfoParam {
    Uint32 version; /* parameter version */
    const char* path;  /* used when handle is INVALID_HANDLE_VALUE */
    Uint32 reserved1; /* reported in failure records only */
    Uint32 reserved2; /* reported in failure records only */
    Uint32 flags;      /* OSS_FILE_INFO_QUIET */
    void* handle;      /* an open file, or INVALID_HANDLE_VALUE to query by path */
};

/* Input of ossPathTest: the path and what to test it for. */
struct OSSPathTestParam {
    Uint32 version; /* parameter version */
    const char* path; /* path to test, NUL-terminated */
    Uint32 flags;      /* OSS_PATH_TEST_... */
    Uint32 reserved; /* not read */
};

/* Describes a file, by path or by handle, into *info: type, size, permissions, owner and times. */
OSSE_C_API Uint32 ossFileGetInfoV9(const OSSFileGetInfoParam* param, OSSFileInfo* info);
/* The request's leading words by value; always a query by path. */
OSSE_C_API Uint32 ossFileGetInfo(Uint32 version, const char* path, Uint32 reserved1,
                                 Uint32 reserved2, Uint32 flags, OSSFileInfo* info);
/* True when the path names a regular file. */
OSSE_C_API bool ossIsFile(const char* path);
/* True when the path names a directory. */
OSSE_C_API bool ossIsDirectory(const char* path);
/* True when the path names a symbolic link or another reparse point. */
OSSE_C_API bool ossIsSymbolicLink(const char* path);
/* 0, or -1 when the path cannot be read or (mode bit 0x2) a read-only file is tested for
 * writing; the last error then says why. */
OSSE_C_API int oss_access(const char* path, int mode);
/* 0; ECF_FILE_DOESNT_EXIST when the path is not there; ECF_ACCESS_DENIED when it may not be
 * used as asked. */
OSSE_C_API Uint32 ossPathTest(const OSSPathTestParam* param);
/* True when something exists at the path. */
OSSE_C_API bool ossPathExists(const char* path);
/* Deletes a file; a read-only file is deleted as well. */
OSSE_C_API Uint32 ossFileDelete(const char* path);
/* Every failure is ECF_FILE_DOESNT_EXIST. */
OSSE_C_API Uint32 ossFileRename(const char* from, const char* to);
/* Never overwrites: an existing destination gives ECF_FILE_EXISTS. */
OSSE_C_API Uint32 ossFileCopy(const char* from, const char* to);
/* mode 0 means owner read and write. */
OSSE_C_API Uint32 ossFileSetPermissions(const char* path, Uint32 mode);
/* Kept for the product's other platforms: they do nothing here and return 0. */
OSSE_C_API Uint32 ossFileSetOwnership(const char* path, Uint32 uid, Uint32 gid);
/* Creates a symbolic link `link` to `target` (where the system allows it). */
OSSE_C_API Uint32 ossFileCreateSymlink(const char* target, const char* link);
/* Last component of a path, without separators; "\" for the root. */
OSSE_C_API Uint32 ossBaseName(const char* path, char* out, Uint32 outSize);
/* Everything before the last component: "." when there is none, the root kept as it is; a raw
 * device path is its own directory. */
OSSE_C_API Uint32 ossDirectoryName(const char* path, char* out, Uint32 outSize);
/* True when both paths name the same file. */
OSSE_C_API bool ossComparePaths(const char* a, const char* b);
/* Bit n set: drive 'A' + n is present. */
OSSE_C_API Uint32 ossGetLogicalDriveMap(Uint32* map);
/* A temporary file name: the runtime's (14 bytes), or with OSS_TMPNAM_TEMP_FOLDER a new empty
 * file in the temporary folder (260 bytes). */
OSSE_C_API Uint32 osstmpnam(char* out, Uint32 outSize, Uint32 flags);

/* ---- Directory listing --------------------------------------------------------------------- */

/* OSSDirectoryListingParam::type */
#define OSS_LIST_ALL         0u
#define OSS_LIST_DIRECTORIES OSS_FILE_TYPE_DIRECTORY
#define OSS_LIST_FILES       OSS_FILE_TYPE_REGULAR

/* Input of OSSDirectoryListing::begin and OSSDirectoryStream::open: the directory (or pattern) and
 * the kinds of entry wanted. */
struct OSSDirectoryListingParam {
    Uint32 version; /* parameter version */
    const char* path;  /* a directory, or a path whose last component holds '*' or '?' */
    Uint32 type;       /* OSS_LIST_...; both bits together are refused */
    Uint32 reserved; /* reported in failure records only */
};

/* One name of a directory listing, in the listing's list. */
struct FileNode {
    char* name; /* the name, NUL-terminated, owned by the listing */
    FileNode* next; /* next node, null after the last */
    Uint32 value;      /* set by insertOne */
};

/* The names of one directory (or of one wildcard pattern), read by begin into a list and a
 * packed buffer, then handed out one at a time. Lives in the caller's memory. */
class OSSE_API OSSDirectoryListing {
public:
    Uint32 count; /* names in the list */
    FileNode* head; /* first node, null when empty */
    char* fileList;      /* every name and its NUL, closed by one more NUL */
    Uint32 fileListSize; /* bytes in fileList, the closing NUL included */
    FileNode* cursor; /* node getNextEntry returns next */
    FileNode* tail; /* last node, where insertOne appends */
    bool rewound; /* the next walk starts again at head */
    bool active; /* true between begin (or insertOneBegin) and end */

    OSSDirectoryListing() { constructor(); }
    ~OSSDirectoryListing() { destructor(); }
    /* A copy would release the same names a second time. */
    OSSDirectoryListing(const OSSDirectoryListing&) = delete;
    OSSDirectoryListing& operator=(const OSSDirectoryListing&) = delete;
    /* Sets the object up as empty. */
    void constructor();
    /* Ends the listing, begun or not. */
    void destructor();

    /* Reads the whole directory; a failure leaves the object as it was. */
    Uint32 begin(const OSSDirectoryListingParam* param);
    /* Ends the listing and releases its names. */
    Uint32 end();
    /* The next name, or null after the last one. */
    char* getNext();
    /* The next node of the list (its name and value), or null after the last one. */
    FileNode* getNextEntry();
    /* Starts the walk over the names again from the first. */
    void rewind();
    /* The packed buffer of all names, each terminated. */
    char* getFileList();
    /* How many names the listing holds. */
    Uint32 getNumberOfFiles();
    /* Marks the listing as begun, so that names added with insertOne are released by end. */
    void insertOneBegin();
    /* Adds a copy of one name, with a value of the caller's, to the listing. */
    void insertOne(const char* name, Uint32 value);
    /* Prints the names to the standard output (for debugging). */
    void dumpFileList();

protected:
    /* Forgets every name without releasing it. */
    void reset();
};

/* The same names read one at a time straight from the OS: memory does not grow with the size
 * of the directory and nothing is allocated. Not guarded; one thread uses it at a time. */
class OSSE_API OSSDirectoryStream {
public:
    void* find;            /* search handle; INVALID_HANDLE_VALUE when closed */
    Uint32 filter; /* OSS_LIST_... the stream was opened with */
    Uint32 status;         /* 0, or the code of the failure that ended the stream */
    bool pending;          /* data holds an entry not yet looked at */
    bool lastIsDirectory; /* the current entry is a directory */
    bool lastIsReadOnly; /* the current entry is read-only */
    bool lastIsLink;       /* a reparse point: a link, not a directory of its own */
    Uint32 data[80];       /* the OS's record of the current entry */

    OSSDirectoryStream() { constructor(); }
    ~OSSDirectoryStream() { destructor(); }
    OSSDirectoryStream(const OSSDirectoryStream&) = delete;
    OSSDirectoryStream& operator=(const OSSDirectoryStream&) = delete;
    /* Sets the stream up as closed. */
    void constructor();
    /* Closes the stream when it is open. */
    void destructor();

    /* The path and filter rules of OSSDirectoryListing::begin. */
    Uint32 open(const OSSDirectoryListingParam* param);
    /* The next name that passes the filter, or null at the end or after a failure (status
     * says which). Valid until the next call. */
    const char* next();
    /* Ends the stream and releases its search handle. */
    Uint32 close();
};

/* ---- Directory operations ------------------------------------------------------------------ */

/* OSSDirectoryCreateParam::mode */
#define OSS_DIR_CREATE_ONE  1u /* this one directory; an existing one is a failure */
#define OSS_DIR_CREATE_PATH 2u /* every missing directory of the path */
/* Any other mode creates every directory of the path in turn and stops at the first one that
 * cannot be created, an existing one included. */

/* OSSDirectoryDeleteParam::flags */
#define OSS_DIR_DELETE_CONTENTS 0x1u

/* Input of ossDirectoryCreate: the path and whether to create one directory or the whole path. */
struct OSSDirectoryCreateParam {
    Uint32 version; /* parameter version */
    const char* path; /* directory to create, NUL-terminated */
    Uint32 permissions;  /* reported in failure records only */
    Uint32 mode;         /* OSS_DIR_CREATE_... */
};

/* Input of ossDirectoryDelete: the path and whether to delete the contents too. */
struct OSSDirectoryDeleteParam {
    Uint32 version; /* parameter version */
    const char* path; /* directory to delete, NUL-terminated */
    Uint32 flags;        /* OSS_DIR_DELETE_CONTENTS */
};

/* Creates a directory, or every missing directory of a path (OSS_DIR_CREATE_PATH). 0,
 * ECF_FILE_EXISTS for an existing one with OSS_DIR_CREATE_ONE, or the file codes of the failure. */
OSSE_C_API Uint32 ossDirectoryCreate(const OSSDirectoryCreateParam* param);
/* Deletes a directory; with OSS_DIR_DELETE_CONTENTS the whole tree under it too, read-only entries
 * included. */
OSSE_C_API Uint32 ossDirectoryDelete(const OSSDirectoryDeleteParam* param);
/* Copies a tree to a destination that does not exist yet; on failure nothing of the
 * destination is left. */
OSSE_C_API Uint32 ossDirectoryCopy(const char* from, const char* to);
/* *size: the buffer's capacity on input; the length, or the size needed, on output. */
OSSE_C_API Uint32 ossDirectoryGetCurrent(char* buffer, Uint32* size);
/* Changes the process's current directory. */
OSSE_C_API Uint32 ossDirectorySetCurrent(const char* path);

static_assert(sizeof(OSSFileInfo::toStringParam) == 388, "toStringParam layout");
static_assert(offsetof(OSSFileInfo, size) == 0, "layout");
static_assert(offsetof(OSSFileInfo, isLink) == 8, "layout");
#if OSSE_PTR32
static_assert(sizeof(OSSFileInfo) == 40, "OSSFileInfo layout");
static_assert(offsetof(OSSFileInfo, referencePath) == 12, "layout");
static_assert(offsetof(OSSFileInfo, type) == 16, "layout");
static_assert(offsetof(OSSFileInfo, permissions) == 20, "layout");
static_assert(offsetof(OSSFileInfo, uid) == 24, "layout");
static_assert(offsetof(OSSFileInfo, gid) == 28, "layout");
static_assert(offsetof(OSSFileInfo, modified) == 32, "layout");
static_assert(sizeof(OSSFileGetInfoParam) == 24, "OSSFileGetInfoParam layout");
static_assert(offsetof(OSSFileGetInfoParam, path) == 4, "layout");
static_assert(offsetof(OSSFileGetInfoParam, flags) == 16, "layout");
static_assert(offsetof(OSSFileGetInfoParam, handle) == 20, "layout");
static_assert(sizeof(OSSPathTestParam) == 16, "OSSPathTestParam layout");
static_assert(offsetof(OSSPathTestParam, path) == 4, "layout");
static_assert(offsetof(OSSPathTestParam, flags) == 8, "layout");
static_assert(sizeof(OSSDirectoryListingParam) == 16, "OSSDirectoryListingParam layout");
static_assert(offsetof(OSSDirectoryListingParam, path) == 4, "layout");
static_assert(offsetof(OSSDirectoryListingParam, type) == 8, "layout");
static_assert(offsetof(OSSDirectoryListingParam, reserved) == 12, "layout");
static_assert(sizeof(FileNode) == 12, "FileNode layout");
static_assert(offsetof(FileNode, next) == 4, "layout");
static_assert(offsetof(FileNode, value) == 8, "layout");
static_assert(sizeof(OSSDirectoryListing) == 28, "OSSDirectoryListing layout");
static_assert(offsetof(OSSDirectoryListing, head) == 4, "layout");
static_assert(offsetof(OSSDirectoryListing, fileList) == 8, "layout");
static_assert(offsetof(OSSDirectoryListing, fileListSize) == 12, "layout");
static_assert(offsetof(OSSDirectoryListing, cursor) == 16, "layout");
static_assert(offsetof(OSSDirectoryListing, tail) == 20, "layout");
static_assert(offsetof(OSSDirectoryListing, rewound) == 24, "layout");
static_assert(offsetof(OSSDirectoryListing, active) == 25, "layout");
static_assert(sizeof(OSSDirectoryCreateParam) == 16, "OSSDirectoryCreateParam layout");
static_assert(offsetof(OSSDirectoryCreateParam, path) == 4, "layout");
static_assert(offsetof(OSSDirectoryCreateParam, permissions) == 8, "layout");
static_assert(offsetof(OSSDirectoryCreateParam, mode) == 12, "layout");
static_assert(sizeof(OSSDirectoryDeleteParam) == 12, "OSSDirectoryDeleteParam layout");
static_assert(offsetof(OSSDirectoryDeleteParam, path) == 4, "layout");
static_assert(offsetof(OSSDirectoryDeleteParam, flags) == 8, "layout");
#else
static_assert(sizeof(OSSFileInfo) == 48, "x86_64 layout");
static_assert(offsetof(OSSFileInfo, referencePath) == 16, "x86_64 layout");
static_assert(offsetof(OSSFileInfo, type) == 24, "x86_64 layout");
static_assert(offsetof(OSSFileInfo, permissions) == 28, "x86_64 layout");
static_assert(offsetof(OSSFileInfo, uid) == 32, "x86_64 layout");
static_assert(offsetof(OSSFileInfo, gid) == 36, "x86_64 layout");
static_assert(offsetof(OSSFileInfo, modified) == 40, "x86_64 layout");
static_assert(sizeof(OSSFileGetInfoParam) == 40, "x86_64 layout");
static_assert(offsetof(OSSFileGetInfoParam, path) == 8, "x86_64 layout");
static_assert(offsetof(OSSFileGetInfoParam, flags) == 24, "x86_64 layout");
static_assert(offsetof(OSSFileGetInfoParam, handle) == 32, "x86_64 layout");
static_assert(sizeof(OSSPathTestParam) == 24, "x86_64 layout");
static_assert(offsetof(OSSPathTestParam, path) == 8, "x86_64 layout");
static_assert(offsetof(OSSPathTestParam, flags) == 16, "x86_64 layout");
static_assert(sizeof(OSSDirectoryListingParam) == 24, "x86_64 layout");
static_assert(offsetof(OSSDirectoryListingParam, path) == 8, "x86_64 layout");
static_assert(offsetof(OSSDirectoryListingParam, type) == 16, "x86_64 layout");
static_assert(offsetof(OSSDirectoryListingParam, reserved) == 20, "x86_64 layout");
static_assert(sizeof(FileNode) == 24, "x86_64 layout");
static_assert(offsetof(FileNode, next) == 8, "x86_64 layout");
static_assert(offsetof(FileNode, value) == 16, "x86_64 layout");
static_assert(sizeof(OSSDirectoryListing) == 56, "x86_64 layout");
static_assert(offsetof(OSSDirectoryListing, head) == 8, "x86_64 layout");
static_assert(offsetof(OSSDirectoryListing, fileList) == 16, "x86_64 layout");
static_assert(offsetof(OSSDirectoryListing, fileListSize) == 24, "x86_64 layout");
static_assert(offsetof(OSSDirectoryListing, cursor) == 32, "x86_64 layout");
static_assert(offsetof(OSSDirectoryListing, tail) == 40, "x86_64 layout");
static_assert(offsetof(OSSDirectoryListing, rewound) == 48, "x86_64 layout");
static_assert(offsetof(OSSDirectoryListing, active) == 49, "x86_64 layout");
static_assert(sizeof(OSSDirectoryCreateParam) == 24, "x86_64 layout");
static_assert(offsetof(OSSDirectoryCreateParam, path) == 8, "x86_64 layout");
static_assert(offsetof(OSSDirectoryCreateParam, permissions) == 16, "x86_64 layout");
static_assert(offsetof(OSSDirectoryCreateParam, mode) == 20, "x86_64 layout");
static_assert(sizeof(OSSDirectoryDeleteParam) == 24, "x86_64 layout");
static_assert(offsetof(OSSDirectoryDeleteParam, path) == 8, "x86_64 layout");
static_assert(offsetof(OSSDirectoryDeleteParam, flags) == 16, "x86_64 layout");
#endif

#endif /* __cplusplus */

#endif
