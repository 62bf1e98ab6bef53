// The argument parser on its own: strict numbers and sizes, and the way the
// words of a command become its options.
#include "args.h"

#include <gtest/gtest.h>

#include <climits>
#include <string_view>
#include <vector>

namespace kavel::cli {
namespace {

ParsedCommandLine Parse(std::vector<std::string_view> words) {
    return ParseCommandLine(words);
}

TEST(CliArgs, Int32IsStrictAndCoversTheWholeRange) {
    EXPECT_EQ(ParseInt32("0"), 0);
    EXPECT_EQ(ParseInt32("+7"), 7);
    EXPECT_EQ(ParseInt32("-1"), -1);
    EXPECT_EQ(ParseInt32("007"), 7);
    EXPECT_EQ(ParseInt32("2147483647"), INT_MAX);
    EXPECT_EQ(ParseInt32("-2147483648"), INT_MIN);
    for (const std::string_view bad : {"", "-", "+", "12a", " 1", "1 ", "0x10", "1e3", "2147483648",
                                       "-2147483649", "99999999999999999999", "--1", "1.0"}) {
        EXPECT_EQ(ParseInt32(bad), std::nullopt) << bad;
    }
}

TEST(CliArgs, SizeIsLinesByColumns) {
    EXPECT_EQ(ParseSize("480x640"), (ImageSize{480, 640}));
    EXPECT_EQ(ParseSize("2X3"), (ImageSize{2, 3}));
    EXPECT_EQ(ParseSize("0x0"), (ImageSize{0, 0}));
    EXPECT_EQ(ParseSize("65536x65536"), (ImageSize{65536, 65536}));
    for (const std::string_view bad :
         {"", "480", "x640", "480x", "-1x5", "5x-1", "+1x5", "1x2x3", "a x b", "65536x65537", "480*640"}) {
        EXPECT_EQ(ParseSize(bad), std::nullopt) << bad;
    }
}

TEST(CliArgs, FormatComesFromTheLastExtensionOfTheName) {
    EXPECT_EQ(FormatOfName("out.raw"), ImageFormat::Raw);
    EXPECT_EQ(FormatOfName("dir/OUT.BMP"), ImageFormat::Bitmap);
    EXPECT_EQ(FormatOfName("a.raw.bmp"), ImageFormat::Bitmap);
    EXPECT_EQ(FormatOfName("a.bmp.txt"), std::nullopt);
    EXPECT_EQ(FormatOfName("x.bmp/plain"), std::nullopt);
    EXPECT_EQ(FormatOfName("raw"), std::nullopt);
}

TEST(CliArgs, TreatOptionsReachTheParameters) {
    const auto parsed =
        Parse({"treat",       "a.raw",  "--out-dir=out", "--min",    "5",  "--max=250",    "--type",
               "item-border", "--item", "300",           "--border", "-1", "--background", "256",
               "--size",      "4x6",    "--format",      "bmp",      "--", "-b.raw"});
    const auto* treat = std::get_if<TreatOptions>(&parsed);
    ASSERT_NE(treat, nullptr);
    EXPECT_EQ(treat->Inputs, (std::vector<std::string>{"a.raw", "-b.raw"}));
    EXPECT_EQ(treat->OutDir, "out");
    EXPECT_EQ(treat->Format, ImageFormat::Bitmap);
    EXPECT_EQ(treat->Size, (ImageSize{4, 6}));
    // Values are kept whole; only writing into an image takes their low byte.
    const TreatmentParameters& p = treat->Parameters;
    EXPECT_EQ(p.TreatmentType, TreatmentKind::ItemAndBorder);
    EXPECT_EQ(p.MinThreshold, 5);
    EXPECT_EQ(p.MaxThreshold, 250);
    EXPECT_EQ(p.ItemTone, 300);
    EXPECT_EQ(p.BorderTone, -1);
    EXPECT_EQ(p.BackgroundTone, 256);
}

TEST(CliArgs, TreatDefaultsAndTypeNames) {
    const auto parsed = Parse({"treat", "a.bmp", "-o", "r.raw", "--type", "none"});
    const auto* treat = std::get_if<TreatOptions>(&parsed);
    ASSERT_NE(treat, nullptr);
    EXPECT_EQ(treat->Output, "r.raw");
    EXPECT_EQ(treat->Format, std::nullopt);
    EXPECT_EQ(treat->Size, std::nullopt);
    EXPECT_EQ(treat->Parameters.TreatmentType, TreatmentKind::None);
    EXPECT_EQ(treat->Parameters.MinThreshold, 0);
    EXPECT_EQ(treat->Parameters.MaxThreshold, 0);
    EXPECT_EQ(treat->Parameters.ItemTone, 0);
    EXPECT_EQ(treat->Parameters.BorderTone, 0);
    EXPECT_EQ(treat->Parameters.BackgroundTone, 0);

    const std::pair<std::string_view, TreatmentKind> types[] = {
        {"whole", TreatmentKind::WholeItem},
        {"border", TreatmentKind::Border},
        {"item-border", TreatmentKind::ItemAndBorder}};
    for (const auto& [word, kind] : types) {
        const auto each =
            Parse({"treat", "a.bmp", "-o", "r.raw", "--type", word, "--min", "0", "--max", "0"});
        ASSERT_TRUE(std::holds_alternative<TreatOptions>(each)) << word;
        EXPECT_EQ(std::get<TreatOptions>(each).Parameters.TreatmentType, kind) << word;
    }
}

TEST(CliArgs, UsageErrorsNameTheirCommand) {
    const auto bad = Parse({"treat", "a.raw", "-o", "b.raw", "--type", "whole", "--min", "12a"});
    const auto* error = std::get_if<UsageError>(&bad);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->Command, CommandName::Treat);
    EXPECT_NE(error->Message.find("12a"), std::string::npos) << error->Message;

