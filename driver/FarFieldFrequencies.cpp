#include "driver/FarFieldFrequencies.hpp"

#include <algorithm>
#include <cstdio>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "grid/FdtdEngine.hpp"
#include "results/Results.hpp"

namespace fendrix {

int checkFarFieldRadiation(const std::vector<double>& frequencies, const RadiationSetup* radiation) {
    if (!frequencies.empty() && radiation == nullptr) {
        console::error("--far-field-freq needs a far field: the description has no Radiation line. Add "
                       "one after the Freq line ('Radiation F AZIMUTHS ELEVATIONS MARGIN').\n");
        return run_error::kFarFieldWithoutRadiation;
    }
    return 0;
}

int checkFarFieldBand(const std::vector<double>& frequencies, const Results& results) {
    // The port power at a far-field frequency is interpolated between analysis
    // frequencies, never extrapolated.
    const auto& list = results.frequencies;
    const double low = list.empty() ? 0.0 : *std::min_element(list.begin(), list.end());
    const double high = list.empty() ? 0.0 : *std::max_element(list.begin(), list.end());
    for (double f : frequencies)
        if (list.empty() || f < low || f > high) {
            console::error("Far-field frequency %g Hz (--far-field-freq) lies outside the band of the Freq "
                           "line, %g to %g Hz. Choose frequencies inside the band, or widen the band.\n",
                           f, low, high);
            return run_error::kFarFieldOutsideBand;
        }
    return 0;
}

int checkFarFieldSampling(const std::vector<double>& frequencies, const FdtdEngine& engine, std::uint32_t chunk) {
    // The surface probes see the field every `chunk` steps: above half that
    // rate a frequency would alias onto a lower one.
    const double limit = 0.5 / (chunk * engine.timeStep);
    for (double f : frequencies)
        if (f > limit) {
            console::error("Far-field frequency %g Hz (--far-field-freq) is above %g Hz, half the rate at "
                           "which the run samples its fields (every %u steps). Choose a lower frequency, or "
                           "raise the samples per Nyquist interval on the Sim line.\n",
                           f, limit, chunk);
            return run_error::kFarFieldAliased;
        }
    return 0;
}

std::vector<ExtraFarField> extraFarFields(const std::vector<double>& frequencies, const RadiationSetup& main) {
    std::vector<ExtraFarField> extras;
    for (double f : frequencies) {
        // The Radiation line's own frequency is the main results file.
        if (static_cast<float>(f) == main.frequency) continue;
        auto setup = std::make_unique<RadiationSetup>(static_cast<float>(f), main.elevationCount,
                                                      main.azimuthCount, main.boxMargin);
        setup->distance = main.distance;
        setup->epsilonR = main.epsilonR;
        setup->muR = main.muR;
        std::copy(main.origin, main.origin + 3, setup->origin);
        extras.push_back({f, std::move(setup)});
    }
    return extras;
}

}  // namespace fendrix
