// The pipe: only the shape of the interface exists on this platform. Creating succeeds without
// making a pipe, writing reports ECF_NOT_SUPPORTED, and the ends are plain fields.
#include "osse/ecf.h"
#include "osse/ipc.h"

#include "base/callframe.h"

namespace {

constexpr Uint32 kCreate = OSS_FUNC_ID(OSS_FN_OSSHPipe_create);
constexpr Uint32 kDestroy = OSS_FUNC_ID(OSS_FN_OSSHPipe_destroy);
constexpr Uint32 kCloseReadFD = OSS_FUNC_ID(OSS_FN_OSSHPipe_closeReadFD);
constexpr Uint32 kWrite = OSS_FUNC_ID(OSS_FN_OSSHPipe_write);
constexpr Uint32 kCloseFD = OSS_FUNC_ID(OSS_FN_OSSHPipe_closeFD);
constexpr Uint32 kCloseWriteFD = OSS_FUNC_ID(OSS_FN_OSSHPipe_closeWriteFD);
constexpr Uint32 kSetReadFD = OSS_FUNC_ID(OSS_FN_OSSHPipe_setReadFD);
constexpr Uint32 kSetWriteFD = OSS_FUNC_ID(OSS_FN_OSSHPipe_setWriteFD);
constexpr Uint32 kGetReadFD = OSS_FUNC_ID(OSS_FN_OSSHPipe_getReadFD);
constexpr Uint32 kGetWriteFD = OSS_FUNC_ID(OSS_FN_OSSHPipe_getWriteFD);

static_assert(kCreate == 0x081A00AFu && kDestroy == 0x081A00B0u && kWrite == 0x081A00B2u &&
                  kCloseReadFD == 0x081A00B3u && kCloseFD == 0x081A00B4u &&
                  kCloseWriteFD == 0x081A00B5u && kSetReadFD == 0x081A00B6u &&
                  kSetWriteFD == 0x081A00B7u && kGetReadFD == 0x081A00B8u &&
                  kGetWriteFD == 0x081A00B9u,
              "operation identifiers");

constexpr intptr_t kNone = -1;

}  // namespace

void OSSHPipe::constructor()
{
    readFD = kNone;
    writeFD = kNone;
    bufferSize = 0x1000;
}

Uint32 OSSHPipe::create(const OSSPipeCreateParam*)
{
    OSSCallFrame f(kCreate);
    return f.ret(0);
}

Uint32 OSSHPipe::write(OSSPipeWriteParam*, OSSPipeWriteInfo*)
{
    OSSCallFrame f(kWrite);
    return f.passOn(ECF_NOT_SUPPORTED, 10);
}

// Nothing is ever opened here, so there is nothing to close.
Uint32 OSSHPipe::closeFD(intptr_t, Uint32)
{
    OSSCallFrame f(kCloseFD);
    return f.ret(0);
}

Uint32 OSSHPipe::closeReadFD()
{
    OSSCallFrame f(kCloseReadFD);
    return f.ret(closeFD(readFD, kCloseReadFD));
}

Uint32 OSSHPipe::destroy()
{
    OSSCallFrame f(kDestroy);
    if (readFD != kNone) {
        closeFD(readFD, kDestroy);
        readFD = kNone;
    }
    if (writeFD != kNone) {
        closeFD(writeFD, kDestroy);
        writeFD = kNone;
    }
    return f.ret(0);
}

Uint32 OSSHPipe::closeWriteFD()
{
    OSSCallFrame f(kCloseWriteFD);
    return f.ret(closeFD(writeFD, kCloseWriteFD));
}

void OSSHPipe::setReadFD(intptr_t fd)
{
    OSSCallFrame f(kSetReadFD);
    readFD = fd;
}

void OSSHPipe::setWriteFD(intptr_t fd)
{
    OSSCallFrame f(kSetWriteFD);
    writeFD = fd;
}

intptr_t OSSHPipe::getReadFD()
{
    OSSCallFrame f(kGetReadFD);
    return readFD;
}

intptr_t OSSHPipe::getWriteFD()
{
    OSSCallFrame f(kGetWriteFD);
    return writeFD;
}
