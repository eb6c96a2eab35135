#include "common/Verbosity.hpp"

int verboseLevel = -1;
