#include "kavel/treatment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "reference_treatment.h"
#include "test_support.h"

namespace kavel {
namespace {

using test::LinesOf;
using test::MatrixFrom;
using test::MatrixOf;
using Lines = std::vector<std::vector<int>>;

ByteMatrix ReferenceTreatment(const ByteMatrix& source, const TreatmentParameters& p) {
    ByteMatrix result = MatrixOf(source.Columns(), source.Lines());
    const std::vector<std::uint8_t> bytes =
        reference::Treatment(source.Bytes(), source.Lines(), source.Columns(), p);
    std::copy(bytes.begin(), bytes.end(), result.Bytes().begin());
    return result;
}

Lines Treat(const Lines& image, const TreatmentParameters& p) {
    ByteMatrix source = MatrixFrom(image);
    ByteMatrix result = MatrixOf(source.Columns(), source.Lines());
    EXPECT_TRUE(ComputeTreatment(source, p, result).ok());
    return LinesOf(result);
}

TreatmentParameters Params(int type, int min, int max, int item, int border, int background) {
    return {static_cast<TreatmentKind>(type), min, max, item, border, background};
}

const Lines kBlock = {
    {0, 0, 0, 0, 0}, {0, 100, 100, 100, 0}, {0, 100, 100, 100, 0}, {0, 100, 100, 100, 0}, {0, 0, 0, 0, 0},
};

TEST(Treatment, WorkedExampleOfTheThreeTypes) {
    EXPECT_EQ(Treat(kBlock, Params(1, 50, 150, 255, 128, 0)), (Lines{{0, 0, 0, 0, 0},
                                                                     {0, 255, 255, 255, 0},
                                                                     {0, 255, 255, 255, 0},
                                                                     {0, 255, 255, 255, 0},
                                                                     {0, 0, 0, 0, 0}}));
    EXPECT_EQ(Treat(kBlock, Params(2, 50, 150, 255, 128, 0)), (Lines{{0, 0, 0, 0, 0},
                                                                     {0, 128, 128, 128, 0},
                                                                     {0, 128, 0, 128, 0},
                                                                     {0, 128, 128, 128, 0},
                                                                     {0, 0, 0, 0, 0}}));
    EXPECT_EQ(Treat(kBlock, Params(3, 50, 150, 255, 128, 0)), (Lines{{0, 0, 0, 0, 0},
                                                                     {0, 128, 128, 128, 0},
                                                                     {0, 128, 255, 128, 0},
                                                                     {0, 128, 128, 128, 0},
                                                                     {0, 0, 0, 0, 0}}));
}

TEST(Treatment, ImageEdgeIsNotABorderAndDiagonalsDoNotCount) {
    const Lines all = {{5, 5, 5}, {5, 5, 5}, {5, 5, 5}};
    EXPECT_EQ(Treat(all, Params(2, 0, 10, 1, 2, 3)), (Lines{{3, 3, 3}, {3, 3, 3}, {3, 3, 3}}));
    EXPECT_EQ(Treat(all, Params(3, 0, 10, 1, 2, 3)), (Lines{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}));

    const Lines corner = {{99, 5, 5}, {5, 5, 5}, {5, 5, 5}};
    EXPECT_EQ(Treat(corner, Params(2, 0, 10, 1, 2, 3)), (Lines{{3, 2, 3}, {2, 3, 3}, {3, 3, 3}}));
    EXPECT_EQ(Treat(corner, Params(3, 0, 10, 1, 2, 3)), (Lines{{3, 2, 1}, {2, 1, 1}, {1, 1, 1}}));
}

TEST(Treatment, ThinShapesAreAllBorder) {
    const Lines dot = {{0, 0, 0}, {0, 9, 0}, {0, 0, 0}};
    EXPECT_EQ(Treat(dot, Params(3, 9, 9, 1, 2, 3))[1], (std::vector<int>{3, 2, 3}));
    const Lines line = {{0, 0, 0, 0}, {9, 9, 9, 9}, {0, 0, 0, 0}};
    EXPECT_EQ(Treat(line, Params(3, 9, 9, 1, 2, 3))[1], (std::vector<int>{2, 2, 2, 2}));
    // One column and one line wide images: only the ends touch unselected pixels.
    EXPECT_EQ(Treat({{9}, {9}, {0}}, Params(3, 9, 9, 1, 2, 3)), (Lines{{1}, {2}, {3}}));
    EXPECT_EQ(Treat({{0, 9, 9}}, Params(3, 9, 9, 1, 2, 3)), (Lines{{3, 2, 1}}));
}

TEST(Treatment, BoundsAreSigned32BitAndTonesLow8Bits) {
    const Lines image = {{0, 128, 255}};
    EXPECT_EQ(Treat(image, Params(1, 200, 100, 1, 2, 7)), (Lines{{7, 7, 7}}));  // Min > Max
    EXPECT_EQ(Treat(image, Params(1, INT_MIN, INT_MAX, 1, 2, 7)), (Lines{{1, 1, 1}}));
    EXPECT_EQ(Treat(image, Params(1, -5, 0, 1, 2, 7)), (Lines{{1, 7, 7}}));
    EXPECT_EQ(Treat(image, Params(1, 255, 300, 1, 2, 7)), (Lines{{7, 7, 1}}));
    EXPECT_EQ(Treat(image, Params(1, 256, 1000, 1, 2, 7)), (Lines{{7, 7, 7}}));  // not 0..0
    EXPECT_EQ(Treat(image, Params(1, -1000, -1, 1, 2, 7)), (Lines{{7, 7, 7}}));
    EXPECT_EQ(Treat(image, Params(1, 100, 200, -1, 2, 256)), (Lines{{0, 255, 0}}));
    EXPECT_EQ(Treat(image, Params(1, 100, 200, 300, 2, 0)), (Lines{{0, 44, 0}}));
}

TEST(Treatment, UnknownTypeGivesBackgroundOnly) {
    for (int type : {0, 4, -1, 1000}) {
        EXPECT_EQ(Treat(kBlock, Params(type, 0, 255, 1, 2, 9)), Lines(5, std::vector<int>(5, 9))) << type;
    }
}

TEST(Treatment, EveryRunReplacesThePreviousResult) {
    ByteMatrix source = MatrixFrom(kBlock);
    ByteMatrix result = MatrixOf(5, 5);
    ASSERT_TRUE(ComputeTreatment(source, Params(3, 50, 150, 255, 128, 17), result).ok());
    ASSERT_TRUE(ComputeTreatment(source, Params(1, 0, 0, 4, 5, 6), result).ok());
    EXPECT_EQ(LinesOf(result),
              (Lines{{4, 4, 4, 4, 4}, {4, 6, 6, 6, 4}, {4, 6, 6, 6, 4}, {4, 6, 6, 6, 4}, {4, 4, 4, 4, 4}}));
}

TEST(Treatment, RefusesMatricesOfDifferentSizeAndAcceptsEmpty) {
    ByteMatrix source = MatrixOf(4, 3);
    ByteMatrix wrong = MatrixOf(3, 4);
    EXPECT_FALSE(ComputeTreatment(source, Params(2, 0, 255, 1, 2, 3), wrong).ok());
    ByteMatrix empty;
    ByteMatrix emptyResult;
    EXPECT_TRUE(ComputeTreatment(empty, Params(3, 0, 255, 1, 2, 3), emptyResult).ok());
}

struct Variant {
    detail::KernelPath path;
    detail::ResultStores stores;
    const char* name;
};

// Every row-loop variant, on this processor; the AVX2 and AVX-512 ones only
// where it has them (the baseline ones run everywhere).
std::vector<Variant> AvailableVariants() {
    using detail::KernelPath;
    using detail::ResultStores;
    std::vector<Variant> variants = {
        {KernelPath::Baseline, ResultStores::Cached, "baseline"},
        {KernelPath::Baseline, ResultStores::Streaming, "baseline, streaming stores"},
    };
    if (detail::KernelPathAvailable(KernelPath::Avx2)) {
        variants.push_back({KernelPath::Avx2, ResultStores::Cached, "AVX2"});
        variants.push_back({KernelPath::Avx2, ResultStores::Streaming, "AVX2, streaming stores"});
    }
    if (detail::KernelPathAvailable(KernelPath::Avx512)) {
        variants.push_back({KernelPath::Avx512, ResultStores::Cached, "AVX-512"});
        variants.push_back({KernelPath::Avx512, ResultStores::Streaming, "AVX-512, streaming stores"});
    }
    return variants;
}

// The fast paths must match the two-pass description on every shape, bound
// and tone, including bounds outside 0..255, Min > Max and unknown types.
TEST(Treatment, MatchesTwoPassDescriptionOnRandomImages) {
    const std::vector<Variant> variants = AvailableVariants();
    if (!detail::KernelPathAvailable(detail::KernelPath::Avx2)) {
        std::cout << "note: no AVX2 on this processor, only the baseline loops are checked\n";
    }
    std::mt19937 random(20240611);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto anyBound = [&]() -> std::int32_t {
        switch (pick(0, 5)) {
            case 0:
                return pick(-300, -1);
            case 1:
                return pick(256, 600);
            case 2:
                return pick(0, 1) != 0 ? INT_MIN : INT_MAX;
            default:
                return pick(0, 255);
        }
    };
    for (int round = 0; round < 3000; ++round) {
        const int lines = pick(0, 67);
        const int columns = pick(0, 67);
        ByteMatrix source = MatrixOf(columns, lines);
        // Few distinct tones give blobs with many borders; sometimes pure noise.
        std::vector<int> tones(static_cast<std::size_t>(pick(1, 4)));
        for (int& t : tones) {
            t = pick(0, 255);
        }
        const bool noise = pick(0, 4) == 0;
        for (std::uint8_t& b : source.Bytes()) {
            b = static_cast<std::uint8_t>(
                noise ? pick(0, 255)
                      : tones[static_cast<std::size_t>(pick(0, static_cast<int>(tones.size()) - 1))]);
        }
        TreatmentParameters p;
        p.TreatmentType = static_cast<TreatmentKind>(pick(0, 4));
        p.MinThreshold = anyBound();
        p.MaxThreshold = anyBound();
        if (pick(0, 2) == 0) {  // make sure something is often selected
            p.MinThreshold = tones[0] - pick(0, 3);
            p.MaxThreshold = tones[0] + pick(0, 3);
        }
        p.ItemTone = pick(-1000, 1000);
        p.BorderTone = pick(-1000, 1000);
        p.BackgroundTone = pick(-1000, 1000);

        const ByteMatrix expected = ReferenceTreatment(source, p);
        auto context = [&] {
            return "round " + std::to_string(round) + ": " + std::to_string(columns) + " x " +
                   std::to_string(lines) + ", type " + std::to_string(static_cast<int>(p.TreatmentType)) +
                   ", [" + std::to_string(p.MinThreshold) + ", " + std::to_string(p.MaxThreshold) + "]";
        };
        ByteMatrix result = MatrixOf(columns, lines);
        for (const Variant& v : variants) {
            std::fill(result.Bytes().begin(), result.Bytes().end(), std::uint8_t{0xA5});  // stale content
            ASSERT_TRUE(detail::ComputeTreatmentOn(v.path, v.stores, source, p, result).ok());
            ASSERT_EQ(LinesOf(result), LinesOf(expected)) << v.name << ", " << context();
        }
        std::fill(result.Bytes().begin(), result.Bytes().end(), std::uint8_t{0xA5});
        ASSERT_TRUE(ComputeTreatment(source, p, result).ok());
        ASSERT_EQ(LinesOf(result), LinesOf(expected)) << context();

        // Working in place gives the same result.
        ASSERT_TRUE(ComputeTreatment(source, p, source).ok());
        ASSERT_EQ(LinesOf(source), LinesOf(expected)) << "in place, " << context();
    }
}

// On images of many long lines (16 MB), every variant and the public entry
// agree with the cached baseline, which the test above checks against the
// description, also in place. 4099 columns start most lines unaligned; in
// place, 4000 columns put each result line just above the next source line
// modulo 4 KiB, which the AVX-512 loop handles on its own.
TEST(Treatment, LargeImagesGiveTheSameResultOnEveryPath) {
    for (const int columns : {4099, 4000}) {
        const int lines = 4100;
        ByteMatrix source = MatrixOf(columns, lines);
        std::uint32_t state = 12345;
        for (std::uint8_t& b : source.Bytes()) {
            state = state * 1664525u + 1013904223u;
            b = static_cast<std::uint8_t>(state >> 24);
        }
        for (int type : {1, 2, 3}) {
            const TreatmentParameters p = Params(type, 60, 200, 255, 128, 3);
            ByteMatrix expected = MatrixOf(columns, lines);
            ASSERT_TRUE(detail::ComputeTreatmentOn(detail::KernelPath::Baseline, detail::ResultStores::Cached,
                                                   source, p, expected)
                            .ok());
            auto same = [&](const ByteMatrix& result) {
                return std::equal(result.Bytes().begin(), result.Bytes().end(), expected.Bytes().begin());
            };
            ByteMatrix result = MatrixOf(columns, lines);
            ASSERT_TRUE(ComputeTreatment(source, p, result).ok());
            EXPECT_TRUE(same(result)) << columns << " columns, type " << type;
            for (const Variant& v : AvailableVariants()) {
                ASSERT_TRUE(detail::ComputeTreatmentOn(v.path, v.stores, source, p, result).ok());
                EXPECT_TRUE(same(result)) << v.name << ", " << columns << " columns, type " << type;
                std::copy(source.Bytes().begin(), source.Bytes().end(), result.Bytes().begin());
                ASSERT_TRUE(detail::ComputeTreatmentOn(v.path, v.stores, result, p, result).ok());
                EXPECT_TRUE(same(result)) << v.name << ", in place, " << columns << " columns, type " << type;
            }
        }
    }
}

}  // namespace
}  // namespace kavel
