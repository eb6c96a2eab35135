// The far field at several frequencies in one run: each extra results file is
// the file of a separate run whose Radiation line names that frequency, the
// main file stays the one without the option, on any thread count and
// process count; the table's gains follow from its own columns and the port's
// S11; bad frequency lists end the run before it starts, each with its number.
#include "common/ErrorNumbers.hpp"
#include "tests/TestSupport.hpp"

using namespace fendrix;

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// A one-cell driven gap in free space (a short dipole along z) in a box of
// absorbing faces: band 2 to 4 GHz in five points, the far field at
// `frequency`; the step limit ends the run after three pulse lengths.
std::string dipole(const std::string& frequency, bool radiation = true) {
    return "Sim 3 1e-5 4 out.dat\nFreq 2 2e9 4e9 5\n" +
           (radiation ? "Radiation " + frequency + " 12 7 4\n" : std::string()) + "Boundary 2 2 2 2 2 2\n" +
           meshLine('x', 21, 0.003, -0.03) + meshLine('y', 21, 0.003, -0.03) + meshLine('z', 21, 0.003, -0.03) +
           "Electric 1 2 50 x 0,0,0 0,0,0.003\n";
}

struct Row {
    double frequency, directivity, theta, phi, efficiency, gain, realized, s11, frontToBack, e, h;
    std::string dataset;
};

std::vector<Row> readTable(const fs::path& path) {
    std::istringstream lines(readFile(path));
    std::string line;
    std::getline(lines, line);  // the column names
    std::vector<Row> rows;
    while (std::getline(lines, line)) {
        Row r{};
        char name[256] = "";
        if (std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%255s", &r.frequency,
                        &r.directivity, &r.theta, &r.phi, &r.efficiency, &r.gain, &r.realized, &r.s11,
                        &r.frontToBack, &r.e, &r.h, name) == 12)
            r.dataset = name;
        rows.push_back(r);
    }
    return rows;
}

}  // namespace

TEST(FarFieldFrequencies, EachFileIsTheRunAtItsFrequency) {
    const fs::path dir = scratchDir("far_field_frequencies");
    std::map<std::string, std::string> alone;  // far-field frequency -> dataset of a run with that Radiation line
    for (const char* f : {"2.5e9", "3e9", "3.5e9"}) {
        writeFile(dir / "dipole.txt", dipole(f));
        ASSERT_EQ(runFendrix("dipole.txt -r", dir).status, 0);
        alone[f] = readFile(dir / "out.dat");
        ASSERT_TRUE(parseDataset(alone[f]).valid);
    }
    writeFile(dir / "dipole.txt", dipole("3e9"));
    for (const char* threads : {"-t1", "-t2"}) {
        // The Radiation line's own frequency in the list is the main file, once.
        const Output r = runFendrix(std::string("dipole.txt -r ") + threads + " --far-field-freq=3.5e9,2.5e9,3e9", dir);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(dir / "out.dat"), alone["3e9"]) << threads;
        EXPECT_EQ(readFile(dir / "out_ff2.5GHz.dat"), alone["2.5e9"]) << threads;
        EXPECT_EQ(readFile(dir / "out_ff3.5GHz.dat"), alone["3.5e9"]) << threads;
        EXPECT_FALSE(fs::exists(dir / "out_ff3GHz.dat"));

        const std::vector<Row> rows = readTable(dir / "out_farfield.csv");
        ASSERT_EQ(rows.size(), 3u);
        const std::vector<std::string> names = {"out_ff2.5GHz.dat", "out.dat", "out_ff3.5GHz.dat"};
        const double frequencies[] = {2.5e9, 3e9, 3.5e9};
        const Dataset at3GHz = parseDataset(alone["3e9"]);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            EXPECT_EQ(row.dataset, names[i]);
            EXPECT_NEAR(row.frequency, frequencies[i], 200.0);  // single precision
            const Dataset file = parseDataset(readFile(dir / names[i]));
            EXPECT_NEAR(row.directivity, file.reals.at("directivity_dBi")[0], 1e-4);
            EXPECT_NEAR(row.efficiency, file.reals.at("efficiency")[0], 1e-3 * std::fabs(row.efficiency));
            EXPECT_NEAR(row.gain, row.directivity + 10 * std::log10(row.efficiency / 100), 1e-3);
            EXPECT_NEAR(row.realized, row.gain + 10 * std::log10(1 - std::pow(10.0, row.s11 / 10)), 1e-3);
            // A short dipole along z: as strong backwards as forwards, and
            // sin^2 of the polar angle in both vertical cuts, half power 45
            // degrees either side of the horizon.
            EXPECT_NEAR(row.frontToBack, 0.0, 0.5);
            EXPECT_NEAR(row.e, 90.0, 8.0);
            EXPECT_NEAR(row.h, 90.0, 8.0);
        }
        // At an analysis frequency the port's S11 is the dataset's own.
        EXPECT_NEAR(rows[1].s11, 20 * std::log10(std::abs(at3GHz.complexes.at("S11")[2])), 1e-4);
    }
}

