// Reading an input image and writing a result the way the desktop application
// does, by file name: .bmp is an 8-bit bitmap, anything else raw bytes sized by
// their descriptor or by a size given on the command line.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "args.h"
#include "kavel/expected.h"
#include "kavel/guitools.h"
#include "kavel/rawimage.h"

namespace kavel::cli {

// The refusal of a bitmap with more than one byte per pixel, word for word
// as the desktop application shows it.
inline constexpr std::string_view kColourBitmapRefusal = "This program does not take into account RBV Bitmap";

ImageFormat InputFormatOf(const std::filesystem::path& file);

// size, when given, wins over the raw image's descriptor; bitmaps ignore it.
Expected<ByteMatrix> LoadImage(const std::filesystem::path& file, const std::optional<ImageSize>& size);

// A raw result is followed by its five-line descriptor (out.raw: out.txt).
// Each file is replaced only once it is written whole.
Status SaveImage(const std::filesystem::path& file, const ByteMatrix& image, ImageFormat format);

// The files SaveImage writes for file in that format.
std::vector<std::filesystem::path> FilesWrittenFor(const std::filesystem::path& file, ImageFormat format);

// True when both names lead to one existing file.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) noexcept;

}  // namespace kavel::cli
