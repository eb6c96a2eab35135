#include "engine/MurBoundary.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/AlignedMemory.hpp"
#include "common/PhysicalConstants.hpp"
#include "engine/Vec4.hpp"
#include "geometry/MatMaterial.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

// Every engine has at least three mesh lines per axis (checked when the
// coefficients are allocated), so both the boundary and the neighbour line exist.
MurBoundary::MurBoundary(FdtdEngine* engine, std::uint32_t axis, bool highSide)
    : engine(engine),
      normalAxis(axis),
      outerAxis(axis == 2 ? 1 : 2),
      innerAxis(axis == 0 ? 1 : 0),
      boundaryIndex(highSide ? engine->lineCount[axis] - 1 : 0),
      neighbourIndex(highSide ? engine->lineCount[axis] - 2 : 1),
      outerCount(engine->lineCount[outerAxis]),
      innerCount(engine->lineCount[innerAxis]),
      normalCount(engine->lineCount[axis]) {
    // Inner count rounded up to whole vectors: on y and z faces a block is
    // exactly the 4 * Nv positions of one grid row.
    const std::size_t points = static_cast<std::size_t>((innerCount + 3) / 4 * 4) * outerCount;
    coefficients = static_cast<float*>(alignedAllocateZeroed(points * sizeof(float)));
    savedOuter = static_cast<float*>(alignedAllocateZeroed(points * sizeof(float)));
    savedInner = static_cast<float*>(alignedAllocateZeroed(points * sizeof(float)));
    locateRows();
}

MurBoundary::~MurBoundary() {
    alignedRelease(coefficients);
    alignedRelease(savedOuter);
    alignedRelease(savedInner);
}

bool MurBoundary::initialise() {
    if (coefficients == nullptr || savedOuter == nullptr || savedInner == nullptr) return false;
    FdtdEngine& grid = *engine;
    const int a = static_cast<int>(normalAxis);
    const int o = static_cast<int>(outerAxis);
    const int q = static_cast<int>(innerAxis);
    const bool high = boundaryIndex != 0;

    // k = (v dt - d) / (v dt + d): first-order Mur for a wave leaving along the
    // normal at the speed v of the medium just inside the face.
    const double d = grid.cellSize(a, boundaryIndex, false);
    const double cdt = grid.timeStep * kSpeedOfLight;
    auto murCoefficient = [&](double epsR, double muR) {
        const double v = cdt / std::sqrt(epsR * muR);
        return static_cast<float>((v - d) / (v + d));
    };
    const float k0 = murCoefficient(grid.backgroundEpsR, grid.backgroundMuR);

    // The medium is looked up half a cell inside the face.
    double point[3];
    point[a] = grid.meshLines[a][boundaryIndex] + (high ? -d / 2 : d / 2);

    const std::uint32_t Nv = grid.Nv;
    std::vector<GeoObject*> candidates;
    for (std::uint32_t io = 0; io < outerCount; ++io) {
        int query[3];
        query[a] = static_cast<int>(boundaryIndex);
        query[o] = static_cast<int>(io);
        query[q] = -1;
        grid.collectShapes(candidates, query[0], query[1], query[2], MatMaterial::kDielectric);
        point[o] = grid.meshLines[o][io];
        float* row = coefficients + static_cast<std::size_t>(io) * (a == 0 ? innerCount : 4 * Nv);
        for (std::uint32_t iq = 0; iq < innerCount; ++iq) {
            point[q] = grid.meshLines[q][iq];
            const MatMaterial* found = grid.findShape(candidates, point);
            float k = k0;
            if (found != nullptr && found->kind == MatMaterial::kDielectric) {
                const auto* dielectric = static_cast<const MatDielectric*>(found);
                k = murCoefficient(dielectric->epsR, dielectric->muR);
            }
            row[a == 0 ? iq : (iq % Nv) * 4 + iq / Nv] = k;

            // The E update then yields -k * E_b(old) on the boundary plane.
            std::uint32_t node[3];
            node[a] = boundaryIndex;
            node[o] = io;
            node[q] = iq;
            if (!grid.stores(node[2])) continue;  // another process's plane
            for (int component : {o, q}) {
                const std::uint32_t f = grid.fieldIndex(node[0], node[1], node[2], component);
                grid.caTable[f] = -k;
                grid.cbTable[f] = 0;
            }
            // On a low face the normal H of the boundary plane feeds only the
            // boundary E, which no longer reads the curl. Left alone it would
            // integrate the static part of the boundary field forever and hold
            // energy that never decays; it stays zero instead.
            if (!high) {
                const std::uint32_t f = grid.fieldIndex(node[0], node[1], node[2], a);
                grid.daTable[f] = 0;
                grid.dbTable[f] = 0;
            }
        }
        if (a != 0) {
            // Spare x positions copy the lane below, so every block is whole.
            for (std::uint32_t x = innerCount; x < 4 * Nv; ++x) {
                row[(x % Nv) * 4 + x / Nv] = row[((x - Nv) % Nv) * 4 + (x - Nv) / Nv];
            }
        }
    }
    return true;
}

