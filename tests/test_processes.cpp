// One run shared by several processes (mpiexec), against the same run in one
// process: the results file must be the same byte for byte, every process
// must stop after the same step, and failures must end all of them with one
// message and one status.
#include "tests/TestSupport.hpp"

using namespace fendrix;

using namespace testing_support;
namespace fs = std::filesystem;

#if defined(FENDRIX_MPIEXEC) && !defined(FENDRIX_SANITIZED)

namespace {

// `processes` processes of one thread each, oversubscribing the test machine;
// the root allowance is for containers. A hang fails through the timeout.
Output runShared(int processes, const std::string& args, const fs::path& dir, const std::string& options = "") {
    return runFendrix(args, dir,
                      "export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 "
                      "OMPI_MCA_rmaps_base_oversubscribe=1 OMPI_MCA_mpi_yield_when_idle=1",
                      "timeout 120 " FENDRIX_MPIEXEC " " + options + " -np " + std::to_string(processes));
}

// Fendrix's own warnings and errors, without what the launcher or the MPI
// library may add on some machines.
std::string messages(const std::string& err) {
    std::istringstream lines(err);
    std::string line, kept;
    while (std::getline(lines, line))
        if (line.rfind("WARNING: ", 0) == 0 || line.rfind("ERROR: ", 0) == 0) kept += line + "\n";
    return kept;
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

// Eight z-planes split 4 + 4 over two processes and 3 + 3 + 2 over three, on
// a grid with six absorbing faces, a substrate and a strip: the z-directed
// port crosses both cuts, the far-field box's top face (plane 6) is the first
// plane of the third process, whose two planes are the top face's boundary
// and neighbour plane. Only the step limit ends the runs.
TEST(Processes, ResultsAreBitIdenticalToOneProcess) {
    const fs::path dir = scratchDir("processes");
    writeFile(dir / "board.txt", boardDescription(14, 12, 8, "0.003,0.005 0.011,0.005 0.011,0.006 0.003,0.006",
                                                  "Electric 1 2 50 x 0.006,0.006,0.002 0.006,0.006,0.005\n"));
    const Output one = runFendrix("board.txt -v0", dir);
    ASSERT_EQ(one.status, 0);
    const std::string reference = readFile(dir / "out.dat");
    const std::string steps = one.out.substr(one.out.find("Performed "), 20);
    ASSERT_TRUE(parseDataset(reference).valid);
    for (int processes : {1, 2, 3}) {
        fs::remove(dir / "out.dat");
        const Output r = runShared(processes, "board.txt -v0", dir);
        ASSERT_EQ(r.status, 0) << processes << r.err;
        EXPECT_EQ(readFile(dir / "out.dat"), reference) << processes << " processes";
        EXPECT_EQ(count(r.out, "Running FDTD simulation"), 1) << r.out;  // process 0 alone speaks
        EXPECT_EQ(count(r.out, steps), 1) << r.out;
        EXPECT_EQ(messages(r.err), one.err);  // the step-limit warning, once
    }
}

// Every process must stop after the step that process 0 decides on (one that
// stepped on would wait for its neighbours forever): with -r the decay of the
// energy, summed across the processes, ends the run at the step of one
// process, some 1800 steps after the pulse in this lossy closed cavity; ABORT
// ends it after the first chunk.
TEST(Processes, EveryProcessStopsAfterTheSameStep) {
    const fs::path dir = scratchDir("processes_stop");
    writeFile(dir / "box.txt", cavityDescription(21));
    for (const bool abort : {false, true}) {
        if (abort) writeFile(dir / "ABORT", "");
        const Output one = runFendrix("box.txt -v0 -r", dir);
        ASSERT_EQ(one.status, 0) << one.err;
        const std::string reference = readFile(dir / "out.dat");
        const std::string steps = one.out.substr(one.out.find("Performed "), 20);
        const Output r = runShared(3, "box.txt -v0 -r", dir);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(messages(r.err), one.err);
        EXPECT_NE(r.out.find(steps), std::string::npos) << steps << "\n" << r.out;
        EXPECT_EQ(readFile(dir / "out.dat"), reference) << (abort ? "ABORT" : "decay");
    }
}

// Two stepping threads in each process: the lowest and the highest thread
// trade their border planes with the neighbouring processes at the same time.
// Unbound, so that each process may start both threads; ABORT ends the run
// after its first chunk, as the threads spin on an oversubscribed machine.
TEST(Processes, ThreadsOfEachProcessShareItsPlanes) {
    const fs::path dir = scratchDir("processes_threads");
    writeFile(dir / "box.txt", "Sim 1 0 4 out.dat\nFreq 2 1e9 5e9 5\nRadiation 3e9 12 7 3\nBoundary 2 2 2 2 2 2\n" +
                                   meshLine('x', 30, 1e-3) + meshLine('y', 30, 1e-3) + meshLine('z', 30, 1e-3) +
                                   "Electric 1 2 50 x 0.015,0.015,0.013 0.015,0.015,0.017\n");
    writeFile(dir / "ABORT", "");
    ASSERT_EQ(runFendrix("box.txt -v0", dir).status, 0);
    const std::string reference = readFile(dir / "out.dat");
    const Output r = runShared(2, "box.txt -v0 -t2", dir, "--bind-to none");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / "out.dat"), reference);
}

