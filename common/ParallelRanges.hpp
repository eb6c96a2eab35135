#pragma once

#include <cstdint>

// Runs work(context, begin, end) over the items 0 .. count - 1 (z-planes of the
// build, elevation rows of the far field), split into contiguous ranges, one per
// thread; the calling thread takes the first range and returns when every range
// is done. A thread the system refuses to start leaves its range to the calling
// thread. For loops whose items do not depend on each other.
void runOnRanges(int threads, std::uint32_t count,
                 void (*work)(void* context, std::uint32_t begin, std::uint32_t end), void* context);
