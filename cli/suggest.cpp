#include "suggest.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "batch.h"
#include "commands.h"
#include "imagefiles.h"
#include "kavel/statistics.h"
#include "tables.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

// The light item of threshold t in white on black: what the method separates,
// for a quick look in any viewer.
Status WriteTryAll(const ByteMatrix& image, int t, const fs::path& output) {
    auto result = AllocateByteMatrix(image.Columns(), image.Lines());
    if (!result) {
        return result.error();
    }
    const TreatmentParameters whole{TreatmentKind::WholeItem, t + 1, 255, 255, 0, 0};
    if (auto treated = ComputeTreatment(image, whole, *result); !treated) {
        return treated;
    }
    return SaveImage(output, *result, ImageFormat::Bitmap);
}

// An output must replace neither an input nor a file written earlier in the run.
std::optional<std::string> OutputClash(const fs::path& output, const std::vector<std::string>& inputs,
                                       std::vector<fs::path>& written) {
    for (const auto& input : inputs) {
        if (SameFile(input, output)) {
            return "the output " + output.string() + " would replace the input " + input;
        }
    }
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(output, ec);
    const fs::path key = ec ? output : canonical;
    if (std::find(written.begin(), written.end(), key) != written.end()) {
        return "the output " + output.string() + " was already written for an earlier input";
    }
    written.push_back(key);
    return std::nullopt;
}

}  // namespace

int RunSuggest(const SuggestOptions& options) {
    if (options.TryAll) {
        if (auto refused = MakeOutputFolder(options.OutDir)) {
            return *refused;
        }
    }
    Table table{{"file", "method", "threshold", "dark_min", "dark_max", "light_min", "light_max", "failure"},
                {}};
    std::vector<fs::path> written;
    std::size_t failures = 0;
    for (const std::string& input : options.Inputs) {
        std::string warnings;
        const auto image = LoadImage(DescribeInput(input, options.Size), warnings);
        std::cerr << warnings;
        if (!image) {
            ReportInputFailure(input, image.error().message);
            ++failures;
            continue;
        }
        const Histogram counts = ComputeHistogram(*image);
        for (const ThresholdMethod method : options.Methods) {
            const auto t = ComputeThreshold(method, counts);
            const Cell name = TextCell(std::string(ThresholdMethodName(method)));
            if (!t) {
                table.Rows.push_back(
                    {TextCell(input), name, {}, {}, {}, {}, {}, TextCell(t.error().message)});
                continue;
            }
            table.Rows.push_back({TextCell(input),
                                  name,
                                  NumberCell(*t),
                                  NumberCell(0),
                                  NumberCell(*t),
                                  NumberCell(*t + 1),
                                  NumberCell(255),
                                  {}});
            if (!options.TryAll) {
                continue;
            }
            const fs::path output =
                fs::path(options.OutDir) / (fs::path(input).stem().string() + "-" +
                                            std::string(ThresholdMethodFileName(method)) + ".bmp");
            if (auto clash = OutputClash(output, options.Inputs, written)) {
                ReportInputFailure(input, *clash);
                ++failures;
            } else if (auto kept = ReplaceProblem(output, options.Force)) {
                ReportInputFailure(input, *kept);
                ++failures;
            } else if (auto saved = WriteTryAll(*image, *t, output); !saved) {
                ReportInputFailure(input, saved.error().message);
                ++failures;
            }
        }
    }
    return PrintTable(table, options.Format, failures);
}

Expected<std::string> ApplyAutoInterval(const AutoChoice& choice, const Histogram& histogram,
                                        const std::string& file, TreatmentParameters& parameters) {
    const auto t = ComputeThreshold(choice.Method, histogram);
    if (!t) {
        return Error{std::string(ThresholdMethodName(choice.Method)) + ": " + t.error().message};
    }
    parameters.MinThreshold = choice.Light ? *t + 1 : 0;
    parameters.MaxThreshold = choice.Light ? 255 : *t;
    return file + ": " + std::string(ThresholdMethodName(choice.Method)) + " t = " + std::to_string(*t) +
           ", " + (choice.Light ? "light" : "dark") + " item --min " +
           std::to_string(parameters.MinThreshold) + " --max " + std::to_string(parameters.MaxThreshold) +
           "\n";
}

}  // namespace kavel::cli
