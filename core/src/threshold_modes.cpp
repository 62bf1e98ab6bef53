// The methods that smooth the histogram until it has two modes.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "thresholdprepared.h"

namespace kavel::detail {

namespace {

// Prewitt J.M.S., Mendelsohn M.L., "The analysis of cell images", Annals of
// the New York Academy of Sciences 128(3), 1966: smooth the histogram with a
// running mean of three until it has exactly two local maxima. All 256 tones
// are smoothed, at least once (a raw histogram of few tones is a comb), with
// nothing beyond either end, and the two ends are read alike: a maximum is a
// run of equal bins higher than the bins on both sides of it, a side beyond
// an end counting as lower. So a bright background at 255 is a mode exactly
// as a dark one at 0 is, and the negative image has the mirrored modes.
// Smoothing with a log-concave kernel keeps a unimodal histogram unimodal, so
// the search stops as soon as fewer than two maxima remain.
struct Bimodal {
    std::array<double, kTones> y{};
    // Twice the tone of each maximum: the middle of its run, maybe a half tone.
    int first2 = 0;
    int second2 = 0;
};

Expected<Bimodal> SmoothUntilBimodal(const Prepared& p) {
    Bimodal b;
    for (int g = 0; g < kTones; ++g) {
        b.y[g] = p.Count(g);
    }
    std::array<double, kTones> next{};
    std::vector<int> maxima;  // twice the tone of each
    for (int round = 1; round <= kMaxSmoothings; ++round) {
        for (int g = 0; g < kTones; ++g) {
            // (left + right) + centre: the same sum on the mirrored histogram.
            const double left = g > 0 ? b.y[g - 1] : 0.0;
            const double right = g + 1 < kTones ? b.y[g + 1] : 0.0;
            next[g] = ((left + right) + b.y[g]) / 3;
        }
        b.y = next;
        maxima.clear();
        for (int g = 0; g < kTones && maxima.size() <= 2;) {
            int end = g;  // last bin of the run of equal bins from g
            while (end + 1 < kTones && b.y[end + 1] == b.y[g]) {
                ++end;
            }
            const bool aboveLeft = g == 0 || b.y[g - 1] < b.y[g];
            const bool aboveRight = end + 1 == kTones || b.y[end + 1] < b.y[g];
            if (aboveLeft && aboveRight && b.y[g] > 0) {
                maxima.push_back(g + end);
            }
            g = end + 1;
        }
        if (maxima.size() == 2) {
            b.first2 = maxima[0];
            b.second2 = maxima[1];
            return b;
        }
        if (maxima.size() < 2) {
            return Error{"the histogram has a single mode after " + std::to_string(round) +
                         (round == 1 ? " smoothing" : " smoothings") + ": no valley to split at"};
        }
    }
    return Error{"the histogram does not become bimodal within " + std::to_string(kMaxSmoothings) +
                 " smoothings"};
}

// Two tones are two modes however close: the split between them.
std::optional<int> TwoToneSplit(const Prepared& p) {
    for (int g = p.lo + 1; g < p.hi; ++g) {
        if (p.h[g] != 0) {
            return std::nullopt;
        }
    }
    return (p.lo + p.hi) / 2;
}

}  // namespace

// Prewitt & Mendelsohn (as above): halfway between the two maxima, rounded
// down (a tone exactly halfway belongs to the dark class, as t always does).
Expected<int> Intermodes(const Prepared& p) {
    if (const auto split = TwoToneSplit(p)) {
        return *split;
    }
    auto b = SmoothUntilBimodal(p);
    if (!b) {
        return b.error();
    }
    return Clamp(p, (b->first2 + b->second2) / 4);
}

// Prewitt & Mendelsohn (as above): the lowest smoothed bin between the two
// maxima. Of equal lowest bins the one halfway between the first and the
// last is taken, so that the negative image gets the mirrored valley.
Expected<int> Minimum(const Prepared& p) {
    if (const auto split = TwoToneSplit(p)) {
        return *split;
    }
    auto b = SmoothUntilBimodal(p);
    if (!b) {
        return b.error();
    }
    const int from = b->first2 / 2;
    const int to = (b->second2 + 1) / 2;
    const double lowest = *std::min_element(b->y.begin() + from, b->y.begin() + to + 1);
    int first = to;
    int last = from;
    for (int g = from; g <= to; ++g) {
        if (b->y[g] == lowest) {
            first = std::min(first, g);
            last = g;
        }
    }
    return Clamp(p, (first + last) / 2);
}

}  // namespace kavel::detail
