// The core's in-memory images, no GUI code: ByteMatrix (the byte matrix, the
// working form of every gray-tone image), TRasterImage (a short-lived
// displayable raster) and the palette.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "kavel/expected.h"

namespace kavel {

// Largest image we agree to hold: keeps every byte count far from overflow and
// turns absurd descriptor or header sizes into a clear refusal.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 32;

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using PixelBuffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

// Lines x columns bytes in one contiguous block, indexed [line][column], line 0
// at the top. The matrix carries its own size: every walk takes its bounds from
// the matrix it walks, never from a size held elsewhere.
class ByteMatrix {
public:
    ByteMatrix() = default;  // 0 x 0, no storage

    int Lines() const noexcept { return lines_; }
    int Columns() const noexcept { return columns_; }
    std::size_t PixelCount() const noexcept {
        return static_cast<std::size_t>(lines_) * static_cast<std::size_t>(columns_);
    }
    bool Empty() const noexcept { return PixelCount() == 0; }

    // line in [0, Lines()).
    std::uint8_t* operator[](int line) noexcept { return data_.get() + RowOffset(line); }
    const std::uint8_t* operator[](int line) const noexcept { return data_.get() + RowOffset(line); }

    std::span<std::uint8_t> Row(int line) noexcept { return {(*this)[line], Cols()}; }
    std::span<const std::uint8_t> Row(int line) const noexcept { return {(*this)[line], Cols()}; }

    // The whole image, line 0 first, no padding between lines.
    std::span<std::uint8_t> Bytes() noexcept { return {data_.get(), PixelCount()}; }
    std::span<const std::uint8_t> Bytes() const noexcept { return {data_.get(), PixelCount()}; }

private:
    friend Expected<ByteMatrix> AllocateByteMatrix(int columns, int lines);
    std::size_t Cols() const noexcept { return static_cast<std::size_t>(columns_); }
    std::size_t RowOffset(int line) const noexcept {
        assert(line >= 0 && line < lines_);
        return static_cast<std::size_t>(line) * Cols();
    }

    int lines_ = 0;
    int columns_ = 0;
    PixelBuffer data_;
};

// An uninitialised block of bytes for pixels that the caller fills at once
// (a display bitmap), with the memory hint the core gives its own images;
// null when there is no memory for it.
PixelBuffer AllocatePixels(std::size_t bytes) noexcept;

// A new all-zero matrix, columns first. Negative sizes, sizes beyond
// kMaxImagePixels and no memory for the pixels give an Error.
Expected<ByteMatrix> AllocateByteMatrix(int columns, int lines);

enum class PixelKind : std::uint8_t { Gray = 0, Paletted = 1, Rgb = 2 };

// 256 entries; each entry's bytes are blue, green, red, 0 (little-endian value
// 0x00RRGGBB).
using Palette = std::array<std::uint32_t, 256>;

// A displayable raster of one of three pixel kinds. Gray and paletted store one
// byte per pixel, RGB three (blue, green, red). A paletted raster gets the gray
// ramp palette.
class TRasterImage {
public:
    // Owning raster; row bytes are not cleared. Errors as AllocateByteMatrix.
    static Expected<TRasterImage> Create(int columns, int lines, PixelKind kind);

    // A gray raster over an existing matrix, without copying it: the cheap way
    // to hand a matrix to a window. It must not outlive the matrix; SetPixel
    // writes through to it.
    static TRasterImage ViewOf(ByteMatrix& rows) noexcept;

    int Lines() const noexcept { return lines_; }
    int Columns() const noexcept { return columns_; }
    PixelKind Kind() const noexcept { return kind_; }
    int BytesPerPixel() const noexcept { return kind_ == PixelKind::Rgb ? 3 : 1; }
    const Palette& GetPalette() const noexcept { return palette_; }

    // Row y, y in [0, Lines()): Columns() * BytesPerPixel() bytes.
    std::uint8_t* Rows(int y) noexcept { return data_ + RowOffset(y); }
    const std::uint8_t* Rows(int y) const noexcept { return data_ + RowOffset(y); }
    std::size_t RowBytes() const noexcept {
        return static_cast<std::size_t>(columns_) * static_cast<std::size_t>(BytesPerPixel());
    }

    // Out-of-range coordinates are ignored. RGB pixels get value in all three bytes.
    void SetPixel(int x, int y, std::uint8_t value) noexcept;
    // Blue, green, red of pixel (x, y). The caller keeps x, y inside the raster.
    void GetPixel(int x, int y, std::uint8_t out[3]) const noexcept;

    // Display colour of a pixel as 0xFFRRGGBB (the toolkit's 32-bit RGB layout).
    std::uint32_t DisplayColor(int x, int y) const noexcept;
    // Bulk form of DisplayColor for one line; out holds Columns() values.
    void ToDisplayRow(int y, std::span<std::uint32_t> out) const noexcept;

private:
    TRasterImage() = default;
    std::size_t RowOffset(int y) const noexcept {
        assert(y >= 0 && y < lines_);
        return static_cast<std::size_t>(y) * RowBytes();
    }

    int lines_ = 0;
    int columns_ = 0;
    PixelKind kind_ = PixelKind::Gray;
    Palette palette_{};
    PixelBuffer owned_;
    std::uint8_t* data_ = nullptr;
};

// The gray ramp: entry i is (i, i, i, 0).
const Palette& GrayRampPalette() noexcept;

}  // namespace kavel
