// Trap files: the binary dump an exception handler writes about a failing process.
//
// Everything here runs in a process that has just faulted: no call frame, no log, no
// allocation, no lock, and no read of memory that has not been checked (this compiler has no
// structured exception handling, so foreign memory is copied with ReadProcessMemory into a
// buffer on the writer's own stack). A writer never waits for another thread: one that died
// or stalled while writing must not hold up the next trap file.
// The header is rewritten only at the offset where it was written, and only after its
// eye-catcher is found there again, so bytes that were in the file before the trap survive.
#include <windows.h>

#include <dbghelp.h>
#include <string.h>

#include "fault/fault_internal.h"
#include "osse/strutil.h"
#include "diag/security_internal.h"

// The system's records are written as they are: they must have the sizes and offsets the
// trap file layout of this build says.
#if OSSE_PTR32
typedef OSSTrapExceptionRecord32 TrapExceptionRecord;
typedef OSSTrapContext32 TrapContext;
static_assert(sizeof(SYSTEM_INFO) == OSS_TRAP_SYSTEM_INFO32_SIZE, "system information");
static_assert(sizeof(MEMORYSTATUS) == OSS_TRAP_MEMSTATUS32_SIZE, "memory status");
static_assert(offsetof(CONTEXT, Eip) == offsetof(TrapContext, eip) &&
                  offsetof(CONTEXT, Esp) == offsetof(TrapContext, esp) &&
                  offsetof(CONTEXT, Ebp) == offsetof(TrapContext, ebp) &&
                  offsetof(CONTEXT, EFlags) == offsetof(TrapContext, eflags) &&
                  offsetof(CONTEXT, Eax) == offsetof(TrapContext, eax) &&
                  offsetof(CONTEXT, SegSs) == offsetof(TrapContext, segSs),
              "x86 context");
#define OSS_CONTEXT_IP(c) ((c).Eip)
#define OSS_CONTEXT_SP(c) ((c).Esp)
#define OSS_CONTEXT_FP(c) ((c).Ebp)
#else
typedef OSSTrapExceptionRecord64 TrapExceptionRecord;
typedef OSSTrapContext64 TrapContext;
static_assert(sizeof(SYSTEM_INFO) == OSS_TRAP_SYSTEM_INFO64_SIZE, "system information");
static_assert(sizeof(MEMORYSTATUS) == OSS_TRAP_MEMSTATUS64_SIZE, "memory status");
static_assert(offsetof(CONTEXT, ContextFlags) == offsetof(TrapContext, contextFlags) &&
                  offsetof(CONTEXT, EFlags) == offsetof(TrapContext, eflags) &&
                  offsetof(CONTEXT, Rax) == offsetof(TrapContext, rax) &&
                  offsetof(CONTEXT, Rsp) == offsetof(TrapContext, rsp) &&
                  offsetof(CONTEXT, Rbp) == offsetof(TrapContext, rbp) &&
                  offsetof(CONTEXT, R15) == offsetof(TrapContext, r15) &&
                  offsetof(CONTEXT, Rip) == offsetof(TrapContext, rip) &&
                  offsetof(CONTEXT, VectorControl) == offsetof(TrapContext, vectorControl),
              "AMD64 context");
#define OSS_CONTEXT_IP(c) ((c).Rip)
#define OSS_CONTEXT_SP(c) ((c).Rsp)
#define OSS_CONTEXT_FP(c) ((c).Rbp)
#endif
static_assert(sizeof(EXCEPTION_RECORD) == OSS_TRAP_EXCEPTION_RECORD_SIZE &&
                  sizeof(EXCEPTION_RECORD) == sizeof(TrapExceptionRecord) &&
                  offsetof(EXCEPTION_RECORD, ExceptionAddress) ==
                      offsetof(TrapExceptionRecord, address) &&
                  offsetof(EXCEPTION_RECORD, ExceptionInformation) ==
                      offsetof(TrapExceptionRecord, information),
              "exception record");
static_assert(sizeof(CONTEXT) == OSS_TRAP_CONTEXT_SIZE && sizeof(CONTEXT) == sizeof(TrapContext),
              "context");
