// Placeholder until this file is written.
#include "grid/FdtdEngine.hpp"
void FdtdEngine::updateE(int) {}
void FdtdEngine::updateH(int) {}
