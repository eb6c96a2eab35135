#include "results/NodeFields.hpp"

#include "grid/FdtdEngine.hpp"

namespace node_fields {

namespace {

// Indices along an axis of the edges or faces that start at or before line p
// and lie inside the mesh (0 .. N - 2): p - 1 and p where they exist.
struct Neighbours {
    std::uint32_t index[2];
    int count;
};

Neighbours inside(std::uint32_t p, std::uint32_t lines) {
    Neighbours n{{0, 0}, 0};
    if (p > 0) n.index[n.count++] = p - 1;
    if (p + 1 < lines) n.index[n.count++] = p;
    return n;
}

// Tangential H component `comp` (lying half a cell forward along `across`) at
// the node, in layer `layer` along the plane's axis: the mean over the faces
// before and after the node along `across`, in A/m.
double layerH(const FdtdEngine& engine, int axis, int comp, int across, std::uint32_t layer,
              const std::uint32_t node[3]) {
    const Neighbours n = inside(node[across], engine.lineCount[across]);
    if (n.count == 0) return 0.0;
    std::uint32_t q[3] = {node[0], node[1], node[2]};
    q[axis] = layer;
    double sum = 0.0;
    for (int i = 0; i < n.count; ++i) {
        q[across] = n.index[i];
        sum += engine.hField[engine.fieldIndex(q[0], q[1], q[2], comp)];
    }
    return sum / n.count / engine.cellSize(comp, node[comp], true);
}

// A perfect conductor's edge has zero coefficients; a good resistive sheet's
// loss outweighs its storage, which drives the self coefficient towards -1.
bool conductorEdge(const FdtdEngine& engine, const std::uint32_t p[3], int c) {
    const std::uint32_t block = (p[2] * engine.Ny() + p[1]) * engine.Nv + p[0] % engine.Nv;
    const std::uint32_t lane = p[0] / engine.Nv;
    const float ca = engine.caTable[4 * engine.keepIndex[block] + 4 * c + lane];
    const float cb = engine.cbTable[4 * engine.curlIndex[block] + 4 * c + lane];
    return (ca == 0.0f && cb == 0.0f) || ca < -0.5f;
}

}  // namespace

void electric(const FdtdEngine& engine, const std::uint32_t node[3], float out[3]) {
    for (int a = 0; a < 3; ++a) {
        const std::uint32_t p = node[a];
        const std::vector<double>& x = engine.meshLines[a];
        const bool hasLow = p > 0, hasHigh = p + 1 < engine.lineCount[a];
        std::uint32_t q[3] = {node[0], node[1], node[2]};
        double high = 0.0, low = 0.0, d0 = 0.0, d1 = 0.0;
        if (hasHigh) {
            d1 = x[p + 1] - x[p];
            high = engine.eField[engine.fieldIndex(q[0], q[1], q[2], a)] / d1;
        }
        if (hasLow) {
            d0 = x[p] - x[p - 1];
            q[a] = p - 1;
            low = engine.eField[engine.fieldIndex(q[0], q[1], q[2], a)] / d0;
        }
        // The nearer edge centre weighs more: linear interpolation to the node.
        double value = hasLow && hasHigh ? (low * d1 + high * d0) / (d0 + d1) : low + high;
        out[a] = static_cast<float>(value);
    }
}

void magnetic(const FdtdEngine& engine, const std::uint32_t node[3], float out[3]) {
    for (int a = 0; a < 3; ++a) {
        const int b = (a + 1) % 3, c = (a + 2) % 3;
        const Neighbours nb = inside(node[b], engine.lineCount[b]);
        const Neighbours nc = inside(node[c], engine.lineCount[c]);
        std::uint32_t q[3] = {node[0], node[1], node[2]};
        double sum = 0.0;
        for (int i = 0; i < nb.count; ++i)
            for (int j = 0; j < nc.count; ++j) {
                q[b] = nb.index[i];
                q[c] = nc.index[j];
                sum += engine.hField[engine.fieldIndex(q[0], q[1], q[2], a)];
            }
        const int faces = nb.count * nc.count;
        out[a] = faces == 0 ? 0.0f
                            : static_cast<float>(sum / faces / engine.cellSize(a, node[a], true));
    }
}

void sheetCurrent(const FdtdEngine& engine, int axis, const std::uint32_t node[3], float out[3]) {
    const int b = (axis + 1) % 3, c = (axis + 2) % 3;
    const std::uint32_t k = node[axis];
    const bool above = k + 1 < engine.lineCount[axis], below = k > 0;
    // H_b lies half a cell forward along c (and along the axis); H_c along b.
    double hb = 0.0, hc = 0.0;
    if (above) {
        hb += layerH(engine, axis, b, c, k, node);
        hc += layerH(engine, axis, c, b, k, node);
    }
    if (below) {
        hb -= layerH(engine, axis, b, c, k - 1, node);
        hc -= layerH(engine, axis, c, b, k - 1, node);
    }
    // n x dH with n along the axis: n x e_b = e_c, n x e_c = -e_b.
    out[axis] = 0.0f;
    out[b] = static_cast<float>(-hc);
    out[c] = static_cast<float>(hb);
}

float metal(const FdtdEngine& engine, int axis, const std::uint32_t node[3]) {
    for (int t : {(axis + 1) % 3, (axis + 2) % 3}) {
        if (node[t] == 0 || node[t] + 1 >= engine.lineCount[t]) return 0.0f;
        std::uint32_t q[3] = {node[0], node[1], node[2]};
        const bool after = conductorEdge(engine, q, t);
        q[t] = node[t] - 1;
        if (!after && !conductorEdge(engine, q, t)) return 0.0f;
    }
    return 1.0f;
}

}  // namespace node_fields
