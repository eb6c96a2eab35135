// Cell-update rate of the stepping for each vector width of the field
// kernels and each number of time steps per sweep, side by side in one run.
//
//   bench_stepping_rate [--size N] [--width W,...] [--sweep T,...] [--threads P]
//                       [--steps S] [--chunk C] [--runs R] [--walls] [--cpu-time]
//
// Default: N x N x N vacuum grids with Mur faces on all sides for N = 48 and
// 64 and 200 (8 million cells), on 1 and 2 threads; widths 4 (the portable
// kernels), 8 (AVX2) and 16 (AVX-512) where the processor has them, each with
// 1 step per sweep and with the automatic choice (sweep 0). The first row of
// each size and thread count, 4 floats and 1 step per sweep, is the stepping
// as it was before wider kernels and multi-step sweeps existed; "vs base"
// compares with it, "vs 1 thread" with the same configuration on one thread.
// Each round times one chunk of every combination in turn, so that all see
// the same load on a shared machine, and each keeps its best over the rounds.
// Rates are million cell updates (one E and one H half step of one cell) per
// second. --size and --threads restrict the run to one value each, --width
// and --sweep to a comma-separated list (a single value to profile one
// configuration, for instance); --steps fixes the
// chunk length (default: about 20 million cell updates, at least 12 steps).
// --chunk C times the S steps as chunks of C steps handed out as the run
// loop takes them, with the energy after each (a sweep of several steps may
// run on through chunk ends);
// S should then be a multiple of the chunks one sweep runs through, so that
// every timed S steps do the same work.
// --walls leaves the Mur faces out (one coefficient set for all blocks).
// --cpu-time times chunks by the calling thread's processor time instead of
// the wall clock: on a machine shared with others it leaves out the time the
// thread was not running (meaningful for 1 thread only; with 2, waiting for a
// thread that is not running counts as running).

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "bench/VacuumGrid.hpp"
#include "engine/KernelWidth.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"

using namespace fendrix;

namespace {

bool cpuTime = false;
volatile double energy = 0.0;  // the run loop's look at the energy after each chunk

double now() {
    if (cpuTime) {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Setting {
    int width;
    std::uint32_t sweep;  // 0: automatic
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::uint32_t> sizes = {48, 64, 200};
    std::vector<int> widths, threads = {1, 2};
    std::vector<std::uint32_t> sweeps = {1, 0};
    for (int w : {4, 8, 16})
        if (w <= widestKernelWidth()) widths.push_back(w);
    std::uint32_t fixedSteps = 0, chunk = 0;
    int runs = 5;
    bool murFaces = true;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        auto number = [&] { return static_cast<std::uint32_t>(std::atoi(argv[++i])); };
        // A comma-separated list of numbers.
        auto list = [&] {
            std::vector<std::uint32_t> values;
            for (const char* p = argv[++i]; *p != '\0'; ++p) {
                values.push_back(static_cast<std::uint32_t>(std::atoi(p)));
                while (p[1] != '\0' && *p != ',') ++p;
            }
            return values;
        };
        if (std::strcmp(argv[i], "--size") == 0 && value) {
            sizes = {number()};
        } else if (std::strcmp(argv[i], "--width") == 0 && value) {
            widths.clear();
            for (std::uint32_t w : list()) widths.push_back(static_cast<int>(w));
        } else if (std::strcmp(argv[i], "--sweep") == 0 && value) {
            sweeps = list();
        } else if (std::strcmp(argv[i], "--threads") == 0 && value) {
            threads = {static_cast<int>(number())};
        } else if (std::strcmp(argv[i], "--steps") == 0 && value) {
            fixedSteps = number();
        } else if (std::strcmp(argv[i], "--chunk") == 0 && value) {
            chunk = number();
        } else if (std::strcmp(argv[i], "--runs") == 0 && value) {
            runs = static_cast<int>(number());
        } else if (std::strcmp(argv[i], "--walls") == 0) {
            murFaces = false;
        } else if (std::strcmp(argv[i], "--cpu-time") == 0) {
            cpuTime = true;
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--size N] [--width W,...] [--sweep T,...] [--threads P] [--steps S] [--chunk C] "
                "[--runs R] [--walls] [--cpu-time]\n",
                argv[0]);
            return 1;
        }
    }
    for (int w : widths)
        if (!setKernelWidth(w)) {
            std::fprintf(stderr, "ERROR: this processor has no %d-float kernels.\n", w);
            return 1;
        }
    std::vector<Setting> settings;
    for (int w : widths)
        for (std::uint32_t s : sweeps) settings.push_back({w, s});
    std::printf("Widest kernels here: %s; best of %d rounds, %s, %s\n", kernelWidthName(widestKernelWidth()),
                runs, murFaces ? "Mur faces on all sides" : "walls only",
                cpuTime ? "thread CPU time" : "wall clock");
    std::printf("   cells  threads  width  sweep     MC/s   vs base  vs 1 thread\n");
    for (std::uint32_t size : sizes) {
        if (size < 3 || size > 400) {
            std::fprintf(stderr, "ERROR: need 3 <= N <= 400.\n");
            return 1;
        }
        Geometry geometry;
        FdtdEngine engine(geometry, 1);
        if (!buildVacuum(engine, size, size, size, murFaces)) {
            std::fprintf(stderr, "ERROR: Not enough memory available.\n");
            return 1;
        }
        const double cells = static_cast<double>(engine.cellCount());
        const std::uint32_t steps =
            fixedSteps > 0 ? fixedSteps : static_cast<std::uint32_t>(std::fmax(12.0, 2e7 / cells));
        // best[t][c]: best chunk time on threads[t] with settings[c].
        std::vector<std::vector<double>> best(threads.size(), std::vector<double>(settings.size(), 1e300));
        for (int r = 0; r <= runs; ++r)
            for (std::size_t t = 0; t < threads.size(); ++t)
                for (std::size_t c = 0; c < settings.size(); ++c) {
                    engine.threadCount = threads[t];
                    engine.sweepPlan.stepsPerSweep = settings[c].sweep;
                    engine.sweepPlan.measureEnergy = chunk > 0;  // as the run loop with -r
                    setKernelWidth(settings[c].width);
                    const double t0 = now();
                    if (chunk > 0)
                        for (std::uint32_t done = 0; done < steps; done += chunk) {
                            engine.advanceChunk(chunk, ~0u);
                            energy = engine.fieldEnergy();
                        }
                    else
                        engine.runSteps(steps);
                    // Round 0 only warms up pages, caches and threads.
                    if (r > 0) best[t][c] = std::fmin(best[t][c], now() - t0);
                }
        for (std::size_t t = 0; t < threads.size(); ++t)
            for (std::size_t c = 0; c < settings.size(); ++c) {
                const double rate = cells * steps / best[t][c] * 1e-6;
                engine.threadCount = threads[t];
                engine.sweepPlan.stepsPerSweep = settings[c].sweep;
                std::printf("%8.0f  %7d  %5d  %2u%-3s  %7.1f  %7.2fx", cells, threads[t], settings[c].width,
                            engine.sweepSteps(), settings[c].sweep == 0 ? "(a)" : "",
                            rate, best[t][0] / best[t][c]);
                if (threads[0] == 1) std::printf("  %10.2fx", best[0][c] / best[t][c]);
                std::printf("\n");
            }
        if (!std::isfinite(engine.fieldEnergy())) std::printf("  (fields not finite: broken grid)\n");
    }
    return 0;
}
