#include "commands.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "batch.h"
#include "imagefiles.h"
#include "kavel/statistics.h"
#include "kavel/treatment.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

// Where the result of one input goes, decided for every input before any is
// processed, so that parallel jobs cannot change what a run does.
struct PlannedOutput {
    bool ToStdout = false;
    fs::path File;
    ImageFormat Format = ImageFormat::Raw;
    std::optional<std::string> Problem;  // the input fails with it, nothing is read
};

fs::path Canonical(const fs::path& file) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(file, ec);
    return ec ? file : canonical;
}

// Everything the inputs read, as described at the start of the run.
struct RunInputs {
    std::vector<ImageInput> Inputs;
    std::vector<fs::path> ReadFiles;             // inputs and descriptors, set-aside ones included
    std::map<fs::path, std::size_t> InputNames;  // canonical names, existing or not
};

RunInputs DescribeInputs(const Batch& batch, const std::optional<ImageSize>& size) {
    RunInputs run;
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        const std::string& name = batch.Inputs()[i];
        run.Inputs.push_back(DescribeInput(name, size));
        for (auto& file : FilesReadFor(run.Inputs.back())) {
            run.ReadFiles.push_back(std::move(file));
        }
        if (name != kStandardStream) {
            run.InputNames.emplace(Canonical(name), i);
        }
    }
    return run;
}

// A result never replaces a file the run reads (an input or the descriptor
// an input is read with), nor the result of an earlier input (a.raw and
// a.bmp both give a.raw with --format raw).
void CheckPlans(const Batch& batch, const RunInputs& run, std::vector<PlannedOutput>& plans,
                bool withDescriptors) {
    std::map<fs::path, std::size_t> claimed;
    for (std::size_t i = 0; i < plans.size(); ++i) {
        PlannedOutput& plan = plans[i];
        if (batch.SetAside(i) || plan.Problem || plan.ToStdout) {
            continue;
        }
        const auto files =
            withDescriptors ? FilesWrittenFor(plan.File, plan.Format) : std::vector<fs::path>{plan.File};
        for (const auto& file : files) {
            for (const auto& read : run.ReadFiles) {
                if (SameFile(file, read)) {
                    plan.Problem = "the output " + file.string() + " would replace " + read.string() +
                                   ", which this run reads";
                    break;
                }
            }
            const fs::path canonical = Canonical(file);
            if (const auto input = run.InputNames.find(canonical);
                !plan.Problem && input != run.InputNames.end()) {
                plan.Problem = "the output " + file.string() + " would replace " +
                               batch.Inputs()[input->second] + ", which this run reads";
            }
            if (const auto earlier = claimed.find(canonical); !plan.Problem && earlier != claimed.end()) {
                plan.Problem = "the output " + file.string() + " is also the result of " +
                               batch.Inputs()[earlier->second] + ", an earlier input";
            }
            if (plan.Problem) {
                break;
            }
        }
        if (!plan.Problem) {
            for (const auto& file : files) {
                claimed.emplace(Canonical(file), i);
            }
        }
    }
}

std::string FormatWord(ImageFormat format) {
    return format == ImageFormat::Raw ? "raw" : "bmp";
}

// The result of one input in an output folder: the --name template, or the
// input's stem with the extension of the kind written.
PlannedOutput PlanInFolder(const std::string& outDir, const std::string& nameTemplate,
                           std::optional<ImageFormat> format, const ImageInput& input) {
    PlannedOutput plan;
    if (nameTemplate.empty()) {
        plan.Format = format.value_or(input.Kind);
        plan.File = fs::path(outDir) / (ExpandNameTemplate("{stem}", input.Name) +
                                        (plan.Format == ImageFormat::Bitmap ? ".bmp" : ".raw"));
        return plan;
    }
    const std::string name = ExpandNameTemplate(nameTemplate, input.Name);
    plan.File = fs::path(outDir) / name;
    const auto named = FormatOfName(name);
    plan.Format = format.value_or(named.value_or(input.Kind));
    if (named && *named != plan.Format) {
        plan.Problem = "--name gives " + name + ", but --format is " + FormatWord(plan.Format);
    }
    if (name.empty() || name == "." || name == "..") {
        plan.Problem = "--name gives no file name for it";
    }
    return plan;
}

// Loads input index of the run, its warnings in the report; none on failure.
std::optional<ByteMatrix> LoadFor(const RunInputs& run, std::size_t index, InputReport& report) {
    std::string warnings;
    auto image = LoadImage(run.Inputs[index], warnings);
    report.Err += warnings;
    if (!image) {
        report.Fail(InputDisplayName(run.Inputs[index].Name), image.error().message);
        return std::nullopt;
    }
    return std::move(*image);
}

InputOutcome Fail(InputReport& report, const std::string& input, const std::string& reason) {
    report.Fail(InputDisplayName(input), reason);
    return InputOutcome::Failed;
}

// Writes one result where its plan says.
InputOutcome Deliver(const PlannedOutput& plan, const ByteMatrix& image, const std::string& input,
                     InputReport& report) {
    const Status saved =
        plan.ToStdout ? WriteImageToStdout(image, plan.Format) : SaveImage(plan.File, image, plan.Format);
    return saved ? InputOutcome::Done : Fail(report, input, saved.error().message);
}

