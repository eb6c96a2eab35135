#include <algorithm>
#include <atomic>
#include <cstdio>
#include <utility>

#include "common/Console.hpp"
#include "common/ParallelRanges.hpp"
#include "common/PhysicalConstants.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

namespace {

// Relative material values at one sample point.
struct PointMaterial {
    double epsR, sigma, muR, sigmaM;
};

bool anyShapeContains(const std::vector<GeoObject*>& shapes, const double point[3]) {
    for (const GeoObject* shape : shapes) {
        if (shape->contains(point)) return true;
    }
    return false;
}

}  // namespace

void FdtdEngine::collectShapes(std::vector<GeoObject*>& out, int x, int y, int z, int kindMask) const {
    out.clear();
    // Query box: the neighbouring lines around the given index, or the whole axis.
    const int index[3] = {x, y, z};
    double box[6];
    for (int axis = 0; axis < 3; ++axis) {
        const std::vector<double>& lines = meshLines[axis];
        const int last = static_cast<int>(lineCount[axis]) - 1;
        const int i = index[axis];
        box[2 * axis] = lines[i >= 0 ? (i - 1 > 0 ? i - 1 : 0) : 0];
        box[2 * axis + 1] = lines[i >= 0 ? (i + 1 < last ? i + 1 : last) : last];
    }
    for (const auto& material : geometry.materials) {
        if ((material->kind & kindMask) == 0) continue;
        for (const auto& shape : material->shapes) {
            if (shape->overlaps(box) == 1) out.push_back(shape.get());
        }
    }
}

// Earlier shapes win where shapes overlap; the winner is marked as placed.
MatMaterial* FdtdEngine::findShape(const std::vector<GeoObject*>& shapes, const double point[3]) const {
    for (GeoObject* shape : shapes) {
        if (shape->contains(point)) {
            // Threads of the dielectric fill may mark the same shape at once.
            std::atomic_ref<std::uint8_t>(shape->used).store(1, std::memory_order_relaxed);
            return shape->material;
        }
    }
    return nullptr;
}

FdtdEngine::MaterialSums FdtdEngine::averageDielectric(int c, const std::uint32_t p[3],
                                                       const std::vector<GeoObject*>& shapes) const {
    const int a = (c + 1) % 3;
    const int b = (c + 2) % 3;

    // Signed step from line i to the next one; before the first line it points
    // forward from line 0's other side, on the last line back into the last cell.
    auto step = [this](int axis, std::int64_t i) {
        const double* x = meshLines[axis].data();
        const std::int64_t count = lineCount[axis];
        if (i < 0) return x[0] - x[1];
        if (i >= count - 1) return x[count - 2] - x[count - 1];
        return x[i + 1] - x[i];
    };
    auto materialAt = [&](const double q[3]) {
        const MatMaterial* found = findShape(shapes, q);
        if (found != nullptr && found->kind == MatMaterial::kDielectric) {
            const auto* d = static_cast<const MatDielectric*>(found);
            return PointMaterial{d->epsR, d->sigma, d->muR, d->sigmaM};
        }
        return PointMaterial{backgroundEpsR, backgroundSigma, backgroundMuR, backgroundSigmaM};
    };

    const double P[3] = {meshLines[0][p[0]], meshLines[1][p[1]], meshLines[2][p[2]]};
    double d[3], dBack[3];
    for (int k = 0; k < 3; ++k) {
        d[k] = step(k, p[k]);
        dBack[k] = step(k, static_cast<std::int64_t>(p[k]) - 1);
    }

    // Electric part: area-weighted mean over the up to four cells around the edge,
    // sampled a quarter cell from the edge on its midpoint plane.
    double W = 0, sumEps = 0, sumSigma = 0;
    double q[3];
    q[c] = P[c] + d[c] / 2;
    for (int corner = 0; corner < 4; ++corner) {
        const bool backA = (corner & 1) != 0;
        const bool backB = (corner & 2) != 0;
        if ((backA && p[a] == 0) || (backB && p[b] == 0)) continue;
        q[a] = backA ? P[a] - dBack[a] / 4 : P[a] + d[a] / 4;
        q[b] = backB ? P[b] - dBack[b] / 4 : P[b] + d[b] / 4;
        const double w = cellSize(b, backB ? p[b] - 1 : p[b], false) *
                         cellSize(a, backA ? p[a] - 1 : p[a], false);
        const PointMaterial m = materialAt(q);
        W += w;
        sumEps += w * m.epsR;
        sumSigma += w * m.sigma;
    }

    // Magnetic part: the dual edge crosses two cells along c in series, so the
    // permeability is the length-weighted harmonic mean (reluctances add).
    q[a] = P[a] + d[a] / 2;
    q[b] = P[b] + d[b] / 2;
    double lengthBack = 0, M = 0, Y = 0;
    if (p[c] > 0) {
        q[c] = P[c] - dBack[c] / 4;
        lengthBack = cellSize(c, p[c] - 1, false);
        const PointMaterial m = materialAt(q);
        M = lengthBack / m.muR;
        Y = m.sigmaM != 0 ? lengthBack / m.sigmaM : 0;
    }
    q[c] = P[c] + d[c] / 4;
    const double length = cellSize(c, p[c], false);
    const PointMaterial m = materialAt(q);
    M += length / m.muR;
    if (m.sigmaM != 0) Y += length / m.sigmaM;

    MaterialSums sums;
    sums.eps = (1 / W) * kEpsilon0 * sumEps;
    sums.sigma = (1 / W) * sumSigma;
    sums.mu = (length + lengthBack) * kMu0 / M;
    sums.sigmaM = Y != 0 ? (length + lengthBack) / Y : 0;
    return sums;
}

