// The instruction, stack and frame pointers of this build's CONTEXT (Eip/Esp/Ebp on x86,
// Rip/Rsp/Rbp on x86_64), and the first stack-walk frame taken from them.
#ifndef OSSE_TEST_CONTEXT_REGS_H
#define OSSE_TEST_CONTEXT_REGS_H

#include <windows.h>

#include <dbghelp.h>

#include "osse/base.h"

#if OSSE_PTR32
#define CONTEXT_IP(c) ((c).Eip)
#define CONTEXT_SP(c) ((c).Esp)
#define CONTEXT_FP(c) ((c).Ebp)
#else
#define CONTEXT_IP(c) ((c).Rip)
#define CONTEXT_SP(c) ((c).Rsp)
#define CONTEXT_FP(c) ((c).Rbp)
#endif

inline STACKFRAME64 firstFrame(const CONTEXT& ctx)
{
    STACKFRAME64 frame = {};
    frame.AddrPC.Offset = CONTEXT_IP(ctx);
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = CONTEXT_FP(ctx);
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Offset = CONTEXT_SP(ctx);
    frame.AddrStack.Mode = AddrModeFlat;
    return frame;
}

#endif
