#include "engine/PerfectlyMatchedLayer.hpp"

#include <cmath>

#include "common/AlignedMemory.hpp"
#include "common/PhysicalConstants.hpp"
#include "engine/Vec4.hpp"
#include "grid/BoundaryKind.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

namespace {

// Grading of the stretch with the depth rho (0 at the layer's inner edge, 1 at
// the conductor behind it): sigma and kappa - 1 rise as rho^m, alpha falls
// linearly. sigma_max is the usual optimum for a polynomial grading,
// 0.8 (m + 1) / (eta0 d sqrt(eps_r)) with d the layer's mean cell and eps_r
// the background's. m = 3, kappa_max = 5 and the plain optimum gave the least
// reflection in bench_pml (kappa_max 1 or 10, or sigma_max 0.7 or 1.5 times
// the optimum, reflected up to 10 dB more).
constexpr double kOrder = 3.0;
constexpr double kSigmaScale = 1.0;
constexpr double kKappaMax = 5.0;

// One stretched-difference step for the four lanes of a block (psi 16-byte
// aligned): psi <- b psi + a D, and D (1/kappa - 1) + psi, what the plain
// difference D is missing.
struct Stretch4 {
    Vec4 b, a, k;
    explicit Stretch4(const PerfectlyMatchedLayer::Axis::Node& n)
        : b(Vec4::make(n.b, n.b, n.b, n.b)), a(Vec4::make(n.a, n.a, n.a, n.a)), k(Vec4::make(n.k, n.k, n.k, n.k)) {}
    // Lanes outside the layer have all factors 0: their psi stays 0 and
    // they add 0.
    explicit Stretch4(const PerfectlyMatchedLayer::Column& c)
        : b(Vec4::load(c.b)), a(Vec4::load(c.a)), k(Vec4::load(c.k)) {}
    Vec4 operator()(Vec4 d, float* psi) const {
        const Vec4 p = b * Vec4::load(psi) + a * d;
        p.store(psi);
        return k * d + p;
    }
};

}  // namespace

PerfectlyMatchedLayer::~PerfectlyMatchedLayer() {
    for (int d = 0; d < 3; ++d) {
        alignedRelease(psiE[d]);
        alignedRelease(psiH[d]);
    }
}

bool PerfectlyMatchedLayer::initialise(const FdtdEngine& engine, std::uint32_t cells, double lowFrequency) {
    const double dt = engine.timeStep;
    const double eta0 = std::sqrt(kMu0 / kEpsilon0);
    // The frequency shift alpha: well below lowFrequency the stretch fades
    // to kappa, so that static and slowly varying fields are not absorbed
    // without bound, which keeps the layer stable at late time.
    const double alphaMax = kTwoPi * kEpsilon0 * lowFrequency;
    const FdtdEngine::PlaneRange owned = engine.ownedPlanes();
    planeBegin = owned.begin;
    planeCount = owned.end - owned.begin;

    for (int d = 0; d < 3; ++d) {
        const std::vector<double>& x = engine.meshLines[d];
        const std::uint32_t last = engine.lineCount[d] - 1;
        Axis& axis = axes[d];
        axis.eSlot.assign(last + 1, -1);
        axis.hSlot.assign(last, -1);
        for (int side = 0; side < 2; ++side) {
            if (engine.boundaryKind[2 * d + side] != boundary_kind::kAbsorbing) continue;
            const double inner = side == 0 ? x[cells] : x[last - cells];
            const double depth = side == 0 ? inner - x[0] : x[last] - inner;
            const double sigmaMax =
                kSigmaScale * 0.8 * (kOrder + 1) / (eta0 * (depth / cells) * std::sqrt(engine.backgroundEpsR));
            // Factors of a node at `position`, if it lies inside this layer.
            auto node = [&](std::uint32_t index, double position, std::vector<Axis::Node>& list,
                            std::vector<int>& slot) {
                const double rho = (side == 0 ? inner - position : position - inner) / depth;
                if (!(rho > 0)) return;
                const double g = std::pow(rho, kOrder);
                const double sigma = sigmaMax * g;
                const double kappa = 1 + (kKappaMax - 1) * g;
                const double alpha = alphaMax * (1 - rho);
                const double b = std::exp(-(sigma / kappa + alpha) * dt / kEpsilon0);
                const double a = sigma * (b - 1) / (sigma * kappa + kappa * kappa * alpha);
                slot[index] = static_cast<int>(list.size());
                list.push_back({index, static_cast<float>(b), static_cast<float>(a),
                                static_cast<float>(1 / kappa - 1)});
            };
            for (std::uint32_t i = 0; i <= last; ++i) node(i, x[i], axis.e, axis.eSlot);
            for (std::uint32_t i = 0; i < last; ++i) node(i, 0.5 * (x[i] + x[i + 1]), axis.h, axis.hSlot);
        }
    }

    const std::uint32_t nv = engine.Nv;
    for (int field = 0; field < 2; ++field) {
        const Axis& x = axes[0];
        for (std::uint32_t column = 0; column < nv; ++column) {
            Column c{};
            c.column = column;
            bool inside = false;
            for (std::uint32_t lane = 0; lane < 4; ++lane) {
                const std::uint32_t i = lane * nv + column;
                const std::vector<int>& slot = field == 0 ? x.eSlot : x.hSlot;
                if (i >= slot.size() || slot[i] < 0) continue;
                const Axis::Node& n = (field == 0 ? x.e : x.h)[slot[i]];
                c.b[lane] = n.b, c.a[lane] = n.a, c.k[lane] = n.k;
                inside = true;
            }
            if (inside) xColumns[field].push_back(c);
        }
    }

    // psi per stretched difference: two E (H) components per cell, stored as
    // whole blocks of the vector layout (8 floats: two components of 4
    // lanes). x: the layer's columns of each row; y: whole rows of each plane;
    // z: whole planes.
    const std::size_t ny = engine.Ny();
    const std::size_t rows[3] = {planeCount * ny, planeCount, ny};
    const std::size_t nodes[2][3] = {{xColumns[0].size(), axes[1].e.size(), axes[2].e.size()},
                                     {xColumns[1].size(), axes[1].h.size(), axes[2].h.size()}};
    const std::size_t perNode[3] = {8, 8 * std::size_t(nv), 8 * std::size_t(nv)};
    for (int d = 0; d < 3; ++d) {
        const std::size_t e = rows[d] * nodes[0][d] * perNode[d];
        const std::size_t h = rows[d] * nodes[1][d] * perNode[d];
        psiFloats[d] = e + h;
        if (e > 0 && (psiE[d] = static_cast<float*>(alignedAllocateZeroed(4 * e))) == nullptr) return false;
        if (h > 0 && (psiH[d] = static_cast<float*>(alignedAllocateZeroed(4 * h))) == nullptr) return false;
    }
    return true;
}

