#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/ErrorNumbers.hpp"
#include "common/Limits.hpp"
#include "common/ProcessGroup.hpp"
#include "common/Verbosity.hpp"
#include "driver/CommandLine.hpp"
#include "driver/InputFile.hpp"
#include "driver/Simulation.hpp"
#include "driver/ViewOptions.hpp"

namespace {

// The description's text, read by process 0 and handed to the others, so that
// processes on other machines need no copy of the file. Null when it cannot
// be read; free() it.
char* loadDescription(const char* path) {
    char* text = processes::rank() == 0 ? loadInputFile(path) : nullptr;
    if (!processes::many()) return text;
    long long size = text != nullptr ? static_cast<long long>(std::strlen(text)) : -1;
    processes::broadcast(&size, sizeof size);
    if (size < 0) return nullptr;
    if (processes::rank() != 0) {
        text = static_cast<char*>(std::calloc(static_cast<std::size_t>(size) + 1, 1));
        if (text == nullptr) std::abort();  // a few bytes more than the file: nothing sensible left
    }
    processes::broadcast(text, static_cast<std::size_t>(size));
    return text;
}

int runFendrix(int argc, char** argv);

}  // namespace

// fendrix DESCRIPTION [-vN] [-tN] [-r] [--pml[=N]] [view options, driver/ViewOptions.cpp]
// Under an MPI launcher every process runs this, each stepping its own share
// of the grid; process 0 alone prints and writes the results.
int main(int argc, char** argv) {
    // Past a file-size limit (ulimit -f) a write then fails with EFBIG and is
    // reported with its file like any other failed write, where the signal
    // would end the process without a word and without its results.
    std::signal(SIGXFSZ, SIG_IGN);
    int status = processes::start(&argc, &argv);
    if (status == 0) status = processes::checkSameArguments(argc, argv);
    if (status == 0) status = runFendrix(argc, argv);
    // All output is out before the processes meet to finish: the launcher
    // ends the others when the first one exits with a failure.
    std::fflush(stdout);
    processes::finish();
    return status;
}

namespace {

int runFendrix(int argc, char** argv) {
    if (printUsageIfAsked(argc, argv)) return 0;
    if (argc < 2) {
        std::printf("FDTD simulator for electro-magnetics\n Fendrix 5.9\n");
        return -1;
    }

    int threadCount = 1;
    ExtraOptions extra;
    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-' && arg[1] == 'v') {
            // Only the one character after "-v" counts; "-v" alone gives 0.
            verboseLevel = arg[2] - '0';
            if (verboseLevel < 0) verboseLevel = 0;
            std::printf("Verbose level: %d\n", verboseLevel);
        } else if (arg[0] == '-' && arg[1] == 't') {
            threadCount = std::atoi(arg + 2);
            if (verboseLevel >= 0) std::printf("Number of threads: %d\n", threadCount);
        } else if (takeExtraOption(arg, extra)) {
        } else if (!isViewOption(arg)) {
            std::fprintf(stderr, "WARNING: unknown commandline argument: %s\n", arg);
        }
    }
    if (threadCount < 1 || threadCount > kMaxThreads) {
        std::fprintf(stderr, "ERROR: Number of threads must be between 1 and %d (got %d).\n",
                     kMaxThreads, threadCount);
        return run_error::kBadThreadCount;
    }
    if (const int optionStatus = checkExtraOptions(extra)) return optionStatus;
    ViewRequest views;
    if (const int viewStatus = readViewOptions(argc, argv, views); viewStatus < 0) return viewStatus;
    if (views.any() && processes::many()) {
        std::fprintf(stderr,
                     "ERROR: Field views need the whole grid in one process; run them without mpirun.\n");
        return run_error::kViewsOverProcesses;
    }

    char* text = loadDescription(argv[1]);
    if (text == nullptr) {
        std::fprintf(stderr, "ERROR: Cannot load input file '%s'.\n", argv[1]);
        return -1;
    }

    auto simulation = std::make_unique<Simulation>(threadCount);
    simulation->reproducibleEnd = extra.reproducibleEnd;
    simulation->engine->pmlCells = static_cast<std::uint32_t>(extra.pmlCells);
    simulation->views.request = std::move(views);
    int status = simulation->parse(text);
    std::free(text);
    // Every process reads the same text, but each allocates its own share of
    // the grid while it does: memory can run short on one alone.
    if (const int anyStatus = processes::worstStatus(status); anyStatus < 0 && status == 0) {
        std::fprintf(stderr, "ERROR: Not enough memory available on another process of the run.\n");
        status = anyStatus;
    }
    if (status < 0) {
        std::fprintf(stderr, "ERROR: Input file corrupt (%d).\n", status);
        if (verboseLevel >= 0) describeParseError(status);
        return status;
    }
    status = simulation->setup();
    if (status == 0) status = simulation->run();
    return status;
}

}  // namespace
