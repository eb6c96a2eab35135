// A flat polygon sheet: "Polygon position normalAxis u,v u,v ...".
#include <algorithm>
#include <cstdio>

#include "common/Console.hpp"
#include "common/TextReader.hpp"
#include "geometry/GeoObject.hpp"

namespace fendrix {

void GeoPolygon::boundingBox(double out[6]) const {
    const std::uint32_t n = normalAxis;
    const std::uint32_t uAxis = (n + 1) % 3;
    const std::uint32_t vAxis = (n + 2) % 3;
    out[2 * n] = out[2 * n + 1] = position;
    double uMin = vertices.empty() ? 0.0 : vertices[0];
    double uMax = uMin;
    double vMin = vertices.size() < 2 ? 0.0 : vertices[1];
    double vMax = vMin;
    for (std::size_t i = 0; i + 1 < vertices.size(); i += 2) {
        uMin = std::min(uMin, vertices[i]);
        uMax = std::max(uMax, vertices[i]);
        vMin = std::min(vMin, vertices[i + 1]);
        vMax = std::max(vMax, vertices[i + 1]);
    }
    out[2 * uAxis] = uMin;
    out[2 * uAxis + 1] = uMax;
    out[2 * vAxis] = vMin;
    out[2 * vAxis + 1] = vMax;
}

bool GeoPolygon::contains(const double point[3]) const {
    // The box holds the plane: off the plane by any amount is outside.
    for (int axis = 0; axis < 3; ++axis) {
        if (point[axis] < box[2 * axis] || point[axis] > box[2 * axis + 1]) return false;
    }
    const double pu = point[(normalAxis + 1) % 3];
    const double pv = point[(normalAxis + 2) % 3];
    const std::size_t count = vertices.size() / 2;
    if (count == 0) return false;

    int winding = 0;
    std::size_t previous = count - 1;  // the closing edge, last vertex to first, comes first
    for (std::size_t i = 0; i < count; previous = i, ++i) {
        const double au = vertices[2 * previous];
        const double av = vertices[2 * previous + 1];
        const double bu = vertices[2 * i];
        const double bv = vertices[2 * i + 1];
        // Points on an axis-parallel edge belong to the sheet, so that strips
        // aligned with the mesh keep their edge lines.
        if (au == pu && bu == pu && ((av < pv && pv < bv) || (bv < pv && pv < av))) return true;
        if (av == pv && bv == pv && ((au < pu && pu < bu) || (bu < pu && pu < au))) return true;
        // Non-zero winding rule: count edges crossing the point's v level,
        // upwards with the point on their left, downwards with it on their right.
        const bool aAbove = av >= pv;
        const bool bAbove = bv >= pv;
        if (aAbove != bAbove) {
            const double left = (bv - av) * (bu - pu);
            const double right = (bu - au) * (bv - pv);
            if (left >= right && bAbove) ++winding;
            if (left < right && !bAbove) --winding;
        }
    }
    return winding != 0;
}

char* GeoPolygon::parse(char* text) {
    char* pos = text;
    if (!text::readRealThen(pos, position, ' ')) return nullptr;
    if (!text::readUnsignedThen(pos, normalAxis, ' ')) return nullptr;
    // The box is indexed by the normal axis: only x, y and z exist.
    if (normalAxis > 2) return nullptr;
    for (;;) {
        double u = 0.0;
        double v = 0.0;
        if (!text::readRealThen(pos, u, ',')) return nullptr;
        if (!text::readReal(pos, v)) return nullptr;
        vertices.push_back(u);
        vertices.push_back(v);
        if (*pos != ' ') break;
        ++pos;
    }
    if (*pos != '\n') return nullptr;
    ++pos;

    // The first three vertices, or as many as there are.
    console::echo("Polygon %g %d ", position, static_cast<int>(normalAxis));
    for (std::size_t i = 0; i < 3 && 2 * i + 1 < vertices.size(); ++i)
        console::echo(" %g,%g", vertices[2 * i], vertices[2 * i + 1]);
    console::echo("\n");
    boundingBox(box);
    return pos;
}

}  // namespace fendrix
