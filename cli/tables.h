// The tables that suggest and measure print: aligned text, CSV or JSON.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "args.h"

namespace kavel::cli {

// "kavel-cli: FILE: REASON" on standard error.
void ReportInputFailure(const std::string& file, const std::string& reason);

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
// JSON is valid whatever the bytes of a text: a byte that is not part of
// UTF-8 (a file name in another encoding) is written as the lone surrogate
// \udcXX, XX its value, as Python's "surrogateescape" reads and writes it.
struct Table {
    std::vector<std::string> Header;
    std::vector<std::vector<Cell>> Rows;
};
std::string FormatTable(const Table& table, TableFormat format);
// Prints the table on standard output; the exit status of a run in which
// failures inputs failed (1 too when standard output refuses the table).
int PrintTable(const Table& table, TableFormat format, std::size_t failures);

}  // namespace kavel::cli
