// Security pieces other sources of the library use without a call frame.
#ifndef OSSE_DIAG_SECURITY_INTERNAL_H
#define OSSE_DIAG_SECURITY_INTERNAL_H

#include <windows.h>

namespace osse_security {

// The native system information (GetNativeSystemInfo, else GetSystemInfo), with no frame, no
// log and no trace: trap files call it from a failing process. False when neither is found.
bool nativeSystemInfo(SYSTEM_INFO* info);

}  // namespace osse_security

#endif
