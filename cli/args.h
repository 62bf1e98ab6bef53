// The command line of kavel-cli turned into plain values. Parsing is strict and
// never touches a file: every number must be a whole signed 32-bit decimal,
// every option must belong to its command, and the combinations are checked
// here so that the commands only deal with files. One table (args.cpp) says
// which command takes which option; the help texts are in help.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kavel/measure.h"
#include "kavel/rawimage.h"
#include "kavel/threshold.h"
#include "kavel/treatment.h"

namespace kavel::cli {

enum class CommandName { None, Treat, Histogram, Tones, Convert, Import, Suggest, Measure };

enum class ImageFormat { Raw, Bitmap };

enum class TableFormat { Text, Csv, Json };

// treat --auto METHOD:dark or METHOD:light.
struct AutoChoice {
    ThresholdMethod Method = ThresholdMethod::Otsu;
    bool Light = false;  // the light item [t + 1, 255] rather than the dark [0, t]
};

// What every command that runs over inputs shares.
//   Jobs: --jobs; 0 means one per processor core.
//   Strict: --strict, on every command that reads images.
//   Force: --force, on every command that writes files: a read-only target
//   is replaced rather than refused.
//   Quiet, Progress: --quiet leaves out the progress line and the summary;
//   --progress shows the line even when standard error is not a terminal.
struct RunOptions {
    std::vector<std::string> Inputs;  // "-": standard input
    std::optional<ImageSize> Size;
    unsigned Jobs = 0;
    bool Strict = false;
    bool Force = false;
    bool Quiet = false;
    bool Progress = false;
};

// NameTemplate: --name; empty gives the command's own default.
struct TreatOptions : RunOptions {
    std::string Output;                 // -o: one input, format from its extension; "-": standard output
    std::string OutDir;                 // --out-dir: several inputs, names from the inputs
    std::string NameTemplate;           // --name, with --out-dir
    std::optional<ImageFormat> Format;  // --format; none: each input's own kind
    TreatmentParameters Parameters;
    std::optional<AutoChoice> Auto;  // --auto: the interval from a method, per input
};

struct HistogramOptions : RunOptions {
    std::string Output;  // -o, one input; empty or "-": standard output
    std::string OutDir;  // --out-dir: one export per input
    std::string NameTemplate;
};

struct TonesOptions : RunOptions {};

struct ConvertOptions : RunOptions {
    std::string Output;                 // without --out-dir; "-": standard output, in --format
    std::string OutDir;                 // --out-dir: several inputs, names from the inputs
    std::string NameTemplate;           // --name, with --out-dir
    std::optional<ImageFormat> Format;  // with the output "-" or --out-dir
};

struct ImportOptions : RunOptions {
    std::string Output;                     // -o: one input, format from its extension
    std::string OutDir;                     // --out-dir: several inputs, names from the inputs
    std::string NameTemplate;               // --name, with --out-dir
    ImageFormat Format = ImageFormat::Raw;  // --format, with --out-dir
};

struct SuggestOptions : RunOptions {
    std::vector<ThresholdMethod> Methods;  // in the order given; all sixteen when none
    TableFormat Format = TableFormat::Text;
    bool TryAll = false;  // write each method's whole-item result into OutDir
    std::string OutDir;
};

struct MeasureOptions : RunOptions {
    std::int32_t Min = 0;
    std::int32_t Max = 0;
    TableFormat Format = TableFormat::Text;
    Connectivity Regions = Connectivity::Eight;
};

struct ShowHelp {
    CommandName Command = CommandName::None;
};

struct ShowVersion {};

struct UsageError {
    CommandName Command = CommandName::None;
    std::string Message;
};

using ParsedCommandLine =
    std::variant<UsageError, ShowHelp, ShowVersion, TreatOptions, HistogramOptions, TonesOptions,
                 ConvertOptions, ImportOptions, SuggestOptions, MeasureOptions>;

// args are the words after the program name.
ParsedCommandLine ParseCommandLine(std::span<const std::string_view> args);

// An optional sign and decimal digits, nothing else, within the signed 32-bit range.
std::optional<std::int32_t> ParseInt32(std::string_view text) noexcept;
// LINESxCOLUMNS, both non-negative whole numbers ("480x640": 480 lines, 640 columns).
std::optional<ImageSize> ParseSize(std::string_view text) noexcept;
// METHOD:dark or METHOD:light.
std::optional<AutoChoice> ParseAutoChoice(std::string_view text) noexcept;

// The kind a file name asks for by its extension (.raw or .bmp, any letter
// case), or none for any other name.
std::optional<ImageFormat> FormatOfName(std::string_view fileName) noexcept;

// Output names made from an input's file name. The fields are {name} (the
// whole file name, "scene.raw"), {stem} (without its last extension, "scene")
// and {ext} (that extension without its dot, "raw", empty when there is none);
// "{{" and "}}" stand for braces. Gives the problem with the template, if any.
std::optional<std::string> NameTemplateProblem(std::string_view nameTemplate);
// True when the template uses {name} or {stem}, so that inputs of different
// names get different outputs.
bool NameTemplateTellsInputsApart(std::string_view nameTemplate);
// The template filled in for inputName (the folder part of it is left out).
// The template must be free of problems.
std::string ExpandNameTemplate(std::string_view nameTemplate, std::string_view inputName);

inline constexpr std::string_view kStandardStream = "-";

std::string_view CommandWord(CommandName command) noexcept;
std::string_view HelpText(CommandName command) noexcept;

}  // namespace kavel::cli
