#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace fendrix {

// The far-field request of the Radiation line: angle grids, and the sums of the
// near-to-far-field transform over the six faces of the Huygens box.
// Direction index = elevation index * azimuthCount + azimuth index.
class RadiationSetup {
public:
    RadiationSetup(float frequency, std::uint32_t elevationCount, std::uint32_t azimuthCount,
                   std::uint32_t boxMargin);

    // Adds one face's contribution; false (nothing changed) when the region is
    // not a face at least 3 nodes wide in both tangential directions.
    // `outwardSign` is -1 for the low face of its axis and +1 for the high face.
    bool accumulateFace(const std::uint32_t counts[3], const double* const coords[3],
                        const std::complex<float>* eSpectrum, const std::complex<float>* hSpectrum,
                        int outwardSign);
    // Applies the far-field factor, computes the directivity pattern and its
    // maximum, and normalises the components. Once, after all faces.
    void finishPattern();

    std::vector<double> azimuths;    // radians
    std::vector<double> elevations;
    std::uint32_t azimuthCount;
    std::uint32_t elevationCount;
    std::vector<std::complex<double>> eAzimuth;
    std::vector<std::complex<double>> eElevation;
    double radiatedPower = 0.0;
    double maxDirectivity = 0.0;
    std::vector<double> directivity;
    std::uint32_t boxMargin;
    float frequency;
    float distance = 1.0f;
    float origin[3] = {0, 0, 0};
    float epsilonR = 1.0f;
    float muR = 1.0f;
    int threadCount = 1;  // threads of the direction loop (the stepping threads)
};

}  // namespace fendrix
