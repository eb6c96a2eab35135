#pragma once

#include <cstdint>

namespace fendrix {

// The rate of the readable progress lines: mega cell updates per second since
// the previous line.
struct ProgressRate {
    double megaCells = 0.0;  // cells of the grid, in millions
    std::uint32_t lastStep = 0;

    // The rate from the previous line to `step`, `milliseconds` later; `step`
    // becomes the previous line's.
    double at(std::uint32_t step, double milliseconds) {
        const double rate = (step - lastStep) * megaCells / milliseconds * 1000.0;
        lastStep = step;
        return rate;
    }
};

}  // namespace fendrix
