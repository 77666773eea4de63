// The error-code framework: identifier and code lookups at their boundaries, the library's
// own rows against a copy written out here, the whole tables' shape and totals, the find
// functions' scan order, and the exports by plain name (the DLL's build only).
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstring>
#include <set>
#include <string>

#include "osse/osse.h"
#include "osse_test.h"

namespace {

struct CodeCase {
    Uint32 value;
    const char* name;
    const char* description;
};

struct IndexedName {
    Uint32 index;
    const char* name;
};

// Return codes of the library, written out independently of the tables under test.
const CodeCase kLibraryCodes[] = {
    {ECF_PARTIAL_INFO, "ECF_PARTIAL_INFO", "Only partial information available"},
    {ECF_ACCESS_DENIED, "ECF_ACCESS_DENIED", "Access denied"},
    {ECF_FAILED, "ECF_FAILED", "Failed"},
    {ECF_INVALID_INVOCATION_SEQUENCE, "ECF_INVALID_INVOCATION_SEQUENCE", "Functions/methods called out of sequence"},
    {ECF_INVALID_VERSION, "ECF_INVALID_VERSION", "Invalid version"},
    {ECF_NOT_SUPPORTED, "ECF_NOT_SUPPORTED", "Functionality not supported"},
    {ECF_UNKNOWN, "ECF_UNKNOWN", "Unknown"},
    {ECF_BUFFER_TOO_SMALL, "ECF_BUFFER_TOO_SMALL", "Buffer too small"},
    {ECF_INVALID_ADDRESS, "ECF_INVALID_ADDRESS", "Invalid address"},
    {ECF_INVALID_HANDLE, "ECF_INVALID_HANDLE", "Invalid handle (NT-only)"},
    {ECF_INVALID_PARAMETER, "ECF_INVALID_PARAMETER", "Invalid parameter"},
    {ECF_NO_MEMORY, "ECF_NO_MEMORY", "Insufficent memory"},
    {ECF_NO_RESOURCE, "ECF_NO_RESOURCE", "The system lacks the resource to fulfill the request"},
    {ECF_NO_UNICODE_TRANSLATION, "ECF_NO_UNICODE_TRANSLATION", "No mapping for the Unicode character exists in the target multibyte code page"},
    {ECF_TIMEOUT, "ECF_TIMEOUT", "Time out"},
    {ECF_FILE_LOCK, "ECF_FILE_LOCK", "Process cannot access the file because another process has a lock on the file"},
    {ECF_FILE_IS_A_DIRECTORY, "ECF_FILE_IS_A_DIRECTORY", "File is a directory"},
    {ECF_FILE_NOT_A_DIRECTORY, "ECF_FILE_NOT_A_DIRECTORY", "A component of the path is not a directory"},
    {ECF_FILE_DOESNT_EXIST, "ECF_FILE_DOESNT_EXIST", "File doesn't exist"},
    {ECF_FILE_EXISTS, "ECF_FILE_EXISTS", "File already exists"},
    {ECF_FILE_NFS_TIME_OUT, "ECF_FILE_NFS_TIME_OUT", "NFS connection timed out"},
    {ECF_FILE_INVALID_NAME, "ECF_FILE_INVALID_NAME", "The filename, directory name or volume label syntax is incorrect"},
    {ECF_FILE_NAME_TOO_LONG, "ECF_FILE_NAME_TOO_LONG", "The length of the file name exceeds the maximum size"},
    {ECF_FILE_EOF, "ECF_FILE_EOF", "End of file"},
    {ECF_FILE_SEEK_BEYOND_EOF, "ECF_FILE_SEEK_BEYOND_EOF", "Cannot seek beyond the end of file"},
    {ECF_FILE_NO_SPACE, "ECF_FILE_NO_SPACE", "No free space on the file system"},
    {ECF_FILE_PROCESS_MAX, "ECF_FILE_PROCESS_MAX", "The maximum number of file per process has already been reached"},
    {ECF_FILE_DEVICE_UNAVAILABLE, "ECF_FILE_DEVICE_UNAVAILABLE", "The device is unavailable or uncapable of serving the request"},
    {ECF_FILE_INCOMPLETE_WRITE, "ECF_FILE_INCOMPLETE_WRITE", "Did not write all the requested bytes"},
    {ECF_FILE_PATH_DOESNT_EXIST, "ECF_FILE_PATH_DOESNT_EXIST", "A directory component in the path doesn't exist"},
    {ECF_FILE_DIR_NOT_EMPTY, "ECF_FILE_DIR_NOT_EMPTY", "The directory is not empty"},
    {ECF_FILE_UNKNOWN_FILE_TYPE, "ECF_FILE_UNKNOWN_FILE_TYPE", "The file type retrieved is not supported"},
    {ECF_FILE_CANNOT_RETRIEVE_DRIVE_MAP, "ECF_FILE_CANNOT_RETRIEVE_DRIVE_MAP", "Unable to retrieve a list of available drives"},
    {ECF_FILE_SHARE, "ECF_FILE_SHARE", "File sharing violation"},
    {ECF_LIB_NOT_LOADED, "ECF_LIB_NOT_LOADED", "Library is not loaded"},
    {ECF_MEM_DOESNT_EXIST, "ECF_MEM_DOESNT_EXIST", "The specified memory is not found and IPC_CREAT flag is not specified."},
    {ECF_MEM_EXISTS, "ECF_MEM_EXISTS", "Shared memory ID already exists with the given resource ID"},
    {ECF_SEM_DOESNT_EXIST, "ECF_SEM_DOESNT_EXIST", "The specified semaphore ID does not exist and IPC_CREAT is not set"},
    {ECF_SEM_EXISTS, "ECF_SEM_EXISTS", "Semaphore already exists"},
    {ECF_QUE_DOESNT_EXIST, "ECF_QUE_DOESNT_EXIST", "The message queue ID does not exist for the Key parameter."},
    {ECF_QUE_INVALID_MSG_TYPE, "ECF_QUE_INVALID_MSG_TYPE", "The queue does not contain a message of the desired type"},
    {ECF_QUE_MSG_TOO_BIG, "ECF_QUE_MSG_TOO_BIG", "The mtext field is greater than the MessageSize parameter"},
    {ECF_THREAD_CANNOT_WAIT, "ECF_THREAD_CANNOT_WAIT", "Cannot wait on this thread"},
    {ECF_GTRACE_DUMP_HEADER_TRUNCATED, "ECF_GTRACE_DUMP_HEADER_TRUNCATED", "Trace dump file header is truncated"},
    {ECF_GTRACE_INVALID_BUFFER_SIZE, "ECF_GTRACE_INVALID_BUFFER_SIZE", "Trace buffer size is too small"},
    {ECF_GTRACE_INVALID_DUMP_EYE_CATCHER, "ECF_GTRACE_INVALID_DUMP_EYE_CATCHER", "Invalid trace dump file header eye catcher"},
    {ECF_GTRACE_NOT_ATTACHED, "ECF_GTRACE_NOT_ATTACHED", "Trace control block is not attached"},
    {ECF_GTRACE_NOT_INITIALIZED, "ECF_GTRACE_NOT_INITIALIZED", "Trace control block is not initialized"},
    {ECF_LIB_ALREADY_LOADED, "ECF_LIB_ALREADY_LOADED", "Library is already loaded"},
    {ECF_LIB_CANNOT_LOAD, "ECF_LIB_CANNOT_LOAD", "Cannot load the specified library"},
    {ECF_LIB_FUNC_NOT_FOUND, "ECF_LIB_FUNC_NOT_FOUND", "Exported function was not found"},
    {ECF_MEM_CANNOT_TOGGLE_MEM_DEBUG_AFTER_ALLOC, "ECF_MEM_CANNOT_TOGGLE_MEM_DEBUG_AFTER_ALLOC", "Can not turn memory debug on or off after first allocation"},
    {ECF_SEM_WAIT_ABANDONED, "ECF_SEM_WAIT_ABANDONED", "The specified object is a mutex object that was not released by the thread that owned the mutex object before the owning thread terminated. Ownership of the mutex object is granted to the calling thread, and the mutex is set to nonsignaled."},
    {ECF_PROCESS_NOT_CREATED, "ECF_PROCESS_NOT_CREATED", "No process has been created"},
    {ECF_RAMBO_AUTO_DUMP_NOT_ALLOWED, "ECF_RAMBO_AUTO_DUMP_NOT_ALLOWED", "Auto dump not allowed"},
    {ECF_RAMBO_DUMP_HEADER_TRUNCATED, "ECF_RAMBO_DUMP_HEADER_TRUNCATED", "RAMBO dump file header is truncated"},
    {ECF_RAMBO_DUMP_TRUNCATED, "ECF_RAMBO_DUMP_TRUNCATED", "RAMBO dump file is truncated"},
    {ECF_RAMBO_INSTANT_DUMP_TRUNCATED, "ECF_RAMBO_INSTANT_DUMP_TRUNCATED", "RAMBO instantaneous dump file is truncated"},
    {ECF_RAMBO_INVALID_BUFFER_SIZE, "ECF_RAMBO_INVALID_BUFFER_SIZE", "Invalid RAMBO buffer size"},
    {ECF_RAMBO_INVALID_DUMP_BUFFER_SIZE, "ECF_RAMBO_INVALID_DUMP_BUFFER_SIZE", "Invalid RAMBO dump file buffer size"},
    {ECF_RAMBO_INVALID_DUMP_HEADER_EYE_CATCHER, "ECF_RAMBO_INVALID_DUMP_HEADER_EYE_CATCHER", "Invalid RAMBO dump file header eye catcher"},
    {ECF_RAMBO_INVALID_DUMP_SLOT_INDEX, "ECF_RAMBO_INVALID_DUMP_SLOT_INDEX", "Invalid dump file slot index"},
    {ECF_RAMBO_INVALID_DUMP_TAIL_EYE_CATCHER, "ECF_RAMBO_INVALID_DUMP_TAIL_EYE_CATCHER", "Invalid RAMBO dump file tail eye catcher"},
    {ECF_RAMBO_INVALID_DUMP_TYPE, "ECF_RAMBO_INVALID_DUMP_TYPE", "Invalid RAMBO dump file type"},
    {ECF_RAMBO_NOT_INITIALIZED, "ECF_RAMBO_NOT_INITIALIZED", "RAMBO handle not initialized"},
    {ECF_THREAD_ALREADY_CREATED, "ECF_THREAD_ALREADY_CREATED", "A thread has already been created"},
    {ECF_THREAD_MUST_WAIT, "ECF_THREAD_MUST_WAIT", "Thread must be waited on before closing"},
    {ECF_THREAD_NOT_CREATED, "ECF_THREAD_NOT_CREATED", "No thread has been created"},
    {ECF_SEC_INVALID_PASSWORD, "ECF_SEC_INVALID_PASSWORD", "The user supplied password is incorrect"},
    {ECF_MEM_NULL_POINTER, "ECF_MEM_NULL_POINTER", "The address provided is NULL"},
    {ECF_OSSLOCK_CORRUPT, "ECF_OSSLOCK_CORRUPT", "A corrupt OSSLock value has been detected."},
    {ECF_OSS_NOT_BOOLEAN_STRING, "ECF_OSS_NOT_BOOLEAN_STRING", "A value that wasn't a recognizable true or false value was found."},
    {ECF_SESSION_CANCELED, "ECF_SESSION_CANCELED", "The session was canceled"},
    {ECF_WAITPOST_NOT_INITIALIZED, "ECF_WAITPOST_NOT_INITIALIZED", "Attempt to open/wait/post an uninitialized waitpost area."},
    {ECF_WAITPOST_NOT_POSTED, "ECF_WAITPOST_NOT_POSTED", "The waitpost area is not posted."},
    {ECF_OSSTICK_TIME_VALUE_TOO_BIG, "ECF_OSSTICK_TIME_VALUE_TOO_BIG", "A time to tick conversion was not possible because the input time value was too large."},
    {ECF_OSSTICK_TIME_VALUE_TOO_SMALL, "ECF_OSSTICK_TIME_VALUE_TOO_SMALL", "A time to tick conversion was not possible because the input time value was too small and not representable as a non-zero tick."},
    {ECF_EXISTS, "ECF_EXISTS", "The object in question already exists."},
};

// The library's own component, entry n at index n.
const char* const kOssFunctions[] = {
    "",
    "ossAssertFailed",
    "OSSHFile::open",
    "OSSHFile::close",
    "OSSHFile::seek",
    "OSSHFile::getSize",
    "OSSHFile::setSize",
    "OSSHFile::read",
    "OSSHFile::write",
    "OSSHFile::lock",
    "OSSHFile::unlock",
    "OSSHFile::map",
    "OSSHFile::unmap",
    "OSSHFile::sync",
    "OSSDirectoryListing::begin",
    "OSSDirectoryListing::end",
    "oss_readdir",
    "isDirectory",
    "isFile",
    "ossFileDelete",
    "ossFileGetSize",
    "ossFileLink",
    "ossFileRename",
    "ossFileSetOwnership",
    "ossFileSetPermissions",
    "ossDirectoryCreate",
    "ossDirectoryDelete",
    "ossDirectoryName",
    "ossBaseName",
    "ossDirectoryGetCurrent",
    "ossDirectorySetCurrent",
    "ossGetFileInfo",
    "ossPathExists",
    "ossGetLogicalDriveMap",
    "oss_directory_delete",
    "oss_directory_delete_recursive",
    "oss_copy",
    "ossFileCopy",
    "ossDirectoryCopy",
    "ossComparePaths",
    "OSSHDataset::open",
    "OSSHDataset::openPDSdir",
    "OSSHDataset::read",
    "OSSHDataset::write",
    "OSSHDataset::listMembers",
    "OSSHDataset::close",
    "OSSHDataset::listDatasets",
    "OSSHDataset::getAttribs",
    "OSSHDataset::dsDelete",
    "OSSHDataset::dsOpen",
    "OSSHIPCMemory::create",
    "OSSHIPCMemory::destroy",
    "OSSHIPCMemory::attach",
    "OSSHIPCMemory::detach",
    "OSSHIPCMemory::authorize",
    "OSSHIPCMemory::getInfo",
    "OSSHIPCMemory::getAddress",
    "OSSHIPCMemory::getMemorySize",
    "OSSHIPCSemaphore::create",
    "OSSHIPCSemaphore::destroy",
    "OSSHIPCSemaphore::attach",
    "OSSHIPCSemaphore::detach",
    "OSSHIPCSemaphore::post",
    "OSSHIPCSemaphore::wait",
    "OSSHIPCSemaphore::authorize",
    "OSSHIPCSemaphore::getInfo",
    "OSSHIPCQueue::create",
    "OSSHIPCQueue::destroy",
    "OSSHIPCQueue::attach",
    "OSSHIPCQueue::detach",
    "OSSHIPCQueue::flush",
    "OSSHIPCQueue::put",
    "OSSHIPCQueue::get",
    "OSSHIPCQueue::query",
    "OSSHIPCQueue::hasMessage",
    "OSSHIPCQueue::authorize",
    "OSSHIPCQueue::getInfo",
    "OSSHIPCWaitpost::create",
    "OSSHIPCWaitpost::destroy",
    "OSSHIPCWaitpost::open",
    "OSSHIPCWaitpost::close",
    "OSSHIPCWaitpost::wait",
    "OSSHIPCWaitpost::post",
    "OSSHIPCWaitpost::reset",
    "OSSHLibrary::load",
    "OSSHLibrary::unload",
    "OSSHLibrary::getFuncAddress",
    "OSSHLibrary::getFunctionAddresses",
    "ossMemAlloc",
    "ossMemFree",
    "ossNLScpcv",
    "OSSHThread::create",
    "OSSHThread::wait",
    "OSSHThread::close",
    "ossThreadExit",
    "OSSHThreadSpecificDataInternal::create",
    "OSSHThreadSpecificDataInternal::destroy",
    "OSSHThreadSpecificDataInternal::set",
    "OSSHThreadSpecificDataInternal::get",
    "OSSHThreadSpecificData::create",
    "OSSHThreadSpecificData::destroy",
    "OSSHThreadSpecificData::set",
    "OSSHThreadSpecificData::get",
    "OSSHProcess::create",
    "OSSHProcess::createProcess",
    "OSSHProcess::wait",
    "ossProcessExit",
    "isAuthorized",
    "ossDaemonizeProcess",
    "oss_searchpath",
    "ossGetCPUInfo",
    "ossGetPhysMemInfo",
    "ossGetPhysSwapInfo",
    "ossGetVirtualMemInfo",
    "ossGetOSInfo",
    "ossGetKernelIPCInfo",
    "ossGetDiskInfo",
    "ossGetAvgCPULoad",
    "OSSSysInfoDynamic::getCPUUtilization",
    "OSSSysInfoDynamic::registerDisk",
    "OSSSysInfoDynamic::deregisterDisk",
    "OSSSysInfoDynamic::getDiskUtilization",
    "OSSMountListing::begin",
    "OSSMountListing::getNext",
    "OSSMountListing::end",
    "ossStartService",
    "ossStopService",
    "ossRegisterService",
    "ossDeRegisterService",
    "ossChangeServiceConfig",
    "ossChangeServiceConfig2",
    "ossQueryServiceConfig",
    "ossQueryServiceStatus",
    "ossSleep",
    "ossGetCurrentUserName",
    "ossGetCurrentUserDisplay",
    "ossInitSecurityAttributes",
    "OSSMmapAllocation::allocate",
    "OSSMmapAllocation::deallocate",
    "ossActivateCapabilities",
    "ossWalkStackCollect",
    "ossIPCGetResID",
    "ossIPCGetQueResID",
    "ossGetSystemFileInfo",
    "ossGetProcessInfo",
    "ossGetSystemDirectory",
    "ossGetCoresPerSocket",
    "ossGetEffectiveProcessorThreadingDegree",
    "OSSopenMnttab",
    "OSSHProcFSMapListing::begin",
    "OSSHProcFSMapListing::getNext",
    "OSSHProcFSMapListing::end",
    "OSSHProcFSMapListing::readFile",
    "OSSHIPCMemory::detachAndDestroy",
    "ossIPCGenerateSeed",
    "ossPathIsSetuidRoot",
    "ossPathTest",
    "OSSHIPCMemoryEx::create",
    "OSSHIPCMemoryEx::destroy",
    "OSSHIPCMemoryEx::attach",
    "OSSHIPCMemoryEx::detach",
    "OSSHIPCPrivateMemory::create",
    "OSSHIPCPrivateMemory::attach",
    "OSSHIPCPrivateMemory::remoteInitialization",
    "ossSysCtl",
    "ossQueryUnixSharedObjectBitNess",
    "ossInitSecurityAttributes2",
    "ossCheckTerminalServices",
    "_ossMemAllocList",
    "ossMemOneTimeOnly",
    "osstmpnam",
    "ossResourceGetRlimit",
    "ossErrorGeneralAnalysis",
    "ossErrorIOAnalysis",
    "ossErrorMemoryAnalysis",
    "OSSHPipe::create",
    "OSSHPipe::destroy",
    "OSSHPipe::read",
    "OSSHPipe::write",
    "OSSHPipe::closeReadFD",
    "OSSHPipe::closeFD",
    "OSSHPipe::closeWriteFD",
    "OSSHPipe::setReadFD",
    "OSSHPipe::setWriteFD",
    "OSSHPipe::getReadFD",
    "OSSHPipe::getWriteFD",
    "ossStrCompWithPads",
    "ossGetSystemInfo",
    "ossMaskAllowedPrivileges",
    "OSSLibCapabilities::load",
    "ossIsProcessRunningWithFilteredToken",
    "ossGetProcessIntegrityLevel",
    "ossGetTokenInformation",
    "ossDoesProcessHaveLocalAdminSID",
    "ossGetCommonAppDataPath",
    "ossGetCPUUsage",
    "ossIsTokenElevated",
    "ossDoesTokenHaveSystemSID",
    "ossIsNTVolume",
    "ossgetpass",
    "ossCheckForEXT4FS",
    "ossNetIfcGetConfig",
    "ossNetIfcGetNextInterface",
    "ossNetIfcFreeMem",
    "ossFileCreateSymlink",
    "OSSHIPCSemaphoreEx::create",
    "OSSHIPCSemaphoreEx::destroy",
    "OSSHIPCSemaphoreEx::detach",
    "OSSHIPCSemaphoreEx::post",
    "OSSHIPCSemaphoreEx::wait",
    "OSSHIPCSemaphoreEx::getInfo",
    "ossIPCSemaphoreExDestroy",
    "ossGetPagefileUsage",
    "ossGetOSKernelFunctionPointer",
    "ossGetDeviceInfo",
    "ossReadFCSCSIWWN",
    "OSSSysInfoCPUTopology::addProcessor",
    "OSSSysInfoCPUTopology::getLogicalProcessors",
    "ossProcessRegisterAtForkHandlers",
    "ossDATCheckIfInterfaceHasValidUDAPLDevice",
    "ossDATGetUDAPLDeviceForInterface",
    "ossNetIfcValidateInterface",
    "ossDATGetUDAPLDeviceForInterfaceByParsingAndValidatingInterface",
    "ossNetIfcValidateHostnameOrIPAddress",
    "ossDATCheckIfuDAPLDeviceHasRoCEAdapter",
    "ossDATGetAllRoCEAdapters",
    "ossDATCheckIfNetnameOrIPAddressIsRoCE",
    "ossPing",
    "ossGetRawCPUUsage",
    "ossGetProcessRawCPUUsage",
    "ossGetRawPagingActivityInfo",
    "OSSNetworkInterfaceListing::begin",
    "OSSNetworkInterfaceListing::end",
    "OSSNetworkInterfaceListing::getNext",
    "ossCollectRawCounterArrays",
    "ossNetIfcGetNetworkType",
    "ossNetIsInterfaceCablePulled",
    "OSSDLPIComm::getResponse",
    "OSSDLPIComm::sendRequest",
    "OSSDLPIComm::checkResponse",
    "OSSDLPIComm::resizeCtrlBuf",
    "OSSDLPIComm::initialize",
    "OSSNetworkInterfaceListing::getDeviceStats",
    "OSSNetworkInterfaceListing::isKstatForAReportableInterface",
    "OSSNetworkInterfaceListing::getAndSetFieldValueFromKstat",
    "ossGetOSInfo_OSArchType",
    "ossGetNetworkTypeForAIX",
    "ossDetectEthernetCardSpeedInMbps",
    "ossSysInfoFetchOSLevelStringOneTimeOnly",
    "ossGetCPUCacheTopology",
    "ossGetStringFromSysSpecialFile",
    "ossProcessOneDirectoryEntry",
    "ossQueryAIXSysCfg",
    "ossSysInfoFetchOSLevelStringCleanup",
    "ossConvertIPAddressToString",
    "ossAddLocalRoute",
    "OSSSaveAndRedirectFileNoToDevNull::redirectFileDescriptor",
    "OSSSaveAndRedirectFileNoToDevNull::restoreFileDescriptor",
    "OSSDirectoryListing::insertOne",
};

// Operating-system calls the library names, by function field.
const IndexedName kSysFunctions[] = {
    {1, "access"}, {3, "chmod"}, {5, "close"}, {16, "fork"}, {17, "fstat"}, {19, "ftruncate"},
    {27, "link"}, {31, "lstat"}, {32, "malloc"}, {33, "mkdir"}, {34, "mmap"}, {43, "open"},
    {75, "read"}, {76, "readdir_r"}, {78, "rename"}, {79, "rmdir"}, {95, "stat"}, {96, "statvfs"},
    {99, "unlink"}, {103, "write"}, {104, "_beginthreadex"}, {105, "CloseHandle"},
    {106, "CopyFile"}, {107, "CreateDirectory"}, {108, "CreateEvent"}, {109, "CreateFile"},
    {110, "CreateFileMapping"}, {111, "CreateProcess"}, {112, "CreateSemaphore"},
    {113, "DeleteFile"}, {115, "FindFirstFile"}, {116, "FindNextFile"}, {117, "FindClose"},
    {118, "FlushFileBuffers"}, {120, "FreeLibrary"}, {122, "GetCurrentDirectory"},
    {123, "GetDiskFreeSpaceEx"}, {124, "GetExitCodeProcess"}, {125, "GetFileAttributes"},
    {126, "GetFileSize"}, {127, "GetLogicalDriveStrings"}, {128, "GetProcAddress"},
    {129, "GetTokenInformation"}, {130, "GetUserName"}, {131, "GetVolumeInformation"},
    {132, "InitializeSecurityDescriptor"}, {133, "LoadLibrary"}, {135, "LockFileEx"},
    {137, "MoveFile"}, {138, "MapViewOfFileEx"}, {142, "OpenEvent"}, {143, "OpenFileMapping"},
    {144, "OpenProcessToken"}, {145, "OpenSemaphore"}, {146, "ReadFile"}, {148, "ReleaseSemaphore"},
    {149, "RemoveDirectory"}, {150, "ResetEvent"}, {151, "SetEndOfFile"}, {152, "SetEvent"},
    {154, "SetFilePointer"}, {155, "SetCurrentDirectory"}, {156, "SetSecurityDescriptorDacl"},
    {157, "_stat"}, {158, "TlsAlloc"}, {159, "TlsFree"}, {160, "TlsGetValue"}, {161, "TlsSetValue"},
    {163, "UnlockFileEx"}, {164, "UnmapViewOfFile"}, {165, "VirtualQueryEx"},
    {166, "WaitForSingleObject"}, {168, "WriteFile"}, {171, "unspecified_system_function"},
    {210, "OpenProcess"}, {212, "writev"}, {213, "readv"}, {214, "GetSystemDirectory"},
    {224, "AllocateAndInitializeSid"}, {265, "GetModuleHandle"},
    {272, "GetVolumeNameForVolumeMountPoint"}, {273, "statfs"}, {299, "fstat64"},
    {342, "GetTempPath"}, {343, "GetTempFileName"}, {355, "realpath"},
    {356, "GetFileInformationByHandle"}, {364, "preadv"}, {366, "pwrite"},
    {389, "GetSidSubAuthority"}, {441, "PdhOpenQuery"}, {442, "PdhAddCounter"},
    {443, "PdhCollectQueryData"}, {444, "PdhGetRawCounterArray"},
};

const char* const kProductNames[] = {nullptr, "NRV Common Services", "NRV Tools", "NRV Database Engine"};

#ifdef _WIN32
template <class Fn>
Fn procAddress(HMODULE dll, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}
#endif

std::string str(const char* s)
{
    return s ? std::string(s) : std::string("(null)");
}

}  // namespace

