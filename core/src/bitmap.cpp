#include "kavel/bitmap.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "inputfile.h"
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

Status WriteBitmapHeaderStream(std::ostream& out, int width, int height, PixelKind kind,
                               const Palette* palette) {
    const bool rgb = kind == PixelKind::Rgb;
    const int bytesPerPixel = rgb ? 3 : 1;
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
    return {};
}

Status WriteBitmapStream(std::ostream& out, const ByteMatrix& rows, PixelKind kind, const Palette* palette) {
    const bool rgb = kind == PixelKind::Rgb;
    const int bytesPerPixel = rgb ? 3 : 1;
    if (rows.Columns() % bytesPerPixel != 0) {
        return Error{"an RGB row must hold 3 bytes per pixel"};
    }
    const int width = rows.Columns() / bytesPerPixel;
    const int height = rows.Lines();
    if (auto header = WriteBitmapHeaderStream(out, width, height, kind, palette); !header) {
        return header;
    }
    const std::uint64_t stride = BitmapStride(width, bytesPerPixel);

    // Bottom line first. Rows whose length is already a multiple of 4 are
    // written straight from the matrix; others go through a zero-padded buffer.
    const auto rowBytes = static_cast<std::size_t>(rows.Columns());
    const auto padding = static_cast<std::size_t>(stride) - rowBytes;
    const std::array<char, 4> zeros{};
    // Nothing to write for an image of 0 columns, however many lines it has.
    for (int line = stride == 0 ? -1 : height - 1; line >= 0; --line) {
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

namespace {

using ReadAtFn = std::function<Expected<std::size_t>(std::uint64_t, std::span<std::uint8_t>)>;

std::uint32_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8);
}
std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return Le16(b, at) | (Le16(b, at + 2) << 16);
}

bool IsOs2HeaderSize(std::uint32_t size) {
    return size == 12 || size == 16 || size == 64;
}

std::string CompressionName(std::uint32_t compression, bool os2) {
    switch (compression) {
        case 1:
            return "run-length compression (RLE8)";
        case 2:
            return "run-length compression (RLE4)";
        case 3:
            return os2 ? "Huffman compression" : "bit-field colour masks";
        case 4:
            return os2 ? "run-length compression (RLE24)" : "a JPEG image inside";
        case 5:
            return "a PNG image inside";
        case 6:
            return "bit-field colour and alpha masks";
        default:
            return "compression method " + std::to_string(compression);
    }
}

std::string RowsMissing(std::uint64_t row, std::int64_t lines) {
    return "file ends inside row " + std::to_string(row) + " of " + std::to_string(lines) +
           " (rows counted from 1 in file order)";
}

}  // namespace

BitmapTones BitmapTonesOf(const BitmapLayout& layout) noexcept {
    BitmapTones tones;
    for (std::size_t i = 0; i < 256; ++i) {
        tones.Of[i] = static_cast<std::uint8_t>(i);
    }
    if (layout.BitsPerPixel == 8 && layout.GrayPalette) {
        for (std::size_t i = 0; i < 256; ++i) {
            tones.Of[i] = static_cast<std::uint8_t>(layout.FilePalette[i]);
            tones.Identity = tones.Identity && tones.Of[i] == i;
        }
    }
    return tones;
}

std::string BitmapNotOpenedBecause(std::string_view what) {
    std::string text(what);
    text += ": ";
    text += kBitmapConversionAdvice;
    return text;
}

std::uint64_t BitmapHeader::IndexableColours() const noexcept {
    return BitsPerPixel <= 8 ? std::uint64_t{1} << BitsPerPixel : 0;
}

std::uint64_t BitmapHeader::RowStride() const noexcept {
    return Width <= 0 ? 0 : (static_cast<std::uint64_t>(Width) * BitsPerPixel + 31) / 32 * 4;
}

