#include "kavel/statistics.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "test_support.h"

namespace kavel {
namespace {

using test::MatrixOf;

// The tone loops available here, each checked against a naive set.
std::vector<detail::KernelPath> TonePaths() {
    std::vector<detail::KernelPath> paths{detail::KernelPath::Baseline};
    if (detail::KernelPathAvailable(detail::KernelPath::Avx2)) {
        paths.push_back(detail::KernelPath::Avx2);
    }
    return paths;
}

std::vector<int> SeenTones(std::span<const std::uint8_t> pixels) {
    std::vector<int> seen(256, 0);
    for (std::uint8_t b : pixels) {
        seen[b] = 1;
    }
    return seen;
}

std::vector<int> TonesIn(const ToneSet& set) {
    std::vector<int> seen(256, 0);
    for (int t = 0; t < 256; ++t) {
        seen[static_cast<std::size_t>(t)] = set.Contains(static_cast<std::uint8_t>(t)) ? 1 : 0;
    }
    return seen;
}

TEST(Histogram, CountsEveryPixelOnce) {
    ByteMatrix uniform = MatrixOf(13, 7);
    std::fill(uniform.Bytes().begin(), uniform.Bytes().end(), std::uint8_t{42});
    const Histogram counts = ComputeHistogram(uniform);
    EXPECT_EQ(counts[42], 91);
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::int64_t{0}), 91);
    EXPECT_EQ(MostFrequentCount(counts), 91);
    EXPECT_EQ(CountDistinctTones(counts), 1);
    EXPECT_EQ(CountDistinctTones(uniform), 1);

    // Lengths that are not a multiple of four exercise the tail.
    std::mt19937 random(3);
    for (int columns : {1, 3, 5, 31}) {
        ByteMatrix noise = MatrixOf(columns, 3);
        Histogram expected{};
        for (std::uint8_t& b : noise.Bytes()) {
            b = static_cast<std::uint8_t>(random() % 6);
            ++expected[b];
        }
        EXPECT_EQ(ComputeHistogram(noise), expected) << columns;
        EXPECT_EQ(CountDistinctTones(noise), CountDistinctTones(expected)) << columns;
    }
}

TEST(Histogram, LargeImagesCountedByPairsAgreeWithPlainCount) {
    // Over a million pixels and not a multiple of 8: the pair counting path and its tail.
    std::mt19937 random(11);
    ByteMatrix image = MatrixOf(1031, 1021);
    Histogram expected{};
    std::uint8_t tone = 0;
    for (std::uint8_t& b : image.Bytes()) {
        tone = random() % 4 == 0 ? static_cast<std::uint8_t>(random()) : tone;  // runs and jumps
        b = tone;
        ++expected[b];
    }
    EXPECT_EQ(ComputeHistogram(image), expected);
}

// Random images of every small size, drawn from a few tones (the high and low
// halves, nibble edges and all 256 included), added whole and in two pieces.
TEST(Histogram, ToneSetOfEveryPathMatchesNaiveSet) {
    std::mt19937 random(77);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    for (int round = 0; round < 2000; ++round) {
        const int lines = pick(0, 67);
        const int columns = pick(0, 67);
        ByteMatrix image = MatrixOf(columns, lines);
        std::vector<int> palette(static_cast<std::size_t>(pick(1, 6)));
        for (int& t : palette) {
            const int edges[] = {0, 15, 16, 127, 128, 255};
            t = pick(0, 1) != 0 ? edges[pick(0, 5)] : pick(0, 255);
        }
        const bool everyTone = pick(0, 9) == 0;
        for (std::uint8_t& b : image.Bytes()) {
            b = static_cast<std::uint8_t>(
                everyTone ? pick(0, 255)
                          : palette[static_cast<std::size_t>(pick(0, static_cast<int>(palette.size()) - 1))]);
        }
        const std::span<const std::uint8_t> bytes = image.Bytes();
        const std::vector<int> expected = SeenTones(bytes);
        const int expectedCount = std::accumulate(expected.begin(), expected.end(), 0);
        const std::size_t cut = static_cast<std::size_t>(pick(0, static_cast<int>(bytes.size())));
        for (detail::KernelPath path : TonePaths()) {
            ToneSet whole;
            ASSERT_TRUE(detail::AddTonesOn(path, whole, bytes));
            ASSERT_EQ(TonesIn(whole), expected) << "round " << round << ", path " << static_cast<int>(path);
            ASSERT_EQ(whole.Count(), expectedCount);
            ToneSet pieces;
            ASSERT_TRUE(detail::AddTonesOn(path, pieces, bytes.first(cut)));
            ASSERT_TRUE(detail::AddTonesOn(path, pieces, bytes.subspan(cut)));
            ASSERT_EQ(TonesIn(pieces), expected) << "round " << round << " in pieces at " << cut;
        }
        ASSERT_EQ(CountDistinctTones(image), expectedCount);
    }
}

