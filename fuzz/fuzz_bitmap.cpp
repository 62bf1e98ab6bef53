// Any byte string handed to the bitmap reader must give an image or a reason,
// never a crash, a leak or an allocation the input does not pay for; an image
// must hold the file's pixels where its header puts them.
#include <cstddef>
#include <cstdint>
#include <span>
#include <sstream>
#include <string>

#include "kavel/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    auto read = kavel::ReadBitmapStream(in, size);
    if (read.ok()) {
        const kavel::BitmapData& image = read.value();
        // The rows must be as large as the header says; touch the last byte.
        const std::size_t rowBytes =
            static_cast<std::size_t>(image.Width) * static_cast<std::size_t>(image.BitsPerPixel / 8);
        if (image.Rows.Lines() != image.Height ||
            static_cast<std::size_t>(image.Rows.Columns()) != rowBytes) {
            __builtin_trap();
        }
        // Every pixel where the layout puts it: rows in file order from the
        // pixel offset, through the palette when it is all gray.
        auto layout = kavel::InspectBitmapHeader(std::span(data, size), size);
        if (!layout.ok() || layout->Width != image.Width || layout->Lines != image.Height) {
            __builtin_trap();
        }
        for (int row = 0; rowBytes != 0 && row < image.Height; ++row) {
            const int line = layout->TopDown ? row : image.Height - 1 - row;
            const std::uint8_t* from =
                data + layout->PixelOffset + static_cast<std::size_t>(row) * layout->Stride;
            for (std::size_t j = 0; j < rowBytes; ++j) {
                const std::uint8_t expected = image.BitsPerPixel == 8 && layout->GrayPalette
                                                  ? static_cast<std::uint8_t>(layout->FilePalette[from[j]])
                                                  : from[j];
                if (image.Rows[line][j] != expected) {
                    __builtin_trap();
                }
            }
        }
    } else if (read.error().message.empty()) {
        __builtin_trap();  // every refusal says why
    }
    return 0;
}
