#include "commands.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "imagefiles.h"
#include "kavel/statistics.h"
#include "kavel/treatment.h"
#include "suggest.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

void ReportFailure(const std::string& file, const std::string& reason) {
    std::cerr << "kavel-cli: " << file << ": " << reason << '\n';
}

// "[3/10] scene.raw" on stderr, rewritten in place, when several inputs go to
// a terminal. Failure lines clear it first so that they stay readable.
class Progress {
public:
    explicit Progress(std::size_t total) : total_(total), shown_(total > 1 && isatty(STDERR_FILENO) == 1) {}
    ~Progress() { Clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Show(std::size_t index, const fs::path& input) {
        if (!shown_) {
            return;
        }
        std::cerr << "\r\033[K[" << index + 1 << '/' << total_ << "] " << input.filename().string()
                  << std::flush;
    }
    void Fail(const std::string& file, const std::string& reason) {
        Clear();
        ReportFailure(file, reason);
    }

private:
    void Clear() {
        if (shown_) {
            std::cerr << "\r\033[K" << std::flush;
        }
    }

    std::size_t total_;
    bool shown_;
};

// A result must never replace an input of the run, nor a result written
// earlier in it (two inputs a.raw and a.bmp both give a.raw with --format raw).
Status CheckOutputs(const std::vector<std::string>& inputs, const std::vector<fs::path>& outputs,
                    const std::vector<fs::path>& writtenBefore) {
    for (const auto& output : outputs) {
        for (const auto& input : inputs) {
            if (SameFile(input, output)) {
                return Error{"the output " + output.string() + " would replace the input " + input};
            }
        }
        std::error_code ec;
        const fs::path canonical = fs::weakly_canonical(output, ec);
        for (const auto& earlier : writtenBefore) {
            if (ec ? earlier == output : earlier == canonical) {
                return Error{"the output " + output.string() + " was already written for an earlier input"};
            }
        }
    }
    return {};
}

void Remember(const std::vector<fs::path>& outputs, std::vector<fs::path>& written) {
    for (const auto& output : outputs) {
        std::error_code ec;
        const fs::path canonical = fs::weakly_canonical(output, ec);
        written.push_back(ec ? output : canonical);
    }
}

Status TreatOne(const fs::path& input, const fs::path& output, ImageFormat format,
                const TreatOptions& options, std::vector<fs::path>& written) {
    const auto outputs = FilesWrittenFor(output, format);
    if (auto checked = CheckOutputs(options.Inputs, outputs, written); !checked) {
        return checked;
    }

    // Source and result are the only full-size buffers: the source is read
    // straight into its matrix and the result written straight from its own.
    auto source = LoadImage(input, options.Size);
    if (!source) {
        return source.error();
    }
    auto result = AllocateByteMatrix(source->Columns(), source->Lines());
    if (!result) {
        return result.error();
    }
    TreatmentParameters parameters = options.Parameters;
    if (options.Auto) {
        if (auto chosen = ApplyAutoInterval(*options.Auto, *source, input.string(), parameters); !chosen) {
            return chosen;
        }
    }
    if (auto treated = ComputeTreatment(*source, parameters, *result); !treated) {
        return treated;
    }
    if (auto saved = SaveImage(output, *result, format); !saved) {
        return saved;
    }
    Remember(outputs, written);
    return {};
}

}  // namespace

int RunTreat(const TreatOptions& options) {
    if (!options.OutDir.empty()) {
        std::error_code ec;
        if (!fs::is_directory(options.OutDir, ec)) {
            ReportFailure(options.OutDir, "the output folder does not exist");
            return kExitFailure;
        }
    }

    std::vector<fs::path> written;
    std::size_t failures = 0;
    Progress progress(options.Inputs.size());
    for (std::size_t i = 0; i < options.Inputs.size(); ++i) {
        const fs::path input = options.Inputs[i];
        progress.Show(i, input);

        fs::path output;
        ImageFormat format{};
        if (!options.Output.empty()) {
            output = options.Output;
            format = *FormatOfName(options.Output);
        } else {
            format = options.Format.value_or(InputFormatOf(input));
            output = fs::path(options.OutDir) /
                     (input.stem().string() + (format == ImageFormat::Bitmap ? ".bmp" : ".raw"));
        }

        if (auto done = TreatOne(input, output, format, options, written); !done) {
            progress.Fail(options.Inputs[i], done.error().message);
            ++failures;
        }
    }
    return failures == 0 ? kExitSuccess : kExitFailure;
}

int RunHistogram(const HistogramOptions& options) {
    if (!options.Output.empty() && SameFile(options.Input, options.Output)) {
        ReportFailure(options.Input, "the output " + options.Output + " would replace the input");
        return kExitFailure;
    }
    const auto image = LoadImage(options.Input, options.Size);
    if (!image) {
        ReportFailure(options.Input, image.error().message);
        return kExitFailure;
    }
    const Histogram counts = ComputeHistogram(*image);
    if (!options.Output.empty()) {
        if (auto saved = WriteHistogramFile(options.Output, counts); !saved) {
            ReportFailure(options.Input, saved.error().message);
            return kExitFailure;
        }
        return kExitSuccess;
    }
    // Written as bytes so that the CR LF line ends reach the pipe unchanged.
    const std::string text = FormatHistogramExport(counts);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        ReportFailure(options.Input, "cannot write the histogram to standard output");
        return kExitFailure;
    }
    return kExitSuccess;
}

int RunTones(const TonesOptions& options) {
    const auto image = LoadImage(options.Input, options.Size);
    if (!image) {
        ReportFailure(options.Input, image.error().message);
        return kExitFailure;
    }
    std::cout << CountDistinctTones(*image) << '\n' << std::flush;
    if (!std::cout) {
        ReportFailure(options.Input, "cannot write to standard output");
        return kExitFailure;
    }
    return kExitSuccess;
}

int RunConvert(const ConvertOptions& options) {
    const ImageFormat format = *FormatOfName(options.Output);
    if (auto checked = CheckOutputs({options.Input}, FilesWrittenFor(options.Output, format), {}); !checked) {
        ReportFailure(options.Input, checked.error().message);
        return kExitFailure;
    }
    const auto image = LoadImage(options.Input, options.Size);
    if (!image) {
        ReportFailure(options.Input, image.error().message);
        return kExitFailure;
    }
    if (auto saved = SaveImage(options.Output, *image, format); !saved) {
        ReportFailure(options.Input, saved.error().message);
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace kavel::cli
