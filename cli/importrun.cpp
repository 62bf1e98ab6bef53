// kavel-cli import as a batch like the other commands: inputs named or on
// standard input, --jobs, --name, an output folder made when missing, and
// results put in place a group at a time.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "batch.h"
#include "imagefiles.h"
#include "import.h"
#include "plan.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

// The whole file, or standard input to its end: the decoders need every byte.
Expected<std::vector<std::uint8_t>> ReadInput(const std::string& name) {
    if (name == kStandardStream) {
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(std::cin)),
                                        std::istreambuf_iterator<char>());
        if (std::cin.bad()) {
            return Error{"cannot read standard input"};
        }
        return bytes;
    }
    std::error_code ec;
    const auto status = fs::status(name, ec);
    if (!fs::exists(status)) {
        return Error{"no such file"};
    }
    if (fs::is_directory(status)) {
        return Error{"is a folder, not an image"};
    }
    // A pipe or a device could block the read forever or never end.
    if (!fs::is_regular_file(status)) {
        return Error{"is not a regular file"};
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        return Error{"cannot be opened: " + std::string(std::strerror(errno))};
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return Error{"cannot be read: " + std::string(std::strerror(errno))};
    }
    return bytes;
}

InputOutcome ImportInput(const RunPlan& plan, std::size_t i, InputReport& report) {
    const std::string& input = plan.Inputs.Inputs()[i];
    const PlannedOutput& output = plan.Outputs[i];
    const auto fail = [&](const std::string& reason) {
        report.Fail(InputDisplayName(input), reason);
        return InputOutcome::Failed;
    };
    if (output.Problem) {
        return fail(*output.Problem);
    }
    const auto bytes = ReadInput(input);
    if (!bytes) {
        return fail(bytes.error().message);
    }
    // The conversion takes standard error and Qt's message handler for the
    // process while it decodes: one decode at a time, and no line written
    // by another job meanwhile.
    const auto imported = [&] {
        const std::lock_guard held(StandardErrorLock());
        return DecodeImage(*bytes);
    }();
    if (!imported) {
        return fail(imported.error().message);
    }
    if (imported->ColourConverted) {
        report.Err += "kavel-cli: " + InputDisplayName(input) + ": note: " + imported->Description + ": " +
                      ColourNote() + "\n";
    }
    const Status saved = SaveImage(output.File, imported->Gray, output.Format);
    return saved ? InputOutcome::Done : fail(saved.error().message);
}

}  // namespace

int RunImport(const ImportOptions& options) {
    Batch batch(options.Inputs, options.Jobs, {options.Quiet, options.Progress});
    if (auto refused = batch.Start(options.OutDir)) {
        return *refused;
    }
    RunPlan plan = PlanRun(batch, std::nullopt);
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        if (options.OutDir.empty()) {
            plan.Outputs[i].File = options.Output;
            plan.Outputs[i].Format = options.Format;
        } else {
            plan.Outputs[i] =
                PlanInFolder(options.OutDir, options.NameTemplate, options.Format, plan.Run.Inputs[i]);
        }
    }
    CheckPlans(batch, plan.Run, plan.Outputs, true, options.Force);
    return batch.Run([&](std::size_t i, InputReport& report) { return ImportInput(plan, i, report); });
}

}  // namespace kavel::cli
