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
#if OSSE_PTR32
struct _IMAGE_NT_HEADERS;
/* The image header record of this build's kind of image. */
typedef struct _IMAGE_NT_HEADERS OSSImageNtHeaders;
#else
struct _IMAGE_NT_HEADERS64;
typedef struct _IMAGE_NT_HEADERS64 OSSImageNtHeaders;
#endif
struct API_VERSION;
struct HINSTANCE__;

/* The debug-help callback forms (same shapes as PENUMLOADED_MODULES_CALLBACK64 and
 * PSYMBOL_REGISTERED_CALLBACK64). */
typedef int(__stdcall* OSSEnumModulesCallback)(const char* moduleName, Uint64 moduleBase,
                                               unsigned long moduleSize, void* userContext);
/* The symbol handler callback form (PSYMBOL_REGISTERED_CALLBACK64). */
typedef int(__stdcall* OSSSymRegisteredCallback)(void* process, unsigned long actionCode,
                                                 Uint64 callbackData, Uint64 userContext);

/* An address in this process as the wrappers take it: the i686 library keeps the 32-bit
 * parameters its callers were built against; the x86_64 library takes whole addresses. */
#if OSSE_PTR32
typedef Uint32 OSSSymAddress;
#else
typedef Uint64 OSSSymAddress;
#endif

/* ---- The serialisation table ---------------------------------------------------------- */
/* Creates the mutexes that do not exist yet (under the table's lock when takeLock). */
OSSE_C_API void ossLoadSymDLL(bool takeLock);
/* Closes every mutex of the table. Only for a process that no longer calls debug help. */
OSSE_C_API void ossFreeSymDLL(void);

/* ---- Serialised debug-help wrappers: each returns the library function's result and leaves
 * its last error in place. Without the debug-help library they return 0 with the last error
 * ERROR_MOD_NOT_FOUND (or ERROR_PROC_NOT_FOUND for a missing function). ------------------ */
/* Serialised SymFunctionTableAccess64. */
OSSE_C_API void* ossSymFunctionTableAccess(void* process, OSSSymAddress addrBase);
/* Serialised SymGetModuleInfo64. */
OSSE_C_API int ossSymGetModuleInfo(void* process, OSSSymAddress address, struct _IMAGEHLP_MODULE64* info);
/* Serialised SymRegisterCallback64. */
OSSE_C_API int ossSymRegisterCallback(void* process, OSSSymRegisteredCallback callback,
                                      Uint64 userContext);
/* Serialised SymGetModuleBase64. */
OSSE_C_API Uint64 ossSymGetModuleBase(void* process, OSSSymAddress address);
/* One step of a stack walk over this build's kind of image (x86 or AMD64; on AMD64 the
 * library unwinds by the images' unwind data) with the library's own function-table and
 * module-base routines. */
OSSE_C_API int ossStackWalk(void* process, void* thread, struct _tagSTACKFRAME64* frame,
                            struct _CONTEXT* context);
/* A null callback collects the module records of the current process into the list that
 * trap files fall back on when they cannot write modules themselves. */
OSSE_C_API int ossEnumerateLoadedModules(void* process, OSSEnumModulesCallback callback,
                                         void* userContext);
/* Serialised SymGetSymFromAddr64. */
OSSE_C_API int ossSymGetSymFromAddr(void* process, OSSSymAddress address, Uint64* displacement,
                                    struct _IMAGEHLP_SYMBOL64* symbol);
/* Use-counted: the first successful call initialises the symbol handler for the life of the
 * process; later calls only count and return TRUE without calling the library. */
OSSE_C_API int ossSymInitialize(void* process, const char* searchPath, int invadeProcess);
/* Serialised SymGetSearchPath. */
OSSE_C_API int ossSymGetSearchPath(void* process, char* searchPath, Uint32 size);
/* Serialised SymSetSearchPath. */
OSSE_C_API int ossSymSetSearchPath(void* process, const char* searchPath);
/* Drops one use of the symbol handler and returns TRUE; the handler itself stays initialised. */
OSSE_C_API int ossSymCleanup(void* process);
/* Serialised SymGetOptions. */
OSSE_C_API unsigned long ossSymGetOptions(void);
/* Serialised SymSetOptions. */
OSSE_C_API unsigned long ossSymSetOptions(unsigned long options);
/* The time stamp of a loaded module's image header. */
OSSE_C_API unsigned long ossGetTimestampForLoadedLibrary(struct HINSTANCE__* module);
/* Serialised ImagehlpApiVersion. */
OSSE_C_API struct API_VERSION* ossImagehlpApiVersion(void);
/* Serialised ImagehlpApiVersionEx. */
OSSE_C_API struct API_VERSION* ossImagehlpApiVersionEx(struct API_VERSION* appVersion);
/* Serialised SymLoadModule64. */
OSSE_C_API Uint64 ossSymLoadModule(void* process, void* file, const char* imageName,
                                   const char* moduleName, OSSSymAddress baseOfDll,
                                   Uint32 sizeOfDll);
