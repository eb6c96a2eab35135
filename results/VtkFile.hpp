#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fendrix {

// VTK XML files that ParaView, VisIt and PyVista open directly: rectilinear
// grids (.vtr) with raw little-endian data appended after the XML, and the
// collections (.pvd) that bind a series of them to times or frequencies.
struct VtkArray {
    std::string name;
    int components;       // 1 for a scalar, 3 for a vector
    const float* values;  // components per point, points x fastest, then y, then z
};

// Writes a rectilinear grid of the nodes first[a] .. first[a] + count[a] - 1 of
// the mesh `lines` (the real coordinates, as doubles), with one point-data
// array per entry of `arrays` and the field-data value `label` = `value`
// (the time of a snapshot, the frequency of a map). The file appears whole
// or not at all (common/NewFile.hpp); false, with the reason in `failure`,
// when it could not be written completely.
bool writeRectilinearGrid(const std::string& path, const std::array<std::vector<double>, 3>& lines,
                          const std::uint32_t first[3], const std::uint32_t count[3],
                          const std::vector<VtkArray>& arrays, const char* label, double value,
                          std::string& failure);

struct VtkCollectionEntry {
    double timestep;   // what ParaView steps through: seconds or hertz
    std::string file;  // relative to the collection
};

bool writeCollection(const std::string& path, const std::vector<VtkCollectionEntry>& entries,
                     std::string& failure);

}  // namespace fendrix
