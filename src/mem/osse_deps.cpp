// The log and error-handler services used by the allocator and the platform identification.
#include "mem/osse_deps.h"

namespace osse_deps {

Uint32 reportAllocFailure(Uint32, Uint32, Uint32)
{
    return ECF_NO_MEMORY;
}

void logNullFree(const char*)
{
}

void logLookupFailure(Uint32, Uint32, Uint32, const char*)
{
}

const char* defaultFacilityLogFile()
{
    return nullptr;
}

}  // namespace osse_deps
