// Placeholder until this file is written.
#include "geometry/Geometry.hpp"
void Geometry::warnUnused() const {}
