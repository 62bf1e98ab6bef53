// The automatic thresholds: worked examples, the failures, the optimum of
// each criterion, the mirrored split of the negative image, and the modes at
// both ends. tests/oracle compares with scikit-image and real pictures.
#include "kavel/threshold.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

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
    // so t = 6, which keeps the same classes: a fixed point. (t = 4 is one
    // too, means 3 and 56/9, but the walk from the mean goes up.)
    {ThresholdMethod::IsoData, {{3, 2}, {5, 5}, {7, 1}, {8, 3}}, 6, "walk from the mean"},
    {ThresholdMethod::Default, {{3, 2}, {5, 5}, {7, 1}, {8, 3}}, 6, "no end tone, no outsized peak"},
    // The 1000 pixels at 10 count as 200: from the mean 104 the classes
    // {10, 100} and {150, 250} have means 40 and 200, midpoint 120. Counted
    // whole, the mean 46 gives {10} against the rest: means 10 and 166.7.
    {ThresholdMethod::Default, {{10, 1000}, {100, 100}, {150, 100}, {250, 100}}, 120, "peak limited"},
    {ThresholdMethod::IsoData, {{10, 1000}, {100, 100}, {150, 100}, {250, 100}}, 88, "peak counted whole"},
    // Without the end tones: {50, 60} and {180, 190}, midpoint 120. With them
    // the mean is 127.2 and the class means 2.1 and 252.3 meet at 127.2.
    {ThresholdMethod::Default,
     {{0, 500}, {50, 10}, {60, 10}, {180, 10}, {190, 10}, {255, 500}},
     120,
     "ends left out"},
    {ThresholdMethod::IsoData,
     {{0, 500}, {50, 10}, {60, 10}, {180, 10}, {190, 10}, {255, 500}},
     127,
     "ends kept"},
    // Smoothed once (nothing beyond the ends): maxima at 2 (3) and 8 (13/3),
    // halfway 5; the lowest bins between them are 4 and 5 (4/3 each), the
    // first wins.
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
    // The two clusters: variances 1.077 (13 pixels) and 0.5 (8 pixels) give
    // the least J; t = 5 .. 8 make the same classes and the lowest is taken.
    {ThresholdMethod::MinErrorI,
     {{1, 1}, {2, 3}, {3, 5}, {4, 3}, {5, 1}, {9, 2}, {10, 4}, {11, 2}},
     5,
     "least J"},
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
    // Two bare tones: every class has zero variance (MinError(I)); every
    // other method puts the dark tone alone in the dark class, and the two
    // mode methods split halfway.
    for (const auto& [dark, light] : {std::pair{0, 255}, std::pair{40, 41}, std::pair{100, 180}}) {
        for (const ThresholdMethod method : kAllThresholdMethods) {
            const auto t = ComputeThreshold(method, Counts({{dark, 300}, {light, 700}}));
            if (method == ThresholdMethod::MinErrorI) {
                ASSERT_FALSE(t.ok());
                EXPECT_NE(t.error().message.find("zero variance"), std::string::npos);
                continue;
            }
            ASSERT_TRUE(t.ok()) << Name(method) << ": " << t.error().message;
            EXPECT_GE(*t, dark) << Name(method);
            EXPECT_LT(*t, light) << Name(method);
            if (method == ThresholdMethod::Intermodes || method == ThresholdMethod::Minimum) {
                EXPECT_EQ(*t, (dark + light) / 2) << Name(method);
            }
        }
    }
}

// A bell of pixels around centre.
void AddBell(Histogram& h, double centre, double spread, double pixels) {
    for (int g = 0; g < 256; ++g) {
        const double z = (g - centre) / spread;
        h[g] += static_cast<std::int64_t>(std::lround(pixels * std::exp(-z * z / 2)));
    }
}

