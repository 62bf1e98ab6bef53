// kavel-cli over many inputs: several inputs per command, parallel jobs that
// must give the serial run's bytes, output names, standard input and output,
// and inputs told apart by their content.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "cli_images.h"
#include "cli_support.h"

namespace kavel::clitest {
namespace {

std::string HistogramText(const Image& image) {
    std::array<int, 256> counts{};
    for (const auto pixel : image.Pixels) {
        ++counts[pixel];
    }
    std::string text;
    for (const int count : counts) {
        text += std::to_string(count) + "\r\n";
    }
    return text;
}

std::string Prefixed(const std::string& file, const std::string& text) {
    std::string out;
    for (const auto& line : SplitLines(text)) {
        out += file + ": " + line + "\n";
    }
    return out;
}

// Every file of a folder with its bytes, for comparing two runs.
std::vector<std::pair<std::string, Bytes>> FolderContents(const fs::path& folder) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files.emplace_back(entry.path().filename().string(), ReadBytes(entry.path()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Stderr without the seconds of its summary, which differ between runs.
std::string WithoutSeconds(const std::string& err) {
    const auto last = err.rfind(", ");
    return last == std::string::npos ? err : err.substr(0, last);
}

TEST_F(CliTest, TonesAndHistogramTakeSeveralInputsAndLabelTheirLines) {
    const Image a = RandomImage(5, 6, 40);
    Image b = RandomImage(4, 4, 41);
    b.Pixels[0] = 255;  // one more tone than a
    WriteRawImage(Path("a.raw"), a);
    WriteBytes(Path("b.bmp"), BitmapBytes(b));

    const RunResult tones = Run({"tones", P("a.raw"), P("b.bmp")});
    ASSERT_EQ(tones.ExitCode, 0) << tones.Err;
    EXPECT_EQ(tones.Out, P("a.raw") + ": " + Run({"tones", P("a.raw")}).Out + P("b.bmp") + ": " +
                             Run({"tones", P("b.bmp")}).Out);

    const RunResult counts = Run({"histogram", P("a.raw"), P("b.bmp")});
    ASSERT_EQ(counts.ExitCode, 0) << counts.Err;
    // Each line keeps its CR LF after the label.
    EXPECT_EQ(counts.Out, Prefixed(P("a.raw"), HistogramText(a)) + Prefixed(P("b.bmp"), HistogramText(b)));

    // One export per input, in a folder made for the run.
    const RunResult exports = Run({"histogram", P("a.raw"), P("b.bmp"), "--out-dir", P("h")});
    ASSERT_EQ(exports.ExitCode, 0) << exports.Err;
    EXPECT_EQ(exports.Out, "");
    EXPECT_EQ(ReadText(Path("h/a.xls")), HistogramText(a));
    EXPECT_EQ(ReadText(Path("h/b.xls")), HistogramText(b));
    EXPECT_EQ(
        Run({"histogram", P("a.raw"), P("b.bmp"), "--out-dir", P("h"), "--name", "{name}.counts"}).ExitCode,
        0);
    EXPECT_EQ(ReadText(Path("h/b.bmp.counts")), HistogramText(b));
}

TEST_F(CliTest, ParallelJobsGiveTheSerialRunByteForByte) {
    std::vector<std::string> inputs;
    for (int k = 0; k < 10; ++k) {
        const std::string name = "in" + std::to_string(k) + ".raw";
        WriteRawImage(Path(name), RandomImage(20 + k, 31 - k, 50u + static_cast<unsigned>(k)));
        inputs.push_back(P(name));
    }
    WriteBytes(Path("pic.bmp"), BitmapBytes(RandomImage(9, 7, 60)));
    WriteBytes(Path("short.raw"), Bytes(5, 80));
    WriteText(Path("short.txt"), "3\r\n3\r\n");  // a warning, and still a result
    inputs.insert(inputs.begin() + 3, P("pic.bmp"));
    inputs.insert(inputs.begin() + 5, P("missing.raw"));
    inputs.insert(inputs.begin() + 7, P("in2.txt"));  // set aside
    inputs.push_back(P("short.raw"));

    std::vector<RunResult> treated;
    std::vector<RunResult> toned;
    for (const char* jobs : {"1", "4"}) {
        auto treat = std::vector<std::string>{"treat"};
        treat.insert(treat.end(), inputs.begin(), inputs.end());
        const std::vector<std::string> options{"--out-dir", P(std::string("out") + jobs),
                                               "--jobs",    jobs,
                                               "--type",    "item-border",
                                               "--min",     "40",
                                               "--max",     "160",
                                               "--item",    "255",
                                               "--border",  "128"};
        treat.insert(treat.end(), options.begin(), options.end());
        treated.push_back(Run(treat));
        auto tones = std::vector<std::string>{"tones", "-j", jobs};
        tones.insert(tones.end(), inputs.begin(), inputs.end());
        toned.push_back(Run(tones));
    }
    for (const auto* runs : {&treated, &toned}) {
        EXPECT_EQ((*runs)[0].ExitCode, 1);
        EXPECT_EQ((*runs)[1].ExitCode, 1);
        EXPECT_EQ((*runs)[0].Out, (*runs)[1].Out);
        EXPECT_EQ(WithoutSeconds((*runs)[0].Err), WithoutSeconds((*runs)[1].Err));
    }
    const auto lines = SplitLines(treated[1].Err);
    ASSERT_EQ(lines.size(), 4u) << treated[1].Err;
    EXPECT_EQ(lines[0], "kavel-cli: " + P("missing.raw") + ": no such file");
    EXPECT_EQ(lines[1], "kavel-cli: " + P("in2.txt") + " is the descriptor of " + P("in2.raw"));
    EXPECT_NE(lines[2].find("warning"), std::string::npos) << lines[2];
    EXPECT_TRUE(lines[3].starts_with("kavel-cli: 14 inputs: 12 processed, 1 failed, 1 skipped, "))
        << lines[3];
    EXPECT_EQ(SplitLines(toned[1].Out).size(), 12u) << toned[1].Out;

    const auto serial = FolderContents(Path("out1"));
    EXPECT_EQ(serial.size(), 23u);  // 11 raw results with their descriptors, 1 bitmap
    EXPECT_EQ(serial, FolderContents(Path("out4")));
}

TEST_F(CliTest, NameTemplatesLetTreatmentsShareAFolder) {
    const Image a = RandomImage(6, 5, 70);
    const Image b = RandomImage(5, 6, 71);
    WriteRawImage(Path("a.raw"), a);
    WriteBytes(Path("b.bmp"), BitmapBytes(b));
    const Parameters border{"border", 40, 120, 0, 255, 0};
    const Parameters whole{"whole", 40, 120, 200, 0, 0};
    for (const auto& [p, name] :
         {std::pair{border, "{stem}-border.bmp"}, std::pair{whole, "{stem}-whole.{ext}"}}) {
        auto words = TreatWords(p);
        words.insert(words.begin(),
                     {"treat", P("a.raw"), P("b.bmp"), "--out-dir", P("shared"), "--name", name});
        const RunResult run = Run(words);
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
    }
    // The name's ending decides the kind; {ext} keeps each input's own.
    EXPECT_EQ(ReadBytes(Path("shared/a-border.bmp")), BitmapBytes({6, 5, ExpectedTreatment(a, border)}));
    EXPECT_EQ(ReadBytes(Path("shared/b-border.bmp")), BitmapBytes({5, 6, ExpectedTreatment(b, border)}));
    EXPECT_EQ(ReadBytes(Path("shared/a-whole.raw")), ExpectedTreatment(a, whole));
    EXPECT_EQ(ReadText(Path("shared/a-whole.txt")), "6\r\n5\r\n1\r\n0\r\n255\r\n");
    EXPECT_EQ(ReadBytes(Path("shared/b-whole.bmp")), BitmapBytes({5, 6, ExpectedTreatment(b, whole)}));
    // convert takes the same names.
    ASSERT_EQ(Run({"convert", P("a.raw"), P("b.bmp"), "--out-dir", P("shared"), "--name", "{stem}-copy.bmp"})
                  .ExitCode,
              0);
    EXPECT_EQ(ReadBytes(Path("shared/a-copy.bmp")), BitmapBytes(a));
    EXPECT_EQ(ReadBytes(Path("shared/b-copy.bmp")), BitmapBytes(b));
    EXPECT_EQ(FolderContents(Path("shared")).size(), 7u);
}

TEST_F(CliTest, StandardInputAndOutputAreTheDash) {
    const Image image = RandomImage(7, 5, 80);
    const Bytes bitmap = BitmapBytes(image);
    WriteRawImage(Path("a.raw"), image);
    const std::string bitmapText(bitmap.begin(), bitmap.end());
    const std::string rawText(image.Pixels.begin(), image.Pixels.end());
    const auto fed = [](const std::string& bytes) {
        RunOptions options;
        options.Stdin = bytes;
        return options;
    };
    const Parameters p{"item-border", 40, 160, 255, 128, 3};
    const Bytes treated = ExpectedTreatment(image, p);

    const std::string tones = Run({"tones", P("a.raw")}).Out;
    EXPECT_EQ(Run({"tones", "-"}, fed(bitmapText)).Out, tones);
    EXPECT_EQ(Run({"tones", "-", "--size", "7x5"}, fed(rawText)).Out, tones);
    EXPECT_EQ(Run({"histogram", "-", "-o", "-"}, fed(bitmapText)).Out, HistogramText(image));

    auto words = TreatWords(p);
    words.insert(words.begin(), {"treat", "-", "-o", "-", "--format", "bmp"});
    const RunResult piped = Run(words, fed(bitmapText));
    ASSERT_EQ(piped.ExitCode, 0) << piped.Err;
    const Bytes treatedBitmap = BitmapBytes({7, 5, treated});
    EXPECT_EQ(piped.Out, std::string(treatedBitmap.begin(), treatedBitmap.end()));

    // A raw result on standard output is the pixels alone.
    words = TreatWords(p);
    words.insert(words.begin(), {"treat", P("a.raw"), "-o", "-", "--format", "raw"});
    const RunResult raw = Run(words);
    ASSERT_EQ(raw.ExitCode, 0) << raw.Err;
    EXPECT_EQ(raw.Out, std::string(treated.begin(), treated.end()));
    EXPECT_EQ(Run({"convert", P("a.raw"), "-", "--format", "bmp"}).Out, bitmapText);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"a.raw", "a.txt"}));

