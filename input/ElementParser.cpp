// The element sections after the mesh lines: material sections with their
// shape lines and end line, and "Electric" lines, in any order.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "geometry/Geometry.hpp"
#include "input/ParseLocation.hpp"
#include "probes/Probe.hpp"
#include "results/Results.hpp"

namespace fendrix {

namespace {

// The results writer pairs port n with the n-th column of the scattering
// parameters, so the ports must be numbered 1..n, each exactly once.
int checkPortNumbers(const Results& results) {
    const auto count = static_cast<std::int32_t>(results.ports.size());
    std::vector<bool> seen(results.ports.size() + 1, false);
    for (const VoltageProbe* port : results.ports) {
        const std::int32_t number = port->portNumber;
        if (number > count) {
            console::error("Port %d is out of range: ports must be numbered 1 to %d.\n", number,
                         count);
            return parse_error::kPortNumbering;
        }
        if (seen[number]) {
            console::error("Port %d is defined twice.\n", number);
            return parse_error::kPortNumbering;
        }
        seen[number] = true;
    }
    for (std::int32_t number = 1; number <= count; ++number) {
        if (!seen[number]) {
            console::error("Port %d is missing: ports must be numbered 1 to %d.\n", number, count);
            return parse_error::kPortNumbering;
        }
    }
    return 0;
}

// Notes what the shape line should have been, for the readable error hint.
char* failShape(const char* hint) {
    parseLocation.hint(hint);
    return nullptr;
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
            element->line = parseLocation.lineOf(pos);
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
            if (next == nullptr) {
                parseLocation.hint(material->kind == MatMaterial::kMetal
                                       ? "A Metal line holds three numbers after one blank each: resistivity "
                                         "in ohm metres, thickness and roughness in metres (0 0 0: a perfect "
                                         "conductor)."
                                       : "A Dielectric line holds two numbers after one blank each: the "
                                         "relative permittivity (above 0) and the loss tangent.");
                return parse_error::kMaterialLine;
            }
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
            return failShape("Shapes are Cube, Cylinder and Polygon, written so (case-sensitive).");

        // The shape is the material's from its creation; a failed one leaves again.
        shape->line = parseLocation.lineOf(pos);
        material.shapes.push_back(std::move(shape));
        char* next = material.shapes.back()->parse(blank + 1);
        if (next == nullptr) {
            material.shapes.pop_back();
            return failShape(pos[0] == 'C' && pos[1] == 'u'
                                 ? "A Cube line reads \"Cube X1,Y1,Z1 X2,Y2,Z2\": two corners in metres."
                             : pos[0] == 'C'
                                 ? "A Cylinder line reads \"Cylinder R X1,Y1,Z1 X2,Y2,Z2\": the radius and the "
                                   "centres of the two end faces, in metres."
                                 : "A Polygon line reads \"Polygon P A U1,V1 U2,V2 ...\": the plane's position "
                                   "P in metres, its normal axis A (0, 1 or 2) and the vertices.");
        }
        pos = next;
    }
    parseLocation.at(pos);
    char* lineFeed = std::strchr(pos, '\n');
    if (lineFeed == nullptr) return nullptr;
    return lineFeed + 1;
}

}  // namespace fendrix
