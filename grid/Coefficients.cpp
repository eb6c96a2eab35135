// Placeholder until this file is written.
#include "grid/FdtdEngine.hpp"
void FdtdEngine::applyElectricWalls() {}
void FdtdEngine::applyMagneticWalls() {}
void FdtdEngine::computeCoefficients() {}
