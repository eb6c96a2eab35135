#include <gtest/gtest.h>

#include <string>

#include "driver/Simulation.hpp"
#include "driver/Verbosity.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "probes/Probe.hpp"
#include "results/Results.hpp"

namespace {

// An engine with a small hand-made mesh, the element part parsed on its own.
struct ElementFixture : ::testing::Test {
    Geometry geometry;
    Results results;
    FdtdEngine engine{geometry, 1};
    Excitation excitation{&engine};
    std::string text;
    std::string err;

    ElementFixture() {
        for (int axis = 0; axis < 3; ++axis) {
            engine.meshLines[axis] = {-0.002, -0.001, 0, 0.0005, 0.001, 0.002, 0.003};
            engine.lineCount[axis] = 7;
        }
        results.addFrequencies(1e9, 3e9, 3);
    }

    int parse(std::string elements) {
        text = std::move(elements);
        testing::internal::CaptureStderr();
        const int error = geometry.parseElements(text.data(), engine, results, excitation);
        err = testing::internal::GetCapturedStderr();
        return error;
    }
};

}  // namespace

TEST_F(ElementFixture, EmptyPartAndMaterialsWithoutShapes) {
    EXPECT_EQ(parse(""), 0);
    EXPECT_EQ(parse("Metal 0 0 0\n/\nDielectric 4.4 0\n/ end of substrate\n"), 0);
    ASSERT_EQ(geometry.materials.size(), 2u);
    EXPECT_EQ(geometry.materials[0]->kind, MatMaterial::kMetal);
    EXPECT_EQ(geometry.materials[1]->kind, MatMaterial::kDielectric);
    EXPECT_TRUE(geometry.materials[0]->shapes.empty());
}

TEST_F(ElementFixture, ShapesBelongToTheMaterialAboveThem) {
    ASSERT_EQ(parse("Dielectric 4.4 0.02\nCube 0,0,0 0.001,0.001,0.001\n   Cylinder 0.001 0,0,0 0,0,0.002\n/\n"
                    "Metal 0 0 0\nPolygon 0 2 0,0 0.001,0 0.001,0.001\n/\n"),
              0);
    ASSERT_EQ(geometry.materials.size(), 2u);
    ASSERT_EQ(geometry.materials[0]->shapes.size(), 2u);
    ASSERT_EQ(geometry.materials[1]->shapes.size(), 1u);
    EXPECT_NE(dynamic_cast<GeoCylinder*>(geometry.materials[0]->shapes[1].get()), nullptr);
    EXPECT_EQ(geometry.materials[1]->shapes[0]->material, geometry.materials[1].get());
}

TEST_F(ElementFixture, ErrorsOfTheElementPart) {
    struct Case { const char* text; int error; };
    const Case cases[] = {
        {"Metal 0 0 0\n/\n\n", -101},                     // an empty line at the end
        {"Electric", -101},
        {"Copper 1 2 3\n/\n", -102},
        {" Metal 0 0 0\n/\n", -102},                      // a line starting with a blank
        {"Metal 0 0 0\nSphere 1\n/\n", -103},
        {"Metal 0 0 0\n /\n", -103},                      // indented end line
        {"Metal 0 0 0\n/", -103},                         // no line feed after the end line
        {"Metal 0 0 0\nCube 0,0,0 1,1,1", -103},          // text ends without the end line
        {"Metal 0 0 0\nPolygon 0 3 0,0 1,0 1,1\n/\n", -103},
        {"Metal 0 0 0\nCube\n/\n", -103},                 // no blank after the keyword
        {"Metal 1.7e-8 35e-6\n/\n", -104},
        {"Dielectric 0 0\n/\n", -104},
        {"Dielectric -2.5 0\n/\n", -104},
        {"Electric 1 3 50 x 0,0,0 0,0,0.001\n", -105},    // direction code without an axis
        {"Electric 1 7 50 x 0,0,0 0,0,0.001\n", -105},
        {"Electric 1 2 50 x 0,0,0 0,0\n", -105},
        {"Electric 1 2 50x x 0,0,0 0,0,0.001\n", -105},
        {"Electric 1 2 50 xx 0,0,0 0,0,0.001\n", -105},
        {"Electric 1,2 50 x 0,0,0 0,0,0.001\n", -105},
    };
    for (const auto& c : cases) {
        Geometry fresh;
        FdtdEngine freshEngine(fresh, 1);
        freshEngine.meshLines = engine.meshLines;
        freshEngine.lineCount = engine.lineCount;
        Results freshResults;
        Excitation freshExcitation(&freshEngine);
        std::string t = c.text;
        EXPECT_EQ(fresh.parseElements(t.data(), freshEngine, freshResults, freshExcitation), c.error) << c.text;
        // The object whose line failed is registered nowhere.
        EXPECT_TRUE(fresh.lumpedElements.empty()) << c.text;
        EXPECT_TRUE(freshEngine.probes.empty()) << c.text;
        if (c.error == -104) {
            EXPECT_TRUE(fresh.materials.empty()) << c.text;
        }
    }
}

