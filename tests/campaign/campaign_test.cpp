// Kill campaign: worker processes use each shared structure (trace rings of every mode, the
// diagnostic log, the message queue, waitposts and semaphores, trap files, named trace control
// through ossetool); some are ended with TerminateProcess at random moments and at chosen ones,
// the others go on, and then exactly what the structure promises is checked:
//   trace ring      what the ring still holds is read whole, once and in order per writer; the
//                   rest is counted; writers never wait for good, whether the auto-dump
//                   streamer is killed or runs on, and what it streamed is read whole and in
//                   order too
//   diagnostic log  every record of a survivor is in the file whole, once; ossetool log reads
//                   the file to its end (a killed writer's partial record is damage, exit 3)
//   message queue   every message of a surviving producer arrives once, whole and in order, or
//                   the queue reports itself broken (ECF_SEM_WAIT_ABANDONED) and every call
//                   returns; destroyed and created again it works
//   waitpost, sem   waits with finite timeouts return within them; destroyed and created again
//                   the objects work
//   trap file       ossetool trap reads a file cut off anywhere without hanging or crashing
//   named control   ossetool trace on/off/info/remove keep working after any participant died
// Every wait is bounded: a worker or a tool that does not end in time is a hang, counted and
// failed, never left to the CTest timeout.
//
// OSSE_CAMPAIGN_SEED replays a run (the seed is printed); OSSE_CAMPAIGN_KILLS (default 200) is
// the number of kills after which the campaign stops, OSSE_CAMPAIGN_SECONDS a time to run for
// instead (scripts/soak.sh).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../trace/dump_helpers.h"
#include "osse/osse.h"
#include "osse_test.h"

namespace {

// ---- Self-checking payloads ---------------------------------------------------------------

struct Stamp {
    Uint32 writer;
    Uint32 seq;
    Uint32 length;  // bytes of filler after the stamp
    Uint32 check;
};

Uint32 fillByte(Uint32 writer, Uint32 seq, Uint32 i) { return (writer * 131u + seq * 7u + i) & 0xFFu; }

Uint32 stampCheck(const Stamp& s) { return (s.writer * 2654435761u) ^ (s.seq * 40503u) ^ (s.length * 97u) ^ 0x5A5A1234u; }

void makePayload(std::vector<Uint8>& out, Uint32 writer, Uint32 seq, Uint32 length)
{
    out.resize(sizeof(Stamp) + length);
    Stamp s = {writer, seq, length, 0};
    s.check = stampCheck(s);
    memcpy(out.data(), &s, sizeof s);
    for (Uint32 i = 0; i < length; ++i) out[sizeof s + i] = (Uint8)fillByte(writer, seq, i);
}

// True when the bytes are one whole payload; *s receives its stamp.
bool payloadWhole(const Uint8* p, size_t n, Stamp* s)
{
    if (n < sizeof(Stamp)) return false;
    memcpy(s, p, sizeof *s);
    if (s->check != stampCheck(*s) || n != sizeof(Stamp) + s->length) return false;
    for (Uint32 i = 0; i < s->length; ++i)
        if (p[sizeof(Stamp) + i] != (Uint8)fillByte(s->writer, s->seq, i)) return false;
    return true;
}

// ---- Processes --------------------------------------------------------------------------------

std::string ossetoolPath()
{
    std::string exe = OSSETOOL_EXE;
    if (!exe.empty() && exe[0] == '/') {
        for (char& c : exe)
            if (c == '/') c = '\\';
        exe = "Z:" + exe;
    }
    return exe;
}

// A process of any program, output to a file, always waited for with a bound.
class Program {
public:
    ~Program() { kill(); if (process_) CloseHandle(process_); }
    bool start(const std::string& commandLine, const std::string& outputFile)
    {
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        HANDLE out = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE) return false;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = nullptr;
        si.hStdOutput = out;
        si.hStdError = out;
        std::string line = commandLine;
        PROCESS_INFORMATION pi = {};
        // No console at all: its output goes to the file. A new hidden console (CREATE_NO_WINDOW)
        // is one more host process per start under Wine, and one whose program was killed early
        // in its start was seen to stay behind, holding the test's output pipe open, so that
        // CTest waited for it until its timeout after the campaign had passed.
        const BOOL ok = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, DETACHED_PROCESS,
                                       nullptr, nullptr, &si, &pi);
        CloseHandle(out);
        if (!ok) return false;
        CloseHandle(pi.hThread);
        process_ = pi.hProcess;
        return true;
    }
    // Exit code, or -1 when it did not end in time (it is then killed).
    int wait(unsigned ms)
    {
        if (!process_) return -2;
        if (WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) {
            kill();
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        return (int)code;
    }
    void kill()
    {
        if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 10000);
        }
    }

private:
    HANDLE process_ = nullptr;
};

// Runs ossetool with the arguments; the exit code, or -1 for a hang.
int ossetool(const std::string& args, const std::string& outputFile, unsigned ms = 30000)
{
    Program p;
    if (!p.start("\"" + ossetoolPath() + "\" " + args, outputFile)) return -2;
    return p.wait(ms);
}

