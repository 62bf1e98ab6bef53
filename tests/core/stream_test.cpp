#include "kavel/stream.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "kavel/bitmap.h"
#include "kavel/imagefile.h"
#include "test_support.h"

namespace kavel {
namespace {

namespace fs = std::filesystem;
using test::MatrixOf;
using test::ReadWholeFile;
using test::ScratchFolder;
using test::WriteWholeFile;

// How an image is stored for a test: raw, a bitmap bottom line first, or a
// bitmap top line first; bitmaps through a gray palette that is not the ramp.
enum class Stored { Raw, BottomUp, TopDown };

// Tone t is stored as 255 - t under a palette whose entry i is 255 - i, so a
// reader that skipped the palette gives the wrong image.
const Palette& InvertedGray() {
    static const Palette palette = [] {
        Palette p{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            const std::uint32_t g = 255 - i;
            p[i] = g | (g << 8) | (g << 16);
        }
        return p;
    }();
    return palette;
}

fs::path StoreImage(const ScratchFolder& folder, const std::string& name, const ByteMatrix& image,
                    Stored how) {
    if (how == Stored::Raw) {
        const fs::path file = folder / (name + ".raw");
        const auto bytes = image.Bytes();
        WriteWholeFile(file, std::string(bytes.begin(), bytes.end()));
        return file;
    }
    ByteMatrix indices = MatrixOf(image.Columns(), image.Lines());
    for (int i = 0; i < image.Lines(); ++i) {
        for (int j = 0; j < image.Columns(); ++j) {
            indices[i][j] = static_cast<std::uint8_t>(255 - image[i][j]);
        }
    }
    std::ostringstream out;
    EXPECT_TRUE(WriteBitmapStream(out, indices, PixelKind::Gray, &InvertedGray()).ok());
    std::string bytes = out.str();
    if (how == Stored::TopDown) {
        const auto height = static_cast<std::uint32_t>(-image.Lines());
        for (std::size_t b = 0; b < 4; ++b) {
            bytes[22 + b] = static_cast<char>(height >> (8 * b));
        }
        const std::size_t stride = BitmapStride(image.Columns(), 1);
        std::string rows;
        for (int k = image.Lines() - 1; k >= 0; --k) {
            rows += bytes.substr(1078 + static_cast<std::size_t>(k) * stride, stride);
        }
        bytes = bytes.substr(0, 1078) + rows;
    }
    const fs::path file = folder / (name + ".bmp");
    WriteWholeFile(file, bytes);
    return file;
}

LineSource Open(const fs::path& file, Stored how, ImageSize size, std::size_t bandBytes) {
    auto source = how == Stored::Raw ? LineSource::OpenRaw(file, size, bandBytes)
                                     : LineSource::OpenBitmap(file, bandBytes);
    EXPECT_TRUE(source.ok()) << (source.ok() ? "" : source.error().message);
    return std::move(source).value();
}

// Every band a producer gives, put back at its lines.
ByteMatrix Collect(LineProducer& lines, LineOrder order) {
    const ImageSize size = lines.Size();
    ByteMatrix image = MatrixOf(size.Columns, size.Lines);
    int done = 0;
    const auto columns = static_cast<std::size_t>(size.Columns);
    auto produced = lines.Produce(order, [&](int count, std::span<const std::uint8_t> rows) {
        EXPECT_GE(count, 1);
        EXPECT_EQ(rows.size(), static_cast<std::size_t>(count) * columns);
        for (int k = 0; k < count; ++k, ++done) {
            const int line = order == LineOrder::TopFirst ? done : size.Lines - 1 - done;
            std::copy_n(rows.data() + static_cast<std::size_t>(k) * columns, columns, image[line]);
        }
        return true;
    });
    EXPECT_TRUE(produced.ok()) << (produced.ok() ? "" : produced.error().message);
    EXPECT_EQ(done, size.Lines == 0 || size.Columns == 0 ? 0 : size.Lines);
    return image;
}

bool SameImage(const ByteMatrix& a, const ByteMatrix& b) {
    return a.Lines() == b.Lines() && a.Columns() == b.Columns() &&
           std::equal(a.Bytes().begin(), a.Bytes().end(), b.Bytes().begin());
}

// Few tones, in clumps, so that items, borders and insides all occur.
ByteMatrix RandomImage(std::mt19937& random, int columns, int lines) {
    ByteMatrix image = MatrixOf(columns, lines);
    std::uniform_int_distribution<int> tone(0, 3);
    for (int i = 0; i < lines; ++i) {
        for (int j = 0; j < columns; ++j) {
            const bool keep = (i > 0 && random() % 3 != 0);
            image[i][j] = keep ? image[i - 1][j] : static_cast<std::uint8_t>(tone(random) * 80);
        }
    }
    return image;
}

TreatmentParameters RandomParameters(std::mt19937& random) {
    // In-range bounds and bounds beyond 0..255 on either side, empty intervals too.
    static const std::vector<std::pair<int, int>> bounds{{50, 170},  {0, 0},     {80, 80},
                                                         {-7, 90},   {100, 900}, {INT_MIN, INT_MAX},
                                                         {200, 100}, {-50, -1},  {256, 300}};
    const auto& [low, high] = bounds[random() % bounds.size()];
    const auto tone = [&random] { return static_cast<std::int32_t>(random() % 600) - 150; };
    // 4 is no known kind: the background fill alone.
    return {static_cast<TreatmentKind>(random() % 5), low, high, tone(), tone(), tone()};
}

// The streaming treatment against the whole-image one: every size from 0 to
// 67 in each direction, all types, in- and out-of-range bounds, bands of one
// line, of three lines and of the default size, read in both row orders from
// raw files and from bitmaps stored either way up.
TEST(StreamTreatment, MatchesTheWholeImageTreatmentInBothOrders) {
    ScratchFolder folder;
    std::mt19937 random(13);
    struct Size {
        int Columns, Lines;
    };
    std::vector<Size> sizes;
    for (int n = 0; n <= 67; ++n) {
        sizes.push_back({n, static_cast<int>(random() % 68)});
        sizes.push_back({static_cast<int>(random() % 68), n});
    }
    sizes.push_back({1001, 1500});  // several default bands, width not a multiple of 4
    sizes.push_back({4096, 700});
    int cases = 0;
    for (const Size& size : sizes) {
        const ByteMatrix image = RandomImage(random, size.Columns, size.Lines);
        const TreatmentParameters parameters = RandomParameters(random);
        ByteMatrix expected = MatrixOf(size.Columns, size.Lines);
        ASSERT_TRUE(ComputeTreatment(image, parameters, expected).ok());
        const auto rowBytes = static_cast<std::size_t>(std::max(size.Columns, 1));
        for (Stored how : {Stored::Raw, Stored::BottomUp, Stored::TopDown}) {
            const fs::path file = StoreImage(folder, "in", image, how);
            for (std::size_t band : {rowBytes, 3 * rowBytes, kStreamBandBytes}) {
                for (LineOrder order : {LineOrder::TopFirst, LineOrder::BottomFirst}) {
                    LineSource source = Open(file, how, {size.Lines, size.Columns}, band);
                    EXPECT_TRUE(SameImage(Collect(source, order), image));
                    TreatedLines treated(source, parameters);
                    EXPECT_TRUE(SameImage(Collect(treated, order), expected))
                        << size.Columns << " x " << size.Lines << " type "
                        << static_cast<int>(parameters.TreatmentType) << " [" << parameters.MinThreshold
                        << ", " << parameters.MaxThreshold << "] band " << band;
                    ++cases;
                }
            }
        }
    }
    EXPECT_EQ(cases, static_cast<int>(sizes.size()) * 3 * 3 * 2);
}

// The files written from lines are the files the whole-image savers write.
TEST(StreamSave, WritesTheSameFilesAsTheWholeImageSavers) {
    ScratchFolder folder;
    std::mt19937 random(7);
    for (const auto& [columns, lines] : std::vector<std::pair<int, int>>{
             {0, 0}, {0, 9}, {9, 0}, {1, 1}, {5, 2}, {6, 13}, {8, 8}, {67, 45}, {2001, 900}}) {
        const ByteMatrix image = RandomImage(random, columns, lines);
        const fs::path in = StoreImage(folder, "in", image, Stored::Raw);
        LineSource source =
            Open(in, Stored::Raw, {lines, columns}, 3 * static_cast<std::size_t>(columns + 1));
        ASSERT_TRUE(SaveRawImage(folder / "whole.raw", folder / "whole.txt", image).ok());
        ASSERT_TRUE(SaveRawLines(folder / "lines.raw", folder / "lines.txt", source).ok());
        ASSERT_TRUE(WriteBitmapFile(folder / "whole.bmp", image).ok());
        ASSERT_TRUE(SaveBitmapLines(folder / "lines.bmp", source).ok());
        for (const char* ending : {".raw", ".txt", ".bmp"}) {
            EXPECT_EQ(ReadWholeFile(folder / ("lines" + std::string(ending))),
                      ReadWholeFile(folder / ("whole" + std::string(ending))))
                << columns << " x " << lines << ending;
        }
    }
    // Nothing but the files themselves is left behind.
    EXPECT_EQ(folder.Entries().size(), 7u);
}

TEST(StreamSource, ShortRawFileReadsAsZerosInEitherOrder) {
    ScratchFolder folder;
    WriteWholeFile(folder / "short.raw", "abcdefg");  // 7 of 4 x 3 = 12 bytes
    auto source = LineSource::OpenRaw(folder / "short.raw", {4, 3}, 3);
    ASSERT_TRUE(source.ok());
    EXPECT_TRUE(source->Short());
    EXPECT_EQ(source->FileBytes(), 7u);
    const std::vector<std::vector<int>> expected{{'a', 'b', 'c'}, {'d', 'e', 'f'}, {'g', 0, 0}, {0, 0, 0}};
    EXPECT_EQ(test::LinesOf(Collect(*source, LineOrder::TopFirst)), expected);
    EXPECT_EQ(test::LinesOf(Collect(*source, LineOrder::BottomFirst)), expected);

    auto whole = LoadRawImage(folder / "short.raw", {4, 3});
    ASSERT_TRUE(whole.ok());
    EXPECT_EQ(test::LinesOf(whole->Pixels), expected);
}

// Pixels are read from where the header says they start, not from 1078.
TEST(StreamSource, BitmapPixelsStartWhereTheHeaderSays) {
    ScratchFolder folder;
    std::mt19937 random(5);
    const ByteMatrix image = RandomImage(random, 7, 9);
    const fs::path file = StoreImage(folder, "gap", image, Stored::BottomUp);
    std::string bytes = ReadWholeFile(file);
    bytes.insert(1078, "gap!!");
    bytes[10] = static_cast<char>((1078 + 5) & 0xFF);
    WriteWholeFile(file, bytes);
    for (LineOrder order : {LineOrder::TopFirst, LineOrder::BottomFirst}) {
        LineSource source = Open(file, Stored::BottomUp, {}, 8 * 2);
        EXPECT_TRUE(SameImage(Collect(source, order), image));
    }
}

// The streaming reader refuses what the whole-image reader refuses, in the
// same words, before any line is read.
TEST(StreamSource, RefusesWhatTheWholeImageReaderRefuses) {
    ScratchFolder folder;
    std::ostringstream colour;
    ASSERT_TRUE(WriteBitmapStream(colour, MatrixOf(6, 2), PixelKind::Rgb).ok());
    std::ostringstream gray;
    ASSERT_TRUE(WriteBitmapStream(gray, MatrixOf(5, 4)).ok());
    const std::string truncated = gray.str().substr(0, gray.str().size() - 3);
    for (const auto& [name, bytes] :
         std::vector<std::pair<std::string, std::string>>{{"colour.bmp", colour.str()},
                                                          {"short.bmp", truncated},
                                                          {"text.bmp", "hello"},
                                                          {"empty.bmp", ""}}) {
        WriteWholeFile(folder / name, bytes);
        auto streamed = LineSource::OpenBitmap(folder / name);
        auto whole = LoadGrayBitmap(folder / name);
        ASSERT_FALSE(streamed.ok()) << name;
        ASSERT_FALSE(whole.ok()) << name;
        EXPECT_EQ(streamed.error().message, whole.error().message) << name;
    }
    EXPECT_TRUE(IsColourBitmapRefusal(LineSource::OpenBitmap(folder / "colour.bmp").error()));
    EXPECT_FALSE(LineSource::OpenRaw(folder / "missing.raw", {1, 1}).ok());
    EXPECT_FALSE(LineSource::OpenRaw(folder / "short.bmp", {-1, 4}).ok());
    EXPECT_FALSE(LineSource::OpenRaw(folder / "short.bmp", {1 << 20, 1 << 20}).ok());
}

// A file that shrinks once opened fails the save, and the target keeps its
// old content: the safe-save guarantees hold for streamed writes too.
TEST(StreamSave, ReadFailureLeavesTheTargetsUntouched) {
    ScratchFolder folder;
    std::mt19937 random(3);
    const ByteMatrix image = RandomImage(random, 30, 40);
    const fs::path in = StoreImage(folder, "in", image, Stored::BottomUp);
    WriteWholeFile(folder / "out.raw", "old pixels");
    WriteWholeFile(folder / "out.txt", "old descriptor");
    WriteWholeFile(folder / "out.bmp", "old bitmap");
    LineSource source = Open(in, Stored::BottomUp, {}, 32 * 4);
    fs::resize_file(in, 1078 + 32 * 20);
    TreatedLines treated(source, {TreatmentKind::Border, 0, 100, 1, 2, 3});
    auto raw = SaveRawLines(folder / "out.raw", folder / "out.txt", treated);
    ASSERT_FALSE(raw.ok());
    EXPECT_NE(raw.error().message.find("ended early"), std::string::npos) << raw.error().message;
    EXPECT_FALSE(SaveBitmapLines(folder / "out.bmp", treated).ok());
    EXPECT_EQ(ReadWholeFile(folder / "out.raw"), "old pixels");
    EXPECT_EQ(ReadWholeFile(folder / "out.txt"), "old descriptor");
    EXPECT_EQ(ReadWholeFile(folder / "out.bmp"), "old bitmap");
    EXPECT_EQ(folder.Entries().size(), 4u);  // no temporary left
}

TEST(StreamCounts, HistogramAndToneCountMatchTheWholeImage) {
    ScratchFolder folder;
    std::mt19937 random(11);
    for (const auto& [columns, lines, spread] : std::vector<std::tuple<int, int, int>>{{0, 5, 256},
                                                                                       {5, 0, 256},
                                                                                       {1, 1, 256},
                                                                                       {67, 31, 3},
                                                                                       {333, 200, 256},
                                                                                       {64, 1000, 256},
                                                                                       {700, 900, 17}}) {
        ByteMatrix image = MatrixOf(columns, lines);
        for (auto& byte : image.Bytes()) {
            byte = static_cast<std::uint8_t>(random() % static_cast<unsigned>(spread));
        }
        for (Stored how : {Stored::Raw, Stored::BottomUp}) {
            const fs::path file = StoreImage(folder, "in", image, how);
            for (std::size_t band : {static_cast<std::size_t>(columns + 1), kStreamBandBytes}) {
                LineSource source = Open(file, how, {lines, columns}, band);
                auto counts = StreamHistogram(source);
                ASSERT_TRUE(counts.ok());
                EXPECT_EQ(*counts, ComputeHistogram(image)) << columns << " x " << lines;
                auto tones = StreamDistinctTones(source);
                ASSERT_TRUE(tones.ok());
                EXPECT_EQ(*tones, CountDistinctTones(image)) << columns << " x " << lines;
            }
        }
    }
}

}  // namespace
}  // namespace kavel
