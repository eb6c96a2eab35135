#include "driver/CommandLine.hpp"

#include <cerrno>
#include <cmath>
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
constexpr std::size_t kMostFarFieldFrequencies = 64;

// The -v, -t and -r options are recognised by their first two characters.
bool isShortOption(const char* arg, char letter) { return arg[0] == '-' && arg[1] == letter; }

bool printUsageIfAsked(int argc, char** argv) {
    bool asked = false;
    for (int i = 1; i < argc; ++i)
        asked = asked || std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0;
    if (!asked) return false;
    console::print(
        "Usage: fendrix DESCRIPTION [-vN] [-tN] [-r] [--pml[=N]] [--far-field-freq=F[,F...]] [view options]\n"
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
        "  --far-field-freq=F[,F...]\n"
        "              the far field also at these frequencies in Hz (up to 64, inside the Freq band;\n"
        "              needs a Radiation line): one more results file for each, named after the\n"
        "              results file and the frequency, and a table NAME_farfield.csv of directivity,\n"
        "              efficiency, gain, realized gain, front-to-back ratio and beamwidths.\n"
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

// Reads "F[,F...]" (positive finite numbers in hertz, no blanks) onto `out`.
bool readFrequencyList(const char* text, std::vector<double>& out) {
    for (const char* p = text;;) {
        if (*p == ' ' || *p == '\t' || *p == '\0') return false;
        char* end = nullptr;
        errno = 0;
        const double f = std::strtod(p, &end);
        if (end == p || errno == ERANGE || !std::isfinite(f) || !(f > 0.0)) return false;
        if (*end != '\0' && *end != ',') return false;
        out.push_back(f);
        if (*end == '\0') return true;
        p = end + 1;
    }
}

int checkFarFieldFrequencies(const RunOptions& options) {
    const char* arg = options.farFieldArgument;
    if (options.farFieldMalformed) {
        console::error("%s: far-field frequencies are positive numbers in hertz, separated by commas without "
                       "blanks (for example --far-field-freq=2.2e9,2.45e9).\n",
                       arg);
        return run_error::kFarFieldFrequencyValue;
    }
    const std::vector<double>& list = options.farFieldFrequencies;
    if (list.size() > kMostFarFieldFrequencies) {
        console::error("%s: at most %zu far-field frequencies in one run (%zu given).\n", arg,
                       kMostFarFieldFrequencies, list.size());
        return run_error::kFarFieldFrequencyCount;
    }
    // The far field is computed at the single-precision value of a frequency,
    // as for the Radiation line: two numbers with the same such value would
    // give the same results twice.
    for (std::size_t i = 0; i < list.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (static_cast<float>(list[i]) == static_cast<float>(list[j])) {
                console::error("%s: the far-field frequency %.12g Hz is listed twice (%.12g Hz is the same in "
                               "single precision); list each frequency once.\n",
                               arg, list[i], list[j]);
                return run_error::kFarFieldFrequencyTwice;
            }
    return 0;
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
    if (std::strncmp(arg, "--far-field-freq=", 17) == 0) {
        options.farFieldArgument = arg;
        options.farFieldMalformed =
            options.farFieldMalformed || !readFrequencyList(arg + 17, options.farFieldFrequencies);
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
    if (options.farFieldArgument != nullptr)
        if (const int status = checkFarFieldFrequencies(options)) return status;
    return readViewOptions(viewArguments, options.views);
}

}  // namespace fendrix
