// Stack walks and symbol names through the debug-help library, and the frame-pointer walk that
// needs no library at all.
//
// The debug-help library is not safe to call from several threads at once, and its calls reach
// each other (a stack walk calls back into the function-table and module-base routines, which
// call the library again). So every wrapper holds one mutex, the same for all of them: a Win32
// mutex may be taken again by its owner, which keeps those callbacks working, and with a single
// lock there is no order in which two threads could deadlock. The table keeps one entry per
// library function so that each call site still names the function it serialises.
//
// The mutexes are created by the load sequence and live until process detach. The library
// itself is bound at the first call that needs it: loading a DLL under the loader lock (the
// load sequence runs there) is not allowed.
#include <windows.h>

#include <dbghelp.h>
#include <string.h>

#include "fault/fault_internal.h"
#include "fault/framewalk.h"
#include "ipc/ipc_internal.h"
#include "osse/latch.h"
#include "osse/strutil.h"

namespace {

enum Entry {
    kSymFunctionTableAccess,
    kSymGetModuleInfo,
    kSymRegisterCallback,
    kSymGetModuleBase,
    kStackWalk,
    kEnumerateLoadedModules64,
    kSymGetSymFromAddr,
    kSymInitialize,
    kSymGetSearchPath,
    kSymSetSearchPath,
    kSymCleanup,
    kSymGetOptions,
    kSymSetOptions,
    kGetTimestampForLoadedLibrary,
    kImagehlpApiVersion,
    kImagehlpApiVersionEx,
    kSymLoadModule64,
    kSymUnloadModule64,
    kImageNtHeader,
    kUnDecorateSymbolName,
    kEntryCount
};

HANDLE g_mutex[kEntryCount];
volatile LONG g_loaded;
OSSLatch g_tableLock;  // guards loading and freeing the table

bool g_symInitialized;
Uint32 g_symUseCount;

// The function-table entry handed back to StackWalk64; only touched while the mutex is held.
// On x86 the library hands out a 16-byte FPO record, on x86_64 a 12-byte RUNTIME_FUNCTION.
Uint8 g_functionTableEntry[16];
#if OSSE_PTR32
constexpr DWORD kStackWalkMachine = IMAGE_FILE_MACHINE_I386;
constexpr size_t kFunctionEntrySize = 16;
#else
constexpr DWORD kStackWalkMachine = IMAGE_FILE_MACHINE_AMD64;
constexpr size_t kFunctionEntrySize = sizeof(RUNTIME_FUNCTION);
static_assert(sizeof(RUNTIME_FUNCTION) <= sizeof g_functionTableEntry, "function entry");
#endif

// ---- Binding the library at first use ------------------------------------------------------
struct DbgHelp {
    decltype(&SymFunctionTableAccess64) functionTableAccess;
    decltype(&SymGetModuleInfo64) getModuleInfo;
    decltype(&SymRegisterCallback64) registerCallback;
    decltype(&SymGetModuleBase64) getModuleBase;
    decltype(&StackWalk64) stackWalk;
    decltype(&EnumerateLoadedModules64) enumerateLoadedModules;
    decltype(&SymGetSymFromAddr64) getSymFromAddr;
    decltype(&SymInitialize) initialize;
    decltype(&SymGetSearchPath) getSearchPath;
    decltype(&SymSetSearchPath) setSearchPath;
    decltype(&SymGetOptions) getOptions;
    decltype(&SymSetOptions) setOptions;
    decltype(&GetTimestampForLoadedLibrary) getTimestamp;
    decltype(&ImagehlpApiVersion) apiVersion;
    decltype(&ImagehlpApiVersionEx) apiVersionEx;
    decltype(&SymLoadModule64) loadModule;
    decltype(&SymUnloadModule64) unloadModule;
    decltype(&ImageNtHeader) imageNtHeader;
    decltype(&UnDecorateSymbolName) unDecorate;
};

DbgHelp g_dbg;
volatile LONG g_bindState;  // 0 not tried, 1 bound, 2 not available
OSSLatch g_bindLock;

template <class F>
void bindOne(HMODULE m, F& f, const char* name)
{
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

bool bound()
{
    if (g_bindState == 1) return true;
    if (g_bindState == 2) return false;
    OSSLatchGuard guard(g_bindLock);
    if (g_bindState == 0) {
        HMODULE m = LoadLibraryA("dbghelp.dll");
        if (m) {
            bindOne(m, g_dbg.functionTableAccess, "SymFunctionTableAccess64");
            bindOne(m, g_dbg.getModuleInfo, "SymGetModuleInfo64");
            bindOne(m, g_dbg.registerCallback, "SymRegisterCallback64");
            bindOne(m, g_dbg.getModuleBase, "SymGetModuleBase64");
            bindOne(m, g_dbg.stackWalk, "StackWalk64");
            bindOne(m, g_dbg.enumerateLoadedModules, "EnumerateLoadedModules64");
            bindOne(m, g_dbg.getSymFromAddr, "SymGetSymFromAddr64");
            bindOne(m, g_dbg.initialize, "SymInitialize");
            bindOne(m, g_dbg.getSearchPath, "SymGetSearchPath");
            bindOne(m, g_dbg.setSearchPath, "SymSetSearchPath");
            bindOne(m, g_dbg.getOptions, "SymGetOptions");
            bindOne(m, g_dbg.setOptions, "SymSetOptions");
            bindOne(m, g_dbg.getTimestamp, "GetTimestampForLoadedLibrary");
            bindOne(m, g_dbg.apiVersion, "ImagehlpApiVersion");
            bindOne(m, g_dbg.apiVersionEx, "ImagehlpApiVersionEx");
            bindOne(m, g_dbg.loadModule, "SymLoadModule64");
            bindOne(m, g_dbg.unloadModule, "SymUnloadModule64");
            bindOne(m, g_dbg.imageNtHeader, "ImageNtHeader");
            bindOne(m, g_dbg.unDecorate, "UnDecorateSymbolName");
        }
        InterlockedExchange(&g_bindState, m ? 1 : 2);
    }
    return g_bindState == 1;
}

// ---- One serialised call -------------------------------------------------------------------
// Holds the table's mutex for the call and gives the caller the library's last error, not one
// left by the mutex calls. A missing library or function gives `failed` and an error of its own.
template <class R, class F, class Call>
R callSerialised(Entry entry, F DbgHelp::*member, Call call, R failed)
{
    // The function is read only once the library is bound.
    if (!bound()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return failed;
    }
    const F fn = g_dbg.*member;
    if (!fn) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return failed;
    }
    if (!g_loaded) ossLoadSymDLL(true);
    HANDLE m = g_mutex[entry];
    if (m) WaitForSingleObject(m, INFINITE);  // WAIT_ABANDONED also gives ownership
    R result = call(fn);
    const DWORD error = GetLastError();
    if (m) ReleaseMutex(m);
    SetLastError(error);
    return result;
}

#define OSS_SERIALISED(entry, member, failed, ...)                                          \
    callSerialised(entry, &DbgHelp::member,                                                 \
                   [&](decltype(g_dbg.member) fn) { return fn(__VA_ARGS__); }, failed)

// ---- The stack walk's routines -------------------------------------------------------------
// The walk runs in this process: an address that does not fit this build's addresses is not
// one of its own, and is not looked up (rather than looked up cut to its low bits).
bool ownAddress(DWORD64 address)
{
    return address == (DWORD64)(uintptr_t)address;
}

DWORD64 WINAPI moduleBaseRoutine(HANDLE process, DWORD64 address)
{
    if (!ownAddress(address)) return 0;
    const DWORD64 base = ossSymGetModuleBase(process, (OSSSymAddress)address);
    if (base) return base;
    // The symbol handler may not know the module yet (it was initialised without loading the
    // process's modules): find the image that holds the address and load it, by the path the
    // loader list has, so that the walk can use its unwind information.
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery((const void*)(uintptr_t)address, &info, sizeof info) == 0 ||
        info.Type != MEM_IMAGE || !info.AllocationBase)
        return 0;
    const uintptr_t imageBase = (uintptr_t)info.AllocationBase;
    char path[MAX_PATH + 1];
    if (osse_fault::modulePathFromLoaderList(imageBase, path, sizeof path))
        ossSymLoadModule(process, nullptr, path, nullptr, (OSSSymAddress)imageBase, 0);
    return imageBase;
}

