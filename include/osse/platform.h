/* Platform facts established once when the library is loaded. Each flag is 0 at load and set
 * to 1 by the identification; read-only afterwards. */
#ifndef OSSE_PLATFORM_H
#define OSSE_PLATFORM_H

#include "osse/base.h"

/* Windows 95 family (non-NT) and its members. */
OSSE_C_API Uint8 g_bIsPlatformID_Win32On95;
OSSE_C_API Uint8 g_bIsPlatformID_Win98;
OSSE_C_API Uint8 g_bIsPlatformID_WinMe;
/* NT family; each later version also sets the flags of the earlier ones. */
OSSE_C_API Uint8 g_bIsPlatformID_Win32OnNT;
OSSE_C_API Uint8 g_bIsPlatformID_Win2k;
OSSE_C_API Uint8 g_bIsPlatformID_WinXP;
OSSE_C_API Uint8 g_bIsPlatformID_Win2k3;
OSSE_C_API Uint8 g_bIsPlatformID_Vista;
OSSE_C_API Uint8 g_bIsPlatformID_Longhorn; /* version 6 and above, not a personal edition */
/* Terminal services are present (both are set together). */
OSSE_C_API Uint8 g_bRunningTerminalService;
OSSE_C_API Uint8 g_bRunningTerminalServiceRemoteAdminMode;

#endif