/* Serialised SymUnloadModule64. */
OSSE_C_API int ossSymUnloadModule(void* process, OSSSymAddress baseOfDll);
/* The image header of this build's own kind (IMAGE_NT_HEADERS32 or IMAGE_NT_HEADERS64). */
OSSE_C_API OSSImageNtHeaders* ossImageNtHeader(void* base);
/* Serialised UnDecorateSymbolName. */
OSSE_C_API unsigned long ossUnDecorateSymbolName(const char* name, char* outputString,
                                                 unsigned long maxStringLength,
                                                 unsigned long flags);
/* Registers the library's own symbol callback for the process (user context 0). */
OSSE_C_API int ossSymRegisterStackWalkCallback(void* process);

/* ---- Walks and names ------------------------------------------------------------------ */
/* Walk of the calling thread's stack (by saved frame pointers on x86, by the images' unwind
 * data on x86_64, where a frame-pointer chain is not guaranteed): skips `skip` return
 * addresses, stores at most max into out (the rest of out is zeroed) and returns the number
 * stored. Stays inside the thread's stack; stops at a frame at or below 0xFFF, at a frame that does not move up or moves
 * more than 1 MiB, at a return address below 0x1000, and at max frames. */
OSSE_C_API Uint32 ossWalkStackCollect(Uint32 skip, void** out, Uint32 max);
/* The same walk, for callers of the extended form. */
OSSE_C_API Uint32 ossWalkStackCollectEx(Uint32 skip, void** out, Uint32 max);
/* The symbol name of address into out[size] (always terminated): "?unknown" for a null address,
 * the address in hexadecimal when no symbol is known ("0x%08X" in the i686 library, 16 digits
 * in the x86_64 library). *displacement (when given) receives the offset into the
 * symbol, 0 when none was found. */
OSSE_C_API void ossSymbolNameForAddress(const void* address, char* out, Uint32 size,
                                        Uint32* displacement);

/* ---- Trap files ----------------------------------------------------------------------- */
/* A trap file has the layout of the library that wrote it: 4-byte addresses from the i686
 * library, 8-byte addresses from the x86_64 library. Readers tell the two apart by the
 * header's eye-catcher. A header flag bit was the other choice and the worse one: the
 * eye-catcher is what a reader searches for to find the header at all, so a reader that knows
 * only the 32-bit layout finds no header in a 64-bit file (instead of reading 8-byte addresses
 * as 4-byte ones), and the flags word is rewritten in place as sections are added, where a
 * single stray bit would change how every later byte is read.
 *
 * The sections in both layouts, in file order (each present only when asked for):
 *   header            OSSTrapFileHeader32 / OSSTrapFileHeader64
 *   system            SYSTEM_INFO (36 / 48 bytes), OSVERSIONINFOEXA (156), then
 *                     MEMORYSTATUSEX (64) or MEMORYSTATUS (32 / 56) as the header's flags say
 *   environment       per string: length (u32), bytes; then 11 and the end marker
 *   exception record  EXCEPTION_RECORD (80 / 152 bytes), OSSTrapExceptionRecord32 / 64
 *   context           the x86 CONTEXT (716) / the AMD64 CONTEXT (1232), OSSTrapContext32 / 64
 *   modules           OSSTrapModuleRecord32 / 64, as many as the header counts
 *   debug-help version  8 bytes
 *   stack             code window bytes; OSSTrapFrameRecord (264 bytes in both) per frame,
 *                     the last one with the return address OSS_TRAP_FRAME_END_MARKER when the
 *                     walk failed; then the raw stack:
 *                       32-bit: word count (u32), count x 4 bytes from the context's Esp
 *                       64-bit: start address (u64), word count (u32), count x 8 bytes
 *   memory            per region: base and size (u32 each / u64 each), the bytes; then the
 *                     end marker in the place of a base (u32 / u64 0x0E0DDEAD) */
