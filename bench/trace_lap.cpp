// What the sealed record format costs a trace point: one thread writing entry records into a
// circular ring, alternately with the ring marked as the plain format (the store sequence
// trace points had before records were sealed) and as the sealed one (seal taken from the
// writer's words, lap check before the stores). Same block, same binary, same run; best of
// several rounds each, so that a disturbance of the machine hits one round, not one side.
// Also records with items (two and five slots), where the sealed writer seals the caller's
// bytes, and a one-slot record filled by a caller of the public reservation (in the slot
// itself on the plain ring; in memory of the writer's own, copied and sealed at publication,
// on the sealed one).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>
#include <memory>

#include "bench_clock.h"
#include "osse/rambo.h"
#include "osse/trace.h"

namespace {

constexpr Uint32 kBufferSize = 0x400000;  // 4 MiB
RamboControlBlock* g_ring = nullptr;

void setFormat(Uint32 format) {
    memcpy(reinterpret_cast<Uint8*>(g_ring) + RAMBO_FORMAT_OFFSET, &format, 4);
}

// Nanoseconds per call of `body` over n calls.
template <class F>
double perCall(Uint32 n, F body) {
    const double t0 = nowNs();
    for (Uint32 i = 0; i < n; ++i) body(i);
    return (nowNs() - t0) / n;
}

}  // namespace

int main(int argc, char** argv) {
    const Uint32 n = argc > 1 ? static_cast<Uint32>(atoi(argv[1])) : 2000000;
    const int rounds = 7;
    std::unique_ptr<GTraceOptions> options(new GTraceOptions);
    options->bufferSize = kBufferSize;
    options->mode = GTRACE_MODE_CIRCULAR;
    const Uint32 size = gtraceGetAllocSize(kBufferSize);
    // Slots on cache lines, as a controller places the block.
    const Uint32 dataAt = GTCB_SIZE + 0x100 + (((kBufferSize / 0x20000) * 20 + 7) & ~7u);
    const Uint32 shift = (64 - dataAt % 64) % 64;
    Uint8* base = static_cast<Uint8*>(
        VirtualAlloc(nullptr, size + 64, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    void* block = base ? base + shift : nullptr;
    if (!block || gtraceInitialize(block, options.get()) != 0 ||
        gtraceAttach(static_cast<GTCB*>(block), GetCurrentProcessId(), nullptr, nullptr, nullptr) != 0 ||
        gtraceEnable() != 0) {
        printf("setup failed\n");
        return 1;
    }
    g_ring = reinterpret_cast<RamboControlBlock*>(static_cast<Uint8*>(block) + GTCB_SIZE);

    const char text[] = "twenty-four bytes of it.";
    static char longText[200] = "two hundred bytes of item";
    double best[2][4] = {{1e9, 1e9, 1e9, 1e9}, {1e9, 1e9, 1e9, 1e9}};  // [format][entry, var, long var, raw]
    for (int r = 0; r < rounds; ++r) {
        for (Uint32 format : {RAMBO_FORMAT_PLAIN, RAMBO_FORMAT_SEALED}) {
            setFormat(format);
            const double entry = perCall(n, [](Uint32 i) { _gtraceEntry(i, 0, 0x08180001u, i, 1000000); });
            const double var = perCall(n / 4, [&](Uint32 i) {
                _gtraceVar(i, 0, 0x08180001u, 7, 3, 1, GTRACE_ITEM_BYTES, 24u, text);
            });
            const double longVar = perCall(n / 4, [&](Uint32 i) {
                _gtraceVar(i, 0, 0x08180001u, 7, 3, 1, GTRACE_ITEM_BYTES, 200u, longText);
            });
            const double raw = perCall(n, [](Uint32 i) {
                RamboReservation t;
                Uint32* p = static_cast<Uint32*>(ramboReserveOneSlot(g_ring, &t));
                for (Uint32 w = 0; w < RAMBO_ONE_SLOT_PAYLOAD / 4; ++w) p[w] = i + w;
                ramboSync(g_ring, &t);
            });
            if (raw < best[format][3]) best[format][3] = raw;
            if (entry < best[format][0]) best[format][0] = entry;
            if (var < best[format][1]) best[format][1] = var;
            if (longVar < best[format][2]) best[format][2] = longVar;
        }
    }
    setFormat(RAMBO_FORMAT_SEALED);
    printf("single-thread trace point, circular ring of %u KiB, best of %d rounds of %u calls\n",
           kBufferSize / 1024, rounds, n);
    printf("%-34s %10s %10s %8s\n", "record", "plain ns", "sealed ns", "ratio");
    const char* names[4] = {"entry (one slot, 52 bytes)", "data point (24-byte item, 2 slots)",
                            "data point (200-byte item, 5 slots)", "caller-filled one-slot record"};
    for (int i = 0; i < 4; ++i) {
        printf("%-34s %10.2f %10.2f %8.3f\n", names[i], best[0][i], best[1][i], best[1][i] / best[0][i]);
    }
    Uint32 drops = 0;
    ramboGetLappedDrops(g_ring, &drops);
    printf("records dropped by lapped writers: %u\n", drops);
    return 0;
}
