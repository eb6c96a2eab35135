#pragma once

#include <cstdint>

// Runs work(context, kBegin, kEnd) over the z-planes 0 .. planes - 1, split into
// contiguous slabs, one per thread; the calling thread takes the first slab and
// returns when every slab is done. A thread the system refuses to start leaves
// its slab to the calling thread. The build uses it for its per-node loops, whose
// nodes do not depend on each other.
void runOnPlaneSlabs(int threads, std::uint32_t planes,
                     void (*work)(void* context, std::uint32_t kBegin, std::uint32_t kEnd),
                     void* context);
