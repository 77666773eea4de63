// TEMPORARY: minimal call frame and error handler so the file handle builds and runs before the
// shared call frame lands. Removed once base/callframe.h is on main.
#ifndef OSSE_HFILE_STANDIN_H
#define OSSE_HFILE_STANDIN_H

#include <windows.h>

#include "osse/base.h"

struct OSSLogItem {
    const void* p;
    Sint32 size;
    Sint32 type;
};

template <class T>
inline OSSLogItem ossItemHex(const T& v) { return {&v, (Sint32)sizeof(T), -1}; }
template <class T>
inline OSSLogItem ossItemSigned(const T& v) { return {&v, (Sint32)sizeof(T), -2}; }
template <class T>
inline OSSLogItem ossItemUnsigned(const T& v) { return {&v, (Sint32)sizeof(T), -3}; }
inline OSSLogItem ossItemString(const char* s) { return {s, s ? (Sint32)lstrlenA(s) : 0, -5}; }

struct OSSErrorContext {
    Uint32 version = 0x0A050004u;
    Uint64 valid = 0;
    const char* targetFileName = nullptr;
    Uint32 targetFileHandle = 0;
    Uint32 ioSize = 0;
    Uint64 value64 = 0;
    Uint32 permissions = 0;
    Uint32 allocationSize = 0;
    void setTargetFileName(const char* n) { if (n) { targetFileName = n; valid |= 1; } }
    void setTargetFileHandle(const void* h) { targetFileHandle = (Uint32)(uintptr_t)h; valid |= 2; }
    void setIOSize(Uint32 n) { ioSize = n; valid |= 4; }
    void setPermissions(Uint32 p) { permissions = p; valid |= 16; }
};

inline Uint32 standinMap(Uint32 call, Uint32 err)
{
    switch (err) {
    case 0: return 0x90000007u;
    case 5: return 0x90000001u;
    case 183: return call == 0x0814006Eu ? 0x9000004Au : 0x9000001Bu;
    case 80: return 0x9000001Bu;
    case 2: return 0x9000001Au;
    case 3: return 0x90000037u;
    case 6: case 87: case 1004: return 0x9000000Cu;
    case 33: return 0x90000014u;
    case 32: return 0x9000003Fu;
    case 38: return 0x90000021u;
    case 112: return 0x90000028u;
    case 123: return 0x9000001Eu;
    case 487: case 1132: return 0x9000000Au;
    case 8: case 14: case 1455: return 0x9000000Du;
    default: return 0x90000007u;
    }
}

class OSSCallFrame {
public:
    explicit OSSCallFrame(Uint32 functionId) : id_(functionId) {}
    Uint32 id() const { return id_; }
    OSSErrorContext ctx;
    Uint32 checkParam(const void* param)
    {
        if (!param) return 0x9000000Cu;
        if (*static_cast<const Uint32*>(param) < OSS_MIN_VERSION) return 0x90000004u;
        return 0;
    }
    template <class... I>
    Uint32 systemError(Uint32 failedCall, Uint32 osError, Uint32, I...)
    {
        return standinMap(failedCall, osError);
    }
    template <class... I>
    Uint32 log(Uint32, Uint32, I...) { return 0; }
    Uint32 ret(Uint32 rc) { return rc; }

private:
    Uint32 id_;
};

#endif
