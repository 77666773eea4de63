// The log and error-handler services used by the allocator and the platform identification.
#include "mem/osse_deps.h"

#include <string.h>

namespace ossdiag {
const OSSLogFacility* defaultFacility();
}

namespace osse_deps {

namespace {
const Uint32 kFnMemAlloc = 0x081A0058u;          // _ossMemAlloc
const Uint32 kFnMemFree = 0x081A0059u;           // _ossMemFree
const Uint32 kFnCheckTerminalServices = 0x081A00A7u;
const Uint32 kFailedMalloc = 0x08140020u;
}  // namespace

Uint32 reportAllocFailure(Uint32 osError, Uint32 total, Uint32 flags)
{
    OSSErrorContext ctx;
    ctx.init();
    ctx.setAllocationSize(total);
    return ossSystemErrorHandler(kFnMemAlloc, kFailedMalloc, osError, 40, OSS_LEVEL_INFO, 0, &ctx,
                                 2, OSSLogItem{&total, 4, OSS_ITEM_UNSIGNED},
                                 OSSLogItem{&flags, 4, OSS_ITEM_HEX});
}

void logNullFree(const char* text)
{
    ossLog(nullptr, kFnMemFree, ECF_MEM_NULL_POINTER, 10, OSS_LEVEL_ERROR, 1,
           OSSLogItem{text, (Sint32)strlen(text), OSS_ITEM_STRING});
}

void logLookupFailure(Uint32 failedCall, Uint32 osError, Uint32 probe, const char* name)
{
    Uint32 level = OSS_LEVEL_INFO;
    const Uint32 code = ossErrorMapSystem(kFnCheckTerminalServices, probe, failedCall, osError, &level);
    ossLogSysRC(nullptr, kFnCheckTerminalServices, failedCall, osError, code, probe, level,
                (Sint32)0x80000001u, OSSLogItem{name, (Sint32)strlen(name), OSS_ITEM_STRING});
}


const char* defaultFacilityLogFile()
{
    // The file of the default facility when it is open; its path is read without its latch, since an
    // assertion may fail while that very latch is held.
    const OSSLogFacility* f = ossdiag::defaultFacility();
    if (!f->open || !f->path[0]) return nullptr;
    return f->path;
}

}  // namespace osse_deps
