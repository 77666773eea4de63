/* Error-code framework: the 32-bit function identifiers and return codes of the whole product
 * family, and the lookups that turn them back into names and descriptions.
 *
 * Function identifier: product (bits 27-31, 1 to 3), component (bits 19-26, from 1), function
 * kind (bits 16-18: 2 library operation, 4 operating-system call; no lookup reads it) and
 * function (bits 0-15, from 1).
 * Return code ("ECF code"): error (bit 31), set (bits 28-30, only set 1 is defined), reserved
 * (bits 23-27, 0 in every defined code, ignored by the lookups) and index (bits 0-22, 1 to 1622).
 * 0 is success.
 *
 * The name tables are static and read-only; every name is returned by pointer and never freed.
 * The component and function counts include the placeholder entry 0, so valid indices run from
 * 1 to count - 1 (in product 1, component 1 is a placeholder too); the error set's count is the
 * highest valid index. The tables name 3 products, 253 components, 83,038 functions (placeholder
 * entries not counted) and 1,622 return codes, three of them warnings. Lookups return 0 or null
 * for anything out of range; the find functions scan in index order from 1 and return the first
 * exact, case-sensitive match. */
#ifndef OSSE_ECF_H
#define OSSE_ECF_H

#include "osse/base.h"

/* ---- Identifier fields ---------------------------------------------------------------------- */

/* Fields of a function identifier: product (bits 27-31), component (bits 19-26), kind (bits 16-18)
 * and function index (bits 0-15); ECF_MAKE_FUNC_ID builds one. */
#define ECF_FUNC_PRODUCT(id)   ((Uint32)(id) >> 27)
#define ECF_FUNC_COMPONENT(id) (((Uint32)(id) >> 19) & 0xFFu)
#define ECF_FUNC_KIND(id)      (((Uint32)(id) >> 16) & 0x7u)
#define ECF_FUNC_INDEX(id)     ((Uint32)(id) & 0xFFFFu)
#define ECF_MAKE_FUNC_ID(product, component, kind, function)                         \
    (((Uint32)(product) << 27) | ((Uint32)(component) << 19) | ((Uint32)(kind) << 16) | \
     (Uint32)(function))

/* Fields of a return code: bit 31 marks an error (clear: a warning), bits 28-30 the set, bits 0-22
 * the index; ECF_MAKE_ERROR and ECF_MAKE_WARNING build one. */
#define ECF_CODE_IS_ERROR(code) (((Uint32)(code) >> 31) != 0)
#define ECF_CODE_SET(code)      (((Uint32)(code) >> 28) & 0x7u)
#define ECF_CODE_INDEX(code)    ((Uint32)(code) & 0x7FFFFFu)
#define ECF_MAKE_ERROR(set, index)   (0x80000000u | ((Uint32)(set) << 28) | (Uint32)(index))
#define ECF_MAKE_WARNING(set, index) (((Uint32)(set) << 28) | (Uint32)(index))

#define ECF_FUNC_KIND_LIBRARY 2u /* an operation of this library */
#define ECF_FUNC_KIND_SYSCALL 4u /* an operating-system or C-runtime call */

#define ECF_PRODUCT_COMMON 1u /* the family's common infrastructure: this library's product */
/* The family's tools. */
#define ECF_PRODUCT_TOOLS  2u
/* The family's database engine. */
#define ECF_PRODUCT_ENGINE 3u
#define ECF_COMP_SYSFUNCS  2u /* product 1: the operating system ("operating system") */
#define ECF_COMP_OSSE      3u /* product 1: this library ("OSSe") */
#define ECF_SET_ECF        1u /* the one error set, "setecf" */

/* Identifier of one of this library's operations (product 1, component 3, kind 2). */
#define OSS_FUNC_ID(n) (0x081A0000u | (Uint32)(n))
/* Identifier of an operating-system call that failed (product 1, component 2, kind 4). */
#define OSS_SYS_FUNC_ID(n) (0x08140000u | (Uint32)(n))

/* ---- Named values ------------------------------------------------------------------------------ */

/* Success. */
#define ECF_OK 0u

