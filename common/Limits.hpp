#pragma once

namespace fendrix {

// Most threads a run may use, stepping and build alike: the calling thread
// and 15 workers.
inline constexpr int kMaxThreads = 16;

// Bounds that keep the per-frequency and per-direction arrays of a run within
// memory, whatever a description asks for.
inline constexpr unsigned kMaxFrequencyPoints = 100000;
inline constexpr unsigned kMaxAngleCount = 3601;  // 0.1 degree steps over 360 degrees

}  // namespace fendrix