TEST(EcfCounts, ProductsComponentsFunctionsAndCodes)
{
    EXPECT_EQ(ecfGetNumProducts(), 3u);
    const struct { Uint32 product, components; } components[] = {
        {0, 0}, {1, 20}, {2, 4}, {3, 233}, {4, 0}, {31, 0}, {0xFFFFFFFFu, 0}};
    for (const auto& c : components)
        EXPECT_EQ(ecfGetNumComponents(c.product), c.components) << "product " << c.product;

    const struct { Uint32 product, component, functions; } functions[] = {
        {1, 2, 482}, {1, 3, 259}, {1, 0, 0}, {0, 3, 0}, {4, 3, 0},
        {1, 20, 0}, {2, 4, 0}, {3, 233, 0}, {3, 0, 0}};
    for (const auto& f : functions)
        EXPECT_EQ(ecfGetNumFunctions(f.product, f.component), f.functions)
            << "product " << f.product << " component " << f.component;

    for (Uint32 set = 0; set < 8; ++set)
        EXPECT_EQ(ecfErrorGetNumCodes(set), set == 1 ? 1622u : 0u) << "set " << set;
}

TEST(EcfFunctionId, NamesAtBoundariesAndWithAnyKind)
{
    const struct {
        Uint32 id;
        const char *product, *component, *shortName, *function;
    } cases[] = {
        {0x081A0003, kProductNames[1], "OSSe", "COMP_OSSE", "OSSHFile::close"},
        {0x081A0001, kProductNames[1], "OSSe", "COMP_OSSE", "ossAssertFailed"},
        {0x081A0102, kProductNames[1], "OSSe", "COMP_OSSE", "OSSDirectoryListing::insertOne"},
        {0x081A0103, kProductNames[1], "OSSe", "COMP_OSSE", nullptr},  // one past the last
        {0x081A0000, kProductNames[1], "OSSe", "COMP_OSSE", nullptr},  // function 0
        {0x081AFFFF, kProductNames[1], "OSSe", "COMP_OSSE", nullptr},
        {0x08140069, kProductNames[1], "operating system", "COMP_SYSFUNCS", "CloseHandle"},
        {0x081400AB, kProductNames[1], "operating system", "COMP_SYSFUNCS", "unspecified_system_function"},
        {0x08140001, kProductNames[1], "operating system", "COMP_SYSFUNCS", "access"},
        {0x081401E2, kProductNames[1], "operating system", "COMP_SYSFUNCS", nullptr},
        {0x08080001, kProductNames[1], "", "", nullptr},                // placeholder component 1
        {0x08000003, kProductNames[1], nullptr, nullptr, nullptr},      // component 0
        {0x08A00001, kProductNames[1], nullptr, nullptr, nullptr},      // component 20 == count
        {0x10200001, kProductNames[2], nullptr, nullptr, nullptr},      // component 4 == count
        {0x1F480001, kProductNames[3], nullptr, nullptr, nullptr},      // component 233 == count
        {0x001A0003, nullptr, nullptr, nullptr, nullptr},               // product 0
        {0x201A0003, nullptr, nullptr, nullptr, nullptr},               // product 4
        {0xF81A0003, nullptr, nullptr, nullptr, nullptr},               // product 31
    };
    for (const auto& c : cases) {
        for (Uint32 kind = 0; kind < 8; ++kind) {
            Uint32 id = (c.id & ~0x70000u) | (kind << 16);
            SCOPED_TRACE(testing::Message() << std::hex << "id 0x" << id);
            EXPECT_EQ(str(ecfGetProductName(id)), str(c.product));
            EXPECT_EQ(str(ecfGetComponentName(id)), str(c.component));
            EXPECT_EQ(str(ecfGetComponentShortName(id)), str(c.shortName));
            EXPECT_EQ(str(ecfGetFunctionName(id)), str(c.function));
        }
    }
    // The last component of each product resolves; its entry 0 is the empty placeholder.
    for (Uint32 p = 1; p <= 3; ++p) {
        Uint32 last = ECF_MAKE_FUNC_ID(p, ecfGetNumComponents(p) - 1, 0, 1);
        EXPECT_NE(ecfGetComponentShortName(last), nullptr) << "product " << p;
        EXPECT_STRNE(ecfGetComponentShortName(last), "") << "product " << p;
        EXPECT_STREQ(ecfGetFunctionName(last & ~0xFFFFu), nullptr);
    }
}

