// Placeholder until this file is written.
#include "geometry/GeoObject.hpp"
int GeoObject::overlaps(const double*) const { return -1; }
