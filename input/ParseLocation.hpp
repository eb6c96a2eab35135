#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fendrix {

// Where the description parser is, so that a readable-mode error can name the
// failing line. Simulation::parse records the line feeds before any separator
// is overwritten; each line parser sets `lineStart` before it reads a line.
struct ParseLocation {
    const char* textStart = nullptr;
    std::vector<std::uint32_t> lineFeedOffsets;
    std::uint32_t textLength = 0;
    const char* lineStart = nullptr;
    std::uint32_t line = 0;  // 1-based line of `lineStart` once the parse failed; 0 unknown
    // What the failing field should have been, when the parser that failed
    // knows more than the error number says; null otherwise.
    const char* fieldHint = nullptr;
    std::string lineText;    // the failing line as written, once the parse failed
    bool carriageReturn = false;  // the text holds a carriage return somewhere

    void begin(const char* text);          // records the line feeds of the whole text
    void at(const char* start) { lineStart = start; }
    void hint(const char* text) { fieldHint = text; }
    void resolve();                        // turns lineStart into `line` and `lineText`
    std::uint32_t lineOf(const char* start) const;  // 1-based line of a position, 0 unknown
};

extern ParseLocation parseLocation;

// One sentence saying what a parse error number means ("Sim line: ...").
const char* parseErrorMeaning(int error);

// Sentences saying what to change in the failing line, from its text and the
// parser's field hint (input/ParseHints.cpp); empty when nothing specific is known.
std::vector<std::string> parseErrorHints(int error);

}  // namespace fendrix
