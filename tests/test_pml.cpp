// The perfectly matched layer (--pml): it absorbs what conducting walls keep,
// stays bounded over long runs, gives the same fields on any number of
// threads, windows and processes, and refuses what cannot work inside it.
#include <cstring>

#include "tests/TestSupport.hpp"

using namespace fendrix;

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// A 1 mm box of n lines per axis with a short z-directed port in the middle
// (`resistor` ohms, x for none), a substrate on the floor and a strip on it,
// both running through the faces; `boundary` codes as on the Boundary line.
// The pulse is a Gaussian derivative, which leaves no charge behind on a port
// without resistor. Runs end after two pulse lengths.
std::string openBox(int n, const std::string& boundary, const std::string& resistor = "50") {
    const double c = ((n - 1) / 2) * 1e-3, top = (n - 1) * 1e-3;
    char text[512];
    std::snprintf(
        text, sizeof text,
        "Dielectric 4 0\nCube 0,0,0 %g,%g,0.003\n/\nMetal 0 0 0\nPolygon 0.003 2 0,%g %g,%g %g,%g 0,%g\n/\n"
        "Electric 1 2 %s x %g,%g,%g %g,%g,%g\n",
        top, top, c - 1e-3, top, c - 1e-3, top, c + 1e-3, c + 1e-3, resistor.c_str(), c, c, c, c, c,
        c + 2e-3);
    return "Sim 2 1e-9 4 out.dat\nFreq 3 1e9 5e9 5\nBoundary " + boundary + "\n" + meshLine('x', n, 1e-3) +
           meshLine('y', n, 1e-3) + meshLine('z', n, 1e-3) + text;
}

// Parsed and built with a layer of `cells` (0: none) on `threads` threads.
std::unique_ptr<Simulation> built(const std::string& description, std::uint32_t cells, int threads = 1) {
    auto sim = std::make_unique<Simulation>(threads);
    sim->engine->processorCount = threads, sim->engine->minCellsPerThread = 0;
    sim->engine->pmlCells = cells;
    std::string text = description;
    const Output r = captured(0, [&] {
        const int parsed = sim->parse(text.data());
        return parsed == 0 ? sim->setup() : parsed;
    });
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? std::move(sim) : nullptr;
}

}  // namespace

// The pulse's energy leaves through the layers; conducting walls keep it, and
// after it has gone nothing grows again (the frequency shift keeps the layer
// stable at late time, also where the strip and the substrate cross it).
TEST(Pml, AbsorbsWhatWallsKeepAndStaysBounded) {
    auto walls = built(openBox(24, "0 0 0 0 0 0", "x"), 0);
    auto layer = built(openBox(24, "2 2 2 2 2 2", "x"), 6);
    ASSERT_TRUE(walls && layer);
    const std::uint32_t pulse = layer->engine->excitation->excitationLength;
    walls->engine->runSteps(pulse, false);
    layer->engine->runSteps(pulse, false);
    const double wallsPeak = walls->engine->fieldEnergy(), layerPeak = layer->engine->fieldEnergy();
    walls->engine->runSteps(1000, false);
    layer->engine->runSteps(1000, false);
    EXPECT_GT(walls->engine->fieldEnergy(), 0.5 * wallsPeak);
    const double gone = layer->engine->fieldEnergy();
    EXPECT_LT(gone, 1e-4 * layerPeak) << layerPeak;
    for (int chunk = 0; chunk < 4; ++chunk) layer->engine->runSteps(5000, false);
    EXPECT_LE(layer->engine->fieldEnergy(), 1.01 * gone);
}

// Threads split the planes, windows of several steps sweep them as a
// wavefront: every way gives the same fields bit for bit.
TEST(Pml, ThreadsAndWindowsGiveTheSameFields) {
    const std::string description = openBox(20, "2 2 2 0 2 1");
    auto one = built(description, 4);
    ASSERT_TRUE(one);
    one->engine->runSteps(60, false);
    const std::size_t bytes = 96 * std::size_t(one->engine->blockCount());
    struct Way { int threads; std::uint32_t window; };
    for (const Way way : {Way{2, 1}, Way{3, 1}, Way{1, 4}, Way{2, 5}}) {
        auto other = built(description, 4, way.threads);
        ASSERT_TRUE(other);
        other->engine->sweepPlan.stepsPerSweep = way.window;
        for (int chunk = 0; chunk < 3; ++chunk) other->engine->runSteps(20, false);
        EXPECT_EQ(std::memcmp(one->engine->eField, other->engine->eField, bytes), 0)
            << way.threads << " threads, window " << way.window;
    }
}

