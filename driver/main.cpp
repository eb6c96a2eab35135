#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "common/ProcessGroup.hpp"
#include "driver/CommandLine.hpp"
#include "driver/InputFile.hpp"
#include "driver/Simulation.hpp"

namespace fendrix {
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

}  // namespace

int runFendrix(int argc, char** argv);

}  // namespace fendrix

// fendrix DESCRIPTION [-vN] [-tN] [-r] [--pml[=N]] [--far-field-freq=F[,F...]] [view options]
// (driver/CommandLine.cpp)
// Under an MPI launcher every process runs this, each stepping its own share
// of the grid; process 0 alone prints and writes the results.
int main(int argc, char** argv) {
    using namespace fendrix;
    // Past a file-size limit (ulimit -f) a write then fails with EFBIG and is
    // reported with its file like any other failed write, where the signal
    // would end the process without a word and without its results.
    std::signal(SIGXFSZ, SIG_IGN);
    int status = processes::start(&argc, &argv);
    if (status == 0) status = processes::checkSameArguments(argc, argv);
    if (status == 0) status = runFendrix(argc, argv);
    // All output is out before the processes meet to finish: the launcher
    // ends the others when the first one exits with a failure.
    console::flush();
    processes::finish();
    return status;
}

namespace fendrix {

// The whole run of one process: 0, or the negative status of what failed.
int runFendrix(int argc, char** argv) {
    RunOptions options;
    if (const int status = readCommandLine(argc, argv, options); status != kCommandLineRun)
        return status == kCommandLineHelpShown ? 0 : status;
    if (options.views.any() && processes::many()) {
        console::error("Field views need the whole grid in one process; run them without mpirun.\n");
        return run_error::kViewsOverProcesses;
    }

    char* text = loadDescription(options.description);
    if (text == nullptr) {
        console::error("Cannot load input file '%s'.\n", options.description);
        return -1;
    }

    auto simulation = std::make_unique<Simulation>(options.threadCount);
    simulation->reproducibleEnd = options.reproducibleEnd;
    simulation->farFieldFrequencies = options.farFieldFrequencies;
    simulation->engine->pmlCells = static_cast<std::uint32_t>(options.pmlCells);
    simulation->views.request = std::move(options.views);
    int status = simulation->parse(text);
    std::free(text);
    // Every process reads the same text, but each allocates its own share of
    // the grid while it does: memory can run short on one alone.
    if (const int anyStatus = processes::worstStatus(status); anyStatus < 0 && status == 0) {
        console::error("Not enough memory available on another process of the run.\n");
        status = anyStatus;
    }
    if (status < 0) {
        console::error("Input file corrupt (%d).\n", status);
        if (console::readable()) describeParseError(status);
        return status;
    }
    status = simulation->setup();
    if (status == 0) status = simulation->run();
    return status;
}

}  // namespace fendrix
