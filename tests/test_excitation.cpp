#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "engine/Excitation.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "tests/HandBuiltGrid.hpp"

namespace {

// 4 x 4 x 4 lines, 1 mm apart, except z: 0, 1, 2.5, 4 mm.
struct SourceGrid {
    Geometry geometry;
    FdtdEngine engine{geometry, 1};
    Excitation source{&engine};
    SourceGrid() {
        hand_grid::setMesh(engine, 4, 4, 4);
        engine.meshLines[2] = {0.0, 1e-3, 2.5e-3, 4e-3};
        hand_grid::allocateFields(engine);
    }
    void port(int axis, double x1, double y1, double z1, double x2, double y2, double z2) {
        source.excitedAxis = axis;
        const double box[6] = {x1, y1, z1, x2, y2, z2};
        for (int i = 0; i < 6; ++i) source.portBox[i] = box[i];
    }
};

int signChanges(const std::vector<float>& samples) {
    int changes = 0;
    for (std::size_t n = 1; n < samples.size(); ++n)
        changes += (samples[n - 1] < 0) != (samples[n] < 0);
    return changes;
}

}  // namespace

TEST(Excitation, ConfigureAcceptsOnlyTheFourKinds) {
    SourceGrid grid;
    EXPECT_TRUE(grid.source.configure('2', 1e9, 3e9));
    EXPECT_EQ(grid.source.maxFrequency, 3e9);
    EXPECT_EQ(grid.source.centerFrequency, 2e9);
    EXPECT_EQ(grid.source.halfBandwidth, 1e9);
    EXPECT_TRUE(grid.source.configure('1', 1e9, 2e9));
    EXPECT_EQ(grid.source.maxFrequency, 3e9);
    EXPECT_EQ(grid.source.centerFrequency, 1e9);
    EXPECT_EQ(grid.source.halfBandwidth, 2e9);
    EXPECT_FALSE(grid.source.configure('4', 1e9, 5e9));
    EXPECT_EQ(grid.source.centerFrequency, 1e9);  // left as it was
    EXPECT_EQ(grid.source.maxFrequency, 5e9);
}

// Kind 2, 1 to 3 GHz, dt = 1 ps: 166 steps per Nyquist interval and
// ceil(2 / (0.698e9 * 1e-12)) = 2865 samples, peak 1 in the middle.
TEST(Excitation, ModulatedGaussianLengthAndNyquist) {
    SourceGrid grid;
    grid.port(2, 0, 0, 0, 0, 0, 1e-3);
    ASSERT_TRUE(grid.source.configure('2', 1e9, 3e9));
    grid.source.prepare(1e-12);
    EXPECT_EQ(grid.source.nyquistSteps, 166u);
    EXPECT_EQ(grid.source.excitationLength, 2865u);
    ASSERT_EQ(grid.source.samples.size(), 2865u);
    // u = n * dt * a - 1 is 0 near n = 1432.4: exp(0) cos(0) there.
    const double a = 1e9 * 2.0 * 3.141592653589793 / 9.0;
    const double u = 1432 * 1e-12 * a - 1.0;
    EXPECT_NEAR(grid.source.samples[1432], std::exp(-9 * u * u) * std::cos(2e9 * 2 * 3.141592653589793 / a * u),
                1e-6);
    EXPECT_NEAR(grid.source.samples[1432], 1.0, 1e-3);
}

// Kind 3, f2 = 2 GHz, dt = 1.3 ps: f0 = 1 GHz, 2308 samples over three
// periods, one sign change at 1.5 periods (n = 1153.8).
TEST(Excitation, GaussianDerivativeCrossesZeroOnce) {
    SourceGrid grid;
    grid.port(2, 0, 0, 0, 0, 0, 1e-3);
    ASSERT_TRUE(grid.source.configure('3', 0.0, 2e9));
    grid.source.prepare(1.3e-12);
    EXPECT_EQ(grid.source.excitationLength, 2308u);
    EXPECT_EQ(grid.source.nyquistSteps, 192u);
    const auto& s = grid.source.samples;
    ASSERT_EQ(s.size(), 2308u);
    EXPECT_EQ(signChanges(s), 1);
    EXPECT_LT(s[1153], 0.0f);
    EXPECT_GT(s[1154], 0.0f);
    EXPECT_LT(std::fabs(s.front()), 1e-9f);
    EXPECT_LT(std::fabs(s.back()), 1e-9f);
}

// Kind 0: a plain Gaussian (no carrier), positive, at most 1, starting at
// exp(-9) and peaking at the sample nearest to 1 / a.
TEST(Excitation, BaseBandGaussianIsPositive) {
    SourceGrid grid;
    grid.port(2, 0, 0, 0, 0, 0, 1e-3);
    ASSERT_TRUE(grid.source.configure('0', 0.0, 1e9));
    grid.source.prepare(1e-12);
    const auto& s = grid.source.samples;
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s[0], static_cast<float>(std::exp(-9.0)));
    std::size_t peak = 0;
    for (std::size_t n = 0; n < s.size(); ++n) {
        EXPECT_GT(s[n], 0.0f);
        EXPECT_LE(s[n], 1.0f);
        if (s[n] > s[peak]) peak = n;
    }
    const double a = 1.8e9 * 0.6981317007977318;
    EXPECT_EQ(peak, static_cast<std::size_t>(std::lround(1.0 / (a * 1e-12))));
}

