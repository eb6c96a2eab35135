// The three mesh lines: one arbitrary character, "Mesh ", then the
// comma-separated line coordinates of the x, y and z axis in metres.
#include "input/MeshParser.hpp"

#include <cstdio>
#include <cstring>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "common/TextReader.hpp"
#include "grid/FdtdEngine.hpp"
#include "input/ParseLocation.hpp"

namespace fendrix {

char* parseMeshLines(char* text, FdtdEngine& engine, int& error) {
    char* pos = text;
    for (int axis = 0; axis < 3; ++axis) {
        parseLocation.at(pos);
        // The first character (usually the axis letter) is not examined.
        if (*pos == '\0' || std::strncmp(pos + 1, "Mesh ", 5) != 0) {
            error = parse_error::kMesh;
            return nullptr;
        }
        pos += 6;

        // One value more than there are commas up to the end of the line.
        std::uint32_t count = 1;
        for (const char* p = pos; *p != '\0' && *p != '\n'; ++p)
            if (*p == ',') ++count;
        auto& lines = engine.meshLines[axis];
        lines.assign(count, 0.0);
        engine.lineCount[axis] = count;

        // Any single character ends a value; the last one is normally the line feed.
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!text::readReal(pos, lines[i])) {
                error = parse_error::kMesh;
                return nullptr;
            }
            text::skipOne(pos);
        }
    }

    if (console::echoes()) {
        const auto& m = engine.meshLines;
        console::echo("Mesh %g...%g, %g...%g,  %g...%g\n", m[0].front(), m[0].back(), m[1].front(),
                    m[1].back(), m[2].front(), m[2].back());
    }

    // The storage checks the mesh as a whole; it is no single line's fault.
    parseLocation.at(nullptr);
    error = engine.allocateCoefficients();
    if (error != 0) return nullptr;
    return pos;
}

}  // namespace fendrix