    // With --strict, standard input is refused in the words a file would be.
    const Bytes colour = BitmapBytes(image, 24);
    const RunResult refused = Run({"tones", "-", "--strict"}, fed(std::string(colour.begin(), colour.end())));
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_EQ(refused.Err,
              "kavel-cli: standard input: 24-bit colour bitmap: KAVEL reads 8-bit gray bitmaps; "
              "`kavel-cli import` converts it\n");
    EXPECT_EQ(
        Run({"tones", "-"}, fed("")).Err,
        "kavel-cli: standard input: is empty: give an image there, or raw bytes with --size LINESxCOLUMNS\n");
    const RunResult sized = Run({"tones", "-", "--size", "7x5"}, fed(bitmapText));
    EXPECT_EQ(sized.ExitCode, 1);
    EXPECT_NE(sized.Err.find("leave out --size"), std::string::npos) << sized.Err;
}

TEST_F(CliTest, InputsAreRecognisedByTheirContent) {
    // A descriptor or a text document among the inputs is set aside with one
    // line; a .txt of binary bytes is still a raw image.
    WriteRawImage(Path("scene.raw"), RandomImage(3, 3, 90));
    WriteText(Path("README.md"), "# Samples\n\nscene.raw: 3 x 3\n");
    WriteBytes(Path("pixels.txt"), Bytes{0, 1, 2, 3});
    const RunResult run = Run({"treat", P("README.md"), P("scene.raw"), P("scene.txt"), P("pixels.txt"),
                               "--size", "3x3", "--out-dir", P("o"), "--type", "none"});
    EXPECT_EQ(run.ExitCode, 0);
    const auto lines = SplitLines(run.Err);
    ASSERT_EQ(lines.size(), 4u) << run.Err;
    EXPECT_EQ(lines[0], "kavel-cli: " + P("README.md") + " is a text file, not an image");
    EXPECT_EQ(lines[1], "kavel-cli: " + P("scene.txt") + " is the descriptor of " + P("scene.raw"));
    EXPECT_NE(lines[2].find(P("pixels.txt") + ": warning: holds 4 bytes"), std::string::npos) << lines[2];
    EXPECT_TRUE(lines[3].starts_with("kavel-cli: 4 inputs: 2 processed, 0 failed, 2 skipped, ")) << lines[3];
    EXPECT_TRUE(fs::exists(Path("o/scene.raw")));
    EXPECT_TRUE(fs::exists(Path("o/pixels.raw")));
    EXPECT_EQ(FolderContents(Path("o")).size(), 4u);

    // Other formats are known by their signature, even with --size: for the
    // conversion, or with --strict refused.
    Bytes bitmap = BitmapBytes(RandomImage(2, 2, 91));
    const struct {
        const char* Name;
        std::string Start;
        const char* Said;
    } known[] = {
        {"p.raw", "\x89PNG\r\n\x1A\n", "is a PNG image, not raw bytes: `kavel-cli import` converts it"},
        {"p.bmp", "\x89PNG\r\n\x1A\n", "is a PNG image, not a Windows bitmap: `kavel-cli import`"},
        {"j.raw", "\xFF\xD8\xFF\xE0", "is a JPEG image"},
        {"g.dat", "GIF89a", "is a GIF image"},
        {"t.raw", std::string("II*\0\x08\0\0\0", 8), "is a TIFF image"},
        {"w.raw", std::string("RIFF\x10\0\0\0WEBP", 12), "is a WebP image"},
        {"n.raw", "P5\n# made by hand\n4 8\n255\n", "is a Netpbm (PBM/PGM/PPM/PAM) image"},
        {"z.raw", "PK\x03\x04", "is a ZIP archive, not an image"},
        {"b.raw", std::string(bitmap.begin(), bitmap.end()),
         "is a Windows bitmap, not raw bytes: name it .bmp"},
    };
    for (const auto& file : known) {
        SCOPED_TRACE(file.Name);
        std::string bytes = file.Start;
        bytes.resize(std::max<std::size_t>(bytes.size(), 32), '\x11');
        if (std::string(file.Name) == "b.raw") {
            bytes = file.Start;  // its length is part of its signature
        }
        WriteText(Path(file.Name), bytes);
        const RunResult refused = Run({"tones", P(file.Name), "--size", "4x8", "--strict"});
        EXPECT_EQ(refused.ExitCode, 1);
        EXPECT_TRUE(refused.Err.starts_with("kavel-cli: " + P(file.Name) + ": " + file.Said)) << refused.Err;
        // These are only signatures: the conversion finds no image behind them.
        const RunResult tried = Run({"tones", P(file.Name), "--size", "4x8"});
        EXPECT_EQ(tried.ExitCode, 1);
        const bool image = std::string(file.Said).find("not an image") == std::string::npos &&
                           std::string(file.Name) != "b.raw";
        EXPECT_EQ(tried.Err.find("cannot be decoded") != std::string::npos, image) << tried.Err;
    }
    // Bytes that only start like one are raw pixels.
    WriteText(Path("plain.raw"), std::string("II*\x07\x08\0\0\0", 8) + std::string(24, '\x20'));
    EXPECT_EQ(Run({"tones", P("plain.raw"), "--size", "4x8"}).Out, "6\n");
}

TEST_F(CliTest, RunsThatCannotStartExitWithTwoAndWriteNothing) {
    WriteRawImage(Path("a.raw"), RandomImage(2, 2, 100));
    const RunResult onlyDescriptors =
        Run({"treat", P("a.txt"), "--out-dir", P("o"), "--type", "whole", "--min", "0", "--max", "0"});
    EXPECT_EQ(onlyDescriptors.ExitCode, 2);
    EXPECT_EQ(SplitLines(onlyDescriptors.Err).back(), "kavel-cli: no image among the inputs");
    EXPECT_FALSE(fs::exists(Path("o")));

    WriteText(Path("file"), "keep");
    const RunResult notAFolder = Run({"histogram", P("a.raw"), "--out-dir", P("file")});
    EXPECT_EQ(notAFolder.ExitCode, 2);
    EXPECT_EQ(notAFolder.Err, "kavel-cli: " + P("file") + ": the output folder is a file, not a folder\n");
    EXPECT_EQ(ReadText(Path("file")), "keep");
}

TEST_F(CliTest, ParallelJobsNeverReplaceWhatTheRunReads) {
    fs::create_directory(Path("in"));
    std::vector<std::string> words{"treat"};
    for (int k = 0; k < 8; ++k) {
        WriteRawImage(Path("in/" + std::to_string(k) + ".raw"),
                      RandomImage(4, 4, 110u + static_cast<unsigned>(k)));
        words.push_back(P("in/" + std::to_string(k) + ".raw"));
    }
    const auto before = FolderContents(Path("in"));
    const std::vector<std::string> options{"--out-dir", P("in"), "--jobs", "4", "--type", "none"};
    words.insert(words.end(), options.begin(), options.end());
    const RunResult run = Run(words);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(SplitLines(run.Err).size(), 9u) << run.Err;
    EXPECT_EQ(FolderContents(Path("in")), before);

    // A result that would be a later input of the same run fails both.
    const RunResult chained = Run({"treat", P("in/0.raw"), P("out/0.raw"), "--out-dir", P("out"), "--size",
                                   "4x4", "-j", "2", "--type", "none"});
    EXPECT_EQ(chained.ExitCode, 1);
    EXPECT_EQ(SplitLines(chained.Err).size(), 3u) << chained.Err;
    EXPECT_FALSE(fs::exists(Path("out/0.raw")));
}

}  // namespace
}  // namespace kavel::clitest
