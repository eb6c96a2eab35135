#include "driver/CommandLine.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "common/Limits.hpp"
#include "driver/ViewOptions.hpp"

namespace fendrix {

namespace {

constexpr int kDefaultPmlCells = 8;
constexpr int kFewestPmlCells = 4;
constexpr int kMostPmlCells = 32;

// The -v, -t and -r options are recognised by their first two characters.
bool isShortOption(const char* arg, char letter) { return arg[0] == '-' && arg[1] == letter; }

bool printUsageIfAsked(int argc, char** argv) {
    bool asked = false;
    for (int i = 1; i < argc; ++i)
        asked = asked || std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0;
    if (!asked) return false;
    console::print(
        "Usage: fendrix DESCRIPTION [-vN] [-tN] [-r] [--pml[=N]] [view options]\n"
        "       fendrix --help\n"
        "Runs the simulation that the description file sets out and writes its results dataset.\n"
        "\n"
        "Options (after the description):\n"
        "  -vN         readable output: 0 summary messages, 1 also every line as it is read.\n"
        "              Without -v: host mode, short progress codes on standard output.\n"
        "  -tN         stepping threads, 1 to %d (default 1).\n"
        "  -r          reproducible end: test the energy decay after every chunk of steps once the\n"
        "              pulse is over, so that the run ends at the same step on every machine and\n"
        "              thread count (without it the test runs once a second).\n"
        "  --pml[=N]   a perfectly matched layer of N cells (4 to %d, default %d) in place of the\n"
        "              first-order absorber on every absorbing face (Boundary code 2): far less\n"
        "              reflection, so antennas and open structures need less air around them.\n"
        "  -h, --help  print this help and exit.\n"
        "Field views (files in a folder beside the results file, named after it):\n"
        "  --snapshot-every=N           E and H every N steps, of the whole grid or of:\n"
        "  --snapshot-plane=AXIS:COORD  a plane normal to x, y or z at COORD metres (repeatable).\n"
        "  --map-plane=AXIS:COORD       frequency-domain maps of E, H and surface current on a\n"
        "  --map-freq=F[,F...]          plane (repeatable) at these frequencies in Hz.\n"
        "\n"
        "Under mpirun -np P the run is shared by P processes, each stepping its own z-planes; the\n"
        "results are the same as from one process.\n"
        "Warnings and errors go to standard error. The user guide lists every message and exit status.\n",
        kMaxThreads, kMostPmlCells, kDefaultPmlCells);
    return true;
}

bool takeExtraOption(const char* arg, RunOptions& options) {
    if (isShortOption(arg, 'r')) {
        options.reproducibleEnd = true;
        return true;
    }
    if (std::strncmp(arg, "--pml", 5) == 0 && (arg[5] == '\0' || arg[5] == '=')) {
        options.pmlArgument = arg;
        options.pmlCells = kDefaultPmlCells;
        if (arg[5] == '=') {
            char* end = nullptr;
            errno = 0;
            const long n = std::strtol(arg + 6, &end, 10);
            const bool whole = end != arg + 6 && *end == '\0' && errno == 0;
            options.pmlCells = whole && n >= kFewestPmlCells && n <= kMostPmlCells ? static_cast<int>(n) : -1;
        }
        return true;
    }
    return false;
}

}  // namespace

int readCommandLine(int argc, char** argv, RunOptions& options) {
    if (printUsageIfAsked(argc, argv)) return kCommandLineHelpShown;
    if (argc < 2) {
        console::print("FDTD simulator for electro-magnetics\n Fendrix 5.9\n");
        return -1;
    }
    options.description = argv[1];
    std::vector<const char*> viewArguments;
    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (isShortOption(arg, 'v')) {
            // Only the one character after "-v" counts; "-v" alone gives 0.
            int level = arg[2] - '0';
            if (level < 0) level = 0;
            console::setVerbosity(level);
            console::say("Verbose level: %d\n", level);
        } else if (isShortOption(arg, 't')) {
            options.threadCount = std::atoi(arg + 2);
            console::say("Number of threads: %d\n", options.threadCount);
        } else if (takeExtraOption(arg, options)) {
        } else if (isViewOption(arg)) {
            viewArguments.push_back(arg);
        } else {
            console::warning("unknown commandline argument: %s\n", arg);
        }
    }
    if (options.threadCount < 1 || options.threadCount > kMaxThreads) {
        console::error("Number of threads must be between 1 and %d (got %d).\n", kMaxThreads,
                       options.threadCount);
        return run_error::kBadThreadCount;
    }
    if (options.pmlCells < 0) {
        console::error("%s: the perfectly matched layer's thickness must be a whole number of cells from %d "
                       "to %d (--pml alone gives %d).\n",
                       options.pmlArgument, kFewestPmlCells, kMostPmlCells, kDefaultPmlCells);
        return run_error::kPmlCells;
    }
    return readViewOptions(viewArguments, options.views);
}

}  // namespace fendrix
