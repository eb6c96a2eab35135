#include "driver/Simulation.hpp"

#include <algorithm>
#include <cstdio>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "common/ProcessGroup.hpp"
#include "driver/Clock.hpp"
#include "driver/FarFieldFrequencies.hpp"
#include "driver/SetupChecks.hpp"
#include "engine/KernelWidth.hpp"
#include "engine/PlaneExchange.hpp"
#include "results/FieldProbe.hpp"

namespace fendrix {

Simulation::Simulation(int threadCount)
    : engine(std::make_unique<FdtdEngine>(geometry, threadCount)), threadCount(threadCount) {}

Simulation::~Simulation() = default;

// A shape is used when it claims a grid point on any process.
void Simulation::shareUsedShapes() {
    if (!processes::many()) return;
    std::vector<unsigned char> used;
    for (const auto& material : geometry.materials)
        for (const auto& shape : material->shapes) used.push_back(shape->used);
    processes::combineFlags(used);
    std::size_t i = 0;
    for (const auto& material : geometry.materials)
        for (const auto& shape : material->shapes) shape->used = used[i++];
}

int Simulation::setup() {
    const std::int64_t start = clockMilliseconds();

    // Mistakes that the description's grammar lets through, caught before the
    // build and the run spend time on them.
    const double topFrequency = excitation ? excitation->maxFrequency : 0.0;
    warnCoarseCells(*engine, geometry, topFrequency);
    warnOffGrid(*engine, geometry);
    if (int error = checkPortLengths(*engine, geometry)) return error;
    if (int error = checkPmlPlacement(*engine, geometry, radiation.get())) return error;
    if (int error = checkFarFieldRadiation(farFieldFrequencies, radiation.get())) return error;
    // Process 0 alone writes the results.
    const bool writes = processes::rank() == 0;
    if (int error = processes::worstStatus(writes ? checkResultsPath(results.fileName, views.request.any()) : 0))
        return error;

    // Memory runs short on one process at a time; all end together.
    const bool built = engine->buildGrid(std::move(excitation));
    if (processes::worstStatus(built ? 0 : run_error::kOutOfMemory) != 0) {
        if (built) console::error("Not enough memory available on another process of the run.\n");
        return run_error::kOutOfMemory;
    }
    if (processes::many()) {
        exchange = std::make_unique<PlaneExchange>(*engine);
        engine->processSlab.exchange = exchange.get();
    }
    if (int error = checkTimeStep(engine->timeStep, topFrequency)) return error;
    if (!farFieldFrequencies.empty()) {
        // The run loop's chunk: the probes sample once per chunk.
        const std::uint32_t chunk = std::max(engine->excitation->nyquistSteps / samplesPerNyquist, 1u);
        if (int error = checkFarFieldSampling(farFieldFrequencies, *engine, chunk)) return error;
        if (int error = checkFarFieldBand(farFieldFrequencies, results)) return error;
    }

    if (radiation && !FieldProbe::fitsGrid(*engine, *radiation)) {
        console::warning(
                     "Grid too small for a far-field box %u cells from its border; "
                     "no far field is computed.\n",
                     radiation->boxMargin < 2 ? 2u : radiation->boxMargin);
        radiation.reset();
    }
    if (radiation) {
        extraFarFields = fendrix::extraFarFields(farFieldFrequencies, *radiation);
        std::vector<RadiationSetup*> setups{radiation.get()};
        for (const ExtraFarField& extra : extraFarFields) setups.push_back(extra.setup.get());
        for (int face = 0; face < 6; ++face)
            engine->probes.push_back(std::make_unique<FieldProbe>(engine.get(), setups, face));
    }

    const std::uint32_t excitationLength = engine->excitation->excitationLength;
    maxTimesteps = maxTimeFactor != 0 ? excitationLength * maxTimeFactor : 2000000000u;

    console::say("Max. number of timesteps: %d\n", static_cast<int>(maxTimesteps));
    console::say("Time for setup: %1.1f sec\n", (clockMilliseconds() - start) * 0.001);
    console::echo("Field kernels: %s (widest here: %s); time steps per sweep: %u\n",
                    kernelWidthName(kernelWidth()), kernelWidthName(widestKernelWidth()),
                    engine->sweepSteps());
    shareUsedShapes();
    geometry.warnUnused();
    return 0;
}

}  // namespace fendrix
