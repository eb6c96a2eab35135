// Near-to-far-field transform: angle grids, the symmetry facts of the paired
// directions, normalisation, and the pattern of an analytic short dipole whose
// exact near and far fields are sampled on a Huygens box.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <complex>
#include <vector>

#include "results/RadiationSetup.hpp"

namespace {

using cd = std::complex<double>;
using cf = std::complex<float>;
constexpr double kPi = 3.141592653589793;
constexpr double kLight = 299792458.0;
constexpr double kEta = 376.730313461;

// A box of nodes with per-axis spacing around a centre, and the E and H phasors
// (time dependence exp(+j w t)) of a z-directed Hertzian dipole of moment
// I l = 1 A m at `source`, exact at every distance:
//   H = j k / (4 pi r) (1 + 1/(j k r)) e^(-j k r) (z x r^)
//   E = eta / (2 pi r^2) (1 + 1/(j k r)) e^(-j k r) cos(th) r^
//     + j eta k / (4 pi r) (1 + 1/(j k r) - 1/(k r)^2) e^(-j k r) (cos(th) r^ - z)
struct DipoleBox {
    double frequency = 1e9;
    double source[3] = {0, 0, 0};
    double centre[3] = {0, 0, 0};
    double half[3] = {0.15, 0.12, 0.18};
    std::uint32_t nodes[3] = {21, 17, 25};  // about 20 nodes per wavelength
    double scale = 1.0;

    std::vector<double> lines(int axis) const {
        std::vector<double> l(nodes[axis]);
        for (std::uint32_t i = 0; i < nodes[axis]; ++i)
            l[i] = centre[axis] - half[axis] + 2 * half[axis] * i / (nodes[axis] - 1);
        return l;
    }

    void fields(const double p[3], cd e[3], cd h[3]) const {
        const double k = 2 * kPi * frequency / kLight;
        const double d[3] = {p[0] - source[0], p[1] - source[1], p[2] - source[2]};
        const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const double u[3] = {d[0] / r, d[1] / r, d[2] / r};
        const double cosTh = u[2];
        const cd jkr(0.0, k * r);
        const cd wave = std::exp(-jkr);
        const cd near = 1.0 + 1.0 / jkr;
        const cd hScale = cd(0, k) / (4 * kPi * r) * near * wave * scale;
        const cd erScale = kEta / (2 * kPi * r * r) * near * wave * cosTh * scale;
        const cd etScale =
            cd(0, kEta * k) / (4 * kPi * r) * (near - 1.0 / ((k * r) * (k * r))) * wave * scale;
        const double zCrossR[3] = {-u[1], u[0], 0.0};
        for (int c = 0; c < 3; ++c) {
            h[c] = hScale * zCrossR[c];
            e[c] = erScale * u[c] + etScale * (cosTh * u[c] - (c == 2 ? 1.0 : 0.0));
        }
    }

    // Feeds the six faces, low then high along x, y, z, with the face spectra in
    // the region layout of the face probes.
    void accumulate(RadiationSetup& setup) const {
        const std::vector<double> all[3] = {lines(0), lines(1), lines(2)};
        for (int face = 0; face < 6; ++face) {
            const int axis = face / 2;
            std::uint32_t counts[3] = {nodes[0], nodes[1], nodes[2]};
            counts[axis] = 1;
            const double* coords[3] = {all[0].data(), all[1].data(), all[2].data()};
            if (face % 2) coords[axis] += nodes[axis] - 1;
            std::vector<cf> e(3 * counts[0] * counts[1] * counts[2]), h(e.size());
            std::size_t slot = 0;
            for (std::uint32_t z = 0; z < counts[2]; ++z)
                for (std::uint32_t y = 0; y < counts[1]; ++y)
                    for (std::uint32_t x = 0; x < counts[0]; ++x, ++slot) {
                        const double p[3] = {coords[0][x], coords[1][y], coords[2][z]};
                        cd ev[3], hv[3];
                        fields(p, ev, hv);
                        for (int c = 0; c < 3; ++c) {
                            e[3 * slot + c] = cf(ev[c]);
                            h[3 * slot + c] = cf(hv[c]);
                        }
                    }
            EXPECT_TRUE(setup.accumulateFace(counts, coords, e.data(), h.data(), face % 2 ? 1 : -1));
        }
    }
};

RadiationSetup dipolePattern(const DipoleBox& box) {
    RadiationSetup setup(static_cast<float>(box.frequency), 19, 37, 2);
    box.accumulate(setup);
    setup.finishPattern();
    return setup;
}

}  // namespace

