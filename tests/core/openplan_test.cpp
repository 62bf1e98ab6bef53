#include "kavel/openplan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "kavel/bitmap.h"
#include "test_support.h"

namespace kavel {
namespace {

using test::ReadWholeFile;
using test::ScratchFolder;
using test::WriteWholeFile;

void Set32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t b = 0; b < 4; ++b) {
        bytes[at + b] = static_cast<char>(value >> (8 * b));
    }
}

ByteMatrix Ramp(int columns, int lines) {
    ByteMatrix m = test::MatrixOf(columns, lines);
    for (std::size_t k = 0; k < m.PixelCount(); ++k) {
        m.Bytes()[k] = static_cast<std::uint8_t>(k * 7 + 3);
    }
    return m;
}

// The bytes of an 8-bit gray bitmap as this program writes it.
std::string GrayBitmap(const ByteMatrix& rows) {
    ScratchFolder folder;
    EXPECT_TRUE(WriteBitmapFile(folder / "b.bmp", rows).ok());
    return ReadWholeFile(folder / "b.bmp");
}

// The same file marked as another program would write it.
std::string Patched(std::string bytes, std::size_t at, std::uint32_t value) {
    Set32(bytes, at, value);
    return bytes;
}

std::string ShortPalette(const ByteMatrix& rows, std::uint32_t entries) {
    const std::string full = GrayBitmap(rows);
    std::string file = full.substr(0, 54 + entries * 4) + full.substr(1078);
    Set32(file, 10, 54 + entries * 4);
    Set32(file, 46, entries);
    return file;
}

