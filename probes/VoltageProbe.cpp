#include <cmath>

#include "common/PhysicalConstants.hpp"
#include "grid/FdtdEngine.hpp"
#include "probes/Probe.hpp"

VoltageProbe::VoltageProbe(FdtdEngine* engine, const std::vector<double>* frequencies)
    : Probe(engine), frequencies(frequencies), spectrum(frequencies ? frequencies->size() : 0) {}

// One sample of the running transform: spectrum[m] += v(t) * exp(-j 2 pi f_m t).
// The phase, its cosine and sine and the products are single precision; only the
// running sums are double. No sampling-interval factor: all port probes are
// sampled at the same moments, so it cancels in the port parameters.
void VoltageProbe::sample() {
    const double t = engine->fieldTime(isCurrent != 0);  // H lives half a step later
    const double w = t * -kTwoPi;
    const float v = static_cast<float>(value());
    const std::size_t count = spectrum.size();
    for (std::size_t m = 0; m < count; ++m) {
        const float phi = static_cast<float>((*frequencies)[m] * w);
        const float c = static_cast<float>(std::cos(static_cast<double>(phi)));
        const float s = static_cast<float>(std::sin(static_cast<double>(phi)));
        const float re = c * v;
        const float im = s * v;
        spectrum[m] = {spectrum[m].real() + re, spectrum[m].imag() + im};
    }
}

// Port voltage: the stored E values are edge voltages, so summing them along the
// port gives the voltage from the first corner towards the second. Each of the
// three runs starts again at the first corner.
double VoltageProbe::value() const {
    const FdtdEngine& g = *engine;
    const std::uint32_t x1 = lowIndex[0], y1 = lowIndex[1], z1 = lowIndex[2];
    double sum = 0.0;
    for (std::uint32_t i = x1; i < highIndex[0]; ++i) sum += g.eField[g.fieldIndex(i, y1, z1, 0)];
    for (std::uint32_t j = y1; j < highIndex[1]; ++j) sum += g.eField[g.fieldIndex(x1, j, z1, 1)];
    for (std::uint32_t k = z1; k < highIndex[2]; ++k) sum += g.eField[g.fieldIndex(x1, y1, k, 2)];
    return sum;
}
