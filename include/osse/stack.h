/* Failure diagnostics: frame-pointer stack walks, the serialised debug-help wrappers, symbol
 * names, and trap files.
 *
 * The debug-help library is not safe to call from several threads at once, so every wrapper
 * below holds the library's own mutex for the call. The library is bound at its first use, not
 * at load. The system types (STACKFRAME64, CONTEXT, ...) are declared here by their structure
 * tags only, so that this header does not pull in the system headers; include <windows.h> and
 * <dbghelp.h> to fill them in. Addresses given as 32-bit values are widened to the library's
 * 64-bit forms. */
#ifndef OSSE_STACK_H
#define OSSE_STACK_H

#include "osse/base.h"
#include "osse/primfile.h"

struct _tagSTACKFRAME64;
struct _CONTEXT;
struct _EXCEPTION_RECORD;
struct _IMAGEHLP_MODULE64;
struct _IMAGEHLP_SYMBOL64;
struct _IMAGE_NT_HEADERS;
struct API_VERSION;
struct HINSTANCE__;

/* The debug-help callback forms (same shapes as PENUMLOADED_MODULES_CALLBACK64 and
 * PSYMBOL_REGISTERED_CALLBACK64). */
typedef int(__stdcall* OSSEnumModulesCallback)(const char* moduleName, Uint64 moduleBase,
                                               unsigned long moduleSize, void* userContext);
typedef int(__stdcall* OSSSymRegisteredCallback)(void* process, unsigned long actionCode,
                                                 Uint64 callbackData, Uint64 userContext);

/* ---- The serialisation table ---------------------------------------------------------- */
/* Creates the mutexes that do not exist yet (under the table's lock when takeLock). */
OSSE_C_API void ossLoadSymDLL(bool takeLock);
/* Closes every mutex of the table. Only for a process that no longer calls debug help. */
OSSE_C_API void ossFreeSymDLL(void);

/* ---- Serialised debug-help wrappers: each returns the library function's result and leaves
 * its last error in place. Without the debug-help library they return 0 with the last error
 * ERROR_MOD_NOT_FOUND (or ERROR_PROC_NOT_FOUND for a missing function). ------------------ */
OSSE_C_API void* ossSymFunctionTableAccess(void* process, Uint32 addrBase);
OSSE_C_API int ossSymGetModuleInfo(void* process, Uint32 address, struct _IMAGEHLP_MODULE64* info);
OSSE_C_API int ossSymRegisterCallback(void* process, OSSSymRegisteredCallback callback,
                                      Uint64 userContext);
OSSE_C_API Uint64 ossSymGetModuleBase(void* process, Uint32 address);
/* One step of a stack walk for an x86 image with the library's own function-table and
 * module-base routines. */
OSSE_C_API int ossStackWalk(void* process, void* thread, struct _tagSTACKFRAME64* frame,
                            struct _CONTEXT* context);
/* A null callback collects the module records of the current process into the list that
 * trap files fall back on when they cannot write modules themselves. */
OSSE_C_API int ossEnumerateLoadedModules(void* process, OSSEnumModulesCallback callback,
                                         void* userContext);
OSSE_C_API int ossSymGetSymFromAddr(void* process, Uint32 address, Uint64* displacement,
                                    struct _IMAGEHLP_SYMBOL64* symbol);
/* Use-counted: the first successful call initialises the symbol handler for the life of the
 * process; later calls only count and return TRUE without calling the library. */
OSSE_C_API int ossSymInitialize(void* process, const char* searchPath, int invadeProcess);
OSSE_C_API int ossSymGetSearchPath(void* process, char* searchPath, Uint32 size);
OSSE_C_API int ossSymSetSearchPath(void* process, const char* searchPath);
/* Drops one use of the symbol handler and returns TRUE; the handler itself stays initialised. */
OSSE_C_API int ossSymCleanup(void* process);
OSSE_C_API unsigned long ossSymGetOptions(void);
OSSE_C_API unsigned long ossSymSetOptions(unsigned long options);
OSSE_C_API unsigned long ossGetTimestampForLoadedLibrary(struct HINSTANCE__* module);
OSSE_C_API struct API_VERSION* ossImagehlpApiVersion(void);
OSSE_C_API struct API_VERSION* ossImagehlpApiVersionEx(struct API_VERSION* appVersion);
OSSE_C_API Uint64 ossSymLoadModule(void* process, void* file, const char* imageName,
                                   const char* moduleName, Uint32 baseOfDll, Uint32 sizeOfDll);
OSSE_C_API int ossSymUnloadModule(void* process, Uint32 baseOfDll);
OSSE_C_API struct _IMAGE_NT_HEADERS* ossImageNtHeader(void* base);
OSSE_C_API unsigned long ossUnDecorateSymbolName(const char* name, char* outputString,
                                                 unsigned long maxStringLength,
                                                 unsigned long flags);
/* Registers the library's own symbol callback for the process (user context 0). */
OSSE_C_API int ossSymRegisterStackWalkCallback(void* process);

/* ---- Walks and names ------------------------------------------------------------------ */
/* Frame-pointer walk of the calling thread: skips `skip` return addresses, stores at most max
 * into out (the rest of out is zeroed) and returns the number stored. Stays inside the
 * thread's stack; stops at a frame at or below 0xFFF, at a frame that does not move up or moves
 * more than 1 MiB, at a return address below 0x1000, and at max frames. */
OSSE_C_API Uint32 ossWalkStackCollect(Uint32 skip, void** out, Uint32 max);
OSSE_C_API Uint32 ossWalkStackCollectEx(Uint32 skip, void** out, Uint32 max);
/* The symbol name of address into out[size] (always terminated): "?unknown" for a null address,
 * "0x%08X" when no symbol is known. *displacement (when given) receives the offset into the
 * symbol, 0 when none was found. */
