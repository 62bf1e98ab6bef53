// kavel-cli end to end: every test runs the program on files of known content
// and checks the bytes it writes, its messages and its exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cli_images.h"
#include "cli_support.h"
#include "kavel/bitmap.h"
#include "kavel/safefile.h"
#include "save_order.h"

namespace kavel::clitest {
namespace {

const std::array<Parameters, 7> kParameterSets{{
    {"whole", 80, 160, 255, 128, 0},
    {"border", 80, 160, 255, 128, 0},
    {"item-border", 80, 160, 255, 128, 7},
    {"none", 80, 160, 255, 128, 33},
    {"item-border", 0, 255, 300, -1, 256},   // all selected; tones 44, 255 and 0
    {"border", 200, 100, 1, 2, 3},           // min above max: nothing selected
    {"item-border", 120, 120, 90, 200, 10},  // a one-tone interval
}};

TEST_F(CliTest, TreatWritesTheExpectedBytesForEveryTypeAndInRawOutput) {
    const Image image = RandomImage(7, 9, 1);
    WriteRawImage(Path("in.raw"), image);
    for (const Parameters& p : kParameterSets) {
        SCOPED_TRACE(p.Type + " " + std::to_string(p.Min) + ".." + std::to_string(p.Max));
        auto words = TreatWords(p);
        words.insert(words.begin(), {"treat", P("in.raw"), "-o", P("out.raw")});
        const RunResult run = Run(words);
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_EQ(run.Err, "");
        EXPECT_EQ(ReadBytes(Path("out.raw")), ExpectedTreatment(image, p));
        EXPECT_EQ(ReadText(Path("out.txt")), "7\r\n9\r\n1\r\n0\r\n255\r\n");
    }
}

// Named files are treated a band of lines at a time; the lines at a band's
// edges must see their neighbours in the next band. KAVEL_BAND_BYTES makes
// bands of 1 to all 13 lines of a small image (raw lines are 37 bytes,
// bitmap lines 40), bitmaps being read bottom line first.
TEST_F(CliTest, TreatGivesTheSameBytesInBandsOfEverySize) {
    const Image image = RandomImage(13, 37, 21);
    WriteRawImage(Path("in.raw"), image);
    WriteBytes(Path("in.bmp"), BitmapBytes(image));
    for (const char* band : {"1", "80", "111", "200", "481", "100000"}) {
        RunOptions options;
        options.Environment = {{"KAVEL_BAND_BYTES", band}};
        for (const Parameters& p : kParameterSets) {
            for (const char* format : {"raw", "bmp"}) {
                SCOPED_TRACE(std::string(band) + " bytes a band, " + format + ", " + p.Type + " " +
                             std::to_string(p.Min) + ".." + std::to_string(p.Max));
                auto words = TreatWords(p);
                const std::string in = P(std::string("in.") + format);
                const std::string out = P(std::string("out.") + format);
                words.insert(words.begin(), {"treat", in, "-o", out});
                const RunResult run = Run(words, options);
                ASSERT_EQ(run.ExitCode, 0) << run.Err;
                const Bytes expected = ExpectedTreatment(image, p);
                EXPECT_EQ(ReadBytes(out), std::string(format) == "raw"
                                              ? expected
                                              : BitmapBytes({image.Lines, image.Columns, expected}));
            }
        }
        ASSERT_EQ(Run({"convert", P("in.bmp"), P("back.raw")}, options).ExitCode, 0);
        EXPECT_EQ(ReadBytes(Path("back.raw")), image.Pixels);
    }
    // With the default band, an image of more than a band's bytes.
    const Image large = RandomImage(1100, 1000, 22);
    WriteRawImage(Path("large.raw"), large);
    const Parameters border{"item-border", 80, 160, 255, 128, 7};
    auto words = TreatWords(border);
    words.insert(words.begin(), {"treat", P("large.raw"), "-o", P("large-out.raw")});
    ASSERT_EQ(Run(words).ExitCode, 0);
    EXPECT_EQ(ReadBytes(Path("large-out.raw")), ExpectedTreatment(large, border));
}

TEST_F(CliTest, TreatOfTheBlockExampleGivesItsBorderAndCentre) {
    Image block{5, 5, Bytes(25, 0)};
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 3; ++j) {
            block.Pixels[i * 5 + j] = 100;
        }
    }
    WriteRawImage(Path("block.raw"), block);
    const RunResult run = Run({"treat", P("block.raw"), "-o", P("r.raw"), "--type", "item-border", "--min",
                               "50", "--max", "150", "--item", "255", "--border", "128"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const Bytes expected{0, 0,   0,   0,   0,  //
                         0, 128, 128, 128, 0,  //
                         0, 128, 255, 128, 0,  //
                         0, 128, 128, 128, 0,  //
                         0, 0,   0,   0,   0};
    EXPECT_EQ(ReadBytes(Path("r.raw")), expected);
}

TEST_F(CliTest, BitmapInAndOutIsTheEightBitGrayLayout) {
    // 5 columns make padded rows; the lines differ so that a flipped image shows.
    const Image image = RandomImage(6, 5, 2);
    WriteBytes(Path("in.bmp"), BitmapBytes(image));
    const Parameters p{"item-border", 60, 200, 250, 100, 20};
    auto words = TreatWords(p);
    words.insert(words.begin(), {"treat", P("in.bmp"), "-o", P("out.bmp")});
    const RunResult run = Run(words);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;

    const Image expected{6, 5, ExpectedTreatment(image, p)};
    EXPECT_EQ(ReadBytes(Path("out.bmp")), BitmapBytes(expected));
    auto read = ReadBitmapFile(Path("out.bmp"));
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(read->BitsPerPixel, 8);
    EXPECT_EQ(read->Width, 5);
    EXPECT_EQ(read->Height, 6);
    const auto bytes = read->Rows.Bytes();
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), expected.Pixels);
}