std::string readAll(const std::string& path)
{
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

Uint64 nowMs() { return GetTickCount64(); }

// ---- Results ------------------------------------------------------------------------------------

struct Tally {
    Uint64 kills = 0, survivorOps = 0, checked = 0, hangs = 0, corrupt = 0, lost = 0, broken = 0;
    Uint64 frames = 0;  // the supervisor's own call-frame records met in a trace (whole)
    std::map<std::string, Uint64> moments;
    std::vector<std::string> faults;  // what each hang or corrupt read was
};

struct Campaign {
    std::mt19937_64 rng;
    std::map<std::string, Tally> tally;
    Uint64 kills = 0;
    ossetest::TempDir dir;
    int round = 0;
    bool liveStreamer = true;  // OSSE_CAMPAIGN_LIVE_STREAMER=0 turns it off
    int queueRounds = 0;

    Uint32 below(Uint32 n) { return (Uint32)(rng() % n); }
    std::string unique(const char* what)
    {
        char text[96];
        snprintf(text, sizeof text, "cmp%lu_%d_%s", GetCurrentProcessId(), ++round, what);
        return text;
    }
    void killed(const std::string& structure, const std::string& moment)
    {
        Tally& t = tally[structure];
        ++t.kills;
        ++t.moments[moment];
        ++kills;
    }
    void hang(const std::string& structure, const std::string& what)
    {
        ++tally[structure].hangs;
        tally[structure].faults.push_back("hang: " + what);
    }
    void corrupt(const std::string& structure, const std::string& what)
    {
        ++tally[structure].corrupt;
        tally[structure].faults.push_back("corrupt: " + what);
    }

    // Starts workers of this program and lets them all begin at once (a start under Wine takes
    // long enough that the first would otherwise be done before the last began).
    std::vector<std::unique_ptr<ossetest::Child>> start(const char* role,
                                                       const std::vector<std::vector<std::string>>& args)
    {
        const std::string goName = unique("go");
        HANDLE go = CreateEventA(nullptr, TRUE, FALSE, goName.c_str());
        std::vector<std::unique_ptr<ossetest::Child>> out;
        for (auto a : args) {
            a.push_back(goName);
            out.emplace_back(new ossetest::Child);
            EXPECT_TRUE(out.back()->start(role, a)) << role;
        }
        SetEvent(go);
        CloseHandle(go);
        return out;
    }

    // Kills `victims` of the workers at random moments within `windowMs` of now, the others run on.
    std::vector<bool> killSome(std::vector<std::unique_ptr<ossetest::Child>>& workers, size_t victims,
                               Uint32 windowMs, const std::string& structure, const std::string& moment)
    {
        std::vector<size_t> order(workers.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        std::vector<bool> dead(workers.size(), false);
        std::vector<Uint32> at;
        // Into their work (they begin at the go given just before).
        for (size_t k = 0; k < victims && k < order.size(); ++k) at.push_back(20 + below(windowMs + 1));
        std::sort(at.begin(), at.end());
        const Uint64 t0 = nowMs();
        for (size_t k = 0; k < at.size(); ++k) {
            while (nowMs() - t0 < at[k]) Sleep(1);
            ossetest::Child& c = *workers[order[k]];
            // A worker that already finished is not a kill.
            if (!c.running()) continue;
            c.kill();
            dead[order[k]] = true;
            killed(structure, moment);
        }
        return dead;
    }

    // Waits for the survivors; a survivor that does not end in time is a hang.
    void awaitSurvivors(std::vector<std::unique_ptr<ossetest::Child>>& workers, const std::vector<bool>& dead,
                        const std::string& structure, std::vector<int>* codes = nullptr,
                        const std::function<void()>& onStall = nullptr)
    {
        if (codes) codes->assign(workers.size(), 99);
        const Uint64 deadline = nowMs() + 30000;
        if (onStall) {
            // Survivors work kWorkMs; still running well after it, they wait for something.
            const Uint64 stallAt = nowMs() + 8000;
            bool stalled = false;
            for (size_t i = 0; i < workers.size() && !stalled; ++i)
                while (!dead[i] && workers[i]->running() && !stalled) {
                    if (nowMs() > stallAt) stalled = true;
                    else Sleep(10);
                }
            if (stalled) onStall();
        }
        for (size_t i = 0; i < workers.size(); ++i) {
            if (dead[i]) continue;
            const Uint64 now = nowMs();
            // An ended worker's code is read at once: -1 is then its exit code, not a timeout.
            const bool ended = !workers[i]->running();
            const int rc = workers[i]->wait(now < deadline ? (unsigned)(deadline - now) : 0);
            if (codes) (*codes)[i] = rc;
            if (rc == -1 && ended) corrupt(structure, "a surviving worker ended with exit code 0xFFFFFFFF");
            else if (rc == -1) hang(structure, "a surviving worker did not end within 30 s");
        }
    }
};

// In a worker: waits (bounded) for the supervisor's go, the last argument.
void awaitGo(const std::vector<std::string>& args)
{
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, args.back().c_str());
    if (go) {
        WaitForSingleObject(go, 30000);
        CloseHandle(go);
    }
}

// ---- Trace rings ------------------------------------------------------------------------------

// How long a worker works; the kills fall inside it.
const Uint32 kWorkMs = 900;

// Writes self-checking records of 0 to 600 bytes of filler for kWorkMs; the exit code is the
// number written (+1000, so that it is not taken for an error code).
OSSE_CHILD_ROLE(campaign_trace_writer)
{
    const Uint32 id = (Uint32)atoi(args.at(1).c_str());
    if (gtraceAttachNamed(args.at(0).c_str(), GetCurrentProcessId(), nullptr, nullptr, nullptr)) return 2;
    std::vector<Uint8> payload;
    awaitGo(args);
    const Uint64 end = nowMs() + kWorkMs;
    Uint32 seq = 0;
    for (; nowMs() < end; ++seq) {
        makePayload(payload, id, seq, (seq * 37u + id * 11u) % 601u);
        _gtraceVar(1, 0, 0x081A0003, seq & 0xFFFF, GTRACE_TYPE_DATA, 1, GTRACE_ITEM_BYTES,
                   (Uint32)payload.size(), payload.data());
    }
    gtraceDetach();
    return (int)(seq + 1000);
}

// The library's own operations write an entry and an exit record into the trace their process
// is bound to while it is enabled (the call frame of every exported operation). The supervisor is
// bound to the ring it checks, and reads the ring's dump through the file operations while the
// trace is still on: a streamer that runs on drains those records into its file. They are whole
// records of another kind, told apart by their head (one slot, no items, this process and thread,
// an entry or an exit as the frame writes them), never by a payload that fails the check.
bool ownCallFrame(const tracetest::Bytes& r)
{
    if (r.size() != RAMBO_ONE_SLOT_PAYLOAD) return false;
    GTraceRecord h;
    memset(&h, 0, sizeof h);
    memcpy(&h, r.data(), r.size());
    const bool entry = h.recordType == GTRACE_TYPE_ENTRY && h.data2 == 1000000 && h.result == 0;
    const bool leave = h.recordType == GTRACE_TYPE_EXIT && h.data2 == 0;
    return (entry || leave) && h.data1 == 0 && h.recordFlags == 0 && h.probe == 0 && h.itemAreaLength == 0 &&
           h.processId == GetCurrentProcessId() && h.threadId == ossThreadID();
}

// Every record of a parsed dump must be one whole payload, and each writer's sequence numbers
// must rise; returns the records of each writer. The supervisor's own call frames are counted
// apart.
std::map<Uint32, Uint32> checkTraceRecords(Campaign& c, const std::string& structure,
                                           const tracetest::Parsed& parsed, const std::string& what)
{
    std::map<Uint32, Uint32> perWriter;
    std::map<Uint32, Uint32> last;
    for (const tracetest::Bytes& r : parsed.records) {
        if (ownCallFrame(r)) {
            ++c.tally[structure].frames;
            continue;
        }
        GTraceItemWalk w;
        Uint32 kind = 0, size = 0, present = 0;
        const void* bytes = nullptr;
        Stamp s;
        if (!gtraceRecordItemsBegin(r.data(), (Uint32)r.size(), &w) ||
            !gtraceRecordItemsNext(&w, &kind, &size, &bytes, &present) ||
            !payloadWhole(static_cast<const Uint8*>(bytes), present, &s)) {
            char detail[160] = "";
            if (present >= sizeof(Stamp))
                snprintf(detail, sizeof detail, " (writer %u, record %u, %u filler bytes, %u present)",
                         s.writer, s.seq, s.length, present);
            c.corrupt(structure, what + ": a record that is not whole was returned" + detail);
            continue;
        }
        auto it = last.find(s.writer);
        if (it != last.end() && s.seq <= it->second) {
            c.corrupt(structure, what + ": a writer's record returned twice or out of order");
        }
        last[s.writer] = s.seq;
        ++perWriter[s.writer];
        ++c.tally[structure].checked;
    }
    return perWriter;
}

// Checks that ossetool's named trace verbs work on `name`; each must end in time with status 0.
void namedControlWorks(Campaign& c, const std::string& name, bool remove)
{
    const std::string out = c.dir.file("control.txt");
    const char* verbs[] = {"info", "off", "info", "remove"};
    for (const char* verb : verbs) {
        if (!remove && strcmp(verb, "remove") == 0) continue;
        const int rc = ossetool(std::string("trace ") + verb + " " + name, out);
        ++c.tally["named trace control"].survivorOps;
        if (rc == -1)
            c.hang("named trace control", std::string("ossetool trace ") + verb);
        else if (rc != 0)
            c.corrupt("named trace control", std::string("ossetool trace ") + verb + " failed: " +
                                                 readAll(out));
    }
}

void traceRound(Campaign& c, Uint32 mode, const char* structure)
{
    const std::string name = c.unique("tr");
    GTraceOptions options;
    options.bufferSize = 512u << 10;
    options.mode = mode;
    GTCBType* block = nullptr;
    ASSERT_EQ(gtraceCreateNamed(name.c_str(), &options, &block), 0u);
    // The supervisor binds to switch it on and to dump it; it writes nothing.
    ASSERT_EQ(gtraceAttachNamed(name.c_str(), GetCurrentProcessId(), nullptr, nullptr, nullptr), 0u);
    gtraceEnable();

    Program streamer;
    const std::string streamFile = c.dir.file(name + ".stream");
    if (mode == GTRACE_MODE_AUTODUMP)
        streamer.start("\"" + ossetoolPath() + "\" trace stream " + name + " \"" + streamFile + "\"",
                       c.dir.file("streamer.txt"));

    std::vector<std::vector<std::string>> args;
    for (int i = 0; i < 8; ++i) args.push_back({name, std::to_string(i + 1)});
    auto workers = c.start("campaign_trace_writer", args);
    // Writers die anywhere in their writes: mostly inside a trace call, between reserving their
    // slots and publishing them (a writer held exactly there is the lap tests' own case).
    // Auto-dump: in every other round (at random) the streamer is killed first, else it drains
    // the ring all along while the writers are killed (OSSE_CAMPAIGN_LIVE_STREAMER=0: always
    // killed first).
    bool streamerKilled = false;
    if (mode == GTRACE_MODE_AUTODUMP && (!c.liveStreamer || c.below(2) == 0)) {
        Sleep(c.below(150));
        streamer.kill();
        streamerKilled = true;
        c.killed(structure, "streamer killed");
    }
    const auto dead = c.killSome(workers, 6, kWorkMs - 100, structure, "random, in a write (reservation to publication)");
    std::vector<int> written;
    // Auto-dump: a writer killed between reserving and publishing leaves its chunk short; a
    // streamer that runs on stalls there and the writers one lap on wait for it. That is a
    // hang; switching the trace off releases them, so that the rest can still be checked.
    std::function<void()> onStall;
    if (mode == GTRACE_MODE_AUTODUMP)
        onStall = [&] {
            c.hang(structure, "writers waited behind a killed writer's short chunk while the streamer ran");
            gtraceDisable();
            gtraceAutoDumpEnabled(false);
        };
    c.awaitSurvivors(workers, dead, structure, &written, onStall);
    for (size_t i = 0; i < workers.size(); ++i) {
        if (dead[i]) continue;
        if (written[i] < 1000) {
            if (written[i] != -1) c.corrupt(structure, "a writer failed with exit " + std::to_string(written[i]));
            written[i] = 1000;
        }
        c.tally[structure].survivorOps += written[i] - 1000;
    }

    // What the ring holds now, as a dump tool writes it.
    const std::string dump = c.dir.file(name + ".dmp");
    tracetest::writeBytes(dump, tracetest::dumpOfBoundTrace(true));
    const tracetest::Parsed parsed = tracetest::parseFile(dump, true);
    if (parsed.openRc != 0) c.corrupt(structure, "the dump of the ring does not parse");
    const auto perWriter = checkTraceRecords(c, structure, parsed, "ring");
    for (size_t i = 0; i < workers.size(); ++i) {
        if (dead[i]) continue;
        auto it = perWriter.find((Uint32)i + 1);
        const Uint32 got = it == perWriter.end() ? 0 : it->second;
        c.tally[structure].lost += (Uint32)(written[i] - 1000) - got;
        if (mode == GTRACE_MODE_LINEAR && got == 0 && !parsed.truncated)
            c.corrupt(structure, "linear ring not full yet lacks a survivor's records");
    }
    gtraceDetach();

    if (mode == GTRACE_MODE_AUTODUMP) {
        // The streamer ends at 'trace off'; one that was killed left a file cut anywhere, one that
        // ran on ends well and leaves a file that opens.
        namedControlWorks(c, name, false);
        const int streamerRc = streamer.wait(20000);
        if (streamerRc == -1) c.hang(structure, "the streamer did not end after trace off");
        else if (!streamerKilled && streamerRc != 0)
            c.corrupt(structure, "the streamer that ran on failed: " + readAll(c.dir.file("streamer.txt")));
        const tracetest::Parsed streamed = tracetest::parseFile(streamFile, true);
        if (streamed.openRc == 0) checkTraceRecords(c, structure, streamed, "stream file");
        else if (!streamerKilled) c.corrupt(structure, "the file of the streamer that ran on does not open");
        gtraceCloseNamed(block);
        const int rc = ossetool("trace remove " + name, c.dir.file("control.txt"));
        if (rc != 0) c.corrupt("named trace control", "remove after a streamed trace");
    } else {
        gtraceCloseNamed(block);
        namedControlWorks(c, name, true);
    }
}

// A participant of named trace control is killed part way through 'trace on', then the verbs
// must still work on that name.
void namedControlRound(Campaign& c)
{
    const std::string name = c.unique("nc");
    Program on;
    on.start("\"" + ossetoolPath() + "\" trace on " + name + " --size 512K", c.dir.file("on.txt"));
    Sleep(c.below(120));
    on.kill();
    c.killed("named trace control", "ossetool trace on");
    const std::string out = c.dir.file("control.txt");
    // Whatever the killed 'on' left, remove clears it and on/info/remove work again.
    int rc = ossetool("trace remove " + name, out);
    if (rc == -1) c.hang("named trace control", "remove after a killed on");
    rc = ossetool("trace on " + name + " --size 512K", out);
    if (rc == -1) c.hang("named trace control", "on after a killed on");
    else if (rc != 0) c.corrupt("named trace control", "on after a killed on failed: " + readAll(out));
    c.tally["named trace control"].survivorOps += 2;
    namedControlWorks(c, name, true);
}

// ---- Diagnostic log ----------------------------------------------------------------------------


OSSE_CHILD_ROLE(campaign_log_writer)
{
    OSSLogFacOpenParam param = {};
    param.version = OSS_CURRENT_VERSION;
    snprintf(param.path, sizeof param.path, "%s", args.at(0).c_str());
    snprintf(param.name, sizeof param.name, "%s", "campaign");
    param.level = 5;
    param.destination = OSS_LOG_DEST_FILE;
    OSSLogFacility f;
    memset(&f, 0, sizeof f);
    if (ossLogFacOpen(&param, &f)) return 2;
    const Uint32 id = (Uint32)atoi(args.at(1).c_str());
    awaitGo(args);
    const Uint64 end = nowMs() + kWorkMs;
    Uint32 seq = 0;
    for (; nowMs() < end; ++seq) {
        char text[600];
        const Uint32 pad = (seq * 13u + id) % 400u;
        int n = snprintf(text, sizeof text, "cmpw%u s%u k%u ", id, seq, (id * 7919u + seq) % 100000u);
        for (Uint32 i = 0; i < pad; ++i) text[n++] = (char)('a' + (seq + i) % 26);
        n += snprintf(text + n, sizeof text - n, " end%u.%u", id, seq);
        ossLog(&f, 0x081A0003u, 0, 1, OSS_LEVEL_ERROR, 1, OSSLogItem{text, n, OSS_ITEM_STRING});
    }
    ossLogFacClose(&f);
    return (int)(seq + 1000);
}

void logRound(Campaign& c)
{
    const char* structure = "diagnostic log";
    const std::string path = c.dir.file(c.unique("log") + ".log");
    std::vector<std::vector<std::string>> args;
    for (int i = 0; i < 8; ++i) args.push_back({path, std::to_string(i + 1)});
    auto workers = c.start("campaign_log_writer", args);
    const auto dead = c.killSome(workers, 5, kWorkMs - 100, structure, "random, mostly while writing a record");
    std::vector<int> written;
    c.awaitSurvivors(workers, dead, structure, &written);

    // Each survivor's records are in the file whole, once, in order.
    const std::string text = readAll(path);
    for (size_t i = 0; i < workers.size(); ++i) {
        if (dead[i] || written[i] == -1) continue;
        if (written[i] < 1000) {
            c.corrupt(structure, "a writer failed with exit " + std::to_string(written[i]));
            continue;
        }
        const Uint32 id = (Uint32)i + 1, records = (Uint32)written[i] - 1000;
        c.tally[structure].survivorOps += records;
        size_t at = 0;
        for (Uint32 seq = 0; seq < records; ++seq) {
            char head[64], tail[32];
            snprintf(head, sizeof head, "cmpw%u s%u k%u ", id, seq, (id * 7919u + seq) % 100000u);
            snprintf(tail, sizeof tail, " end%u.%u", id, seq);
            const size_t h = text.find(head, at);
            const size_t t = h == std::string::npos ? h : text.find(tail, h);
            const Uint32 pad = (seq * 13u + id) % 400u;
            if (h == std::string::npos || t != h + strlen(head) + pad) {
                c.corrupt(structure, "a survivor's record is missing or not whole");
                break;
            }
            if (text.find(head, t) != std::string::npos) c.corrupt(structure, "a survivor's record is there twice");
            at = t;
            ++c.tally[structure].checked;
        }
    }
    // The reader goes through to the end; damage (a killed writer's partial record) is exit 3.
    const std::string out = c.dir.file("logtool.txt");
    const int rc = ossetool("log \"" + path + "\" --stats", out, 60000);
    ++c.tally[structure].survivorOps;
    if (rc == -1) c.hang(structure, "ossetool log");
    else if (rc != 0 && rc != 3) c.corrupt(structure, "ossetool log exit " + std::to_string(rc) + ": " + readAll(out));
}

// ---- Message queue ----------------------------------------------------------------------------

const Uint32 kQueueRing = 4096;
const Uint32 kQueueSizes[] = {16, 200, 3000, 9000};  // the last is larger than the ring

// args: the queue's three names, id, messages, size choice ("mixed" or "big")
OSSE_CHILD_ROLE(campaign_queue_producer)
{
    OSSIPCQueResID q;
    for (int i = 0; i < 3; ++i) snprintf(q.resID[i].name, sizeof q.resID[i].name, "%s", args.at(i).c_str());
    const Uint32 id = (Uint32)atoi(args.at(3).c_str());
    const Uint32 count = (Uint32)atoi(args.at(4).c_str());
    const bool big = args.at(5) == "big";
    OSSHIPCQueue queue;
    if (queue.attach(&q)) return 2;
    awaitGo(args);
    std::vector<Uint8> payload;
    for (Uint32 seq = 0; seq < count; ++seq) {
        const Uint32 size = big ? kQueueSizes[3] : kQueueSizes[(seq + id) % 4];
        makePayload(payload, id, seq, size - (Uint32)sizeof(Stamp));
        const Uint32 rc = queue.put(payload.data(), (unsigned)payload.size());
        if (rc == ECF_SEM_WAIT_ABANDONED) return 10;  // broken: said clearly, and returned
        if (rc) return 3;
    }
    queue.detach();
    return 0;
}

void queueRound(Campaign& c)
{
    const char* structure = "message queue";
    const std::string key = c.unique("q");
    OSSIPCGetResIDParam rp;
    rp.path = key.c_str();
    rp.id = 9;
    OSSIPCQueueCreateParam cp;
    ASSERT_EQ(ossIPCGetQueResID(&rp, &cp.queResId), 0u);
    cp.maxBytes = kQueueRing;
    OSSHIPCQueue queue;
    ASSERT_EQ(queue.create(&cp), 0u);

    // Every other round, two producers send only messages larger than the ring.
    const bool bigRound = ++c.queueRounds % 2 == 0;
    const Uint32 count = bigRound ? 40 : 300;
    std::vector<std::vector<std::string>> args;
    for (int i = 0; i < 5; ++i) {
        const bool big = bigRound && i < 2;
        args.push_back({cp.queResId.resID[0].name, cp.queResId.resID[1].name, cp.queResId.resID[2].name,
                        std::to_string(i + 1), std::to_string(count), big ? "big" : "mixed"});
    }
    auto workers = c.start("campaign_queue_producer", args);

    // Kill times, chosen now; the supervisor consumes meanwhile.
    std::vector<size_t> order(workers.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), c.rng);
    const size_t victims = 3;
    std::vector<Uint64> killAt;
    const Uint64 t0 = nowMs();
    for (size_t k = 0; k < victims; ++k) killAt.push_back(t0 + 20 + c.below(500));
    std::sort(killAt.begin(), killAt.end());
    std::vector<bool> dead(workers.size(), false);
    size_t nextKill = 0;

    std::map<Uint32, Uint32> nextSeq;
    std::vector<Uint8> buffer(16384);
    bool broken = false;
    Uint64 quietSince = 0;
    for (;;) {
        const Uint64 now = nowMs();
        if (nextKill < killAt.size() && now >= killAt[nextKill]) {
            const size_t v = order[nextKill++];
            if (workers[v]->running()) {
                workers[v]->kill();
                dead[v] = true;
                // A big-message producer is nearly always part way through a message that
                // streams through the ring; a mixed one mostly holds the put latch.
                c.killed(structure, bigRound && v < 2 ? "mid-message larger than the ring"
                                                      : "random, mostly holding the put latch");
            }
        }
        if (now - t0 > 60000) {
            c.hang(structure, "producers and consumer did not finish within 60 s");
            break;
        }
        unsigned int length = 0;
        const Uint64 before = nowMs();
        const Uint32 rc = queue.get(buffer.data(), (unsigned)buffer.size(), &length, 50);
        const Uint64 took = nowMs() - before;
        ++c.tally[structure].survivorOps;
        if (took > 50 + 2000) c.hang(structure, "get with a 50 ms timeout took " + std::to_string(took) + " ms");
        if (rc == 0) {
            quietSince = 0;
            Stamp s;
            if (!payloadWhole(buffer.data(), length, &s)) {
                c.corrupt(structure, "a message that is not whole arrived");
                continue;
            }
            Uint32& expect = nextSeq[s.writer];
            if (s.seq != expect) c.corrupt(structure, "a message arrived twice, out of order or after a gap");
            expect = s.seq + 1;
            ++c.tally[structure].checked;
            continue;
        }
        if (rc == ECF_SEM_WAIT_ABANDONED) {
            broken = true;
            break;
        }
        if (rc != ECF_TIMEOUT && rc != ECF_QUE_INVALID_MSG_TYPE) {
            c.corrupt(structure, "get returned an unexpected code");
            break;
        }
        bool anyRunning = false;
        for (size_t i = 0; i < workers.size(); ++i)
            if (!dead[i] && workers[i]->running()) anyRunning = true;
        if (!anyRunning && nextKill >= killAt.size()) {
            if (!quietSince) quietSince = nowMs();
            if (nowMs() - quietSince > 200) break;
        }
    }
    std::vector<int> codes;
    c.awaitSurvivors(workers, dead, structure, &codes);
    if (broken) {
        ++c.tally[structure].broken;
        for (size_t i = 0; i < workers.size(); ++i)
            if (!dead[i] && codes[i] != 0 && codes[i] != 10 && codes[i] != -1)
                c.corrupt(structure, "a producer of a broken queue failed with exit " + std::to_string(codes[i]));
    } else {
        // Not broken: every surviving producer's messages all arrived.
        for (size_t i = 0; i < workers.size(); ++i) {
            if (dead[i]) continue;
            if (codes[i] != 0) c.corrupt(structure, "a producer failed with exit " + std::to_string(codes[i]));
            if (nextSeq[(Uint32)i + 1] != count) c.corrupt(structure, "a surviving producer's messages were lost");
        }
    }
    EXPECT_EQ(queue.destroy(), 0u);
    // Created again, the queue works.
    OSSHIPCQueue again;
    ASSERT_EQ(again.create(&cp), 0u);
    char msg[] = "again", got[16] = {};
    unsigned int len = 0;
    if (again.put(msg, sizeof msg) != 0 || again.get(got, sizeof got, &len, 1000) != 0 || strcmp(got, msg) != 0)
        c.corrupt(structure, "the queue created again does not work");
    again.destroy();
}

