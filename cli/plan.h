// Where the results of a run go, decided for every input before any is
// processed, so that parallel jobs cannot change what a run does: a result
// never replaces a file the run reads, the result of an earlier input or,
// unless --force, a read-only file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "args.h"
#include "batch.h"
#include "imagefiles.h"

namespace kavel::cli {

struct PlannedOutput {
    bool ToStdout = false;
    std::filesystem::path File;
    ImageFormat Format = ImageFormat::Raw;
    std::optional<std::string> Problem;  // the input fails with it, nothing is read
};

// A file as the system knows it, whatever name leads to it.
using FileId = std::pair<dev_t, ino_t>;

// Everything the inputs read, as described at the start of the run. Each
// file is looked at once, so that planning N outputs costs N log N.
struct RunInputs {
    std::vector<ImageInput> Inputs;
    std::map<FileId, std::filesystem::path> ReadFiles;  // inputs and descriptors, set-aside ones included
    std::map<std::filesystem::path, std::size_t> InputNames;  // canonical names, existing or not
};

RunInputs DescribeInputs(const Batch& batch, const std::optional<ImageSize>& size, bool strict = false);

// Sets the Problem of each plan that must not be written. withDescriptors:
// a raw result is written with its descriptor.
void CheckPlans(const Batch& batch, const RunInputs& run, std::vector<PlannedOutput>& plans,
                bool withDescriptors, bool force);

std::string FormatWord(ImageFormat format);

// The result of one input in an output folder: the --name template, or the
// input's stem with the extension of the kind written.
PlannedOutput PlanInFolder(const std::string& outDir, const std::string& nameTemplate,
                           std::optional<ImageFormat> format, const ImageInput& input);

// What each command's "process one input" gets besides its options: the
// inputs as described at the start of the run and where each result goes.
struct RunPlan {
    const Batch& Inputs;
    RunInputs Run;
    std::vector<PlannedOutput> Outputs;
};

RunPlan PlanRun(const Batch& batch, const std::optional<ImageSize>& size, bool strict = false);

}  // namespace kavel::cli
