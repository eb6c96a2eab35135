// Time-stepping speed against the machine's memory bandwidth.
//
//   bench_stepping [--size N] [--steps S] [--runs R] [--walls]
//
// Builds an N x N x N vacuum grid (default 200: 8 million cells, far beyond
// the caches) with absorbing Mur faces on all six sides, straight from the
// engine's storage (no description, no parser), and times chunks of S steps
// (default 5) on 1 and 2 threads, best of R runs (default 5), in million cell
// updates per second. --walls leaves the faces out and uses one coefficient
// set for every block (set indices all 0).
//
// In the same run a STREAM-like probe measures the bandwidth of the in-place
// update a[i] += s * b[i] (two streams read, one written back: the access
// pattern of a field update) over arrays far beyond the caches, on 1 and 2
// threads. Probe and stepping alternate, so that both see the same load. The
// ratio MC/s x bytes per cell-step / bandwidth tells how close the stepping
// comes to the ceiling of a Yee step that streams E and H once per half step.
//
// Bytes per cell and time step of such a step, per block of 4 cells and per
// half step:
//   E update: E read 48 + E written 48 + H read 48 + keepIndex 4 + curlIndex 4
//   H update: H read 48 + H written 48 + E read 48 + keepIndex 4 + curlIndex 4
// = 304 bytes per block = 76 bytes per cell. The y and z neighbours (the row
// and the plane behind or ahead) are counted as cache hits: a plane of one
// field is 12 * N * N bytes (480 KB at N = 200) and was streamed just before.
// The compressed coefficient sets are a few hundred bytes and stay in cache.
// The bandwidth probe counts its bytes the same way: 4 read + 4 read +
// 4 written per element, the write of a[i] not counted twice. The engine's
// sweep updates H one plane behind E, so it reads and writes each field only
// once per step (about 50 bytes per cell from memory); a ratio above 100% is
// possible.
//
// Finally a 16 x 16 x 4 grid (two slabs, all in cache) shows what the threads'
// waiting for each other costs per step.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "bench/VacuumGrid.hpp"
#include "common/AlignedMemory.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"

using namespace fendrix;

namespace {

constexpr double kBytesPerCellStep = 76.0;
constexpr double kBytesPerStreamElement = 12.0;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Best time of `runs` chunks of `steps` steps on `threads` threads.
double bestStepTime(FdtdEngine& engine, int threads, std::uint32_t steps, int runs) {
    engine.threadCount = threads;
    engine.runSteps(1);  // warm-up: pages, caches, thread start
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const double t0 = now();
        engine.runSteps(steps);
        best = std::fmin(best, now() - t0);
    }
    return best;
}

