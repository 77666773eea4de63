// Trap files: the binary dump an exception handler writes about a failing process.
//
// Everything here runs in a process that has just faulted: no call frame, no log, no
// allocation, and no read of memory that has not been checked (this compiler has no structured
// exception handling, so foreign memory is copied with ReadProcessMemory into a static buffer).
// The header is rewritten only at the offset where it was written, and only after its
// eye-catcher is found there again, so bytes that were in the file before the trap survive.
#include <windows.h>

#include <dbghelp.h>
#include <string.h>

#include "fault/fault_internal.h"
#include "osse/latch.h"
#include "osse/strutil.h"
#include "diag/security_internal.h"

static_assert(sizeof(EXCEPTION_RECORD) == OSS_TRAP_EXCEPTION_RECORD_SIZE, "exception record");
static_assert(sizeof(CONTEXT) == OSS_TRAP_CONTEXT_SIZE, "x86 context");
static_assert(sizeof(STACKFRAME64) == OSS_TRAP_FRAME_RECORD_SIZE, "stack frame record");
static_assert(sizeof(SYSTEM_INFO) == 36, "system information");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version information");
static_assert(sizeof(MEMORYSTATUSEX) == 64 && sizeof(MEMORYSTATUS) == 32, "memory status");

namespace {

constexpr Uint32 kCodeWindowBefore = 32;
constexpr Uint32 kCodeWindowMax = 64;
constexpr Uint32 kMaxWalkFrames = 256;
constexpr Uint32 kMaxRawStack = 1024 * 1024;
constexpr Uint32 kEnvCopyBuffer = 2048;
constexpr Uint32 kModuleCountMax = 0xFFFF;

const char kXmlProlog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<?xml-stylesheet href=\"nrvtrapfile.xsl\" type=\"text/xsl\"?>\n";
constexpr Uint32 kXmlPrologLength = sizeof kXmlProlog - 1;

// Foreign memory is copied through this buffer before it is written; one writer at a time.
Uint8 g_copyBuffer[64 * 1024];
OSSLatch g_copyLock;

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

bool readable4(Uint32 address)
{
    Uint8 word[4];
    return osse_fault::safeRead((const void*)(uintptr_t)address, word, 4);
}

// Writes size bytes of this process's memory at address; a part that cannot be read is
// written as zeros, so the record keeps the size it announced.
void writeMemory(OSSTrapFile& file, Uint32 address, Uint32 size)
{
    OSSLatchGuard guard(g_copyLock);
    while (size > 0) {
        Uint32 chunk = sizeof g_copyBuffer;
        const Uint32 toPage = 0x1000 - (address & 0xFFF);
        if (chunk > size) chunk = size;
        if (!osse_fault::safeRead((const void*)(uintptr_t)address, g_copyBuffer, chunk)) {
            // Page by page, so that one unreadable page does not blank its neighbours.
            chunk = toPage < size ? toPage : size;
            if (!osse_fault::safeRead((const void*)(uintptr_t)address, g_copyBuffer, chunk))
                memset(g_copyBuffer, 0, chunk);
        }
        file.write(g_copyBuffer, chunk);
        address += chunk;
        size -= chunk;
    }
}

// Number of readable bytes from address up to end (whole pages are readable or not).
Uint32 readableRun(Uint32 address, Uint32 end)
{
    Uint32 run = 0;
    Uint8 probe[4];
    while (address + run < end) {
        const Uint32 at = address + run;
        if (!osse_fault::safeRead((const void*)(uintptr_t)at, probe, 4)) break;
        Uint32 step = 0x1000 - (at & 0xFFF);
        if (step > end - at) step = end - at;
        // The last word of the step is on the same page as its first.
        run += step;
    }
    return run & ~3u;
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
    osse_fault::buildModuleRecord(name, (Uint32)base, size, &record);
    w->file->write(&record, sizeof record);
    ++w->count;
    return TRUE;
}

// Looks a name up in the export directory of the image at base, reading the image only through
// checked copies. The loader is not asked: its lock may be held by the thread that faulted.
Uint32 findExport(Uint32 base, Uint32 size, const char* wanted)
{
    IMAGE_DOS_HEADER dos;
    if (!osse_fault::safeRead((const void*)(uintptr_t)base, &dos, sizeof dos)) return 0;
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || (Uint32)dos.e_lfanew >= size) return 0;
    IMAGE_NT_HEADERS32 nt;
    if (!osse_fault::safeRead((const void*)(uintptr_t)(base + dos.e_lfanew), &nt, sizeof nt))
        return 0;
    if (nt.Signature != IMAGE_NT_SIGNATURE ||
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

void writeStackSection(const StackRequest& request)
{
    OSSTrapFile& file = *request.trapFile;
    const OSSTrapFileHeader& header = file.header();
    if (header.codeWindowLength > 0)
        writeMemory(file, header.codeWindowAddress, header.codeWindowLength);

    const CONTEXT& ctx = *request.context;
    STACKFRAME64 frame;
    memset(&frame, 0, sizeof frame);
    frame.AddrPC.Offset = ctx.Eip;
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = ctx.Ebp;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Offset = ctx.Esp;
    frame.AddrStack.Mode = AddrModeFlat;

    // The walk updates the context it is given: it works on a copy.
    CONTEXT walkContext = ctx;
    Uint32 lastStack = ctx.Esp;
    if (!ossSymRegisterStackWalkCallback(file.processHandle())) {
        char text[256];
        ossSnprintf(text, sizeof text, "ossSymRegisterCallback failed: errcode=%lu\n",
                    GetLastError());
        OutputDebugStringA(text);
        // The frame list still ends with its terminator, so the raw stack after it can be found.
        frame.AddrReturn.Offset = OSS_TRAP_FRAME_END_MARKER;
        writeFrame(file, frame);
    } else {
        for (Uint32 n = 0;; ++n) {
            if (n == kMaxWalkFrames ||
                !ossStackWalk(file.processHandle(), GetCurrentThread(), &frame, &walkContext)) {
                frame.AddrReturn.Offset = OSS_TRAP_FRAME_END_MARKER;
                writeFrame(file, frame);
                break;
            }
            lastStack = (Uint32)frame.AddrStack.Offset;
            writeFrame(file, frame);
            if (frame.AddrReturn.Offset == 0) break;
        }
    }

    // Raw stack words from the faulting stack pointer.
    const Uint32 s = ctx.Esp;
    Uint32 end;
    if (lastStack < s || lastStack - s < 1024 * 4)
        end = s + 4096;
    else
        end = lastStack + 4;
    if (end < s) end = 0xFFFFFFFCu;
    if (end - s > kMaxRawStack) end = s + kMaxRawStack;
    const Uint32 bytes = readableRun(s, end);
    const Uint32 count = bytes / 4;
    file.write(&count, sizeof count);
    if (bytes) writeMemory(file, s, bytes);
}

// ---- Memory regions -----------------------------------------------------------------------
void writeMemorySection(OSSTrapFile& file)
{
    SYSTEM_INFO si;
    osse_security::nativeSystemInfo(&si);
    Uint32 address = (Uint32)(uintptr_t)si.lpMinimumApplicationAddress;
    const Uint32 highest = (Uint32)(uintptr_t)si.lpMaximumApplicationAddress;
    while (address < highest) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery((const void*)(uintptr_t)address, &info, sizeof info) == 0) break;
        const Uint32 regionBase = (Uint32)(uintptr_t)info.BaseAddress;
        const Uint32 regionSize = (Uint32)info.RegionSize;
        if (regionSize == 0) break;
        if (info.State == MEM_COMMIT && (info.Protect & 0x1F1) == 0) {
            file.write(&regionBase, 4);
            file.write(&regionSize, 4);
            writeMemory(file, regionBase, regionSize);
        }
        const Uint32 next = regionBase + regionSize;
        if (next <= address) break;
        address = next;
    }
    const Uint32 marker = OSS_TRAP_MEMORY_END_MARKER;
    file.write(&marker, 4);
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

void writeEnvironmentSection(OSSTrapFile& file)
{
    char* block = GetEnvironmentStrings();
    if (block) {
        OSSLatchGuard guard(g_copyLock);
        static char copy[kEnvCopyBuffer];
        for (const char* s = block; *s; s += strlen(s) + 1) {
            // A string longer than the copy buffer is cut; its length says what was written.
            Uint32 length = (Uint32)strlen(s);
            if (length > kEnvCopyBuffer - 1) length = kEnvCopyBuffer - 1;
            memcpy(copy, s, length);
            file.write(&length, 4);
            if (length) file.write(copy, length);
        }
        FreeEnvironmentStringsA(block);
    }
    const Uint32 markerLength = sizeof OSS_TRAP_ENV_END_MARKER - 1;
    file.write(&markerLength, 4);
    file.write(OSS_TRAP_ENV_END_MARKER, markerLength);
}

}  // namespace

