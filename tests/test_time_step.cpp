#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "grid/PhysicalConstants.hpp"

namespace {

void uniformMesh(FdtdEngine& engine, std::uint32_t n, double spacing) {
    for (int axis = 0; axis < 3; ++axis) {
        engine.lineCount[axis] = n;
        engine.meshLines[axis].resize(n);
        for (std::uint32_t i = 0; i < n; ++i) engine.meshLines[axis][i] = i * spacing;
    }
}

double vacuumStep(FdtdEngine& engine) {
    EXPECT_EQ(engine.allocateCoefficients(), 0);
    engine.fillDielectrics();
    engine.computeTimeStep();
    return engine.timeStep;
}

}  // namespace

TEST(TimeStep, UniformVacuumIsTheCourantLimit) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    uniformMesh(engine, 6, 1e-3);
    const double dt = vacuumStep(engine);
    EXPECT_NEAR(dt, 1.92583e-12, 1e-17);
    // d sqrt(eps0 mu0) / sqrt(3), up to the single-precision sums.
    const double courant = 1e-3 * std::sqrt(kEpsilon0 * kMu0) / std::sqrt(3.0);
    EXPECT_NEAR(dt / courant, 1.0, 1e-6);
}

TEST(TimeStep, FinerInteriorLineLowersTheStep) {
    Geometry geometry;
    FdtdEngine coarse(geometry, 1);
    uniformMesh(coarse, 6, 1e-3);
    const double coarseStep = vacuumStep(coarse);

    FdtdEngine fine(geometry, 1);
    uniformMesh(fine, 6, 1e-3);
    fine.meshLines[1] = {0, 1e-3, 2e-3, 2.5e-3, 3e-3, 4e-3, 5e-3};
    fine.lineCount[1] = 7;
    const double fineStep = vacuumStep(fine);
    EXPECT_LT(fineStep, coarseStep * 0.9);
}

TEST(TimeStep, SlowerMediumAllowsLongerStep) {
    // Everywhere eps_r = 4: the wave speed halves, so the limit doubles.
    Geometry geometry;
    FdtdEngine vacuum(geometry, 1);
    uniformMesh(vacuum, 5, 1e-3);
    const double vacuumDt = vacuumStep(vacuum);

    FdtdEngine dielectric(geometry, 1);
    uniformMesh(dielectric, 5, 1e-3);
    dielectric.backgroundEpsR = 4.0;
    EXPECT_NEAR(vacuumStep(dielectric) / vacuumDt, 2.0, 1e-6);
}
