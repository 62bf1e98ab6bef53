// Inside the parser (args.cpp, commandchecks.cpp): the options of one
// command line as given, and the checks that turn them into a command's
// options or a usage error.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "args.h"

namespace kavel::cli {

struct Given {
    RunOptions Run;
    std::optional<std::string> Output;
    std::string OutDir;
    std::string NameTemplate;
    std::optional<ImageFormat> Format;
    TableFormat Table = TableFormat::Text;
    TreatmentParameters Parameters;  // treat: --type and the numbers
    bool TypeGiven = false;
    bool MinGiven = false;
    bool MaxGiven = false;
    bool AllowEmpty = false;
    std::optional<AutoChoice> Auto;
    std::vector<ThresholdMethod> Methods;
    bool TryAll = false;
    Connectivity Regions = Connectivity::Eight;
};

// text between single quotes, as messages show a value given.
std::string Quoted(std::string_view text);

ParsedCommandLine CheckTreat(Given given);
ParsedCommandLine CheckHistogram(Given given);
ParsedCommandLine CheckTones(Given given);
ParsedCommandLine CheckConvert(Given given);
ParsedCommandLine CheckImport(Given given);
ParsedCommandLine CheckSuggest(Given given);
ParsedCommandLine CheckMeasure(Given given);

}  // namespace kavel::cli