namespace osse_fault {

bool modulePathFromLoaderList(Uint32 base, char* out, Uint32 size)
{
    // 32-bit layouts: TEB+0x30 the PEB, PEB+0x0C the loader data, loader data+0x0C the list in
    // load order; an entry holds its image base at +0x18 and its full name (UNICODE_STRING)
    // at +0x24.
    Uint32 peb = 0;
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
    Uint32 ldr = 0;
    if (!safeRead((const void*)(uintptr_t)(peb + 0x0C), &ldr, 4) || !ldr) return false;
    const Uint32 head = ldr + 0x0C;
    Uint32 entry = 0;
    if (!safeRead((const void*)(uintptr_t)head, &entry, 4)) return false;
    for (int steps = 0; entry && entry != head && steps < 4096; ++steps) {
        Uint32 words[12];
        if (!safeRead((const void*)(uintptr_t)entry, words, sizeof words)) return false;
        if (words[6] == base) {
            const Uint16 bytes = (Uint16)(words[9] & 0xFFFF);
            const Uint32 buffer = words[10];
            WCHAR name[MAX_PATH + 1];
            const Uint32 chars = bytes / 2 > MAX_PATH ? MAX_PATH : bytes / 2;
            if (!chars || !safeRead((const void*)(uintptr_t)buffer, name, chars * 2)) return false;
            name[chars] = 0;
            const int n = WideCharToMultiByte(CP_ACP, 0, name, -1, out, (int)size, nullptr, nullptr);
            if (n <= 0) return false;
            out[size - 1] = 0;
            return true;
        }
        entry = words[0];
    }
    return false;
}

void buildModuleRecord(const char* path, Uint32 base, Uint32 size, OSSTrapModuleRecord* record)
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

