#include "probes/Probe.hpp"

#include <cstdio>

#include "common/Console.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

// Snaps both corners to grid indices. An E probe (voltage) sums edges between
// mesh lines, so it takes the nearest line; an H probe loops around cells, so it
// takes the cell that contains the coordinate.
void Probe::place(const double p1[3], const double p2[3]) {
    console::echo("VoltProbe %d %g,%g,%g %g,%g,%g\n", portNumber, p1[0], p1[1], p1[2], p2[0],
                    p2[1], p2[2]);
    const bool cellMode = isCurrent == 1;
    for (int a = 0; a < 3; ++a) {
        lowIndex[a] = engine->lineIndex(a, p1[a], cellMode);
        highIndex[a] = engine->lineIndex(a, p2[a], cellMode);
    }
}

}  // namespace fendrix
