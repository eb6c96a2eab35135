// Field views: the command-line options and their error numbers, node values in
// physical units on a non-uniform mesh (border nodes included), and a run whose
// views cannot be placed or written.
#include <gtest/gtest.h>

#include "tests/TestSupport.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "common/ErrorNumbers.hpp"
#include "driver/ViewOptions.hpp"
#include "results/NodeFields.hpp"

namespace {

int readOptions(std::vector<std::string> args, ViewRequest& request) {
    args.insert(args.begin(), {"fendrix", "d.txt"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return readViewOptions(static_cast<int>(argv.size()), argv.data(), request);
}

}  // namespace

TEST(FieldViews, OptionsAreReadOrRejectedWithTheirOwnNumber) {
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"-v0", "--snapshot-every=25", "--snapshot-plane=z:-1.5e-3", "-t2"}, 0},
        {{"--map-plane=x:0", "--map-freq=1e9,2.5e9", "--map-freq=3e9"}, 0},
        {{"--snapshot-every=0"}, run_error::kViewInterval},
        {{"--snapshot-every=12x"}, run_error::kViewInterval},
        {{"--snapshot-every=3000000000"}, run_error::kViewInterval},
        {{"--snapshot-every=5", "--snapshot-plane=w:0.1"}, run_error::kViewPlane},
        {{"--snapshot-every=5", "--snapshot-plane=z0.1"}, run_error::kViewPlane},
        {{"--map-plane=z:", "--map-freq=1e9"}, run_error::kViewPlane},
        {{"--map-plane=z:0", "--map-freq=1e9,"}, run_error::kViewFrequency},
        {{"--map-plane=z:0", "--map-freq=-1e9"}, run_error::kViewFrequency},
        {{"--map-plane=z:0", "--map-freq=inf"}, run_error::kViewFrequency},
        {{"--snapshot-plane=z:0"}, run_error::kViewCombination},
        {{"--map-plane=z:0"}, run_error::kViewCombination},
        {{"--map-freq=1e9"}, run_error::kViewCombination},
        {{"--snapshot-evry=5"}, run_error::kViewCombination},
    };
    for (const auto& c : cases) {
        ViewRequest request;
        EXPECT_EQ(readOptions(c.args, request), c.status) << c.args.back();
        if (c.status == 0) {
            EXPECT_TRUE(request.any());
        }
    }
    ViewRequest request;
    ASSERT_EQ(readOptions(cases[1].args, request), 0);
    EXPECT_EQ(request.mapFrequencies, (std::vector<double>{1e9, 2.5e9, 3e9}));
    EXPECT_EQ(request.mapPlanes[0].axis, 0);
    EXPECT_FALSE(isViewOption("-v0"));
}

// A uniform field stored as line integrals on an uneven mesh reads back as the
// same field at every node, the border nodes too; a jump of tangential H
// across a plane is a sheet current n x (H above - H below).
TEST(FieldViews, NodeValuesAreFieldsInPhysicalUnitsEverywhere) {
    testing_support::HandGrid grid(5, 4, 6);
    FdtdEngine& engine = grid.engine;
    engine.meshLines[0] = {0.0, 1e-3, 3e-3, 3.5e-3, 6e-3};
    engine.meshLines[2] = {0.0, 2e-3, 2.5e-3, 4e-3, 7e-3, 8e-3};
    const double e0[3] = {1.0, -2.0, 3.0}, h0[3] = {0.5, 0.25, -4.0};
    const std::uint32_t sheet = 3;  // H above z line 3 is h0, below it 0
    for (std::uint32_t z = 0; z < 6; ++z)
        for (std::uint32_t y = 0; y < 4; ++y)
            for (std::uint32_t x = 0; x < 5; ++x) {
                const std::uint32_t p[3] = {x, y, z};
                for (int c = 0; c < 3; ++c) {
                    const std::uint32_t f = engine.fieldIndex(x, y, z, c);
                    engine.eField[f] = static_cast<float>(e0[c] * engine.cellSize(c, p[c], false));
                    const bool above = z >= sheet || c == 2;
                    engine.hField[f] =
                        above ? static_cast<float>(h0[c] * engine.cellSize(c, p[c], true)) : 0.0f;
                }
            }
    const NodeFields nodes(engine);
    for (std::uint32_t z = 0; z < 6; ++z)
        for (std::uint32_t x = 0; x < 5; ++x) {
            const std::uint32_t node[3] = {x, 3, z};
            float e[3], h[3];
            nodes.electric(node, e);
            nodes.magnetic(node, h);
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(e[c], e0[c], 1e-5) << x << " " << z << " " << c;
                if (z > sheet || c == 2) {
                    EXPECT_NEAR(h[c], h0[c], 1e-5) << x << " " << z << " " << c;
                }
            }
        }
    const std::uint32_t onSheet[3] = {2, 1, sheet};
    float j[3];
    nodes.sheetCurrent(2, onSheet, j);
    EXPECT_NEAR(j[0], -h0[1], 1e-5);  // z x (Hx, Hy) = (-Hy, Hx)
    EXPECT_NEAR(j[1], h0[0], 1e-5);
    EXPECT_EQ(j[2], 0.0f);
    const std::uint32_t offSheet[3] = {2, 1, sheet + 1};
    nodes.sheetCurrent(2, offSheet, j);
    EXPECT_NEAR(j[0], 0.0f, 1e-5);
}

