// ossetool trace: switch a named trace on and off, dump or stream it to a file, and read dump
// files back as text, as Trace Event JSON, as a profile or as coverage. Built on the library's
// public interface only. The tool never stays bound to the trace it reads: its own file writes
// would otherwise write records into the buffer it is draining.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "osse/osse.h"
#include "verbs.h"

namespace {

const char kHelp[] =
    "usage: ossetool trace on NAME [options]    create the named trace and switch it on\n"
    "       ossetool trace off NAME | clear NAME | info NAME\n"
    "       ossetool trace remove NAME           switch it off and remove its file\n"
    "       ossetool trace dump NAME FILE        instantaneous dump\n"
    "       ossetool trace stream NAME FILE [--count N]\n"
    "                                            drain an auto-dump trace until Ctrl-C, N records,\n"
    "                                            or 'trace off'\n"
    "       ossetool trace format FILE [--json] [--reverse] [--pid N] [--tid N]\n"
    "                                  [--component C] [--function F] [--type T]\n"
    "                                            one line a record; holes are marked [LOST N RECORDS]\n"
    "                                            (UP TO N when N slots may hold fewer records),\n"
    "                                            [BUFFER WRAPPED] and [TRUNCATED]\n"
    "       ossetool trace profile FILE [--by calls|time]\n"
    "       ossetool trace coverage FILE\n"
    "       ossetool trace workload NAME [PROCESSES [OPERATIONS]]\n"
    "                                            processes bound to NAME doing file operations\n"
    "\n"
    "options of 'on':\n"
    "  --size BYTES          ring buffer size, a power of two from 512K to 1G (default 4M;\n"
    "                        K and M suffixes accepted)\n"
    "  --mode M              circular (default), linear, autodump, profile or coverage\n"
    "  --timestamps          stamp records with the performance counter\n"
    "  --errors-only         only error records, and exits with a non-zero return code\n"
    "  --product P --component C --function F --type T\n"
    "                        record only these (numbers or names; repeatable); others all\n"
    "  --thread PID[:TID]    record only this process (and thread); repeatable\n"
    "  --fixed2 VALUE        record only processes whose fixed data 2 is VALUE; repeatable\n"
    "  --stop COUNT[:RC]     switch off after COUNT stop hits (type 5 errors, or exits with RC)\n"
    "  --profile-timing      profile mode: time calls on per-thread call stacks\n"
    "\n"
    "A named trace lives in the file ossetrace-NAME.gtcb of the temporary folder, mapped by\n"
    "every process that uses it. A process of the product binds to it with one call:\n"
    "    gtraceAttachNamed(\"NAME\", processId, nullptr, nullptr, nullptr);\n"
    "after which its operations write records whenever the trace is on.\n";

volatile LONG g_stop = 0;
BOOL WINAPI onCtrl(DWORD) {
    InterlockedExchange(&g_stop, 1);
    return TRUE;
}

bool parseNumber(const char* text, Uint64* out) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = strtoull(text, &end, 0);
    if (errno) return false;
    if (*end == 'K' || *end == 'k') v <<= 10, ++end;
    else if (*end == 'M' || *end == 'm') v <<= 20, ++end;
    else if (*end == 'G' || *end == 'g') v <<= 30, ++end;
    if (*end) return false;
    *out = v;
    return true;
}

int fail(const char* what, OSSErr rc) {
    const char* name = ecfErrorGetCodeName(rc);
    fprintf(stderr, "ossetool trace: %s: 0x%08X %s\n", what, rc, name ? name : "");
    return 1;
}

RamboControlBlock* ringOf(GTCB* cb) {
    return reinterpret_cast<RamboControlBlock*>(reinterpret_cast<Uint8*>(cb) + GTCB_SIZE);
}
bool tableMode(Uint32 mode) { return (mode & 0x88u) == 0x08u || (mode & 0x88u) == 0x80u; }

// Runs fn while this process is bound to the trace, for the calls that work on the bound block.
template <class F>
OSSErr whileBound(GTCB* cb, F fn) {
    if (OSSErr rc = gtraceAttach(cb, GetCurrentProcessId(), nullptr, nullptr, nullptr)) return rc;
    const OSSErr rc = fn();
    gtraceDetach();
    return rc;
}

// ---- Names of functions and components -----------------------------------------------------------
bool componentByName(const char* text, Uint32* product, Uint32* component) {
    Uint64 v;
    if (parseNumber(text, &v)) {
        *product = 1;
        *component = (Uint32)v;
        return true;
    }
    for (Uint32 p = 1; p <= ecfGetNumProducts(); ++p) {
        const Uint32 c = ecfFindComponentIndex(p, text);
        if (c != 0 && c < ecfGetNumComponents(p)) {
            *product = p;
            *component = c;
            return true;
        }
    }
    return false;
}

bool functionByName(const char* text, Uint32* function) {
    Uint64 v;
    if (parseNumber(text, &v)) {
        *function = (Uint32)v & 0xFFFF;
        return true;
    }
    for (Uint32 p = 1; p <= ecfGetNumProducts(); ++p)
        for (Uint32 c = 1; c < ecfGetNumComponents(p); ++c) {
            const Uint32 f = ecfFindFunctionIndex(p, c, text);
            if (f != 0 && f < ecfGetNumFunctions(p, c)) {
                *function = f;
                return true;
            }
        }
    return false;
}

// Names are looked up once per identifier: a dump repeats a few functions millions of times.
struct Names {
    std::string function, component;
};
const Names& namesOf(Uint32 id);

std::string functionName(Uint32 id) { return namesOf(id).function; }
std::string componentName(Uint32 id) { return namesOf(id).component; }

std::string lookupFunctionName(Uint32 id) {
    const char* f = ecfGetFunctionName(id);
    if (f) return f;
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08X", id);
    return buf;
}
std::string lookupComponentName(Uint32 id) {
    const char* c = ecfGetComponentShortName(id);
    if (c) return c;
    char buf[16];
    snprintf(buf, sizeof buf, "comp%u", ECF_FUNC_COMPONENT(id));
    return buf;
}

const Names& namesOf(Uint32 id) {
    static std::map<Uint32, Names> cache;
    // Runs of records of one function are the rule: the last answer is kept (map nodes stay put).
    static const Names* last = nullptr;
    static Uint32 lastId = 0;
    if (last && id == lastId) return *last;
    auto it = cache.find(id);
    if (it == cache.end()) it = cache.emplace(id, Names{lookupFunctionName(id), lookupComponentName(id)}).first;
    last = &it->second;
    lastId = id;
    return it->second;
}