void MurBoundary::yieldEdgeTo(const MurBoundary& later) {
    const std::uint32_t edgeAxis = 3 - normalAxis - later.normalAxis;
    const std::uint32_t Nv = engine->Nv;
    for (std::uint32_t io = 0; io < outerCount; ++io) {
        for (std::uint32_t iq = 0; iq < innerCount; ++iq) {
            std::uint32_t node[3];
            node[normalAxis] = boundaryIndex;
            node[outerAxis] = io;
            node[innerAxis] = iq;
            if (node[later.normalAxis] != later.boundaryIndex) continue;
            const std::uint32_t point =
                normalAxis == 0 ? io * innerCount + iq : io * 4 * Nv + (iq % Nv) * 4 + iq / Nv;
            (edgeAxis == outerAxis ? yieldedOuter : yieldedInner).push_back(point);
            if (normalAxis == 0) {
                leftToOthers.resize(std::size_t(outerCount) * innerCount, 0);
                leftToOthers[point] |= edgeAxis == outerAxis ? 1 : 2;
                mixedPlanes.resize(outerCount, 0);
                if (iq != 0 && iq + 1 != innerCount) mixedPlanes[io] = 1;
            }
        }
    }
    // Ascending, so that a pass over some planes finds its points by bisection.
    std::sort(yieldedOuter.begin(), yieldedOuter.end());
    std::sort(yieldedInner.begin(), yieldedInner.end());
}

namespace {

// Where the rows of the face lie at `line` along its normal.
MurBoundary::FaceRows faceRows(const MurBoundary& face, std::uint32_t line) {
    const FdtdEngine& grid = *face.engine;
    const int o = static_cast<int>(face.outerAxis);
    const int q = static_cast<int>(face.innerAxis);
    const std::size_t row = 12 * std::size_t(grid.Nv);
    const std::size_t plane = row * grid.Ny();
    // x and y faces cross every plane: their stored rows start at the first
    // stored plane. A z face lies in one plane, stored whole or not at all.
    const std::uint32_t first = grid.processSlab.storedBegin;
    if (face.normalAxis == 0)
        return {1, row, grid.fieldIndex(line, 0, first, o), grid.fieldIndex(line, 0, first, q), 1, 1,
                std::size_t(first) * grid.Ny()};
    if (face.normalAxis == 1)
        return {4 * std::size_t(grid.Nv), plane, grid.fieldIndex(0, line, first, o),
                grid.fieldIndex(0, line, first, q), grid.Nv, 4, first};
    if (!grid.stores(line)) return {4 * std::size_t(grid.Nv), row, 0, 0, grid.Nv, 4, 0};
    return {4 * std::size_t(grid.Nv), row, grid.fieldIndex(0, 0, line, o), grid.fieldIndex(0, 0, line, q),
            grid.Nv, 4, 0};
}

// The rows of the face that lie in z-planes kBegin .. kEnd - 1 when the face
// works on `line` along its normal.
MurBoundary::RowRange rowsInPlanes(const MurBoundary& face, std::uint32_t line, std::size_t kBegin,
                      std::size_t kEnd) {
    switch (face.normalAxis) {
        case 0: {
            const std::size_t ny = face.engine->Ny();
            return {kBegin * ny, kEnd * ny};
        }
        case 1:
            return {kBegin, kEnd};
        default:
            // A z face lies in one plane: all of its rows or none.
            if (line >= kBegin && line < kEnd) return {0, face.outerCount};
            return {0, 0};
    }
}

}  // namespace

