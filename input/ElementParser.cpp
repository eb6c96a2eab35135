// The element sections after the mesh lines: material sections with their
// shape lines and end line, and "Electric" lines, in any order.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "geometry/Geometry.hpp"
#include "common/ErrorNumbers.hpp"
#include "input/ParseLocation.hpp"
#include "probes/Probe.hpp"
#include "results/Results.hpp"

namespace {

// The results writer pairs port n with the n-th column of the scattering
// parameters, so the ports must be numbered 1..n, each exactly once.
int checkPortNumbers(const Results& results) {
    const auto count = static_cast<std::int32_t>(results.ports.size());
    std::vector<bool> seen(results.ports.size() + 1, false);
    for (const VoltageProbe* port : results.ports) {
        const std::int32_t number = port->portNumber;
        if (number > count) {
            std::fprintf(stderr, "ERROR: Port %d is out of range: ports must be numbered 1 to %d.\n", number,
                         count);
            return parse_error::kPortNumbering;
        }
        if (seen[number]) {
            std::fprintf(stderr, "ERROR: Port %d is defined twice.\n", number);
            return parse_error::kPortNumbering;
        }
        seen[number] = true;
    }
    for (std::int32_t number = 1; number <= count; ++number) {
        if (!seen[number]) {
            std::fprintf(stderr, "ERROR: Port %d is missing: ports must be numbered 1 to %d.\n", number, count);
            return parse_error::kPortNumbering;
        }
    }
    return 0;
}

}  // namespace

int Geometry::parseElements(char* text, FdtdEngine& engine, Results& results, Excitation& excitation) {
    char* pos = text;
    while (*pos != '\0') {
        parseLocation.at(pos);
        char* blank = std::strchr(pos, ' ');
        if (blank == nullptr) return parse_error::kNoKeywordBlank;
        *blank = '\0';
        char* rest = blank + 1;

        if (std::strcmp(pos, "Electric") == 0) {
            auto element = std::make_unique<LumpedElement>();
            char* next = element->parse(rest, engine, results, excitation);
            if (next == nullptr) return parse_error::kElectricLine;
            lumpedElements.push_back(std::move(element));
            pos = next;
        } else if (std::strcmp(pos, "Dielectric") == 0 || std::strcmp(pos, "Metal") == 0) {
            std::unique_ptr<MatMaterial> material;
            if (pos[0] == 'D')
                material = std::make_unique<MatDielectric>();
            else
                material = std::make_unique<MatMetal>();
            char* next = material->parse(rest, engine, results);
            if (next == nullptr) return parse_error::kMaterialLine;
            materials.push_back(std::move(material));
            next = parseShapes(next, *materials.back());
            if (next == nullptr) return parse_error::kShapeList;
            pos = next;
        } else {
            return parse_error::kUnknownKeyword;
        }
    }
    // Whose line is at fault is not known here; the message names the port.
    parseLocation.at(nullptr);
    return checkPortNumbers(results);
}

char* Geometry::parseShapes(char* text, MatMaterial& material) {
    char* pos = text;
    // The end line's '/' counts only in the first column; shape lines may be indented.
    while (*pos != '/') {
        parseLocation.at(pos);
        while (*pos == ' ') ++pos;
        char* blank = std::strchr(pos, ' ');
        if (blank == nullptr) return nullptr;
        *blank = '\0';

        std::unique_ptr<GeoObject> shape;
        if (std::strcmp(pos, "Cube") == 0)
            shape = std::make_unique<GeoCube>(&material);
        else if (std::strcmp(pos, "Cylinder") == 0)
            shape = std::make_unique<GeoCylinder>(&material);
        else if (std::strcmp(pos, "Polygon") == 0)
            shape = std::make_unique<GeoPolygon>(&material);
        else
            return nullptr;

        // The shape is the material's from its creation; a failed one leaves again.
        material.shapes.push_back(std::move(shape));
        char* next = material.shapes.back()->parse(blank + 1);
        if (next == nullptr) {
            material.shapes.pop_back();
            return nullptr;
        }
        pos = next;
    }
    parseLocation.at(pos);
    char* lineFeed = std::strchr(pos, '\n');
    if (lineFeed == nullptr) return nullptr;
    return lineFeed + 1;
}
