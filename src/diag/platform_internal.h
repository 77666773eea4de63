// Platform identification, run once by the load sequence.
#ifndef OSSE_PLATFORM_INTERNAL_H
#define OSSE_PLATFORM_INTERNAL_H

#include "osse/base.h"

namespace osse_platform {

// Sets the platform flags, the terminal-services flags and the 32-on-64 byte.
void identifyPlatform();

// 1 when the process runs as a 32-bit process on a 64-bit system.
extern Uint8 g_bIsWow64Process;

}  // namespace osse_platform

#endif
