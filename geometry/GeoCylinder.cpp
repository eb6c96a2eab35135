// A solid circular cylinder: "Cylinder radius x1,y1,z1 x2,y2,z2", the points
// being the centres of its end faces.
#include <cstdio>

#include "common/Console.hpp"
#include "common/TextReader.hpp"
#include "geometry/GeoObject.hpp"

namespace fendrix {

void GeoCylinder::boundingBox(double out[6]) const {
    int equalAxes = 0;
    int runningAxis = 0;
    for (int axis = 0; axis < 3; ++axis) {
        const double s = start[axis];
        const double e = end[axis];
        out[2 * axis] = (e > s ? s : e) - radius;
        out[2 * axis + 1] = (e > s ? e : s) + radius;
        if (s == e)
            ++equalAxes;
        else
            runningAxis = axis;
    }
    // Parallel to an axis, the end faces are flat across it: no margin along it.
    if (equalAxes == 2) {
        out[2 * runningAxis] += radius;
        out[2 * runningAxis + 1] -= radius;
    }
}

// Only the flat end faces of a cylinder parallel to an axis lie across that axis.
int GeoCylinder::faceAxes() const {
    int running = 0;
    int count = 0;
    for (int axis = 0; axis < 3; ++axis) {
        if (start[axis] != end[axis]) {
            running = axis;
            ++count;
        }
    }
    return count == 1 ? 1 << running : 0;
}

bool GeoCylinder::contains(const double point[3]) const {
    double d[3];
    double w[3];
    double wd = 0.0;
    double dd = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        d[axis] = end[axis] - start[axis];
        w[axis] = point[axis] - start[axis];
        wd += w[axis] * d[axis];
        dd += d[axis] * d[axis];
    }
    // Coincident end points: a cylinder of no length holds nothing.
    if (dd == 0.0) return false;
    // t is the position along the axis, 0 at the start face and 1 at the end face.
    const double t = wd / dd;
    if (t < 0.0 || t > 1.0) return false;
    double distance2 = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        const double r = w[axis] - t * d[axis];
        distance2 += r * r;
    }
    return distance2 <= radius * radius;
}

char* GeoCylinder::parse(char* text) {
    char* pos = text;
    if (!text::readRealThen(pos, radius, ' ')) return nullptr;
    double values[6];
    for (int i = 0; i < 6; ++i) {
        if (!text::readReal(pos, values[i])) return nullptr;
        if (i == 5 && *pos != '\n') return nullptr;
        text::skipOne(pos);
    }
    for (int axis = 0; axis < 3; ++axis) {
        start[axis] = values[axis];
        end[axis] = values[3 + axis];
    }
    console::echo("Cylinder %g  %g,%g,%g  %g,%g,%g\n", radius, start[0], start[1], start[2], end[0], end[1],
                    end[2]);
    boundingBox(box);
    return pos;
}

}  // namespace fendrix
