// The core's asserted preconditions, built with assertions on whatever the
// build type (the release build compiles them out): a call outside them stops
// the program before anything is read or written, so a drift between a
// window's size and its matrix shows up as a failed test.
#ifdef NDEBUG
#error "the precondition tests need assertions"
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kavel/guitools.h"
#include "kavel/stream.h"
#include "kavel/zoom.h"
#include "test_support.h"

namespace kavel {
namespace {

TEST(PreconditionsDeathTest, OutOfRangeIndicesStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ByteMatrix matrix = AllocateByteMatrix(3, 2).value();
    const TRasterImage raster = TRasterImage::Create(3, 2, PixelKind::Rgb).value();
    std::uint8_t bgr[3];
    EXPECT_DEATH((void)matrix[2], "Assertion");
    EXPECT_DEATH((void)matrix[-1], "Assertion");
    EXPECT_DEATH((void)matrix.Row(2), "Assertion");
    EXPECT_DEATH((void)raster.Rows(2), "Assertion");
    EXPECT_DEATH(raster.GetPixel(3, 0, bgr), "Assertion");
    // The last valid indices pass.
    EXPECT_EQ(matrix.Row(1).size(), 3U);
    raster.GetPixel(2, 1, bgr);
}

TEST(PreconditionsDeathTest, ReadsBeyondTheImageAndEmptyStretchesStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test::ScratchFolder folder;
    test::WriteWholeFile(folder / "in.raw", std::string(12, 'x'));
    LineSource source = LineSource::OpenRaw(folder / "in.raw", {4, 3}).value();
    std::vector<std::uint8_t> rows(8);
    EXPECT_DEATH((void)source.Read(LineOrder::TopFirst, 3, 2, rows), "Assertion");  // lines 3 and 4 of 0..3
    EXPECT_DEATH((void)source.Read(LineOrder::TopFirst, 0, 2, std::span(rows).first(5)), "Assertion");
    EXPECT_TRUE(source.Read(LineOrder::TopFirst, 1, 2, rows).ok());

    std::vector<int> indices(4);
    EXPECT_DEATH(StretchIndices(0, 4, 0, 0, indices), "Assertion");
}

}  // namespace
}  // namespace kavel
