#include "kavel/rawimage.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <istream>
#include <ostream>
#include <system_error>

#include "inputfile.h"
#include "kavel/safefile.h"
#include "kavel/textnumber.h"

namespace kavel {

namespace {

bool IsSeparator(char c, PathStyle style) noexcept {
    return c == '/' || (style == PathStyle::Windows && (c == '\\' || c == ':'));
}

std::size_t LastSeparator(std::string_view name, PathStyle style) noexcept {
    for (std::size_t i = name.size(); i > 0; --i) {
        if (IsSeparator(name[i - 1], style)) {
            return i - 1;
        }
    }
    return std::string_view::npos;
}

enum class NumberResult { Ok, Missing, TooLarge };

// One decimal number after optional white space and sign. Unlike the edit
// boxes, a descriptor number that does not fit in 32 bits is an error.
NumberResult ReadNumber(std::string_view text, std::size_t& at, std::int64_t& value) {
    while (at < text.size() && IsWhiteSpace(text[at])) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    const std::size_t firstDigit = at;
    std::int64_t magnitude = 0;
    bool tooLarge = false;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > std::int64_t{INT_MAX} + 1) {
            tooLarge = true;
            magnitude = std::int64_t{INT_MAX} + 1;
        }
        ++at;
    }
    if (at == firstDigit) {
        return NumberResult::Missing;
    }
    value = negative ? -magnitude : magnitude;
    // A huge negative number is reported as negative, not as too large.
    if (!negative && (tooLarge || value > INT_MAX)) {
        return NumberResult::TooLarge;
    }
    return NumberResult::Ok;
}

// A descriptor is a few numbers; anything this long is not one, and we never
// need more than its start.
constexpr std::size_t kDescriptorReadLimit = std::size_t{1} << 16;

}  // namespace

std::string DescriptorNameFor(std::string_view imageFileName, PathStyle style) {
    const std::size_t separator = LastSeparator(imageFileName, style);
    const std::size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
    const std::size_t dot = imageFileName.rfind('.');
    std::string result;
    if (dot != std::string_view::npos && dot >= nameStart) {
        result.assign(imageFileName.substr(0, dot));
    } else {
        result.assign(imageFileName);
    }
    result += ".txt";
    return result;
}

std::string DescriptorNameFor(std::string_view imageFileName) {
    return DescriptorNameFor(imageFileName, kNativePathStyle);
}

std::string DirectoryPartOf(std::string_view fullFileName, PathStyle style) {
    const std::size_t separator = LastSeparator(fullFileName, style);
    if (separator == std::string_view::npos) {
        return {};
    }
    // A drive colon belongs to the folder; a separator is kept only where it is
    // the root ("/", "C:\", or right after another separator).
    if (fullFileName[separator] == ':') {
        return std::string(fullFileName.substr(0, separator + 1));
    }
    const bool keep = separator == 0 || IsSeparator(fullFileName[separator - 1], style);
    return std::string(fullFileName.substr(0, keep ? separator + 1 : separator));
}

std::string DirectoryPartOf(std::string_view fullFileName) {
    return DirectoryPartOf(fullFileName, kNativePathStyle);
}

Expected<ImageSize> ParseDescriptor(std::string_view text) {
    // Some editors begin a UTF-8 text with a byte-order mark.
    std::size_t at = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    std::int64_t numbers[2] = {0, 0};
    for (std::int64_t& number : numbers) {
        switch (ReadNumber(text, at, number)) {
            case NumberResult::Missing:
                return Error{"the descriptor does not begin with two numbers (lines, columns)"};
            case NumberResult::TooLarge:
                return Error{"the descriptor gives a size too large for an image"};
            case NumberResult::Ok:
                break;
        }
    }
    const std::int64_t lines = numbers[0];
    const std::int64_t columns = numbers[1];
    if (lines < 0 || columns < 0) {
        return Error{"the descriptor gives a negative size (" + std::to_string(lines) + " lines, " +
                     std::to_string(columns) + " columns)"};
    }
    if (static_cast<std::uint64_t>(lines) * static_cast<std::uint64_t>(columns) > kMaxImagePixels) {
        return Error{"the descriptor's size of " + std::to_string(lines) + " lines and " +
                     std::to_string(columns) + " columns is too large"};
    }
    return ImageSize{static_cast<int>(lines), static_cast<int>(columns)};
}

Expected<ImageSize> ReadDescriptorFile(const std::filesystem::path& fileName) {
    auto file = detail::InputFile::Open(fileName);
    if (!file) {
        return file.error();
    }
    std::string text(static_cast<std::size_t>(std::min<std::uint64_t>(file->Size(), kDescriptorReadLimit)),
                     '\0');
    auto got = file->ReadAt(0, std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
    if (!got) {
        return Error{"cannot read " + fileName.string() + ": " + got.error().message};
    }
    text.resize(*got);
    return ParseDescriptor(text);
}

std::string FormatDescriptor(ImageSize size, DescriptorForm form) {
    std::string text = std::to_string(size.Lines) + "\r\n" + std::to_string(size.Columns) + "\r\n";
    if (form == DescriptorForm::FiveLines) {
        text += "1\r\n0\r\n255\r\n";
    }
    return text;
}

Status WriteDescriptorFile(const std::filesystem::path& fileName, ImageSize size, DescriptorForm form) {
    const std::string text = FormatDescriptor(size, form);
    return WriteFileSafely(fileName, [&](std::ostream& out) -> Status {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        return {};
    });
}

Status ReadRawStream(std::istream& in, ByteMatrix& rows) {
    // The matrix is one block, so the file is read in large chunks straight
    // into it; a short file simply stops early.
    constexpr std::size_t kChunk = std::size_t{1} << 24;
    std::span<std::uint8_t> bytes = rows.Bytes();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t want = std::min(kChunk, bytes.size() - done);
        in.read(reinterpret_cast<char*>(bytes.data() + done), static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(in.gcount());
        done += got;
        if (got < want) {
            break;
        }
    }
    if (in.bad()) {
        return Error{"reading the pixels failed"};
    }
    return {};
}

Status ReadRawPixels(const std::filesystem::path& fileName, ByteMatrix& rows) {
    auto file = detail::InputFile::Open(fileName);
    if (!file) {
        return file.error();
    }
    auto got = file->ReadAt(0, rows.Bytes());
    if (!got) {
        return Error{"cannot read " + fileName.string() + ": " + got.error().message};
    }
    return {};
}

Status WriteRawFile(const std::filesystem::path& fileName, const ByteMatrix& rows) {
    return WriteFileSafely(fileName, [&](std::ostream& out) -> Status {
        const std::span<const std::uint8_t> bytes = rows.Bytes();
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return {};
    });
}

std::int64_t FileSizeOf(const std::filesystem::path& fileName) {
    // Only regular files have a size worth giving; a pipe is never waited on.
    auto file = detail::InputFile::Open(fileName);
    return file ? static_cast<std::int64_t>(file->Size()) : -1;
}

}  // namespace kavel