// A description error, and more processes than pairs of z-planes, end every
// process with the same status and one message, before anything is built.
TEST(Processes, FailuresEndAllProcessesWithOneMessage) {
    const fs::path dir = scratchDir("processes_failures");
    writeFile(dir / "empty.txt", "");
    writeFile(dir / "thin.txt", boxDescription(12, 10, 5, ""));
    struct Case { std::string file; int processes, status; std::string message; int errorLines; };
    const Case cases[] = {
        {"empty.txt", 2, -2, "ERROR: Input file corrupt (-2).\n", 1},
        {"thin.txt", 3, -26, "ERROR: 3 processes need at least 6 z mesh lines (two planes each); the mesh has 5.\n"
                             "ERROR: Input file corrupt (-26).\n", 2},
        {"missing.txt", 2, -1, "ERROR: Cannot load input file 'missing.txt'.\n", 1},
    };
    for (const Case& c : cases) {
        const Output r = runShared(c.processes, c.file + " -v0", dir);
        EXPECT_EQ(r.status, c.status & 0xFF) << c.file << r.err;
        EXPECT_EQ(count(r.err, c.message), 1) << c.file << r.err;
        EXPECT_EQ(count(r.err, "ERROR: "), c.errorLines) << c.file << r.err;
    }
    // Processes given other arguments (a launch with ':' sections) would
    // part ways and wait for each other forever: all end at once instead.
    writeFile(dir / "box.txt", boxDescription(12, 10, 8, "Electric 1 0 50 x 0.004,0.004,0.004 0.006,0.004,0.004\n"));
    const struct { std::string args; const char* message; } launches[] = {
        {"box.txt -v0 : -np 1 " FENDRIX_BINARY " box.txt -v0 -r", "process 1 differs from process 0's 'box.txt -v0'"},
        {"box.txt -v0 : -np 2 " FENDRIX_BINARY " thin.txt -v0", "processes 1, 2 differ from process 0's 'box.txt -v0'"},
    };
    for (const auto& launch : launches) {
        const Output r = runShared(1, launch.args, dir);
        EXPECT_EQ(r.status, -38 & 0xFF) << launch.args << r.err;
        EXPECT_EQ(count(r.err, launch.message), 1) << r.err;
        EXPECT_EQ(count(r.err, "ERROR: "), 1) << r.err;
    }
    // Views need the whole grid in one process.
    const Output r = runShared(2, "box.txt -v0 --snapshot-every=10", dir);
    EXPECT_EQ(r.status, -37 & 0xFF);
    EXPECT_EQ(count(r.err, "ERROR: Field views need the whole grid"), 1) << r.err;
}

#endif
