// Placeholder until this file is written.
#include "results/RadiationSetup.hpp"
RadiationSetup::RadiationSetup(float f, std::uint32_t e, std::uint32_t a, std::uint32_t m) : azimuthCount(a), elevationCount(e), boxMargin(m), frequency(f) {}
bool RadiationSetup::accumulateFace(const std::uint32_t*, const double* const*, const std::complex<float>*, const std::complex<float>*, int) { return false; }
void RadiationSetup::finishPattern() {}
