// Gray-tone statistics: the histogram, its export file and the number of
// distinct tones.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "kavel/expected.h"
#include "kavel/guitools.h"

namespace kavel {

using Histogram = std::array<std::int64_t, 256>;

Histogram ComputeHistogram(const ByteMatrix& image);
std::int64_t MostFrequentCount(const Histogram& counts) noexcept;
int CountDistinctTones(const Histogram& counts) noexcept;
int CountDistinctTones(const ByteMatrix& image);

// y of the top of a bar drawn from the baseline: trunc((1 - count / maximum) *
// baseline). With maximum 0 there is no bar: gives baseline.
int HistogramBarTop(std::int64_t count, std::int64_t maximum, int baseline) noexcept;

// 256 lines, line k the count of tone k in decimal, each ending in CR LF.
std::string FormatHistogramExport(const Histogram& counts);
Status WriteHistogramFile(const std::filesystem::path& fileName, const Histogram& counts);

}  // namespace kavel
