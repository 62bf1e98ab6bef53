// Running a command over its inputs: one call of "process one input" per
// input, on up to --jobs threads, with everything an input prints gathered
// and emitted whole, in the order of the inputs. A run with --jobs 4 prints
// and writes what a run with --jobs 1 does, and exits with the same status.
//
// Before any input is processed, inputs that are the descriptor of an image
// beside them, and text documents, are set aside with one line; a run left
// with no image at all is a usage error. A run of several inputs ends with a one-line summary.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {
class SaveGroup;
}

namespace kavel::cli {

// What one input printed. Each piece holds whole lines.
// Held by whatever writes to standard error, and by work that takes the
// process's standard error for a while (the conversion holds it to catch a
// decoder's own complaints): a line written then would be lost in it.
std::mutex& StandardErrorLock();

struct InputReport {
    std::string Out;  // for standard output
    std::string Err;  // for standard error

    // "kavel-cli: FILE: reason" on standard error.
    void Fail(std::string_view file, std::string_view reason);
};

enum class InputOutcome { Done, Failed, Skipped };

// One input processed, its lines not yet emitted.
struct FinishedInput;

// Called once per input (never for one set aside), possibly on several
// threads at once: it may read shared options but must keep its own state.
using ProcessInput = std::function<InputOutcome(std::size_t index, InputReport& report)>;

// text on one line: a newline, a tab or another control byte (a file name
// may hold any) written as \n, \t or \xHH, so that each message is one line.
std::string OneLine(std::string_view text);

// The name of an input in messages: "standard input" for "-".
std::string InputDisplayName(std::string_view input);

// How a run speaks on standard error besides its messages: a progress line
// (inputs done of all, rate, time left) while several inputs are processed,
// shown when stderr is a terminal or when asked for, and the summary.
struct BatchReporting {
    bool Quiet = false;     // neither progress line nor summary
    bool Progress = false;  // the progress line whatever stderr is
};

class Batch {
public:
    // jobs 0: one per processor core.
    Batch(std::vector<std::string> inputs, unsigned jobs, BatchReporting reporting = {});

    const std::vector<std::string>& Inputs() const noexcept { return inputs_; }
    std::size_t Size() const noexcept { return inputs_.size(); }
    // True for an input set aside as a descriptor; no output is planned for it.
    bool SetAside(std::size_t index) const noexcept { return setAside_[index].has_value(); }
    // Several inputs given: results on standard output carry their file.
    bool Several() const noexcept { return inputs_.size() > 1; }

    // Before anything is planned: an exit status when the run cannot start
    // (no input is an image; outDir, when given, is not a folder and cannot
    // be made one), each reason said on stderr. outDir is created when missing.
    std::optional<int> Start(const std::string& outDir);

    // Runs process for every input that is not set aside and gives the exit
    // status: 0 when every input was done, 1 when one failed.
    int Run(const ProcessInput& process);

    // Ends a run that cannot start: one line on stderr, exit status 2.
    static int Refuse(std::string_view file, std::string_view reason);

private:
    FinishedInput Process(const ProcessInput& process, std::size_t i, SaveGroup& group) const;
    void Summarise(const std::array<std::size_t, 3>& tally) const;
    // False when standard output refused the input's lines (a full disk,
    // a closed pipe); that input then counts as failed.
    bool Emit(InputReport& report, const std::string& input);

    std::vector<std::string> inputs_;
    std::vector<std::optional<std::string>> setAside_;  // the line said for it
    unsigned jobs_;
    BatchReporting reporting_;
    std::chrono::steady_clock::time_point start_;
};

// Makes the output folder outDir when it is missing: an exit status when it
// is a file or cannot be made, the reason said on stderr.
std::optional<int> MakeOutputFolder(const std::string& outDir);

// Why file may not be replaced, if it must not: a read-only file (no write
// permission for this user, root included) is kept unless force, as cp does.
std::optional<std::string> ReplaceProblem(const std::filesystem::path& file, bool force);

// Number of threads for a run of inputs inputs with --jobs jobs.
unsigned ThreadsFor(unsigned jobs, std::size_t inputs);

}  // namespace kavel::cli
