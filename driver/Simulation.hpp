#pragma once

#include <cstdint>
#include <memory>

#include "engine/Excitation.hpp"
#include "engine/PlaneExchange.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "results/FarFieldTable.hpp"
#include "results/FieldViews.hpp"
#include "results/RadiationSetup.hpp"
#include "results/Results.hpp"

namespace fendrix {

class ProgressReport;

// The top object of a run: owns the engine and everything the description creates.
// Members are declared so that destruction runs engine, radiation setup,
// results, geometry (the reverse of declaration order).
class Simulation {
public:
    explicit Simulation(int threadCount);
    ~Simulation();

    // Parses the writable, NUL-terminated description: 0 or a negative error number.
    int parse(char* text);
    // Checks of the parsed description, grid build, far-field probes, run limit.
    // 0, or a negative run_error status after its message (a check, memory).
    int setup();
    // Time stepping until the energy decays, then far field and results file.
    // 0, or a negative number when the run itself failed (an unstable field).
    int run();

    Geometry geometry;
    Results results;
    std::unique_ptr<RadiationSetup> radiation;
    // --far-field-freq: the listed frequencies in hertz, and a far field for
    // each one other than the Radiation line's (made by the setup).
    std::vector<double> farFieldFrequencies;
    std::vector<ExtraFarField> extraFarFields;
    std::unique_ptr<Excitation> excitation;  // until the grid build hands it to the engine
    std::unique_ptr<FdtdEngine> engine;
    double energyThreshold = 1e-6;
    std::uint32_t maxTimeFactor = 0;
    std::uint32_t maxTimesteps = 0;
    std::uint32_t samplesPerNyquist = 4;
    int threadCount;
    // Test the energy decay after every chunk once the pulse is over, not only
    // at the once-a-second report: the run then ends at the same step on any
    // machine and thread count (command-line option -r).
    bool reproducibleEnd = false;
    FieldViews views;  // field snapshots and maps, only when asked for
    // The border planes' trade with the neighbouring processes, in a run over
    // several; released before the engine it works on.
    std::unique_ptr<PlaneExchange> exchange;

private:
    void shareUsedShapes();
    // The parts of run (driver/RunLoop.cpp): chunks of `chunk` steps until the
    // energy has decayed (0, or a negative status for an unstable field), then
    // the far field, the views' end and the results file.
    int stepUntilDecayed(std::uint32_t chunk, ProgressReport& progress);
    int finishRun(std::int64_t loopEnd);
};

}  // namespace fendrix