Expected<BitmapHeader> ParseBitmapHeader(std::span<const std::uint8_t> start) {
    const std::size_t have = start.size();
    if (have < 2 || Le16(start, 0) != kSignature) {
        return Error{"not a BMP file"};
    }
    if (have < 18) {
        return Error{"file ends inside the header"};
    }
    BitmapHeader h;
    h.InfoHeaderSize = Le32(start, 14);
    const std::uint32_t size = h.InfoHeaderSize;
    h.Os2 = IsOs2HeaderSize(size);
    const bool known = h.Os2 || size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
    if (!known) {
        if (size > 12 && size < 64) {
            return Error{BitmapNotOpenedBecause("OS/2 bitmap header of " + std::to_string(size) + " bytes")};
        }
        return Error{"bitmap header of " + std::to_string(size) + " bytes, which no kind of bitmap has"};
    }
    h.PaletteStart = 14 + std::uint64_t{size};
    if (have < h.PaletteStart) {
        return Error{"file ends inside the header"};
    }
    h.PixelOffset = Le32(start, 10);
    if (size == 12) {
        h.Width = Le16(start, 18);
        h.Height = Le16(start, 20);
        h.BitsPerPixel = Le16(start, 24);
        h.PaletteEntryBytes = 3;
    } else {
        h.Width = static_cast<std::int32_t>(Le32(start, 18));
        h.Height = static_cast<std::int32_t>(Le32(start, 22));
        h.BitsPerPixel = Le16(start, 28);
        h.Compression = size >= 20 ? Le32(start, 30) : 0;
        h.ColoursUsed = size >= 40 ? Le32(start, 46) : 0;
    }
    if (h.BitFields()) {
        // In the header from 52 bytes on; after a 40-byte one, before the palette.
        const std::size_t count = size == 40 ? (h.Compression == 6 ? 4 : 3) : (size >= 56 ? 4 : 3);
        h.MasksInFile = have >= 54 + 4 * count;
        for (std::size_t i = 0; h.MasksInFile && i < count; ++i) {
            h.Masks[i] = Le32(start, 54 + 4 * i);
        }
        if (size == 40) {
            h.PaletteStart += 4 * count;
        }
    }
    if (h.BitsPerPixel <= 8 && h.PixelOffset >= h.PaletteStart) {
        const std::uint64_t declared = h.ColoursUsed != 0 ? h.ColoursUsed : h.IndexableColours();
        h.PaletteEntries = std::min(declared, (h.PixelOffset - h.PaletteStart) / h.PaletteEntryBytes);
    }
    return h;
}

std::string BitmapKindWords(const BitmapHeader& header) {
    const std::string depth = std::to_string(header.BitsPerPixel) + "-bit";
    if (header.RunLength()) {
        return "run-length compressed " + depth + " bitmap";
    }
    if (header.BitFields()) {
        return depth + " bitmap with bit-field colour masks";
    }
    if (header.Compression != 0) {
        return depth + " bitmap with " + CompressionName(header.Compression, header.Os2);
    }
    if (header.BitsPerPixel <= 8 && header.PaletteEntries != header.IndexableColours()) {
        return depth + " bitmap with a " + std::to_string(header.PaletteEntries) + "-colour palette";
    }
    if (header.BitsPerPixel == 24 || header.BitsPerPixel == 32) {
        return depth + " colour bitmap";
    }
    return depth + " bitmap";
}