const char* typeName(Uint32 t) {
    switch (t) {
    case 1: return "ENTRY";
    case 2: return "EXIT";
    case 3: return "DATA";
    case 4: return "ERROR";
    case 5: return "ERROR5";
    case 11: return "ERROR11";
    case 12: return "CORRELATOR";
    case 13: return "ERRTRANS";
    default: return nullptr;
    }
}

// ---- on / off / clear / info ------------------------------------------------------------------------
void setBit(Uint8* bits, Uint32 n) { bits[n >> 3] |= (Uint8)(1u << (n & 7)); }

int traceOn(int argc, char** argv) {
    if (argc < 1) return fprintf(stderr, "%s", kHelp), 2;
    const char* name = argv[0];
    GTraceOptions* o = new GTraceOptions;
    o->bufferSize = 4u << 20;
    o->mode = GTRACE_MODE_CIRCULAR;
    std::vector<Uint32> products, components, functions, types;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        Uint64 n = 0;
        auto need = [&](bool ok) {
            if (!ok) fprintf(stderr, "ossetool trace on: bad or missing value for %s\n", a.c_str());
            return ok;
        };
        if (a == "--size") {
            if (!need(parseNumber(v, &n) && n <= 0xFFFFFFFFull)) return 2;
            o->bufferSize = (Uint32)n;
            ++i;
        } else if (a == "--mode") {
            if (!need(v != nullptr)) return 2;
            const std::string m = v;
            if (m == "circular") o->mode = GTRACE_MODE_CIRCULAR;
            else if (m == "linear") o->mode = GTRACE_MODE_LINEAR;
            else if (m == "autodump") o->mode = GTRACE_MODE_AUTODUMP;
            else if (m == "profile") o->mode = GTRACE_MODE_PROFILE;
            else if (m == "coverage") o->mode = GTRACE_MODE_COVERAGE;
            else return need(false), 2;
            ++i;
        } else if (a == "--timestamps") {
            o->flags |= GTRACE_FLAG_TIMESTAMP;
        } else if (a == "--errors-only") {
            o->flags |= GTRACE_FLAG_ERRORS_ONLY;
        } else if (a == "--profile-timing") {
            o->flags |= GTRACE_FLAG_PROFILE_TIMING;
        } else if (a == "--product") {
            if (!need(parseNumber(v, &n) && n < 32)) return 2;
            products.push_back((Uint32)n);
            ++i;
        } else if (a == "--component") {
            Uint32 p, c;
            if (!need(v && componentByName(v, &p, &c) && c < 256)) return 2;
            components.push_back(c);
            ++i;
        } else if (a == "--function") {
            Uint32 f;
            if (!need(v && functionByName(v, &f) && f < 4096)) return 2;
            functions.push_back(f);
            ++i;
        } else if (a == "--type") {
            if (!need(parseNumber(v, &n) && n < 16)) return 2;
            types.push_back((Uint32)n);
            ++i;
        } else if (a == "--thread") {
            if (!need(v != nullptr && o->threadFilterCount < GTRACE_MAX_THREAD_FILTERS)) return 2;
            GTraceThreadFilter& t = o->threadFilter[o->threadFilterCount];
            std::string s = v;
            const size_t colon = s.find(':');
            Uint64 pid = 0, tid = 0;
            if (!need(parseNumber(s.substr(0, colon).c_str(), &pid) &&
                      (colon == std::string::npos || parseNumber(s.substr(colon + 1).c_str(), &tid))))
                return 2;
            t.flags = GTRACE_THREAD_FILTER_IN_USE | (colon != std::string::npos ? GTRACE_THREAD_FILTER_THREAD : 0);
            t.processId = (Uint32)pid;
            t.threadId = tid;
            ++o->threadFilterCount;
            o->flags |= GTRACE_FLAG_THREAD_FILTER;
            ++i;
        } else if (a == "--fixed2") {
            if (!need(parseNumber(v, &n) && o->fixedData2FilterCount < GTRACE_MAX_FIXED_DATA2)) return 2;
            o->fixedData2Filter[o->fixedData2FilterCount++] = (Uint32)n;
            o->flags |= GTRACE_FLAG_FIXED_DATA2;
            ++i;
        } else if (a == "--stop") {
            if (!need(v != nullptr)) return 2;
            std::string s = v;
            const size_t colon = s.find(':');
            Uint64 count = 0, rc = 0;
            if (!need(parseNumber(s.substr(0, colon).c_str(), &count) &&
                      (colon == std::string::npos || parseNumber(s.substr(colon + 1).c_str(), &rc))))
                return 2;
            o->stopCount = (Uint32)count;
            o->flags |= GTRACE_FLAG_STOP;
            if (colon != std::string::npos) {
                o->stopRcOrSleepPeriod = (Uint32)rc;
                o->flags |= GTRACE_FLAG_STOP_ON_RC;
            }
            ++i;
        } else {
            fprintf(stderr, "ossetool trace on: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (!products.empty() || !components.empty() || !functions.empty() || !types.empty()) {
        GTMask& m = o->pointBitmaps;
        memset(&m, 0, sizeof m);
        if (products.empty()) m.products = 0xFFFFFFFFu;
        for (Uint32 p : products) m.products |= 1u << p;
        if (components.empty()) memset(m.components, 0xFF, sizeof m.components);
        for (Uint32 c : components) setBit(m.components, c);
        if (functions.empty()) memset(m.functions, 0xFF, sizeof m.functions);
        for (Uint32 f : functions) setBit(m.functions, f);
        if (types.empty()) m.recordTypes = 0xFFFF;
        for (Uint32 t : types) m.recordTypes |= (Uint16)(1u << t);
        m.functionKinds = 0xFF;
        o->flags |= GTRACE_FLAG_POINT_BITMAPS;
    }
    GTCB* cb = nullptr;
    OSSErr rc = gtraceCreateNamed(name, o, &cb);
    delete o;
    if (rc) return fail("create", rc);
    rc = whileBound(cb, [] { return gtraceEnable(); });
    gtraceCloseNamed(cb);
    if (rc) return fail("enable", rc);
    printf("trace %s on\n", name);
    return 0;
}

int withTrace(int argc, char** argv, const char* verb, int (*fn)(const char*, GTCB*)) {
    if (argc != 1) return fprintf(stderr, "usage: ossetool trace %s NAME\n", verb), 2;
    GTCB* cb = nullptr;
    if (OSSErr rc = gtraceOpenNamed(argv[0], &cb)) return fail("open", rc);
    const int status = fn(argv[0], cb);
    gtraceCloseNamed(cb);
    return status;
}

int offFn(const char*, GTCB* cb) {
    const OSSErr rc = whileBound(cb, [] { return gtraceDisable(); });
    return rc ? fail("disable", rc) : 0;
}
int clearFn(const char*, GTCB* cb) {
    const OSSErr rc = whileBound(cb, [] { return gtraceClear(); });
    return rc ? fail("clear", rc) : 0;
}

const char* modeText(Uint32 mode) {
    if ((mode & 0x88u) == 0x08u) return "profile";
    if ((mode & 0x88u) == 0x80u) return "coverage";
    if (mode & GTRACE_MODE_AUTODUMP) return "autodump";
    if (mode & GTRACE_MODE_CIRCULAR) return "circular";
    if (mode & (GTRACE_MODE_LINEAR | GTRACE_MODE_RANDOM_SLEEP)) return "linear";
    return "none";
}

int infoFn(const char* name, GTCB* cb) {
    const GTraceOptions& o = cb->options;
    printf("trace:        %s\n", name);
    printf("mode:         %s (mode word 0x%X)\n", modeText(o.mode), o.mode);
    printf("enabled:      %s\n", cb->enabled ? "yes" : "no");
    printf("buffer size:  %u bytes\n", o.bufferSize);
    printf("flags:        0x%X\n", o.flags);
    if (!tableMode(o.mode)) {
        const RamboControlBlock* r = ringOf(cb);
        const Uint32 written = r->nextSequence - r->sequenceStart;
        const Uint32 lost = written > r->slotCount ? written - r->slotCount : 0;
        printf("slots written: %u (since the last clear)\n", written);
        printf("slots %s: %u\n", r->wraps ? "overwritten" : "lost", lost);
        Uint32 drops = 0;
        if (ramboGetLappedDrops(ringOf(cb), &drops) == 0 && r->wraps) {
            // Writers that found the ring had come round past their reservation.
            printf("records dropped by lapped writers: %u\n", drops);
        }
        if (r->autoDumpAllowed) {
            Uint32 undrained, dumper = 0;
            memcpy(&undrained, reinterpret_cast<const Uint8*>(r) + RAMBO_UNDRAINED_SLOTS_OFFSET, 4);
            ramboGetDumperProcess(ringOf(cb), &dumper);  // a streamer that ended is none
            if (dumper)
                printf("streamer:     process %u registered\n", dumper);
            else
                printf("streamer:     none\n");
            printf("slots not streamed: %u (written over chunks no streamer drained)\n", undrained);
        }
    } else if ((o.mode & 0x88u) == 0x08u) {
        // The counter starts at 1 when the table is set up.
        printf("lost calls:   %u\n", cb->stopCounter ? cb->stopCounter - 1 : 0);
    }
    printf("errors only:  %s\n", o.flags & GTRACE_FLAG_ERRORS_ONLY ? "yes" : "no");
    printf("point filter: %s\n", o.flags & GTRACE_FLAG_POINT_BITMAPS ? "yes" : "no");
    for (Uint32 i = 0; i < o.threadFilterCount && i < GTRACE_MAX_THREAD_FILTERS; ++i) {
        const GTraceThreadFilter& t = o.threadFilter[i];
        printf("thread filter: pid %u", t.processId);
        if (t.flags & GTRACE_THREAD_FILTER_THREAD) printf(" tid %s", std::to_string(t.threadId).c_str());
        printf("\n");
    }
    for (Uint32 i = 0; i < o.fixedData2FilterCount && i < GTRACE_MAX_FIXED_DATA2; ++i)
        printf("fixed data 2 filter: %u\n", o.fixedData2Filter[i]);
    if (o.flags & GTRACE_FLAG_STOP) {
        printf("stop:         after %u hits", o.stopCount);
        if (o.flags & GTRACE_FLAG_STOP_ON_RC) printf(" (exits with 0x%08X count)", o.stopRcOrSleepPeriod);
        printf(", %u so far\n", cb->stopCounter - 1);
    }
    return 0;
}

// ---- dump and stream ----------------------------------------------------------------------------------
struct OutFile {
    OSSHFile f;
    OSSErr open(const char* path) {
        OSSFileOpenParam p = {OSS_CURRENT_VERSION, path, OSS_FILE_CREATE_ALWAYS, OSS_FILE_ACCESS_WRITE, 0, 0, 0};
        return f.open(&p);
    }
    OSSErr write(const void* data, Uint32 n) {
        OSSFileWriteParam p = {OSS_CURRENT_VERSION, data, n, 0};
        return f.write(&p, nullptr);
    }
};

void fillHeader(GTCB* cb, GTraceDumpHeader* h) {
    memcpy(h->eyeCatcher, GTRACE_DUMP_EYECATCHER, 8);
    memcpy((void*)&h->options, &cb->options, sizeof(GTraceOptions));
    h->tickFactor.initialize();
}

std::string g_path;

int dumpFn(const char*, GTCB* cb) {
    std::vector<Uint8> header(GTRACE_DUMP_HEADER_BUFFER_SIZE, 0);
    GTraceDumpHeader* h = reinterpret_cast<GTraceDumpHeader*>(header.data());
    fillHeader(cb, h);
    void* data = nullptr;
    Uint32 size = 0;
    const bool table = tableMode(cb->options.mode);
    if (table) {
        data = ringOf(cb);
        size = (cb->options.mode & 0x88u) == 0x08u ? cb->options.bufferSize / 24 * 24 : cb->options.bufferSize;
    } else if (OSSErr rc = ramboGetDumpHeaderBuffer(ringOf(cb), true,
                                                    reinterpret_cast<RamboDumpHead*>(&header[GTRACE_DUMP_HEADER_SIZE]),
                                                    &data, &size)) {
        return fail("dump header", rc);
    }
    OutFile out;
    if (OSSErr rc = out.open(g_path.c_str())) return fail("create dump file", rc);
    OSSErr rc = out.write(header.data(), (Uint32)header.size());
    if (!rc) rc = out.write(data, size);
    if (!rc && !table) {
        RamboDumpTail tail;
        rc = ramboGetDumpTail(ringOf(cb), &tail);
        if (!rc) rc = out.write(&tail, sizeof tail);
    }
    out.f.close();
    if (rc) return fail("write dump", rc);
    printf("dumped %u bytes of %s trace to %s\n", size, modeText(cb->options.mode), g_path.c_str());
    return 0;
}

// Records that start in `slots` slots at p (slots drained are zeroed, so nothing stale remains).
Uint32 countRecords(const Uint8* p, Uint32 slots) {
    Uint32 n = 0;
    for (Uint32 i = 0; i < slots;) {
        Uint32 w;
        memcpy(&w, p + 64u * i + 4, 4);
        const Uint32 k = w >> 16;
        if ((w & 0xFFFF) == RAMBO_SLOT_MARKER && k >= 1 && k <= RAMBO_MAX_RECORD_SLOTS) {
            ++n;
            i += k;
        } else {
            ++i;
        }
    }
    return n;
}

Uint64 g_count = 0;

int streamFn(const char*, GTCB* cb) {
    RamboControlBlock* ring = ringOf(cb);
    if (tableMode(cb->options.mode) || !ring->autoDumpAllowed) {
        fprintf(stderr, "ossetool trace stream: the trace is not in auto-dump mode\n");
        return 1;
    }
    std::vector<Uint8> header(GTRACE_DUMP_HEADER_BUFFER_SIZE, 0);
    fillHeader(cb, reinterpret_cast<GTraceDumpHeader*>(header.data()));
    void* data = nullptr;
    Uint32 size = 0;
    if (OSSErr rc = ramboGetDumpHeaderBuffer(ring, false, reinterpret_cast<RamboDumpHead*>(&header[GTRACE_DUMP_HEADER_SIZE]),
                                             &data, &size))
        return fail("dump header", rc);
    OutFile out;
    if (OSSErr rc = out.open(g_path.c_str())) return fail("create dump file", rc);
    // Counting on before the walker is placed: it starts from the fill counts as they are then.
    ramboAutoDumpEnabled(ring, true);
    RamboChunkWalker walker;
    if (OSSErr rc = ramboInitializeChunkWalker(ring, &walker)) {
        ramboAutoDumpEnabled(ring, false);
        out.f.close();
        return fail("chunk walker", rc);
    }
    SetConsoleCtrlHandler(onCtrl, TRUE);
    OSSErr rc = out.write(header.data(), (Uint32)header.size());
    Uint8* slot0 = static_cast<Uint8*>(walker.slot0);
    const Uint32 chunks = ring->chunkCount;
    Uint64 drained = 0;
    // Drains the chunk the walker stands at and hands it back to the writers of the next lap.
    auto drain = [&](bool handBack) {
        RamboChunk* c = &walker.chunk0[walker.chunkNumber];
        Uint8* bytes = slot0 + (size_t)walker.chunkNumber * RAMBO_CHUNK_SIZE;
        if (!rc) rc = out.write(bytes, RAMBO_CHUNK_SIZE);
        drained += countRecords(bytes, RAMBO_SLOTS_PER_CHUNK);
        if (handBack) {
            memset(bytes, 0, RAMBO_CHUNK_SIZE);
            InterlockedExchange(reinterpret_cast<volatile LONG*>(&c->filled), 0);
            InterlockedIncrement(reinterpret_cast<volatile LONG*>(&c->lap));
        }
        walker.chunkNumber = (walker.chunkNumber + 1) % chunks;
    };
    // A chunk whose fill count stands still below full while the writers publish in the next
    // chunk holds a record that was reserved and never published: its writer died (or is held
    // up) between the two. Waiting for it would stop the stream, and the writers with it, for
    // good; after kStallMs the chunk is drained as it is. The missing record fails the
    // record-start test (and its seal) and is counted lost; a writer that was only held up and
    // stores later writes over a newer lap, which the seal shows to every reader.
    constexpr ULONGLONG kStallMs = 200;
    LONG stallFilled = -1;
    ULONGLONG stallSince = 0;
    // Switching the trace off ends the stream too (what was written is drained first).
    while (!rc && !g_stop && cb->enabled) {
        RamboChunk* c = &walker.chunk0[walker.chunkNumber];
        const LONG filled = InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&c->filled), 0, 0);
        bool stalled = false;
        if (filled < (LONG)RAMBO_SLOTS_PER_CHUNK && chunks > 1 &&
            walker.chunk0[(walker.chunkNumber + 1) % chunks].filled != 0) {
            const ULONGLONG now = GetTickCount64();
            if (filled != stallFilled) stallFilled = filled, stallSince = now;
            stalled = now - stallSince >= kStallMs;
        } else {
            stallFilled = -1;
        }
        if (filled >= (LONG)RAMBO_SLOTS_PER_CHUNK || stalled) {
            stallFilled = -1;
            drain(true);
            if (g_count && drained >= g_count) break;
            continue;
        }
        if (g_count) {
            // The records still in the chunks of this lap count towards the goal too.
            Uint64 pending = 0;
            for (Uint32 i = 0, n = walker.chunkNumber; i < chunks; ++i, n = (n + 1) % chunks) {
                if (walker.chunk0[n].filled == 0) break;
                pending += countRecords(slot0 + (size_t)n * RAMBO_CHUNK_SIZE, RAMBO_SLOTS_PER_CHUNK);
            }
            if (drained + pending >= g_count) break;
        }
        Sleep(1);
    }
    // The chunks written in this lap so far, in order; then the writers go on without a dumper.
    for (Uint32 i = 0; i < chunks && !rc; ++i) {
        if (walker.chunk0[walker.chunkNumber].filled == 0) break;
        drain(false);
    }
    ramboAutoDumpEnabled(ring, false);
    out.f.close();
    if (rc) return fail("write stream", rc);
    printf("streamed %s records to %s\n", std::to_string(drained).c_str(), g_path.c_str());
    return 0;
}