#define OSS_TRAP_EYECATCHER32 "*TPHDR32"
#define OSS_TRAP_EYECATCHER64 "*TPHDR64"
#define OSS_TRAP_HEADER32_SIZE 388u
#define OSS_TRAP_HEADER64_SIZE 392u
#define OSS_TRAP_MODULE_RECORD32_SIZE 284u
#define OSS_TRAP_MODULE_RECORD64_SIZE 296u
#define OSS_TRAP_EXCEPTION_RECORD32_SIZE 80u
#define OSS_TRAP_EXCEPTION_RECORD64_SIZE 152u
#define OSS_TRAP_CONTEXT32_SIZE 716u
#define OSS_TRAP_CONTEXT64_SIZE 1232u
#define OSS_TRAP_SYSTEM_INFO32_SIZE 36u
#define OSS_TRAP_SYSTEM_INFO64_SIZE 48u
#define OSS_TRAP_VERSION_INFO_SIZE 156u
#define OSS_TRAP_MEMSTATUS_EX_SIZE 64u
#define OSS_TRAP_MEMSTATUS32_SIZE 32u
#define OSS_TRAP_MEMSTATUS64_SIZE 56u
#define OSS_TRAP_FRAME_RECORD_SIZE 264u
#define OSS_TRAP_ENV_END_MARKER "**L*E*R*M**"
#define OSS_TRAP_FRAME_END_MARKER 0xF2A3EBADu
#define OSS_TRAP_MEMORY_END_MARKER 0x0E0DDEADu

/* The layout this build writes. */
#if OSSE_PTR32
/* Sizes and eye-catcher of the layout this build writes. */
#define OSS_TRAP_EYECATCHER OSS_TRAP_EYECATCHER32
#define OSS_TRAP_HEADER_SIZE OSS_TRAP_HEADER32_SIZE
#define OSS_TRAP_MODULE_RECORD_SIZE OSS_TRAP_MODULE_RECORD32_SIZE
#define OSS_TRAP_EXCEPTION_RECORD_SIZE OSS_TRAP_EXCEPTION_RECORD32_SIZE
#define OSS_TRAP_CONTEXT_SIZE OSS_TRAP_CONTEXT32_SIZE
#else
#define OSS_TRAP_EYECATCHER OSS_TRAP_EYECATCHER64
#define OSS_TRAP_HEADER_SIZE OSS_TRAP_HEADER64_SIZE
#define OSS_TRAP_MODULE_RECORD_SIZE OSS_TRAP_MODULE_RECORD64_SIZE
#define OSS_TRAP_EXCEPTION_RECORD_SIZE OSS_TRAP_EXCEPTION_RECORD64_SIZE
#define OSS_TRAP_CONTEXT_SIZE OSS_TRAP_CONTEXT64_SIZE
#endif

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
/* The header of a trap file written by the i686 library (4-byte addresses), found by its eye-
 * catcher "*TPHDR32". */
typedef struct OSSTrapFileHeader32 {
    char eyeCatcher[8]; /* OSS_TRAP_EYECATCHER32 */
    Uint32 processId; /* id of the process that trapped */
    Uint32 threadId; /* id of the thread that trapped */
    Uint32 codeWindowAddress; /* first readable byte of the code window copied after the header; 0 if none */
    Uint16 localTime[8]; /* year, month, day of week, day, hour, minute, second, milliseconds */
    Uint32 flags; /* OSS_TRAP_HDR_* bits */
    Uint16 reserved1; /* 0 */
    Uint16 moduleCount; /* module records written (0 if none) */
    char executablePath[260]; /* path of the process's executable, NUL-terminated */
    Uint8 reserved2[80]; /* 0 */
    Uint16 codeWindowLength; /* bytes in the code window, up to 0xFFFF; 0 if none was read */
    Uint16 reserved3; /* 0 */
} OSSTrapFileHeader32;

/* The 32-bit header with the code window address widened in its place; every later field
 * moves down by 4 bytes, and the 8-byte fields fall on 8-byte offsets. */
