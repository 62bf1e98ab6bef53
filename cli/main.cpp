// kavel-cli: the thresholding core from a shell, for batch work and scripts.
#include <exception>
#include <iostream>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "analysis.h"
#include "args.h"
#include "commands.h"
#include "importhelper.h"
#include "kavel/safefile.h"

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

int Run(const ParsedCommandLine& parsed, std::span<const std::string_view> args) {
    return std::visit(
        [args](const auto& what) -> int {
            using T = std::decay_t<decltype(what)>;
            if constexpr (std::is_same_v<T, UsageError>) {
                return ReportUsageError(what);
            } else if constexpr (std::is_same_v<T, ShowHelp>) {
                std::cout << HelpText(what.Command);
                return kExitSuccess;
            } else if constexpr (std::is_same_v<T, ShowVersion>) {
                std::cout << "kavel-cli " KAVEL_VERSION "\n";
                return kExitSuccess;
            } else if constexpr (std::is_same_v<T, TreatOptions>) {
                return RunTreat(what);
            } else if constexpr (std::is_same_v<T, HistogramOptions>) {
                return RunHistogram(what);
            } else if constexpr (std::is_same_v<T, TonesOptions>) {
                return RunTones(what);
            } else if constexpr (std::is_same_v<T, ImportOptions>) {
                return RunImportHelper(args);
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
        if (const auto analysed = RunAnalysisCommand(args)) {  // suggest and measure
            return *analysed;
        }
        return Run(ParseCommandLine(args), args);
    } catch (const std::exception& e) {
        // The core reports its failures as values; this is only memory running
        // out in a container of our own.
        std::cerr << "kavel-cli: " << e.what() << '\n';
        return kExitFailure;
    }
}
