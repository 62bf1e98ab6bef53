#include "kavel/bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// A bitmap as other programs write it: any header size, palette length and
// entry size, a gap before the pixels; rows bottom-up unless topDown.
struct BitmapLayout {
    std::uint32_t HeaderSize = 40;
    int Bits = 8;
    std::uint32_t Compression = 0;
    std::uint32_t PaletteEntries = 256;  // written
    std::uint32_t ColoursUsed = 0;       // the field (headers of 40 bytes and more)
    bool GrayPalette = true;             // entry i = (255 - i) gray, or a colour
    std::uint32_t Gap = 0;               // bytes between the palette and the pixels
    bool TopDown = false;
};

std::string MakeBitmap(const BitmapLayout& layout, const ByteMatrix& rows) {
    const bool os2v1 = layout.HeaderSize == 12;
    const std::uint32_t entryBytes = os2v1 ? 3 : 4;
    const int bytesPerPixel = layout.Bits / 8;
    const int width = rows.Columns() / std::max(bytesPerPixel, 1);
    const auto stride = static_cast<std::size_t>(BitmapStride(width, std::max(bytesPerPixel, 1)));
    const std::uint32_t offset = 14 + layout.HeaderSize + layout.PaletteEntries * entryBytes + layout.Gap;
    std::string file(offset, '\0');
    Set16(file, 0, 0x4D42);
    Set32(file, 10, offset);
    Set32(file, 14, layout.HeaderSize);
    if (os2v1) {
        Set16(file, 18, static_cast<std::uint32_t>(width));
        Set16(file, 20, static_cast<std::uint32_t>(rows.Lines()));
        Set16(file, 22, 1);
        Set16(file, 24, static_cast<std::uint32_t>(layout.Bits));
    } else {
        Set32(file, 18, static_cast<std::uint32_t>(width));
        Set32(file, 22, static_cast<std::uint32_t>(layout.TopDown ? -rows.Lines() : rows.Lines()));
        Set16(file, 26, 1);
        Set16(file, 28, static_cast<std::uint32_t>(layout.Bits));
        if (layout.HeaderSize >= 20) {
            Set32(file, 30, layout.Compression);
        }
        if (layout.HeaderSize >= 36) {
            Set32(file, 46, layout.ColoursUsed);
        }
    }
    for (std::uint32_t i = 0; i < layout.PaletteEntries; ++i) {
        const std::size_t at = 14 + layout.HeaderSize + i * entryBytes;
        const auto tone = static_cast<char>(255 - i);
        file[at] = tone;
        file[at + 1] = layout.GrayPalette ? tone : static_cast<char>(i / 2);
        file[at + 2] = tone;
    }
    for (int k = 0; k < rows.Lines(); ++k) {
        const int line = layout.TopDown ? k : rows.Lines() - 1 - k;
        std::string row(reinterpret_cast<const char*>(rows[line]), static_cast<std::size_t>(rows.Columns()));
        row.resize(stride, '\0');
        file += row;
    }
    return file;
}

TEST(BitmapRead, EveryHeaderKindWithAFullPaletteOpensWithTheRightTones) {
    const ByteMatrix indices = Noise(5, 3, 21);
    ByteMatrix tones = MatrixOf(5, 3);  // through the palette of MakeBitmap: 255 - index
    for (std::size_t k = 0; k < tones.PixelCount(); ++k) {
        tones.Bytes()[k] = static_cast<std::uint8_t>(255 - indices.Bytes()[k]);
    }
    for (std::uint32_t header : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
        for (std::uint32_t gap : {0u, 7u}) {
            for (bool topDown : {false, true}) {
                if (header == 12 && topDown) {
                    continue;  // 16-bit unsigned height: always bottom-up
                }
                SCOPED_TRACE("header " + std::to_string(header) + " gap " + std::to_string(gap) +
                             (topDown ? " top-down" : ""));
                BitmapLayout layout;
                layout.HeaderSize = header;
                layout.Gap = gap;
                layout.TopDown = topDown;
                auto read = ReadBytes(MakeBitmap(layout, indices));
                ASSERT_TRUE(read.ok()) << read.error().message;
                EXPECT_EQ(LinesOf(read->Rows), LinesOf(tones));
                // A colour palette gives the indices back unchanged.
                layout.GrayPalette = false;
                auto colour = ReadBytes(MakeBitmap(layout, indices));
                ASSERT_TRUE(colour.ok()) << colour.error().message;
                EXPECT_EQ(LinesOf(colour->Rows), LinesOf(indices));
            }
        }
    }
    // A 256-entry palette announced by the colours-used field, with room to spare.
    BitmapLayout spare;
    spare.PaletteEntries = 300;
    spare.ColoursUsed = 256;
    auto read = ReadBytes(MakeBitmap(spare, indices));
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(LinesOf(read->Rows), LinesOf(tones));
}

