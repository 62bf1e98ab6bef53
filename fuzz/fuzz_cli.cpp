// kavel-cli's command line: the input split at NUL bytes into words. Parsing
// never crashes, every refusal says why, what it accepts is consistent, and
// its number rule agrees with a plain reference.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "args.h"

namespace {

// Whole signed decimal within 32 bits, computed in 64-bit arithmetic: the
// magnitude stops growing past 2^40, far below where it could overflow.
std::optional<std::int32_t> ReferenceInt32(std::string_view text) {
    std::size_t i = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (i == text.size()) {
        return std::nullopt;
    }
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > (std::int64_t{1} << 40)) {
            return std::nullopt;
        }
    }
    const std::int64_t value = text[0] == '-' ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words;
    words.emplace_back();
    for (std::size_t i = 0; i < size && words.size() < 64; ++i) {
        if (data[i] == 0) {
            words.emplace_back();
        } else {
            words.back() += static_cast<char>(data[i]);
        }
    }
    std::vector<std::string_view> views(words.begin(), words.end());
    for (const auto& word : views) {
        if (kavel::cli::ParseInt32(word) != ReferenceInt32(word)) {
            __builtin_trap();
        }
    }
    const auto parsed = kavel::cli::ParseCommandLine(views);
    std::visit(
        [](const auto& what) {
            using T = std::decay_t<decltype(what)>;
            if constexpr (std::is_same_v<T, kavel::cli::UsageError>) {
                if (what.Message.empty()) {
                    __builtin_trap();
                }
            } else if constexpr (std::is_same_v<T, kavel::cli::ShowHelp>) {
                if (kavel::cli::HelpText(what.Command).empty()) {
                    __builtin_trap();
                }
            } else if constexpr (std::is_same_v<T, kavel::cli::TreatOptions> ||
                                 std::is_same_v<T, kavel::cli::ConvertOptions>) {
                // One input with an output, or an output folder. An output file
                // names its kind; standard output comes with --format.
                const bool toStream = what.Output == kavel::cli::kStandardStream;
                if (what.Inputs.empty() || (what.Output.empty() == what.OutDir.empty()) ||
                    (!what.Output.empty() && what.Inputs.size() != 1) || (toStream && !what.Format) ||
                    (!what.Output.empty() && !toStream && !kavel::cli::FormatOfName(what.Output))) {
                    __builtin_trap();
                }
            }
        },
        parsed);
    return 0;
}