// ---- Waitposts and semaphores -----------------------------------------------------------------

struct SyncShared {
    OSSIPCWaitpostCore core;
};

const Uint32 kSyncTimeout = 30;  // ms, every wait of the parties

// args: segment, waitpost event, semaphore, "post" or "wait"
OSSE_CHILD_ROLE(campaign_sync_party)
{
    OSSIPCResID seg, ev, sem;
    snprintf(seg.name, sizeof seg.name, "%s", args.at(0).c_str());
    snprintf(ev.name, sizeof ev.name, "%s", args.at(1).c_str());
    snprintf(sem.name, sizeof sem.name, "%s", args.at(2).c_str());
    const bool poster = args.at(3) == "post";
    OSSHIPCMemory m;
    if (m.attach(&seg, nullptr)) return 2;
    SyncShared* sh = static_cast<SyncShared*>(m.address);
    OSSIPCWaitpostOpenParam op = {OSS_CURRENT_VERSION, &sh->core, nullptr, 0, &ev};
    OSSHIPCWaitpost wp;
    if (wp.open(&op)) return 3;
    OSSHIPCSemaphore s;
    if (s.attach(&sem)) return 4;
    const OSSIPCWaitpostWaitParam wpw = {OSS_CURRENT_VERSION, kSyncTimeout};
    OSSIPCSemaphoreWaitParam sw = {OSS_CURRENT_VERSION, kSyncTimeout, {0, 0}};
    awaitGo(args);
    const Uint64 end = nowMs() + kWorkMs;
    while (nowMs() < end) {
        if (poster) {
            wp.post(nullptr);
            s.post();
            Sleep(1);
            wp.reset();
        } else {
            Uint64 t = nowMs();
            const Uint32 a = wp.wait(&wpw, nullptr);
            if (nowMs() - t > kSyncTimeout + 2000) return 20;  // overran its timeout
            t = nowMs();
            const Uint32 b = s.wait(&sw);
            if (nowMs() - t > kSyncTimeout + 2000) return 21;
            if ((a && a != ECF_TIMEOUT && a != ECF_WAITPOST_NOT_POSTED) || (b && b != ECF_TIMEOUT)) return 22;
        }
    }
    wp.close();
    s.detach();
    m.detach();
    return 0;
}