typedef struct OSSTrapFileHeader64 {
    char eyeCatcher[8]; /* OSS_TRAP_EYECATCHER64 */
    Uint32 processId; /* id of the process that trapped */
    Uint32 threadId; /* id of the thread that trapped */
    Uint64 codeWindowAddress; /* first readable byte of the code window; 0 if none */
    Uint16 localTime[8]; /* local time of the trap, as in the 32-bit header */
    Uint32 flags; /* OSS_TRAP_HDR_* bits */
    Uint16 reserved1; /* 0 */
    Uint16 moduleCount; /* module records written (0 if none) */
    char executablePath[260]; /* path of the process's executable, NUL-terminated */
    Uint8 reserved2[80]; /* 0 */
    Uint16 codeWindowLength; /* bytes in the code window; 0 if none was read */
    Uint16 reserved3; /* 0 */
} OSSTrapFileHeader64;

/* One loaded module in a 32-bit trap file: path, marker address (where the product's modules keep
 * their marker), start and end, time stamp. */
typedef struct OSSTrapModuleRecord32 {
    char path[261]; /* module's full path, NUL-padded */
    Uint8 reserved[7]; /* 0 */
    Uint32 markerAddress; /* address of the module's sqlzThisIsANRVLibrary export, or 0 */
    Uint32 base; /* load address */
    Uint32 end; /* first address past the module's image */
    Uint32 timeStamp; /* link time stamp of the image; 0 if unread */
} OSSTrapModuleRecord32;

/* One loaded module in a 64-bit trap file. */
typedef struct OSSTrapModuleRecord64 {
    char path[261]; /* module's full path, NUL-padded */
    Uint8 reserved[3]; /* 0 */
    Uint64 markerAddress; /* address of the module's sqlzThisIsANRVLibrary export, or 0 */
    Uint64 base; /* load address */
    Uint64 end; /* first address past the module's image */
    Uint32 timeStamp; /* link time stamp of the image; 0 if unread */
    Uint32 reserved2; /* 0 */
} OSSTrapModuleRecord64;

/* One step of the stack walk: the debug-help library's STACKFRAME64, which has the same 264
 * bytes in a 32-bit and a 64-bit process (only its function-table pointer differs in width,
 * inside 8 bytes either way). */
typedef struct OSSTrapAddress {
    Uint64 offset; /* address */
    Uint16 segment; /* segment selector (flat addresses: 0) */
    Uint16 reserved; /* 0 */
    Uint32 mode; /* addressing mode (3: flat) */
} OSSTrapAddress;

/* One frame of the stack walk in a trap file: program counter, return address, frame and stack
 * addresses, and the rest of the walk's record. */
typedef struct OSSTrapFrameRecord {
    OSSTrapAddress pc; /* program counter of the frame */
    OSSTrapAddress returnAddress; /* return address of the frame */
    OSSTrapAddress frame; /* frame pointer */
    OSSTrapAddress stack; /* stack pointer */
    OSSTrapAddress backingStore; /* backing store (Itanium only) */
    Uint64 functionTableEntry; /* function table entry, or 0 */
    Uint64 params[4]; /* first four argument slots */
    Uint32 isFar; /* nonzero for a far call */
    Uint32 isVirtual; /* nonzero for a virtual frame */
    Uint64 reserved[3]; /* 0 */
    Uint8 kernelHelp[112]; /* kernel-callback data of the walk */
} OSSTrapFrameRecord;

/* The exception record as the system gives it, in each layout. */
typedef struct OSSTrapExceptionRecord32 {
    Uint32 code; /* exception code */
    Uint32 flags; /* exception flags (1: not continuable) */
    Uint32 record; /* address of a nested record, or 0 */
    Uint32 address; /* where the exception happened */
    Uint32 numberParameters; /* entries used in information */
    Uint32 information[15]; /* code-specific parameters */
} OSSTrapExceptionRecord32;

/* The exception record in a 64-bit trap file. */
typedef struct OSSTrapExceptionRecord64 {
    Uint32 code; /* exception code */
    Uint32 flags; /* exception flags (1: not continuable) */
    Uint64 record; /* address of a nested record, or 0 */
    Uint64 address; /* where the exception happened */
    Uint32 numberParameters; /* entries used in information */
    Uint32 reserved; /* alignment padding */
    Uint64 information[15]; /* code-specific parameters */
} OSSTrapExceptionRecord64;