TEST_F(CliTest, TwentyFourBitBitmapIsRefusedWithStrictLikeTheApplicationDoes) {
    WriteBytes(Path("colour.bmp"), BitmapBytes(RandomImage(4, 3, 3), 24));
    const RunResult run = Run({"treat", P("colour.bmp"), "-o", P("out.bmp"), "--type", "whole", "--min", "0",
                               "--max", "0", "--strict"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Err,
              "kavel-cli: " + P("colour.bmp") +
                  ": 24-bit colour bitmap: KAVEL reads 8-bit gray bitmaps; `kavel-cli import` converts it\n");
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

// import runs in a helper program found from kavel-cli's own place: next to it
// in a build, in ../libexec/kavel once installed. Its words are checked first.
TEST_F(CliTest, ImportFindsItsHelperOrSaysItIsMissing) {
    const Image image = RandomImage(3, 5, 4);
    WriteBytes(Path("in.bmp"), BitmapBytes(image));
    fs::create_directories(Path("usr/bin"));
    fs::copy_file(KAVEL_CLI_PATH, Path("usr/bin/kavel-cli"));
    RunOptions installed;
    installed.Program = Path("usr/bin/kavel-cli");

    const RunResult alone = Run({"import", P("in.bmp"), "-o", P("out.raw")}, installed);
    EXPECT_EQ(alone.ExitCode, 1);
    ASSERT_EQ(SplitLines(alone.Err).size(), 1u) << alone.Err;
    EXPECT_NE(alone.Err.find("kavel-import"), std::string::npos) << alone.Err;
    EXPECT_FALSE(fs::exists(Path("out.raw")));
    EXPECT_EQ(Run({"import", P("in.bmp")}, installed).ExitCode, 2);

    fs::create_directories(Path("usr/libexec/kavel"));
    fs::create_symlink(fs::path(KAVEL_CLI_PATH).parent_path() / "kavel-import",
                       Path("usr/libexec/kavel/kavel-import"));
    const RunResult run = Run({"import", P("in.bmp"), "-o", P("out.raw")}, installed);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(ReadBytes(Path("out.raw")), image.Pixels);
    const RunResult missing = Run({"import", P("none.png"), "-o", P("none.raw")}, installed);
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_EQ(missing.Err, "kavel-cli: " + P("none.png") + ": no such file\n");
}

// A raw input is read with its descriptor, so the descriptor is an input too.
TEST_F(CliTest, NoResultReplacesADescriptorTheRunReads) {
    fs::create_directory(Path("d"));
    WriteRawImage(Path("d/a.dat"), RandomImage(2, 3, 31));  // read with d/a.txt
    const std::string before = ReadText(Path("d/a.txt"));
    const RunResult single =
        Run({"treat", P("d/a.dat"), "-o", P("d/a.raw"), "--type", "whole", "--min", "0", "--max", "0"});
    EXPECT_EQ(single.ExitCode, 1);
    EXPECT_NE(single.Err.find("would replace " + P("d/a.txt")), std::string::npos) << single.Err;
    EXPECT_FALSE(fs::exists(Path("d/a.raw")));

    // With --out-dir, the first result's descriptor (out/b.txt) would be the
    // descriptor of the later input out/b.dat.
    fs::create_directory(Path("out"));
    WriteRawImage(Path("b.raw"), RandomImage(2, 2, 32));
    WriteRawImage(Path("out/b.dat"), RandomImage(4, 4, 33));
    const RunResult batch = Run({"treat", P("b.raw"), P("out/b.dat"), "--out-dir", P("out"), "--format",
                                 "raw", "--type", "whole", "--min", "0", "--max", "0"});
    EXPECT_EQ(batch.ExitCode, 1);
    EXPECT_EQ(ReadText(Path("out/b.txt")), "4\r\n4\r\n");
    EXPECT_EQ(ReadText(Path("d/a.txt")), before);

    // Given --size, no descriptor is read, so none is protected.
    EXPECT_EQ(Run({"convert", P("d/a.dat"), P("d/a.raw"), "--size", "2x3"}).ExitCode, 0);
    EXPECT_EQ(ReadText(Path("d/a.txt")), "2\r\n3\r\n1\r\n0\r\n255\r\n");
}

TEST_F(CliTest, DescriptorIsFoundWhateverTheCaseOfTxtAndAfterAByteOrderMark) {
    WriteBytes(Path("SCENE.RAW"), Bytes(6, 7));
    WriteText(Path("SCENE.TXT"),
              "\xEF\xBB\xBF"
              "2\r\n3\r\n");
    const RunResult run = Run({"convert", P("SCENE.RAW"), P("out.raw")});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(ReadText(Path("out.txt")), "2\r\n3\r\n1\r\n0\r\n255\r\n");
}

TEST_F(CliTest, OneBadInputAmongSeveralFailsAloneAndTheOthersAreWritten) {
    const Image a = RandomImage(4, 6, 4);
    const Image c = RandomImage(3, 3, 5);
    WriteRawImage(Path("a.raw"), a);
    WriteBytes(Path("bad.raw"), Bytes(12, 1));  // no descriptor and no --size
    WriteBytes(Path("c.bmp"), BitmapBytes(c));
    fs::create_directory(Path("out"));
    const Parameters p{"whole", 40, 120, 255, 0, 0};
    auto words = TreatWords(p);
    words.insert(words.begin(), {"treat", P("a.raw"), P("bad.raw"), P("c.bmp"), "--out-dir", P("out")});
    const RunResult run = Run(words);
    EXPECT_EQ(run.ExitCode, 1);
    const auto lines = SplitLines(run.Err);
    ASSERT_EQ(lines.size(), 2u) << run.Err;
    EXPECT_TRUE(lines[0].starts_with("kavel-cli: " + P("bad.raw") + ": ")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("kavel-cli: 3 inputs: 2 processed, 1 failed, 0 skipped, ")) << lines[1];
    EXPECT_TRUE(lines[1].ends_with(" s")) << lines[1];
    // Each result keeps its input's kind by default.
    EXPECT_EQ(ReadBytes(Path("out/a.raw")), ExpectedTreatment(a, p));
    EXPECT_EQ(ReadText(Path("out/a.txt")), "4\r\n6\r\n1\r\n0\r\n255\r\n");
    EXPECT_EQ(ReadBytes(Path("out/c.bmp")), BitmapBytes({3, 3, ExpectedTreatment(c, p)}));
    EXPECT_FALSE(fs::exists(Path("out/bad.raw")));
}

TEST_F(CliTest, OutDirWithFormatAndCollidingNames) {
    const Image image = RandomImage(3, 4, 6);
    WriteRawImage(Path("x.raw"), image);
    WriteBytes(Path("x.bmp"), BitmapBytes(image));
    // --format raw makes both inputs x.raw: the second must not replace the
    // first. The folder out/ is made for the run.
    const RunResult run = Run({"treat", P("x.bmp"), P("x.raw"), "--out-dir", P("out/sub"), "--format", "raw",
                               "--type", "whole", "--min", "0", "--max", "255", "--item", "9"});
    EXPECT_EQ(run.ExitCode, 1);
    const auto lines = SplitLines(run.Err);
    ASSERT_EQ(lines.size(), 2u) << run.Err;
    EXPECT_EQ(lines[0], "kavel-cli: " + P("x.raw") + ": the output " + P("out/sub/x.raw") +
                            " is also the result of " + P("x.bmp") + ", an earlier input");
    EXPECT_EQ(ReadBytes(Path("out/sub/x.raw")), Bytes(12, 9));

    // Into the input's own folder the result would replace its input.
    const Bytes before = ReadBytes(Path("x.raw"));
    const RunResult self = Run({"treat", P("x.raw"), "--out-dir", P(""), "--type", "none"});
    EXPECT_EQ(self.ExitCode, 1);
    EXPECT_EQ(ReadBytes(Path("x.raw")), before);
}

TEST_F(CliTest, RawSizeComesFromSizeOptionBeforeDescriptor) {
    const Image image = RandomImage(2, 8, 7);
    WriteRawImage(Path("s.raw"), image);
    WriteText(Path("s.txt"), "4\n4\n");  // same byte count, another shape
    const RunResult run = Run({"convert", P("s.raw"), P("t.raw"), "--size", "2x8"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(ReadText(Path("t.txt")), "2\r\n8\r\n1\r\n0\r\n255\r\n");

    // Without --size the descriptor decides.
    EXPECT_EQ(Run({"convert", P("s.raw"), P("u.raw")}).ExitCode, 0);
    EXPECT_EQ(ReadText(Path("u.txt")), "4\r\n4\r\n1\r\n0\r\n255\r\n");

    // A short file reads with its missing pixels at 0, as the desktop
    // application reads it, and says so on stderr.
    const RunResult shortFile = Run({"convert", P("s.raw"), P("v.raw"), "--size", "3x8"});
    EXPECT_EQ(shortFile.ExitCode, 0) << shortFile.Err;
    EXPECT_NE(shortFile.Err.find("fewer"), std::string::npos) << shortFile.Err;
    Bytes expected = image.Pixels;
    expected.resize(24, 0);
    EXPECT_EQ(ReadBytes(Path("v.raw")), expected);
}

TEST_F(CliTest, BadInputsAreRefusedWithAReasonAndWriteNothing) {
    Bytes huge = BitmapBytes(RandomImage(2, 2, 8));
    huge[18] = 0x30;  // width 30000 x height 0x7530: a header far beyond the file
    huge[19] = 0x75;
    huge[22] = 0x30;
    huge[23] = 0x75;
    WriteBytes(Path("huge.bmp"), huge);
    Bytes truncated = BitmapBytes(RandomImage(8, 8, 9));
    truncated.erase(truncated.end() - 10, truncated.end());
    WriteBytes(Path("truncated.bmp"), truncated);
    WriteText(Path("text.bmp"), "not a bitmap at all");
    WriteBytes(Path("words.raw"), Bytes(16, 5));
    WriteText(Path("words.txt"), "four by four");
    WriteBytes(Path("negative.raw"), Bytes(16, 5));
    WriteText(Path("negative.txt"), "-4\r\n4\r\n");
    fs::create_directory(Path("folder.raw"));
    WriteBytes(Path("vast.raw"), Bytes(16, 5));
    WriteText(Path("vast.txt"), "12000\r\n12000\r\n");
    WriteBytes(Path("wide.raw"), Bytes(16, 5));
    WriteText(Path("wide.txt"), "1\r\n1000000000\r\n");

    // Sizes claimed by a header or a descriptor must not be allocated before
    // the file is known to hold them. 256 MB leaves room for the program's
    // libraries and still stops every claimed size here (3.6 GB and up) from
    // being allocated.
    RunOptions bounded;
    if (kAddressSpaceCanBeLimited) {
        bounded.AddressSpaceLimit = 256u << 20;
    }

    for (const char* name : {"huge.bmp", "truncated.bmp", "text.bmp", "words.raw", "negative.raw",
                             "folder.raw", "missing.raw"}) {
        SCOPED_TRACE(name);
        const RunResult run = Run(
            {"treat", P(name), "-o", P("out.bmp"), "--type", "whole", "--min", "0", "--max", "0"}, bounded);
        EXPECT_EQ(run.Err.find("memory"), std::string::npos) << run.Err;
        EXPECT_EQ(run.ExitCode, 1);
        const auto lines = SplitLines(run.Err);
        ASSERT_EQ(lines.size(), 1u) << run.Err;
        EXPECT_TRUE(lines[0].starts_with("kavel-cli: " + P(name) + ": ")) << lines[0];
        EXPECT_GT(lines[0].size(), ("kavel-cli: " + P(name) + ": ").size());
        EXPECT_FALSE(fs::exists(Path("out.bmp")));
    }

    // A short raw file is legal (its missing pixels read as 0), so a vast size
    // is really asked for. Images are read a band of lines at a time, so one
    // larger than the address space is counted; a single line too long for
    // memory is one clear line after the warning, and writes nothing.
    if (kAddressSpaceCanBeLimited) {
        const RunResult vast = Run({"tones", P("vast.raw")}, bounded);
        EXPECT_EQ(vast.ExitCode, 0) << vast.Err;
        EXPECT_EQ(vast.Out, "2\n");
        EXPECT_EQ(SplitLines(vast.Err).size(), 1u) << vast.Err;
        const RunResult wide =
            Run({"treat", P("wide.raw"), "-o", P("out.bmp"), "--type", "whole", "--min", "0", "--max", "0"},
                bounded);
        EXPECT_EQ(wide.ExitCode, 1);
        const auto lines = SplitLines(wide.Err);
        ASSERT_EQ(lines.size(), 2u) << wide.Err;
        EXPECT_NE(lines[0].find("fewer"), std::string::npos) << lines[0];
        EXPECT_NE(lines[1].find("memory"), std::string::npos) << lines[1];
        EXPECT_FALSE(fs::exists(Path("out.bmp")));
    }
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndPointToHelp) {
    WriteRawImage(Path("in.raw"), RandomImage(2, 2, 10));
    const std::string in = P("in.raw");
    const std::string out = P("out.raw");
    const std::vector<std::vector<std::string>> cases{
        {},
        {"paint"},
        {"--frobnicate"},
        {"treat", in, "-o", out, "--type", "whole", "--min", "12a"},
        {"treat", in, "-o", out, "--type", "whole", "--max", ""},
        {"treat", in, "-o", out, "--type", "whole", "--min", "0", "--max", "0", "--item", "2147483648"},
        {"treat", in, "-o", out, "--type", "whole", "--min", "0", "--max", "0", "--background",
         "-2147483649"},
        {"treat", in, "-o", out, "--type", "whole", "--min", "0", "--max", "0", "--colour", "3"},
        {"treat", in, "--type", "whole", "--min", "0", "--max", "0"},
        {"treat", in, in, "-o", out, "--type", "whole", "--min", "0", "--max", "0"},
        {"treat", in, "-o", out},
        {"treat", in, "-o", out, "--type", "edges"},
        {"treat", in, "-o", P("out.png"), "--type", "whole", "--min", "0", "--max", "0"},
        {"treat", in, "-o", out, "--out-dir", P(""), "--type", "whole", "--min", "0", "--max", "0"},
        {"treat", in, "-o", out, "--type", "whole", "--min", "0", "--max", "0", "--format", "raw"},
        {"treat", in, "-o", out, "--type", "whole", "--min", "0", "--max", "0", "--size", "2y2"},
        {"treat", in, "-o", out, "--type", "whole", "--min"},
        {"histogram", in, in, "-o", out},
        {"tones", in, "-", "-"},
        {"treat", in, P("b.raw"), "--out-dir", P("o"), "--name", "all.bmp", "--type", "whole", "--min", "0",
         "--max", "0"},
        {"treat", in, "--out-dir", P("o"), "--name", "{size}.bmp", "--type", "whole", "--min", "0", "--max",
         "0"},
        {"treat", in, "-o", "-", "--type", "whole", "--min", "0", "--max", "0"},
        {"tones"},
        {"convert", in},
        {"convert", in, P("out.jpg")},
    };
    for (const auto& words : cases) {
        std::string line;
        for (const auto& word : words) {
            line += word + " ";
        }
        SCOPED_TRACE(line);
        const RunResult run = Run(words);
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_EQ(run.Out, "");
        const auto lines = SplitLines(run.Err);
        ASSERT_EQ(lines.size(), 2u) << run.Err;
        EXPECT_TRUE(lines[0].starts_with("kavel-cli: ")) << lines[0];
        EXPECT_NE(lines[1].find("--help"), std::string::npos) << lines[1];
    }
    EXPECT_EQ(Entries(), (std::vector<std::string>{"in.raw", "in.txt"}));
}

TEST_F(CliTest, HelpAndVersion) {
    for (const char* command : {"treat", "histogram", "tones", "convert"}) {
        SCOPED_TRACE(command);
        const RunResult run = Run({command, "--help"});
        EXPECT_EQ(run.ExitCode, 0);
        EXPECT_TRUE(run.Out.starts_with(std::string("Usage: kavel-cli ") + command)) << run.Out;
        EXPECT_EQ(run.Err, "");
    }
    const RunResult general = Run({"--help"});
    EXPECT_EQ(general.ExitCode, 0);
    for (const char* command : {"treat", "histogram", "tones", "convert"}) {
        EXPECT_NE(general.Out.find(command), std::string::npos) << command;
    }
    // Help wins over a mistake elsewhere on the line.
    EXPECT_EQ(Run({"treat", "--min", "12a", "-h"}).ExitCode, 0);

    const RunResult version = Run({"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out, "kavel-cli " KAVEL_VERSION "\n");
}

TEST_F(CliTest, HistogramCountsEveryToneToStdoutOrExactlyTheNamedFile) {
    const Image image = RandomImage(13, 11, 11);
    WriteRawImage(Path("h.raw"), image);
    std::array<int, 256> counts{};
    for (const auto pixel : image.Pixels) {
        ++counts[pixel];
    }
    std::string expected;
    for (const int count : counts) {
        expected += std::to_string(count) + "\r\n";
    }

    const RunResult toStdout = Run({"histogram", P("h.raw")});
    ASSERT_EQ(toStdout.ExitCode, 0) << toStdout.Err;
    EXPECT_EQ(toStdout.Out, expected);

    const RunResult toFile = Run({"histogram", P("h.raw"), "-o", P("counts")});
    ASSERT_EQ(toFile.ExitCode, 0) << toFile.Err;
    EXPECT_EQ(toFile.Out, "");
    EXPECT_EQ(ReadText(Path("counts")), expected);
    EXPECT_FALSE(fs::exists(Path("counts.xls")));
}

TEST_F(CliTest, TonesPrintsTheBareNumberOfDistinctTones) {
    const Image image = RandomImage(9, 9, 12);
    WriteBytes(Path("t.bmp"), BitmapBytes(image));
    std::array<bool, 256> seen{};
    for (const auto pixel : image.Pixels) {
        seen[pixel] = true;
    }
    const auto expected = std::count(seen.begin(), seen.end(), true);
    const RunResult run = Run({"tones", P("t.bmp")});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, std::to_string(expected) + "\n");

    WriteBytes(Path("flat.raw"), Bytes(6, 77));
    EXPECT_EQ(Run({"tones", P("flat.raw"), "--size", "2x3"}).Out, "1\n");
}

TEST_F(CliTest, ConvertRoundTripKeepsEveryByte) {
    const Image image = RandomImage(5, 7, 13);
    WriteRawImage(Path("a.raw"), image);
    ASSERT_EQ(Run({"convert", P("a.raw"), P("b.bmp")}).ExitCode, 0);
    EXPECT_EQ(ReadBytes(Path("b.bmp")), BitmapBytes(image));
    ASSERT_EQ(Run({"convert", P("b.bmp"), P("c.raw")}).ExitCode, 0);
    EXPECT_EQ(ReadBytes(Path("c.raw")), image.Pixels);
    EXPECT_EQ(ReadText(Path("c.txt")), "5\r\n7\r\n1\r\n0\r\n255\r\n");
}

TEST_F(CliTest, FailedWriteLeavesTheExistingOutputIntact) {
    const Image image = RandomImage(64, 64, 14);
    WriteRawImage(Path("in.raw"), image);
    const Bytes old(100, 42);
    for (const char* name : {"old.raw", "old.bmp"}) {
        SCOPED_TRACE(name);
        WriteBytes(Path(name), old);
        // The file size limit makes the write fail part way through.
        RunOptions limited;
        limited.FileSizeLimit = 2000;
        const RunResult run = Run(
            {"treat", P("in.raw"), "-o", P(name), "--type", "whole", "--min", "0", "--max", "0"}, limited);
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(SplitLines(run.Err).size(), 1u) << run.Err;
        EXPECT_EQ(ReadBytes(Path(name)), old);
    }
    // No temporary file was left behind.
    EXPECT_EQ(Entries(), (std::vector<std::string>{"in.raw", "in.txt", "old.bmp", "old.raw"}));

    // Into a folder that does not exist, or through a regular file.
    WriteText(Path("plain"), "keep me");
    for (const std::string& target : {P("nowhere/r.raw"), P("plain/r.bmp")}) {
        const RunResult run =
            Run({"treat", P("in.raw"), "-o", target, "--type", "whole", "--min", "0", "--max", "0"});
        EXPECT_EQ(run.ExitCode, 1) << target;
        EXPECT_EQ(SplitLines(run.Err).size(), 1u) << run.Err;
    }
    EXPECT_EQ(ReadText(Path("plain")), "keep me");
}

// A save reaches the disk before it replaces anything: each new file is
// synced (by itself, or with its whole file system by syncfs, as batches
// do) before the rename that puts it in place, and the folder after the
// last rename, so that the new names survive a crash too. Checked on the
// program's own system calls for a new bitmap and for a raw image and
// descriptor that replace existing ones.
TEST_F(CliTest, ASaveSyncsEachFileBeforeItsRenameAndThenTheFolder) {
    const fs::path strace = "/usr/bin/strace";
    if (!fs::exists(strace)) {
        GTEST_SKIP() << "strace is not installed (scripts/install-deps.sh installs it)";
    }
    WriteRawImage(Path("in.raw"), RandomImage(6, 5, 23));
    WriteBytes(Path("old.raw"), Bytes(30, 1));
    WriteText(Path("old.txt"), "6\r\n5\r\n");
    const fs::path folder = fs::canonical(Path("."));
    for (const auto& [output, renames] : {std::pair{"new.bmp", 1}, std::pair{"old.raw", 2}}) {
        SCOPED_TRACE(output);
        RunOptions traced;
        traced.Program = strace;
        const RunResult run =
            Run({"-f", "-qq", "-y", "-o", P("trace"), "-e", kavel::test::kSaveTraceCalls, KAVEL_CLI_PATH,
                 "treat", P("in.raw"), "-o", P(output), "--type", "border", "--min", "0", "--max", "99"},
                traced);
        if (run.ExitCode != 0 && run.Err.find("ptrace") != std::string::npos) {
            GTEST_SKIP() << "strace cannot trace here: " << run.Err;
        }
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        for (const std::string& problem : kavel::test::SaveOrderProblems(
                 kavel::test::SaveCalls(ReadText(Path("trace"))), renames, folder)) {
            ADD_FAILURE() << problem;
        }
        fs::remove(Path("trace"));
    }
    EXPECT_EQ(ReadText(Path("old.txt")), "6\r\n5\r\n1\r\n0\r\n255\r\n");
}

TEST_F(CliTest, ProgressLineOnlyWhenStderrIsATerminal) {
    WriteRawImage(Path("one.raw"), RandomImage(2, 2, 15));
    WriteRawImage(Path("two.raw"), RandomImage(2, 2, 16));
    fs::create_directory(Path("out"));
    const std::vector<std::string> words{"treat",  P("one.raw"), P("two.raw"), "--out-dir",
                                         P("out"), "--type",     "none"};
    RunOptions terminal;
    terminal.StderrOnTerminal = true;
    const RunResult shown = Run(words, terminal);
    EXPECT_EQ(shown.ExitCode, 0);
    EXPECT_NE(shown.Err.find("\r"), std::string::npos);
    EXPECT_NE(shown.Err.find("[1/2] one.raw"), std::string::npos) << shown.Err;
    EXPECT_NE(shown.Err.find("[2/2] two.raw"), std::string::npos) << shown.Err;

    const RunResult quiet = Run(words);
    EXPECT_EQ(quiet.ExitCode, 0);
    ASSERT_EQ(SplitLines(quiet.Err).size(), 1u) << quiet.Err;
    EXPECT_TRUE(quiet.Err.starts_with("kavel-cli: 2 inputs: 2 processed, 0 failed, 0 skipped, "))
        << quiet.Err;
    EXPECT_EQ(quiet.Err.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace kavel::clitest
