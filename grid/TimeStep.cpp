// Placeholder until this file is written.
#include "grid/FdtdEngine.hpp"
void FdtdEngine::computeTimeStep() {}
