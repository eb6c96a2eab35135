// The two leapfrog half steps of the Yee grid, four cells per vector (the
// portable path; engine/FieldKernelsWide.cpp has the 8- and 16-float ones).
//
// A block of 12 floats holds Ex, Ey, Ez (4 lanes each) of the cells at x = v,
// v + Nv, v + 2Nv, v + 3Nv of one row. Neighbours along y and z are whole
// blocks at fixed strides; along x they are the adjacent block of the same
// lane, except at the row ends, where the quarter boundaries are crossed by
// moving the lanes of the opposite row end by one (done once per row, outside
// the per-cell loop).
//
// The arrays hold line integrals of the fields, so the curls are plain
// differences; every cell-size and material factor is in the coefficients.
// Each row is one sequential pass over E, H and the two set-index arrays; the
// x neighbour is carried in registers instead of being loaded twice.

#include <cstddef>
#include <cstdint>

#include "engine/KernelWidth.hpp"
#include "engine/Vec4.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

namespace {

// New E of one block from H of the block (hx, hy, hz), of the block one row /
// one plane back (hBackY / hBackZ: the block itself on the first row / plane,
// which makes that difference 0) and Hy / Hz of the x predecessors.
inline void electricCell(float* e, const float* hBackY, const float* hBackZ,
                         Vec4 hyBackX, Vec4 hzBackX, const float* ca, const float* cb,
                         Vec4 hx, Vec4 hy, Vec4 hz) {
    // Circulation of H around each E edge (Ampere): (curl H)_a.
    Vec4 curlX = (hz - Vec4::load(hBackY + 8)) - (hy - Vec4::load(hBackZ + 4));
    Vec4 curlY = (hx - Vec4::load(hBackZ + 0)) - (hz - hzBackX);
    Vec4 curlZ = (hy - hyBackX) - (hx - Vec4::load(hBackY + 0));
    // E = CA * E + CB * curl: loss/self term plus the displacement current.
    (Vec4::load(ca + 0) * Vec4::load(e + 0) + Vec4::load(cb + 0) * curlX).store(e + 0);
    (Vec4::load(ca + 4) * Vec4::load(e + 4) + Vec4::load(cb + 4) * curlY).store(e + 4);
    (Vec4::load(ca + 8) * Vec4::load(e + 8) + Vec4::load(cb + 8) * curlZ).store(e + 8);
}

// New H of one block from E of the block (ex, ey, ez), of the block one row /
// one plane ahead, and Ey / Ez of the x successors.
inline void magneticCell(float* h, Vec4 ex, Vec4 ey, Vec4 ez, const float* eFwdY,
                         const float* eFwdZ, Vec4 eyFwdX, Vec4 ezFwdX, const float* da,
                         const float* db) {
    // Circulation of E around each H face (Faraday): (curl E)_a.
    Vec4 curlX = (Vec4::load(eFwdY + 8) - ez) - (Vec4::load(eFwdZ + 4) - ey);
    Vec4 curlY = (Vec4::load(eFwdZ + 0) - ex) - (ezFwdX - ez);
    Vec4 curlZ = (eyFwdX - ey) - (Vec4::load(eFwdY + 0) - ex);
    // H = DA * H - DB * curl.
    (Vec4::load(da + 0) * Vec4::load(h + 0) - Vec4::load(db + 0) * curlX).store(h + 0);
    (Vec4::load(da + 4) * Vec4::load(h + 4) - Vec4::load(db + 4) * curlY).store(h + 4);
    (Vec4::load(da + 8) * Vec4::load(h + 8) - Vec4::load(db + 8) * curlZ).store(h + 8);
}

}  // namespace