static_assert(sizeof(STACKFRAME64) == OSS_TRAP_FRAME_RECORD_SIZE &&
                  offsetof(STACKFRAME64, AddrReturn) == offsetof(OSSTrapFrameRecord, returnAddress) &&
                  offsetof(STACKFRAME64, AddrStack) == offsetof(OSSTrapFrameRecord, stack) &&
                  offsetof(STACKFRAME64, Params) == offsetof(OSSTrapFrameRecord, params) &&
                  offsetof(STACKFRAME64, KdHelp) == offsetof(OSSTrapFrameRecord, kernelHelp),
              "stack frame record");
static_assert(sizeof(OSVERSIONINFOEXA) == OSS_TRAP_VERSION_INFO_SIZE, "version information");
static_assert(sizeof(MEMORYSTATUSEX) == OSS_TRAP_MEMSTATUS_EX_SIZE, "memory status");

namespace {

constexpr Uint32 kCodeWindowBefore = 32;
constexpr Uint32 kCodeWindowMax = 64;
constexpr Uint32 kMaxWalkFrames = 256;
constexpr Uint32 kMaxRawStack = 1024 * 1024;
// A stack word, and the width of the addresses the stack and memory sections hold.
constexpr uintptr_t kWord = sizeof(void*);
typedef uintptr_t FileAddress;
constexpr Uint32 kEnvCopyBuffer = 2048;
// One page: a bigger buffer would fault again when the trap is a stack overflow.
constexpr Uint32 kCopyBuffer = 4096;
constexpr Uint32 kModuleCountMax = 0xFFFF;

const char kXmlProlog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<?xml-stylesheet href=\"nrvtrapfile.xsl\" type=\"text/xsl\"?>\n";
constexpr Uint32 kXmlPrologLength = sizeof kXmlProlog - 1;

// The request handed to the stack writer.
struct StackRequest {
    Uint32 version;
    OSSTrapFile* trapFile;
    Uint32 threadValue;
    const EXCEPTION_RECORD* exceptionRecord;
    const CONTEXT* context;
    Uint32 flags;
    Uint32 reserved1;
    Uint32 reserved2;
};

bool readable4(uintptr_t address)
{
    Uint8 word[4];
    return osse_fault::safeRead((const void*)(uintptr_t)address, word, 4);
}

// Writes size bytes of this process's memory at address, a page at a time; a page that cannot
// be read is written as zeros, so the record keeps the size it announced.
void writeMemory(OSSTrapFile& file, uintptr_t address, SIZE_T size)
{
    Uint8 copy[kCopyBuffer];
    static_assert(sizeof copy <= 0x1000, "one page at most: the copy runs on a faulting stack");
    while (size > 0) {
        const SIZE_T toPage = 0x1000 - (address & 0xFFF);
        const Uint32 chunk = (Uint32)(toPage < size ? toPage : size);
        if (!osse_fault::safeRead((const void*)(uintptr_t)address, copy, chunk))
            memset(copy, 0, chunk);
        file.write(copy, chunk);
        address += chunk;
        size -= chunk;
    }
}

// Number of readable bytes from address up to end (whole pages are readable or not).
uintptr_t readableRun(uintptr_t address, uintptr_t end)
{
    uintptr_t run = 0;
    Uint8 probe[4];
    while (address + run < end) {
        const uintptr_t at = address + run;
        if (!osse_fault::safeRead((const void*)at, probe, 4)) break;
        uintptr_t step = 0x1000 - (at & 0xFFF);
        if (step > end - at) step = end - at;
        // The last word of the step is on the same page as its first.
        run += step;
    }
    return run & ~(kWord - 1);
}

// ---- Modules ------------------------------------------------------------------------------
struct ModuleWriter {
    OSSTrapFile* file;
    Uint32 count;
};

BOOL CALLBACK writeModule(PCSTR name, DWORD64 base, ULONG size, PVOID context)
{
    ModuleWriter* w = (ModuleWriter*)context;
    if (w->count >= kModuleCountMax) return FALSE;
    OSSTrapModuleRecord record;
    osse_fault::buildModuleRecord(name, (uintptr_t)base, size, &record);
    w->file->write(&record, sizeof record);
    ++w->count;
    return TRUE;
}

// Looks a name up in the export directory of the image at base, reading the image only through
// checked copies. The loader is not asked: its lock may be held by the thread that faulted.
// The modules of this process are images of this build's kind (IMAGE_NT_HEADERS is the
// 32-bit or the 64-bit header accordingly); any other image is not searched.
uintptr_t findExport(uintptr_t base, Uint32 size, const char* wanted)
{
    IMAGE_DOS_HEADER dos;
    if (!osse_fault::safeRead((const void*)(uintptr_t)base, &dos, sizeof dos)) return 0;
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || (Uint32)dos.e_lfanew >= size) return 0;
    IMAGE_NT_HEADERS nt;
    if (!osse_fault::safeRead((const void*)(uintptr_t)(base + dos.e_lfanew), &nt, sizeof nt))
        return 0;
    if (nt.Signature != IMAGE_NT_SIGNATURE ||
        nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC ||
        nt.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT)
        return 0;
    const IMAGE_DATA_DIRECTORY dir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.VirtualAddress == 0 || dir.VirtualAddress >= size) return 0;
    IMAGE_EXPORT_DIRECTORY exp;
    if (!osse_fault::safeRead((const void*)(uintptr_t)(base + dir.VirtualAddress), &exp,
                              sizeof exp))
        return 0;
    // The name table is sorted (the loader searches it the same way): a binary search reads a
    // dozen names instead of every one.
    const size_t wantedLength = strlen(wanted);
    Uint32 low = 0, high = exp.NumberOfNames;
    while (low < high) {
        const Uint32 mid = low + (high - low) / 2;
        Uint32 nameRva = 0;
        if (!osse_fault::safeRead((const void*)(uintptr_t)(base + exp.AddressOfNames + 4 * mid),
                                  &nameRva, 4) ||
            nameRva >= size)
            return 0;
        char name[64] = {};
        // The name may be shorter than the one wanted and end near the image's end: read what
        // can be read, byte runs of the wanted length plus its terminator at most.
        Uint32 readLength = (Uint32)wantedLength + 1;
        if (nameRva + readLength > size) readLength = size - nameRva;
        if (!osse_fault::safeRead((const void*)(uintptr_t)(base + nameRva), name, readLength))
            return 0;
        const int order = strncmp(name, wanted, wantedLength + 1);
        if (order < 0) {
            low = mid + 1;
        } else if (order > 0) {
            high = mid;
        } else {
            Uint16 ordinal = 0;
            Uint32 functionRva = 0;
            if (!osse_fault::safeRead(
                    (const void*)(uintptr_t)(base + exp.AddressOfNameOrdinals + 2 * mid),
                    &ordinal, 2))
                return 0;
            if (ordinal >= exp.NumberOfFunctions) return 0;
            if (!osse_fault::safeRead(
                    (const void*)(uintptr_t)(base + exp.AddressOfFunctions + 4 * ordinal),
                    &functionRva, 4))
                return 0;
            return functionRva && functionRva < size ? base + functionRva : 0;
        }
    }
    return 0;
}

