#pragma once

#include <cstdint>
#include <vector>

namespace fendrix {

// Field views asked for on the command line: time-domain snapshots every
// `snapshotEvery` steps (of the whole grid when no plane is named) and
// frequency-domain maps on planes at chosen frequencies.
struct ViewPlane {
    int axis;           // 0 x, 1 y, 2 z: the plane is normal to this axis
    double coordinate;  // metres; snapped to the nearest mesh line
};

struct ViewRequest {
    std::uint32_t snapshotEvery = 0;  // 0: no snapshots
    std::vector<ViewPlane> snapshotPlanes;
    std::vector<ViewPlane> mapPlanes;
    std::vector<double> mapFrequencies;  // hertz

    bool any() const { return snapshotEvery != 0 || !mapPlanes.empty(); }
};

}  // namespace fendrix
