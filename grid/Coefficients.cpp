#include "grid/BoundaryKind.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

// Every face starts as a perfectly conducting wall: zero capacitance sums for
// the tangential E on both end planes, and for the E that would point out of
// the mesh on the last plane. A process writes the planes it stores.
void FdtdEngine::applyElectricWalls() {
    for (int d = 0; d < 3; ++d) {
        const int a = (d + 1) % 3;
        const int b = (d + 2) % 3;
        std::uint32_t node[3];
        for (std::uint32_t ia = 0; ia < lineCount[a]; ++ia) {
            for (std::uint32_t ib = 0; ib < lineCount[b]; ++ib) {
                node[a] = ia;
                node[b] = ib;
                node[d] = 0;
                if (stores(node[2])) {
                    caTable[fieldIndex(node[0], node[1], node[2], a)] = 0;
                    caTable[fieldIndex(node[0], node[1], node[2], b)] = 0;
                }
                node[d] = lineCount[d] - 1;
                if (!stores(node[2])) continue;  // another process's plane
                caTable[fieldIndex(node[0], node[1], node[2], d)] = 0;
                caTable[fieldIndex(node[0], node[1], node[2], a)] = 0;
                caTable[fieldIndex(node[0], node[1], node[2], b)] = 0;
            }
        }
    }
}

// Magnetic walls (kind 1) zero the tangential H of the face; H on the last line
// of any axis lies outside the mesh and is always zeroed.
void FdtdEngine::applyMagneticWalls() {
    for (int d = 0; d < 3; ++d) {
        const int a = (d + 1) % 3;
        const int b = (d + 2) % 3;
        const bool lowWall = boundaryKind[2 * d] == boundary_kind::kMagneticWall;
        const bool highWall = boundaryKind[2 * d + 1] == boundary_kind::kMagneticWall;
        std::uint32_t node[3];
        for (std::uint32_t ia = 0; ia < lineCount[a]; ++ia) {
            for (std::uint32_t ib = 0; ib < lineCount[b]; ++ib) {
                node[a] = ia;
                node[b] = ib;
                node[d] = 0;
                if (lowWall && stores(node[2]))
                    for (int k : {d, a, b}) daTable[fieldIndex(node[0], node[1], node[2], k)] = 0;
                node[d] = lineCount[d] - 2;
                if (highWall && stores(node[2])) {
                    daTable[fieldIndex(node[0], node[1], node[2], a)] = 0;
                    daTable[fieldIndex(node[0], node[1], node[2], b)] = 0;
                }
                node[d] = lineCount[d] - 1;
                if (stores(node[2]))
                    for (int k : {d, a, b}) daTable[fieldIndex(node[0], node[1], node[2], k)] = 0;
            }
        }
    }
}

// Material sums to leapfrog coefficients, with the loss averaged over the step
// (semi-implicit): self = (C - G dt/2) / (C + G dt/2), curl = dt / (C + G dt/2).
// A zero sum marks a conductor (E) or an outside component (H): both stay zero.
void FdtdEngine::computeCoefficients() {
    const float dt = static_cast<float>(timeStep);
    const float half = dt * 0.5f;
    const PlaneRange planes = storedPlanes();
    for (std::uint32_t z = processSlab.storedBegin; z < planes.end; ++z) {
        for (std::uint32_t y = 0; y < Ny(); ++y) {
            for (std::uint32_t x = 0; x < Nx(); ++x) {
                for (int c = 0; c < 3; ++c) {
                    const std::uint32_t f = fieldIndex(x, y, z, c);
                    const float C = caTable[f];
                    const float s = cbTable[f] * half;
                    caTable[f] = C == 0 ? 0.0f : (C - s) / (s + C);
                    cbTable[f] = C == 0 ? 0.0f : dt / (s + C);
                    const float L = daTable[f];
                    const float t = dbTable[f] * half;
                    daTable[f] = L == 0 ? 0.0f : (L - t) / (t + L);
                    dbTable[f] = L == 0 ? 0.0f : dt / (t + L);
                }
            }
        }
    }
}

}  // namespace fendrix
