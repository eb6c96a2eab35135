// A measure of the field left in the grid: sum of squares of every E and H
// value, weighted by the vacuum constants. Only ratios of it matter (the run
// loop compares it with its maximum), so no cell volumes or materials enter.

#include <cstddef>

#include "common/PhysicalConstants.hpp"
#include "common/ProcessGroup.hpp"
#include "engine/Vec4.hpp"
#include "grid/FdtdEngine.hpp"

namespace {
constexpr int kEnergyTag = 3;
}  // namespace

double FdtdEngine::fieldEnergy() const {
    const std::size_t nv = Nv, ny = Ny(), nz = Nz();
    if (nz <= 1) return 0.0;

    // Four lanes of single-precision sums for each field. The range is the one
    // the H update covers: the last row of a plane and the last plane are left
    // out; spare x positions are included (they hold zeros).
    //
    // Over several processes the running sums go from process to process in
    // plane order, so that every value is added in the order of one process
    // and the total is the same to the bit; the last process hands the total
    // to process 0, which alone gets it (the others return 0).
    alignas(16) float lanes[8] = {};
    const int process = processes::rank(), last = processes::count() - 1;
    if (process > 0) processes::receiveFrom(process - 1, lanes, sizeof lanes, kEnergyTag);
    Vec4 accE = Vec4::load(lanes), accH = Vec4::load(lanes + 4);
    const PlaneRange planes = ownedPlanes();
    for (std::size_t k = planes.begin; k < planes.end && k + 1 < nz; ++k) {
        for (std::size_t j = 0; j + 1 < ny; ++j) {
            const std::size_t first = 12 * (planeBlock(k) + j * nv);
            const float* e = eField + first;
            const float* h = hField + first;
            for (std::size_t v = 0; v < nv; ++v, e += 12, h += 12) {
                Vec4 ex = Vec4::load(e), ey = Vec4::load(e + 4), ez = Vec4::load(e + 8);
                Vec4 hx = Vec4::load(h), hy = Vec4::load(h + 4), hz = Vec4::load(h + 8);
                accE = ((accE + ex * ex) + ey * ey) + ez * ez;
                accH = ((accH + hx * hx) + hy * hy) + hz * hz;
            }
        }
    }
    if (process < last) {
        accE.store(lanes);
        accH.store(lanes + 4);
        processes::sendTo(process + 1, lanes, sizeof lanes, kEnergyTag);
        double total = 0.0;
        if (process == 0) processes::receiveFrom(last, &total, sizeof total, kEnergyTag);
        return total;
    }

    // Lane totals in double, each in its fixed order.
    const double sumE = ((static_cast<double>(accE.lane(0)) + accE.lane(1)) + accE.lane(2)) +
                        accE.lane(3);
    const double sumH = ((static_cast<double>(accH.lane(1)) + accH.lane(0)) + accH.lane(2)) +
                        accH.lane(3);
    const double total = sumH * kMu0 + sumE * kEpsilon0;
    if (process > 0) {
        processes::sendTo(0, &total, sizeof total, kEnergyTag);
        return 0.0;
    }
    return total;
}
