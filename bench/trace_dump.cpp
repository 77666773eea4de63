// Reading trace dumps, beside a peer measured in the same run:
//  - the parse rate of a 256 MiB instantaneous dump through gtraceParseRecords, beside a loop
//    that only reads the same file with the same 1 MiB buffer size through OSSHFile, and beside
//    that loop walking the slot headers in place (the ceiling of a parser); for a dump of the
//    sealed record format (what a circular ring writes) and of the plain one (rings formatted
//    before records were sealed), so that the readers' cost of the seal shows side by side;
//  - ossetool trace format (text to the null device), in records per second.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "osse/osse.h"
#include "trace/ring_core.h"

namespace {

const Uint32 kBufferSize = 256u << 20;

bool openRead(OSSHFile& f, const char* path) {
    OSSFileOpenParam p = {OSS_CURRENT_VERSION, path, OSS_FILE_OPEN_EXISTING, OSS_FILE_ACCESS_READ, 0, 0, 0};
    return f.open(&p) == 0;
}

double readOnly(const char* path, Uint64* bytes) {
    OSSHFile f;
    if (!openRead(f, path)) return 0;
    std::vector<Uint8> buf(1u << 20);
    *bytes = 0;
    const double t0 = nowSeconds();
    for (;;) {
        OSSFileReadParam p = {OSS_CURRENT_VERSION, (Uint32)buf.size(), 0};
        Uint32 got = 0;
        const Uint32 rc = f.read(&p, buf.data(), &got);
        *bytes += got;
        if (rc || got == 0) break;
    }
    const double t = nowSeconds() - t0;
    f.close();
    return t;
}

// The ceiling of any parser that reads through such a buffer: the read loop above, walking the
// slot headers of each block in place (marker, slot count, trailer, and the seal of a sealed
// dump; no window test, no copy, no records across blocks). The file's slots start `skip` bytes
// in.
double headerWalk(const char* path, Uint32 skip, Uint32 format, Uint64* records) {
    OSSHFile f;
    if (!openRead(f, path)) return 0;
    std::vector<Uint8> buf(1u << 20);
    *records = 0;
    const double t0 = nowSeconds();
    OSSFileReadParam head = {OSS_CURRENT_VERSION, skip, 0};
    Uint32 got = 0;
    f.read(&head, buf.data(), &got);
    for (;;) {
        OSSFileReadParam p = {OSS_CURRENT_VERSION, (Uint32)buf.size(), 0};
        got = 0;
        const Uint32 rc = f.read(&p, buf.data(), &got);
        const bool sealed = format == RAMBO_FORMAT_SEALED;
        for (Uint32 at = 0; at + 64 <= got;) {
            // The readers' own record test, inline: marker, slot count, trailer (and seal).
            const Uint32 k = osse::rambo::wholeRecord(&buf[at], (got - at) / 64, sealed);
            if (k != 0) {
                ++*records;
                at += k * 64;
                continue;
            }
            at += 64;
        }
        if (rc || got == 0) break;
    }
    const double t = nowSeconds() - t0;
    f.close();
    return t;
}

double parse(const char* path, Uint64* records) {
    OSSHFile f;
    if (!openRead(f, path)) return 0;
    GTraceDumpParser* p = new GTraceDumpParser;
    static Uint8 out[RAMBO_MAX_PAYLOAD];
    *records = 0;
    const double t0 = nowSeconds();
    if (gtraceOpenDumpFileParser(&f, p, true) == 0) {
        while (gtraceParseRecords(&f, p, nullptr, out, sizeof out)) ++*records;
        gtraceCloseDumpFileParser(p);
    }
    const double t = nowSeconds() - t0;
    delete p;
    f.close();
    return t;
}

// The same through batches of records handed out in place; each record's process id (1) is read,
// as any consumer looks into what it gets.
double parseInPlace(const char* path, Uint64* records, Uint32* pidSum) {
    OSSHFile f;
    if (!openRead(f, path)) return 0;
    GTraceDumpParser* p = new GTraceDumpParser;
    static GTraceRecordView views[256];
    *records = 0;
    Uint32 sum = 0;
    const double t0 = nowSeconds();
    if (gtraceOpenDumpFileParser(&f, p, true) == 0) {
        while (Uint32 n = gtraceParseRecordBatch(&f, p, views, 256)) {
            *records += n;
            for (Uint32 i = 0; i < n; ++i) sum += static_cast<const GTraceRecord*>(views[i].payload)->processId;
        }
        gtraceCloseDumpFileParser(p);
    }
    const double t = nowSeconds() - t0;
    *pidSum = sum;
    delete p;
    f.close();
    return t;
}

}  // namespace

