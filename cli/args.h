// The command line of kavel-cli turned into plain values. Parsing is strict and
// never touches a file: every number must be a whole signed 32-bit decimal,
// every option must belong to its command, and the combinations are checked
// here so that the commands only deal with files.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kavel/rawimage.h"
#include "kavel/treatment.h"
#include "suggest.h"

namespace kavel::cli {

enum class CommandName { None, Treat, Histogram, Tones, Convert, Import };

enum class ImageFormat { Raw, Bitmap };

// Shared by the commands that take several inputs.
//   Jobs: --jobs; 0 means one per processor core.
//   NameTemplate: --name; empty gives the command's own default.
struct TreatOptions {
    std::vector<std::string> Inputs;    // "-": standard input
    std::string Output;                 // -o: one input, format from its extension; "-": standard output
    std::string OutDir;                 // --out-dir: several inputs, names from the inputs
    std::string NameTemplate;           // --name, with --out-dir
    std::optional<ImageFormat> Format;  // --format; none: each input's own kind
    TreatmentParameters Parameters;
    std::optional<ImageSize> Size;
    unsigned Jobs = 0;
    std::optional<AutoChoice> Auto;  // --auto: the interval from a method, per input
    bool Strict = false;             // --strict: refuse what only the conversion reads
};

struct HistogramOptions {
    std::vector<std::string> Inputs;
    std::string Output;  // -o, one input; empty or "-": standard output
    std::string OutDir;  // --out-dir: one export per input
    std::string NameTemplate;
    std::optional<ImageSize> Size;
    unsigned Jobs = 0;
    bool Strict = false;  // --strict: refuse what only the conversion reads
};

struct TonesOptions {
    std::vector<std::string> Inputs;
    std::optional<ImageSize> Size;
    unsigned Jobs = 0;
    bool Strict = false;  // --strict: refuse what only the conversion reads
};

struct ConvertOptions {
    std::vector<std::string> Inputs;    // one, unless OutDir is given
    std::string Output;                 // without --out-dir; "-": standard output, in --format
    std::string OutDir;                 // --out-dir: several inputs, names from the inputs
    std::string NameTemplate;           // --name, with --out-dir
    std::optional<ImageFormat> Format;  // with the output "-" or --out-dir
    std::optional<ImageSize> Size;
    unsigned Jobs = 0;
    bool Strict = false;  // --strict: refuse what only the conversion reads
};

struct ImportOptions {
    std::vector<std::string> Inputs;
    std::string Output;                     // -o: one input, format from its extension
    std::string OutDir;                     // --out-dir: several inputs, names from the inputs
    ImageFormat Format = ImageFormat::Raw;  // --format, with --out-dir
};

struct ShowHelp {
    CommandName Command = CommandName::None;
};

struct ShowVersion {};

struct UsageError {
    CommandName Command = CommandName::None;
    std::string Message;
};

using ParsedCommandLine = std::variant<UsageError, ShowHelp, ShowVersion, TreatOptions, HistogramOptions,
                                       TonesOptions, ConvertOptions, ImportOptions>;

// args are the words after the program name.
ParsedCommandLine ParseCommandLine(std::span<const std::string_view> args);

// Every option of every command takes one value; --help is handled before.
struct OptionName {
    std::string_view Long;
    std::string_view Short;  // empty when there is none
};

struct OptionValue {
    std::string_view Name;  // the long name, whichever spelling was used
    std::string_view Value;
};

struct Words {
    std::vector<OptionValue> Options;
    std::vector<std::string_view> Positionals;
};

// Splits the words after the command into options with their values and
// positional arguments: a value as the next word or after "=", "--" ends the
// options, "-" alone is a file name. Gives the problem with the first word
// that is not understood.
std::variant<Words, std::string> SplitWords(std::span<const std::string_view> args,
                                            std::span<const OptionName> known);

// An optional sign and decimal digits, nothing else, within the signed 32-bit range.
std::optional<std::int32_t> ParseInt32(std::string_view text) noexcept;
// LINESxCOLUMNS, both non-negative whole numbers ("480x640": 480 lines, 640 columns).
std::optional<ImageSize> ParseSize(std::string_view text) noexcept;

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
