#pragma once

#include <memory>
#include <vector>

#include "geometry/LumpedElement.hpp"
#include "geometry/MatMaterial.hpp"

namespace fendrix {

// Owns every material (and through them every shape) and the lumped elements,
// in description order.
class Geometry {
public:
    virtual ~Geometry() = default;

    // Element sections after the mesh lines: returns 0 or an error number -101 and below.
    int parseElements(char* text, FdtdEngine& engine, Results& results, Excitation& excitation);
    // Shape lines of `material` up to its end line: position after the end line, or null.
    char* parseShapes(char* text, MatMaterial& material);
    // "WARNING: Unused element detected." once for each shape that never claimed a grid point.
    void warnUnused() const;

    std::vector<std::unique_ptr<MatMaterial>> materials;
    std::vector<std::unique_ptr<LumpedElement>> lumpedElements;
};

}  // namespace fendrix
