#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "results/NodeFields.hpp"
#include "results/ViewRequest.hpp"
#include "results/VtkFile.hpp"

namespace fendrix {

class FdtdEngine;
class Results;
class VoltageProbe;

// The field views of a run: snapshots of E and H every N steps and
// frequency-domain maps on planes, written as VTK files into a folder beside
// the results file. A run that asks for none never calls into this.
class FieldViews {
public:
    // Snaps the planes to mesh lines, checks them and the map frequencies
    // against the built grid and the sampling interval (`chunk` steps, the
    // probes' one) and the band of the Freq line, the bytes to be written
    // against the free space (the snapshots of `fewestSteps`, the steps the
    // run takes at least, and of `mostSteps`, its step limit), creates the
    // folder beside the results file and removes an earlier run's views from
    // it. The maps are referred to the wave incident at port 1 (from its
    // voltage and current probes). 0, or a run_error number after an error
    // message.
    int prepare(FdtdEngine& engine, const Results& results, std::uint32_t chunk, std::uint32_t fewestSteps,
                std::uint32_t mostSteps);
    // The first map sample, at step 0 (with the probes' first one).
    void start();
    // One chunk of the run loop: steps `chunk` steps, stopping (without a probe
    // sample) at every snapshot step on the way, then samples the maps once,
    // as runSteps samples the probes.
    void runChunk(std::uint32_t chunk);
    // Writes the maps and, in readable mode, what the views cost. Failed
    // writes have been reported; the run goes on.
    void finish();

    bool active() const { return engine != nullptr; }
    // A view could not be written: the later ones were left out.
    bool lost() const { return failed; }

    ViewRequest request;
    // What the views have cost the run so far: processor time of the main
    // thread (converting, summing, writing), snapshots written (every file of
    // the step) and map samples taken.
    double seconds = 0.0;
    std::uint32_t snapshotCount = 0;
    std::uint32_t mapSamples = 0;

private:
    struct Plane {
        int axis = 0;
        std::uint32_t index = 0;
        std::string name;  // "grid" or axis letter and line index, e.g. "z12"
        std::uint32_t first[3] = {0, 0, 0};
        std::uint32_t count[3] = {0, 0, 0};
        std::vector<float> metal;  // one per node, planes only
        std::vector<VtkCollectionEntry> written;
        std::size_t nodes() const { return std::size_t{count[0]} * count[1] * count[2]; }
    };
    struct MapPlane {
        Plane plane;
        // Per frequency the running sums of value * exp(-j w t), real and
        // imaginary parts apart, laid out as the node values: E of every node
        // (three components each), then H, then the surface current.
        std::unique_ptr<float[]> real, imaginary;
    };

    Plane makePlane(int axis, std::uint32_t index) const;
    bool allocate();
    void writeCollections(Plane& plane, const std::string& base, bool always);
    void nodeValues(const Plane& plane, float* e, float* h, float* j) const;
    void takeSnapshot();
    void sampleMaps();
    void writeMaps();
    bool writeGrid(Plane& plane, const std::string& file, const std::vector<VtkArray>& arrays,
                   const char* label, double value, double timestep);
    void report(const std::string& path, const std::string& cause);
    int checkSpace(std::uint32_t fewestSteps, std::uint32_t mostSteps) const;

    FdtdEngine* engine = nullptr;
    std::unique_ptr<NodeFields> nodes;
    std::string folder;
    std::uint64_t nextSnapshot = 0;
    std::vector<Plane> snapshots;
    std::vector<MapPlane> maps;
    std::vector<double> angular;  // -2 pi f of each map frequency
    std::unique_ptr<float[]> values;  // node values of the plane being converted
    std::uint32_t chunk = 1;
    const VoltageProbe* portVoltage = nullptr;  // port 1
    const VoltageProbe* portCurrent = nullptr;
    double portResistance = 0.0;
    std::vector<std::complex<double>> voltageSums, currentSums;  // per map frequency
    bool failed = false;          // a write failed: reported once, nothing written after it
};

}  // namespace fendrix
