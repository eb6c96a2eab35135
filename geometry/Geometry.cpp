#include "geometry/Geometry.hpp"

#include <cstdio>

#include "common/Console.hpp"

namespace fendrix {

// A shape that never claimed a grid point lies between mesh lines or hides
// behind earlier shapes: most likely a mistake in the description.
void Geometry::warnUnused() const {
    for (const auto& material : materials) {
        for (const auto& shape : material->shapes) {
            if (shape->used == 0) console::warning("Unused element detected.\n");
        }
    }
    console::flush();
}

}  // namespace fendrix
