#pragma once

#include <cstdint>

namespace fendrix {

// Part `part` of `count` items split into `parts` contiguous ranges of equal
// length, the first count % parts of them one item longer: the planes of the
// processes of a run, of the stepping threads, the ranges below.
struct ItemRange {
    std::uint32_t begin, end;
};
ItemRange shareOf(std::uint32_t count, std::uint32_t parts, std::uint32_t part);
// The part whose range holds `item`.
std::uint32_t partHolding(std::uint32_t count, std::uint32_t parts, std::uint32_t item);

// Runs work(context, begin, end) over the items 0 .. count - 1 (z-planes of the
// build, elevation rows of the far field), split into contiguous ranges, one per
// thread; the calling thread takes the first range and returns when every range
// is done. A thread the system refuses to start leaves its range to the calling
// thread. For loops whose items do not depend on each other.
void runOnRanges(int threads, std::uint32_t count,
                 void (*work)(void* context, std::uint32_t begin, std::uint32_t end), void* context);

}  // namespace fendrix