// ---- format -------------------------------------------------------------------------------------------------
struct FormatOptions {
    bool json = false, reverse = false;
    bool byPid = false, byTid = false, byComponent = false, byFunction = false, byType = false;
    Uint32 pid = 0, component = 0, function = 0, type = 0;
    Uint64 tid = 0;
};

bool readHeader(const char* path, GTraceDumpHeader* h) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    const bool ok = fread(h, 1, sizeof *h, f) == sizeof *h;
    fclose(f);
    return ok;
}

void jsonString(std::string& out, const std::string& s) {
    out += '"';
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += '\\', out += (char)c;
        else if (c < 0x20 || c >= 0x7F) {
            char b[8];
            snprintf(b, sizeof b, "\\u%04x", c);
            out += b;
        } else out += (char)c;
    }
    out += '"';
}

void padLeft(std::string& out, const std::string& v, size_t width) {
    if (v.size() < width) out.append(width - v.size(), ' ');
    out += v;
}
void padRight(std::string& out, const std::string& v, size_t width) {
    out += v;
    if (v.size() < width) out.append(width - v.size(), ' ');
}
const Uint64 pow10[6] = {1, 10, 100, 1000, 10000, 100000};
// Decimal digits of v, left-aligned in `width` columns.
void padNumber(std::string& out, Uint64 v, size_t width) {
    char b[24];
    int n = 0;
    do b[n++] = char('0' + v % 10), v /= 10; while (v);
    for (size_t k = n; k < width; ++k) b[n++] = ' ';  // reversed below: padding ends up last
    std::reverse(b, b + n);
    // The padding came out in front: move the digits left.
    size_t pad = 0;
    while (pad < (size_t)n && b[pad] == ' ') ++pad;
    out.append(b + pad, n - pad);
    out.append(pad, ' ');
}
// Upper-case hex digits of v, no leading zeros, appended to out.
void appendHex(std::string& out, Uint32 v) {
    static const char digits[] = "0123456789ABCDEF";
    char b[8];
    int n = 0;
    do b[n++] = digits[v & 15], v >>= 4; while (v);
    while (n) out += b[--n];
}