TEST(Histogram, LargeToneCountFindsTonesAnywhere) {
    // Over one 4 Mi-pixel block, with rare tones at odd and even places and in the tail.
    ByteMatrix image = MatrixOf(2100, 2001);
    auto bytes = image.Bytes();
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        bytes[k] = (k / 1000) % 2 == 0 ? 3 : 200;
    }
    bytes[1'000'001] = 9;
    bytes[2'000'000] = 10;
    bytes[bytes.size() - 1] = 250;
    bytes[bytes.size() - 5000] = 251;
    EXPECT_EQ(CountDistinctTones(image), 6);
    EXPECT_EQ(CountDistinctTones(ComputeHistogram(image)), 6);
    const std::vector<int> expected = SeenTones(bytes);
    for (detail::KernelPath path : TonePaths()) {
        ToneSet set;
        ASSERT_TRUE(detail::AddTonesOn(path, set, bytes));
        EXPECT_EQ(TonesIn(set), expected) << "path " << static_cast<int>(path);
    }
}

// Bands of every size added to one counter give the whole image's counts,
// whether each band is counted by pairs or tone by tone.
TEST(Histogram, CounterOfBandsMatchesWholeImage) {
    std::mt19937 random(5);
    ByteMatrix image = MatrixOf(2053, 1999);
    Histogram expected{};
    for (std::uint8_t& b : image.Bytes()) {
        b = static_cast<std::uint8_t>(random() % 97 * 2);
        ++expected[b];
    }
    EXPECT_EQ(ComputeHistogram(image), expected);
    const std::span<const std::uint8_t> bytes = image.Bytes();
    for (std::size_t band : {std::size_t{777}, std::size_t{1} << 20, (std::size_t{3} << 20) + 5}) {
        HistogramCounter counter;
        for (std::size_t start = 0; start < bytes.size(); start += band) {
            counter.Add(bytes.subspan(start, std::min(band, bytes.size() - start)));
        }
        EXPECT_EQ(counter.Counts(), expected) << "bands of " << band;
    }
}

TEST(Histogram, HalfBlackHalfWhiteAndEmpty) {
    ByteMatrix image = MatrixOf(10, 10);
    std::fill(image.Bytes().begin() + 50, image.Bytes().end(), std::uint8_t{255});
    const Histogram counts = ComputeHistogram(image);
    EXPECT_EQ(counts[0], 50);
    EXPECT_EQ(counts[255], 50);
    EXPECT_EQ(CountDistinctTones(image), 2);

    ByteMatrix empty;
    EXPECT_EQ(ComputeHistogram(empty), Histogram{});
    EXPECT_EQ(MostFrequentCount(ComputeHistogram(empty)), 0);
    EXPECT_EQ(CountDistinctTones(empty), 0);
}

TEST(Histogram, AllToneCountStopsAt256) {
    ByteMatrix ramp = MatrixOf(256, 300);
    for (int i = 0; i < 300; ++i) {
        for (int j = 0; j < 256; ++j) {
            ramp[i][j] = static_cast<std::uint8_t>(j);
        }
    }
    EXPECT_EQ(CountDistinctTones(ramp), 256);
}

TEST(Histogram, BarTop) {
    EXPECT_EQ(HistogramBarTop(50, 100, 244), 122);
    EXPECT_EQ(HistogramBarTop(100, 100, 244), 0);
    EXPECT_EQ(HistogramBarTop(0, 100, 244), 244);
    EXPECT_EQ(HistogramBarTop(1, 3, 244), 162);  // 162.67 truncated
    EXPECT_EQ(HistogramBarTop(0, 0, 244), 244);  // no pixels: no bar
}

TEST(Histogram, ExportHas256CrLfLines) {
    Histogram counts{};
    counts[0] = 7;
    counts[255] = 3000000000;  // beyond 32 bits, written as it is
    const std::string text = FormatHistogramExport(counts);
    EXPECT_EQ(text.substr(0, 6), "7\r\n0\r\n");
    EXPECT_EQ(text.size(), 3 + 254 * 3 + 12u);
    EXPECT_EQ(text.substr(text.size() - 12), "3000000000\r\n");

    test::ScratchFolder folder;
    ASSERT_TRUE(WriteHistogramFile(folder / "h.xls", Histogram{}).ok());
    std::string zeros;
    for (int k = 0; k < 256; ++k) {
        zeros += "0\r\n";
    }
    EXPECT_EQ(test::ReadWholeFile(folder / "h.xls"), zeros);
}

}  // namespace
}  // namespace kavel
