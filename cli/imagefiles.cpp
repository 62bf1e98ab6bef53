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

Expected<ByteMatrix> LoadRaw(const fs::path& file, const std::optional<ImageSize>& size) {
    auto rawSize = RawSizeOf(file, size);
    if (!rawSize) {
        return rawSize.error();
    }
    auto raw = LoadRawImage(file, *rawSize);
    if (!raw) {
        return raw.error();
    }
    // A short file reads with its missing pixels at 0, as in the desktop
    // application, so that every result there can be reproduced here; it is
    // worth a warning since it is usually a truncated copy.
    if (raw->Short()) {
        std::cerr << "kavel-cli: " << file.string() << ": warning: holds " << raw->FileBytes
                  << " bytes, fewer than the " << rawSize->Lines << " x " << rawSize->Columns << " = "
                  << raw->Pixels.PixelCount() << " of its size; the rest reads as 0\n";
    }
    return std::move(raw->Pixels);
}

}  // namespace

ImageFormat InputFormatOf(const fs::path& file) {
    return FormatOfName(file.native()) == ImageFormat::Bitmap ? ImageFormat::Bitmap : ImageFormat::Raw;
}

Expected<ByteMatrix> LoadImage(const fs::path& file, const std::optional<ImageSize>& size) {
    // The name is already on the line, so the common cases are said briefly.
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
    if (InputFormatOf(file) == ImageFormat::Raw) {
        return LoadRaw(file, size);
    }
    return LoadGrayBitmap(file);
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

Status SaveImage(const fs::path& file, const ByteMatrix& image, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return SaveBitmapImage(file, image);
    }
    return SaveRawImage(file, fs::path(DescriptorNameFor(file.string())), image);
}

}  // namespace kavel::cli
