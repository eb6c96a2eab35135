#pragma once

#include <vector>

#include "results/ViewRequest.hpp"

namespace fendrix {

// Everything the command line asks of a run. The verbosity (-vN) goes to the
// console module as it is read.
struct RunOptions {
    const char* description = nullptr;  // the first argument
    int threadCount = 1;                 // -tN
    bool reproducibleEnd = false;        // -r: decay test after every chunk
    // --pml[=N]: cells of the perfectly matched layer on the absorbing faces;
    // 0 without the option, -1 for a value outside 4..32 (pmlArgument names it).
    int pmlCells = 0;
    const char* pmlArgument = nullptr;
    ViewRequest views;
    // --far-field-freq=F[,F...]: more far-field frequencies in hertz, as given
    // (farFieldArgument names the last such argument).
    std::vector<double> farFieldFrequencies;
    const char* farFieldArgument = nullptr;
    bool farFieldMalformed = false;
};

// What readCommandLine found besides errors (which are negative statuses).
inline constexpr int kCommandLineRun = 0;
inline constexpr int kCommandLineHelpShown = 1;

// Reads the whole command line once: kCommandLineRun with `options` filled,
// kCommandLineHelpShown after the usage was printed for -h or --help, or a
// negative status after the message for a missing description or an option
// value out of range. Unknown arguments are warned about and skipped.
int readCommandLine(int argc, char** argv, RunOptions& options);

}  // namespace fendrix
