// Which E edges a metal sheet or box closes where its border lies between mesh
// lines, on a line, at a corner, and where two sheets meet.
#include "tests/TestSupport.hpp"

using namespace fendrix;

using namespace testing_support;

namespace {

struct Edge {
    std::uint32_t x, y, z;
    int c;
    bool metal;
};

struct Case {
    const char* what;
    std::string metal;  // the shape lines of a perfect conductor
    std::vector<Edge> edges;
};

// Sheets lie in the plane z = 1 mm of a 1 mm mesh of 7 x 7 x 3 lines.
std::string polygon(const std::string& vertices) { return "Polygon 0.001 2 " + vertices + "\n"; }

}  // namespace

TEST(MetalEdges, EdgesCrossingTheBorderStayOpen) {
    const std::vector<Case> cases = {
        {"strip edge a third into its cell",
         polygon("0,0.001 0.006,0.001 0.006,0.00333 0,0.00333"),
         {{2, 3, 1, 0, true}, {2, 3, 1, 1, false}, {2, 2, 1, 1, true}, {2, 4, 1, 0, false}}},
        {"strip edge two thirds into its cell: the edges across it stay open",
         polygon("0,0.001 0.006,0.001 0.006,0.00367 0,0.00367"),
         {{2, 3, 1, 0, true}, {2, 3, 1, 1, false}, {2, 4, 1, 0, false}, {2, 0, 1, 1, false}}},
        {"edges on the border and into the corners",
         polygon("0.001,0.001 0.004,0.001 0.004,0.003 0.001,0.003"),
         {{1, 1, 1, 0, true}, {1, 1, 1, 1, true}, {3, 1, 1, 0, true}, {4, 1, 1, 1, true},
          {1, 3, 1, 0, true}, {3, 3, 1, 0, true}, {4, 2, 1, 1, true}, {1, 2, 1, 1, true},
          {0, 1, 1, 0, false}, {4, 1, 1, 0, false}, {1, 3, 1, 1, false}, {1, 0, 1, 1, false}}},
        {"a stub meeting a strip between lines stays connected",
         polygon("0,0.001 0.006,0.001 0.006,0.00233 0,0.00233") +
             polygon("0.002,0.00233 0.004,0.00233 0.004,0.005 0.002,0.005"),
         {{2, 2, 1, 1, true}, {3, 2, 1, 1, true}, {4, 2, 1, 1, true}, {1, 2, 1, 1, false},
          {2, 4, 1, 1, true}, {2, 5, 1, 1, false}}},
        {"box face two thirds into its cell",
         "Cube 0.001,0.001,0 0.00367,0.004,0.002\n",
         {{3, 2, 1, 1, true}, {2, 2, 1, 0, true}, {3, 2, 1, 0, false}, {3, 2, 0, 2, true},
          {4, 2, 0, 2, false}}},
    };
    for (const Case& test : cases) {
        auto sim = simulationOf("Sim 0 1e-3 4 out.dat\nFreq 2 1e9 5e9 5\nBoundary 0 0 0 0 0 0\n" +
                                    meshLine('x', 7, 1e-3) + meshLine('y', 7, 1e-3) + meshLine('z', 3, 1e-3) +
                                    "Metal 0 0 0\n" + test.metal + "/\n",
                                1, false);
        ASSERT_NE(sim, nullptr) << test.what;
        FdtdEngine& e = *sim->engine;
        e.fillDielectrics();
        e.fillMetals();
        for (const Edge& edge : test.edges) {
            EXPECT_EQ(e.caTable[e.fieldIndex(edge.x, edge.y, edge.z, edge.c)] == 0.0f, edge.metal)
                << test.what << ": " << "xyz"[edge.c] << " edge at node " << edge.x << "," << edge.y << ","
                << edge.z;
        }
    }
}

// A strip narrower than a cell, with no mesh line inside it, closes no edge:
// the shape is left unused, so that the run warns about it.
TEST(MetalEdges, StripBetweenLinesIsUnused) {
    auto sim = simulationOf("Sim 0 1e-3 4 out.dat\nFreq 2 1e9 5e9 5\nBoundary 0 0 0 0 0 0\n" + meshLine('x', 7, 1e-3) +
                                meshLine('y', 7, 1e-3) + meshLine('z', 3, 1e-3) + "Metal 0 0 0\n" +
                                polygon("0,0.0012 0.006,0.0012 0.006,0.0018 0,0.0018") + "/\n",
                            1, false);
    ASSERT_NE(sim, nullptr);
    FdtdEngine& e = *sim->engine;
    e.fillDielectrics();
    e.fillMetals();
    EXPECT_EQ(e.geometry.materials[0]->shapes[0]->used, 0);
    for (std::uint32_t x = 0; x < 7; ++x) EXPECT_NE(e.caTable[e.fieldIndex(x, 1, 1, 1)], 0.0f) << x;
}
