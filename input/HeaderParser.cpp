// The header lines of a description: comments, Sim, Freq, the optional
// Radiation line and Boundary; then the mesh lines and the element sections.
#include <cstring>
#include <memory>

#include "common/ErrorNumbers.hpp"
#include "common/Limits.hpp"
#include "common/TextReader.hpp"
#include "driver/Simulation.hpp"
#include "input/MeshParser.hpp"
#include "input/ParseLocation.hpp"

namespace fendrix {

namespace {

using namespace parse_error;

bool startsWith(const char* pos, const char* keyword) {
    return std::strncmp(pos, keyword, std::strlen(keyword)) == 0;
}

// Sim line: run-limit factor, energy threshold, samples per Nyquist interval,
// then the rest of the line as the results file name.
int parseSimLine(char*& pos, Simulation& sim) {
    parseLocation.at(pos);
    if (!startsWith(pos, "Sim ")) return kNoSimLine;
    pos += 4;
    std::uint32_t timeFactor = 0;
    std::uint32_t samples = 0;
    double threshold = 0.0;
    parseLocation.hint("The Sim line holds, after \"Sim\" and one blank each, the run-limit factor (a whole "
                       "number), the energy threshold, the samples per Nyquist interval (a whole number) and the "
                       "results file name: for instance \"Sim 20 1e-5 4 line.dat\".");
    if (!text::readUnsignedThen(pos, timeFactor, ' ')) return kSimRunLimit;
    if (!text::readRealThen(pos, threshold, ' ')) return kSimThreshold;
    if (!text::readUnsignedThen(pos, samples, ' ')) return kSimSamplesPerNyquist;
    // The run loop advances in chunks of nyquistSteps / samplesPerNyquist steps.
    if (samples == 0) return kSamplesPerNyquistZero;
    parseLocation.hint(nullptr);
    sim.maxTimeFactor = timeFactor;
    sim.energyThreshold = threshold;
    sim.samplesPerNyquist = samples;

    char* lineFeed = std::strchr(pos, '\n');
    if (lineFeed == nullptr) return kSimFileName;
    *lineFeed = '\0';
    sim.results.setFileName(pos);  // kept as written, a carriage return included
    pos = lineFeed + 1;
    return 0;
}

// Freq line: excitation kind, band F1..F2 and the number of analysis frequencies.
int parseFreqLine(char*& pos, Simulation& sim) {
    parseLocation.at(pos);
    if (!startsWith(pos, "Freq ")) return kNoFreqLine;
    pos += 5;
    const char kind = *pos;
    if (kind == '\0' || pos[1] != ' ') return kFreqKindSeparator;
    pos += 2;
    double f1 = 0.0;
    double f2 = 0.0;
    std::uint32_t count = 0;
    if (!text::readRealThen(pos, f1, ' ')) return kFreqBand;
    if (!text::readRealThen(pos, f2, ' ')) return kFreqBand;
    if (!text::readUnsignedThen(pos, count, '\n')) return kFreqPointCount;
    if (count > kMaxFrequencyPoints) return kFreqTooManyPoints;

    sim.results.addFrequencies(f1, f2, static_cast<std::int32_t>(count));
    sim.excitation = std::make_unique<Excitation>(sim.engine.get());
    if (!sim.excitation->configure(kind, f1, f2)) return kFreqKind;
    return 0;
}

// Optional Radiation line: far-field frequency, azimuth and elevation counts, margin.
int parseRadiationLine(char*& pos, Simulation& sim) {
    pos += 10;  // "Radiation "
    double frequency = 0.0;
    std::uint32_t azimuths = 0;
    std::uint32_t elevations = 0;
    std::uint32_t margin = 0;
    if (!text::readRealThen(pos, frequency, ' ')) return kRadiationFrequency;
    if (!text::readUnsignedThen(pos, azimuths, ' ')) return kRadiationAzimuths;
    if (!text::readUnsignedThen(pos, elevations, ' ')) return kRadiationElevations;
    if (!text::readUnsignedThen(pos, margin, '\n')) return kRadiationMargin;

    // The far field is taken from the port spectra's band: it needs a frequency
    // inside it, and an angle grid needs two points per angle to span its range.
    const auto& frequencies = sim.results.frequencies;
    if (!(frequency > 0.0) || frequencies.empty() || frequency > frequencies.back())
        return kRadiationFrequencyRange;
    if (azimuths < 2 || elevations < 2 || azimuths > kMaxAngleCount || elevations > kMaxAngleCount)
        return kRadiationAngleCount;

    // Odd counts put one angle exactly at 0 (the broadside direction).
    sim.radiation = std::make_unique<RadiationSetup>(static_cast<float>(frequency), elevations | 1u,
                                                     azimuths | 1u, margin);
    return 0;
}

// Boundary line: six face codes, each after one blank: 1 magnetic wall,
// 2 absorbing, anything else electric wall.
int parseBoundaryLine(char*& pos, Simulation& sim) {
    parseLocation.at(pos);
    if (!startsWith(pos, "Boundary")) return kNoBoundaryLine;
    pos += 8;
    parseLocation.hint("The Boundary line has six codes, one per face in the order x low, x high, y low, "
                       "y high, z low, z high, each after one blank: 0 electric wall, 1 magnetic wall, "
                       "2 absorbing.");
    for (int face = 0; face < 6; ++face) {
        if (*pos != ' ') return kBoundaryCodeSeparator;
        if (pos[1] == '\0') return kBoundaryLineEnd;  // the text ends before the code
        sim.engine->boundaryKind[face] = static_cast<std::uint32_t>(pos[1] - '0');
        pos += 2;
    }
    if (*pos != '\n') return kBoundaryLineEnd;
    parseLocation.hint(nullptr);
    ++pos;
    return 0;
}

int parseDescription(char* pos, Simulation& sim) {
    if (*pos == '#') {
        do {
            parseLocation.at(pos);
            char* lineFeed = std::strchr(pos, '\n');
            if (lineFeed == nullptr) return kCommentWithoutLineFeed;
            pos = lineFeed + 1;
        } while (*pos == '#');
    }
    if (int error = parseSimLine(pos, sim)) return error;
    if (int error = parseFreqLine(pos, sim)) return error;
    parseLocation.at(pos);
    if (startsWith(pos, "Radiation ")) {
        if (int error = parseRadiationLine(pos, sim)) return error;
    }
    if (int error = parseBoundaryLine(pos, sim)) return error;

    int error = 0;
    char* elements = parseMeshLines(pos, *sim.engine, error);
    if (elements == nullptr) return error != 0 ? error : kMesh;
    return sim.geometry.parseElements(elements, *sim.engine, sim.results, *sim.excitation);
}

}  // namespace

int Simulation::parse(char* text) {
    parseLocation.begin(text);
    const int error = parseDescription(text, *this);
    if (error < 0) parseLocation.resolve();
    return error;
}

}  // namespace fendrix
