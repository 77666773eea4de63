// Tracing. The program binds itself to a named trace and brackets its own functions with
// entry and exit records, the same frame the library's operations write; the library's calls
// made inside them (here the file writes) show up nested in the trace.
//
//     ossetool trace on example --timestamps    create the named trace and switch it on
//     trace_functions example report.txt        run the traced program
//     ossetool trace dump example trace.dmp     take the records out of the ring
//     ossetool trace format trace.dmp           one line a record
//     ossetool trace format --json trace.dmp    Trace Event JSON, for a flame-chart viewer
//     ossetool trace remove example
#include <stdio.h>
#include <string.h>

#include "osse/osse.h"

// This program's functions, by which the trace names them: product 2 (tools), component 3,
// numbers the shipped name tables do not list (ossetool shows them in hexadecimal).
static const Uint32 kWriteReport = ECF_MAKE_FUNC_ID(ECF_PRODUCT_TOOLS, 3, ECF_FUNC_KIND_LIBRARY, 0xF002);
static const Uint32 kWriteLine = ECF_MAKE_FUNC_ID(ECF_PRODUCT_TOOLS, 3, ECF_FUNC_KIND_LIBRARY, 0xF003);

// The call frame: an entry record when the function starts and an exit record with its return
// code when it leaves. While the trace is off it costs one load and one compare.
class TraceFrame {
public:
    explicit TraceFrame(Uint32 functionId) : id(functionId)
    {
        if (on()) _gtraceEntry(ossThreadID(), 0, id, 0, 1000000);
    }
    ~TraceFrame()
    {
        if (on()) _gtraceExit(ossThreadID(), 0, id, &rc, 0, 0);
    }
    Uint32 ret(Uint32 code) { return rc = code; }
    // A data record with one item: the bytes of a text.
    void data(Uint32 probe, const char* text)
    {
        if (on())
            _gtraceVar(ossThreadID(), 0, id, probe, GTRACE_TYPE_DATA, 1, GTRACE_ITEM_BYTES,
                       (Uint32)strlen(text), text);
    }

private:
    static bool on() { return g_pGTCB && g_pGTCB->enabled; }
    Uint32 id;
    Uint32 rc = 0;
};

static Uint32 writeLine(OSSHFile& file, const char* text)
{
    TraceFrame f(kWriteLine);
    f.data(10, text);
    OSSFileWriteParam w = {OSS_CURRENT_VERSION, text, (Uint32)strlen(text), 0};
    Uint32 written = 0;
    return f.ret(file.write(&w, &written));
}

static Uint32 writeReport(const char* path)
{
    TraceFrame f(kWriteReport);
    OSSHFile file;
    OSSFileOpenParam open = {OSS_CURRENT_VERSION, path, OSS_FILE_CREATE_ALWAYS,
                             OSS_FILE_ACCESS_WRITE, 0, 0, 0};
    if (Uint32 rc = file.open(&open)) return f.ret(rc);
    const char* lines[] = {"orders: 3\r\n", "shipped: 2\r\n", "pending: 1\r\n"};
    Uint32 rc = 0;
    for (const char* line : lines)
        if ((rc = writeLine(file, line)) != 0) break;
    const Uint32 closeRc = file.close();
    return f.ret(rc ? rc : closeRc);
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: trace_functions TRACENAME REPORTFILE\n");
        return 2;
    }
    // One call binds the process; from then on records are written whenever the trace is on.
    Uint32 rc = gtraceAttachNamed(argv[1], ossProcessID(), nullptr, nullptr, nullptr);
    if (rc) {
        fprintf(stderr, "gtraceAttachNamed: 0x%08X %s (switch it on first: ossetool trace on %s)\n",
                rc, ecfErrorGetCodeName(rc), argv[1]);
        return 1;
    }
    printf("trace %s is %s\n", argv[1], g_pGTCB->enabled ? "on" : "off");
    rc = writeReport(argv[2]);
    printf("writeReport: 0x%08X %s\n", rc, ecfErrorGetCodeName(rc));
    gtraceDetach();
    return rc ? 1 : 0;
}
