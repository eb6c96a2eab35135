// One face of the Huygens box around the structure: a running transform of the
// full E and H vectors at the far-field frequency at every node of the face.
#include "results/FieldProbe.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/Console.hpp"
#include "common/PhysicalConstants.hpp"
#include "common/ProcessGroup.hpp"
#include "grid/FdtdEngine.hpp"
#include "results/RadiationSetup.hpp"

namespace fendrix {

namespace {

// Distance of the box from the grid border in nodes: at least 2, so that every
// node the interpolation touches (including its neighbours at -1 and +1) lies
// inside the grid.
std::uint32_t effectiveMargin(const RadiationSetup& setup) { return std::max(setup.boxMargin, 2u); }

}  // namespace

FieldProbe::FieldProbe(FdtdEngine* engine, RadiationSetup* setup, int face)
    : FieldProbe(engine, std::vector<RadiationSetup*>{setup}, face) {}

FieldProbe::FieldProbe(FdtdEngine* engine, std::vector<RadiationSetup*> setups, int face)
    : Probe(engine), setup(setups.front()), setups(std::move(setups)) {
    for (const RadiationSetup* each : this->setups)
        angularSteps.push_back(static_cast<float>(-kTwoPi * static_cast<double>(each->frequency)));
    portNumber = face;
    const std::uint32_t m = effectiveMargin(*setup);
    for (int a = 0; a < 3; ++a) {
        lowIndex[a] = m - 1;
        highIndex[a] = engine->lineCount[a] - m;
    }
    // Collapse the box onto this face's plane.
    if (face >= 0 && face < 6) {
        const int axis = face / 2;
        if (face % 2 == 0)
            highIndex[axis] = lowIndex[axis];
        else
            lowIndex[axis] = highIndex[axis];
    }
    // A grid too small for the margin (the setup checks fitsGrid first) leaves an
    // empty region rather than wrapped-around counts.
    std::size_t nodes = 1;
    for (int a = 0; a < 3; ++a) {
        const bool empty = engine->lineCount[a] < m || highIndex[a] < lowIndex[a];
        nodeCounts[a] = empty ? 0 : highIndex[a] - lowIndex[a] + 1;
        nodes *= nodeCounts[a];
    }
    eSpectrum.assign(3 * nodes * this->setups.size(), {0.0f, 0.0f});
    hSpectrum.assign(3 * nodes * this->setups.size(), {0.0f, 0.0f});
}

bool FieldProbe::fitsGrid(const FdtdEngine& engine, const RadiationSetup& setup) {
    // Faces at m - 1 and N - m: N - 2m + 2 nodes wide, at least 3 for the transform.
    const std::uint64_t needed = 2 * std::uint64_t{effectiveMargin(setup)} + 1;
    for (int a = 0; a < 3; ++a)
        if (engine.lineCount[a] < needed) return false;
    return true;
}

// Per axis, over the lines from the one before the region to its last:
// storage offsets (a node's field index is the sum over the axes, plus 4 per
// component), the edge lengths before and after each line and their sum, and
// the H scale 0.5 / dual length. Each is the same expression the node values
// would otherwise compute every sample, so the values are the same bits.
void FieldProbe::tabulateNodes() {
    const std::uint32_t nv = engine->Nv, ny = engine->Ny();
    for (int a = 0; a < 3; ++a) {
        const std::vector<double>& lines = engine->meshLines[a];
        NodeTable& t = nodeTables[a];
        t = NodeTable{};
        for (std::uint32_t p = lowIndex[a] - 1; nodeCounts[a] > 0 && p <= highIndex[a]; ++p) {
            std::uint32_t offset = 0;
            if (a == 0) offset = 12 * (p % nv) + p / nv;
            if (a == 1) offset = 12 * nv * p;
            if (a == 2) offset = 12 * nv * ny * (p - engine->processSlab.storedBegin);
            t.offset.push_back(offset);
            if (p < lowIndex[a]) {  // the line before the region: its offset only
                t.after.push_back(0.0), t.before.push_back(0.0), t.span.push_back(0.0), t.hScale.push_back(0.0);
                continue;
            }
            const double d1 = lines[p + 1] - lines[p];
            const double d0 = lines[p] - lines[p - 1];
            t.after.push_back(d1);
            t.before.push_back(d0);
            t.span.push_back(d0 + d1);
            t.hScale.push_back(0.5 / (lines[p + 1] - lines[p - 1]));
        }
    }
    tabulated = true;
}

// E at a node: the stored values are edge voltages; dividing by the edge lengths
// gives the fields at the two edge centres meeting at the node, linearly
// interpolated to the node along each axis. H: each component sits at the
// centres of the four faces around the node in the plane across it; their
// mean, divided by the dual edge length (the stored value is field times that
// length), is the node value. `i, j, k` count from the region's first node.
void FieldProbe::nodeFields(std::uint32_t i, std::uint32_t j, std::uint32_t k, double e[3], double h[3]) const {
    const std::uint32_t at[3] = {i + 1, j + 1, k + 1};  // table rows; at - 1: the line before
    std::uint32_t here[3], before[3];
    for (int a = 0; a < 3; ++a) {
        here[a] = nodeTables[a].offset[at[a]];
        before[a] = nodeTables[a].offset[at[a] - 1];
    }
    const float* eField = engine->eField;
    const float* hField = engine->hField;
    const std::uint32_t node = here[0] + here[1] + here[2];
    for (int a = 0; a < 3; ++a) {
        const NodeTable& t = nodeTables[a];
        const std::uint32_t r = at[a];
        std::uint32_t lower[3] = {here[0], here[1], here[2]};
        lower[a] = before[a];
        const double high = eField[node + 4 * a] / t.after[r];
        const double low = eField[lower[0] + lower[1] + lower[2] + 4 * a] / t.before[r];
        e[a] = low * t.after[r] / t.span[r] + high * t.before[r] / t.span[r];

        const int b = (a + 1) % 3, c = (a + 2) % 3;
        std::uint32_t q[3] = {here[0], here[1], here[2]};
        double sum = hField[q[0] + q[1] + q[2] + 4 * a];
        q[b] = before[b];
        sum += hField[q[0] + q[1] + q[2] + 4 * a];
        q[c] = before[c];
        sum += hField[q[0] + q[1] + q[2] + 4 * a];
        q[b] = here[b];
        sum += hField[q[0] + q[1] + q[2] + 4 * a];
        h[a] = sum * t.hScale[r];
    }
}

// Adds field * exp(-j w t) at every node of the face for every frequency; E at
// the whole step, H half a step later. One cosine and sine per quantity and
// frequency, shared by all nodes, computed the same way for every frequency so
// that a frequency gives the same sums whichever others share the run; then
// one multiply-add per value and frequency.
void FieldProbe::sample() {
    if (!tabulated) tabulateNodes();
    const float tE = static_cast<float>(engine->fieldTime(false));
    const float tH = static_cast<float>(engine->fieldTime(true));
    const std::size_t count = angularSteps.size();
    phasors.resize(4 * count);
    for (std::size_t f = 0; f < count; ++f) {
        const float aE = angularSteps[f] * tE;
        const float aH = angularSteps[f] * tH;
        phasors[4 * f + 0] = static_cast<float>(std::cos(static_cast<double>(aE)));
        phasors[4 * f + 1] = static_cast<float>(std::sin(static_cast<double>(aE)));
        phasors[4 * f + 2] = static_cast<float>(std::cos(static_cast<double>(aH)));
        phasors[4 * f + 3] = static_cast<float>(std::sin(static_cast<double>(aH)));
    }
    const float* phasor = phasors.data();

    // Over several processes each samples the nodes of the planes it owns.
    for (std::uint32_t k = 0; k < nodeCounts[2]; ++k) {
        if (!engine->owns(lowIndex[2] + k)) continue;
        std::size_t s = std::size_t(k) * nodeCounts[1] * nodeCounts[0];
        for (std::uint32_t j = 0; j < nodeCounts[1]; ++j)
            for (std::uint32_t i = 0; i < nodeCounts[0]; ++i, ++s) {
                double e[3], h[3];
                nodeFields(i, j, k, e, h);
                float ef[3], hf[3];
                for (int c = 0; c < 3; ++c) {
                    ef[c] = static_cast<float>(e[c]);
                    hf[c] = static_cast<float>(h[c]);
                }
                std::complex<float>* es = eSpectrum.data() + 3 * count * s;
                std::complex<float>* hs = hSpectrum.data() + 3 * count * s;
                for (std::size_t f = 0; f < count; ++f, es += 3, hs += 3) {
                    const float cE = phasor[4 * f], sE = phasor[4 * f + 1];
                    const float cH = phasor[4 * f + 2], sH = phasor[4 * f + 3];
                    for (int c = 0; c < 3; ++c) {
                        es[c] = {es[c].real() + ef[c] * cE, es[c].imag() + ef[c] * sE};
                        hs[c] = {hs[c].real() + hf[c] * cH, hs[c].imag() + hf[c] * sH};
                    }
                }
            }
    }
}

// Over several processes: each holds the spectra of the nodes in its planes,
// a run of whole node planes; in process order they follow each other as the
// planes do. Process 0 gets them all.
void FieldProbe::gatherSpectra() {
    std::uint32_t first = nodeCounts[2], end = 0;
    for (std::uint32_t k = 0; k < nodeCounts[2]; ++k) {
        if (!engine->owns(lowIndex[2] + k)) continue;
        first = std::min(first, k);
        end = k + 1;
    }
    const std::size_t slotsPerPlane = 3 * setups.size() * std::size_t(nodeCounts[1]) * nodeCounts[0];
    const std::size_t begin = first < end ? first * slotsPerPlane : 0;
    const std::size_t count = first < end ? (end - first) * slotsPerPlane : 0;
    std::vector<unsigned char> all;
    std::vector<std::size_t> sizes;
    for (auto* spectrum : {&eSpectrum, &hSpectrum}) {
        processes::gatherBytes(spectrum->data() + begin, count * sizeof((*spectrum)[0]), all, sizes);
        if (processes::rank() == 0) std::memcpy(spectrum->data(), all.data(), all.size());
    }
}

void FieldProbe::analyze() {
    const int face = portNumber;
    if (processes::many()) {
        gatherSpectra();
        if (processes::rank() != 0) return;
    }
    console::say("Far-field analysis %d: %d/%d, %d/%d, %d/%d\n", face,
                    static_cast<int>(lowIndex[0]), static_cast<int>(highIndex[0]),
                    static_cast<int>(lowIndex[1]), static_cast<int>(highIndex[1]),
                    static_cast<int>(lowIndex[2]), static_cast<int>(highIndex[2]));
    if (!eSpectrum.empty()) {
        const double* coords[3];
        for (int a = 0; a < 3; ++a) coords[a] = engine->meshLines[a].data() + lowIndex[a];
        // Even faces are the low ends of their axis: outward is towards -axis.
        const int outward = face % 2 == 0 ? -1 : +1;
        const std::size_t count = setups.size();
        if (count == 1) {
            setup->accumulateFace(nodeCounts, coords, eSpectrum.data(), hSpectrum.data(), outward);
        } else {
            // Each frequency's values, slot by slot, as the transform reads them.
            const std::size_t slots = eSpectrum.size() / (3 * count);
            std::vector<std::complex<float>> e(3 * slots), h(3 * slots);
            for (std::size_t f = 0; f < count; ++f) {
                for (std::size_t s = 0; s < slots; ++s)
                    for (int c = 0; c < 3; ++c) {
                        e[3 * s + c] = eSpectrum[(s * count + f) * 3 + c];
                        h[3 * s + c] = hSpectrum[(s * count + f) * 3 + c];
                    }
                setups[f]->accumulateFace(nodeCounts, coords, e.data(), h.data(), outward);
            }
        }
    }
    console::hostCodes("\t%02d", 16 * face + 19);
}

}  // namespace fendrix