namespace {

// Ranges count from the first plane this process stores.
void fillDielectricSlab(void* engine, std::uint32_t kBegin, std::uint32_t kEnd) {
    FdtdEngine& grid = *static_cast<FdtdEngine*>(engine);
    grid.fillDielectricPlanes(grid.processSlab.storedBegin + kBegin, grid.processSlab.storedBegin + kEnd);
}

}  // namespace

// Every node's sums depend only on the shapes and the mesh, so the planes are
// shared by the stepping threads.
void FdtdEngine::fillDielectrics() {
    const PlaneRange planes = storedPlanes();
    runOnRanges(std::min(threadCount, processorCount), static_cast<std::uint32_t>(planes.end - planes.begin),
                fillDielectricSlab, this);
}

void FdtdEngine::fillDielectricPlanes(std::uint32_t kBegin, std::uint32_t kEnd) {
    // Cell and dual-cell lengths per axis and line, looked up once.
    std::vector<double> primal[3], dual[3];
    for (int axis = 0; axis < 3; ++axis) {
        for (std::uint32_t i = 0; i < lineCount[axis]; ++i) {
            primal[axis].push_back(cellSize(axis, i, false));
            dual[axis].push_back(cellSize(axis, i, true));
        }
    }
    std::vector<GeoObject*> row;
    for (std::uint32_t z = kBegin; z < kEnd; ++z) {
        for (std::uint32_t y = 0; y < Ny(); ++y) {
            // One shape query per row; a row far from every dielectric is background.
            collectShapes(row, -1, static_cast<int>(y), static_cast<int>(z), MatMaterial::kDielectric);
            // In storage order (vector position outer, lane inner), so that the
            // four tables are written straight through.
            const std::uint32_t rowBlock = static_cast<std::uint32_t>(planeBlock(z)) + y * Nv;
            for (std::uint32_t v = 0; v < Nv; ++v) {
                for (std::uint32_t lane = 0; lane < 4; ++lane) {
                    const std::uint32_t x = lane * Nv + v;
                    if (x >= Nx()) continue;
                    const std::uint32_t p[3] = {x, y, z};
                    for (int c = 0; c < 3; ++c) {
                        const int a = (c + 1) % 3;
                        const int b = (c + 2) % 3;
                        MaterialSums m;
                        if (row.empty()) {
                            m = {backgroundEpsR * kEpsilon0, backgroundSigma, backgroundMuR * kMu0,
                                 backgroundSigmaM};
                        } else {
                            m = averageDielectric(c, p, row);
                        }
                        // E edge: dual face area over edge length; H: face area over dual length.
                        const double g = dual[a][p[a]] * dual[b][p[b]] / primal[c][p[c]];
                        const double h = primal[b][p[b]] * primal[a][p[a]] / dual[c][p[c]];
                        const std::uint32_t f = 4 * (3 * (rowBlock + v) + c) + lane;
                        caTable[f] = static_cast<float>(m.eps * g);
                        cbTable[f] = static_cast<float>(m.sigma * g);
                        daTable[f] = static_cast<float>(m.mu * h);
                        dbTable[f] = static_cast<float>(m.sigmaM * h);
                    }
                }
            }
        }
    }
}

