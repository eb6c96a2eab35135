// Placeholder until this file is written.
#include "results/Results.hpp"
void Results::addFrequencies(double, double, std::int32_t) {}