// ---- Stack --------------------------------------------------------------------------------
void writeFrame(OSSTrapFile& file, const STACKFRAME64& frame)
{
    file.write(&frame, sizeof frame);
}

// Writes the frame records of the walk from the context and returns the stack pointer of the
// last frame reached. Out of line: its copy of the context (over a kilobyte on x86_64) is off
// the stack again before the raw stack is copied, which matters on an overflowed stack.
__attribute__((noinline)) uintptr_t writeFrames(OSSTrapFile& file, const CONTEXT& ctx)
{
    STACKFRAME64 frame;
    memset(&frame, 0, sizeof frame);
    frame.AddrPC.Offset = OSS_CONTEXT_IP(ctx);
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = OSS_CONTEXT_FP(ctx);
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Offset = OSS_CONTEXT_SP(ctx);
    frame.AddrStack.Mode = AddrModeFlat;

    // The walk updates the context it is given: it works on a copy.
    CONTEXT walkContext = ctx;
    uintptr_t lastStack = (uintptr_t)OSS_CONTEXT_SP(ctx);
    if (!ossSymRegisterStackWalkCallback(file.processHandle())) {
        char text[256];
        ossSnprintf(text, sizeof text, "ossSymRegisterCallback failed: errcode=%lu\n",
                    GetLastError());
        OutputDebugStringA(text);
        // The frame list still ends with its terminator, so the raw stack after it can be found.
        frame.AddrReturn.Offset = OSS_TRAP_FRAME_END_MARKER;
        writeFrame(file, frame);
        return lastStack;
    }
    for (Uint32 n = 0;; ++n) {
        if (n == kMaxWalkFrames ||
            !ossStackWalk(file.processHandle(), GetCurrentThread(), &frame, &walkContext)) {
            frame.AddrReturn.Offset = OSS_TRAP_FRAME_END_MARKER;
            writeFrame(file, frame);
            return lastStack;
        }
        lastStack = (uintptr_t)frame.AddrStack.Offset;
        writeFrame(file, frame);
        if (frame.AddrReturn.Offset == 0) return lastStack;
    }
}

