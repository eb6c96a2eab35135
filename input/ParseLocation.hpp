#pragma once

#include <cstdint>
#include <vector>

// Where the description parser is, so that a readable-mode error can name the
// failing line. Simulation::parse records the line feeds before any separator
// is overwritten; each line parser sets `lineStart` before it reads a line.
struct ParseLocation {
    const char* textStart = nullptr;
    std::vector<std::uint32_t> lineFeedOffsets;
    const char* lineStart = nullptr;
    std::uint32_t line = 0;  // 1-based line of `lineStart` once the parse failed; 0 unknown

    void begin(const char* text);          // records the line feeds of the whole text
    void at(const char* start) { lineStart = start; }
    void resolve();                        // turns lineStart into `line`
};

extern ParseLocation parseLocation;

// One sentence saying what a parse error number means ("Sim line: ...").
const char* parseErrorMeaning(int error);
