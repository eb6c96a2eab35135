#pragma once

#include <vector>

#include "results/ViewRequest.hpp"

namespace fendrix {

// True for the arguments that ask for field views ("--snapshot-..." and "--map-...").
bool isViewOption(const char* arg);

// Reads the view options of the command line, in their order, into `request`. 0, or a run_error number after an error message naming the
// argument: nothing has been loaded or run at that point.
int readViewOptions(const std::vector<const char*>& arguments, ViewRequest& request);

}  // namespace fendrix