std::string hexOf(const Uint8* p, Uint32 n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s(2 * n, '0');
    for (Uint32 i = 0; i < n; ++i) s[2 * i] = digits[p[i] >> 4], s[2 * i + 1] = digits[p[i] & 15];
    return s;
}
std::string textOf(const Uint8* p, Uint32 n) {
    std::string s;
    for (Uint32 i = 0; i < n; ++i) s += (p[i] >= 0x20 && p[i] < 0x7F) ? (char)p[i] : '.';
    return s;
}

struct Decoded {
    GTraceRecord h;
    std::vector<std::string> itemsHex, itemsText;
    bool hasExtra;
    Uint32 extra[2];
};

void decode(const Uint8* rec, Uint32 len, Decoded* d) {
    memset(&d->h, 0, sizeof d->h);
    memcpy(&d->h, rec, len < sizeof d->h ? len : sizeof d->h);
    if (len < sizeof d->h) d->h.itemCount = 0;
    d->itemsHex.clear();
    d->itemsText.clear();
    GTraceItemWalk w;
    d->hasExtra = false;
    if (!gtraceRecordItemsBegin(rec, len, &w)) return;
    d->hasExtra = w.hasExtra != 0;
    d->extra[0] = w.extra[0];
    d->extra[1] = w.extra[1];
    Uint32 kind, size, present;
    const void* bytes;
    while (gtraceRecordItemsNext(&w, &kind, &size, &bytes, &present)) {
        if (size == GTRACE_ITEM_NULL_SIZE) {
            d->itemsHex.push_back("null");
            d->itemsText.push_back("");
            continue;
        }
        const Uint32 shown = present < 256 ? present : 256;
        d->itemsHex.push_back(hexOf((const Uint8*)bytes, shown) + (shown < size ? "..." : ""));
        d->itemsText.push_back(textOf((const Uint8*)bytes, shown));
    }
}

