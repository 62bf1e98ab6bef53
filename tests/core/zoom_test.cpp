#include "kavel/zoom.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

namespace kavel {
namespace {

TEST(ZoomFactor, LevelsAndPrecisions) {
    EXPECT_EQ(ZoomFactorSingle(1), 1.0F);
    EXPECT_EQ(ZoomFactorSingle(0), 1.0F);
    EXPECT_EQ(ZoomFactorSingle(-1), 1.0F);
    EXPECT_EQ(ZoomFactorSingle(20), 20.0F);
    EXPECT_EQ(ZoomFactorSingle(-4), 0.25F);
    EXPECT_EQ(ZoomFactorDouble(0), 1.0);
    EXPECT_EQ(ZoomFactorDouble(-1), 1.0);
    EXPECT_EQ(ZoomFactorDouble(-20), 0.05);

    // At 1:3 the two precisions disagree on X = 3: the zoom click takes
    // column 8, the read-out column 9.
    EXPECT_EQ(ImageCoordinate(3, ZoomFactorSingle(-3)), 8);
    EXPECT_EQ(ImageCoordinate(3, ZoomFactorDouble(-3)), 9);
    EXPECT_EQ(ImageCoordinate(101, ZoomFactorSingle(2)), 50);
    EXPECT_EQ(ImageCoordinate(101, ZoomFactorDouble(2)), 50);
}

TEST(ZoomFactor, TruncationTowardZeroSaturates) {
    EXPECT_EQ(TruncToInt(2.99L), 2);
    EXPECT_EQ(TruncToInt(-2.99L), -2);
    EXPECT_EQ(TruncToInt(1e30L), INT_MAX);
    EXPECT_EQ(TruncToInt(-1e30L), INT_MIN);
    EXPECT_EQ(TruncToInt(std::nanl("")), 0);
}

TEST(ZoomLevel, StepsFromOneToOne) {
    EXPECT_EQ(NextZoomLevel(1, MouseButton::Left), 2);
    EXPECT_EQ(NextZoomLevel(-1, MouseButton::Left), 2);
    EXPECT_EQ(NextZoomLevel(-2, MouseButton::Left), -1);
    EXPECT_EQ(NextZoomLevel(1, MouseButton::Right), -2);
    EXPECT_EQ(NextZoomLevel(-1, MouseButton::Right), -2);
    EXPECT_EQ(NextZoomLevel(2, MouseButton::Right), 1);
    EXPECT_EQ(NextZoomLevel(7, MouseButton::Other), 7);
    EXPECT_EQ(NextZoomLevel(-20, MouseButton::Other), -20);

    int level = 1;
    for (int i = 0; i < 19; ++i) {
        level = NextZoomLevel(level, MouseButton::Left).value();
    }
    EXPECT_EQ(level, 20);
    EXPECT_FALSE(NextZoomLevel(20, MouseButton::Left).has_value());
    EXPECT_FALSE(NextZoomLevel(-20, MouseButton::Right).has_value());
    EXPECT_EQ(NextZoomLevel(20, MouseButton::Right), 19);
    EXPECT_EQ(NextZoomLevel(-20, MouseButton::Left), -19);
}

TEST(ZoomClickPlacement, WorkedExampleAtTwoToOne) {
    // 100 x 80 image, window 328 x 178 outside, click at (60, 40) at 1:1.
    const Placement p = ZoomClickPlacement(100, 80, ZoomFactorSingle(2), 328, 178, 60, 40);
    EXPECT_EQ(p.horzRange, 200);
    EXPECT_EQ(p.vertRange, 160);
    EXPECT_EQ(p.halfW, 82);
    EXPECT_EQ(p.halfH, 44);
    EXPECT_EQ(p.source, (PixelRect{0, 0, 99, 79}));
    EXPECT_EQ(p.horzPosition, 0);
    EXPECT_EQ(p.vertPosition, 0);
    EXPECT_EQ(p.target, (PixelRect{0, 0, 198, 158}));
}

TEST(ZoomClickPlacement, CentredInsideAndAgainstTheFarEdges) {
    // Large image, centre well inside: the source is centred on it.
    Placement p = ZoomClickPlacement(1000, 1000, ZoomFactorSingle(2), 400, 300, 500, 500);
    EXPECT_EQ(p.source, (PixelRect{400, 425, 600, 575}));
    EXPECT_EQ(p.horzPosition, 800);
    EXPECT_EQ(p.vertPosition, 850);
    EXPECT_EQ(p.target, (PixelRect{800, 850, 1200, 1150}));

    // Centre near the right and bottom edges: pushed back inside.
    p = ZoomClickPlacement(1000, 1000, ZoomFactorSingle(2), 400, 300, 990, 995);
    EXPECT_EQ(p.source, (PixelRect{1000 - 200 - 1, 1000 - 150 - 1, 999, 999}));

    // At 1:4 the half sizes are counted in image pixels.
    p = ZoomClickPlacement(4000, 4000, ZoomFactorSingle(-4), 400, 300, 2000, 2000);
    EXPECT_EQ(p.halfW, 800);
    EXPECT_EQ(p.halfH, 600);
    EXPECT_EQ(p.horzRange, 1000);
    EXPECT_EQ(p.source, (PixelRect{1200, 1400, 2800, 2600}));
    EXPECT_EQ(p.target, (PixelRect{300, 350, 700, 650}));
}

TEST(ZoomClickPlacement, DegenerateRectanglesAreClippedAway) {
    // Image narrower than the window: the far-edge rule starts the source at
    // -1, which must not be read.
    const Placement narrow = ZoomClickPlacement(100, 100, ZoomFactorSingle(1), 160, 160, 90, 50);
    EXPECT_EQ(narrow.source.left, -1);
    const auto drawn = ClipToBitmap(narrow.source, 1.0F, 100, 100);
    ASSERT_TRUE(drawn.has_value());
    EXPECT_EQ(drawn->source.left, 0);
    EXPECT_EQ(drawn->source.right, 99);
    EXPECT_EQ(drawn->target.left, 0);

    // A window smaller than two image pixels gives an empty or inverted source.
    const Placement tiny = ZoomClickPlacement(100, 100, ZoomFactorSingle(4), 6, 6, 0, 50);
    EXPECT_EQ(tiny.halfW, 0);
    EXPECT_TRUE(tiny.source.Empty());
    EXPECT_FALSE(ClipToBitmap(tiny.source, 4.0F, 100, 100).has_value());

    // An empty image gives an inverted source, and nothing to draw.
    const Placement empty = ZoomClickPlacement(0, 0, ZoomFactorSingle(2), 328, 178, 0, 0);
    EXPECT_EQ(empty.source, (PixelRect{0, 0, -1, -1}));
    EXPECT_FALSE(ClipToBitmap(empty.source, 2.0F, 0, 0).has_value());
}

TEST(ZoomClickPlacement, HugeSizesSaturateInsteadOfWrapping) {
    const Placement p =
        ZoomClickPlacement(INT_MAX, INT_MAX, ZoomFactorSingle(20), 2000, 2000, INT_MAX - 1, INT_MAX - 1);
    EXPECT_EQ(p.horzRange, INT_MAX);
    EXPECT_EQ(p.source.right, INT_MAX - 1);
    EXPECT_EQ(p.source.left, INT_MAX - 100 - 1);
    EXPECT_EQ(p.target.right, INT_MAX);
}

TEST(OrdinaryPlacement, ClipWithMarginAndScroll) {
    const Placement p = OrdinaryPlacement(1000, 800, ZoomFactorSingle(2), {0, 0, 300, 200}, 10, 4);
    EXPECT_EQ(p.horzRange, 2000);
    EXPECT_EQ(p.vertRange, 1600);
    EXPECT_EQ(p.source, (PixelRect{5, 2, 156, 103}));
    EXPECT_EQ(p.target, (PixelRect{10, 4, 312, 206}));
    EXPECT_FALSE(p.horzPosition.has_value());

    // A partial repaint only asks for the pixels under it.
    const Placement part = OrdinaryPlacement(1000, 800, ZoomFactorSingle(1), {50, 60, 70, 90}, 100, 0);
    EXPECT_EQ(part.source, (PixelRect{150, 60, 171, 91}));

    // At 1:20 a 1920 x 1080 view covers 38400 x 21600 image pixels; the cut
    // to a 10000 x 10000 bitmap keeps only what exists.
    const Placement out = OrdinaryPlacement(10000, 10000, ZoomFactorSingle(-20), {0, 0, 1920, 1080}, 0, 0);
    EXPECT_EQ(out.horzRange, 500);
    const auto drawn = ClipToBitmap(out.source, ZoomFactorSingle(-20), 10000, 10000);
    ASSERT_TRUE(drawn.has_value());
    EXPECT_EQ(drawn->source, (PixelRect{0, 0, 10000, 10000}));
    EXPECT_EQ(drawn->target, (PixelRect{0, 0, 500, 500}));
}

TEST(ClipToBitmap, TargetFollowsTheCut) {
    // The result window may hold a bitmap smaller than the current image size.
    const auto drawn = ClipToBitmap({0, 0, 101, 81}, 3.0F, 50, 40);
    ASSERT_TRUE(drawn.has_value());
    EXPECT_EQ(drawn->source, (PixelRect{0, 0, 50, 40}));
    EXPECT_EQ(drawn->target, (PixelRect{0, 0, 150, 120}));
    EXPECT_FALSE(ClipToBitmap({60, 0, 80, 10}, 1.0F, 50, 40).has_value());
}

TEST(StretchIndices, EnlargeReduceAndPartial) {
    std::vector<int> out(6);
    StretchIndices(10, 3, 6, 0, out);
    EXPECT_EQ(out, (std::vector<int>{10, 10, 11, 11, 12, 12}));

    out.resize(3);
    StretchIndices(10, 3, 6, 3, out);  // the right half of the same stretch
    EXPECT_EQ(out, (std::vector<int>{11, 12, 12}));

    out.resize(5);
    StretchIndices(0, 10, 5, 0, out);  // reducing drops every other pixel
    EXPECT_EQ(out, (std::vector<int>{0, 2, 4, 6, 8}));

    out.resize(4);
    StretchIndices(7, 4, 4, 0, out);
    EXPECT_EQ(out, (std::vector<int>{7, 8, 9, 10}));

    // 20:1 over a long row: every source pixel shows as exactly 20 pixels.
    out.resize(2000);
    StretchIndices(0, 100, 2000, 0, out);
    for (std::size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(out[i], static_cast<int>(i / 20)) << i;
    }
}

TEST(ZoomCaption, FormatsWithTheirBlanks) {
    EXPECT_EQ(ZoomCaption(" 1.- a.raw", 1), " 1.- a.raw (1:1)");
    EXPECT_EQ(ZoomCaption(" 1.- a.raw", -1), " 1.- a.raw (1:1)");
    EXPECT_EQ(ZoomCaption(" 1.- a.raw", 0), " 1.- a.raw (1:1)");
    EXPECT_EQ(ZoomCaption("", 2), " (2:1) ");
    EXPECT_EQ(ZoomCaption("Resulting Binarized Image", 2), "Resulting Binarized Image (2:1) ");
    EXPECT_EQ(ZoomCaption("x", -20), "x (1:20) ");
    EXPECT_EQ(ZoomCaption("x", INT_MIN), "x (1:2147483648) ");

    const std::string longBase(5000, 'n');
    EXPECT_EQ(ZoomCaption(longBase, 13), longBase + " (13:1) ");
}

TEST(PixelReadout, PointToPixel) {
    const auto p = PixelUnderPoint(101, 40, 2, 100, 80, 100, 80);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->line, 20);
    EXPECT_EQ(p->column, 50);