TEST(EcfFunctionId, HelpersBuildTheLibrarysIdentifiers)
{
    EXPECT_EQ(OSS_FUNC_ID(OSS_FN_OSSHFile_close), 0x081A0003u);
    EXPECT_EQ(OSS_FUNC_ID(OSS_FN_OSSHFile_read), 0x081A0007u);
    EXPECT_EQ(OSS_SYS_FUNC_ID(OSS_SYSFN_CloseHandle), 0x08140069u);
    EXPECT_EQ(OSS_SYS_FUNC_ID(OSS_SYSFN_ReadFile), 0x08140092u);
    EXPECT_EQ(OSS_SYS_FUNC_ID(OSS_SYSFN_unspecified_system_function), 0x081400ABu);
    EXPECT_EQ(ECF_MAKE_FUNC_ID(ECF_PRODUCT_COMMON, ECF_COMP_OSSE, ECF_FUNC_KIND_LIBRARY, 3), 0x081A0003u);
    EXPECT_EQ(ECF_MAKE_FUNC_ID(ECF_PRODUCT_COMMON, ECF_COMP_SYSFUNCS, ECF_FUNC_KIND_SYSCALL, 0x69), 0x08140069u);
    const Uint32 id = 0xFFFFFFFFu;
    EXPECT_EQ(ECF_FUNC_PRODUCT(id), 31u);
    EXPECT_EQ(ECF_FUNC_COMPONENT(id), 255u);
    EXPECT_EQ(ECF_FUNC_KIND(id), 7u);
    EXPECT_EQ(ECF_FUNC_INDEX(id), 0xFFFFu);
    EXPECT_EQ(ECF_MAKE_ERROR(1, 12), ECF_INVALID_PARAMETER);
    EXPECT_EQ(ECF_MAKE_WARNING(1, 6), ECF_PARTIAL_INFO);
    EXPECT_EQ(OSS_FN_COUNT, 259);
    EXPECT_EQ(OSS_SYSFN_COUNT, 482);
}

