#include "driver/ProgressReport.hpp"

#include <cmath>
#include <cstdio>

#include "common/Console.hpp"

namespace fendrix {

int decayCode(double ratio, double threshold) {
    double code = 100.0 * std::log(ratio) / std::log(threshold);
    if (!(code < 99.0)) return 99;  // also +inf and NaN (ratio 0, threshold 1)
    if (code < -1.0e9) return -1000000000;
    return static_cast<int>(code);
}

ProgressReport::ProgressReport(double megaCells, std::uint32_t excitationLength, double threshold)
    : rate{megaCells}, excitationLength(excitationLength), threshold(threshold) {}

void ProgressReport::begin(std::int64_t now) {
    console::say("Running FDTD simulation...\n");
    console::hostCodes("\t01");
    startTime = now;
    lastReportTime = now;
}

void ProgressReport::report(std::uint32_t step, std::int64_t now, double energyRatio) {
    if (console::readable()) {
        console::say("Timestep %d: %1.1f MC/s, %1.1f dB\n", static_cast<int>(step),
                    rate.at(step, static_cast<double>(now - lastReportTime)),
                    std::fabs(10.0 * std::log10(energyRatio)));
    } else {
        int code = step < excitationLength ? static_cast<int>(step * 22u / excitationLength + 3u)
                                           : decayCode(energyRatio, threshold);
        if (code > lastProgressCode) {
            if (code > 99) code = 99;
            console::hostCodes("\t%02d", code);
            lastProgressCode = code;
        }
    }
    lastReportTime = now;
}

void ProgressReport::end(std::uint32_t steps, std::int64_t now) const {
    console::say("Performed %d iterations in %1.1f sec\n", static_cast<int>(steps), (now - startTime) * 0.001);
}

void ProgressReport::farFieldCode() {
    console::hostCodes("\tM0\tM4\t03");
}

}  // namespace fendrix
