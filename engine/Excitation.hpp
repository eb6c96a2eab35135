#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fendrix {

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
    // Groups the edges by z-plane (planes of `planeFloats` floats), keeping
    // their order within a plane; run before injectPlanes.
    void indexByPlane(std::size_t planeFloats, std::size_t planes);
    // Adds sample `step` to the excited edges in planes kBegin .. kEnd - 1.
    void injectPlanes(std::size_t kBegin, std::size_t kEnd, std::uint32_t step);

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
    std::vector<std::uint32_t> edgesByPlane;     // edge numbers, plane by plane
    std::vector<std::uint32_t> planeEdgeStart;  // plane k: edgesByPlane[start[k] .. start[k+1])
};

}  // namespace fendrix
