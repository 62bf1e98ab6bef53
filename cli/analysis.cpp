#include "analysis.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

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

std::variant<AnalysisWords, std::string> SplitAnalysisWords(std::span<const std::string_view> args,
                                                            std::span<const std::string_view> valued,
                                                            std::span<const std::string_view> flags) {
    AnalysisWords words;
    bool optionsEnded = false;
    const auto known = [](std::span<const std::string_view> names, std::string_view name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view word = args[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            words.Positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string_view name = word;
        std::optional<std::string_view> inlineValue;
        if (const auto equals = word.find('='); word.starts_with("--") && equals != std::string_view::npos) {
            name = word.substr(0, equals);
            inlineValue = word.substr(equals + 1);
        }
        if (known(flags, name)) {
            if (inlineValue) {
                return "option '" + std::string(name) + "' takes no value";
            }
            words.Options.emplace_back(name, std::string_view{});
        } else if (!known(valued, name)) {
            return "unknown option '" + std::string(name) + "'";
        } else if (inlineValue) {
            words.Options.emplace_back(name, *inlineValue);
        } else if (i + 1 < args.size()) {
            words.Options.emplace_back(name, args[++i]);
        } else {
            return "option '" + std::string(name) + "' needs a value";
        }
    }
    return words;
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