void MurBoundary::locateRows() {
    neighbourRows = faceRows(*this, neighbourIndex);
    boundaryRows = faceRows(*this, boundaryIndex);
}

// On x faces a row is a single point, one float of a grid row (stride
// fieldStride); on y and z faces a row is Nv whole vectors, moved as such.

// saved = E at the neighbour line, before the E update overwrites it.
void MurBoundary::saveNeighbour(std::size_t kBegin, std::size_t kEnd) {
    saveRows(rowsInPlanes(*this, neighbourIndex, kBegin, kEnd));
}

// On an x face, plane k after its E update, in one pass over the rows:
//   E_b += saved + k * E_n(new)   (0 added where the edge is another face's)
//   saved = E_n(new)              (E_n(old) of the next step)
// The same arithmetic as accumulate and apply. The x faces may do both at once
// because no other face writes an x face's neighbour points before the x faces
// have read them, and the x faces' boundary points are read by the y and z
// faces' accumulate only, which runs first. Neighbour points that another
// face writes afterwards belong to edges this face leaves to that face, so
// their saved values are never used; only the source needs a new save.
namespace {

// Rows of an x face's pass over one plane (see updatePlane). The field
// pointers are those of the plane's first row, `firstRow`.
struct XFacePass {
    const float* nOuter;
    const float* nInner;
    float* bOuter;
    float* bInner;
    float* savedOuter;
    float* savedInner;
    const float* coefficients;
    std::size_t stride, firstRow;

    // Rows first .. last - 1; `leave` null where none of their points is left
    // to another face.
    void rows(std::size_t first, std::size_t last, const std::uint8_t* leave) const {
        for (std::size_t r = first, e = (first - firstRow) * stride; r < last; ++r, e += stride) {
            const float outer = nOuter[e], inner = nInner[e];
            const float accOuter = savedOuter[r] + coefficients[r] * outer;
            const float accInner = savedInner[r] + coefficients[r] * inner;
            if (leave == nullptr) {
                bOuter[e] += accOuter;
                bInner[e] += accInner;
            } else {
                bOuter[e] += (leave[r] & 1) != 0 ? 0.0f : accOuter;
                bInner[e] += (leave[r] & 2) != 0 ? 0.0f : accInner;
            }
            savedOuter[r] = outer;
            savedInner[r] = inner;
        }
    }
};

}  // namespace

void MurBoundary::updatePlane(std::size_t k) {
    const FaceRows& n = neighbourRows;
    const FaceRows& b = boundaryRows;
    const RowRange rows = rowsInPlanes(*this, neighbourIndex, k, k + 1);
    if (rows.begin >= rows.end) return;
    XFacePass pass{engine->eField + n.outer + (rows.begin - n.firstStored) * n.fieldStride,
                   engine->eField + n.inner + (rows.begin - n.firstStored) * n.fieldStride,
                   engine->eField + b.outer + (rows.begin - b.firstStored) * b.fieldStride,
                   engine->eField + b.inner + (rows.begin - b.firstStored) * b.fieldStride,
                   savedOuter, savedInner, coefficients, n.fieldStride, rows.begin};
    // Points left to a y face lie in the first and last row of a plane; a
    // plane with others is a z face's, or one with an edge element between.
    if (leftToOthers.empty()) return pass.rows(rows.begin, rows.end, nullptr);
    const std::uint8_t* leave = leftToOthers.data();
    if (rows.end - rows.begin < 3 || mixedPlanes[k]) return pass.rows(rows.begin, rows.end, leave);
    pass.rows(rows.begin, rows.begin + 1, leave);
    pass.rows(rows.begin + 1, rows.end - 1, nullptr);
    pass.rows(rows.end - 1, rows.end, leave);
}

