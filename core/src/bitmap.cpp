#include "kavel/bitmap.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "kavel/safefile.h"

namespace kavel {

namespace {

constexpr std::uint16_t kSignature = 0x4D42;  // "BM"
constexpr std::uint32_t kHeaderSize = 54;
constexpr std::uint32_t kPaletteBytes = 256 * 4;
constexpr std::uint32_t kPalettedOffset = kHeaderSize + kPaletteBytes;  // 1078
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kPixelsPerMetre = 10000;

using Header = std::array<unsigned char, kHeaderSize>;

void Put16(Header& h, std::size_t at, std::uint32_t v) {
    h[at] = static_cast<unsigned char>(v);
    h[at + 1] = static_cast<unsigned char>(v >> 8);
}
void Put32(Header& h, std::size_t at, std::uint32_t v) {
    Put16(h, at, v);
    Put16(h, at + 2, v >> 16);
}
std::uint32_t Get16(const Header& h, std::size_t at) {
    return std::uint32_t{h[at]} | (std::uint32_t{h[at + 1]} << 8);
}
std::uint32_t Get32(const Header& h, std::size_t at) {
    return Get16(h, at) | (Get16(h, at + 2) << 16);
}

std::string OpenFailure(const std::filesystem::path& fileName, int error) {
    return "cannot open " + fileName.string() + ": " +
           std::generic_category().message(error != 0 ? error : ENOENT);
}

}  // namespace

std::uint64_t BitmapStride(std::int64_t width, int bytesPerPixel) noexcept {
    if (width <= 0 || bytesPerPixel <= 0) {
        return 0;
    }
    const std::uint64_t row = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bytesPerPixel);
    return (row + 3) / 4 * 4;
}

std::uint64_t BitmapFileSize(std::int64_t width, std::int64_t height, int bitsPerPixel) noexcept {
    const int bytesPerPixel = bitsPerPixel / 8;
    const std::uint64_t offset = bitsPerPixel == 8 ? kPalettedOffset : kHeaderSize;
    const std::uint64_t lines =
        height < 0 ? 0 - static_cast<std::uint64_t>(height) : static_cast<std::uint64_t>(height);
    return offset + lines * BitmapStride(width, bytesPerPixel);
}

Status WriteBitmapStream(std::ostream& out, const ByteMatrix& rows, PixelKind kind, const Palette* palette) {
    const bool rgb = kind == PixelKind::Rgb;
    const int bytesPerPixel = rgb ? 3 : 1;
    if (rows.Columns() % bytesPerPixel != 0) {
        return Error{"an RGB row must hold 3 bytes per pixel"};
    }
    const int width = rows.Columns() / bytesPerPixel;
    const int height = rows.Lines();
    const std::uint32_t offset = rgb ? kHeaderSize : kPalettedOffset;
    const std::uint64_t stride = BitmapStride(width, bytesPerPixel);
    const std::uint64_t imageSize = stride * static_cast<std::uint64_t>(height);
    if (offset + imageSize > UINT32_MAX) {
        return Error{"image too large for a BMP file"};
    }

    Header header{};
    Put16(header, 0, kSignature);
    Put32(header, 2, static_cast<std::uint32_t>(offset + imageSize));
    Put32(header, 10, offset);
    Put32(header, 14, kInfoHeaderSize);
    Put32(header, 18, static_cast<std::uint32_t>(width));
    Put32(header, 22, static_cast<std::uint32_t>(height));
    Put16(header, 26, 1);
    Put16(header, 28, rgb ? 24 : 8);
    Put32(header, 30, 0);
    Put32(header, 34, static_cast<std::uint32_t>(imageSize));
    Put32(header, 38, kPixelsPerMetre);
    Put32(header, 42, kPixelsPerMetre);
    if (!out.write(reinterpret_cast<const char*>(header.data()), kHeaderSize)) {
        return Error{"writing the header failed"};
    }

    if (!rgb) {
        const Palette& entries = palette != nullptr ? *palette : GrayRampPalette();
        std::array<unsigned char, kPaletteBytes> bytes{};
        for (std::size_t i = 0; i < 256; ++i) {
            for (std::size_t b = 0; b < 4; ++b) {
                bytes[i * 4 + b] = static_cast<unsigned char>(entries[i] >> (8 * b));
            }
        }
        if (!out.write(reinterpret_cast<const char*>(bytes.data()), kPaletteBytes)) {
            return Error{"writing the palette failed"};
        }
    }

    // Bottom line first. Rows whose length is already a multiple of 4 are
    // written straight from the matrix; others go through a zero-padded buffer.
    const auto rowBytes = static_cast<std::size_t>(rows.Columns());
    const auto padding = static_cast<std::size_t>(stride) - rowBytes;
    const std::array<char, 4> zeros{};
    for (int line = height - 1; line >= 0; --line) {
        out.write(reinterpret_cast<const char*>(rows[line]), static_cast<std::streamsize>(rowBytes));
        if (padding != 0) {
            out.write(zeros.data(), static_cast<std::streamsize>(padding));
        }
        if (!out) {
            return Error{"writing line " + std::to_string(line) + " failed"};
        }
    }
    return {};
}

Status WriteBitmapFile(const std::filesystem::path& fileName, const ByteMatrix& rows, PixelKind kind,
                       const Palette* palette) {
    return WriteFileSafely(fileName,
                           [&](std::ostream& out) { return WriteBitmapStream(out, rows, kind, palette); });
}