void syncRound(Campaign& c)
{
    const char* structure = "waitpost and semaphore";
    const std::string key = c.unique("sy");
    auto resId = [&](Sint32 id) {
        OSSIPCGetResIDParam p;
        p.path = key.c_str();
        p.id = id;
        OSSIPCResID r;
        EXPECT_EQ(ossIPCGetResID(&p, &r), 0u);
        return r;
    };
    OSSIPCMemoryCreateParam mp;
    mp.resId = resId(1);
    mp.size = 4096;
    OSSHIPCMemory m;
    ASSERT_EQ(m.create(&mp), 0u);
    SyncShared* sh = static_cast<SyncShared*>(m.address);
    const OSSIPCResID ev = resId(2);
    // Unguarded: there is no payload, so the parties share no latch (a guarded waitpost's
    // payload latch has no owner to find dead; see the wait table).
    OSSIPCWaitpostCreateParam wc = {OSS_CURRENT_VERSION, &sh->core, nullptr, 0, &ev, 0, OSS_WAITPOST_UNGUARDED};
    OSSHIPCWaitpost wp;
    ASSERT_EQ(wp.create(&wc), 0u);
    OSSIPCSemaphoreCreateParam sp;
    sp.resId = resId(3);
    OSSHIPCSemaphore sem;
    ASSERT_EQ(sem.create(&sp), 0u);

    std::vector<std::vector<std::string>> args;
    for (int i = 0; i < 8; ++i)
        args.push_back({mp.resId.name, ev.name, sp.resId.name, i % 2 ? "wait" : "post"});
    auto workers = c.start("campaign_sync_party", args);
    const auto dead = c.killSome(workers, 5, kWorkMs - 100, structure, "random (post, wait or reset)");
    std::vector<int> codes;
    c.awaitSurvivors(workers, dead, structure, &codes);
    for (size_t i = 0; i < workers.size(); ++i) {
        if (dead[i] || codes[i] == -1) continue;
        ++c.tally[structure].checked;
        c.tally[structure].survivorOps += kWorkMs / kSyncTimeout;  // at least this many waits
        if (codes[i] == 20 || codes[i] == 21) c.hang(structure, "a wait overran its timeout");
        else if (codes[i] != 0) c.corrupt(structure, "a party failed with exit " + std::to_string(codes[i]));
    }
    EXPECT_EQ(wp.destroy(), 0u);
    EXPECT_EQ(sem.destroy(), 0u);
    // Destroyed and created again, both work.
    OSSHIPCWaitpost wp2;
    OSSHIPCSemaphore sem2;
    const OSSIPCWaitpostWaitParam poll = {OSS_CURRENT_VERSION, 0};
    OSSIPCSemaphoreWaitParam sw = {OSS_CURRENT_VERSION, 0, {0, 0}};
    if (wp2.create(&wc) || wp2.post(nullptr) || wp2.wait(&poll, nullptr) || wp2.destroy())
        c.corrupt(structure, "the waitpost created again does not work");
    if (sem2.create(&sp) || sem2.post() || sem2.wait(&sw) || sem2.destroy())
        c.corrupt(structure, "the semaphore created again does not work");
    m.destroy();
}