    const auto third = PixelUnderPoint(3, 0, -3, 100, 80, 100, 80);
    ASSERT_TRUE(third.has_value());
    EXPECT_EQ(third->column, 9);

    EXPECT_FALSE(PixelUnderPoint(200, 0, 2, 100, 80, 100, 80).has_value());  // column 100
    EXPECT_TRUE(PixelUnderPoint(199, 159, 2, 100, 80, 100, 80).has_value());
    EXPECT_FALSE(PixelUnderPoint(0, 160, 2, 100, 80, 100, 80).has_value());
    // Inside the image size but beyond the bitmap shown.
    EXPECT_FALSE(PixelUnderPoint(60, 10, 1, 100, 80, 50, 40).has_value());
    EXPECT_FALSE(PixelUnderPoint(0, 0, 1, 0, 0, 0, 0).has_value());
}

TEST(PixelReadout, PanelTexts) {
    EXPECT_EQ(PositionPanelText(20, 50), "Line:    20  Column:    50 ");
    EXPECT_EQ(PositionPanelText(123456, 0), "Line: 123456  Column:     0 ");
    EXPECT_EQ(TonePanelText(7, 7, 7), "Gray Tone :    7 ");
    EXPECT_EQ(TonePanelText(10, 20, 30), "R:  10 G:  20 B:  30  ");
    EXPECT_EQ(TonePanelText(255, 255, 0), "R: 255 G: 255 B:   0  ");
    EXPECT_EQ(SizePanelText(80, 100), "Image Size: 80 lines x 100 columns  ");
}

}  // namespace
}  // namespace kavel
