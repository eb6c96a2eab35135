#pragma once

#include <cstdint>
#include <vector>

namespace fendrix {

class MatMaterial;

// A solid or sheet body of the description. Each shape belongs to exactly one
// material, which owns it; the rasterizer asks for its bounding box and whether
// it contains a point, and marks it used when it claims a grid point.
class GeoObject {
public:
    explicit GeoObject(MatMaterial* material) : material(material) {}
    virtual ~GeoObject() = default;

    // Writes x min, x max, y min, y max, z min, z max.
    virtual void boundingBox(double /*out*/[6]) const {}
    // Inside test, boundaries included as each shape defines.
    virtual bool contains(const double /*point*/[3]) const { return false; }
    // Reads the shape line after its keyword and blank. Returns the position
    // after the line, or null on failure. Echoes at verbosity above 0 and fills `box`.
    virtual char* parse(char* /*text*/) { return nullptr; }

    // 1 when `box` meets `other` on all three axes (closed intervals), else -1.
    int overlaps(const double other[6]) const;

    // Axes (bit k for axis k) along which the faces of `box` are the shape's own
    // faces, which belong on mesh lines; a cylinder's round side is not.
    virtual int faceAxes() const { return 7; }

    MatMaterial* material;
    std::uint8_t used = 0;
    double box[6] = {0, 0, 0, 0, 0, 0};
    std::uint32_t line = 0;  // line of the description, for messages; 0 unknown
};

class GeoCube : public GeoObject {
public:
    using GeoObject::GeoObject;
    void boundingBox(double out[6]) const override;
    bool contains(const double point[3]) const override;
    char* parse(char* text) override;

    double lower[3] = {0, 0, 0};
    double upper[3] = {0, 0, 0};
};

class GeoCylinder : public GeoObject {
public:
    using GeoObject::GeoObject;
    void boundingBox(double out[6]) const override;
    bool contains(const double point[3]) const override;
    char* parse(char* text) override;
    int faceAxes() const override;

    double radius = 0;
    double start[3] = {0, 0, 0};
    double end[3] = {0, 0, 0};
};

// A flat polygon in the plane normalAxis = position; vertices are (u, v) pairs
// with u along (normalAxis + 1) mod 3 and v along (normalAxis + 2) mod 3.
class GeoPolygon : public GeoObject {
public:
    using GeoObject::GeoObject;
    void boundingBox(double out[6]) const override;
    bool contains(const double point[3]) const override;
    char* parse(char* text) override;

    std::uint32_t normalAxis = 0;
    double position = 0;
    std::vector<double> vertices;  // u0, v0, u1, v1, ...
};

}  // namespace fendrix
