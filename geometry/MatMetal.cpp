// "Metal resistivity thickness roughness": one sheet resistance for every
// metal sheet of the grid, taken at the centre of the analysed band.
#include <cmath>
#include <cstdio>

#include "common/Console.hpp"
#include "common/PhysicalConstants.hpp"
#include "common/TextReader.hpp"
#include "geometry/MatMaterial.hpp"
#include "grid/FdtdEngine.hpp"
#include "results/Results.hpp"

namespace fendrix {

char* MatMetal::parse(char* text, FdtdEngine& engine, const Results& results) {
    char* pos = text;
    double rho = 0.0;
    double thickness = 0.0;
    double roughness = 0.0;
    if (!text::readRealThen(pos, rho, ' ')) return nullptr;
    if (!text::readRealThen(pos, thickness, ' ')) return nullptr;
    if (!text::readRealThen(pos, roughness, '\n')) return nullptr;

    // Twice the band centre; 0 without analysis frequencies.
    const auto& f = results.frequencies;
    const double fSum = f.empty() ? 0.0 : f.front() + f.back();

    // A resistivity or thickness of 0 is a perfect conductor: no sheet resistance.
    if (rho > 0.0 && thickness > 0.0) {
        if (fSum > 0.0) {
            // Skin depth sqrt(rho / (pi mu0 f)) with f = fSum / 2.
            constexpr double kHalfPiMu0 = kPi * kMu0 / 2;
            const double skinDepth = std::sqrt(rho / (fSum * kHalfPiMu0));
            // The current flows in the skin depth only.
            if (thickness > skinDepth) thickness = skinDepth;
            // Surface roughness lengthens the current path, up to twice the
            // resistance: 1 + (2/pi) atan(1.4 (r / delta)^2).
            const double ratio = roughness / skinDepth;
            rho *= 1.0 + 0.6366197723675814 * std::atan(1.4 * ratio * ratio);
        }
        // Without a frequency (DC) the skin depth is infinite: the whole
        // thickness carries the current and roughness does not matter.
        engine.sheetResistance = rho / thickness;
    }
    console::echo("Metal %g %g %g\n", rho, thickness, roughness);
    return pos;
}

}  // namespace fendrix
