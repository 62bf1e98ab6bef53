#include "kavel/openplan.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cctype>
#include <string_view>
#include <utility>
#include <vector>

#include "inputfile.h"
#include "kavel/imagefile.h"
#include "kavel/memorybudget.h"

namespace kavel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kImportAdvice = "`kavel-cli import` converts it";

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

bool StartsWith(std::span<const std::uint8_t> head, std::string_view mark, std::size_t at = 0) {
    return head.size() >= at + mark.size() &&
           std::equal(mark.begin(), mark.end(), head.subspan(at).begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

// A Netpbm header: P1..P7, white space, then a number (or, for P7, a word),
// with comments allowed between.
bool IsNetpbm(std::span<const std::uint8_t> head) {
    if (head.size() < 4 || head[0] != 'P' || head[1] < '1' || head[1] > '7' || std::isspace(head[2]) == 0) {
        return false;
    }
    std::size_t i = 2;
    while (i < head.size()) {
        if (std::isspace(head[i]) != 0) {
            ++i;
        } else if (head[i] == '#') {
            while (i < head.size() && head[i] != '\n') {
                ++i;
            }
        } else {
            break;
        }
    }
    return i < head.size() && (head[1] == '7' ? std::isupper(head[i]) != 0 : std::isdigit(head[i]) != 0);
}

// TIFF: the byte order, 42, and a first directory inside the file.
bool IsTiff(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
    if (head.size() < 8 || !(StartsWith(head, "II*") || StartsWith(head, std::string_view("MM\0*", 4)))) {
        return false;
    }
    const bool little = head[0] == 'I';
    if ((little ? head[3] : head[2]) != 0) {
        return false;
    }
    const std::uint32_t offset =
        little ? Le32(head, 4)
               : (static_cast<std::uint32_t>(head[4]) << 24 | static_cast<std::uint32_t>(head[5]) << 16 |
                  static_cast<std::uint32_t>(head[6]) << 8 | static_cast<std::uint32_t>(head[7]));
    return offset >= 8 && offset < fileSize;
}

bool IsImageWords(std::string_view what) {
    return what.find("image") != std::string_view::npos || what.find("DICOM") != std::string_view::npos;
}

bool HasBitmapName(const fs::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return extension == ".bmp";
}

OpenPlan Refuse(OpenPlan plan, std::string reason) {
    plan.Kind = OpenKind::Refused;
    plan.Refusal = Error{std::move(reason)};
    return plan;
}

OpenPlan ForConversion(OpenPlan plan, std::string what, std::string refusal) {
    plan.Kind = OpenKind::Convert;
    plan.What = std::move(what);
    plan.Refusal = Error{std::move(refusal)};
    return plan;
}

// A file that starts "BM": read as it is, for the conversion, or refused.
OpenPlan PlanBitmap(OpenPlan plan, std::span<const std::uint8_t> head) {
    auto layout = InspectBitmapHeader(head, plan.FileBytes, BitmapDepths::GrayOnly);
    if (layout) {
        plan.Kind = OpenKind::GrayBitmap;
        plan.Size = ImageSize{layout->Lines, layout->Width};
        plan.Layout = *layout;
        return plan;
    }
    plan.ColourBitmap = IsColourBitmapRefusal(layout.error());
    const auto header = ParseBitmapHeader(head);
    if (header && !BitmapConversionProblem(*header, plan.FileBytes)) {
        return ForConversion(std::move(plan), BitmapKindWords(*header), layout.error().message);
    }
    return Refuse(std::move(plan), layout.error().message);
}

// Raw pixels: the size given, or the descriptor's.
OpenPlan PlanRaw(OpenPlan plan, const std::optional<ImageSize>& size) {
    if (size) {
        if (size->Lines < 0 || size->Columns < 0) {
            return Refuse(std::move(plan), "negative image size (" + std::to_string(size->Columns) +
                                               " columns, " + std::to_string(size->Lines) + " lines)");
        }
        plan.Kind = OpenKind::RawSized;
        plan.Size = *size;
    } else {
        const DescriptorLocation descriptor = FindDescriptor(plan.File);
        plan.Descriptor = descriptor.Name;
        if (!descriptor.Exists) {
            plan.Kind = OpenKind::RawUnsized;
            return plan;
        }
        auto described = ReadDescriptorFile(descriptor.Name);
        if (!described) {
            plan.DescriptorRefused = true;
            return Refuse(std::move(plan), described.error().message);
        }
        plan.Kind = OpenKind::RawDescribed;
        plan.Size = *described;
    }
    if (plan.PixelBytes() > kMaxImagePixels) {
        return Refuse(std::move(plan), "image of " + std::to_string(plan.Size.Columns) + " x " +
                                           std::to_string(plan.Size.Lines) + " pixels is too large");
    }
    return plan;
}

// What the content says before the name is believed; nothing when it may be
// read as the name says.
std::optional<OpenPlan> PlanByContent(OpenPlan& plan, std::span<const std::uint8_t> head, bool asBitmap,
                                      bool contentOnly) {
    if (asBitmap && StartsWith(head, "BM")) {
        return std::nullopt;  // the bitmap reader says the rest
    }
    const std::string what =
        KnownFormatOf(head.first(std::min(head.size(), kSignatureBytes)), plan.FileBytes);
    if (what.empty()) {
        if (contentOnly) {
            // Only the conversion can say whether it reads these bytes.
            return ForConversion(std::move(plan), {}, "not a BMP file");
        }
        return std::nullopt;
    }
    if (what == "a Windows bitmap") {
        return Refuse(std::move(plan), "is a Windows bitmap, not raw bytes: name it .bmp to read it as one");
    }
    if (!IsImageWords(what)) {
        return Refuse(std::move(plan), "is " + what + ", not an image");
    }
    return ForConversion(std::move(plan), what,
                         "is " + what + (asBitmap ? ", not a Windows bitmap: " : ", not raw bytes: ") +
                             std::string(kImportAdvice));
}

}  // namespace

SizeMismatch OpenPlan::Mismatch() const noexcept {
    if (Kind != OpenKind::RawDescribed && Kind != OpenKind::RawSized) {
        return SizeMismatch::None;
    }
    const std::uint64_t pixels = PixelBytes();
    return FileBytes < pixels   ? SizeMismatch::Short
           : FileBytes > pixels ? SizeMismatch::Long
                                : SizeMismatch::None;
}

OpenPlan PlanOpen(const fs::path& file, OpenAs as, const std::optional<ImageSize>& size) {
    OpenPlan plan;
    plan.File = file;
    auto opened = detail::InputFile::Open(file);
    if (!opened) {
        return Refuse(std::move(plan), opened.error().message);
    }
    plan.FileBytes = opened->Size();
    std::vector<std::uint8_t> head(
        static_cast<std::size_t>(std::min<std::uint64_t>(plan.FileBytes, kBitmapInspectBytes)));
    auto got = opened->ReadAt(0, head);
    if (!got) {
        return Refuse(std::move(plan), "cannot read " + file.string() + ": " + got.error().message);
    }
    head.resize(*got);
    plan.Opened = std::make_shared<const detail::InputFile>(std::move(*opened));

    const bool asBitmap =
        as == OpenAs::Bitmap || as == OpenAs::Content || (as == OpenAs::ByName && HasBitmapName(file));
    if (as == OpenAs::Bitmap && !StartsWith(head, "BM")) {
        // The desktop's bitmap entry: the reader's words, and the conversion
        // for a file it knows.
        const std::string what =
            KnownFormatOf(std::span(head).first(std::min(head.size(), kSignatureBytes)), plan.FileBytes);
        if (IsImageWords(what)) {
            return ForConversion(std::move(plan), what, "not a BMP file");
        }
        return Refuse(std::move(plan), "not a BMP file");
    }
    if (as == OpenAs::ByName || as == OpenAs::Content) {
        if (auto decided = PlanByContent(plan, head, asBitmap, as == OpenAs::Content)) {
            return std::move(*decided);
        }
    }
    plan = asBitmap ? PlanBitmap(std::move(plan), head) : PlanRaw(std::move(plan), size);
    if (plan.Loadable()) {
        plan.MemoryBytes = ImageOpenBytes(plan.Size.Lines, plan.Size.Columns);
    }
    return plan;
}

std::string MismatchWords(const OpenPlan& plan) {
    if (plan.Mismatch() == SizeMismatch::None) {
        return {};
    }
    const std::string source =
        plan.Kind == OpenKind::RawDescribed ? "its descriptor describes" : "its size is";
    return "holds " + std::to_string(plan.FileBytes) + " bytes; " + source + " " +
           std::to_string(plan.Size.Lines) + " x " + std::to_string(plan.Size.Columns) + " (" +
           ByteSizeText(plan.PixelBytes()) + ")";
}

ImageLoader::ImageLoader(LineSource source, ByteMatrix image)
    : source_(std::move(source)), image_(std::move(image)), size_(source_.Size()) {}

Expected<ImageLoader> ImageLoader::Start(const OpenPlan& plan, std::size_t bandBytes) {
    auto source = OpenPlannedLines(plan, bandBytes);
    if (!source) {
        return source.error();
    }
    auto image = AllocateByteMatrix(plan.Size.Columns, plan.Size.Lines);
    if (!image) {
        return image.error();
    }
    return ImageLoader(std::move(*source), std::move(*image));
}

Status ImageLoader::ReadBand() {
    assert(!Done());
    const int count = std::min(source_.BandLines(), size_.Lines - read_);
    // In the file's order, so the reads go forward through the file; the
    // lines land where they belong in the matrix.
    const int top = source_.FileOrder() == LineOrder::TopFirst ? read_ : size_.Lines - read_ - count;
    const auto columns = static_cast<std::size_t>(size_.Columns);
    std::span<std::uint8_t> rows;
    if (columns != 0) {
        rows = image_.Bytes().subspan(static_cast<std::size_t>(top) * columns,
                                      static_cast<std::size_t>(count) * columns);
    }
    if (auto read = source_.Read(LineOrder::TopFirst, top, count, rows); !read) {
        return read;
    }
    read_ += count;
    return {};
}

Expected<ByteMatrix> LoadPlannedImage(const OpenPlan& plan) {
    auto loader = ImageLoader::Start(plan);
    if (!loader) {
        return loader.error();
    }
    while (!loader->Done()) {
        if (auto read = loader->ReadBand(); !read) {
            return read.error();
        }
    }
    return loader->Take();
}

std::string KnownFormatOf(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
    struct Mark {
        std::string_view Bytes;
        std::size_t At;
        std::string_view What;
    };
    // Marks long enough that raw gray bytes do not start with them by chance.
    static constexpr std::array kMarks{
        Mark{"\x89PNG\r\n\x1A\n", 0, "a PNG image"},
        Mark{"GIF87a", 0, "a GIF image"},
        Mark{"GIF89a", 0, "a GIF image"},
        Mark{"WEBP", 8, "a WebP image"},
        Mark{std::string_view("\0\0\0\x0CjP  \r\n\x87\n", 12), 0, "a JPEG 2000 image"},
        Mark{std::string_view("\0\0\0\x0CJXL \r\n\x87\n", 12), 0, "a JPEG XL image"},
        Mark{"qoif", 0, "a QOI image"},
        Mark{"8BPS", 0, "a Photoshop image"},
        Mark{"v/1\x01", 0, "an OpenEXR image"},
        Mark{"SIMPLE  =", 0, "a FITS image"},
        Mark{"DICM", 128, "a DICOM file"},
        Mark{"%PDF-", 0, "a PDF document"},
        Mark{"PK\x03\x04", 0, "a ZIP archive"},
        Mark{"\x1F\x8B\x08", 0, "a gzip archive"},
    };
    for (const Mark& mark : kMarks) {
        if (StartsWith(head, mark.Bytes, mark.At)) {
            if (mark.At == 8 && !StartsWith(head, "RIFF")) {
                continue;
            }
            return std::string(mark.What);
        }
    }
    if (StartsWith(head, "ftyp", 4) && head.size() >= 12) {
        const std::string brand(head.begin() + 8, head.begin() + 12);
        if (brand == "avif" || brand == "avis") {
            return "an AVIF image";
        }
        if (brand == "heic" || brand == "heix" || brand == "mif1" || brand == "msf1") {
            return "a HEIF image";
        }
    }
    // JPEG: the start-of-image marker and the first marker of a segment.
    if (head.size() >= 4 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF && head[3] >= 0xC0 &&
        head[3] != 0xFF) {
        return "a JPEG image";
    }
    if (IsTiff(head, fileSize)) {
        return "a TIFF image";
    }
    if (IsNetpbm(head)) {
        return "a Netpbm (PBM/PGM/PPM/PAM) image";
    }
    // A bitmap that says its own length and has its reserved fields clear.
    if (head.size() >= 14 && StartsWith(head, "BM") && Le32(head, 2) == fileSize && Le32(head, 6) == 0) {
        return "a Windows bitmap";
    }
    return {};
}

}  // namespace kavel
