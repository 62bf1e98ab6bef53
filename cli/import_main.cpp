// kavel-import: `kavel-cli import` in a program of its own, since it alone
// needs Qt. kavel-cli runs it with its own words ("import", then the options),
// so it parses and reports exactly as kavel-cli does.
#include <exception>
#include <iostream>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "args.h"
#include "commands.h"
#include "import.h"
#include "importhelper.h"
#include "kavel/safefile.h"

int main(int argc, char** argv) {
    using namespace kavel::cli;
    kavel::SurviveFileSizeLimit();
    try {
        const std::vector<std::string_view> args(argv + 1, argv + argc);
        if (!args.empty() && args[0] == kConvertToPipeWord) {
            return SendConvertedImage(std::span(args).subspan(1));
        }
        const ParsedCommandLine parsed = ParseCommandLine(args);
        if (const auto* options = std::get_if<ImportOptions>(&parsed)) {
            return RunImport(*options);
        }
        // kavel-cli checks the words before it runs this program; anything
        // else is someone starting it by hand.
        if (const auto* error = std::get_if<UsageError>(&parsed)) {
            std::cerr << "kavel-cli: " << error->Message << '\n';
        }
        std::cerr << "kavel-import: runs for 'kavel-cli import'; try 'kavel-cli import --help'.\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "kavel-cli: " << e.what() << '\n';
        return kExitFailure;
    }
}
