// Field views: the command-line options and their error numbers, node values in
// physical units on a non-uniform mesh (border nodes included), and a run whose
// views cannot be placed or written.
#include <gtest/gtest.h>

#include "tests/TestSupport.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "common/ErrorNumbers.hpp"
#include "driver/Simulation.hpp"
#include "driver/ViewOptions.hpp"
#include "probes/Probe.hpp"
#include "results/NodeFields.hpp"

using namespace fendrix;

namespace {

int readOptions(const std::vector<std::string>& args, ViewRequest& request) {
    std::vector<const char*> arguments;
    // The command line hands the view reader only the view options.
    for (const std::string& a : args)
        if (isViewOption(a.c_str())) arguments.push_back(a.c_str());
    return readViewOptions(arguments, request);
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
    // At most 32 planes of each kind and 64 frequencies, exactly.
    const auto many = [](int planes, int frequencies, const std::string& kind) {
        std::vector<std::string> args = {"--snapshot-every=5"};
        if (kind == "--snapshot-plane=") args.push_back("--map-plane=x:0");
        for (int i = 0; i < planes; ++i) args.push_back(kind + "z:0." + std::to_string(i));
        std::string list = "--map-freq=1e9";
        for (int i = 1; i < frequencies; ++i) list += ",2e9";
        args.push_back(list);
        return args;
    };
    const struct { int planes, frequencies; std::string kind; int status; } limits[] = {
        {32, 64, "--map-plane=", 0},      {33, 1, "--map-plane=", run_error::kViewCombination},
        {32, 1, "--snapshot-plane=", 0}, {33, 1, "--snapshot-plane=", run_error::kViewCombination},
        {1, 65, "--map-plane=", run_error::kViewCombination},
    };
    for (const auto& c : limits) {
        ViewRequest request;
        EXPECT_EQ(readOptions(many(c.planes, c.frequencies, c.kind), request), c.status)
            << c.planes << " " << c.kind << c.frequencies;
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
            whole->engine->sweepPlan.stepsPerSweep = parts->engine->sweepPlan.stepsPerSweep = sweep;
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

// The maps' H and sheet current against a hand computation from the stored
// line integrals: H_a at a node is the mean of the four faces around it
// across a, over the dual edge; J on a z-plane is z x (H half a cell above -
// H half a cell below), each the mean of the two faces beside the node; both
// summed with e^(-j w t) at H's time, half a step after E, and divided by the
// wave incident at port 1, (V - R I) / 2.
TEST(FieldViews, MapsOfHAndCurrentMatchAHandComputation) {
    using namespace testing_support;
    using cd = std::complex<double>;
    const auto dir = scratchDir("map_values");
    auto sim = simulationOf(boxDescription(12, 10, 9,
                                           "Dielectric 4.4 0.02\nCube 0,0,0 0.011,0.009,0.003\n/\n"
                                           "Electric 1 0 50 x 0.004,0.004,0.004 0.006,0.004,0.004\n",
                                           "Sim 0 1e-3 4 " + (dir / "out.dat").string()));
    ASSERT_TRUE(sim);
    FdtdEngine& g = *sim->engine;
    FieldViews& views = sim->views;
    views.request.mapPlanes = {{2, 0.004}};
    views.request.mapFrequencies = {3e9};
    const std::uint32_t chunk = 12, x = 5, y = 5, z = 4;
    ASSERT_EQ(views.prepare(g, sim->results, chunk, 0, 0), 0);
    const auto h = [&](int c, std::uint32_t i, std::uint32_t j, std::uint32_t k) {
        return double(g.hField[g.fieldIndex(i, j, k, c)]);
    };
    cd sums[5] = {}, voltage = 0, current = 0;  // Hx, Hy, Hz, Jx, Jy
    const double w = -2 * 3.141592653589793 * 3e9;
    const auto sample = [&] {
        const cd phase = std::polar(1.0, w * g.fieldTime(true));
        sums[0] +=
            0.25e3 * (h(0, x, y - 1, z - 1) + h(0, x, y, z - 1) + h(0, x, y - 1, z) + h(0, x, y, z)) * phase;
        sums[1] +=
            0.25e3 * (h(1, x - 1, y, z - 1) + h(1, x, y, z - 1) + h(1, x - 1, y, z) + h(1, x, y, z)) * phase;
        sums[2] +=
            0.25e3 * (h(2, x - 1, y - 1, z) + h(2, x, y - 1, z) + h(2, x - 1, y, z) + h(2, x, y, z)) * phase;
        const double hyAbove = 0.5e3 * (h(1, x - 1, y, z) + h(1, x, y, z));
        const double hyBelow = 0.5e3 * (h(1, x - 1, y, z - 1) + h(1, x, y, z - 1));
        const double hxAbove = 0.5e3 * (h(0, x, y - 1, z) + h(0, x, y, z));
        const double hxBelow = 0.5e3 * (h(0, x, y - 1, z - 1) + h(0, x, y, z - 1));
        sums[3] += -(hyAbove - hyBelow) * phase;
        sums[4] += (hxAbove - hxBelow) * phase;
        voltage += sim->results.ports[0]->value() * std::polar(1.0, w * g.fieldTime(false));
        current += sim->results.sourceCurrent->value() * phase;
    };
    views.start();
    sample();
    for (int n = 0; n < 60; ++n) {
        views.runChunk(chunk);
        sample();
    }
    captured(0, [&] { views.finish(); return 0; });
    ASSERT_FALSE(views.lost());

    // Blocks after the '_': E, H, J magnitudes and phases (3 floats per node,
    // x fastest), each after its 64-bit byte count.
    const std::string file = readFile(dir / "out_views" / "map_z4_0.vtr");
    const std::size_t data = file.find("encoding=\"raw\">\n   _") + 20;
    const std::size_t nodes = 12 * 10, node = y * 12 + x;
    const auto value = [&](int quantity, int c) {
        float magnitude, phase;
        const std::size_t block = data + 2 * quantity * (8 + 12 * nodes);
        std::memcpy(&magnitude, file.data() + block + 8 + 4 * (3 * node + c), 4);
        std::memcpy(&phase, file.data() + block + (8 + 12 * nodes) + 8 + 4 * (3 * node + c), 4);
        return std::polar(double(magnitude), phase / 57.29577951308232);
    };
    const cd incident = 0.5 * (voltage - 50.0 * current);
    double largest = 0;
    for (const cd& s : sums) largest = std::max(largest, std::abs(s / incident));
    ASSERT_GT(largest, 0.0);
    for (int k = 0; k < 5; ++k) {
        const cd want = sums[k] / incident, got = value(k < 3 ? 1 : 2, k % 3);
        EXPECT_LT(std::abs(got - want), 1e-4 * std::abs(want) + 1e-6 * largest)
            << k << ": " << got << " against " << want;
    }
}
