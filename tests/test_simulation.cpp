// Whole runs of the real program: run control, failure handling, determinism
// across thread counts, and physics checks against known answers.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <string>

#include "tests/DatasetReader.hpp"
#include "tests/TestSupport.hpp"

using namespace testing_support;

namespace {

std::string uniformMesh(char axis, int lines, double cell) {
    std::string text(1, axis);
    text += "Mesh ";
    for (int i = 0; i < lines; ++i) {
        char value[32];
        std::snprintf(value, sizeof value, "%s%g", i ? "," : "", i * cell);
        text += value;
    }
    return text + "\n";
}

// A small open box (12 x 10 x Nz lines of 1 mm) with a 50-ohm port along x in
// the middle, a dielectric block and a metal strip; `sim` is the Sim line's
// three numbers.
std::string smallBox(const std::string& sim, int zLines = 8, const std::string& extra = "") {
    // The port sits on the middle z line, away from the absorbing faces.
    const std::string zPort = "0.00" + std::to_string(zLines / 2);
    return "Sim " + sim + " out.dat\n"
           "Freq 2 1e9 5e9 5\n"
           "Boundary 2 2 2 2 2 2\n" +
           uniformMesh('x', 12, 0.001) + uniformMesh('y', 10, 0.001) +
           uniformMesh('z', zLines, 0.001) + extra + "Electric 1 0 50 x 0.004,0.004," + zPort +
           " 0.006,0.004," + zPort + "\n";
}

double dB(std::complex<double> s) { return 20.0 * std::log10(std::abs(s)); }

}  // namespace

TEST(Simulation, ReadableRunEndsByDecayWithCompleteResults) {
    auto dir = scratchDir("readable");
    writeFile(dir / "box.txt", smallBox("0 1e-3 4"));
    auto r = runFendrix("box.txt -v0", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Domain size: 12 x 10 x 8 cells"), std::string::npos);
    EXPECT_NE(r.out.find("Running FDTD simulation...\n"), std::string::npos);
    EXPECT_NE(r.out.find("Performed "), std::string::npos);
    EXPECT_EQ(r.err, "");
    auto data = parseDataset(readFile(dir / "out.dat"));
    ASSERT_TRUE(data.valid);
    EXPECT_EQ(data.complexes["S11"].size(), 5u);
    EXPECT_EQ(data.reals["frequency"].size(), 5u);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.dat.partial"));
}

// A pulse with a static part (kind 2 has a small DC content) in a box of six
// absorbing faces: once it has left, the energy falls far below its peak. Edges
// shared by two faces, and the normal H on low faces, must not hold a static
// remainder that keeps the energy up.
TEST(Simulation, AbsorbingFacesLetThePulseDecayCompletely) {
    auto dir = scratchDir("decay");
    writeFile(dir / "box.txt", smallBox("1000 1e-7 4"));
    auto r = runFendrix("box.txt -v0", dir);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");  // no step-limit warning: it ended by decay
}

TEST(Simulation, HostModePrintsSummaryThenRisingCodes) {
    auto dir = scratchDir("host");
    writeFile(dir / "box.txt", smallBox("0 1e-3 4"));
    auto r = runFendrix("box.txt", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.rfind("12x10x8, 0 MBytes, 1 threads... \t01", 0), 0u) << r.out;
    // Every later code is a tab and two digits, rising.
    int last = 2;
    for (std::size_t at = r.out.find("\t01") + 3; at < r.out.size(); at += 3) {
        ASSERT_EQ(r.out[at], '\t') << r.out;
        int code = std::stoi(r.out.substr(at + 1, 2));
        EXPECT_GT(code, last);
        last = code;
    }
}

TEST(Simulation, StepLimitAbortFileAndManyThreadsEndCleanly) {
    auto dir = scratchDir("control");
    writeFile(dir / "limit.txt", smallBox("1 0 4"));
    auto r = runFendrix("limit.txt -v0", dir);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "WARNING: Maximum time reached before energy decayed.\n");
    EXPECT_TRUE(parseDataset(readFile(dir / "out.dat")).valid);

    // A stale ABORT file stops the run after its first chunk; results are still
    // written. Sixteen threads on a grid of three z-planes: the surplus threads
    // take part in every barrier and update nothing.
    writeFile(dir / "ABORT", "");
    writeFile(dir / "thin.txt", smallBox("1 0 4", 3));
    std::filesystem::remove(dir / "out.dat");
    r = runFendrix("thin.txt -v0 -t16", dir);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "WARNING: User termination before energy decayed.\n");
    EXPECT_NE(r.out.find("Performed 12 iterations"), std::string::npos) << r.out;
    EXPECT_TRUE(parseDataset(readFile(dir / "out.dat")).valid);
    EXPECT_TRUE(std::filesystem::exists(dir / "ABORT"));
}