PVOID WINAPI functionTableRoutine(HANDLE process, DWORD64 addrBase)
{
    if (!ownAddress(addrBase)) return nullptr;
    void* entry = ossSymFunctionTableAccess(process, (OSSSymAddress)addrBase);
    // The module may not be known to the symbol handler yet: load it, and ask once more.
    if (!entry && moduleBaseRoutine(process, addrBase))
        entry = ossSymFunctionTableAccess(process, (OSSSymAddress)addrBase);
    if (!entry) return nullptr;
    memcpy(g_functionTableEntry, entry, kFunctionEntrySize);
    return g_functionTableEntry;
}

// The callback registered for stack walks: it answers no request, so the library does its
// default work for each.
BOOL CALLBACK stackWalkCallback(HANDLE, ULONG, ULONG64, ULONG64)
{
    return FALSE;
}

// ---- The collected module list -------------------------------------------------------------
constexpr Uint32 kMaxCollected = 512;
OSSTrapModuleRecord g_collected[kMaxCollected];
Uint32 g_collectedCount;
OSSLatch g_collectLock;

BOOL CALLBACK collectModule(PCSTR name, DWORD64 base, ULONG size, PVOID)
{
    if (g_collectedCount < kMaxCollected)
        osse_fault::buildModuleRecord(name, (uintptr_t)base, size,
                                      &g_collected[g_collectedCount++]);
    return TRUE;
}

