// A trace control block in private memory, bound to this process, and byte-level readers of
// what the writers put into its ring buffer.
#ifndef OSSE_TESTS_TRACE_FIXTURE_H
#define OSSE_TESTS_TRACE_FIXTURE_H

#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "osse/ecf.h"
#include "osse/rambo.h"
#include "osse/trace.h"

namespace tracetest {

template <class T>
inline T readAt(const void* base, size_t offset) {
    T v;
    memcpy(&v, static_cast<const Uint8*>(base) + offset, sizeof v);
    return v;
}

// Ring buffer control block fields, read at their offsets.
inline Uint8* ringOf(void* block) { return static_cast<Uint8*>(block) + GTCB_SIZE; }
inline Uint32 nextSequence(void* block) { return readAt<Uint32>(ringOf(block), 0x00); }
inline Uint8* dataArea(void* block) { return ringOf(block) + readAt<Uint32>(ringOf(block), 0x8C); }
inline Uint32 slotCount(void* block) { return readAt<Uint32>(ringOf(block), 0xA0); }

// One record as found in the data area.
struct Slotted {
    Uint32 sequence;
    Uint16 marker;
    Uint16 slots;
    const Uint8* payload;
    Uint32 trailer;
    bool whole;  // the reader's test of the ring's record format accepts it
};
inline Slotted slotAt(void* block, Uint32 index) {
    const Uint8* s = dataArea(block) + 64u * index;
    Slotted r;
    r.sequence = readAt<Uint32>(s, 0);
    r.marker = readAt<Uint16>(s, 4);
    r.slots = readAt<Uint16>(s, 6);
    r.payload = s + 8;
    r.trailer = r.slots ? readAt<Uint32>(s, 64u * r.slots - 4) : 0;
    r.whole = ramboCheckRecord(s, slotCount(block) - index, readAt<Uint32>(ringOf(block), RAMBO_FORMAT_OFFSET)) != 0;
    return r;
}

inline Uint64 qpc() {
    LARGE_INTEGER v;
    QueryPerformanceCounter(&v);
    return static_cast<Uint64>(v.QuadPart);
}

// A formatted, attached and enabled trace with a 512 KiB ring buffer.
class TraceFixture : public ::testing::Test {
protected:
    void SetUp() override {}
    void TearDown() override {
        gtraceDetach();
        if (mem_) VirtualFree(mem_, 0, MEM_RELEASE);
    }

    // Formats and binds a block with these options (defaults: linear, 512 KiB).
    void start(Uint32 mode = GTRACE_MODE_LINEAR, Uint32 flags = 0, Uint32 size = 0x80000) {
        opts_.reset(new GTraceOptions);
        opts_->bufferSize = size;
        opts_->mode = mode;
        opts_->flags = flags;
        startWith(*opts_);
    }
    void startWith(GTraceOptions& o, GTraceAppCallBack app = nullptr,
                   GTraceDisableCallBack dis = nullptr, GTracePreTraceCallBack pre = nullptr) {
        const Uint32 size = gtraceGetAllocSize(o.bufferSize);
        ASSERT_NE(size, 0u);
        mem_ = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        ASSERT_NE(mem_, nullptr);
        ASSERT_EQ(gtraceInitialize(mem_, &o), 0u);
        ASSERT_EQ(gtraceAttach(static_cast<GTCB*>(mem_), 77, app, dis, pre), 0u);
        ASSERT_EQ(gtraceEnable(), 0u);
    }
    GTCB* cb() { return static_cast<GTCB*>(mem_); }
    GTraceOptions& options() { return cb()->options; }

    // Records published so far, in sequence order (linear mode: index = sequence).
    std::vector<Slotted> records() {
        std::vector<Slotted> out;
        const Uint32 end = nextSequence(mem_);
        for (Uint32 i = 0; i < end && i < slotCount(mem_);) {
            Slotted s = slotAt(mem_, i);
            if (s.marker != 0xCAFE || s.slots == 0 || !s.whole) {
                ++i;
                continue;
            }
            out.push_back(s);
            i += s.slots;
        }
        return out;
    }

    void* mem_ = nullptr;
    std::unique_ptr<GTraceOptions> opts_;
};

}  // namespace tracetest

#endif
