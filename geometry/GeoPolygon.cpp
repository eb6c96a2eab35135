// Placeholder until this file is written.
#include "geometry/GeoObject.hpp"
void GeoPolygon::boundingBox(double*) const {}
bool GeoPolygon::contains(const double*) const { return false; }
char* GeoPolygon::parse(char*) { return nullptr; }