TEST_F(ElementFixture, FailedShapeLeavesEarlierShapesInPlace) {
    EXPECT_EQ(parse("Metal 0 0 0\nCube 0,0,0 1,1,1\nCube 0,0,0 1,1\n/\n"), -103);
    ASSERT_EQ(geometry.materials.size(), 1u);
    EXPECT_EQ(geometry.materials[0]->shapes.size(), 1u);
}

TEST_F(ElementFixture, PortNumbersMustBeOneToN) {
    const std::string port1 = "Electric 1 2 50 x 0,0,0 0,0,0.001\n";
    EXPECT_EQ(parse(port1 + port1), -106);
    EXPECT_EQ(err, "ERROR: Port 1 is defined twice.\n");
    results.ports.clear();
    EXPECT_EQ(parse(port1 + "Electric 4 2 50 x 0.001,0,0 0.001,0,0.001\nElectric 2 2 50 x 0.002,0,0 0.002,0,0.001\n"),
              -106);
    EXPECT_EQ(err, "ERROR: Port 4 is out of range: ports must be numbered 1 to 3.\n");
}

TEST_F(ElementFixture, NoPortsAtAllIsAccepted) {
    EXPECT_EQ(parse("Electric 0 1 100 x 0,0,0 0,0.001,0\n"), 0);
    EXPECT_EQ(err, "");
    ASSERT_EQ(geometry.lumpedElements.size(), 1u);
    const LumpedElement& r = *geometry.lumpedElements[0];
    EXPECT_EQ(r.axis, 1);
    EXPECT_EQ(r.resistance, 100.0);
    EXPECT_EQ(r.capacitance, -1.0);
    EXPECT_TRUE(engine.probes.empty());
    EXPECT_TRUE(results.ports.empty());
    EXPECT_EQ(results.sourceCurrent, nullptr);
    EXPECT_EQ(excitation.excitedAxis, -1);
}

TEST_F(ElementFixture, PortOneCreatesProbesAndTheExcitedPort) {
    const int saved = verboseLevel;
    verboseLevel = 1;
    testing::internal::CaptureStdout();
    const int error = parse("Electric 1 2 50 x 0,0,0 0,0,0.001\n");
    const std::string out = testing::internal::GetCapturedStdout();
    verboseLevel = saved;
    ASSERT_EQ(error, 0);
    EXPECT_EQ(out,
              "Electric 1 2 50 -1 # 0,0,0 0,0,0.001\n"
              "VoltProbe 1 0,0,0 0,0,0.001\n"
              "CurrProbe 1 0,0,0.0005 0,0,0.0005\n");

    ASSERT_EQ(geometry.lumpedElements.size(), 1u);
    const LumpedElement& e = *geometry.lumpedElements[0];
    EXPECT_EQ(e.axis, 2);
    EXPECT_EQ(e.resistance, 50.0);
    EXPECT_EQ(e.capacitance, -1.0);
    EXPECT_EQ(e.corner2[2], 0.001);

    ASSERT_EQ(engine.probes.size(), 2u);  // voltage probe first, then the current probe
    auto* voltage = dynamic_cast<VoltageProbe*>(engine.probes[0].get());
    auto* current = dynamic_cast<CurrentProbe*>(engine.probes[1].get());
    ASSERT_NE(voltage, nullptr);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(dynamic_cast<CurrentProbe*>(voltage), nullptr);
    EXPECT_EQ(voltage->portNumber, 1);
    EXPECT_EQ(voltage->referenceImpedance, -50.0);
    EXPECT_EQ(voltage->direction, -1);
    EXPECT_EQ(current->portNumber, 1);
    EXPECT_EQ(current->referenceImpedance, -50.0);
    EXPECT_EQ(current->direction, 2);
    EXPECT_EQ(current->frequencies, &results.frequencies);
    ASSERT_EQ(results.ports.size(), 1u);
    EXPECT_EQ(results.ports[0], voltage);
    EXPECT_EQ(results.sourceCurrent, current);

    EXPECT_EQ(excitation.excitedAxis, 2);
    const double box[6] = {0, 0, 0, 0, 0, 0.001};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(excitation.portBox[i], box[i]) << i;
}