    if (context && (context->ContextFlags & 0x10001)) {
        const Uint32 ip = context->Eip;
        // An instruction pointer near 0 would take the window below address 0.
        Uint32 start = ip >= kCodeWindowBefore ? ip - kCodeWindowBefore : 0;
        while (start <= ip && !readable4(start)) {
            if (start == 0xFFFFFFFFu) break;
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
        // The memory of a process goes into a file once: the flag is kept in memory and in the
        // header on disk (another object may have dumped into this file before).
        bool done = (m_header.flags & OSS_TRAP_HDR_MEMORY_DUMPED) != 0;
        OSSTrapFileHeader onDisk;
        Uint32 got = 0;
        seekToOffset(m_headerOffset);
        if (!done && (m_initialized & kHeaderWritten) && read(sizeof onDisk, &onDisk, &got) == 0 && got == sizeof onDisk &&
            memcmp(onDisk.eyeCatcher, OSS_TRAP_EYECATCHER, 8) == 0 &&
            (onDisk.flags & OSS_TRAP_HDR_MEMORY_DUMPED))
            done = true;
        if (done) {
            m_header.flags |= OSS_TRAP_HDR_MEMORY_DUMPED;
            seekToEnd();
        } else {
            m_header.flags |= OSS_TRAP_HDR_MEMORY_DUMPED;
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
