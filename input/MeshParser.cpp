// Placeholder until this file is written.
#include "input/MeshParser.hpp"
char* parseMeshLines(char*, FdtdEngine&, int& error) { error = -20; return nullptr; }
