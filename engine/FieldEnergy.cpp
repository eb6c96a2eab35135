// A measure of the field left in the grid: sum of squares of every E and H
// value, weighted by the vacuum constants. Only ratios of it matter (the run
// loop compares it with its maximum), so no cell volumes or materials enter.

#include <cstddef>

#include "common/PhysicalConstants.hpp"
#include "engine/Vec4.hpp"
#include "grid/FdtdEngine.hpp"

double FdtdEngine::fieldEnergy() const {
    const std::size_t nv = Nv, ny = Ny(), nz = Nz();
    if (nz <= 1) return 0.0;

    // Four lanes of single-precision sums for each field. The range is the one
    // the H update covers: the last row of a plane and the last plane are left
    // out; spare x positions are included (they hold zeros).
    Vec4 accE = Vec4::zero(), accH = Vec4::zero();
    for (std::size_t k = 0; k + 1 < nz; ++k) {
        for (std::size_t j = 0; j + 1 < ny; ++j) {
            const std::size_t first = 12 * ((k * ny + j) * nv);
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

    // Lane totals in double, each in its fixed order.
    const double sumE = ((static_cast<double>(accE.lane(0)) + accE.lane(1)) + accE.lane(2)) +
                        accE.lane(3);
    const double sumH = ((static_cast<double>(accH.lane(1)) + accH.lane(0)) + accH.lane(2)) +
                        accH.lane(3);
    return sumH * kMu0 + sumE * kEpsilon0;
}
