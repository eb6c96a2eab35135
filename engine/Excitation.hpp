#pragma once

#include <cstdint>
#include <vector>

class FdtdEngine;

// The single source of a run: a waveform sampled once per time step, added to
// the E edges of port 1 with the edge length as weight (a soft source).
class Excitation {
public:
    explicit Excitation(FdtdEngine* engine) : engine(engine) {}

    // Sets the band from the Freq line kind '0'..'3'; false for any other kind.
    bool configure(char kind, double f1, double f2);
    // Finds the excited edges and samples the waveform for time step dt.
    void prepare(double dt);
    // Adds sample stepCount to the excited edges while the pulse lasts.
    void inject();

    std::vector<float> samples;
    double maxFrequency = 0.0;
    double centerFrequency = 0.0;
    double halfBandwidth = 0.0;
    std::uint32_t excitationLength = 0;  // 0xFFFFFFFF: no excitation
    std::uint32_t nyquistSteps = 0;
    std::int32_t excitedAxis = -1;
    double portBox[6] = {0, 0, 0, 0, 0, 0};  // x1, y1, z1, x2, y2, z2
    FdtdEngine* engine;
    std::vector<float> edgeWeights;
    std::uint32_t edgeCount = 0;
    std::vector<std::uint32_t> edgeOffsets;
};
