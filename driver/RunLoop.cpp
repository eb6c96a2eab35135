#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/ErrorNumbers.hpp"
#include "common/ProcessGroup.hpp"
#include "common/Verbosity.hpp"
#include "driver/Clock.hpp"
#include "driver/ProgressRate.hpp"
#include "driver/Simulation.hpp"
#include "engine/PlaneExchange.hpp"

namespace {

bool abortFileExists() {
    std::FILE* file = std::fopen("ABORT", "r");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

// Host progress code of the decay phase: how far the energy has fallen on the
// way to the threshold, in percent (log scale), at most 99.
int decayCode(double ratio, double threshold) {
    double code = 100.0 * std::log(ratio) / std::log(threshold);
    if (!(code < 99.0)) return 99;  // also +inf and NaN (ratio 0, threshold 1)
    if (code < -1.0e9) return -1000000000;
    return static_cast<int>(code);
}

// At high verbosity, each process's time spent trading its border planes,
// against the stepping time of the whole run.
void reportExchange(const PlaneExchange& exchange, double seconds) {
    const double mine = exchange.seconds();
    std::vector<unsigned char> all;
    std::vector<std::size_t> sizes;
    processes::gatherBytes(&mine, sizeof mine, all, sizes);
    if (verboseLevel <= 0 || processes::rank() != 0) return;
    std::printf("Border plane exchange of %1.2f sec stepping:", seconds);
    for (std::size_t p = 0; p < sizes.size(); ++p) {
        double each = 0.0;
        std::memcpy(&each, all.data() + p * sizeof each, sizeof each);
        std::printf(" %1.1f%%", seconds > 0 ? 100.0 * each / seconds : 0.0);
    }
    std::printf(" (processes 0 to %d)\n", static_cast<int>(sizes.size()) - 1);
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

    if (verboseLevel >= 0) {
        std::printf("Running FDTD simulation...\n");
    } else {
        std::printf("\t01");
        std::fflush(stdout);
    }
    const std::int64_t startTime = clockMilliseconds();
    std::int64_t lastReportTime = startTime;
    ProgressRate rate{static_cast<double>(grid.cellCount()) * 1e-6};
    grid.sampleProbes();
    if (views.active()) views.start();

    const std::uint32_t excitationLength = source.excitationLength;
    // Without a source nothing can ever be measured: the field stays zero.
    const bool excited = source.excitedAxis >= 0;

    double maxEnergy = 0.0;
    double energyRatio = 1.0;
    int lastProgressCode = 2;

    while (excited) {
        const std::uint32_t s = grid.stepCount;
        if (s >= maxTimesteps) {
            std::fprintf(stderr, "WARNING: Maximum time reached before energy decayed.\n");
            break;
        }
        // The energy is wanted after every chunk while the pulse lasts, and
        // with -r; the sweep can then take it on the way.
        grid.measureEnergy = s <= excitationLength || reproducibleEnd;
        if (views.active())
            views.runChunk(chunk);
        else
            grid.runSteps(chunk);

        double energy = 0.0;
        bool measured = false;
        if (s <= excitationLength) {
            energy = grid.fieldEnergy();
            measured = true;
            if (energy > maxEnergy) maxEnergy = energy;
        }

        // Over several processes, process 0's clock decides for all, and it
        // alone has the energy (fieldEnergy returns 0 elsewhere).
        const std::int64_t now = clockMilliseconds();
        bool report = now - lastReportTime >= 1000;
        processes::broadcast(&report, sizeof report);
        // The decay test runs with each report, or with -r after every chunk,
        // so that the end depends on the step count alone and not on how fast
        // this machine steps.
        if (s > excitationLength && (report || reproducibleEnd)) {
            energy = grid.fieldEnergy();
            measured = true;
            // A field that never rose above zero stays zero: nothing left to decay.
            energyRatio = maxEnergy > 0.0 ? energy / maxEnergy : 0.0;
        }
        if (report) {
            if (verboseLevel >= 0) {
                std::printf("Timestep %d: %1.1f MC/s, %1.1f dB\n", static_cast<int>(s),
                            rate.at(s, static_cast<double>(now - lastReportTime)),
                            std::fabs(10.0 * std::log10(energyRatio)));
            } else {
                int code = s < excitationLength
                               ? static_cast<int>(s * 22u / excitationLength + 3u)
                               : decayCode(energyRatio, energyThreshold);
                if (code > lastProgressCode) {
                    if (code > 99) code = 99;
                    std::printf("\t%02d", code);
                    std::fflush(stdout);
                    lastProgressCode = code;
                }
            }
            lastReportTime = now;
        }

        // An unstable grid (a gain medium, a step beyond the stability limit)
        // grows without bound; stop instead of stepping on to the limit, and
        // write no results that could pass for sound ones.
        enum Decision : int { kGoOn, kStop, kUnstableField };
        int decision = kGoOn;
        if (measured && !std::isfinite(energy)) {
            std::fprintf(stderr,
                         "ERROR: Field energy is not finite at timestep %u: the simulation is "
                         "unstable. No results were written.\n",
                         grid.stepCount);
            decision = kUnstableField;
        } else if (abortFileExists()) {
            std::fprintf(stderr, "WARNING: User termination before energy decayed.\n");
            std::fflush(stderr);
            decision = kStop;
        } else if (!(energyRatio > energyThreshold)) {
            decision = kStop;
        }
        // Every process stops after the same step.
        processes::broadcast(&decision, sizeof decision);
        if (decision == kUnstableField) return run_error::kUnstable;
        if (decision == kStop) break;
    }
    if (grid.exchange) grid.exchange->finish();

    const std::int64_t loopEnd = clockMilliseconds();
    if (verboseLevel >= 0)
        std::printf("Performed %d iterations in %1.1f sec\n", static_cast<int>(grid.stepCount),
                    (loopEnd - startTime) * 0.001);
    if (grid.exchange) reportExchange(*grid.exchange, (loopEnd - startTime) * 0.001);

    if (radiation) {
        if (verboseLevel < 0) {
            std::printf("\tM0\tM4\t03");
            std::fflush(stdout);
        }
        // The transform's directions are shared by the threads that may step.
        radiation->threadCount = std::min(threadCount, grid.processorCount);
        grid.analyzeProbes();
        if (verboseLevel >= 0)
            std::printf("Time for calculating radiation: %1.1f sec\n",
                        (clockMilliseconds() - loopEnd) * 0.001);
    }

    if (views.active()) views.finish();
    bool resultsLost = false;
    if (processes::rank() == 0 && !results.writeDataset(radiation.get())) {
        std::fprintf(stderr, "ERROR: Can't save results into file.\n");
        if (!results.writeFailure.empty())
            std::fprintf(stderr, "  Results file '%s': %s.\n", results.fileName.c_str(),
                         results.writeFailure.c_str());
        // A description with nothing to write (no port, no frequency) ends as
        // it always has; a whole run whose file could not be written must not
        // look like a success to the host that reads it next.
        resultsLost = !results.writeFailure.empty();
    }
    std::fflush(stdout);
    if (resultsLost) return run_error::kResultsLost;
    // The results are in place, but a host must not take the views as whole.
    return views.active() && views.lost() ? run_error::kViewsLost : 0;
}
