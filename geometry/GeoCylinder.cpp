// Placeholder until this file is written.
#include "geometry/GeoObject.hpp"
void GeoCylinder::boundingBox(double*) const {}
bool GeoCylinder::contains(const double*) const { return false; }
char* GeoCylinder::parse(char*) { return nullptr; }