// "FILE: " before every line of a result when the run has several inputs.
std::string Labelled(const Batch& batch, const std::string& input, const std::string& text) {
    if (!batch.Several()) {
        return text;
    }
    const std::string label = InputDisplayName(input) + ": ";
    std::string out;
    out.reserve(text.size() * 2);
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart) {
            out += label;
        }
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

}  // namespace

int RunTreat(const TreatOptions& options) {
    Batch batch(options.Inputs, options.Jobs);
    if (auto refused = batch.Start(options.OutDir)) {
        return *refused;
    }
    const RunInputs run = DescribeInputs(batch, options.Size);
    std::vector<PlannedOutput> plans(batch.Size());
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        if (options.Output == kStandardStream) {
            plans[i].ToStdout = true;
            plans[i].Format = *options.Format;
        } else if (!options.Output.empty()) {
            plans[i].File = options.Output;
            plans[i].Format = *FormatOfName(options.Output);
        } else {
            plans[i] = PlanInFolder(options.OutDir, options.NameTemplate, options.Format, run.Inputs[i]);
        }
    }
    CheckPlans(batch, run, plans, true);

    return batch.Run([&](std::size_t i, InputReport& report) {
        const std::string& input = batch.Inputs()[i];
        if (plans[i].Problem) {
            return Fail(report, input, *plans[i].Problem);
        }
        // Source and result are the only full-size buffers: the source is read
        // straight into its matrix and the result written straight from its own.
        auto source = LoadFor(run, i, report);
        if (!source) {
            return InputOutcome::Failed;
        }
        auto result = AllocateByteMatrix(source->Columns(), source->Lines());
        if (!result) {
            return Fail(report, input, result.error().message);
        }
        if (auto treated = ComputeTreatment(*source, options.Parameters, *result); !treated) {
            return Fail(report, input, treated.error().message);
        }
        source.reset();
        return Deliver(plans[i], *result, input, report);
    });
}

int RunHistogram(const HistogramOptions& options) {
    Batch batch(options.Inputs, options.Jobs);
    if (auto refused = batch.Start(options.OutDir)) {
        return *refused;
    }
    const RunInputs run = DescribeInputs(batch, options.Size);
    std::vector<PlannedOutput> plans(batch.Size());
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        if (options.Output.empty() || options.Output == kStandardStream) {
            if (options.OutDir.empty()) {
                plans[i].ToStdout = true;
                continue;
            }
            const std::string name = ExpandNameTemplate(
                options.NameTemplate.empty() ? "{stem}.xls" : options.NameTemplate, run.Inputs[i].Name);
            plans[i].File = fs::path(options.OutDir) / name;
        } else {
            plans[i].File = options.Output;
        }
    }
    CheckPlans(batch, run, plans, false);

    return batch.Run([&](std::size_t i, InputReport& report) {
        const std::string& input = batch.Inputs()[i];
        if (plans[i].Problem) {
            return Fail(report, input, *plans[i].Problem);
        }
        const auto image = LoadFor(run, i, report);
        if (!image) {
            return InputOutcome::Failed;
        }
        const Histogram counts = ComputeHistogram(*image);
        if (plans[i].ToStdout) {
            // Kept as bytes so that the CR LF line ends reach the pipe unchanged.
            report.Out = Labelled(batch, input, FormatHistogramExport(counts));
            return InputOutcome::Done;
        }
        const Status saved = WriteHistogramFile(plans[i].File, counts);
        return saved ? InputOutcome::Done : Fail(report, input, saved.error().message);
    });
}

int RunTones(const TonesOptions& options) {
    Batch batch(options.Inputs, options.Jobs);
    if (auto refused = batch.Start({})) {
        return *refused;
    }
    const RunInputs run = DescribeInputs(batch, options.Size);
    return batch.Run([&](std::size_t i, InputReport& report) {
        const auto image = LoadFor(run, i, report);
        if (!image) {
            return InputOutcome::Failed;
        }
        report.Out = Labelled(batch, batch.Inputs()[i], std::to_string(CountDistinctTones(*image)) + "\n");
        return InputOutcome::Done;
    });
}

int RunConvert(const ConvertOptions& options) {
    Batch batch({options.Input}, 1);
    if (auto refused = batch.Start({})) {
        return *refused;
    }
    const RunInputs run = DescribeInputs(batch, options.Size);
    std::vector<PlannedOutput> plans(1);
    if (options.Output == kStandardStream) {
        plans[0].ToStdout = true;
        plans[0].Format = *options.Format;
    } else {
        plans[0].File = options.Output;
        plans[0].Format = *FormatOfName(options.Output);
    }
    CheckPlans(batch, run, plans, true);

    return batch.Run([&](std::size_t i, InputReport& report) {
        if (plans[i].Problem) {
            return Fail(report, options.Input, *plans[i].Problem);
        }
        const auto image = LoadFor(run, i, report);
        if (!image) {
            return InputOutcome::Failed;
        }
        return Deliver(plans[i], *image, options.Input, report);
    });
}

}  // namespace kavel::cli