TEST_F(ElementFixture, DirectionCodeAndMissingResistanceSetTheImpedanceSign) {
    ASSERT_EQ(parse("Electric 1 6 50 x 0,0,0 0,0,0.001\nElectric 2 2 x 1e-12 0.001,0,0 0.001,0,0.001\n"
                    "Electric 3 4 x x 0,0.001,0 0.001,0.001,0\n"),
              0);
    ASSERT_EQ(results.ports.size(), 3u);
    EXPECT_EQ(geometry.lumpedElements[0]->axis, 2);  // only the low two bits stay
    EXPECT_EQ(results.ports[0]->referenceImpedance, 50.0);
    EXPECT_EQ(results.ports[1]->referenceImpedance, 1.0);   // -(-1): no resistor, code up to 2
    EXPECT_EQ(results.ports[2]->referenceImpedance, -1.0);  // unchanged -1 for codes above 2
    EXPECT_EQ(geometry.lumpedElements[1]->resistance, -1.0);
    EXPECT_EQ(geometry.lumpedElements[1]->capacitance, 1e-12);
    EXPECT_EQ(geometry.lumpedElements[2]->axis, 0);
    EXPECT_EQ(results.sourceCurrent->referenceImpedance, 50.0);
    EXPECT_EQ(engine.probes.size(), 4u);  // port 1 alone has a current probe
}

TEST_F(ElementFixture, PortsKeepTheOrderOfTheirLines) {
    ASSERT_EQ(parse("Electric 2 2 50 x 0.001,0,0 0.001,0,0.001\nMetal 0 0 0\n/\n"
                    "Electric 1 2 50 x 0,0,0 0,0,0.001"),  // the last line without a line feed
              0);
    ASSERT_EQ(results.ports.size(), 2u);
    EXPECT_EQ(results.ports[0]->portNumber, 2);
    EXPECT_EQ(results.ports[1]->portNumber, 1);
    EXPECT_EQ(results.sourceCurrent, engine.probes[2].get());
    EXPECT_EQ(geometry.materials.size(), 1u);
}

TEST_F(ElementFixture, ReversedCornersAreSortedBeforeTheEcho) {
    const int saved = verboseLevel;
    verboseLevel = 1;
    testing::internal::CaptureStdout();
    const int error = parse("Electric 0 0 10 2e-12 0.002,0.001,0.001 0,0,0\n");
    const std::string out = testing::internal::GetCapturedStdout();
    verboseLevel = saved;
    ASSERT_EQ(error, 0);
    EXPECT_EQ(out, "Electric 0 0 10 2e-12 # 0,0,0 0.002,0.001,0.001\n");
    const LumpedElement& e = *geometry.lumpedElements[0];
    EXPECT_EQ(e.corner1[0], 0.0);
    EXPECT_EQ(e.corner2[0], 0.002);
    EXPECT_EQ(e.corner2[1], 0.001);
}

TEST(ElementDescription, EveryLineEchoedAtVerbosityOne) {
    std::string text =
        "# a whole description\n"
        "Sim 5 1e-6 4 out.dat\n"
        "Freq 2 1e9 3e9 3\n"
        "Radiation 2e9 72 36 3\n"
        "Boundary 2 2 2 2 2 2\n"
        "xMesh -0.002,-0.001,0,0.001,0.002\n"
        "yMesh -0.002,-0.001,0,0.001,0.002\n"
        "zMesh 0,0.0005,0.001,0.0015\n"
        "Dielectric 4.4 0\n"
        "Cube -0.002,-0.002,0 0.002,0.002,0.001\n"
        "/\n"
        "Metal 1.7e-8 1e-6 0\n"
        " Polygon 0.001 2 -0.001,-0.001 0.001,-0.001 0.001,0.001 -0.001,0.001\n"
        "  Cylinder 0.0005 0,0,0 0,0,0.001\n"
        "/\n"
        "Electric 1 2 50 x 0,0,0 0,0,0.001\n"
        "Electric 2 1 50 1e-12 0.001,0,0 0.001,0.001,0\n";
    Simulation sim(1);
    const int saved = verboseLevel;
    verboseLevel = 1;
    testing::internal::CaptureStdout();
    const int error = sim.parse(text.data());
    std::string out = testing::internal::GetCapturedStdout();
    verboseLevel = saved;
    ASSERT_EQ(error, 0);
    // The storage's own domain-size line is not this parser's echo.
    const auto domain = out.find("Domain size: ");
    ASSERT_NE(domain, std::string::npos);
    out.erase(domain, out.find('\n', domain) + 1 - domain);
    EXPECT_EQ(out,
              "Mesh -0.002...0.002, -0.002...0.002,  0...0.0015\n"
              "Dielectric 4.4 0\n"
              "Box -0.002,-0.002,0 0.002,0.002,0.001\n"
              "Metal 1.7e-08 1e-06 0\n"
              "Polygon 0.001 2  -0.001,-0.001 0.001,-0.001 0.001,0.001\n"
              "Cylinder 0.0005  0,0,0  0,0,0.001\n"
              "Electric 1 2 50 -1 # 0,0,0 0,0,0.001\n"
              "VoltProbe 1 0,0,0 0,0,0.001\n"
              "CurrProbe 1 0,0,0.0005 0,0,0.0005\n"
              "Electric 2 1 50 1e-12 # 0.001,0,0 0.001,0.001,0\n"
              "VoltProbe 2 0.001,0,0 0.001,0.001,0\n");
    EXPECT_EQ(sim.geometry.materials.size(), 2u);
    EXPECT_EQ(sim.results.ports.size(), 2u);
}
