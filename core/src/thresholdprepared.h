// The histogram as the threshold methods read it, shared by the files that
// hold them (internal to the core).
#pragma once

#include <algorithm>
#include <array>
#include <limits>

#include "kavel/expected.h"
#include "kavel/threshold.h"

namespace kavel::detail {

inline constexpr int kTones = 256;

// The histogram with its prefix sums. Index k of a prefix array holds the sum
// over tones 0 .. k-1, so the dark class of threshold t is [0, t + 1).
// Counts, sums and sums of squares stay exact in double (below 2^53).
struct Prepared {
    const Histogram& h;
    double total = 0;
    int lo = 0;  // lowest tone present
    int hi = 0;  // highest tone present
    std::array<double, kTones + 1> n{};
    std::array<double, kTones + 1> s{};
    std::array<double, kTones + 1> q{};

    explicit Prepared(const Histogram& counts) : h(counts) {
        for (int g = 0; g < kTones; ++g) {
            const auto c = static_cast<double>(counts[g]);
            n[g + 1] = n[g] + c;
            s[g + 1] = s[g] + c * g;
            q[g + 1] = q[g] + c * g * g;
        }
        total = n[kTones];
        while (lo < kTones && counts[lo] == 0) {
            ++lo;
        }
        hi = kTones - 1;
        while (hi > 0 && counts[hi] == 0) {
            --hi;
        }
    }
    double Count(int g) const { return static_cast<double>(h[g]); }
    double P(int g) const { return Count(g) / total; }
    // Pixels, sum and mean of the dark class [0, t] and of the light class.
    double DarkCount(int t) const { return n[t + 1]; }
    double LightCount(int t) const { return total - n[t + 1]; }
    double DarkMean(int t) const { return s[t + 1] / n[t + 1]; }
    double LightMean(int t) const { return (s[kTones] - s[t + 1]) / (total - n[t + 1]); }
    // Fraction of the pixels at or below t.
    double Cumulative(int t) const { return n[t + 1] / total; }
};

// A threshold is admissible when both classes hold pixels: lo <= t < hi.
inline int Clamp(const Prepared& p, int t) {
    return std::clamp(t, p.lo, p.hi - 1);
}

// The t in [lo, hi) with the largest score, the lowest on ties.
template <class Score>
int ArgMax(const Prepared& p, Score score) {
    int best = p.lo;
    double bestScore = -std::numeric_limits<double>::infinity();
    for (int t = p.lo; t < p.hi; ++t) {
        const double value = score(t);
        if (value > bestScore) {
            bestScore = value;
            best = t;
        }
    }
    return best;
}

// Prewitt & Mendelsohn's two methods on the smoothed histogram.
Expected<int> Intermodes(const Prepared& p);
Expected<int> Minimum(const Prepared& p);

}  // namespace kavel::detail
