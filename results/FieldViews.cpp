#include "results/FieldViews.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <new>
#include <system_error>

#include "common/Console.hpp"
#include "common/ErrorNumbers.hpp"
#include "common/PhysicalConstants.hpp"
#include "engine/Excitation.hpp"
#include "grid/FdtdEngine.hpp"
#include "probes/Probe.hpp"
#include "results/NodeFields.hpp"
#include "results/Results.hpp"
#include "results/ViewFiles.hpp"

namespace fendrix {

namespace {

// Processor time of the calling (main) thread: what the views take from the
// stepping, the copying of written bytes into the file cache included, and
// unlike the wall clock not inflated by other processes on a busy machine.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

constexpr double kDegrees = 57.29577951308232;

// A map frequency may lie this fraction of F2 outside the Freq line's band,
// on the pulse's flanks; beyond it the pulse carries next to no energy.
constexpr double kBandTolerance = 0.1;

}  // namespace

FieldViews::Plane FieldViews::makePlane(int axis, std::uint32_t index) const {
    Plane p;
    p.axis = axis;
    p.index = index;
    for (int a = 0; a < 3; ++a) p.count[a] = engine->lineCount[a];
    if (axis < 0) {
        p.name = "grid";
        return p;
    }
    p.first[axis] = index;
    p.count[axis] = 1;
    char name[16];
    std::snprintf(name, sizeof name, "%c%u", 'x' + axis, index);
    p.name = name;
    p.metal.resize(p.nodes());
    std::size_t n = 0;
    for (std::uint32_t z = 0; z < p.count[2]; ++z)
        for (std::uint32_t y = 0; y < p.count[1]; ++y)
            for (std::uint32_t x = 0; x < p.count[0]; ++x) {
                const std::uint32_t node[3] = {p.first[0] + x, p.first[1] + y, p.first[2] + z};
                p.metal[n++] = nodes->metal(axis, node);
            }
    return p;
}

int FieldViews::prepare(FdtdEngine& grid, const Results& results, std::uint32_t chunkSteps,
                        std::uint32_t fewestSteps, std::uint32_t mostSteps) {
    engine = &grid;
    nodes = std::make_unique<NodeFields>(grid);
    chunk = chunkSteps;
    auto snap = [&](const ViewPlane& v, std::uint32_t& index) {
        const std::vector<double>& lines = grid.meshLines[v.axis];
        if (v.coordinate < lines.front() || v.coordinate > lines.back()) {
            console::error(
                         "View plane %c = %g m lies outside the mesh (%g to %g m).\n",
                         'x' + v.axis, v.coordinate, lines.front(), lines.back());
            return false;
        }
        index = grid.lineIndex(v.axis, v.coordinate, false);
        return true;
    };
    // The maps see the field every `chunk` steps, like the port probes: above
    // half that rate a frequency would alias onto a lower one.
    const double limit = 0.5 / (chunk * grid.timeStep);
    for (double f : request.mapFrequencies) {
        if (f > limit) {
            console::error(
                         "Map frequency %g Hz is above %g Hz, half the rate at which the run "
                         "samples its fields (every %u steps).\n",
                         f, limit, chunk);
            engine = nullptr;
            return run_error::kViewFrequencyAliased;
        }
        const double f1 = results.frequencies.empty() ? f : results.frequencies.front();
        const double f2 = results.frequencies.empty() ? f : results.frequencies.back();
        const double low = f1 - kBandTolerance * f2, high = f2 + kBandTolerance * f2;
        if (f < low || f > high) {
            console::error(
                         "Map frequency %g Hz lies outside the band of the Freq line, %g to %g Hz "
                         "(accepted: %g to %g Hz), where the pulse has no energy to map. Choose --map-freq "
                         "inside the band, or widen the band on the Freq line.\n",
                         f, f1, f2, low, high);
            engine = nullptr;
            return run_error::kViewFrequencyOutsideBand;
        }
        angular.push_back(-kTwoPi * f);
    }
    if (request.snapshotEvery != 0) {
        if (request.snapshotPlanes.empty()) snapshots.push_back(makePlane(-1, 0));
        for (const ViewPlane& v : request.snapshotPlanes) {
            std::uint32_t index = 0;
            if (!snap(v, index)) {
                engine = nullptr;
                return run_error::kViewPlaneOutside;
            }
            snapshots.push_back(makePlane(v.axis, index));
        }
        nextSnapshot = std::uint64_t{grid.stepCount} + request.snapshotEvery;
    }
    // Without a source the run does not step: nothing to map.
    for (const VoltageProbe* port : results.ports)
        if (port->portNumber == 1) portVoltage = port;
    portCurrent = results.sourceCurrent;
    const bool excited = grid.excitation && grid.excitation->excitedAxis >= 0 && portVoltage &&
                         portCurrent;
    if (excited) {
        portResistance = std::fabs(portVoltage->referenceImpedance);
        voltageSums.assign(angular.size(), 0.0);
        currentSums.assign(angular.size(), 0.0);
    }
    for (const ViewPlane& v : request.mapPlanes) {
        std::uint32_t index = 0;
        if (!snap(v, index)) {
            engine = nullptr;
            return run_error::kViewPlaneOutside;
        }
        if (!excited) continue;
        MapPlane m;
        m.plane = makePlane(v.axis, index);
        maps.push_back(std::move(m));
    }
    if (!allocate()) {
        console::error("Not enough memory for the field views; the run goes on without them.\n");
        engine = nullptr;
        return 0;
    }
    folder = viewFolder(results.fileName);
    if (checkSpace(fewestSteps, mostSteps) < 0) {
        engine = nullptr;
        return run_error::kViewsExceedDisk;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        report(folder, error.message());
        return 0;
    }
    // Files of an earlier run would mix with this run's in the same series.
    const unsigned removed = removeEarlierViews(folder);
    if (removed > 0)
        console::say("Field views: removed %u files of an earlier run from %s\n", removed, folder.c_str());
    return 0;
}

// What the views will write against the free space of their folder (or of
// the results file's, before the views' folder exists).
int FieldViews::checkSpace(std::uint32_t fewestSteps, std::uint32_t mostSteps) const {
    std::uint64_t snapshotBytes = 0, mapBytes = 0;
    for (const Plane& p : snapshots) snapshotBytes += viewFileBytes(p.count, p.metal.empty() ? 6 : 7);
    for (const MapPlane& m : maps) mapBytes += angular.size() * viewFileBytes(m.plane.count, 19);
    const std::uint64_t every = request.snapshotEvery;
    const auto bytesUpTo = [&](std::uint32_t steps) {
        return (every != 0 ? steps / every * snapshotBytes : 0) + mapBytes;
    };
    std::uint64_t free = 0;
    const std::filesystem::path place(folder);
    if (!freeBytes(folder, free) &&
        !freeBytes(place.has_parent_path() ? place.parent_path().string() : ".", free))
        return 0;
    return checkViewSpace(bytesUpTo(fewestSteps), bytesUpTo(mostSteps), free, folder);
}

// The large buffers, taken without exceptions: a whole-grid snapshot needs 24
// bytes per node of the grid, a map 72 bytes per node of its plane and
// frequency.
bool FieldViews::allocate() {
    std::size_t most = 0;
    for (const Plane& p : snapshots) most = std::max(most, 6 * p.nodes());
    for (const MapPlane& m : maps) most = std::max(most, 9 * m.plane.nodes());
    values.reset(new (std::nothrow) float[most]);
    if (!values) return false;
    for (MapPlane& m : maps) {
        const std::size_t size = 9 * m.plane.nodes() * angular.size();
        m.real.reset(new (std::nothrow) float[size]());
        m.imaginary.reset(new (std::nothrow) float[size]());
        if (!m.real || !m.imaginary) return false;
    }
    return true;
}

void FieldViews::report(const std::string& path, const std::string& cause) {
    if (failed) return;
    failed = true;
    console::error(
                 "Can't write field view into '%s': %s. No further views are written; the run goes on "
                 "and writes its results.\n",
                 path.c_str(), cause.c_str());
}

bool FieldViews::writeGrid(Plane& plane, const std::string& file, const std::vector<VtkArray>& arrays,
                           const char* label, double value, double timestep) {
    if (failed) return false;
    const std::string path = folder + "/" + file;
    std::string failure;
    if (!writeRectilinearGrid(path, engine->meshLines, plane.first, plane.count, arrays, label, value, failure)) {
        report(path, failure);
        return false;
    }
    plane.written.push_back({timestep, file});
    return true;
}

// The collection of a series is rewritten after its 1st, 2nd, 4th, 8th, ...
// file, so that it is usable while the run goes on without rewriting a
// growing list after every file, and at the end of the run.
void FieldViews::writeCollections(Plane& plane, const std::string& base, bool always) {
    const std::size_t n = plane.written.size();
    if (failed || n == 0 || (!always && (n & (n - 1)) != 0)) return;
    const std::string path = folder + "/" + base + ".pvd";
    std::string failure;
    if (!writeCollection(path, plane.written, failure)) report(path, failure);
}

void FieldViews::start() {
    if (!maps.empty()) sampleMaps();
}

void FieldViews::runChunk(std::uint32_t steps) {
    // Stop at the snapshot steps inside the chunk without sampling the probes,
    // so that they still sample once per chunk, at the same steps as without
    // views; splitting the stepping changes no field value.
    std::uint32_t left = steps;
    while (request.snapshotEvery != 0 && nextSnapshot - engine->stepCount < left) {
        const std::uint32_t part = static_cast<std::uint32_t>(nextSnapshot - engine->stepCount);
        engine->runSteps(part, false);
        left -= part;
        takeSnapshot();
    }
    engine->runSteps(left);
    if (request.snapshotEvery != 0 && engine->stepCount == nextSnapshot) takeSnapshot();
    if (!maps.empty()) sampleMaps();
}

// E, H and (where `j` is given) the sheet current at every node of a plane,
// three floats each, in the plane's storage order (x fastest).
void FieldViews::nodeValues(const Plane& plane, float* e, float* h, float* j) const {
    std::size_t i = 0;
    for (std::uint32_t z = 0; z < plane.count[2]; ++z)
        for (std::uint32_t y = 0; y < plane.count[1]; ++y)
            for (std::uint32_t x = 0; x < plane.count[0]; ++x, ++i) {
                const std::uint32_t node[3] = {plane.first[0] + x, plane.first[1] + y, plane.first[2] + z};
                nodes->electric(node, e + 3 * i);
                nodes->magnetic(node, h + 3 * i);
                if (j) nodes->sheetCurrent(plane.axis, node, j + 3 * i);
            }
}

void FieldViews::takeSnapshot() {
    nextSnapshot += request.snapshotEvery;
    if (failed) return;
    const double start = threadSeconds();
    const double time = engine->fieldTime(false);
    char step[16];
    std::snprintf(step, sizeof step, "%09u", engine->stepCount);
    for (Plane& plane : snapshots) {
        const std::size_t n = plane.nodes();
        float* e = values.get();
        float* h = e + 3 * n;
        nodeValues(plane, e, h, nullptr);
        std::vector<VtkArray> arrays = {{"E", 3, e}, {"H", 3, h}};
        if (!plane.metal.empty()) arrays.push_back({"metal", 1, plane.metal.data()});
        const std::string base = "snapshot_" + plane.name;
        if (writeGrid(plane, base + "_" + step + ".vtr", arrays, "TimeValue", time, time))
            writeCollections(plane, base, false);
    }
    // Counted when every file of the step is in place.
    if (!failed) ++snapshotCount;
    seconds += threadSeconds() - start;
}

// Adds value * exp(-j w t) for every node, component and frequency: E at the
// whole step, H and the sheet current half a step later.
void FieldViews::sampleMaps() {
    const double start = threadSeconds();
    ++mapSamples;
    const double tE = engine->fieldTime(false), tH = engine->fieldTime(true);
    const double volts = portVoltage->value(), amps = portCurrent->value();
    for (std::size_t f = 0; f < angular.size(); ++f) {
        voltageSums[f] += volts * std::polar(1.0, angular[f] * tE);
        currentSums[f] += amps * std::polar(1.0, angular[f] * tH);
    }
    for (MapPlane& m : maps) {
        Plane& plane = m.plane;
        const std::size_t n = plane.nodes();
        float* e = values.get();
        float* h = e + 3 * n;
        float* j = h + 3 * n;
        nodeValues(plane, e, h, j);
        // One complex multiply-add per value and frequency: E with the phase
        // of its time, H and the current with theirs.
        for (std::size_t f = 0; f < angular.size(); ++f) {
            float* re = m.real.get() + f * 9 * n;
            float* im = m.imaginary.get() + f * 9 * n;
            const float cE = static_cast<float>(std::cos(angular[f] * tE));
            const float sE = static_cast<float>(std::sin(angular[f] * tE));
            const float cH = static_cast<float>(std::cos(angular[f] * tH));
            const float sH = static_cast<float>(std::sin(angular[f] * tH));
            for (std::size_t k = 0; k < 3 * n; ++k) {
                re[k] += e[k] * cE;
                im[k] += e[k] * sE;
            }
            for (std::size_t k = 3 * n; k < 9 * n; ++k) {
                re[k] += e[k] * cH;
                im[k] += e[k] * sH;
            }
        }
    }
    seconds += threadSeconds() - start;
}

void FieldViews::finish() {
    const double start = threadSeconds();
    for (Plane& plane : snapshots) writeCollections(plane, "snapshot_" + plane.name, true);
    writeMaps();
    seconds += threadSeconds() - start;
    console::say("Field views: %u snapshots, %u map samples, %1.2f sec, in %s\n", snapshotCount,
                    mapSamples, seconds, folder.c_str());
}

void FieldViews::writeMaps() {
    if (maps.empty() || failed) return;
    // Reference: the voltage wave incident at port 1, (V - R I) / 2 with the
    // current probe's sign (as for S11), from the same samples as the maps. So
    // the maps are the phasors for a wave of 1 V arriving at port 1.
    std::vector<std::complex<double>> reference(angular.size());
    for (std::size_t f = 0; f < angular.size(); ++f)
        reference[f] = 0.5 * (voltageSums[f] - portResistance * currentSums[f]);
    std::vector<float> out;
    for (MapPlane& m : maps) {
        const std::size_t n = m.plane.nodes();
        out.resize(18 * n);
        const char* names[6] = {"E_magnitude", "E_phase", "H_magnitude", "H_phase", "J_magnitude", "J_phase"};
        for (std::size_t f = 0; f < angular.size(); ++f) {
            const float* re = m.real.get() + f * 9 * n;
            const float* im = m.imaginary.get() + f * 9 * n;
            for (int q = 0; q < 3; ++q)  // E, H, J
                for (std::size_t k = 0; k < 3 * n; ++k) {
                    const std::complex<double> v =
                        std::complex<double>(re[q * 3 * n + k], im[q * 3 * n + k]) / reference[f];
                    out[2 * q * 3 * n + k] = static_cast<float>(std::abs(v));
                    out[(2 * q + 1) * 3 * n + k] = static_cast<float>(std::arg(v) * kDegrees);
                }
            std::vector<VtkArray> arrays;
            for (int a = 0; a < 6; ++a) arrays.push_back({names[a], 3, out.data() + a * 3 * n});
            arrays.push_back({"metal", 1, m.plane.metal.data()});
            const double frequency = -angular[f] / kTwoPi;
            writeGrid(m.plane, "map_" + m.plane.name + "_" + std::to_string(f) + ".vtr", arrays,
                      "Frequency", frequency, frequency);
        }
        writeCollections(m.plane, "map_" + m.plane.name, true);
    }
}

}  // namespace fendrix
