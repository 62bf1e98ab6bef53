#include "measure.h"

#include <array>
#include <iostream>

#include "args.h"
#include "commands.h"
#include "imagefiles.h"

namespace kavel::cli {

namespace {

constexpr std::array<std::string_view, 5> kValued{"--min", "--max", "--format", "--connectivity", "--size"};
constexpr std::array<std::string_view, 1> kFlags{"--strict"};

std::optional<std::string> NumberInto(std::string_view option, std::string_view value, std::int32_t& field) {
    const auto number = ParseInt32(value);
    if (!number) {
        return std::string(option) + ": '" + std::string(value) +
               "' is not a whole number in -2147483648..2147483647";
    }
    field = *number;
    return std::nullopt;
}

Cell OptionalFixed(const std::optional<double>& value, int decimals) {
    return value ? FixedCell(*value, decimals) : Cell{};
}

Cell OptionalNumber(const std::optional<int>& value) {
    return value ? NumberCell(*value) : Cell{};
}

// A raw or bitmap file is read a band of lines at a time, so memory does not
// grow with the image; standard input and converted inputs are held whole.
Expected<Measurements> MeasureInput(const ImageInput& input, const MeasureOptions& options) {
    std::string warnings;
    auto opened = OpenInput(input, warnings);
    std::cerr << warnings;
    if (!opened) {
        return opened.error();
    }
    if (!opened->Lines) {
        return MeasureSelection(opened->Whole, options.Min, options.Max, options.Regions);
    }
    return StreamMeasureSelection(*opened->Lines, options.Min, options.Max, options.Regions);
}

}  // namespace

std::variant<MeasureOptions, std::string> ParseMeasure(std::span<const std::string_view> args) {
    auto split = SplitAnalysisWords(args, kValued, kFlags);
    if (auto* problem = std::get_if<std::string>(&split)) {
        return *problem;
    }
    const auto& words = std::get<Words>(split);
    MeasureOptions options;
    bool minGiven = false;
    bool maxGiven = false;
    for (const OptionValue& option : words.Options) {
        const auto& [name, value] = option;
        std::optional<std::string> problem;
        if (name == "--min" || name == "--max") {
            (name == "--min" ? minGiven : maxGiven) = true;
            problem = NumberInto(name, value, name == "--min" ? options.Min : options.Max);
        } else if (name == "--connectivity") {
            if (value == "4" || value == "8") {
                options.Regions = value == "4" ? Connectivity::Four : Connectivity::Eight;
            } else {
                problem = "--connectivity: '" + std::string(value) + "' is not 4 or 8";
            }
        } else if (name == "--strict") {
            options.Strict = true;
        } else {
            problem = ApplySharedOption(option, options.Format, options.Size);
        }
        if (problem) {
            return *problem;
        }
    }
    options.Inputs.assign(words.Positionals.begin(), words.Positionals.end());
    if (options.Inputs.empty()) {
        return std::string("no input image given");
    }
    if (!minGiven || !maxGiven) {
        return std::string("--min and --max are required");
    }
    return options;
}

int RunMeasure(const MeasureOptions& options) {
    Table table{{"file", "min", "max", "pixels", "selected", "border", "inside", "area_fraction", "tones",
                 "mean", "median", "mode", "std_dev", "regions"},
                {}};
    std::size_t failures = 0;
    for (const std::string& input : options.Inputs) {
        const auto measured = MeasureInput(DescribeInput(input, options.Size, options.Strict), options);
        if (!measured) {
            ReportInputFailure(input, measured.error().message);
            ++failures;
            continue;
        }
        const Measurements& m = *measured;
        table.Rows.push_back({TextCell(input), NumberCell(options.Min), NumberCell(options.Max),
                              NumberCell(m.Pixels), NumberCell(m.Selected), NumberCell(m.Border),
                              NumberCell(m.Inside), FixedCell(m.AreaFraction, 6), NumberCell(m.DistinctTones),
                              OptionalFixed(m.Mean, 4), OptionalNumber(m.Median), OptionalNumber(m.Mode),
                              OptionalFixed(m.StdDev, 4), NumberCell(m.Regions)});
    }
    return PrintTable(table, options.Format, failures);
}

std::string_view MeasureHelp() noexcept {
    return R"(Usage: kavel-cli measure INPUT... --min N --max N [--format text|csv|json]
                        [--connectivity 4|8] [--size LxC]

Measures the item that the interval [MIN, MAX] selects, one row per input:
  pixels, selected    all pixels, and those with MIN <= tone <= MAX
  border, inside      the selected pixels that treat draws as border (an
                      unselected pixel above, below, left or right inside the
                      image) and the others; selected = border + inside
  area_fraction       selected / pixels
  tones, mean, median, mode, std_dev
                      of the selected pixels' tones (lower median, lowest of
                      equal modes, population deviation; '-' when none)
  regions             connected regions of the selection

      --min N         lower bound of the interval, inclusive (required)
      --max N         upper bound of the interval, inclusive (required)
      --format KIND   text (aligned columns, default), csv or json
      --connectivity C  8 (default): pixels touching at a corner are one
                      region, so a diagonal line one pixel wide is one region;
                      this pairs with the 4-neighbour border, which is a
                      connected curve in 8-connectivity. 4: side contact only
      --size LxC      size of raw inputs, L lines by C columns
      --strict        refuse what import would convert, and raw files whose
                      length is not their size (see kavel-cli treat --help)
  -h, --help          show this help
)";
}

}  // namespace kavel::cli
