#include <gtest/gtest.h>

#include "tests/HandBuiltGrid.hpp"

#include <memory>
#include <string>

#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "grid/PhysicalConstants.hpp"

namespace {

// An engine on a uniform 1 mm mesh of n lines per axis with zeroed storage.
std::unique_ptr<FdtdEngine> uniformEngine(Geometry& geometry, std::uint32_t n = 5) {
    auto engine = std::make_unique<FdtdEngine>(geometry, 1);
    hand_grid::setMesh(*engine, n, n, n);
    EXPECT_EQ(engine->allocateCoefficients(), 0);
    return engine;
}

GeoCube* addBox(MatMaterial& material, double x0, double y0, double z0, double x1, double y1, double z1) {
    auto cube = std::make_unique<GeoCube>(&material);
    cube->lower[0] = x0, cube->lower[1] = y0, cube->lower[2] = z0;
    cube->upper[0] = x1, cube->upper[1] = y1, cube->upper[2] = z1;
    cube->boundingBox(cube->box);
    GeoCube* raw = cube.get();
    material.shapes.push_back(std::move(cube));
    return raw;
}

MatDielectric& addDielectric(Geometry& geometry, double epsR, double muR = 1.0) {
    auto material = std::make_unique<MatDielectric>();
    material->epsR = epsR;
    material->muR = muR;
    MatDielectric& ref = *material;
    geometry.materials.push_back(std::move(material));
    return ref;
}

MatMetal& addMetal(Geometry& geometry) {
    auto material = std::make_unique<MatMetal>();
    MatMetal& ref = *material;
    geometry.materials.push_back(std::move(material));
    return ref;
}

LumpedElement& addElement(Geometry& geometry, int axis, double R, double C, const double p1[3],
                          const double p2[3]) {
    auto element = std::make_unique<LumpedElement>();
    element->axis = axis;
    element->resistance = R;
    element->capacitance = C;
    for (int k = 0; k < 3; ++k) {
        element->corner1[k] = p1[k];
        element->corner2[k] = p2[k];
    }
    LumpedElement& ref = *element;
    geometry.lumpedElements.push_back(std::move(element));
    return ref;
}

constexpr double kMm = 1e-3;

}  // namespace

TEST(Rasterizer, ShapeQueryKeepsOnlyNearbyShapesOfTheKind) {
    Geometry geometry;
    MatDielectric& near = addDielectric(geometry, 2);
    MatMetal& metal = addMetal(geometry);
    GeoCube* a = addBox(near, 0, 0, 0, 4 * kMm, 4 * kMm, 1 * kMm);  // z 0..1 mm
    addBox(near, 0, 0, 4 * kMm, 4 * kMm, 4 * kMm, 4 * kMm);         // z = 4 mm only
    addBox(metal, 0, 0, 0, 4 * kMm, 4 * kMm, 4 * kMm);
    auto engine = uniformEngine(geometry);
    std::vector<GeoObject*> list;
    // Row z = 2 spans lines 1..3 along z: it reaches the first box, not the second.
    engine->collectShapes(list, -1, 2, 2, MatMaterial::kDielectric);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], a);
    engine->collectShapes(list, -1, 2, 2, MatMaterial::kDielectric | MatMaterial::kMetal);
    EXPECT_EQ(list.size(), 2u);
}

