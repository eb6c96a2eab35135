// The description parser: every malformed line gives its number, a whole
// description is read and echoed as written, material and shape lines.
#include "input/ParseLocation.hpp"
#include "probes/Probe.hpp"
#include "tests/TestSupport.hpp"

using namespace fendrix;

using namespace testing_support;

namespace {

const std::string kSim = "Sim 5 1e-6 4 out.dat\n", kFreq = "Freq 2 1e9 3e9 11\n",
                  kBoundary = "Boundary 2 2 2 2 2 2\n",
                  kMesh = "xMesh 0,0.001,0.002\nyMesh 0,0.001,0.002\nzMesh 0,0.001,0.002\n";

int parse(std::string text, Simulation& sim) {
    return captured(0, [&] { return sim.parse(text.data()); }).status;
}

}  // namespace

TEST(Input, MalformedDescriptionsGiveTheirNumbers) {
    const std::string s = kSim, f = kFreq, b = kBoundary, head = kSim + kFreq + kBoundary + kMesh;
    const std::string port = "Electric 1 2 50 x 0,0,0 0,0,0.001\n";
    const std::vector<std::pair<std::string, int>> cases = {
        {"", -2}, {"# only a comment", -1}, {"# one\n# two", -1}, {"Sim\t5 1e-6 4 out\n", -2},
        {"# c\nSimulation 5 1e-6 4 out\n", -2}, {"Sim x 1e-6 4 out\n", -3}, {"Sim 5,1e-6 4 out\n", -3},
        {"Sim 5 y 4 out\n", -4}, {"Sim 5 1e-6 4\tout\n", -5}, {"Sim 5 1e-6 0 out\n", -22},
        {"Sim 5 1e-6 1 out\n", -7}, {"Sim 5 1e-6 4 out", -6}, {s + "Frq 2 1e9 3e9 11\n", -7},
        {s + "Freq 22 1e9 3e9 11\n", -8}, {s + "Freq 2 1e9,3e9 11\n", -9}, {s + "Freq 2 1e9 3e9\n", -9},
        {s + "Freq 2 1e9 3e9 11 \n", -10}, {"Sim 5 1e-6 4 out\r\nFreq 2 1e9 3e9 11\r\n", -10},
        {s + "Freq 9 1e9 3e9 11\n" + b, -12}, {s + "Freq 2 1e9 3e9 100001\n" + b, -25},
        {s + f + "Radiation x 72 36 3\n" + b, -16}, {s + f + "Radiation 2e9 72,36 3\n" + b, -17},
        {s + f + "Radiation 2e9 72 36,3\n" + b, -18}, {s + f + "Radiation 2e9 72 36 3", -19},
        {s + f + "Radiation 2e9 72 1 3\n" + b, -23}, {s + f + "Radiation 2e9 1 36 3\n" + b, -23},
        {s + f + "Radiation 2e9 3602 36 3\n" + b, -23},
        {s + f + "Radiation 0 72 36 3\n" + b, -24}, {s + f + "Radiation 3e9 72 36 3\n" + b, -20},
        {s + f + "Radiation 3.1e9 72 36 3\n" + b, -24}, {s + "Freq 2 1e9 3e9 0\nRadiation 2e9 72 36 3\n", -24},
        {s + f + "Boundry 2 2 2 2 2 2\n", -13}, {s + f + "Boundary 2 2 2 2 2\n", -14},
        {s + f + "Boundary 2 2 2 2 2 2 \n", -15}, {s + f + "Boundary 2 2 2 2 2 ", -15}, {s + f + b, -20},
        {s + f + b + "xMesh 0,1,2,\nyMesh 0,1,2\nzMesh 0,1,2\n", -20},
        {s + f + b + "Mesh 0,1,2\nyMesh 0,1,2\nzMesh 0,1,2\n", -20},
        {s + f + b + "xMesh 0 1 2\nyMesh 0,1,2\nzMesh 0,1,2\n", -20},
        {s + f + b + "xMesh 0,1,2\nyMesh 0,1,2\nzMes", -20},
        {s + f + b + "xMesh 0,a,2\nyMesh 0,1,2\nzMesh 0,1,2\n", -20},
        {s + f + b + "xMesh 0,1\nyMesh 0,1,2\nzMesh 0,1,2\n", -20},
        {s + f + b + "xMesh 0,2,1\nyMesh 0,1,2\nzMesh 0,1,2\n", -20},
        {s + f + b + "xMesh 0,1,2\nyMesh 0,1,2\nzMesh 0,1e-9,nan\n", -20},
        {s + f + b + meshLine('x', 1300, 1) + meshLine('y', 1000, 1) + meshLine('z', 80, 1), -21},
        {head + "Metal 0 0 0\n/\n\n", -101}, {head + "Electric", -101}, {head + "Copper 1 2 3\n/\n", -102},
        {head + " Metal 0 0 0\n/\n", -102}, {head + "Metal 0 0 0\nSphere 1\n/\n", -103},
        {head + "Metal 0 0 0\n /\n", -103}, {head + "Metal 0 0 0\n/", -103},
        {head + "Metal 0 0 0\nCube 0,0,0 1,1,1", -103}, {head + "Metal 0 0 0\nCube 0,0,0 1,1\n/\n", -103},
        {head + "Metal 0 0 0\nPolygon 0 3 0,0 1,0 1,1\n/\n", -103},
        {head + "Metal 0 0 0\nPolygon 0 2 0,0 1,0 1,1 \n/\n", -103},
        {head + "Metal 0 0 0\nCylinder 0.1 0,0,0 0,0,1 \n/\n", -103}, {head + "Metal 1.7e-8 35e-6\n/\n", -104},
        {head + "Metal 1.7e-8 35e-6 0 \n/\n", -104}, {head + "Dielectric 0 0\n/\n", -104},
        {head + "Dielectric nan 0\n/\n", -104}, {head + "Electric 1 3 50 x 0,0,0 0,0,0.001\n", -105},
        {head + "Electric 1 7 50 x 0,0,0 0,0,0.001\n", -105}, {head + "Electric 1 2 50 x 0,0,0 0,0\n", -105},
        {head + "Electric 1 2 50x x 0,0,0 0,0,0.001\n", -105}, {head + "Electric 1,2 50 x 0,0,0 0,0,1\n", -105},
        {head + port + port, -106}, {head + port + "Electric 3 2 50 x 0.001,0,0 0.001,0,0.001\n", -106},
    };
    const std::string fallback = parseErrorMeaning(12345);
    for (const auto& [text, error] : cases) {
        Simulation sim(1);
        EXPECT_EQ(parse(text, sim), error) << text;
        EXPECT_NE(parseErrorMeaning(error), fallback) << error;
        // The object whose line failed is registered nowhere.
        if (error <= -101 && error != -106) {
            EXPECT_TRUE(sim.engine->probes.empty()) << text;
        }
    }
    Simulation late(1);
    EXPECT_EQ(parse(head + "Metal 0 0 0\n/\nElectric x\n", late), -105);
    EXPECT_EQ(parseLocation.line, 9u);  // line feeds overwritten with NUL still count
}

