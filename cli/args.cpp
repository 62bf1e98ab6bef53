#include "args.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <initializer_list>
#include <limits>
#include <utility>

namespace kavel::cli {

namespace {

// Each option is described once, with the commands that take it.
struct CommandOption {
    OptionName Name;
    unsigned Commands;  // one bit per CommandName that takes it
};

constexpr unsigned For(std::initializer_list<CommandName> commands) noexcept {
    unsigned bits = 0;
    for (const CommandName command : commands) {
        bits |= 1u << static_cast<unsigned>(command);
    }
    return bits;
}

constexpr unsigned kTreat = For({CommandName::Treat});
// The commands that read images by the batch.
constexpr unsigned kReading =
    For({CommandName::Treat, CommandName::Histogram, CommandName::Tones, CommandName::Convert});
// The commands that write files named after their inputs.
constexpr unsigned kNaming = For({CommandName::Treat, CommandName::Histogram, CommandName::Convert});

constexpr std::array kOptions{
    CommandOption{{"--output", "-o"}, For({CommandName::Treat, CommandName::Histogram, CommandName::Import})},
    CommandOption{{"--out-dir", ""}, kNaming | For({CommandName::Import})},
    CommandOption{{"--name", ""}, kNaming},
    CommandOption{{"--format", ""}, For({CommandName::Treat, CommandName::Convert, CommandName::Import})},
    CommandOption{{"--size", ""}, kReading},
    CommandOption{{"--jobs", "-j"}, kReading},
    CommandOption{{"--type", ""}, kTreat},
    CommandOption{{"--min", ""}, kTreat},
    CommandOption{{"--max", ""}, kTreat},
    CommandOption{{"--item", ""}, kTreat},
    CommandOption{{"--border", ""}, kTreat},
    CommandOption{{"--background", ""}, kTreat},
    CommandOption{{"--auto", ""}, kTreat},
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

std::optional<TreatmentKind> TreatmentTypeOf(std::string_view word) noexcept {
    if (word == "whole") {
        return TreatmentKind::WholeItem;
    }
    if (word == "border") {
        return TreatmentKind::Border;
    }
    if (word == "item-border") {
        return TreatmentKind::ItemAndBorder;
    }
    if (word == "none") {
        return TreatmentKind::None;
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

// The options as given, before what each command requires of them is checked.
struct Given {
    std::vector<std::string> Inputs;
    std::optional<std::string> Output;
    std::string OutDir;
    std::string NameTemplate;
    std::optional<ImageFormat> Format;
    std::optional<ImageSize> Size;
    unsigned Jobs = 0;
    TreatmentParameters Parameters;  // treat: --type and the numbers
    bool TypeGiven = false;
    bool BoundsGiven = false;
    std::optional<AutoChoice> Auto;
};

// The value of one option checked and kept. Gives the problem, if any.
std::optional<std::string> Apply(std::string_view name, std::string_view value, CommandName command,
                                 Given& given) {
    if (name == "--output") {
        // Histogram writes to exactly the name given, so an empty one is a mistake.
        if (value.empty() && command == CommandName::Histogram) {
            return std::string("-o: the file name is empty");
        }
        given.Output = value;
    } else if (name == "--out-dir") {
        given.OutDir = value;
    } else if (name == "--name") {
        given.NameTemplate = value;
    } else if (name == "--format") {
        return ApplyFormat(value, given.Format);
    } else if (name == "--jobs") {
        return ApplyJobs(value, given.Jobs);
    } else if (name == "--size") {
        return ApplySize(value, given.Size);
    } else if (name == "--type") {
        const auto type = TreatmentTypeOf(value);
        if (!type) {
            return "--type: " + Quoted(value) + " is not one of whole, border, item-border, none";
        }
        given.Parameters.TreatmentType = *type;
        given.TypeGiven = true;
    } else if (name == "--auto") {
        given.Auto = ParseAutoChoice(value);
        if (!given.Auto) {
            return "--auto: " + Quoted(value) + " is not METHOD:dark or METHOD:light";
        }
    } else {
        if (auto problem = NumberProblem(name, value)) {
            return problem;
        }
        NumberField(given.Parameters, name) = *ParseInt32(value);
        given.BoundsGiven = given.BoundsGiven || name == "--min" || name == "--max";
    }
    return std::nullopt;
}

// Every option in the order given; the first problem is the one reported.
std::variant<Given, std::string> Gather(const Words& words, CommandName command) {
    Given given;
    for (const auto& [name, value] : words.Options) {
        if (auto problem = Apply(name, value, command, given)) {
            return std::move(*problem);
        }
    }
    given.Inputs.assign(words.Positionals.begin(), words.Positionals.end());
    return given;
}

ParsedCommandLine ParseTreat(Given given) {
    const auto fail = [](std::string message) { return UsageError{CommandName::Treat, std::move(message)}; };
    if (given.Auto && given.BoundsGiven) {
        return fail("--auto chooses the interval: leave out --min and --max");
    }
    TreatOptions options;
    options.Inputs = std::move(given.Inputs);
    options.Output = given.Output.value_or("");
    options.OutDir = std::move(given.OutDir);
    options.NameTemplate = std::move(given.NameTemplate);
    options.Format = given.Format;
    options.Parameters = given.Parameters;
    options.Size = given.Size;
    options.Jobs = given.Jobs;
    options.Auto = given.Auto;

    if (options.Inputs.empty()) {
        return fail("no input image given");
    }
    if (!given.TypeGiven) {
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

ParsedCommandLine ParseHistogram(Given given) {
    const auto fail = [](std::string message) {
        return UsageError{CommandName::Histogram, std::move(message)};
    };
    HistogramOptions options;
    options.Inputs = std::move(given.Inputs);
    options.Output = given.Output.value_or("");
    options.OutDir = std::move(given.OutDir);
    options.NameTemplate = std::move(given.NameTemplate);
    options.Size = given.Size;
    options.Jobs = given.Jobs;
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

ParsedCommandLine ParseTones(Given given) {
    const auto fail = [](std::string message) { return UsageError{CommandName::Tones, std::move(message)}; };
    if (given.Inputs.empty()) {
        return fail("no input image given");
    }
    if (auto problem = StandardInputProblem(given.Inputs, false)) {
        return fail(*problem);
    }
    return TonesOptions{std::move(given.Inputs), given.Size, given.Jobs};
}

ParsedCommandLine ParseConvert(Given given) {
    const auto fail = [](std::string message) {
        return UsageError{CommandName::Convert, std::move(message)};
    };
    ConvertOptions options;
    options.OutDir = std::move(given.OutDir);
    options.NameTemplate = std::move(given.NameTemplate);
    options.Format = given.Format;
    options.Size = given.Size;
    options.Jobs = given.Jobs;
    if (!options.OutDir.empty()) {
        options.Inputs = std::move(given.Inputs);
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
    // Without --out-dir the last word is the output.
    if (given.Inputs.size() != 2) {
        return fail("give one input image and one output name, or --out-dir DIR for several inputs");
    }
    options.Output = std::move(given.Inputs[1]);
    options.Inputs = {std::move(given.Inputs[0])};
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

ParsedCommandLine ParseImport(Given given) {
    const auto fail = [](std::string message) { return UsageError{CommandName::Import, std::move(message)}; };
    ImportOptions options;
    options.Inputs = std::move(given.Inputs);
    options.Output = given.Output.value_or("");
    options.OutDir = std::move(given.OutDir);
    options.Format = given.Format.value_or(ImageFormat::Raw);
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
        if (given.Format) {
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

ParsedCommandLine ParseFor(CommandName command, Given values) {
    switch (command) {
        case CommandName::Treat:
            return ParseTreat(std::move(values));
        case CommandName::Histogram:
            return ParseHistogram(std::move(values));
        case CommandName::Tones:
            return ParseTones(std::move(values));
        case CommandName::Import:
            return ParseImport(std::move(values));
        case CommandName::Convert:
        case CommandName::None:
            break;
    }
    return ParseConvert(std::move(values));
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

    std::vector<OptionName> known;
    for (const CommandOption& option : kOptions) {
        if ((option.Commands & For({*command})) != 0) {
            known.push_back(option.Name);
        }
    }
    // --strict, the one option without a value, for the commands that read images.
    std::vector<std::string_view> words;
    bool strict = false;
    bool ended = false;
    for (const std::string_view word : rest) {
        ended = ended || word == "--";
        if (!ended && word == "--strict" && (For({*command}) & kReading) != 0) {
            strict = true;
        } else {
            words.push_back(word);
        }
    }
    auto split = SplitWords(words, known);
    if (auto* problem = std::get_if<std::string>(&split)) {
        return UsageError{*command, std::move(*problem)};
    }
    auto given = Gather(std::get<Words>(split), *command);
    if (auto* problem = std::get_if<std::string>(&given)) {
        return UsageError{*command, std::move(*problem)};
    }
    ParsedCommandLine parsed = ParseFor(*command, std::move(std::get<Given>(given)));
    std::visit(
        [strict](auto& options) {
            if constexpr (requires { options.Strict; }) {
                options.Strict = strict;
            }
        },
        parsed);
    return parsed;
}

}  // namespace kavel::cli