/* The x86 CONTEXT. */
typedef struct OSSTrapContext32 {
    Uint32 contextFlags; /* which register groups are valid */
    Uint32 dr0, dr1, dr2, dr3, dr6, dr7; /* debug registers */
    Uint8 floatSave[112]; /* x87 save area */
    Uint32 segGs, segFs, segEs, segDs; /* segment registers */
    Uint32 edi, esi, ebx, edx, ecx, eax; /* general registers */
    Uint32 ebp, eip, segCs, eflags, esp, segSs; /* control registers */
    Uint8 extendedRegisters[512]; /* FXSAVE area */
} OSSTrapContext32;

/* The AMD64 CONTEXT. */
typedef struct OSSTrapContext64 {
    Uint64 home[6]; /* parameter home slots */
    Uint32 contextFlags; /* which register groups are valid */
    Uint32 mxCsr; /* SSE control and status */
    Uint16 segCs, segDs, segEs, segFs, segGs, segSs; /* segment registers */
    Uint32 eflags; /* flags register */
    Uint64 dr0, dr1, dr2, dr3, dr6, dr7; /* debug registers */
    Uint64 rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi; /* general registers */
    Uint64 r8, r9, r10, r11, r12, r13, r14, r15; /* general registers */
    Uint64 rip; /* instruction pointer */
    Uint8 floatSave[512]; /* FXSAVE area */
    Uint8 vectorRegisters[416]; /* vector registers */
    Uint64 vectorControl; /* vector control */
    Uint64 debugControl; /* debug control */
    Uint64 lastBranchToRip, lastBranchFromRip, lastExceptionToRip, lastExceptionFromRip; /* last branch and exception records */
} OSSTrapContext64;
#pragma pack(pop)

#if OSSE_PTR32
/* The records of the layout this build writes. */
typedef OSSTrapFileHeader32 OSSTrapFileHeader;
typedef OSSTrapModuleRecord32 OSSTrapModuleRecord;
#else
typedef OSSTrapFileHeader64 OSSTrapFileHeader;
typedef OSSTrapModuleRecord64 OSSTrapModuleRecord;
#endif

#ifdef __cplusplus
/* 32-bit layout                                                       64-bit layout */
static_assert(sizeof(OSSTrapFileHeader32) == 388, "header32");       static_assert(sizeof(OSSTrapFileHeader64) == 392, "header64");
static_assert(offsetof(OSSTrapFileHeader32, processId) == 8, "h32");  static_assert(offsetof(OSSTrapFileHeader64, processId) == 8, "h64");
static_assert(offsetof(OSSTrapFileHeader32, threadId) == 12, "h32");  static_assert(offsetof(OSSTrapFileHeader64, threadId) == 12, "h64");
static_assert(offsetof(OSSTrapFileHeader32, codeWindowAddress) == 16, "h32");
                                                                      static_assert(offsetof(OSSTrapFileHeader64, codeWindowAddress) == 16, "h64");
static_assert(offsetof(OSSTrapFileHeader32, localTime) == 20, "h32"); static_assert(offsetof(OSSTrapFileHeader64, localTime) == 24, "h64");
static_assert(offsetof(OSSTrapFileHeader32, flags) == 36, "h32");     static_assert(offsetof(OSSTrapFileHeader64, flags) == 40, "h64");
static_assert(offsetof(OSSTrapFileHeader32, moduleCount) == 42, "h32");
                                                                      static_assert(offsetof(OSSTrapFileHeader64, moduleCount) == 46, "h64");
static_assert(offsetof(OSSTrapFileHeader32, executablePath) == 44, "h32");
                                                                      static_assert(offsetof(OSSTrapFileHeader64, executablePath) == 48, "h64");
static_assert(offsetof(OSSTrapFileHeader32, reserved2) == 304, "h32"); static_assert(offsetof(OSSTrapFileHeader64, reserved2) == 308, "h64");
static_assert(offsetof(OSSTrapFileHeader32, codeWindowLength) == 384, "h32");
                                                                      static_assert(offsetof(OSSTrapFileHeader64, codeWindowLength) == 388, "h64");
static_assert(sizeof(OSSTrapModuleRecord32) == 284, "module32");     static_assert(sizeof(OSSTrapModuleRecord64) == 296, "module64");
static_assert(offsetof(OSSTrapModuleRecord32, markerAddress) == 268, "m32");
                                                                      static_assert(offsetof(OSSTrapModuleRecord64, markerAddress) == 264, "m64");
