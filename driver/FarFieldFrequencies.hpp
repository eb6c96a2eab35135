#pragma once

#include <cstdint>
#include <vector>

#include "results/FarFieldTable.hpp"

namespace fendrix {

class FdtdEngine;
class Results;

// Checks of the --far-field-freq frequencies, each 0 or a run_error status
// after its message. Before the build: the description has a Radiation line.
int checkFarFieldRadiation(const std::vector<double>& frequencies, const RadiationSetup* radiation);
// After the build: no frequency above half the rate at which the probes sample
// (every `chunk` steps), then every frequency inside the Freq line's band.
int checkFarFieldSampling(const std::vector<double>& frequencies, const FdtdEngine& engine, std::uint32_t chunk);
int checkFarFieldBand(const std::vector<double>& frequencies, const Results& results);
// One far field like the Radiation line's for every listed frequency other
// than that line's own.
std::vector<ExtraFarField> extraFarFields(const std::vector<double>& frequencies, const RadiationSetup& main);

}  // namespace fendrix