const std::string& rcName(Uint32 rc) {
    static std::map<Uint32, std::string> cache;
    auto it = cache.find(rc);
    if (it == cache.end()) {
        const char* n = ecfErrorGetCodeName(rc);
        char b[16];
        snprintf(b, sizeof b, "0x%08X", rc);
        it = cache.emplace(rc, n ? std::string(b) + " " + n : std::string(b)).first;
    }
    return it->second;
}

int traceFormat(int argc, char** argv) {
    FormatOptions o;
    const char* path = nullptr;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        Uint64 n = 0;
        if (a == "--json") o.json = true;
        else if (a == "--reverse") o.reverse = true;
        else if (a == "--pid" && parseNumber(v, &n)) o.byPid = true, o.pid = (Uint32)n, ++i;
        else if (a == "--tid" && parseNumber(v, &n)) o.byTid = true, o.tid = n, ++i;
        else if (a == "--type" && parseNumber(v, &n)) o.byType = true, o.type = (Uint32)n, ++i;
        else if (a == "--component" && v) {
            Uint32 p;
            if (!componentByName(v, &p, &o.component)) return fprintf(stderr, "unknown component %s\n", v), 2;
            o.byComponent = true, ++i;
        } else if (a == "--function" && v) {
            if (!functionByName(v, &o.function)) return fprintf(stderr, "unknown function %s\n", v), 2;
            o.byFunction = true, ++i;
        } else if (!path && a[0] != '-') path = argv[i];
        else return fprintf(stderr, "ossetool trace format: bad argument %s\n", a.c_str()), 2;
    }
    if (!path) return fprintf(stderr, "%s", kHelp), 2;
    GTraceDumpHeader* header = new GTraceDumpHeader;
    if (!readHeader(path, header)) return fprintf(stderr, "ossetool trace format: cannot read %s\n", path), 1;
    const double freq = header->tickFactor.frequency ? (double)header->tickFactor.frequency : 0.0;
    const Uint64 freqTicks = header->tickFactor.frequency;
    delete header;
    OSSHFile f;
    OSSFileOpenParam op = {OSS_CURRENT_VERSION, path, OSS_FILE_OPEN_EXISTING, OSS_FILE_ACCESS_READ, 0, 0, 0};
    if (OSSErr rc = f.open(&op)) return fail("open dump", rc);
    if (OSSErr rc = gtraceValidateDumpFile(&f, GTRACE_DUMP_RECORDS)) return fail("validate dump", rc);
    // The companion form: it counts the records missing from the dump.
    GTraceDumpParserEx* p = new GTraceDumpParserEx;
    if (OSSErr rc = gtraceOpenDumpFileParserEx(&f, p, !o.reverse)) return fail("open parser", rc);
    bool wrapped = false, truncated = false;
    ramboDidBufferWrap(&p->parser.rambo, &wrapped);
    ramboWasBufferTruncated(&p->parser.rambo, &truncated);
    const bool progress = _isatty(_fileno(stderr)) != 0;
    Decoded d;
    Uint64 count = 0, shown = 0;
    std::string out;
    out.reserve(1 << 20);
    // Per thread: the functions entered and not yet left, for the nesting of B and E events,
    // with the values of each entry. A viewer names a frame by its "B" event's name and
    // arguments, and matches an "E" to its "B" by both, so "B" and "E" carry the name alone;
    // the call's values (the exit's, and the entry's under "entry") go out on an instant event
    // at the exit, inside the frame.
    struct OpenFrame {
        Uint32 functionId;
        std::string entryArgs;
    };
    std::map<std::pair<Uint32, Uint64>, std::vector<OpenFrame>> open;
    std::set<Uint32> namedProcesses;
    std::set<std::pair<Uint32, Uint64>> namedThreads;
    double lastTs = 0;
    // The text goes out in large binary writes, with the line ends a text-mode stream would
    // give written here (the runtime's text mode converts and writes a few kilobytes at a
    // time). Line ends come only from `eol`: names and item bytes are shown without any.
    fflush(stdout);
    const int stdoutMode = _setmode(_fileno(stdout), _O_BINARY);
    const char* const eol = stdoutMode != -1 && (stdoutMode & _O_TEXT) != 0 ? "\r\n" : "\n";
    if (o.json) out += std::string("[") + eol;
    else if (wrapped) out += std::string("[BUFFER WRAPPED]") + eol;
    bool first = true;
    auto flush = [&] {
        fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    };
    auto jsonEvent = [&](const char* ph, const std::string& name, const std::string& cat, double ts, Uint32 pid,
                         Uint64 tid, const std::string& args) {
        char b[160];
        if (!first) {
            out += ',';
            out += eol;
        }
        first = false;
        out += "{\"ph\":\"";
        out += ph;
        out += "\",\"name\":";
        jsonString(out, name);
        out += ",\"cat\":";
        jsonString(out, cat);
        snprintf(b, sizeof b, ",\"ts\":%.3f,\"pid\":%u,\"tid\":%s", ts, pid, std::to_string(tid).c_str());
        out += b;
        if (ph[0] == 'i') out += ",\"s\":\"t\"";
        if (ph[0] != 'B' && ph[0] != 'E') out += ",\"args\":{" + args + "}";
        out += '}';
    };
    // Metadata events name each process and thread once, before its first event, so that a
    // viewer lists them as the product's processes and threads.
    auto nameOnce = [&](Uint32 pid, Uint64 tid) {
        if (namedProcesses.insert(pid).second) {
            std::string args = "\"name\":";
            jsonString(args, "process " + std::to_string(pid));
            jsonEvent("M", "process_name", "__metadata", 0, pid, 0, args);
        }
        if (namedThreads.insert({pid, tid}).second) {
            std::string args = "\"name\":";
            jsonString(args, "thread " + std::to_string(tid));
            jsonEvent("M", "thread_name", "__metadata", 0, pid, tid, args);
        }
    };
    // Closes an open frame: an instant event with the exit's values (none when the exit is
    // missing) and the entry's under "entry", then the bare "E".
    auto closeFrame = [&](const OpenFrame& fr, double ts, Uint32 pid, Uint64 tid, const std::string& exitArgs) {
        std::string args = exitArgs;
        if (!fr.entryArgs.empty()) args += (args.empty() ? "" : ",") + std::string("\"entry\":{") + fr.entryArgs + "}";
        const std::string fname = functionName(fr.functionId), cname = componentName(fr.functionId);
        if (!args.empty()) jsonEvent("i", fname, cname, ts, pid, tid, args);
        jsonEvent("E", fname, cname, ts, pid, tid, "");
    };
    // Records missing from the dump: the parser counts the slots they took, one or more each.
    auto lostLine = [&](Uint32 slots, Uint32 pid, Uint64 tid) {
        if (slots == 0) return;
        const std::string text = slots == 1 ? "LOST 1 RECORDS" : "LOST UP TO " + std::to_string(slots) + " RECORDS";
        if (o.json) {
            nameOnce(pid, tid);
            jsonEvent("i", text, "trace", lastTs, pid, tid, "\"slots\":" + std::to_string(slots));
        }
        else out += "[" + text + "]" + eol;
    };
    // Records are decoded where the parser holds them, a batch at a time.
    std::vector<GTraceRecordView> views(256);
    Uint32 batch = 0, next = 0;
    for (;;) {
        if (next == batch) {
            batch = gtraceParseRecordBatchEx(&f, p, views.data(), (Uint32)views.size());
            next = 0;
            if (batch == 0) break;
        }
        const GTraceRecordView& view = views[next++];
        ++count;
        if (progress && (count & 0xFFFF) == 0) fprintf(stderr, "\r%s records", std::to_string(count).c_str());
        decode(static_cast<const Uint8*>(view.payload), view.length, &d);
        const GTraceRecord& h = d.h;
        lostLine(view.lostSlots, h.processId, h.threadId);
        if ((o.byPid && h.processId != o.pid) || (o.byTid && h.threadId != o.tid) ||
            (o.byComponent && ECF_FUNC_COMPONENT(h.functionId) != o.component) ||
            (o.byFunction && ECF_FUNC_INDEX(h.functionId) != o.function) || (o.byType && h.recordType != o.type))
            continue;
        ++shown;
        // Without timestamps the record order gives the time line, one microsecond apart.
        const double ts = freq > 0 && h.timestamp ? (double)h.timestamp * 1e6 / freq : (double)count;
        const Names& names = namesOf(h.functionId);
        const std::string& fname = names.function;
        const std::string& cname = names.component;
        const char* tn = typeName(h.recordType);
        if (o.json) {
            nameOnce(h.processId, h.threadId);
            char b[128];
            // The phase of a "B" or "E" event says what the record type would.
            const bool phased = (h.recordType == GTRACE_TYPE_ENTRY || h.recordType == GTRACE_TYPE_EXIT) &&
                                !o.reverse;
            if (phased)
                snprintf(b, sizeof b, "\"probe\":%u", h.probe);
            else
                snprintf(b, sizeof b, "\"probe\":%u,\"type\":%u", h.probe, h.recordType);
            std::string args = b;
            if (h.recordType == GTRACE_TYPE_EXIT || h.result) {
                args += ",\"rc\":";
                jsonString(args, rcName(h.result));
            }
            for (size_t i = 0; i < d.itemsHex.size(); ++i) {
                snprintf(b, sizeof b, ",\"item%u\":", (unsigned)i);
                args += b;
                jsonString(args, d.itemsHex[i] + " " + d.itemsText[i]);
            }
            const double t = ts < lastTs ? lastTs : ts;
            lastTs = t;
            auto& stack = open[{h.processId, h.threadId}];
            if (h.recordType == GTRACE_TYPE_ENTRY && !o.reverse) {
                stack.push_back({h.functionId, args});
                jsonEvent("B", fname, cname, t, h.processId, h.threadId, "");
            } else if (h.recordType == GTRACE_TYPE_EXIT && !o.reverse) {
                auto it = std::find_if(stack.rbegin(), stack.rend(),
                                       [&](const OpenFrame& fr) { return fr.functionId == h.functionId; });
                if (it == stack.rend()) {
                    jsonEvent("i", fname + " (exit)", cname, t, h.processId, h.threadId, args);
                } else {
                    // Close what was entered inside and never left, then this one.
                    while (stack.back().functionId != h.functionId) {
                        closeFrame(stack.back(), t, h.processId, h.threadId, "");
                        stack.pop_back();
                    }
                    closeFrame(stack.back(), t, h.processId, h.threadId, args);
                    stack.pop_back();
                }
            } else {
                jsonEvent("i", fname, cname, t, h.processId, h.threadId, args);
            }
        } else {
            // Formatted by hand: a dump holds millions of records.
            if (h.timestamp && freqTicks) {
                const Uint64 sec = h.timestamp / freqTicks;
                const Uint64 usec = (h.timestamp % freqTicks) * 1000000 / freqTicks;
                char frac[8];
                for (int k = 5; k >= 0; --k) frac[k] = char('0' + (usec / pow10[5 - k]) % 10);
                frac[6] = 0;
                padLeft(out, std::to_string(sec) + "." + frac, 14);
            } else {
                padLeft(out, "-", 14);
            }
            out += " pid ";
            padNumber(out, h.processId, 6);
            out += " tid ";
            padNumber(out, h.threadId, 6);
            out += ' ';
            padRight(out, cname, 8);
            out += ' ';
            padRight(out, fname, 32);
            out += ' ';
            padRight(out, tn ? std::string(tn) : "TYPE " + std::to_string(h.recordType), 10);
            out += " probe ";
            padNumber(out, h.probe, 5);
            // Appended piece by piece: no temporary strings per record.
            if (h.recordType == GTRACE_TYPE_EXIT || h.result) {
                out += " rc ";
                out += rcName(h.result);
            }
            if (h.data1 || h.data2) {
                out += " data 0x";
                appendHex(out, h.data1);
                out += " 0x";
                appendHex(out, h.data2);
            }
            if (d.hasExtra) {
                out += " extra 0x";
                appendHex(out, d.extra[1]);
                appendHex(out, d.extra[0]);
            }
            for (size_t i = 0; i < d.itemsHex.size(); ++i) {
                out += " [";
                out += d.itemsHex[i];
                out += " \"";
                out += d.itemsText[i];
                out += "\"]";
            }
            out += eol;
        }
        if (out.size() > (1u << 20) - 4096) flush();
    }
    Uint32 lostAtEnd = 0;
    gtraceGetLostSlots(p, &lostAtEnd);
    lostLine(lostAtEnd, 0, 0);
    if (o.json) {
        // Entries never left in the dump end with its last event.
        for (auto& kv : open)
            while (!kv.second.empty()) {
                closeFrame(kv.second.back(), lastTs, kv.first.first, kv.first.second, "");
                kv.second.pop_back();
                // A dump of entries only leaves millions open: write as the loop above does.
                if (out.size() > (1u << 20) - 4096) flush();
            }
        out += eol;
        out += ']';
        out += eol;
    } else if (truncated) {
        out += "[TRUNCATED]";
        out += eol;
    }
    flush();
    fflush(stdout);
    if (stdoutMode != -1) _setmode(_fileno(stdout), stdoutMode);
    if (progress && count >= 0x10000) fprintf(stderr, "\r%s records\n", std::to_string(count).c_str());
    gtraceCloseDumpFileParser(&p->parser);
    delete p;
    f.close();
    fprintf(stderr, "%s records, %s shown\n", std::to_string(count).c_str(), std::to_string(shown).c_str());
    return 0;
}