static_assert(offsetof(OSSTrapModuleRecord32, base) == 272, "m32");   static_assert(offsetof(OSSTrapModuleRecord64, base) == 272, "m64");
static_assert(offsetof(OSSTrapModuleRecord32, end) == 276, "m32");    static_assert(offsetof(OSSTrapModuleRecord64, end) == 280, "m64");
static_assert(offsetof(OSSTrapModuleRecord32, timeStamp) == 280, "m32");
                                                                      static_assert(offsetof(OSSTrapModuleRecord64, timeStamp) == 288, "m64");
static_assert(sizeof(OSSTrapExceptionRecord32) == 80, "exception32"); static_assert(sizeof(OSSTrapExceptionRecord64) == 152, "exception64");
static_assert(offsetof(OSSTrapExceptionRecord32, address) == 12, "e32");
                                                                      static_assert(offsetof(OSSTrapExceptionRecord64, address) == 16, "e64");
static_assert(offsetof(OSSTrapExceptionRecord32, information) == 20, "e32");
                                                                      static_assert(offsetof(OSSTrapExceptionRecord64, information) == 32, "e64");
static_assert(sizeof(OSSTrapContext32) == 716, "context32");          static_assert(sizeof(OSSTrapContext64) == 1232, "context64");
static_assert(offsetof(OSSTrapContext32, segGs) == 140, "c32");       static_assert(offsetof(OSSTrapContext64, contextFlags) == 48, "c64");
static_assert(offsetof(OSSTrapContext32, edi) == 156, "c32");         static_assert(offsetof(OSSTrapContext64, eflags) == 68, "c64");
static_assert(offsetof(OSSTrapContext32, eax) == 176, "c32");         static_assert(offsetof(OSSTrapContext64, rax) == 120, "c64");
static_assert(offsetof(OSSTrapContext32, ebp) == 180, "c32");         static_assert(offsetof(OSSTrapContext64, rsp) == 152, "c64");
static_assert(offsetof(OSSTrapContext32, eip) == 184, "c32");         static_assert(offsetof(OSSTrapContext64, r8) == 184, "c64");
static_assert(offsetof(OSSTrapContext32, eflags) == 192, "c32");      static_assert(offsetof(OSSTrapContext64, rip) == 248, "c64");
static_assert(offsetof(OSSTrapContext32, esp) == 196, "c32");         static_assert(offsetof(OSSTrapContext64, floatSave) == 256, "c64");
static_assert(offsetof(OSSTrapContext32, extendedRegisters) == 204, "c32");
                                                                      static_assert(offsetof(OSSTrapContext64, vectorControl) == 1184, "c64");
/* Both layouts */
static_assert(sizeof(OSSTrapFrameRecord) == 264, "frame record");
static_assert(offsetof(OSSTrapFrameRecord, returnAddress) == 16 && offsetof(OSSTrapFrameRecord, frame) == 32 &&
                  offsetof(OSSTrapFrameRecord, stack) == 48 && offsetof(OSSTrapFrameRecord, params) == 88 &&
                  offsetof(OSSTrapFrameRecord, kernelHelp) == 152,
              "frame record");

/* A trap file: gathers the identity of a fault once (initialize), then appends the sections
 * that dump() is asked for. The file is opened and closed through the base class. Nothing here
 * allocates, logs or traces: the process writing a trap file is already failing. */
class OSSE_API OSSTrapFile : public OSSPrimitiveFileOp {
public:
    OSSTrapFile();
    ~OSSTrapFile();
    /* Sets the object up with no file and no fault. */
    void constructor();
    /* Restores the symbol search path that initialize replaced. */
    void destructor();

    /* Gathers the identity of the fault (process, thread, time, executable, exception address) into
     * the header, and sets the symbol search path (null: the default one). The first argument is
     * not used. */
    void initialize(Uint32 unused, const struct _EXCEPTION_RECORD* exceptionRecord,
                    const struct _CONTEXT* context, const char* searchPath);
    /* Appends the sections asked for (OSS_TRAP_SECTION_... bits) for the given exception and
     * context at the file's position; threadValue is a value of the caller's, carried with the
     * stack request. A section that cannot be gathered is left out. */
    void dump(Uint32 sections, Uint32 threadValue, const struct _EXCEPTION_RECORD* exceptionRecord,
              const struct _CONTEXT* context);
    /* True when the prolog was written into an empty file; otherwise false, with the file
     * positioned where further text belongs. */
    bool writeXMLProlog();

    /* The header gathered by initialize. */
    const OSSTrapFileHeader& header() const { return m_header; }
    /* The process handle the symbol queries use. */
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
