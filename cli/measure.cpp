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

// A named file is read a band of lines at a time, so memory does not grow
// with the image; standard input cannot be read twice or sought, so it is
// read whole.
Expected<Measurements> MeasureInput(const ImageInput& input, const MeasureOptions& options) {
    std::string warnings;
    if (input.Stdin) {
        const auto image = LoadImage(input, warnings);
        std::cerr << warnings;
        if (!image) {
            return image.error();
        }
        return MeasureSelection(*image, options.Min, options.Max, options.Regions);
    }
    auto source = OpenImageLines(input, warnings);
    std::cerr << warnings;
    if (!source) {
        return source.error();
    }
    return StreamMeasureSelection(*source, options.Min, options.Max, options.Regions);
}

}  // namespace

int RunMeasure(const MeasureOptions& options) {
    Table table{{"file", "min", "max", "pixels", "selected", "border", "inside", "area_fraction", "tones",
                 "mean", "median", "mode", "std_dev", "regions"},
                {}};
    std::size_t failures = 0;
    for (const std::string& input : options.Inputs) {
        const auto measured = MeasureInput(DescribeInput(input, options.Size), options);
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
