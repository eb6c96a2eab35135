// Whole runs of the real program: command line, run control, failures, bit
// identity across thread counts, and physics against known answers.
#include <cmath>

#include "tests/TestSupport.hpp"

using namespace fendrix;

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// An open box of 12 x 10 x `zLines` lines (1 mm) with a 50-ohm port along x
// in its middle; `sim` is the Sim line's three numbers.
std::string smallBox(const std::string& sim, int zLines = 8, const std::string& extra = "") {
    const std::string z = std::to_string(zLines / 2 * 1e-3);
    return boxDescription(12, 10, zLines, extra + "Electric 1 0 50 x 0.004,0.004," + z + " 0.006,0.004," + z + "\n",
                          "Sim " + sim + " out.dat");
}

double dB(std::complex<double> s) { return 20.0 * std::log10(std::abs(s)); }
Dataset runAndRead(const fs::path& dir, const std::string& args, const std::string& results) {
    const Output r = runFendrix(args, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    return parseDataset(readFile(dir / results));
}

}  // namespace

TEST(Program, CommandLine) {
    const fs::path dir = scratchDir("command_line");
    writeFile(dir / "empty.txt", "");
    struct Case { std::string args; int status; std::string out, err; };
    const Case cases[] = {
        {"", -1, "FDTD simulator for electro-magnetics\n Fendrix 5.9\n", ""},
        {"nothing-here.txt -v1", -1, "Verbose level: 1\n", "ERROR: Cannot load input file 'nothing-here.txt'.\n"},
        {"empty.txt -t4 -v0 -bogus", -2, "Verbose level: 0\n",  // "-t" before "-v": not echoed yet
         "WARNING: unknown commandline argument: -bogus\nERROR: Input file corrupt (-2).\n"},
        {"empty.txt -v -t4", -2, "Verbose level: 0\nNumber of threads: 4\n", "ERROR: Input file corrupt (-2).\n"},
        {"empty.txt", -2, "", "ERROR: Input file corrupt (-2).\n"},
        {"empty.txt -t17", -30, "", "ERROR: Number of threads must be between 1 and 16 (got 17).\n"},
        {"empty.txt -tx", -30, "", "ERROR: Number of threads must be between 1 and 16 (got 0).\n"},
    };
    for (const Case& c : cases) {
        const Output r = runFendrix(c.args, dir);
        EXPECT_EQ(r.status, (c.status & 0xFF)) << c.args;
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << c.args;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args;
    }
}

