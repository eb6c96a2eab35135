// Placeholder until this file is written.
#include "grid/FdtdEngine.hpp"
bool FdtdEngine::buildGrid(std::unique_ptr<Excitation> e) { excitation = std::move(e); return false; }
