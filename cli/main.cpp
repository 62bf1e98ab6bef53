// kavel-cli: the thresholding core from a shell, for batch work and scripts.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <variant>
#include <vector>

#include "args.h"
#include "commands.h"
#include "kavel/safefile.h"
#include "measure.h"
#include "suggest.h"

namespace {

using namespace kavel::cli;
namespace fs = std::filesystem;

// import decodes with Qt's image readers in a program of its own, so that no
// other command carries Qt's libraries and start-up: kavel-import, next to
// this program in a build, in ../libexec/kavel where it is installed.
std::vector<fs::path> ImportHelperFolders(const fs::path& self) {
    const fs::path folder = self.parent_path();
    return {folder, (folder / ".." / "libexec" / "kavel").lexically_normal()};
}

// Replaces this process with the helper, given the same words, so that its
// messages, exit status and standard streams are those of this run.
int RunImportHelper(std::span<const std::string_view> args) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        std::cerr << "kavel-cli: import: cannot find its helper kavel-import: /proc/self/exe: "
                  << ec.message() << '\n';
        return kExitFailure;
    }
    const auto folders = ImportHelperFolders(self);
    std::optional<fs::path> helper;
    for (const auto& folder : folders) {
        if (::access((folder / "kavel-import").c_str(), X_OK) == 0) {
            helper = folder / "kavel-import";
            break;
        }
    }
    if (!helper) {
        std::cerr << "kavel-cli: import needs its helper kavel-import, which is in neither "
                  << folders[0].string() << " nor " << folders[1].string()
                  << "; install the package kavel-import (apt install kavel-import)\n";
        return kExitFailure;
    }
    std::vector<std::string> words{"kavel-import"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::cout.flush();
    ::execv(helper->c_str(), argv.data());
    const int error = errno;
    std::cerr << "kavel-cli: import: cannot run " << helper->string() << ": " << std::strerror(error) << '\n';
    return kExitFailure;
}

int ReportUsageError(const UsageError& error) {
    std::cerr << "kavel-cli: " << error.Message << '\n';
    if (error.Command == CommandName::None) {
        std::cerr << "Try 'kavel-cli --help'.\n";
    } else {
        std::cerr << "Try 'kavel-cli " << CommandWord(error.Command) << " --help'.\n";
    }
    return kExitUsage;
}

// Help and version go to standard output, which may refuse them (a full
// disk, /dev/full): that is a failure with a message, not a success.
int PrintText(std::string_view text) {
    std::cout << text << std::flush;
    if (!std::cout) {
        std::cerr << "kavel-cli: cannot write to standard output: " << std::strerror(errno) << '\n';
        return kExitFailure;
    }
    return kExitSuccess;
}

int Run(const ParsedCommandLine& parsed, std::span<const std::string_view> args) {
    return std::visit(
        [args](const auto& what) -> int {
            using T = std::decay_t<decltype(what)>;
            if constexpr (std::is_same_v<T, UsageError>) {
                return ReportUsageError(what);
            } else if constexpr (std::is_same_v<T, ShowHelp>) {
                return PrintText(HelpText(what.Command));
            } else if constexpr (std::is_same_v<T, ShowVersion>) {
                return PrintText("kavel-cli " KAVEL_VERSION "\n");
            } else if constexpr (std::is_same_v<T, TreatOptions>) {
                return RunTreat(what);
            } else if constexpr (std::is_same_v<T, HistogramOptions>) {
                return RunHistogram(what);
            } else if constexpr (std::is_same_v<T, TonesOptions>) {
                return RunTones(what);
            } else if constexpr (std::is_same_v<T, ImportOptions>) {
                return RunImportHelper(args);
            } else if constexpr (std::is_same_v<T, SuggestOptions>) {
                return RunSuggest(what);
            } else if constexpr (std::is_same_v<T, MeasureOptions>) {
                return RunMeasure(what);
            } else {
                return RunConvert(what);
            }
        },
        parsed);
}

}  // namespace

int main(int argc, char** argv) {
    // A result past `ulimit -f` is then a failed write with a message, not a
    // silent death by SIGXFSZ.
    kavel::SurviveFileSizeLimit();
    try {
        const std::vector<std::string_view> args(argv + 1, argv + argc);
        return Run(ParseCommandLine(args), args);
    } catch (const std::exception& e) {
        // The core reports its failures as values; this is only memory running
        // out in a container of our own.
        std::cerr << "kavel-cli: " << e.what() << '\n';
        return kExitFailure;
    }
}
