// The assertion variant the allocator reports corruption with.
#ifndef OSSE_ASSERT_INTERNAL_H
#define OSSE_ASSERT_INTERNAL_H

#include "osse/base.h"

namespace osse_diag {

// The non-fatal failure action with a dump directory and no data items.
void assertFailedWithDumpDir(const char* expression, const char* file, Uint32 line,
                             const char* dumpDir);

}  // namespace osse_diag

#endif