    const auto unknown = Parse({"histogram", "a.raw", "--min", "3"});
    ASSERT_TRUE(std::holds_alternative<UsageError>(unknown));
    EXPECT_EQ(std::get<UsageError>(unknown).Command, CommandName::Histogram);

    ASSERT_TRUE(std::holds_alternative<UsageError>(Parse({"bogus"})));
    EXPECT_EQ(std::get<UsageError>(Parse({"bogus"})).Command, CommandName::None);
}

TEST(CliArgs, HelpVersionAndTheOtherCommands) {
    EXPECT_TRUE(std::holds_alternative<ShowVersion>(Parse({"--version"})));
    const auto help = Parse({"help", "convert"});
    ASSERT_TRUE(std::holds_alternative<ShowHelp>(help));
    EXPECT_EQ(std::get<ShowHelp>(help).Command, CommandName::Convert);
    // After "--" a word is a file name, even --help.
    const auto tones = Parse({"tones", "a.raw", "--", "--help"});
    ASSERT_TRUE(std::holds_alternative<TonesOptions>(tones));
    EXPECT_EQ(std::get<TonesOptions>(tones).Inputs, (std::vector<std::string>{"a.raw", "--help"}));

    const auto histogram = Parse({"histogram", "a.raw", "-o", "h.xls", "--size", "2x2"});
    ASSERT_TRUE(std::holds_alternative<HistogramOptions>(histogram));
    EXPECT_EQ(std::get<HistogramOptions>(histogram).Output, "h.xls");

    const auto convert = Parse({"convert", "a.bmp", "b.RAW"});
    ASSERT_TRUE(std::holds_alternative<ConvertOptions>(convert));
    EXPECT_EQ(std::get<ConvertOptions>(convert).Output, "b.RAW");
    const auto several = Parse({"convert", "a.bmp", "b.bmp", "--out-dir", "o", "--format", "raw"});
    ASSERT_TRUE(std::holds_alternative<ConvertOptions>(several));
    EXPECT_EQ(std::get<ConvertOptions>(several).Inputs, (std::vector<std::string>{"a.bmp", "b.bmp"}));
}

TEST(CliArgs, NameTemplatesFillTheirFieldsFromTheFileName) {
    const struct {
        std::string_view Template, Input, Expected;
    } cases[] = {
        {"{stem}-border.bmp", "dir/scene.raw", "scene-border.bmp"},
        {"{name}.xls", "a/b/scene.raw", "scene.raw.xls"},
        {"{stem}.{ext}", "shot.v2.BMP", "shot.v2.BMP"},
        {"x-{ext}-{stem}", "noext", "x--noext"},
        {"{stem}.raw", ".hidden", ".hidden.raw"},
        {"{{{stem}}}.bmp", "s.raw", "{s}.bmp"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NameTemplateProblem(c.Template), std::nullopt) << c.Template;
        EXPECT_EQ(ExpandNameTemplate(c.Template, c.Input), c.Expected) << c.Template << " " << c.Input;
    }
    for (const std::string_view bad : {"", "{size}.bmp", "{stem", "stem}", "out/{stem}.bmp", ".."}) {
        EXPECT_NE(NameTemplateProblem(bad), std::nullopt) << bad;
    }
    EXPECT_TRUE(NameTemplateTellsInputsApart("a{name}"));
    EXPECT_FALSE(NameTemplateTellsInputsApart("all.{ext}"));
    EXPECT_FALSE(NameTemplateTellsInputsApart("{{stem}}.bmp"));
}

TEST(CliArgs, BatchOptionsAndTheirConflicts) {
    const auto treat = Parse({"treat", "a.raw", "b.bmp", "--out-dir", "o", "--name", "{stem}-b.bmp", "-j",
                              "3", "--type", "border", "--min", "0", "--max", "0"});
    ASSERT_TRUE(std::holds_alternative<TreatOptions>(treat));
    EXPECT_EQ(std::get<TreatOptions>(treat).NameTemplate, "{stem}-b.bmp");
    EXPECT_EQ(std::get<TreatOptions>(treat).Jobs, 3u);
    const auto toStdout =
        Parse({"treat", "-", "-o", "-", "--format", "raw", "--type", "whole", "--min", "0", "--max", "0"});
    ASSERT_TRUE(std::holds_alternative<TreatOptions>(toStdout));
    EXPECT_EQ(std::get<TreatOptions>(toStdout).Inputs, (std::vector<std::string>{"-"}));
    const auto histogram = Parse({"histogram", "a.raw", "b.raw", "--out-dir", "h", "--jobs=2"});
    ASSERT_TRUE(std::holds_alternative<HistogramOptions>(histogram));
    EXPECT_EQ(std::get<HistogramOptions>(histogram).Inputs.size(), 2u);

    const std::vector<std::vector<std::string_view>> refused{
        {"treat", "a.raw", "b.raw", "--out-dir", "o", "--name", "same.bmp", "--type", "whole", "--min", "0",
         "--max", "0"},
        {"treat", "a.raw", "--out-dir", "o", "--name", "{size}.bmp", "--type", "whole", "--min", "0", "--max",
         "0"},
        {"treat", "a.raw", "-o", "r.bmp", "--name", "{stem}.bmp", "--type", "whole", "--min", "0", "--max",
         "0"},
        {"treat", "a.raw", "--out-dir", "o", "--name", "{stem}.bmp", "--format", "raw", "--type", "whole",
         "--min", "0", "--max", "0"},
        {"treat", "a.raw", "-o", "-", "--type", "whole", "--min", "0", "--max", "0"},
        {"treat", "-", "--out-dir", "o", "--type", "whole", "--min", "0", "--max", "0"},
        {"treat", "a.raw", "--out-dir", "o", "--jobs", "0", "--type", "whole", "--min", "0", "--max", "0"},
        {"tones", "-", "-"},
        {"tones", "a.raw", "--jobs", "many"},
        {"histogram", "a.raw", "b.raw", "-o", "h.xls"},
        {"histogram", "a.raw", "-o", "h.xls", "--out-dir", "h"},
        {"convert", "a.raw", "-"},
        {"convert", "a.raw", "b.bmp", "--format", "raw"},
        {"convert", "a.raw", "b.bmp", "--name", "{stem}.bmp"},
    };
    for (const auto& words : refused) {
        EXPECT_TRUE(std::holds_alternative<UsageError>(Parse(words)))
            << words[0] << " " << words[1] << " " << words[2];
    }
}

// One table of options for the seven commands: which command takes what,
// values attached to short options, flags, and the interval and name checks.
TEST(CliArgs, OneParserForEveryCommand) {
    const auto treat = Parse({"treat", "a.raw", "-oout.bmp", "-j2", "--type", "whole", "--min", "9", "--max",
                              "9", "--force", "--strict", "-q", "--progress"});
    const auto* t = std::get_if<TreatOptions>(&treat);
    ASSERT_NE(t, nullptr) << std::get<UsageError>(treat).Message;
    EXPECT_EQ(t->Output, "out.bmp");
    EXPECT_EQ(t->Jobs, 2u);
    EXPECT_TRUE(t->Force && t->Strict && t->Quiet && t->Progress);

    const auto empty = Parse({"treat", "a.raw", "-o", "b.raw", "--type", "whole", "--min", "200", "--max",
                              "100", "--allow-empty"});
    ASSERT_TRUE(std::holds_alternative<TreatOptions>(empty));
    const auto suggest = Parse(
        {"suggest", "a.raw", "--method", "otsu", "--format=json", "--try-all", "--out-dir", "d", "--force"});
    const auto* s = std::get_if<SuggestOptions>(&suggest);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Methods, (std::vector<ThresholdMethod>{ThresholdMethod::Otsu}));
    EXPECT_TRUE(s->TryAll && s->Force);
    EXPECT_EQ(s->Format, TableFormat::Json);
    const auto measure = Parse({"measure", "a.raw", "--min=3", "--max", "7", "--connectivity", "4"});
    const auto* m = std::get_if<MeasureOptions>(&measure);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->Min, 3);
    EXPECT_EQ(m->Max, 7);
    EXPECT_EQ(m->Regions, Connectivity::Four);
    const auto import = Parse({"import", "-", "a.png", "--out-dir", "g", "--name", "{stem}.bmp", "-j", "2"});
    ASSERT_TRUE(std::holds_alternative<UsageError>(import));  // standard input has no name
    const auto imported =
        Parse({"import", "a.png", "b.png", "--out-dir", "g", "--name", "{stem}-g.bmp", "-j2"});
    const auto* i = std::get_if<ImportOptions>(&imported);
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->Format, ImageFormat::Bitmap);
    EXPECT_EQ(i->Jobs, 2u);
    EXPECT_TRUE(std::holds_alternative<ShowHelp>(Parse({"measure", "a.raw", "-h"})));

    // Each refusal names the option to mend.
    const std::vector<std::pair<std::vector<std::string_view>, std::string_view>> refused{
        {{"treat", "a.raw", "-o", "b.raw", "--type", "whole", "--min", "100"}, "--max is missing"},
        {{"treat", "a.raw", "-o", "b.raw", "--type", "whole"}, "--min and --max are required"},
        {{"treat", "a.raw", "-o", "b.raw", "--type", "whole", "--min", "0", "--max", "300"}, "--max: '300'"},
        {{"treat", "a.raw", "-o", "b.raw", "--type", "whole", "--min", "-1", "--max", "3"}, "--min: '-1'"},
        {{"treat", "a.raw", "-o", "b.raw", "--type", "whole", "--min", "200", "--max", "100"},
         "--allow-empty"},
        {{"measure", "a.raw", "--min", "5", "--max", "4"}, "--allow-empty"},
        {{"treat", "a.raw", "-o", ".bmp", "--type", "none"}, "give a name before it"},
        {{"treat", "a.raw", "--out-dir", "o", "--name", "{stem}.png", "--type", "none"}, "'a.png'"},
        {{"convert", "a.raw", "--out-dir", "o", "--name", "{stem}"}, "does not end in .raw or .bmp"},
        {{"treat", "a.raw", "-o", "b.raw", "--type", "whole", "--auto", "Kapur:dark"}, "Otsu"},
        {{"tones", "a.raw", "--force"}, "unknown option '--force'"},
        {{"measure", "a.raw", "--min", "1", "--max", "2", "-j2"}, "unknown option '-j2'"},
        {{"suggest", "a.raw", "--try-all=yes", "--out-dir", "d"}, "takes no value"},
        {{"treat", "a.raw", "-o"}, "needs a value"},
    };
    for (const auto& [words, message] : refused) {
        const auto parsed = Parse(words);
        const auto* error = std::get_if<UsageError>(&parsed);
        ASSERT_NE(error, nullptr) << words[0] << ' ' << message;
        EXPECT_NE(error->Message.find(message), std::string::npos) << error->Message;
    }
}

}  // namespace
}  // namespace kavel::cli
