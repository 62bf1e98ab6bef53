#include "formats.h"

#include <sys/mman.h>
#include <unistd.h>

#include <QIODevice>

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>

namespace kavel::detail {

namespace {

bool IsSpace(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The next decimal number of a Netpbm header or plain raster, skipping white
// space and (in the header) comments; none at the end or at anything else.
std::optional<std::uint64_t> NextNumber(std::span<const std::uint8_t> bytes, std::size_t& at, bool comments) {
    while (at < bytes.size() && (IsSpace(bytes[at]) || (comments && bytes[at] == '#'))) {
        if (bytes[at] == '#') {
            while (at < bytes.size() && bytes[at] != '\n') {
                ++at;
            }
        } else {
            ++at;
        }
    }
    if (at >= bytes.size() || bytes[at] < '0' || bytes[at] > '9') {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9') {
        value = std::min<std::uint64_t>(value * 10 + (bytes[at] - '0'), std::uint64_t{1} << 40);
        ++at;
    }
    return value;
}

}  // namespace

std::optional<DeepPgmHeader> DeepPgmHeaderOf(std::span<const std::uint8_t> head) {
    if (head.size() < 3 || head[0] != 'P' || (head[1] != '2' && head[1] != '5') || !IsSpace(head[2])) {
        return std::nullopt;
    }
    std::size_t at = 2;
    const auto width = NextNumber(head, at, true);
    const auto height = NextNumber(head, at, true);
    const auto maxValue = NextNumber(head, at, true);
    if (!width || !height || !maxValue || *maxValue <= 255 || *maxValue > 65535 || at >= head.size() ||
        !IsSpace(head[at])) {
        return std::nullopt;
    }
    return DeepPgmHeader{head[1] == '2', *width, *height, static_cast<std::uint32_t>(*maxValue), at + 1};
}

Expected<ByteMatrix> DecodeDeepPgm(std::span<const std::uint8_t> file, const DeepPgmHeader& header) {
    // Each side is below 2^31 before the product is taken, so it cannot wrap.
    if (header.Width > INT32_MAX || header.Height > INT32_MAX ||
        header.Width * header.Height > kMaxImagePixels) {
        return Error{std::to_string(header.Width) + " x " + std::to_string(header.Height) +
                     " pixels is too large (at most " + std::to_string(kMaxImagePixels) + " pixels)"};
    }
    if (header.Width == 0 || header.Height == 0) {
        return Error{std::to_string(header.Width) + " x " + std::to_string(header.Height) +
                     " pixels: the image has no pixels"};
    }
    // The samples must fit in the file before their pixels are allocated: a
    // header of a few bytes must not make us claim gigabytes. A binary sample
    // takes two bytes; a plain one at least a digit and a blank.
    const std::uint64_t samples = header.Width * header.Height;
    const std::uint64_t left = file.size() > header.RasterStart ? file.size() - header.RasterStart : 0;
    const std::uint64_t needed = header.Plain ? 2 * samples - 1 : 2 * samples;
    if (left < needed) {
        return Error{"the file ends early: " + std::to_string(header.Width) + " x " +
                     std::to_string(header.Height) + " samples need at least " + std::to_string(needed) +
                     " bytes after the header, and it has " + std::to_string(left)};
    }
    auto gray = AllocateByteMatrix(static_cast<int>(header.Width), static_cast<int>(header.Height));
    if (!gray) {
        return gray.error();
    }
    const std::uint64_t max = header.MaxValue;
    const std::span<std::uint8_t> out = gray->Bytes();
    std::size_t at = header.RasterStart;
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::uint64_t v = 0;
        if (header.Plain) {
            const auto number = NextNumber(file, at, false);
            if (!number) {
                return Error{"the file ends or stops being numbers at sample " + std::to_string(i + 1) +
                             " of " + std::to_string(out.size())};
            }
            v = *number;
        } else {
            if (at > file.size() || file.size() - at < 2) {
                return Error{"file ends inside row " + std::to_string(i / header.Width + 1) + " of " +
                             std::to_string(header.Height)};
            }
            v = std::uint64_t{file[at]} << 8 | file[at + 1];  // most significant byte first
            at += 2;
        }
        out[i] = static_cast<std::uint8_t>((std::min(v, max) * 255 + max / 2) / max);
    }
    return gray;
}

Expected<std::vector<std::uint8_t>> ExpandRunLength(std::span<const std::uint8_t> data, std::uint64_t width,
                                                    std::uint64_t lines, bool fourBits) {
    const std::uint64_t stride = (width + 3) / 4 * 4;
    std::vector<std::uint8_t> rows;
    try {
        rows.assign(static_cast<std::size_t>(stride * lines), 0);
    } catch (const std::bad_alloc&) {
        return Error{"not enough memory for " + std::to_string(lines) + " rows of " + std::to_string(width) +
                     " pixels"};
    }
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    const auto put = [&](std::uint8_t index) {
        if (x < width && y < lines) {
            rows[static_cast<std::size_t>(y * stride + x)] = index;
        }
        ++x;
    };
    // One coded byte: its two pixels in RLE4, itself in RLE8.
    const auto nibble = [fourBits](std::uint8_t byte, std::uint64_t k) -> std::uint8_t {
        return fourBits ? static_cast<std::uint8_t>(k % 2 == 0 ? byte >> 4 : byte & 0x0F) : byte;
    };
    std::size_t at = 0;
    while (y < lines) {
        if (data.size() - at < 2) {
            return Error{"the run-length data ends inside row " + std::to_string(y + 1) + " of " +
                         std::to_string(lines) + " (rows counted from 1 in file order)"};
        }
        const std::uint8_t count = data[at];
        const std::uint8_t value = data[at + 1];
        at += 2;
        if (count != 0) {
            for (std::uint64_t k = 0; k < count; ++k) {
                put(nibble(value, k));
            }
        } else if (value == 0) {  // end of the row
            x = 0;
            ++y;
        } else if (value == 1) {  // end of the image
            break;
        } else if (value == 2) {  // move right and up
            if (data.size() - at < 2) {
                continue;
            }
            x += data[at];
            y += data[at + 1];
            at += 2;
        } else {  // value pixels as they are, in a whole number of 16-bit words
            const std::size_t bytes = fourBits ? (value + 1u) / 2 : value;
            if (data.size() - at < bytes) {
                at = data.size();
                continue;
            }
            for (std::uint64_t k = 0; k < value; ++k) {
                put(nibble(data[at + (fourBits ? k / 2 : k)], k));
            }
            at += bytes + bytes % 2;
        }
    }
    return rows;
}

std::optional<TiffSamples> TiffSamplesOf(QIODevice& device) {
    const QByteArray head = device.peek(8);
    const bool little = head.startsWith("II*");
    if (head.size() < 8 || !(little || head.startsWith(QByteArray("MM\0*", 4))) || device.isSequential()) {
        return std::nullopt;
    }
    const auto number = [little](const QByteArray& b, int at, int bytes) {
        std::uint32_t v = 0;
        for (int k = 0; k < bytes; ++k) {
            const auto byte = static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + k]));
            v = little ? v | byte << (8 * k) : v << 8 | byte;
        }
        return v;
    };
    const qint64 start = device.pos();
    const auto readAt = [&device, start](qint64 offset, qint64 bytes) {
        device.seek(start + offset);
        return device.read(bytes);
    };
    TiffSamples samples;
    const QByteArray count = readAt(number(head, 4, 4), 2);
    if (count.size() == 2) {
        const int entries = static_cast<int>(number(count, 0, 2));
        const QByteArray directory = readAt(number(head, 4, 4) + 2, qint64{entries} * 12);
        for (int e = 0; e + 12 <= directory.size(); e += 12) {
            const std::uint32_t tag = number(directory, e, 2);
            const bool inside = number(directory, e + 2, 2) == 3 && number(directory, e + 4, 4) <= 2;
            // A SHORT value: in the entry for one or two samples, else at its offset.
            const std::uint32_t value =
                inside ? number(directory, e + 8, 2)
                       : number(readAt(number(directory, e + 8, 4), 2).leftJustified(2, '\0'), 0, 2);
            if (tag == 258) {
                samples.Bits = value;
            } else if (tag == 339) {
                samples.FloatingPoint = value == 3;
            }
        }
    }
    device.seek(start);
    return samples;
}

HeldStandardError::HeldStandardError() {
    std::fflush(stderr);
    held_ = ::memfd_create("kavel-stderr", MFD_CLOEXEC);
    saved_ = held_ < 0 ? -1 : ::dup(STDERR_FILENO);
    if (saved_ < 0 || ::dup2(held_, STDERR_FILENO) < 0) {
        if (saved_ >= 0) {
            ::close(saved_);
        }
        if (held_ >= 0) {
            ::close(held_);
        }
        saved_ = held_ = -1;
    }
}

HeldStandardError::~HeldStandardError() {
    if (held_ >= 0) {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        ::close(held_);
    }
}

std::string HeldStandardError::Text() const {
    if (held_ < 0) {
        return {};
    }
    std::fflush(stderr);
    std::array<char, 400> buffer{};
    const ssize_t got = ::pread(held_, buffer.data(), buffer.size(), 0);
    std::string text(buffer.data(), static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
        text.replace(at, 1, "; ");
    }
    return text;
}

}  // namespace kavel::detail