TEST(EcfFunctionTables, LibraryComponentMatchesItsList)
{
    ASSERT_EQ(sizeof(kOssFunctions) / sizeof(kOssFunctions[0]), 259u);
    ASSERT_EQ(ecfGetNumFunctions(1, 3), 259u);
    for (Uint32 n = 1; n < 259; ++n) {
        EXPECT_EQ(str(ecfGetFunctionName(OSS_FUNC_ID(n))), kOssFunctions[n]) << "function " << n;
        EXPECT_EQ(ecfFindFunctionIndex(1, 3, kOssFunctions[n]), n) << kOssFunctions[n];
    }
}

TEST(EcfFunctionTables, OperatingSystemComponentHasTheNamedCallsAndUniqueNames)
{
    for (const IndexedName& f : kSysFunctions) {
        EXPECT_EQ(str(ecfGetFunctionName(OSS_SYS_FUNC_ID(f.index))), f.name) << "function " << f.index;
        EXPECT_EQ(ecfFindFunctionIndex(1, 2, f.name), f.index) << f.name;
    }
    std::set<std::string> names;
    for (Uint32 n = 1; n < 482; ++n) {
        const char* name = ecfGetFunctionName(OSS_SYS_FUNC_ID(n));
        ASSERT_NE(name, nullptr) << "function " << n;
        EXPECT_STRNE(name, "") << "function " << n;
        EXPECT_TRUE(names.insert(name).second) << "repeated " << name;
    }
}

