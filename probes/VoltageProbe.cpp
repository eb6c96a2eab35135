#include <cmath>
#include <vector>

#include "common/PhysicalConstants.hpp"
#include "grid/FdtdEngine.hpp"
#include "probes/Probe.hpp"

namespace fendrix {

VoltageProbe::VoltageProbe(FdtdEngine* engine, const std::vector<double>* frequencies)
    : Probe(engine), frequencies(frequencies), spectrum(frequencies ? frequencies->size() : 0) {}

// One sample of the running transform: spectrum[m] += v(t) * exp(-j 2 pi f_m t).
// The phase, its cosine and sine and the products are single precision; only the
// running sums are double. No sampling-interval factor: all port probes are
// sampled at the same moments, so it cancels in the port parameters.
void VoltageProbe::sample() { accumulate(static_cast<float>(value())); }

void VoltageProbe::accumulate(float v) {
    const double t = engine->fieldTime(isCurrent != 0);  // H lives half a step later
    const double w = t * -kTwoPi;
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

double VoltageProbe::value() const {
    std::vector<FieldTerm> terms;
    listTerms(terms);
    std::vector<float> values(terms.size());
    const FdtdEngine& g = *engine;
    for (std::size_t i = 0; i < terms.size(); ++i) {
        const FieldTerm& t = terms[i];
        values[i] = (t.magnetic ? g.hField : g.eField)[g.fieldIndex(t.x, t.y, t.z, t.c)];
    }
    return combine(values);
}

// Port voltage: the stored E values are edge voltages, so summing them along the
// port gives the voltage from the first corner towards the second. Each of the
// three runs starts again at the first corner.
void VoltageProbe::listTerms(std::vector<FieldTerm>& out) const {
    const std::uint32_t x1 = lowIndex[0], y1 = lowIndex[1], z1 = lowIndex[2];
    out.clear();
    for (std::uint32_t i = x1; i < highIndex[0]; ++i) out.push_back({i, y1, z1, 0, false});
    for (std::uint32_t j = y1; j < highIndex[1]; ++j) out.push_back({x1, j, z1, 1, false});
    for (std::uint32_t k = z1; k < highIndex[2]; ++k) out.push_back({x1, y1, k, 2, false});
}

double VoltageProbe::combine(const std::vector<float>& values) const {
    double sum = 0.0;
    for (const float v : values) sum += v;
    return sum;
}

}  // namespace fendrix
