// One sequence for opening an image file, shared by the desktop and kavel-cli:
// check the file, then its descriptor or a given size, then what it holds,
// before any pixel is read; then the pixels, whole or a band at a time.
//
//   OpenPlan plan = PlanOpen(file, OpenAs::ByName);
//   // the caller warns or asks about plan.Kind, plan.Mismatch(), plan.MemoryBytes
//   Expected<ByteMatrix> image = LoadPlannedImage(plan);
//
// The plan keeps the file it looked at open, so the pixels come from the very
// file whose size and header were checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "kavel/bitmap.h"
#include "kavel/expected.h"
#include "kavel/guitools.h"
#include "kavel/rawimage.h"
#include "kavel/stream.h"

namespace kavel {

namespace detail {
class InputFile;
}

// How the file was chosen.
enum class OpenAs {
    RawBytes,  // raw pixels whatever the file holds (the desktop's raw entry)
    Bitmap,    // a bitmap (the desktop's bitmap entry)
    ByName,    // a command-line name: .bmp a bitmap, anything else raw pixels;
               // a file whose content is a known image format either way is
               // for the conversion
    Content,   // decided by the content alone (standard input): a bitmap, or
               // anything else for the conversion
};

enum class OpenKind {
    RawDescribed,  // raw pixels sized by the descriptor beside them
    RawSized,      // raw pixels of the size the caller gave
    RawUnsized,    // raw pixels without a descriptor: plan again with a size
    GrayBitmap,    // an 8-bit bitmap the core reads as it is
    Convert,       // an image only the conversion reads (What says what it is)
    Refused,       // Refusal says why
};

// Where a raw file's size and its lines x columns disagree.
enum class SizeMismatch { None, Short, Long };

struct OpenPlan {
    OpenKind Kind = OpenKind::Refused;
    std::filesystem::path File;
    // Raw kinds: the descriptor that was read, or where a new one goes.
    std::filesystem::path Descriptor;
    bool DescriptorRefused = false;  // Refused because of the descriptor, not the image
    ImageSize Size;                  // raw and bitmap kinds
    std::uint64_t FileBytes = 0;
    // What an open of Size holds at once in the desktop (ImageOpenBytes).
    std::uint64_t MemoryBytes = 0;
    // Convert: what the file is ("run-length compressed 8-bit bitmap", "a PNG
    // image"); empty when only the conversion can say.
    std::string What;
    // Refused: why. Convert: the words for a caller that does not convert
    // (kavel-cli --strict, the desktop's bitmap entry).
    Error Refusal;
    bool ColourBitmap = false;  // a 24-bit bitmap (the desktop's CAUTION box)
    BitmapLayout Layout;        // GrayBitmap: where its rows are and how they read
    // The file as it was looked at, kept open for the load.
    std::shared_ptr<const detail::InputFile> Opened;

    bool Loadable() const noexcept {
        return Kind == OpenKind::RawDescribed || Kind == OpenKind::RawSized || Kind == OpenKind::GrayBitmap;
    }
    bool Raw() const noexcept {
        return Kind == OpenKind::RawDescribed || Kind == OpenKind::RawSized || Kind == OpenKind::RawUnsized;
    }
    // Lines x columns.
    std::uint64_t PixelBytes() const noexcept {
        return static_cast<std::uint64_t>(Size.Lines) * static_cast<std::uint64_t>(Size.Columns);
    }
    // Raw kinds with a size: a short file reads as 0 past its end, a long
    // one's extra bytes are not read.
    SizeMismatch Mismatch() const noexcept;
};

// size: a raw image's size the caller gives (--size, the size dialog); the
// descriptor is then neither looked for nor read.
OpenPlan PlanOpen(const std::filesystem::path& file, OpenAs as,
                  const std::optional<ImageSize>& size = std::nullopt);

// "holds 100 bytes; its descriptor describes 60000 x 60000 (3.4 GB)": a raw
// plan's mismatch in words, "its size" in place of "its descriptor" when the
// size was given. Empty when there is none.
std::string MismatchWords(const OpenPlan& plan);

// Reads a planned image into one matrix a band of lines at a time, so a
// caller can show progress between bands or stop:
//   auto loader = ImageLoader::Start(plan);
//   while (loader && !loader->Done()) { loader->ReadBand(); progress(loader->LinesRead()); }
//   ByteMatrix image = loader->Take();
inline constexpr std::size_t kLoadBandBytes = std::size_t{1} << 24;
class ImageLoader {
public:
    // The matrix is allocated here; the plan must be Loadable().
    static Expected<ImageLoader> Start(const OpenPlan& plan, std::size_t bandBytes = kLoadBandBytes);

    ImageSize Size() const noexcept { return size_; }
    int LinesRead() const noexcept { return read_; }
    bool Done() const noexcept { return read_ == size_.Lines; }
    // The next band of lines, in the order the file holds them.
    Status ReadBand();
    // The image; all of it once Done().
    ByteMatrix Take() noexcept { return std::move(image_); }

private:
    ImageLoader(LineSource source, ByteMatrix image);
    LineSource source_;
    ByteMatrix image_;
    ImageSize size_;
    int read_ = 0;
};

// The whole image at once.
Expected<ByteMatrix> LoadPlannedImage(const OpenPlan& plan);

// The planned image's lines a band at a time, for the streaming commands.
Expected<LineSource> OpenPlannedLines(const OpenPlan& plan, std::size_t bandBytes = StreamBandBytes());

// What the first bytes of a file say it is when that is a known format KAVEL
// does not read as it is ("a PNG image"), or empty. fileSize is the whole
// length, used to confirm the weaker signatures.
std::string KnownFormatOf(std::span<const std::uint8_t> head, std::uint64_t fileSize);
inline constexpr std::size_t kSignatureBytes = 136;  // DICOM's mark sits at 128

}  // namespace kavel