std::optional<Error> BitmapConversionProblem(const BitmapHeader& h, std::uint64_t fileBytes) {
    const auto fail = [](std::string reason) { return std::optional<Error>(Error{std::move(reason)}); };
    const std::uint32_t bits = h.BitsPerPixel;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return fail(std::to_string(bits) + " bits per pixel, which BMP does not have");
    }
    if (h.Width <= 0 || h.Height == 0 || h.Height == INT32_MIN) {
        return fail("a width of " + std::to_string(h.Width) + " and a height of " + std::to_string(h.Height));
    }
    if (static_cast<std::uint64_t>(h.Width) * static_cast<std::uint64_t>(h.Lines()) > kMaxImagePixels) {
        return fail(std::to_string(h.Width) + " x " + std::to_string(h.Lines()) +
                    " pixels is too large (at most " + std::to_string(kMaxImagePixels) + " pixels)");
    }
    const bool known = h.Compression == 0 || (h.Compression == 1 && bits == 8) ||
                       (h.Compression == 2 && bits == 4) ||
                       (h.BitFields() && (bits == 16 || bits == 32) && h.InfoHeaderSize != 64);
    if (!known) {
        return fail("compression " + std::to_string(h.Compression) + " with " + std::to_string(bits) +
                    " bits per pixel, which cannot be imported");
    }
    if (h.RunLength() && h.TopDown()) {
        return fail("run-length compressed rows stored top line first, which BMP does not allow");
    }
    if (h.BitFields() && !h.MasksInFile) {
        return fail("file ends inside the bit masks");
    }
    if (h.PixelOffset < h.PaletteStart) {
        return fail("pixels at offset " + std::to_string(h.PixelOffset) + ", inside the header");
    }
    if (h.PixelOffset > fileBytes) {
        return fail("pixels at offset " + std::to_string(h.PixelOffset) + ", beyond the end of the file (" +
                    std::to_string(fileBytes) + " bytes)");
    }
    if (bits <= 8) {
        if (h.ColoursUsed > h.IndexableColours()) {
            return fail("a " + std::to_string(h.ColoursUsed) + "-colour palette, more than " +
                        std::to_string(bits) + " bits can index");
        }
        if (h.PaletteEntries == 0) {
            return fail("no room for a palette before the pixels at offset " + std::to_string(h.PixelOffset));
        }
    }
    if (!h.RunLength()) {
        const std::uint64_t whole = (fileBytes - h.PixelOffset) / h.RowStride();
        if (whole < static_cast<std::uint64_t>(h.Lines())) {
            return fail(RowsMissing(whole + 1, h.Lines()));
        }
    }
    return std::nullopt;
}

namespace {

// Why a bitmap that is not one of the two kinds read here is not opened, or
// none when it is one of them.
std::optional<Error> KindRefusal(const BitmapHeader& h, BitmapDepths accepted) {
    const std::uint32_t bits = h.BitsPerPixel;
    const std::uint32_t compression = h.Compression;
    if ((compression == 4 || compression == 5) && (!h.Os2 || compression == 5)) {
        return Error{BitmapNotOpenedBecause("bitmap with " + CompressionName(compression, h.Os2))};
    }
    if (bits == 1 || bits == 2 || bits == 4) {
        if (bits == 4 && compression == 2) {
            return Error{BitmapNotOpenedBecause("4-bit bitmap with run-length compression (RLE4)")};
        }
        const std::uint64_t colours = h.ColoursUsed != 0 ? h.ColoursUsed : (std::uint64_t{1} << bits);
        return Error{BitmapNotOpenedBecause(std::to_string(bits) + "-bit bitmap (" + std::to_string(colours) +
                                            " colours)")};
    }
    if (bits == 16 || bits == 32) {
        return Error{BitmapNotOpenedBecause(std::to_string(bits) + "-bit bitmap")};
    }
    if (bits != 8 && bits != 24) {
        return Error{"the header gives " + std::to_string(bits) + " bits per pixel, a depth no bitmap has"};
    }
    if (compression != 0) {
        return Error{BitmapNotOpenedBecause(std::to_string(bits) + "-bit bitmap with " +
                                            CompressionName(compression, h.Os2))};
    }
    if (bits == 24 && accepted == BitmapDepths::GrayOnly) {
        return Error{std::string(kColourBitmapRefusal)};
    }
    return std::nullopt;
}

// The 256-entry palette of an 8-bit file into layout; whether it is all gray.
Status ReadPalette(const BitmapHeader& h, std::span<const std::uint8_t> start, std::uint64_t fileSize,
                   BitmapLayout& layout) {
    const std::uint64_t paletteStart = 14 + std::uint64_t{h.InfoHeaderSize};
    const std::uint32_t entryBytes = h.PaletteEntryBytes;
    if (h.PaletteEntries != 256) {
        return Error{BitmapNotOpenedBecause("8-bit bitmap with a " + std::to_string(h.PaletteEntries) +
                                            "-colour palette (pixels at offset " +
                                            std::to_string(h.PixelOffset) + ")")};
    }
    if (fileSize < paletteStart + 256 * entryBytes || start.size() < paletteStart + 256 * entryBytes) {
        return Error{"file ends inside the palette"};
    }
    layout.GrayPalette = true;
    for (std::size_t i = 0; i < 256; ++i) {
        const std::size_t at = paletteStart + i * entryBytes;
        const std::uint32_t blue = start[at];
        const std::uint32_t green = start[at + 1];
        const std::uint32_t red = start[at + 2];
        const std::uint32_t fourth = entryBytes == 4 ? start[at + 3] : 0;
        layout.FilePalette[i] = blue | (green << 8) | (red << 16) | (fourth << 24);
        layout.GrayPalette = layout.GrayPalette && blue == green && green == red;
    }
    return {};
}

}  // namespace

