// kavel-cli measure: one row of measurements per input for an interval.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "analysis.h"
#include "kavel/measure.h"
#include "kavel/rawimage.h"

namespace kavel::cli {

struct MeasureOptions {
    std::vector<std::string> Inputs;
    std::int32_t Min = 0;
    std::int32_t Max = 0;
    TableFormat Format = TableFormat::Text;
    Connectivity Regions = Connectivity::Eight;
    std::optional<ImageSize> Size;
    bool Strict = false;  // --strict: refuse what only the conversion reads
};

// The words after "measure", or the usage problem.
std::variant<MeasureOptions, std::string> ParseMeasure(std::span<const std::string_view> args);
int RunMeasure(const MeasureOptions& options);
std::string_view MeasureHelp() noexcept;

}  // namespace kavel::cli
