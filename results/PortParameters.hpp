#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace fendrix {

class RadiationSetup;
class VoltageProbe;

// What the port probes' spectra give after the run: S11, S21, ... at every
// analysis frequency, and port 1's voltage and current for the power it feeds.
struct PortParameters {
    std::size_t portCount = 0;
    std::size_t frequencyCount = 0;
    // S(k+1)1 at analysis frequency f is s[k * frequencyCount + f].
    std::vector<std::complex<double>> s;
    const VoltageProbe* port1 = nullptr;
    const std::vector<std::complex<double>>* port1Current = nullptr;
};

// The radiation figures of the dataset at the far-field frequency.
struct RadiationFigures {
    double directivityDbi = 0.0;
    double efficiency = 0.0;  // percent of the power fed into port 1
    std::complex<double> reflection{0.0, 0.0};  // port 1's S11 at the far-field frequency
};

// Power delivered into the structure at `frequency`, Re(V conj(-I)) / 2 of port 1
// with V and I linearly interpolated between the neighbouring analysis
// frequencies; `above` is the first analysis frequency at or above it.
double inputPowerAt(const PortParameters& ports, const std::vector<double>& frequencies, std::size_t above,
                    double frequency);
// Port 1's reflection coefficient S11 from the same interpolated voltage and current.
std::complex<double> reflectionAt(const PortParameters& ports, const std::vector<double>& frequencies,
                                  std::size_t above, double frequency);

}  // namespace fendrix