std::size_t PerfectlyMatchedLayer::bytes() const {
    return 4 * (psiFloats[0] + psiFloats[1] + psiFloats[2]);
}

// Adds to the new E of plane k what the stretched differences of H add to the
// circulation (E = CA E + CB curl H, curl_x = D_y Hz - D_z Hy and cyclic, with
// backward differences; the kernel's zero differences on the first row and
// plane and its zero x predecessor of line 0 are kept).
void PerfectlyMatchedLayer::correctElectric(FdtdEngine& engine, std::size_t k) {
    float* const E = engine.eField;
    const float* const H = engine.hField;
    const float* const CB = engine.cbTable;
    const std::uint32_t* const curl = engine.curlIndex;
    const std::size_t nv = engine.Nv, ny = engine.Ny(), row = 12 * nv;
    const std::size_t plane = engine.planeBlock(k), z = k - planeBegin;

    // Along z, the whole plane: Ex -= CB ~D_z Hy, Ey += CB ~D_z Hx.
    if (const int s = axes[2].eSlot[k]; s >= 0) {
        const Stretch4 st(axes[2].e[s]);
        float* psi = psiE[2] + std::size_t(s) * ny * nv * 8;
        const std::size_t back = k > 0 ? row * ny : 0;
        for (std::size_t b = plane; b < plane + ny * nv; ++b, psi += 8) {
            float* e = E + 12 * b;
            const float* h = H + 12 * b;
            const float* hb = h - back;
            const float* cb = CB + 4 * std::size_t(curl[b]);
            (Vec4::load(e) - Vec4::load(cb) * st(Vec4::load(h + 4) - Vec4::load(hb + 4), psi)).store(e);
            (Vec4::load(e + 4) + Vec4::load(cb + 4) * st(Vec4::load(h) - Vec4::load(hb), psi + 4)).store(e + 4);
        }
    }
    // Along y, the rows inside a layer: Ex += CB ~D_y Hz, Ez -= CB ~D_y Hx.
    const std::size_t yNodes = axes[1].e.size();
    for (std::size_t s = 0; s < yNodes; ++s) {
        const Axis::Node& n = axes[1].e[s];
        const Stretch4 st(n);
        float* psi = psiE[1] + (z * yNodes + s) * nv * 8;
        const std::size_t back = n.index > 0 ? row : 0;
        const std::size_t first = plane + n.index * nv;
        for (std::size_t b = first; b < first + nv; ++b, psi += 8) {
            float* e = E + 12 * b;
            const float* h = H + 12 * b;
            const float* hb = h - back;
            const float* cb = CB + 4 * std::size_t(curl[b]);
            (Vec4::load(e) + Vec4::load(cb) * st(Vec4::load(h + 8) - Vec4::load(hb + 8), psi)).store(e);
            (Vec4::load(e + 8) - Vec4::load(cb + 8) * st(Vec4::load(h) - Vec4::load(hb), psi + 4)).store(e + 8);
        }
    }
    // Along x, the layer's columns of every row: Ey -= CB ~D_x Hz,
    // Ez += CB ~D_x Hy. Column 0's x predecessors are the row's last column
    // moved up one lane, 0 for line 0 (as in the kernel).
    const std::size_t columns = xColumns[0].size();
    if (columns == 0) return;
    float* psi = psiE[0] + z * ny * columns * 8;
    for (std::size_t j = 0; j < ny; ++j) {
        const std::size_t first = plane + j * nv;
        const float* const hRow = H + 12 * first;
        for (const Column& c : xColumns[0]) {
            const Stretch4 st(c);
            const float* h = hRow + 12 * std::size_t(c.column);
            const bool seam = c.column == 0;
            const float* back = seam ? hRow + 12 * (nv - 1) : h - 12;
            const Vec4 hyBack = seam ? shiftUpLane(Vec4::load(back + 4)) : Vec4::load(back + 4);
            const Vec4 hzBack = seam ? shiftUpLane(Vec4::load(back + 8)) : Vec4::load(back + 8);
            float* e = E + 12 * (first + c.column);
            const float* cb = CB + 4 * std::size_t(curl[first + c.column]);
            (Vec4::load(e + 4) - Vec4::load(cb + 4) * st(Vec4::load(h + 8) - hzBack, psi)).store(e + 4);
            (Vec4::load(e + 8) + Vec4::load(cb + 8) * st(Vec4::load(h + 4) - hyBack, psi + 4)).store(e + 8);
            psi += 8;
        }
    }
}

