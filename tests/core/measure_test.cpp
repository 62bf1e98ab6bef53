// Measurements of a selection: counts that agree with the treatment, tone
// statistics and region counts on shapes whose answer is known.
#include "kavel/measure.h"

#include <gtest/gtest.h>

#include <random>

#include "kavel/treatment.h"
#include "test_support.h"

namespace kavel {
namespace {

using test::MatrixFrom;

Measurements Measure(const ByteMatrix& image, int minimum, int maximum,
                     Connectivity c = Connectivity::Eight) {
    auto m = MeasureSelection(image, minimum, maximum, c);
    EXPECT_TRUE(m.ok());
    return m.ok() ? *m : Measurements{};
}

TEST(Measure, WorkedBlockCountsAndStatistics) {
    // The 3 x 3 block of 100 in a 5 x 5 image of 0, one pixel raised to 120.
    ByteMatrix image = MatrixFrom({{0, 0, 0, 0, 0},
                                   {0, 100, 100, 100, 0},
                                   {0, 100, 120, 100, 0},
                                   {0, 100, 100, 100, 0},
                                   {0, 0, 0, 0, 0}});
    const Measurements m = Measure(image, 50, 150);
    EXPECT_EQ(m.Pixels, 25);
    EXPECT_EQ(m.Selected, 9);
    EXPECT_EQ(m.Border, 8);
    EXPECT_EQ(m.Inside, 1);
    EXPECT_DOUBLE_EQ(m.AreaFraction, 9.0 / 25.0);
    EXPECT_EQ(m.DistinctTones, 2);
    EXPECT_DOUBLE_EQ(*m.Mean, 920.0 / 9.0);
    EXPECT_EQ(m.Median, 100);
    EXPECT_EQ(m.Mode, 100);
    // Eight deviations of -20/9 and one of 160/9: variance 3200/81.
    EXPECT_NEAR(*m.StdDev, std::sqrt(3200.0 / 81.0), 1e-12);
    EXPECT_EQ(m.Regions, 1);
}

TEST(Measure, StatisticsConventions) {
    // Lower median of 10, 10, 20, 20; the lowest of the two equal modes.
    const Measurements m = Measure(MatrixFrom({{20, 10, 20, 10}}), 0, 255);
    EXPECT_EQ(m.Median, 10);
    EXPECT_EQ(m.Mode, 10);
    EXPECT_DOUBLE_EQ(*m.StdDev, 5.0);  // population, not sample
    // Nothing selected: counts 0, no statistics.
    for (const auto& [low, high] : {std::pair{200, 255}, std::pair{30, 29}}) {
        const Measurements none = Measure(MatrixFrom({{20, 10, 20, 10}}), low, high);
        EXPECT_EQ(none.Selected, 0);
        EXPECT_EQ(none.Regions, 0);
        EXPECT_FALSE(none.Mean || none.Median || none.Mode || none.StdDev);
    }
    const Measurements empty = Measure(ByteMatrix{}, 0, 255);
    EXPECT_EQ(empty.Pixels, 0);
    EXPECT_EQ(empty.AreaFraction, 0.0);
}

struct Shape {
    const char* Name;
    std::vector<std::vector<int>> Lines;  // 1 selected, 0 not
    int Four;
    int Eight;
};

// Shapes whose runs join only on a later line, or only through a corner.
const Shape kShapes[] = {
    {"corner contact", {{1, 0}, {0, 1}}, 2, 1},
    {"anti-diagonal", {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}}, 3, 1},
    {"U joined at the bottom", {{1, 0, 1}, {1, 0, 1}, {1, 1, 1}}, 1, 1},
    {"W joins three arms", {{1, 0, 1, 0, 1}, {1, 0, 1, 0, 1}, {1, 1, 1, 1, 1}}, 1, 1},
    {"comb joined by a diagonal chain", {{1, 0, 1, 0, 1}, {0, 1, 0, 1, 0}}, 5, 1},
    {"ring with a hole", {{1, 1, 1}, {1, 0, 1}, {1, 1, 1}}, 1, 1},
    {"checkerboard", {{1, 0, 1, 0}, {0, 1, 0, 1}, {1, 0, 1, 0}}, 6, 1},
    {"separate lines", {{1, 1, 1}, {0, 0, 0}, {1, 1, 1}}, 2, 2},
    {"single column", {{1}, {0}, {1}, {1}}, 2, 2},
};

TEST(Measure, RegionsOfShapes) {
    for (const Shape& shape : kShapes) {
        std::vector<std::vector<int>> tones = shape.Lines;
        for (auto& line : tones) {
            for (int& v : line) {
                v *= 200;
            }
        }
        const ByteMatrix image = MatrixFrom(tones);
        EXPECT_EQ(Measure(image, 100, 255, Connectivity::Four).Regions, shape.Four) << shape.Name;
        EXPECT_EQ(Measure(image, 100, 255, Connectivity::Eight).Regions, shape.Eight) << shape.Name;
    }
}

TEST(Measure, CountsAreWhatTheTreatmentDraws) {
    std::mt19937 random(5);
    for (int round = 0; round < 30; ++round) {
        const int lines = 1 + static_cast<int>(random() % 40);
        const int columns = 1 + static_cast<int>(random() % 40);
        ByteMatrix image = test::MatrixOf(columns, lines);
        for (std::uint8_t& g : image.Bytes()) {
            g = static_cast<std::uint8_t>(40 * (random() % 7));
        }
        const int low = static_cast<int>(random() % 300) - 20;
        const int high = static_cast<int>(random() % 300) - 20;
        ByteMatrix drawn = test::MatrixOf(columns, lines);
        ASSERT_TRUE(
            ComputeTreatment(image, {TreatmentKind::ItemAndBorder, low, high, 255, 128, 0}, drawn).ok());
        std::int64_t border = 0;
        std::int64_t inside = 0;
        for (const std::uint8_t g : drawn.Bytes()) {
            border += g == 128 ? 1 : 0;
            inside += g == 255 ? 1 : 0;
        }
        const Measurements m = Measure(image, low, high);
        EXPECT_EQ(m.Border, border) << round;
        EXPECT_EQ(m.Inside, inside) << round;
        EXPECT_EQ(m.Selected, border + inside) << round;
    }
}

}  // namespace
}  // namespace kavel
