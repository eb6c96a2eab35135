// Placeholder until this file is written.
#include "geometry/Geometry.hpp"
int Geometry::parseElements(char*, FdtdEngine&, Results&, Excitation&) { return -101; }
char* Geometry::parseShapes(char*, MatMaterial&) { return nullptr; }
