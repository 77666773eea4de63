// ossetool ecf: decode return codes and function identifiers.
#include <cstdio>

#include "verbs.h"

int verbEcf(int argc, char** argv)
{
    (void)argc;
    (void)argv;
    fprintf(stderr, "ossetool ecf: not available yet\n");
    return 1;
}