void FdtdEngine::fillMetals() {
    std::vector<GeoObject*> row;
    const PlaneRange planes = storedPlanes();
    for (std::uint32_t z = processSlab.storedBegin; z < planes.end; ++z) {
        for (std::uint32_t y = 0; y < Ny(); ++y) {
            collectShapes(row, -1, static_cast<int>(y), static_cast<int>(z), MatMaterial::kMetal);
            if (row.empty()) continue;
            for (std::uint32_t x = 0; x < Nx(); ++x) {
                const std::uint32_t p[3] = {x, y, z};
                for (int c = 0; c < 3; ++c) {
                    const int a = (c + 1) % 3;
                    const int b = (c + 2) % 3;
                    // The edge belongs to the metal that holds its midpoint; the edge
                    // of the last line is tested half a cell beyond it.
                    const double* lines = meshLines[c].data();
                    double q[3] = {meshLines[0][x], meshLines[1][y], meshLines[2][z]};
                    q[c] = p[c] < lineCount[c] - 1 ? (lines[p[c]] + lines[p[c] + 1]) * 0.5
                                                   : lines[p[c]] + (lines[p[c]] - lines[p[c] - 1]) * 0.5;
                    GeoObject* hit = nullptr;
                    for (GeoObject* shape : row) {
                        if (shape->contains(q)) {
                            hit = shape;
                            break;
                        }
                    }
                    if (hit == nullptr) continue;
                    // But an edge that crosses the border of the metal stays open:
                    // closing it would carry the metal to the node beyond the border
                    // along this edge alone, while the edges along the line through
                    // that node stay open. Such a comb of one-cell stubs along a strip
                    // adds charge without a current path and slows the wave far more
                    // than the border's true position would. The ends are tested a
                    // millionth of the edge inwards, so that an end on the border or
                    // at a corner of a shape counts as covered.
                    if (p[c] < lineCount[c] - 1) {
                        const double inset = (lines[p[c] + 1] - lines[p[c]]) * 1e-6;
                        double end[3] = {q[0], q[1], q[2]};
                        end[c] = lines[p[c]] + inset;
                        const bool lowerEndCovered = anyShapeContains(row, end);
                        end[c] = lines[p[c] + 1] - inset;
                        if (!lowerEndCovered || !anyShapeContains(row, end)) continue;
                    }
                    hit->used = 1;
                    if (hit->material == nullptr) continue;

                    const std::uint32_t f = fieldIndex(x, y, z, c);
                    if (sheetResistance <= 0) {
                        caTable[f] = 0;  // perfect conductor
                        continue;
                    }
                    double bb[6];
                    hit->boundingBox(bb);
                    int extended = 0, flatAxis = -1;
                    for (int k = 0; k < 3; ++k) {
                        if (bb[2 * k] != bb[2 * k + 1]) {
                            ++extended;
                        } else {
                            flatAxis = k;
                        }
                    }
                    if (extended == 2) {
                        // A resistive strip as wide as the dual cell across the edge.
                        const int t = a == flatAxis ? b : a;
                        cbTable[f] = static_cast<float>(cellSize(t, p[t], true) /
                                                        (sheetResistance * cellSize(c, p[c], false)));
                    } else {
                        caTable[f] = 0;
                    }
                }
            }
        }
    }
}