// A pulse with a static part (kind 2) in a box of six absorbing faces decays
// completely: no edge or corner holds a static remainder. Readable mode
// reports, host mode prints the summary and rising progress codes.
TEST(Program, RunEndsByDecayInBothOutputModes) {
    const fs::path dir = scratchDir("decay");
    writeFile(dir / "box.txt", smallBox("1000 1e-7 4"));
    Output r = runFendrix("box.txt -v0", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no step-limit warning
    EXPECT_NE(r.out.find("Domain size: 12 x 10 x 8 cells"), std::string::npos);
    EXPECT_NE(r.out.find("Performed "), std::string::npos);
    const Dataset data = parseDataset(readFile(dir / "out.dat"));
    EXPECT_EQ(data.complexes.at("S11").size(), 5u);
    EXPECT_FALSE(fs::exists(dir / "out.dat.partial"));

    r = runFendrix("box.txt", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.rfind("12x10x8, 0 MBytes, 1 threads... \t01", 0), 0u) << r.out;
    int last = 2;
    for (std::size_t at = r.out.find("\t01") + 3; at < r.out.size(); at += 3) {
        ASSERT_EQ(r.out[at], '\t') << r.out;
        const int code = std::stoi(r.out.substr(at + 1, 2));
        EXPECT_GT(code, last);
        last = code;
    }
}

// The step limit and the abort file end a run with a warning and complete
// results; an unstable grid ends with an error and no results; a grid beyond
// memory ends with the memory message; without ports nothing is saved.
TEST(Program, EveryWayARunEnds) {
    const fs::path dir = scratchDir("endings");
    writeFile(dir / "limit.txt", smallBox("1 0 4"));
    Output r = runFendrix("limit.txt -v0", dir);
    EXPECT_EQ(r.err, "WARNING: Maximum time reached before energy decayed.\n");
    // One excitation length, rounded up to whole chunks (a quarter Nyquist interval).
    auto number = [&](const char* after) { return std::stoi(r.out.substr(r.out.find(after) + std::strlen(after))); };
    const int length = number("Excitation signal: "), steps = number("Performed ");
    EXPECT_TRUE(steps >= length && steps < length + number("(Nyquist = ") / 4) << steps;
    EXPECT_TRUE(parseDataset(readFile(dir / "out.dat")).valid);

    // Sixteen threads on three z-planes; a stale ABORT file stops the run
    // after its first chunk.
    writeFile(dir / "ABORT", "");
    writeFile(dir / "thin.txt", smallBox("1 0 4", 3));
    fs::remove(dir / "out.dat");
    r = runFendrix("thin.txt -v0 -t16", dir);
    EXPECT_EQ(r.err, "WARNING: User termination before energy decayed.\n");
    EXPECT_NE(r.out.find("Performed 12 iterations"), std::string::npos) << r.out;
    EXPECT_TRUE(parseDataset(readFile(dir / "out.dat")).valid);
    fs::remove(dir / "ABORT");

    // A negative loss tangent is a gain medium: the field grows without bound.
    writeFile(dir / "gain.txt", smallBox("0 1e-3 4", 8, "Dielectric 1 -50\nCube 0,0,0 0.011,0.009,0.007\n/\n"));
    writeFile(dir / "out.dat", "previous results");
    r = runFendrix("gain.txt -v0", dir);
    EXPECT_EQ(r.status, (-32 & 0xFF));
    EXPECT_NE(r.err.find("ERROR: Field energy is not finite"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir / "out.dat"), "previous results");

    writeFile(dir / "none.txt", boxDescription(12, 10, 8, ""));
    fs::remove(dir / "out.dat");
    r = runFendrix("none.txt -v0", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "WARNING: No excitation.\nERROR: Can't save results into file.\n");
    EXPECT_FALSE(fs::exists(dir / "out.dat"));

#ifndef FENDRIX_SANITIZED  // sanitizer runtimes cannot start under an address-space limit
    // Coefficients alone need about 1.3 GB; the address space is limited to 300 MB.
    writeFile(dir / "huge.txt", boxDescription(300, 300, 300, ""));
    r = runFendrix("huge.txt -v0", dir, "ulimit -v 300000");
    EXPECT_EQ(r.status, (-20 & 0xFF));
    EXPECT_NE(r.out.find("Domain size: 300 x 300 x 300 cells, 1853 MBytes"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("ERROR: Not enough memory available.\nERROR: Input file corrupt (-20).\n"), std::string::npos);
#endif
}

// Only the step limit ends these runs, so each does the same steps: the
// results file is the same byte for byte on 1, 2 and 3 threads, far field
// included (its transform runs on the same threads).
TEST(Program, ResultsAreBitIdenticalForAnyThreadCount) {
    const fs::path dir = scratchDir("threads");
    writeFile(dir / "box.txt", boardDescription(30, 24, 20, "0.005,0.011 0.025,0.011 0.025,0.013 0.005,0.013",
                                                "Electric 1 2 50 x 0.005,0.012,0 0.005,0.012,0.002\n"));
    std::string reference;
    for (int threads : {1, 2, 3}) {
        ASSERT_TRUE(runAndRead(dir, "box.txt -t" + std::to_string(threads), "out.dat").valid);
        const std::string bytes = readFile(dir / "out.dat");
        if (reference.empty()) reference = bytes;
        EXPECT_EQ(bytes, reference) << threads << " threads";
    }
}

// A closed 20 x 10 x 15 mm cavity in a lossy medium: the TE101 resonance
// c/2 sqrt(1/a^2 + 1/d^2) = 12.49 GHz is the deepest dip of |S11| of a short
// probe, and the cavity is passive.
TEST(Program, CavityResonanceAppearsAtTheTextbookFrequency) {
    const fs::path dir = scratchDir("cavity");
    writeFile(dir / "cavity.txt", cavityDescription(101));
    Dataset data = runAndRead(dir, "cavity.txt -v0 -t2", "out.dat");
    ASSERT_TRUE(data.valid);
    const auto& s11 = data.complexes["S11"];
    std::size_t best = 0;
    for (std::size_t i = 0; i < s11.size(); ++i) {
        if (std::abs(s11[i]) < std::abs(s11[best])) best = i;
        EXPECT_LE(std::abs(s11[i]), 1.0 + 1e-3);
    }
    const double analytic = 0.5 * 299792458.0 * std::sqrt(1 / (0.02 * 0.02) + 1 / (0.015 * 0.015));
    EXPECT_NEAR(data.reals["frequency"][best] / analytic, 1.0, 0.015);
    EXPECT_LT(dB(s11[best]), -0.2);
}

// The bundled 50-ohm microstrip through-line: nearly everything passes,
// little is reflected, no more power comes out than goes in.
TEST(Program, MicrostripThroughLineIsMatchedAndPassive) {
    const fs::path dir = scratchDir("microstrip");
    fs::copy_file(fs::path(FENDRIX_SOURCE_DIR) / "examples/microstrip_line.txt", dir / "line.txt");
    Dataset data = runAndRead(dir, "line.txt -t2", "microstrip_line.dat");
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

// A one-cell driven gap in free space, a Hertzian dipole along z: directivity
// 1.5 (1.76 dBi), sin^2 of the polar angle, all input power radiated; the same
// when moved so far that the origin lies outside the Huygens box.
TEST(Program, ShortDipoleHasTheTextbookPattern) {
    const fs::path dir = scratchDir("dipole");
    double reference = 0.0;
    for (double offset : {0.0, 0.25}) {
        char port[160];
        std::snprintf(port, sizeof port, "Electric 1 2 50 x %.9g,%.9g,%.9g %.9g,%.9g,%.9g\n", offset, offset,
                      offset, offset, offset, offset + 0.003);
        writeFile(dir / "dipole.txt", "Sim 0 1e-5 4 dipole.dat\nFreq 2 2e9 4e9 21\nRadiation 3e9 36 18 10\n"
                                      "Boundary 2 2 2 2 2 2\n" + meshLine('x', 41, 0.003, offset - 0.06) +
                                          meshLine('y', 41, 0.003, offset - 0.06) +
                                          meshLine('z', 41, 0.003, offset - 0.06) + port);
        Dataset data = runAndRead(dir, "dipole.txt", "dipole.dat");
        ASSERT_TRUE(data.valid);
        const double directivity = data.reals["directivity_dBi"].at(0);
        EXPECT_NEAR(directivity, 10 * std::log10(1.5), 0.3);
        EXPECT_NEAR(data.reals["efficiency"].at(0), 100.0, 10.0);
        if (offset == 0.0) reference = directivity;
        EXPECT_NEAR(directivity, reference, 0.01);
        const auto& pattern = data.reals["radiation"];
        const auto& elevations = data.reals["elevation"];
        const std::size_t A = data.reals["azimuth"].size();
        ASSERT_EQ(A * elevations.size(), 37u * 19u);
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            const double c = std::cos(elevations[i / A] * 3.141592653589793 / 180);
            EXPECT_NEAR(pattern[i] / std::pow(10.0, directivity / 10), c * c, 0.02) << i;
        }
    }
}
