// The frame-pointer walk, apart from where its memory comes from: the caller gives the
// starting frame, the address range the frames must lie in, and a reader that copies words
// without faulting (this compiler has no structured exception handling, so a frame can never
// be dereferenced directly). Plain C++ over words; no system header.
#ifndef OSSE_FAULT_FRAMEWALK_H
#define OSSE_FAULT_FRAMEWALK_H

#include <stdint.h>

namespace osse_fault {

constexpr uint32_t kFrameFloor = 0xFFF;          // a frame at or below this is not a frame
constexpr uint32_t kReturnFloor = 0x1000;        // a return address below this ends the walk
constexpr uint32_t kMaxFrameHop = 0x100000;      // 1 MiB between neighbouring frames
constexpr uint32_t kMaxFrames = 4096;            // no walk is longer than this

// Word is the width of a stack slot (uint32_t for x86 frames). reader(address, words[2])
// copies the two words at address (saved frame pointer, return address); false when they
// cannot be read. Frames must lie inside [low, high - 2 words].
template <class Word, class Reader>
uint32_t walkFrames(Word startFrame, uint32_t skip, void** out, uint32_t max, Word low, Word high,
                    Reader reader)
{
    constexpr Word kPair = 2 * sizeof(Word);
    for (uint32_t i = 0; i < max; ++i) out[i] = nullptr;
    Word frame = startFrame;
    Word previous = startFrame;
    uint32_t stored = 0;
    for (uint32_t steps = 0; stored < max && steps < kMaxFrames; ++steps) {
        if (frame <= kFrameFloor) break;
        // Frames only move up the stack, and never far: a frame that stays put (a self link)
        // or goes down would loop or wander off.
        if (steps > 0 && frame <= previous) break;
        if (frame < previous || frame - previous > kMaxFrameHop) break;
        if (frame < low || high < kPair || frame > high - kPair) break;
        Word words[2];
        if (!reader(frame, words)) break;
        const Word ret = words[1];
        if (ret < kReturnFloor) break;
        previous = frame;
        frame = words[0];
        if (skip) {
            --skip;
            continue;
        }
        out[stored++] = (void*)(uintptr_t)ret;
    }
    return stored;
}

}  // namespace osse_fault

#endif
