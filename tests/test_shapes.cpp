#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "driver/Verbosity.hpp"
#include "geometry/GeoObject.hpp"
#include "geometry/MatMaterial.hpp"

namespace {

using Box = std::array<double, 6>;

Box boxOf(const GeoObject& shape) { return {shape.box[0], shape.box[1], shape.box[2], shape.box[3], shape.box[4], shape.box[5]}; }

// Parses one shape line; returns what the parse left unread, or "FAIL".
template <typename Shape>
std::string parseShape(Shape& shape, std::string line) {
    char* rest = shape.parse(line.data());
    return rest == nullptr ? "FAIL" : std::string(rest);
}

// The echo of a shape line at verbosity 1.
template <typename Shape>
std::string echoOf(std::string line) {
    MatMetal metal;
    Shape shape(&metal);
    const int saved = verboseLevel;
    verboseLevel = 1;
    testing::internal::CaptureStdout();
    shape.parse(line.data());
    verboseLevel = saved;
    return testing::internal::GetCapturedStdout();
}

bool inside(const GeoObject& shape, double x, double y, double z) {
    const double p[3] = {x, y, z};
    return shape.contains(p);
}

}  // namespace

TEST(Shapes, CubeReadsSortsAndIncludesItsFaces) {
    MatMetal metal;
    GeoCube cube(&metal);
    EXPECT_EQ(parseShape(cube, "0.002,0.003,0.001 0,0.001,0.004\n/\n"), "/\n");
    EXPECT_EQ(boxOf(cube), (Box{0, 0.002, 0.001, 0.003, 0.001, 0.004}));
    // Blanks only, and the character after the sixth number is not checked.
    GeoCube blanks(&metal);
    EXPECT_EQ(parseShape(blanks, "0 0.001 0.001 0.002 0.003 0.004;/\n"), "/\n");
    EXPECT_EQ(boxOf(blanks), (Box{0, 0.002, 0.001, 0.003, 0.001, 0.004}));
    // The sixth number at the end of the text: nothing is stepped over.
    GeoCube last(&metal);
    EXPECT_EQ(parseShape(last, "0,0,0 1,1,1"), "");
    GeoCube bad(&metal);
    EXPECT_EQ(parseShape(bad, "0,0,0 1,1\n/\n"), "FAIL");

    EXPECT_TRUE(inside(cube, 0, 0.001, 0.001));          // a corner
    EXPECT_TRUE(inside(cube, 0.002, 0.002, 0.0025));     // on the x max face
    EXPECT_TRUE(inside(cube, 0.001, 0.003, 0.004));      // an edge
    EXPECT_FALSE(inside(cube, 0.0020001, 0.002, 0.002));
    EXPECT_FALSE(inside(cube, 0.001, 0.002, 0.0009999));

    EXPECT_EQ(echoOf<GeoCube>("0.002,0.003,0.001 0,0.001,0.004\n"), "Box 0,0.001,0.001 0.002,0.003,0.004\n");
    EXPECT_EQ(echoOf<GeoCube>("0,0.001,0.001 0.002,0.003,0.004\n"), "Box 0,0.001,0.001 0.002,0.003,0.004\n");
}

TEST(Shapes, OverlapCountsTouchingBoxes) {
    MatMetal metal;
    GeoCube cube(&metal);
    parseShape(cube, "0,0,0 1,1,1\n");
    const double touching[6] = {1, 2, -1, 0, 0.5, 0.6};
    const double apart[6] = {1.01, 2, 0, 1, 0, 1};
    const double around[6] = {-5, 5, -5, 5, -5, 5};
    const double offInZ[6] = {0, 1, 0, 1, 1.5, 2};
    EXPECT_EQ(cube.overlaps(touching), 1);
    EXPECT_EQ(cube.overlaps(around), 1);
    EXPECT_EQ(cube.overlaps(apart), -1);
    EXPECT_EQ(cube.overlaps(offInZ), -1);
}