// Every valid index of every table resolves, every index at a count does not, and the names
// (placeholders left out) add up to the family's 83,038 function names.
TEST(EcfFunctionTables, EveryValidIndexResolvesAndTheTotalsAddUp)
{
    Uint32 names = 0, components = 0;
    for (Uint32 p = 1; p <= ecfGetNumProducts(); ++p) {
        Uint32 numComponents = ecfGetNumComponents(p);
        ASSERT_GT(numComponents, 1u);
        for (Uint32 c = 1; c < numComponents; ++c) {
            ++components;
            Uint32 base = ECF_MAKE_FUNC_ID(p, c, 0, 0);
            ASSERT_NE(ecfGetComponentName(base), nullptr) << p << "/" << c;
            ASSERT_NE(ecfGetComponentShortName(base), nullptr) << p << "/" << c;
            Uint32 numFunctions = ecfGetNumFunctions(p, c);
            ASSERT_GE(numFunctions, 1u) << p << "/" << c;
            for (Uint32 f = 1; f < numFunctions; ++f) {
                const char* name = ecfGetFunctionName(base | f);
                ASSERT_NE(name, nullptr) << p << "/" << c << "/" << f;
                ASSERT_STRNE(name, "") << p << "/" << c << "/" << f;
            }
            ASSERT_EQ(ecfGetFunctionName(base | numFunctions), nullptr) << p << "/" << c;
            names += numFunctions - 1;
        }
        EXPECT_EQ(ecfGetComponentName(ECF_MAKE_FUNC_ID(p, numComponents, 0, 1)), nullptr);
    }
    EXPECT_EQ(components, 19u + 3u + 232u);
    EXPECT_EQ(names, 83038u);
}