TEST(Rasterizer, InterfaceAveragesPermittivityAndPermeability) {
    Geometry geometry;
    // Lower half (z <= 2 mm) eps_r 3, mu_r 3; vacuum above.
    MatDielectric& slab = addDielectric(geometry, 3, 3);
    addBox(slab, -1, -1, -1, 1, 1, 2 * kMm);
    auto engine = uniformEngine(geometry);
    engine->fillDielectrics();

    // E_x at (2, 2, 2): two of its four quarter-cells lie in the slab: eps = 2 eps0.
    // Uniform 1 mm cells: dual area / length = 1 mm.
    const std::uint32_t ex = engine->fieldIndex(2, 2, 2, 0);
    EXPECT_FLOAT_EQ(engine->caTable[ex], static_cast<float>(2 * kEpsilon0 * kMm));
    // H_z at the same node crosses mu_r 3 below and 1 above: 2 / (1 + 1/3) = 1.5.
    const std::uint32_t hz = engine->fieldIndex(2, 2, 2, 2);
    EXPECT_FLOAT_EQ(engine->daTable[hz], static_cast<float>(1.5 * kMu0 * kMm));
    // E_z at the interface node samples only above the plane z = 2 mm: vacuum.
    EXPECT_FLOAT_EQ(engine->caTable[hz], static_cast<float>(kEpsilon0 * kMm));
    // Deep inside the slab.
    EXPECT_FLOAT_EQ(engine->caTable[engine->fieldIndex(2, 2, 1, 0)], static_cast<float>(3 * kEpsilon0 * kMm));
    // No losses anywhere.
    EXPECT_EQ(engine->cbTable[ex], 0.0f);
    EXPECT_EQ(engine->dbTable[hz], 0.0f);
}

TEST(Rasterizer, BoundaryNodesUseOnlyTheCellsInside) {
    // At a corner node only one quarter-cell exists; in a full dielectric the
    // mean is still the material value, and the sums use the dual cell sizes.
    Geometry geometry;
    MatDielectric& all = addDielectric(geometry, 4);
    addBox(all, -1, -1, -1, 1, 1, 1);
    auto engine = uniformEngine(geometry);
    engine->fillDielectrics();
    // Dual sizes at line 0 are whole cells (1 mm), so g = 1 mm here too.
    EXPECT_FLOAT_EQ(engine->caTable[engine->fieldIndex(0, 0, 0, 0)], static_cast<float>(4 * kEpsilon0 * kMm));
    EXPECT_FLOAT_EQ(engine->daTable[engine->fieldIndex(0, 0, 0, 0)], static_cast<float>(kMu0 * kMm));
}

TEST(Rasterizer, FirstListedDielectricWinsOverlaps) {
    Geometry geometry;
    MatDielectric& first = addDielectric(geometry, 2);
    MatDielectric& second = addDielectric(geometry, 5);
    GeoCube* outer = addBox(first, -1, -1, -1, 1, 1, 1);
    GeoCube* hidden = addBox(second, 1 * kMm, 1 * kMm, 1 * kMm, 3 * kMm, 3 * kMm, 3 * kMm);
    auto engine = uniformEngine(geometry);
    engine->fillDielectrics();
    EXPECT_FLOAT_EQ(engine->caTable[engine->fieldIndex(2, 2, 2, 1)], static_cast<float>(2 * kEpsilon0 * kMm));
    EXPECT_EQ(outer->used, 1);
    EXPECT_EQ(hidden->used, 0);

    // A box that sticks out of the first one claims the points only it contains.
    Geometry other;
    MatDielectric& low = addDielectric(other, 2);
    MatDielectric& high = addDielectric(other, 5);
    GeoCube* bottom = addBox(low, -1, -1, -1, 1, 1, 2 * kMm);
    GeoCube* top = addBox(high, -1, -1, 1 * kMm, 1, 1, 1);
    auto engine2 = uniformEngine(other);
    engine2->fillDielectrics();
    EXPECT_EQ(bottom->used, 1);
    EXPECT_EQ(top->used, 1);
    EXPECT_FLOAT_EQ(engine2->caTable[engine2->fieldIndex(2, 2, 3, 0)], static_cast<float>(5 * kEpsilon0 * kMm));
}

