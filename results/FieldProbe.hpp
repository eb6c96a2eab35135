#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "probes/Probe.hpp"

namespace fendrix {

class RadiationSetup;

// One face of the Huygens box: a running single-frequency transform of the full
// E and H vectors at every node of the face, handed to the near-to-far-field
// transform after the run. `portNumber` holds the face number 0..5.
class FieldProbe : public Probe {
public:
    FieldProbe(FdtdEngine* engine, RadiationSetup* setup, int face);

    void sample() override;
    void analyze() override;
    void gatherSpectra();

    // True when every face of the Huygens box for this margin is at least 3 nodes
    // wide in both tangential directions (each axis needs at least 2 * margin + 1 lines).
    static bool fitsGrid(const FdtdEngine& engine, const RadiationSetup& setup);

    RadiationSetup* setup;
    float angularStep;
    std::uint32_t nodeCounts[3] = {0, 0, 0};
    // Node (x, y, z) of the region has slot (z * ny + y) * nx + x; three components per slot.
    std::vector<std::complex<float>> eSpectrum;
    std::vector<std::complex<float>> hSpectrum;
};

}  // namespace fendrix
