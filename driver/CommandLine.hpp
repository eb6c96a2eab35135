#pragma once

// Command-line options beyond the verbosity and thread count that main reads
// itself.
struct ExtraOptions {
    bool reproducibleEnd = false;  // -r: decay test after every chunk
    // --pml[=N]: cells of the perfectly matched layer on the absorbing faces;
    // 0 without the option, -1 for a value outside 4..32 (pmlArgument names it).
    int pmlCells = 0;
    const char* pmlArgument = nullptr;
};

// True when any argument is "-h" or "--help"; the usage has then been printed.
bool printUsageIfAsked(int argc, char** argv);

// Takes `arg` into `options` when it is one of the extra options; false otherwise.
bool takeExtraOption(const char* arg, ExtraOptions& options);

// 0, or a run_error status after the message for an option value out of range.
int checkExtraOptions(const ExtraOptions& options);