Expected<BitmapLayout> InspectBitmapHeader(std::span<const std::uint8_t> start, std::uint64_t fileSize,
                                           BitmapDepths accepted) {
    auto parsed = ParseBitmapHeader(start);
    if (!parsed) {
        return parsed.error();
    }
    const BitmapHeader& h = *parsed;
    if (auto refusal = KindRefusal(h, accepted)) {
        return *refusal;
    }

    // One of ours: now the fields must make sense together.
    const std::int64_t width = h.Width;
    const std::int64_t height = h.Height;
    const std::uint32_t offset = h.PixelOffset;
    if (width < 0) {
        return Error{"the header gives a negative width (" + std::to_string(width) + ")"};
    }
    if (height == INT32_MIN) {
        return Error{"the header's height " + std::to_string(height) + " is out of range"};
    }
    const bool topDown = height < 0;
    const std::int64_t lines = topDown ? -height : height;
    const int bytesPerPixel = static_cast<int>(h.BitsPerPixel / 8);
    const std::uint64_t rowBytes =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bytesPerPixel);
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(lines) > kMaxImagePixels ||
        rowBytes > static_cast<std::uint64_t>(INT_MAX)) {
        return Error{"image of " + std::to_string(width) + " x " + std::to_string(lines) +
                     " pixels is too large"};
    }
    if (offset < 14 + std::uint64_t{h.InfoHeaderSize}) {
        return Error{"the pixel data offset " + std::to_string(offset) + " lies inside the header"};
    }

    BitmapLayout layout;
    layout.InfoHeaderSize = h.InfoHeaderSize;
    layout.Width = static_cast<int>(width);
    layout.Lines = static_cast<int>(lines);
    layout.TopDown = topDown;
    layout.BitsPerPixel = static_cast<int>(h.BitsPerPixel);
    layout.PixelOffset = offset;
    layout.Stride = BitmapStride(width, bytesPerPixel);
    if (h.BitsPerPixel == 8) {
        if (const Status palette = ReadPalette(h, start, fileSize, layout); !palette) {
            return palette.error();
        }
    }
    if (offset > fileSize) {
        return Error{"file ends before its pixel data at offset " + std::to_string(offset)};
    }
    // A file too short for the rows it announces is refused here, before the
    // rows are allocated.
    const std::uint64_t pixelBytes = fileSize - offset;
    if (layout.Stride != 0 && pixelBytes / layout.Stride < static_cast<std::uint64_t>(lines)) {
        return Error{RowsMissing(pixelBytes / layout.Stride + 1, lines)};
    }
    return layout;
}

