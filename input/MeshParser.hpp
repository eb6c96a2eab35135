#pragma once

namespace fendrix {

class FdtdEngine;

// Reads the three mesh lines (x, y, z) into the engine and allocates its
// coefficient storage. Returns the position after the third line, or null with
// `error` set to the parse error number.
char* parseMeshLines(char* text, FdtdEngine& engine, int& error);

}  // namespace fendrix
