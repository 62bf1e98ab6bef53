#include "commands.h"

#include <sys/stat.h>

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
#include "kavel/stream.h"
#include "kavel/treatment.h"
#include "suggest.h"

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

// A file as the system knows it, whatever name leads to it.
using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> IdOf(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return FileId{status.st_dev, status.st_ino};
}

// Everything the inputs read, as described at the start of the run. Each
// file is looked at once, so that planning N outputs costs N log N.
struct RunInputs {
    std::vector<ImageInput> Inputs;
    std::map<FileId, fs::path> ReadFiles;        // inputs and descriptors, set-aside ones included
    std::map<fs::path, std::size_t> InputNames;  // canonical names, existing or not
};

RunInputs DescribeInputs(const Batch& batch, const std::optional<ImageSize>& size) {
    RunInputs run;
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        const std::string& name = batch.Inputs()[i];
        run.Inputs.push_back(DescribeInput(name, size));
        for (auto& file : FilesReadFor(run.Inputs.back())) {
            if (const auto id = IdOf(file)) {
                run.ReadFiles.emplace(*id, std::move(file));
            }
        }
        if (name != kStandardStream) {
            run.InputNames.emplace(Canonical(name), i);
        }
    }
    return run;
}

// What keeps one file of a plan from being written, if anything.
std::optional<std::string> FileProblem(const Batch& batch, const RunInputs& run, const fs::path& file,
                                       const fs::path& canonical,
                                       const std::map<fs::path, std::size_t>& claimed, bool force) {
    if (const auto id = IdOf(file)) {
        if (const auto read = run.ReadFiles.find(*id); read != run.ReadFiles.end()) {
            return "the output " + file.string() + " would replace " + read->second.string() +
                   ", which this run reads";
        }
    }
    if (const auto input = run.InputNames.find(canonical); input != run.InputNames.end()) {
        return "the output " + file.string() + " would replace " + batch.Inputs()[input->second] +
               ", which this run reads";
    }
    if (const auto earlier = claimed.find(canonical); earlier != claimed.end()) {
        return "the output " + file.string() + " is also the result of " + batch.Inputs()[earlier->second] +
               ", an earlier input";
    }
    return ReplaceProblem(file, force);
}