namespace {

Expected<BitmapData> ReadBitmap(std::uint64_t size, const ReadAtFn& readAt, bool grayOnly) {
    std::vector<std::uint8_t> start(
        static_cast<std::size_t>(std::min<std::uint64_t>(size, kBitmapInspectBytes)));
    auto got = readAt(0, start);
    if (!got) {
        return got.error();
    }
    start.resize(*got);
    auto inspected =
        InspectBitmapHeader(start, size, grayOnly ? BitmapDepths::GrayOnly : BitmapDepths::GrayAndColour);
    if (!inspected) {
        return inspected.error();
    }
    const BitmapLayout& layout = *inspected;
    const int bytesPerPixel = layout.BitsPerPixel / 8;
    const auto rowBytes = static_cast<std::size_t>(layout.Width) * static_cast<std::size_t>(bytesPerPixel);
    auto matrix = AllocateByteMatrix(static_cast<int>(rowBytes), layout.Lines);
    if (!matrix) {
        return matrix.error();
    }
    BitmapData data;
    data.Width = layout.Width;
    data.Height = layout.Lines;
    data.BitsPerPixel = layout.BitsPerPixel;
    data.Rows = std::move(*matrix);
    data.FilePalette = layout.FilePalette;

    const BitmapTones tones = BitmapTonesOf(layout);
    const bool lookUp = !tones.Identity;

    // Many rows per read; each is copied from the block into its line.
    const std::uint64_t stride = layout.Stride;
    if (stride == 0 || layout.Lines == 0) {
        return data;
    }
    const std::uint64_t rowsPerBlock = std::max<std::uint64_t>(1, (std::uint64_t{1} << 22) / stride);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(
        std::min<std::uint64_t>(rowsPerBlock, static_cast<std::uint64_t>(layout.Lines)) * stride));
    for (std::uint64_t first = 0; first < static_cast<std::uint64_t>(layout.Lines); first += rowsPerBlock) {
        const std::uint64_t count =
            std::min<std::uint64_t>(rowsPerBlock, static_cast<std::uint64_t>(layout.Lines) - first);
        const std::span<std::uint8_t> into(block.data(), static_cast<std::size_t>(count * stride));
        auto read = readAt(layout.PixelOffset + first * stride, into);
        if (!read) {
            return Error{"reading row " + std::to_string(first + 1) + " failed: " + read.error().message};
        }
        if (*read < into.size()) {
            // The size checked before allocating was not what could be read.
            return Error{"the file ended early while it was read, inside row " +
                         std::to_string(first + *read / stride + 1) + " of " + std::to_string(layout.Lines)};
        }
        for (std::uint64_t k = 0; k < count; ++k) {
            const auto fileRow = static_cast<int>(first + k);
            const int line = layout.TopDown ? fileRow : layout.Lines - 1 - fileRow;
            const std::uint8_t* from = block.data() + k * stride;
            std::uint8_t* to = data.Rows[line];
            if (lookUp) {
                for (std::size_t j = 0; j < rowBytes; ++j) {
                    to[j] = tones.Of[from[j]];
                }
            } else {
                std::memcpy(to, from, rowBytes);
            }
        }
    }
    return data;
}

}  // namespace

Expected<BitmapData> ReadBitmapStream(std::istream& in, std::uint64_t streamSize) {
    return ReadBitmap(
        streamSize,
        [&in](std::uint64_t offset, std::span<std::uint8_t> into) -> Expected<std::size_t> {
            in.clear();
            in.seekg(static_cast<std::streamoff>(offset));
            if (!in) {
                return std::size_t{0};
            }
            in.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
            return static_cast<std::size_t>(in.gcount());
        },
        false);
}

namespace {

Expected<BitmapData> ReadFile(const std::filesystem::path& fileName, bool grayOnly) {
    auto file = detail::InputFile::Open(fileName);
    if (!file) {
        return file.error();
    }
    const detail::InputFile& input = *file;
    return ReadBitmap(
        input.Size(),
        [&input](std::uint64_t offset, std::span<std::uint8_t> into) { return input.ReadAt(offset, into); },
        grayOnly);
}

}  // namespace

Expected<BitmapData> ReadBitmapFile(const std::filesystem::path& fileName) {
    return ReadFile(fileName, false);
}

Expected<BitmapData> ReadGrayBitmapFile(const std::filesystem::path& fileName) {
    return ReadFile(fileName, true);
}

bool IsColourBitmapRefusal(const Error& error) noexcept {
    return error.message == kColourBitmapRefusal;
}

}  // namespace kavel
