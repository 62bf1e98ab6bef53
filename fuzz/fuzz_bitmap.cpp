// Any byte string handed to the bitmap reader must give an image or a reason,
// never a crash, a leak or an allocation the input does not pay for.
#include <cstddef>
#include <cstdint>
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
        if (!image.Rows.Empty()) {
            volatile std::uint8_t last = image.Rows.Bytes().back();
            (void)last;
        }
    } else if (read.error().message.empty()) {
        __builtin_trap();  // every refusal says why
    }
    return 0;
}
