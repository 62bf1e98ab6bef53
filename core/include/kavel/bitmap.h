// Uncompressed Windows bitmaps: 8 bits per pixel with a 256-entry palette at
// offset 1078, or 24 bits per pixel at offset 54; rows bottom line first, each
// padded to a multiple of 4 bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>

#include "kavel/expected.h"
#include "kavel/guitools.h"

namespace kavel {

// Row length in the file: width * bytes per pixel rounded up to a multiple of 4.
std::uint64_t BitmapStride(std::int64_t width, int bytesPerPixel) noexcept;
// Whole file length for the given layout.
std::uint64_t BitmapFileSize(std::int64_t width, std::int64_t height, int bitsPerPixel) noexcept;

struct BitmapData {
    int Width = 0;         // pixels
    int Height = 0;        // lines, always positive here (top-down files are turned)
    int BitsPerPixel = 0;  // 8 or 24
    // Height lines of Width * BitsPerPixel / 8 bytes, line 0 at the top.
    ByteMatrix Rows;
    Palette FilePalette{};  // 8-bit files only; colours are not applied to the pixels
};

// Reads an 8- or 24-bit bitmap. Every header field is checked before anything
// is allocated; a refusal carries a short reason ("not a BMP file",
// "4 bits per pixel is not supported", "file ends inside row 17", ...).
Expected<BitmapData> ReadBitmapFile(const std::filesystem::path& fileName);
// The same from any stream; streamSize is the number of bytes it holds.
Expected<BitmapData> ReadBitmapStream(std::istream& in, std::uint64_t streamSize);

// Writes rows as a bitmap. Gray and paletted kinds give the 8-bit layout (the
// gray ramp unless a palette is given), RGB the 24-bit layout; the matrix then
// holds 3 bytes per pixel and the width is Columns() / 3. The file is written
// to a temporary name and renamed over fileName only when complete.
Status WriteBitmapFile(const std::filesystem::path& fileName, const ByteMatrix& rows,
                       PixelKind kind = PixelKind::Gray, const Palette* palette = nullptr);
Status WriteBitmapStream(std::ostream& out, const ByteMatrix& rows, PixelKind kind = PixelKind::Gray,
                         const Palette* palette = nullptr);

}  // namespace kavel