/* Return codes this library produces (set 1, owned by product 1, component 3). */
#define ECF_PARTIAL_INFO                            0x10000006u
#define ECF_ACCESS_DENIED                           0x90000001u
#define ECF_FAILED                                  0x90000002u
#define ECF_INVALID_INVOCATION_SEQUENCE             0x90000003u
#define ECF_INVALID_VERSION                         0x90000004u
#define ECF_NOT_SUPPORTED                           0x90000005u
#define ECF_UNKNOWN                                 0x90000007u
#define ECF_BUFFER_TOO_SMALL                        0x90000008u
#define ECF_INVALID_ADDRESS                         0x9000000Au
#define ECF_INVALID_HANDLE                          0x9000000Bu
#define ECF_INVALID_PARAMETER                       0x9000000Cu
#define ECF_NO_MEMORY                               0x9000000Du
#define ECF_NO_RESOURCE                             0x9000000Eu
#define ECF_NO_UNICODE_TRANSLATION                  0x90000010u
#define ECF_TIMEOUT                                 0x90000013u
#define ECF_FILE_LOCK                               0x90000014u
#define ECF_FILE_IS_A_DIRECTORY                     0x90000018u
#define ECF_FILE_NOT_A_DIRECTORY                    0x90000019u
#define ECF_FILE_DOESNT_EXIST                       0x9000001Au
#define ECF_FILE_EXISTS                             0x9000001Bu
#define ECF_FILE_NFS_TIME_OUT                       0x9000001Cu
#define ECF_FILE_INVALID_NAME                       0x9000001Eu
#define ECF_FILE_NAME_TOO_LONG                      0x9000001Fu
#define ECF_FILE_EOF                                0x90000021u
#define ECF_FILE_SEEK_BEYOND_EOF                    0x90000022u
#define ECF_FILE_NO_SPACE                           0x90000028u
#define ECF_FILE_PROCESS_MAX                        0x9000002Du
#define ECF_FILE_DEVICE_UNAVAILABLE                 0x9000002Fu
#define ECF_FILE_INCOMPLETE_WRITE                   0x90000035u
#define ECF_FILE_PATH_DOESNT_EXIST                  0x90000037u
#define ECF_FILE_DIR_NOT_EMPTY                      0x90000039u
#define ECF_FILE_UNKNOWN_FILE_TYPE                  0x9000003Du
#define ECF_FILE_CANNOT_RETRIEVE_DRIVE_MAP          0x9000003Eu
#define ECF_FILE_SHARE                              0x9000003Fu
#define ECF_LIB_NOT_LOADED                          0x90000045u
#define ECF_MEM_DOESNT_EXIST                        0x90000047u
#define ECF_MEM_EXISTS                              0x9000004Au
#define ECF_SEM_DOESNT_EXIST                        0x9000004Fu
#define ECF_SEM_EXISTS                              0x90000052u
#define ECF_QUE_DOESNT_EXIST                        0x9000005Bu
#define ECF_QUE_INVALID_MSG_TYPE                    0x9000005Fu
#define ECF_QUE_MSG_TOO_BIG                         0x90000060u
#define ECF_THREAD_CANNOT_WAIT                      0x90000061u
#define ECF_GTRACE_DUMP_HEADER_TRUNCATED            0x90000070u
#define ECF_GTRACE_INVALID_BUFFER_SIZE              0x90000071u
#define ECF_GTRACE_INVALID_DUMP_EYE_CATCHER         0x90000072u
#define ECF_GTRACE_NOT_ATTACHED                     0x90000073u
#define ECF_GTRACE_NOT_INITIALIZED                  0x90000074u
#define ECF_LIB_ALREADY_LOADED                      0x90000075u
#define ECF_LIB_CANNOT_LOAD                         0x90000076u
#define ECF_LIB_FUNC_NOT_FOUND                      0x90000078u
#define ECF_MEM_CANNOT_TOGGLE_MEM_DEBUG_AFTER_ALLOC 0x90000079u
#define ECF_SEM_WAIT_ABANDONED                      0x90000080u
#define ECF_PROCESS_NOT_CREATED                     0x90000083u
#define ECF_RAMBO_AUTO_DUMP_NOT_ALLOWED             0x90000085u
#define ECF_RAMBO_DUMP_HEADER_TRUNCATED             0x90000086u
#define ECF_RAMBO_DUMP_TRUNCATED                    0x90000087u
#define ECF_RAMBO_INSTANT_DUMP_TRUNCATED            0x90000088u
#define ECF_RAMBO_INVALID_BUFFER_SIZE               0x90000089u
#define ECF_RAMBO_INVALID_DUMP_BUFFER_SIZE          0x9000008Au
#define ECF_RAMBO_INVALID_DUMP_HEADER_EYE_CATCHER   0x9000008Bu
#define ECF_RAMBO_INVALID_DUMP_SLOT_INDEX           0x9000008Du
#define ECF_RAMBO_INVALID_DUMP_TAIL_EYE_CATCHER     0x9000008Eu
#define ECF_RAMBO_INVALID_DUMP_TYPE                 0x9000008Fu
#define ECF_RAMBO_NOT_INITIALIZED                   0x90000090u
#define ECF_THREAD_ALREADY_CREATED                  0x9000009Du
#define ECF_THREAD_MUST_WAIT                        0x9000009Eu
#define ECF_THREAD_NOT_CREATED                      0x9000009Fu
#define ECF_SEC_INVALID_PASSWORD                    0x90000315u
#define ECF_MEM_NULL_POINTER                        0x900003EEu
#define ECF_OSSLOCK_CORRUPT                         0x900003EFu
#define ECF_OSS_NOT_BOOLEAN_STRING                  0x900003F1u
#define ECF_SESSION_CANCELED                        0x900003FEu
#define ECF_WAITPOST_NOT_INITIALIZED                0x900003FFu
#define ECF_WAITPOST_NOT_POSTED                     0x90000400u
#define ECF_OSSTICK_TIME_VALUE_TOO_BIG              0x900004E6u
#define ECF_OSSTICK_TIME_VALUE_TOO_SMALL            0x900004E7u
#define ECF_EXISTS                                  0x90000501u

