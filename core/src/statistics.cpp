#include "kavel/statistics.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>

#include "kavel/safefile.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KAVEL_X86_KERNELS 1
#include <immintrin.h>
#endif

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
// counting tone by tone, which is what limits a histogram. Counts the pairs of
// the first n rounded down to 8 bytes and gives that many.
std::size_t CountPairs(const std::uint8_t* p, std::size_t n, std::uint32_t* pairs) noexcept {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, sizeof word);
        ++pairs[word & 0xFFFF];
        ++pairs[(word >> 16) & 0xFFFF];
        ++pairs[(word >> 32) & 0xFFFF];
        ++pairs[word >> 48];
    }
    return i;
}

void FoldPairs(const std::uint32_t* pairs, Histogram& counts) noexcept {
    for (std::size_t v = 0; v < 65536; ++v) {
        counts[v & 0xFF] += pairs[v];
        counts[v >> 8] += pairs[v];
    }
}

void Mark(ToneSet& set, std::uint8_t tone) noexcept {
    set.Bits[(tone >> 7) * 16 + (tone & 15)] |= static_cast<std::uint8_t>(1u << ((tone >> 4) & 7));
}

// Marks, not counts: a pair of neighbouring bytes marks its entry, half as
// many stores as marking tone by tone. The marks are folded into tones after
// every block, which also lets an image that holds all 256 tones stop early.
void AddTonesBaseline(ToneSet& set, const std::uint8_t* p, std::size_t n) noexcept {
    constexpr std::size_t kBlock = std::size_t{1} << 22;
    std::array<std::uint8_t, 256> seen{};
    for (std::size_t t = 0; t < 256; ++t) {
        seen[t] = set.Contains(static_cast<std::uint8_t>(t)) ? 1 : 0;
    }
    auto allSeen = [&seen] { return std::find(seen.begin(), seen.end(), std::uint8_t{0}) == seen.end(); };
    std::unique_ptr<std::uint8_t[]> pairs;
    if (n >= kBlock) {
        pairs.reset(new (std::nothrow) std::uint8_t[65536]);
    }
    for (std::size_t start = 0; start < n && !allSeen(); start += kBlock) {
        const std::uint8_t* block = p + start;
        const std::size_t count = std::min(kBlock, n - start);
        std::size_t i = 0;
        if (pairs) {
            std::fill(pairs.get(), pairs.get() + 65536, std::uint8_t{0});
            for (; i + 8 <= count; i += 8) {
                std::uint64_t word;
                std::memcpy(&word, block + i, sizeof word);
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
        for (; i < count; ++i) {
            seen[block[i]] = 1;
        }
    }
    for (std::size_t t = 0; t < 256; ++t) {
        if (seen[t] != 0) {
            Mark(set, static_cast<std::uint8_t>(t));
        }
    }
}

#if KAVEL_X86_KERNELS
// 0xFF in each byte of x whose tone is not in the set given by its two
// halves (see ToneSet::Bits), 0 in the others: the low nibble picks a byte
// of the half that the top bit names, the high nibble a bit of that byte.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i Unseen(__m256i x, __m256i lowHalf,
                                                                  __m256i highHalf, __m256i bitOf) noexcept {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i low = _mm256_and_si256(x, nibble);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
    const __m256i row =
        _mm256_blendv_epi8(_mm256_shuffle_epi8(lowHalf, low), _mm256_shuffle_epi8(highHalf, low), x);
    return _mm256_cmpeq_epi8(_mm256_and_si256(row, _mm256_shuffle_epi8(bitOf, high)), _mm256_setzero_si256());
}

// Looks the pixels up in the set, 64 at a time, without writing anything:
// only a stretch that holds a new tone is marked byte by byte, and that can
// happen at most 256 times, so the loop runs at the speed of reading.
[[gnu::target("avx2")]] void AddTonesAvx2(ToneSet& set, const std::uint8_t* p, std::size_t n) noexcept {
    const __m256i bitOf = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2,
                                           4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    std::size_t i = 0;
    while (n - i >= 64) {
        if (set.Complete()) {
            return;
        }
        const __m256i lowHalf =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(set.Bits.data())));
        const __m256i highHalf = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(set.Bits.data() + 16)));
        for (; n - i >= 64; i += 64) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32));
            const __m256i unseen =
                _mm256_or_si256(Unseen(a, lowHalf, highHalf, bitOf), Unseen(b, lowHalf, highHalf, bitOf));
            if (_mm256_testz_si256(unseen, unseen) == 0) {
                break;
            }
        }
        if (n - i >= 64) {
            for (std::size_t k = i; k < i + 64; ++k) {
                Mark(set, p[k]);
            }
            i += 64;
        }
    }
    for (; i < n; ++i) {
        Mark(set, p[i]);
    }
}
#endif

}  // namespace