// A whole description at verbosity 1: each line echoed as it is understood,
// and the objects it creates, in line order.
TEST(Input, WholeDescriptionIsReadAndEchoed) {
    std::string text =
        "# a whole description\n#\n"
        "Sim 7 1e-5 8  my out.dat\r\nFreq 2 1e9 3e9 3\nRadiation 2e9 72 36 3\nBoundary 0 1 2 x 2 2\n"
        "xMesh -0.002,-0.001,0,0.001,0.002\n Mesh -0.002, -0.001,0,0.001,0.002\n7Mesh 0,0.0005,0.001,0.0015\n"
        "Dielectric 4.4 0\nCube 0.002,0.002,0 -0.002,-0.002,0.001\n/\n"
        "Metal 1.7e-8 1e-6 0\n Polygon 0.001 2 -0.001,-0.001 0.001,-0.001 0.001,0.001 -0.001,0.001\n"
        "  Cylinder 0.0005 0,0,0 0,0,0.001\n/ end\n"
        "Electric 2 2 50 1e-12 0.001,0,0.001 0.001,0,0\nElectric 0 0 10 x 0,0,0 0.001,0,0\n"
        "Electric 1 6 50 x 0,0,0 0,0.001,0.001";
    Simulation sim(1);
    const Output r = captured(1, [&] { return sim.parse(text.data()); });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Mesh -0.002...0.002, -0.002...0.002,  0...0.0015\n"
              "Domain size: 5 x 5 x 4 cells, 0 MBytes\n"
              "Dielectric 4.4 0\nBox -0.002,-0.002,0 0.002,0.002,0.001\n"
              "Metal 1.7e-08 1e-06 0\nPolygon 0.001 2  -0.001,-0.001 0.001,-0.001 0.001,0.001\n"
              "Cylinder 0.0005  0,0,0  0,0,0.001\n"
              "Electric 2 2 50 1e-12 # 0.001,0,0 0.001,0,0.001\nVoltProbe 2 0.001,0,0 0.001,0,0.001\n"
              "Electric 0 0 10 -1 # 0,0,0 0.001,0,0\n"
              "Electric 1 6 50 -1 # 0,0,0 0,0.001,0.001\nVoltProbe 1 0,0.0005,0 0,0.0005,0.001\n"
              "CurrProbe 1 0,0,0.0005 0,0.001,0.0005\n");
    EXPECT_EQ(sim.maxTimeFactor, 7u);
    EXPECT_EQ(sim.energyThreshold, 1e-5);
    EXPECT_EQ(sim.samplesPerNyquist, 8u);
    EXPECT_EQ(sim.results.fileName, " my out.dat\r");  // the rest of the line, as written
    EXPECT_EQ(sim.results.frequencies, (std::vector<double>{1e9, 2e9, 3e9}));
    EXPECT_EQ(sim.radiation->azimuthCount, 73u);  // made odd: one direction at 0
    EXPECT_EQ(sim.radiation->elevationCount, 37u);
    EXPECT_EQ(sim.engine->boundaryKind, (std::array<std::uint32_t, 6>{0, 1, 2, 72, 2, 2}));
    // Ports in line order; the sign of the impedance carries the orientation
    // (codes above 2 flip it); port 1 alone has a current probe and the source.
    ASSERT_EQ(sim.results.ports.size(), 2u);
    EXPECT_EQ(sim.results.ports[0]->referenceImpedance, -50.0);
    EXPECT_EQ(sim.results.ports[1]->referenceImpedance, 50.0);
    EXPECT_EQ(sim.results.sourceCurrent, sim.engine->probes[2].get());
    EXPECT_EQ(sim.results.sourceCurrent->direction, 2);
    EXPECT_EQ(sim.excitation->excitedAxis, 2);
}