void writeStackSection(const StackRequest& request)
{
    OSSTrapFile& file = *request.trapFile;
    const OSSTrapFileHeader& header = file.header();
    if (header.codeWindowLength > 0)
        writeMemory(file, header.codeWindowAddress, header.codeWindowLength);

    const CONTEXT& ctx = *request.context;
    const uintptr_t lastStack = writeFrames(file, ctx);

    // Raw stack words from the faulting stack pointer: at least a page, and up to the last
    // frame the walk reached.
    const uintptr_t s = (uintptr_t)OSS_CONTEXT_SP(ctx);
    uintptr_t end;
    if (lastStack < s || lastStack - s < 4096)
        end = s + 4096;
    else
        end = lastStack + kWord;
    if (end < s) end = UINTPTR_MAX & ~(kWord - 1);
    if (end - s > kMaxRawStack) end = s + kMaxRawStack;
    const uintptr_t bytes = readableRun(s, end);
    const Uint32 count = (Uint32)(bytes / kWord);
#if !OSSE_PTR32
    // The 64-bit layout names the start of the words itself.
    const Uint64 start = s;
    file.write(&start, sizeof start);
#endif
    file.write(&count, sizeof count);
    if (bytes) writeMemory(file, s, bytes);
}

// ---- Memory regions -----------------------------------------------------------------------
void writeMemorySection(OSSTrapFile& file)
{
    // Bases, sizes and the end marker are as wide as this build's addresses.
    SYSTEM_INFO si;
    osse_security::nativeSystemInfo(&si);
    uintptr_t address = (uintptr_t)si.lpMinimumApplicationAddress;
    const uintptr_t highest = (uintptr_t)si.lpMaximumApplicationAddress;
    while (address < highest) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery((const void*)address, &info, sizeof info) == 0) break;
        const FileAddress regionBase = (uintptr_t)info.BaseAddress;
        const FileAddress regionSize = info.RegionSize;
        if (regionSize == 0) break;
        if (info.State == MEM_COMMIT && (info.Protect & 0x1F1) == 0) {
            file.write(&regionBase, sizeof regionBase);
            file.write(&regionSize, sizeof regionSize);
            writeMemory(file, regionBase, regionSize);
        }
        const uintptr_t next = regionBase + regionSize;
        if (next <= address) break;
        address = next;
    }
    const FileAddress marker = OSS_TRAP_MEMORY_END_MARKER;
    file.write(&marker, sizeof marker);
}

void writeSystemSection(OSSTrapFile& file, OSSTrapFileHeader& header)
{
    SYSTEM_INFO si;
    memset(&si, 0, sizeof si);
    osse_security::nativeSystemInfo(&si);
    file.write(&si, sizeof si);

    OSVERSIONINFOEXA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA((OSVERSIONINFOA*)&version);
    file.write(&version, sizeof version);

    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    HMODULE loaded = nullptr;
    if (!kernel) kernel = loaded = LoadLibraryA("kernel32.dll");
    if (kernel) {
        typedef BOOL(WINAPI * StatusEx)(MEMORYSTATUSEX*);
        typedef void(WINAPI * Status)(MEMORYSTATUS*);
        StatusEx statusEx =
            (StatusEx)(void*)GetProcAddress(kernel, "GlobalMemoryStatusEx");
        Status status = (Status)(void*)GetProcAddress(kernel, "GlobalMemoryStatus");
        if (statusEx) {
            MEMORYSTATUSEX m;
            memset(&m, 0, sizeof m);
            m.dwLength = sizeof m;
            statusEx(&m);
            file.write(&m, sizeof m);
            header.flags |= OSS_TRAP_HDR_MEMSTATUS_EX;
        } else if (status) {
            MEMORYSTATUS m;
            memset(&m, 0, sizeof m);
            m.dwLength = sizeof m;
            status(&m);
            file.write(&m, sizeof m);
            header.flags |= OSS_TRAP_HDR_MEMSTATUS;
        }
    }
    if (loaded) FreeLibrary(loaded);
}

