#include "kavel/statistics.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>

#include "kavel/safefile.h"

namespace kavel {

namespace {

// Four interleaved sub-histograms: consecutive equal tones then update
// different counters, so the increments do not wait on each other.
void CountByTone(const std::uint8_t* p, std::size_t n, Histogram& counts) {
    std::array<std::array<std::uint32_t, 256>, 4> sub{};
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
}

// One counter per pair of neighbouring bytes: half as many increments as
// counting tone by tone, which is what limits a histogram. Neighbouring tones
// are alike in real images, so the pairs in use stay few and in cache. The
// pair counts are folded back into tones at the end.
void CountByPair(const std::uint8_t* p, std::size_t n, std::uint32_t* pairs, Histogram& counts) {
    std::fill(pairs, pairs + 65536, 0u);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, sizeof word);
        ++pairs[word & 0xFFFF];
        ++pairs[(word >> 16) & 0xFFFF];
        ++pairs[(word >> 32) & 0xFFFF];
        ++pairs[word >> 48];
    }
    for (std::size_t v = 0; v < 65536; ++v) {
        counts[v & 0xFF] += pairs[v];
        counts[v >> 8] += pairs[v];
    }
    CountByTone(p + i, n - i, counts);
}

}  // namespace

Histogram ComputeHistogram(const ByteMatrix& image) {
    // Blocks keep every 32-bit counter far from overflow.
    constexpr std::size_t kBlock = std::size_t{1} << 30;
    // Below this the pair table costs more to clear and fold than it saves.
    constexpr std::size_t kPairsFrom = std::size_t{1} << 20;
    Histogram counts{};
    const std::span<const std::uint8_t> bytes = image.Bytes();
    std::unique_ptr<std::uint32_t[]> pairs;
    if (bytes.size() >= kPairsFrom) {
        pairs.reset(new (std::nothrow) std::uint32_t[65536]);
    }
    for (std::size_t start = 0; start < bytes.size(); start += kBlock) {
        const std::size_t n = std::min(kBlock, bytes.size() - start);
        if (pairs) {
            CountByPair(bytes.data() + start, n, pairs.get(), counts);
        } else {
            CountByTone(bytes.data() + start, n, counts);
        }
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
    // Marks, not counts: a pair of neighbouring bytes marks its entry, half as
    // many stores as marking tone by tone. The marks are folded into tones
    // after every block, which also lets a photo that holds all 256 tones stop
    // early.
    constexpr std::size_t kBlock = std::size_t{1} << 22;
    std::array<std::uint8_t, 256> seen{};
    auto allSeen = [&seen] { return std::find(seen.begin(), seen.end(), std::uint8_t{0}) == seen.end(); };
    const std::span<const std::uint8_t> bytes = image.Bytes();
    std::unique_ptr<std::uint8_t[]> pairs;
    if (bytes.size() >= kBlock) {
        pairs.reset(new (std::nothrow) std::uint8_t[65536]);
    }
    for (std::size_t start = 0; start < bytes.size(); start += kBlock) {
        const std::uint8_t* p = bytes.data() + start;
        const std::size_t n = std::min(kBlock, bytes.size() - start);
        std::size_t i = 0;
        if (pairs) {
            std::fill(pairs.get(), pairs.get() + 65536, std::uint8_t{0});
            for (; i + 8 <= n; i += 8) {
                std::uint64_t word;
                std::memcpy(&word, p + i, sizeof word);
                pairs[word & 0xFFFF] = 1;
                pairs[(word >> 16) & 0xFFFF] = 1;
                pairs[(word >> 32) & 0xFFFF] = 1;
                pairs[word >> 48] = 1;
            }
            for (std::size_t v = 0; v < 65536; ++v) {
                seen[v & 0xFF] |= pairs[v];
                seen[v >> 8] |= pairs[v];
            }
        }
        for (; i < n; ++i) {
            seen[p[i]] = 1;
        }
        if (allSeen()) {
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
