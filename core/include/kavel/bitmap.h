// Windows bitmaps. Written: the 54-byte header, 8 bits per pixel with a
// 256-entry palette at offset 1078, or 24 bits per pixel at offset 54; rows
// bottom line first, each padded to a multiple of 4 bytes.
//
// Read: every header the format has known (OS/2 1.x and 2.x, Windows 40 to
// 124 bytes) is understood well enough to say what the file is. Opened are
// uncompressed 8-bit files with a full 256-entry palette, wherever their pixels
// start, bottom-up or top-down, and uncompressed 24-bit files; everything is
// decided from the header before any row is read.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "kavel/expected.h"
#include "kavel/guitools.h"

namespace kavel {

// Row length in the file: width * bytes per pixel rounded up to a multiple of 4.
std::uint64_t BitmapStride(std::int64_t width, int bytesPerPixel) noexcept;
// Whole file length for the layout this program writes.
std::uint64_t BitmapFileSize(std::int64_t width, std::int64_t height, int bitsPerPixel) noexcept;

// The words every refusal of a bitmap that KAVEL does not open ends with.
inline constexpr std::string_view kBitmapConversionAdvice =
    "KAVEL opens 8-bit bitmaps with a full 256-colour palette; `kavel-cli import` converts it";
// The refusal of a 24-bit file by the command line (the desktop shows its own
// "CAUTION" box instead).
inline constexpr std::string_view kColourBitmapRefusal =
    "24-bit colour bitmap: KAVEL reads 8-bit gray bitmaps; `kavel-cli import` converts it";

// "WHAT: " followed by kBitmapConversionAdvice.
std::string BitmapNotOpenedBecause(std::string_view what);

// A bitmap's header as the file states it, for every header size the format
// has known; nothing here says whether KAVEL opens the file.
struct BitmapHeader {
    std::uint32_t InfoHeaderSize = 0;  // 12, 16, 40, 52, 56, 64, 108 or 124
    bool Os2 = false;                  // 12, 16 and 64: OS/2 headers
    std::int64_t Width = 0;
    std::int64_t Height = 0;  // as stored: negative for rows top line first
    std::uint32_t BitsPerPixel = 0;
    std::uint32_t Compression = 0;
    std::uint32_t ColoursUsed = 0;  // 0: as many as the depth indexes
    std::uint32_t PixelOffset = 0;
    // The palette: where it starts (after any bit masks of a 40-byte header),
    // the bytes of one entry (3 in the 12-byte header) and the entries it has
    // (the declared count, or fewer when the pixels start sooner; 0 above 8 bits).
    std::uint64_t PaletteStart = 0;
    std::uint32_t PaletteEntryBytes = 4;
    std::uint64_t PaletteEntries = 0;
    // Red, green, blue and alpha masks of bit-field files (compression 3 or 6).
    std::array<std::uint32_t, 4> Masks{};
    bool MasksInFile = false;  // false when the file ends before them

