#include "batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "args.h"
#include "imagefiles.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

bool WriteAll(std::FILE* stream, std::string_view text) {
    if (text.empty()) {
        return true;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    return std::fflush(stream) == 0 && written;
}

// "[3/10] scene.raw" on stderr, rewritten in place, when several inputs go to
// a terminal. Anything else written to stderr clears it first.
class Progress {
public:
    explicit Progress(std::size_t total) : total_(total), shown_(total > 1 && isatty(STDERR_FILENO) == 1) {}
    ~Progress() { Clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Show(std::size_t index, const std::string& input) {
        if (shown_) {
            const std::string line = "\r\033[K[" + std::to_string(index + 1) + "/" + std::to_string(total_) +
                                     "] " + fs::path(input).filename().string();
            WriteAll(stderr, line);
        }
    }
    void Clear() {
        if (shown_) {
            WriteAll(stderr, "\r\033[K");
        }
    }

private:
    std::size_t total_;
    bool shown_;
};

InputOutcome Call(const ProcessInput& process, std::size_t index, const std::string& input,
                  InputReport& report) {
    try {
        return process(index, report);
    } catch (const std::bad_alloc&) {
        report.Fail(InputDisplayName(input), "not enough memory");
    } catch (const std::exception& e) {
        report.Fail(InputDisplayName(input), e.what());
    }
    return InputOutcome::Failed;
}

}  // namespace

void InputReport::Fail(std::string_view file, std::string_view reason) {
    Err += "kavel-cli: ";
    Err += file;
    Err += ": ";
    Err += reason;
    Err += '\n';
}

std::string InputDisplayName(std::string_view input) {
    return input == kStandardStream ? std::string("standard input") : std::string(input);
}

unsigned ThreadsFor(unsigned jobs, std::size_t inputs) {
    if (jobs == 0) {
        jobs = std::max(1u, std::thread::hardware_concurrency());
    }
    return static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(inputs, 1)));
}

Batch::Batch(std::vector<std::string> inputs, unsigned jobs)
    : inputs_(std::move(inputs)), jobs_(jobs), start_(std::chrono::steady_clock::now()) {
    setAside_.reserve(inputs_.size());
    for (const auto& input : inputs_) {
        if (auto image = DescribedImageOf(input)) {
            setAside_.emplace_back("kavel-cli: " + input + " is the descriptor of " + *image + "\n");
        } else if (IsTextDocument(input)) {
            setAside_.emplace_back("kavel-cli: " + input + " is a text file, not an image\n");
        } else {
            setAside_.emplace_back();
        }
    }
}

int Batch::Refuse(std::string_view file, std::string_view reason) {
    InputReport report;
    report.Fail(file, reason);
    WriteAll(stderr, report.Err);
    return 2;
}

std::optional<int> Batch::Start(const std::string& outDir) {
    if (std::none_of(setAside_.begin(), setAside_.end(),
                     [](const auto& line) { return !line.has_value(); })) {
        for (const auto& line : setAside_) {
            WriteAll(stderr, *line);
        }
        WriteAll(stderr, "kavel-cli: no image among the inputs\n");
        return 2;
    }
    if (outDir.empty()) {
        return std::nullopt;
    }
    return MakeOutputFolder(outDir);
}

std::optional<int> MakeOutputFolder(const std::string& outDir) {
    std::error_code ec;
    if (fs::exists(outDir, ec) && !fs::is_directory(outDir, ec)) {
        return Batch::Refuse(outDir, "the output folder is a file, not a folder");
    }
    fs::create_directories(outDir, ec);
    if (ec) {
        return Batch::Refuse(outDir, "cannot create the output folder: " + ec.message());
    }
    return std::nullopt;
}

bool Batch::Emit(InputReport& report, const std::string& input) {
    const bool written = WriteAll(stdout, report.Out);
    if (!written) {
        report.Fail(InputDisplayName(input), "cannot write to standard output");
    }
    WriteAll(stderr, report.Err);
    return written;
}

int Batch::Run(const ProcessInput& process) {
    const std::size_t count = inputs_.size();
    std::size_t processed = 0;
    std::size_t failed = 0;
    std::size_t skipped = 0;
    const auto tally = [&](InputOutcome outcome) {
        processed += outcome == InputOutcome::Done ? 1 : 0;
        failed += outcome == InputOutcome::Failed ? 1 : 0;
        skipped += outcome == InputOutcome::Skipped ? 1 : 0;
    };

    Progress progress(count);
    const unsigned threads = ThreadsFor(jobs_, count);
    if (threads <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            InputReport report;
            InputOutcome outcome = InputOutcome::Skipped;
            if (setAside_[i]) {
                report.Err = *setAside_[i];
            } else {
                progress.Show(i, inputs_[i]);
                outcome = Call(process, i, inputs_[i], report);
            }
            if (!report.Err.empty()) {
                progress.Clear();
            }
            tally(Emit(report, inputs_[i]) ? outcome : InputOutcome::Failed);
        }
    } else {
        struct Slot {
            InputReport Report;
            InputOutcome Outcome = InputOutcome::Skipped;
            bool Ready = false;
        };
        std::vector<Slot> slots(count);
        std::mutex mutex;
        std::condition_variable ready;
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            for (std::size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) {
                InputReport report;
                InputOutcome outcome = InputOutcome::Skipped;
                if (setAside_[i]) {
                    report.Err = *setAside_[i];
                } else {
                    outcome = Call(process, i, inputs_[i], report);
                }
                const std::lock_guard lock(mutex);
                slots[i].Report = std::move(report);
                slots[i].Outcome = outcome;
                slots[i].Ready = true;
                ready.notify_all();
            }
        };
        std::vector<std::jthread> workers;
        workers.reserve(threads);
        for (unsigned t = 0; t < threads; ++t) {
            workers.emplace_back(work);
        }
        // Emitted in input order, each input's lines in one piece.
        for (std::size_t i = 0; i < count; ++i) {
            progress.Show(i, inputs_[i]);
            InputReport report;
            InputOutcome outcome{};
            {
                std::unique_lock lock(mutex);
                ready.wait(lock, [&] { return slots[i].Ready; });
                report = std::move(slots[i].Report);
                outcome = slots[i].Outcome;
            }
            if (!report.Err.empty()) {
                progress.Clear();
            }
            tally(Emit(report, inputs_[i]) ? outcome : InputOutcome::Failed);
        }
    }
    progress.Clear();

    if (count > 1) {
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start_;
        char summary[160];
        std::snprintf(summary, sizeof summary,
                      "kavel-cli: %zu inputs: %zu processed, %zu failed, %zu skipped, %.2f s\n", count,
                      processed, failed, skipped, took.count());
        WriteAll(stderr, summary);
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace kavel::cli
