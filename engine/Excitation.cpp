// The source of a run: a pulse sampled once per time step and added to the E
// edges of port 1 (a soft source: the edges keep being updated as usual).

#include "engine/Excitation.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "common/Console.hpp"
#include "common/PhysicalConstants.hpp"
#include "grid/FdtdEngine.hpp"

namespace fendrix {

namespace {

// Longest pulse we sample (64 MiB of floats). Only a degenerate band (a zero
// frequency or a zero time step) asks for more; it is cut off here instead of
// failing the allocation.
constexpr double kMaxSamples = 16777216.0;

// Truncates toward zero into the unsigned 32-bit range; NaN gives 0.
std::uint32_t toCount(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(value);
}

}  // namespace

bool Excitation::configure(char kind, double f1, double f2) {
    maxFrequency = f2;
    switch (kind) {
    case '0':  // Gaussian pulse in the base band, envelope up to 1.8 f2
        maxFrequency = 1.8 * f2;
        centerFrequency = 0.0;
        halfBandwidth = 1.8 * f2;
        return true;
    case '1':  // Gaussian modulated around f2 / 2
        maxFrequency = 1.5 * f2;
        centerFrequency = 0.5 * f2;
        halfBandwidth = f2;
        return true;
    case '2':  // Gaussian modulated to cover f1 .. f2
        maxFrequency = f2;
        centerFrequency = (f1 + f2) * 0.5;
        halfBandwidth = (f2 - f1) * 0.5;
        return true;
    case '3':  // Gaussian derivative, f0 = f2 / 2
        maxFrequency = f2;
        centerFrequency = 0.5 * f2;
        halfBandwidth = 0.0;
        return true;
    default:
        return false;
    }
}

void Excitation::prepare(double dt) {
    edgeOffsets.clear();
    edgeWeights.clear();
    edgeCount = 0;
    samples.clear();

    // No port 1, or a direction that is not an axis: the run has no source.
    if (excitedAxis < 0 || excitedAxis > 2) {
        console::warning("No excitation.\n");
        console::flush();
        excitationLength = 0xFFFFFFFFu;
        return;
    }
    const int axis = excitedAxis;

    // Port corners snapped to the nearest mesh lines, low corner first.
    std::int64_t lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = engine->lineIndex(a, portBox[a], false);
        hi[a] = engine->lineIndex(a, portBox[3 + a], false);
        if (lo[a] > hi[a]) std::swap(lo[a], hi[a]);
    }
    // Along the driven axis the components are the edges between consecutive
    // lines: one fewer than the lines (none for a port flat along that axis).
    hi[axis] -= 1;

    std::int64_t count = 1;
    for (int a = 0; a < 3; ++a) count *= std::max<std::int64_t>(0, hi[a] - lo[a] + 1);
    if (count > 0) {
        for (std::int64_t k = lo[2]; k <= hi[2]; ++k) {
            for (std::int64_t j = lo[1]; j <= hi[1]; ++j) {
                for (std::int64_t i = lo[0]; i <= hi[0]; ++i) {
                    const std::uint32_t p[3] = {static_cast<std::uint32_t>(i),
                                                static_cast<std::uint32_t>(j),
                                                static_cast<std::uint32_t>(k)};
                    if (!engine->owns(p[2])) continue;  // another process drives it
                    // The array holds line integrals: field strength times edge length.
                    edgeWeights.push_back(static_cast<float>(engine->cellSize(axis, p[axis], false)));
                    edgeOffsets.push_back(engine->fieldIndex(p[0], p[1], p[2], axis));
                }
            }
        }
    }

    edgeCount = static_cast<std::uint32_t>(edgeOffsets.size());

    // Time steps per half period of the highest frequency of interest.
    nyquistSteps = toCount(0.5 / (maxFrequency * dt));

    if (halfBandwidth > 0.0) {
        // Modulated Gaussian over u = -1 .. 1, peak at the middle.
        const double a = halfBandwidth * 0.6981317007977318;  // 2 pi / 9
        const double w = 2.0 * kPi * centerFrequency / a;
        const double length = std::min(std::ceil(2.0 / (a * dt)), kMaxSamples);
        excitationLength = toCount(length);
        samples.resize(excitationLength);
        for (std::uint32_t n = 0; n < excitationLength; ++n) {
            const double u = static_cast<double>(n) * dt * a - 1.0;
            samples[n] = static_cast<float>(std::exp(-9.0 * u * u) * std::cos(w * u));
        }
    } else {
        // Gaussian derivative over three periods of f0, zero crossing at 1.5.
        const double f0 = centerFrequency;
        const double length = std::min(std::ceil(3.0 / (f0 * dt)), kMaxSamples);
        excitationLength = toCount(length);
        samples.resize(excitationLength);
        for (std::uint32_t n = 0; n < excitationLength; ++n) {
            const double u = static_cast<double>(n) * dt * f0 - 1.5;
            samples[n] = static_cast<float>(7.7 * u * std::exp(-11.0 * u * u));
        }
    }
}

void Excitation::indexByPlane(std::size_t planeFloats, std::size_t planes) {
    // Counting sort by plane: stable, so the edges of a plane keep their order.
    planeEdgeStart.assign(planes + 1, 0);
    // Offsets count from the first plane this process stores.
    const std::size_t first = engine->processSlab.storedBegin;
    for (std::uint32_t i = 0; i < edgeCount; ++i) {
        const std::size_t k = std::min<std::size_t>(first + edgeOffsets[i] / planeFloats, planes - 1);
        ++planeEdgeStart[k + 1];
    }
    for (std::size_t k = 0; k < planes; ++k) planeEdgeStart[k + 1] += planeEdgeStart[k];
    std::vector<std::uint32_t> next(planeEdgeStart.begin(), planeEdgeStart.end() - 1);
    edgesByPlane.assign(edgeCount, 0);
    for (std::uint32_t i = 0; i < edgeCount; ++i) {
        const std::size_t k = std::min<std::size_t>(first + edgeOffsets[i] / planeFloats, planes - 1);
        edgesByPlane[next[k]++] = i;
    }
}

void Excitation::injectPlanes(std::size_t kBegin, std::size_t kEnd, std::uint32_t step) {
    if (step >= excitationLength || step >= samples.size()) return;
    const float s = samples[step];
    float* const e = engine->eField;
    for (std::uint32_t j = planeEdgeStart[kBegin]; j < planeEdgeStart[kEnd]; ++j) {
        const std::uint32_t i = edgesByPlane[j];
        e[edgeOffsets[i]] += edgeWeights[i] * s;
    }
}

}  // namespace fendrix
