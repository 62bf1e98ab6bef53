// The automatic thresholds. The seven methods scikit-image shares are checked
// against it in tests/oracle; here are worked examples for the other nine,
// the failures, and properties every method must keep.
#include "kavel/threshold.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numeric>
#include <random>
#include <string>

namespace kavel {
namespace {

Histogram Counts(const std::map<int, std::int64_t>& tones) {
    Histogram h{};
    for (const auto& [tone, count] : tones) {
        h[tone] = count;
    }
    return h;
}

std::string Name(ThresholdMethod method) {
    return std::string(ThresholdMethodName(method));
}

struct Worked {
    ThresholdMethod Method;
    std::map<int, std::int64_t> Tones;
    int Threshold;
    const char* Why;
};

// Each figure worked out from the method's definition on paper.
const Worked kWorked[] = {
    // Mean 62/11 = 5.6 gives t = 5: class means 31/7 and 31/4 meet at 6.09,
    // so t = 6, which keeps the same classes: a fixed point.
    {ThresholdMethod::Default, {{3, 2}, {5, 5}, {7, 1}, {8, 3}}, 6, "walk from the mean"},
    // The lowest fixed point: at t = 4 the means 3 and 56/9 meet at 4.61 < 5.
    {ThresholdMethod::IsoData, {{3, 2}, {5, 5}, {7, 1}, {8, 3}}, 4, "lowest fixed point"},
    // Smoothed once (ends repeated): maxima at 2 (3) and 8 (13/3), halfway 5;
    // the lowest bins between them are 4 and 5 (4/3 each), the first wins.
    {ThresholdMethod::Intermodes,
     {{0, 1}, {1, 2}, {2, 5}, {3, 2}, {4, 1}, {5, 1}, {6, 2}, {7, 4}, {8, 6}, {9, 3}, {10, 1}},
     5,
     "halfway between the modes"},
    {ThresholdMethod::Minimum,
     {{0, 1}, {1, 2}, {2, 5}, {3, 2}, {4, 1}, {5, 1}, {6, 2}, {7, 4}, {8, 6}, {9, 3}, {10, 1}},
     4,
     "first lowest bin between the modes"},
    // t = 0: entropies 0 + H(1/3, 2/3) = 0.64; t = 1: ln 2 + 0 = 0.69.
    {ThresholdMethod::MaxEntropy, {{0, 1}, {1, 1}, {2, 2}}, 1, "Kapur"},
    // Two tones are their own moment-preserving image: p0 = 0.3, the dark tone.
    {ThresholdMethod::Moments, {{50, 30}, {200, 70}}, 50, "two tones"},
    // m1 = 1.25, m2 = 2.25, m3 = 4.25: z0 = 0.19, z1 = 1.90, p0 = 0.380; the
    // fractions at or below 0 and 1 are 0.25 and 0.5, 1 is nearer.
    {ThresholdMethod::Moments, {{0, 1}, {1, 1}, {2, 2}}, 1, "three tones"},
    // Fractions at or below 10 and 20: 0.2 and 0.7; 0.7 is nearer to 0.5.
    {ThresholdMethod::Percentile, {{10, 2}, {20, 5}, {30, 3}}, 20, "nearest half"},
    // 0.3 and 0.7 are as near to 0.5: the lower wins.
    {ThresholdMethod::Percentile, {{10, 3}, {20, 4}, {30, 3}}, 10, "tie"},
    // t = 0: |0 - (-0.25 ln(2/3)) / 0.75| = 0.135; t = 1: |(-0.25 ln 0.75) / 0.5 - 0| = 0.144.
    {ThresholdMethod::Shanbhag, {{0, 1}, {1, 1}, {2, 2}}, 0, "balanced information"},
    // Class means and variances at the mean's t = 7: 3, 1.077 (13 pixels) and
    // 10, 0.5 (8 pixels); the weighted normal laws meet at 7.17, t = 7 again.
    {ThresholdMethod::MinErrorI,
     {{1, 1}, {2, 3}, {3, 5}, {4, 3}, {5, 1}, {9, 2}, {10, 4}, {11, 2}},
     7,
     "densities meet"},
    // Orders 0.5, 1 and 2 all give 4 (the dark cluster's top): the weighted
    // combination of three equal thresholds is that threshold.
    {ThresholdMethod::RenyiEntropy,
     {{1, 1}, {2, 3}, {3, 5}, {4, 3}, {5, 1}, {9, 2}, {10, 4}, {11, 2}},
     4,
     "three orders agree"},
    // Fuzziness (sum of Shannon's function of the memberships) is least at 5,
    // where the lone 5 joins the dark class: computed tone by tone.
    {ThresholdMethod::Huang, {{2, 3}, {3, 1}, {5, 1}, {8, 1}, {9, 3}}, 5, "least fuzziness"},
    {ThresholdMethod::Huang,
     {{1, 1}, {2, 3}, {3, 5}, {4, 3}, {5, 1}, {9, 2}, {10, 4}, {11, 2}},
     5,
     "least fuzziness"},
};

TEST(Threshold, WorkedExamples) {
    for (const Worked& w : kWorked) {
        const auto t = ComputeThreshold(w.Method, Counts(w.Tones));
        ASSERT_TRUE(t.ok()) << Name(w.Method) << ": " << t.error().message;
        EXPECT_EQ(*t, w.Threshold) << Name(w.Method) << " (" << w.Why << ")";
    }
}

TEST(Threshold, NothingToSeparateIsAFailureForEveryMethod) {
    for (const ThresholdMethod method : kAllThresholdMethods) {
        const auto empty = ComputeThreshold(method, Histogram{});
        ASSERT_FALSE(empty.ok()) << Name(method);
        EXPECT_EQ(empty.error().message, "the image has no pixels");
        for (const int tone : {0, 77, 255}) {
            const auto flat = ComputeThreshold(method, Counts({{tone, 1000}}));
            ASSERT_FALSE(flat.ok()) << Name(method) << " tone " << tone;
            EXPECT_NE(flat.error().message.find("single tone (" + std::to_string(tone) + ")"),
                      std::string::npos);
        }
    }
}

TEST(Threshold, TwoTonesAreSeparatedOrRefusedWithAReason) {
    // Two bare tones: every class has zero variance (MinError(I)) and the
    // smoothed histogram keeps rising into its light end (Intermodes,
    // Minimum); every other method puts the dark tone alone in the dark class.
    for (const auto& [dark, light] : {std::pair{0, 255}, std::pair{40, 41}, std::pair{100, 180}}) {
        for (const ThresholdMethod method : kAllThresholdMethods) {
            const auto t = ComputeThreshold(method, Counts({{dark, 300}, {light, 700}}));
            const bool refuses = method == ThresholdMethod::MinErrorI ||
                                 method == ThresholdMethod::Intermodes || method == ThresholdMethod::Minimum;
            if (refuses) {
                EXPECT_FALSE(t.ok()) << Name(method);
                continue;
            }
            ASSERT_TRUE(t.ok()) << Name(method) << ": " << t.error().message;
            EXPECT_GE(*t, dark) << Name(method);
            EXPECT_LT(*t, light) << Name(method);
        }
    }
}

TEST(Threshold, AHistogramThatNeverBecomesBimodalIsRefused) {
    const Histogram unimodal = Counts({{10, 1}, {11, 3}, {12, 6}, {13, 3}, {14, 1}});
    for (const ThresholdMethod method : {ThresholdMethod::Intermodes, ThresholdMethod::Minimum}) {
        const auto t = ComputeThreshold(method, unimodal);
        ASSERT_FALSE(t.ok()) << Name(method);
        EXPECT_EQ(t.error().message, "the histogram does not become bimodal within 10000 smoothings");
    }
}

// Shifting every tone by d shifts every threshold by d: empty bins at either
// end change nothing, and both classes always hold pixels.
TEST(Threshold, EmptyEndsOnlyShiftTheThreshold) {
    std::mt19937 random(12);
    for (int round = 0; round < 40; ++round) {
        const int width = 20 + static_cast<int>(random() % 100);
        Histogram base{};
        const int peaks[2] = {static_cast<int>(random() % width), static_cast<int>(random() % width)};
        for (int g = 0; g < width; ++g) {
            const double a = (g - peaks[0]) / 6.0;
            const double b = (g - peaks[1]) / 9.0;
            base[g] = static_cast<std::int64_t>(400 * std::exp(-a * a) + 250 * std::exp(-b * b)) +
                      static_cast<std::int64_t>(random() % 5);
        }
        for (const ThresholdMethod method : kAllThresholdMethods) {
            const auto at0 = ComputeThreshold(method, base);
            for (const int shift : {1, 37, 255 - width}) {
                Histogram moved{};
                for (int g = 0; g + shift < 256 && g < width; ++g) {
                    moved[g + shift] = base[g];
                }
                const auto t = ComputeThreshold(method, moved);
                ASSERT_EQ(t.ok(), at0.ok()) << Name(method) << " round " << round << " shift " << shift;
                if (!t.ok()) {
                    continue;
                }
                EXPECT_EQ(*t, *at0 + shift) << Name(method) << " round " << round << " shift " << shift;
                std::int64_t dark = 0;
                for (int g = 0; g <= *t; ++g) {
                    dark += moved[g];
                }
                EXPECT_GT(dark, 0) << Name(method);
                EXPECT_LT(dark, std::accumulate(moved.begin(), moved.end(), std::int64_t{0})) << Name(method);
            }
        }
    }
}

TEST(Threshold, NamesReadBackInEitherFormAndAnyCase) {
    for (const ThresholdMethod method : kAllThresholdMethods) {
        EXPECT_EQ(ThresholdMethodByName(ThresholdMethodName(method)), method);
        EXPECT_EQ(ThresholdMethodByName(ThresholdMethodFileName(method)), method);
    }
    EXPECT_EQ(ThresholdMethodByName("OTSU"), ThresholdMethod::Otsu);
    EXPECT_EQ(ThresholdMethodByName("minerror"), ThresholdMethod::MinErrorI);
    EXPECT_EQ(ThresholdMethodName(ThresholdMethod::MinErrorI), "MinError(I)");
    EXPECT_EQ(ThresholdMethodByName("Kapur"), std::nullopt);
    EXPECT_EQ(ThresholdMethodByName(""), std::nullopt);
}

}  // namespace
}  // namespace kavel
