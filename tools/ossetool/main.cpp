// ossetool: decode error codes and function identifiers, and (as the library grows) inspect
// the system and control traces, from the command line.
#include <cstdio>
#include <cstring>

#include "verbs.h"

namespace {

const Verb kVerbs[] = {
    {"ecf", "VALUE | --list | --help",
     "decode a return code or a function identifier (hexadecimal with 0x, or decimal);\n"
     "            --list prints the library's own return codes; --help tells how a value is read",
     verbEcf},
    {"sysinfo", "[--json] [PATH] | --help",
     "print the processor, memory, swap, OS, caches, drives, network interfaces, the disk\n"
     "            holding PATH and the usage counters; --json for scripts",
     verbSysinfo},
    {"log", "FILE [--summary | --stats] [--follow] [FILTERS] | --help",
     "print, filter or count the records of a diagnostic log file, also while processes\n"
     "            append to it (--follow); --help lists the filters",
     verbLog},
    {"trap", "FILE [--offset N]",
     "print a trap file's sections (header, exception, registers, modules, frames with symbol\n"
     "            names, memory regions) and say where the file is cut or damaged",
     verbTrap},
    {"trace", "on|off|clear|info|dump|stream|format|profile|coverage ... | --help",
     "switch a named trace on and off, dump or stream it, format dumps as text or JSON;\n"
     "            --help tells how a process binds to a named trace",
     verbTrace},
};

void printHelp(FILE* out)
{
    fprintf(out,
            "usage: ossetool VERB [ARGS...]\n"
            "       ossetool --help\n\n"
            "verbs:\n");
    for (const Verb& v : kVerbs) fprintf(out, "  %s %s\n            %s\n", v.name, v.usage, v.summary);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h") || !strcmp(argv[1], "help")) {
        printHelp(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Verb& v : kVerbs)
        if (!strcmp(argv[1], v.name)) return v.run(argc - 2, argv + 2);
    fprintf(stderr, "ossetool: unknown verb '%s' (try ossetool --help)\n", argv[1]);
    return 2;
}
