#include "imagefiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>

#include "kavel/safefile.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

Expected<ImageSize> RawSizeOf(const fs::path& file, const std::optional<ImageSize>& size) {
    if (size) {
        return *size;
    }
    const DescriptorLocation descriptor = FindDescriptor(file);
    const std::string name = descriptor.Name.string();
    if (!descriptor.Exists) {
        return Error{"no descriptor " + name + "; give the size with --size LINESxCOLUMNS"};
    }
    auto read = ReadDescriptorFile(descriptor.Name);
    if (!read) {
        return Error{"descriptor " + name + ": " + read.error().message};
    }
    return read;
}

// A short file reads with its missing pixels at 0, as in the desktop
// application, so that every result there can be reproduced here; it is
// worth a warning since it is usually a truncated copy.
void WarnShort(const fs::path& file, ImageSize size, std::uint64_t fileBytes) {
    std::cerr << "kavel-cli: " << file.string() << ": warning: holds " << fileBytes
              << " bytes, fewer than the " << size.Lines << " x " << size.Columns << " = "
              << static_cast<std::uint64_t>(size.Lines) * static_cast<std::uint64_t>(size.Columns)
              << " of its size; the rest reads as 0\n";
}

Expected<ByteMatrix> LoadRaw(const fs::path& file, const std::optional<ImageSize>& size) {
    auto rawSize = RawSizeOf(file, size);
    if (!rawSize) {
        return rawSize.error();
    }
    auto raw = LoadRawImage(file, *rawSize);
    if (!raw) {
        return raw.error();
    }
    if (raw->Short()) {
        WarnShort(file, *rawSize, raw->FileBytes);
    }
    return std::move(raw->Pixels);
}

// The name is already on the line, so the common cases are said briefly.
Status CheckInput(const fs::path& file) {
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
    return {};
}

}  // namespace

ImageFormat InputFormatOf(const fs::path& file) {
    return FormatOfName(file.native()) == ImageFormat::Bitmap ? ImageFormat::Bitmap : ImageFormat::Raw;
}

Expected<ByteMatrix> LoadImage(const fs::path& file, const std::optional<ImageSize>& size) {
    if (auto checked = CheckInput(file); !checked) {
        return checked.error();
    }
    if (InputFormatOf(file) == ImageFormat::Raw) {
        return LoadRaw(file, size);
    }
    return LoadGrayBitmap(file);
}

Expected<LineSource> OpenImageLines(const fs::path& file, const std::optional<ImageSize>& size) {
    if (auto checked = CheckInput(file); !checked) {
        return checked.error();
    }
    if (InputFormatOf(file) == ImageFormat::Bitmap) {
        return LineSource::OpenBitmap(file);
    }
    auto rawSize = RawSizeOf(file, size);
    if (!rawSize) {
        return rawSize.error();
    }
    auto source = LineSource::OpenRaw(file, *rawSize);
    if (source && source->Short()) {
        WarnShort(file, *rawSize, source->FileBytes());
    }
    return source;
}

std::vector<fs::path> FilesWrittenFor(const fs::path& file, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return {file};
    }
    return {file, fs::path(DescriptorNameFor(file.string()))};
}

std::vector<fs::path> FilesReadFor(const fs::path& file, const std::optional<ImageSize>& size) {
    std::vector<fs::path> files{file};
    if (InputFormatOf(file) == ImageFormat::Raw && !size) {
        if (const DescriptorLocation descriptor = FindDescriptor(file); descriptor.Exists) {
            files.push_back(descriptor.Name);
        }
    }
    return files;
}

Status SaveImageLines(const fs::path& file, LineProducer& lines, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return SaveBitmapLines(file, lines);
    }
    return SaveRawLines(file, fs::path(DescriptorNameFor(file.string())), lines);
}

Status SaveImage(const fs::path& file, const ByteMatrix& image, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return SaveBitmapImage(file, image);
    }
    return SaveRawImage(file, fs::path(DescriptorNameFor(file.string())), image);
}

}  // namespace kavel::cli
