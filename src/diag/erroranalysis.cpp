// Error analysis: receives the request of the system error handler after its record is written.
#include "osse/error.h"

extern "C" OSSE_API void ossErrorAnalysis(const OSSErrorAnalysisRequest* request)
{
    if (!request) return;
    // The analyses (user, limits, memory, target file, path permissions, file system) are not
    // gathered yet: the request is accepted and nothing is written.
}
