// Port parameters and radiation figures of the results dataset, computed from the
// probes' running spectra after the run; results/DatasetWriter.cpp encodes them.
#include "results/PortParameters.hpp"

#include <cmath>
#include <limits>

#include "probes/Probe.hpp"
#include "results/RadiationSetup.hpp"
#include "results/Results.hpp"

namespace fendrix {

namespace {

using Complex = std::complex<double>;

// Quotient with Smith's scaling (no intermediate overflow). A zero divisor or
// one holding a NaN gives NaN in both parts.
Complex divide(Complex a, Complex b) {
    const double c = b.real(), d = b.imag();
    if ((c == 0.0 && d == 0.0) || std::isnan(c) || std::isnan(d)) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan};
    }
    if (std::fabs(c) >= std::fabs(d)) {
        const double r = d / c, den = c + d * r;
        return {(a.real() + a.imag() * r) / den, (a.imag() - a.real() * r) / den};
    }
    const double r = c / d, den = c * r + d;
    return {(a.real() * r + a.imag()) / den, (a.imag() * r - a.real()) / den};
}

}  // namespace

bool Results::computePortParameters(PortParameters& out) const {
    const std::size_t N = frequencies.size();
    const std::size_t n = ports.size();
    if (N == 0 || n == 0 || sourceCurrent == nullptr || sourceCurrent->spectrum.size() != N)
        return false;

    // Every port number 1..n exactly once: the coefficients are placed by port
    // number. Anything else has no sound meaning, so nothing is written.
    std::vector<const VoltageProbe*> byNumber(n, nullptr);
    for (const VoltageProbe* port : ports) {
        if (port == nullptr || port->spectrum.size() != N) return false;
        const std::int32_t number = port->portNumber;
        if (number < 1 || static_cast<std::size_t>(number) > n || byNumber[number - 1]) return false;
        byNumber[number - 1] = port;
    }

    // Reference impedances (signed) and the transmission factors
    // c(k) = sqrt(|Zk / Z1|) * 2 * Z1 / Zk, which refer each port's wave to its
    // own impedance; the sign is the product of the two orientations.
    std::vector<double> factor(n);
    for (std::size_t k = 0; k < n; ++k) factor[k] = byNumber[k]->referenceImpedance;
    const double z1 = factor[0];
    for (std::size_t k = 1; k < n; ++k)
        factor[k] = std::sqrt(std::fabs(factor[k] / z1)) * 2.0 * z1 / factor[k];
    const double r = std::fabs(z1);

    // Waves at port 1 with -I the current into the structure: incident ~ V - R I,
    // reflected ~ V + R I; the voltage at port k over the incident wave gives Sk1.
    out.portCount = n;
    out.frequencyCount = N;
    out.port1 = byNumber[0];
    out.port1Current = &sourceCurrent->spectrum;
    out.s.assign(n * N, Complex{});
    const std::vector<Complex>& current = sourceCurrent->spectrum;
    for (std::size_t f = 0; f < N; ++f) {
        const Complex v1 = byNumber[0]->spectrum[f];
        const Complex ri = r * current[f];
        const Complex d = v1 - ri;
        out.s[f] = divide(v1 + ri, d);
        for (std::size_t k = 1; k < n; ++k) {
            const Complex q = divide(byNumber[k]->spectrum[f], d);
            out.s[k * N + f] = {q.real() * factor[k], q.imag() * factor[k]};
        }
    }
    return true;
}

namespace {

// Port 1's voltage and current at `frequency`, linearly interpolated between
// the neighbouring analysis frequencies (the first sample at or below the
// first frequency).
void portValuesAt(const PortParameters& ports, const std::vector<double>& frequencies, std::size_t above,
                  double frequency, Complex& v, Complex& i) {
    const std::vector<Complex>& voltage = ports.port1->spectrum;
    const std::vector<Complex>& current = *ports.port1Current;
    v = voltage[0], i = current[0];
    if (above > 0) {
        const double t = (frequencies[above] - frequency) / (frequencies[above] - frequencies[above - 1]);
        v = (1.0 - t) * voltage[above] + t * voltage[above - 1];
        i = (1.0 - t) * current[above] + t * current[above - 1];
    }
}

}  // namespace

double inputPowerAt(const PortParameters& ports, const std::vector<double>& frequencies, std::size_t above,
                    double frequency) {
    Complex v, i;
    portValuesAt(ports, frequencies, above, frequency, v, i);
    return -0.5 * (v.real() * i.real() + v.imag() * i.imag());
}

Complex reflectionAt(const PortParameters& ports, const std::vector<double>& frequencies, std::size_t above,
                     double frequency) {
    Complex v, i;
    portValuesAt(ports, frequencies, above, frequency, v, i);
    const double r = std::fabs(ports.port1->referenceImpedance);
    return divide(v + r * i, v - r * i);
}

bool Results::computeRadiationFigures(const PortParameters& ports, RadiationSetup& radiation,
                                      RadiationFigures& out) const {
    // The far-field frequency must lie within the list: the port power there is
    // interpolated between two analysis frequencies, never extrapolated upwards.
    const std::size_t N = frequencies.size();
    const double farFrequency = radiation.frequency;
    std::size_t m = 0;
    while (m < N && !(frequencies[m] >= farFrequency)) ++m;
    if (m == N) return false;

    radiation.finishPattern();
    const double inputPower = inputPowerAt(ports, frequencies, m, static_cast<double>(radiation.frequency));
    out.directivityDbi = 10.0 * std::log10(radiation.maxDirectivity);
    out.efficiency = 100.0 * radiation.radiatedPower / inputPower;
    out.reflection = reflectionAt(ports, frequencies, m, static_cast<double>(radiation.frequency));
    return true;
}

}  // namespace fendrix
