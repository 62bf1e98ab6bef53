#include "tables.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "batch.h"
#include "commands.h"

namespace kavel::cli {

namespace {

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

// The length of the UTF-8 sequence at the start of text, or 0 when it is not
// one (a stray continuation byte, an overlong form, a surrogate, past U+10FFFF).
std::size_t Utf8Length(std::string_view text) noexcept {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xbf) {
            return 0;
        }
    }
    return length;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    char escaped[8];
    while (!text.empty()) {
        const char c = text[0];
        const auto u = static_cast<unsigned char>(c);
        const std::size_t length = Utf8Length(text);
        if (length == 0) {
            std::snprintf(escaped, sizeof escaped, "\\udc%02x", u);
            out += escaped;
            text.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7f) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += text.substr(0, length);
        }
        text.remove_prefix(length);
    }
    out += '"';
    return out;
}

}  // namespace

void ReportInputFailure(const std::string& file, const std::string& reason) {
    std::cerr << "kavel-cli: " << OneLine(file) << ": " << OneLine(reason) << '\n';
}

int PrintTable(const Table& table, TableFormat format, std::size_t failures) {
    std::cout << FormatTable(table, format) << std::flush;
    if (!std::cout) {
        ReportInputFailure("standard output", "cannot write the table");
        return kExitFailure;
    }
    return failures == 0 ? kExitSuccess : kExitFailure;
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
