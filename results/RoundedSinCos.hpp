#pragma once

#include <cstddef>

namespace fendrix {

// Cosines and sines of single-precision angles, each the float nearest to the
// double-precision library function of the angle: exactly what
// static_cast<float>(std::cos(static_cast<double>(x))) gives, several angles
// per vector instruction. The far-field transform needs one of each per
// surface node and direction, and its sums, so the results files, must not
// depend on how they were computed.
//
// How it stays exact: the vector path reduces the angle by pi/2 in three parts
// and evaluates Taylor polynomials in double precision, within 63,000 units in
// the last place of the double result (units of 2^-53 for results from 0.5 to
// 1). A result further than that from the midpoint between two floats rounds
// to the same float as the library's, which is within one unit; the few within
// kMidpointMargin units of a midpoint (about one in 2,000) are computed again
// with the library functions, as are zero angles, angles beyond
// kLargestReducedAngle and non-numbers.
void roundedCosSin(const float* angles, float* cosines, float* sines, std::size_t count);

constexpr double kLargestReducedAngle = 262144.0;  // 2^18 rad: n * (pi/2 high part) stays exact
constexpr int kMidpointMarginBits = 17;
constexpr long long kMidpointMargin = 1LL << kMidpointMarginBits;  // double units in the last place

}  // namespace fendrix
