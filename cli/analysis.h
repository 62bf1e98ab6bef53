// What the two analysis commands, suggest and measure, share: their place on
// the command line, the splitting of their words and their table output.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kavel::cli {

// Runs "suggest ..." and "measure ..." (and "help suggest", "help measure");
// gives no value for any other command line, which the main parser takes.
std::optional<int> RunAnalysisCommand(std::span<const std::string_view> args);

enum class TableFormat { Text, Csv, Json };

struct AnalysisWords {
    std::vector<std::pair<std::string_view, std::string_view>> Options;  // long name, value ("" for a flag)
    std::vector<std::string_view> Positionals;
};

// Splits words as the other commands do: a value as the next word or after
// "=", "--" ends the options, "-" alone is a file name. Flags take no value.
// Gives the problem when a word is not understood.
std::variant<AnalysisWords, std::string> SplitAnalysisWords(std::span<const std::string_view> args,
                                                            std::span<const std::string_view> valued,
                                                            std::span<const std::string_view> flags);

std::optional<TableFormat> TableFormatOf(std::string_view word) noexcept;

// A value of a table: text, a number (written as given) or nothing, which
// prints as "-" in text, an empty field in CSV and null in JSON.
struct Cell {
    enum Kind { Text, Number, None };
    std::string Value;
    Kind Type = None;
};
Cell TextCell(std::string text);
Cell NumberCell(std::string number);
Cell NumberCell(long long number);
Cell FixedCell(double number, int decimals);

// Rows printed as aligned text under the header, CSV with the header first
// (fields quoted when needed) or a JSON array of objects keyed by the header.
struct Table {
    std::vector<std::string> Header;
    std::vector<std::vector<Cell>> Rows;
};
std::string FormatTable(const Table& table, TableFormat format);

}  // namespace kavel::cli