TEST(Simulation, UnstableRunStopsWithErrorAndKeepsOldResults) {
    auto dir = scratchDir("unstable");
    // A negative loss tangent is a gain medium: the field grows without bound.
    std::string gain = "Dielectric 1 -50\nCube 0,0,0 0.011,0.009,0.007\n/\n";
    writeFile(dir / "gain.txt", smallBox("0 1e-3 4", 8, gain));
    writeFile(dir / "out.dat", "previous results");
    auto r = runFendrix("gain.txt -v0", dir);
    EXPECT_EQ(r.status, exitCode(-32));
    EXPECT_NE(r.err.find("ERROR: Field energy is not finite"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir / "out.dat"), "previous results");
}

// Under an address-space limit of 300 MB, a grid whose coefficients alone need
// about 1.3 GB (and 1.9 GB for the whole run) ends with the memory message and a non-zero status, not a crash.
TEST(Simulation, GridBeyondMemoryEndsWithTheMemoryMessage) {
#ifdef FENDRIX_SANITIZED
    GTEST_SKIP() << "sanitizer runtimes cannot start under an address-space limit";
#endif
    auto dir = scratchDir("memory");
    std::string text = "Sim 0 1e-3 4 out.dat\nFreq 2 1e9 5e9 5\nBoundary 2 2 2 2 2 2\n" +
                       uniformMesh('x', 300, 0.001) + uniformMesh('y', 300, 0.001) +
                       uniformMesh('z', 300, 0.001);
    writeFile(dir / "huge.txt", text);
    auto r = runFendrix("huge.txt -v0", dir, "ulimit -v 300000");
    EXPECT_EQ(r.status, exitCode(-20));
    EXPECT_NE(r.out.find("Domain size: 300 x 300 x 300 cells, 1853 MBytes"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("ERROR: Not enough memory available.\nERROR: Input file corrupt (-20).\n"),
              std::string::npos)
        << r.err;
}

TEST(Simulation, WithoutPortsNothingIsExcitedAndNothingSaved) {
    auto dir = scratchDir("noport");
    std::string text = smallBox("0 1e-3 4");
    text = text.substr(0, text.find("Electric"));
    writeFile(dir / "none.txt", text);
    auto r = runFendrix("none.txt -v0", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "WARNING: No excitation.\nERROR: Can't save results into file.\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.dat"));
}

TEST(Simulation, ResultsAreBitIdenticalForAnyThreadCount) {
    auto dir = scratchDir("threads");
    // Threshold 0: only the step limit ends the run, so every run does the same
    // steps. 30 x 24 x 20 lines, enough cells for two stepping threads, and a
    // far-field request, whose transform runs on the same threads.
    std::string text = "Sim 2 0 4 out.dat\nFreq 2 1e9 5e9 5\nRadiation 3e9 12 7 2\n"
                       "Boundary 2 2 2 2 2 2\n";
    text += uniformMesh('x', 30, 0.001);
    text += uniformMesh('y', 24, 0.001);
    text += uniformMesh('z', 20, 0.001);
    text += "Dielectric 4.4 0.02\nCube 0,0,0 0.029,0.023,0.002\n/\n"
            "Metal 1.7e-8 35e-6 0\nPolygon 0.002 2 0.005,0.011 0.025,0.011 0.025,0.013 0.005,0.013\n/\n"
            "Electric 1 2 50 x 0.005,0.012,0 0.005,0.012,0.002\n";
    writeFile(dir / "box.txt", text);
    std::string reference;
    for (int threads : {1, 2, 3}) {  // more threads: see the stepping tests
        auto r = runFendrix("box.txt -t" + std::to_string(threads), dir);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string bytes = readFile(dir / "out.dat");
        ASSERT_TRUE(parseDataset(bytes).valid);
        if (reference.empty())
            reference = bytes;
        else
            EXPECT_EQ(bytes, reference) << threads << " threads";
    }
}

