// Reading an input image and writing a result the way the desktop application
// does, by file name: .bmp is an 8-bit bitmap, anything else raw bytes sized by
// their descriptor or by a size given on the command line. The rules are the
// core's (kavel/imagefile.h); this adds the command line's words around them,
// standard input and output ("-"), and inputs told apart by their content.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "args.h"
#include "kavel/expected.h"
#include "kavel/guitools.h"
#include "kavel/imagefile.h"
#include "kavel/openplan.h"
#include "kavel/rawimage.h"
#include "kavel/stream.h"

namespace kavel::cli {

ImageFormat InputFormatOf(const std::filesystem::path& file);

// One input as the run reads it, decided before anything is written, so that
// a result of the run can never become what a later input is read with.
struct ImageInput {
    std::string Name;  // as given; "-" for standard input
    bool Stdin = false;
    ImageFormat Kind = ImageFormat::Raw;              // standard input: raw with a size, else bitmap
    std::optional<ImageSize> Size;                    // --size
    std::optional<std::filesystem::path> Descriptor;  // raw file without --size, when one exists
};
ImageInput DescribeInput(const std::string& name, const std::optional<ImageSize>& size);

// The files reading the input opens: the image and its descriptor.
std::vector<std::filesystem::path> FilesReadFor(const ImageInput& input);

// warnings receives whole lines ("kavel-cli: FILE: warning: ...\n").
Expected<ByteMatrix> LoadImage(const ImageInput& input, std::string& warnings);

// A named input (not standard input) read a band of lines at a time, with
// the same checks, words and warning as LoadImage.
Expected<LineSource> OpenImageLines(const ImageInput& input, std::string& warnings);

// A raw result is followed by its five-line descriptor (out.raw: out.txt).
// Each file is replaced only once it is written whole.
Status SaveImage(const std::filesystem::path& file, const ByteMatrix& image, ImageFormat format);
// SaveImage from lines given a band at a time.
Status SaveImageLines(const std::filesystem::path& file, LineProducer& lines, ImageFormat format);
// To standard output: a bitmap, or raw bytes alone (no descriptor).
Status WriteImageToStdout(const ByteMatrix& image, ImageFormat format);
// The same from lines given a band at a time.
Status WriteLinesToStdout(LineProducer& lines, ImageFormat format);

// The files SaveImage writes for file in that format.
std::vector<std::filesystem::path> FilesWrittenFor(const std::filesystem::path& file, ImageFormat format);

using kavel::KnownFormatOf;
using kavel::kSignatureBytes;

// For an input that is the descriptor of a raw image beside it (scene.txt
// next to scene.raw), the name of that image, in the folder as given.
std::optional<std::string> DescribedImageOf(const std::string& input);

// True for a text document among the inputs (README.md, notes.txt, a
// histogram export .xls): a name of a text kind and no bytes that text does
// not hold. Both are asked, since raw pixels can look like text.
bool IsTextDocument(const std::string& input);

using kavel::SameFile;
// The command line's words for a 24-bit bitmap (kavel/bitmap.h).
using kavel::kColourBitmapRefusal;

}  // namespace kavel::cli
