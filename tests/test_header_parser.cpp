#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/Simulation.hpp"
#include "input/ParseErrors.hpp"
#include "input/ParseLocation.hpp"

namespace {

const char* const kSim = "Sim 5 1e-6 4 out.dat\n";
const char* const kFreq = "Freq 2 1e9 3e9 11\n";
const char* const kBoundary = "Boundary 2 2 2 2 2 2\n";
const char* const kMesh = "xMesh 0,0.001,0.002\nyMesh 0,0.001,0.002\nzMesh 0,0.001,0.002\n";

int parse(Simulation& sim, std::string text) { return sim.parse(text.data()); }
int parse(std::string text) {
    Simulation sim(1);
    return parse(sim, std::move(text));
}

}  // namespace

TEST(HeaderParser, MalformedHeadersGiveTheirNumbers) {
    const std::string sim = kSim, freq = kFreq, bnd = kBoundary, mesh = kMesh;
    struct Case { std::string text; int error; };
    const std::vector<Case> cases = {
        {"", -2},
        {"# only a comment", -1},
        {"# one\n# two", -1},
        {"Sim\t5 1e-6 4 out\n", -2},
        {"# c\nSimulation 5 1e-6 4 out\n", -2},
        {"Sim x 1e-6 4 out\n", -3},
        {"Sim 5,1e-6 4 out\n", -3},
        {"Sim 5 y 4 out\n", -4},
        {"Sim 5 1e-6 4\tout\n", -5},
        {"Sim 5 1e-6 0 out\n", -22},
        {"Sim 5 1e-6 4 out", -6},
        {sim + "Frq 2 1e9 3e9 11\n", -7},
        {sim + "Freq 22 1e9 3e9 11\n", -8},
        {sim + "Freq 2", -8},
        {sim + "Freq 2 1e9,3e9 11\n", -9},
        {sim + "Freq 2 1e9 x 11\n", -9},
        {sim + "Freq 2 1e9 3e9 11 \n", -10},
        {sim + "Freq 2 1e9 3e9 \n", -10},
        {sim + "Freq 2 1e9 3e9\n", -9},
        {"Sim 5 1e-6 4 out\r\nFreq 2 1e9 3e9 11\r\nBoundary 2 2 2 2 2 2\r\n", -10},
        {sim + "Freq 9 1e9 3e9 11\n" + bnd, -12},
        {sim + freq + "Radiation x 72 36 3\n" + bnd, -16},
        {sim + freq + "Radiation 2e9 72,36 3\n" + bnd, -17},
        {sim + freq + "Radiation 2e9 72 36,3\n" + bnd, -18},
        {sim + freq + "Radiation 2e9 72 36 3", -19},
        {sim + freq + "Radiation 2e9 72 1 3\n" + bnd, -23},
        {sim + freq + "Radiation 2e9 0 36 3\n" + bnd, -23},
        {sim + freq + "Radiation 2e9 3602 36 3\n" + bnd, -23},
        {sim + freq + "Radiation 2e9 99999999999999999999 36 3\n" + bnd, -23},
        {sim + "Freq 2 1e9 3e9 100001\n" + bnd, -25},
        {sim + "Freq 2 1e9 3e9 4000000000\n" + bnd, -25},
        {sim + freq + "Radiation 0 72 36 3\n" + bnd, -24},
        {sim + freq + "Radiation 3.1e9 72 36 3\n" + bnd, -24},
        {sim + "Freq 2 1e9 3e9 0\nRadiation 2e9 72 36 3\n" + bnd, -24},
        {sim + freq + "Radiation\n" + bnd, -13},
        {sim + freq + "Boundry 2 2 2 2 2 2\n", -13},
        {sim + freq + "Boundary 2 2 2 2 2\n", -14},
        {sim + freq + "Boundary 2 2 2 2 2 2 \n", -15},
        {sim + freq + "Boundary 2 2 2 2 2 2", -15},
        {sim + freq + "Boundary 2 2 2 2 2 ", -15},
        {sim + freq + bnd, -20},
        {sim + freq + bnd + mesh + "Copper 1\n", -102},
    };
    for (const auto& c : cases) EXPECT_EQ(parse(c.text), c.error) << c.text;
}

