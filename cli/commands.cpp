#include "commands.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "imagefiles.h"
#include "kavel/statistics.h"
#include "kavel/stream.h"
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

// A result must never replace a file the run reads (an input or the
// descriptor an input is read with), nor a result written earlier in it (two
// inputs a.raw and a.bmp both give a.raw with --format raw).
Status CheckOutputs(const std::vector<fs::path>& read, const std::vector<fs::path>& outputs,
                    const std::vector<fs::path>& writtenBefore) {
    for (const auto& output : outputs) {
        for (const auto& input : read) {
            if (SameFile(input, output)) {
                return Error{"the output " + output.string() + " would replace " + input.string() +
                             ", which this run reads"};
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

// Every file the run reads, gathered before anything is written.
std::vector<fs::path> FilesTheRunReads(const std::vector<std::string>& inputs,
                                       const std::optional<ImageSize>& size) {
    std::vector<fs::path> files;
    for (const auto& input : inputs) {
        for (auto& file : FilesReadFor(input, size)) {
            files.push_back(std::move(file));
        }
    }
    return files;
}

void Remember(const std::vector<fs::path>& outputs, std::vector<fs::path>& written) {
    for (const auto& output : outputs) {
        std::error_code ec;
        const fs::path canonical = fs::weakly_canonical(output, ec);
        written.push_back(ec ? output : canonical);
    }
}

Status TreatOne(const fs::path& input, const fs::path& output, ImageFormat format,
                const TreatOptions& options, const std::vector<fs::path>& read,
                std::vector<fs::path>& written) {
    const auto outputs = FilesWrittenFor(output, format);
    if (auto checked = CheckOutputs(read, outputs, written); !checked) {
        return checked;
    }

    // The image is read, treated and written a band of lines at a time, so
    // memory does not grow with it.
    auto source = OpenImageLines(input, options.Size);
    if (!source) {
        return source.error();
    }
    TreatmentParameters parameters = options.Parameters;
    if (options.Auto) {
        // A first pass for the histogram, from a source of its own.
        auto counted = OpenImageLines(input, options.Size);
        if (!counted) {
            return counted.error();
        }
        auto histogram = StreamHistogram(*counted);
        if (!histogram) {
            return histogram.error();
        }
        if (auto chosen = ApplyAutoInterval(*options.Auto, *histogram, input.string(), parameters); !chosen) {
            return chosen;
        }
    }
    TreatedLines treated(*source, parameters);
    if (auto saved = SaveImageLines(output, treated, format); !saved) {
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

    const std::vector<fs::path> read = FilesTheRunReads(options.Inputs, options.Size);
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

        if (auto done = TreatOne(input, output, format, options, read, written); !done) {
            progress.Fail(options.Inputs[i], done.error().message);
            ++failures;
        }
    }
    return failures == 0 ? kExitSuccess : kExitFailure;
}

int RunHistogram(const HistogramOptions& options) {
    if (!options.Output.empty()) {
        if (auto checked = CheckOutputs(FilesReadFor(options.Input, options.Size), {options.Output}, {});
            !checked) {
            ReportFailure(options.Input, checked.error().message);
            return kExitFailure;
        }
    }
    auto source = OpenImageLines(options.Input, options.Size);
    if (!source) {
        ReportFailure(options.Input, source.error().message);
        return kExitFailure;
    }
    const auto streamed = StreamHistogram(*source);
    if (!streamed) {
        ReportFailure(options.Input, streamed.error().message);
        return kExitFailure;
    }
    const Histogram& counts = *streamed;
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
    auto source = OpenImageLines(options.Input, options.Size);
    if (!source) {
        ReportFailure(options.Input, source.error().message);
        return kExitFailure;
    }
    const auto tones = StreamDistinctTones(*source);
    if (!tones) {
        ReportFailure(options.Input, tones.error().message);
        return kExitFailure;
    }
    std::cout << *tones << '\n' << std::flush;
    if (!std::cout) {
        ReportFailure(options.Input, "cannot write to standard output");
        return kExitFailure;
    }
    return kExitSuccess;
}

int RunConvert(const ConvertOptions& options) {
    const ImageFormat format = *FormatOfName(options.Output);
    if (auto checked = CheckOutputs(FilesReadFor(options.Input, options.Size),
                                    FilesWrittenFor(options.Output, format), {});
        !checked) {
        ReportFailure(options.Input, checked.error().message);
        return kExitFailure;
    }
    auto source = OpenImageLines(options.Input, options.Size);
    if (!source) {
        ReportFailure(options.Input, source.error().message);
        return kExitFailure;
    }
    if (auto saved = SaveImageLines(options.Output, *source, format); !saved) {
        ReportFailure(options.Input, saved.error().message);
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace kavel::cli
