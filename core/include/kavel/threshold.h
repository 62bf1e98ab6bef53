// Automatic thresholds from the 256-bin histogram: the sixteen global methods
// users know from ImageJ's Auto Threshold, each written from its paper.
//
// Every method gives one tone t that splits the tones into a dark class
// [0, t] and a light class [t + 1, 255]; t itself always belongs to the dark
// class. When a method succeeds both classes hold pixels of the image.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "kavel/expected.h"
#include "kavel/statistics.h"

namespace kavel {

enum class ThresholdMethod {
    Default,
    Huang,
    Intermodes,
    IsoData,
    Li,
    MaxEntropy,
    Mean,
    MinErrorI,
    Minimum,
    Moments,
    Otsu,
    Percentile,
    RenyiEntropy,
    Shanbhag,
    Triangle,
    Yen,
};

inline constexpr std::array kAllThresholdMethods{
    ThresholdMethod::Default,      ThresholdMethod::Huang,     ThresholdMethod::Intermodes,
    ThresholdMethod::IsoData,      ThresholdMethod::Li,        ThresholdMethod::MaxEntropy,
    ThresholdMethod::Mean,         ThresholdMethod::MinErrorI, ThresholdMethod::Minimum,
    ThresholdMethod::Moments,      ThresholdMethod::Otsu,      ThresholdMethod::Percentile,
    ThresholdMethod::RenyiEntropy, ThresholdMethod::Shanbhag,  ThresholdMethod::Triangle,
    ThresholdMethod::Yen,
};

// The name users know ("MinError(I)") and a form safe in file names ("MinErrorI").
std::string_view ThresholdMethodName(ThresholdMethod method) noexcept;
std::string_view ThresholdMethodFileName(ThresholdMethod method) noexcept;
// Either form, any letter case ("otsu", "MINERROR(I)", "minerrori", "minerror").
std::optional<ThresholdMethod> ThresholdMethodByName(std::string_view name) noexcept;

// Smoothing rounds after which Intermodes and Minimum give up.
inline constexpr int kMaxSmoothings = 10000;

// The threshold t of the method, or why it has none: an image without pixels
// or of a single tone has nothing to separate, and some methods fail on their
// own terms (a histogram that never becomes bimodal, a class of zero variance).
Expected<int> ComputeThreshold(ThresholdMethod method, const Histogram& counts);

}  // namespace kavel