// What the option and the description must satisfy, checked before the build.
TEST(Pml, RefusesWhatCannotWork) {
    const fs::path dir = scratchDir("pml_errors");
    writeFile(dir / "box.txt", openBox(24, "2 2 2 2 2 2"));
    writeFile(dir / "walls.txt", openBox(14, "0 0 0 0 2 2"));
    writeFile(dir / "shut.txt", openBox(14, "0 0 0 0 1 0"));
    writeFile(dir / "radiation.txt",
              "Sim 2 1e-3 4 out.dat\nFreq 2 1e9 5e9 5\nRadiation 3e9 12 7 9\n"
              "Boundary 2 2 2 2 2 2\n" +
                  meshLine('x', 30, 1e-3) + meshLine('y', 30, 1e-3) + meshLine('z', 30, 1e-3) +
                  "Electric 1 2 50 x 0.014,0.014,0.014 0.014,0.014,0.016\n");
    writeFile(dir / "port.txt",
              boxDescription(24, 24, 24, "Electric 1 2 50 x 0.012,0.012,0.003 0.012,0.012,0.006\n"));
    writeFile(dir / "load.txt", boxDescription(24, 24, 24,
                                               "Electric 1 2 50 x 0.012,0.012,0.010 0.012,0.012,0.012\n"
                                               "Electric 0 0 50 x 0.012,0.021,0.010 0.02,0.021,0.010\n"));
    struct Case { std::string args; int status; std::string message; };
    const Case cases[] = {
        {"box.txt --pml=3", -50,
         "ERROR: --pml=3: the perfectly matched layer's thickness must be a whole number of cells from 4 to "
         "32"},
        {"box.txt --pml=33", -50, "ERROR: --pml=33:"},
        {"box.txt --pml=8x", -50, "ERROR: --pml=8x:"},
        {"box.txt --pml=", -50, "ERROR: --pml=:"},
        {"box.txt --pml=10", -51,
         "ERROR: --pml=10 needs at least 24 cells along x (10 for each of its 2 absorbing faces and 4 "
         "between), where the mesh has 23."},
        // Only the absorbing faces take a layer: 13 cells hold one of 8 along z only.
        {"walls.txt --pml=8", -51, "along z"},
        {"walls.txt --pml=4", 0, ""},
        {"port.txt --pml", -52,
         "ERROR: Electric line 7 (port 1) reaches into the 8-cell perfectly matched layer of face z low, "
         "which begins at z = 0.008 m."},
        {"load.txt --pml=8", -52,
         "ERROR: Electric line 8 (a plain element) reaches into the 8-cell perfectly matched layer of face x "
         "high"},
        {"radiation.txt --pml", -53,
         "ERROR: The far-field box of the Radiation line, 9 cells from the grid border, lies inside the "
         "8-cell perfectly matched layer of face x low. Set the Radiation line's margin to at least 10"},
        {"radiation.txt --pml=7", 0, ""},
        {"shut.txt --pml", 0,
         "WARNING: --pml: the Boundary line has no absorbing face (code 2), so there is no layer"},
    };
    for (const Case& c : cases) {
        const Output r = runFendrix(c.args + " -v0", dir, "ulimit -t 60");
        EXPECT_EQ(r.status, c.status & 0xFF) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
        if (c.status == 0) {
            EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << c.args << "\n" << r.err;
        }
    }
}

#if defined(FENDRIX_MPIEXEC) && !defined(FENDRIX_SANITIZED)
// The z layers belong to the processes that own their planes: over four
// processes of 5 planes each both 6-cell z layers span two processes. Two and
// four processes write the results file of one, byte for byte.
TEST(Pml, ProcessesGiveTheResultsOfOne) {
    const fs::path dir = scratchDir("pml_processes");
    writeFile(dir / "box.txt", openBox(20, "2 2 2 2 2 2"));
    const Output one = runFendrix("box.txt -v0 -r --pml=6", dir);
    ASSERT_EQ(one.status, 0) << one.err;
    const std::string reference = readFile(dir / "out.dat");
    for (int processes : {2, 4}) {
        fs::remove(dir / "out.dat");
        const Output r = runFendrix("box.txt -v0 -r --pml=6", dir,
                                    "export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 "
                                    "OMPI_MCA_rmaps_base_oversubscribe=1 OMPI_MCA_mpi_yield_when_idle=1",
                                    "timeout 120 " FENDRIX_MPIEXEC " -np " + std::to_string(processes));
        ASSERT_EQ(r.status, 0) << processes << r.err;
        EXPECT_EQ(readFile(dir / "out.dat"), reference) << processes << " processes";
    }
}
#endif
