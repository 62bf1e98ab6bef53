#include "args.h"
#include "given.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace kavel::cli {

namespace {

constexpr unsigned Bit(CommandName command) noexcept {
    return 1u << static_cast<unsigned>(command);
}

constexpr unsigned kTreat = Bit(CommandName::Treat);
constexpr unsigned kHistogram = Bit(CommandName::Histogram);
constexpr unsigned kTones = Bit(CommandName::Tones);
constexpr unsigned kConvert = Bit(CommandName::Convert);
constexpr unsigned kImport = Bit(CommandName::Import);
constexpr unsigned kSuggest = Bit(CommandName::Suggest);
constexpr unsigned kMeasure = Bit(CommandName::Measure);
// The commands that read images in KAVEL's own kinds.
constexpr unsigned kReading = kTreat | kHistogram | kTones | kConvert | kSuggest | kMeasure;
// The commands that write files.
constexpr unsigned kWriting = kTreat | kHistogram | kConvert | kImport | kSuggest;
// The commands that run their inputs as a batch, on several jobs.
constexpr unsigned kBatch = kTreat | kHistogram | kTones | kConvert | kImport;

// Every option of every command, described once. A flag takes no value;
// every other option takes exactly one.
struct OptionRule {
    std::string_view Long;
    char Short = 0;  // 0: none
    bool Flag = false;
    unsigned Commands = 0;
};

constexpr std::array kOptions{
    OptionRule{"--output", 'o', false, kTreat | kHistogram | kImport},
    OptionRule{"--out-dir", 0, false, kTreat | kHistogram | kConvert | kImport | kSuggest},
    OptionRule{"--name", 0, false, kTreat | kHistogram | kConvert | kImport},
    OptionRule{"--format", 0, false, kTreat | kConvert | kImport | kSuggest | kMeasure},
    OptionRule{"--size", 0, false, kReading},
    OptionRule{"--jobs", 'j', false, kBatch},
    OptionRule{"--strict", 0, true, kReading},
    OptionRule{"--force", 0, true, kWriting},
    OptionRule{"--quiet", 'q', true, kBatch},
    OptionRule{"--progress", 0, true, kBatch},
    OptionRule{"--type", 0, false, kTreat},
    OptionRule{"--min", 0, false, kTreat | kMeasure},
    OptionRule{"--max", 0, false, kTreat | kMeasure},
    OptionRule{"--allow-empty", 0, true, kTreat | kMeasure},
    OptionRule{"--item", 0, false, kTreat},
    OptionRule{"--border", 0, false, kTreat},
    OptionRule{"--background", 0, false, kTreat},
    OptionRule{"--auto", 0, false, kTreat},
    OptionRule{"--method", 0, false, kSuggest},
    OptionRule{"--try-all", 0, true, kSuggest},
    OptionRule{"--connectivity", 0, false, kMeasure},
};

constexpr std::array kCommands{CommandName::Treat,   CommandName::Histogram, CommandName::Tones,
                               CommandName::Convert, CommandName::Import,    CommandName::Suggest,
                               CommandName::Measure};

bool IsHelpWord(std::string_view word) noexcept {
    return word == "--help" || word == "-h";
}

struct OptionValue {
    std::string_view Name;  // the long name, whichever spelling was used
    std::string_view Value;
};

struct Words {
    std::vector<OptionValue> Options;
    std::vector<std::string_view> Positionals;
};

const OptionRule* FindOption(std::string_view name, CommandName command) noexcept {
    for (const OptionRule& rule : kOptions) {
        const bool named =
            rule.Long == name || (rule.Short != 0 && name.size() == 2 && name[1] == rule.Short);
        if (named && (rule.Commands & Bit(command)) != 0) {
            return &rule;
        }
    }
    return nullptr;
}

// Splits the words after the command into options with their values and
// positional arguments: a value as the next word, after "=" (--jobs=2) or
// attached to a short name (-j2, -oFILE); "--" ends the options and "-"
// alone is a file name. Gives the problem with the first word not understood.
std::variant<Words, std::string> SplitWords(std::span<const std::string_view> args, CommandName command) {
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
        std::optional<std::string_view> attached;
        if (word.starts_with("--")) {
            if (const auto equals = word.find('='); equals != std::string_view::npos) {
                name = word.substr(0, equals);
                attached = word.substr(equals + 1);
            }
        } else if (word.size() > 2) {
            name = word.substr(0, 2);
            attached = word.substr(2);
        }
        const OptionRule* rule = FindOption(name, command);
        if (rule == nullptr || (rule->Flag && attached && !word.starts_with("--"))) {
            return "unknown option " + Quoted(rule == nullptr && !word.starts_with("--") ? word : name) +
                   "; 'kavel-cli " + std::string(CommandWord(command)) + " --help' lists the options";
        }
        if (rule->Flag) {
            if (attached) {
                return "option " + Quoted(rule->Long) + " takes no value";
            }
            words.Options.push_back({rule->Long, {}});
        } else if (attached) {
            words.Options.push_back({rule->Long, *attached});
        } else if (i + 1 < args.size()) {
            words.Options.push_back({rule->Long, args[++i]});
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

std::optional<TreatmentKind> TreatmentTypeOf(std::string_view word) noexcept {
    constexpr std::array<std::pair<std::string_view, TreatmentKind>, 4> kTypes{{
        {"whole", TreatmentKind::WholeItem},
        {"border", TreatmentKind::Border},
        {"item-border", TreatmentKind::ItemAndBorder},
        {"none", TreatmentKind::None},
    }};
    for (const auto& [name, kind] : kTypes) {
        if (name == word) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<TableFormat> TableFormatOf(std::string_view word) noexcept {
    if (word == "text") {
        return TableFormat::Text;
    }
    if (word == "csv") {
        return TableFormat::Csv;
    }
    if (word == "json") {
        return TableFormat::Json;
    }
    return std::nullopt;
}

std::string MethodList() {
    std::string names;
    for (const ThresholdMethod method : kAllThresholdMethods) {
        names += names.empty() ? "" : ", ";
        names += ThresholdMethodName(method);
    }
    return names;
}

// The numbers of treat and measure: the bounds of the interval are tones,
// the tones written keep their low 8 bits.
std::optional<std::string> ApplyNumber(std::string_view name, std::string_view value, Given& given) {
    if (auto problem = NumberProblem(name, value)) {
        return problem;
    }
    const std::int32_t number = *ParseInt32(value);
    TreatmentParameters& p = given.Parameters;
    if (name == "--min" || name == "--max") {
        if (number < 0 || number > 255) {
            return std::string(name) + ": " + Quoted(value) + " is not a tone; give 0..255";
        }
        (name == "--min" ? given.MinGiven : given.MaxGiven) = true;
        (name == "--min" ? p.MinThreshold : p.MaxThreshold) = number;
    } else {
        (name == "--item" ? p.ItemTone : name == "--border" ? p.BorderTone : p.BackgroundTone) = number;
    }
    return std::nullopt;
}

std::optional<std::string> ApplyFormat(std::string_view value, CommandName command, Given& given) {
    if (command == CommandName::Suggest || command == CommandName::Measure) {
        const auto format = TableFormatOf(value);
        if (!format) {
            return "--format: " + Quoted(value) + " is not text, csv or json";
        }
        given.Table = *format;
    } else if (value == "raw" || value == "bmp") {
        given.Format = value == "raw" ? ImageFormat::Raw : ImageFormat::Bitmap;
    } else {
        return "--format: " + Quoted(value) + " is not raw or bmp";
    }
    return std::nullopt;
}

// The flags and the values that are kept as they are.
bool ApplyPlain(std::string_view name, std::string_view value, Given& given) {
    const std::array<std::pair<std::string_view, bool*>, 6> flags{{
        {"--strict", &given.Run.Strict},
        {"--force", &given.Run.Force},
        {"--quiet", &given.Run.Quiet},
        {"--progress", &given.Run.Progress},
        {"--allow-empty", &given.AllowEmpty},
        {"--try-all", &given.TryAll},
    }};
    for (const auto& [flag, field] : flags) {
        if (flag == name) {
            *field = true;
            return true;
        }
    }
    if (name == "--output") {
        given.Output = value;
    } else if (name == "--out-dir") {
        given.OutDir = value;
    } else if (name == "--name") {
        given.NameTemplate = value;
    } else {
        return false;
    }
    return true;
}

// The value of one option checked and kept. Gives the problem, if any.
std::optional<std::string> Apply(std::string_view name, std::string_view value, CommandName command,
                                 Given& given) {
    if (name == "--output" && value.empty() && command == CommandName::Histogram) {
        // Histogram writes to exactly the name given, so an empty one is a mistake.
        return std::string("-o: the file name is empty; give a file name, or - for standard output");
    }
    if (ApplyPlain(name, value, given)) {
        return std::nullopt;
    }
    if (name == "--format") {
        return ApplyFormat(value, command, given);
    }
    if (name == "--jobs") {
        const auto number = ParseInt32(value);
        if (!number || *number < 1) {
            return "--jobs: " + Quoted(value) + " is not a number of jobs (1 or more)";
        }
        given.Run.Jobs = static_cast<unsigned>(*number);
    } else if (name == "--size") {
        given.Run.Size = ParseSize(value);
        if (!given.Run.Size) {
            return "--size: " + Quoted(value) +
                   " is not LINESxCOLUMNS (for example 480x640, at most 4294967296 pixels)";
        }
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
            return "--auto: " + Quoted(value) + " is not METHOD:dark or METHOD:light, METHOD one of " +
                   MethodList();
        }
    } else if (name == "--method") {
        const auto method = ThresholdMethodByName(value);
        if (!method) {
            return "--method: " + Quoted(value) + " is not one of " + MethodList();
        }
        given.Methods.push_back(*method);
    } else if (name == "--connectivity") {
        if (value != "4" && value != "8") {
            return "--connectivity: " + Quoted(value) + " is not 4 or 8";
        }
        given.Regions = value == "4" ? Connectivity::Four : Connectivity::Eight;
    } else {
        return ApplyNumber(name, value, given);
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
    given.Run.Inputs.assign(words.Positionals.begin(), words.Positionals.end());
    return given;
}

std::optional<CommandName> CommandOf(std::string_view word) noexcept {
    for (const CommandName command : kCommands) {
        if (CommandWord(command) == word) {
            return command;
        }
    }
    return std::nullopt;
}

ParsedCommandLine CheckCommand(CommandName command, Given given) {
    switch (command) {
        case CommandName::Treat:
            return CheckTreat(std::move(given));
        case CommandName::Histogram:
            return CheckHistogram(std::move(given));
        case CommandName::Tones:
            return CheckTones(std::move(given));
        case CommandName::Convert:
            return CheckConvert(std::move(given));
        case CommandName::Import:
            return CheckImport(std::move(given));
        case CommandName::Suggest:
            return CheckSuggest(std::move(given));
        case CommandName::Measure:
        case CommandName::None:
            break;
    }
    return CheckMeasure(std::move(given));
}

}  // namespace

ParsedCommandLine ParseCommandLine(std::span<const std::string_view> args) {
    if (args.empty()) {
        return UsageError{CommandName::None, "no command given; 'kavel-cli --help' lists the commands"};
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
    auto split = SplitWords(rest, *command);
    if (auto* problem = std::get_if<std::string>(&split)) {
        return UsageError{*command, std::move(*problem)};
    }
    auto given = Gather(std::get<Words>(split), *command);
    if (auto* problem = std::get_if<std::string>(&given)) {
        return UsageError{*command, std::move(*problem)};
    }
    return CheckCommand(*command, std::move(std::get<Given>(given)));
}

}  // namespace kavel::cli
