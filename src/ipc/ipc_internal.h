// What the IPC objects and process creation share inside the library.
#ifndef OSSE_SRC_IPC_IPC_INTERNAL_H
#define OSSE_SRC_IPC_IPC_INTERNAL_H

#include <windows.h>

#include "osse/base.h"

// The security attributes a new kernel object is created with: a copy of the registered record,
// or the default built into the caller's descriptor buffer (which must live until the object is
// created). Returns 0 or the mapped code of the failed security call.
Uint32 ossIPCSecurityAttributes(SECURITY_DESCRIPTOR* descriptor, SECURITY_ATTRIBUTES* attrs);

#endif