    bool TopDown() const noexcept { return Height < 0; }
    std::int64_t Lines() const noexcept { return Height < 0 ? -Height : Height; }
    bool RunLength() const noexcept { return Compression == 1 || Compression == 2; }
    bool BitFields() const noexcept { return Compression == 3 || Compression == 6; }
    // Entries the depth can index: 2, 4, 16 or 256; 0 above 8 bits.
    std::uint64_t IndexableColours() const noexcept;
    // Bytes of one stored row (uncompressed): a multiple of 4.
    std::uint64_t RowStride() const noexcept;
};

// The header from the first bytes of a file: "not a BMP file", "file ends
// inside the header", or a header size no bitmap has.
Expected<BitmapHeader> ParseBitmapHeader(std::span<const std::uint8_t> start);

// What the file is in a few words, for a line that says it was converted:
// "run-length compressed 8-bit bitmap", "8-bit bitmap with a 10-colour
// palette", "24-bit colour bitmap".
std::string BitmapKindWords(const BitmapHeader& header);

// Why the conversion (kavel-cli import) cannot read a bitmap with this header
// in a file of fileBytes bytes ("file ends inside row 3 of 10 ..."), or none.
std::optional<Error> BitmapConversionProblem(const BitmapHeader& header, std::uint64_t fileBytes);

// Everything the reader needs, taken from the header and the palette.
struct BitmapLayout {
    std::uint32_t InfoHeaderSize = 0;  // 12, 16, 40, 52, 56, 64, 108 or 124
    int Width = 0;
    int Lines = 0;         // always positive
    bool TopDown = false;  // the file's height field was negative
    int BitsPerPixel = 0;  // 8 or 24
    std::uint32_t PixelOffset = 0;
    std::uint64_t Stride = 0;
    Palette FilePalette{};     // 8-bit files, as 0x00RRGGBB
    bool GrayPalette = false;  // 8-bit files whose 256 entries all have blue = green = red
};

// The number of leading bytes InspectBitmapHeader wants (the largest header
// and a 256-entry palette); fewer are fine when the file is shorter.
inline constexpr std::size_t kBitmapInspectBytes = 14 + 124 + 256 * 4;

// Decides from the first bytes of a file of fileSize bytes whether it opens,
// refusing with the reason otherwise. Also refuses a file too short for the
// rows it announces, before anything is allocated for them.
// With GrayOnly, an uncompressed 24-bit file is refused with
// kColourBitmapRefusal as soon as its depth is known.
enum class BitmapDepths { GrayAndColour, GrayOnly };
Expected<BitmapLayout> InspectBitmapHeader(std::span<const std::uint8_t> start, std::uint64_t fileSize,
                                           BitmapDepths accepted = BitmapDepths::GrayAndColour);

// What each pixel byte of a file reads as: the gray of its palette entry when
// the palette is all gray, the byte itself otherwise.
struct BitmapTones {
    std::array<std::uint8_t, 256> Of{};
    bool Identity = true;  // every byte reads as itself
};
BitmapTones BitmapTonesOf(const BitmapLayout& layout) noexcept;

struct BitmapData {
    int Width = 0;         // pixels
    int Height = 0;        // lines, always positive here (top-down files are turned)
    int BitsPerPixel = 0;  // 8 or 24
    // Height lines of Width * BitsPerPixel / 8 bytes, line 0 at the top.
    // 8-bit files with a gray palette are read through it (tone = the entry's
    // gray); with a colour palette the indices are given back.
    ByteMatrix Rows;
    Palette FilePalette{};  // 8-bit files only
};

// Reads an opened 8- or 24-bit bitmap. Regular files only (a pipe or a device
// is refused, never waited on).
Expected<BitmapData> ReadBitmapFile(const std::filesystem::path& fileName);
// The same for 8-bit files only: a 24-bit file is refused from its header,
// before anything is allocated, with kColourBitmapRefusal.
Expected<BitmapData> ReadGrayBitmapFile(const std::filesystem::path& fileName);
bool IsColourBitmapRefusal(const Error& error) noexcept;
// The same from any stream; streamSize is the number of bytes it holds.
Expected<BitmapData> ReadBitmapStream(std::istream& in, std::uint64_t streamSize);

// Writes rows as a bitmap. Gray and paletted kinds give the 8-bit layout (the
// gray ramp unless a palette is given), RGB the 24-bit layout; the matrix then
// holds 3 bytes per pixel and the width is Columns() / 3. The file is replaced
// only once it is complete (see safefile.h).
Status WriteBitmapFile(const std::filesystem::path& fileName, const ByteMatrix& rows,
                       PixelKind kind = PixelKind::Gray, const Palette* palette = nullptr);
// The header (and for the 8-bit layout the palette) of a width x height file,
// for writers that send the rows themselves, bottom line first.
Status WriteBitmapHeaderStream(std::ostream& out, int width, int height, PixelKind kind = PixelKind::Gray,
                               const Palette* palette = nullptr);
Status WriteBitmapStream(std::ostream& out, const ByteMatrix& rows, PixelKind kind = PixelKind::Gray,
                         const Palette* palette = nullptr);

}  // namespace kavel
