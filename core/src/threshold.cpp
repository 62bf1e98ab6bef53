#include "kavel/threshold.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "thresholdprepared.h"

namespace kavel {

namespace {

using detail::ArgMax;
using detail::Clamp;
using detail::kTones;
using detail::Prepared;

// Midpoint of the two class means at split t.
double MeanMidpoint(const Prepared& p, int t) {
    return (p.DarkMean(t) + p.LightMean(t)) / 2;
}

// Ridler T.W., Calvard S., "Picture thresholding using an iterative selection
// method", IEEE Trans. Systems, Man and Cybernetics 8(8), 1978. The procedure
// as the paper runs it: start from the mean tone and move t to the midpoint of
// the two class means until it stays. The midpoint grows with t, so the walk
// is monotone and ends at the fixed point nearest the mean on the side it
// walks to; the negative image walks the mirrored way to the mirrored split.
int RidlerCalvard(const Prepared& p) {
    int t = Clamp(p, static_cast<int>(std::floor(p.s[kTones] / p.total)));
    for (int step = 0; step < kTones; ++step) {
        const int next = Clamp(p, static_cast<int>(std::floor(MeanMidpoint(p, t))));
        if (next == t) {
            break;
        }
        t = next;
    }
    return t;
}

// ImageJ's original automatic threshold, its variant of Ridler & Calvard:
// the end tones 0 and 255 (under- and over-exposed pixels) are left out, and
// a peak bin holding more than twice the next highest bin counts as twice
// that bin, so that one huge background tone does not pull both means. When
// fewer than two tones remain the whole histogram is used.
int DefaultIsoData(const Histogram& counts) {
    Histogram trimmed = counts;
    trimmed[0] = 0;
    trimmed[kTones - 1] = 0;
    const auto peak = std::max_element(trimmed.begin(), trimmed.end());
    std::int64_t second = 0;
    for (auto g = trimmed.begin(); g != trimmed.end(); ++g) {
        if (g != peak) {
            second = std::max(second, *g);
        }
    }
    if (second == 0) {
        return RidlerCalvard(Prepared(counts));
    }
    *peak = std::min(*peak, 2 * second);
    return RidlerCalvard(Prepared(trimmed));
}

// Glasbey C.A., "An analysis of histogram-based thresholding algorithms",
// CVGIP: Graphical Models and Image Processing 55(6), 1993: the mean tone,
// rounded down (exact in integers).
int MeanTone(const Histogram& counts) {
    std::int64_t pixels = 0;
    std::int64_t sum = 0;
    for (int g = 0; g < kTones; ++g) {
        pixels += counts[g];
        sum += counts[g] * g;
    }
    return static_cast<int>(sum / pixels);
}

// Otsu N., "A threshold selection method from gray-level histograms", IEEE
// Trans. Systems, Man and Cybernetics 9(1), 1979: the largest between-class
// variance n0 n1 (m0 - m1)^2. Over a run of empty bins the classes do not
// change, so ties are exact and the lowest t of the run wins.
int Otsu(const Prepared& p) {
    return ArgMax(p, [&](int t) {
        const double d = p.DarkMean(t) - p.LightMean(t);
        return p.DarkCount(t) * p.LightCount(t) * d * d;
    });
}

// Li C.H., Lee C.K., "Minimum cross entropy thresholding", Pattern
// Recognition 26(4), 1993: the least cross entropy between the image and its
// two-tone version, each class replaced by its mean. Tones are the paper's
// levels 1 .. 256 (tone g is level g + 1), so every logarithm is defined.
// Without the constant sum of f ln f the criterion is -S0 ln m0 - S1 ln m1,
// S the sum of levels of a class and m its mean. Li & Tam's iteration ("An
// iterative algorithm for minimum cross entropy thresholding", Pattern
// Recognition Letters 18(8), 1998) only finds a stationary point of it,
// which on some pictures is a maximum or a local minimum; all 255 candidates
// cost next to nothing, so every one is scored and the least is taken.
int Li(const Prepared& p) {
    const double levels = p.s[kTones] + p.total;
    return ArgMax(p, [&](int t) {
        const double s0 = p.s[t + 1] + p.n[t + 1];
        const double s1 = levels - s0;
        return s0 * std::log(s0 / p.n[t + 1]) + s1 * std::log(s1 / (p.total - p.n[t + 1]));
    });
}

// Kapur J.N., Sahoo P.K., Wong A.K.C., "A new method for gray-level picture
// thresholding using the entropy of the histogram", CVGIP 29(3), 1985: the
// largest sum of the two class entropies. With e(k) the prefix sum of
// p ln p, the entropy of a class of mass P is ln P - e / P.
int MaxEntropy(const Prepared& p) {
    std::array<double, kTones + 1> e{};
    for (int g = 0; g < kTones; ++g) {
        const double pg = p.P(g);
        e[g + 1] = e[g] + (pg > 0 ? pg * std::log(pg) : 0.0);
    }
    return ArgMax(p, [&](int t) {
        const double p0 = p.Cumulative(t);
        const double p1 = 1 - p0;
        return std::log(p0) - e[t + 1] / p0 + std::log(p1) - (e[kTones] - e[t + 1]) / p1;
    });
}

// The t of the largest sum of Renyi entropies of order alpha (alpha != 1):
// for a class of mass P, ln(sum p^alpha / P^alpha) / (1 - alpha).
int RenyiThreshold(const Prepared& p, double alpha) {
    std::array<double, kTones + 1> r{};
    for (int g = 0; g < kTones; ++g) {
        const double pg = p.P(g);
        r[g + 1] = r[g] + (pg > 0 ? std::pow(pg, alpha) : 0.0);
    }
    return ArgMax(p, [&](int t) {
        const double p0 = p.Cumulative(t);
        const double p1 = 1 - p0;
        const double h0 = std::log(r[t + 1] / std::pow(p0, alpha));
        const double h1 = std::log((r[kTones] - r[t + 1]) / std::pow(p1, alpha));
        return (h0 + h1) / (1 - alpha);
    });
}

// Sahoo P., Wilkins C., Yeager J., "Threshold selection using Renyi's
// entropy", Pattern Recognition 30(1), 1997: the thresholds of orders 0.5, 1
// (Kapur's) and 2, sorted t1 <= t2 <= t3, combined with weights that depend on
// which of them lie within 5 tones of each other:
// t = t1 (P(t1) + w b1 / 4) + t2 w b2 / 4 + t3 (1 - P(t3) + w b3 / 4),
// w = P(t3) - P(t1), rounded down like every other threshold.
int RenyiEntropy(const Prepared& p) {
    std::array<int, 3> t{RenyiThreshold(p, 0.5), MaxEntropy(p), RenyiThreshold(p, 2.0)};
    std::sort(t.begin(), t.end());
    const bool close12 = std::abs(t[0] - t[1]) <= 5;
    const bool close23 = std::abs(t[1] - t[2]) <= 5;
    std::array<double, 3> b{1, 2, 1};
    if (close12 && !close23) {
        b = {0, 1, 3};
    } else if (!close12 && close23) {
        b = {3, 1, 0};
    }
    const double p1 = p.Cumulative(t[0]);
    const double p3 = p.Cumulative(t[2]);
    const double w = p3 - p1;
    // The weights add up to 1: measured from t1, three equal thresholds give
    // t1 exactly, and shifting every tone shifts the result alike.
    const double above = (t[1] - t[0]) * w * b[1] / 4 + (t[2] - t[0]) * (1 - p3 + w * b[2] / 4);
    return Clamp(p, t[0] + static_cast<int>(std::floor(above + 1e-9)));
}

// Huang L.K., Wang M.J.J., "Image thresholding by minimizing the measures of
// fuzziness", Pattern Recognition 28(1), 1995: each tone belongs to its class
// with membership 1 / (1 + |g - class mean| / (hi - lo)); the threshold has
// the least fuzziness, the pixel-weighted sum of Shannon's function
// -u ln u - (1 - u) ln(1 - u).
int Huang(const Prepared& p) {
    const double range = p.hi - p.lo;
    const auto shannon = [](double u) { return u >= 1 ? 0.0 : -u * std::log(u) - (1 - u) * std::log(1 - u); };
    return ArgMax(p, [&](int t) {
        const double m0 = p.DarkMean(t);
        const double m1 = p.LightMean(t);
        double fuzziness = 0;
        for (int g = p.lo; g <= p.hi; ++g) {
            if (p.h[g] != 0) {
                const double m = g <= t ? m0 : m1;
                fuzziness += p.Count(g) * shannon(1 / (1 + std::abs(g - m) / range));
            }
        }
        return -fuzziness;
    });
}

// Yen J.C., Chang F.J., Chang S., "A new criterion for automatic multilevel
// thresholding", IEEE Trans. Image Processing 4(3), 1995: the largest
// correlation -ln(G0 G1) + 2 ln(P0 P1), with G the sums of p^2 of each class.
int Yen(const Prepared& p) {
    std::array<double, kTones + 1> g2{};
    for (int g = 0; g < kTones; ++g) {
        g2[g + 1] = g2[g] + p.P(g) * p.P(g);
    }
    return ArgMax(p, [&](int t) {
        const double p0 = p.Cumulative(t);
        const double g0 = g2[t + 1];
        const double g1 = g2[kTones] - g2[t + 1];
        return -std::log(g0 * g1) + 2 * std::log(p0 * (1 - p0));
    });
}

// The admissible t whose fraction of pixels at or below it is nearest to
// fraction, the lowest on ties (Doyle's p-tile). Compared in pixels, where
// the counts are exact: 0.3 and 0.7 are then equally near to 0.5.
int PTile(const Prepared& p, double fraction) {
    const double wanted = fraction * p.total;
    return ArgMax(p, [&](int t) { return -std::abs(p.DarkCount(t) - wanted); });
}

// Doyle W., "Operations useful for similarity-invariant pattern recognition",
// Journal of the ACM 9(2), 1962: the p-tile with half of the pixels dark.
int Percentile(const Prepared& p) {
    return PTile(p, 0.5);
}

// Tsai W.H., "Moment-preserving thresholding: a new approach", CVGIP 29(3),
// 1985: the two-tone image z0 < z1 with the first three moments of the
// image, z0 taking the fraction p0 of the pixels; the threshold is the p0-tile.
Expected<int> Moments(const Prepared& p) {
    double m1 = 0;
    double m2 = 0;
    double m3 = 0;
    for (int g = p.lo; g <= p.hi; ++g) {
        const double pg = p.P(g);
        m1 += pg * g;
        m2 += pg * g * g;
        m3 += pg * g * g * g;
    }
    // c0 + c1 z + z^2 = 0 has the roots z0, z1: c0 m0 + c1 m1 = -m2 and
    // c0 m1 + c1 m2 = -m3 with m0 = 1.
    const double cd = m2 - m1 * m1;
    const double c0 = (-m2 * m2 + m1 * m3) / cd;
    const double c1 = (m1 * m2 - m3) / cd;
    const double root = std::sqrt(std::max(0.0, c1 * c1 - 4 * c0));
    const double z0 = (-c1 - root) / 2;
    const double z1 = (-c1 + root) / 2;
    const double p0 = (z1 - m1) / (z1 - z0);
    if (!std::isfinite(p0)) {
        return Error{"the moments give no two-tone image"};
    }
    return PTile(p, p0);
}

// Shanbhag A.G., "Utilization of information measure as a means of image
// thresholding", CVGIP: Graphical Models and Image Processing 56(5), 1994.
// A tone's membership in its class grows from 1/2 next to the threshold to 1
// far from it: 1 - (mass of the class between it and the far end) / (2 P).
// The threshold balances the information -sum p ln(membership) / P of the
// two classes.
int Shanbhag(const Prepared& p) {
    return ArgMax(p, [&](int t) {
        const double p0 = p.Cumulative(t);
        const double p1 = 1 - p0;
        double dark = 0;
        double before = 0;  // mass of the dark class below g
        for (int g = p.lo; g <= t; ++g) {
            dark -= p.P(g) * std::log(1 - before / (2 * p0));
            before += p.P(g);
        }
        double light = 0;
        double after = 0;  // mass of the light class above g
        for (int g = p.hi; g > t; --g) {
            light -= p.P(g) * std::log(1 - after / (2 * p1));
            after += p.P(g);
        }
        return -std::abs(dark / p0 - light / p1);
    });
}

// Kittler J., Illingworth J., "Minimum error thresholding", Pattern
// Recognition 19(1), 1986: each class modelled as a normal law, the threshold
// of the least criterion J = P0 ln v0 + P1 ln v1 - 2 (P0 ln P0 + P1 ln P1),
// with natural logarithms as in the paper (P the class fractions, v the
// variances). The paper's iteration from the mean moves to where the two
// weighted densities meet and can stop in a local minimum of J; every split
// is scored here and the least J taken. A class of a single tone has no
// variance, so such splits are not candidates.
Expected<int> MinErrorI(const Prepared& p) {
    std::array<int, kTones + 1> occupied{};  // occupied[k]: tones present among 0 .. k-1
    for (int g = 0; g < kTones; ++g) {
        occupied[g + 1] = occupied[g] + (p.h[g] != 0 ? 1 : 0);
    }
    int best = -1;
    double least = std::numeric_limits<double>::infinity();
    for (int t = p.lo; t < p.hi; ++t) {
        if (occupied[t + 1] < 2 || occupied[kTones] - occupied[t + 1] < 2) {
            continue;
        }
        const double n0 = p.DarkCount(t);
        const double n1 = p.LightCount(t);
        const double m0 = p.DarkMean(t);
        const double m1 = p.LightMean(t);
        const double v0 = std::max(p.q[t + 1] / n0 - m0 * m0, std::numeric_limits<double>::min());
        const double v1 =
            std::max((p.q[kTones] - p.q[t + 1]) / n1 - m1 * m1, std::numeric_limits<double>::min());
        const double p0 = n0 / p.total;
        const double p1 = n1 / p.total;
        const double j = p0 * std::log(v0) + p1 * std::log(v1) - 2 * (p0 * std::log(p0) + p1 * std::log(p1));
        if (j < least) {
            least = j;
            best = t;
        }
    }
    if (best < 0) {
        return Error{"every split leaves a class of a single tone (zero variance)"};
    }
    return best;
}

// Zack G.W., Rogers W.E., Latt S.A., "Automatic measurement of sister
// chromatid exchange frequency", Journal of Histochemistry and Cytochemistry
// 25(7), 1977: a line from the histogram's peak (the lowest of equal ones) to
// the far end of its longer tail, the last occupied tone taken at count 0;
// the threshold is the tone whose bar lies farthest below that line. When
// both tails are equally long the dark one is taken.
int Triangle(const Prepared& p) {
    int peak = p.lo;
    for (int g = p.lo; g <= p.hi; ++g) {
        if (p.h[g] > p.h[peak]) {
            peak = g;
        }
    }
    const bool lightTail = p.hi - peak > peak - p.lo;
    const int end = lightTail ? p.hi : p.lo;
    const int step = lightTail ? 1 : -1;
    const double top = p.Count(peak);
    int best = peak;
    double bestGap = -std::numeric_limits<double>::infinity();
    for (int g = peak; g != end + step; g += step) {
        // Vertical gap between the line and the bar: proportional to the
        // perpendicular distance, the line being fixed.
        const double line = end == peak ? 0.0 : top * (end - g) / static_cast<double>(end - peak);
        const double gap = line - p.Count(g);
        if (gap > bestGap) {
            bestGap = gap;
            best = g;
        }
    }
    return Clamp(p, best);
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return lower;
}

}  // namespace

std::string_view ThresholdMethodName(ThresholdMethod method) noexcept {
    switch (method) {
        case ThresholdMethod::Default:
            return "Default";
        case ThresholdMethod::Huang:
            return "Huang";
        case ThresholdMethod::Intermodes:
            return "Intermodes";
        case ThresholdMethod::IsoData:
            return "IsoData";
        case ThresholdMethod::Li:
            return "Li";
        case ThresholdMethod::MaxEntropy:
            return "MaxEntropy";
        case ThresholdMethod::Mean:
            return "Mean";
        case ThresholdMethod::MinErrorI:
            return "MinError(I)";
        case ThresholdMethod::Minimum:
            return "Minimum";
        case ThresholdMethod::Moments:
            return "Moments";
        case ThresholdMethod::Otsu:
            return "Otsu";
        case ThresholdMethod::Percentile:
            return "Percentile";
        case ThresholdMethod::RenyiEntropy:
            return "RenyiEntropy";
        case ThresholdMethod::Shanbhag:
            return "Shanbhag";
        case ThresholdMethod::Triangle:
            return "Triangle";
        case ThresholdMethod::Yen:
            return "Yen";
    }
    return "";
}

std::string_view ThresholdMethodFileName(ThresholdMethod method) noexcept {
    return method == ThresholdMethod::MinErrorI ? "MinErrorI" : ThresholdMethodName(method);
}

std::optional<ThresholdMethod> ThresholdMethodByName(std::string_view name) noexcept {
    const std::string wanted = Lower(name);
    for (const ThresholdMethod method : kAllThresholdMethods) {
        if (wanted == Lower(ThresholdMethodName(method)) ||
            wanted == Lower(ThresholdMethodFileName(method))) {
            return method;
        }
    }
    if (wanted == "minerror") {
        return ThresholdMethod::MinErrorI;
    }
    return std::nullopt;
}

Expected<int> ComputeThreshold(ThresholdMethod method, const Histogram& counts) {
    const Prepared p(counts);
    if (p.total <= 0) {
        return Error{"the image has no pixels"};
    }
    if (p.lo == p.hi) {
        return Error{"the image has a single tone (" + std::to_string(p.lo) + "): nothing to separate"};
    }
    int t = 0;
    switch (method) {
        case ThresholdMethod::Default:
            t = DefaultIsoData(counts);
            break;
        case ThresholdMethod::Huang:
            t = Huang(p);
            break;
        case ThresholdMethod::Intermodes:
            return detail::Intermodes(p);
        case ThresholdMethod::IsoData:
            t = RidlerCalvard(p);
            break;
        case ThresholdMethod::Li:
            t = Li(p);
            break;
        case ThresholdMethod::MaxEntropy:
            t = MaxEntropy(p);
            break;
        case ThresholdMethod::Mean:
            t = Clamp(p, MeanTone(counts));
            break;
        case ThresholdMethod::MinErrorI:
            return MinErrorI(p);
        case ThresholdMethod::Minimum:
            return detail::Minimum(p);
        case ThresholdMethod::Moments:
            return Moments(p);
        case ThresholdMethod::Otsu:
            t = Otsu(p);
            break;
        case ThresholdMethod::Percentile:
            t = Percentile(p);
            break;
        case ThresholdMethod::RenyiEntropy:
            t = RenyiEntropy(p);
            break;
        case ThresholdMethod::Shanbhag:
            t = Shanbhag(p);
            break;
        case ThresholdMethod::Triangle:
            t = Triangle(p);
            break;
        case ThresholdMethod::Yen:
            t = Yen(p);
            break;
    }
    assert(t >= p.lo && t < p.hi);
    return t;
}

}  // namespace kavel
