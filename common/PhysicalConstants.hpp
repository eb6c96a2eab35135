#pragma once

namespace fendrix {

// Vacuum constants with exactly the digits every formula of the simulator uses.
inline constexpr double kEpsilon0 = 8.85418781762e-12;  // F/m
inline constexpr double kMu0 = 1.256637062e-6;          // H/m
inline constexpr double kSpeedOfLight = 299792458.0;    // m/s
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;

}  // namespace fendrix
