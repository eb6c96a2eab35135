// Placeholder until this file is written.
#include "grid/FdtdEngine.hpp"
bool FdtdEngine::compressCoefficients() { return false; }
