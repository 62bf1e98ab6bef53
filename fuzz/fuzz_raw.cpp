// The descriptor parser on the first bytes of the input, then the raw reader
// on the rest for sizes small enough to hold.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "kavel/rawimage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses how much of the input is descriptor text.
    const std::size_t split = std::min<std::size_t>(data[0], size - 1);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), split);
    auto parsed = kavel::ParseDescriptor(text);
    if (!parsed.ok()) {
        if (parsed.error().message.empty()) {
            __builtin_trap();
        }
        return 0;
    }
    const kavel::ImageSize imageSize = parsed.value();
    if (imageSize.Lines < 0 || imageSize.Columns < 0) {
        __builtin_trap();  // negative sizes must have been refused
    }
    // Writing the size back and parsing it again gives the same size.
    auto again = kavel::ParseDescriptor(kavel::FormatDescriptor(imageSize, kavel::DescriptorForm::FiveLines));
    if (!again.ok() || !(again.value() == imageSize)) {
        __builtin_trap();
    }
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(imageSize.Lines) * static_cast<std::uint64_t>(imageSize.Columns);
    // Up to 2^30 pixels, where sizes no longer fit in smaller types: a
    // 1 GiB block stays under the 2048 MB that run-fuzzers.sh allows (an
    // untouched calloc block costs address space, not memory).
    if (pixels > (std::uint64_t{1} << 30)) {
        return 0;
    }
    auto rows = kavel::AllocateByteMatrix(imageSize.Columns, imageSize.Lines);
    if (!rows.ok()) {
        __builtin_trap();
    }
    const std::size_t rest = size - 1 - split;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data + 1 + split), rest));
    if (!kavel::ReadRawStream(in, rows.value()).ok()) {
        __builtin_trap();
    }
    // What was there is copied, the rest stays 0.
    const auto bytes = rows.value().Bytes();
    const std::size_t copied = std::min<std::size_t>(rest, bytes.size());
    if (copied != 0 && std::memcmp(bytes.data(), data + 1 + split, copied) != 0) {
        __builtin_trap();
    }
    // Beyond, every byte of a small image and a sample of a large one (every
    // page, so the last line is reached too).
    const std::size_t step = bytes.size() <= (std::size_t{1} << 20) ? 1 : 4096;
    for (std::size_t k = copied; k < bytes.size(); k += step) {
        if (bytes[k] != 0) {
            __builtin_trap();
        }
    }
    if (!bytes.empty() && copied < bytes.size() && bytes.back() != 0) {
        __builtin_trap();
    }
    return 0;
}
