#pragma once

#include <cstdint>

class FdtdEngine;

// Physical field values at the mesh nodes from the stored line integrals, for
// the field views. Unlike FdtdEngine::nodeE/nodeH these also serve the nodes on
// the grid border, where only the edges inside the mesh count.
namespace node_fields {

// E in V/m: each component from the edges before and after the node along its
// axis, each divided by its length, interpolated to the node.
void electric(const FdtdEngine& engine, const std::uint32_t node[3], float out[3]);
// H in A/m: each component the mean of the (up to four) faces around the node
// across its axis, divided by the dual edge length along it.
void magnetic(const FdtdEngine& engine, const std::uint32_t node[3], float out[3]);
// Surface current density in A/m on the plane normal to `axis` through the
// node: n x (H above - H below), from the tangential H half a cell on either
// side. Zero where no current crosses the plane's sheet.
void sheetCurrent(const FdtdEngine& engine, int axis, const std::uint32_t node[3], float out[3]);
// 1 when the node lies on metal in the plane normal to `axis`: along both
// tangential axes an edge at the node has the coefficients of a conductor.
// Nodes on the plane's border count as not metal (wall and absorbing faces
// have such coefficients too).
float metal(const FdtdEngine& engine, int axis, const std::uint32_t node[3]);

}  // namespace node_fields
