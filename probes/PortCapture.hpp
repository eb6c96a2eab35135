#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fendrix {

class FdtdEngine;
class VoltageProbe;

// The field values that the ports read, taken plane by plane while a sweep of
// several steps passes the steps at which the ports are due, and turned into
// the ports' samples afterwards. Each port combines the same values in the
// same order as when it reads the fields after a chunk, so its spectrum is the
// same to the bit.
struct PortCapture {
    // Lists the terms of every port; false where some probe is not a port
    // (the far-field faces read whole surfaces: the sweep cannot take them).
    bool prepare(const FdtdEngine& engine);
    // Room for the values of `dueCount` due steps.
    void reserve(std::uint32_t dueCount) { values.assign(std::size_t(dueCount) * termCount, 0.0f); }
    // The values of plane k, final for due step `due`.
    void takePlane(std::size_t k, std::uint32_t due) {
        float* out = values.data() + std::size_t(due) * termCount;
        for (std::uint32_t e = planeStart[k]; e < planeStart[k + 1]; ++e) {
            const Entry& entry = entries[e];
            out[entry.term] = entry.field[entry.offset];
        }
    }
    // Adds each port's sample of due step `due` to its spectrum (at the
    // engine's stepCount).
    void accumulate(std::uint32_t due) const;

    struct Entry {
        const float* field;  // E or H array
        std::uint32_t offset, term;
    };
    std::vector<VoltageProbe*> ports;
    std::vector<std::uint32_t> portStart;   // first term of each port, and the total
    std::vector<std::uint32_t> planeStart;  // first entry of each plane, Nz + 1 of them
    std::vector<Entry> entries;             // by plane
    std::uint32_t termCount = 0;
    std::vector<float> values;              // termCount per due step
};

}  // namespace fendrix
