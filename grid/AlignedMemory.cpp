#include "grid/AlignedMemory.hpp"

#include <cstdlib>

static_assert(alignof(std::max_align_t) >= 16, "malloc must give 16-byte alignment");

void* alignedAllocate(std::size_t bytes) {
    return std::malloc(bytes == 0 ? 16 : bytes);
}

void* alignedAllocateZeroed(std::size_t bytes) {
    return std::calloc(bytes == 0 ? 16 : bytes, 1);
}

void* alignedShrink(void* block, std::size_t newBytes) {
    return std::realloc(block, newBytes == 0 ? 16 : newBytes);
}

void alignedRelease(void* block) {
    std::free(block);
}

std::uint64_t checkedStorageBytes(std::uint64_t count, std::uint64_t elementBytes) {
    std::uint64_t bytes = count * elementBytes;
    if (count != 0 && bytes / count != elementBytes) return 0;
    if (bytes > 0xFFFFFFFFull) return 0;
    return bytes;
}
