// Placeholder until this file is written.
#include "geometry/LumpedElement.hpp"
char* LumpedElement::parse(char*, FdtdEngine&, Results&, Excitation&) { return nullptr; }
