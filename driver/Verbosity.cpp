#include "driver/Verbosity.hpp"

int verboseLevel = -1;
