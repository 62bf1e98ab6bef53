// What each command requires of its options, once every value is known to be
// well formed: the combinations, the inputs and the names of the outputs.
#include <algorithm>
#include <utility>

#include "given.h"

namespace kavel::cli {

namespace {

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

// --name goes with --out-dir, must give several inputs several names, and,
// for an image, must end in .raw or .bmp for every input.
std::optional<std::string> NameProblem(std::string_view nameTemplate, std::string_view outDir,
                                       const std::vector<std::string>& inputs, bool image) {
    if (nameTemplate.empty()) {
        return std::nullopt;
    }
    if (outDir.empty()) {
        return std::string("--name goes with --out-dir");
    }
    if (auto problem = NameTemplateProblem(nameTemplate)) {
        return "--name: " + *problem;
    }
    if (inputs.size() > 1 && !NameTemplateTellsInputsApart(nameTemplate)) {
        return "--name: " + Quoted(nameTemplate) + " gives every input the same name; use {stem} or {name}";
    }
    for (const auto& input : inputs) {
        const std::string name = ExpandNameTemplate(nameTemplate, input);
        if (image && input != kStandardStream && !FormatOfName(name)) {
            return "--name: " + Quoted(nameTemplate) + " gives " + Quoted(name) + " for " + input +
                   ", which does not end in .raw or .bmp; end the template in .raw or .bmp";
        }
    }
    return std::nullopt;
}

std::string OutputNameProblem(std::string_view option, std::string_view name) {
    const auto slash = name.find_last_of('/');
    const std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
    if (base == ".raw" || base == ".bmp" || base == ".RAW" || base == ".BMP") {
        return std::string(option) + ": " + Quoted(name) +
               " is only an extension; give a name before it (out" + std::string(base) + ")";
    }
    return std::string(option) + ": " + Quoted(name) + " must end in .raw or .bmp";
}

std::string_view FormatWord(ImageFormat format) {
    return format == ImageFormat::Raw ? "raw" : "bmp";
}

// The interval [--min, --max] of treat and measure: both bounds or neither
// (required tells), and an empty one only when asked for.
std::optional<std::string> IntervalProblem(const Given& given, bool required) {
    if (given.MinGiven != given.MaxGiven) {
        return std::string(given.MinGiven ? "--max" : "--min") +
               " is missing: give both --min N and --max N (0..255)";
    }
    if (!given.MinGiven && required) {
        return std::string("--min and --max are required: the interval of tones to select, 0..255");
    }
    const auto& p = given.Parameters;
    if (given.MinGiven && p.MinThreshold > p.MaxThreshold && !given.AllowEmpty) {
        return "--min " + std::to_string(p.MinThreshold) + " is above --max " +
               std::to_string(p.MaxThreshold) +
               ", which selects nothing; swap them, or add --allow-empty to run anyway";
    }
    return std::nullopt;
}

// -o for a command whose output names its kind: a file ending in .raw or
// .bmp, or - for standard output in the --format given.
std::optional<std::string> NamedOutputProblem(std::string_view option, const std::string& output,
                                              const std::optional<ImageFormat>& format) {
    if (output == kStandardStream) {
        if (!format) {
            return std::string(option) + " - needs --format raw or --format bmp";
        }
        return std::nullopt;
    }
    if (format) {
        return "--format goes with --out-dir or " + std::string(option) +
               " -; with a file name the extension decides";
    }
    if (!FormatOfName(output)) {
        return OutputNameProblem(option, output);
    }
    return std::nullopt;
}

std::optional<std::string> TreatProblem(const Given& given) {
    const auto& inputs = given.Run.Inputs;
    const std::string output = given.Output.value_or("");
    if (given.Auto && (given.MinGiven || given.MaxGiven)) {
        return std::string("--auto chooses the interval: leave out --min and --max");
    }
    if (inputs.empty()) {
        return std::string("no input image given");
    }
    if (!given.TypeGiven) {
        return std::string("--type is required (whole, border, item-border or none)");
    }
    const bool interval = !given.Auto && given.Parameters.TreatmentType != TreatmentKind::None;
    if (auto problem = IntervalProblem(given, interval)) {
        return problem;
    }
    if (output.empty() && given.OutDir.empty()) {
        return std::string("give -o OUTPUT (one input) or --out-dir DIR");
    }
    if (!output.empty() && !given.OutDir.empty()) {
        return std::string("-o and --out-dir exclude each other");
    }
    if (auto problem = StandardInputProblem(inputs, !given.OutDir.empty())) {
        return problem;
    }
    if (!given.NameTemplate.empty() && given.Format) {
        // A literal ending that says the other kind is a contradiction.
        const auto named = FormatOfName(given.NameTemplate);
        if (named && *named != *given.Format) {
            return "--name " + Quoted(given.NameTemplate) + " and --format " +
                   std::string(FormatWord(*given.Format)) + " disagree";
        }
    }
    if (auto problem = NameProblem(given.NameTemplate, given.OutDir, inputs, true)) {
        return problem;
    }
    if (!output.empty() && inputs.size() > 1) {
        return std::string("-o takes a single input; use --out-dir DIR for several");
    }
    if (!output.empty()) {
        return NamedOutputProblem("-o", output, given.Format);
    }
    return std::nullopt;
}

}  // namespace

ParsedCommandLine CheckTreat(Given given) {
    if (auto problem = TreatProblem(given)) {
        return UsageError{CommandName::Treat, std::move(*problem)};
    }
    TreatOptions options;
    static_cast<RunOptions&>(options) = std::move(given.Run);
    options.Output = given.Output.value_or("");
    options.OutDir = std::move(given.OutDir);
    options.NameTemplate = std::move(given.NameTemplate);
    options.Format = given.Format;
    options.Parameters = given.Parameters;
    options.Auto = given.Auto;
    return options;
}

ParsedCommandLine CheckHistogram(Given given) {
    const auto fail = [](std::string message) {
        return UsageError{CommandName::Histogram, std::move(message)};
    };
    HistogramOptions options;
    static_cast<RunOptions&>(options) = std::move(given.Run);
    options.Output = given.Output.value_or("");
    options.OutDir = std::move(given.OutDir);
    options.NameTemplate = std::move(given.NameTemplate);
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
    if (auto problem = NameProblem(options.NameTemplate, options.OutDir, options.Inputs, false)) {
        return fail(*problem);
    }
    return options;
}

ParsedCommandLine CheckTones(Given given) {
    const auto fail = [](std::string message) { return UsageError{CommandName::Tones, std::move(message)}; };
    if (given.Run.Inputs.empty()) {
        return fail("no input image given");
    }
    if (auto problem = StandardInputProblem(given.Run.Inputs, false)) {
        return fail(*problem);
    }
    TonesOptions options;
    static_cast<RunOptions&>(options) = std::move(given.Run);
    return options;
}

ParsedCommandLine CheckConvert(Given given) {
    const auto fail = [](std::string message) {
        return UsageError{CommandName::Convert, std::move(message)};
    };
    ConvertOptions options;
    static_cast<RunOptions&>(options) = std::move(given.Run);
    options.OutDir = std::move(given.OutDir);
    options.NameTemplate = std::move(given.NameTemplate);
    options.Format = given.Format;
    if (!options.OutDir.empty()) {
        if (options.Inputs.empty()) {
            return fail("no input image given");
        }
        if (auto problem = StandardInputProblem(options.Inputs, true)) {
            return fail(*problem);
        }
        if (auto problem = NameProblem(options.NameTemplate, options.OutDir, options.Inputs, true)) {
            return fail(*problem);
        }
        return options;
    }
    if (auto problem = NameProblem(options.NameTemplate, options.OutDir, {}, true)) {
        return fail(*problem);
    }
    // Without --out-dir the last word is the output.
    if (options.Inputs.size() != 2) {
        return fail("give one input image and one output name, or --out-dir DIR for several inputs");
    }
    options.Output = std::move(options.Inputs[1]);
    options.Inputs.pop_back();
    if (auto problem = NamedOutputProblem("OUTPUT", options.Output, options.Format)) {
        return fail(*problem);
    }
    return options;
}

ParsedCommandLine CheckImport(Given given) {
    const auto fail = [](std::string message) { return UsageError{CommandName::Import, std::move(message)}; };
    ImportOptions options;
    static_cast<RunOptions&>(options) = std::move(given.Run);
    options.Output = given.Output.value_or("");
    options.OutDir = std::move(given.OutDir);
    options.NameTemplate = std::move(given.NameTemplate);
    options.Format = given.Format.value_or(ImageFormat::Raw);
    if (options.Inputs.empty()) {
        return fail("no input image given");
    }
    if (options.Output.empty() == options.OutDir.empty()) {
        return fail("give either -o OUTPUT (one input) or --out-dir DIR");
    }
    if (auto problem = StandardInputProblem(options.Inputs, !options.OutDir.empty())) {
        return fail(*problem);
    }
    if (auto problem = NameProblem(options.NameTemplate, options.OutDir, options.Inputs, true)) {
        return fail(*problem);
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
    } else if (!options.NameTemplate.empty() && !given.Format) {
        options.Format = FormatOfName(options.NameTemplate).value_or(ImageFormat::Raw);
    }
    return options;
}

ParsedCommandLine CheckSuggest(Given given) {
    const auto fail = [](std::string message) {
        return UsageError{CommandName::Suggest, std::move(message)};
    };
    SuggestOptions options;
    static_cast<RunOptions&>(options) = std::move(given.Run);
    options.Methods = std::move(given.Methods);
    options.Format = given.Table;
    options.TryAll = given.TryAll;
    options.OutDir = std::move(given.OutDir);
    if (options.Inputs.empty()) {
        return fail("no input image given");
    }
    if (options.TryAll != !options.OutDir.empty()) {
        return fail("--try-all and --out-dir DIR go together");
    }
    if (options.Methods.empty()) {
        options.Methods.assign(kAllThresholdMethods.begin(), kAllThresholdMethods.end());
    }
    return options;
}

ParsedCommandLine CheckMeasure(Given given) {
    const auto fail = [](std::string message) {
        return UsageError{CommandName::Measure, std::move(message)};
    };
    if (given.Run.Inputs.empty()) {
        return fail("no input image given");
    }
    if (auto problem = IntervalProblem(given, true)) {
        return fail(*problem);
    }
    MeasureOptions options;
    static_cast<RunOptions&>(options) = std::move(given.Run);
    options.Min = given.Parameters.MinThreshold;
    options.Max = given.Parameters.MaxThreshold;
    options.Format = given.Table;
    options.Regions = given.Regions;
    return options;
}

}  // namespace kavel::cli
