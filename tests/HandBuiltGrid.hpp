#pragma once

#include <cstdint>
#include <cstring>

#include "grid/AlignedMemory.hpp"
#include "grid/FdtdEngine.hpp"

// Gives an engine a grid without a description or the build sequence: uniform
// mesh lines, zeroed field arrays and a compressed coefficient table of a
// chosen number of sets, all zero, with every set index 0. The engine releases
// everything itself.
namespace hand_grid {

inline void setMesh(FdtdEngine& engine, std::uint32_t nx, std::uint32_t ny, std::uint32_t nz,
                    double spacing = 1e-3) {
    const std::uint32_t counts[3] = {nx, ny, nz};
    for (int a = 0; a < 3; ++a) {
        engine.lineCount[a] = counts[a];
        engine.meshLines[a].resize(counts[a]);
        for (std::uint32_t i = 0; i < counts[a]; ++i) engine.meshLines[a][i] = i * spacing;
    }
    engine.Nv = (nx + 3) / 4;
}

inline void allocateFields(FdtdEngine& engine) {
    const std::size_t blocks = engine.blockCount();
    engine.eField = static_cast<float*>(alignedAllocate(96 * blocks));
    std::memset(engine.eField, 0, 96 * blocks);
    engine.hField = engine.eField + 12 * blocks;
}

// keepSets (ca, da) and curlSets (cb, db) of 12 floats each, in the order of
// the compressed allocation; set s of a table starts at float 12 * s.
inline void allocateSets(FdtdEngine& engine, std::uint32_t keepSets, std::uint32_t curlSets) {
    const std::size_t bytes = 96 * (std::size_t(keepSets) + curlSets);
    float* start = static_cast<float*>(alignedAllocate(bytes));
    std::memset(start, 0, bytes);
    engine.caTable = start;
    engine.daTable = start + 12 * keepSets;
    engine.cbTable = start + 24 * keepSets;
    engine.dbTable = start + 24 * keepSets + 12 * curlSets;
    engine.keepSetCount = keepSets;
    engine.curlSetCount = curlSets;
    const std::size_t blocks = engine.blockCount();
    engine.keepIndex = static_cast<std::uint32_t*>(alignedAllocate(4 * blocks));
    engine.curlIndex = static_cast<std::uint32_t*>(alignedAllocate(4 * blocks));
    std::memset(engine.keepIndex, 0, 4 * blocks);
    std::memset(engine.curlIndex, 0, 4 * blocks);
}

}  // namespace hand_grid
