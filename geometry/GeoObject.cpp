#include "geometry/GeoObject.hpp"

namespace fendrix {

// Closed intervals: boxes that only touch still meet.
int GeoObject::overlaps(const double other[6]) const {
    for (int axis = 0; axis < 3; ++axis) {
        if (box[2 * axis] > other[2 * axis + 1] || other[2 * axis] > box[2 * axis + 1]) return -1;
    }
    return 1;
}

}  // namespace fendrix