TEST(Radiation, AngleGridsAreOddAndSymmetric) {
    RadiationSetup even(1e9f, 18, 36, 3);
    RadiationSetup odd(1e9f, 19, 37, 3);
    ASSERT_EQ(even.azimuthCount, 37u);
    ASSERT_EQ(even.elevationCount, 19u);
    EXPECT_EQ(even.azimuths, odd.azimuths);
    EXPECT_EQ(even.elevations, odd.elevations);
    for (int i = 0; i < 37; ++i) EXPECT_NEAR(even.azimuths[i] * 180 / kPi, -180.0 + 10 * i, 1e-12);
    for (int i = 0; i < 19; ++i) EXPECT_NEAR(even.elevations[i] * 180 / kPi, -90.0 + 10 * i, 1e-12);
    EXPECT_EQ(even.directivity.size(), 37u * 19u);
    EXPECT_EQ(even.eAzimuth.size(), 37u * 19u);
}

TEST(Radiation, FacesNarrowerThanThreeNodesAddNothing) {
    RadiationSetup setup(1e9f, 5, 5, 2);
    const std::vector<double> line{0.0, 0.1, 0.2, 0.3, 0.4};
    const double* coords[3] = {line.data(), line.data(), line.data()};
    const std::vector<cf> field(3 * 5 * 5 * 5, cf(1.0f, -0.5f));
    const std::uint32_t shapes[][3] = {{1, 2, 5}, {1, 5, 2}, {5, 1, 2}, {2, 2, 1}, {3, 3, 3}, {1, 1, 5}};
    for (const auto& counts : shapes)
        EXPECT_FALSE(setup.accumulateFace(counts, coords, field.data(), field.data(), 1));
    EXPECT_EQ(setup.radiatedPower, 0.0);
    for (std::size_t i = 0; i < setup.eAzimuth.size(); ++i) {
        EXPECT_EQ(setup.eAzimuth[i], cd(0, 0));
        EXPECT_EQ(setup.eElevation[i], cd(0, 0));
    }
}

TEST(Radiation, ShortDipoleHasTheTextbookPattern) {
    DipoleBox box;
    RadiationSetup setup = dipolePattern(box);
    const std::uint32_t A = setup.azimuthCount, E = setup.elevationCount;

    // Radiated power of a Hertzian dipole: eta (k I l)^2 / (12 pi).
    const double k = 2 * kPi * box.frequency / kLight;
    EXPECT_NEAR(setup.radiatedPower / (kEta * k * k / (12 * kPi)), 1.0, 0.005);
    // Maximum directivity 1.5, that is 1.76 dBi, in the equatorial plane.
    EXPECT_NEAR(10 * std::log10(setup.maxDirectivity), 1.761, 0.05);
    for (std::uint32_t a = 0; a < A; ++a) {
        // Null along the dipole axis; D = 1.5 cos^2(elevation) = 1.5 sin^2(polar angle).
        EXPECT_LT(setup.directivity[a], 1e-3);
        EXPECT_LT(setup.directivity[(E - 1) * A + a], 1e-3);
        for (std::uint32_t e = 0; e < E; ++e) {
            const double c = std::cos(setup.elevations[e]);
            EXPECT_NEAR(setup.directivity[e * A + a], 1.5 * c * c, 0.01) << a << " " << e;
        }
    }
    // All of the field is along theta-hat; none along phi-hat.
    double maxAzimuth = 0.0;
    for (const cd& value : setup.eAzimuth) maxAzimuth = std::max(maxAzimuth, std::abs(value));
    EXPECT_LT(maxAzimuth, 5e-3);
    EXPECT_NEAR(std::abs(setup.eElevation[(E / 2) * A + 5]), 1.0, 0.01);
}

TEST(Radiation, TranslatingTheStructureLeavesThePatternAlone) {
    // Displaced so that the coordinate origin lies well outside the box: the
    // outward normals must still point out of every face.
    DipoleBox centred;
    DipoleBox moved;
    const double shift[3] = {0.5, 0.3, -0.25};
    for (int a = 0; a < 3; ++a) moved.source[a] = moved.centre[a] = shift[a];
    RadiationSetup reference = dipolePattern(centred);
    RadiationSetup shifted = dipolePattern(moved);

    EXPECT_NEAR(shifted.radiatedPower / reference.radiatedPower, 1.0, 1e-4);
    EXPECT_NEAR(shifted.maxDirectivity / reference.maxDirectivity, 1.0, 1e-4);
    for (std::size_t i = 0; i < reference.directivity.size(); ++i) {
        EXPECT_NEAR(shifted.directivity[i], reference.directivity[i], 1e-4) << i;
        EXPECT_NEAR(std::abs(shifted.eElevation[i]), std::abs(reference.eElevation[i]), 1e-4) << i;
        EXPECT_NEAR(std::abs(shifted.eAzimuth[i]), std::abs(reference.eAzimuth[i]), 1e-4) << i;
    }
}

