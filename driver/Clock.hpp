#pragma once

#include <chrono>
#include <cstdint>

namespace fendrix {

// Monotonic elapsed wall time in milliseconds, for timing messages and for
// pacing progress reports.
inline std::int64_t clockMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace fendrix
