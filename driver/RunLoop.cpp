#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "common/ProcessGroup.hpp"
#include "driver/Clock.hpp"
#include "driver/DecayMonitor.hpp"
#include "driver/ProgressReport.hpp"
#include "driver/Simulation.hpp"
#include "engine/PlaneExchange.hpp"
#include "results/PortParameters.hpp"

namespace fendrix {

namespace {

bool abortFileExists() {
    std::FILE* file = std::fopen("ABORT", "r");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

// At high verbosity, each process's time spent trading its border planes,
// against the stepping time of the whole run.
void reportExchange(const PlaneExchange& exchange, double seconds) {
    const double mine = exchange.seconds();
    std::vector<unsigned char> all;
    std::vector<std::size_t> sizes;
    processes::gatherBytes(&mine, sizeof mine, all, sizes);
    if (!console::echoes() || processes::rank() != 0) return;
    console::echo("Border plane exchange of %1.2f sec stepping:", seconds);
    for (std::size_t p = 0; p < sizes.size(); ++p) {
        double each = 0.0;
        std::memcpy(&each, all.data() + p * sizeof each, sizeof each);
        console::echo(" %1.1f%%", seconds > 0 ? 100.0 * each / seconds : 0.0);
    }
    console::echo(" (processes 0 to %d)\n", static_cast<int>(sizes.size()) - 1);
}

}  // namespace

int Simulation::run() {
    FdtdEngine& grid = *engine;
    const Excitation& source = *grid.excitation;
    // A chunk shorter than one step would never advance the run.
    std::uint32_t chunk = source.nyquistSteps / samplesPerNyquist;
    if (chunk == 0) chunk = 1;
    if (views.request.any()) {
        // The run steps at least through the pulse, at most to its limit;
        // without a source it does not step.
        const bool stepping = source.excitedAxis >= 0;
        const std::uint32_t fewest = stepping ? std::min(source.excitationLength, maxTimesteps) : 0;
        const std::uint32_t most = stepping && maxTimeFactor != 0 ? maxTimesteps : fewest;
        if (const int status = views.prepare(grid, results, chunk, fewest, most); status < 0) return status;
    }

    ProgressReport progress(static_cast<double>(grid.cellCount()) * 1e-6, source.excitationLength,
                            energyThreshold);
    progress.begin(clockMilliseconds());
    grid.sampleProbes();
    if (views.active()) views.start();
    if (const int status = stepUntilDecayed(chunk, progress); status < 0) return status;
    if (grid.processSlab.exchange) grid.processSlab.exchange->finish();

    const std::int64_t loopEnd = clockMilliseconds();
    progress.end(grid.stepCount, loopEnd);
    if (grid.processSlab.exchange)
        reportExchange(*grid.processSlab.exchange, (loopEnd - progress.startTime) * 0.001);
    return finishRun(loopEnd);
}

int Simulation::stepUntilDecayed(std::uint32_t chunk, ProgressReport& progress) {
    FdtdEngine& grid = *engine;
    DecayMonitor decay;
    decay.threshold = energyThreshold;
    decay.excitationLength = grid.excitation->excitationLength;
    // Without a source nothing can ever be measured: the field stays zero.
    const bool excited = grid.excitation->excitedAxis >= 0;

    while (excited) {
        const std::uint32_t s = grid.stepCount;
        if (s >= maxTimesteps) {
            console::warning("Maximum time reached before energy decayed.\n");
            break;
        }
        // The energy is wanted after every chunk while the pulse lasts, and
        // with -r; the sweep can then take it on the way.
        grid.sweepPlan.measureEnergy = decay.duringPulse(s) || reproducibleEnd;
        if (views.active())
            views.runChunk(chunk);
        else
            grid.advanceChunk(chunk, maxTimesteps);

        double energy = 0.0;
        bool measured = false;
        if (decay.duringPulse(s)) {
            energy = grid.fieldEnergy();
            measured = true;
            decay.notePulseEnergy(energy);
        }

        // Over several processes, process 0's clock decides for all, and it
        // alone has the energy (fieldEnergy returns 0 elsewhere).
        const std::int64_t now = clockMilliseconds();
        bool report = progress.due(now);
        processes::broadcast(&report, sizeof report);
        // The decay test runs with each report, or with -r after every chunk,
        // so that the end depends on the step count alone and not on how fast
        // this machine steps.
        if (!decay.duringPulse(s) && (report || reproducibleEnd)) {
            energy = grid.fieldEnergy();
            measured = true;
            decay.noteDecayEnergy(energy);
        }
        if (report) progress.report(s, now, decay.ratio);

        // An unstable grid (a gain medium, a step beyond the stability limit)
        // grows without bound; stop instead of stepping on to the limit, and
        // write no results that could pass for sound ones.
        enum Decision : int { kGoOn, kStop, kUnstableField };
        int decision = kGoOn;
        if (measured && !std::isfinite(energy)) {
            console::error(
                         "Field energy is not finite at timestep %u: the simulation is "
                         "unstable. No results were written.\n",
                         grid.stepCount);
            decision = kUnstableField;
        } else if (abortFileExists()) {
            console::warning("User termination before energy decayed.\n");
            console::flush();
            decision = kStop;
        } else if (decay.decayed()) {
            decision = kStop;
        }
        // Every process stops after the same step.
        processes::broadcast(&decision, sizeof decision);
        if (decision == kUnstableField) return run_error::kUnstable;
        if (decision == kStop) break;
    }
    return 0;
}

int Simulation::finishRun(std::int64_t loopEnd) {
    FdtdEngine& grid = *engine;
    if (radiation) {
        ProgressReport::farFieldCode();
        // The transform's directions are shared by the threads that may step.
        radiation->threadCount = std::min(threadCount, grid.processorCount);
        for (ExtraFarField& extra : extraFarFields) extra.setup->threadCount = radiation->threadCount;
        grid.analyzeProbes();
        console::say("Time for calculating radiation: %1.1f sec\n",
                        (clockMilliseconds() - loopEnd) * 0.001);
    }

    if (views.active()) views.finish();
    bool resultsLost = false;
    RadiationFigures figures;  // the Radiation line's, for the far-field table
    if (processes::rank() == 0 && !results.writeDatasetAs(results.fileName, radiation.get(), &figures)) {
        console::error("Can't save results into file.\n");
        if (!results.writeFailure.empty())
            console::detail("Results file '%s': %s.\n", results.fileName.c_str(),
                         results.writeFailure.c_str());
        // A description with nothing to write (no port, no frequency) ends as
        // it always has; a whole run whose file could not be written must not
        // look like a success to the host that reads it next.
        resultsLost = !results.writeFailure.empty();
    } else if (processes::rank() == 0 && radiation && !farFieldFrequencies.empty()) {
        // The far field at the other listed frequencies, and the table of all.
        resultsLost = !writeFarFieldResults(results, *radiation, figures, extraFarFields);
    }
    console::flush();
    if (resultsLost) return run_error::kResultsLost;
    // The results are in place, but a host must not take the views as whole.
    return views.active() && views.lost() ? run_error::kViewsLost : 0;
}

}  // namespace fendrix
