// What every reading command takes: raw files whose size and descriptor
// disagree, and the bitmaps only the conversion reads, named or piped.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cli_images.h"

namespace kavel::clitest {
namespace {

void Set32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t b = 0; b < 4; ++b) {
        bytes[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
    }
}

std::string Text(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

RunOptions Fed(const Bytes& bytes) {
    RunOptions options;
    options.Stdin = Text(bytes);
    return options;
}

// The 8-bit bitmap with its rows run-length coded (RLE8) as ImageMagick
// writes a gray image: runs of equal bytes, an end of line after each row.
Bytes RunLengthBitmap(const Image& image) {
    Bytes file = BitmapBytes(image);
    file.resize(1078);
    for (int line = image.Lines - 1; line >= 0; --line) {
        const auto* row = &image.Pixels[static_cast<std::size_t>(line * image.Columns)];
        for (int j = 0; j < image.Columns;) {
            int run = 1;
            while (j + run < image.Columns && run < 255 && row[j + run] == row[j]) {
                ++run;
            }
            file.push_back(static_cast<std::uint8_t>(run));
            file.push_back(row[j]);
            j += run;
        }
        file.insert(file.end(), {0, 0});
    }
    file.insert(file.end(), {0, 1});
    Set32(file, 2, static_cast<std::uint32_t>(file.size()));
    Set32(file, 30, 1);
    Set32(file, 34, static_cast<std::uint32_t>(file.size() - 1078));
    return file;
}

// The bitmap with a palette of only the first entries, as Pillow writes a
// few-tone image: the pixels then start sooner.
Bytes ShortPaletteBitmap(const Image& image, std::uint32_t entries) {
    Bytes file = BitmapBytes(image);
    file.erase(file.begin() + 54 + entries * 4, file.begin() + 1078);
    Set32(file, 2, static_cast<std::uint32_t>(file.size()));
    Set32(file, 10, 54 + entries * 4);
    Set32(file, 46, entries);
    return file;
}

TEST_F(CliTest, InputsOnlyTheConversionReadsAreConvertedWithOneLineOrRefusedWithStrict) {
    Image image = RandomImage(5, 7, 30);
    for (auto& pixel : image.Pixels) {
        pixel = static_cast<std::uint8_t>(pixel / 40);  // tones 0..6, within a short palette
    }
    const struct {
        std::string Name;
        Bytes File;
        std::string What;
        std::string Refusal;
    } cases[] = {
        {"rle.bmp", RunLengthBitmap(image), "run-length compressed 8-bit bitmap",
         "8-bit bitmap with run-length compression (RLE8)"},
        {"short.bmp", ShortPaletteBitmap(image, 10), "8-bit bitmap with a 10-colour palette",
         "8-bit bitmap with a 10-colour palette (pixels at offset 94)"},
        {"colour.bmp", BitmapBytes(image, 24), "24-bit colour bitmap", "24-bit colour bitmap: KAVEL reads"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteBytes(Path(c.Name), c.File);
        const RunResult named = Run({"convert", P(c.Name), P("out.raw")});
        ASSERT_EQ(named.ExitCode, 0) << named.Err;
        EXPECT_EQ(named.Err, "kavel-cli: " + P(c.Name) + ": " + c.What + ", converted\n");
        EXPECT_EQ(ReadBytes(Path("out.raw")), image.Pixels);

        const RunResult piped = Run({"convert", "-", "-", "--format", "raw"}, Fed(c.File));
        ASSERT_EQ(piped.ExitCode, 0) << piped.Err;
        EXPECT_EQ(piped.Err, "kavel-cli: standard input: " + c.What + ", converted\n");
        EXPECT_EQ(piped.Out, Text(image.Pixels));

        const RunResult strict = Run({"convert", P(c.Name), P("strict.raw"), "--strict"});
        EXPECT_EQ(strict.ExitCode, 1);
        EXPECT_TRUE(strict.Err.starts_with("kavel-cli: " + P(c.Name) + ": " + c.Refusal)) << strict.Err;
        EXPECT_FALSE(fs::exists(Path("strict.raw")));
    }
    // Every command that reads an image takes the converted one.
    const std::vector<std::vector<std::string>> commands = {
        {"tones", P("rle.bmp")},
        {"histogram", P("rle.bmp")},
        {"treat", P("rle.bmp"), "-o", "-", "--format", "raw", "--type", "whole", "--min", "0", "--max", "3"},
        {"measure", P("rle.bmp"), "--min", "0", "--max", "3"},
        {"suggest", P("rle.bmp"), "--method", "otsu"},
    };
    for (const auto& words : commands) {
        SCOPED_TRACE(words[0]);
        const RunResult run = Run(words);
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_EQ(run.Err,
                  "kavel-cli: " + P("rle.bmp") + ": run-length compressed 8-bit bitmap, converted\n");
        std::vector<std::string> strict = words;
        strict.push_back("--strict");
        EXPECT_EQ(Run(strict).ExitCode, 1);
    }
    const std::set<std::uint8_t> tones(image.Pixels.begin(), image.Pixels.end());
    EXPECT_EQ(Run({"tones", P("rle.bmp")}).Out, std::to_string(tones.size()) + "\n");
}

// A raw file whose length is not lines x columns: one line naming both, the
// image read as before (the rest 0, or the extra bytes left), and with
// --strict refused with nothing written.
TEST_F(CliTest, RawFileAndDescriptorThatDisagreeAreSaidOrRefused) {
    const struct {
        std::size_t Bytes;
        std::string Descriptor;
        std::string Line;  // after "FILE: warning: "; empty when they agree
    } cases[] = {
        {12, "3 4", ""},
        {10, "3 4", "holds 10 bytes, fewer than the 3 x 4 = 12 of its size; the rest reads as 0"},
        {20, "3 4", "holds 20 bytes, more than the 3 x 4 = 12 of its size; the rest is not read"},
        {0, "3\r\n4\r\n1\r\n0\r\n255\r\n",
         "holds 0 bytes, fewer than the 3 x 4 = 12 of its size; the rest reads as 0"},
        {16, "0 0", "holds 16 bytes, more than the 0 x 0 = 0 of its size; the rest is not read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Bytes) + " bytes, descriptor " + c.Descriptor);
        Bytes pixels(c.Bytes);
        for (std::size_t k = 0; k < pixels.size(); ++k) {
            pixels[k] = static_cast<std::uint8_t>(k + 1);
        }
        WriteBytes(Path("in.raw"), pixels);
        WriteText(Path("in.txt"), c.Descriptor);
        Bytes expected = pixels;
        expected.resize(c.Descriptor == "0 0" ? 0 : 12, 0);

        const RunResult run = Run({"convert", P("in.raw"), P("out.raw")});
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_EQ(run.Err, c.Line.empty() ? "" : "kavel-cli: " + P("in.raw") + ": warning: " + c.Line + "\n");
        EXPECT_EQ(ReadBytes(Path("out.raw")), expected);

        const std::string size = c.Descriptor == "0 0" ? "0x0" : "3x4";
        const RunResult piped = Run({"convert", "-", "-", "--size", size, "--format", "raw"}, Fed(pixels));
        EXPECT_EQ(piped.Out, Text(expected));
        EXPECT_EQ(piped.Err, c.Line.empty() ? "" : "kavel-cli: standard input: warning: " + c.Line + "\n");

        fs::remove(Path("out.raw"));
        const RunResult strict = Run({"tones", P("in.raw"), "--strict"});
        EXPECT_EQ(strict.ExitCode, c.Line.empty() ? 0 : 1) << strict.Err;
        if (!c.Line.empty()) {
            EXPECT_NE(strict.Err.find("(--strict)"), std::string::npos) << strict.Err;
            EXPECT_EQ(strict.Out, "");
        }
    }
}

// More lines than an int can count past: the band loops must not overflow
// (the last band used to be reported as lines -2147483647 to 2147483647).
TEST_F(CliTest, RawImageOfTheLargestLineCountReadsToItsEnd) {
    WriteText(Path("t.txt"), "2147483647\n1\n");
    WriteText(Path("t.raw"), "abcdefgh");
    const RunResult run = Run({"tones", P("t.raw")});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "9\n");  // the eight letters and the 0 of the missing part
}

// The conversion's helper under a memory limit too low for its libraries.
TEST_F(CliTest, ImportUnderALowMemoryLimitFailsWithAMessage) {
    if (!kAddressSpaceCanBeLimited) {
        GTEST_SKIP() << "the address space cannot be limited in this build";
    }
    WriteBytes(Path("rle.bmp"), RunLengthBitmap(RandomImage(3, 3, 31)));
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"import", P("rle.bmp"), "-o", P("o.raw")}, {"tones", P("rle.bmp")}}) {
        RunOptions limited;
        limited.AddressSpaceLimit = 24u << 20;
        const RunResult run = Run(words, limited);
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_NE(run.Err.find("kavel-cli: "), std::string::npos) << run.Err;
        EXPECT_NE(run.Err.find("kavel-import could not start"), std::string::npos) << run.Err;
    }
}

}  // namespace
}  // namespace kavel::clitest
