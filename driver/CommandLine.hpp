#pragma once

// Command-line options beyond the verbosity and thread count that main reads
// itself.
struct ExtraOptions {
    bool reproducibleEnd = false;  // -r: decay test after every chunk
};

// True when any argument is "-h" or "--help"; the usage has then been printed.
bool printUsageIfAsked(int argc, char** argv);

// Takes `arg` into `options` when it is one of the extra options; false otherwise.
bool takeExtraOption(const char* arg, ExtraOptions& options);