// In-place a[i] += s * b[i] over `count` floats, split into contiguous halves
// for two threads; best of `runs`, in bytes per second.
double streamBandwidth(float* a, const float* b, std::size_t count, int threads, int runs) {
    auto part = [&](std::size_t begin, std::size_t end) {
        const float s = 0.999f;
        for (std::size_t i = begin; i < end; ++i) a[i] += s * b[i];
    };
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const double t0 = now();
        if (threads == 1) {
            part(0, count);
        } else {
            std::vector<std::thread> workers;
            const std::size_t chunk = (count / threads + 3) / 4 * 4;
            for (int t = 1; t < threads; ++t)
                workers.emplace_back(part, std::min(count, t * chunk), std::min(count, (t + 1) * chunk));
            part(0, std::min(count, chunk));
            for (auto& w : workers) w.join();
        }
        best = std::fmin(best, now() - t0);
    }
    return kBytesPerStreamElement * static_cast<double>(count) / best;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint32_t size = 200, steps = 5;
    int runs = 5;
    bool murFaces = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            size = static_cast<std::uint32_t>(std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--steps") == 0 && i + 1 < argc) {
            steps = static_cast<std::uint32_t>(std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--walls") == 0) {
            murFaces = false;
        } else {
            std::fprintf(stderr, "usage: %s [--size N] [--steps S] [--runs R] [--walls]\n", argv[0]);
            return 1;
        }
    }
    if (size < 3 || size > 400 || steps < 1 || runs < 1) {
        std::fprintf(stderr, "ERROR: need 3 <= N <= 400, S >= 1, R >= 1.\n");
        return 1;
    }

    // The bandwidth probe works on two arrays of 128 MiB.
    const std::size_t count = std::size_t(32) << 20;
    float* a = static_cast<float*>(alignedAllocate(count * 4));
    float* b = static_cast<float*>(alignedAllocate(count * 4));
    if (a == nullptr || b == nullptr) {
        std::fprintf(stderr, "ERROR: Not enough memory available.\n");
        return 1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        a[i] = 1.0f;
        b[i] = static_cast<float>(i & 1023) * 1e-3f;
    }

    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    const double setupStart = now();
    if (!buildVacuum(engine, size, size, size, murFaces)) {
        std::fprintf(stderr, "ERROR: Not enough memory available.\n");
        return 1;
    }
    const double cells = static_cast<double>(engine.cellCount());
    std::printf("Grid %u x %u x %u = %.0f cells, %s, %u coefficient sets (keep) / %u (curl), setup %.1f s\n",
                size, size, size, cells, murFaces ? "Mur faces on all sides" : "walls only, one set",
                murFaces ? engine.keepSetCount : 1u, murFaces ? engine.curlSetCount : 1u,
                now() - setupStart);
    std::printf("Bytes per cell-step: %.0f; stream probe a[i] += s*b[i] over 2 x %zu MiB\n",
                kBytesPerCellStep, count * 4 >> 20);
    // The machine may be shared: probe and stepping alternate, one run of
    // each per round, and each keeps its best over the rounds, so that both
    // see the same conditions.
    double bandwidth[3] = {0, 0, 0}, seconds[3] = {1e300, 1e300, 1e300};
    for (int r = 0; r < runs; ++r) {
        for (int t = 1; t <= 2; ++t) {
            bandwidth[t] = std::fmax(bandwidth[t], streamBandwidth(a, b, count, t, 1));
            seconds[t] = std::fmin(seconds[t], bestStepTime(engine, t, steps, 1));
        }
    }
    alignedRelease(a);
    alignedRelease(b);
    std::printf("threads  MC/s     stream GB/s  ceiling MC/s  ratio\n");
    for (int t = 1; t <= 2; ++t) {
        const double mcs = cells * steps / seconds[t] * 1e-6;
        const double ceiling = bandwidth[t] / kBytesPerCellStep * 1e-6;
        std::printf("%7d  %7.1f  %11.1f  %12.1f  %5.1f%%\n", t, mcs, bandwidth[t] * 1e-9, ceiling,
                    100.0 * mcs / ceiling);
    }
    // Check that the run stayed finite (a broken grid would show NaN here), and
    // time the energy measure: one read of E and H, 24 bytes per cell.
    double energySeconds = 1e300, energy = 0.0;
    for (int r = 0; r < runs; ++r) {
        const double t0 = now();
        energy = engine.fieldEnergy();
        energySeconds = std::fmin(energySeconds, now() - t0);
    }
    std::printf("Field energy after %u steps: %g, measured at %.1f GB/s (E and H read once)\n",
                engine.stepCount, energy, 24.0 * cells / energySeconds * 1e-9);

    // What the threads' meetings cost: a 16 x 16 x 4 grid (two slabs of two
    // planes, 1024 cells, all in cache) does almost no work per step, so the
    // time per step on two threads minus a half of that on one is the price of
    // the two threads waiting for each other.
    Geometry tinyGeometry;
    FdtdEngine tiny(tinyGeometry, 1);
    if (!buildVacuum(tiny, 16, 16, 4, true)) return 1;
    tiny.minCellsPerThread = 0;  // two threads even on so few cells
    const std::uint32_t tinySteps = 20000;
    double perStep[3] = {0, 0, 0};
    for (int t = 1; t <= 2; ++t) perStep[t] = bestStepTime(tiny, t, tinySteps, runs) / tinySteps;
    std::printf("16 x 16 x 4 grid: %.2f us per step on 1 thread, %.2f us on 2 threads: "
                "%.2f us per step for the meetings\n",
                perStep[1] * 1e6, perStep[2] * 1e6, (perStep[2] - perStep[1] / 2) * 1e6);
    return 0;
}