// The mutexes carry the library's IPC security attributes (the registered ones, else the
// default); without them they are created with the system's defaults.
SECURITY_ATTRIBUTES* ipcSecurityAttributes(SECURITY_DESCRIPTOR* descriptor,
                                           SECURITY_ATTRIBUTES* attrs)
{
    return ossIPCSecurityAttributes(descriptor, attrs) == 0 ? attrs : nullptr;
}

// ---- The walk of the calling thread's stack ------------------------------------------------
// The thread's own stack bounds, from its thread block: frames outside them are not followed.
void stackBounds(uintptr_t* low, uintptr_t* high)
{
    const NT_TIB* tib = (const NT_TIB*)osse_fault::currentTeb();
    *low = (uintptr_t)tib->StackLimit;
    *high = (uintptr_t)tib->StackBase;
}

#if OSSE_PTR32
// x86: the chain of saved frame pointers, from the frame the caller of the walk saved.
Uint32 walkCurrentStack(Uint32 skip, void** out, Uint32 max, Uint32 startFrame)
{
    uintptr_t low, high;
    stackBounds(&low, &high);
    return osse_fault::walkFrames<Uint32>(startFrame, skip, out, max, (Uint32)low, (Uint32)high,
                                          [](Uint32 frame, Uint32* words) {
                                              return osse_fault::safeRead(
                                                  (const void*)(uintptr_t)frame, words, 8);
                                          });
}
#else
// x86_64: code need not keep a frame-pointer chain (system code does not), so frames are
// unwound by the images' unwind data from a captured context. The first `drop` frames are the
// walk's own and are not counted as skipped. The same limits as the frame-pointer walk: the
// stack pointer stays inside the thread's stack and moves up by at most 1 MiB a frame.
Uint32 unwindCurrentStack(CONTEXT* ctx, Uint32 drop, Uint32 skip, void** out, Uint32 max)
{
    for (Uint32 i = 0; i < max; ++i) out[i] = nullptr;
    uintptr_t low, high;
    stackBounds(&low, &high);
    Uint32 stored = 0;
    for (Uint32 steps = 0; stored < max && steps < osse_fault::kMaxFrames; ++steps) {
        const DWORD64 sp = ctx->Rsp;
        if (sp < low || sp + 8 > high) break;
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(ctx->Rip, &imageBase, nullptr);
        if (entry) {
            void* handlerData = nullptr;
            DWORD64 establisherFrame = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, ctx->Rip, entry, ctx, &handlerData,
                             &establisherFrame, nullptr);
        } else {
            // A leaf function (no unwind data): the return address is at the stack pointer.
            DWORD64 ret = 0;
            if (!osse_fault::safeRead((const void*)(uintptr_t)sp, &ret, 8)) break;
            ctx->Rip = ret;
            ctx->Rsp = sp + 8;
        }
        if (ctx->Rsp <= sp || ctx->Rsp - sp > osse_fault::kMaxFrameHop || ctx->Rsp > high) break;
        if (ctx->Rip < osse_fault::kReturnFloor) break;
        if (drop) {
            --drop;
        } else if (skip) {
            --skip;
        } else {
            out[stored++] = (void*)(uintptr_t)ctx->Rip;
        }
    }
    return stored;
}
#endif

}  // namespace

