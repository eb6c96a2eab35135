// What to change in a description line that failed to parse. The error number
// says which check failed; the line as written usually shows why a hand-written
// description tripped it (a Windows line end, a comment or a header line in the
// wrong place, a blank too many), so the hints look at the text itself.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "common/ErrorNumbers.hpp"
#include "input/ParseLocation.hpp"

namespace fendrix {

namespace {

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// A header keyword at the start of the line, in any letter case: "Sim", "Freq", ...
const char* headerKeyword(const std::string& text) {
    static const char* const kKeywords[] = {"Radiation", "Boundary", "Freq", "Sim"};
    for (const char* keyword : kKeywords) {
        const std::size_t n = std::strlen(keyword);
        if (text.size() < n) continue;
        bool same = true;
        for (std::size_t i = 0; i < n && same; ++i)
            same = (text[i] | 0x20) == (keyword[i] | 0x20);
        if (same) return keyword;
    }
    return nullptr;
}

bool isElementError(int error) { return error <= parse_error::kNoKeywordBlank; }

// Whether `error` is a check of a field of the `keyword` line itself (the line
// is in its place, one of its values is wrong).
bool failsOwnField(const char* keyword, int error) {
    using namespace parse_error;
    switch (keyword[0]) {
    case 'S':
        return (error <= kSimRunLimit && error >= kSimFileName) || error == kSamplesPerNyquistZero;
    case 'F':
        return (error <= kFreqKindSeparator && error >= kFreqKind) || error == kFreqTooManyPoints;
    case 'R':
        return (error <= kRadiationFrequency && error >= kRadiationMargin) || error == kRadiationAngleCount ||
               error == kRadiationFrequencyRange;
    default:
        return error == kBoundaryCodeSeparator || error == kBoundaryLineEnd;
    }
}

// Whether `error` says that the `keyword` line was expected where it stands
// (it failed on what follows the keyword, a tab for instance).
bool expectedHere(const char* keyword, int error) {
    using namespace parse_error;
    return (error == kNoSimLine && keyword[0] == 'S') || (error == kNoFreqLine && keyword[0] == 'F') ||
           (error == kNoBoundaryLine && keyword[0] == 'B');
}

// A number directly followed by a letter that cannot continue it: a unit
// ("5GHz", "2mm"). The exponent letter counts only before a digit or a sign.
bool numberWithUnit(const std::string& text) {
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (!std::isdigit(static_cast<unsigned char>(text[i - 1])) || !std::isalpha(static_cast<unsigned char>(c)))
            continue;
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if ((c == 'e' || c == 'E') && (std::isdigit(static_cast<unsigned char>(next)) || next == '-' || next == '+'))
            continue;
        return true;
    }
    return false;
}

// A comma between two digits on a line whose numbers are separated by blanks:
// a decimal comma.
bool decimalComma(const std::string& text, int error) {
    using namespace parse_error;
    const bool blankSeparated = (error <= kSimRunLimit && error >= kRadiationMargin) || error == kMaterialLine;
    if (!blankSeparated) return false;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == ',' && std::isdigit(static_cast<unsigned char>(text[i - 1])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 1])))
            return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> parseErrorHints(int error) {
    using namespace parse_error;
    const std::string& text = parseLocation.lineText;
    std::vector<std::string> hints;

    // A carriage return breaks the first check that wants a line feed right
    // after a number, wherever that is.
    if (text.find('\r') != std::string::npos ||
        (parseLocation.carriageReturn && parseLocation.line == 0)) {
        hints.emplace_back("The line ends with a carriage return (a Windows line end): save the description "
                           "with Unix line ends, a line feed alone (for instance with dos2unix).");
        return hints;
    }
    if (parseLocation.line > 0 && text.empty()) {
        hints.emplace_back("This line is empty: remove it (empty lines are allowed nowhere, not even at the end).");
        return hints;
    }
    if (startsWith(text, "#")) {
        hints.emplace_back("Comment lines ('#') may stand only at the very top of the file, before the Sim "
                           "line: move this one there or delete it.");
        return hints;
    }

    const char* keyword = headerKeyword(text);
    if (keyword != nullptr && !startsWith(text, keyword)) {
        hints.emplace_back(std::string("Keywords are case-sensitive: write \"") + keyword + "\".");
    } else if (keyword != nullptr && !failsOwnField(keyword, error) && !expectedHere(keyword, error)) {
        hints.emplace_back(std::string("The ") + keyword +
                           " line is out of place: the order is comments, Sim, Freq, Radiation (optional), "
                           "Boundary, the x, y and z mesh lines, then the element sections.");
    }

    if (isElementError(error) && (startsWith(text, "Cube ") || startsWith(text, "Polygon ") ||
                                  startsWith(text, "Cylinder ")) && error == kUnknownKeyword) {
        hints.emplace_back("A shape line must follow its material line (Metal or Dielectric) and come before "
                           "that material's end line '/'.");
    }
    if (error == kUnknownKeyword) {
        for (const char* element : {"metal", "dielectric", "electric"}) {
            std::string lower;
            for (char c : text.substr(0, std::strlen(element))) lower += static_cast<char>(c | 0x20);
            if (lower == element)
                hints.emplace_back("Keywords are case-sensitive: write Metal, Dielectric or Electric.");
        }
        if (startsWith(text, " "))
            hints.emplace_back("Only shape lines may be indented: material lines, end lines '/' and Electric "
                               "lines start in the first column.");
    }
    if (error == kShapeList) {
        if (startsWith(text, " /") || startsWith(text, "\t/"))
            hints.emplace_back("The end line '/' must start in the first column.");
        for (const char* next : {"Metal ", "Dielectric ", "Electric "}) {
            if (startsWith(text, next))
                hints.emplace_back("The material section above has no end line: add a line starting with '/' "
                                   "after its last shape line.");
        }
    }
    if (error == kMesh && hints.empty()) {
        if (startsWith(text, "Mesh "))
            hints.emplace_back("A mesh line starts with one character, usually the axis letter, before "
                               "\"Mesh \": for instance \"xMesh 0,0.001,0.002\".");
        else if (text.size() > 6 && text.find(',') == std::string::npos && text.find(' ', 6) != std::string::npos)
            hints.emplace_back("Separate the mesh coordinates with commas, not blanks.");
        else if (!text.empty() && text.back() == ',')
            hints.emplace_back("The line ends with a comma: remove it, or add the missing coordinate.");
    }

    if (parseLocation.fieldHint != nullptr) hints.emplace_back(parseLocation.fieldHint);
    if (!startsWith(text, "Sim ") && numberWithUnit(text))  // a file name may hold "1a"
        hints.emplace_back("Numbers carry no unit: lengths are in metres, frequencies in hertz, resistances in "
                           "ohms, capacitances in farads (1 mm is 0.001, 1 GHz is 1e9).");
    if (decimalComma(text, error))
        hints.emplace_back("Decimal numbers take a point, not a comma: 3.5, not 3,5.");
    if (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        hints.emplace_back("The line ends with a blank: remove the blanks before its line end.");
    if (text.find('\t') != std::string::npos)
        hints.emplace_back("The line holds a tab: separate the fields with single blanks.");
    return hints;
}

}  // namespace fendrix
