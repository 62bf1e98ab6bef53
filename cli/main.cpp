// kavel-cli: the thresholding core from a shell, for batch work and scripts.
#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "args.h"
#include "commands.h"
#include "importhelper.h"
#include "kavel/safefile.h"
#include "measure.h"
#include "suggest.h"

namespace {

using namespace kavel::cli;

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