OSSE_C_API void ossSymbolNameForAddress(const void* address, char* out, Uint32 size,
                                        Uint32* displacement);

/* ---- Trap files ----------------------------------------------------------------------- */
#define OSS_TRAP_EYECATCHER "*TPHDR32"
#define OSS_TRAP_HEADER_SIZE 388u
#define OSS_TRAP_MODULE_RECORD_SIZE 284u
#define OSS_TRAP_FRAME_RECORD_SIZE 264u
#define OSS_TRAP_EXCEPTION_RECORD_SIZE 80u
#define OSS_TRAP_CONTEXT_SIZE 716u
#define OSS_TRAP_ENV_END_MARKER "**L*E*R*M**"
#define OSS_TRAP_FRAME_END_MARKER 0xF2A3EBADu
#define OSS_TRAP_MEMORY_END_MARKER 0x0E0DDEADu

/* Header flags. */
#define OSS_TRAP_HDR_EXCEPTION      0x0001u
#define OSS_TRAP_HDR_CONTEXT        0x0002u
#define OSS_TRAP_HDR_MODULES_DIRECT 0x0004u
#define OSS_TRAP_HDR_CODE_UNREAD    0x0008u
#define OSS_TRAP_HDR_CODE_WINDOW    0x0010u
#define OSS_TRAP_HDR_API_VERSION    0x0020u
#define OSS_TRAP_HDR_MEMORY_DUMPED  0x0040u
#define OSS_TRAP_HDR_MODULES_LIST   0x0200u
#define OSS_TRAP_HDR_MEMSTATUS_EX   0x0400u
#define OSS_TRAP_HDR_MEMSTATUS      0x0800u

/* Sections of dump(); written in the order listed here, whatever the order of the bits. */
#define OSS_TRAP_SECTION_HEADER      0x04000u
#define OSS_TRAP_SECTION_SYSTEM      0x00001u
#define OSS_TRAP_SECTION_ENVIRONMENT 0x00002u
#define OSS_TRAP_SECTION_EXCEPTION   0x10000u
#define OSS_TRAP_SECTION_CONTEXT     0x20000u
#define OSS_TRAP_SECTION_MODULES     0x40000u
#define OSS_TRAP_SECTION_APIVERSION  0x08000u
#define OSS_TRAP_SECTION_STACK       0x00004u
#define OSS_TRAP_SECTION_MEMORY      0x80000u

#pragma pack(push, 1)
typedef struct OSSTrapFileHeader {
    char eyeCatcher[8];
    Uint32 processId;
    Uint32 threadId;
    Uint32 codeWindowAddress;
    Uint16 localTime[8]; /* year, month, day of week, day, hour, minute, second, milliseconds */
    Uint32 flags;
    Uint16 reserved1;
    Uint16 moduleCount;
    char executablePath[260];
    Uint8 reserved2[80];
    Uint16 codeWindowLength;
    Uint16 reserved3;
} OSSTrapFileHeader;

typedef struct OSSTrapModuleRecord {
    char path[261];
    Uint8 reserved[7];
    Uint32 markerAddress; /* address of the module's sqlzThisIsANRVLibrary export, or 0 */
    Uint32 base;
    Uint32 end;
    Uint32 timeStamp;
} OSSTrapModuleRecord;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(OSSTrapFileHeader) == 388, "trap file header layout");
static_assert(offsetof(OSSTrapFileHeader, codeWindowAddress) == 16, "trap file header layout");
static_assert(offsetof(OSSTrapFileHeader, localTime) == 20, "trap file header layout");
static_assert(offsetof(OSSTrapFileHeader, flags) == 36, "trap file header layout");
static_assert(offsetof(OSSTrapFileHeader, moduleCount) == 42, "trap file header layout");
static_assert(offsetof(OSSTrapFileHeader, executablePath) == 44, "trap file header layout");
static_assert(offsetof(OSSTrapFileHeader, reserved2) == 304, "trap file header layout");
static_assert(offsetof(OSSTrapFileHeader, codeWindowLength) == 384, "trap file header layout");
static_assert(sizeof(OSSTrapModuleRecord) == 284, "trap module record layout");
static_assert(offsetof(OSSTrapModuleRecord, markerAddress) == 268, "trap module record layout");
static_assert(offsetof(OSSTrapModuleRecord, timeStamp) == 280, "trap module record layout");

/* A trap file: gathers the identity of a fault once (initialize), then appends the sections
 * that dump() is asked for. The file is opened and closed through the base class. Nothing here
 * allocates, logs or traces: the process writing a trap file is already failing. */
class OSSE_API OSSTrapFile : public OSSPrimitiveFileOp {
public:
    OSSTrapFile();
    ~OSSTrapFile();
    void constructor();
    /* Restores the symbol search path that initialize replaced. */
    void destructor();

    void initialize(Uint32 unused, const struct _EXCEPTION_RECORD* exceptionRecord,
                    const struct _CONTEXT* context, const char* searchPath);
    void dump(Uint32 sections, Uint32 threadValue, const struct _EXCEPTION_RECORD* exceptionRecord,
              const struct _CONTEXT* context);
    /* True when the prolog was written into an empty file; otherwise false, with the file
     * positioned where further text belongs. */
    bool writeXMLProlog();

    const OSSTrapFileHeader& header() const { return m_header; }
    void* processHandle() const { return m_hProcess; }

private:
    /* Rewrites the header where this object wrote it, when its eye-catcher is still there. */
    void writeHeaderAt(Uint32 offset);

    OSSTrapFileHeader m_header;
    Uint32 m_headerOffset;
    Uint32 m_reserved;
    Uint8 m_initialized;
    char m_savedSearchPath[260];
    void* m_hProcess;
};
#endif

#endif