TEST(OpenPlan, SaysWhatTheFileIsItsSizeAndWhereTheSizeCameFrom) {
    const ByteMatrix rows = Ramp(6, 4);
    const std::string bitmap = GrayBitmap(rows);
    const std::string png = "\x89PNG\r\n\x1A\n" + std::string(40, 'x');
    struct Case {
        std::string Name;
        std::string Bytes;
        std::optional<std::string> Descriptor;
        OpenAs As;
        std::optional<ImageSize> Given;
        OpenKind Kind;
        ImageSize Size;
        SizeMismatch Mismatch;
        std::string What;     // Convert
        std::string Refusal;  // Convert and Refused
    };
    const Case cases[] = {
        {"a.raw",
         std::string(12, 'a'),
         "3 4",
         OpenAs::ByName,
         {},
         OpenKind::RawDescribed,
         {3, 4},
         SizeMismatch::None,
         "",
         ""},
        {"a.raw",
         std::string(10, 'a'),
         "3 4",
         OpenAs::ByName,
         {},
         OpenKind::RawDescribed,
         {3, 4},
         SizeMismatch::Short,
         "",
         ""},
        {"a.raw",
         std::string(20, 'a'),
         "3\r\n4\r\n1\r\n0\r\n255\r\n",
         OpenAs::RawBytes,
         {},
         OpenKind::RawDescribed,
         {3, 4},
         SizeMismatch::Long,
         "",
         ""},
        {"a.raw", "", "3 4", OpenAs::ByName, {}, OpenKind::RawDescribed, {3, 4}, SizeMismatch::Short, "", ""},
        {"a.raw",
         std::string(16, 'a'),
         "0 0",
         OpenAs::ByName,
         {},
         OpenKind::RawDescribed,
         {0, 0},
         SizeMismatch::Long,
         "",
         ""},
        {"a.raw",
         std::string(12, 'a'),
         {},
         OpenAs::RawBytes,
         {},
         OpenKind::RawUnsized,
         {},
         SizeMismatch::None,
         "",
         ""},
        // A given size wins over a descriptor, which is then not read.
        {"a.raw",
         std::string(12, 'a'),
         "junk",
         OpenAs::ByName,
         ImageSize{2, 6},
         OpenKind::RawSized,
         {2, 6},
         SizeMismatch::None,
         "",
         ""},
        {"a.raw",
         std::string(12, 'a'),
         "junk",
         OpenAs::ByName,
         {},
         OpenKind::Refused,
         {},
         SizeMismatch::None,
         "",
         "the descriptor does not begin with two numbers (lines, columns)"},
        {"a.png",
         png,
         {},
         OpenAs::ByName,
         {},
         OpenKind::Convert,
         {},
         SizeMismatch::None,
         "a PNG image",
         "is a PNG image, not raw bytes: `kavel-cli import` converts it"},
        // The desktop's raw entry reads any file as raw bytes.
        {"a.raw",
         png,
         "4 12",
         OpenAs::RawBytes,
         {},
         OpenKind::RawDescribed,
         {4, 12},
         SizeMismatch::None,
         "",
         ""},
        {"a.png",
         png,
         {},
         OpenAs::Bitmap,
         {},
         OpenKind::Convert,
         {},
         SizeMismatch::None,
         "a PNG image",
         "not a BMP file"},
        {"b.bmp", bitmap, {}, OpenAs::ByName, {}, OpenKind::GrayBitmap, {4, 6}, SizeMismatch::None, "", ""},
        {"b.raw",
         bitmap,
         {},
         OpenAs::ByName,
         {},
         OpenKind::Refused,
         {},
         SizeMismatch::None,
         "",
         "is a Windows bitmap, not raw bytes: name it .bmp to read it as one"},
        {"rle.bmp",
         Patched(bitmap, 30, 1),
         {},
         OpenAs::ByName,
         {},
         OpenKind::Convert,
         {},
         SizeMismatch::None,
         "run-length compressed 8-bit bitmap",
         BitmapNotOpenedBecause("8-bit bitmap with run-length compression (RLE8)")},
        {"short.bmp",
         ShortPalette(rows, 10),
         {},
         OpenAs::Bitmap,
         {},
         OpenKind::Convert,
         {},
         SizeMismatch::None,
         "8-bit bitmap with a 10-colour palette",
         BitmapNotOpenedBecause("8-bit bitmap with a 10-colour palette (pixels at offset 94)")},
        // A truncated bitmap is for no one.
        {"cut.bmp",
         bitmap.substr(0, bitmap.size() - 9),
         {},
         OpenAs::ByName,
         {},
         OpenKind::Refused,
         {},
         SizeMismatch::None,
         "",
         "file ends inside row 3 of 4 (rows counted from 1 in file order)"},
        {"doc.raw",
         "%PDF-1.4 " + std::string(30, 'x'),
         {},
         OpenAs::ByName,
         {},
         OpenKind::Refused,
         {},
         SizeMismatch::None,
         "",
         "is a PDF document, not an image"},
        // By content alone, bytes of no known kind are the conversion's to judge.
        {"stdin",
         std::string(30, 'q'),
         {},
         OpenAs::Content,
         {},
         OpenKind::Convert,
         {},
         SizeMismatch::None,
         "",
         "not a BMP file"},
        {"stdin", bitmap, {}, OpenAs::Content, {}, OpenKind::GrayBitmap, {4, 6}, SizeMismatch::None, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name + " holding " + std::to_string(c.Bytes.size()) + " bytes");
        ScratchFolder folder;
        WriteWholeFile(folder / c.Name, c.Bytes);
        if (c.Descriptor) {
            WriteWholeFile(folder / (std::filesystem::path(c.Name).stem().string() + ".txt"), *c.Descriptor);
        }
        const OpenPlan plan = PlanOpen(folder / c.Name, c.As, c.Given);
        EXPECT_EQ(plan.Kind, c.Kind) << plan.Refusal.message;
        EXPECT_EQ(plan.FileBytes, c.Bytes.size());
        if (plan.Loadable()) {
            EXPECT_EQ(plan.Size, c.Size);
            EXPECT_EQ(plan.Mismatch(), c.Mismatch);
            EXPECT_EQ(plan.MemoryBytes, 3 * plan.PixelBytes());
        }
        if (c.Kind == OpenKind::Convert || c.Kind == OpenKind::Refused) {
            EXPECT_EQ(plan.What, c.What);
            EXPECT_EQ(plan.Refusal.message, c.Refusal);
        }
    }
}

TEST(OpenPlan, ColourBitmapsAreForTheConversionAndMarkedForTheCautionBox) {
    ScratchFolder folder;
    ByteMatrix rgb = Ramp(9, 2);
    ASSERT_TRUE(WriteBitmapFile(folder / "c.bmp", rgb, PixelKind::Rgb).ok());
    const OpenPlan plan = PlanOpen(folder / "c.bmp", OpenAs::Bitmap);
    EXPECT_EQ(plan.Kind, OpenKind::Convert);
    EXPECT_TRUE(plan.ColourBitmap);
    EXPECT_EQ(plan.What, "24-bit colour bitmap");
    EXPECT_TRUE(IsColourBitmapRefusal(plan.Refusal));
    EXPECT_FALSE(LoadPlannedImage(plan).ok());
}

TEST(OpenPlan, MismatchIsSaidWithBothSizes) {
    ScratchFolder folder;
    WriteWholeFile(folder / "scene.raw", std::string(100, 'x'));
    WriteWholeFile(folder / "scene.txt", "60000 60000");
    const OpenPlan described = PlanOpen(folder / "scene.raw", OpenAs::RawBytes);
    EXPECT_EQ(MismatchWords(described), "holds 100 bytes; its descriptor describes 60000 x 60000 (3.4 GB)");
    const OpenPlan given = PlanOpen(folder / "scene.raw", OpenAs::RawBytes, ImageSize{10, 10});
    EXPECT_EQ(MismatchWords(given), "");
    const OpenPlan longer = PlanOpen(folder / "scene.raw", OpenAs::RawBytes, ImageSize{3, 3});
    EXPECT_EQ(MismatchWords(longer), "holds 100 bytes; its size is 3 x 3 (9 bytes)");
}