TEST(Rasterizer, PerfectMetalBoxZeroesEdgesWithMidpointInside) {
    Geometry geometry;
    MatMetal& metal = addMetal(geometry);
    GeoCube* box = addBox(metal, 1 * kMm, 1 * kMm, 1 * kMm, 2 * kMm, 2 * kMm, 2 * kMm);
    // Across the last x line (4 mm): the last line's edges are tested at 4.5 mm.
    addBox(metal, 3.8 * kMm, 0, 0, 5 * kMm, 0, 0);
    auto engine = uniformEngine(geometry);
    engine->fillDielectrics();
    engine->fillMetals();
    const float vacuum = static_cast<float>(kEpsilon0 * kMm);
    EXPECT_EQ(engine->caTable[engine->fieldIndex(1, 1, 1, 0)], 0.0f);  // midpoint 1.5 mm: inside
    EXPECT_EQ(engine->caTable[engine->fieldIndex(1, 2, 2, 0)], 0.0f);  // on the box faces: inside
    EXPECT_EQ(engine->caTable[engine->fieldIndex(2, 1, 1, 1)], 0.0f);
    EXPECT_FLOAT_EQ(engine->caTable[engine->fieldIndex(2, 1, 1, 0)], vacuum);  // midpoint 2.5 mm
    EXPECT_FLOAT_EQ(engine->caTable[engine->fieldIndex(0, 1, 1, 0)], vacuum);  // midpoint 0.5 mm
    EXPECT_FLOAT_EQ(engine->caTable[engine->fieldIndex(1, 3, 1, 0)], vacuum);
    EXPECT_EQ(engine->caTable[engine->fieldIndex(4, 0, 0, 0)], 0.0f);
    EXPECT_FLOAT_EQ(engine->caTable[engine->fieldIndex(3, 0, 0, 0)], vacuum);  // midpoint 3.5 mm
    EXPECT_EQ(box->used, 1);
    // Metals leave inductances alone.
    EXPECT_FLOAT_EQ(engine->daTable[engine->fieldIndex(1, 1, 1, 0)], static_cast<float>(kMu0 * kMm));
}

TEST(Rasterizer, ResistiveSheetBecomesStripConductance) {
    Geometry geometry;
    MatMetal& metal = addMetal(geometry);
    // A sheet at z = 2 mm; y lines 2 mm apart make the dual width 2 mm.
    addBox(metal, 0, 0, 2 * kMm, 4 * kMm, 8 * kMm, 2 * kMm);
    auto engine = uniformEngine(geometry);
    for (std::uint32_t i = 0; i < 5; ++i) engine->meshLines[1][i] = i * 2 * kMm;
    engine->sheetResistance = 0.01;
    engine->fillDielectrics();
    const std::uint32_t ex = engine->fieldIndex(1, 2, 2, 0);
    const float capacitance = engine->caTable[ex];
    engine->fillMetals();
    // 2e-3 / (0.01 * 1e-3) = 200 S, capacitance untouched.
    EXPECT_FLOAT_EQ(engine->cbTable[ex], 200.0f);
    EXPECT_EQ(engine->caTable[ex], capacitance);
    // E_y edges (length 2 mm) take the x dual width 1 mm: 1e-3 / (0.01 * 2e-3) = 50 S.
    EXPECT_FLOAT_EQ(engine->cbTable[engine->fieldIndex(1, 2, 2, 1)], 50.0f);
    // Off the sheet nothing changes.
    EXPECT_EQ(engine->cbTable[engine->fieldIndex(1, 2, 1, 0)], 0.0f);
}

TEST(Rasterizer, ResistorOnOneEdgeConductsOneOverR) {
    Geometry geometry;
    const double p1[3] = {1 * kMm, 1 * kMm, 1 * kMm};
    const double p2[3] = {1 * kMm, 1 * kMm, 2 * kMm};
    addElement(geometry, 2, 50, -1, p1, p2);
    auto engine = uniformEngine(geometry);
    engine->fillDielectrics();
    engine->fillLumpedElements();
    EXPECT_FLOAT_EQ(engine->cbTable[engine->fieldIndex(1, 1, 1, 2)], 1.0f / 50);
    EXPECT_EQ(engine->cbTable[engine->fieldIndex(1, 1, 2, 2)], 0.0f);  // only one edge
}

