#pragma once

// A vacuum test grid straight from the engine's storage (no description, no
// parser), shared by the stepping benchmarks.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/AlignedMemory.hpp"
#include "common/PhysicalConstants.hpp"
#include "engine/MurBoundary.hpp"
#include "grid/BoundaryKind.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

// Vacuum coefficients for a uniform cube mesh of spacing d, per block in the
// uncompressed layout, so that the Mur faces can put their own values into
// the boundary cells before compression. Components that point or lie beyond
// the last line of an axis, and the spare x positions, get zero.
inline bool buildVacuum(FdtdEngine& engine, std::uint32_t nx, std::uint32_t ny, std::uint32_t nz,
                 bool murFaces) {
    const double d = 1e-3;
    const std::uint32_t counts[3] = {nx, ny, nz};
    for (int a = 0; a < 3; ++a) {
        engine.lineCount[a] = counts[a];
        for (std::uint32_t i = 0; i < counts[a]; ++i) engine.meshLines[a].push_back(i * d);
    }
    engine.Nv = (nx + 3) / 4;
    // Courant limit of a uniform cube mesh, with a small margin.
    engine.timeStep = 0.99 * d / (kSpeedOfLight * std::sqrt(3.0));
    const float cb = static_cast<float>(engine.timeStep / (kEpsilon0 * d));
    const float db = static_cast<float>(engine.timeStep / (kMu0 * d));
    const std::size_t blocks = engine.blockCount();

    if (!murFaces) {
        // One set for every block: vacuum everywhere, indices all 0.
        float* sets = static_cast<float*>(alignedAllocate(4 * 48));
        engine.keepIndex = static_cast<std::uint32_t*>(alignedAllocate(4 * blocks));
        engine.curlIndex = static_cast<std::uint32_t*>(alignedAllocate(4 * blocks));
        if (sets == nullptr || engine.keepIndex == nullptr || engine.curlIndex == nullptr) return false;
        engine.caTable = sets;
        engine.daTable = sets + 12;
        engine.cbTable = sets + 24;
        engine.dbTable = sets + 36;
        for (int f = 0; f < 12; ++f) {
            engine.caTable[f] = engine.daTable[f] = 1.0f;
            engine.cbTable[f] = cb;
            engine.dbTable[f] = db;
        }
        std::memset(engine.keepIndex, 0, 4 * blocks);
        std::memset(engine.curlIndex, 0, 4 * blocks);
    } else {
        float* start = static_cast<float*>(alignedAllocate(192 * blocks));
        if (start == nullptr) return false;
        engine.caTable = start;
        engine.daTable = start + 12 * blocks;
        engine.cbTable = start + 24 * blocks;
        engine.dbTable = start + 36 * blocks;
        const std::uint32_t nv = engine.Nv;
        for (std::uint32_t z = 0; z < nz; ++z)
            for (std::uint32_t y = 0; y < ny; ++y)
                for (std::uint32_t x = 0; x < 4 * nv; ++x) {
                    const std::uint32_t p[3] = {x, y, z};
                    for (int c = 0; c < 3; ++c) {
                        const std::uint32_t f =
                            4 * (3 * ((z * ny + y) * nv + x % nv) + c) + x / nv;
                        const int a = (c + 1) % 3, b = (c + 2) % 3;
                        const bool inside = x < nx;
                        const bool edge = inside && p[c] + 1 < counts[c];
                        const bool face = inside && p[a] + 1 < counts[a] && p[b] + 1 < counts[b];
                        engine.caTable[f] = edge ? 1.0f : 0.0f;
                        engine.cbTable[f] = edge ? cb : 0.0f;
                        engine.daTable[f] = face ? 1.0f : 0.0f;
                        engine.dbTable[f] = face ? db : 0.0f;
                    }
                }
        for (int f = 0; f < 6; ++f) {
            engine.boundaryKind[f] = boundary_kind::kAbsorbing;
            engine.boundaries[f] = std::make_unique<MurBoundary>(&engine, f / 2, f % 2 == 1);
            if (!engine.boundaries[f]->initialise()) return false;
        }
        if (!engine.compressCoefficients()) return false;
    }

    engine.eField = static_cast<float*>(alignedAllocate(96 * blocks));
    if (engine.eField == nullptr) return false;
    engine.hField = engine.eField + 12 * blocks;
    std::memset(engine.eField, 0, 96 * blocks);
    // Some field to push around: pseudo-random E inside the mesh. The vacuum
    // update is stable, so the values stay of the same order (no denormals,
    // no overflow) during the benchmark.
    std::uint32_t seed = 12345;
    for (std::uint32_t z = 0; z + 1 < nz; ++z)
        for (std::uint32_t y = 0; y + 1 < ny; ++y)
            for (std::uint32_t x = 0; x + 1 < nx; ++x)
                for (int c = 0; c < 3; ++c) {
                    seed = seed * 1664525u + 1013904223u;
                    engine.eField[engine.fieldIndex(x, y, z, c)] = (seed >> 8) * (2.0f / 16777216.0f) - 1.0f;
                }
    return true;
}

}  // namespace fendrix
