#include "imagefiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <streambuf>
#include <string>
#include <system_error>
#include <utility>

#include "kavel/bitmap.h"
#include "kavel/safefile.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kImportAdvice = "`kavel-cli import` converts it";

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return lower;
}

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

bool StartsWith(std::span<const std::uint8_t> head, std::string_view mark, std::size_t at = 0) {
    return head.size() >= at + mark.size() &&
           std::equal(mark.begin(), mark.end(), head.subspan(at).begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

bool IsBitmapSignature(std::span<const std::uint8_t> head) {
    return StartsWith(head, "BM");
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

// Bytes in memory handed to the bitmap reader as a seekable stream.
class MemoryStreamBuffer : public std::streambuf {
public:
    explicit MemoryStreamBuffer(std::string& bytes) {
        char* begin = bytes.data();
        setg(begin, begin, begin + bytes.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode) override {
        const off_type base = way == std::ios_base::beg   ? 0
                              : way == std::ios_base::cur ? gptr() - eback()
                                                          : egptr() - eback();
        const off_type target = base + offset;
        if (target < 0 || target > egptr() - eback()) {
            return pos_type(off_type(-1));
        }
        setg(eback(), eback() + target, egptr());
        return pos_type(target);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }
};

// Reads standard input until its end into into, from its start; gives the
// count read or the system's reason.
Expected<std::size_t> ReadStdin(std::span<std::uint8_t> into) {
    std::size_t got = 0;
    while (got < into.size()) {
        const ssize_t n = ::read(STDIN_FILENO, into.data() + got, into.size() - got);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Error{"cannot read standard input: " + std::generic_category().message(errno)};
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// The rest of standard input, kept (to) or only counted.
Expected<std::uint64_t> DrainStdin(std::string* to) {
    std::array<std::uint8_t, 1 << 16> buffer{};
    std::uint64_t total = 0;
    for (;;) {
        auto got = ReadStdin(buffer);
        if (!got) {
            return got.error();
        }
        if (*got == 0) {
            return total;
        }
        total += *got;
        if (to != nullptr) {
            to->append(reinterpret_cast<const char*>(buffer.data()), *got);
        }
        if (*got < buffer.size()) {
            return total;
        }
    }
}

std::string ShortFileWarning(const ImageInput& input, std::uint64_t bytes, ImageSize size) {
    const std::string name = input.Stdin ? std::string("standard input") : input.Name;
    return "kavel-cli: " + name + ": warning: holds " + std::to_string(bytes) + " bytes, fewer than the " +
           std::to_string(size.Lines) + " x " + std::to_string(size.Columns) + " = " +
           std::to_string(static_cast<std::uint64_t>(size.Lines) * static_cast<std::uint64_t>(size.Columns)) +
           " of its size; the rest reads as 0\n";
}

// Why a file whose first bytes are those of a known format is not read as the
// kind its name gives, or empty when it may be read.
std::string SignatureRefusal(std::span<const std::uint8_t> head, std::uint64_t fileSize, ImageFormat kind,
                             bool fromStdin) {
    if (kind == ImageFormat::Bitmap && IsBitmapSignature(head)) {
        return {};  // the bitmap reader says the rest
    }
    const std::string what = KnownFormatOf(head, fileSize);
    if (what.empty()) {
        return {};
    }
    if (what == "a Windows bitmap") {
        return fromStdin ? "is a Windows bitmap, not raw bytes: leave out --size to read it as one"
                         : "is a Windows bitmap, not raw bytes: name it .bmp to read it as one";
    }
    if (what.find("image") == std::string::npos && what.find("DICOM") == std::string::npos) {
        return "is " + what + ", not an image";
    }
    return "is " + what + (kind == ImageFormat::Bitmap ? ", not a Windows bitmap: " : ", not raw bytes: ") +
           std::string(kImportAdvice);
}

Expected<ByteMatrix> LoadStdin(const ImageInput& input, std::string& warnings) {
    if (input.Size) {
        auto pixels = AllocateByteMatrix(input.Size->Columns, input.Size->Lines);
        if (!pixels) {
            return pixels.error();
        }
        auto got = ReadStdin(pixels->Bytes());
        if (!got) {
            return got.error();
        }
        // Bytes past the size are not pixels, but count for a bitmap's length.
        auto rest = DrainStdin(nullptr);
        if (!rest) {
            return rest.error();
        }
        const auto head = pixels->Bytes().first(std::min(*got, kSignatureBytes));
        if (auto refusal = SignatureRefusal(head, *got + *rest, ImageFormat::Raw, true); !refusal.empty()) {
            return Error{refusal};
        }
        if (*got < pixels->PixelCount()) {
            warnings += ShortFileWarning(input, *got, *input.Size);
        }
        return std::move(*pixels);
    }
    std::string bytes;
    if (auto read = DrainStdin(&bytes); !read) {
        return read.error();
    }
    if (bytes.empty()) {
        return Error{"is empty: give a bitmap there, or raw bytes with --size LINESxCOLUMNS"};
    }
    const std::span<const std::uint8_t> all(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                            bytes.size());
    if (auto refusal = SignatureRefusal(all.first(std::min(all.size(), kSignatureBytes)), all.size(),
                                        ImageFormat::Bitmap, true);
        !refusal.empty()) {
        return Error{refusal};
    }
    // Decided from the header first, so that a 24-bit image is refused in
    // the same words as a 24-bit file.
    if (auto layout = InspectBitmapHeader(all.first(std::min(all.size(), kBitmapInspectBytes)), all.size(),
                                          BitmapDepths::GrayOnly);
        !layout) {
        if (!IsBitmapSignature(all)) {
            // Most likely raw pixels, which carry no size of their own.
            return Error{layout.error().message +
                         "; for raw bytes give their size with --size LINESxCOLUMNS"};
        }
        return layout.error();
    }
    MemoryStreamBuffer buffer(bytes);
    std::istream in(&buffer);
    auto read = ReadBitmapStream(in, all.size());
    if (!read) {
        return read.error();
    }
    return std::move(read->Rows);
}

// The size of a raw input: --size, else its descriptor as found when the run
// described its inputs.
Expected<ImageSize> RawSizeOf(const ImageInput& input) {
    if (input.Size) {
        return *input.Size;
    }
    if (input.Descriptor) {
        auto read = ReadDescriptorFile(*input.Descriptor);
        if (!read) {
            return Error{"descriptor " + input.Descriptor->string() + ": " + read.error().message};
        }
        return read;
    }
    return Error{"no descriptor " + DescriptorNameFor(input.Name) +
                 "; give the size with --size LINESxCOLUMNS"};
}

Expected<ByteMatrix> LoadRaw(const ImageInput& input, std::string& warnings) {
    auto size = RawSizeOf(input);
    if (!size) {
        return size.error();
    }
    auto raw = LoadRawImage(input.Name, *size);
    if (!raw) {
        return raw.error();
    }
    // A short file reads with its missing pixels at 0, as in the desktop
    // application, so that every result there can be reproduced here; it is
    // worth a warning since it is usually a truncated copy.
    if (raw->Short()) {
        warnings += ShortFileWarning(input, raw->FileBytes, *size);
    }
    return std::move(raw->Pixels);
}

// The checks before a named input is read: what it is, and what its first
// bytes say it is. The name is already on the line, so the common cases are
// said briefly.
Status CheckFileInput(const ImageInput& input) {
    const fs::path file = input.Name;
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return Error{errno == ENOENT ? std::string("no such file") : std::generic_category().message(errno)};
    }
    if (S_ISDIR(info.st_mode)) {
        return Error{"is a folder, not an image"};
    }
    if (const std::string kind = SpecialFileKind(file); !kind.empty()) {
        return Error{"is " + kind + ", not a regular file"};
    }
    std::array<std::uint8_t, kSignatureBytes> head{};
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    const auto got = static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0));
    const std::string refusal = SignatureRefusal(std::span(head).first(got),
                                                 static_cast<std::uint64_t>(info.st_size), input.Kind, false);
    if (!refusal.empty()) {
        return Error{refusal};
    }
    return {};
}

}  // namespace

ImageFormat InputFormatOf(const fs::path& file) {
    return FormatOfName(file.native()) == ImageFormat::Bitmap ? ImageFormat::Bitmap : ImageFormat::Raw;
}

ImageInput DescribeInput(const std::string& name, const std::optional<ImageSize>& size) {
    ImageInput input;
    input.Name = name;
    input.Size = size;
    if (name == kStandardStream) {
        input.Stdin = true;
        input.Kind = size ? ImageFormat::Raw : ImageFormat::Bitmap;
        return input;
    }
    input.Kind = InputFormatOf(name);
    if (input.Kind == ImageFormat::Raw && !size) {
        if (const DescriptorLocation descriptor = FindDescriptor(name); descriptor.Exists) {
            input.Descriptor = descriptor.Name;
        }
    }
    return input;
}

std::vector<fs::path> FilesReadFor(const ImageInput& input) {
    std::vector<fs::path> files;
    if (!input.Stdin) {
        files.emplace_back(input.Name);
    }
    if (input.Descriptor) {
        files.push_back(*input.Descriptor);
    }
    return files;
}

Expected<ByteMatrix> LoadImage(const ImageInput& input, std::string& warnings) {
    if (input.Stdin) {
        return LoadStdin(input, warnings);
    }
    if (auto checked = CheckFileInput(input); !checked) {
        return checked.error();
    }
    if (input.Kind == ImageFormat::Raw) {
        return LoadRaw(input, warnings);
    }
    return LoadGrayBitmap(input.Name);
}

Expected<LineSource> OpenImageLines(const ImageInput& input, std::string& warnings) {
    assert(!input.Stdin);
    if (auto checked = CheckFileInput(input); !checked) {
        return checked.error();
    }
    if (input.Kind == ImageFormat::Bitmap) {
        return LineSource::OpenBitmap(input.Name);
    }
    auto size = RawSizeOf(input);
    if (!size) {
        return size.error();
    }
    auto source = LineSource::OpenRaw(input.Name, *size);
    if (source && source->Short()) {
        warnings += ShortFileWarning(input, source->FileBytes(), *size);
    }
    return source;
}

std::vector<fs::path> FilesWrittenFor(const fs::path& file, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return {file};
    }
    return {file, fs::path(DescriptorNameFor(file.string()))};
}

Status SaveImage(const fs::path& file, const ByteMatrix& image, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return SaveBitmapImage(file, image);
    }
    return SaveRawImage(file, fs::path(DescriptorNameFor(file.string())), image);
}

