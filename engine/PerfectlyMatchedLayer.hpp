#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fendrix {

class FdtdEngine;

// Convolutional perfectly matched layer on the absorbing faces (--pml=N): the
// outermost N cells of the mesh at each such face stretch the coordinate
// normal to it by s = kappa + sigma / (alpha + j omega eps0), which matches
// every material alike, and end on a perfect conductor.
//
// The field kernels stay as they are. Each difference D along a stretched
// axis in a curl should be D / s; in time that is D / kappa + psi with the
// running convolution psi <- b psi + a D. Right after the kernel has updated a
// plane, correctElectric / correctMagnetic add the curl coefficient times
// (1/kappa - 1) D + psi for the plane's cells inside a layer, from the same
// field values the kernel read. The auxiliary psi exist only for those cells.
class PerfectlyMatchedLayer {
public:
    PerfectlyMatchedLayer() = default;
    ~PerfectlyMatchedLayer();
    PerfectlyMatchedLayer(const PerfectlyMatchedLayer&) = delete;
    PerfectlyMatchedLayer& operator=(const PerfectlyMatchedLayer&) = delete;

    // Grades the layers of `cells` cells on the faces whose boundary kind is 2,
    // for the engine's mesh and time step; `lowFrequency` (Hz) sets the
    // complex frequency shift. False when memory is short.
    bool initialise(const FdtdEngine& engine, std::uint32_t cells, double lowFrequency);
    // After the kernel's E (H) update of z-plane k.
    void correctElectric(FdtdEngine& engine, std::size_t k);
    void correctMagnetic(FdtdEngine& engine, std::size_t k);
    std::size_t bytes() const;  // of the auxiliary fields

    // One axis: the E lines and the H half-lines (between line i and i + 1)
    // that lie inside a layer, each with its update factors.
    struct Axis {
        struct Node {
            std::uint32_t index;  // mesh line (E) or the line below the half-line (H)
            float b, a;           // psi <- b psi + a D
            float k;              // 1 / kappa - 1
        };
        std::vector<Node> e, h;
        std::vector<int> eSlot, hSlot;  // per line / half-line: position in e / h, or -1
    };
    Axis axes[3];
    // Along x the layer's nodes of a row lie in a few columns of the vector
    // layout (lane 0 for the low face, lane 3 for the high one): the factors
    // per lane of each such column, zero in lanes outside the layer.
    struct Column {
        alignas(16) float b[4];
        float a[4], k[4];
        std::uint32_t column;
    };
    std::vector<Column> xColumns[2];  // E lines, H half-lines

private:
    float* psiE[3] = {nullptr, nullptr, nullptr};  // per stretched axis, two components each
    float* psiH[3] = {nullptr, nullptr, nullptr};
    std::size_t psiFloats[3] = {0, 0, 0};
    std::size_t planeBegin = 0, planeCount = 0;  // the z-planes this process steps
};

}  // namespace fendrix
