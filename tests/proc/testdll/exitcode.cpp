// A minimal child program for the process tests: ends at once with the code given as its first
// argument (0 without one). It loads nothing of the project, so that starting it costs only what
// starting a process costs.
#include <stdlib.h>

int main(int argc, char** argv)
{
    return argc > 1 ? (int)strtoul(argv[1], nullptr, 0) : 0;
}