// The same for the new H of plane k (H = DA H - DB curl E, forward
// differences; the last row and plane are never updated).
void PerfectlyMatchedLayer::correctMagnetic(FdtdEngine& engine, std::size_t k) {
    if (k + 1 >= engine.Nz()) return;
    const float* const E = engine.eField;
    float* const H = engine.hField;
    const float* const DB = engine.dbTable;
    const std::uint32_t* const curl = engine.curlIndex;
    const std::size_t nv = engine.Nv, ny = engine.Ny(), row = 12 * nv;
    const std::size_t plane = engine.planeBlock(k), z = k - planeBegin;

    // Along z: Hx += DB ~D_z Ey, Hy -= DB ~D_z Ex.
    if (const int s = axes[2].hSlot[k]; s >= 0) {
        const Stretch4 st(axes[2].h[s]);
        float* psi = psiH[2] + std::size_t(s) * ny * nv * 8;
        const std::size_t ahead = row * ny;
        for (std::size_t b = plane; b < plane + (ny - 1) * nv; ++b, psi += 8) {
            float* h = H + 12 * b;
            const float* e = E + 12 * b;
            const float* ef = e + ahead;
            const float* db = DB + 4 * std::size_t(curl[b]);
            (Vec4::load(h) + Vec4::load(db) * st(Vec4::load(ef + 4) - Vec4::load(e + 4), psi)).store(h);
            (Vec4::load(h + 4) - Vec4::load(db + 4) * st(Vec4::load(ef) - Vec4::load(e), psi + 4)).store(h + 4);
        }
    }
    // Along y: Hx -= DB ~D_y Ez, Hz += DB ~D_y Ex.
    const std::size_t yNodes = axes[1].h.size();
    for (std::size_t s = 0; s < yNodes; ++s) {
        const Axis::Node& n = axes[1].h[s];
        const Stretch4 st(n);
        float* psi = psiH[1] + (z * yNodes + s) * nv * 8;
        const std::size_t first = plane + n.index * nv;
        for (std::size_t b = first; b < first + nv; ++b, psi += 8) {
            float* h = H + 12 * b;
            const float* e = E + 12 * b;
            const float* ef = e + row;
            const float* db = DB + 4 * std::size_t(curl[b]);
            (Vec4::load(h) - Vec4::load(db) * st(Vec4::load(ef + 8) - Vec4::load(e + 8), psi)).store(h);
            (Vec4::load(h + 8) + Vec4::load(db + 8) * st(Vec4::load(ef) - Vec4::load(e), psi + 4)).store(h + 8);
        }
    }
    // Along x: Hy += DB ~D_x Ez, Hz -= DB ~D_x Ey. The last column's x
    // successors are the row's first column moved down one lane.
    const std::size_t columns = xColumns[1].size();
    if (columns == 0) return;
    float* psi = psiH[0] + z * ny * columns * 8;
    for (std::size_t j = 0; j + 1 < ny; ++j) {
        const std::size_t first = plane + j * nv;
        const float* const eRow = E + 12 * first;
        for (const Column& c : xColumns[1]) {
            const Stretch4 st(c);
            const float* e = eRow + 12 * std::size_t(c.column);
            const bool seam = c.column + 1 == nv;
            const float* next = seam ? eRow : e + 12;
            const Vec4 eyNext = seam ? shiftDownLane(Vec4::load(next + 4)) : Vec4::load(next + 4);
            const Vec4 ezNext = seam ? shiftDownLane(Vec4::load(next + 8)) : Vec4::load(next + 8);
            float* h = H + 12 * (first + c.column);
            const float* db = DB + 4 * std::size_t(curl[first + c.column]);
            (Vec4::load(h + 4) + Vec4::load(db + 4) * st(ezNext - Vec4::load(e + 8), psi)).store(h + 4);
            (Vec4::load(h + 8) - Vec4::load(db + 8) * st(eyNext - Vec4::load(e + 4), psi + 4)).store(h + 8);
            psi += 8;
        }
    }
}

}  // namespace fendrix