TEST(Rasterizer, WideResistorSplitsIntoParallelEdgesWithEndPlates) {
    Geometry geometry;
    // Two edges side by side along x, two layers along z: per layer 2 edges in
    // parallel, the layers in series, so each edge carries half of 2/R.
    const double p1[3] = {1 * kMm, 1 * kMm, 1 * kMm};
    const double p2[3] = {2 * kMm, 1 * kMm, 3 * kMm};
    addElement(geometry, 2, 100, -1, p1, p2);
    auto engine = uniformEngine(geometry);
    engine->fillDielectrics();
    engine->fillLumpedElements();
    // K = 2 * 1 / (2 * 1 mm); s = K / R; edge conductance s * 1 mm = 0.01 S.
    for (std::uint32_t x : {1u, 2u}) {
        for (std::uint32_t z : {1u, 2u}) {
            EXPECT_FLOAT_EQ(engine->cbTable[engine->fieldIndex(x, 1, z, 2)], 0.01f) << x << "," << z;
        }
    }
    // End plates on z = 1 and z = 3: E_x between the two x lines is shorted.
    EXPECT_EQ(engine->caTable[engine->fieldIndex(1, 1, 1, 0)], 0.0f);
    EXPECT_EQ(engine->caTable[engine->fieldIndex(1, 1, 3, 0)], 0.0f);
    EXPECT_NE(engine->caTable[engine->fieldIndex(1, 1, 2, 0)], 0.0f);  // not between the plates
    EXPECT_NE(engine->caTable[engine->fieldIndex(2, 1, 1, 0)], 0.0f);  // beyond the element
}

TEST(Rasterizer, CapacitorAndShortCircuit) {
    Geometry geometry;
    const double p1[3] = {1 * kMm, 1 * kMm, 1 * kMm};
    const double p2[3] = {1 * kMm, 2 * kMm, 1 * kMm};
    addElement(geometry, 1, -1, 1e-12, p1, p2);  // 1 pF along y, one edge
    const double q1[3] = {3 * kMm, 1 * kMm, 1 * kMm};
    const double q2[3] = {3 * kMm, 2 * kMm, 1 * kMm};
    addElement(geometry, 1, 0, -1, q1, q2);  // short circuit
    const double t1[3] = {1 * kMm, 1 * kMm, 3 * kMm};
    const double t2[3] = {1 * kMm, 2 * kMm, 3 * kMm};
    addElement(geometry, 1, -1, 1e-20, t1, t2);  // below eps0 * K: dropped
    auto engine = uniformEngine(geometry);
    engine->fillDielectrics();
    engine->fillLumpedElements();
    EXPECT_FLOAT_EQ(engine->caTable[engine->fieldIndex(1, 1, 1, 1)], 1e-12f);
    EXPECT_EQ(engine->caTable[engine->fieldIndex(3, 1, 1, 1)], 0.0f);
    EXPECT_FLOAT_EQ(engine->caTable[engine->fieldIndex(1, 1, 3, 1)], static_cast<float>(kEpsilon0 * kMm));
}

TEST(Rasterizer, ZeroLengthElementWarnsAndChangesNothing) {
    Geometry geometry;
    const double p1[3] = {1 * kMm, 1 * kMm, 1 * kMm};
    const double p2[3] = {1 * kMm, 1 * kMm, 1.2 * kMm};  // snaps to the same z line
    addElement(geometry, 2, 50, -1, p1, p2);
    const double bad[3] = {2 * kMm, 2 * kMm, 3 * kMm};
    addElement(geometry, 3, 50, -1, p1, bad);  // no such axis: skipped
    auto engine = uniformEngine(geometry);
    engine->fillDielectrics();
    const std::uint32_t B = engine->blockCount();
    std::vector<float> before(engine->caTable, engine->caTable + 48 * B);
    testing::internal::CaptureStderr();
    engine->fillLumpedElements();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: Omitting component because of zero length.\n");
    EXPECT_TRUE(std::equal(before.begin(), before.end(), engine->caTable));
}
