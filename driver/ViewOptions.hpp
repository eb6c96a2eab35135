#pragma once

#include "results/ViewRequest.hpp"

// True for the arguments that ask for field views ("--snapshot-..." and "--map-...").
bool isViewOption(const char* arg);

// Reads every view option of the command line (from the second argument on)
// into `request`. 0, or a run_error number after an error message naming the
// argument: nothing has been loaded or run at that point.
int readViewOptions(int argc, char** argv, ViewRequest& request);