// A result never replaces a file the run reads (an input or the descriptor
// an input is read with), nor the result of an earlier input (a.raw and
// a.bmp both give a.raw with --format raw), nor a read-only file unless
// force.
void CheckPlans(const Batch& batch, const RunInputs& run, std::vector<PlannedOutput>& plans,
                bool withDescriptors, bool force) {
    std::map<fs::path, std::size_t> claimed;
    for (std::size_t i = 0; i < plans.size(); ++i) {
        PlannedOutput& plan = plans[i];
        if (batch.SetAside(i) || plan.Problem || plan.ToStdout) {
            continue;
        }
        const auto files =
            withDescriptors ? FilesWrittenFor(plan.File, plan.Format) : std::vector<fs::path>{plan.File};
        std::vector<fs::path> canonical;
        for (const auto& file : files) {
            canonical.push_back(Canonical(file));
            plan.Problem = FileProblem(batch, run, file, canonical.back(), claimed, force);
            if (plan.Problem) {
                break;
            }
        }
        if (!plan.Problem) {
            for (auto& name : canonical) {
                claimed.emplace(std::move(name), i);
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

// Opens a named input of the run as lines, its warnings in the report; none
// on failure.
std::optional<LineSource> OpenFor(const RunInputs& run, std::size_t index, InputReport& report) {
    std::string warnings;
    auto source = OpenImageLines(run.Inputs[index], warnings);
    report.Err += warnings;
    if (!source) {
        report.Fail(InputDisplayName(run.Inputs[index].Name), source.error().message);
        return std::nullopt;
    }
    return std::move(*source);
}

// Writes one result where its plan says.
InputOutcome Deliver(const PlannedOutput& plan, const ByteMatrix& image, const std::string& input,
                     InputReport& report) {
    const Status saved =
        plan.ToStdout ? WriteImageToStdout(image, plan.Format) : SaveImage(plan.File, image, plan.Format);
    return saved ? InputOutcome::Done : Fail(report, input, saved.error().message);
}

// The same, from lines given a band at a time.
InputOutcome DeliverLines(const PlannedOutput& plan, LineProducer& lines, const std::string& input,
                          InputReport& report) {
    const Status saved = plan.ToStdout ? WriteLinesToStdout(lines, plan.Format)
                                       : SaveImageLines(plan.File, lines, plan.Format);
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

// What each command's "process one input" gets besides its options: the
// inputs as described at the start of the run and where each result goes.
struct RunPlan {
    const Batch& Inputs;
    RunInputs Run;
    std::vector<PlannedOutput> Outputs;
};

RunPlan PlanRun(const Batch& batch, const std::optional<ImageSize>& size) {
    return RunPlan{batch, DescribeInputs(batch, size), std::vector<PlannedOutput>(batch.Size())};
}

// --auto: sets the interval from the input's histogram. The line that reports
// it goes to standard output, or to standard error when the image does.
bool ChooseInterval(const TreatOptions& options, const RunPlan& plan, std::size_t i,
                    const Histogram& histogram, TreatmentParameters& parameters, InputReport& report) {
    const std::string& input = plan.Inputs.Inputs()[i];
    const auto line = ApplyAutoInterval(*options.Auto, histogram, InputDisplayName(input), parameters);
    if (!line) {
        Fail(report, input, line.error().message);
        return false;
    }
    (plan.Outputs[i].ToStdout ? report.Err : report.Out) += *line;
    return true;
}

InputOutcome TreatInput(const TreatOptions& options, const RunPlan& plan, std::size_t i,
                        InputReport& report) {
    const std::string& input = plan.Inputs.Inputs()[i];
    if (plan.Outputs[i].Problem) {
        return Fail(report, input, *plan.Outputs[i].Problem);
    }
    if (!plan.Run.Inputs[i].Stdin) {
        // A named file is read, treated and written a band of lines at a
        // time, so memory does not grow with the image.
        auto source = OpenFor(plan.Run, i, report);
        if (!source) {
            return InputOutcome::Failed;
        }
        TreatmentParameters parameters = options.Parameters;
        if (options.Auto) {
            // A first pass for the histogram, from a source of its own.
            auto counted = OpenFor(plan.Run, i, report);
            if (!counted) {
                return InputOutcome::Failed;
            }
            auto histogram = StreamHistogram(*counted);
            if (!histogram) {
                return Fail(report, input, histogram.error().message);
            }
            if (!ChooseInterval(options, plan, i, *histogram, parameters, report)) {
                return InputOutcome::Failed;
            }
        }
        TreatedLines treated(*source, parameters);
        return DeliverLines(plan.Outputs[i], treated, input, report);
    }
    // Standard input cannot be read twice or sought, so it is read whole:
    // source and result are then the only full-size buffers.
    auto source = LoadFor(plan.Run, i, report);
    if (!source) {
        return InputOutcome::Failed;
    }
    TreatmentParameters parameters = options.Parameters;
    if (options.Auto && !ChooseInterval(options, plan, i, ComputeHistogram(*source), parameters, report)) {
        return InputOutcome::Failed;
    }
    auto result = AllocateByteMatrix(source->Columns(), source->Lines());
    if (!result) {
        return Fail(report, input, result.error().message);
    }
    if (auto treated = ComputeTreatment(*source, parameters, *result); !treated) {
        return Fail(report, input, treated.error().message);
    }
    source.reset();
    return Deliver(plan.Outputs[i], *result, input, report);
}

// A count over one input: streamed from a named file, over the whole image
// from standard input. None on failure, said in the report.
template <class Count, class Streamed, class Whole>
std::optional<Count> CountTones(const RunInputs& run, std::size_t i, InputReport& report,
                                const Streamed& streamed, const Whole& whole) {
    if (run.Inputs[i].Stdin) {
        const auto image = LoadFor(run, i, report);
        if (!image) {
            return std::nullopt;
        }
        return whole(*image);
    }
    auto source = OpenFor(run, i, report);
    if (!source) {
        return std::nullopt;
    }
    auto counted = streamed(*source);
    if (!counted) {
        Fail(report, run.Inputs[i].Name, counted.error().message);
        return std::nullopt;
    }
    return std::move(*counted);
}

InputOutcome HistogramInput(const RunPlan& plan, std::size_t i, InputReport& report) {
    const std::string& input = plan.Inputs.Inputs()[i];
    const PlannedOutput& output = plan.Outputs[i];
    if (output.Problem) {
        return Fail(report, input, *output.Problem);
    }
    const auto counted = CountTones<Histogram>(
        plan.Run, i, report, [](LineSource& source) { return StreamHistogram(source); },
        [](const ByteMatrix& image) { return ComputeHistogram(image); });
    if (!counted) {
        return InputOutcome::Failed;
    }
    const Histogram& counts = *counted;
    if (output.ToStdout) {
        // Kept as bytes so that the CR LF line ends reach the pipe unchanged.
        report.Out = Labelled(plan.Inputs, input, FormatHistogramExport(counts));
        return InputOutcome::Done;
    }
    const Status saved = WriteHistogramFile(output.File, counts);
    return saved ? InputOutcome::Done : Fail(report, input, saved.error().message);
}

InputOutcome TonesInput(const RunPlan& plan, std::size_t i, InputReport& report) {
    const auto tones = CountTones<int>(
        plan.Run, i, report, [](LineSource& source) { return StreamDistinctTones(source); },
        [](const ByteMatrix& image) { return CountDistinctTones(image); });
    if (!tones) {
        return InputOutcome::Failed;
    }
    report.Out = Labelled(plan.Inputs, plan.Inputs.Inputs()[i], std::to_string(*tones) + "\n");
    return InputOutcome::Done;
}

InputOutcome ConvertInput(const RunPlan& plan, std::size_t i, InputReport& report) {
    const std::string& input = plan.Inputs.Inputs()[i];
    if (plan.Outputs[i].Problem) {
        return Fail(report, input, *plan.Outputs[i].Problem);
    }
    if (!plan.Run.Inputs[i].Stdin) {
        auto source = OpenFor(plan.Run, i, report);
        if (!source) {
            return InputOutcome::Failed;
        }
        return DeliverLines(plan.Outputs[i], *source, input, report);
    }
    const auto image = LoadFor(plan.Run, i, report);
    if (!image) {
        return InputOutcome::Failed;
    }
    return Deliver(plan.Outputs[i], *image, input, report);
}

// The output that names itself: a file whose extension gives the kind, or
// standard output in the kind given.
PlannedOutput NamedOutput(const std::string& output, std::optional<ImageFormat> format) {
    PlannedOutput plan;
    if (output == kStandardStream) {
        plan.ToStdout = true;
        plan.Format = *format;
    } else {
        plan.File = output;
        plan.Format = *FormatOfName(output);
    }
    return plan;
}

}  // namespace

int RunTreat(const TreatOptions& options) {
    Batch batch(options.Inputs, options.Jobs, {options.Quiet, options.Progress});
    if (auto refused = batch.Start(options.OutDir)) {
        return *refused;
    }
    RunPlan plan = PlanRun(batch, options.Size);
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        plan.Outputs[i] = options.OutDir.empty() ? NamedOutput(options.Output, options.Format)
                                                 : PlanInFolder(options.OutDir, options.NameTemplate,
                                                                options.Format, plan.Run.Inputs[i]);
    }
    CheckPlans(batch, plan.Run, plan.Outputs, true, options.Force);
    return batch.Run(
        [&](std::size_t i, InputReport& report) { return TreatInput(options, plan, i, report); });
}

int RunHistogram(const HistogramOptions& options) {
    Batch batch(options.Inputs, options.Jobs, {options.Quiet, options.Progress});
    if (auto refused = batch.Start(options.OutDir)) {
        return *refused;
    }
    RunPlan plan = PlanRun(batch, options.Size);
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        PlannedOutput& output = plan.Outputs[i];
        if (!options.OutDir.empty()) {
            const std::string& name =
                options.NameTemplate.empty() ? std::string("{stem}.xls") : options.NameTemplate;
            output.File = fs::path(options.OutDir) / ExpandNameTemplate(name, plan.Run.Inputs[i].Name);
        } else if (options.Output.empty() || options.Output == kStandardStream) {
            output.ToStdout = true;
        } else {
            output.File = options.Output;
        }
    }
    CheckPlans(batch, plan.Run, plan.Outputs, false, options.Force);
    return batch.Run([&](std::size_t i, InputReport& report) { return HistogramInput(plan, i, report); });
}

int RunTones(const TonesOptions& options) {
    Batch batch(options.Inputs, options.Jobs, {options.Quiet, options.Progress});
    if (auto refused = batch.Start({})) {
        return *refused;
    }
    const RunPlan plan = PlanRun(batch, options.Size);
    return batch.Run([&](std::size_t i, InputReport& report) { return TonesInput(plan, i, report); });
}

int RunConvert(const ConvertOptions& options) {
    Batch batch(options.Inputs, options.OutDir.empty() ? 1 : options.Jobs, {options.Quiet, options.Progress});
    if (auto refused = batch.Start(options.OutDir)) {
        return *refused;
    }
    RunPlan plan = PlanRun(batch, options.Size);
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        plan.Outputs[i] = options.OutDir.empty() ? NamedOutput(options.Output, options.Format)
                                                 : PlanInFolder(options.OutDir, options.NameTemplate,
                                                                options.Format, plan.Run.Inputs[i]);
    }
    CheckPlans(batch, plan.Run, plan.Outputs, true, options.Force);
    return batch.Run([&](std::size_t i, InputReport& report) { return ConvertInput(plan, i, report); });
}

}  // namespace kavel::cli
