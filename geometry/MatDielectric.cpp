// "Dielectric permittivity losstangent": a lossy dielectric, its conductivity
// taken at the centre of the analysed band.
#include <cstdio>

#include "common/Console.hpp"
#include "common/PhysicalConstants.hpp"
#include "common/TextReader.hpp"
#include "geometry/MatMaterial.hpp"
#include "results/Results.hpp"

namespace fendrix {

char* MatDielectric::parse(char* text, FdtdEngine& /*engine*/, const Results& results) {
    char* pos = text;
    double lossTangent = 0.0;
    if (!text::readRealThen(pos, epsR, ' ')) return nullptr;
    if (!text::readRealThen(pos, lossTangent, '\n')) return nullptr;
    // Plain FDTD cannot step a permittivity that is not positive: the update
    // would grow without bound (a dispersive model would be needed).
    if (!(epsR > 0.0)) return nullptr;

    // sigma = omega eps0 epsR tan(delta) at the band centre, omega = pi fSum.
    const auto& f = results.frequencies;
    const double fSum = f.empty() ? 0.0 : f.front() + f.back();
    sigma = fSum * kPi * kEpsilon0 * epsR * lossTangent;

    console::echo("Dielectric %g %g\n", epsR, sigma);
    return pos;
}

}  // namespace fendrix
