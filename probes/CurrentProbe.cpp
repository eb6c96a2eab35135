#include <cstdio>
#include <vector>

#include "common/Console.hpp"
#include "grid/FdtdEngine.hpp"
#include "probes/Probe.hpp"

namespace fendrix {

CurrentProbe::CurrentProbe(FdtdEngine* engine, const std::vector<double>* frequencies)
    : VoltageProbe(engine, frequencies) {
    isCurrent = 1;
}

namespace {

// Centre of cell i along one axis; the last line has no cell above it and reuses
// the size of the one below.
double cellCentre(const std::vector<double>& lines, std::uint32_t i) {
    const std::size_t n = lines.size();
    if (i + 1 < n) return (lines[i] + lines[i + 1]) * 0.5;
    if (i == 0) return lines[0];
    return lines[i] + (lines[i] - lines[i - 1]) * 0.5;
}

}  // namespace

// The H loop runs along the centre lines of cells lowIndex and highIndex. It is
// widened so that it encloses the port's extent on every axis with extent, and
// opened to the cells on both sides of a port that is flat across an axis. The
// widening never leaves the grid: a port at the mesh edge keeps index 0 or N - 1
// there instead of wrapping around.
void CurrentProbe::place(const double p1[3], const double p2[3]) {
    console::echo("CurrProbe %d %g,%g,%g %g,%g,%g\n", portNumber, p1[0], p1[1], p1[2], p2[0],
                    p2[1], p2[2]);
    for (int a = 0; a < 3; ++a) {
        lowIndex[a] = engine->lineIndex(a, p1[a], true);
        highIndex[a] = engine->lineIndex(a, p2[a], true);
    }
    for (int a = 0; a < 3; ++a) {
        const std::vector<double>& lines = engine->meshLines[a];
        const std::uint32_t last = engine->lineCount[a] - 1;
        if (highIndex[a] > lowIndex[a]) {
            if (cellCentre(lines, lowIndex[a]) > p1[a] && lowIndex[a] > 0) --lowIndex[a];
            if (p2[a] > cellCentre(lines, highIndex[a]) && highIndex[a] < last) ++highIndex[a];
        }
        if (a != direction && p1[a] == p2[a]) {
            if (cellCentre(lines, lowIndex[a]) > p1[a] && lowIndex[a] > 0) --lowIndex[a];
            if (p1[a] > cellCentre(lines, lowIndex[a]) && highIndex[a] < last) ++highIndex[a];
        }
    }
}

// Ampere's law on per-edge H values: the sum of H along the four sides of the
// rectangle across the current, counter-clockwise seen from the positive end of
// the direction axis, is the current along +direction. The terms come in pairs
// of opposite sides; each pair's single-precision difference is summed.
void CurrentProbe::listTerms(std::vector<FieldTerm>& out) const {
    const std::uint32_t x1 = lowIndex[0], y1 = lowIndex[1], z1 = lowIndex[2];
    const std::uint32_t x2 = highIndex[0], y2 = highIndex[1], z2 = highIndex[2];
    out.clear();
    auto pair = [&out](FieldTerm plus, FieldTerm minus) {
        out.push_back(plus);
        out.push_back(minus);
    };
    switch (direction) {
    case 0:
        for (std::uint32_t j = y1 + 1; j <= y2; ++j) pair({x2, j, z1, 1, true}, {x1, j, z2, 1, true});
        for (std::uint32_t k = z1 + 1; k <= z2; ++k) pair({x2, y2, k, 2, true}, {x1, y1, k, 2, true});
        break;
    case 1:
        for (std::uint32_t k = z1 + 1; k <= z2; ++k) pair({x1, y1, k, 2, true}, {x2, y2, k, 2, true});
        for (std::uint32_t i = x1 + 1; i <= x2; ++i) pair({i, y2, z2, 0, true}, {i, y1, z1, 0, true});
        break;
    case 2:
        for (std::uint32_t i = x1 + 1; i <= x2; ++i) pair({i, y1, z1, 0, true}, {i, y2, z2, 0, true});
        for (std::uint32_t j = y1 + 1; j <= y2; ++j) pair({x2, j, z1, 1, true}, {x1, j, z2, 1, true});
        break;
    default:
        break;
    }
}

double CurrentProbe::combine(const std::vector<float>& values) const {
    double sum = 0.0;
    for (std::size_t i = 0; i + 1 < values.size(); i += 2) sum += values[i] - values[i + 1];
    return sum;
}

}  // namespace fendrix
