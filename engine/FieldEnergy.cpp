// Placeholder until this file is written.
#include "grid/FdtdEngine.hpp"
double FdtdEngine::fieldEnergy() const { return 0; }