TEST(EcfFind, ProductsAndComponentsByExactName)
{
    for (Uint32 p = 1; p <= 3; ++p) {
        EXPECT_STREQ(ecfGetProductName(ECF_MAKE_FUNC_ID(p, 1, 0, 1)), kProductNames[p]);
        EXPECT_EQ(ecfFindProductIndex(kProductNames[p]), p);
    }
    const struct {
        Uint32 product;
        const char* name;
        Uint32 index;
    } cases[] = {
        {1, "COMP_OSSE", 3},
        {1, "COMP_SYSFUNCS", 2},
        {1, "OSSe", 0},             // a long name is not a short name
        {1, "comp_osse", 0},        // case-sensitive
        {1, "COMP_OSS", 0},         // no prefix match
        {1, "", 1},                 // placeholder 1 is the first match; 0 is never scanned
        {2, "", 0},
        {0, "COMP_OSSE", 0},
        {4, "COMP_OSSE", 0},
        {1, nullptr, 0},
        {3, "SQLO", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ecfFindComponentIndex(c.product, c.name), c.index)
            << "product " << c.product << " name " << str(c.name);
    EXPECT_EQ(ecfFindProductIndex(nullptr), 0u);
    EXPECT_EQ(ecfFindProductIndex("nrv tools"), 0u);
    EXPECT_EQ(ecfFindProductIndex(""), 0u);

    // Every component's short name is found at an index below the count.
    for (Uint32 p = 1; p <= 3; ++p) {
        Uint32 count = ecfGetNumComponents(p);
        for (Uint32 c = 1; c < count; ++c) {
            Uint32 found = ecfFindComponentIndex(p, ecfGetComponentShortName(ECF_MAKE_FUNC_ID(p, c, 0, 0)));
            EXPECT_TRUE(found >= 1 && found <= c) << p << "/" << c;
        }
    }
}

TEST(EcfFind, FunctionsByExactNameReturnTheFirstMatch)
{
    const struct {
        Uint32 product, component;
        const char* name;
        Uint32 index;
    } cases[] = {
        {1, 3, "OSSHFile::close", 3},
        {1, 3, "OSSHFile::Close", 0},
        {1, 3, "", 0},
        {1, 3, nullptr, 0},
        {1, 2, "CloseHandle", 105},
        {1, 2, "OSSHFile::close", 0},
        {1, 1, "", 0},
        {1, 0, "", 0},
        {1, 20, "", 0},
        {0, 3, "OSSHFile::close", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ecfFindFunctionIndex(c.product, c.component, c.name), c.index)
            << c.product << "/" << c.component << " " << str(c.name);

    // Overloaded methods share a name: the scan must stop at the first one.
    Uint32 repeats = 0;
    for (Uint32 p = 1; p <= 3; ++p) {
        for (Uint32 c = 1; c < ecfGetNumComponents(p); ++c) {
            Uint32 count = ecfGetNumFunctions(p, c);
            std::set<std::string> seen;
            for (Uint32 f = 1; f < count; ++f) {
                const char* name = ecfGetFunctionName(ECF_MAKE_FUNC_ID(p, c, 0, f));
                Uint32 found = ecfFindFunctionIndex(p, c, name);
                if (seen.insert(name).second) {
                    ASSERT_EQ(found, f) << p << "/" << c << " " << name;
                } else {
                    ++repeats;
                    ASSERT_LT(found, f) << p << "/" << c << " " << name;
                    ASSERT_STREQ(ecfGetFunctionName(ECF_MAKE_FUNC_ID(p, c, 0, found)), name);
                }
            }
        }
    }
    EXPECT_GT(repeats, 0u) << "no repeated name exercises the first-match rule";
}

TEST(EcfCodes, LibraryCodesMatchTheirListAndAreOwnedByTheLibrary)
{
    std::set<Uint32> listed;
    for (const CodeCase& c : kLibraryCodes) {
        SCOPED_TRACE(c.name);
        listed.insert(ECF_CODE_INDEX(c.value));
        EXPECT_EQ(ecfErrorGetCodeValue(c.value), c.value);
        EXPECT_EQ(ecfErrorGetCodeValue(c.value ^ 0x80000000u), c.value);
        for (Uint32 form : {c.value, c.value ^ 0x80000000u, c.value | 0x0F800000u}) {
            EXPECT_EQ(str(ecfErrorGetCodeName(form)), c.name);
            EXPECT_EQ(str(ecfErrorGetDescription(form)), c.description);
            EXPECT_EQ(str(ecfErrorGetSetName(form)), "setecf");
            EXPECT_EQ(str(ecfErrorGetProductName(form)), kProductNames[1]);
            EXPECT_EQ(str(ecfErrorGetComponentName(form)), "OSSe");
        }
    }
    EXPECT_EQ(listed.size(), 78u);
    // No other code of the set belongs to the library.
    for (Uint32 i = 1; i <= 1622; ++i) {
        bool library = str(ecfErrorGetComponentName(0x90000000u | i)) == "OSSe" &&
                       str(ecfErrorGetProductName(0x90000000u | i)) == kProductNames[1];
        EXPECT_EQ(library, listed.count(i) == 1) << "index " << i;
    }
    EXPECT_STREQ(ecfErrorGetDescription(ECF_NO_MEMORY), "Insufficent memory");
}

TEST(EcfCodes, BoundariesAndSets)
{
    const struct {
        Uint32 code;
        bool valid;
    } cases[] = {
        {0x90000001, true},  {0x90000656, true},   // index 1622
        {0x10000656, true},  {0x90000657, false},  // index 1623
        {0x90000000, false}, {0x907FFFFF, false},
        {0x8000000C, false}, {0x0000000C, false},  // set 0
        {0xA000000C, false}, {0xB000000C, false}, {0xC000000C, false},
        {0xD000000C, false}, {0xE000000C, false}, {0xF000000C, false},
        {0x2000000C, false}, {0x7000000C, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << c.code);
        EXPECT_EQ(ecfErrorGetCodeName(c.code) != nullptr, c.valid);
        EXPECT_EQ(ecfErrorGetDescription(c.code) != nullptr, c.valid);
        EXPECT_EQ(ecfErrorGetProductName(c.code) != nullptr, c.valid);
        EXPECT_EQ(ecfErrorGetComponentName(c.code) != nullptr, c.valid);
        EXPECT_EQ(ecfErrorGetCodeValue(c.code) != 0, c.valid);
        EXPECT_EQ(ecfErrorGetSetName(c.code) != nullptr, ECF_CODE_SET(c.code) == 1);
    }
    EXPECT_STREQ(ecfErrorGetCodeName(0), "OK");
    EXPECT_STREQ(ecfErrorGetDescription(0), "OK");
    EXPECT_EQ(ecfErrorGetSetName(0), nullptr);
    EXPECT_EQ(ecfErrorGetProductName(0), nullptr);
    EXPECT_EQ(ecfErrorGetComponentName(0), nullptr);
    EXPECT_EQ(ecfErrorGetCodeValue(0), 0u);
}

TEST(EcfCodes, WholeSetIsCompleteWithUniqueNamesAndThreeWarnings)
{
    std::set<std::string> names;
    std::set<Uint32> warnings;
    for (Uint32 i = 1; i <= ecfErrorGetNumCodes(1); ++i) {
        Uint32 code = 0x90000000u | i;
        SCOPED_TRACE(testing::Message() << "index " << i);
        const char* name = ecfErrorGetCodeName(code);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(strncmp(name, "ECF_", 4), 0) << name;
        EXPECT_TRUE(names.insert(name).second) << "repeated " << name;
        const char* description = ecfErrorGetDescription(code);
        ASSERT_NE(description, nullptr);
        EXPECT_STRNE(description, "");
        const char* product = ecfErrorGetProductName(code);
        ASSERT_NE(product, nullptr);
        EXPECT_TRUE(!strcmp(product, kProductNames[1]) || !strcmp(product, kProductNames[2])) << product;
        EXPECT_NE(ecfErrorGetComponentName(code), nullptr);
        Uint32 value = ecfErrorGetCodeValue(code);
        EXPECT_EQ(value & 0x7FFFFFFFu, 0x10000000u | i);
        if (!(value & 0x80000000u)) warnings.insert(value);
    }
    EXPECT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings.count(ECF_PARTIAL_INFO), 1u);
}

#ifdef _WIN32
TEST(EcfExports, EveryLookupIsFoundByItsPlainName)
{
    HMODULE dll = GetModuleHandleA("NRVOSSE.dll");
    ASSERT_NE(dll, nullptr);
    const char* const names[] = {
        "ecfGetNumProducts",      "ecfGetNumComponents",      "ecfGetNumFunctions",
        "ecfGetProductName",      "ecfGetComponentName",      "ecfGetComponentShortName",
        "ecfGetFunctionName",     "ecfFindProductIndex",      "ecfFindComponentIndex",
        "ecfFindFunctionIndex",   "ecfErrorGetNumCodes",      "ecfErrorGetSetName",
        "ecfErrorGetProductName", "ecfErrorGetComponentName", "ecfErrorGetCodeName",
        "ecfErrorGetDescription", "ecfErrorGetCodeValue",
    };
    for (const char* name : names) {
        FARPROC proc = GetProcAddress(dll, name);
        ASSERT_NE(proc, nullptr) << name;
        HMODULE owner = nullptr;
        ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                       reinterpret_cast<LPCSTR>(proc), &owner));
        EXPECT_EQ(owner, dll) << name;
    }
    // Called through the looked-up addresses with the C calling convention.
    typedef const char* (*NameFn)(Uint32);
    typedef Uint32 (*FindFn)(Uint32, const char*);
    typedef Uint32 (*CountFn)(void);
    auto getFunctionName = procAddress<NameFn>(dll, "ecfGetFunctionName");
    auto getCodeName = procAddress<NameFn>(dll, "ecfErrorGetCodeName");
    auto findComponent = procAddress<FindFn>(dll, "ecfFindComponentIndex");
    auto numProducts = procAddress<CountFn>(dll, "ecfGetNumProducts");
    EXPECT_STREQ(getFunctionName(0x081A0003), "OSSHFile::close");
    EXPECT_STREQ(getCodeName(0x9000000C), "ECF_INVALID_PARAMETER");
    EXPECT_EQ(findComponent(1, "COMP_OSSE"), 3u);
    EXPECT_EQ(numProducts(), 3u);
}
#endif