/* Function fields of this library's own operations: OSS_FUNC_ID(OSS_FN_OSSHFile_close). */
enum OSSFunctionIndex {
    OSS_FN_ossAssertFailed = 1,
    OSS_FN_OSSHFile_open = 2,
    OSS_FN_OSSHFile_close = 3,
    OSS_FN_OSSHFile_seek = 4,
    OSS_FN_OSSHFile_getSize = 5,
    OSS_FN_OSSHFile_setSize = 6,
    OSS_FN_OSSHFile_read = 7,
    OSS_FN_OSSHFile_write = 8,
    OSS_FN_OSSHFile_lock = 9,
    OSS_FN_OSSHFile_unlock = 10,
    OSS_FN_OSSHFile_map = 11,
    OSS_FN_OSSHFile_unmap = 12,
    OSS_FN_OSSHFile_sync = 13,
    OSS_FN_OSSDirectoryListing_begin = 14,
    OSS_FN_OSSDirectoryListing_end = 15,
    OSS_FN_oss_readdir = 16,
    OSS_FN_isDirectory = 17,
    OSS_FN_isFile = 18,
    OSS_FN_ossFileDelete = 19,
    OSS_FN_ossFileGetSize = 20,
    OSS_FN_ossFileLink = 21,
    OSS_FN_ossFileRename = 22,
    OSS_FN_ossFileSetOwnership = 23,
    OSS_FN_ossFileSetPermissions = 24,
    OSS_FN_ossDirectoryCreate = 25,
    OSS_FN_ossDirectoryDelete = 26,
    OSS_FN_ossDirectoryName = 27,
    OSS_FN_ossBaseName = 28,
    OSS_FN_ossDirectoryGetCurrent = 29,
    OSS_FN_ossDirectorySetCurrent = 30,
    OSS_FN_ossGetFileInfo = 31,
    OSS_FN_ossPathExists = 32,
    OSS_FN_ossGetLogicalDriveMap = 33,
    OSS_FN_oss_directory_delete = 34,
    OSS_FN_oss_directory_delete_recursive = 35,
    OSS_FN_oss_copy = 36,
    OSS_FN_ossFileCopy = 37,
    OSS_FN_ossDirectoryCopy = 38,
    OSS_FN_ossComparePaths = 39,
    OSS_FN_OSSHDataset_open = 40,
    OSS_FN_OSSHDataset_openPDSdir = 41,
    OSS_FN_OSSHDataset_read = 42,
    OSS_FN_OSSHDataset_write = 43,
    OSS_FN_OSSHDataset_listMembers = 44,
    OSS_FN_OSSHDataset_close = 45,
    OSS_FN_OSSHDataset_listDatasets = 46,
    OSS_FN_OSSHDataset_getAttribs = 47,
    OSS_FN_OSSHDataset_dsDelete = 48,
    OSS_FN_OSSHDataset_dsOpen = 49,
    OSS_FN_OSSHIPCMemory_create = 50,
    OSS_FN_OSSHIPCMemory_destroy = 51,
    OSS_FN_OSSHIPCMemory_attach = 52,
    OSS_FN_OSSHIPCMemory_detach = 53,
    OSS_FN_OSSHIPCMemory_authorize = 54,
    OSS_FN_OSSHIPCMemory_getInfo = 55,
    OSS_FN_OSSHIPCMemory_getAddress = 56,
    OSS_FN_OSSHIPCMemory_getMemorySize = 57,
    OSS_FN_OSSHIPCSemaphore_create = 58,
    OSS_FN_OSSHIPCSemaphore_destroy = 59,
    OSS_FN_OSSHIPCSemaphore_attach = 60,
    OSS_FN_OSSHIPCSemaphore_detach = 61,
    OSS_FN_OSSHIPCSemaphore_post = 62,
    OSS_FN_OSSHIPCSemaphore_wait = 63,
    OSS_FN_OSSHIPCSemaphore_authorize = 64,
    OSS_FN_OSSHIPCSemaphore_getInfo = 65,
    OSS_FN_OSSHIPCQueue_create = 66,
    OSS_FN_OSSHIPCQueue_destroy = 67,
    OSS_FN_OSSHIPCQueue_attach = 68,
    OSS_FN_OSSHIPCQueue_detach = 69,
    OSS_FN_OSSHIPCQueue_flush = 70,
    OSS_FN_OSSHIPCQueue_put = 71,
    OSS_FN_OSSHIPCQueue_get = 72,
    OSS_FN_OSSHIPCQueue_query = 73,
    OSS_FN_OSSHIPCQueue_hasMessage = 74,
    OSS_FN_OSSHIPCQueue_authorize = 75,
    OSS_FN_OSSHIPCQueue_getInfo = 76,
    OSS_FN_OSSHIPCWaitpost_create = 77,
    OSS_FN_OSSHIPCWaitpost_destroy = 78,
    OSS_FN_OSSHIPCWaitpost_open = 79,
    OSS_FN_OSSHIPCWaitpost_close = 80,
    OSS_FN_OSSHIPCWaitpost_wait = 81,
    OSS_FN_OSSHIPCWaitpost_post = 82,
    OSS_FN_OSSHIPCWaitpost_reset = 83,
    OSS_FN_OSSHLibrary_load = 84,
    OSS_FN_OSSHLibrary_unload = 85,
    OSS_FN_OSSHLibrary_getFuncAddress = 86,
    OSS_FN_OSSHLibrary_getFunctionAddresses = 87,
    OSS_FN_ossMemAlloc = 88,
    OSS_FN_ossMemFree = 89,
    OSS_FN_ossNLScpcv = 90,
    OSS_FN_OSSHThread_create = 91,
    OSS_FN_OSSHThread_wait = 92,
    OSS_FN_OSSHThread_close = 93,
    OSS_FN_ossThreadExit = 94,
    OSS_FN_OSSHThreadSpecificDataInternal_create = 95,
    OSS_FN_OSSHThreadSpecificDataInternal_destroy = 96,
    OSS_FN_OSSHThreadSpecificDataInternal_set = 97,
    OSS_FN_OSSHThreadSpecificDataInternal_get = 98,
    OSS_FN_OSSHThreadSpecificData_create = 99,
    OSS_FN_OSSHThreadSpecificData_destroy = 100,
    OSS_FN_OSSHThreadSpecificData_set = 101,
    OSS_FN_OSSHThreadSpecificData_get = 102,
    OSS_FN_OSSHProcess_create = 103,
    OSS_FN_OSSHProcess_createProcess = 104,
    OSS_FN_OSSHProcess_wait = 105,
    OSS_FN_ossProcessExit = 106,
    OSS_FN_isAuthorized = 107,
    OSS_FN_ossDaemonizeProcess = 108,
    OSS_FN_oss_searchpath = 109,
    OSS_FN_ossGetCPUInfo = 110,
    OSS_FN_ossGetPhysMemInfo = 111,
    OSS_FN_ossGetPhysSwapInfo = 112,
    OSS_FN_ossGetVirtualMemInfo = 113,
    OSS_FN_ossGetOSInfo = 114,
    OSS_FN_ossGetKernelIPCInfo = 115,
    OSS_FN_ossGetDiskInfo = 116,
    OSS_FN_ossGetAvgCPULoad = 117,
    OSS_FN_OSSSysInfoDynamic_getCPUUtilization = 118,
    OSS_FN_OSSSysInfoDynamic_registerDisk = 119,
    OSS_FN_OSSSysInfoDynamic_deregisterDisk = 120,
    OSS_FN_OSSSysInfoDynamic_getDiskUtilization = 121,
    OSS_FN_OSSMountListing_begin = 122,
    OSS_FN_OSSMountListing_getNext = 123,
    OSS_FN_OSSMountListing_end = 124,
    OSS_FN_ossStartService = 125,
    OSS_FN_ossStopService = 126,
    OSS_FN_ossRegisterService = 127,
    OSS_FN_ossDeRegisterService = 128,
    OSS_FN_ossChangeServiceConfig = 129,
    OSS_FN_ossChangeServiceConfig2 = 130,
    OSS_FN_ossQueryServiceConfig = 131,
    OSS_FN_ossQueryServiceStatus = 132,
    OSS_FN_ossSleep = 133,
    OSS_FN_ossGetCurrentUserName = 134,
    OSS_FN_ossGetCurrentUserDisplay = 135,
    OSS_FN_ossInitSecurityAttributes = 136,
    OSS_FN_OSSMmapAllocation_allocate = 137,
    OSS_FN_OSSMmapAllocation_deallocate = 138,
    OSS_FN_ossActivateCapabilities = 139,
    OSS_FN_ossWalkStackCollect = 140,
    OSS_FN_ossIPCGetResID = 141,
    OSS_FN_ossIPCGetQueResID = 142,
    OSS_FN_ossGetSystemFileInfo = 143,
    OSS_FN_ossGetProcessInfo = 144,
    OSS_FN_ossGetSystemDirectory = 145,
    OSS_FN_ossGetCoresPerSocket = 146,
    OSS_FN_ossGetEffectiveProcessorThreadingDegree = 147,
    OSS_FN_OSSopenMnttab = 148,
    OSS_FN_OSSHProcFSMapListing_begin = 149,
    OSS_FN_OSSHProcFSMapListing_getNext = 150,
    OSS_FN_OSSHProcFSMapListing_end = 151,
    OSS_FN_OSSHProcFSMapListing_readFile = 152,
    OSS_FN_OSSHIPCMemory_detachAndDestroy = 153,
    OSS_FN_ossIPCGenerateSeed = 154,
    OSS_FN_ossPathIsSetuidRoot = 155,
    OSS_FN_ossPathTest = 156,
    OSS_FN_OSSHIPCMemoryEx_create = 157,
    OSS_FN_OSSHIPCMemoryEx_destroy = 158,
    OSS_FN_OSSHIPCMemoryEx_attach = 159,
    OSS_FN_OSSHIPCMemoryEx_detach = 160,
    OSS_FN_OSSHIPCPrivateMemory_create = 161,
    OSS_FN_OSSHIPCPrivateMemory_attach = 162,
    OSS_FN_OSSHIPCPrivateMemory_remoteInitialization = 163,
    OSS_FN_ossSysCtl = 164,
    OSS_FN_ossQueryUnixSharedObjectBitNess = 165,
    OSS_FN_ossInitSecurityAttributes2 = 166,
    OSS_FN_ossCheckTerminalServices = 167,
    OSS_FN__ossMemAllocList = 168,
    OSS_FN_ossMemOneTimeOnly = 169,
    OSS_FN_osstmpnam = 170,
    OSS_FN_ossResourceGetRlimit = 171,
    OSS_FN_ossErrorGeneralAnalysis = 172,
    OSS_FN_ossErrorIOAnalysis = 173,
    OSS_FN_ossErrorMemoryAnalysis = 174,
    OSS_FN_OSSHPipe_create = 175,
    OSS_FN_OSSHPipe_destroy = 176,
    OSS_FN_OSSHPipe_read = 177,
    OSS_FN_OSSHPipe_write = 178,
    OSS_FN_OSSHPipe_closeReadFD = 179,
    OSS_FN_OSSHPipe_closeFD = 180,
    OSS_FN_OSSHPipe_closeWriteFD = 181,
    OSS_FN_OSSHPipe_setReadFD = 182,
    OSS_FN_OSSHPipe_setWriteFD = 183,
    OSS_FN_OSSHPipe_getReadFD = 184,
    OSS_FN_OSSHPipe_getWriteFD = 185,
    OSS_FN_ossStrCompWithPads = 186,
    OSS_FN_ossGetSystemInfo = 187,
    OSS_FN_ossMaskAllowedPrivileges = 188,
    OSS_FN_OSSLibCapabilities_load = 189,
    OSS_FN_ossIsProcessRunningWithFilteredToken = 190,
    OSS_FN_ossGetProcessIntegrityLevel = 191,
    OSS_FN_ossGetTokenInformation = 192,
    OSS_FN_ossDoesProcessHaveLocalAdminSID = 193,
    OSS_FN_ossGetCommonAppDataPath = 194,
    OSS_FN_ossGetCPUUsage = 195,
    OSS_FN_ossIsTokenElevated = 196,
    OSS_FN_ossDoesTokenHaveSystemSID = 197,
    OSS_FN_ossIsNTVolume = 198,
    OSS_FN_ossgetpass = 199,
    OSS_FN_ossCheckForEXT4FS = 200,
    OSS_FN_ossNetIfcGetConfig = 201,
    OSS_FN_ossNetIfcGetNextInterface = 202,
    OSS_FN_ossNetIfcFreeMem = 203,
    OSS_FN_ossFileCreateSymlink = 204,
    OSS_FN_OSSHIPCSemaphoreEx_create = 205,
    OSS_FN_OSSHIPCSemaphoreEx_destroy = 206,
    OSS_FN_OSSHIPCSemaphoreEx_detach = 207,
    OSS_FN_OSSHIPCSemaphoreEx_post = 208,
    OSS_FN_OSSHIPCSemaphoreEx_wait = 209,
    OSS_FN_OSSHIPCSemaphoreEx_getInfo = 210,
    OSS_FN_ossIPCSemaphoreExDestroy = 211,
    OSS_FN_ossGetPagefileUsage = 212,
    OSS_FN_ossGetOSKernelFunctionPointer = 213,
    OSS_FN_ossGetDeviceInfo = 214,
    OSS_FN_ossReadFCSCSIWWN = 215,
    OSS_FN_OSSSysInfoCPUTopology_addProcessor = 216,
    OSS_FN_OSSSysInfoCPUTopology_getLogicalProcessors = 217,
    OSS_FN_ossProcessRegisterAtForkHandlers = 218,
    OSS_FN_ossDATCheckIfInterfaceHasValidUDAPLDevice = 219,
    OSS_FN_ossDATGetUDAPLDeviceForInterface = 220,
    OSS_FN_ossNetIfcValidateInterface = 221,
    OSS_FN_ossDATGetUDAPLDeviceForInterfaceByParsingAndValidatingInterface = 222,
    OSS_FN_ossNetIfcValidateHostnameOrIPAddress = 223,
    OSS_FN_ossDATCheckIfuDAPLDeviceHasRoCEAdapter = 224,
    OSS_FN_ossDATGetAllRoCEAdapters = 225,
    OSS_FN_ossDATCheckIfNetnameOrIPAddressIsRoCE = 226,
    OSS_FN_ossPing = 227,
    OSS_FN_ossGetRawCPUUsage = 228,
    OSS_FN_ossGetProcessRawCPUUsage = 229,
    OSS_FN_ossGetRawPagingActivityInfo = 230,
    OSS_FN_OSSNetworkInterfaceListing_begin = 231,
    OSS_FN_OSSNetworkInterfaceListing_end = 232,
    OSS_FN_OSSNetworkInterfaceListing_getNext = 233,
    OSS_FN_ossCollectRawCounterArrays = 234,
    OSS_FN_ossNetIfcGetNetworkType = 235,
    OSS_FN_ossNetIsInterfaceCablePulled = 236,
    OSS_FN_OSSDLPIComm_getResponse = 237,
    OSS_FN_OSSDLPIComm_sendRequest = 238,
    OSS_FN_OSSDLPIComm_checkResponse = 239,
    OSS_FN_OSSDLPIComm_resizeCtrlBuf = 240,
    OSS_FN_OSSDLPIComm_initialize = 241,
    OSS_FN_OSSNetworkInterfaceListing_getDeviceStats = 242,
    OSS_FN_OSSNetworkInterfaceListing_isKstatForAReportableInterface = 243,
    OSS_FN_OSSNetworkInterfaceListing_getAndSetFieldValueFromKstat = 244,
    OSS_FN_ossGetOSInfo_OSArchType = 245,
    OSS_FN_ossGetNetworkTypeForAIX = 246,
    OSS_FN_ossDetectEthernetCardSpeedInMbps = 247,
    OSS_FN_ossSysInfoFetchOSLevelStringOneTimeOnly = 248,
    OSS_FN_ossGetCPUCacheTopology = 249,
    OSS_FN_ossGetStringFromSysSpecialFile = 250,
    OSS_FN_ossProcessOneDirectoryEntry = 251,
    OSS_FN_ossQueryAIXSysCfg = 252,
    OSS_FN_ossSysInfoFetchOSLevelStringCleanup = 253,
    OSS_FN_ossConvertIPAddressToString = 254,
    OSS_FN_ossAddLocalRoute = 255,
    OSS_FN_OSSSaveAndRedirectFileNoToDevNull_redirectFileDescriptor = 256,
    OSS_FN_OSSSaveAndRedirectFileNoToDevNull_restoreFileDescriptor = 257,
    OSS_FN_OSSDirectoryListing_insertOne = 258,
    OSS_FN_COUNT = 259 /* entries of the component, the placeholder 0 included */
};

