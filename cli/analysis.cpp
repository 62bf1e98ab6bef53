#include "analysis.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <iostream>

#include "args.h"
#include "commands.h"
#include "measure.h"
#include "suggest.h"

namespace kavel::cli {

namespace {

bool IsHelpWord(std::string_view word) noexcept {
    return word == "--help" || word == "-h";
}

int UsageProblem(std::string_view command, const std::string& message) {
    std::cerr << "kavel-cli: " << message << '\n' << "Try 'kavel-cli " << command << " --help'.\n";
    return kExitUsage;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    quoted += '"';
    return quoted;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

}  // namespace

std::optional<int> RunAnalysisCommand(std::span<const std::string_view> args) {
    if (args.empty()) {
        return std::nullopt;
    }
    const std::string_view command = args[0];
    if (command == "help" && args.size() == 2 && (args[1] == "suggest" || args[1] == "measure")) {
        std::cout << (args[1] == "suggest" ? SuggestHelp() : MeasureHelp());
        return kExitSuccess;
    }
    if (command != "suggest" && command != "measure") {
        return std::nullopt;
    }
    const auto rest = args.subspan(1);
    for (const std::string_view word : rest) {
        if (word == "--") {
            break;
        }
        if (IsHelpWord(word)) {
            std::cout << (command == "suggest" ? SuggestHelp() : MeasureHelp());
            return kExitSuccess;
        }
    }
    if (command == "suggest") {
        auto parsed = ParseSuggest(rest);
        if (auto* problem = std::get_if<std::string>(&parsed)) {
            return UsageProblem(command, *problem);
        }
        return RunSuggest(std::get<SuggestOptions>(parsed));
    }
    auto parsed = ParseMeasure(rest);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        return UsageProblem(command, *problem);
    }
    return RunMeasure(std::get<MeasureOptions>(parsed));
}

std::variant<Words, std::string> SplitAnalysisWords(std::span<const std::string_view> args,
                                                    std::span<const std::string_view> valued,
                                                    std::span<const std::string_view> flags) {
    // SplitWords gives every option a value. Each flag word is followed by a
    // word of its own for that value, known by its address: where the flag
    // stands as an option it takes that word; where it is the value of the
    // option before it, or comes after "--", the word is left standing alone
    // and is dropped.
    static constexpr char kNoValue[] = "";
    const auto isFlag = [flags](std::string_view word) {
        return std::find(flags.begin(), flags.end(), word) != flags.end();
    };
    std::vector<OptionName> known;
    for (const auto names : {valued, flags}) {
        for (const std::string_view name : names) {
            known.push_back({name, ""});
        }
    }
    std::vector<std::string_view> words;
    for (const std::string_view word : args) {
        words.push_back(word);
        if (isFlag(word)) {
            words.emplace_back(kNoValue);
        }
    }
    auto split = SplitWords(words, known);
    auto* parsed = std::get_if<Words>(&split);
    if (parsed == nullptr) {
        return split;
    }
    for (const OptionValue& option : parsed->Options) {
        if (isFlag(option.Name) && option.Value.data() != kNoValue) {
            return "option '" + std::string(option.Name) + "' takes no value";
        }
    }
    std::erase_if(parsed->Positionals, [](std::string_view word) { return word.data() == kNoValue; });
    return split;
}

std::optional<std::string> ApplySharedOption(const OptionValue& option, TableFormat& format,
                                             std::optional<ImageSize>& size) {
    if (option.Name == "--format") {
        const auto parsed = TableFormatOf(option.Value);
        if (!parsed) {
            return "--format: '" + std::string(option.Value) + "' is not text, csv or json";
        }
        format = *parsed;
        return std::nullopt;
    }
    assert(option.Name == "--size");
    size = ParseSize(option.Value);
    if (!size) {
        return "--size: '" + std::string(option.Value) +
               "' is not LINESxCOLUMNS (for example 480x640, at most 4294967296 pixels)";
    }
    return std::nullopt;
}

void ReportInputFailure(const std::string& file, const std::string& reason) {
    std::cerr << "kavel-cli: " << file << ": " << reason << '\n';
}

int PrintTable(const Table& table, TableFormat format, std::size_t failures) {
    std::cout << FormatTable(table, format) << std::flush;
    if (!std::cout) {
        ReportInputFailure("standard output", "cannot write the table");
        return kExitFailure;
    }
    return failures == 0 ? kExitSuccess : kExitFailure;
}

std::optional<TableFormat> TableFormatOf(std::string_view word) noexcept {
    if (word == "text") {
        return TableFormat::Text;
    }
    if (word == "csv") {
        return TableFormat::Csv;
    }
    if (word == "json") {
        return TableFormat::Json;
    }
    return std::nullopt;
}

Cell TextCell(std::string text) {
    return {std::move(text), Cell::Text};
}

Cell NumberCell(std::string number) {
    return {std::move(number), Cell::Number};
}

Cell NumberCell(long long number) {
    return NumberCell(std::to_string(number));
}

Cell FixedCell(double number, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, number);
    return NumberCell(std::string(text));
}

std::string FormatTable(const Table& table, TableFormat format) {
    std::string out;
    if (format == TableFormat::Json) {
        out += "[";
        for (std::size_t r = 0; r < table.Rows.size(); ++r) {
            out += r == 0 ? "\n  {" : ",\n  {";
            const auto& row = table.Rows[r];
            for (std::size_t c = 0; c < row.size(); ++c) {
                out += c == 0 ? "" : ", ";
                out += JsonString(table.Header[c]);
                out += ": ";
                out += row[c].Type == Cell::None     ? "null"
                       : row[c].Type == Cell::Number ? row[c].Value
                                                     : JsonString(row[c].Value);
            }
            out += "}";
        }
        out += table.Rows.empty() ? "]\n" : "\n]\n";
        return out;
    }
    if (format == TableFormat::Csv) {
        const auto line = [&out](const std::vector<std::string>& fields) {
            for (std::size_t c = 0; c < fields.size(); ++c) {
                out += c == 0 ? "" : ",";
                out += CsvField(fields[c]);
            }
            out += "\n";
        };
        line(table.Header);
        for (const auto& row : table.Rows) {
            std::vector<std::string> fields;
            for (const Cell& cell : row) {
                fields.push_back(cell.Type == Cell::None ? std::string() : cell.Value);
            }
            line(fields);
        }
        return out;
    }
    // Text: columns padded to their widest cell, two blanks apart.
    std::vector<std::vector<std::string>> lines{table.Header};
    for (const auto& row : table.Rows) {
        std::vector<std::string> fields;
        for (const Cell& cell : row) {
            fields.push_back(cell.Type == Cell::None ? std::string("-") : cell.Value);
        }
        lines.push_back(std::move(fields));
    }
    std::vector<std::size_t> widths(table.Header.size(), 0);
    for (const auto& fields : lines) {
        for (std::size_t c = 0; c < fields.size(); ++c) {
            widths[c] = std::max(widths[c], fields[c].size());
        }
    }
    for (const auto& fields : lines) {
        std::string text;
        for (std::size_t c = 0; c < fields.size(); ++c) {
            text += fields[c];
            if (c + 1 < fields.size()) {
                text.append(widths[c] - fields[c].size() + 2, ' ');
            }
        }
        out += text;
        out += '\n';
    }
    return out;
}

}  // namespace kavel::cli