// Codes the library does not own name their own product and component, not one of the library's:
// the codes given in full, and the generated codes of a subject, whose token tells the owner.
TEST(EcfCodes, CodesOfOtherOwnersNameTheirOwners)
{
    const struct {
        Uint32 code;
        const char* name;
        const char* product;
        const char* component;
    } cases[] = {
        {0x100005F3, "ECF_CLP_OUTPUT_TRUNCATED", "NRV Tools", "command line processor"},
        {0x100002A0, "ECF_CFG_DEFAULT_VALUE_USED", "NRV Common Services", "configuration services"},
    };
    for (const auto& c : cases) {
        for (Uint32 form : {c.code, c.code ^ 0x80000000u, c.code | 0x0F800000u}) {
            SCOPED_TRACE(form);
            EXPECT_EQ(str(ecfErrorGetCodeName(form)), c.name);
            EXPECT_EQ(str(ecfErrorGetProductName(form)), c.product);
            EXPECT_EQ(str(ecfErrorGetComponentName(form)), c.component);
        }
    }
    const struct {
        const char* prefix;
        const char* product;
        const char* component;
    } subjects[] = {
        {"ECF_SYS_CALL_", "NRV Common Services", "operating system"},
        {"ECF_LIC_KEY_", "NRV Common Services", "licence manager"},
        {"ECF_CLP_", "NRV Tools", "command line processor"},
    };
    for (const auto& s : subjects) {
        SCOPED_TRACE(s.prefix);
        int found = 0;
        for (Uint32 i = 1; i <= ecfErrorGetNumCodes(ECF_SET_ECF); ++i) {
            const Uint32 code = 0x90000000u | i;
            if (str(ecfErrorGetCodeName(code)).rfind(s.prefix, 0) != 0) continue;
            ++found;
            EXPECT_EQ(str(ecfErrorGetProductName(code)), s.product) << i;
            EXPECT_EQ(str(ecfErrorGetComponentName(code)), s.component) << i;
        }
        EXPECT_GT(found, 0);
    }
}