// The process's environment block (wide strings, an empty one at the end), found through the
// process parameters with checked copies; 0 when it cannot be found.
uintptr_t environmentBlock()
{
#if OSSE_PTR32
    constexpr uintptr_t kTebPeb = 0x30, kPebParameters = 0x10, kParametersEnvironment = 0x48;
#else
    constexpr uintptr_t kTebPeb = 0x60, kPebParameters = 0x20, kParametersEnvironment = 0x80;
#endif
    uintptr_t peb = 0, parameters = 0, environment = 0;
    const uintptr_t teb = (uintptr_t)osse_fault::currentTeb();
    if (!osse_fault::safeRead((const void*)(teb + kTebPeb), &peb, sizeof peb) || !peb ||
        !osse_fault::safeRead((const void*)(peb + kPebParameters), &parameters,
                              sizeof parameters) ||
        !parameters ||
        !osse_fault::safeRead((const void*)(parameters + kParametersEnvironment), &environment,
                              sizeof environment))
        return 0;
    return environment;
}

// The environment strings in the system code page. They are read from the block itself, not
// through GetEnvironmentStrings: that takes the process lock and allocates from the heap, and
// a thread ended in the middle of its own work may hold either. Each string is converted into
// a buffer on the stack; a longer one is cut, and its length says what was written.
void writeEnvironmentSection(OSSTrapFile& file)
{
    constexpr uintptr_t kBlockMax = 1024 * 1024;  // bytes of the block looked at, at most
    const uintptr_t block = environmentBlock();
    uintptr_t at = block;
    char copy[kEnvCopyBuffer];
    WCHAR wide[256];
    Uint32 length = 0;
    bool ended = block == 0;
    while (!ended && at - block < kBlockMax) {
        // Up to the end of the page, so that a block ending before an unreadable page is read.
        const uintptr_t toPage = 0x1000 - (at & 0xFFF);
        const Uint32 count = (Uint32)((toPage < sizeof wide ? toPage : sizeof wide) / 2);
        if (!osse_fault::safeRead((const void*)at, wide, count * 2)) break;
        for (Uint32 i = 0; i < count; ++i) {
            if (wide[i] == 0) {
                if (length == 0) {
                    ended = true;  // the empty string after the last one
                    break;
                }
                file.write(&length, 4);
                file.write(copy, length);
                length = 0;
                continue;
            }
            char bytes[8];
            const int n = WideCharToMultiByte(CP_ACP, 0, &wide[i], 1, bytes, sizeof bytes,
                                              nullptr, nullptr);
            if (n > 0 && length + (Uint32)n <= kEnvCopyBuffer - 1) {
                memcpy(copy + length, bytes, (size_t)n);
                length += (Uint32)n;
            }
        }
        at += count * 2;
    }
    const Uint32 markerLength = sizeof OSS_TRAP_ENV_END_MARKER - 1;
    file.write(&markerLength, 4);
    file.write(OSS_TRAP_ENV_END_MARKER, markerLength);
}

// The header at the start of the file, when it is one of this layout written for the process
// processId (another process's mark says nothing about this one's memory). Leaves the file
// position where the read ended.
bool readFirstHeader(OSSTrapFile& file, Uint32 processId, OSSTrapFileHeader* first)
{
    Uint32 got = 0;
    file.seekToOffset(0);
    return file.read(sizeof *first, first, &got) == 0 && got == sizeof *first &&
           memcmp(first->eyeCatcher, OSS_TRAP_EYECATCHER, 8) == 0 &&
           first->processId == processId;
}

}  // namespace

