// An axis-aligned box: "Cube x1,y1,z1 x2,y2,z2".
#include <cstdio>

#include "common/Console.hpp"
#include "common/TextReader.hpp"
#include "geometry/GeoObject.hpp"

namespace fendrix {

void GeoCube::boundingBox(double out[6]) const {
    for (int axis = 0; axis < 3; ++axis) {
        out[2 * axis] = lower[axis];
        out[2 * axis + 1] = upper[axis];
    }
}

bool GeoCube::contains(const double point[3]) const {
    for (int axis = 0; axis < 3; ++axis) {
        if (point[axis] < lower[axis] || point[axis] > upper[axis]) return false;
    }
    return true;
}

char* GeoCube::parse(char* text) {
    char* pos = text;
    double values[6];
    for (double& value : values) {
        if (!text::readReal(pos, value)) return nullptr;
        text::skipOne(pos);  // comma, blank or line feed alike
    }
    for (int axis = 0; axis < 3; ++axis) {
        lower[axis] = values[axis] <= values[3 + axis] ? values[axis] : values[3 + axis];
        upper[axis] = values[axis] <= values[3 + axis] ? values[3 + axis] : values[axis];
    }
    console::echo("Box %g,%g,%g %g,%g,%g\n", lower[0], lower[1], lower[2], upper[0], upper[1], upper[2]);
    boundingBox(box);
    return pos;
}

}  // namespace fendrix
