// Cell-update rate of the field kernels at each vector width this processor
// runs, side by side in one run.
//
//   bench_kernel_widths [--size N] [--width W] [--threads T] [--steps S] [--runs R] [--walls] [--cpu-time]
//
// Default: N x N x N vacuum grids with Mur faces on all sides for N = 48 and
// 64 (in cache) and 200 (8 million cells, far beyond the caches), 1 and 2
// threads, widths 4 (the portable kernels), 8 (AVX2) and 16 (AVX-512) where
// available. Each round times one chunk of every combination in turn, so that
// all see the same load on a shared machine, and each keeps its best over the
// rounds. Rates are million cell updates (one E and one H half step of one
// cell) per second; the ratios compare with the 4-float kernels on the same
// threads and with one thread at the same width. --size, --width and
// --threads restrict the run to one value each (for instance to count
// instructions with perf stat); --steps fixes the chunk length (default: about
// 20 million cell updates per chunk). --walls leaves the Mur faces out (one
// coefficient set for all blocks), which shows the kernels alone.
// --cpu-time times chunks by the calling thread's processor time instead of
// the wall clock: on a machine shared with others it leaves out the time the
// thread was not running (for 1 thread only; with 2, waiting for a thread
// that does not run counts as running).

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

namespace {

bool cpuTime = false;

double now() {
    if (cpuTime) {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::uint32_t> sizes = {48, 64, 200};
    std::vector<int> widths, threads = {1, 2};
    for (int w : {4, 8, 16})
        if (w <= widestKernelWidth()) widths.push_back(w);
    std::uint32_t fixedSteps = 0;
    int runs = 5;
    bool murFaces = true;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        if (std::strcmp(argv[i], "--size") == 0 && value) {
            sizes = {static_cast<std::uint32_t>(std::atoi(argv[++i]))};
        } else if (std::strcmp(argv[i], "--width") == 0 && value) {
            widths = {std::atoi(argv[++i])};
        } else if (std::strcmp(argv[i], "--threads") == 0 && value) {
            threads = {std::atoi(argv[++i])};
        } else if (std::strcmp(argv[i], "--steps") == 0 && value) {
            fixedSteps = static_cast<std::uint32_t>(std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--runs") == 0 && value) {
            runs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--walls") == 0) {
            murFaces = false;
        } else if (std::strcmp(argv[i], "--cpu-time") == 0) {
            cpuTime = true;
        } else {
            std::fprintf(stderr, "usage: %s [--size N] [--width W] [--threads T] [--steps S] [--runs R] [--walls] [--cpu-time]\n",
                         argv[0]);
            return 1;
        }
    }
    if (widths.size() == 1 && !setKernelWidth(widths[0])) {
        std::fprintf(stderr, "ERROR: this processor has no %d-float kernels.\n", widths[0]);
        return 1;
    }
    std::printf("Widest kernels here: %s; best of %d rounds, %s, %s\n", kernelWidthName(widestKernelWidth()),
                runs, murFaces ? "Mur faces on all sides" : "walls only", cpuTime ? "thread CPU time" : "wall clock");
    std::printf("   cells  threads  width     MC/s  vs 4-float  vs 1 thread\n");
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
            fixedSteps > 0 ? fixedSteps : static_cast<std::uint32_t>(std::fmax(3.0, 2e7 / cells));
        // best[t][w]: best chunk time on threads[t] at widths[w].
        std::vector<std::vector<double>> best(threads.size(), std::vector<double>(widths.size(), 1e300));
        for (int r = 0; r <= runs; ++r)
            for (std::size_t t = 0; t < threads.size(); ++t)
                for (std::size_t w = 0; w < widths.size(); ++w) {
                    engine.threadCount = threads[t];
                    setKernelWidth(widths[w]);
                    const double t0 = now();
                    engine.runSteps(steps);
                    // Round 0 only warms up pages, caches and threads.
                    if (r > 0) best[t][w] = std::fmin(best[t][w], now() - t0);
                }
        for (std::size_t t = 0; t < threads.size(); ++t)
            for (std::size_t w = 0; w < widths.size(); ++w) {
                const double rate = cells * steps / best[t][w] * 1e-6;
                std::printf("%8.0f  %7d  %5d  %7.1f", cells, threads[t], widths[w], rate);
                if (widths[0] == 4) std::printf("  %9.2fx", best[t][0] / best[t][w]);
                else std::printf("  %10s", "-");
                if (threads[0] == 1) std::printf("  %10.2fx", best[0][w] / best[t][w]);
                std::printf("\n");
            }
        if (!std::isfinite(engine.fieldEnergy())) std::printf("  (fields not finite: broken grid)\n");
    }
    setKernelWidth(widestKernelWidth());
    return 0;
}
