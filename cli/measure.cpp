#include "measure.h"

#include <iostream>

#include "commands.h"
#include "imagefiles.h"
#include "tables.h"

namespace kavel::cli {

namespace {

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

}  // namespace kavel::cli
