// Placeholder until this file is written.
#include "probes/Probe.hpp"
VoltageProbe::VoltageProbe(FdtdEngine* e, const std::vector<double>* f) : Probe(e), frequencies(f) {}
void VoltageProbe::sample() {}
double VoltageProbe::value() const { return 0; }
