// Placeholder until this file is written.
#include "results/FieldProbe.hpp"
#include "grid/FdtdEngine.hpp"
FieldProbe::FieldProbe(FdtdEngine* e, RadiationSetup* s, int face) : Probe(e), setup(s), angularStep(0) { portNumber = face; }
void FieldProbe::sample() {}
void FieldProbe::analyze() {}
void FdtdEngine::nodeE(std::uint32_t, std::uint32_t, std::uint32_t, double out[3]) const { out[0] = out[1] = out[2] = 0; }
void FdtdEngine::nodeH(std::uint32_t, std::uint32_t, std::uint32_t, double out[3]) const { out[0] = out[1] = out[2] = 0; }
bool FieldProbe::fitsGrid(const FdtdEngine&, const RadiationSetup&) { return true; }
