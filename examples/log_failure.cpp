// Logging a failure. The program points the diagnostic log at a file, records a failure it
// found itself with the values that explain it, and hands an operating-system failure to the
// library's failure handler together with an error context naming the file concerned.
//
//     log_failure example.log
//     ossetool log example.log            every record in full
//     ossetool log example.log --summary  one line a record
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "osse/osse.h"

// This program's own operation, by which its records name it: a function identifier of
// product 2 (tools), component 3, with a number the shipped name tables do not list, so that
// ossetool shows it in hexadecimal.
static const Uint32 kLoadSettings = ECF_MAKE_FUNC_ID(ECF_PRODUCT_TOOLS, 3, ECF_FUNC_KIND_LIBRARY, 0xF001);

static Uint32 loadSettings(const char* path)
{
    // A setting the program checks itself: logged with ossLog, two data items.
    const Uint32 cacheMegabytes = 70000, cacheLimit = 65536;
    if (cacheMegabytes > cacheLimit) {
        const char* setting = "cache_mb";
        OSSLogItem name = {setting, (Sint32)strlen(setting), OSS_ITEM_STRING};
        OSSLogItem value = {&cacheMegabytes, sizeof cacheMegabytes, OSS_ITEM_UNSIGNED};
        ossLog(nullptr, kLoadSettings, ECF_INVALID_PARAMETER, 10, OSS_LEVEL_WARNING, 2, name, value);
    }

    // An operating-system call that fails: the handler maps the error to a return code, writes
    // one record and looks at the file named in the error context.
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        OSSErrorContext ctx;
        ctx.init();
        ctx.setTargetFileName(path);
        OSSLogItem item = {path, (Sint32)strlen(path), OSS_ITEM_STRING};
        return ossSystemErrorHandler(kLoadSettings, OSS_SYS_FUNC_ID(109) /* CreateFile */, error,
                                     20, OSS_LEVEL_INFO, 0, &ctx, 1, item);
    }
    CloseHandle(h);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: log_failure LOGFILE\n");
        return 2;
    }
    // The default facility (a null facility argument): the library's own records go there too.
    OSSLogFacOpenParam param;
    memset(&param, 0, sizeof param);
    param.version = OSS_CURRENT_VERSION;
    snprintf(param.path, sizeof param.path, "%s", argv[1]);
    snprintf(param.name, sizeof param.name, "log_failure");
    param.level = OSS_LEVEL_INFO;
    param.destination = OSS_LOG_DEST_FILE;
    Uint32 rc = ossLogFacOpen(&param, nullptr);
    if (rc) {
        fprintf(stderr, "ossLogFacOpen: 0x%08X %s\n", rc, ecfErrorGetCodeName(rc));
        return 1;
    }

    rc = loadSettings("no such folder\\settings.cfg");
    printf("loadSettings: 0x%08X %s\n", rc, ecfErrorGetCodeName(rc));

    // A library operation that fails writes its own record into the same log.
    OSSHFile file;
    OSSFileOpenParam open = {OSS_CURRENT_VERSION, "missing.dat", OSS_FILE_OPEN_EXISTING,
                             OSS_FILE_ACCESS_READ, 0, 0, 0};
    rc = file.open(&open);
    printf("OSSHFile::open: 0x%08X %s\n", rc, ecfErrorGetCodeName(rc));

    ossLogFacClose(nullptr);
    printf("records written to %s\n", argv[1]);
    return 0;
}
