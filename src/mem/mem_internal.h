// Shared between the allocator, the memory-debugging configuration and the reports.
#ifndef OSSE_MEM_INTERNAL_H
#define OSSE_MEM_INTERNAL_H

#include "osse/mem.h"

namespace osse_mem {

// The process's control block (g_pMemDebugCB points here in full mode).
extern OSSMemDebugCB g_memDebugCB;

// True when both user hooks are installed (blocks then come from the host).
bool userHooksInstalled();

// Verifies the block at *ppMem; see _ossMemAllocCheck. With honourHooks, installed user hooks
// make it return 0 at once (their blocks are the host's).
Sint32 checkBlock(void** ppMem, const char* file, Uint32 line, bool release, bool honourHooks);

// Fails the nth full-mode allocation from now on (0: none) and restarts the count; with a
// non-zero thread id only that thread's allocations count.
void setFailAllocation(Uint32 nth, Uint32 thread);

// Zeroes the control block and initialises its latch (load time).
void resetControlBlock();

// Bytes obtained from malloc for a block of `size` in `mode` with the given pad units; 0 when
// the total does not fit in 32 bits.
Uint32 blockTotal(Uint32 mode, Uint32 size, Uint32 frontPadUnits, Uint32 backPadUnits);

// Load-time configuration from OSSEMEMDBG.
void configureFromEnvironment();

// The allocation list report (_ossMemAllocList). At process exit the latch is only tried: a
// thread ended by the exit may hold it for good; the report then says it was skipped.
Uint32 allocListReport(const char* file, Uint32 line, bool toFile, bool atProcessExit);

// ossTerminate: the leak report when memory FFDC is on and a path is set.
Uint32 terminate(bool atProcessExit);

}  // namespace osse_mem

#endif
