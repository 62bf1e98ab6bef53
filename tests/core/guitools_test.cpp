#include "kavel/guitools.h"

#include "largepages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "test_support.h"

namespace kavel {
namespace {

TEST(ByteMatrix, NewMatrixIsZeroAndCarriesItsSize) {
    auto matrix = AllocateByteMatrix(7, 3);  // columns first
    ASSERT_TRUE(matrix.ok());
    EXPECT_EQ(matrix->Columns(), 7);
    EXPECT_EQ(matrix->Lines(), 3);
    EXPECT_EQ(matrix->PixelCount(), 21u);
    const auto bytes = matrix->Bytes();
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }));

    // Rows are consecutive slices of the one block, line 0 first.
    (*matrix)[2][6] = 9;
    (*matrix)[1][0] = 5;
    EXPECT_EQ(bytes[20], 9);
    EXPECT_EQ(bytes[7], 5);
    EXPECT_EQ(matrix->Row(2).size(), 7u);
}

TEST(ByteMatrix, EmptySizesAreLegal) {
    for (auto [columns, lines] : {std::pair{0, 0}, std::pair{0, 5}, std::pair{5, 0}}) {
        auto matrix = AllocateByteMatrix(columns, lines);
        ASSERT_TRUE(matrix.ok());
        EXPECT_TRUE(matrix->Empty());
        EXPECT_EQ(matrix->Lines(), lines);
        EXPECT_EQ(matrix->Columns(), columns);
    }
}

TEST(ByteMatrix, RefusesNegativeAndOversizedShapesWithAReason) {
    for (auto [columns, lines] : {std::pair{-1, 3}, std::pair{3, -1}, std::pair{INT_MIN, INT_MIN}}) {
        auto matrix = AllocateByteMatrix(columns, lines);
        ASSERT_FALSE(matrix.ok());
        EXPECT_NE(matrix.error().message.find("negative"), std::string::npos) << matrix.error().message;
    }
    auto huge = AllocateByteMatrix(INT_MAX, INT_MAX);
    ASSERT_FALSE(huge.ok());
    EXPECT_NE(huge.error().message.find("too large"), std::string::npos) << huge.error().message;
    // Just past the limit: 65536 x 65537 pixels.
    EXPECT_FALSE(AllocateByteMatrix(65536, 65537).ok());
}

TEST(RasterImage, CreateSetsShapeAndPixelKindRules) {
    auto gray = TRasterImage::Create(4, 2, PixelKind::Gray);
    ASSERT_TRUE(gray.ok());
    EXPECT_EQ(gray->Columns(), 4);
    EXPECT_EQ(gray->Lines(), 2);
    EXPECT_EQ(gray->BytesPerPixel(), 1);

    auto paletted = TRasterImage::Create(3, 3, PixelKind::Paletted);
    ASSERT_TRUE(paletted.ok());
    EXPECT_EQ(paletted->GetPalette(), GrayRampPalette());
    paletted->SetPixel(1, 2, 77);
    std::uint8_t bgr[3] = {};
    paletted->GetPixel(1, 2, bgr);
    EXPECT_EQ(bgr[0], 77);
    EXPECT_EQ(bgr[1], 77);
    EXPECT_EQ(bgr[2], 77);

    auto rgb = TRasterImage::Create(2, 2, PixelKind::Rgb);
    ASSERT_TRUE(rgb.ok());
    EXPECT_EQ(rgb->RowBytes(), 6u);
    rgb->SetPixel(1, 1, 77);
    rgb->GetPixel(1, 1, bgr);
    EXPECT_EQ(bgr[0], 77);
    EXPECT_EQ(bgr[1], 77);
    EXPECT_EQ(bgr[2], 77);

    EXPECT_FALSE(TRasterImage::Create(-1, 2, PixelKind::Gray).ok());
    EXPECT_FALSE(TRasterImage::Create(INT_MAX, INT_MAX, PixelKind::Rgb).ok());
}

