// Seed inputs for the fuzz targets, written by the tests that hold good examples: when
// OSSE_FUZZ_SEED_DIR is set, saveSeed writes the bytes to <dir>/<target>/<name>.
#ifndef OSSE_NATIVE_SEEDS_H
#define OSSE_NATIVE_SEEDS_H

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

inline void saveSeed(const char* target, const std::string& name, const std::string& bytes)
{
    const char* dir = getenv("OSSE_FUZZ_SEED_DIR");
    if (!dir || !*dir) return;
    const std::string folder = std::string(dir) + "/" + target;
    mkdir(dir, 0777);
    mkdir(folder.c_str(), 0777);
    FILE* f = fopen((folder + "/seed-" + name).c_str(), "wb");
    if (!f) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

inline std::string readFile(const std::string& path)
{
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    fclose(f);
    return bytes;
}

#endif