namespace osse_fault {

bool readable(const void* address, SIZE_T size)
{
    // ReadProcessMemory alone is not enough: some systems read a no-access page through it.
    if (size == 0) return true;
    uintptr_t at = (uintptr_t)address;
    const uintptr_t last = at + (size - 1);
    if (last < at) return false;
    for (;;) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery((const void*)(uintptr_t)at, &info, sizeof info) == 0) return false;
        if (info.State != MEM_COMMIT || (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) ||
            info.Protect == 0)
            return false;
        const uintptr_t regionEnd = (uintptr_t)info.BaseAddress + info.RegionSize;
        if (regionEnd == 0 || regionEnd - 1 >= last) return true;
        at = regionEnd;
    }
}

bool safeRead(const void* address, void* buffer, SIZE_T size)
{
    if (!readable(address, size)) return false;
    SIZE_T got = 0;
    return ReadProcessMemory(GetCurrentProcess(), address, buffer, size, &got) && got == size;
}

Uint32 collectedModuleCount()
{
    return g_collectedCount;
}

const OSSTrapModuleRecord* collectedModules()
{
    return g_collected;
}

void releaseAtDetach(bool processExit)
{
    if (processExit) return;
    ossFreeSymDLL();
}

}  // namespace osse_fault

// ---- The table -------------------------------------------------------------------------------
extern "C" OSSE_API void ossLoadSymDLL(bool takeLock)
{
    if (takeLock) g_tableLock.acquire();
    if (!g_loaded) {
        SECURITY_DESCRIPTOR descriptor;
        SECURITY_ATTRIBUTES attrs;
        SECURITY_ATTRIBUTES* sa = ipcSecurityAttributes(&descriptor, &attrs);
        HANDLE shared = nullptr;
        for (int i = 0; i < kEntryCount; ++i) {
            if (g_mutex[i]) {
                if (!shared) shared = g_mutex[i];
                continue;
            }
            if (!shared) shared = CreateMutexA(sa, FALSE, nullptr);
            g_mutex[i] = shared;
        }
        if (shared) InterlockedExchange(&g_loaded, 1);
    }
    if (takeLock) g_tableLock.release();
}

extern "C" OSSE_API void ossFreeSymDLL(void)
{
    OSSLatchGuard guard(g_tableLock);
    if (!g_loaded) return;
    // Every entry holds the same handle: close it once.
    HANDLE shared = g_mutex[0];
    for (int i = 0; i < kEntryCount; ++i) g_mutex[i] = nullptr;
    InterlockedExchange(&g_loaded, 0);
    if (shared) CloseHandle(shared);
}

// ---- Wrappers ------------------------------------------------------------------------------
extern "C" OSSE_API void* ossSymFunctionTableAccess(void* process, OSSSymAddress addrBase)
{
    return OSS_SERIALISED(kSymFunctionTableAccess, functionTableAccess, (void*)nullptr, process,
                          (DWORD64)addrBase);
}

extern "C" OSSE_API int ossSymGetModuleInfo(void* process, OSSSymAddress address,
                                            struct _IMAGEHLP_MODULE64* info)
{
    return OSS_SERIALISED(kSymGetModuleInfo, getModuleInfo, (BOOL)FALSE, process,
                          (DWORD64)address, info);
}

extern "C" OSSE_API int ossSymRegisterCallback(void* process, OSSSymRegisteredCallback callback,
                                               Uint64 userContext)
{
    return OSS_SERIALISED(kSymRegisterCallback, registerCallback, (BOOL)FALSE, process,
                          (PSYMBOL_REGISTERED_CALLBACK64)callback, userContext);
}

extern "C" OSSE_API Uint64 ossSymGetModuleBase(void* process, OSSSymAddress address)
{
    return OSS_SERIALISED(kSymGetModuleBase, getModuleBase, (DWORD64)0, process,
                          (DWORD64)address);
}

extern "C" OSSE_API int ossStackWalk(void* process, void* thread, struct _tagSTACKFRAME64* frame,
                                     struct _CONTEXT* context)
{
    if (!g_loaded) ossLoadSymDLL(true);
    return OSS_SERIALISED(kStackWalk, stackWalk, (BOOL)FALSE, kStackWalkMachine, process,
                          thread, frame, context, nullptr, functionTableRoutine,
                          moduleBaseRoutine, nullptr);
}