TEST(RasterImage, SetPixelOutsideChangesNothing) {
    auto raster = TRasterImage::Create(3, 2, PixelKind::Gray);
    ASSERT_TRUE(raster.ok());
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            raster->SetPixel(x, y, 1);
        }
    }
    raster->SetPixel(-1, 0, 200);
    raster->SetPixel(3, 0, 200);
    raster->SetPixel(0, 2, 200);
    raster->SetPixel(0, -1, 200);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(raster->Rows(y)[x], 1) << x << "," << y;
        }
    }
}

TEST(RasterImage, DisplayColourOfEachKind) {
    auto rgb = TRasterImage::Create(1, 1, PixelKind::Rgb);
    ASSERT_TRUE(rgb.ok());
    rgb->Rows(0)[0] = 10;  // blue
    rgb->Rows(0)[1] = 20;  // green
    rgb->Rows(0)[2] = 30;  // red
    EXPECT_EQ(rgb->DisplayColor(0, 0), 0xFF1E140Au);

    auto gray = TRasterImage::Create(1, 1, PixelKind::Gray);
    ASSERT_TRUE(gray.ok());
    gray->SetPixel(0, 0, 0x42);
    EXPECT_EQ(gray->DisplayColor(0, 0), 0xFF424242u);
}

TEST(RasterImage, DisplayRowAgreesWithDisplayColour) {
    for (PixelKind kind : {PixelKind::Gray, PixelKind::Paletted, PixelKind::Rgb}) {
        auto raster = TRasterImage::Create(37, 3, kind);
        ASSERT_TRUE(raster.ok());
        for (int y = 0; y < 3; ++y) {
            for (std::size_t b = 0; b < raster->RowBytes(); ++b) {
                raster->Rows(y)[b] = static_cast<std::uint8_t>(b * 7 + static_cast<std::size_t>(y) * 31);
            }
        }
        std::vector<std::uint32_t> row(37);
        for (int y = 0; y < 3; ++y) {
            raster->ToDisplayRow(y, row);
            for (int x = 0; x < 37; ++x) {
                ASSERT_EQ(row[static_cast<std::size_t>(x)], raster->DisplayColor(x, y))
                    << "kind " << static_cast<int>(kind) << " at " << x << "," << y;
            }
        }
    }
}

TEST(RasterImage, ViewOfWritesThroughToTheMatrix) {
    ByteMatrix matrix = test::MatrixOf(4, 3);
    TRasterImage view = TRasterImage::ViewOf(matrix);
    EXPECT_EQ(view.Columns(), 4);
    EXPECT_EQ(view.Lines(), 3);
    EXPECT_EQ(view.Kind(), PixelKind::Gray);
    view.SetPixel(3, 2, 99);
    EXPECT_EQ(matrix[2][3], 99);
    matrix[0][1] = 12;
    EXPECT_EQ(view.DisplayColor(1, 0), 0xFF0C0C0Cu);

    ByteMatrix empty;
    TRasterImage emptyView = TRasterImage::ViewOf(empty);
    EXPECT_EQ(emptyView.Lines(), 0);
    EXPECT_EQ(emptyView.Columns(), 0);
}

// The huge-page request is a hint: a block keeps its contents, whether its
// pages were written before the request, never written (zero), or both.
TEST(ByteMatrix, HugePageAdviceKeepsContents) {
    auto made = AllocateByteMatrix(4099, 2050);  // over 8 MiB, not a multiple of 2 MiB
    ASSERT_TRUE(made.ok());
    ByteMatrix matrix = std::move(made).value();
    const std::span<std::uint8_t> bytes = matrix.Bytes();
    for (std::size_t k = 0; k < bytes.size() / 2; ++k) {
        bytes[k] = static_cast<std::uint8_t>(k * 7 + 3);
    }
    detail::AdviseLargePages(bytes.data(), bytes.size());
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        const auto expected = k < bytes.size() / 2 ? static_cast<std::uint8_t>(k * 7 + 3) : std::uint8_t{0};
        ASSERT_EQ(bytes[k], expected) << "byte " << k;
    }
    detail::AdviseLargePages(nullptr, 0);  // nothing to do, and no failure
}

}  // namespace
}  // namespace kavel