TEST(Threshold, ModesAreCountedAlikeAtBothEnds) {
    Histogram bulk{};
    AddBell(bulk, 80, 10, 500);
    AddBell(bulk, 170, 10, 500);
    Histogram bright{};  // a white background and a dark mode
    AddBell(bright, 60, 12, 300);
    bright[255] += 20000;
    struct Case {
        const char* Name;
        Histogram Counts;
        std::map<int, std::int64_t> Stray;
        int Dark;
        int Light;  // the two modes
        int Slack;  // Intermodes answers within this of halfway
    };
    const Case cases[] = {
        {"two bells", bulk, {}, 80, 170, 1},
        {"stray pixel at 0", bulk, {{0, 1}}, 80, 170, 2},
        {"stray pixel at 255", bulk, {{255, 1}}, 80, 170, 2},
        {"stray pixels at both ends", bulk, {{0, 1}, {255, 1}}, 80, 170, 2},
        {"white background", bright, {}, 60, 255, 5},
    };
    for (const Case& c : cases) {
        Histogram h = c.Counts;
        for (const auto& [tone, count] : c.Stray) {
            h[tone] += count;
        }
        const auto t = ComputeThreshold(ThresholdMethod::Intermodes, h);
        ASSERT_TRUE(t.ok()) << c.Name << ": " << t.error().message;
        EXPECT_LE(std::abs(*t - (c.Dark + c.Light) / 2), c.Slack) << c.Name << ": " << *t;
        // The valley lies between the modes, well away from either.
        const auto m = ComputeThreshold(ThresholdMethod::Minimum, h);
        ASSERT_TRUE(m.ok()) << c.Name << ": " << m.error().message;
        EXPECT_GT(*m, c.Dark + 20) << c.Name;
        EXPECT_LT(*m, c.Light - 20) << c.Name;
    }
    Histogram unimodal{};
    AddBell(unimodal, 109, 25, 800);
    for (const Histogram& h : {unimodal, Counts({{10, 1}, {11, 3}, {12, 6}, {13, 3}, {14, 1}})}) {
        for (const ThresholdMethod method : {ThresholdMethod::Intermodes, ThresholdMethod::Minimum}) {
            const auto t = ComputeThreshold(method, h);
            ASSERT_FALSE(t.ok()) << Name(method) << " gives " << *t;
            EXPECT_NE(t.error().message.find("a single mode"), std::string::npos) << t.error().message;
        }
    }
}

// Histograms of the shapes that matter: one to four bells anywhere, narrow
// bands, few tones, stray pixels at the ends, saturated ends.
std::vector<Histogram> Shapes(unsigned seed, int count) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Histogram> shapes;
    for (int k = 0; k < count; ++k) {
        Histogram h{};
        const int bells = 1 + k % 4;
        const double lo = 255 * unit(random) * (k % 3 == 0 ? 0.6 : 0.1);
        const double width = (255 - lo) * (k % 5 == 0 ? 0.3 : 1.0);
        for (int b = 0; b < bells; ++b) {
            AddBell(h, lo + width * unit(random), 1 + 25 * unit(random), 10 + 2000 * unit(random));
        }
        for (int g = 0; g < 256; ++g) {
            if (h[g] > 0) {
                h[g] += static_cast<std::int64_t>(random() % 7);
            }
        }
        if (k % 6 == 1) {
            h[0] += 1;
        }
        if (k % 6 == 2) {
            h[255] += 1;
        }
        if (k % 7 == 3) {
            h[255] += 50000;
        }
        if (k % 9 == 4) {
            Histogram sparse{};
            for (int g = 0; g < 256; g += 1 + static_cast<int>(random() % 40)) {
                sparse[g] = 1 + static_cast<std::int64_t>(random() % 300);
            }
            h = sparse;
        }
        shapes.push_back(h);
    }
    return shapes;
}

Histogram Reversed(const Histogram& h) {
    Histogram r{};
    for (int g = 0; g < 256; ++g) {
        r[255 - g] = h[g];
    }
    return r;
}

// Thresholds a and b split the pixels alike: no pixel lies above one and at
// or below the other.
bool SameSplit(const Histogram& h, int a, int b) {
    for (int g = std::min(a, b) + 1; g <= std::max(a, b); ++g) {
        if (h[g] != 0) {
            return false;
        }
    }
    return true;
}

// The negative image gets the mirrored split: t on the histogram, t' on the
// reversed one, 254 - t' the same split as t. The two mode methods pick a
// tone from the histogram's shape (exactly halfway between the modes, the
// lowest bin of the valley) and that tone is dark both ways, t being always
// dark: there 254 - t' may be t - 1.
TEST(Threshold, TheNegativeGetsTheMirroredSplit) {
    const ThresholdMethod methods[] = {ThresholdMethod::Otsu, ThresholdMethod::Intermodes,
                                       ThresholdMethod::Minimum, ThresholdMethod::IsoData,
                                       ThresholdMethod::Default};
    int compared = 0;
    for (const Histogram& h : Shapes(19, 240)) {
        for (const ThresholdMethod method : methods) {
            const auto t = ComputeThreshold(method, h);
            const auto mirrored = ComputeThreshold(method, Reversed(h));
            ASSERT_EQ(t.ok(), mirrored.ok()) << Name(method);
            if (!t.ok()) {
                EXPECT_EQ(t.error().message, mirrored.error().message) << Name(method);
                continue;
            }
            const int back = 254 - *mirrored;
            const bool modes = method == ThresholdMethod::Intermodes || method == ThresholdMethod::Minimum;
            const bool halfway = modes && back == *t - 1;
            EXPECT_TRUE(SameSplit(h, *t, back) || halfway) << Name(method) << ": " << *t << " and " << back;
            ++compared;
        }
    }
    EXPECT_GT(compared, 900);
}

