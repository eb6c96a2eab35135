#include "results/VtkFile.hpp"

#include <cstdio>
#include <string>

#include "common/NewFile.hpp"

namespace fendrix {

namespace {

// The machines this runs on are little-endian, as the files declare.
bool writeBlock(NewFile& file, const void* data, std::uint64_t bytes) {
    return file.write(&bytes, sizeof bytes) && file.write(data, bytes);
}

// Puts the file in place; otherwise says why in `failure`.
bool finish(NewFile& file, std::string& failure) {
    if (file.commit()) return true;
    failure = file.cause();
    return false;
}

}  // namespace

bool writeRectilinearGrid(const std::string& path, const std::array<std::vector<double>, 3>& lines,
                          const std::uint32_t first[3], const std::uint32_t count[3],
                          const std::vector<VtkArray>& arrays, const char* label, double value,
                          std::string& failure) {
    const std::uint64_t points = std::uint64_t{count[0]} * count[1] * count[2];
    char extent[128];
    std::snprintf(extent, sizeof extent, "%u %u %u %u %u %u", first[0], first[0] + count[0] - 1,
                  first[1], first[1] + count[1] - 1, first[2], first[2] + count[2] - 1);

    // Appended blocks: each a 64-bit byte count followed by the bytes; the
    // offsets in the XML count from the '_' that starts the appended section.
    std::string xml =
        "<?xml version=\"1.0\"?>\n"
        "<VTKFile type=\"RectilinearGrid\" version=\"1.0\" byte_order=\"LittleEndian\" "
        "header_type=\"UInt64\">\n";
    xml += std::string("  <RectilinearGrid WholeExtent=\"") + extent + "\">\n";
    char line[256];
    std::snprintf(line, sizeof line,
                  "    <FieldData>\n      <DataArray type=\"Float64\" Name=\"%s\" NumberOfTuples=\"1\" "
                  "format=\"ascii\">%.17g</DataArray>\n    </FieldData>\n",
                  label, value);
    xml += line;
    xml += std::string("    <Piece Extent=\"") + extent + "\">\n      <PointData>\n";
    std::uint64_t offset = 0;
    for (const VtkArray& a : arrays) {
        std::snprintf(line, sizeof line,
                      "        <DataArray type=\"Float32\" Name=\"%s\" NumberOfComponents=\"%d\" "
                      "format=\"appended\" offset=\"%llu\"/>\n",
                      a.name.c_str(), a.components, static_cast<unsigned long long>(offset));
        xml += line;
        offset += 8 + 4 * points * static_cast<std::uint64_t>(a.components);
    }
    xml += "      </PointData>\n      <Coordinates>\n";
    for (int axis = 0; axis < 3; ++axis) {
        std::snprintf(line, sizeof line,
                      "        <DataArray type=\"Float64\" Name=\"%c\" format=\"appended\" "
                      "offset=\"%llu\"/>\n",
                      "xyz"[axis], static_cast<unsigned long long>(offset));
        xml += line;
        offset += 8 + 8 * std::uint64_t{count[axis]};
    }
    xml += "      </Coordinates>\n    </Piece>\n  </RectilinearGrid>\n"
           "  <AppendedData encoding=\"raw\">\n   _";

    NewFile file;
    file.create(path);
    file.write(xml.data(), xml.size());
    for (const VtkArray& a : arrays) writeBlock(file, a.values, 4 * points * static_cast<std::uint64_t>(a.components));
    for (int axis = 0; axis < 3; ++axis)
        writeBlock(file, lines[axis].data() + first[axis], 8 * std::uint64_t{count[axis]});
    const char tail[] = "\n  </AppendedData>\n</VTKFile>\n";
    file.write(tail, sizeof tail - 1);
    return finish(file, failure);
}

bool writeCollection(const std::string& path, const std::vector<VtkCollectionEntry>& entries,
                     std::string& failure) {
    std::string xml =
        "<?xml version=\"1.0\"?>\n"
        "<VTKFile type=\"Collection\" version=\"1.0\" byte_order=\"LittleEndian\">\n"
        "  <Collection>\n";
    for (const VtkCollectionEntry& e : entries) {
        char line[64];
        std::snprintf(line, sizeof line, "%.17g", e.timestep);
        xml += std::string("    <DataSet timestep=\"") + line + "\" part=\"0\" file=\"" + e.file +
               "\"/>\n";
    }
    xml += "  </Collection>\n</VTKFile>\n";
    NewFile file;
    file.create(path);
    file.write(xml.data(), xml.size());
    return finish(file, failure);
}

}  // namespace fendrix
