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
#include "kavel/stream.h"
#include "kavel/treatment.h"
#include "plan.h"
#include "suggest.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

InputOutcome Fail(InputReport& report, const std::string& input, const std::string& reason) {
    report.Fail(InputDisplayName(input), reason);
    return InputOutcome::Failed;
}

// Opens input index of the run, as lines where it can be streamed, its
// warnings in the report; none on failure.
std::optional<OpenedInput> OpenFor(const RunInputs& run, std::size_t index, InputReport& report) {
    std::string warnings;
    auto source = OpenInput(run.Inputs[index], warnings);
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

// Standard input and converted inputs are held whole: source and result are
// then the only full-size buffers.
InputOutcome TreatWhole(const TreatOptions& options, const RunPlan& plan, std::size_t i, ByteMatrix source,
                        InputReport& report) {
    const std::string& input = plan.Inputs.Inputs()[i];
    TreatmentParameters parameters = options.Parameters;
    if (options.Auto && !ChooseInterval(options, plan, i, ComputeHistogram(source), parameters, report)) {
        return InputOutcome::Failed;
    }
    auto result = AllocateByteMatrix(source.Columns(), source.Lines());
    if (!result) {
        return Fail(report, input, result.error().message);
    }
    if (auto treated = ComputeTreatment(source, parameters, *result); !treated) {
        return Fail(report, input, treated.error().message);
    }
    source = ByteMatrix();
    return Deliver(plan.Outputs[i], *result, input, report);
}

// The input of a command that writes a result; none when its output has a
// problem or it cannot be opened, said in the report.
std::optional<OpenedInput> OpenWithOutput(const RunPlan& plan, std::size_t i, InputReport& report) {
    if (plan.Outputs[i].Problem) {
        Fail(report, plan.Inputs.Inputs()[i], *plan.Outputs[i].Problem);
        return std::nullopt;
    }
    return OpenFor(plan.Run, i, report);
}

InputOutcome TreatInput(const TreatOptions& options, const RunPlan& plan, std::size_t i,
                        InputReport& report) {
    const std::string& input = plan.Inputs.Inputs()[i];
    auto opened = OpenWithOutput(plan, i, report);
    if (!opened) {
        return InputOutcome::Failed;
    }
    if (!opened->Lines) {
        return TreatWhole(options, plan, i, std::move(opened->Whole), report);
    }
    // A file is read, treated and written a band of lines at a time, so
    // memory does not grow with the image.
    LineSource& source = *opened->Lines;
    TreatmentParameters parameters = options.Parameters;
    if (options.Auto) {
        // A first pass for the histogram.
        auto histogram = StreamHistogram(source);
        if (!histogram) {
            return Fail(report, input, histogram.error().message);
        }
        if (!ChooseInterval(options, plan, i, *histogram, parameters, report)) {
            return InputOutcome::Failed;
        }
    }
    TreatedLines treated(source, parameters);
    return DeliverLines(plan.Outputs[i], treated, input, report);
}

// A count over one input: streamed from a file, over the whole image from
// standard input or a converted input. None on failure, said in the report.
template <class Count, class Streamed, class Whole>
std::optional<Count> CountTones(const RunInputs& run, std::size_t i, InputReport& report,
                                const Streamed& streamed, const Whole& whole) {
    auto opened = OpenFor(run, i, report);
    if (!opened) {
        return std::nullopt;
    }
    if (!opened->Lines) {
        return whole(opened->Whole);
    }
    auto counted = streamed(*opened->Lines);
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
    auto opened = OpenWithOutput(plan, i, report);
    if (!opened) {
        return InputOutcome::Failed;
    }
    if (opened->Lines) {
        return DeliverLines(plan.Outputs[i], *opened->Lines, input, report);
    }
    return Deliver(plan.Outputs[i], opened->Whole, input, report);
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
    RunPlan plan = PlanRun(batch, options.Size, options.Strict);
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
    RunPlan plan = PlanRun(batch, options.Size, options.Strict);
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
    const RunPlan plan = PlanRun(batch, options.Size, options.Strict);
    return batch.Run([&](std::size_t i, InputReport& report) { return TonesInput(plan, i, report); });
}

int RunConvert(const ConvertOptions& options) {
    Batch batch(options.Inputs, options.OutDir.empty() ? 1 : options.Jobs, {options.Quiet, options.Progress});
    if (auto refused = batch.Start(options.OutDir)) {
        return *refused;
    }
    RunPlan plan = PlanRun(batch, options.Size, options.Strict);
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        plan.Outputs[i] = options.OutDir.empty() ? NamedOutput(options.Output, options.Format)
                                                 : PlanInFolder(options.OutDir, options.NameTemplate,
                                                                options.Format, plan.Run.Inputs[i]);
    }
    CheckPlans(batch, plan.Run, plan.Outputs, true, options.Force);
    return batch.Run([&](std::size_t i, InputReport& report) { return ConvertInput(plan, i, report); });
}

}  // namespace kavel::cli