// ---- profile and coverage ----------------------------------------------------------------------------------
int traceProfile(int argc, char** argv) {
    const char* path = nullptr;
    bool byTime = false;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--by") && i + 1 < argc) byTime = !strcmp(argv[++i], "time");
        else path = argv[i];
    }
    if (!path) return fprintf(stderr, "%s", kHelp), 2;
    GTraceDumpHeader* header = new GTraceDumpHeader;
    if (!readHeader(path, header)) return fprintf(stderr, "ossetool trace profile: cannot read %s\n", path), 1;
    const double freq = (double)header->tickFactor.frequency;
    delete header;
    OSSHFile f;
    OSSFileOpenParam op = {OSS_CURRENT_VERSION, path, OSS_FILE_OPEN_EXISTING, OSS_FILE_ACCESS_READ, 0, 0, 0};
    if (OSSErr rc = f.open(&op)) return fail("open dump", rc);
    if (OSSErr rc = gtraceValidateDumpFile(&f, GTRACE_DUMP_PROFILE)) return fail("validate profile dump", rc);
    GTraceDumpParser p;
    if (OSSErr rc = gtraceOpenDumpFileParser(&f, &p, true)) return fail("open parser", rc);
    std::vector<GTraceProfileEntry> v;
    GTraceProfileEntry e;
    while (gtraceParseRecords(&f, &p, nullptr, &e, sizeof e) == sizeof e) v.push_back(e);
    gtraceCloseDumpFileParser(&p);
    f.close();
    std::sort(v.begin(), v.end(), [byTime](const GTraceProfileEntry& a, const GTraceProfileEntry& b) {
        return byTime ? a.ticks > b.ticks : a.calls > b.calls;
    });
    printf("%10s %14s %10s  %-8s %s\n", "calls", "time (ms)", "qualifier", "comp", "function");
    for (const auto& x : v) {
        char q[16];
        if (x.qualifier == GTRACE_PROFILE_NO_QUALIFIER) snprintf(q, sizeof q, "-");
        else snprintf(q, sizeof q, "%u", x.qualifier);
        printf("%10u %14.3f %10s  %-8s %s\n", x.calls, freq > 0 ? x.ticks * 1000.0 / freq : 0.0, q,
               componentName(x.functionId).c_str(), functionName(x.functionId).c_str());
    }
    return 0;
}