// Each mistake in the list, before the run: no results file.
TEST(FarFieldFrequencies, BadListsEndBeforeTheRun) {
    const fs::path dir = scratchDir("far_field_bad");
    std::string many = "--far-field-freq=";
    for (int i = 0; i < 65; ++i) {
        if (i > 0) many += ',';
        many += std::to_string(2000000000LL + i * 10000000LL);
    }
    const struct {
        std::string args;
        bool radiation;
        int status;
        const char* says;
    } cases[] = {
        {"--far-field-freq=2.5e9,x", true, run_error::kFarFieldFrequencyValue, "positive numbers in hertz"},
        {"--far-field-freq=", true, run_error::kFarFieldFrequencyValue, "positive numbers in hertz"},
        {"--far-field-freq=-2.5e9", true, run_error::kFarFieldFrequencyValue, "positive numbers in hertz"},
        {many, true, run_error::kFarFieldFrequencyCount, "at most 64"},
        {"--far-field-freq=2.5e9,3.5e9,2.5000000001e9", true, run_error::kFarFieldFrequencyTwice, "listed twice"},
        {"--far-field-freq=2.5e9", false, run_error::kFarFieldWithoutRadiation, "no Radiation line"},
        {"--far-field-freq=2.5e9,4.5e9", true, run_error::kFarFieldOutsideBand, "outside the band"},
        {"--far-field-freq=1.9e9", true, run_error::kFarFieldOutsideBand, "outside the band"},
        {"--far-field-freq=2.5e9,50e9", true, run_error::kFarFieldAliased, "half the rate"},
    };
    for (const auto& c : cases) {
        writeFile(dir / "dipole.txt", dipole("3e9", c.radiation));
        fs::remove(dir / "out.dat");
        const Output r = runFendrix("dipole.txt " + c.args, dir);
        EXPECT_EQ(r.status, 256 + c.status) << c.args;
        EXPECT_NE(r.err.find("ERROR: "), std::string::npos) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.dat")) << c.args;
    }
}

#if defined(FENDRIX_MPIEXEC) && !defined(FENDRIX_SANITIZED)
// The faces' spectra of every frequency are gathered from the processes that
// own their planes: two processes give the files of one.
TEST(FarFieldFrequencies, ProcessesGiveTheFilesOfOne) {
    const fs::path dir = scratchDir("far_field_processes");
    writeFile(dir / "dipole.txt", dipole("3e9"));
    const std::string args = "dipole.txt -r --far-field-freq=2.5e9,3.5e9";
    ASSERT_EQ(runFendrix(args, dir).status, 0);
    const std::string files[] = {"out.dat", "out_ff2.5GHz.dat", "out_ff3.5GHz.dat", "out_farfield.csv"};
    std::map<std::string, std::string> one;
    for (const std::string& f : files) one[f] = readFile(dir / f), fs::remove(dir / f);
    const Output r = runFendrix(args, dir,
                                "export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 "
                                "OMPI_MCA_rmaps_base_oversubscribe=1 OMPI_MCA_mpi_yield_when_idle=1",
                                "timeout 120 " FENDRIX_MPIEXEC " -np 2");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& f : files) EXPECT_EQ(readFile(dir / f), one[f]) << f;
}
#endif
