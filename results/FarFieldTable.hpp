#pragma once

#include <memory>
#include <string>
#include <vector>

#include "results/PortParameters.hpp"
#include "results/RadiationSetup.hpp"

namespace fendrix {

class Results;

// The far field at one more frequency than the Radiation line's
// (--far-field-freq): its own transform sums and results file.
struct ExtraFarField {
    double requested;  // hertz, as given on the command line (names the file)
    std::unique_ptr<RadiationSetup> setup;
};

// "patch.dat" at 2.45e9 Hz -> "patch_ff2.45GHz.dat": the frequency in GHz with
// up to 15 significant digits, so distinct single-precision frequencies get
// distinct names.
std::string farFieldFileName(const std::string& resultsName, double frequency);
// "patch.dat" -> "patch_farfield.csv".
std::string farFieldTableName(const std::string& resultsName);

// Antenna figures of a finished pattern (after its dataset was written) and
// the dataset's radiation figures at its frequency.
struct FarFieldFigures {
    double frequency;       // hertz, the single-precision value the far field was computed at
    double directivityDbi;  // maximum directivity
    double theta, phi;      // its direction: polar angle from +z and azimuth from +x, degrees
    double efficiency;      // radiated over accepted power, percent
    double gainDbi;         // directivity x efficiency
    double realizedGainDbi; // gain x (1 - |S11|^2)
    double s11Db;
    double frontToBackDb;   // maximum over the opposite direction
    double beamwidthPhi0;   // half-power beamwidths (degrees) of the cuts phi = 0 and 90
    double beamwidthPhi90;
};
FarFieldFigures farFieldFigures(const RadiationSetup& setup, const RadiationFigures& figures);

// Writes each extra far field's dataset beside the results file, then the
// table of every far-field frequency (the Radiation line's `main` too, whose
// dataset gave `mainFigures`), sorted by frequency. Process 0 only, after the
// main dataset. False after an error message naming the file that could not
// be written.
bool writeFarFieldResults(Results& results, const RadiationSetup& main, const RadiationFigures& mainFigures,
                          const std::vector<ExtraFarField>& extras);

}  // namespace fendrix
