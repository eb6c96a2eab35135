#include "driver/Simulation.hpp"

#include <cstdio>

#include "driver/Clock.hpp"
#include "driver/Verbosity.hpp"
#include "engine/KernelWidth.hpp"
#include "input/ParseErrors.hpp"
#include "results/FieldProbe.hpp"

Simulation::Simulation(int threadCount)
    : engine(std::make_unique<FdtdEngine>(geometry, threadCount)), threadCount(threadCount) {}

Simulation::~Simulation() = default;

int Simulation::setup() {
    const std::int64_t start = clockMilliseconds();

    if (!engine->buildGrid(std::move(excitation))) return run_error::kOutOfMemory;

    if (radiation && !FieldProbe::fitsGrid(*engine, *radiation)) {
        std::fprintf(stderr,
                     "WARNING: Grid too small for a far-field box %u cells from its border; "
                     "no far field is computed.\n",
                     radiation->boxMargin < 2 ? 2u : radiation->boxMargin);
        radiation.reset();
    }
    if (radiation) {
        for (int face = 0; face < 6; ++face)
            engine->probes.push_back(std::make_unique<FieldProbe>(engine.get(), radiation.get(), face));
    }

    const std::uint32_t excitationLength = engine->excitation->excitationLength;
    maxTimesteps = maxTimeFactor != 0 ? excitationLength * maxTimeFactor : 2000000000u;

    if (verboseLevel >= 0) {
        std::printf("Max. number of timesteps: %d\n", static_cast<int>(maxTimesteps));
        std::printf("Time for setup: %1.1f sec\n", (clockMilliseconds() - start) * 0.001);
    }
    if (verboseLevel > 0)
        std::printf("Field kernels: %s (widest here: %s); time steps per sweep: %u\n",
                    kernelWidthName(kernelWidth()), kernelWidthName(widestKernelWidth()),
                    engine->sweepSteps(engine->steppingThreads()));
    geometry.warnUnused();
    return 0;
}