/* Function fields of the operating-system calls this library names as failed calls:
 * OSS_SYS_FUNC_ID(OSS_SYSFN_CloseHandle). */
enum OSSSysFunctionIndex {
    OSS_SYSFN_access                           = 1,
    OSS_SYSFN_chmod                            = 3,
    OSS_SYSFN_close                            = 5,
    OSS_SYSFN_fork                             = 16,
    OSS_SYSFN_fstat                            = 17,
    OSS_SYSFN_ftruncate                        = 19,
    OSS_SYSFN_link                             = 27,
    OSS_SYSFN_lstat                            = 31,
    OSS_SYSFN_malloc                           = 32,
    OSS_SYSFN_mkdir                            = 33,
    OSS_SYSFN_mmap                             = 34,
    OSS_SYSFN_open                             = 43,
    OSS_SYSFN_read                             = 75,
    OSS_SYSFN_readdir_r                        = 76,
    OSS_SYSFN_rename                           = 78,
    OSS_SYSFN_rmdir                            = 79,
    OSS_SYSFN_stat                             = 95,
    OSS_SYSFN_statvfs                          = 96,
    OSS_SYSFN_unlink                           = 99,
    OSS_SYSFN_write                            = 103,
    OSS_SYSFN__beginthreadex                   = 104,
    OSS_SYSFN_CloseHandle                      = 105,
    OSS_SYSFN_CopyFile                         = 106,
    OSS_SYSFN_CreateDirectory                  = 107,
    OSS_SYSFN_CreateEvent                      = 108,
    OSS_SYSFN_CreateFile                       = 109,
    OSS_SYSFN_CreateFileMapping                = 110,
    OSS_SYSFN_CreateProcess                    = 111,
    OSS_SYSFN_CreateSemaphore                  = 112,
    OSS_SYSFN_DeleteFile                       = 113,
    OSS_SYSFN_FindFirstFile                    = 115,
    OSS_SYSFN_FindNextFile                     = 116,
    OSS_SYSFN_FindClose                        = 117,
    OSS_SYSFN_FlushFileBuffers                 = 118,
    OSS_SYSFN_FreeLibrary                      = 120,
    OSS_SYSFN_GetCurrentDirectory              = 122,
    OSS_SYSFN_GetDiskFreeSpaceEx               = 123,
    OSS_SYSFN_GetExitCodeProcess               = 124,
    OSS_SYSFN_GetFileAttributes                = 125,
    OSS_SYSFN_GetFileSize                      = 126,
    OSS_SYSFN_GetLogicalDriveStrings           = 127,
    OSS_SYSFN_GetProcAddress                   = 128,
    OSS_SYSFN_GetTokenInformation              = 129,
    OSS_SYSFN_GetUserName                      = 130,
    OSS_SYSFN_GetVolumeInformation             = 131,
    OSS_SYSFN_InitializeSecurityDescriptor     = 132,
    OSS_SYSFN_LoadLibrary                      = 133,
    OSS_SYSFN_LockFileEx                       = 135,
    OSS_SYSFN_MoveFile                         = 137,
    OSS_SYSFN_MapViewOfFileEx                  = 138,
    OSS_SYSFN_OpenEvent                        = 142,
    OSS_SYSFN_OpenFileMapping                  = 143,
    OSS_SYSFN_OpenProcessToken                 = 144,
    OSS_SYSFN_OpenSemaphore                    = 145,
    OSS_SYSFN_ReadFile                         = 146,
    OSS_SYSFN_ReleaseSemaphore                 = 148,
    OSS_SYSFN_RemoveDirectory                  = 149,
    OSS_SYSFN_ResetEvent                       = 150,
    OSS_SYSFN_SetEndOfFile                     = 151,
    OSS_SYSFN_SetEvent                         = 152,
    OSS_SYSFN_SetFilePointer                   = 154,
    OSS_SYSFN_SetCurrentDirectory              = 155,
    OSS_SYSFN_SetSecurityDescriptorDacl        = 156,
    OSS_SYSFN__stat                            = 157,
    OSS_SYSFN_TlsAlloc                         = 158,
    OSS_SYSFN_TlsFree                          = 159,
    OSS_SYSFN_TlsGetValue                      = 160,
    OSS_SYSFN_TlsSetValue                      = 161,
    OSS_SYSFN_UnlockFileEx                     = 163,
    OSS_SYSFN_UnmapViewOfFile                  = 164,
    OSS_SYSFN_VirtualQueryEx                   = 165,
    OSS_SYSFN_WaitForSingleObject              = 166,
    OSS_SYSFN_WriteFile                        = 168,
    OSS_SYSFN_unspecified_system_function      = 171,
    OSS_SYSFN_OpenProcess                      = 210,
    OSS_SYSFN_writev                           = 212,
    OSS_SYSFN_readv                            = 213,
    OSS_SYSFN_GetSystemDirectory               = 214,
    OSS_SYSFN_AllocateAndInitializeSid         = 224,
    OSS_SYSFN_GetModuleHandle                  = 265,
    OSS_SYSFN_GetVolumeNameForVolumeMountPoint = 272,
    OSS_SYSFN_statfs                           = 273,
    OSS_SYSFN_fstat64                          = 299,
    OSS_SYSFN_GetTempPath                      = 342,
    OSS_SYSFN_GetTempFileName                  = 343,
    OSS_SYSFN_realpath                         = 355,
    OSS_SYSFN_GetFileInformationByHandle       = 356,
    OSS_SYSFN_preadv                           = 364,
    OSS_SYSFN_pwrite                           = 366,
    OSS_SYSFN_GetSidSubAuthority               = 389,
    OSS_SYSFN_PdhOpenQuery                     = 441,
    OSS_SYSFN_PdhAddCounter                    = 442,
    OSS_SYSFN_PdhCollectQueryData              = 443,
    OSS_SYSFN_PdhGetRawCounterArray            = 444,
    OSS_SYSFN_COUNT = 482 /* entries of the component, the placeholder 0 included */
};

