// Cost of one _ossMemAlloc/_ossMemFree pair beside one malloc/free pair of the same size, on one
// thread and on two threads at once, in idle mode (the default), light mode and full mode. The
// "malloc+32" column is malloc/free of the size an idle block really takes from the heap, which
// tells the cost of the allocator's code apart from the heap's cost for a bigger block.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "osse/osse.h"

namespace {

const int kPairs = 50000;
const int kRepeats = 15;

volatile Uint32 g_sink;

// A few blocks stay live across the loop so that the heap is not a single hot slot.
void mallocLoop(Uint32 size)
{
    void* held[4] = {};
    for (int i = 0; i < kPairs; ++i) {
        void* p = malloc(size);
        ((volatile Uint8*)p)[0] = (Uint8)i;
        std::swap(p, held[i & 3]);
        free(p);
    }
    for (void* p : held) free(p);
}

void ossLoop(Uint32 size)
{
    void* held[4] = {};
    for (int i = 0; i < kPairs; ++i) {
        void* p = nullptr;
        if (_ossMemAlloc(&p, 0, size, 0, __FILE__, __LINE__) != OSS_OK) abort();
        ((volatile Uint8*)p)[0] = (Uint8)i;
        std::swap(p, held[i & 3]);
        if (p) _ossMemFree(&p, 0, 0, __FILE__, __LINE__);
    }
    for (void* p : held)
        if (p) _ossMemFree(&p, 0, 0, __FILE__, __LINE__);
}

double runOnce(void (*loop)(Uint32), Uint32 size, int threads)
{
    double start = nowNs();
    if (threads == 1) {
        loop(size);
    } else {
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) pool.emplace_back(loop, size);
        for (auto& t : pool) t.join();
    }
    return (nowNs() - start) / kPairs;
}

struct Figures {
    double plain, plainPadded, idle, light, full;
};

// Nanoseconds per pair on each thread, with `threads` threads running the loop at the same
// time: the best of kRepeats rounds, each round running every variant once, so that a burst
// of load on the machine hits all of them alike.
Figures measure(Uint32 size, int threads)
{
    Figures best = {1e30, 1e30, 1e30, 1e30, 1e30};
    for (int r = 0; r < kRepeats; ++r) {
        best.plain = std::min(best.plain, runOnce(mallocLoop, size, threads));
        best.plainPadded = std::min(best.plainPadded, runOnce(mallocLoop, size + 32, threads));
        ossMemSetDebug(0, OSS_MEM_MODE_IDLE, 0, 0);
        best.idle = std::min(best.idle, runOnce(ossLoop, size, threads));
        ossMemSetDebug(0, OSS_MEM_MODE_LIGHT, 0, 0);
        best.light = std::min(best.light, runOnce(ossLoop, size, threads));
        ossMemSetDebug(0, OSS_MEM_MODE_FULL, 2, 2);
        best.full = std::min(best.full, runOnce(ossLoop, size, threads));
    }
    return best;
}

}  // namespace

int main()
{
    const Uint32 sizes[] = {16, 64, 256, 1024, 4096};
    Uint32 flags, mode, front, back;
    _ossMemGetDebug(&flags, &mode, &front, &back);
    printf("allocator pair cost, ns per alloc/free pair per thread (best of %d x %d pairs)\n",
           kRepeats, kPairs);
    printf("mode at start: 0x%08X (flags 0x%X)\n\n", mode, flags);
    printf("%-7s %-6s %8s %8s %6s %10s %8s %7s %8s %7s\n", "threads", "size", "malloc",
           "idle", "idle/m", "malloc+32", "light", "light/m", "full", "full/m");
    double worst = 0;
    for (int threads : {1, 2}) {
        for (Uint32 size : sizes) {
            const Figures f = measure(size, threads);
            ossMemSetDebug(flags, mode, front, back);
            worst = std::max(worst, f.idle / f.plain);
            printf("%-7d %-6u %8.1f %8.1f %6.2f %10.1f %8.1f %7.2f %8.1f %7.2f\n", threads, size,
                   f.plain, f.idle, f.idle / f.plain, f.plainPadded, f.light, f.light / f.plain,
                   f.full, f.full / f.plain);
        }
    }
    printf("\nidle mode, worst ratio to malloc/free: %.2f (target 1.25)\n", worst);
    return 0;
}
