#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fendrix {

class FdtdEngine;

// First-order Mur absorbing face. Part of the update is folded into the E
// coefficients of the boundary plane (CA = -k, CB = 0), so the kernels need no
// special case; the rest is three cheap passes over the face per time step:
//   E_b(new) = E_n(old) + k * (E_n(new) - E_b(old)).
class MurBoundary {
public:
    MurBoundary(FdtdEngine* engine, std::uint32_t axis, bool highSide);
    ~MurBoundary();
    MurBoundary(const MurBoundary&) = delete;
    MurBoundary& operator=(const MurBoundary&) = delete;

    // Per-point coefficients and the boundary-plane E coefficients. Runs during the
    // build, before compression. False when memory is short.
    bool initialise();
    // Leaves the E component along the edge shared with `later` (another
    // absorbing face) to that face. Adding both faces' corrections there would
    // count the boundary value twice and hold a static field at the corner that
    // never decays.
    void yieldEdgeTo(const MurBoundary& later);
    // The three passes of a step over the face points in z-planes kBegin ..
    // kEnd - 1, so that each stepping thread can do the points of its own
    // planes while they are in its cache (a z face lies in one plane):
    // save the neighbour line before the E update, accumulate after it, apply
    // once every face has accumulated.
    void saveNeighbour(std::size_t kBegin, std::size_t kEnd);
    void accumulate(std::size_t kBegin, std::size_t kEnd);
    void apply(std::size_t kBegin, std::size_t kEnd);
    // x faces only: accumulate, apply and save of plane k in one pass (see the
    // .cpp for why that gives the same fields).
    void updatePlane(std::size_t k);

    struct RowRange {
        std::size_t begin, end;
    };
    // The face points come in rows: on x faces a row is one point (one lane of
    // one grid row, rows ordered z outer, y inner); on y and z faces a whole
    // grid row of Nv vectors. Row r has its points at saved[r * savedStride ...]
    // and its outer and inner E components at
    // eField[outer + (r - firstStored) * fieldStride ...]: a process of a run
    // over several stores only the rows of its own planes.
    struct FaceRows {
        std::size_t savedStride, fieldStride, outer, inner;
        std::uint32_t columns, lanes;
        std::size_t firstStored;
    };

    FdtdEngine* engine;
    std::uint32_t normalAxis;   // a
    std::uint32_t outerAxis;    // o: slowest-varying tangential axis
    std::uint32_t innerAxis;    // q
    std::uint32_t boundaryIndex;
    std::uint32_t neighbourIndex;
    std::uint32_t outerCount;   // N_o
    std::uint32_t innerCount;   // N_q
    std::uint32_t normalCount;  // N_a
    float* coefficients = nullptr;
    float* savedOuter = nullptr;
    float* savedInner = nullptr;
    std::vector<std::uint32_t> yieldedOuter;  // points of savedOuter another face handles
    std::vector<std::uint32_t> yieldedInner;
    // x faces: per point, bit 0 set where the outer component is left to
    // another face, bit 1 for the inner one (empty while no edge is yielded).
    std::vector<std::uint8_t> leftToOthers;
    // x faces: 1 for a z-plane with such points besides its first and last row.
    std::vector<std::uint8_t> mixedPlanes;

    FaceRows neighbourRows{};  // rows at the neighbour line
    FaceRows boundaryRows{};   // rows at the boundary line

private:
    void locateRows();
    void saveRows(RowRange rows);
};

}  // namespace fendrix
