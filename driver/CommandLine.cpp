#include "driver/CommandLine.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/ErrorNumbers.hpp"
#include "common/Limits.hpp"

namespace {

constexpr int kDefaultPmlCells = 8;
constexpr int kFewestPmlCells = 4;
constexpr int kMostPmlCells = 32;

}  // namespace

bool printUsageIfAsked(int argc, char** argv) {
    bool asked = false;
    for (int i = 1; i < argc; ++i)
        asked = asked || std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0;
    if (!asked) return false;
    std::printf(
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

bool takeExtraOption(const char* arg, ExtraOptions& options) {
    // Like -v and -t, recognised by its first two characters.
    if (arg[0] == '-' && arg[1] == 'r') {
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

int checkExtraOptions(const ExtraOptions& options) {
    if (options.pmlCells >= 0) return 0;
    std::fprintf(stderr,
                 "ERROR: %s: the perfectly matched layer's thickness must be a whole number of cells from %d "
                 "to %d (--pml alone gives %d).\n",
                 options.pmlArgument, kFewestPmlCells, kMostPmlCells, kDefaultPmlCells);
    return run_error::kPmlCells;
}
