#include "kavel/bitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <streambuf>

#include "test_support.h"

namespace kavel {
namespace {

using test::Field16;
using test::Field32;
using test::LinesOf;
using test::MatrixFrom;
using test::MatrixOf;

std::string Written(const ByteMatrix& rows, PixelKind kind = PixelKind::Gray,
                    const Palette* palette = nullptr) {
    std::ostringstream out;
    EXPECT_TRUE(WriteBitmapStream(out, rows, kind, palette).ok());
    return out.str();
}

Expected<BitmapData> ReadBytes(const std::string& bytes) {
    std::istringstream in(bytes);
    return ReadBitmapStream(in, bytes.size());
}

std::string Refusal(const std::string& bytes) {
    auto read = ReadBytes(bytes);
    EXPECT_FALSE(read.ok());
    return read.ok() ? std::string("(accepted)") : read.error().message;
}

void Set32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t b = 0; b < 4; ++b) {
        bytes[at + b] = static_cast<char>(value >> (8 * b));
    }
}
void Set16(std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<char>(value);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

ByteMatrix Noise(int columns, int lines, std::uint32_t seed) {
    ByteMatrix m = MatrixOf(columns, lines);
    std::mt19937 random(seed);
    for (std::uint8_t& b : m.Bytes()) {
        b = static_cast<std::uint8_t>(random());
    }
    return m;
}

TEST(BitmapLayout, StrideAndWorkedSizes) {
    EXPECT_EQ(BitmapStride(1, 1), 4u);
    EXPECT_EQ(BitmapStride(4, 1), 4u);
    EXPECT_EQ(BitmapStride(5, 1), 8u);
    EXPECT_EQ(BitmapStride(3, 3), 12u);
    EXPECT_EQ(BitmapStride(0, 1), 0u);
    EXPECT_EQ(BitmapFileSize(640, 480, 8), 308278u);
    EXPECT_EQ(BitmapFileSize(640, 480, 24), 921654u);
    EXPECT_EQ(BitmapFileSize(1, 1, 8), 1082u);
    EXPECT_EQ(BitmapFileSize(0, 0, 8), 1078u);

    for (auto [columns, lines, size] : {std::tuple{640, 480, 308278u}, std::tuple{1, 1, 1082u},
                                        std::tuple{0, 0, 1078u}, std::tuple{5, 2, 1094u}}) {
        const std::string file = Written(MatrixOf(columns, lines));
        EXPECT_EQ(file.size(), size);
        EXPECT_EQ(Field32(file, 2), size);
    }
}

TEST(BitmapLayout, EightBitHeaderPaletteAndBottomUpPaddedRows) {
    const ByteMatrix rows = MatrixFrom({{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}});
    const std::string file = Written(rows);
    ASSERT_EQ(file.size(), 1094u);
    EXPECT_EQ(file.substr(0, 2), "BM");
    EXPECT_EQ(Field32(file, 2), 1094u);
    EXPECT_EQ(Field32(file, 6), 0u);  // both reserved words
    EXPECT_EQ(Field32(file, 10), 1078u);
    EXPECT_EQ(Field32(file, 14), 40u);
    EXPECT_EQ(Field32(file, 18), 5u);
    EXPECT_EQ(Field32(file, 22), 2u);
    EXPECT_EQ(Field16(file, 26), 1u);
    EXPECT_EQ(Field16(file, 28), 8u);
    EXPECT_EQ(Field32(file, 30), 0u);
    EXPECT_EQ(Field32(file, 34), 16u);
    EXPECT_EQ(Field32(file, 38), 10000u);
    EXPECT_EQ(Field32(file, 42), 10000u);
    EXPECT_EQ(Field32(file, 46), 0u);
    EXPECT_EQ(Field32(file, 50), 0u);
    EXPECT_EQ(file.substr(54 + 200 * 4, 4), std::string("\xC8\xC8\xC8\x00", 4));  // palette entry 200
    // First row in the file is line 1, padded with three zeros.
    EXPECT_EQ(file.substr(1078, 8), std::string("\x06\x07\x08\x09\x0A\0\0\0", 8));
    EXPECT_EQ(file.substr(1086, 8), std::string("\x01\x02\x03\x04\x05\0\0\0", 8));
}

TEST(BitmapLayout, GivenPaletteIsWrittenLittleEndian) {
    Palette palette{};
    palette[3] = 0x00112233u;
    const std::string file = Written(MatrixOf(1, 1), PixelKind::Paletted, &palette);
    EXPECT_EQ(file.substr(54 + 12, 4), std::string("\x33\x22\x11\x00", 4));
    EXPECT_EQ(file.substr(54 + 200 * 4, 4), std::string(4, '\0'));
}

TEST(BitmapLayout, TwentyFourBitHasNoPaletteAndKeepsByteOrder) {
    // 3 pixels wide: 9 bytes per line.
    const ByteMatrix rows = MatrixFrom({{10, 20, 30, 0, 0, 0, 0, 0, 0}, {1, 2, 3, 4, 5, 6, 7, 8, 9}});
    const std::string file = Written(rows, PixelKind::Rgb);
    ASSERT_EQ(file.size(), 78u);
    EXPECT_EQ(Field32(file, 10), 54u);
    EXPECT_EQ(Field32(file, 18), 3u);
    EXPECT_EQ(Field16(file, 28), 24u);
    EXPECT_EQ(Field32(file, 34), 24u);
    EXPECT_EQ(file.substr(54, 12), std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\0\0\0", 12));
    EXPECT_EQ(file.substr(66, 3), "\x0A\x14\x1E");

    std::ostringstream out;
    EXPECT_FALSE(WriteBitmapStream(out, MatrixOf(4, 1), PixelKind::Rgb).ok());  // not whole pixels
}

TEST(BitmapRoundTrip, BothDepthsOverOddWidths) {
    for (int width = 1; width <= 9; ++width) {
        for (int height : {1, 2, 5}) {
            const ByteMatrix gray = Noise(width, height, static_cast<std::uint32_t>(width * 10 + height));
            auto read = ReadBytes(Written(gray));
            ASSERT_TRUE(read.ok()) << read.error().message;
            EXPECT_EQ(read->Width, width);
            EXPECT_EQ(read->Height, height);
            EXPECT_EQ(read->BitsPerPixel, 8);
            EXPECT_EQ(read->FilePalette, GrayRampPalette());
            EXPECT_EQ(LinesOf(read->Rows), LinesOf(gray));

            const ByteMatrix rgb = Noise(width * 3, height, static_cast<std::uint32_t>(width * 100 + height));
            auto readRgb = ReadBytes(Written(rgb, PixelKind::Rgb));
            ASSERT_TRUE(readRgb.ok()) << readRgb.error().message;
            EXPECT_EQ(readRgb->Width, width);
            EXPECT_EQ(readRgb->BitsPerPixel, 24);
            EXPECT_EQ(LinesOf(readRgb->Rows), LinesOf(rgb));
        }
    }
    auto empty = ReadBytes(Written(ByteMatrix{}));
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty->Width, 0);
    EXPECT_EQ(empty->Height, 0);
}

TEST(BitmapRoundTrip, ThroughFilesAndColourPaletteKeepsIndices) {
    test::ScratchFolder folder;
    const ByteMatrix rows = Noise(7, 4, 5);
    Palette palette{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        palette[i] = 0x00FF0000u | i;
    }
    ASSERT_TRUE(WriteBitmapFile(folder / "a.bmp", rows, PixelKind::Paletted, &palette).ok());
    EXPECT_EQ(std::filesystem::file_size(folder / "a.bmp"), BitmapFileSize(7, 4, 8));
    auto read = ReadBitmapFile(folder / "a.bmp");
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(LinesOf(read->Rows), LinesOf(rows));
    EXPECT_EQ(read->FilePalette, palette);
}

TEST(BitmapRead, TopDownFileHasLineZeroFirst) {
    const ByteMatrix rows = MatrixFrom({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    std::string file = Written(rows);
    // Rebuild the pixel area top line first and make the height negative.
    std::string topDown = file.substr(0, 1078);
    for (int line = 0; line < 3; ++line) {
        topDown += file.substr(1078 + static_cast<std::size_t>(2 - line) * 4, 4);
    }
    Set32(topDown, 22, static_cast<std::uint32_t>(-3));
    auto read = ReadBytes(topDown);
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(read->Height, 3);
    EXPECT_EQ(LinesOf(read->Rows), LinesOf(rows));
}

TEST(BitmapRead, WideHeaderIsNotTruncated) {
    auto read = ReadBytes(Written(Noise(40000, 1, 1)));
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(read->Width, 40000);
    EXPECT_EQ(read->Rows.Columns(), 40000);
}

TEST(BitmapRead, RefusesOtherFormatsWithAReason) {
    const std::string good = Written(Noise(5, 3, 2));
    EXPECT_EQ(Refusal(""), "not a BMP file");
    EXPECT_EQ(Refusal("PK\x03\x04" + good.substr(4)), "not a BMP file");
    for (std::uint32_t bits : {1u, 4u, 16u, 32u}) {
        std::string other = good;
        Set16(other, 28, bits);
        EXPECT_EQ(Refusal(other), std::to_string(bits) + " bits per pixel is not supported");
    }
    std::string rle = good;
    Set32(rle, 30, 1);
    EXPECT_EQ(Refusal(rle), "run-length compressed bitmaps are not supported");
    std::string bitfields = good;
    Set32(bitfields, 30, 3);
    EXPECT_NE(Refusal(bitfields).find("compression"), std::string::npos);

    std::string smallPalette = good;  // 8 bits with a 16-entry palette
    Set32(smallPalette, 10, 54 + 64);
    EXPECT_NE(Refusal(smallPalette).find("offset 118"), std::string::npos);
    std::string rgbOffset = Written(Noise(6, 1, 3), PixelKind::Rgb);
    Set32(rgbOffset, 10, 1078);
    EXPECT_NE(Refusal(rgbOffset).find("offset 1078"), std::string::npos);
    std::string negativeWidth = good;
    Set32(negativeWidth, 18, static_cast<std::uint32_t>(-5));
    EXPECT_NE(Refusal(negativeWidth).find("negative width"), std::string::npos);
}

TEST(BitmapRead, RefusesTruncatedFilesSayingWhere) {
    const std::string good = Written(Noise(5, 3, 4));  // rows of 8 bytes
    EXPECT_EQ(Refusal(good.substr(0, 20)), "file ends inside the header");
    EXPECT_EQ(Refusal(good.substr(0, 600)), "file ends inside the palette");
    EXPECT_EQ(Refusal(good.substr(0, 1078 + 12)),
              "file ends inside row 2 of 3 (rows counted from 1 in file order)");
    EXPECT_EQ(Refusal(good.substr(0, good.size() - 1)),
              "file ends inside row 3 of 3 (rows counted from 1 in file order)");

    // A stream that holds less than its caller announced is caught while reading.
    std::istringstream lying(good.substr(0, 1078 + 12));
    auto read = ReadBitmapStream(lying, good.size());
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().message, "file ends inside row 2 of 3 (rows counted from 1 in file order)");
}

TEST(BitmapRead, HugeSizesAreRefusedBeforeAnythingIsAllocated) {
    // 65536 x 65536 is within the pixel limit, so only the length check can
    // stop it; reaching the allocation would take 4 GiB.
    std::string huge = Written(Noise(4, 1, 6));
    Set32(huge, 18, 65536);
    Set32(huge, 22, 65536);
    EXPECT_EQ(Refusal(huge), "file ends inside row 1 of 65536 (rows counted from 1 in file order)");
    Set32(huge, 22, static_cast<std::uint32_t>(-65536));
    EXPECT_EQ(Refusal(huge), "file ends inside row 1 of 65536 (rows counted from 1 in file order)");
    Set32(huge, 18, 0x7FFFFFFF);
    Set32(huge, 22, 0x7FFFFFFF);
    EXPECT_NE(Refusal(huge).find("too large"), std::string::npos);
    Set32(huge, 22, 0x80000000u);
    EXPECT_NE(Refusal(huge).find("out of range"), std::string::npos);
}

TEST(BitmapRead, MissingFileNamesItAndTheReason) {
    test::ScratchFolder folder;
    auto read = ReadBitmapFile(folder / "none.bmp");
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().message,
              "cannot open " + (folder / "none.bmp").string() + ": No such file or directory");
    auto folderRead = ReadBitmapFile(folder.Path());
    ASSERT_FALSE(folderRead.ok());
    EXPECT_EQ(folderRead.error().message, "cannot open " + folder.Path().string() + ": Is a directory");
}

// A sink that accepts only so many bytes, like a full disk.
class FullDisk : public std::streambuf {
public:
    explicit FullDisk(std::size_t room) : room_(room) {}

protected:
    std::streamsize xsputn(const char*, std::streamsize n) override {
        const auto taken = std::min(static_cast<std::size_t>(n), room_);
        room_ -= taken;
        return static_cast<std::streamsize>(taken);
    }
    int_type overflow(int_type ch) override {
        if (room_ == 0) {
            return traits_type::eof();
        }
        --room_;
        return traits_type::not_eof(ch);
    }

private:
    std::size_t room_;
};

TEST(BitmapWrite, EveryShortWriteIsAFailure) {
    const ByteMatrix rows = Noise(5, 4, 7);
    const std::size_t full = BitmapFileSize(5, 4, 8);
    for (std::size_t room : {std::size_t{10}, std::size_t{600}, std::size_t{1078 + 8}, full - 1}) {
        FullDisk sink(room);
        std::ostream out(&sink);
        EXPECT_FALSE(WriteBitmapStream(out, rows).ok()) << "room " << room;
    }
    FullDisk enough(full);
    std::ostream out(&enough);
    EXPECT_TRUE(WriteBitmapStream(out, rows).ok());
}

}  // namespace
}  // namespace kavel