TEST(BitmapRead, RefusesWhatItDoesNotOpenSayingWhatItIs) {
    const ByteMatrix rows = Noise(8, 2, 2);
    const std::string advice(kBitmapConversionAdvice);
    struct Case {
        BitmapLayout Layout;
        std::string Expected;
    };
    const Case cases[] = {
        {{.PaletteEntries = 252},
         "8-bit bitmap with a 252-colour palette (pixels at offset 1062): " + advice},
        {{.PaletteEntries = 256, .ColoursUsed = 16},
         "8-bit bitmap with a 16-colour palette (pixels at offset 1078): " + advice},
        {{.PaletteEntries = 300, .ColoursUsed = 300},
         "8-bit bitmap with a 300-colour palette (pixels at offset 1254): " + advice},
        {{.HeaderSize = 12, .PaletteEntries = 100},
         "8-bit bitmap with a 100-colour palette (pixels at offset 326): " + advice},
        {{.Bits = 1, .PaletteEntries = 2}, "1-bit bitmap (2 colours): " + advice},
        {{.Bits = 4, .PaletteEntries = 16, .ColoursUsed = 9}, "4-bit bitmap (9 colours): " + advice},
        {{.Bits = 4, .Compression = 2, .PaletteEntries = 16},
         "4-bit bitmap with run-length compression (RLE4): " + advice},
        {{.Compression = 1}, "8-bit bitmap with run-length compression (RLE8): " + advice},
        {{.Bits = 16, .PaletteEntries = 0}, "16-bit bitmap: " + advice},
        {{.Bits = 32, .Compression = 3, .PaletteEntries = 0}, "32-bit bitmap: " + advice},
        {{.Bits = 24, .Compression = 4, .PaletteEntries = 0}, "bitmap with a JPEG image inside: " + advice},
        {{.HeaderSize = 32}, "OS/2 bitmap header of 32 bytes: " + advice},
        {{.HeaderSize = 200}, "bitmap header of 200 bytes, which no kind of bitmap has"},
        {{.Bits = 7}, "the header gives 7 bits per pixel, a depth no bitmap has"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Refusal(MakeBitmap(c.Layout, rows)), c.Expected);
    }
    EXPECT_EQ(Refusal(""), "not a BMP file");
    EXPECT_EQ(Refusal("PK\x03\x04" + Written(rows).substr(4)), "not a BMP file");
    std::string negativeWidth = Written(rows);
    Set32(negativeWidth, 18, static_cast<std::uint32_t>(-5));
    EXPECT_EQ(Refusal(negativeWidth), "the header gives a negative width (-5)");
    std::string insideHeader = Written(rows);
    Set32(insideHeader, 10, 30);
    EXPECT_EQ(Refusal(insideHeader), "the pixel data offset 30 lies inside the header");
    std::string beyond = Written(rows);
    Set32(beyond, 10, 5000);
    EXPECT_EQ(Refusal(beyond), "file ends before its pixel data at offset 5000");
}

TEST(BitmapRead, TwentyFourBitFilesOpenAnywhereButTheGrayReaderRefusesThemFromTheHeader) {
    test::ScratchFolder folder;
    const ByteMatrix rgb = Noise(9, 2, 8);
    for (std::uint32_t header : {12u, 40u, 124u}) {
        SCOPED_TRACE(header);
        const std::string file =
            MakeBitmap({.HeaderSize = header, .Bits = 24, .PaletteEntries = 2, .Gap = 3}, rgb);
        auto read = ReadBytes(file);
        ASSERT_TRUE(read.ok()) << read.error().message;
        EXPECT_EQ(LinesOf(read->Rows), LinesOf(rgb));
        // Even a file far too short for its rows gets the depth refusal: the
        // depth is known first and no row is read.
        std::string claimed = file.substr(0, 14 + header + 6);
        if (header != 12) {
            Set32(claimed, 18, 60000);
            Set32(claimed, 22, 60000);
        }
        test::WriteWholeFile(folder / "c.bmp", claimed);
        auto gray = ReadGrayBitmapFile(folder / "c.bmp");
        ASSERT_FALSE(gray.ok());
        EXPECT_TRUE(IsColourBitmapRefusal(gray.error())) << gray.error().message;
    }
    EXPECT_EQ(std::string(kColourBitmapRefusal),
              "24-bit colour bitmap: KAVEL reads 8-bit gray bitmaps; `kavel-cli import` converts it");
}

TEST(BitmapRead, RefusesTruncatedFilesSayingWhere) {
    const std::string good = Written(Noise(5, 3, 4));  // rows of 8 bytes
    EXPECT_EQ(Refusal(good.substr(0, 20)), "file ends inside the header");
    EXPECT_EQ(Refusal(good.substr(0, 600)), "file ends inside the palette");
    EXPECT_EQ(Refusal(good.substr(0, 1078 + 12)),
              "file ends inside row 2 of 3 (rows counted from 1 in file order)");
    EXPECT_EQ(Refusal(good.substr(0, good.size() - 1)),
              "file ends inside row 3 of 3 (rows counted from 1 in file order)");

    // A stream that holds less than its caller announced is caught while
    // reading, in words of its own: the length check comes first.
    std::istringstream lying(good.substr(0, 1078 + 12));
    auto read = ReadBitmapStream(lying, good.size());
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().message, "the file ended early while it was read, inside row 2 of 3");
}

TEST(BitmapRead, HugeSizesAreRefusedBeforeAnythingIsAllocated) {
    // 65536 x 65536 is within the pixel limit, so only the length check can
    // stop it; reaching the allocation would take 4 GiB. The length check has
    // its own words, so skipping it shows here even where the allocation
    // would succeed (the read would then end "while it was read").
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
    EXPECT_EQ(folderRead.error().message, folder.Path().string() + " is a folder, not a regular file");
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
