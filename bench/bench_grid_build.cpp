// Setup time and peak memory of the grid build for a planar circuit.
//
//   bench_grid_build [--cells MILLIONS] [--strips S] [--threads T]
//
// Writes a description of about MILLIONS (default 10) million mesh nodes: a
// substrate box (eps_r 3.5) on a ground polygon, S (default 300) strip
// polygons on the substrate top, two 50-ohm ports, absorbing faces except the
// ground side. The mesh is square in x and y at 0.1 mm with 40 z lines, fine
// inside the substrate and growing above it. The text goes through the real
// parser and the setup (grid build, compression, field allocation) exactly as
// a run would, and the benchmark reports the time of each part and the peak
// resident memory next to the storage the build cannot avoid:
//   uncompressed coefficients 192 B + set indices 8 B    (peak of the build)
//   fields 96 B + indices 8 B + distinct sets              (what the run keeps)
// with B the block count (four nodes of a row per block). Last, it times 100
// time steps of the grid it built, the yardstick the build should stay under.

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/Console.hpp"
#include "driver/Simulation.hpp"

using namespace fendrix;

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of this process (user + system): wall time on a shared
// machine says more about the neighbours than about the build.
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec * 1e-6;
}

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;  // Linux reports KiB
}

// Same text for the same coordinate everywhere, so polygon planes hit mesh lines exactly.
std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string meshLine(char axis, const std::vector<double>& lines) {
    std::string line(1, axis);
    line += "Mesh ";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) line += ',';
        line += number(lines[i]);
    }
    return line + "\n";
}

std::string describe(double millions, int strips, std::uint32_t& nx, std::uint32_t& nz) {
    const double cell = 1e-4;
    const double substrate = 5e-4;
    // z: ten 50 um cells in the substrate, then cells growing by 1.2 up to 40 lines.
    std::vector<double> z;
    for (int i = 0; i <= 10; ++i) z.push_back(i * 5e-5);
    double step = 5e-5;
    while (z.size() < 40) {
        step *= 1.2;
        z.push_back(z.back() + step);
    }
    nz = static_cast<std::uint32_t>(z.size());
    nx = static_cast<std::uint32_t>(std::sqrt(millions * 1e6 / nz));
    std::vector<double> xy(nx);
    for (std::uint32_t i = 0; i < nx; ++i) xy[i] = i * cell;
    const double extent = xy.back();

    std::string text = "# grid build benchmark\nSim 1 1e-5 4 bench_grid_build.dat\nFreq 2 1e9 1e10 11\n"
                       "Boundary 2 2 2 2 0 2\n";
    text += meshLine('x', xy) + meshLine('y', xy) + meshLine('z', z);
    text += "Dielectric 3.5 0.002\nCube 0,0,0 " + number(extent) + "," + number(extent) + "," +
            number(substrate) + "\n/\n";
    text += "Metal 0 0 0\nPolygon 0 2 0,0 " + number(extent) + ",0 " + number(extent) + "," +
            number(extent) + " 0," + number(extent) + "\n";
    // Strips on the substrate top: lengths and widths in whole cells, placed by
    // a fixed linear congruential sequence so every run is the same.
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    const std::uint32_t span = nx - 40;
    for (int s = 0; s < strips; ++s) {
        const double x0 = (10 + next(span)) * cell;
        const double y0 = (10 + next(span)) * cell;
        const bool alongX = next(2) == 0;
        const double length = (5 + next(25)) * cell;
        const double width = (1 + next(6)) * cell;
        const double x1 = x0 + (alongX ? length : width);
        const double y1 = y0 + (alongX ? width : length);
        text += "Polygon " + number(substrate) + " 2 " + number(x0) + "," + number(y0) + " " + number(x1) +
                "," + number(y0) + " " + number(x1) + "," + number(y1) + " " + number(x0) + "," +
                number(y1) + "\n";
    }
    text += "/\n";
    const double mid = (nx / 2) * cell;
    text += "Electric 1 2 50 x " + number(20 * cell) + "," + number(mid) + ",0 " + number(20 * cell) + "," +
            number(mid) + "," + number(substrate) + "\n";
    text += "Electric 2 2 50 x " + number(extent - 20 * cell) + "," + number(mid) + ",0 " +
            number(extent - 20 * cell) + "," + number(mid) + "," + number(substrate) + "\n";
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    double millions = 10;
    int strips = 300;
    int threads = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--cells")) millions = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--strips")) strips = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--threads")) threads = std::atoi(argv[i + 1]);
    }
    if (millions < 0.01 || strips < 0 || threads < 1) {
        std::fprintf(stderr, "usage: bench_grid_build [--cells MILLIONS] [--strips S] [--threads T]\n");
        return 1;
    }

    std::uint32_t nx = 0, nz = 0;
    const std::string description = describe(millions, strips, nx, nz);
    std::vector<char> text(description.begin(), description.end());
    text.push_back('\0');
    std::printf("Description: %u x %u x %u lines (%.2f million nodes), %d strips, %.1f kB of text\n", nx, nx,
                nz, double(nx) * nx * nz * 1e-6, strips, description.size() / 1024.0);
    const double baseline = peakMegabytes();

    console::setVerbosity(0);
    Simulation simulation(threads);
    const double t0 = now();
    const double c0 = cpuSeconds();
    const int parsed = simulation.parse(text.data());
    const double t1 = now();
    const double c1 = cpuSeconds();
    if (parsed != 0) {
        std::fprintf(stderr, "parse failed: %d\n", parsed);
        return 1;
    }
    const int setup = simulation.setup();
    const double t2 = now();
    const double c2 = cpuSeconds();
    if (setup != 0) {
        std::fprintf(stderr, "setup failed: %d\n", setup);
        return 1;
    }

    const FdtdEngine& engine = *simulation.engine;
    const double B = engine.blockCount();
    const double mb = 1.0 / (1 << 20);
    const double sets = double(engine.keepSetCount) + engine.curlSetCount;
    std::printf("\nParse (with coefficient allocation): %.2f s wall, %.2f s processor\n", t1 - t0, c1 - c0);
    std::printf("Setup (grid build and far-field probes): %.2f s wall, %.2f s processor\n", t2 - t1, c2 - c1);
    std::printf("Blocks B = %.0f, keep sets %u, curl sets %u\n", B, engine.keepSetCount, engine.curlSetCount);
    std::printf("Uncompressed coefficients 192 B:           %8.1f MB\n", 192 * B * mb);
    std::printf("Set indices 8 B:                           %8.1f MB\n", 8 * B * mb);
    std::printf("Fields 96 B:                               %8.1f MB\n", 96 * B * mb);
    std::printf("Peak of the build (coefficients + indices): %8.1f MB\n", 200 * B * mb);
    std::printf("Kept for the run (fields + indices + sets): %8.1f MB\n", (104 * B + 96 * sets) * mb);
    std::printf("Peak resident memory: %.1f MB (%.1f MB before parsing)\n", peakMegabytes(), baseline);

    // The yardstick for the build: 100 time steps of the same grid on the same
    // threads (after a warm-up chunk that touches every page of the fields).
    simulation.engine->runSteps(1);
    const double s0 = now();
    simulation.engine->runSteps(100);
    const double stepSeconds = now() - s0;
    std::printf("100 time steps on %d thread(s): %.2f s; setup / 100 steps = %.2f\n", threads,
                stepSeconds, (t2 - t1) / stepSeconds);
    return 0;
}