TEST(Radiation, ScalingTheSpectraLeavesDirectivityUnchanged) {
    DipoleBox box;
    box.source[0] = 0.03;  // off-centre, so that the pattern has some structure
    box.source[2] = -0.04;
    RadiationSetup reference = dipolePattern(box);
    box.scale = 7.0;
    RadiationSetup scaled = dipolePattern(box);
    EXPECT_NEAR(scaled.radiatedPower / reference.radiatedPower, 49.0, 49.0 * 1e-5);
    EXPECT_NEAR(scaled.maxDirectivity / reference.maxDirectivity, 1.0, 1e-5);
    for (std::size_t i = 0; i < reference.directivity.size(); ++i) {
        EXPECT_NEAR(scaled.directivity[i], reference.directivity[i], 1e-5);
        EXPECT_NEAR(std::abs(scaled.eElevation[i] - reference.eElevation[i]), 0.0, 1e-5);
    }
}

TEST(Radiation, AzimuthMinus180And180AreTheSameDirection) {
    DipoleBox box;
    box.source[0] = 0.02;
    box.source[1] = -0.03;
    box.nodes[0] = 13, box.nodes[1] = 11, box.nodes[2] = 15;  // coarse: only symmetry matters
    RadiationSetup setup(1e9f, 9, 12, 2);
    box.accumulate(setup);
    const std::uint32_t A = setup.azimuthCount;
    for (std::uint32_t row = 0; row < setup.elevationCount; ++row) {
        EXPECT_EQ(setup.eAzimuth[row * A], setup.eAzimuth[row * A + A - 1]);
        EXPECT_EQ(setup.eElevation[row * A], setup.eElevation[row * A + A - 1]);
        EXPECT_NE(setup.eElevation[row * A + 1], cd(0, 0));  // every other direction was filled
    }
}

TEST(Radiation, FinishNormalisesToOneAndDropsTinyComponents) {
    RadiationSetup setup(1e9f, 3, 3, 2);
    setup.radiatedPower = 1.0;
    setup.eElevation[5] = {3.0, 4.0};   // largest magnitude, 5
    setup.eAzimuth[1] = {0.0, 2e-5};    // 4e-6 after normalisation: kept
    setup.eAzimuth[2] = {5e-6, 0.0};    // 1e-6: dropped
    setup.eElevation[0] = {-3e-6, 3e-6};  // 8.5e-7: dropped
    setup.finishPattern();
    EXPECT_NEAR(std::abs(setup.eElevation[5]), 1.0, 1e-12);
    EXPECT_NEAR(std::abs(setup.eAzimuth[1]), 4e-6, 1e-15);
    EXPECT_EQ(setup.eAzimuth[2], cd(0, 0));
    EXPECT_EQ(setup.eElevation[0], cd(0, 0));
    double largest = 0.0;
    for (std::size_t i = 0; i < 9; ++i)
        largest = std::max({largest, std::abs(setup.eAzimuth[i]), std::abs(setup.eElevation[i])});
    EXPECT_NEAR(largest, 1.0, 1e-12);
    // Directivity 4 pi |r E|^2 / (2 eta P) with the far-field factor |k / (4 pi r)| at r = 1.
    const double k = 2 * kPi * 1e9 * 3.3356409519815204e-9;
    const double field = 5.0 * k / (4 * kPi);
    EXPECT_NEAR(setup.maxDirectivity, 4 * kPi * field * field / (2 * kEta), 1e-9);
    EXPECT_EQ(setup.directivity[5], setup.maxDirectivity);
}

// The direction loop may run on several threads; each direction's sums are
// formed by one thread in the node order, so the pattern is the same bit for
// bit. A displaced source makes every direction different.
TEST(Radiation, ThreadsGiveTheSamePatternBitForBit) {
    DipoleBox box;
    box.source[0] = 0.03;
    box.source[2] = -0.05;
    std::vector<cd> elevation, azimuth;
    for (int threads : {1, 2, 3, 16}) {
        RadiationSetup setup(static_cast<float>(box.frequency), 19, 37, 2);
        setup.threadCount = threads;
        box.accumulate(setup);
        if (threads == 1) {
            elevation = setup.eElevation;
            azimuth = setup.eAzimuth;
            continue;
        }
        EXPECT_EQ(std::memcmp(setup.eElevation.data(), elevation.data(), 16 * elevation.size()), 0)
            << threads << " threads";
        EXPECT_EQ(std::memcmp(setup.eAzimuth.data(), azimuth.data(), 16 * azimuth.size()), 0)
            << threads << " threads";
    }
}
