// A measure of the field left in the grid: sum of squares of every E and H
// value, weighted by the vacuum constants. Only ratios of it matter (the run
// loop compares it with its maximum), so no cell volumes or materials enter.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/PhysicalConstants.hpp"
#include "common/ProcessGroup.hpp"
#include "engine/Vec4.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

namespace {
constexpr int kEnergyTag = 3;

// A square below 2^-126 is subnormal, and the processor takes a slow
// microcode path for each one it produces or adds: ahead of a wavefront,
// where the fields fall off to nothing, nearly every square is one. Added to a
// sum of at least 2^-101 such a square cannot change it (it is below half the
// sum's last place), so once every lane sum has got there, values under 2^-63
// can be dropped before squaring, and the sums stay the same to the bit.
constexpr float kLargeSum = 0x1p-101f;

#ifdef FENDRIX_VECTOR_EXTENSION
// x where |x| >= 2^-63, else 0, decided on the bit pattern so that no
// floating-point operation sees a subnormal.
inline Vec4 withoutTiny(Vec4 x) {
    typedef std::int32_t Bits __attribute__((vector_size(16)));
    Bits bits;
    std::memcpy(&bits, &x.v, 16);
    bits &= (bits & 0x7fffffff) >= (64 << 23);  // biased exponent of 2^-63
    std::memcpy(&x.v, &bits, 16);
    return x;
}
#else
inline Vec4 withoutTiny(Vec4 x) {
    for (float& f : x.v) f = std::fabs(f) >= 0x1p-63f || std::isnan(f) ? f : 0.0f;
    return x;
}
#endif

inline Vec4 square(const float* p, bool dropTiny) {
    const Vec4 x = dropTiny ? withoutTiny(Vec4::load(p)) : Vec4::load(p);
    return x * x;
}
}  // namespace

// The range is the one the H update covers: the last row of a plane and the
// last plane are left out; spare x positions are included (they hold zeros).
// Four lanes of single-precision sums for each field, E in lanes[0..3], H in
// lanes[4..7], added block by block in storage order.
void FdtdEngine::addPlaneEnergy(std::size_t k, float lanes[8]) const {
    const std::size_t nv = Nv, ny = Ny();
    if (k + 1 >= Nz()) return;
    bool large = true;
    for (int l = 0; l < 8; ++l) large = large && lanes[l] >= kLargeSum;
    Vec4 accE = Vec4::load(lanes), accH = Vec4::load(lanes + 4);
    for (std::size_t j = 0; j + 1 < ny; ++j) {
        const std::size_t first = 12 * (planeBlock(k) + j * nv);
        const float* e = eField + first;
        const float* h = hField + first;
        for (std::size_t v = 0; v < nv; ++v, e += 12, h += 12) {
            accE = ((accE + square(e, large)) + square(e + 4, large)) + square(e + 8, large);
            accH = ((accH + square(h, large)) + square(h + 4, large)) + square(h + 8, large);
        }
    }
    accE.store(lanes);
    accH.store(lanes + 4);
}

// Lane totals in double, each in its fixed order.
double FdtdEngine::energyOfLanes(const float lanes[8]) {
    const double sumE = ((static_cast<double>(lanes[0]) + lanes[1]) + lanes[2]) + lanes[3];
    const double sumH = ((static_cast<double>(lanes[5]) + lanes[4]) + lanes[6]) + lanes[7];
    return sumH * kMu0 + sumE * kEpsilon0;
}

double FdtdEngine::fieldEnergy() const {
    if (sweptEnergy.valid && sweptEnergy.step == stepCount) return sweptEnergy.value;
    if (Nz() <= 1) return 0.0;

    // Over several processes the running sums go from process to process in
    // plane order, so that every value is added in the order of one process
    // and the total is the same to the bit; the last process hands the total
    // to process 0, which alone gets it (the others return 0).
    alignas(16) float lanes[8] = {};
    const int process = processes::rank(), last = processes::count() - 1;
    if (process > 0) processes::receiveFrom(process - 1, lanes, sizeof lanes, kEnergyTag);
    const PlaneRange planes = ownedPlanes();
    for (std::size_t k = planes.begin; k < planes.end; ++k) addPlaneEnergy(k, lanes);
    if (process < last) {
        processes::sendTo(process + 1, lanes, sizeof lanes, kEnergyTag);
        double total = 0.0;
        if (process == 0) processes::receiveFrom(last, &total, sizeof total, kEnergyTag);
        return total;
    }
    const double total = energyOfLanes(lanes);
    if (process > 0) {
        processes::sendTo(0, &total, sizeof total, kEnergyTag);
        return 0.0;
    }
    return total;
}

}  // namespace fendrix
