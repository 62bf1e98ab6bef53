#include "args.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <utility>

namespace kavel::cli {

namespace {

constexpr std::array kTreatOptions{
    OptionName{"--output", "-o"},   OptionName{"--out-dir", ""}, OptionName{"--name", ""},
    OptionName{"--format", ""},     OptionName{"--min", ""},     OptionName{"--max", ""},
    OptionName{"--type", ""},       OptionName{"--item", ""},    OptionName{"--border", ""},
    OptionName{"--background", ""}, OptionName{"--size", ""},    OptionName{"--jobs", "-j"},
    OptionName{"--auto", ""},
};
constexpr std::array kHistogramOptions{OptionName{"--output", "-o"}, OptionName{"--out-dir", ""},
                                       OptionName{"--name", ""}, OptionName{"--size", ""},
                                       OptionName{"--jobs", "-j"}};
constexpr std::array kTonesOptions{OptionName{"--size", ""}, OptionName{"--jobs", "-j"}};
constexpr std::array kConvertOptions{OptionName{"--size", ""}, OptionName{"--format", ""},
                                     OptionName{"--out-dir", ""}, OptionName{"--name", ""},
                                     OptionName{"--jobs", "-j"}};
constexpr std::array kImportOptions{OptionName{"--output", "-o"}, OptionName{"--out-dir", ""},
                                    OptionName{"--format", ""}};

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

}  // namespace

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

namespace {

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

std::optional<std::string> ApplyJobs(std::string_view value, unsigned& jobs) {
    const auto number = ParseInt32(value);
    if (!number || *number < 1) {
        return "--jobs: " + Quoted(value) + " is not a number of jobs (1 or more)";
    }
    jobs = static_cast<unsigned>(*number);
    return std::nullopt;
}

std::optional<std::string> ApplyFormat(std::string_view value, std::optional<ImageFormat>& format) {
    if (value == "raw") {
        format = ImageFormat::Raw;
    } else if (value == "bmp") {
        format = ImageFormat::Bitmap;
    } else {
        return "--format: " + Quoted(value) + " is not raw or bmp";
    }
    return std::nullopt;
}

// Standard input can be read only once, and has no name to make an output
// name from.
std::optional<std::string> StandardInputProblem(const std::vector<std::string>& inputs,
                                                bool namesFromInputs) {
    const auto count = std::count(inputs.begin(), inputs.end(), kStandardStream);
    if (count > 1) {
        return std::string("standard input (-) can be given only once");
    }
    if (count == 1 && namesFromInputs) {
        return std::string("standard input (-) has no name to make an output name from; use -o");
    }
    return std::nullopt;
}

// --name goes with --out-dir and must give several inputs several names.
std::optional<std::string> NameProblem(std::string_view nameTemplate, std::string_view outDir,
                                       std::size_t inputs) {
    if (nameTemplate.empty()) {
        return std::nullopt;
    }
    if (outDir.empty()) {
        return std::string("--name goes with --out-dir");
    }
    if (auto problem = NameTemplateProblem(nameTemplate)) {
        return "--name: " + *problem;
    }
    if (inputs > 1 && !NameTemplateTellsInputsApart(nameTemplate)) {
        return "--name: " + Quoted(nameTemplate) + " gives every input the same name; use {stem} or {name}";
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
    bool boundsGiven = false;
    for (const auto& [name, value] : words.Options) {
        std::optional<std::string> problem;
        if (name == "--output") {
            options.Output = value;
        } else if (name == "--out-dir") {
            options.OutDir = value;
        } else if (name == "--name") {
            options.NameTemplate = value;
        } else if (name == "--format") {
            problem = ApplyFormat(value, options.Format);
        } else if (name == "--jobs") {
            problem = ApplyJobs(value, options.Jobs);
        } else if (name == "--type") {
            const auto type = TreatmentTypeOf(value);
            if (!type) {
                return fail("--type: " + Quoted(value) + " is not one of whole, border, item-border, none");
            }
            options.Parameters.TreatmentType = *type;
            typeGiven = true;
        } else if (name == "--size") {
            problem = ApplySize(value, options.Size);
        } else if (name == "--auto") {
            options.Auto = ParseAutoChoice(value);
            if (!options.Auto) {
                problem = "--auto: " + Quoted(value) + " is not METHOD:dark or METHOD:light";
            }
        } else {
            problem = NumberProblem(name, value);
            if (!problem) {
                NumberField(options.Parameters, name) = *ParseInt32(value);
            }
            boundsGiven = boundsGiven || name == "--min" || name == "--max";
        }
        if (problem) {
            return fail(*problem);
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
    if (auto problem = StandardInputProblem(options.Inputs, !options.OutDir.empty())) {
        return fail(*problem);
    }
    if (auto problem = NameProblem(options.NameTemplate, options.OutDir, options.Inputs.size())) {
        return fail(*problem);
    }
    if (!options.NameTemplate.empty() && options.Format) {
        // A literal ending that says the other kind is a contradiction.
        const auto named = FormatOfName(options.NameTemplate);
        if (named && *named != *options.Format) {
            return fail("--name " + Quoted(options.NameTemplate) + " and --format " +
                        (*options.Format == ImageFormat::Raw ? "raw" : "bmp") + " disagree");
        }
    }
    if (!options.Output.empty()) {
        if (options.Inputs.size() > 1) {
            return fail("-o takes a single input; use --out-dir DIR for several");
        }
        if (options.Output == kStandardStream) {
            if (!options.Format) {
                return fail("-o - needs --format raw or --format bmp");
            }
        } else {
            if (options.Format) {
                return fail("--format goes with --out-dir or -o -; with -o FILE the extension decides");
            }
            if (!FormatOfName(options.Output)) {
                return fail(OutputNameProblem("-o", options.Output));
            }
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
        std::optional<std::string> problem;
        if (name == "--output") {
            if (value.empty()) {
                return fail("-o: the file name is empty");
            }
            options.Output = value;
        } else if (name == "--out-dir") {
            options.OutDir = value;
        } else if (name == "--name") {
            options.NameTemplate = value;
        } else if (name == "--jobs") {
            problem = ApplyJobs(value, options.Jobs);
        } else {
            problem = ApplySize(value, options.Size);
        }
        if (problem) {
            return fail(*problem);
        }
    }
    options.Inputs.assign(words.Positionals.begin(), words.Positionals.end());
    if (options.Inputs.empty()) {
        return fail("no input image given");
    }
    if (!options.Output.empty() && !options.OutDir.empty()) {
        return fail("-o and --out-dir exclude each other");
    }
    if (!options.Output.empty() && options.Inputs.size() > 1) {
        return fail("-o takes a single input; use --out-dir DIR for several, or none for standard output");
    }
    if (auto problem = StandardInputProblem(options.Inputs, !options.OutDir.empty())) {
        return fail(*problem);
    }
    if (auto problem = NameProblem(options.NameTemplate, options.OutDir, options.Inputs.size())) {
        return fail(*problem);
    }
    return options;
}

ParsedCommandLine ParseTones(const Words& words) {
    const auto fail = [](std::string message) { return UsageError{CommandName::Tones, std::move(message)}; };
    TonesOptions options;
    for (const auto& [name, value] : words.Options) {
        auto problem = name == "--jobs" ? ApplyJobs(value, options.Jobs) : ApplySize(value, options.Size);
        if (problem) {
            return fail(*problem);
        }
    }
    options.Inputs.assign(words.Positionals.begin(), words.Positionals.end());
    if (options.Inputs.empty()) {
        return fail("no input image given");
    }
    if (auto problem = StandardInputProblem(options.Inputs, false)) {
        return fail(*problem);
    }
    return options;
}

ParsedCommandLine ParseConvert(const Words& words) {
    const auto fail = [](std::string message) {
        return UsageError{CommandName::Convert, std::move(message)};
    };
    ConvertOptions options;
    for (const auto& [name, value] : words.Options) {
        std::optional<std::string> problem;
        if (name == "--format") {
            problem = ApplyFormat(value, options.Format);
        } else if (name == "--out-dir") {
            options.OutDir = value;
        } else if (name == "--name") {
            options.NameTemplate = value;
        } else if (name == "--jobs") {
            problem = ApplyJobs(value, options.Jobs);
        } else {
            problem = ApplySize(value, options.Size);
        }
        if (problem) {
            return fail(*problem);
        }
    }
    if (!options.OutDir.empty()) {
        options.Inputs.assign(words.Positionals.begin(), words.Positionals.end());
        if (options.Inputs.empty()) {
            return fail("no input image given");
        }
        if (auto problem = StandardInputProblem(options.Inputs, true)) {
            return fail(*problem);
        }
        if (auto problem = NameProblem(options.NameTemplate, options.OutDir, options.Inputs.size())) {
            return fail(*problem);
        }
        return options;
    }
    if (auto problem = NameProblem(options.NameTemplate, options.OutDir, 1)) {
        return fail(*problem);
    }
    if (words.Positionals.size() != 2) {
        return fail("give one input image and one output name, or --out-dir DIR for several inputs");
    }
    options.Inputs = {std::string(words.Positionals[0])};
    options.Output = words.Positionals[1];
    if (options.Output == kStandardStream) {
        if (!options.Format) {
            return fail("the output - needs --format raw or --format bmp");
        }
    } else if (options.Format) {
        return fail("--format goes with the output - or --out-dir; otherwise the extension decides");
    } else if (!FormatOfName(options.Output)) {
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

namespace {

enum class TemplateField { Name, Stem, Ext };

struct FileNameParts {
    std::string_view Name;
    std::string_view Stem;
    std::string_view Ext;
};

FileNameParts PartsOf(std::string_view inputName) {
    const auto slash = inputName.find_last_of('/');
    FileNameParts parts;
    parts.Name = slash == std::string_view::npos ? inputName : inputName.substr(slash + 1);
    const auto dot = parts.Name.find_last_of('.');
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string_view::npos || dot == 0) {
        parts.Stem = parts.Name;
    } else {
        parts.Stem = parts.Name.substr(0, dot);
        parts.Ext = parts.Name.substr(dot + 1);
    }
    return parts;
}

// Walks the template; literal text and fields go to the two callbacks.
// Gives the problem, if any.
template <typename Literal, typename Field>
std::optional<std::string> WalkTemplate(std::string_view text, Literal literal, Field field) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '{' || c == '}') && i + 1 < text.size() && text[i + 1] == c) {
            literal(c);
            ++i;
            continue;
        }
        if (c == '}') {
            return std::string("a lone } (write }} for a brace)");
        }
        if (c != '{') {
            literal(c);
            continue;
        }
        const auto close = text.find('}', i);
        if (close == std::string_view::npos) {
            return std::string("a { without its } (write {{ for a brace)");
        }
        const std::string_view word = text.substr(i + 1, close - i - 1);
        if (word == "name") {
            field(TemplateField::Name);
        } else if (word == "stem") {
            field(TemplateField::Stem);
        } else if (word == "ext") {
            field(TemplateField::Ext);
        } else {
            return "unknown field " + Quoted(std::string("{") + std::string(word) + "}") +
                   " (the fields are {name}, {stem} and {ext})";
        }
        i = close;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> NameTemplateProblem(std::string_view nameTemplate) {
    if (nameTemplate.empty()) {
        return std::string("the name is empty");
    }
    if (nameTemplate.find('/') != std::string_view::npos) {
        return Quoted(nameTemplate) + " is a path; give a file name, the folder is --out-dir";
    }
    auto problem = WalkTemplate(
        nameTemplate, [](char) {}, [](TemplateField) {});
    if (!problem && (nameTemplate == "." || nameTemplate == "..")) {
        problem = Quoted(nameTemplate) + " is not a file name";
    }
    return problem;
}

bool NameTemplateTellsInputsApart(std::string_view nameTemplate) {
    bool apart = false;
    WalkTemplate(
        nameTemplate, [](char) {},
        [&apart](TemplateField field) { apart = apart || field != TemplateField::Ext; });
    return apart;
}

std::string ExpandNameTemplate(std::string_view nameTemplate, std::string_view inputName) {
    const FileNameParts parts = PartsOf(inputName);
    std::string name;
    WalkTemplate(
        nameTemplate, [&name](char c) { name += c; },
        [&name, &parts](TemplateField field) {
            name += field == TemplateField::Name   ? parts.Name
                    : field == TemplateField::Stem ? parts.Stem
                                                   : parts.Ext;
        });
    return name;
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

    std::span<const OptionName> known = kConvertOptions;
    if (*command == CommandName::Treat) {
        known = kTreatOptions;
    }
    if (*command == CommandName::Histogram) {
        known = kHistogramOptions;
    }
    if (*command == CommandName::Tones) {
        known = kTonesOptions;
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

  -o, --output FILE   the result of a single input; FILE ends in .raw or .bmp;
                      - writes it to standard output in --format (a raw result
                      goes without its descriptor)
      --out-dir DIR   one result per input in DIR, created when missing, named
                      after the input (scene.raw gives DIR/scene.raw)
      --name TEMPLATE the name of each result in DIR, made of the fields
                      {stem} (scene), {name} (scene.raw) and {ext} (raw):
                      --name '{stem}-border.bmp' gives DIR/scene-border.bmp;
                      a .raw or .bmp ending decides the kind written
      --format KIND   raw or bmp: the kind written with --out-dir or -o -
                      (default: the name's ending, else the kind of each input)
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
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -h, --help          show this help

Numbers are whole signed 32-bit values; tones are written as their low 8 bits
(300 gives 44, -1 gives 255). A .raw result comes with its five-line descriptor
(out.raw gives out.txt).
)";
        case CommandName::Histogram:
            return R"(Usage: kavel-cli histogram INPUT... [-o FILE | --out-dir DIR] [options]

Writes the 256 counts of the image's tones, line k the number of pixels of
tone k, each line ending in CR LF. Without -o or --out-dir they go to standard
output; with several inputs each line there starts with its file ("a.bmp: ").

  -o, --output FILE   write the counts of a single input to FILE, exactly that
                      name; - is standard output
      --out-dir DIR   one export per input in DIR, created when missing,
                      named {stem}.xls (scene.raw gives DIR/scene.xls)
      --name TEMPLATE the name of each export in DIR, from the fields {stem},
                      {name} and {ext} (see kavel-cli treat --help)
      --size LxC      size of raw inputs, L lines by C columns
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -h, --help          show this help
)";
        case CommandName::Tones:
            return R"(Usage: kavel-cli tones INPUT... [--size LxC] [--jobs N]

Prints the number of distinct tones in each image, as a bare number; with
several inputs each line starts with its file ("a.bmp: 17").

      --size LxC      size of raw inputs, L lines by C columns
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -h, --help          show this help
)";
        case CommandName::Convert:
            return R"(Usage: kavel-cli convert INPUT OUTPUT [--size LxC] [--format KIND]
       kavel-cli convert INPUT... --out-dir DIR [--format KIND] [--name TEMPLATE] [options]

Rewrites an image as raw or 8-bit bitmap, chosen by the extension of OUTPUT
(.raw or .bmp). A .raw output comes with its five-line descriptor.

      --size LxC      size of raw inputs, L lines by C columns
      --format KIND   raw or bmp, for the OUTPUT - (standard output; a raw
                      image goes there without its descriptor) or --out-dir
      --out-dir DIR   one image per input in DIR, created when missing,
                      named as with treat (see kavel-cli treat --help)
      --name TEMPLATE the name of each image in DIR, from {stem}, {name}, {ext}
  -j, --jobs N        inputs processed at once (default: one per processor core)
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
by their descriptor (scene.raw: scene.txt) or by --size LINESxCOLUMNS. An input
that is the descriptor of an image beside it, or a text file (README.md), is
skipped; PNG, JPEG, TIFF, GIF, WebP, PNM and other known formats are refused
(`kavel-cli import` converts them).
The input - is standard input: a bitmap, or raw bytes with --size.

With several inputs, a last line on stderr sums up the run (processed, failed,
skipped, seconds).

  -h, --help          show this help ("kavel-cli COMMAND --help" for a command)
      --version       show the version

Exit status: 0 success, 1 an input could not be processed, 2 usage error or
nothing could be processed (no image among the inputs, an output folder that
cannot be made).
)";
}

}  // namespace kavel::cli
