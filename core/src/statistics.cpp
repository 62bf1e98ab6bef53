#include "kavel/statistics.h"

#include <algorithm>
#include <ostream>

#include "kavel/safefile.h"

namespace kavel {

Histogram ComputeHistogram(const ByteMatrix& image) {
    // Four interleaved sub-histograms: consecutive equal tones then update
    // different counters, so the increments do not wait on each other. 32-bit
    // counters are flushed into the 64-bit result every block.
    constexpr std::size_t kBlock = std::size_t{1} << 30;
    Histogram counts{};
    const std::span<const std::uint8_t> bytes = image.Bytes();
    std::array<std::array<std::uint32_t, 256>, 4> sub{};
    for (std::size_t start = 0; start < bytes.size(); start += kBlock) {
        const std::uint8_t* p = bytes.data() + start;
        const std::size_t n = std::min(kBlock, bytes.size() - start);
        std::size_t i = 0;
        for (; i + 4 <= n; i += 4) {
            ++sub[0][p[i]];
            ++sub[1][p[i + 1]];
            ++sub[2][p[i + 2]];
            ++sub[3][p[i + 3]];
        }
        for (; i < n; ++i) {
            ++sub[0][p[i]];
        }
        for (std::size_t t = 0; t < 256; ++t) {
            counts[t] += std::int64_t{sub[0][t]} + sub[1][t] + sub[2][t] + sub[3][t];
        }
        sub = {};
    }
    return counts;
}

std::int64_t MostFrequentCount(const Histogram& counts) noexcept {
    std::int64_t maximum = 0;
    for (std::int64_t count : counts) {
        maximum = std::max(maximum, count);
    }
    return maximum;
}

int CountDistinctTones(const Histogram& counts) noexcept {
    return static_cast<int>(
        std::count_if(counts.begin(), counts.end(), [](std::int64_t c) { return c > 0; }));
}

int CountDistinctTones(const ByteMatrix& image) {
    // Marking a tone as seen is a plain store with no dependency between
    // pixels; stop early once all 256 tones have turned up.
    constexpr std::size_t kCheckEvery = std::size_t{1} << 16;
    std::array<std::uint8_t, 256> seen{};
    const std::span<const std::uint8_t> bytes = image.Bytes();
    for (std::size_t start = 0; start < bytes.size(); start += kCheckEvery) {
        const std::size_t end = std::min(bytes.size(), start + kCheckEvery);
        for (std::size_t i = start; i < end; ++i) {
            seen[bytes[i]] = 1;
        }
        if (std::find(seen.begin(), seen.end(), std::uint8_t{0}) == seen.end()) {
            return 256;
        }
    }
    return static_cast<int>(std::count(seen.begin(), seen.end(), std::uint8_t{1}));
}

int HistogramBarTop(std::int64_t count, std::int64_t maximum, int baseline) noexcept {
    if (maximum <= 0) {
        return baseline;
    }
    const double top =
        (1.0 - static_cast<double>(count) / static_cast<double>(maximum)) * static_cast<double>(baseline);
    return static_cast<int>(top);
}

std::string FormatHistogramExport(const Histogram& counts) {
    std::string text;
    text.reserve(256 * 8);
    for (std::int64_t count : counts) {
        text += std::to_string(count);
        text += "\r\n";
    }
    return text;
}

Status WriteHistogramFile(const std::filesystem::path& fileName, const Histogram& counts) {
    const std::string text = FormatHistogramExport(counts);
    return WriteFileSafely(fileName, [&](std::ostream& out) -> Status {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        return {};
    });
}

}  // namespace kavel
