#pragma once

#include <cstdint>

namespace fendrix {

// Decides when the run has rung down: the field energy is measured after every
// chunk while the pulse lasts (its largest value is the reference), and after
// the pulse whenever the run loop asks for a decay test. The run ends once the
// energy has fallen to `threshold` times the reference.
struct DecayMonitor {
    double threshold = 1e-6;
    std::uint32_t excitationLength = 0;
    double maxEnergy = 0.0;
    double ratio = 1.0;  // energy over maxEnergy at the latest decay test

    bool duringPulse(std::uint32_t chunkStart) const { return chunkStart <= excitationLength; }
    // The energy after a chunk that started during the pulse.
    void notePulseEnergy(double energy) {
        if (energy > maxEnergy) maxEnergy = energy;
    }
    // The energy at a decay test after the pulse. A field that never rose
    // above zero stays zero: nothing is left to decay.
    void noteDecayEnergy(double energy) { ratio = maxEnergy > 0.0 ? energy / maxEnergy : 0.0; }
    bool decayed() const { return !(ratio > threshold); }
};

}  // namespace fendrix
