#include <array>
#include <cmath>
#include <cstring>
#include <map>

#include "common/AlignedMemory.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

namespace {

// A block set: the 12 floats of the first table interleaved with the 12 of the
// second (first[0], second[0], first[1], ...), which is the comparison order.
using SetKey = std::array<float, 24>;

// Numeric order, so +0 and -0 are one value. NaN has no numeric order; all NaNs
// count as one value above +inf so that the map keeps a strict weak order.
struct SetKeyLess {
    bool operator()(const SetKey& left, const SetKey& right) const {
        for (int i = 0; i < 24; ++i) {
            const float l = left[i];
            const float r = right[i];
            if (l < r) return true;
            if (r < l) return false;
            const bool lNan = std::isnan(l);
            const bool rNan = std::isnan(r);
            if (lNan != rNan) return rNan;
        }
        return false;
    }
};

// Numerically equal keys (NaN equals nothing here; the dictionary settles those).
bool sameSet(const SetKey& left, const SetKey& right) {
    for (int i = 0; i < 24; ++i)
        if (!(left[i] == right[i])) return false;
    return true;
}

// Replaces each block of (first, second) by the number of its distinct set,
// moving every first appearance down to its set number in place (the set number
// never exceeds the block number, so no unread block is overwritten).
std::uint32_t compressPair(float* first, float* second, std::uint32_t blocks, std::uint32_t* index) {
    std::map<SetKey, std::uint32_t, SetKeyLess> dictionary;
    std::uint32_t sets = 0;
    SetKey key, previousKey{};
    for (std::uint32_t b = 0; b < blocks; ++b) {
        const float* f = first + 12 * static_cast<std::size_t>(b);
        const float* s = second + 12 * static_cast<std::size_t>(b);
        for (int i = 0; i < 12; ++i) {
            key[2 * i] = f[i];
            key[2 * i + 1] = s[i];
        }
        // Neighbouring blocks mostly share their materials and cells: the set
        // of the previous block is tried before the dictionary.
        if (b > 0 && sameSet(key, previousKey)) {
            index[b] = index[b - 1];
            continue;
        }
        auto [position, inserted] = dictionary.try_emplace(key, sets);
        if (inserted) {
            if (sets != b) {
                std::memcpy(first + 12 * static_cast<std::size_t>(sets), f, 48);
                std::memcpy(second + 12 * static_cast<std::size_t>(sets), s, 48);
            }
            ++sets;
        }
        index[b] = 3 * position->second;
        previousKey = key;
    }
    return sets;
}

}  // namespace

bool FdtdEngine::compressCoefficients() {
    const std::uint32_t B = blockCount();
    keepIndex = static_cast<std::uint32_t*>(alignedAllocate(4u * B));
    curlIndex = static_cast<std::uint32_t*>(alignedAllocate(4u * B));
    if (keepIndex == nullptr || curlIndex == nullptr) return false;

    const std::uint32_t sA = compressPair(caTable, daTable, B, keepIndex);
    const std::uint32_t sB = compressPair(cbTable, dbTable, B, curlIndex);

    // Pack the four tables behind one another. Each destination lies at or
    // before its source, and memmove copies overlapping ranges safely.
    char* start = reinterpret_cast<char*>(caTable);
    std::memmove(start + 48u * sA, daTable, 48u * sA);
    std::memmove(start + 96u * sA, cbTable, 48u * sB);
    std::memmove(start + 96u * sA + 48u * sB, dbTable, 48u * sB);

    // A failed shrink leaves the larger block in place, which serves as well.
    void* shrunk = alignedShrink(caTable, 96u * (sA + sB));
    if (shrunk != nullptr) start = static_cast<char*>(shrunk);
    caTable = reinterpret_cast<float*>(start);
    daTable = reinterpret_cast<float*>(start + 48u * sA);
    cbTable = reinterpret_cast<float*>(start + 96u * sA);
    dbTable = reinterpret_cast<float*>(start + 96u * sA + 48u * sB);
    keepSetCount = sA;
    curlSetCount = sB;
    return true;
}

}  // namespace fendrix
