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

struct TreatOptions {
    std::vector<std::string> Inputs;
    std::string Output;                 // -o: one input, format from its extension
    std::string OutDir;                 // --out-dir: several inputs, names from the inputs
    std::optional<ImageFormat> Format;  // --format; none: each input's own kind
    TreatmentParameters Parameters;
    std::optional<ImageSize> Size;
    std::optional<AutoChoice> Auto;  // --auto: the interval from a method, per input
};

struct HistogramOptions {
    std::string Input;
    std::string Output;  // empty: standard output
    std::optional<ImageSize> Size;
};

struct TonesOptions {
    std::string Input;
    std::optional<ImageSize> Size;
};

struct ConvertOptions {
    std::string Input;
    std::string Output;
    std::optional<ImageSize> Size;
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

// An optional sign and decimal digits, nothing else, within the signed 32-bit range.
std::optional<std::int32_t> ParseInt32(std::string_view text) noexcept;
// LINESxCOLUMNS, both non-negative whole numbers ("480x640": 480 lines, 640 columns).
std::optional<ImageSize> ParseSize(std::string_view text) noexcept;

// The kind a file name asks for by its extension (.raw or .bmp, any letter
// case), or none for any other name.
std::optional<ImageFormat> FormatOfName(std::string_view fileName) noexcept;

std::string_view CommandWord(CommandName command) noexcept;
std::string_view HelpText(CommandName command) noexcept;

}  // namespace kavel::cli
