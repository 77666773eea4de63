// The blank-padded comparison as the library exports it: its padded copy comes from the library
// allocator, and a failed allocation is logged. The comparison itself, the formatting and the
// parsers are in strtext.cpp.
#include "base/strtext.h"

#include "osse/ecf.h"
#include "osse/error.h"
#include "osse/log.h"
#include "osse/mem.h"
#include "osse/strutil.h"

namespace {

constexpr Uint32 kFidStrCompWithPads = OSS_FUNC_ID(OSS_FN_ossStrCompWithPads);  // 0x081A00BA
constexpr Uint32 kFidMemAlloc = OSS_FUNC_ID(OSS_FN_ossMemAlloc);                // 0x081A0058
static_assert(kFidStrCompWithPads == 0x081A00BAu && kFidMemAlloc == 0x081A0058u, "identifiers");
constexpr Sint32 kArgMaskFirst = static_cast<Sint32>(0x80000001u);  // argument 1 only

// ---------------------------------------------------------------------------------------------
// The padded copy comes from the library allocator, so memory debugging sees it.
OSSErr strAlloc(void** pp, Uint32 size)
{
    return OSS_MEM_ALLOC(pp, size, 0);
}

void strFree(void** pp)
{
    OSS_MEM_FREE(pp);
}

// A failed allocation of the padded copy: one record naming the allocator, its code and the
// size asked for (argument 1, unsigned, 4 bytes).
void logAllocFailure(OSSErr rc, Uint32 probe, Uint32 size)
{
    ossLogRC(nullptr, kFidStrCompWithPads, kFidMemAlloc, rc, 0, probe, OSS_LEVEL_ERROR, kArgMaskFirst,
             &size, static_cast<Sint32>(sizeof size), OSS_ITEM_UNSIGNED);
}

}  // namespace

extern "C" OSSE_API int ossStrCompWithPads(const char* a, const char* b, Uint32 mode)
{
    if (!a) a = "";
    if (!b) b = "";
    // The shorter string (b when they are of equal length) is copied and blank-padded.
    const osse_str::PadPlan plan = osse_str::planPadding(a, b);
    // The allocator takes 32-bit sizes: a copy of 4 GiB or more cannot be made (x86_64 only),
    // and a truncated size would be written past.
    if (plan.longer >= 0xFFFFFFFFull) {
        logAllocFailure(ECF_INVALID_PARAMETER, plan.padB ? 10u : 20u, 0xFFFFFFFFu);
        return -1;
    }
    const Uint32 size = static_cast<Uint32>(plan.longer + 1);

    void* mem = nullptr;
    const OSSErr rc = strAlloc(&mem, size);
    if (rc != OSS_OK || !mem) {
        logAllocFailure(rc, plan.padB ? 10u : 20u, size);
        return -1;
    }
    const int result = osse_str::comparePadded(a, b, plan, mode, static_cast<char*>(mem));
    strFree(&mem);
    return result;
}