/* ---- Lookups ------------------------------------------------------------------------------------ */

/* Products: 3. */
OSSE_C_API Uint32 ecfGetNumProducts(void);
/* Component count of a product, placeholder included; 0 for product 0 or above 3. */
OSSE_C_API Uint32 ecfGetNumComponents(Uint32 product);
/* Function count of a component, placeholder included; 0 when either index is 0 or out of range. */
OSSE_C_API Uint32 ecfGetNumFunctions(Uint32 product, Uint32 component);

/* Names of the parts of a function identifier; null when a field they need is 0 or out of range. */
OSSE_C_API const char* ecfGetProductName(Uint32 functionId);
/* Long name of the component of a function identifier ("NRV Common Services" components: "operating
 * system", "OSSe"). */
OSSE_C_API const char* ecfGetComponentName(Uint32 functionId);
/* Short name of the component of a function identifier (COMP_SYSFUNCS, COMP_OSSE). */
OSSE_C_API const char* ecfGetComponentShortName(Uint32 functionId);
/* Name of the function of a function identifier (OSSHFile::open, CloseHandle). */
OSSE_C_API const char* ecfGetFunctionName(Uint32 functionId);

/* First index (from 1) whose name equals the given one exactly; 0 when none does. */
OSSE_C_API Uint32 ecfFindProductIndex(const char* productName);
/* Index of a component of the product by its short name (COMP_OSSE); 0 when none has it. */
OSSE_C_API Uint32 ecfFindComponentIndex(Uint32 product, const char* componentShortName);
/* Index of a function of the component by its name; 0 when none has it. */
OSSE_C_API Uint32 ecfFindFunctionIndex(Uint32 product, Uint32 component, const char* functionName);

/* Highest code index of an error set (1622 for set 1); 0 for any other set. */
OSSE_C_API Uint32 ecfErrorGetNumCodes(Uint32 set);
/* Lookups by return code: only the set and the index are read, so the warning and the error
 * form of a code give the same row. 0 gives "OK" as name and description. */
OSSE_C_API const char* ecfErrorGetSetName(Uint32 code);
/* Name of the product that owns the code's set. */
OSSE_C_API const char* ecfErrorGetProductName(Uint32 code);
/* Name of the component that owns the code's set (OSSe). */
OSSE_C_API const char* ecfErrorGetComponentName(Uint32 code);
/* Symbolic name of the code (ECF_INVALID_PARAMETER); null for an index outside the table. */
OSSE_C_API const char* ecfErrorGetCodeName(Uint32 code);
/* Description of the code ("Invalid parameter"); null for an index outside the table. */
OSSE_C_API const char* ecfErrorGetDescription(Uint32 code);
/* The canonical value the table stores for a code (bit 31 set for an error, clear for a
 * warning); 0 for 0 and for a code outside the table. */
OSSE_C_API Uint32 ecfErrorGetCodeValue(Uint32 code);

#endif