Status SaveImageLines(const fs::path& file, LineProducer& lines, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return SaveBitmapLines(file, lines);
    }
    return SaveRawLines(file, fs::path(DescriptorNameFor(file.string())), lines);
}

Status WriteImageToStdout(const ByteMatrix& image, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        if (auto written = WriteBitmapStream(std::cout, image); !written) {
            return written;
        }
    } else {
        const auto bytes = image.Bytes();
        std::cout.write(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()));
    }
    if (!std::cout.flush()) {
        return Error{"cannot write the result to standard output"};
    }
    return {};
}

Status WriteLinesToStdout(LineProducer& lines, ImageFormat format) {
    const ImageSize size = lines.Size();
    const auto rowBytes = static_cast<std::size_t>(size.Columns);
    std::size_t padding = 0;
    if (format == ImageFormat::Bitmap) {
        if (auto header = WriteBitmapHeaderStream(std::cout, size.Columns, size.Lines); !header) {
            return header;
        }
        padding = static_cast<std::size_t>(BitmapStride(size.Columns, 1)) - rowBytes;
    }
    const std::array<char, 4> zeros{};
    const auto order = format == ImageFormat::Bitmap ? LineOrder::BottomFirst : LineOrder::TopFirst;
    auto produced = lines.Produce(order, [&](int count, std::span<const std::uint8_t> rows) {
        if (padding == 0) {
            std::cout.write(reinterpret_cast<const char*>(rows.data()),
                            static_cast<std::streamsize>(rows.size()));
        } else {
            for (int line = 0; line < count; ++line) {
                std::cout.write(
                    reinterpret_cast<const char*>(rows.data()) + static_cast<std::size_t>(line) * rowBytes,
                    static_cast<std::streamsize>(rowBytes));
                std::cout.write(zeros.data(), static_cast<std::streamsize>(padding));
            }
        }
        return static_cast<bool>(std::cout);
    });
    if (!produced) {
        return produced;
    }
    if (!std::cout.flush()) {
        return Error{"cannot write the result to standard output"};
    }
    return {};
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
    // TIFF: the byte order, 42, and a first directory inside the file.
    if (head.size() >= 8 && (StartsWith(head, "II*") || StartsWith(head, std::string_view("MM\0*", 4)))) {
        const bool little = head[0] == 'I';
        if ((little ? head[3] : head[2]) == 0) {
            const std::uint32_t offset =
                little
                    ? Le32(head, 4)
                    : (static_cast<std::uint32_t>(head[4]) << 24 | static_cast<std::uint32_t>(head[5]) << 16 |
                       static_cast<std::uint32_t>(head[6]) << 8 | static_cast<std::uint32_t>(head[7]));
            if (offset >= 8 && offset < fileSize) {
                return "a TIFF image";
            }
        }
    }
    if (IsNetpbm(head)) {
        return "a Netpbm (PBM/PGM/PPM/PAM) image";
    }
    // A bitmap that says its own length and has its reserved fields clear.
    if (head.size() >= 14 && IsBitmapSignature(head) && Le32(head, 2) == fileSize && Le32(head, 6) == 0) {
        return "a Windows bitmap";
    }
    return {};
}

