#include "kavel/guitools.h"

#include "largepages.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kavel {

namespace {

// Byte count of a columns x lines block of bytesPerPixel bytes each, or an
// Error when the size is negative or beyond what we agree to hold. Checked in
// 64 bits before anything is multiplied in size_t.
Expected<std::size_t> CheckedImageBytes(int columns, int lines, int bytesPerPixel) {
    if (columns < 0 || lines < 0) {
        return Error{"negative image size (" + std::to_string(columns) + " columns, " +
                     std::to_string(lines) + " lines)"};
    }
    const std::uint64_t pixels = static_cast<std::uint64_t>(columns) * static_cast<std::uint64_t>(lines);
    if (pixels > kMaxImagePixels) {
        return Error{"image of " + std::to_string(columns) + " x " + std::to_string(lines) +
                     " pixels is too large"};
    }
    const std::uint64_t bytes = pixels * static_cast<std::uint64_t>(bytesPerPixel);
    if (bytes > static_cast<std::uint64_t>(SIZE_MAX)) {
        return Error{"image of " + std::to_string(columns) + " x " + std::to_string(lines) +
                     " pixels does not fit in memory"};
    }
    return static_cast<std::size_t>(bytes);
}

// An all-zero block for columns x lines pixels of bytesPerPixel bytes. calloc:
// a large all-zero block costs no resident memory until it is written.
Expected<PixelBuffer> AllocateZeroed(int columns, int lines, int bytesPerPixel) {
    auto checked = CheckedImageBytes(columns, lines, bytesPerPixel);
    if (!checked) {
        return checked.error();
    }
    const std::size_t bytes = *checked;
    if (bytes == 0) {
        return PixelBuffer{};
    }
    PixelBuffer buffer{static_cast<std::uint8_t*>(std::calloc(bytes, 1))};
    if (!buffer) {
        return Error{"not enough memory for an image of " + std::to_string(columns) + " x " +
                     std::to_string(lines) + " pixels"};
    }
    detail::AdviseLargePages(buffer.get(), bytes);
    return buffer;
}

constexpr std::uint32_t kOpaque = 0xFF000000u;

constexpr std::uint32_t PackDisplay(std::uint8_t blue, std::uint8_t green, std::uint8_t red) noexcept {
    return kOpaque | (std::uint32_t{red} << 16) | (std::uint32_t{green} << 8) | std::uint32_t{blue};
}

}  // namespace

void detail::AdviseLargePages(void* data, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only whole huge pages inside the block: its ends may share pages with
    // other allocations.
    constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
    if (data == nullptr || bytes < 2 * kHugePage) {
        return;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    if (first < last) {
        (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#else
    (void)data;
    (void)bytes;
#endif
}

PixelBuffer AllocatePixels(std::size_t bytes) noexcept {
    PixelBuffer buffer{static_cast<std::uint8_t*>(std::malloc(bytes == 0 ? 1 : bytes))};
    if (buffer) {
        detail::AdviseLargePages(buffer.get(), bytes);
    }
    return buffer;
}

Expected<ByteMatrix> AllocateByteMatrix(int columns, int lines) {
    auto buffer = AllocateZeroed(columns, lines, 1);
    if (!buffer) {
        return buffer.error();
    }
    ByteMatrix matrix;
    matrix.lines_ = lines;
    matrix.columns_ = columns;
    matrix.data_ = std::move(*buffer);
    return matrix;
}

const Palette& GrayRampPalette() noexcept {
    static const Palette ramp = [] {
        Palette p{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            p[i] = i * 0x010101u;
        }
        return p;
    }();
    return ramp;
}

Expected<TRasterImage> TRasterImage::Create(int columns, int lines, PixelKind kind) {
    auto buffer = AllocateZeroed(columns, lines, kind == PixelKind::Rgb ? 3 : 1);
    if (!buffer) {
        return buffer.error();
    }
    TRasterImage raster;
    raster.lines_ = lines;
    raster.columns_ = columns;
    raster.kind_ = kind;
    if (kind == PixelKind::Paletted) {
        raster.palette_ = GrayRampPalette();
    }
    raster.owned_ = std::move(*buffer);
    raster.data_ = raster.owned_.get();
    return raster;
}

TRasterImage TRasterImage::ViewOf(ByteMatrix& rows) noexcept {
    TRasterImage raster;
    raster.lines_ = rows.Lines();
    raster.columns_ = rows.Columns();
    raster.kind_ = PixelKind::Gray;
    raster.data_ = rows.Bytes().data();
    return raster;
}

void TRasterImage::SetPixel(int x, int y, std::uint8_t value) noexcept {
    if (x < 0 || x >= columns_ || y < 0 || y >= lines_) {
        return;
    }
    std::uint8_t* row = Rows(y);
    if (kind_ == PixelKind::Rgb) {
        std::uint8_t* pixel = row + static_cast<std::size_t>(x) * 3;
        pixel[0] = value;
        pixel[1] = value;
        pixel[2] = value;
    } else {
        row[x] = value;
    }
}

void TRasterImage::GetPixel(int x, int y, std::uint8_t out[3]) const noexcept {
    assert(x >= 0 && x < columns_);
    const std::uint8_t* row = Rows(y);
    switch (kind_) {
        case PixelKind::Gray:
            out[0] = out[1] = out[2] = row[x];
            break;
        case PixelKind::Paletted: {
            const std::uint32_t entry = palette_[row[x]];
            out[0] = static_cast<std::uint8_t>(entry);
            out[1] = static_cast<std::uint8_t>(entry >> 8);
            out[2] = static_cast<std::uint8_t>(entry >> 16);
            break;
        }
        case PixelKind::Rgb: {
            const std::uint8_t* pixel = row + static_cast<std::size_t>(x) * 3;
            out[0] = pixel[0];
            out[1] = pixel[1];
            out[2] = pixel[2];
            break;
        }
    }
}

std::uint32_t TRasterImage::DisplayColor(int x, int y) const noexcept {
    std::uint8_t bgr[3];
    GetPixel(x, y, bgr);
    return PackDisplay(bgr[0], bgr[1], bgr[2]);
}

void TRasterImage::ToDisplayRow(int y, std::span<std::uint32_t> out) const noexcept {
    const std::size_t count = std::min(out.size(), static_cast<std::size_t>(std::max(columns_, 0)));
    if (count == 0 || y < 0 || y >= lines_) {
        return;
    }
    const std::uint8_t* row = Rows(y);
    std::uint32_t* target = out.data();
    switch (kind_) {
        case PixelKind::Gray:
            // Plain byte-to-word expansion: vectorised by the compiler.
            for (std::size_t x = 0; x < count; ++x) {
                target[x] = kOpaque | (std::uint32_t{row[x]} * 0x010101u);
            }
            break;
        case PixelKind::Paletted: {
            std::array<std::uint32_t, 256> lookup;
            for (std::size_t i = 0; i < 256; ++i) {
                lookup[i] = kOpaque | (palette_[i] & 0x00FFFFFFu);
            }
            for (std::size_t x = 0; x < count; ++x) {
                target[x] = lookup[row[x]];
            }
            break;
        }
        case PixelKind::Rgb:
            for (std::size_t x = 0; x < count; ++x) {
                const std::uint8_t* pixel = row + x * 3;
                target[x] = PackDisplay(pixel[0], pixel[1], pixel[2]);
            }
            break;
    }
}

}  // namespace kavel