TEST(HeaderParser, ValidHeaderFillsTheSimulation) {
    Simulation sim(1);
    ASSERT_EQ(parse(sim, std::string("# a\n#b\nSim 7 1e-5 8  my out.dat\r\n") + kFreq +
                             "Radiation 2e9 72 36 3\nBoundary 0 1 2 x 2 2\n" + kMesh),
              0);
    EXPECT_EQ(sim.maxTimeFactor, 7u);
    EXPECT_EQ(sim.energyThreshold, 1e-5);
    EXPECT_EQ(sim.samplesPerNyquist, 8u);
    // Everything after the third number's blank, the extra blank and the carriage return kept.
    EXPECT_EQ(sim.results.fileName, " my out.dat\r");
    ASSERT_EQ(sim.results.frequencies.size(), 11u);
    EXPECT_EQ(sim.results.frequencies.front(), 1e9);
    EXPECT_EQ(sim.results.frequencies[5], 2e9);
    ASSERT_NE(sim.excitation, nullptr);
    EXPECT_EQ(sim.excitation->excitedAxis, -1);  // no port 1 in this description
    ASSERT_NE(sim.radiation, nullptr);
    EXPECT_EQ(sim.radiation->azimuthCount, 73u);  // counts made odd
    EXPECT_EQ(sim.radiation->elevationCount, 37u);
    EXPECT_EQ(sim.radiation->frequency, 2e9f);
    EXPECT_EQ(sim.radiation->boxMargin, 3u);
    const std::array<std::uint32_t, 6> kinds = {0, 1, 2, 72, 2, 2};  // 'x' - '0' = 72
    EXPECT_EQ(sim.engine->boundaryKind, kinds);
    EXPECT_EQ(sim.engine->lineCount[2], 3u);

    Simulation plain(1);
    ASSERT_EQ(parse(plain, std::string(kSim) + kFreq + kBoundary + kMesh), 0);
    EXPECT_EQ(plain.radiation, nullptr);
    EXPECT_EQ(plain.results.fileName, "out.dat");
}

TEST(HeaderParser, FrequencyLists) {
    Results r;
    r.addFrequencies(1e9, 2e9, 3);
    EXPECT_EQ(r.frequencies, (std::vector<double>{1e9, 1.5e9, 2e9}));
    Results one;
    one.addFrequencies(1e9, 5e9, 1);
    EXPECT_EQ(one.frequencies, std::vector<double>{1e9});
    Results none;
    none.addFrequencies(1e9, 5e9, 0);
    none.addFrequencies(1e9, 5e9, -4);
    EXPECT_TRUE(none.frequencies.empty());

    // Through the Freq line: N = 0 and N = 1 are no errors.
    Simulation empty(1);
    EXPECT_EQ(parse(empty, std::string(kSim) + "Freq 2 1e9 3e9 0\n" + kBoundary + kMesh), 0);
    EXPECT_TRUE(empty.results.frequencies.empty());
    Simulation single(1);
    EXPECT_EQ(parse(single, std::string(kSim) + "Freq 0 1e9 3e9 1\n" + kBoundary + kMesh), 0);
    EXPECT_EQ(single.results.frequencies, std::vector<double>{1e9});
}

TEST(HeaderParser, FailureRecordsTheLineAndAMeaning) {
    Simulation sim(1);
    EXPECT_EQ(parse(sim, std::string("# c\n") + kSim + "Freq 9 1e9 3e9 11\n" + kBoundary), -12);
    EXPECT_EQ(parseLocation.line, 3u);
    // The Sim line's line feed, overwritten with NUL, still counts.
    Simulation late(1);
    EXPECT_EQ(parse(late, std::string(kSim) + kFreq + kBoundary + kMesh + "Metal 0 0 0\n/\nElectric x\n"),
              -105);
    EXPECT_EQ(parseLocation.line, 9u);

    const std::string fallback = parseErrorMeaning(12345);
    for (int error : {-1, -2, -3, -4, -5, -6, -7, -8, -9, -10, -12, -13, -14, -15, -16, -17, -18, -19,
                      -20, -21, -22, -23, -24, -25, -101, -102, -103, -104, -105, -106})
        EXPECT_NE(parseErrorMeaning(error), fallback) << error;
}
