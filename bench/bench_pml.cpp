// Reflection of the perfectly matched layer (--pml=N) and of the first-order
// absorber, against a reference run in a box so large that nothing comes back
// from its border within the time window.
//
//   bench_pml [--cells N,...] [--steps S]
//
// The waves are two-dimensional, so that the reference box stays small: the
// grid is 2 cells thick along a "thin" axis between conducting walls, and a
// port across those walls drives a line source (a 1 to 10 GHz pulse on 1 mm
// cells). The interior is 40 x 40 cells; the test grids add the layer's cells
// around it (none for the first-order absorber), the reference 230 cells of
// air. The field E along the thin axis is recorded at two points 2 cells
// inside the layer: straight out from the source towards a face (normal
// incidence) and towards a corner (45 degrees). The difference from the
// reference is the reflection; it is given as its peak over the peak of the
// field (time) and as the worst ratio of their spectra over the band.
// Thin axis z tests the layers of the x and y faces, thin axis x those of the
// y and z faces. "dielectric" fills the half-space below 4 cells under the
// source with eps_r 4; it runs into the layers of three faces.

#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/Console.hpp"
#include "common/PhysicalConstants.hpp"
#include "driver/Simulation.hpp"
#include "grid/FdtdEngine.hpp"

using namespace fendrix;

