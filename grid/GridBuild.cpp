#include <algorithm>
#include <cstdio>

#include "common/AlignedMemory.hpp"
#include "common/Console.hpp"
#include "engine/Excitation.hpp"
#include "engine/MurBoundary.hpp"
#include "engine/PerfectlyMatchedLayer.hpp"
#include "grid/BoundaryKind.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

namespace {

bool reportOutOfMemory() {
    console::error("Not enough memory available.\n");
    return false;
}

}  // namespace

// The order is fixed: the time step comes from the dielectric fill alone
// (metals, lumped elements and walls never change it), and the conversion to
// update coefficients needs the time step.
bool FdtdEngine::buildGrid(std::unique_ptr<Excitation> source) {
    fillDielectrics();
    computeTimeStep();
    fillMetals();
    fillLumpedElements();
    applyElectricWalls();
    applyMagneticWalls();
    computeCoefficients();

    // Each absorbing face rewrites the E coefficients of its plane at once, so
    // on a shared edge the later face's coefficient stands. With a matched
    // layer the faces keep the conductor's zero coefficients behind it.
    for (std::uint32_t face = 0; face < 6; ++face) {
        if (boundaryKind[face] != boundary_kind::kAbsorbing || pmlCells > 0) continue;
        boundaries[face] = std::make_unique<MurBoundary>(this, face / 2, face % 2 == 1);
        if (!boundaries[face]->initialise()) return reportOutOfMemory();
    }
    // The E component along an edge shared by two absorbing faces gets one Mur
    // update, the later face's, whose coefficient stands there.
    for (std::uint32_t face = 0; face < 6; ++face) {
        for (std::uint32_t later = face + 1; later < 6; ++later) {
            if (boundaries[face] && boundaries[later] && face / 2 != later / 2)
                boundaries[face]->yieldEdgeTo(*boundaries[later]);
        }
    }

    if (pmlCells > 0) {
        // The frequency shift sits at half the lowest frequency the pulse
        // carries (a tenth of the top one for base-band pulses).
        const double low = source ? std::max(source->centerFrequency - source->halfBandwidth,
                                             0.1 * source->maxFrequency) : 0.0;
        pml = std::make_unique<PerfectlyMatchedLayer>();
        if (!pml->initialise(*this, pmlCells, 0.5 * low)) return reportOutOfMemory();
    }

    excitation = std::move(source);
    std::uint32_t nyquistSteps = 0;
    std::uint32_t excitationLength = 0xFFFFFFFFu;
    if (excitation) {
        excitation->prepare(timeStep);
        nyquistSteps = excitation->nyquistSteps;
        excitationLength = excitation->excitationLength;
    }
    console::say("Timestep: %g sec (Nyquist = %d timesteps)\n", timeStep, static_cast<int>(nyquistSteps));
    console::say("Excitation signal: %d timesteps\n", static_cast<int>(excitationLength));

    if (!compressCoefficients()) return reportOutOfMemory();

    // Fields last, after the coefficients have shrunk: E then H in one block.
    const std::uint32_t B = blockCount();
    float* fields = static_cast<float*>(alignedAllocateZeroed(96u * B));
    if (fields == nullptr) return reportOutOfMemory();
    eField = fields;
    hField = fields + 12u * B;

    // Memory figures in 32-bit arithmetic, as the host program expects them.
    const std::uint32_t sets = keepSetCount + curlSetCount;
    const std::uint32_t layerBytes = pml ? static_cast<std::uint32_t>(pml->bytes()) : 0u;
    if (console::hostMode()) {
        console::hostCodes("%dx%dx%d, %d MBytes, %d threads... ", static_cast<int>(Nx()), static_cast<int>(Ny()),
                    static_cast<int>(Nz()), static_cast<int>((96u * B + 8u * B + 96u * sets + layerBytes) >> 20),
                    threadCount);
    } else {
        console::say("Compressed size: %d MBytes of %d MBytes\n", static_cast<int>((8u * B + 96u * sets) >> 20),
                    static_cast<int>((192u * B) >> 20));
        if (pml)
            console::say("Perfectly matched layer: %u cells, %.1f MBytes of auxiliary fields\n", pmlCells,
                        static_cast<double>(pml->bytes()) / (1 << 20));
    }
    console::flush();
    return true;
}

}  // namespace fendrix
