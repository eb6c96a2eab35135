// Placeholder until this file is written.
#include "engine/MurBoundary.hpp"
MurBoundary::MurBoundary(FdtdEngine* e, std::uint32_t a, bool) : engine(e), normalAxis(a), outerAxis(0), innerAxis(0), boundaryIndex(0), neighbourIndex(0), outerCount(0), innerCount(0), normalCount(0) {}
MurBoundary::~MurBoundary() {}
bool MurBoundary::initialise() { return false; }
void MurBoundary::saveNeighbour() {}
void MurBoundary::accumulate() {}
void MurBoundary::apply() {}
