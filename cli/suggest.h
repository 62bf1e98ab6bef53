// kavel-cli suggest: the automatic thresholds of each input and the two
// intervals each implies; and the choice of the interval behind treat --auto.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "analysis.h"
#include "kavel/guitools.h"
#include "kavel/rawimage.h"
#include "kavel/statistics.h"
#include "kavel/threshold.h"
#include "kavel/treatment.h"

namespace kavel::cli {

struct SuggestOptions {
    std::vector<std::string> Inputs;
    std::vector<ThresholdMethod> Methods;  // in the order given; all sixteen when none
    TableFormat Format = TableFormat::Text;
    bool TryAll = false;  // write each method's whole-item result into OutDir
    std::string OutDir;
    std::optional<ImageSize> Size;
    bool Strict = false;  // --strict: refuse what only the conversion reads
};

// The words after "suggest", or the usage problem.
std::variant<SuggestOptions, std::string> ParseSuggest(std::span<const std::string_view> args);
int RunSuggest(const SuggestOptions& options);
std::string_view SuggestHelp() noexcept;

// treat --auto METHOD:dark or METHOD:light.
struct AutoChoice {
    ThresholdMethod Method = ThresholdMethod::Otsu;
    bool Light = false;  // the light item [t + 1, 255] rather than the dark [0, t]
};

inline std::optional<AutoChoice> ParseAutoChoice(std::string_view text) noexcept {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto method = ThresholdMethodByName(text.substr(0, colon));
    const std::string_view side = text.substr(colon + 1);
    if (!method || (side != "dark" && side != "light")) {
        return std::nullopt;
    }
    return AutoChoice{*method, side == "light"};
}

// Sets the interval of parameters from the image's histogram and gives the
// line that reports it with the file's name, or says why the method has none.
Expected<std::string> ApplyAutoInterval(const AutoChoice& choice, const Histogram& histogram,
                                        const std::string& file, TreatmentParameters& parameters);

}  // namespace kavel::cli
