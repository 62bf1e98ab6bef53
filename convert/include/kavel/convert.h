// The conversion of any image Qt's readers decode (PNG, TIFF, JPEG, PGM, every
// kind of BMP, ...) into the 8-bit gray image the rest of KAVEL works on. It
// needs Qt's Gui module and no windowing (QImage and QImageReader work without
// an application object): `kavel-cli import` runs it in its helper program
// kavel-import, the desktop in process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "kavel/expected.h"
#include "kavel/guitools.h"

class QIODevice;

namespace kavel {

// Qt refuses to allocate more than this for one decoded image, whatever the
// header announces. A 4 GB buffer holds a gigapixel at 32 bits per pixel.
inline constexpr int kDecodeLimitMegabytes = 4096;

struct ConvertedImage {
    ByteMatrix Gray;
    // What the file was, in words ("PNG, 16-bit gray, 640 x 480").
    std::string Description;
    // True when colour had to become luminance.
    bool ColourConverted = false;
};

// Decodes the first image of device and converts it to 8-bit gray:
//  - gray tones are taken as they are, palettes are applied;
//  - colour becomes Y = (19595 R + 38470 G + 7471 B + 32768) >> 16;
//  - 16-bit values become (v * 255 + 32767) / 65535, channel by channel (a
//    PGM of another largest value m: (v * 255 + m / 2) / m);
//  - alpha is ignored: colour is taken as stored.
// The announced size is checked against kMaxImagePixels before any pixel is
// decoded. A refusal names what the file is and why; nothing is written to
// standard error. Qt is allowed limitMegabytes for the decoded image.
Expected<ConvertedImage> DecodeImage(QIODevice& device, int limitMegabytes = kDecodeLimitMegabytes);
// The same from bytes in memory.
Expected<ConvertedImage> DecodeImage(std::span<const std::uint8_t> bytes,
                                     int limitMegabytes = kDecodeLimitMegabytes);
// A named regular file (a pipe or a device is refused, never waited on).
Expected<ConvertedImage> ConvertImageFile(const std::filesystem::path& file,
                                          int limitMegabytes = kDecodeLimitMegabytes);

// The note for a converted colour image: "colour converted to gray as its
// luminance (0.299 R + 0.587 G + 0.114 B)".
std::string ColourNote();

}  // namespace kavel
