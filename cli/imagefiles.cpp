#include "imagefiles.h"

#include <cstdint>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>

#include "kavel/bitmap.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

Error ErrorOf(std::string message) {
    return Error{std::move(message)};
}

Expected<ImageSize> RawSizeOf(const fs::path& file, const std::optional<ImageSize>& size) {
    if (size) {
        return *size;
    }
    const std::string descriptor = DescriptorNameFor(file.string());
    std::error_code ec;
    const auto status = fs::status(descriptor, ec);
    if (!fs::exists(status)) {
        return ErrorOf("no descriptor " + descriptor + "; give the size with --size LINESxCOLUMNS");
    }
    if (!fs::is_regular_file(status)) {
        return ErrorOf("descriptor " + descriptor + " is not a regular file");
    }
    auto read = ReadDescriptorFile(descriptor);
    if (!read) {
        return ErrorOf("descriptor " + descriptor + ": " + read.error().message);
    }
    return read;
}

Expected<ByteMatrix> LoadRaw(const fs::path& file, const std::optional<ImageSize>& size) {
    auto rawSize = RawSizeOf(file, size);
    if (!rawSize) {
        return rawSize.error();
    }
    const ImageSize s = *rawSize;

    // A short file reads with its missing pixels at 0, as in the desktop
    // application, so that every result there can be reproduced here; it is
    // worth a warning since it is usually a truncated copy.
    const std::int64_t length = FileSizeOf(file);
    if (length < 0) {
        return ErrorOf("cannot be opened");
    }
    const auto needed = static_cast<std::uint64_t>(s.Lines) * static_cast<std::uint64_t>(s.Columns);
    auto image = AllocateByteMatrix(s.Columns, s.Lines);
    if (!image) {
        return image.error();
    }
    if (auto read = ReadRawPixels(file, *image); !read) {
        return read.error();
    }
    if (static_cast<std::uint64_t>(length) < needed) {
        std::cerr << "kavel-cli: " << file.string() << ": warning: holds " << length
                  << " bytes, fewer than the " << s.Lines << " x " << s.Columns << " = " << needed
                  << " of its size; the rest reads as 0\n";
    }
    return image;
}

}  // namespace

ImageFormat InputFormatOf(const fs::path& file) {
    return FormatOfName(file.native()) == ImageFormat::Bitmap ? ImageFormat::Bitmap : ImageFormat::Raw;
}

Expected<ByteMatrix> LoadImage(const fs::path& file, const std::optional<ImageSize>& size) {
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (!fs::exists(status)) {
        return ErrorOf("no such file");
    }
    if (fs::is_directory(status)) {
        return ErrorOf("is a folder, not an image");
    }
    // A pipe or a device could block the read forever or never end.
    if (!fs::is_regular_file(status)) {
        return ErrorOf("is not a regular file");
    }

    if (InputFormatOf(file) == ImageFormat::Raw) {
        return LoadRaw(file, size);
    }

    auto bitmap = ReadBitmapFile(file);
    if (!bitmap) {
        return bitmap.error();
    }
    if (bitmap->BitsPerPixel != 8) {
        return ErrorOf(std::string(kColourBitmapRefusal));
    }
    return std::move(bitmap->Rows);
}

std::vector<fs::path> FilesWrittenFor(const fs::path& file, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return {file};
    }
    return {file, fs::path(DescriptorNameFor(file.string()))};
}

Status SaveImage(const fs::path& file, const ByteMatrix& image, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return WriteBitmapFile(file, image);
    }
    // Pixels first: if they cannot be written, neither file has changed.
    if (auto written = WriteRawFile(file, image); !written) {
        return written;
    }
    return WriteDescriptorFile(DescriptorNameFor(file.string()), ImageSize{image.Lines(), image.Columns()},
                               DescriptorForm::FiveLines);
}

bool SameFile(const fs::path& a, const fs::path& b) noexcept {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

}  // namespace kavel::cli
