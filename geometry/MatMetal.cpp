// Placeholder until this file is written.
#include "geometry/MatMaterial.hpp"
char* MatMetal::parse(char*, FdtdEngine&, const Results&) { return nullptr; }
