// The words of the command line that are values: numbers, sizes, the kind a
// file name asks for, and output names made from templates.
#include <algorithm>
#include <cctype>
#include <limits>

#include "args.h"
#include "given.h"

namespace kavel::cli {

std::string Quoted(std::string_view text) {
    // Built by appending: gcc 12 at -O3 gives a false -Wrestrict for "'" + string.
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    quoted += text;
    quoted += '\'';
    return quoted;
}

std::optional<std::int32_t> ParseInt32(std::string_view text) noexcept {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Accumulate the magnitude in 64 bits; stop as soon as it leaves the range.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kLimit) {
            return std::nullopt;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::optional<ImageSize> ParseSize(std::string_view text) noexcept {
    const auto x = text.find_first_of("xX");
    if (x == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view linesText = text.substr(0, x);
    const std::string_view columnsText = text.substr(x + 1);
    // Sizes carry no sign: "-3x4" and "+3x4" are refused along with "3x4x5".
    const auto unsignedDigits = [](std::string_view part) {
        return !part.empty() && part[0] != '+' && part[0] != '-';
    };
    if (!unsignedDigits(linesText) || !unsignedDigits(columnsText)) {
        return std::nullopt;
    }
    const auto lines = ParseInt32(linesText);
    const auto columns = ParseInt32(columnsText);
    if (!lines || !columns) {
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(*lines) * static_cast<std::uint64_t>(*columns) > kMaxImagePixels) {
        return std::nullopt;
    }
    return ImageSize{*lines, *columns};
}

std::optional<AutoChoice> ParseAutoChoice(std::string_view text) noexcept {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto method = ThresholdMethodByName(text.substr(0, colon));
    const std::string_view side = text.substr(colon + 1);
    if (!method || (side != "dark" && side != "light")) {
        return std::nullopt;
    }
    return AutoChoice{*method, side == "light"};
}

std::optional<ImageFormat> FormatOfName(std::string_view fileName) noexcept {
    const auto slash = fileName.find_last_of('/');
    const std::string_view base = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const auto dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    std::string extension(base.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    if (extension == "raw") {
        return ImageFormat::Raw;
    }
    if (extension == "bmp") {
        return ImageFormat::Bitmap;
    }
    return std::nullopt;
}

namespace {

enum class TemplateField { Name, Stem, Ext };

struct FileNameParts {
    std::string_view Name;
    std::string_view Stem;
    std::string_view Ext;
};

FileNameParts PartsOf(std::string_view inputName) {
    const auto slash = inputName.find_last_of('/');
    FileNameParts parts;
    parts.Name = slash == std::string_view::npos ? inputName : inputName.substr(slash + 1);
    const auto dot = parts.Name.find_last_of('.');
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string_view::npos || dot == 0) {
        parts.Stem = parts.Name;
    } else {
        parts.Stem = parts.Name.substr(0, dot);
        parts.Ext = parts.Name.substr(dot + 1);
    }
    return parts;
}

// Walks the template; literal text and fields go to the two callbacks.
// Gives the problem, if any.
template <typename Literal, typename Field>
std::optional<std::string> WalkTemplate(std::string_view text, Literal literal, Field field) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '{' || c == '}') && i + 1 < text.size() && text[i + 1] == c) {
            literal(c);
            ++i;
            continue;
        }
        if (c == '}') {
            return std::string("a lone } (write }} for a brace)");
        }
        if (c != '{') {
            literal(c);
            continue;
        }
        const auto close = text.find('}', i);
        if (close == std::string_view::npos) {
            return std::string("a { without its } (write {{ for a brace)");
        }
        const std::string_view word = text.substr(i + 1, close - i - 1);
        if (word == "name") {
            field(TemplateField::Name);
        } else if (word == "stem") {
            field(TemplateField::Stem);
        } else if (word == "ext") {
            field(TemplateField::Ext);
        } else {
            std::string braced = "{";
            braced += word;
            braced += '}';
            return "unknown field " + Quoted(braced) + " (the fields are {name}, {stem} and {ext})";
        }
        i = close;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> NameTemplateProblem(std::string_view nameTemplate) {
    if (nameTemplate.empty()) {
        return std::string("the name is empty");
    }
    if (nameTemplate.find('/') != std::string_view::npos) {
        return Quoted(nameTemplate) + " is a path; give a file name, the folder is --out-dir";
    }
    auto problem = WalkTemplate(
        nameTemplate, [](char) {}, [](TemplateField) {});
    if (!problem && (nameTemplate == "." || nameTemplate == "..")) {
        problem = Quoted(nameTemplate) + " is not a file name";
    }
    return problem;
}

bool NameTemplateTellsInputsApart(std::string_view nameTemplate) {
    bool apart = false;
    WalkTemplate(
        nameTemplate, [](char) {},
        [&apart](TemplateField field) { apart = apart || field != TemplateField::Ext; });
    return apart;
}

std::string ExpandNameTemplate(std::string_view nameTemplate, std::string_view inputName) {
    const FileNameParts parts = PartsOf(inputName);
    std::string name;
    WalkTemplate(
        nameTemplate, [&name](char c) { name += c; },
        [&name, &parts](TemplateField field) {
            name += field == TemplateField::Name   ? parts.Name
                    : field == TemplateField::Stem ? parts.Stem
                                                   : parts.Ext;
        });
    return name;
}

std::string_view CommandWord(CommandName command) noexcept {
    switch (command) {
        case CommandName::Treat:
            return "treat";
        case CommandName::Histogram:
            return "histogram";
        case CommandName::Tones:
            return "tones";
        case CommandName::Convert:
            return "convert";
        case CommandName::Import:
            return "import";
        case CommandName::Suggest:
            return "suggest";
        case CommandName::Measure:
            return "measure";
        case CommandName::None:
            break;
    }
    return "";
}

}  // namespace kavel::cli