// f1 not below f2 leaves no band: the Gaussian derivative at (f1 + f2) / 2.
TEST(Excitation, EmptyBandFallsBackToGaussianDerivative) {
    SourceGrid grid;
    grid.port(2, 0, 0, 0, 0, 0, 1e-3);
    ASSERT_TRUE(grid.source.configure('2', 3e9, 1e9));
    grid.source.prepare(1e-12);
    EXPECT_EQ(grid.source.excitationLength, 1500u);  // ceil(3 / (2e9 * 1e-12))
    EXPECT_EQ(grid.source.nyquistSteps, 500u);      // 0.5 / (1e9 * 1e-12)
    EXPECT_EQ(signChanges(grid.source.samples), 1);
}

// Two lines along z, one line across: a single edge, weighted by its length
// (the 1.5 mm cell between z = 1 and 2.5 mm).
TEST(Excitation, OneEdgeWithItsCellLength) {
    SourceGrid grid;
    grid.port(2, 1e-3, 1.1e-3, 2.4e-3, 0.9e-3, 1e-3, 1.1e-3);  // corners given high to low
    ASSERT_TRUE(grid.source.configure('2', 1e9, 3e9));
    grid.source.prepare(1e-12);
    ASSERT_EQ(grid.source.edgeCount, 1u);
    ASSERT_EQ(grid.source.edgeOffsets.size(), 1u);
    EXPECT_EQ(grid.source.edgeOffsets[0], grid.engine.fieldIndex(1, 1, 1, 2));
    EXPECT_EQ(grid.source.edgeWeights[0], 1.5e-3f);

    // inject adds weight x sample of the current step.
    grid.engine.stepCount = 7;
    grid.source.inject();
    EXPECT_EQ(grid.engine.eField[grid.engine.fieldIndex(1, 1, 1, 2)],
              1.5e-3f * grid.source.samples[7]);
    // After the pulse nothing is added.
    grid.engine.stepCount = grid.source.excitationLength;
    grid.source.inject();
    EXPECT_EQ(grid.engine.eField[grid.engine.fieldIndex(1, 1, 1, 2)],
              1.5e-3f * grid.source.samples[7]);
}

// Edges run z outer, y middle, x inner; along the driven axis (x here) there
// is one edge fewer than lines.
TEST(Excitation, EdgeOrderAcrossAPortArea) {
    SourceGrid grid;
    grid.port(0, 0.0, 1e-3, 0.0, 2e-3, 2e-3, 0.0);
    ASSERT_TRUE(grid.source.configure('2', 1e9, 3e9));
    grid.source.prepare(1e-12);
    const auto& e = grid.engine;
    ASSERT_EQ(grid.source.edgeCount, 4u);
    const std::vector<std::uint32_t> expected = {e.fieldIndex(0, 1, 0, 0), e.fieldIndex(1, 1, 0, 0),
                                                 e.fieldIndex(0, 2, 0, 0), e.fieldIndex(1, 2, 0, 0)};
    EXPECT_EQ(grid.source.edgeOffsets, expected);
    for (float w : grid.source.edgeWeights) EXPECT_EQ(w, 1e-3f);
}

// Both corners on one line along the driven axis: no edge at all, also at the
// first line (where the range would run from 0 to -1).
TEST(Excitation, FlatPortHasNoEdges) {
    for (double z : {0.0, 2.5e-3}) {
        SourceGrid grid;
        grid.port(2, 0.0, 0.0, z, 3e-3, 3e-3, z);
        ASSERT_TRUE(grid.source.configure('2', 1e9, 3e9));
        grid.source.prepare(1e-12);
        EXPECT_EQ(grid.source.edgeCount, 0u);
        EXPECT_TRUE(grid.source.edgeOffsets.empty());
        grid.source.inject();
        for (std::uint32_t f = 0; f < 12 * grid.engine.blockCount(); ++f) ASSERT_EQ(grid.engine.eField[f], 0.0f);
    }
}

TEST(Excitation, NoPortMeansNoExcitation) {
    SourceGrid grid;
    ASSERT_TRUE(grid.source.configure('2', 1e9, 3e9));
    testing::internal::CaptureStderr();
    grid.source.prepare(1e-12);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: No excitation.\n");
    EXPECT_EQ(grid.source.excitationLength, 0xFFFFFFFFu);
    EXPECT_EQ(grid.source.nyquistSteps, 0u);
    EXPECT_EQ(grid.source.edgeCount, 0u);
    for (std::uint32_t step : {0u, 5u}) {
        grid.engine.stepCount = step;
        grid.source.inject();
    }
    for (std::uint32_t f = 0; f < 12 * grid.engine.blockCount(); ++f) ASSERT_EQ(grid.engine.eField[f], 0.0f);
}

// A direction that is not an axis is treated like a missing port.
TEST(Excitation, DirectionBeyondZMeansNoExcitation) {
    SourceGrid grid;
    grid.port(3, 0, 0, 0, 1e-3, 1e-3, 1e-3);
    ASSERT_TRUE(grid.source.configure('2', 1e9, 3e9));
    testing::internal::CaptureStderr();
    grid.source.prepare(1e-12);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: No excitation.\n");
    EXPECT_EQ(grid.source.excitationLength, 0xFFFFFFFFu);
}

// A zero upper frequency gives an endless pulse; it is capped instead of
// exhausting memory.
TEST(Excitation, DegenerateBandIsCapped) {
    SourceGrid grid;
    grid.port(2, 0, 0, 0, 0, 0, 1e-3);
    ASSERT_TRUE(grid.source.configure('3', 0.0, 0.0));
    grid.source.prepare(1e-12);
    EXPECT_EQ(grid.source.nyquistSteps, 0xFFFFFFFFu);
    EXPECT_EQ(grid.source.samples.size(), grid.source.excitationLength);
    EXPECT_EQ(grid.source.excitationLength, 16777216u);
}
