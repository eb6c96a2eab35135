#include "input/ParseLocation.hpp"

#include <algorithm>

#include "common/ErrorNumbers.hpp"

namespace fendrix {

ParseLocation parseLocation;

// The line feeds are recorded before any parser overwrites a separator with NUL,
// so the line of a failure can be found afterwards from its start pointer alone.
void ParseLocation::begin(const char* text) {
    textStart = text;
    lineFeedOffsets.clear();
    lineStart = nullptr;
    line = 0;
    fieldHint = nullptr;
    lineText.clear();
    carriageReturn = false;
    if (text == nullptr) return;
    const char* p = text;
    for (; *p != '\0'; ++p) {
        if (*p == '\n') lineFeedOffsets.push_back(static_cast<std::uint32_t>(p - text));
        if (*p == '\r') carriageReturn = true;
    }
    textLength = static_cast<std::uint32_t>(p - text);
}

std::uint32_t ParseLocation::lineOf(const char* start) const {
    if (textStart == nullptr || start == nullptr || start < textStart) return 0;
    // One more than the count of line feeds before the position.
    const auto offset = static_cast<std::uint32_t>(start - textStart);
    const auto before = std::lower_bound(lineFeedOffsets.begin(), lineFeedOffsets.end(), offset);
    return static_cast<std::uint32_t>(before - lineFeedOffsets.begin()) + 1;
}

void ParseLocation::resolve() {
    line = lineOf(lineStart);
    lineText.clear();
    if (line == 0) return;
    // The line as written: from its first character to its line feed (or the end
    // of the text), with the separators that parsers overwrote by NUL restored
    // as blanks.
    const std::uint32_t first = line == 1 ? 0 : lineFeedOffsets[line - 2] + 1;
    const std::uint32_t end = line <= lineFeedOffsets.size() ? lineFeedOffsets[line - 1] : textLength;
    for (std::uint32_t i = first; i < end && lineText.size() < 400; ++i)
        lineText += textStart[i] == '\0' ? ' ' : textStart[i];
}

const char* parseErrorMeaning(int error) {
    using namespace parse_error;
    switch (error) {
    case kCommentWithoutLineFeed:
        return "Comment line: a line starting with '#' must end with a line feed.";
    case kNoSimLine:
        return "Expected the first line after the comments to start with \"Sim \".";
    case kSimRunLimit:
        return "Sim line: expected the run-limit factor (an unsigned integer) followed by one blank.";
    case kSimThreshold:
        return "Sim line: expected the energy threshold (a real number) followed by one blank.";
    case kSimSamplesPerNyquist:
        return "Sim line: expected the samples per Nyquist interval (an unsigned integer) followed by one blank.";
    case kSimFileName:
        return "Sim line: expected the results file name ended by a line feed.";
    case kNoFreqLine:
        return "Expected a line starting with \"Freq \" after the Sim line.";
    case kFreqKindSeparator:
        return "Freq line: expected one blank right after the excitation kind character.";
    case kFreqBand:
        return "Freq line: expected the lower and the upper frequency (real numbers in Hz), each followed by one blank.";
    case kFreqPointCount:
        return "Freq line: expected the number of frequency points (an unsigned integer) followed directly by a line feed.";
    case kFreqKind:
        return "Freq line: expected the excitation kind 0, 1, 2 or 3.";
    case kNoBoundaryLine:
        return "Expected a line starting with \"Boundary\" after the Freq line (or the Radiation line).";
    case kBoundaryCodeSeparator:
        return "Boundary line: expected one blank before each of the six boundary codes.";
    case kBoundaryLineEnd:
        return "Boundary line: expected a line feed directly after the sixth boundary code.";
    case kRadiationFrequency:
        return "Radiation line: expected the far-field frequency (a real number in Hz) followed by one blank.";
    case kRadiationAzimuths:
        return "Radiation line: expected the number of azimuth points (an unsigned integer) followed by one blank.";
    case kRadiationElevations:
        return "Radiation line: expected the number of elevation points (an unsigned integer) followed by one blank.";
    case kRadiationMargin:
        return "Radiation line: expected the margin in cells (an unsigned integer) followed directly by a line feed.";
    case kMesh:
        return "Mesh lines: expected three lines of one character, \"Mesh \" and comma-separated coordinates, "
               "at least 3 strictly ascending values per axis, and a grid that fits memory.";
    case kGridTooLarge:
        return "Mesh lines: expected a grid small enough for its storage to be addressed.";
    case kTooManyProcesses:
        return "Mesh lines: expected at least two z mesh lines per process of the run (fewer processes, or more "
               "z lines).";
    case kSamplesPerNyquistZero:
        return "Sim line: expected at least 1 sample per Nyquist interval.";
    case kRadiationAngleCount:
        return "Radiation line: expected 2 to 3601 azimuth points and 2 to 3601 elevation points.";
    case kFreqTooManyPoints:
        return "Freq line: expected at most 100000 frequency points.";
    case kRadiationFrequencyRange:
        return "Radiation line: expected a far-field frequency above 0 and not above the last frequency of the Freq line.";
    case kNoKeywordBlank:
        return "Element sections: expected a keyword followed by a blank (an empty line at the end is not allowed).";
    case kUnknownKeyword:
        return "Element sections: expected a line starting with \"Metal\", \"Dielectric\" or \"Electric\".";
    case kShapeList:
        return "Shape lines: expected \"Cube\", \"Cylinder\" or \"Polygon\" lines with valid parameters, "
               "ended by a line starting with '/' and a line feed.";
    case kMaterialLine:
        return "Material line: expected \"Metal\" with resistivity, thickness and roughness, or \"Dielectric\" with "
               "a permittivity above 0 and a loss tangent, separated by blanks and ended by a line feed.";
    case kElectricLine:
        return "Electric line: expected \"Electric PORT DIRECTION R C X1,Y1,Z1 X2,Y2,Z2\": the port number, the "
               "direction code (0, 1, 2, or 4, 5, 6), the resistance or x, the capacitance or x, each followed by "
               "a blank, then two corners.";
    case kPortNumbering:
        return "Electric lines: expected the port numbers 1 to the number of ports, each used once.";
    default:
        return "The description is malformed.";
    }
}

}  // namespace fendrix
