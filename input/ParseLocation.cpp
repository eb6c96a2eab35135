// Placeholder until this file is written.
#include "input/ParseLocation.hpp"
ParseLocation parseLocation;
void ParseLocation::begin(const char* text) { textStart = text; }
void ParseLocation::resolve() {}
const char* parseErrorMeaning(int) { return "the description is malformed"; }
