#include "batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
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
#include "kavel/safefile.h"

namespace kavel::cli {

namespace fs = std::filesystem;

std::mutex& StandardErrorLock() {
    static std::mutex lock;
    return lock;
}

namespace {

bool WriteAll(std::FILE* stream, std::string_view text) {
    if (text.empty()) {
        return true;
    }
    std::unique_lock<std::mutex> held;
    if (stream == stderr) {
        held = std::unique_lock(StandardErrorLock());
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    return std::fflush(stream) == 0 && written;
}

// "[300/10000] scene.raw  412/s, 23 s left" on stderr, rewritten in place
// at most ten times a second (and for the first and last input). Anything
// else written to stderr clears it first.
class Progress {
public:
    Progress(std::size_t total, const BatchReporting& reporting)
        : total_(total),
          shown_(total > 1 && !reporting.Quiet && (reporting.Progress || isatty(STDERR_FILENO) == 1)),
          start_(std::chrono::steady_clock::now()) {}
    ~Progress() { Clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Input index is being processed; index inputs are done.
    void Show(std::size_t index, const std::string& input) {
        if (!shown_) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (index != 0 && index + 1 != total_ && now - drawn_ < std::chrono::milliseconds(100)) {
            return;
        }
        drawn_ = now;
        std::string line = "\r\033[K[" + std::to_string(index + 1) + "/" + std::to_string(total_) + "] " +
                           fs::path(input).filename().string();
        const double seconds = std::chrono::duration<double>(now - start_).count();
        if (index > 0 && seconds > 0) {
            const double rate = static_cast<double>(index) / seconds;
            char figures[64];
            std::snprintf(figures, sizeof figures, "  %.0f/s, %.0f s left", rate,
                          static_cast<double>(total_ - index) / rate);
            line += figures;
        }
        WriteAll(stderr, line);
    }
    void Clear() {
        if (shown_) {
            WriteAll(stderr, "\r\033[K");
        }
    }

private:
    std::size_t total_;
    bool shown_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point drawn_;
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
    Err += OneLine(file);
    Err += ": ";
    Err += OneLine(reason);
    Err += '\n';
}

std::string OneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\t') {
            line += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    return line;
}

std::string InputDisplayName(std::string_view input) {
    return input == kStandardStream ? std::string("standard input") : std::string(input);
}

std::optional<std::string> ReplaceProblem(const fs::path& file, bool force) {
    struct stat status {};
    if (force || ::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    // The superuser may write anything, so for it the owner's bit decides.
    const bool writable =
        ::geteuid() == 0 ? (status.st_mode & S_IWUSR) != 0 : ::access(file.c_str(), W_OK) == 0;
    if (writable) {
        return std::nullopt;
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(status.st_mode & 07777));
    return "the output " + file.string() + " is read-only (mode " + mode + "); give --force to replace it";
}

unsigned ThreadsFor(unsigned jobs, std::size_t inputs) {
    if (jobs == 0) {
        jobs = std::max(1u, std::thread::hardware_concurrency());
    }
    return static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(inputs, 1)));
}

Batch::Batch(std::vector<std::string> inputs, unsigned jobs, BatchReporting reporting)
    : inputs_(std::move(inputs)),
      jobs_(jobs),
      reporting_(reporting),
      start_(std::chrono::steady_clock::now()) {
    setAside_.reserve(inputs_.size());
    for (const auto& input : inputs_) {
        if (auto image = DescribedImageOf(input)) {
            setAside_.emplace_back("kavel-cli: " + OneLine(input) + " is the descriptor of " +
                                   OneLine(*image) + "\n");
        } else if (IsTextDocument(input)) {
            setAside_.emplace_back("kavel-cli: " + OneLine(input) + " is a text file, not an image\n");
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

namespace {

// Results of a run are made durable a group at a time (SaveGroup): an input's
// lines are emitted, and it counts as done, only once its files are in place.
constexpr std::size_t kGroupInputs = 64;
constexpr auto kGroupSeconds = std::chrono::seconds(1);

}  // namespace

struct FinishedInput {
    std::size_t Index = 0;
    InputReport Report;
    InputOutcome Outcome = InputOutcome::Skipped;
};

// Input i processed on this thread, its saves into group.
FinishedInput Batch::Process(const ProcessInput& process, std::size_t i, SaveGroup& group) const {
    FinishedInput done{i, {}, InputOutcome::Skipped};
    if (setAside_[i]) {
        done.Report.Err = *setAside_[i];
    } else {
        const SaveGroup::Scope scope(group, i);
        done.Outcome = Call(process, i, inputs_[i], done.Report);
    }
    return done;
}

int Batch::Run(const ProcessInput& process) {
    const std::size_t count = inputs_.size();
    std::array<std::size_t, 3> tally{};  // by InputOutcome
    Progress progress(count, reporting_);
    SaveGroup group;
    std::vector<FinishedInput> held;  // waiting for their saves to be committed
    auto committed = std::chrono::steady_clock::now();
    const auto release = [&] {
        const auto failures = group.Commit();
        committed = std::chrono::steady_clock::now();
        for (FinishedInput& done : held) {
            for (const auto& [key, error] : failures) {
                if (key == done.Index) {
                    done.Report.Fail(InputDisplayName(inputs_[key]), error.message);
                    done.Outcome = InputOutcome::Failed;
                }
            }
            if (!done.Report.Err.empty()) {
                progress.Clear();
            }
            const bool emitted = Emit(done.Report, inputs_[done.Index]);
            ++tally[static_cast<std::size_t>(emitted ? done.Outcome : InputOutcome::Failed)];
        }
        held.clear();
    };
    const auto finish = [&](FinishedInput done) {
        held.push_back(std::move(done));
        if (held.size() >= kGroupInputs || std::chrono::steady_clock::now() - committed >= kGroupSeconds) {
            release();
        }
    };

    const unsigned threads = ThreadsFor(jobs_, count);
    if (threads <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            progress.Show(i, inputs_[i]);
            finish(Process(process, i, group));
        }
    } else {
        std::vector<std::optional<FinishedInput>> slots(count);
        std::mutex mutex;
        std::condition_variable ready;
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            for (std::size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) {
                FinishedInput done = Process(process, i, group);
                const std::lock_guard lock(mutex);
                slots[i] = std::move(done);
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
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return slots[i].has_value(); });
            FinishedInput done = std::move(*slots[i]);
            slots[i].reset();
            lock.unlock();
            finish(std::move(done));
        }
    }
    release();
    progress.Clear();
    Summarise(tally);
    return tally[static_cast<std::size_t>(InputOutcome::Failed)] == 0 ? 0 : 1;
}

void Batch::Summarise(const std::array<std::size_t, 3>& tally) const {
    if (inputs_.size() <= 1 || reporting_.Quiet) {
        return;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start_;
    char summary[160];
    std::snprintf(summary, sizeof summary,
                  "kavel-cli: %zu inputs: %zu processed, %zu failed, %zu skipped, %.2f s\n", inputs_.size(),
                  tally[static_cast<std::size_t>(InputOutcome::Done)],
                  tally[static_cast<std::size_t>(InputOutcome::Failed)],
                  tally[static_cast<std::size_t>(InputOutcome::Skipped)], took.count());
    WriteAll(stderr, summary);
}

}  // namespace kavel::cli
