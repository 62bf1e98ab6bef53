// Gray-tone statistics: the histogram, its export file and the number of
// distinct tones.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "kavel/expected.h"
#include "kavel/guitools.h"
#include "kavel/treatment.h"

namespace kavel {

using Histogram = std::array<std::int64_t, 256>;

Histogram ComputeHistogram(const ByteMatrix& image);
std::int64_t MostFrequentCount(const Histogram& counts) noexcept;
int CountDistinctTones(const Histogram& counts) noexcept;
int CountDistinctTones(const ByteMatrix& image);

// Counts the tones of pixels given a block at a time, as if they were one
// image: the streaming commands add one band after another. The pair table
// that makes large blocks fast is kept from block to block, so a band costs
// no set-up of its own.
class HistogramCounter {
public:
    void Add(std::span<const std::uint8_t> pixels);
    Histogram Counts() const;

private:
    void Fold() noexcept;

    Histogram counts_{};
    std::unique_ptr<std::uint32_t[]> pairs_;  // 65536 counters, each pair of neighbouring bytes
    std::uint64_t pairsHeld_ = 0;             // pairs counted in the table since its last fold
};

// The tones met so far in pixels given a block at a time. Once all 256 have
// been seen, adding more is free.
class ToneSet {
public:
    void Add(std::span<const std::uint8_t> pixels) noexcept;
    int Count() const noexcept;
    bool Contains(std::uint8_t tone) const noexcept;
    bool Complete() const noexcept { return Count() == 256; }

    // Tone t is bit (t >> 4) & 7 of byte (t >> 7) * 16 + (t & 15): the layout
    // that a byte shuffle looks up for 32 pixels at once.
    std::array<std::uint8_t, 32> Bits{};
};

namespace detail {

// As ToneSet::Add, with the loops of the given path; false when the path is
// not available on this processor.
bool AddTonesOn(KernelPath path, ToneSet& set, std::span<const std::uint8_t> pixels) noexcept;

}  // namespace detail

// y of the top of a bar drawn from the baseline: trunc((1 - count / maximum) *
// baseline). With maximum 0 there is no bar: gives baseline.
int HistogramBarTop(std::int64_t count, std::int64_t maximum, int baseline) noexcept;

// 256 lines, line k the count of tone k in decimal, each ending in CR LF.
std::string FormatHistogramExport(const Histogram& counts);
Status WriteHistogramFile(const std::filesystem::path& fileName, const Histogram& counts);

}  // namespace kavel
