#include "args.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <utility>

namespace kavel::cli {

namespace {

// Every option of every command takes one value; --help is handled before.
struct OptionName {
    std::string_view Long;
    std::string_view Short;  // empty when there is none
};

constexpr std::array kTreatOptions{
    OptionName{"--output", "-o"}, OptionName{"--out-dir", ""}, OptionName{"--format", ""},
    OptionName{"--min", ""},      OptionName{"--max", ""},     OptionName{"--type", ""},
    OptionName{"--item", ""},     OptionName{"--border", ""},  OptionName{"--background", ""},
    OptionName{"--size", ""},     OptionName{"--auto", ""},
};
constexpr std::array kHistogramOptions{OptionName{"--output", "-o"}, OptionName{"--size", ""}};
constexpr std::array kSizeOnlyOptions{OptionName{"--size", ""}};
constexpr std::array kImportOptions{OptionName{"--output", "-o"}, OptionName{"--out-dir", ""},
                                    OptionName{"--format", ""}};

struct OptionValue {
    std::string_view Name;  // the long name, whichever spelling was used
    std::string_view Value;
};

struct Words {
    std::vector<OptionValue> Options;
    std::vector<std::string_view> Positionals;
};

bool IsHelpWord(std::string_view word) noexcept {
    return word == "--help" || word == "-h";
}

std::string Quoted(std::string_view text) {
    // Built by appending: gcc 12 at -O3 gives a false -Wrestrict for "'" + string.
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    quoted += text;
    quoted += '\'';
    return quoted;
}

// Splits the words after the command into options with their values and
// positional arguments. "--" ends the options; "-" alone is a file name.
std::variant<Words, std::string> SplitWords(std::span<const std::string_view> args,
                                            std::span<const OptionName> known) {
    Words words;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view word = args[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            words.Positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string_view name = word;
        std::optional<std::string_view> inlineValue;
        if (word.starts_with("--")) {
            if (const auto equals = word.find('='); equals != std::string_view::npos) {
                name = word.substr(0, equals);
                inlineValue = word.substr(equals + 1);
            }
        }
        const auto found = std::find_if(known.begin(), known.end(), [name](const OptionName& s) {
            return s.Long == name || (!s.Short.empty() && s.Short == name);
        });
        if (found == known.end()) {
            return "unknown option " + Quoted(name);
        }
        if (inlineValue) {
            words.Options.push_back({found->Long, *inlineValue});
        } else if (i + 1 < args.size()) {
            words.Options.push_back({found->Long, args[++i]});
        } else {
            return "option " + Quoted(name) + " needs a value";
        }
    }
    return words;
}

std::optional<std::string> NumberProblem(std::string_view option, std::string_view text) {
    if (text.empty()) {
        return std::string(option) + ": the value is empty";
    }
    if (ParseInt32(text)) {
        return std::nullopt;
    }
    const std::string_view digits = (text[0] == '+' || text[0] == '-') ? text.substr(1) : text;
    const bool allDigits = !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (allDigits) {
        return std::string(option) + ": " + Quoted(text) + " is outside the range -2147483648..2147483647";
    }
    return std::string(option) + ": " + Quoted(text) + " is not a whole number";
}

// Applies --size, which every command takes. Gives the problem, if any.
std::optional<std::string> ApplySize(std::string_view value, std::optional<ImageSize>& size) {
    size = ParseSize(value);
    if (!size) {
        return "--size: " + Quoted(value) +
               " is not LINESxCOLUMNS (for example 480x640, at most 4294967296 pixels)";
    }
    return std::nullopt;
}

std::optional<std::int32_t> TreatmentTypeOf(std::string_view word) noexcept {
    if (word == "whole") {
        return kWholeItem;
    }
    if (word == "border") {
        return kBorder;
    }
    if (word == "item-border") {
        return kItemAndBorder;
    }
    if (word == "none") {
        return kNoTreatment;
    }
    return std::nullopt;
}

// The parameter behind --min, --max, --item, --border or --background.
std::int32_t& NumberField(TreatmentParameters& p, std::string_view option) noexcept {
    if (option == "--min") {
        return p.MinThreshold;
    }
    if (option == "--max") {
        return p.MaxThreshold;
    }
    if (option == "--item") {
        return p.ItemTone;
    }
    if (option == "--border") {
        return p.BorderTone;
    }
    return p.BackgroundTone;
}

std::string OutputNameProblem(std::string_view option, std::string_view name) {
    return std::string(option) + ": " + Quoted(name) + " must end in .raw or .bmp";
}

ParsedCommandLine ParseTreat(const Words& words) {
    const auto fail = [](std::string message) { return UsageError{CommandName::Treat, std::move(message)}; };
    TreatOptions options;
    bool typeGiven = false;
    bool formatGiven = false;
    bool boundsGiven = false;
    for (const auto& [name, value] : words.Options) {
        if (name == "--output") {
            options.Output = value;
        } else if (name == "--out-dir") {
            options.OutDir = value;
        } else if (name == "--format") {
            formatGiven = true;
            if (value == "raw") {
                options.Format = ImageFormat::Raw;
            } else if (value == "bmp") {
                options.Format = ImageFormat::Bitmap;
            } else {
                return fail("--format: " + Quoted(value) + " is not raw or bmp");
            }
        } else if (name == "--type") {
            const auto type = TreatmentTypeOf(value);
            if (!type) {
                return fail("--type: " + Quoted(value) + " is not one of whole, border, item-border, none");
            }
            options.Parameters.TreatmentType = *type;
            typeGiven = true;
        } else if (name == "--size") {
            if (auto problem = ApplySize(value, options.Size)) {
                return fail(*problem);
            }
        } else if (name == "--auto") {
            options.Auto = ParseAutoChoice(value);
            if (!options.Auto) {
                return fail("--auto: " + Quoted(value) + " is not METHOD:dark or METHOD:light");
            }
        } else {
            if (auto problem = NumberProblem(name, value)) {
                return fail(*problem);
            }
            NumberField(options.Parameters, name) = *ParseInt32(value);
            boundsGiven = boundsGiven || name == "--min" || name == "--max";
        }
    }
    options.Inputs.assign(words.Positionals.begin(), words.Positionals.end());
    if (options.Auto && boundsGiven) {
        return fail("--auto chooses the interval: leave out --min and --max");
    }

    if (options.Inputs.empty()) {
        return fail("no input image given");
    }
    if (!typeGiven) {
        return fail("--type is required (whole, border, item-border or none)");
    }
    if (options.Output.empty() && options.OutDir.empty()) {
        return fail("give -o OUTPUT (one input) or --out-dir DIR");
    }
    if (!options.Output.empty() && !options.OutDir.empty()) {
        return fail("-o and --out-dir exclude each other");
    }
    if (!options.Output.empty()) {
        if (options.Inputs.size() > 1) {
            return fail("-o takes a single input; use --out-dir DIR for several");
        }
        if (formatGiven) {
            return fail("--format goes with --out-dir; with -o the extension decides");
        }
        if (!FormatOfName(options.Output)) {
            return fail(OutputNameProblem("-o", options.Output));
        }
    }
    return options;
}

ParsedCommandLine ParseHistogram(const Words& words) {
    const auto fail = [](std::string message) {
        return UsageError{CommandName::Histogram, std::move(message)};
    };
    HistogramOptions options;
    for (const auto& [name, value] : words.Options) {
        if (name == "--output") {
            if (value.empty()) {
                return fail("-o: the file name is empty");
            }
            options.Output = value;
        } else if (auto problem = ApplySize(value, options.Size)) {
            return fail(*problem);
        }
    }
    if (words.Positionals.size() != 1) {
        return fail("give exactly one input image");
    }
    options.Input = words.Positionals[0];
    return options;
}

ParsedCommandLine ParseTones(const Words& words) {
    const auto fail = [](std::string message) { return UsageError{CommandName::Tones, std::move(message)}; };
    TonesOptions options;
    for (const auto& option : words.Options) {
        if (auto problem = ApplySize(option.Value, options.Size)) {
            return fail(*problem);
        }
    }
    if (words.Positionals.size() != 1) {
        return fail("give exactly one input image");
    }
    options.Input = words.Positionals[0];
    return options;
}

ParsedCommandLine ParseConvert(const Words& words) {
    const auto fail = [](std::string message) {
        return UsageError{CommandName::Convert, std::move(message)};
    };
    ConvertOptions options;
    for (const auto& option : words.Options) {
        if (auto problem = ApplySize(option.Value, options.Size)) {
            return fail(*problem);
        }
    }
    if (words.Positionals.size() != 2) {
        return fail("give one input image and one output name");
    }
    options.Input = words.Positionals[0];
    options.Output = words.Positionals[1];
    if (!FormatOfName(options.Output)) {
        return fail(OutputNameProblem("OUTPUT", options.Output));
    }
    return options;
}

ParsedCommandLine ParseImport(const Words& words) {
    const auto fail = [](std::string message) { return UsageError{CommandName::Import, std::move(message)}; };
    ImportOptions options;
    bool formatGiven = false;
    for (const auto& [name, value] : words.Options) {
        if (name == "--output") {
            options.Output = value;
        } else if (name == "--out-dir") {
            options.OutDir = value;
        } else {
            formatGiven = true;
            if (value == "raw") {
                options.Format = ImageFormat::Raw;
            } else if (value == "bmp") {
                options.Format = ImageFormat::Bitmap;
            } else {
                return fail("--format: " + Quoted(value) + " is not raw or bmp");
            }
        }
    }
    options.Inputs.assign(words.Positionals.begin(), words.Positionals.end());
    if (options.Inputs.empty()) {
        return fail("no input image given");
    }
    if (options.Output.empty() == options.OutDir.empty()) {
        return fail("give either -o OUTPUT (one input) or --out-dir DIR");
    }
    if (!options.Output.empty()) {
        if (options.Inputs.size() > 1) {
            return fail("-o takes a single input; use --out-dir DIR for several");
        }
        if (formatGiven) {
            return fail("--format goes with --out-dir; with -o the extension decides");
        }
        const auto format = FormatOfName(options.Output);
        if (!format) {
            return fail(OutputNameProblem("-o", options.Output));
        }
        options.Format = *format;
    }
    return options;
}

std::optional<CommandName> CommandOf(std::string_view word) noexcept {
    for (const CommandName command : {CommandName::Treat, CommandName::Histogram, CommandName::Tones,
                                      CommandName::Convert, CommandName::Import}) {
        if (CommandWord(command) == word) {
            return command;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::int32_t> ParseInt32(std::string_view text) noexcept {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Accumulate the magnitude in 64 bits; stop as soon as it leaves the range.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kLimit) {
            return std::nullopt;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::optional<ImageSize> ParseSize(std::string_view text) noexcept {
    const auto x = text.find_first_of("xX");
    if (x == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view linesText = text.substr(0, x);
    const std::string_view columnsText = text.substr(x + 1);
    // Sizes carry no sign: "-3x4" and "+3x4" are refused along with "3x4x5".
    const auto unsignedDigits = [](std::string_view part) {
        return !part.empty() && part[0] != '+' && part[0] != '-';
    };
    if (!unsignedDigits(linesText) || !unsignedDigits(columnsText)) {
        return std::nullopt;
    }
    const auto lines = ParseInt32(linesText);
    const auto columns = ParseInt32(columnsText);
    if (!lines || !columns) {
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(*lines) * static_cast<std::uint64_t>(*columns) > kMaxImagePixels) {
        return std::nullopt;
    }
    return ImageSize{*lines, *columns};
}

std::optional<ImageFormat> FormatOfName(std::string_view fileName) noexcept {
    const auto slash = fileName.find_last_of('/');
    const std::string_view base = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const auto dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    std::string extension(base.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    if (extension == "raw") {
        return ImageFormat::Raw;
    }
    if (extension == "bmp") {
        return ImageFormat::Bitmap;
    }
    return std::nullopt;
}

std::string_view CommandWord(CommandName command) noexcept {
    switch (command) {
        case CommandName::Treat:
            return "treat";
        case CommandName::Histogram:
            return "histogram";
        case CommandName::Tones:
            return "tones";
        case CommandName::Convert:
            return "convert";
        case CommandName::Import:
            return "import";
        case CommandName::None:
            break;
    }
    return "";
}

ParsedCommandLine ParseCommandLine(std::span<const std::string_view> args) {
    if (args.empty()) {
        return UsageError{CommandName::None, "no command given"};
    }
    const std::string_view first = args[0];
    if (IsHelpWord(first)) {
        return ShowHelp{};
    }
    if (first == "--version") {
        return ShowVersion{};
    }
    if (first == "help") {
        if (args.size() == 1) {
            return ShowHelp{};
        }
        if (const auto command = CommandOf(args[1]); command && args.size() == 2) {
            return ShowHelp{*command};
        }
        return UsageError{CommandName::None, "help takes one command name"};
    }
    const auto command = CommandOf(first);
    if (!command) {
        return UsageError{CommandName::None,
                          (first.starts_with('-') ? "unknown option " : "unknown command ") + Quoted(first)};
    }

    const auto rest = args.subspan(1);
    // Help wins over anything else on the line, as long as it is an option.
    for (const std::string_view word : rest) {
        if (word == "--") {
            break;
        }
        if (IsHelpWord(word)) {
            return ShowHelp{*command};
        }
    }

    std::span<const OptionName> known = kSizeOnlyOptions;
    if (*command == CommandName::Treat) {
        known = kTreatOptions;
    }
    if (*command == CommandName::Histogram) {
        known = kHistogramOptions;
    }
    if (*command == CommandName::Import) {
        known = kImportOptions;
    }
    auto split = SplitWords(rest, known);
    if (auto* problem = std::get_if<std::string>(&split)) {
        return UsageError{*command, std::move(*problem)};
    }
    const auto& words = std::get<Words>(split);

    switch (*command) {
        case CommandName::Treat:
            return ParseTreat(words);
        case CommandName::Histogram:
            return ParseHistogram(words);
        case CommandName::Tones:
            return ParseTones(words);
        case CommandName::Import:
            return ParseImport(words);
        case CommandName::Convert:
        case CommandName::None:
            break;
    }
    return ParseConvert(words);
}

std::string_view HelpText(CommandName command) noexcept {
    switch (command) {
        case CommandName::Treat:
            return R"(Usage: kavel-cli treat INPUT... (-o OUTPUT | --out-dir DIR) --type TYPE [options]

Selects the pixels whose tone lies in [MIN, MAX] and writes the result image.

  -o, --output FILE   the result of a single input; FILE ends in .raw or .bmp
      --out-dir DIR   one result per input in the existing folder DIR, named
                      after the input (scene.raw gives DIR/scene.raw)
      --format KIND   raw or bmp: the kind written with --out-dir
                      (default: the kind of each input)
      --type TYPE     whole        the item in the item tone
                      border       only its border, in the border tone
                      item-border  the item with its border drawn in the border tone
                      none         the background fill alone
      --min N         lower bound of the interval, inclusive (default 0)
      --max N         upper bound of the interval, inclusive (default 0)
      --auto METHOD:SIDE  the interval from a threshold method of suggest,
                      per input: dark [0, t] or light [t + 1, 255]; printed
                      with the file name (instead of --min and --max)
      --item N        tone of the item (default 0)
      --border N      tone of the border (default 0)
      --background N  tone of every other pixel (default 0)
      --size LxC      size of raw inputs, L lines by C columns; overrides
                      their descriptor
  -h, --help          show this help

Numbers are whole signed 32-bit values; tones are written as their low 8 bits
(300 gives 44, -1 gives 255). A .raw result comes with its five-line descriptor
(out.raw gives out.txt).
)";
        case CommandName::Histogram:
            return R"(Usage: kavel-cli histogram INPUT [-o FILE] [--size LxC]

Writes the 256 counts of the image's tones, line k the number of pixels of
tone k, each line ending in CR LF.

  -o, --output FILE   write to FILE, exactly that name (default: standard output)
      --size LxC      size of a raw input, L lines by C columns
  -h, --help          show this help
)";
        case CommandName::Tones:
            return R"(Usage: kavel-cli tones INPUT [--size LxC]

Prints the number of distinct tones in the image, as a bare number.

      --size LxC      size of a raw input, L lines by C columns
  -h, --help          show this help
)";
        case CommandName::Convert:
            return R"(Usage: kavel-cli convert INPUT OUTPUT [--size LxC]

Rewrites an image as raw or 8-bit bitmap, chosen by the extension of OUTPUT
(.raw or .bmp). A .raw output comes with its five-line descriptor.

      --size LxC      size of a raw input, L lines by C columns
  -h, --help          show this help
)";
        case CommandName::Import:
            return R"(Usage: kavel-cli import INPUT... (-o OUTPUT | --out-dir DIR) [--format raw|bmp]

Converts images of any kind Qt reads (PNG, TIFF, JPEG, PGM, WebP, BMP of every
depth, palette, header and compression) to 8-bit gray, which KAVEL opens.

  -o, --output FILE   the image of a single input; FILE ends in .raw or .bmp
      --out-dir DIR   one image per input in the existing folder DIR, named
                      after the input (photo.png gives DIR/photo.raw)
      --format KIND   raw or bmp: the kind written with --out-dir (default raw)
  -h, --help          show this help

Gray tones are kept and palettes applied. Colour becomes its luminance
Y = (19595 R + 38470 G + 7471 B + 32768) / 65536, with a note on stderr.
16-bit values v become (255 v + 32767) / 65535, before the luminance for
colour. Alpha is ignored. A .raw image comes with its five-line descriptor;
a .bmp one is an 8-bit bitmap with the gray ramp palette.
)";
        case CommandName::None:
            break;
    }
    return R"(Usage: kavel-cli COMMAND [options]

Thresholding of 8-bit gray-tone images from the shell.

Commands:
  treat       select a tone interval and write the item, its border or both
  histogram   write the 256 tone counts of an image
  tones       print the number of distinct tones of an image
  convert     rewrite an image as raw or 8-bit bitmap
  import      convert PNG, TIFF, JPEG, any BMP, ... to an 8-bit gray image
  suggest     print automatic thresholds and the intervals they imply
  measure     count and describe the item an interval selects

Inputs ending in .bmp are read as 8-bit bitmaps, any other as raw bytes sized
by their descriptor (scene.raw: scene.txt) or by --size LINESxCOLUMNS.

  -h, --help          show this help ("kavel-cli COMMAND --help" for a command)
      --version       show the version

Exit status: 0 success, 1 an input could not be processed, 2 usage error.
)";
}

}  // namespace kavel::cli
