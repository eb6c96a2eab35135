#include "results/Results.hpp"

namespace fendrix {

// Evenly spaced analysis frequencies from f1 to f2, both ends included.
void Results::addFrequencies(double f1, double f2, std::int32_t count) {
    if (count < 1) return;
    const double step = count > 1 ? (f2 - f1) / (count - 1) : 0.0;
    frequencies.reserve(frequencies.size() + static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) frequencies.push_back(i * step + f1);
}

}  // namespace fendrix
