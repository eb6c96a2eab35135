// What a run reports and the figures behind it: the set-up lines of readable
// mode word for word, the rate of the progress lines, the gather that brings
// each process's figures to process 0 (in a run of one process too), and the
// guard that refuses a grid whose storage sizes would wrap.
#include "tests/TestSupport.hpp"

#include "common/ErrorNumbers.hpp"
#include "common/ProcessGroup.hpp"
#include "driver/ProgressRate.hpp"

using namespace fendrix;

using namespace testing_support;
namespace fs = std::filesystem;

// 40 x 40 x 40 lines 1 mm apart: 16000 storage blocks, 18 * 16000 >> 16 = 4
// MBytes of domain, 192 * 16000 >> 20 = 2 MBytes of coefficients before the
// compression. The stable step of 1 mm cells is 1 mm / (c sqrt 3); ABORT ends
// the run after its first chunk.
TEST(Reports, SetUpLinesOfReadableModeWordForWord) {
    const fs::path dir = scratchDir("setup_lines");
    writeFile(dir / "box.txt", boxDescription(40, 40, 40, "Electric 1 0 50 x 0.019,0.02,0.02 0.021,0.02,0.02\n",
                                              "Sim 3 1e-3 4 out.dat"));
    writeFile(dir / "ABORT", "");
    const Output r = runFendrix("box.txt -v0", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string expected =
        "Verbose level: 0\n"
        "Domain size: 40 x 40 x 40 cells, 4 MBytes\n"
        "Timestep: 1.92583e-12 sec (Nyquist = 51 timesteps)\n"
        "Excitation signal: 744 timesteps\n"
        "Compressed size: 0 MBytes of 2 MBytes\n"
        "Max. number of timesteps: 2232\n"
        "Time for setup: ";
    EXPECT_EQ(r.out.substr(0, expected.size()), expected);
    const std::size_t end = r.out.find('\n', expected.size());
    const std::string next = " sec\nRunning FDTD simulation...\n";
    EXPECT_EQ(r.out.substr(end - 4, next.size()), next) << r.out;
}

// Steps since the previous line times the grid's mega cells, per second.
TEST(Reports, ProgressRateCountsTheStepsSinceThePreviousLine) {
    ProgressRate rate{2.5};
    const struct { std::uint32_t step; double milliseconds, expected; } lines[] = {
        {400, 1000, 1000.0}, {600, 1000, 500.0}, {600, 2000, 0.0}, {1000, 4000, 250.0},
    };
    for (const auto& line : lines) EXPECT_DOUBLE_EQ(rate.at(line.step, line.milliseconds), line.expected) << line.step;
}

// In a run of one process the gather hands back its own bytes as process 0's.
TEST(Reports, GatherInOneProcessReturnsItsOwnBytes) {
    ASSERT_FALSE(processes::many());
    const unsigned char mine[5] = {7, 0, 255, 3, 9};
    for (std::size_t bytes : {std::size_t{5}, std::size_t{1}, std::size_t{0}}) {
        std::vector<unsigned char> all = {42};
        std::vector<std::size_t> sizes = {99, 98};
        processes::gatherBytes(mine, bytes, all, sizes);
        EXPECT_EQ(all, std::vector<unsigned char>(mine, mine + bytes)) << bytes;
        EXPECT_EQ(sizes, std::vector<std::size_t>{bytes}) << bytes;
    }
}

// The coefficients take 192 bytes per block in 32-bit sizes: 22369621 blocks
// fit, one more does not (22 columns of 88 x lines, 251 y and 4051 z lines),
// nor does a grid whose block count itself passes 32 bits. Refused before
// anything is allocated.
TEST(Reports, GridsBeyond32BitStorageAreRefused) {
    const struct { std::uint32_t lines[3]; } grids[] = {{{88, 251, 4051}}, {{400000, 3000, 3000}}};
    for (const auto& grid : grids) {
        Geometry geometry;
        FdtdEngine engine(geometry, 1);
        for (int a = 0; a < 3; ++a) {
            engine.lineCount[a] = grid.lines[a];
            for (std::uint32_t i = 0; i < grid.lines[a]; ++i) engine.meshLines[a].push_back(i * 1e-3);
        }
        const Output r = captured(0, [&] { return engine.allocateCoefficients(); });
        EXPECT_EQ(r.status, parse_error::kGridTooLarge) << grid.lines[0];
        char message[128];
        std::snprintf(message, sizeof message, "ERROR: Grid of %u x %u x %u mesh lines is too large for this simulator.\n",
                      grid.lines[0], grid.lines[1], grid.lines[2]);
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(engine.caTable, nullptr);
    }
}