// Band by band or whole, with bands of one line and of many: the same image,
// a short raw file's missing part 0, a bitmap's rows in either order.
TEST(OpenPlan, LoadersGiveTheSameImageWhateverTheBand) {
    const ByteMatrix rows = Ramp(5, 7);
    const std::string bitmap = GrayBitmap(rows);
    std::string topDown = bitmap;
    Set32(topDown, 22, static_cast<std::uint32_t>(-7));
    for (std::size_t k = 0; k < 7; ++k) {  // rows turned over: 8 bytes each
        topDown.replace(1078 + k * 8, 8, bitmap.substr(1078 + (6 - k) * 8, 8));
    }
    const auto raw = rows.Bytes();
    struct Case {
        std::string Name;
        std::string Bytes;
        std::size_t Cut;  // bytes of the raw file left out at its end
    };
    const Case cases[] = {
        {"r.raw", std::string(raw.begin(), raw.end()), 0},
        {"r.raw", std::string(raw.begin(), raw.end() - 13), 13},
        {"b.bmp", bitmap, 0},
        {"t.bmp", topDown, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name + " cut " + std::to_string(c.Cut));
        ScratchFolder folder;
        WriteWholeFile(folder / c.Name, c.Bytes);
        const OpenPlan plan = PlanOpen(folder / c.Name, OpenAs::ByName, ImageSize{7, 5});
        ASSERT_TRUE(plan.Loadable()) << plan.Refusal.message;
        ByteMatrix expected = Ramp(5, 7);
        std::fill(expected.Bytes().end() - static_cast<std::ptrdiff_t>(c.Cut), expected.Bytes().end(), 0);
        for (std::size_t band : {std::size_t{1}, std::size_t{12}, kLoadBandBytes}) {
            auto loader = ImageLoader::Start(plan, band);
            ASSERT_TRUE(loader.ok()) << loader.error().message;
            int bands = 0;
            while (!loader->Done()) {
                const int before = loader->LinesRead();
                ASSERT_TRUE(loader->ReadBand().ok());
                EXPECT_GT(loader->LinesRead(), before);
                ++bands;
            }
            const std::size_t stride = c.Name.ends_with(".bmp") ? 8 : 5;  // bytes of a line in the file
            const std::size_t perBand = std::clamp<std::size_t>(band / stride, 1, 7);
            EXPECT_EQ(bands, static_cast<int>((7 + perBand - 1) / perBand));
            EXPECT_EQ(test::LinesOf(loader->Take()), test::LinesOf(expected));
        }
        auto whole = LoadPlannedImage(plan);
        ASSERT_TRUE(whole.ok());
        EXPECT_EQ(test::LinesOf(*whole), test::LinesOf(expected));
    }
}

// What the conversion can read, from the one header structure.
TEST(BitmapHeader, ConversionProblemsAreNamed) {
    const ByteMatrix rows = Ramp(6, 4);
    const std::string bitmap = GrayBitmap(rows);
    struct Case {
        std::string Bytes;
        std::string Problem;  // empty: the conversion reads it
    };
    const Case cases[] = {
        {bitmap, ""},
        {Patched(bitmap, 30, 1), ""},
        {ShortPalette(rows, 10), ""},
        {Patched(bitmap, 30, 2), "compression 2 with 8 bits per pixel, which cannot be imported"},
        {Patched(Patched(bitmap, 30, 1), 22, static_cast<std::uint32_t>(-4)),
         "run-length compressed rows stored top line first, which BMP does not allow"},
        {Patched(bitmap, 46, 300), "a 300-colour palette, more than 8 bits can index"},
        {Patched(bitmap, 10, 54), "no room for a palette before the pixels at offset 54"},
        {bitmap.substr(0, 1100), "file ends inside row 3 of 4 (rows counted from 1 in file order)"},
        {Patched(bitmap, 18, 0), "a width of 0 and a height of 4"},
    };
    for (const Case& c : cases) {
        const auto header = ParseBitmapHeader(
            std::span(reinterpret_cast<const std::uint8_t*>(c.Bytes.data()), c.Bytes.size()));
        ASSERT_TRUE(header.ok()) << header.error().message;
        const auto problem = BitmapConversionProblem(*header, c.Bytes.size());
        EXPECT_EQ(problem ? problem->message : "", c.Problem);
    }
}

}  // namespace
}  // namespace kavel
