/* OSSPrimitiveFileOp: a minimal file wrapper for code that runs while the process may be in a
 * bad state (assertion failures, trap files). No call frame, no trace, no logging, no
 * allocation: every operation returns the raw OS error code (0 for success) or nothing. */
#ifndef OSSE_PRIMFILE_H
#define OSSE_PRIMFILE_H

#include "osse/base.h"

#ifdef __cplusplus

/* Open flags. */
#define OSS_PRIMFILE_READ          0x01u /* read access only (wins over WRITE) */
#define OSS_PRIMFILE_WRITE         0x02u /* write access only; neither flag: read and write */
#define OSS_PRIMFILE_OPEN_EXISTING 0x08u /* the file must exist (also when neither flag is set) */
#define OSS_PRIMFILE_OPEN_ALWAYS   0x10u /* create the file when missing (unless OPEN_EXISTING) */

/* Size of fwrite's text buffer: a longer expansion is cut to 2047 characters. */
#define OSS_PRIMFILE_FWRITE_BUFFER 2048u

class OSSE_API OSSPrimitiveFileOp {
public:
    /* Byte offset from the start of the file: files are addressed with 32-bit offsets. */
    typedef Uint32 offsetType;

    OSSPrimitiveFileOp();
    /* As open(name, flags); the outcome is seen with isValid(). */
    OSSPrimitiveFileOp(const char* name, Uint32 flags);

    /* Sets the object up as not open. */
    void constructor();

    /* Opens (or creates) name, sharing read and write. 0, or the OS error. */
    int open(const char* name, Uint32 flags);
    /* Uses the process's standard output; close() leaves that handle open. */
    void openConsole();
    /* True when a file is open. */
    bool isValid() const;
    /* Closes the file (the standard output of openConsole stays open). */
    void close();

    /* One read of at most length bytes. 0 with *bytesRead = the count, or the OS error with
     * *bytesRead = 0. */
    int read(Uint32 length, void* buffer, Uint32* bytesRead);
    /* One write; length 0 writes the NUL-terminated string at buffer. An object that is not
     * open writes nothing and returns 0. 0, or the OS error; a short write is not retried. */
    int write(const void* buffer, Uint32 length);
    /* printf-style write of at most 2047 characters. */
    void fwrite(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((__format__(ms_printf, 2, 3)))
#endif
        ;

    /* Size of the file (low 32 bits). 0, or the OS error with *size = 0. */
    int getSize(offsetType* size);
    /* The current position in the file. */
    offsetType getCurrentOffset();
    /* Moves to an offset from the start. */
    void seekToOffset(offsetType offset);
    /* Moves to the end of the file. */
    void seekToEnd();

protected:
    /* Takes over an open system handle. */
    void setFileHandle(void* handle);

private:
    void* m_hFile; /* OS file handle; INVALID_HANDLE_VALUE when not open */
};

#endif /* __cplusplus */

#endif
