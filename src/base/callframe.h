// The frame every exported operation runs in: it names the operation by its function
// identifier, checks the parameter object, sends operating-system failures to the one handler,
// logs the failures the operation detects itself, and brackets the operation with the trace
// entry and exit hooks.
//
//     Uint32 OSSHFile::close()
//     {
//         OSSCallFrame f(0x081A0003);
//         if (!CloseHandle(file)) {
//             f.ctx.setTargetFileHandle(file);
//             return f.systemError(0x08140069, GetLastError(), 10, ossItemHex(file));
//         }
//         ...
//         return f.ret(0);
//     }
#ifndef OSSE_SRC_BASE_CALLFRAME_H
#define OSSE_SRC_BASE_CALLFRAME_H

#include <string.h>

#include <type_traits>

#include "osse/error.h"
#include "osse/log.h"
#include "trace/gtrace_frame.h"

// ---- Data items ------------------------------------------------------------------------------
// The value must outlive the call the item is passed to (a temporary lives to the end of the
// full expression, which is enough for `f.systemError(..., ossItemHex(x))`).
template <class T>
inline OSSLogItem ossItemHex(const T& v)
{
    return OSSLogItem{&v, (Sint32)sizeof(T), OSS_ITEM_HEX};
}
template <class T>
inline OSSLogItem ossItemSigned(const T& v)
{
    return OSSLogItem{&v, (Sint32)sizeof(T), OSS_ITEM_SIGNED};
}
template <class T>
inline OSSLogItem ossItemUnsigned(const T& v)
{
    return OSSLogItem{&v, (Sint32)sizeof(T), OSS_ITEM_UNSIGNED};
}
template <class T>
inline OSSLogItem ossItemBool(const T& v)
{
    return OSSLogItem{&v, (Sint32)sizeof(T), OSS_ITEM_BOOL};
}
inline OSSLogItem ossItemChar(const char& c)
{
    return OSSLogItem{&c, 1, OSS_ITEM_CHAR};
}
inline OSSLogItem ossItemString(const char* s)
{
    return OSSLogItem{s, s ? (Sint32)strlen(s) : 0, OSS_ITEM_STRING};
}
inline OSSLogItem ossItemBytes(const void* p, Uint32 size)
{
    return OSSLogItem{p, (Sint32)size, OSS_ITEM_BYTES};
}

// ---- The frame -------------------------------------------------------------------------------
// Only data items may follow the fixed arguments of the handler and the log.
template <class... I>
constexpr bool ossAllItems = (std::is_same<I, OSSLogItem>::value && ...);

class OSSCallFrame {
public:
    explicit OSSCallFrame(Uint32 functionId) : id_(functionId)
    {
        ctx.init();
        if (gtraceFrameOn()) gtraceFrameEntry(id_);
    }
    ~OSSCallFrame()
    {
        if (gtraceFrameOn()) gtraceFrameExit(id_, &rc_);
    }
    OSSCallFrame(const OSSCallFrame&) = delete;
    OSSCallFrame& operator=(const OSSCallFrame&) = delete;

    Uint32 id() const { return id_; }

    OSSErrorContext ctx;

    // The first word of a parameter object is its version. Returns 0 when the object may be
    // used, else the code to return (already logged and recorded).
    Uint32 checkParam(const void* param)
    {
        if (!param) return fail(0x9000000Cu, 1111, OSS_LEVEL_ERROR);
        Uint32 version;
        memcpy(&version, param, sizeof version);
        if (version < OSS_MIN_VERSION) {
            const Uint32 minimum = OSS_MIN_VERSION;
            return fail(0x90000004u, 1112, OSS_LEVEL_ERROR, ossItemHex(version),
                        ossItemHex(minimum));
        }
        return 0;
    }

    // A pointer argument the operation cannot do without: null is refused like a null
    // parameter object. Returns 0 when it may be used.
    Uint32 checkPointer(const void* p)
    {
        return p ? 0 : fail(0x9000000Cu, 1111, OSS_LEVEL_ERROR);
    }