int main() {
    char dir[MAX_PATH], path[MAX_PATH + 32];
    GetTempPathA(sizeof dir, dir);
    snprintf(path, sizeof path, "%sosse-bench-%lu.dmp", dir, GetCurrentProcessId());

    // A full circular 256 MiB trace: one-slot entry records with a few larger data records;
    // written once as a ring of the plain format, once as the sealed ring it is.
    const Uint32 size = gtraceGetAllocSize(kBufferSize);
    void* mem = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    Uint64 records = 0;
    for (Uint32 format : {RAMBO_FORMAT_PLAIN, RAMBO_FORMAT_SEALED}) {
        GTraceOptions* o = new GTraceOptions;
        o->bufferSize = kBufferSize;
        o->mode = GTRACE_MODE_CIRCULAR;
        if (!mem || gtraceInitialize(mem, o) || gtraceAttach(static_cast<GTCB*>(mem), 1, nullptr, nullptr, nullptr)) {
            fprintf(stderr, "cannot set up a 256 MiB trace\n");
            return 1;
        }
        delete o;
        memcpy(static_cast<Uint8*>(mem) + GTCB_SIZE + RAMBO_FORMAT_OFFSET, &format, 4);
        const Uint32 slots = kBufferSize / 64;
        static char text[200] = "a data point of a few slots";
        for (Uint32 i = 0; i < slots + slots / 8; ++i) {
            if (i % 16 == 0) _gtraceVar(1, 0, 0x081A0003, 10, 3, 1, 0u, (Uint32)sizeof text, text);
            else _gtraceEntry(1, 0, 0x081A0003, 0, 1000000);
        }
        std::vector<Uint8> header(GTRACE_DUMP_HEADER_BUFFER_SIZE);
        void* data = nullptr;
        Uint32 dataSize = 0;
        RamboDumpTail tail;
        gtraceGetDumpHeaderBuffer(true, header.data(), &data, &dataSize);
        gtraceGetDumpTail(&tail);
        FILE* f = fopen(path, "wb");
        fwrite(header.data(), 1, header.size(), f);
        fwrite(data, 1, dataSize, f);
        fwrite(&tail, 1, sizeof tail, f);
        fclose(f);
        gtraceDetach();

        // Warm the file cache, then the best of three each.
        Uint64 bytes = 0;
        readOnly(path, &bytes);
        double bestRead = 1e30, bestParse = 1e30, bestWalk = 1e30, bestBatch = 1e30;
        Uint64 walked = 0, batched = 0;
        Uint32 pidSum = 0;
        for (int run = 0; run < 3; ++run) {
            const double r = readOnly(path, &bytes);
            const double p = parse(path, &records);
            const double b = parseInPlace(path, &batched, &pidSum);
            const double w = headerWalk(path, GTRACE_DUMP_HEADER_BUFFER_SIZE, format, &walked);
            if (r < bestRead) bestRead = r;
            if (p < bestParse) bestParse = p;
            if (b < bestBatch) bestBatch = b;
            if (w < bestWalk) bestWalk = w;
        }
        const double readRate = bytes / bestRead / (1 << 20), parseRate = bytes / bestParse / (1 << 20);
        const double batchRate = bytes / bestBatch / (1 << 20), walkRate = bytes / bestWalk / (1 << 20);
        printf("256 MiB instantaneous dump, %s records, %llu records\n",
               format == RAMBO_FORMAT_SEALED ? "sealed" : "plain", (unsigned long long)records);
        printf("  read only (OSSHFile, 1 MiB reads)   %8.1f MiB/s\n", readRate);
        printf("  gtraceParseRecords (copied out)     %8.1f MiB/s  (%.2f of read only, %.1f M records/s)\n",
               parseRate, parseRate / readRate, records / bestParse / 1e6);
        printf("  gtraceParseRecordBatch (in place)   %8.1f MiB/s  (%.2f of read only, %.2f of the header walk,\n"
               "                                      %.1f M records/s%s)\n",
               batchRate, batchRate / readRate, batchRate / walkRate, batched / bestBatch / 1e6,
               batched == records && pidSum == (Uint32)records ? "" : ", RECORDS DIFFER");
        printf("  slot headers walked in the read loop%8.1f MiB/s  (%.2f of read only, %llu records: the\n"
               "                                      ceiling of a parser reading through a 1 MiB buffer)\n",
               walkRate, walkRate / readRate, (unsigned long long)walked);
    }
    VirtualFree(mem, 0, MEM_RELEASE);

    // ossetool trace format of the same dump, text to the null device.
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string tool = exe;
    tool = tool.substr(0, tool.find_last_of("\\/") + 1) + "..\\tools\\ossetool\\ossetool.exe";
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = nul;
    si.hStdError = nul;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string cmd = "\"" + tool + "\" trace format \"" + path + "\"";
    PROCESS_INFORMATION pi;
    const double t0 = nowSeconds();
    if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        const double t = nowSeconds() - t0;
        printf("  ossetool trace format (text)        %8.2f M records/s (%.1f s)\n", records / t / 1e6, t);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    } else {
        printf("  ossetool trace format: %s not found\n", tool.c_str());
    }
    CloseHandle(nul);
    DeleteFileA(path);
    return 0;
}