extern "C" OSSE_API int ossEnumerateLoadedModules(void* process, OSSEnumModulesCallback callback,
                                                  void* userContext)
{
    if (callback)
        return OSS_SERIALISED(kEnumerateLoadedModules64, enumerateLoadedModules, (BOOL)FALSE,
                              process, (PENUMLOADED_MODULES_CALLBACK64)callback, userContext);
    // Without a callback: collect this process's modules into the list trap files fall back on.
    OSSLatchGuard guard(g_collectLock);
    g_collectedCount = 0;
    return OSS_SERIALISED(kEnumerateLoadedModules64, enumerateLoadedModules, (BOOL)FALSE,
                          process, collectModule, userContext);
}

extern "C" OSSE_API int ossSymGetSymFromAddr(void* process, OSSSymAddress address,
                                             Uint64* displacement,
                                             struct _IMAGEHLP_SYMBOL64* symbol)
{
    return OSS_SERIALISED(kSymGetSymFromAddr, getSymFromAddr, (BOOL)FALSE, process,
                          (DWORD64)address, (PDWORD64)displacement, symbol);
}

extern "C" OSSE_API int ossSymInitialize(void* process, const char* searchPath, int invadeProcess)
{
    return callSerialised(
        kSymInitialize, &DbgHelp::initialize,
        [&](decltype(g_dbg.initialize) fn) -> BOOL {
            // Runs with the mutex held, so the flag and the count need no lock of their own.
            // A later call only counts, and answers TRUE like the first one did: callers test
            // the result as a Boolean.
            if (g_symInitialized) {
                ++g_symUseCount;
                SetLastError(ERROR_SUCCESS);
                return TRUE;
            }
            const BOOL ok = fn(process, searchPath, invadeProcess);
            if (ok) {
                g_symInitialized = true;
                g_symUseCount = 1;
            }
            return ok;
        },
        (BOOL)FALSE);
}

extern "C" OSSE_API int ossSymGetSearchPath(void* process, char* searchPath, Uint32 size)
{
    return OSS_SERIALISED(kSymGetSearchPath, getSearchPath, (BOOL)FALSE, process, searchPath,
                          size);
}

extern "C" OSSE_API int ossSymSetSearchPath(void* process, const char* searchPath)
{
    return OSS_SERIALISED(kSymSetSearchPath, setSearchPath, (BOOL)FALSE, process, searchPath);
}

extern "C" OSSE_API int ossSymCleanup(void*)
{
    // The symbol handler stays initialised for the life of the process: other threads may be
    // walking or naming at any time, and the library may not be called after SymCleanup.
    if (g_loaded) {
        HANDLE m = g_mutex[kSymCleanup];
        if (m) WaitForSingleObject(m, INFINITE);
        if (g_symUseCount > 0) --g_symUseCount;
        if (m) ReleaseMutex(m);
    }
    return TRUE;
}

extern "C" OSSE_API unsigned long ossSymGetOptions(void)
{
    return OSS_SERIALISED(kSymGetOptions, getOptions, (DWORD)0);
}

extern "C" OSSE_API unsigned long ossSymSetOptions(unsigned long options)
{
    return OSS_SERIALISED(kSymSetOptions, setOptions, (DWORD)0, options);
}

extern "C" OSSE_API unsigned long ossGetTimestampForLoadedLibrary(struct HINSTANCE__* module)
{
    return OSS_SERIALISED(kGetTimestampForLoadedLibrary, getTimestamp, (DWORD)0, module);
}

extern "C" OSSE_API struct API_VERSION* ossImagehlpApiVersion(void)
{
    return OSS_SERIALISED(kImagehlpApiVersion, apiVersion, (LPAPI_VERSION) nullptr);
}

extern "C" OSSE_API struct API_VERSION* ossImagehlpApiVersionEx(struct API_VERSION* appVersion)
{
    return OSS_SERIALISED(kImagehlpApiVersionEx, apiVersionEx, (LPAPI_VERSION) nullptr,
                          appVersion);
}

extern "C" OSSE_API Uint64 ossSymLoadModule(void* process, void* file, const char* imageName,
                                            const char* moduleName,
                                            OSSSymAddress baseOfDll, Uint32 sizeOfDll)
{
    return OSS_SERIALISED(kSymLoadModule64, loadModule, (DWORD64)0, process, file,
                          (PCSTR)imageName, (PCSTR)moduleName, (DWORD64)baseOfDll,
                          (DWORD)sizeOfDll);
}

