#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "common/ParallelRanges.hpp"
#include "common/ProcessGroup.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

namespace {

// One coupling term of the curl-curl operator: 1 / (u * v), the product formed
// in single precision as the coefficients will be.
inline double coupling(float product) {
    return 1.0 / static_cast<double>(product);
}

inline double sumLessTwiceMin(double w1, double w2, double w3, double w4) {
    double lowest = w1;
    if (w2 < lowest) lowest = w2;
    if (w3 < lowest) lowest = w3;
    if (w4 < lowest) lowest = w4;
    return w1 + w2 + w3 + w4 - 2 * lowest;
}

// The local bound from the 16 products of a node, in the order below.
double localBound(const float w[16]) {
    const double s1 = coupling(w[0]) + coupling(w[1]) + coupling(w[2]) + coupling(w[3]);
    const double s2 = coupling(w[4]) + coupling(w[5]) + coupling(w[6]) + coupling(w[7]);
    const double across = sumLessTwiceMin(coupling(w[8]), coupling(w[9]), coupling(w[10]), coupling(w[11]));
    const double ahead = sumLessTwiceMin(coupling(w[12]), coupling(w[13]), coupling(w[14]), coupling(w[15]));
    return s1 + s2 + across + ahead;
}

// The largest local bound over the interior nodes of plane z, all three
// components. Each plane keeps its own memory of the last products, so planes
// may be done by different threads without changing any bound.
double largestBoundInPlane(const FdtdEngine& grid, const std::vector<std::ptrdiff_t>& xOffset,
                           std::uint32_t z) {
    const std::ptrdiff_t strideY = 12 * static_cast<std::ptrdiff_t>(grid.Nv);
    const std::ptrdiff_t strideZ = strideY * grid.Ny();
    const float* const caTable = grid.caTable;
    const float* const daTable = grid.daTable;
    double sMax = -1.0;
    float lastProducts[16] = {};
    double lastBound = localBound(lastProducts);
    for (int c = 0; c < 3; ++c) {
        const int a = (c + 1) % 3;
        const int b = (c + 2) % 3;
        // Unit steps along c, a, b as (dx, row offset).
        int unitX[3] = {0, 0, 0};
        std::ptrdiff_t unitRow[3] = {0, 0, 0};
        unitX[0] = 1;
        unitRow[1] = strideY;
        unitRow[2] = strideZ;
        for (std::uint32_t y = 1; y + 1 < grid.Ny(); ++y) {
            const std::ptrdiff_t row = (z - grid.processSlab.storedBegin) * strideZ + y * strideY;
            for (std::uint32_t x = 1; x + 1 < grid.Nx(); ++x) {
                // Float index of component k at p + (shift along c, a, b).
                auto at = [&](int k, int sc, int sa, int sb) {
                    const int dx = sc * unitX[c] + sa * unitX[a] + sb * unitX[b];
                    return row + sc * unitRow[c] + sa * unitRow[a] + sb * unitRow[b] +
                           xOffset[x + dx] + 4 * k;
                };
                auto C = [&](int k, int sc, int sa, int sb) { return caTable[at(k, sc, sa, sb)]; };
                auto L = [&](int k, int sc, int sa, int sb) { return daTable[at(k, sc, sa, sb)]; };

                const float w[16] = {
                    C(c, 0, 1, 0) * L(b, 0, 0, 0),   L(b, 0, 0, 0) * C(c, 0, 0, 0),
                    C(c, 0, 0, 1) * L(a, 0, 0, 0),   L(a, 0, 0, 0) * C(c, 0, 0, 0),
                    C(c, 0, -1, -1) * L(a, 0, -1, -1), C(c, 0, -1, 0) * L(a, 0, -1, -1),
                    C(c, 0, -1, 0) * L(b, 0, -1, 0), C(c, 0, 0, 0) * L(b, 0, -1, 0),
                    L(b, 0, 0, 0) * C(a, 0, 0, 0),   C(a, 0, 0, 0) * L(b, 0, -1, 0),
                    L(a, 0, 0, 0) * C(b, 0, 0, 0),   L(a, 0, 0, -1) * C(b, 0, 0, 0),
                    L(b, 0, 0, 0) * C(a, 1, 0, 0),   L(b, 0, -1, 0) * C(a, 1, 0, 0),
                    L(a, 0, 0, 0) * C(b, 1, 0, 0),   C(b, 1, 0, 0) * L(a, 0, 0, -1)};
                // Runs of nodes with the same cells and material have the same
                // products, hence the same bound: 16 divisions saved per node.
                if (std::memcmp(w, lastProducts, sizeof w) != 0) {
                    std::memcpy(lastProducts, w, sizeof w);
                    lastBound = localBound(w);
                }
                const double s = lastBound;
                if (s > sMax) sMax = s;
            }
        }
    }
    return sMax;
}

struct TimeStepWork {
    const FdtdEngine* grid;
    const std::vector<std::ptrdiff_t>* xOffset;
    std::vector<double>* planeMax;
};

void timeStepSlab(void* context, std::uint32_t kBegin, std::uint32_t kEnd) {
    const TimeStepWork& work = *static_cast<TimeStepWork*>(context);
    for (std::uint32_t z = work.grid->processSlab.ownedBegin + kBegin;
         z < work.grid->processSlab.ownedBegin + kEnd; ++z) {
        if (z >= 1 && z + 1 < work.grid->Nz())
            (*work.planeMax)[z] = largestBoundInPlane(*work.grid, *work.xOffset, z);
    }
}

}  // namespace

// Leapfrog stability limit dt = 2 / sqrt(lambda_max), with the largest
// eigenvalue of the discrete curl-curl operator bounded by a local sum at every
// interior node. Reads the capacitance (caTable) and inductance (daTable) sums
// of the dielectric fill only. The planes are shared by the stepping threads;
// the largest bound does not depend on who found it.
void FdtdEngine::computeTimeStep() {
    // Offset of node x within its row: column block plus lane.
    std::vector<std::ptrdiff_t> xOffset(Nx());
    for (std::uint32_t x = 0; x < Nx(); ++x) xOffset[x] = 12 * (x % Nv) + x / Nv;

    // This process's planes (ranges count from its first), then the largest
    // bound of all processes: a maximum, so the step is the one of one process.
    std::vector<double> planeMax(Nz(), -1.0);
    TimeStepWork work{this, &xOffset, &planeMax};
    const PlaneRange planes = ownedPlanes();
    runOnRanges(std::min(threadCount, processorCount), static_cast<std::uint32_t>(planes.end - planes.begin),
                timeStepSlab, &work);
    double sMax = -1.0;
    for (double s : planeMax)
        if (s > sMax) sMax = s;
    timeStep = 2.0 / std::sqrt(processes::largest(sMax));
}

}  // namespace fendrix