void FdtdEngine::fillLumpedElements() {
    for (const auto& element : geometry.lumpedElements) {
        const double R = element->resistance;
        const double C = element->capacitance;
        const int d = element->axis;
        if (d < 0 || d > 2) continue;  // no meaningful direction
        if (R < 0 && C < 0) continue;

        std::uint32_t lo[3], hi[3];
        for (int k = 0; k < 3; ++k) {
            lo[k] = lineIndex(k, element->corner1[k], false);
            hi[k] = lineIndex(k, element->corner2[k], false);
            if (lo[k] > hi[k]) std::swap(lo[k], hi[k]);
        }
        if (lo[d] == hi[d]) {
            console::errorText("Warning: Omitting component because of zero length.\n");
            if (element->line > 0)
                console::detail("Electric line %u: both ends are nearest to the same %c mesh line.\n",
                             element->line, "xyz"[d]);
            console::flush();
            continue;
        }
        const int a = (d + 1) % 3;
        const int b = (d + 2) % 3;
        auto edgeFactor = [&](std::uint32_t id, std::uint32_t ia, std::uint32_t ib) {
            return cellSize(b, ib, true) * cellSize(a, ia, true) / cellSize(d, id, false);
        };

        // The edges of one layer are in parallel, the layers in series:
        // conductivity s gives the total resistance K / s.
        double K = 0;
        for (std::uint32_t id = lo[d]; id < hi[d]; ++id) {
            double G = 0;
            for (std::uint32_t ia = lo[a]; ia <= hi[a]; ++ia) {
                for (std::uint32_t ib = lo[b]; ib <= hi[b]; ++ib) G += edgeFactor(id, ia, ib);
            }
            K += 1 / G;
        }
        const double s = R > 0 ? K / R : 0;
        const double e = K * C;
        const bool withCapacitor = C > 0 && !(e < kEpsilon0);

        std::uint32_t node[3];
        for (std::uint32_t id = lo[d]; id < hi[d]; ++id) {
            for (std::uint32_t ia = lo[a]; ia <= hi[a]; ++ia) {
                for (std::uint32_t ib = lo[b]; ib <= hi[b]; ++ib) {
                    node[d] = id;
                    node[a] = ia;
                    node[b] = ib;
                    if (!stores(node[2])) continue;  // another process's plane
                    const double g = edgeFactor(id, ia, ib);
                    const std::uint32_t f = fieldIndex(node[0], node[1], node[2], d);
                    if (withCapacitor) caTable[f] = static_cast<float>(e * g);
                    if (R > 0) {
                        cbTable[f] = static_cast<float>(s * g);
                    } else if (R == 0) {
                        caTable[f] = 0;  // short circuit
                    }
                }
            }
        }
        // Perfectly conducting end plates across the element's cross-section.
        for (std::uint32_t ia = lo[a]; ia <= hi[a]; ++ia) {
            for (std::uint32_t ib = lo[b]; ib <= hi[b]; ++ib) {
                for (std::uint32_t id : {lo[d], hi[d]}) {
                    node[d] = id;
                    node[a] = ia;
                    node[b] = ib;
                    if (!stores(node[2])) continue;
                    if (ia < hi[a]) caTable[fieldIndex(node[0], node[1], node[2], a)] = 0;
                    if (ib < hi[b]) caTable[fieldIndex(node[0], node[1], node[2], b)] = 0;
                }
            }
        }
    }
}

}  // namespace fendrix
