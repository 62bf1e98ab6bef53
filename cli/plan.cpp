#include "plan.h"

#include <sys/stat.h>

#include <system_error>
#include <utility>

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

fs::path Canonical(const fs::path& file) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(file, ec);
    return ec ? file : canonical;
}

std::optional<FileId> IdOf(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return FileId{status.st_dev, status.st_ino};
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

}  // namespace

RunInputs DescribeInputs(const Batch& batch, const std::optional<ImageSize>& size, bool strict) {
    RunInputs run;
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        const std::string& name = batch.Inputs()[i];
        run.Inputs.push_back(DescribeInput(name, size, strict));
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

RunPlan PlanRun(const Batch& batch, const std::optional<ImageSize>& size, bool strict) {
    return RunPlan{batch, DescribeInputs(batch, size, strict), std::vector<PlannedOutput>(batch.Size())};
}

}  // namespace kavel::cli