namespace osse_fault {

bool modulePathFromLoaderList(uintptr_t base, char* out, Uint32 size)
{
    // The loader's records, read by offset with checked copies. The thread block points to the
    // process block, that to the loader data, which holds the list in load order; an entry
    // starts with its links and holds its image base and its full name (a UNICODE_STRING:
    // byte length, capacity, buffer pointer).
#if OSSE_PTR32
    constexpr uintptr_t kTebPeb = 0x30, kPebLdr = 0x0C, kLdrLoadOrder = 0x0C;
    constexpr uintptr_t kEntryBase = 0x18, kEntryFullName = 0x24, kNameBuffer = 4;
#else
    constexpr uintptr_t kTebPeb = 0x60, kPebLdr = 0x18, kLdrLoadOrder = 0x10;
    constexpr uintptr_t kEntryBase = 0x30, kEntryFullName = 0x48, kNameBuffer = 8;
#endif
    const uintptr_t teb = (uintptr_t)currentTeb();
    uintptr_t peb = 0;
    if (!safeRead((const void*)(teb + kTebPeb), &peb, sizeof peb) || !peb) return false;
    uintptr_t ldr = 0;
    if (!safeRead((const void*)(peb + kPebLdr), &ldr, sizeof ldr) || !ldr) return false;
    const uintptr_t head = ldr + kLdrLoadOrder;
    uintptr_t entry = 0;
    if (!safeRead((const void*)head, &entry, sizeof entry)) return false;
    for (int steps = 0; entry && entry != head && steps < 4096; ++steps) {
        Uint8 record[kEntryFullName + kNameBuffer + sizeof(uintptr_t)];
        if (!safeRead((const void*)entry, record, sizeof record)) return false;
        uintptr_t next, dllBase, buffer;
        Uint16 bytes;
        memcpy(&next, record, sizeof next);
        memcpy(&dllBase, record + kEntryBase, sizeof dllBase);
        memcpy(&bytes, record + kEntryFullName, sizeof bytes);
        memcpy(&buffer, record + kEntryFullName + kNameBuffer, sizeof buffer);
        if (dllBase == base) {
            WCHAR name[MAX_PATH + 1];
            const Uint32 chars = bytes / 2 > MAX_PATH ? MAX_PATH : bytes / 2;
            if (!chars || !safeRead((const void*)buffer, name, chars * 2)) return false;
            name[chars] = 0;
            const int n = WideCharToMultiByte(CP_ACP, 0, name, -1, out, (int)size, nullptr, nullptr);
            if (n <= 0) return false;
            out[size - 1] = 0;
            return true;
        }
        entry = next;
    }
    return false;
}

void buildModuleRecord(const char* path, uintptr_t base, Uint32 size, OSSTrapModuleRecord* record)
{
    memset(record, 0, sizeof *record);
    // The enumerator may give only the module's name: the loader list has its full path.
    char full[261];
    if (modulePathFromLoaderList(base, full, sizeof full)) path = full;
    if (path) {
        size_t n = strlen(path);
        if (n > 260) n = 260;
        memcpy(record->path, path, n);
    }
    record->markerAddress = findExport(base, size, "sqlzThisIsANRVLibrary");
    record->base = base;
    record->end = base + size;
    record->timeStamp = ossGetTimestampForLoadedLibrary((HINSTANCE__*)(uintptr_t)base);
}

}  // namespace osse_fault

// ---- OSSTrapFile --------------------------------------------------------------------------
OSSTrapFile::OSSTrapFile()
{
    constructor();
}

OSSTrapFile::~OSSTrapFile()
{
    destructor();
}

void OSSTrapFile::constructor()
{
    OSSPrimitiveFileOp::constructor();
    memset(&m_header, 0, sizeof m_header);
    m_header.processId = GetCurrentProcessId();
    m_header.threadId = GetCurrentThreadId();
    m_headerOffset = 0;
    m_reserved = 0;
    m_initialized = 0;
    memset(m_savedSearchPath, 0, sizeof m_savedSearchPath);
    m_hProcess = GetCurrentProcess();
}

namespace {
constexpr Uint8 kInitialized = 0x01;
constexpr Uint8 kSearchPathSaved = 0x02;
constexpr Uint8 kHeaderWritten = 0x04;
}  // namespace

