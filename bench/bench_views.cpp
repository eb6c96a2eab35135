// What field views cost a run.
//
//   bench_views [--size N] [--runs R] [--threads T]
//
// Runs a whole simulation (description text, setup, run loop) of an
// N x N x N/2 grid of 1 mm cells (default N = 100: 0.5 million cells) in free
// space with absorbing faces and one port, ended by its step limit (one
// excitation length), so every variant performs the same steps. Each variant
// is timed (processor time of the run loop) best of R runs (default 3)
// against the same run without views:
//   - whole-grid snapshots every 50 steps: extra time per snapshot and the
//     rate of the bytes it writes (24 bytes per node: E and H as floats);
//   - one plane snapshot (N x N/2 nodes) every 10 steps;
//   - frequency maps on one N x N plane at 1, 4 and 16 frequencies: time per
//     node and sample (one sample per chunk, like the probes); the growth
//     with the frequencies is the cost of the complex multiply-adds (9 per
//     node and frequency: E, H and surface current).
// Besides the run's processor time the views' own account of their time on
// the main thread is shown (FieldViews::seconds, the main thread's processor
// time): the stall they add to the stepping.
// The views go to a scratch folder under the system's temporary folder.

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "driver/Simulation.hpp"

using namespace fendrix;

namespace {

// Processor time of the process: on a shared machine far steadier than the
// wall clock, and with one stepping thread it counts the same work, the
// copying of written bytes into the system's file cache included.
double now() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

std::string meshLine(char axis, std::uint32_t lines) {
    std::string text(1, axis);
    text += "Mesh ";
    for (std::uint32_t i = 0; i < lines; ++i) {
        char value[32];
        std::snprintf(value, sizeof value, "%s%g", i ? "," : "", i * 1e-3);
        text += value;
    }
    return text + "\n";
}

struct Outcome {
    double seconds;
    double viewSeconds;  // the views' own account of their time
    std::uint32_t steps;
    std::uint32_t chunk;
};

// One whole run; its own output (progress codes, the step-limit warning) is
// silenced. Only the run loop is timed.
Outcome runOnce(const std::string& description, const ViewRequest& views, int threads) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = dup(1), savedErr = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    Simulation simulation(threads);
    std::string text = description;
    const bool ready = simulation.parse(text.data()) >= 0 && simulation.setup() == 0;
    simulation.views.request = views;
    const double start = now();
    if (ready) simulation.run();
    const double seconds = now() - start;
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(null);
    close(savedOut);
    close(savedErr);
    if (!ready) {
        std::fprintf(stderr, "bench_views: the description does not run\n");
        std::exit(1);
    }
    const Excitation& source = *simulation.engine->excitation;
    return {seconds, simulation.views.seconds, simulation.engine->stepCount,
            source.nyquistSteps / simulation.samplesPerNyquist};
}

Outcome best(const std::string& description, const ViewRequest& views, int threads, int runs) {
    Outcome o = runOnce(description, views, threads);
    for (int r = 1; r < runs; ++r) {
        const Outcome next = runOnce(description, views, threads);
        if (next.seconds < o.seconds) o = next;
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint32_t n = 100;
    int runs = 3, threads = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            n = static_cast<std::uint32_t>(std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            threads = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--size N] [--runs R] [--threads T]\n", argv[0]);
            return 2;
        }
    }
    if (n < 8 || runs < 1 || threads < 1) return 2;
    const std::uint32_t nz = n / 2;
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() / "fendrix_bench_views";
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);

    const double mid = (n / 2) * 1e-3, midZ = (nz / 2) * 1e-3;
    char port[160];
    std::snprintf(port, sizeof port, "Electric 1 2 50 x %g,%g,%g %g,%g,%g\n", mid, mid, midZ, mid, mid,
                  midZ + 1e-3);
    const std::string description = "Sim 1 1e-30 4 out.dat\nFreq 2 1e9 10e9 11\nBoundary 2 2 2 2 2 2\n" +
                                     meshLine('x', n) + meshLine('y', n) + meshLine('z', nz) + port;
    const double nodes = double(n) * n * nz;

    const Outcome base = best(description, ViewRequest{}, threads, runs);
    std::printf("grid %u x %u x %u (%.2f million nodes), %u steps, a sample every %u steps, %d thread(s)\n",
                n, n, nz, nodes * 1e-6, base.steps, base.chunk, threads);
    std::printf("%-32s run %6.3f s (%.0f MC/s)\n", "no views:", base.seconds,
                nodes * base.steps / base.seconds * 1e-6);
    // Each line: the run's processor time and its excess over the run without
    // views, then the views' own time on the main thread, per unit of work.
    auto line = [&](const char* name, const Outcome& o) {
        std::printf("%-32s run %6.3f s (%+6.3f s), views %6.3f s: ", name, o.seconds,
                    o.seconds - base.seconds, o.viewSeconds);
    };

    ViewRequest grid;
    grid.snapshotEvery = 50;
    const Outcome g = best(description, grid, threads, runs);
    const double shots = base.steps / 50, bytes = 24 * nodes;
    line("grid snapshot every 50 steps:", g);
    std::printf("%.1f ms per snapshot of %.1f MB, %.0f MB/s, %.1f steps' time\n",
                g.viewSeconds / shots * 1e3, bytes * 1e-6, bytes * shots / g.viewSeconds * 1e-6,
                g.viewSeconds / shots / (base.seconds / base.steps));

    ViewRequest plane;
    plane.snapshotEvery = 10;
    plane.snapshotPlanes.push_back({1, mid});
    const Outcome p = best(description, plane, threads, runs);
    line("plane snapshot every 10 steps:", p);
    std::printf("%.2f ms per snapshot of %.2f MB\n", p.viewSeconds / (base.steps / 10) * 1e3,
                24.0 * n * nz * 1e-6);

    const double samples = base.steps / base.chunk + 1, planeNodes = double(n) * n;
    for (int frequencies : {1, 4, 16}) {
        ViewRequest map;
        map.mapPlanes.push_back({2, midZ});
        for (int f = 0; f < frequencies; ++f) map.mapFrequencies.push_back(1e9 + f * 0.5e9);
        const Outcome m = best(description, map, threads, runs);
        char name[64];
        std::snprintf(name, sizeof name, "map on a plane, %2d frequencies:", frequencies);
        line(name, m);
        std::printf("%.1f ns per node and sample\n", m.viewSeconds / (samples * planeNodes) * 1e9);
    }
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(scratch);
    return 0;
}
