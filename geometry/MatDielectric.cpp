// Placeholder until this file is written.
#include "geometry/MatMaterial.hpp"
char* MatDielectric::parse(char*, FdtdEngine&, const Results&) { return nullptr; }