void OSSTrapFile::destructor()
{
    // Only the search path is put back, and the use of the symbol handler given up. The
    // debug-help mutexes stay: other threads may be walking stacks right now.
    if (m_initialized & kSearchPathSaved) ossSymSetSearchPath(m_hProcess, m_savedSearchPath);
    if (m_initialized) ossSymCleanup(m_hProcess);
    m_initialized = 0;
}

void OSSTrapFile::initialize(Uint32, const EXCEPTION_RECORD* exceptionRecord,
                             const CONTEXT* context, const char* searchPath)
{
    memcpy(m_header.eyeCatcher, OSS_TRAP_EYECATCHER, 8);
    if (!m_header.processId) m_header.processId = GetCurrentProcessId();
    if (!m_header.threadId) m_header.threadId = GetCurrentThreadId();

    ossLoadSymDLL(true);
    Uint8 state = kInitialized;
    ossSymInitialize(m_hProcess, nullptr, FALSE);
    if (ossSymGetSearchPath(m_hProcess, m_savedSearchPath, sizeof m_savedSearchPath)) {
        m_savedSearchPath[sizeof m_savedSearchPath - 1] = 0;
        state |= kSearchPathSaved;
    }
    ossSymSetSearchPath(m_hProcess, searchPath);
    if (ossImagehlpApiVersion()) m_header.flags |= OSS_TRAP_HDR_API_VERSION;

    SYSTEMTIME now;
    GetLocalTime(&now);
    memcpy(m_header.localTime, &now, sizeof m_header.localTime);
    GetModuleFileNameA(nullptr, m_header.executablePath, sizeof m_header.executablePath);
    m_header.executablePath[sizeof m_header.executablePath - 1] = 0;

    if (exceptionRecord) m_header.flags |= OSS_TRAP_HDR_EXCEPTION;
    if (context) m_header.flags |= OSS_TRAP_HDR_CONTEXT;

    // Any bit of CONTEXT_CONTROL (x86 0x10001, AMD64 0x100001): the context holds the control
    // registers.
    if (context && (context->ContextFlags & CONTEXT_CONTROL)) {
        const uintptr_t ip = (uintptr_t)OSS_CONTEXT_IP(*context);
        // An instruction pointer near 0 would take the window below address 0.
        uintptr_t start = ip >= kCodeWindowBefore ? ip - kCodeWindowBefore : 0;
        while (start <= ip && !readable4(start)) {
            if (start == UINTPTR_MAX) break;
            ++start;
        }
        m_header.codeWindowAddress = start;
        Uint32 length = 0;
        if (start <= ip && readable4(start)) {
            for (Uint32 n = kCodeWindowMax; n >= 1; --n) {
                if (readable4(start + n - 1)) {
                    length = n;
                    break;
                }
            }
        }
        m_header.codeWindowLength = (Uint16)length;
        m_header.flags |= length ? OSS_TRAP_HDR_CODE_WINDOW : OSS_TRAP_HDR_CODE_UNREAD;
    }
    m_initialized = state;
}

void OSSTrapFile::writeHeaderAt(Uint32 offset)
{
    // Only over the header this object wrote there: its eye-catcher must still be in place
    // (a file opened for writing only cannot be read back; then the offset alone is trusted).
    if (m_initialized & kHeaderWritten) {
        char eye[8];
        Uint32 got = 0;
        seekToOffset(offset);
        const int rc = read(8, eye, &got);
        const bool unreadable = rc == ERROR_ACCESS_DENIED || rc == ERROR_INVALID_HANDLE;
        if (unreadable || (rc == 0 && got == 8 && memcmp(eye, OSS_TRAP_EYECATCHER, 8) == 0)) {
            seekToOffset(offset);
            write(&m_header, sizeof m_header);
        }
    }
    seekToEnd();
}

