#pragma once

#include <cstdint>
#include <vector>

namespace fendrix {

class FdtdEngine;

// Physical field values at the mesh nodes from the stored line integrals, for
// the field views. Unlike the far-field faces' node values (FieldProbe) these also serve the nodes on
// the grid border, where only the edges inside the mesh count. The lengths and
// storage offsets are tabled once, so that a whole plane or grid converts at
// about the speed of a field update.
struct NodeFields {
    explicit NodeFields(const FdtdEngine& engine);

    // E in V/m: each component from the edges before and after the node along
    // its axis, each divided by its length, interpolated to the node.
    void electric(const std::uint32_t node[3], float out[3]) const;
    // H in A/m: each component the mean of the (up to four) faces around the
    // node across its axis, divided by the dual edge length along it.
    void magnetic(const std::uint32_t node[3], float out[3]) const;
    // Surface current density in A/m on the plane normal to `axis` through the
    // node: n x (H above - H below), from the tangential H half a cell on
    // either side. Zero where no current crosses the plane's sheet.
    void sheetCurrent(int axis, const std::uint32_t node[3], float out[3]) const;
    // 1 when the node lies on metal in the plane normal to `axis`: along both
    // tangential axes an edge at the node has the coefficients of a conductor.
    // Nodes on the plane's border count as not metal (wall and absorbing faces
    // have such coefficients too).
    float metal(int axis, const std::uint32_t node[3]) const;

    const FdtdEngine& engine;
    // Per axis and line, float offsets in a field array; a node's offset is
    // the sum over the three axes (add 4 * component). `before`: the edge or
    // face that ends at the line (the one after it on the first line);
    // `after`: the one that starts there (the one before it on the last line).
    std::vector<std::uint32_t> offset[3], before[3], after[3];
    // Edge weights of the interpolation to the node, each divided by the edge
    // length (0 for an edge outside the mesh), and 1 / dual edge length.
    std::vector<double> lowWeight[3], highWeight[3], inverseDual[3];

private:
    double layerH(int axis, int comp, int across, std::uint32_t layer, const std::uint32_t node[3]) const;
    bool conductorEdge(const std::uint32_t p[3], int c) const;
};

}  // namespace fendrix