int traceCoverage(int argc, char** argv) {
    if (argc != 1) return fprintf(stderr, "%s", kHelp), 2;
    FILE* f = fopen(argv[0], "rb");
    if (!f) return fprintf(stderr, "ossetool trace coverage: cannot read %s\n", argv[0]), 1;
    GTraceDumpHeader* header = new GTraceDumpHeader;
    std::vector<Uint8> area;
    bool ok = fread(header, 1, sizeof *header, f) == sizeof *header &&
              !memcmp(header->eyeCatcher, GTRACE_DUMP_EYECATCHER, 8) && (header->options.mode & 0x88u) == 0x80u;
    // The area is sized from the header only when the file holds that much behind it: a damaged
    // header must not make the tool allocate whatever its size word says.
    const Uint32 bufferSize = ok ? header->options.bufferSize : 0;
    const long areaStart = (long)sizeof *header + 16;
    ok = ok && bufferSize >= 0x400020 && fseek(f, 0, SEEK_END) == 0 && ftell(f) >= areaStart &&
         (Uint64)(ftell(f) - areaStart) >= bufferSize;
    if (ok) {
        area.resize(bufferSize);
        ok = fseek(f, areaStart, SEEK_SET) == 0 && fread(area.data(), 1, area.size(), f) == area.size();
    }
    delete header;
    fclose(f);
    if (!ok) return fprintf(stderr, "ossetool trace coverage: not a coverage dump\n"), 1;
    struct Point { Uint32 type, probe, count; Uint64 bits; };
    std::map<Uint32, std::vector<Point>> byFunction;
    auto at = [&](Uint64 off, Uint32 n) { return off + n <= area.size() ? &area[(size_t)off] : nullptr; };
    for (Uint32 b = 0; b < 262144; ++b) {
        Uint64 off;
        memcpy(&off, &area[0x20 + 16u * b], 8);
        for (Uint32 guard = 0; off && guard < 1000000; ++guard) {
            const Uint8* e = at(off, 32);
            if (!e) break;
            Point pt = {0, 0, 0, 0};
            Uint32 fid, cnt;
            Uint16 type, probe;
            Uint64 bitsOff, next;
            memcpy(&fid, e, 4), memcpy(&type, e + 4, 2), memcpy(&probe, e + 6, 2), memcpy(&cnt, e + 8, 4);
            memcpy(&bitsOff, e + 16, 8), memcpy(&next, e + 24, 8);
            pt.type = type, pt.probe = probe, pt.count = cnt;
            if (const Uint8* bits = bitsOff ? at(bitsOff, 256) : nullptr)
                for (Uint32 i = 0; i < 64; ++i) {
                    Uint32 w;
                    memcpy(&w, bits + 4 * i, 4);
                    if (w) pt.bits |= 1ull << i;
                }
            byFunction[fid].push_back(pt);
            off = next;
        }
    }
    for (auto& kv : byFunction) {
        printf("%s %s\n", componentName(kv.first).c_str(), functionName(kv.first).c_str());
        std::sort(kv.second.begin(), kv.second.end(),
                  [](const Point& a, const Point& b) { return a.type != b.type ? a.type < b.type : a.probe < b.probe; });
        for (const Point& p : kv.second) {
            const char* tn = typeName(p.type);
            printf("    %-10s probe %-5u hits %-8u", tn ? tn : "TYPE", p.probe, p.count);
            if (p.type == GTRACE_TYPE_EXIT) printf(" bits seen 0x%08X%08X", (Uint32)(p.bits >> 32), (Uint32)p.bits);
            printf("\n");
        }
    }
    return 0;
}

}  // namespace

