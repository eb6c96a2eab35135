#pragma once

#include <cstddef>
#include <cstdint>

namespace fendrix {

// 16-byte aligned storage for the field and coefficient arrays. The 4-wide
// vector loads of the kernels need every array to start on a 16-byte boundary.
// Blocks come from malloc/realloc, whose alignment on every supported platform
// is at least 16 bytes; that is what lets a block shrink in place.
void* alignedAllocate(std::size_t bytes);                 // null on failure
// Zero-filled; large blocks come as fresh zero pages from the system, so no
// separate pass over the memory is needed.
void* alignedAllocateZeroed(std::size_t bytes);           // null on failure
void* alignedShrink(void* block, std::size_t newBytes);   // null on failure (block unchanged)
void alignedRelease(void* block);                         // null is ignored

// Byte count of `count` elements of `elementBytes`, or 0 when it would not fit
// the unsigned 32-bit size arithmetic of the grid storage.
std::uint64_t checkedStorageBytes(std::uint64_t count, std::uint64_t elementBytes);

}  // namespace fendrix