// ---- Trap files --------------------------------------------------------------------------------

OSSE_CHILD_ROLE(campaign_trap_writer)
{
    awaitGo(args);
    for (;;) {
        DeleteFileA(args.at(0).c_str());
        OSSTrapFile trap;
        if (trap.open(args.at(0).c_str(), OSS_PRIMFILE_OPEN_ALWAYS)) return 2;
        trap.initialize(0, nullptr, nullptr, nullptr);
        trap.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_SYSTEM | OSS_TRAP_SECTION_ENVIRONMENT |
                      OSS_TRAP_SECTION_STACK | OSS_TRAP_SECTION_MODULES | OSS_TRAP_SECTION_MEMORY,
                  0, nullptr, nullptr);
        trap.close();
    }
}

void trapRound(Campaign& c)
{
    const char* structure = "trap file";
    std::vector<std::string> paths;
    std::vector<std::vector<std::string>> args;
    for (int i = 0; i < 3; ++i) {
        paths.push_back(c.dir.file(c.unique("trap") + ".trp"));
        args.push_back({paths.back()});
    }
    auto workers = c.start("campaign_trap_writer", args);
    c.killSome(workers, 3, 400, structure, "while a trap file is being written");
    for (const std::string& p : paths) {
        if (GetFileAttributesA(p.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        const std::string out = c.dir.file("traptool.txt");
        const int rc = ossetool("trap \"" + p + "\"", out);
        ++c.tally[structure].checked;
        if (rc == -1) c.hang(structure, "ossetool trap on a cut trap file");
        else if (rc < 0 || rc > 3) c.corrupt(structure, "ossetool trap on a cut trap file: exit " + std::to_string(rc));
    }
}

// ---- The campaign ------------------------------------------------------------------------------

Uint64 envNumber(const char* name, Uint64 fallback)
{
    char value[64];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n && n < sizeof value ? _strtoui64(value, nullptr, 0) : fallback;
}

void printTable(const Campaign& c)
{
    printf("\n%-24s %6s %10s %9s %6s %8s %9s %7s\n", "structure", "kills", "survivor", "checked",
           "hangs", "corrupt", "lost(ok)", "broken");
    for (const auto& [name, t] : c.tally)
        printf("%-24s %6llu %10llu %9llu %6llu %8llu %9llu %7llu\n", name.c_str(),
               (unsigned long long)t.kills, (unsigned long long)t.survivorOps,
               (unsigned long long)t.checked, (unsigned long long)t.hangs,
               (unsigned long long)t.corrupt, (unsigned long long)t.lost,
               (unsigned long long)t.broken);
    printf("\nmoments:\n");
    for (const auto& [name, t] : c.tally)
        for (const auto& [moment, n] : t.moments)
            printf("  %-24s %-52s %llu\n", name.c_str(), moment.c_str(), (unsigned long long)n);
    bool heading = false;
    for (const auto& [name, t] : c.tally) {
        if (!t.frames) continue;
        if (!heading) printf("\nrecords of the supervisor's own call frames (whole, told apart from the writers'):\n");
        heading = true;
        printf("  %-24s %llu\n", name.c_str(), (unsigned long long)t.frames);
    }
    for (const auto& [name, t] : c.tally)
        for (const std::string& f : t.faults) printf("FAULT %s: %s\n", name.c_str(), f.c_str());
    fflush(stdout);
}

}  // namespace

TEST(Campaign, KillAnywhereLoseNothingHangNowhere)
{
    Campaign c;
    const Uint64 seed = envNumber("OSSE_CAMPAIGN_SEED", (Uint64)std::chrono::steady_clock::now().time_since_epoch().count());
    const Uint64 target = envNumber("OSSE_CAMPAIGN_KILLS", 200);
    const Uint64 seconds = envNumber("OSSE_CAMPAIGN_SECONDS", 0);
    printf("campaign seed %llu (OSSE_CAMPAIGN_SEED=%llu replays it)\n", (unsigned long long)seed,
           (unsigned long long)seed);
    fflush(stdout);
    c.rng.seed(seed);
    const Uint64 t0 = nowMs();
    int cycle = 0;
    auto more = [&] { return seconds ? nowMs() - t0 < seconds * 1000 : c.kills < target; };
    const bool verbose = envNumber("OSSE_CAMPAIGN_VERBOSE", 0) != 0;
    c.liveStreamer = envNumber("OSSE_CAMPAIGN_LIVE_STREAMER", 1) != 0;
    while (more()) {
        if (verbose) {
            printf("round %d (cycle step %d), %llu kills\n", c.round, cycle % 8, (unsigned long long)c.kills);
            fflush(stdout);
        }
        switch (cycle++ % 8) {
        case 0: traceRound(c, GTRACE_MODE_CIRCULAR, "trace ring circular"); break;
        case 1: queueRound(c); break;
        case 2: traceRound(c, GTRACE_MODE_LINEAR, "trace ring linear"); break;
        case 3: logRound(c); break;
        case 4: traceRound(c, GTRACE_MODE_AUTODUMP, "trace ring auto-dump"); break;
        case 5: syncRound(c); break;
        case 6: trapRound(c); break;
        case 7: namedControlRound(c); break;
        }
        if (HasFatalFailure()) break;
    }
    printf("campaign: %llu kills in %.1f s\n", (unsigned long long)c.kills, (nowMs() - t0) / 1000.0);
    printTable(c);
    for (const auto& [name, t] : c.tally) {
        EXPECT_EQ(t.hangs, 0u) << name;
        EXPECT_EQ(t.corrupt, 0u) << name;
    }
    if (!seconds) {
        EXPECT_GE(c.kills, target);
    }
}
