#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "driver/Verbosity.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "results/Results.hpp"

namespace {

struct MaterialFixture : ::testing::Test {
    Geometry geometry;
    FdtdEngine engine{geometry, 1};
    Results results;
    std::string out;

    MaterialFixture() { results.addFrequencies(1e9, 3e9, 5); }  // band centre 2 GHz

    // Parses one material line at verbosity 1; keeps the echo in `out`.
    bool parse(MatMaterial& material, std::string line) {
        const int saved = verboseLevel;
        verboseLevel = 1;
        testing::internal::CaptureStdout();
        char* rest = material.parse(line.data(), engine, results);
        out = testing::internal::GetCapturedStdout();
        verboseLevel = saved;
        return rest != nullptr && *rest == '/';
    }
};

// Independent values at 2 GHz: skin depth sqrt(rho / (pi f mu0)) with
// mu0 = 4 pi 1e-7, and Rs = rho / delta = sqrt(pi f mu0 rho). The simulator's
// constant uses the measured mu0 (1.256637062e-6), 4.5e-10 apart.
constexpr double kCopperSkin = 1.4673360734336485e-06;
constexpr double kCopperRs = 0.011585621254590334;
constexpr double kMuTolerance = 1e-9;  // relative

}  // namespace

TEST_F(MaterialFixture, ThickMetalCountsWithTheSkinDepth) {
    MatMetal copper;
    ASSERT_TRUE(parse(copper, "1.7e-8 35e-6 0\n/\n"));
    EXPECT_NEAR(engine.sheetResistance, kCopperRs, kCopperRs * kMuTolerance);
    EXPECT_EQ(out, "Metal 1.7e-08 1.46734e-06 0\n");  // the skin depth shown as thickness
}

TEST_F(MaterialFixture, ThinMetalKeepsItsThickness) {
    MatMetal thin;
    ASSERT_TRUE(parse(thin, "1.7e-8 1e-6 0\n/\n"));
    EXPECT_NEAR(engine.sheetResistance, 0.017, 1e-12);
    EXPECT_EQ(out, "Metal 1.7e-08 1e-06 0\n");
}

TEST_F(MaterialFixture, RoughnessRaisesTheResistance) {
    // r = delta: factor 1 + (2/pi) atan(1.4) = 1.605137...
    MatMetal rough;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "1.7e-8 35e-6 %.17g\n/\n", kCopperSkin);
    ASSERT_TRUE(parse(rough, buffer));
    EXPECT_NEAR(engine.sheetResistance, 0.01859650834067532, 0.0186 * kMuTolerance);
    MatMetal rougher;
    ASSERT_TRUE(parse(rougher, "1.7e-8 35e-6 2e-6\n/\n"));
    EXPECT_NEAR(engine.sheetResistance, 0.02046398677191384, 0.0205 * kMuTolerance);
    EXPECT_EQ(out, "Metal 3.00275e-08 1.46734e-06 2e-06\n");  // the corrected resistivity
}

TEST_F(MaterialFixture, PerfectConductorLeavesAnEarlierSheetResistance) {
    MatMetal first;
    MatMetal second;
    ASSERT_TRUE(parse(first, "1.7e-8 35e-6 0\n/\n"));
    ASSERT_TRUE(parse(second, "0 35e-6 0\n/\n"));
    EXPECT_NEAR(engine.sheetResistance, kCopperRs, kCopperRs * kMuTolerance);
    EXPECT_EQ(out, "Metal 0 3.5e-05 0\n");
    MatMetal noThickness;
    ASSERT_TRUE(parse(noThickness, "1.7e-8 0 0\n/\n"));
    EXPECT_NEAR(engine.sheetResistance, kCopperRs, kCopperRs * kMuTolerance);
}

TEST_F(MaterialFixture, WithoutFrequenciesTheMetalIsTakenAtDC) {
    results.frequencies.clear();
    MatMetal copper;
    ASSERT_TRUE(parse(copper, "1.7e-8 35e-6 1e-6\n/\n"));
    EXPECT_NEAR(engine.sheetResistance, 1.7e-8 / 35e-6, 1e-15);
    MatDielectric lossy;
    ASSERT_TRUE(parse(lossy, "4.4 0.02\n/\n"));
    EXPECT_EQ(lossy.sigma, 0.0);
}

TEST_F(MaterialFixture, DielectricConductivityFromTheLossTangent) {
    MatDielectric fr4;
    ASSERT_TRUE(parse(fr4, "4.4 0.02\n/\n"));
    // sigma = 2 pi f eps0 epsR tan(delta) at 2 GHz.
    EXPECT_NEAR(fr4.sigma, 0.009791320493271412, 1e-15);
    EXPECT_EQ(out, "Dielectric 4.4 0.00979132\n");
    MatDielectric lossless;
    ASSERT_TRUE(parse(lossless, "2.2 0\n/\n"));
    EXPECT_EQ(lossless.sigma, 0.0);
    EXPECT_EQ(out, "Dielectric 2.2 0\n");
}

TEST_F(MaterialFixture, MalformedMaterialLinesFail) {
    for (const char* line : {"1.7e-8 35e-6\n", "1.7e-8,35e-6 0\n", "1.7e-8 35e-6 0 \n", "1.7e-8 35e-6 0"}) {
        MatMetal metal;
        EXPECT_FALSE(parse(metal, line)) << line;
        EXPECT_EQ(out, "");
    }
    // A permittivity that is not positive cannot be stepped.
    for (const char* line : {"4.4\n", "4.4 0.02 \n", "0 0\n", "-2 0\n", "nan 0\n"}) {
        MatDielectric dielectric;
        EXPECT_FALSE(parse(dielectric, line)) << line;
        EXPECT_EQ(out, "");
    }
}

TEST_F(MaterialFixture, UnusedShapesAreReportedOnce) {
    auto metal = std::make_unique<MatMetal>();
    metal->shapes.push_back(std::make_unique<GeoCube>(metal.get()));
    metal->shapes.push_back(std::make_unique<GeoCube>(metal.get()));
    metal->shapes.push_back(std::make_unique<GeoCube>(metal.get()));
    metal->shapes[1]->used = 1;
    geometry.materials.push_back(std::move(metal));
    geometry.materials.push_back(std::make_unique<MatDielectric>());  // no shapes: no warning
    testing::internal::CaptureStderr();
    geometry.warnUnused();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING: Unused element detected.\nWARNING: Unused element detected.\n");
}