// A closed 20 x 10 x 15 mm cavity with conducting walls, filled with a lossy
// medium: a short port along y in it sees the TE101 resonance c/2 * sqrt(1/a^2 + 1/d^2) = 12.49 GHz as
// the deepest dip of |S11|.
TEST(Simulation, CavityResonanceAppearsAtTheTextbookFrequency) {
    auto dir = scratchDir("cavity");
    std::string text = "Sim 0 1e-3 4 out.dat\n"
                       "Freq 2 10e9 15e9 101\n"
                       "Boundary 0 0 0 0 0 0\n" +
                       uniformMesh('x', 21, 0.001) + uniformMesh('y', 11, 0.001) +
                       uniformMesh('z', 16, 0.001) +
                       "Dielectric 1 0.02\nCube 0,0,0 0.02,0.01,0.015\n/\n"
                       "Electric 1 1 50 x 0.005,0.004,0.005 0.005,0.006,0.005\n";
    writeFile(dir / "cavity.txt", text);
    auto r = runFendrix("cavity.txt -v0 -t2", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    auto data = parseDataset(readFile(dir / "out.dat"));
    ASSERT_TRUE(data.valid);
    const auto& s11 = data.complexes["S11"];
    const auto& f = data.reals["frequency"];
    std::size_t best = 0;
    for (std::size_t i = 0; i < s11.size(); ++i)
        if (std::abs(s11[i]) < std::abs(s11[best])) best = i;
    const double analytic = 0.5 * 299792458.0 * std::sqrt(1 / (0.02 * 0.02) + 1 / (0.015 * 0.015));
    EXPECT_NEAR(f[best] / analytic, 1.0, 0.015) << "dip at " << f[best];
    EXPECT_LT(dB(s11[best]), -0.2);  // a short probe couples weakly
    for (const auto& s : s11) EXPECT_LE(std::abs(s), 1.0 + 1e-3);  // a passive load
}

// The bundled 50-ohm microstrip through-line: nearly everything passes, little
// is reflected, and no more power comes out than goes in.
TEST(Simulation, MicrostripThroughLineIsMatchedAndPassive) {
    auto dir = scratchDir("microstrip");
    std::filesystem::copy_file(std::filesystem::path(FENDRIX_SOURCE_DIR) / "examples/microstrip_line.txt",
                               dir / "line.txt");
    auto r = runFendrix("line.txt -t2", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    auto data = parseDataset(readFile(dir / "microstrip_line.dat"));
    ASSERT_TRUE(data.valid);
    const auto& s11 = data.complexes["S11"];
    const auto& s21 = data.complexes["S21"];
    ASSERT_EQ(s11.size(), 81u);
    for (std::size_t i = 0; i < s11.size(); ++i) {
        EXPECT_LT(dB(s11[i]), -12.0) << i;
        EXPECT_GT(dB(s21[i]), -1.5) << i;
        EXPECT_LE(std::norm(s11[i]) + std::norm(s21[i]), 1.02) << i;
    }
}

namespace {

// A one-cell driven gap in free space (a Hertzian dipole along z) at `offset`
// metres from the origin on every axis; 41 lines of 3 mm, Huygens box 10 cells in.
std::string shortDipole(double offset) {
    std::string text = "Sim 0 1e-5 4 dipole.dat\nFreq 2 2e9 4e9 21\nRadiation 3e9 36 18 10\n"
                       "Boundary 2 2 2 2 2 2\n";
    for (char axis : {'x', 'y', 'z'}) {
        text += axis;
        text += "Mesh ";
        for (int i = 0; i < 41; ++i) {
            char value[32];
            std::snprintf(value, sizeof value, "%s%.9g", i ? "," : "", offset + (i - 20) * 0.003);
            text += value;
        }
        text += "\n";
    }
    char port[160];
    std::snprintf(port, sizeof port, "Electric 1 2 50 x %.9g,%.9g,%.9g %.9g,%.9g,%.9g\n", offset, offset,
                  offset, offset, offset, offset + 0.003);
    return text + port;
}

}  // namespace

// The textbook short dipole: directivity 1.5 (1.76 dBi), sin^2 of the polar
// angle, nulls along its axis, and all input power radiated.
TEST(Simulation, ShortDipoleHasTheTextbookPattern) {
    auto dir = scratchDir("dipole");
    writeFile(dir / "dipole.txt", shortDipole(0.0));
    auto r = runFendrix("dipole.txt", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    auto data = parseDataset(readFile(dir / "dipole.dat"));
    ASSERT_TRUE(data.valid);
    const double directivity = data.reals["directivity_dBi"].at(0);
    EXPECT_NEAR(directivity, 10 * std::log10(1.5), 0.3);
    EXPECT_NEAR(data.reals["efficiency"].at(0), 100.0, 10.0);
    const auto& pattern = data.reals["radiation"];
    const auto& elevations = data.reals["elevation"];
    const std::size_t A = data.reals["azimuth"].size();
    ASSERT_EQ(A, 37u);
    ASSERT_EQ(elevations.size(), 19u);
    const double peak = std::pow(10.0, directivity / 10);
    for (std::size_t e = 0; e < elevations.size(); ++e) {
        const double c = std::cos(elevations[e] * 3.141592653589793 / 180);
        for (std::size_t a = 0; a < A; ++a)
            EXPECT_NEAR(pattern[e * A + a] / peak, c * c, 0.02) << e << " " << a;
    }

    // Moved away from the origin (which then lies outside the Huygens box), the
    // same antenna radiates the same pattern.
    writeFile(dir / "moved.txt", shortDipole(0.25));
    r = runFendrix("moved.txt", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    auto moved = parseDataset(readFile(dir / "dipole.dat"));
    ASSERT_TRUE(moved.valid);
    EXPECT_NEAR(moved.reals["directivity_dBi"].at(0), directivity, 0.01);
    EXPECT_NEAR(moved.reals["efficiency"].at(0), data.reals["efficiency"].at(0), 0.5);
}
