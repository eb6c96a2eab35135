// Placeholder until this file is written.
#include "results/Results.hpp"
bool Results::writeDataset(RadiationSetup*) { return false; }
