// Cosines and sines of float angles in double precision, two at a time, rounded
// to the floats the library functions give (see the header for why that holds).
#include "results/RoundedSinCos.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/WideClones.hpp"

namespace fendrix {

namespace {

// pi/2 in three parts: the first two with 33 significant bits, so that n times
// either is exact for |n| < 2^20, the third the rest rounded to double.
constexpr double kHalfPiHigh = 0x1.921fb544p+0;
constexpr double kHalfPiMiddle = 0x1.0b4611a6p-34;
constexpr double kHalfPiLow = 0x1.3198a2e037073p-69;
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// Adding 1.5 * 2^52 rounds to an integer, which then sits in the low
// mantissa bits (two's complement for negative ones).
constexpr double kRoundingShift = 0x1.8p52;

// Taylor coefficients of sin r / r - 1 and cos r - 1 in z = r^2, through r^11
// and r^12: on |r| <= pi/4 the first terms left out, r^13 / 13! and
// r^14 / 14!, are below 7e-12 and 4e-13, under 63,000 units in the last place
// of results from 0.5 to 1 and fewer below: half the margin.
constexpr double kSine[5] = {-1.0 / 6, 1.0 / 120, -1.0 / 5040, 1.0 / 362880, -1.0 / 39916800};
constexpr double kCosine[6] = {-1.0 / 2, 1.0 / 24, -1.0 / 720, 1.0 / 40320, -1.0 / 3628800, 1.0 / 479001600};

float libraryCos(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
float librarySin(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }

// The vector path uses GCC's generic vectors (FENDRIX_WIDE_CLONES makes them
// AVX2 or AVX-512 instructions where the processor has them).
#if defined(__GNUC__) && !defined(__clang__)
#define FENDRIX_COS_SIN_VECTORS 1
#endif

#ifdef FENDRIX_COS_SIN_VECTORS
constexpr int kWidth = 16;  // angles per step: two AVX-512 vectors, two chains in flight
typedef double Doubles __attribute__((vector_size(8 * kWidth)));
typedef std::uint64_t Bits __attribute__((vector_size(8 * kWidth)));
typedef float Floats __attribute__((vector_size(4 * kWidth)));
typedef std::uint32_t Words __attribute__((vector_size(4 * kWidth)));
constexpr std::uint32_t kLargestReducedBits = std::bit_cast<std::uint32_t>(static_cast<float>(kLargestReducedAngle));
#endif

}  // namespace

FENDRIX_WIDE_CLONES
void roundedCosSin(const float* angles, float* cosines, float* sines, std::size_t count) {
    std::size_t i = 0;
#ifdef FENDRIX_COS_SIN_VECTORS
    for (; i + kWidth <= count; i += kWidth) {
        Floats angle;
        std::memcpy(&angle, angles + i, sizeof angle);
        const Doubles x = __builtin_convertvector(angle, Doubles);
        // x = n pi/2 + r with |r| <= pi/4 (a hair more where x * 2/pi rounds).
        const Doubles shifted = x * kTwoOverPi + kRoundingShift;
        const Bits quadrant = __builtin_bit_cast(Bits, shifted) & 3;
        const Doubles n = shifted - kRoundingShift;
        const Doubles r = ((x - n * kHalfPiHigh) - n * kHalfPiMiddle) - n * kHalfPiLow;
        const Doubles z = r * r;
        Doubles sinPart = z * kSine[4];
        for (int t = 3; t >= 0; --t) sinPart = z * (kSine[t] + sinPart);
        const Doubles sinR = r + r * sinPart;
        Doubles cosPart = z * kCosine[5];
        for (int t = 4; t >= 0; --t) cosPart = z * (kCosine[t] + cosPart);
        const Doubles cosR = 1.0 + cosPart;
        // cos x:  cos r, -sin r, -cos r,  sin r  in quadrants 0..3;
        // sin x:  sin r,  cos r, -sin r, -cos r. Masks from the quadrant's bits
        // by arithmetic (SSE2 has no 64-bit compare).
        const Bits swap = -(quadrant & 1);
        const Bits sinBitsR = __builtin_bit_cast(Bits, sinR);
        const Bits cosBitsR = __builtin_bit_cast(Bits, cosR);
        const Bits cosBits = ((swap & sinBitsR) | (~swap & cosBitsR)) ^ (((quadrant + 1) & 2) << 62);
        const Bits sinBits = ((swap & cosBitsR) | (~swap & sinBitsR)) ^ ((quadrant & 2) << 62);
        // 1 where the result is away from the midpoint between two floats: the
        // 29 bits a float drops are not within about kMidpointMargin of
        // 1000...0. (No cosine or sine of a float comes near the floats'
        // subnormal range.)
        constexpr int shift = kMidpointMarginBits + 1;
        constexpr std::uint64_t midpoint = (0x10000000 + kMidpointMargin - 1) >> shift;
        const Bits cosAway = (((cosBits & 0x1FFFFFFF) + (kMidpointMargin - 1)) >> shift) ^ midpoint;
        const Bits sinAway = (((sinBits & 0x1FFFFFFF) + (kMidpointMargin - 1)) >> shift) ^ midpoint;
        // Angles taken: not zero (whose sine keeps the angle's sign of zero only
        // in the library), not beyond the exact reduction, not a non-number:
        // magnitude bits from 1 to those of the largest, as one unsigned compare.
        const Words magnitude = __builtin_bit_cast(Words, angle) & 0x7FFFFFFF;
        const Words reduced = __builtin_bit_cast(Words, magnitude - 1 < kLargestReducedBits) & 1;
        const Bits away = ((cosAway | -cosAway) & (sinAway | -sinAway)) >> 63;
        const Words good = reduced & __builtin_convertvector(away, Words);
        const Floats cosine = __builtin_convertvector(__builtin_bit_cast(Doubles, cosBits), Floats);
        const Floats sine = __builtin_convertvector(__builtin_bit_cast(Doubles, sinBits), Floats);
        std::memcpy(cosines + i, &cosine, sizeof cosine);
        std::memcpy(sines + i, &sine, sizeof sine);
        std::uint32_t bad = 0;
        for (int l = 0; l < kWidth; ++l) bad |= good[l] ^ 1u;
        const bool all = bad == 0;
        if (all) continue;
        for (int l = 0; l < kWidth; ++l)
            if (good[l] == 0) {
                cosines[i + l] = libraryCos(angles[i + l]);
                sines[i + l] = librarySin(angles[i + l]);
            }
    }
#endif
    for (; i < count; ++i) {
        cosines[i] = libraryCos(angles[i]);
        sines[i] = librarySin(angles[i]);
    }
}

}  // namespace fendrix
