#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "probes/Probe.hpp"

namespace fendrix {

class RadiationSetup;

// One face of the Huygens box: running transforms of the full E and H vectors
// at every node of the face, one per far-field frequency (one RadiationSetup
// each, the Radiation line's first), handed to the near-to-far-field transform
// after the run. `portNumber` holds the face number 0..5.
class FieldProbe : public Probe {
public:
    FieldProbe(FdtdEngine* engine, RadiationSetup* setup, int face);
    FieldProbe(FdtdEngine* engine, std::vector<RadiationSetup*> setups, int face);

    void sample() override;
    // E and H (V/m, A/m) at node (i, j, k) of the region, counted from its
    // first node; the tables must be in place (the first sample makes them).
    void nodeFields(std::uint32_t i, std::uint32_t j, std::uint32_t k, double e[3], double h[3]) const;
    void tabulateNodes();
    void analyze() override;
    void gatherSpectra();

    // True when every face of the Huygens box for this margin is at least 3 nodes
    // wide in both tangential directions (each axis needs at least 2 * margin + 1 lines).
    static bool fitsGrid(const FdtdEngine& engine, const RadiationSetup& setup);

    RadiationSetup* setup;  // the Radiation line's, setups[0]
    std::vector<RadiationSetup*> setups;
    std::vector<float> angularSteps;  // -2 pi f of each setup, single precision
    std::uint32_t nodeCounts[3] = {0, 0, 0};
    // Node (x, y, z) of the region has slot (z * ny + y) * nx + x; each slot holds
    // three components per frequency, frequency by frequency:
    // value (slot * frequencies + f) * 3 + component.
    std::vector<std::complex<float>> eSpectrum;
    std::vector<std::complex<float>> hSpectrum;
    std::vector<float> phasors;  // this sample's cos, sin of E and of H per frequency
    // Per axis, lines lowIndex - 1 .. highIndex (see tabulateNodes).
    struct NodeTable {
        std::vector<std::uint32_t> offset;
        std::vector<double> before, after, span, hScale;
    };
    NodeTable nodeTables[3];
    bool tabulated = false;
};

}  // namespace fendrix