void HistogramCounter::Add(std::span<const std::uint8_t> pixels) {
    // Below this the pair table costs more to clear and fold than it saves.
    constexpr std::size_t kPairsFrom = std::size_t{1} << 20;
    // Blocks, and a fold before a counter could pass 32 bits: each pair adds
    // one to one counter.
    constexpr std::size_t kBlock = std::size_t{1} << 30;
    if (pixels.size() >= kPairsFrom && !pairs_) {
        pairs_.reset(new (std::nothrow) std::uint32_t[65536]());
    }
    if (pixels.size() < kPairsFrom || !pairs_) {
        CountByTone(pixels.data(), pixels.size(), counts_);
        return;
    }
    for (std::size_t start = 0; start < pixels.size(); start += kBlock) {
        const std::size_t n = std::min(kBlock, pixels.size() - start);
        if (pairsHeld_ + n / 2 > std::uint64_t{0xFFFFFFFF}) {
            Fold();
        }
        const std::size_t counted = CountPairs(pixels.data() + start, n, pairs_.get());
        pairsHeld_ += counted / 2;
        CountByTone(pixels.data() + start + counted, n - counted, counts_);
    }
}

void HistogramCounter::Fold() noexcept {
    FoldPairs(pairs_.get(), counts_);
    std::fill(pairs_.get(), pairs_.get() + 65536, 0u);
    pairsHeld_ = 0;
}

Histogram HistogramCounter::Counts() const {
    Histogram counts = counts_;
    if (pairs_) {
        FoldPairs(pairs_.get(), counts);
    }
    return counts;
}

Histogram ComputeHistogram(const ByteMatrix& image) {
    HistogramCounter counter;
    counter.Add(image.Bytes());
    return counter.Counts();
}

void ToneSet::Add(std::span<const std::uint8_t> pixels) noexcept {
    detail::AddTonesOn(detail::KernelPath::Best, *this, pixels);
}

int ToneSet::Count() const noexcept {
    int count = 0;
    for (std::uint8_t byte : Bits) {
        count += std::popcount(byte);
    }
    return count;
}

bool ToneSet::Contains(std::uint8_t tone) const noexcept {
    return ((Bits[(tone >> 7) * 16 + (tone & 15)] >> ((tone >> 4) & 7)) & 1) != 0;
}

namespace detail {

bool AddTonesOn(KernelPath path, ToneSet& set, std::span<const std::uint8_t> pixels) noexcept {
    if (!KernelPathAvailable(path)) {
        return false;
    }
#if KAVEL_X86_KERNELS
    if (path != KernelPath::Baseline && KernelPathAvailable(KernelPath::Avx2)) {
        AddTonesAvx2(set, pixels.data(), pixels.size());
        return true;
    }
#endif
    AddTonesBaseline(set, pixels.data(), pixels.size());
    return true;
}

}  // namespace detail

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
    ToneSet tones;
    tones.Add(image.Bytes());
    return tones.Count();
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
