// kavel-cli import: any image Qt's readers decode (PNG, TIFF, JPEG, PGM, every
// kind of BMP, ...) turned into the 8-bit gray image the rest of KAVEL works on.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "args.h"
#include "kavel/expected.h"
#include "kavel/guitools.h"

class QIODevice;

namespace kavel::cli {

// Qt refuses to allocate more than this for one decoded image, whatever the
// header announces. A 4 GB buffer holds a gigapixel at 32 bits per pixel.
inline constexpr int kImportDecodeLimitMegabytes = 4096;

struct ImportedImage {
    ByteMatrix Gray;
    // What the file was, in words ("PNG, 16-bit gray, 640 x 480").
    std::string Description;
    // True when colour had to become luminance.
    bool ColourConverted = false;
};

// Decodes the first image of device and converts it to 8-bit gray:
//  - gray tones are taken as they are, palettes are applied;
//  - colour becomes Y = (19595 R + 38470 G + 7471 B + 32768) >> 16;
//  - 16-bit values become (v * 255 + 32767) / 65535, channel by channel;
//  - alpha is ignored: colour is taken as stored.
// The announced size is checked against kMaxImagePixels before any pixel is
// decoded. A refusal names what the file is and why.
// Qt is allowed limitMegabytes for the decoded image.
Expected<ImportedImage> DecodeImage(QIODevice& device, int limitMegabytes = kImportDecodeLimitMegabytes);
// The same from bytes in memory (the fuzz target's way in).
Expected<ImportedImage> DecodeImage(std::span<const std::uint8_t> bytes,
                                    int limitMegabytes = kImportDecodeLimitMegabytes);

int RunImport(const ImportOptions& options);

}  // namespace kavel::cli
