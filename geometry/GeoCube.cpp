// Placeholder until this file is written.
#include "geometry/GeoObject.hpp"
void GeoCube::boundingBox(double*) const {}
bool GeoCube::contains(const double*) const { return false; }
char* GeoCube::parse(char*) { return nullptr; }
