#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/Verbosity.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "input/ParseErrors.hpp"

namespace {

void setLines(FdtdEngine& engine, int axis, std::vector<double> lines) {
    engine.lineCount[axis] = static_cast<std::uint32_t>(lines.size());
    engine.meshLines[axis] = std::move(lines);
}

void setCounts(FdtdEngine& engine, std::uint32_t nx, std::uint32_t ny, std::uint32_t nz) {
    const std::uint32_t counts[3] = {nx, ny, nz};
    for (int axis = 0; axis < 3; ++axis) {
        std::vector<double> lines(counts[axis]);
        for (std::uint32_t i = 0; i < counts[axis]; ++i) lines[i] = i * 1e-3;
        setLines(engine, axis, std::move(lines));
    }
}

}  // namespace

TEST(EngineLookups, CellSizesOnUnevenLines) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    setLines(engine, 0, {0, 1, 3});
    EXPECT_EQ(engine.cellSize(0, 0, false), 1);
    EXPECT_EQ(engine.cellSize(0, 1, false), 2);
    EXPECT_EQ(engine.cellSize(0, 2, false), 2);  // the last line reuses the last cell
    EXPECT_EQ(engine.cellSize(0, 0, true), 1);
    EXPECT_EQ(engine.cellSize(0, 1, true), 1.5);
    EXPECT_EQ(engine.cellSize(0, 2, true), 2);
}

TEST(EngineLookups, NearestLineAndContainingCell) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    setLines(engine, 1, {0, 1, 3});
    // Nearest line: a midpoint goes to the lower line.
    EXPECT_EQ(engine.lineIndex(1, 0.5, false), 0u);
    EXPECT_EQ(engine.lineIndex(1, 0.51, false), 1u);
    EXPECT_EQ(engine.lineIndex(1, 2.0, false), 1u);
    EXPECT_EQ(engine.lineIndex(1, 2.1, false), 2u);
    EXPECT_EQ(engine.lineIndex(1, -5, false), 0u);
    EXPECT_EQ(engine.lineIndex(1, 10, false), 2u);
    // Containing cell: a point on line i belongs to cell i - 1; beyond the end is the last line.
    EXPECT_EQ(engine.lineIndex(1, 1.0, true), 0u);
    EXPECT_EQ(engine.lineIndex(1, 1.01, true), 1u);
    EXPECT_EQ(engine.lineIndex(1, 3.0, true), 1u);
    EXPECT_EQ(engine.lineIndex(1, 3.5, true), 2u);
    EXPECT_EQ(engine.lineIndex(1, -5, true), 0u);
    setLines(engine, 2, {0.5});
    EXPECT_EQ(engine.lineIndex(2, 7, false), 0u);
    EXPECT_EQ(engine.lineIndex(2, 7, true), 0u);
}

TEST(EngineLookups, LaneLayoutAndZeroedStorage) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    setCounts(engine, 8, 3, 3);
    ASSERT_EQ(engine.allocateCoefficients(), 0);
    EXPECT_EQ(engine.Nv, 2u);
    EXPECT_EQ(engine.fieldIndex(5, 0, 0, 2), 22u);  // column 1, lane 2, block 1
    const std::uint32_t B = engine.blockCount();
    EXPECT_EQ(B, 18u);
    // The four tables lie behind one another, each 16-byte aligned and zero.
    EXPECT_EQ(engine.daTable, engine.caTable + 12 * B);
    EXPECT_EQ(engine.cbTable, engine.caTable + 24 * B);
    EXPECT_EQ(engine.dbTable, engine.caTable + 36 * B);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(engine.caTable) % 16, 0u);
    for (std::uint32_t i = 0; i < 48 * B; ++i) ASSERT_EQ(engine.caTable[i], 0.0f);

    Geometry other;
    FdtdEngine spare(other, 1);
    setCounts(spare, 5, 3, 3);
    ASSERT_EQ(spare.allocateCoefficients(), 0);
    EXPECT_EQ(spare.Nv, 2u);  // x = 5, 6, 7 are spare positions
}

TEST(EngineLookups, DomainSizeMessage) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    setCounts(engine, 64, 64, 64);  // B = 16 * 64 * 64 = 65536
    const int saved = verboseLevel;
    verboseLevel = 0;
    testing::internal::CaptureStdout();
    const int result = engine.allocateCoefficients();
    const std::string out = testing::internal::GetCapturedStdout();
    verboseLevel = saved;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "Domain size: 64 x 64 x 64 cells, 18 MBytes\n");  // 18 * 65536 >> 16
}

TEST(EngineLookups, RejectsShortOrUnorderedMesh) {
    struct Case {
        std::vector<double> lines;
        const char* message;
    };
    const Case cases[] = {
        {{0, 1e-3}, "ERROR: Mesh lines of the y axis must be strictly ascending and at least 3.\n"},
        {{0, 2e-3, 1e-3}, "ERROR: Mesh lines of the y axis must be strictly ascending and at least 3.\n"},
        {{0, 1e-3, 1e-3}, "ERROR: Mesh lines of the y axis must be strictly ascending and at least 3.\n"},
    };
    for (const Case& c : cases) {
        Geometry geometry;
        FdtdEngine engine(geometry, 1);
        setCounts(engine, 4, 4, 4);
        setLines(engine, 1, c.lines);
        testing::internal::CaptureStderr();
        EXPECT_EQ(engine.allocateCoefficients(), parse_error::kMesh);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        EXPECT_EQ(engine.caTable, nullptr);
    }
}

TEST(EngineLookups, RejectsGridBeyond32BitSizes) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    // B = 300 * 1000 * 80 = 24,000,000: the 192 * B bytes of coefficients exceed 32 bits.
    // (1000 x 1000 x 60 lines, B = 15,000,000, still fits: every later size is smaller.)
    setCounts(engine, 1200, 1000, 80);
    testing::internal::CaptureStderr();
    EXPECT_EQ(engine.allocateCoefficients(), parse_error::kGridTooLarge);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: Grid of 1200 x 1000 x 80 mesh lines is too large for this simulator.\n");
    EXPECT_EQ(engine.caTable, nullptr);
}
