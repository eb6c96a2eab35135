#include <gtest/gtest.h>

#include <string>

#include "driver/Verbosity.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "input/MeshParser.hpp"

namespace {

struct MeshFixture : ::testing::Test {
    Geometry geometry;
    FdtdEngine engine{geometry, 1};
    std::string text;
    int error = 0;

    char* parse(std::string description) {
        text = std::move(description);
        error = 0;
        return parseMeshLines(text.data(), engine, error);
    }
};

}  // namespace

TEST_F(MeshFixture, AnyFirstCharacterAndBlanksAfterCommas) {
    char* rest = parse("xMesh 0,0.001,0.003\n Mesh 0, 0.5,  1, 2\n7Mesh -1,0,1\nMetal 0 0 0\n/\n");
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(std::string(rest), "Metal 0 0 0\n/\n");
    EXPECT_EQ(engine.lineCount[0], 3u);
    EXPECT_EQ(engine.lineCount[1], 4u);
    EXPECT_EQ(engine.lineCount[2], 3u);
    EXPECT_EQ(engine.meshLines[0], (std::vector<double>{0, 0.001, 0.003}));
    EXPECT_EQ(engine.meshLines[1], (std::vector<double>{0, 0.5, 1, 2}));
    EXPECT_EQ(engine.meshLines[2], (std::vector<double>{-1, 0, 1}));
}

TEST_F(MeshFixture, EndOfTextAfterTheLastValueMeansNoElements) {
    char* rest = parse("xMesh 0,1,2\nyMesh 0,1,2\nzMesh 0,1,2");
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(*rest, '\0');
    EXPECT_EQ(rest, text.data() + text.size());
}

TEST_F(MeshFixture, MalformedLinesFail) {
    const char* const bad[] = {
        "xMesh 0,1,2,\nyMesh 0,1,2\nzMesh 0,1,2\n",    // trailing comma: one value too few
        "Mesh 0,1,2\nyMesh 0,1,2\nzMesh 0,1,2\n",       // keyword in the first column
        "x Mesh 0,1,2\nyMesh 0,1,2\nzMesh 0,1,2\n",    // two leading characters
        "xMesh 0 1 2\nyMesh 0,1,2\nzMesh 0,1,2\n",     // blanks instead of commas
        "xMesh 0,1,2\nyMesh 0,1,2\n",                   // z line missing
        "xMesh 0,1,2\nyMesh 0,1,2\nzMes",               // text ends inside the keyword
        "xMesh 0,1,2\nyMesh 0,1,2\nz",                  // text ends after the first character
        "xMesh\nyMesh 0,1,2\nzMesh 0,1,2\n",            // no blank after the keyword
        "xMesh 0,a,2\nyMesh 0,1,2\nzMesh 0,1,2\n",
    };
    for (const char* description : bad) {
        EXPECT_EQ(parse(description), nullptr) << description;
        EXPECT_EQ(error, -20) << description;
    }
}

TEST_F(MeshFixture, StorageRejectsMeshesTheGridCannotUse) {
    EXPECT_EQ(parse("xMesh 0,1\nyMesh 0,1,2\nzMesh 0,1,2\n"), nullptr);  // two lines only
    EXPECT_EQ(error, -20);
    EXPECT_EQ(parse("xMesh 0,2,1\nyMesh 0,1,2\nzMesh 0,1,2\n"), nullptr);  // not ascending
    EXPECT_EQ(error, -20);
}

TEST_F(MeshFixture, EchoComesBeforeTheDomainSize) {
    const int saved = verboseLevel;
    verboseLevel = 1;
    testing::internal::CaptureStdout();
    char* rest = parse("xMesh 0,0.001,0.002\nyMesh -1,0,1\nzMesh 5,6,7.5\n");
    const std::string out = testing::internal::GetCapturedStdout();
    verboseLevel = saved;
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(out.rfind("Mesh 0...0.002, -1...1,  5...7.5\nDomain size: ", 0), 0u) << out;
}