    // An operating-system or C-runtime call failed: the handler maps, logs and analyses it.
    template <class... I>
    Uint32 systemError(Uint32 failedCall, Uint32 osError, Uint32 probe, I... items)
    {
        static_assert(ossAllItems<I...>, "pass data items (ossItemHex, ossItemString, ...)");
        const Uint32 rc = ossSystemErrorHandler(id_, failedCall, osError, probe, 5, 0, &ctx,
                                                (Uint32)sizeof...(items), items...);
        if (gtraceFrameOn()) gtraceFrameError(id_, probe, &rc);
        return ret(rc);
    }

    // An operating-system failure whose code the operation needs but does not log here (it is
    // expected, or the operation reports it in a record of its own): mapped and recorded in the
    // trace, no log record and no analysis.
    Uint32 mapError(Uint32 failedCall, Uint32 osError, Uint32 probe)
    {
        const Uint32 rc = ossSystemErrorHandler(id_, failedCall, osError, probe, 5,
                                                OSS_SEH_MAP_ONLY, &ctx, 0);
        if (gtraceFrameOn()) gtraceFrameError(id_, probe, &rc);
        return ret(rc);
    }

    // An operating-system failure that the operation reports under a code of its own choice
    // (every failure to open a segment is "does not exist"): the record names the call and its
    // error number, with the mapping's severity, and carries `code` as its message.
    template <class... I>
    Uint32 systemErrorAs(Uint32 code, Uint32 failedCall, Uint32 osError, Uint32 probe,
                         I... items)
    {
        static_assert(ossAllItems<I...>, "pass data items (ossItemHex, ossItemString, ...)");
        Uint32 level = OSS_LEVEL_INFO;
        ossErrorMapSystem(id_, probe, failedCall, osError, &level);
        ossLogSysRC(nullptr, id_, failedCall, osError, code, probe, level,
                    (Sint32)sizeof...(items), items...);
        if (gtraceFrameOn()) gtraceFrameError(id_, probe, &code);
        return ret(code);
    }

    // An inner operation of the library failed (and logged its own record): the failure is
    // logged again under this operation, naming the inner one, and `code` is returned.
    template <class... I>
    Uint32 innerError(Uint32 innerId, Uint32 innerCode, Uint32 probe, Uint32 code, I... items)
    {
        static_assert(ossAllItems<I...>, "pass data items (ossItemHex, ossItemString, ...)");
        ossLogRC(nullptr, id_, innerId, innerCode, 0, probe, OSS_LEVEL_ERROR,
                 (Sint32)sizeof...(items), items...);
        if (gtraceFrameOn()) gtraceFrameError(id_, probe, &code);
        return ret(code);
    }
    Uint32 innerError(Uint32 innerId, Uint32 innerCode, Uint32 probe)
    {
        return innerError(innerId, innerCode, probe, innerCode);
    }

    // Logs a record of this operation; returns what ossLog returns.
    template <class... I>
    Uint32 log(Uint32 probe, Uint32 level, I... items)
    {
        static_assert(ossAllItems<I...>, "pass data items (ossItemHex, ossItemString, ...)");
        return ossLog(nullptr, id_, 0, probe, level, (Sint32)sizeof...(items), items...);
    }

    // A failure the operation detected itself: logged with the code as its message, recorded
    // and returned.
    template <class... I>
    Uint32 fail(Uint32 code, Uint32 probe, Uint32 level, I... items)
    {
        static_assert(ossAllItems<I...>, "pass data items (ossItemHex, ossItemString, ...)");
        ossLog(nullptr, id_, code, probe, level, (Sint32)sizeof...(items), items...);
        if (gtraceFrameOn()) gtraceFrameError(id_, probe, &code);
        return ret(code);
    }

    // A failure already reported by an inner operation: only the trace records where this
    // operation passed it on.
    Uint32 passOn(Uint32 code, Uint32 probe)
    {
        if (gtraceFrameOn()) gtraceFrameError(id_, probe, &code);
        return ret(code);
    }

    Uint32 ret(Uint32 rc)
    {
        rc_ = rc;
        return rc;
    }

private:
    Uint32 id_;
    Uint32 rc_ = 0;
};

#endif
