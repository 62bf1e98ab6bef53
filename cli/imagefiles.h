// Reading an input image and writing a result the way the desktop application
// does, by file name: .bmp is an 8-bit bitmap, anything else raw bytes sized by
// their descriptor or by a size given on the command line. The rules are the
// core's (kavel/imagefile.h); this adds the command line's words around them.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "args.h"
#include "kavel/expected.h"
#include "kavel/guitools.h"
#include "kavel/imagefile.h"
#include "kavel/rawimage.h"
#include "kavel/stream.h"

namespace kavel::cli {

ImageFormat InputFormatOf(const std::filesystem::path& file);

// size, when given, wins over the raw image's descriptor; bitmaps ignore it.
Expected<ByteMatrix> LoadImage(const std::filesystem::path& file, const std::optional<ImageSize>& size);

// The same image read a band of lines at a time, with the same checks, words
// and warning as LoadImage.
Expected<LineSource> OpenImageLines(const std::filesystem::path& file, const std::optional<ImageSize>& size);

// SaveImage from lines given a band at a time.
Status SaveImageLines(const std::filesystem::path& file, LineProducer& lines, ImageFormat format);

// A raw result is followed by its five-line descriptor (out.raw: out.txt).
// Each file is replaced only once it is written whole.
Status SaveImage(const std::filesystem::path& file, const ByteMatrix& image, ImageFormat format);

// The files SaveImage writes for file in that format.
std::vector<std::filesystem::path> FilesWrittenFor(const std::filesystem::path& file, ImageFormat format);

// The files LoadImage reads for file: the image, and for a raw image without
// a given size the descriptor that exists beside it.
std::vector<std::filesystem::path> FilesReadFor(const std::filesystem::path& file,
                                                const std::optional<ImageSize>& size);

using kavel::SameFile;
// The command line's words for a 24-bit bitmap (kavel/bitmap.h).
using kavel::kColourBitmapRefusal;

}  // namespace kavel::cli