namespace {

// The names in folder of stem that could have a descriptor. The folder is
// read once, so that a run of many descriptors among many images does not
// read it again for each.
std::vector<fs::path> NamesOfStem(const fs::path& folder, const std::string& stem) {
    static std::mutex mutex;
    static std::map<fs::path, std::map<std::string, std::vector<fs::path>>> folders;
    const std::lock_guard lock(mutex);
    const auto [entry, added] = folders.try_emplace(folder);
    if (added) {
        std::error_code ec;
        for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            const fs::path name = it->path().filename();
            const std::string extension = Lower(name.extension().string());
            // A descriptor replaces the image's last extension; bitmaps have none.
            if (extension != ".txt" && extension != ".bmp") {
                entry->second[name.stem().string()].push_back(name);
            }
        }
    }
    const auto names = entry->second.find(stem);
    return names == entry->second.end() ? std::vector<fs::path>{} : names->second;
}

}  // namespace

std::optional<std::string> DescribedImageOf(const std::string& input) {
    if (input == kStandardStream) {
        return std::nullopt;
    }
    const fs::path path(input);
    if (Lower(path.extension().string()) != ".txt") {
        return std::nullopt;
    }
    const std::string stem = path.stem().string();
    const fs::path folder = path.parent_path();
    std::vector<fs::path> candidates = NamesOfStem(folder, stem);
    // .raw first, then by name, so that the answer does not depend on the
    // order of the folder.
    std::sort(candidates.begin(), candidates.end(), [](const fs::path& a, const fs::path& b) {
        const bool rawA = Lower(a.extension().string()) == ".raw";
        const bool rawB = Lower(b.extension().string()) == ".raw";
        return rawA != rawB ? rawA : a < b;
    });
    for (const fs::path& name : candidates) {
        const fs::path image = folder / name;
        std::error_code statError;
        if (!fs::is_regular_file(image, statError)) {
            continue;
        }
        const DescriptorLocation descriptor = FindDescriptor(image);
        if (descriptor.Exists && SameFile(descriptor.Name, path) && !SameFile(image, path)) {
            return image.string();
        }
    }
    return std::nullopt;
}

bool IsTextDocument(const std::string& input) {
    if (input == kStandardStream) {
        return false;
    }
    static constexpr std::array kTextEndings{".md",   ".markdown", ".rst",  ".txt", ".csv", ".tsv",
                                             ".json", ".xml",      ".html", ".htm", ".log", ".xls"};
    const std::string extension = Lower(fs::path(input).extension().string());
    if (std::find(kTextEndings.begin(), kTextEndings.end(), extension) == kTextEndings.end()) {
        return false;
    }
    std::error_code ec;
    if (!fs::is_regular_file(input, ec)) {
        return false;
    }
    std::array<char, 4096> head{};
    std::ifstream in(input, std::ios::binary);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    const auto got = static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0));
    return std::all_of(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(got), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f';
    });
}

}  // namespace kavel::cli
