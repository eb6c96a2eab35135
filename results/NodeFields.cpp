#include "results/NodeFields.hpp"

#include "grid/FdtdEngine.hpp"

namespace fendrix {

NodeFields::NodeFields(const FdtdEngine& grid) : engine(grid) {
    const std::uint32_t nv = engine.Nv;
    for (int a = 0; a < 3; ++a) {
        const std::uint32_t n = engine.lineCount[a];
        const std::vector<double>& x = engine.meshLines[a];
        auto at = [&](std::uint32_t i) {
            return a == 0 ? 12 * (i % nv) + i / nv : a == 1 ? 12 * nv * i : 12 * nv * engine.Ny() * i;
        };
        offset[a].resize(n);
        before[a].resize(n);
        after[a].resize(n);
        lowWeight[a].assign(n, 0.0);
        highWeight[a].assign(n, 0.0);
        inverseDual[a].assign(n, 0.0);
        for (std::uint32_t i = 0; i < n; ++i) {
            offset[a][i] = at(i);
            before[a][i] = at(i > 0 ? i - 1 : i);
            after[a][i] = at(i + 1 < n || i == 0 ? i : i - 1);
            if (n > 1) inverseDual[a][i] = 1.0 / engine.cellSize(a, i, true);
            // The nearer edge centre weighs more: linear interpolation to the
            // node; a border node takes its one edge.
            const double d0 = i > 0 ? x[i] - x[i - 1] : 0.0;
            const double d1 = i + 1 < n ? x[i + 1] - x[i] : 0.0;
            if (d0 > 0.0 && d1 > 0.0) {
                lowWeight[a][i] = d1 / (d0 + d1) / d0;
                highWeight[a][i] = d0 / (d0 + d1) / d1;
            } else if (d0 > 0.0) {
                lowWeight[a][i] = 1.0 / d0;
            } else if (d1 > 0.0) {
                highWeight[a][i] = 1.0 / d1;
            }
        }
    }
}

void NodeFields::electric(const std::uint32_t node[3], float out[3]) const {
    const float* e = engine.eField;
    const std::uint32_t x = node[0], y = node[1], z = node[2];
    const std::uint32_t here = offset[0][x] + offset[1][y] + offset[2][z];
    out[0] = static_cast<float>(lowWeight[0][x] * e[here - offset[0][x] + before[0][x]] +
                                highWeight[0][x] * e[here]);
    out[1] = static_cast<float>(lowWeight[1][y] * e[here - offset[1][y] + before[1][y] + 4] +
                                highWeight[1][y] * e[here + 4]);
    out[2] = static_cast<float>(lowWeight[2][z] * e[here - offset[2][z] + before[2][z] + 8] +
                                highWeight[2][z] * e[here + 8]);
}

// H_a sits at the centres of the faces across a around the node: the four
// faces before and after it along the other two axes (on a border line the
// one inside is taken twice), averaged, per dual edge length.
void NodeFields::magnetic(const std::uint32_t node[3], float out[3]) const {
    const float* h = engine.hField;
    for (int a = 0; a < 3; ++a) {
        const int b = a == 2 ? 0 : a + 1, c = a == 0 ? 2 : a - 1;
        const std::uint32_t base = offset[a][node[a]] + 4 * a;
        const std::uint32_t b0 = before[b][node[b]], b1 = after[b][node[b]];
        const std::uint32_t c0 = before[c][node[c]], c1 = after[c][node[c]];
        const double sum = static_cast<double>(h[base + b0 + c0]) + h[base + b0 + c1] + h[base + b1 + c0] +
                           h[base + b1 + c1];
        out[a] = static_cast<float>(0.25 * sum * inverseDual[a][node[a]]);
    }
}

// Tangential H component `comp` (lying half a cell forward along `across`)
// at the node, in layer `layer` along the plane's axis, in A/m.
double NodeFields::layerH(int axis, int comp, int across, std::uint32_t layer,
                          const std::uint32_t node[3]) const {
    const std::uint32_t base = offset[axis][layer] + offset[comp][node[comp]] + 4 * comp;
    const double sum = static_cast<double>(engine.hField[base + before[across][node[across]]]) +
                       engine.hField[base + after[across][node[across]]];
    return 0.5 * sum * inverseDual[comp][node[comp]];
}

void NodeFields::sheetCurrent(int axis, const std::uint32_t node[3], float out[3]) const {
    const int b = (axis + 1) % 3, c = (axis + 2) % 3;
    const std::uint32_t k = node[axis];
    // H_b lies half a cell forward along c (and along the axis); H_c along b.
    double hb = 0.0, hc = 0.0;
    if (k + 1 < engine.lineCount[axis]) {
        hb += layerH(axis, b, c, k, node);
        hc += layerH(axis, c, b, k, node);
    }
    if (k > 0) {
        hb -= layerH(axis, b, c, k - 1, node);
        hc -= layerH(axis, c, b, k - 1, node);
    }
    // n x dH with n along the axis: n x e_b = e_c, n x e_c = -e_b.
    out[axis] = 0.0f;
    out[b] = static_cast<float>(-hc);
    out[c] = static_cast<float>(hb);
}

// A perfect conductor's edge has zero coefficients; a good resistive sheet's
// loss outweighs its storage, which drives the self coefficient towards -1.
bool NodeFields::conductorEdge(const std::uint32_t p[3], int c) const {
    const std::size_t block = engine.planeBlock(p[2]) + p[1] * engine.Nv + p[0] % engine.Nv;
    const std::uint32_t lane = p[0] / engine.Nv;
    const float ca = engine.caTable[4 * engine.keepIndex[block] + 4 * c + lane];
    const float cb = engine.cbTable[4 * engine.curlIndex[block] + 4 * c + lane];
    return (ca == 0.0f && cb == 0.0f) || ca < -0.5f;
}

float NodeFields::metal(int axis, const std::uint32_t node[3]) const {
    for (int t : {(axis + 1) % 3, (axis + 2) % 3}) {
        if (node[t] == 0 || node[t] + 1 >= engine.lineCount[t]) return 0.0f;
        std::uint32_t q[3] = {node[0], node[1], node[2]};
        const bool after = conductorEdge(q, t);
        q[t] = node[t] - 1;
        if (!after && !conductorEdge(q, t)) return 0.0f;
    }
    return 1.0f;
}

}  // namespace fendrix