void OSSTrapFile::dump(Uint32 sections, Uint32 threadValue, const EXCEPTION_RECORD* exceptionRecord,
                       const CONTEXT* context)
{
    if (!m_initialized || !isValid()) return;

    if (sections & OSS_TRAP_SECTION_HEADER) {
        m_headerOffset = getCurrentOffset();
        write(&m_header, sizeof m_header);
        m_initialized |= kHeaderWritten;
    }
    if (sections & OSS_TRAP_SECTION_SYSTEM) writeSystemSection(*this, m_header);
    if (sections & OSS_TRAP_SECTION_ENVIRONMENT) writeEnvironmentSection(*this);
    if ((sections & OSS_TRAP_SECTION_EXCEPTION) && exceptionRecord)
        write(exceptionRecord, sizeof *exceptionRecord);
    if ((sections & OSS_TRAP_SECTION_CONTEXT) && context) write(context, sizeof *context);
    if (sections & OSS_TRAP_SECTION_MODULES) {
        ModuleWriter writer = {this, 0};
        ossEnumerateLoadedModules(m_hProcess, (OSSEnumModulesCallback)writeModule, &writer);
        m_header.moduleCount = (Uint16)writer.count;
        if (writer.count > 0) {
            m_header.flags |= OSS_TRAP_HDR_MODULES_DIRECT;
        } else if (osse_fault::collectedModuleCount() > 0) {
            const Uint32 n = osse_fault::collectedModuleCount();
            m_header.flags |= OSS_TRAP_HDR_MODULES_LIST;
            m_header.moduleCount = (Uint16)n;
            write(osse_fault::collectedModules(), n * (Uint32)sizeof(OSSTrapModuleRecord));
        }
        writeHeaderAt(m_headerOffset);
    }
    if (sections & OSS_TRAP_SECTION_APIVERSION) {
        const API_VERSION* v = ossImagehlpApiVersion();
        if (v) write(v, sizeof *v);
    }
    if ((sections & OSS_TRAP_SECTION_STACK) && context) {
        const StackRequest request = {OSS_CURRENT_VERSION, this, threadValue, exceptionRecord,
                                      context, sections, 0, 0};
        writeStackSection(request);
    }
    if (sections & OSS_TRAP_SECTION_MEMORY) {
        // The memory of a process goes into a file once, also when several objects append to
        // the file: the mark goes into the file's first header, and into the header of the
        // object that wrote the memory (only there do the regions follow its sections).
        OSSTrapFileHeader first;
        const bool haveFirst = readFirstHeader(*this, m_header.processId, &first);
        const bool done = (m_header.flags & OSS_TRAP_HDR_MEMORY_DUMPED) ||
                          (haveFirst && (first.flags & OSS_TRAP_HDR_MEMORY_DUMPED));
        if (done) {
            seekToEnd();
        } else {
            m_header.flags |= OSS_TRAP_HDR_MEMORY_DUMPED;
            if (haveFirst) {
                // Only the flags word: the rest of that header is another object's.
                first.flags |= OSS_TRAP_HDR_MEMORY_DUMPED;
                seekToOffset(offsetof(OSSTrapFileHeader, flags));
                write(&first.flags, sizeof first.flags);
            }
            writeHeaderAt(m_headerOffset);
            writeMemorySection(*this);
        }
    }
}

bool OSSTrapFile::writeXMLProlog()
{
    offsetType size = 0;
    if (getSize(&size) != 0 || size == 0) {
        seekToOffset(0);
        write(kXmlProlog, kXmlPrologLength);
        return true;
    }
    char buffer[kXmlPrologLength];
    Uint32 got = 0;
    seekToOffset(0);
    if (size >= kXmlPrologLength && read(kXmlPrologLength, buffer, &got) == 0 &&
        got == kXmlPrologLength && memcmp(buffer, kXmlProlog, kXmlPrologLength) == 0) {
        offsetType position = size;
        seekToOffset(size - kXmlPrologLength);
        if (read(kXmlPrologLength, buffer, &got) == 0 && got == kXmlPrologLength) {
            for (Uint32 i = kXmlPrologLength; i-- > 0;) {
                if (buffer[i] != '<') continue;
                // The document's closing tag: the caller's text replaces it and writes it again.
                if (i + 1 < kXmlPrologLength && buffer[i + 1] == '/')
                    position = size - kXmlPrologLength + i;
                break;
            }
        }
        seekToOffset(position);
        return false;
    }
    // A file that holds something else: its bytes stay, and a new document starts after them.
    seekToEnd();
    write(kXmlProlog, kXmlPrologLength);
    return true;
}