void FdtdEngine::updateEPlanes(std::size_t kBegin, std::size_t kEnd) {
    const int width = kernelWidth();
    if (width > 4) return electricPlanesWide(*this, kBegin, kEnd, width);
    const std::size_t nv = Nv, ny = Ny();
    if (nv == 0) return;
    const std::size_t rowFloats = 12 * nv;
    const std::size_t planeFloats = rowFloats * ny;
    float* const E = eField;
    const float* const H = hField;
    const float* const CA = caTable;
    const float* const CB = cbTable;

    for (std::size_t k = kBegin; k < kEnd; ++k) {
        const std::size_t plane = planeBlock(k);
        for (std::size_t j = 0; j < ny; ++j) {
            const std::size_t block = plane + j * nv;
            float* e = E + 12 * block;
            const float* h = H + 12 * block;
            // Low edges: the cell is its own backward neighbour (difference 0).
            const float* hBackY = j > 0 ? h - rowFloats : h;
            const float* hBackZ = k > 0 ? h - planeFloats : h;
            const std::uint32_t* keep = keepIndex + block;
            const std::uint32_t* curl = curlIndex + block;

            // Column 0: the x predecessor of lane l's first cell is lane l - 1's
            // last cell, i.e. the row's last block moved up one lane (0 in lane 0).
            const float* last = h + 12 * (nv - 1);
            Vec4 hyBackX = shiftUpLane(Vec4::load(last + 4));
            Vec4 hzBackX = shiftUpLane(Vec4::load(last + 8));
            Vec4 hx = Vec4::load(h + 0), hy = Vec4::load(h + 4), hz = Vec4::load(h + 8);
            electricCell(e, hBackY, hBackZ, hyBackX, hzBackX, CA + 4 * std::size_t(keep[0]),
                         CB + 4 * std::size_t(curl[0]), hx, hy, hz);

            // Columns 1 .. Nv-1: the predecessor is the previous block of the row.
#pragma GCC unroll 2
            for (std::size_t v = 1; v < nv; ++v) {
                hyBackX = hy;
                hzBackX = hz;
                const std::size_t f = 12 * v;
                hx = Vec4::load(h + f + 0);
                hy = Vec4::load(h + f + 4);
                hz = Vec4::load(h + f + 8);
                electricCell(e + f, hBackY + f, hBackZ + f, hyBackX, hzBackX,
                             CA + 4 * std::size_t(keep[v]), CB + 4 * std::size_t(curl[v]), hx, hy,
                             hz);
            }
        }
    }
}

void FdtdEngine::updateHPlanes(std::size_t kBegin, std::size_t kEnd) {
    const int width = kernelWidth();
    if (width > 4) return magneticPlanesWide(*this, kBegin, kEnd, width);
    const std::size_t nv = Nv, ny = Ny(), nz = Nz();
    if (nv == 0) return;
    const std::size_t rowFloats = 12 * nv;
    const std::size_t planeFloats = rowFloats * ny;
    const float* const E = eField;
    float* const H = hField;
    const float* const DA = daTable;
    const float* const DB = dbTable;

    // The last plane and the last row of each plane lie outside the mesh and
    // are never updated, so every forward neighbour along y and z exists.
    for (std::size_t k = kBegin; k < kEnd && k + 1 < nz; ++k) {
        const std::size_t plane = planeBlock(k);
        for (std::size_t j = 0; j + 1 < ny; ++j) {
            const std::size_t block = plane + j * nv;
            const float* e = E + 12 * block;
            float* h = H + 12 * block;
            const float* eFwdY = e + rowFloats;
            const float* eFwdZ = e + planeFloats;
            const std::uint32_t* keep = keepIndex + block;
            const std::uint32_t* curl = curlIndex + block;

            Vec4 ex = Vec4::load(e + 0), ey = Vec4::load(e + 4), ez = Vec4::load(e + 8);
            // Kept for the last column, whose x successors are the first
            // column moved down one lane.
            const Vec4 eyFirst = ey, ezFirst = ez;

            // Columns 0 .. Nv-2: the successor is the next block of the row,
            // loaded once and carried into the next iteration.
#pragma GCC unroll 2
            for (std::size_t v = 0; v + 1 < nv; ++v) {
                const std::size_t f = 12 * v;
                Vec4 exNext = Vec4::load(e + f + 12);
                Vec4 eyNext = Vec4::load(e + f + 16);
                Vec4 ezNext = Vec4::load(e + f + 20);
                magneticCell(h + f, ex, ey, ez, eFwdY + f, eFwdZ + f, eyNext, ezNext,
                             DA + 4 * std::size_t(keep[v]), DB + 4 * std::size_t(curl[v]));
                ex = exNext;
                ey = eyNext;
                ez = ezNext;
            }

            // Column Nv-1: lane l's last cell has lane l + 1's first cell as
            // successor (0 beyond lane 3).
            const std::size_t f = 12 * (nv - 1);
            magneticCell(h + f, ex, ey, ez, eFwdY + f, eFwdZ + f, shiftDownLane(eyFirst),
                         shiftDownLane(ezFirst), DA + 4 * std::size_t(keep[nv - 1]),
                         DB + 4 * std::size_t(curl[nv - 1]));
        }
    }
}

}  // namespace fendrix
