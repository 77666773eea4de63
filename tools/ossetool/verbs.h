// The verbs of ossetool: each takes the arguments after its name and returns the exit status.
#ifndef OSSETOOL_VERBS_H
#define OSSETOOL_VERBS_H

struct Verb {
    const char* name;
    const char* usage;    // the arguments, as printed by --help
    const char* summary;  // one line
    int (*run)(int argc, char** argv);
};

int verbEcf(int argc, char** argv);
int verbSysinfo(int argc, char** argv);
int verbLog(int argc, char** argv);
int verbTrap(int argc, char** argv);
int verbTrace(int argc, char** argv);

#endif