void MurBoundary::saveRows(RowRange rows) {
    const FaceRows& f = neighbourRows;
    const float* eOuter = engine->eField + f.outer;
    const float* eInner = engine->eField + f.inner;
    float* const savedOuter = this->savedOuter;  // locals: stores cannot change them
    float* const savedInner = this->savedInner;
    for (std::size_t r = rows.begin; r < rows.end; ++r) {
        const std::size_t s = r * f.savedStride, e = (r - f.firstStored) * f.fieldStride;
        if (f.lanes == 1) {
            savedOuter[s] = eOuter[e];
            savedInner[s] = eInner[e];
            continue;
        }
        for (std::size_t u = 0; u < f.columns; ++u) {
            Vec4::load(eOuter + e + 12 * u).store(savedOuter + s + 4 * u);
            Vec4::load(eInner + e + 12 * u).store(savedInner + s + 4 * u);
        }
    }
}

// saved += k * E at the neighbour line, after the E update.
void MurBoundary::accumulate(std::size_t kBegin, std::size_t kEnd) {
    const FaceRows& f = neighbourRows;
    const RowRange rows = rowsInPlanes(*this, neighbourIndex, kBegin, kEnd);
    const float* eOuter = engine->eField + f.outer;
    const float* eInner = engine->eField + f.inner;
    float* const savedOuter = this->savedOuter;
    float* const savedInner = this->savedInner;
    const float* const coefficients = this->coefficients;
    for (std::size_t r = rows.begin; r < rows.end; ++r) {
        const std::size_t s = r * f.savedStride, e = (r - f.firstStored) * f.fieldStride;
        if (f.lanes == 1) {
            savedOuter[s] += coefficients[s] * eOuter[e];
            savedInner[s] += coefficients[s] * eInner[e];
            continue;
        }
        for (std::size_t u = 0; u < f.columns; ++u) {
            const Vec4 k = Vec4::load(coefficients + s + 4 * u);
            float* outer = savedOuter + s + 4 * u;
            float* inner = savedInner + s + 4 * u;
            (Vec4::load(outer) + k * Vec4::load(eOuter + e + 12 * u)).store(outer);
            (Vec4::load(inner) + k * Vec4::load(eInner + e + 12 * u)).store(inner);
        }
    }
}

// E_b = -k E_b(old) (left by the E update) + E_n(old) + k E_n(new).
void MurBoundary::apply(std::size_t kBegin, std::size_t kEnd) {
    const FaceRows& f = boundaryRows;
    const RowRange rows = rowsInPlanes(*this, boundaryIndex, kBegin, kEnd);
    if (rows.begin >= rows.end) return;
    // Points on an edge left to another face add nothing here.
    const std::size_t savedBegin = rows.begin * f.savedStride, savedEnd = rows.end * f.savedStride;
    for (const auto* yielded : {&yieldedOuter, &yieldedInner}) {
        float* saved = yielded == &yieldedOuter ? savedOuter : savedInner;
        auto point = std::lower_bound(yielded->begin(), yielded->end(), savedBegin);
        for (; point != yielded->end() && *point < savedEnd; ++point) saved[*point] = 0.0f;
    }
    float* eOuter = engine->eField + f.outer;
    float* eInner = engine->eField + f.inner;
    const float* const savedOuter = this->savedOuter;
    const float* const savedInner = this->savedInner;
    for (std::size_t r = rows.begin; r < rows.end; ++r) {
        const std::size_t s = r * f.savedStride, e = (r - f.firstStored) * f.fieldStride;
        if (f.lanes == 1) {
            eOuter[e] += savedOuter[s];
            eInner[e] += savedInner[s];
            continue;
        }
        for (std::size_t u = 0; u < f.columns; ++u) {
            float* outer = eOuter + e + 12 * u;
            float* inner = eInner + e + 12 * u;
            (Vec4::load(outer) + Vec4::load(savedOuter + s + 4 * u)).store(outer);
            (Vec4::load(inner) + Vec4::load(savedInner + s + 4 * u)).store(inner);
        }
    }
}

}  // namespace fendrix
