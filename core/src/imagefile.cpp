#include "kavel/imagefile.h"

#include <sys/stat.h>

#include <array>
#include <string>
#include <utility>

#include "inputfile.h"
#include "kavel/safefile.h"

namespace kavel {

namespace fs = std::filesystem;

Status CheckImageFile(const fs::path& image) {
    auto file = detail::InputFile::Open(image);
    if (!file) {
        return file.error();
    }
    return {};
}

std::string SpecialFileKind(const fs::path& name) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        return {};
    }
    return detail::KindOfMode(info.st_mode);
}

DescriptorLocation FindDescriptor(const fs::path& image) {
    const fs::path named(DescriptorNameFor(image.string()));
    std::error_code ec;
    if (fs::exists(fs::symlink_status(named, ec))) {
        return {named, true};
    }
    // The same name with "txt" in other letter cases, capitals first since
    // those are what upper-case names come with.
    const std::string base = named.string().substr(0, named.string().size() - 3);
    for (const char* ending : {"TXT", "Txt", "tXt", "txT", "TXt", "TxT", "tXT"}) {
        const fs::path other(base + ending);
        if (fs::exists(fs::symlink_status(other, ec))) {
            return {other, true};
        }
    }
    return {named, false};
}

Expected<RawImage> LoadRawImage(const fs::path& image, ImageSize size) {
    auto file = detail::InputFile::Open(image);
    if (!file) {
        return file.error();
    }
    auto pixels = AllocateByteMatrix(size.Columns, size.Lines);
    if (!pixels) {
        return pixels.error();
    }
    auto got = file->ReadAt(0, pixels->Bytes());
    if (!got) {
        return Error{"cannot read " + image.string() + ": " + got.error().message};
    }
    return RawImage{std::move(*pixels), file->Size()};
}

Expected<ByteMatrix> LoadGrayBitmap(const fs::path& file) {
    auto read = ReadGrayBitmapFile(file);
    if (!read) {
        return read.error();
    }
    return std::move(read->Rows);
}

Status SaveRawImage(const fs::path& pixels, const fs::path& descriptor, const ByteMatrix& image) {
    const std::string text =
        FormatDescriptor(ImageSize{image.Lines(), image.Columns()}, DescriptorForm::FiveLines);
    const std::array<FileToWrite, 2> files{{
        {pixels,
         [&image](std::ostream& out) -> Status {
             const auto bytes = image.Bytes();
             out.write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
             return {};
         }},
        {descriptor,
         [&text](std::ostream& out) -> Status {
             out.write(text.data(), static_cast<std::streamsize>(text.size()));
             return {};
         }},
    }};
    return WriteFilesSafely(files);
}

Status SaveBitmapImage(const fs::path& file, const ByteMatrix& image) {
    return WriteBitmapFile(file, image);
}

bool SameFile(const fs::path& a, const fs::path& b) noexcept {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::optional<fs::path> FirstProtected(const std::vector<fs::path>& targets,
                                       const std::vector<fs::path>& protectedFiles) {
    for (const auto& target : targets) {
        for (const auto& kept : protectedFiles) {
            if (SameFile(target, kept)) {
                return kept;
            }
        }
    }
    return std::nullopt;
}

}  // namespace kavel
