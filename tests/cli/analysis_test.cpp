// kavel-cli suggest, measure and treat --auto end to end: the tables in each
// format, the try-all pictures, the chosen interval and the usage errors.
// The thresholds themselves are checked against scikit-image in tests/oracle.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_support.h"
#include "kavel/bitmap.h"

namespace kavel::clitest {
namespace {

// 4 x 4: eight pixels of 10, six of 200, two of 210. Otsu puts t at 10.
const Bytes kPixels{10, 10, 10, 10, 10, 10, 10, 10, 200, 200, 200, 200, 200, 200, 210, 210};

class AnalysisTest : public CliTest {
protected:
    std::string Image(const std::string& name = "a") const {
        WriteBytes(Path(name + ".raw"), kPixels);
        WriteText(Path(name + ".txt"), "4\r\n4\r\n");
        return P(name + ".raw");
    }
};

TEST_F(AnalysisTest, SuggestPrintsEachMethodInEveryFormat) {
    const std::string a = Image();
    const RunResult csv = Run({"suggest", a, "--method", "otsu", "--method=MinError(I)", "--format", "csv"});
    ASSERT_EQ(csv.ExitCode, 0) << csv.Err;
    EXPECT_EQ(SplitLines(csv.Out),
              (std::vector<std::string>{
                  "file,method,threshold,dark_min,dark_max,light_min,light_max,failure",
                  a + ",Otsu,10,0,10,11,255,",
                  a + ",MinError(I),,,,,,every split leaves a class of a single tone (zero variance)",
              }));

    const RunResult json =
        Run({"suggest", a, "--method", "Otsu", "--method", "MinErrorI", "--format", "json"});
    ASSERT_EQ(json.ExitCode, 0) << json.Err;
    EXPECT_NE(json.Out.find("\"method\": \"Otsu\", \"threshold\": 10, \"dark_min\": 0, \"dark_max\": 10, "
                            "\"light_min\": 11, \"light_max\": 255, \"failure\": null}"),
              std::string::npos)
        << json.Out;
    EXPECT_NE(json.Out.find("\"threshold\": null, \"dark_min\": null"), std::string::npos) << json.Out;

    // Text: all sixteen by default, under one header, columns aligned.
    const RunResult text = Run({"suggest", a});
    ASSERT_EQ(text.ExitCode, 0) << text.Err;
    const auto lines = SplitLines(text.Out);
    ASSERT_EQ(lines.size(), 17u);
    const auto column = lines[0].find("threshold");
    EXPECT_EQ(lines[11].substr(lines[11].find("Otsu"), 4), "Otsu");
    EXPECT_EQ(lines[11].substr(column, 3), "10 ");
}

TEST_F(AnalysisTest, TryAllWritesTheLightItemOfEachMethodNamedAfterIt) {
    const std::string a = Image();
    std::filesystem::create_directory(Path("out"));
    const RunResult r = Run({"suggest", a, "--try-all", "--out-dir", P("out"), "--method", "Otsu", "--method",
                             "MinError(I)", "--method", "Percentile"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Path("out"))) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    // MinError(I) finds no threshold, so it has no picture.
    EXPECT_EQ(names, (std::vector<std::string>{"a-Otsu.bmp", "a-Percentile.bmp"}));
    const auto otsu = ReadBitmapFile(Path("out") / "a-Otsu.bmp");
    ASSERT_TRUE(otsu.ok());
    const auto bytes = otsu->Rows.Bytes();
    for (std::size_t k = 0; k < kPixels.size(); ++k) {
        EXPECT_EQ(bytes[k], kPixels[k] > 10 ? 255 : 0) << k;
    }
}

TEST_F(AnalysisTest, TreatAutoUsesAndPrintsTheChosenInterval) {
    const std::string a = Image();
    const RunResult r =
        Run({"treat", a, "-o", P("auto.raw"), "--type", "whole", "--item", "255", "--auto", "Otsu:light"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, a + ": Otsu t = 10, light item --min 11 --max 255\n");
    const RunResult same = Run({"treat", a, "-o", P("manual.raw"), "--type", "whole", "--min", "0", "--max",
                                "0", "--item", "255", "--min", "11", "--max", "255"});
    ASSERT_EQ(same.ExitCode, 0) << same.Err;
    EXPECT_EQ(ReadBytes(Path("auto.raw")), ReadBytes(Path("manual.raw")));

    // With the image on standard output the report goes to standard error,
    // so the pipe carries the pixels alone; standard input is counted whole.
    RunOptions fed;
    fed.Stdin = std::string(kPixels.begin(), kPixels.end());
    const RunResult piped = Run({"treat", "-", "--size", "4x4", "-o", "-", "--format", "raw", "--type",
                                 "whole", "--item", "255", "--auto", "Otsu:light"},
                                fed);
    ASSERT_EQ(piped.ExitCode, 0) << piped.Err;
    const Bytes manual = ReadBytes(Path("manual.raw"));
    EXPECT_EQ(piped.Out, std::string(manual.begin(), manual.end()));
    EXPECT_EQ(piped.Err, "standard input: Otsu t = 10, light item --min 11 --max 255\n");

    // A method without a threshold fails that input, with the reason.
    const RunResult failed =
        Run({"treat", a, "-o", P("x.raw"), "--type", "whole", "--auto", "minerror:dark"});
    EXPECT_EQ(failed.ExitCode, 1);
    EXPECT_EQ(failed.Err, "kavel-cli: " + a +
                              ": MinError(I): every split leaves a class of a single tone (zero variance)\n");
}

TEST_F(AnalysisTest, MeasureGivesOneRowPerInputAndSkipsOnesThatFail) {
    const std::string a = Image("a");
    // The same pixels streamed from a raw file and from a bitmap (bottom line
    // first), and read whole from standard input.
    ASSERT_EQ(Run({"convert", a, P("b.bmp")}).ExitCode, 0);
    RunOptions fed;
    fed.Stdin = std::string(kPixels.begin(), kPixels.end());
    const RunResult r = Run({"measure", a, P("missing.raw"), P("b.bmp"), "-", "--size", "4x4", "--min", "100",
                             "--max", "255", "--format", "csv"},
                            fed);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("missing.raw"), std::string::npos);
    const std::string row = ",100,255,16,8,4,4,0.500000,2,202.5000,200,200,4.3301,1";
    EXPECT_EQ(SplitLines(r.Out),
              (std::vector<std::string>{"file,min,max,pixels,selected,border,inside,area_fraction,"
                                        "tones,mean,median,mode,std_dev,regions",
                                        a + row, P("b.bmp") + row, "-" + row}));
    // Nothing selected: the statistics are absent, not zero.
    const RunResult none = Run({"measure", a, "--min", "50", "--max", "60", "--format", "json"});
    ASSERT_EQ(none.ExitCode, 0) << none.Err;
    EXPECT_NE(
        none.Out.find("\"mean\": null, \"median\": null, \"mode\": null, \"std_dev\": null, \"regions\": 0"),
        std::string::npos)
        << none.Out;
}

TEST_F(AnalysisTest, UsageErrorsNameTheCommand) {
    const std::string a = Image();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"suggest"}, "no input image given"},
        {{"suggest", a, "--method", "Kapur"}, "--method: 'Kapur' is not one of Default, Huang,"},
        {{"suggest", a, "--try-all"}, "--try-all and --out-dir DIR go together"},
        {{"suggest", a, "--try-all=yes"}, "option '--try-all' takes no value"},
        {{"suggest", a, "--format", "xml"}, "--format: 'xml' is not text, csv or json"},
        // A flag word after an option that takes a value is that value.
        {{"suggest", a, "--format", "--try-all"}, "--format: '--try-all' is not text, csv or json"},
        {{"measure", a, "--min", "1"}, "--max is missing"},
        {{"measure", a, "--min", "1", "--max", "2x"}, "--max: '2x' is not a whole number"},
        {{"measure", a, "--min", "1", "--max", "2", "--connectivity", "6"},
         "--connectivity: '6' is not 4 or 8"},
        {{"treat", a, "-o", "b.raw", "--type", "whole", "--auto", "Otsu"},
         "is not METHOD:dark or METHOD:light"},
        {{"treat", a, "-o", "b.raw", "--type", "whole", "--auto", "Otsu:dark", "--max", "9"},
         "--auto chooses the interval: leave out --min and --max"},
    };
    for (const auto& [words, message] : cases) {
        const RunResult r = Run(words);
        EXPECT_EQ(r.ExitCode, 2) << words[0] << ' ' << message;
        EXPECT_NE(r.Err.find(message), std::string::npos) << r.Err;
        EXPECT_NE(r.Err.find("Try 'kavel-cli " + words[0] + " --help'."), std::string::npos) << r.Err;
        EXPECT_EQ(r.Out, "");
    }
}

TEST_F(AnalysisTest, HelpCoversBothCommands) {
    const RunResult all = Run({"--help"});
    EXPECT_NE(all.Out.find("  suggest  "), std::string::npos);
    EXPECT_NE(all.Out.find("  measure  "), std::string::npos);
    for (const std::string command : {"suggest", "measure"}) {
        for (const auto& words : {std::vector<std::string>{"help", command},
                                  std::vector<std::string>{command, "x.raw", "--help"}}) {
            const RunResult r = Run(words);
            EXPECT_EQ(r.ExitCode, 0);
            EXPECT_EQ(r.Out.rfind("Usage: kavel-cli " + command + " INPUT...", 0), 0u) << r.Out;
        }
    }
}

}  // namespace
}  // namespace kavel::clitest
