#pragma once

#include <cstdint>

#include "driver/ProgressRate.hpp"

namespace fendrix {

// The run's progress on standard output: readable lines once a second, or in
// host mode the two-digit codes a host program reads (01 at the start, 03..25
// through the pulse, then the decay towards the threshold in percent of its
// log scale, never beyond 99).
class ProgressReport {
public:
    ProgressReport(double megaCells, std::uint32_t excitationLength, double threshold);

    void begin(std::int64_t now);
    // A report is due once a second.
    bool due(std::int64_t now) const { return now - lastReportTime >= 1000; }
    void report(std::uint32_t step, std::int64_t now, double energyRatio);
    // After the stepping: the step count and the stepping time.
    void end(std::uint32_t steps, std::int64_t now) const;
    // Host code of the far-field transform, before it starts.
    static void farFieldCode();

    std::int64_t startTime = 0;

private:
    ProgressRate rate;
    std::uint32_t excitationLength;
    double threshold;
    std::int64_t lastReportTime = 0;
    int lastProgressCode = 2;
};

// Host progress code of the decay phase: how far the energy has fallen on the
// way to the threshold, in percent (log scale), at most 99.
int decayCode(double ratio, double threshold);

}  // namespace fendrix