// Snapshots cut chunks into parts: the parts step the same fields as the
// whole chunk, bit for bit, with one or several steps per sweep and thread.
TEST(FieldViews, AChunkCutInPartsStepsTheSameFields) {
    const std::string text = testing_support::boxDescription(
        13, 10, 12, "Dielectric 4.4 0.02\nCube 0,0,0.004 0.005,0.006,0.008\n/\n"
                    "Electric 1 0 50 x 0.004,0.004,0.006 0.006,0.004,0.006\n");
    for (std::uint32_t sweep : {1u, 3u})
        for (int threads : {1, 2}) {
            auto whole = testing_support::simulationOf(text, threads);
            auto parts = testing_support::simulationOf(text, threads);
            ASSERT_TRUE(whole && parts);
            whole->engine->stepsPerSweep = parts->engine->stepsPerSweep = sweep;
            whole->engine->runSteps(40);
            parts->engine->runSteps(7, false);
            parts->engine->runSteps(1, false);
            parts->engine->runSteps(32);
            const std::size_t floats = 24 * whole->engine->blockCount();
            EXPECT_EQ(std::memcmp(whole->engine->eField, parts->engine->eField, 4 * floats), 0)
                << sweep << " steps per sweep, " << threads << " threads";
        }
}

// Views that do not fit the run stop it before it steps; views that cannot be
// written are reported, the results are still written, and the status says
// the views are incomplete.
TEST(FieldViews, MisplacedViewsStopTheRunUnwritableViewsDoNot) {
    using namespace testing_support;
    auto dir = scratchDir("views");
    std::string mesh;
    for (char axis : {'x', 'y', 'z'}) mesh += std::string(1, axis) + "Mesh 0,0.001,0.002,0.003,0.004,0.005\n";
    writeFile(dir / "d.txt", "Sim 2 1e-30 4 out.dat\nFreq 2 1e9 5e9 5\nBoundary 2 2 2 2 2 2\n" + mesh +
                                 "Electric 1 0 50 x 0.002,0.002,0.002 0.003,0.002,0.002\n");
    auto r = runFendrix("d.txt --map-plane=y:0.0051 --map-freq=3e9", dir);
    EXPECT_EQ(r.status, run_error::kViewPlaneOutside & 0xFF) << r.err;
    r = runFendrix("d.txt --map-plane=y:0.002 --map-freq=3e12", dir);
    EXPECT_EQ(r.status, run_error::kViewFrequencyAliased & 0xFF) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.dat"));

    writeFile(dir / "out_views", "a file where the views' folder would go");
    r = runFendrix("d.txt --snapshot-every=3 --map-plane=y:0.002 --map-freq=3e9", dir);
    EXPECT_EQ(r.status, run_error::kViewsLost & 0xFF);
    EXPECT_NE(r.err.find("ERROR: Can't write field view"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "out.dat"));
}