// Sheet resistance of a metal at the band centre (2 GHz) against textbook
// values: skin depth sqrt(rho / (pi f mu0)), Rs = rho / min(t, delta), times the
// roughness factor 1 + (2/pi) atan(1.4 (r / delta)^2); conductivity of a
// dielectric from its loss tangent, 2 pi f eps0 epsR tan d.
TEST(Input, MaterialsTakeTheirValuesAtTheBandCentre) {
    const std::string head = kSim + "Freq 2 1e9 3e9 5\n" + kBoundary + kMesh;
    const double copperRs = 0.011585621254590334;  // thick copper: rho / delta
    const std::vector<std::pair<std::string, double>> metals = {
        {"1.7e-8 35e-6 0", copperRs},
        {"1.7e-8 1e-6 0", 0.017},  // thinner than the skin depth
        {"1.7e-8 35e-6 2e-6", 0.02046398677191384},
        {"1.7e-8 35e-6 0\n/\nMetal 0 35e-6 0", copperRs},  // a perfect conductor keeps the earlier sheet
    };
    for (const auto& [line, rs] : metals) {
        Simulation sim(1);
        ASSERT_EQ(parse(head + "Metal " + line + "\n/\n", sim), 0) << line;
        EXPECT_NEAR(sim.engine->sheetResistance, rs, rs * 1e-9) << line;
    }
    Simulation dc(1);  // no frequencies: the whole thickness carries the current
    ASSERT_EQ(parse(kSim + "Freq 2 1e9 3e9 0\n" + kBoundary + kMesh + "Metal 1.7e-8 35e-6 1e-6\n/\n", dc), 0);
    EXPECT_NEAR(dc.engine->sheetResistance, 1.7e-8 / 35e-6, 1e-15);
    Simulation fr4(1);
    ASSERT_EQ(parse(head + "Dielectric 4.4 0.02\n/\n", fr4), 0);
    EXPECT_NEAR(static_cast<MatDielectric&>(*fr4.geometry.materials[0]).sigma, 0.009791320493271412, 1e-15);
}

