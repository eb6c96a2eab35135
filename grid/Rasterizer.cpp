// Placeholder until this file is written.
#include "grid/FdtdEngine.hpp"
void FdtdEngine::collectShapes(std::vector<GeoObject*>& out, int, int, int, int) const { out.clear(); }
MatMaterial* FdtdEngine::findShape(const std::vector<GeoObject*>&, const double*) const { return nullptr; }
FdtdEngine::MaterialSums FdtdEngine::averageDielectric(int, const std::uint32_t*, const std::vector<GeoObject*>&) const { return {0, 0, 0, 0}; }
void FdtdEngine::fillDielectrics() {}
void FdtdEngine::fillMetals() {}
void FdtdEngine::fillLumpedElements() {}
