// Mistakes a user makes in a hand-written description, through the real
// program: each is caught with its own message, exit status and line. And the
// reproducible end: the same step and the same bytes on any thread count.
#include "tests/TestSupport.hpp"

using namespace fendrix;

using namespace testing_support;

namespace {

// 11 x 9 x 7 lines `cell` apart, a slab of eps_r 3 and a 50-ohm port along x
// from 4 to 6 cells on line 10; `port` replaces the port's direction and corners.
std::string slab(double cell = 0.001, const std::string& port = "") {
    const auto at = [cell](double cells) { return std::to_string(cells * cell); };
    return "Sim 1 1e-4 4 out.dat\nFreq 2 1e9 5e9 11\nBoundary 2 2 2 2 2 2\n" + meshLine('x', 11, cell) +
           meshLine('y', 9, cell) + meshLine('z', 7, cell) + "Dielectric 3 0\nCube 0,0,0 " + at(10) + "," +
           at(8) + "," + at(2) + "\n/\nElectric 1 " +
           (port.empty() ? "0 50 x " + at(4) + "," + at(4) + "," + at(3) + " " + at(6) + "," + at(4) + "," + at(3)
                         : port) +
           "\n";
}

std::string replaced(const std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    return text.substr(0, at) + to + text.substr(at + from.size());
}

}  // namespace

TEST(GuardRails, EachMistakeGivesItsMessageStatusAndLine) {
    std::string crlf;
    for (char c : slab()) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const struct {
        const char* mistake;
        std::string text;
        const char* args;
        int status;
        const char* message;
    } cases[] = {
        {"millimetres for metres", slab(1.0), "-v0", -33, "not below the Nyquist interval"},
        {"port along the wrong axis", slab(0.001, "2 50 x 0.004,0.004,0.003 0.006,0.004,0.003"), "-v0", -34,
         "Port 1 (Electric line 10) has no length along its axis z"},
        {"port end between lines", slab(0.001, "0 50 x 0.0044,0.004,0.003 0.006,0.004,0.003"), "", 0,
         "WARNING: Line 10: port end at x = 0.0044 m"},
        {"missing results folder", replaced(slab(), "out.dat", "missing/out.dat"), "-v0", -35,
         "results file 'missing/out.dat': the folder 'missing' does not exist"},
        {"Windows line ends", crlf, "-v0", -10, "in line 2 of the description: Freq line"},
        {"comment between sections", replaced(slab(), "Dielectric", "# substrate\nDielectric"), "-v0", -102,
         "in line 7 of the description"},
    };
    auto dir = scratchDir("guard_rails");
    for (const auto& c : cases) {
        writeFile(dir / "mistake.txt", c.text);
        auto r = runFendrix(std::string("mistake.txt ") + c.args, dir);
        EXPECT_EQ(r.status, (c.status & 0xFF)) << c.mistake << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.mistake << "\n" << r.err;
        if (c.status == 0) {  // host mode: its standard output is that of a sound run
            EXPECT_EQ(r.out.rfind("11x9x7, 0 MBytes, 1 threads... \t01", 0), 0u) << r.out;
        }
    }
    // The two parse errors also say what to change.
    writeFile(dir / "mistake.txt", crlf);
    EXPECT_NE(runFendrix("mistake.txt -v0", dir).err.find("carriage return"), std::string::npos);
    writeFile(dir / "mistake.txt", replaced(slab(), "Dielectric", "# substrate\nDielectric"));
    EXPECT_NE(runFendrix("mistake.txt -v0", dir).err.find("Comment lines ('#') may stand only at the very top"),
              std::string::npos);
}

// 26 x 24 x 20 lines: enough cells for two stepping threads. With -r the run
// ends by decay at a step that depends on nothing but the description.
TEST(GuardRails, ReproducibleEndIsTheSameOnAnyThreadCountAndRun) {
    auto dir = scratchDir("reproducible");
    writeFile(dir / "box.txt", "Sim 100 1e-4 4 out.dat\nFreq 2 1e9 5e9 11\nBoundary 2 2 2 2 2 2\n" +
                                   meshLine('x', 26, 0.001) + meshLine('y', 24, 0.001) +
                                   meshLine('z', 20, 0.001) +
                                   "Electric 1 2 50 x 0.012,0.012,0.009 0.012,0.012,0.011\n");
    std::string steps, bytes;
    for (const char* threads : {"-t1", "-t2", "-t1"}) {
        auto r = runFendrix(std::string("box.txt -v0 -r ") + threads, dir);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "") << threads;  // ended by decay, not by the step limit
        const std::string performed = r.out.substr(r.out.find("Performed "));
        const std::string run = performed.substr(0, performed.find(" in "));
        if (steps.empty()) {
            steps = run;
            bytes = readFile(dir / "out.dat");
        } else {
            EXPECT_EQ(run, steps) << threads;
            EXPECT_EQ(readFile(dir / "out.dat"), bytes) << threads;
        }
    }
    EXPECT_EQ(runFendrix("--help", dir).status, 0);
}
