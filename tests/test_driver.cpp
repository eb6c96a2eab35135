#include <gtest/gtest.h>

#include "tests/TestSupport.hpp"

using namespace testing_support;

TEST(Driver, NoArgumentsPrintsBannerAndFails) {
    auto dir = scratchDir("banner");
    auto r = runFendrix("", dir);
    EXPECT_EQ(r.status, exitCode(-1));
    EXPECT_EQ(r.out, "FDTD simulator for electro-magnetics\n Fendrix 5.9\n");
    EXPECT_EQ(r.err, "");
}

TEST(Driver, MissingFileCannotLoad) {
    auto dir = scratchDir("missing");
    auto r = runFendrix("nothing-here.txt -v1", dir);
    EXPECT_EQ(r.status, exitCode(-1));
    EXPECT_EQ(r.out, "Verbose level: 1\n");
    EXPECT_EQ(r.err, "ERROR: Cannot load input file 'nothing-here.txt'.\n");
}

TEST(Driver, OptionsInOrderAndUnknownArgumentWarning) {
    auto dir = scratchDir("options");
    writeFile(dir / "empty.txt", "");
    // "-t" before "-v": the thread message is not printed yet.
    auto r = runFendrix("empty.txt -t4 -v0 -bogus", dir);
    EXPECT_EQ(r.out, "Verbose level: 0\n");
    EXPECT_NE(r.err.find("WARNING: unknown commandline argument: -bogus\n"), std::string::npos);
    // The empty description fails as a description without a Sim line.
    EXPECT_EQ(r.status, exitCode(-2));
    EXPECT_EQ(r.err.find("ERROR: Input file corrupt (-2).\n") != std::string::npos, true);

    r = runFendrix("empty.txt -v -t4", dir);
    EXPECT_EQ(r.out, "Verbose level: 0\nNumber of threads: 4\n");
    r = runFendrix("empty.txt -verbose", dir);  // "-v" with the character 'e'
    EXPECT_EQ(r.out, "Verbose level: 53\n");
    r = runFendrix("empty.txt", dir);           // host mode: nothing readable on stdout
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ERROR: Input file corrupt (-2).\n");
}

TEST(Driver, ThreadCountOutsideOneToSixteenIsRejected) {
    auto dir = scratchDir("threads");
    writeFile(dir / "empty.txt", "");
    for (const char* option : {"-t0", "-t17", "-t-3", "-tx"}) {
        auto r = runFendrix(std::string("empty.txt ") + option, dir);
        EXPECT_EQ(r.status, exitCode(-30)) << option;
        EXPECT_NE(r.err.find("ERROR: Number of threads must be between 1 and 16"), std::string::npos);
    }
}