// Direct sums over each class, written from the papers, with tones g and
// pixel fractions p; the returned t must score as well as the best of all
// admissible t (ties allowed).
struct Classes {
    const Histogram& h;
    double total = 0;
    explicit Classes(const Histogram& counts) : h(counts) {
        for (const auto c : counts) {
            total += static_cast<double>(c);
        }
    }
    double P(int g) const { return static_cast<double>(h[g]) / total; }
    // The sum of f(g, p) over the tones present in [first, last].
    template <class F>
    double Sum(int first, int last, F f) const {
        double sum = 0;
        for (int g = first; g <= last; ++g) {
            if (h[g] != 0) {
                sum += f(g, P(g));
            }
        }
        return sum;
    }
    double Mass(int first, int last) const {
        return Sum(first, last, [](int, double p) { return p; });
    }
    double Mean(int first, int last) const {
        return Sum(first, last, [](int g, double p) { return g * p; }) / Mass(first, last);
    }
    double Variance(int first, int last) const {
        const double m = Mean(first, last);
        return Sum(first, last, [&](int g, double p) { return (g - m) * (g - m) * p; }) / Mass(first, last);
    }
    int Distinct(int first, int last) const {
        return static_cast<int>(Sum(first, last, [](int, double) { return 1.0; }));
    }
};

// Higher is better; nullopt where t is not a candidate.
using Criterion = std::function<std::optional<double>(const Classes&, int t)>;

double RenyiOrder(const Classes& c, int t, double alpha) {
    const double p0 = c.Mass(0, t);
    const double p1 = c.Mass(t + 1, 255);
    if (alpha == 1) {
        const auto entropy = [&](int a, int b, double mass) {
            return -c.Sum(a, b, [&](int, double p) { return p / mass * std::log(p / mass); });
        };
        return entropy(0, t, p0) + entropy(t + 1, 255, p1);
    }
    const auto sum = [&](int a, int b, double mass) {
        return c.Sum(a, b, [&](int, double p) { return std::pow(p / mass, alpha); });
    };
    return (std::log(sum(0, t, p0)) + std::log(sum(t + 1, 255, p1))) / (1 - alpha);
}

const std::map<ThresholdMethod, Criterion>& Criteria() {
    static const std::map<ThresholdMethod, Criterion> criteria{
        {ThresholdMethod::Otsu,
         [](const Classes& c, int t) -> std::optional<double> {
             const double d = c.Mean(0, t) - c.Mean(t + 1, 255);
             return c.Mass(0, t) * c.Mass(t + 1, 255) * d * d;
         }},
        // Minimum cross entropy, levels f = g + 1: sum of f p ln(f / class mean).
        {ThresholdMethod::Li,
         [](const Classes& c, int t) -> std::optional<double> {
             const auto part = [&](int a, int b) {
                 const double mean = c.Mean(a, b) + 1;
                 return c.Sum(a, b, [&](int g, double p) { return (g + 1) * p * std::log((g + 1) / mean); });
             };
             return -(part(0, t) + part(t + 1, 255));
         }},
        {ThresholdMethod::MinErrorI,
         [](const Classes& c, int t) -> std::optional<double> {
             if (c.Distinct(0, t) < 2 || c.Distinct(t + 1, 255) < 2) {
                 return std::nullopt;
             }
             const double p0 = c.Mass(0, t);
             const double p1 = c.Mass(t + 1, 255);
             return -(p0 * std::log(c.Variance(0, t)) + p1 * std::log(c.Variance(t + 1, 255)) -
                      2 * (p0 * std::log(p0) + p1 * std::log(p1)));
         }},
        {ThresholdMethod::MaxEntropy,
         [](const Classes& c, int t) -> std::optional<double> { return RenyiOrder(c, t, 1); }},
        {ThresholdMethod::Yen,
         [](const Classes& c, int t) -> std::optional<double> {
             const auto square = [](int, double p) { return p * p; };
             const double p0 = c.Mass(0, t);
             return -std::log(c.Sum(0, t, square) * c.Sum(t + 1, 255, square)) + 2 * std::log(p0 * (1 - p0));
         }},
        {ThresholdMethod::Huang,
         [](const Classes& c, int t) -> std::optional<double> {
             int lo = 0;
             int hi = 255;
             while (c.h[lo] == 0) {
                 ++lo;
             }
             while (c.h[hi] == 0) {
                 --hi;
             }
             const double m0 = c.Mean(0, t);
             const double m1 = c.Mean(t + 1, 255);
             return -c.Sum(0, 255, [&](int g, double p) {
                 const double u = 1 / (1 + std::abs(g - (g <= t ? m0 : m1)) / (hi - lo));
                 return u >= 1 ? 0.0 : p * (-u * std::log(u) - (1 - u) * std::log(1 - u));
             });
         }},
        {ThresholdMethod::Shanbhag,
         [](const Classes& c, int t) -> std::optional<double> {
             const double p0 = c.Mass(0, t);
             const double p1 = c.Mass(t + 1, 255);
             const double dark = -c.Sum(0, t, [&](int g, double p) {
                 return p * std::log(1 - (g > 0 ? c.Mass(0, g - 1) : 0.0) / (2 * p0));
             });
             const double light = -c.Sum(t + 1, 255, [&](int g, double p) {
                 return p * std::log(1 - (g < 255 ? c.Mass(g + 1, 255) : 0.0) / (2 * p1));
             });
             return -std::abs(dark / p0 - light / p1);
         }},
    };
    return criteria;
}