extern "C" OSSE_API int ossSymUnloadModule(void* process, OSSSymAddress baseOfDll)
{
    return OSS_SERIALISED(kSymUnloadModule64, unloadModule, (BOOL)FALSE, process,
                          (DWORD64)baseOfDll);
}

extern "C" OSSE_API OSSImageNtHeaders* ossImageNtHeader(void* base)
{
    return OSS_SERIALISED(kImageNtHeader, imageNtHeader, (PIMAGE_NT_HEADERS) nullptr, base);
}

extern "C" OSSE_API unsigned long ossUnDecorateSymbolName(const char* name, char* outputString,
                                                          unsigned long maxStringLength,
                                                          unsigned long flags)
{
    return OSS_SERIALISED(kUnDecorateSymbolName, unDecorate, (DWORD)0, name, outputString,
                          maxStringLength, flags);
}

extern "C" OSSE_API int ossSymRegisterStackWalkCallback(void* process)
{
    return ossSymRegisterCallback(process, (OSSSymRegisteredCallback)stackWalkCallback, 0);
}

// ---- Walks and names -----------------------------------------------------------------------
// Both walks start at the caller's frame: the first address is where the caller returns to.
#if OSSE_PTR32
extern "C" OSSE_API __attribute__((noinline)) Uint32 ossWalkStackCollect(Uint32 skip, void** out,
                                                                        Uint32 max)
{
    if (!out || max == 0) return 0;
    // The frame pointer this function saved is the caller's frame.
    Uint32 callerFrame = 0;
    osse_fault::safeRead(__builtin_frame_address(0), &callerFrame, 4);
    return walkCurrentStack(skip, out, max, callerFrame);
}

extern "C" OSSE_API __attribute__((noinline)) Uint32 ossWalkStackCollectEx(Uint32 skip,
                                                                          void** out, Uint32 max)
{
    if (!out || max == 0) return 0;
    Uint32 callerFrame = 0;
    osse_fault::safeRead(__builtin_frame_address(0), &callerFrame, 4);
    return walkCurrentStack(skip, out, max, callerFrame);
}
#else
// The context is captured in this function: unwinding it once gives the caller's own frame,
// whose return address is the first one stored.
extern "C" OSSE_API __attribute__((noinline)) Uint32 ossWalkStackCollect(Uint32 skip, void** out,
                                                                        Uint32 max)
{
    if (!out || max == 0) return 0;
    CONTEXT ctx;
    memset(&ctx, 0, sizeof ctx);
    RtlCaptureContext(&ctx);
    return unwindCurrentStack(&ctx, 1, skip, out, max);
}

extern "C" OSSE_API __attribute__((noinline)) Uint32 ossWalkStackCollectEx(Uint32 skip,
                                                                          void** out, Uint32 max)
{
    if (!out || max == 0) return 0;
    CONTEXT ctx;
    memset(&ctx, 0, sizeof ctx);
    RtlCaptureContext(&ctx);
    return unwindCurrentStack(&ctx, 1, skip, out, max);
}
#endif

extern "C" OSSE_API void ossSymbolNameForAddress(const void* address, char* out, Uint32 size,
                                                 Uint32* displacement)
{
    if (!out || size == 0) {
        if (displacement) *displacement = 0;
        return;
    }
    if (!address) {
        ossSnprintf(out, size, "%s", "?unknown");
        if (displacement) *displacement = 0;
        return;
    }
    // The record and the name room that follows it.
    union {
        IMAGEHLP_SYMBOL64 symbol;
        Uint8 room[sizeof(IMAGEHLP_SYMBOL64) + 260];
    } record;
    memset(&record, 0, sizeof record);
    record.symbol.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL64);
    record.symbol.MaxNameLength = 260;
    Uint64 offset = 0;
    if (ossSymGetSymFromAddr(GetCurrentProcess(), (OSSSymAddress)(uintptr_t)address, &offset,
                             &record.symbol)) {
        // The library may fill the name room completely: cut at the room's end and always
        // terminate the caller's buffer.
        record.room[sizeof record.room - 1] = 0;
        ossSnprintf(out, size, "%s", record.symbol.Name);
        if (displacement) *displacement = (Uint32)offset;
    } else {
#if OSSE_PTR32
        ossSnprintf(out, size, "0x%08X", (unsigned)(uintptr_t)address);
#else
        ossSnprintf(out, size, "0x%016I64X", (Uint64)(uintptr_t)address);
#endif
        if (displacement) *displacement = 0;
    }
}
