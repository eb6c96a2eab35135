// The far field at several frequencies: one dataset per extra frequency, and a
// table of the antenna figures of every far-field frequency of the run.
#include "results/FarFieldTable.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/Console.hpp"
#include "common/NewFile.hpp"
#include "results/Results.hpp"

namespace fendrix {

namespace {

// The results name without its extension (the part after the last dot of the
// file name itself), and that extension with its dot.
void splitName(const std::string& name, std::string& stem, std::string& extension) {
    const std::size_t slash = name.find_last_of('/');
    const std::size_t dot = name.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    stem = hasExtension ? name.substr(0, dot) : name;
    extension = hasExtension ? name.substr(dot) : std::string();
}

constexpr double kDegrees = 57.29577951308232;

double toDb(double ratio) { return 10.0 * std::log10(ratio); }

// Half-power width (degrees) of the pattern along the great circle of azimuth
// index `front` and its opposite `back`, around that circle's own maximum:
// from -90 up over the pole at +90 down to -90 again. The crossings of half
// the circle's maximum are interpolated linearly between grid points; 360 when
// the circle never falls to half.
double halfPowerWidth(const RadiationSetup& setup, std::uint32_t front, std::uint32_t back) {
    const std::uint32_t A = setup.azimuthCount, E = setup.elevationCount;
    if (E < 3) return std::numeric_limits<double>::quiet_NaN();
    std::vector<double> circle;
    for (std::uint32_t e = 0; e < E; ++e) circle.push_back(setup.directivity[std::size_t{e} * A + front]);
    for (std::uint32_t e = E - 2; e >= 1; --e) circle.push_back(setup.directivity[std::size_t{e} * A + back]);
    const std::size_t n = circle.size();
    const double step = 180.0 / (E - 1);
    const std::size_t top = static_cast<std::size_t>(std::max_element(circle.begin(), circle.end()) - circle.begin());
    const double half = 0.5 * circle[top];
    if (!(half > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    const auto at = [&](long index) { return circle[static_cast<std::size_t>(((index % long(n)) + long(n)) % long(n))]; };
    // Steps (fractional) from the maximum to the crossing in one direction.
    const auto reach = [&](long direction) {
        for (long s = 1; s < long(n); ++s) {
            const double inside = at(long(top) + direction * (s - 1));
            const double outside = at(long(top) + direction * s);
            if (outside < half) return double(s - 1) + (inside - half) / (inside - outside);
        }
        return -1.0;
    };
    const double right = reach(+1), left = reach(-1);
    if (right < 0.0 || left < 0.0) return 360.0;
    return std::min(360.0, (right + left) * step);
}

bool writeTable(const std::string& path, const std::vector<std::pair<FarFieldFigures, std::string>>& rows,
                std::string& failure) {
    std::string text =
        "frequency_Hz,directivity_dBi,theta_deg,phi_deg,efficiency_percent,gain_dBi,realized_gain_dBi,"
        "s11_dB,front_to_back_dB,hpbw_phi0_deg,hpbw_phi90_deg,dataset\n";
    char line[512];
    for (const auto& [f, name] : rows) {
        std::snprintf(line, sizeof line, "%.9g,%.6g,%.6g,%.6g,%.6g,%.6g,%.6g,%.6g,%.6g,%.6g,%.6g,", f.frequency,
                      f.directivityDbi, f.theta, f.phi, f.efficiency, f.gainDbi, f.realizedGainDbi, f.s11Db,
                      f.frontToBackDb, f.beamwidthPhi0, f.beamwidthPhi90);
        text += line;
        text += name.substr(name.find_last_of('/') + 1);
        text += '\n';
    }
    NewFile out;
    const bool ok = out.create(path) && out.write(text.data(), text.size()) && out.commit();
    if (!ok) failure = "writing '" + out.temporary + "' failed: " + out.cause();
    return ok;
}

}  // namespace

std::string farFieldFileName(const std::string& resultsName, double frequency) {
    std::string stem, extension;
    splitName(resultsName, stem, extension);
    char ghz[64];
    std::snprintf(ghz, sizeof ghz, "%.15g", frequency / 1e9);
    return stem + "_ff" + ghz + "GHz" + extension;
}

std::string farFieldTableName(const std::string& resultsName) {
    std::string stem, extension;
    splitName(resultsName, stem, extension);
    return stem + "_farfield.csv";
}

FarFieldFigures farFieldFigures(const RadiationSetup& setup, const RadiationFigures& figures) {
    FarFieldFigures f{};
    const std::uint32_t A = setup.azimuthCount, E = setup.elevationCount;
    f.frequency = setup.frequency;
    // The first direction (azimuth fastest) holding the maximum.
    std::size_t best = 0;
    while (best + 1 < setup.directivity.size() && !(setup.directivity[best] == setup.maxDirectivity)) ++best;
    const std::uint32_t e = static_cast<std::uint32_t>(best / A), a = static_cast<std::uint32_t>(best % A);
    f.directivityDbi = figures.directivityDbi;
    f.theta = 90.0 - setup.elevations[e] * kDegrees;
    // At a pole every azimuth names the same direction: call it 0.
    f.phi = e == 0 || e + 1 == E ? 0.0 : setup.azimuths[a] * kDegrees;
    f.efficiency = figures.efficiency;
    f.gainDbi = f.directivityDbi + toDb(figures.efficiency / 100.0);
    const double reflected = std::norm(figures.reflection);
    f.s11Db = toDb(reflected);
    f.realizedGainDbi = f.gainDbi + toDb(1.0 - reflected);
    // The opposite direction is on the grid: both angle counts are odd.
    const std::uint32_t half = A / 2;
    const std::uint32_t opposite = a < half ? a + half : a - half;
    f.frontToBackDb = toDb(setup.maxDirectivity / setup.directivity[std::size_t{E - 1 - e} * A + opposite]);
    // Cuts at the azimuths nearest 0 and 90 degrees, with their opposites.
    const auto nearest = [&](double degrees) {
        std::uint32_t k = 0;
        for (std::uint32_t i = 1; i < A; ++i)
            if (std::fabs(setup.azimuths[i] * kDegrees - degrees) < std::fabs(setup.azimuths[k] * kDegrees - degrees))
                k = i;
        return k;
    };
    const std::uint32_t zero = nearest(0.0), quarter = nearest(90.0);
    f.beamwidthPhi0 = halfPowerWidth(setup, zero, zero < half ? zero + half : zero - half);
    f.beamwidthPhi90 = halfPowerWidth(setup, quarter, quarter < half ? quarter + half : quarter - half);
    return f;
}

bool writeFarFieldResults(Results& results, const RadiationSetup& main, const RadiationFigures& mainFigures,
                          const std::vector<ExtraFarField>& extras) {
    std::vector<std::pair<FarFieldFigures, std::string>> rows;
    rows.emplace_back(farFieldFigures(main, mainFigures), results.fileName);
    for (const ExtraFarField& extra : extras) {
        const std::string name = farFieldFileName(results.fileName, extra.requested);
        RadiationFigures figures;
        if (!results.writeDatasetAs(name, extra.setup.get(), &figures)) {
            console::error("Can't save results into file.\n");
            if (!results.writeFailure.empty())
                console::detail("Results file '%s': %s.\n", name.c_str(), results.writeFailure.c_str());
            return false;
        }
        rows.emplace_back(farFieldFigures(*extra.setup, figures), name);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& x, const auto& y) { return x.first.frequency < y.first.frequency; });
    const std::string table = farFieldTableName(results.fileName);
    std::string failure;
    if (!writeTable(table, rows, failure)) {
        console::error("Can't save the far-field table '%s': %s.\n", table.c_str(), failure.c_str());
        return false;
    }
    console::say("Far field at %zu frequencies: table %s\n", rows.size(), table.c_str());
    return true;
}

}  // namespace fendrix
