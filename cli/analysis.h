// What the two analysis commands, suggest and measure, share: their place on
// the command line, the splitting of their words and their table output.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kavel/rawimage.h"

namespace kavel::cli {

// From args.h, which includes this header through suggest.h.
struct OptionValue;
struct Words;

// Runs "suggest ..." and "measure ..." (and "help suggest", "help measure");
// gives no value for any other command line, which the main parser takes.
std::optional<int> RunAnalysisCommand(std::span<const std::string_view> args);

enum class TableFormat { Text, Csv, Json };

// Splits words as the other commands do (SplitWords); flags are options
// that take no value. Gives the problem when a word is not understood.
std::variant<Words, std::string> SplitAnalysisWords(std::span<const std::string_view> args,
                                                    std::span<const std::string_view> valued,
                                                    std::span<const std::string_view> flags);

// --format or --size, which both commands take: what is wrong with its
// value, if anything.
std::optional<std::string> ApplySharedOption(const OptionValue& option, TableFormat& format,
                                             std::optional<ImageSize>& size);

// "kavel-cli: FILE: REASON" on standard error.
void ReportInputFailure(const std::string& file, const std::string& reason);

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
// Prints the table on standard output; the exit status of a run in which
// failures inputs failed.
int PrintTable(const Table& table, TableFormat format, std::size_t failures);

}  // namespace kavel::cli