Expected<BitmapData> ReadBitmapStream(std::istream& in, std::uint64_t streamSize) {
    Header header{};
    in.read(reinterpret_cast<char*>(header.data()), kHeaderSize);
    const auto got = static_cast<std::uint64_t>(in.gcount());
    if (got < 2 || Get16(header, 0) != kSignature) {
        return Error{"not a BMP file"};
    }
    if (got < kHeaderSize) {
        return Error{"file ends inside the header"};
    }

    const std::uint32_t offset = Get32(header, 10);
    const auto width = static_cast<std::int32_t>(Get32(header, 18));
    const auto height = static_cast<std::int32_t>(Get32(header, 22));
    const std::uint32_t bits = Get16(header, 28);
    const std::uint32_t compression = Get32(header, 30);

    if (bits != 8 && bits != 24) {
        return Error{std::to_string(bits) + " bits per pixel is not supported"};
    }
    if (compression == 1 || compression == 2) {
        return Error{"run-length compressed bitmaps are not supported"};
    }
    if (compression != 0) {
        return Error{"compression method " + std::to_string(compression) + " is not supported"};
    }
    const std::uint32_t expectedOffset = bits == 8 ? kPalettedOffset : kHeaderSize;
    if (offset != expectedOffset) {
        return Error{"pixel data at offset " + std::to_string(offset) + " is not supported for " +
                     std::to_string(bits) + " bits per pixel (" + std::to_string(expectedOffset) +
                     " expected)"};
    }
    if (width < 0) {
        return Error{"negative width " + std::to_string(width)};
    }
    if (height == INT32_MIN) {
        return Error{"height " + std::to_string(height) + " is out of range"};
    }

    // Negative height: the top line comes first in the file.
    const bool topDown = height < 0;
    const std::int32_t lines = topDown ? -height : height;
    const int bytesPerPixel = static_cast<int>(bits / 8);
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(lines);
    const std::uint64_t rowBytes =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bytesPerPixel);
    if (pixels > kMaxImagePixels || rowBytes > static_cast<std::uint64_t>(INT_MAX)) {
        return Error{"image of " + std::to_string(width) + " x " + std::to_string(lines) +
                     " pixels is too large"};
    }
    const std::uint64_t stride = BitmapStride(width, bytesPerPixel);

    // Refuse a file too short for what its header announces before allocating.
    if (streamSize < offset) {
        return Error{"file ends inside the palette"};
    }
    const std::uint64_t pixelBytes = streamSize - offset;
    if (stride != 0 && pixelBytes / stride < static_cast<std::uint64_t>(lines)) {
        return Error{"file ends inside row " + std::to_string(pixelBytes / stride + 1) + " of " +
                     std::to_string(lines) + " (rows counted from 1 in file order)"};
    }

    auto matrix = AllocateByteMatrix(static_cast<int>(rowBytes), lines);
    if (!matrix) {
        return matrix.error();
    }
    BitmapData data;
    data.Width = width;
    data.Height = lines;
    data.BitsPerPixel = static_cast<int>(bits);
    data.Rows = std::move(*matrix);

    if (bits == 8) {
        std::array<unsigned char, kPaletteBytes> bytes{};
        in.read(reinterpret_cast<char*>(bytes.data()), kPaletteBytes);
        if (static_cast<std::uint64_t>(in.gcount()) != kPaletteBytes) {
            return Error{"file ends inside the palette"};
        }
        for (std::size_t i = 0; i < 256; ++i) {
            data.FilePalette[i] = std::uint32_t{bytes[i * 4]} | (std::uint32_t{bytes[i * 4 + 1]} << 8) |
                                  (std::uint32_t{bytes[i * 4 + 2]} << 16) |
                                  (std::uint32_t{bytes[i * 4 + 3]} << 24);
        }
    }

    // Rows go straight from the stream into the matrix: no whole-file buffer.
    const auto padding = static_cast<std::streamsize>(stride - rowBytes);
    const auto rowLength = static_cast<std::streamsize>(rowBytes);
    std::array<char, 4> skip{};
    for (std::int32_t fileRow = 0; stride != 0 && fileRow < lines; ++fileRow) {
        const int line = topDown ? fileRow : lines - 1 - fileRow;
        in.read(reinterpret_cast<char*>(data.Rows[line]), rowLength);
        bool whole = in.gcount() == rowLength;
        if (whole && padding != 0) {
            in.read(skip.data(), padding);
            whole = in.gcount() == padding;
        }
        if (!whole) {
            return Error{"file ends inside row " + std::to_string(fileRow + 1) + " of " +
                         std::to_string(lines) + " (rows counted from 1 in file order)"};
        }
    }
    return data;
}

Expected<BitmapData> ReadBitmapFile(const std::filesystem::path& fileName) {
    std::error_code kindError;
    if (std::filesystem::is_directory(fileName, kindError)) {
        return Error{OpenFailure(fileName, EISDIR)};
    }
    errno = 0;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        return Error{OpenFailure(fileName, errno)};
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || !in) {
        return Error{"cannot read " + fileName.string()};
    }
    return ReadBitmapStream(in, static_cast<std::uint64_t>(size));
}

}  // namespace kavel
