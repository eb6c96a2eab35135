// Placeholder until this file is written.
#include "probes/Probe.hpp"
CurrentProbe::CurrentProbe(FdtdEngine* e, const std::vector<double>* f) : VoltageProbe(e, f) { isCurrent = 1; }
void CurrentProbe::place(const double*, const double*) {}
double CurrentProbe::value() const { return 0; }