// The admissible t (both classes hold pixels) with their scores, best first,
// the lowest t first among equal scores.
struct Ranked {
    std::vector<int> Order;
    std::map<int, double> Score;
};

Ranked Rank(const Classes& c, const Criterion& criterion) {
    Ranked ranked;
    for (int t = 0; t < 255; ++t) {
        if (c.Mass(0, t) > 0 && c.Mass(t + 1, 255) > 0) {
            if (const auto score = criterion(c, t)) {
                ranked.Score[t] = *score;
                ranked.Order.push_back(t);
            }
        }
    }
    std::stable_sort(ranked.Order.begin(), ranked.Order.end(),
                     [&](int a, int b) { return ranked.Score[a] > ranked.Score[b]; });
    return ranked;
}

bool NearlyEqual(double a, double b) {
    return std::abs(a - b) <= 1e-9 * std::max({1.0, std::abs(a), std::abs(b)});
}

TEST(Threshold, CriterionMethodsReturnAGlobalOptimum) {
    int checked = 0;
    for (const Histogram& h : Shapes(1993, 60)) {
        const Classes c(h);
        for (const auto& [method, criterion] : Criteria()) {
            const Ranked ranked = Rank(c, criterion);
            const auto t = ComputeThreshold(method, h);
            if (ranked.Order.empty()) {
                EXPECT_FALSE(t.ok()) << Name(method);
                continue;
            }
            ASSERT_TRUE(t.ok()) << Name(method) << ": " << t.error().message;
            ASSERT_TRUE(ranked.Score.count(*t)) << Name(method) << " t = " << *t << " is no candidate";
            const int best = ranked.Order.front();
            EXPECT_TRUE(NearlyEqual(ranked.Score.at(*t), ranked.Score.at(best)))
                << Name(method) << ": t = " << *t << " scores " << ranked.Score.at(*t) << ", t = " << best
                << " scores " << ranked.Score.at(best);
            ++checked;
        }
        // RenyiEntropy combines the optima of orders 0.5, 1 and 2 with
        // weights that depend on which lie within 5 tones, rounded down.
        std::array<int, 3> orders{};
        const std::array alphas{0.5, 1.0, 2.0};
        for (std::size_t k = 0; k < 3; ++k) {
            const double alpha = alphas[k];
            orders[k] = Rank(c, [alpha](const Classes& cl, int t) -> std::optional<double> {
                            return RenyiOrder(cl, t, alpha);
                        }).Order.front();
        }
        std::sort(orders.begin(), orders.end());
        const bool close12 = orders[1] - orders[0] <= 5;
        const bool close23 = orders[2] - orders[1] <= 5;
        const std::array<double, 3> b = close12 == close23 ? std::array{1.0, 2.0, 1.0}
                                        : close12          ? std::array{0.0, 1.0, 3.0}
                                                           : std::array{3.0, 1.0, 0.0};
        const double p1 = c.Mass(0, orders[0]);
        const double p3 = c.Mass(0, orders[2]);
        const double w = p3 - p1;
        const double combined =
            orders[0] * (p1 + w * b[0] / 4) + orders[1] * w * b[1] / 4 + orders[2] * (1 - p3 + w * b[2] / 4);
        const auto renyi = ComputeThreshold(ThresholdMethod::RenyiEntropy, h);
        ASSERT_TRUE(renyi.ok());
        // A combination that is a whole tone but for rounding is that tone.
        EXPECT_EQ(*renyi, static_cast<int>(std::floor(combined + 1e-9))) << "combined " << combined;
    }
    EXPECT_GT(checked, 400);
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
            // These read the tones themselves: Li's levels, Default's end
            // tones, the smoothing's ends at 0 and 255.
            if (method == ThresholdMethod::Li || method == ThresholdMethod::Default ||
                method == ThresholdMethod::Intermodes || method == ThresholdMethod::Minimum) {
                continue;
            }
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