// Which points each shape holds: boxes with their faces, cylinders with their
// surfaces and end faces, polygons by the non-zero winding rule with
// axis-parallel edges included, only in their plane.
TEST(Input, ShapesHoldTheirPoints) {
    struct Case { const char* shape; double p[3]; bool inside; };
    const Case cases[] = {
        {"Cube 0.002,0.003,0.001 0,0.001,0.004", {0, 0.001, 0.001}, true},
        {"Cube 0.002,0.003,0.001 0,0.001,0.004", {0.002, 0.002, 0.0025}, true},
        {"Cube 0.002,0.003,0.001 0,0.001,0.004", {0.0020001, 0.002, 0.002}, false},
        {"Cube 0.002,0.003,0.001 0,0.001,0.004", {0.001, 0.002, 0.0009999}, false},
        {"Cylinder 0.1 0,0,0 0,0,1", {0.1, 0, 0.5}, true},
        {"Cylinder 0.1 0,0,0 0,0,1", {0.05, 0, 0}, true},
        {"Cylinder 0.1 0,0,0 0,0,1", {0, 0, 1.0001}, false},
        {"Cylinder 0.1 0,0,0 0,0,1", {0.08, 0.08, 0.5}, false},
        {"Cylinder 0.5 0,0,0 1,2,3", {0.5, 1, 1.5}, true},
        {"Cylinder 0.1 1,1,1 1,1,1", {1, 1, 1}, false},
        {"Polygon 0.001 2 0,0 2,0 2,2 0,2", {1, 1, 0.001}, true},
        {"Polygon 0.001 2 0,0 2,0 2,2 0,2", {1, 1, 0.0010001}, false},
        {"Polygon 0.001 2 0,0 2,0 2,2 0,2", {0, 1, 0.001}, true},
        {"Polygon 0.001 2 0,0 2,0 2,2 0,2", {1, 0, 0.001}, true},
        {"Polygon 0.001 2 0,0 0,2 2,2 2,0", {1, 1, 0.001}, true},
        {"Polygon 0.001 2 0,0 0,2 2,2 2,0", {3, 1, 0.001}, false},
        {"Polygon 0.5 0 0,0 2,0 2,1 1,1 1,2 0,2", {0.5, 1.5, 0.5}, true},
        {"Polygon 0.5 0 0,0 2,0 2,1 1,1 1,2 0,2", {0.5, 1.5, 1.5}, false},
        {"Polygon 0.5 0 0,0 2,0 2,1 1,1 1,2 0,2", {0.5, 1.5, 1}, true},
        {"Polygon 0 1 0,0 3,0 3,1", {0.2, 0, 2.0}, true},
        {"Polygon 0 1 0,0 3,0 3,1", {0.8, 0, 1.0}, false},
    };
    for (const Case& c : cases) {
        Simulation sim(1);
        ASSERT_EQ(parse(kSim + kFreq + kBoundary + kMesh + "Metal 0 0 0\n" + c.shape + "\n/\n", sim), 0);
        EXPECT_EQ(sim.geometry.materials[0]->shapes[0]->contains(c.p), c.inside)
            << c.shape << " at " << c.p[0] << "," << c.p[1] << "," << c.p[2];
    }
}