int verbTraceWorkload(int argc, char** argv, bool child);

int verbTrace(int argc, char** argv) {
    if (argc < 1 || !strcmp(argv[0], "--help") || !strcmp(argv[0], "-h")) {
        fputs(kHelp, argc < 1 ? stderr : stdout);
        return argc < 1 ? 2 : 0;
    }
    const std::string sub = argv[0];
    --argc, ++argv;
    if (sub == "on") return traceOn(argc, argv);
    if (sub == "off") return withTrace(argc, argv, "off", offFn);
    if (sub == "clear") return withTrace(argc, argv, "clear", clearFn);
    if (sub == "info") return withTrace(argc, argv, "info", infoFn);
    if (sub == "remove") {
        if (argc != 1) return fprintf(stderr, "usage: ossetool trace remove NAME\n"), 2;
        // Off first, so that processes still bound stop writing; a file that no longer opens as
        // a trace is removed all the same.
        GTCB* cb = nullptr;
        if (gtraceOpenNamed(argv[0], &cb) == 0) {
            offFn(argv[0], cb);
            gtraceCloseNamed(cb);
        }
        const OSSErr rc = gtraceRemoveNamed(argv[0]);
        return rc ? fail("remove", rc) : 0;
    }
    if (sub == "dump" || sub == "stream") {
        if (argc < 2) return fprintf(stderr, "%s", kHelp), 2;
        g_path = argv[1];
        if (sub == "dump") return withTrace(1, argv, "dump", dumpFn);
        for (int i = 2; i < argc; ++i) {
            if (!strcmp(argv[i], "--count") && i + 1 < argc && parseNumber(argv[i + 1], &g_count)) ++i;
            else return fprintf(stderr, "%s", kHelp), 2;
        }
        return withTrace(1, argv, "stream", streamFn);
    }
    if (sub == "format") return traceFormat(argc, argv);
    if (sub == "profile") return traceProfile(argc, argv);
    if (sub == "coverage") return traceCoverage(argc, argv);
    if (sub == "workload") return verbTraceWorkload(argc, argv, false);
    if (sub == "workload-child") return verbTraceWorkload(argc, argv, true);
    fprintf(stderr, "ossetool trace: unknown command '%s' (try ossetool trace --help)\n", sub.c_str());
    return 2;
}

// ---- A small workload: processes doing file operations while bound to a named trace -----------
namespace {

int workloadChild(const char* name, Uint32 operations) {
    if (OSSErr rc = gtraceAttachNamed(name, GetCurrentProcessId(), nullptr, nullptr, nullptr))
        return fail("attach", rc);
    char dir[MAX_PATH], path[MAX_PATH + 64];
    GetTempPathA(sizeof dir, dir);
    snprintf(path, sizeof path, "%sossetool-workload-%lu.tmp", dir, GetCurrentProcessId());
    char line[64];
    for (Uint32 i = 0; i < operations; ++i) {
        OSSHFile f;
        OSSFileOpenParam op = {OSS_CURRENT_VERSION, path, OSS_FILE_OPEN_ALWAYS, OSS_FILE_ACCESS_READWRITE, 0, 0, 0};
        if (f.open(&op) != 0) continue;
        const int n = snprintf(line, sizeof line, "operation %u of process %lu\n", i, GetCurrentProcessId());
        OSSFileWriteParam wp = {OSS_CURRENT_VERSION, line, (Uint32)n, 0};
        f.write(&wp, nullptr);
        OSSFileSeekParam sp = {OSS_CURRENT_VERSION, 0, OSS_FILE_SEEK_SET};
        f.seek(&sp, nullptr);
        OSSFileReadParam rp = {OSS_CURRENT_VERSION, sizeof line, 0};
        Uint32 got = 0;
        f.read(&rp, line, &got);  // short: ends with the end of file
        // A seek past the end fails: an error record in the trace.
        OSSFileSeekParam bad = {OSS_CURRENT_VERSION, 1 << 20, OSS_FILE_SEEK_SET};
        f.seek(&bad, nullptr);
        f.close();
    }
    DeleteFileA(path);
    gtraceDetach();
    return 0;
}

int workload(int argc, char** argv) {
    if (argc < 1) return fprintf(stderr, "usage: ossetool trace workload NAME [PROCESSES [OPERATIONS]]\n"), 2;
    const Uint32 processes = argc > 1 ? (Uint32)atoi(argv[1]) : 3;
    const Uint32 operations = argc > 2 ? (Uint32)atoi(argv[2]) : 20;
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::vector<PROCESS_INFORMATION> started;
    for (Uint32 i = 0; i < processes; ++i) {
        std::string cmd = std::string("\"") + exe + "\" trace workload-child " + argv[0] + " " + std::to_string(operations);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi;
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back('\0');
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            fprintf(stderr, "ossetool trace workload: cannot start a process\n");
            return 1;
        }
        started.push_back(pi);
    }
    int status = 0;
    for (PROCESS_INFORMATION& pi : started) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        if (code) status = 1;
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    printf("%u processes did %u file operations each\n", processes, operations);
    return status;
}

}  // namespace

int verbTraceWorkload(int argc, char** argv, bool child) {
    if (child) return argc == 2 ? workloadChild(argv[0], (Uint32)atoi(argv[1])) : 2;
    return workload(argc, argv);
}
