#include "suggest.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include "batch.h"
#include "commands.h"
#include "imagefiles.h"
#include "kavel/statistics.h"
#include "kavel/stream.h"
#include "tables.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

// The light item of threshold t in white on black: what the method separates,
// for a quick look in any viewer.
TreatmentParameters TryAllParameters(int t) {
    return TreatmentParameters{TreatmentKind::WholeItem, t + 1, 255, 255, 0, 0};
}

// One input's histogram, and the whole image only when the input cannot be
// read twice (standard input, or what the conversion reads): a raw or 8-bit
// bitmap file is streamed, so memory does not grow with the image.
struct Counted {
    Histogram Counts{};
    std::optional<ByteMatrix> Whole;
};

Expected<Counted> CountInput(const ImageInput& input) {
    std::string warnings;
    auto opened = OpenInput(input, warnings);
    std::cerr << warnings;
    if (!opened) {
        return opened.error();
    }
    Counted counted;
    if (!opened->Lines) {
        counted.Counts = ComputeHistogram(opened->Whole);
        counted.Whole = std::move(opened->Whole);
        return counted;
    }
    auto counts = StreamHistogram(*opened->Lines);
    if (!counts) {
        return counts.error();
    }
    counted.Counts = *counts;
    return counted;
}

Status WriteTryAll(const ImageInput& input, const Counted& counted, int t, const fs::path& output) {
    if (counted.Whole) {
        auto result = AllocateByteMatrix(counted.Whole->Columns(), counted.Whole->Lines());
        if (!result) {
            return result.error();
        }
        if (auto treated = ComputeTreatment(*counted.Whole, TryAllParameters(t), *result); !treated) {
            return treated;
        }
        return SaveImage(output, *result, ImageFormat::Bitmap);
    }
    // One more streamed pass over the file per method; its warnings were
    // said when the histogram was counted.
    std::string warnings;
    auto opened = OpenInput(input, warnings);
    if (!opened) {
        return opened.error();
    }
    if (!opened->Lines) {
        return Error{"the input " + input.Name + " could not be read again"};
    }
    TreatedLines treated(*opened->Lines, TryAllParameters(t));
    return SaveImageLines(output, treated, ImageFormat::Bitmap);
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
        const ImageInput described = DescribeInput(input, options.Size, options.Strict);
        const auto counted = CountInput(described);
        if (!counted) {
            ReportInputFailure(input, counted.error().message);
            ++failures;
            continue;
        }
        const Histogram& counts = counted->Counts;
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
            } else if (auto saved = WriteTryAll(described, *counted, *t, output); !saved) {
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
