// The one handler every operating-system failure goes through: map, log, analyse.
#include <stdarg.h>
#include <string.h>

#include "osse/error.h"
#include "osse/log.h"

namespace {

const char kAnalysisHint[] =
    "Search for ossError*Analysis probe point after this log entry for further\n"
    "self-diagnosis of this problem.";

constexpr Uint64 kIoBits = OSS_ERRCTX_TARGET_FILE_NAME | OSS_ERRCTX_TARGET_FILE_HANDLE |
                           OSS_ERRCTX_IO_SIZE | OSS_ERRCTX_VALUE64 | OSS_ERRCTX_PERMISSIONS;

}  // namespace

extern "C" OSSE_API Uint32 ossSystemErrorHandler(Uint32 functionId, Uint32 failedCall,
                                                 Uint32 osError, Uint32 probe,
                                                 Uint32 severityCeiling, Uint32 flags,
                                                 OSSErrorContext* context, Uint32 itemCount, ...)
{
    Uint32 level = 0;
    const Uint32 code = ossErrorMapSystem(functionId, probe, failedCall, osError, &level);
    if (flags & OSS_SEH_MAP_ONLY) return code;

    // The ceiling can only make a record more severe, except that 6 makes it an event.
    if (level > severityCeiling || severityCeiling == OSS_LEVEL_EVENT) level = severityCeiling;

    const bool analysis = context != nullptr && !(flags & OSS_SEH_NO_ANALYSIS);
    OSSErrorAnalysisRequest request = {};
    OSSErrorAnalysisIODetails io = {};
    OSSErrorAnalysisMemoryDetails memory = {};
    if (context) {
        const Uint64 valid = context->valid;
        if (valid & OSS_ERRCTX_ALLOCATION_SIZE) {
            request.kind = OSS_ERRANALYSIS_MEMORY;
            memory.allocationSize = context->allocationSize;
            request.details = &memory;
        } else if (valid & kIoBits) {
            request.kind = OSS_ERRANALYSIS_IO;
            io.targetFileName =
                (valid & OSS_ERRCTX_TARGET_FILE_NAME) ? context->targetFileName : nullptr;
            io.targetFileHandle =
                (valid & OSS_ERRCTX_TARGET_FILE_HANDLE) ? context->targetFileHandle : 0xFFFFFFFFu;
            io.ioSize = (valid & OSS_ERRCTX_IO_SIZE) ? context->ioSize : 0;
            io.value64 = (valid & OSS_ERRCTX_VALUE64) ? context->value64 : 0;
            request.details = &io;
        } else {
            request.kind = OSS_ERRANALYSIS_GENERAL;
        }
    }

    va_list items;
    va_start(items, itemCount);
    const OSSLogItem nested = {&items, (Sint32)itemCount, OSS_ITEM_NESTED};
    if (itemCount == 0) {
        ossLogSysRC(nullptr, functionId, failedCall, osError, code, probe, level, 0);
    } else if (!analysis) {
        ossLogSysRC(nullptr, functionId, failedCall, osError, code, probe, level, 1, nested);
    } else {
        const OSSLogItem hint = {kAnalysisHint, (Sint32)(sizeof kAnalysisHint - 1),
                                 OSS_ITEM_STRING};
        ossLogSysRC(nullptr, functionId, failedCall, osError, code, probe, level, 2, nested,
                    hint);
    }
    va_end(items);

    if (analysis) {
        request.version = OSS_CURRENT_VERSION;
        request.functionId = functionId;
        request.probe = probe;
        request.failedCall = failedCall;
        request.osError = osError;
        request.level = level;
        ossErrorAnalysis(&request);
    }
    return code;
}
