// Placeholder until this file is written.
#include "grid/FdtdEngine.hpp"
void FdtdEngine::runSteps(std::uint32_t) {}
void FdtdEngine::sampleProbes() {}
void FdtdEngine::analyzeProbes() {}