namespace {

constexpr int kInterior = 40;   // cells across, between the layers
constexpr int kReference = 230;  // air cells around the interior of the reference
constexpr int kSource = 20;      // source in the middle of the interior
constexpr int kProbe = kInterior - 2;
constexpr int kInterface = kSource - 4;  // top of the dielectric half-space

std::string lines(char axis, int first, int last) {
    std::string text = std::string(1, axis) + "Mesh ";
    char value[32];
    for (int i = first; i <= last; ++i) {
        std::snprintf(value, sizeof value, "%s%g", i > first ? "," : "", i * 1e-3);
        text += value;
    }
    return text + "\n";
}

// Node (p, q) of the plane across the thin axis, as x, y, z.
void place(int thin, int p, int q, int t, int out[3]) {
    const int a = (thin + 1) % 3, b = (thin + 2) % 3;
    out[a] = p, out[b] = q, out[thin] = t;
}

// E along the thin axis at the probes, one sample per step; `pad` cells
// around the interior, absorbing faces with a layer of `layer` cells (0: the
// first-order absorber).
bool record(int thin, bool dielectric, int pad, int layer, int steps, std::vector<float> probes[2], double& dt) {
    const int a = (thin + 1) % 3, b = (thin + 2) % 3;
    std::string mesh[3];
    mesh[a] = lines("xyz"[a], -pad, kInterior + pad);
    mesh[b] = lines("xyz"[b], -pad, kInterior + pad);
    mesh[thin] = lines("xyz"[thin], 0, 2);
    char boundary[6] = {'2', '2', '2', '2', '2', '2'};
    boundary[2 * thin] = boundary[2 * thin + 1] = '0';
    std::string text = "Sim 0 1e-9 4 /tmp/bench_pml.dat\nFreq 2 1e9 1e10 10\nBoundary";
    for (char c : boundary) text += std::string(" ") + c;
    text += "\n" + mesh[0] + mesh[1] + mesh[2];
    auto point = [&](int p, int q, int t) {
        int n[3];
        place(thin, p, q, t, n);
        char value[96];
        std::snprintf(value, sizeof value, "%g,%g,%g", n[0] * 1e-3, n[1] * 1e-3, n[2] * 1e-3);
        return std::string(value);
    };
    if (dielectric)
        text += "Dielectric 4 0\nCube " + point(-pad - 1, -pad - 1, 0) + " " + point(kInterior + pad + 1, kInterface, 2) +
                "\n/\n";
    text += "Electric 1 " + std::to_string(thin) + " 50 x " + point(kSource, kSource, 0) + " " +
            point(kSource, kSource, 2) + "\n";

    Simulation sim(1);
    sim.engine->pmlCells = static_cast<std::uint32_t>(layer);
    // The build's messages are not part of the benchmark's output.
    std::fflush(stdout);
    const int saved = dup(1);
    std::freopen("/dev/null", "w", stdout);
    int status = sim.parse(text.data());
    if (status == 0) status = sim.setup();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    if (status != 0) return false;

    FdtdEngine& engine = *sim.engine;
    dt = engine.timeStep;
    const int spots[2][2] = {{kProbe, kSource}, {kProbe, kProbe}};
    std::uint32_t at[2];
    for (int s = 0; s < 2; ++s) {
        int n[3];
        place(thin, spots[s][0] + pad, spots[s][1] + pad, 0, n);
        at[s] = engine.fieldIndex(n[0], n[1], n[2], thin);
        probes[s].clear();
    }
    for (int step = 0; step < steps; ++step) {
        engine.runSteps(1, false);
        for (int s = 0; s < 2; ++s) probes[s].push_back(engine.eField[at[s]]);
    }
    return true;
}

struct Reflection {
    double peak;  // dB: peak of the difference over the peak of the reference
    double band;  // dB: worst spectral ratio over 1 .. 10 GHz
};

Reflection compare(const std::vector<float>& test, const std::vector<float>& reference, double dt) {
    double peakDiff = 0, peakRef = 0;
    for (std::size_t n = 0; n < test.size(); ++n) {
        peakDiff = std::max(peakDiff, std::fabs(double(test[n]) - reference[n]));
        peakRef = std::max(peakRef, std::fabs(double(reference[n])));
    }
    double worst = 0;
    for (double f = 1e9; f <= 1e10 + 1; f += 0.25e9) {
        std::complex<double> diff = 0, ref = 0;
        for (std::size_t n = 0; n < test.size(); ++n) {
            const std::complex<double> w = std::polar(1.0, -kTwoPi * f * dt * double(n));
            diff += (double(test[n]) - reference[n]) * w;
            ref += double(reference[n]) * w;
        }
        worst = std::max(worst, std::abs(diff) / std::abs(ref));
    }
    return {20 * std::log10(peakDiff / peakRef), 20 * std::log10(worst)};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> layers = {0, 4, 8, 16};
    int steps = 700;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cells") == 0 && i + 1 < argc) {
            layers.clear();
            for (char* p = argv[++i]; *p;) {
                layers.push_back(static_cast<int>(std::strtol(p, &p, 10)));
                if (*p == ',') ++p;
            }
        } else if (std::strcmp(argv[i], "--steps") == 0 && i + 1 < argc) {
            steps = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: bench_pml [--cells N,...] [--steps S]   (0 in --cells: first-order absorber)\n");
            return 2;
        }
    }
    console::setVerbosity(0);
    std::printf("Reflection in dB (peak of the difference / peak of the field; worst spectral ratio 1-10 GHz)\n");
    std::printf("%-6s %-10s %-12s", "thin", "medium", "incidence");
    for (int n : layers) {
        if (n == 0)
            std::printf("  %-15s", "first-order");
        else
            std::printf("  pml=%-11d", n);
    }
    std::printf("\n");
    for (int thin : {2, 0}) {
        for (bool dielectric : {false, true}) {
            std::vector<float> reference[2], test[2];
            double dt = 0, testDt = 0;
            if (!record(thin, dielectric, kReference, 0, steps, reference, dt)) return 1;
            std::vector<Reflection> rows[2];
            for (int n : layers) {
                // Same cells and materials, so the same time step as the reference.
                if (!record(thin, dielectric, n, n, steps, test, testDt) || testDt != dt) return 1;
                for (int s = 0; s < 2; ++s) rows[s].push_back(compare(test[s], reference[s], dt));
            }
            for (int s = 0; s < 2; ++s) {
                std::printf("%-6c %-10s %-12s", "xyz"[thin], dielectric ? "dielectric" : "vacuum",
                            s == 0 ? "normal" : "45 degrees");
                for (const Reflection& r : rows[s]) std::printf("  %6.1f / %6.1f ", r.peak, r.band);
                std::printf("\n");
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