TEST(Shapes, CylinderBoxesAndBoundaries) {
    MatMetal metal;
    GeoCylinder alongZ(&metal);
    EXPECT_EQ(parseShape(alongZ, "0.1 0,0,0 0,0,1\n/\n"), "/\n");
    EXPECT_EQ(boxOf(alongZ), (Box{-0.1, 0.1, -0.1, 0.1, 0, 1}));
    GeoCylinder alongX(&metal);
    parseShape(alongX, "0.1 0,0,0 1,0,0\n");
    EXPECT_EQ(boxOf(alongX), (Box{0, 1, -0.1, 0.1, -0.1, 0.1}));
    GeoCylinder reversed(&metal);
    parseShape(reversed, "0.5 0,2,0 0,-1,0\n");
    EXPECT_EQ(boxOf(reversed), (Box{-0.5, 0.5, -1, 2, -0.5, 0.5}));
    GeoCylinder slanted(&metal);  // differs on every axis: margin everywhere
    parseShape(slanted, "0.5 0,0,0 1,2,3\n");
    EXPECT_EQ(boxOf(slanted), (Box{-0.5, 1.5, -0.5, 2.5, -0.5, 3.5}));
    GeoCylinder twoAxes(&metal);  // equal on one axis only: margin everywhere
    parseShape(twoAxes, "0.5 0,0,0 1,2,0\n");
    EXPECT_EQ(boxOf(twoAxes), (Box{-0.5, 1.5, -0.5, 2.5, -0.5, 0.5}));

    EXPECT_TRUE(inside(alongZ, 0.1, 0, 0.5));     // on the curved surface
    EXPECT_TRUE(inside(alongZ, 0, -0.1, 0.5));
    EXPECT_TRUE(inside(alongZ, 0.05, 0, 0));      // on the start face
    EXPECT_TRUE(inside(alongZ, 0, 0.05, 1));      // on the end face
    EXPECT_TRUE(inside(alongZ, 0.1, 0, 1));       // on the rim
    EXPECT_FALSE(inside(alongZ, 0, 0, 1.0001));
    EXPECT_FALSE(inside(alongZ, 0, 0, -0.0001));
    EXPECT_FALSE(inside(alongZ, 0.08, 0.08, 0.5));  // inside the box, outside the circle
    EXPECT_TRUE(inside(slanted, 0.5, 1, 1.5));      // the axis midpoint

    GeoCylinder point(&metal);  // coincident end points hold nothing
    parseShape(point, "0.1 1,1,1 1,1,1\n");
    EXPECT_FALSE(inside(point, 1, 1, 1));
    EXPECT_EQ(boxOf(point), (Box{0.9, 1.1, 0.9, 1.1, 0.9, 1.1}));

    for (const char* bad : {"0.1,0,0,0 0,0,1\n", "0.1 0,0,0 0,0,1 \n", "0.1 0,0,0 0,0,1", "0.1 0,0,0 0,0\n"}) {
        GeoCylinder c(&metal);
        EXPECT_EQ(parseShape(c, bad), "FAIL") << bad;
    }
    EXPECT_EQ(echoOf<GeoCylinder>("0.1 0,0,0 0,0,1\n"), "Cylinder 0.1  0,0,0  0,0,1\n");
}

TEST(Shapes, PolygonPlaneEdgesAndWinding) {
    MatMetal metal;
    GeoPolygon square(&metal);  // normal z: u = x, v = y
    EXPECT_EQ(parseShape(square, "0.001 2 0,0 2,0 2,2 0,2\n/\n"), "/\n");
    EXPECT_EQ(boxOf(square), (Box{0, 2, 0, 2, 0.001, 0.001}));
    EXPECT_TRUE(inside(square, 1, 1, 0.001));
    EXPECT_FALSE(inside(square, 1, 1, 0.0010001));  // off the plane by any amount
    EXPECT_FALSE(inside(square, 1, 1, 0));
    EXPECT_TRUE(inside(square, 0, 1, 0.001));    // on the edge x = 0, between its vertices
    EXPECT_TRUE(inside(square, 1, 2, 0.001));    // on the edge y = 2
    EXPECT_TRUE(inside(square, 2, 1, 0.001));
    EXPECT_TRUE(inside(square, 1, 0, 0.001));
    // Vertices are left to the winding count: every vertex counts as "above" a
    // point at the bottom edge's level, so the lower corners are out, the upper in.
    EXPECT_FALSE(inside(square, 0, 0, 0.001));
    EXPECT_FALSE(inside(square, 2, 0, 0.001));
    EXPECT_TRUE(inside(square, 2, 2, 0.001));
    EXPECT_TRUE(inside(square, 0, 2, 0.001));

    GeoPolygon clockwise(&metal);  // the other winding direction counts as well
    parseShape(clockwise, "0.001 2 0,0 0,2 2,2 2,0\n");
    EXPECT_TRUE(inside(clockwise, 1, 1, 0.001));
    EXPECT_FALSE(inside(clockwise, 3, 1, 0.001));

    // An L shape (normal x: u = y, v = z): the notch is outside though inside the box.
    GeoPolygon ell(&metal);
    parseShape(ell, "0.5 0 0,0 2,0 2,1 1,1 1,2 0,2\n");
    EXPECT_EQ(boxOf(ell), (Box{0.5, 0.5, 0, 2, 0, 2}));
    EXPECT_TRUE(inside(ell, 0.5, 0.5, 1.5));
    EXPECT_TRUE(inside(ell, 0.5, 1.5, 0.5));
    EXPECT_FALSE(inside(ell, 0.5, 1.5, 1.5));
    EXPECT_TRUE(inside(ell, 0.5, 1.5, 1));  // on the inner edge z = 1

    // Normal y: u = z, v = x.
    GeoPolygon normalY(&metal);
    parseShape(normalY, "0 1 0,0 3,0 3,1\n");
    EXPECT_EQ(boxOf(normalY), (Box{0, 1, 0, 0, 0, 3}));
    EXPECT_TRUE(inside(normalY, 0.2, 0, 2.0));
    EXPECT_FALSE(inside(normalY, 0.8, 0, 1.0));

    for (const char* bad : {"0 2 0 ,0 1,0 1,1\n", "0 2 0,0 1,0 1,1 \n/\n", "0 3 0,0 1,0 1,1\n",
                            "0 2 0,0 1,0 1,1", "0 2 0,0 1,0 1\n", "0,2 0,0 1,0 1,1\n"}) {
        GeoPolygon p(&metal);
        EXPECT_EQ(parseShape(p, bad), "FAIL") << bad;
    }
    EXPECT_EQ(echoOf<GeoPolygon>("0.001 2 0,0 2,0 2,2 0,2\n"), "Polygon 0.001 2  0,0 2,0 2,2\n");
    EXPECT_EQ(echoOf<GeoPolygon>("0 1 0,0 3,0\n"), "Polygon 0 1  0,0 3,0\n");
    EXPECT_EQ(echoOf<GeoPolygon>("0 1 0,0 3,0 3,1\n"), "Polygon 0 1  0,0 3,0 3,1\n");
}
