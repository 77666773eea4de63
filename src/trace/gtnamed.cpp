// Named traces: a trace control block in a shared segment that any process finds by name. The
// segment is a mapping of a file in the temporary folder ("ossetrace-NAME.gtcb"), so it lives on
// when the process that created it ends and every process that maps it sees the same bytes.
#include "trace/gtrace_internal.h"

#include "osse/error.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr Uint32 kNameMax = 64;

bool validName(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    size_t n = 0;
    for (const char* p = name; *p; ++p, ++n) {
        const char c = *p;
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        c == '_' || c == '-' || c == '.';
        if (!ok || n >= kNameMax) return false;
    }
    return true;
}

OSSErr mapError(Uint32 probe, Uint32 sysFn, DWORD error) {
    return ossErrorMapSystem(0x081A0000u, probe, OSS_SYS_FUNC_ID(sysFn), error, nullptr);
}

bool segmentPath(const char* name, char* path, size_t size) {
    char dir[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n >= sizeof dir) return false;
    const int written = snprintf(path, size, "%sossetrace-%s.gtcb", dir, name);
    return written > 0 && static_cast<size_t>(written) < size;
}

// Maps the segment file; creates or resizes it to `size` bytes when size is not 0.
OSSErr mapSegment(const char* name, Uint32 size, void** view, Uint32* mappedSize) {
    if (!validName(name) || view == nullptr) return ECF_INVALID_PARAMETER;
    char path[MAX_PATH + 64];
    if (!segmentPath(name, path, sizeof path)) return mapError(10, OSS_SYSFN_GetTempPath, GetLastError());
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              size ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return mapError(20, OSS_SYSFN_CreateFile, GetLastError());
    OSSErr rc = OSS_OK;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (size != 0 && (low != size || high != 0)) {
        // A fresh segment: the size is set, and the block is formatted by the caller.
        LONG hi = 0;
        if (SetFilePointer(file, static_cast<LONG>(size), &hi, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR) {
            rc = mapError(30, OSS_SYSFN_SetFilePointer, GetLastError());
        } else if (!SetEndOfFile(file)) {
            rc = mapError(40, OSS_SYSFN_SetEndOfFile, GetLastError());
        }
        low = size;
        high = 0;
    }
    if (rc == OSS_OK && (high != 0 || low < GTCB_SIZE)) rc = ECF_INVALID_PARAMETER;  // not a trace
    HANDLE mapping = nullptr;
    if (rc == OSS_OK) {
        mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
        if (mapping == nullptr) rc = mapError(50, OSS_SYSFN_CreateFileMapping, GetLastError());
    }
    if (rc == OSS_OK) {
        *view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
        if (*view == nullptr) rc = mapError(60, OSS_SYSFN_MapViewOfFileEx, GetLastError());
        if (mappedSize) *mappedSize = low;
    }
    // The view keeps the mapping and the file alive.
    if (mapping) CloseHandle(mapping);
    CloseHandle(file);
    return rc;
}

}  // namespace

extern "C" {

OSSErr gtraceCreateNamed(const char* name, GTraceOptions* options, GTCBType** block) {
    if (options == nullptr || !validName(name)) return ECF_INVALID_PARAMETER;
    const Uint32 size = gtraceGetAllocSize(options->bufferSize);
    if (size == 0) return ECF_GTRACE_INVALID_BUFFER_SIZE;
    void* view = nullptr;
    if (OSSErr rc = mapSegment(name, size, &view, nullptr)) return rc;
    if (OSSErr rc = gtraceInitialize(view, options)) {
        UnmapViewOfFile(view);
        return rc;
    }
    if (block) *block = static_cast<GTCB*>(view);
    else UnmapViewOfFile(view);
    return OSS_OK;
}

OSSErr gtraceOpenNamed(const char* name, GTCBType** block) {
    if (block == nullptr) return ECF_INVALID_PARAMETER;
    *block = nullptr;
    void* view = nullptr;
    Uint32 size = 0;
    if (OSSErr rc = mapSegment(name, 0, &view, &size)) return rc;
    GTCB* cb = static_cast<GTCB*>(view);
    // The segment must hold the whole trace its options describe.
    const Uint32 need = gtraceGetAllocSize(cb->options.bufferSize);
    if (memcmp(cb->eyeCatcher, GTRACE_EYECATCHER "\0", 8) != 0 || need == 0 || need > size) {
        UnmapViewOfFile(view);
        return ECF_INVALID_PARAMETER;
    }
    *block = cb;
    return OSS_OK;
}

OSSErr gtraceAttachNamed(const char* name, Uint32 processId, GTraceAppCallBack appCallBack,
                         GTraceDisableCallBack disableCallBack,
                         GTracePreTraceCallBack preTraceCallBack) {
    GTCB* cb = nullptr;
    if (OSSErr rc = gtraceOpenNamed(name, &cb)) return rc;
    // The view stays mapped for the life of the process: another thread may still be writing
    // through an earlier binding.
    const OSSErr rc = gtraceAttach(cb, processId, appCallBack, disableCallBack, preTraceCallBack);
    if (rc) UnmapViewOfFile(cb);
    return rc;
}

OSSErr gtraceCloseNamed(GTCBType* block) {
    if (block == nullptr || block == g_pGTCB) return ECF_INVALID_PARAMETER;
    UnmapViewOfFile(block);
    return OSS_OK;
}

OSSErr gtraceRemoveNamed(const char* name) {
    if (!validName(name)) return ECF_INVALID_PARAMETER;
    char path[MAX_PATH + 64];
    if (!segmentPath(name, path, sizeof path)) return mapError(70, OSS_SYSFN_GetTempPath, GetLastError());
    if (!DeleteFileA(path)) return mapError(80, OSS_SYSFN_DeleteFile, GetLastError());
    return OSS_OK;
}

}  // extern "C"
