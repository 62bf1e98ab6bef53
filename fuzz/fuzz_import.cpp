// Any byte string handed to import's decoder (Qt's readers behind our bitmap
// checks and rewrite) must give a gray image or a reason, never a crash; an
// image it gives must survive the canonical bitmap writer and reader intact.
#include <cstddef>
#include <cstdint>
#include <span>
#include <sstream>

#include "import.h"
#include "kavel/bitmap.h"

namespace {

// Small enough for the fuzzer's memory limit; the size checks before decoding
// are exercised all the same.
constexpr int kFuzzDecodeLimitMegabytes = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto imported = kavel::cli::DecodeImage(std::span(data, size), kFuzzDecodeLimitMegabytes);
    if (!imported) {
        if (imported.error().message.empty()) {
            __builtin_trap();  // every refusal says why
        }
        return 0;
    }
    const kavel::ByteMatrix& gray = imported->Gray;
    if (gray.Lines() <= 0 || gray.Columns() <= 0 || imported->Description.empty()) {
        __builtin_trap();
    }
    std::stringstream file;
    if (!kavel::WriteBitmapStream(file, gray)) {
        __builtin_trap();
    }
    file.seekg(0);
    auto back = kavel::ReadBitmapStream(file, static_cast<std::uint64_t>(file.str().size()));
    if (!back || back->BitsPerPixel != 8 || back->Rows.Lines() != gray.Lines() ||
        back->Rows.Columns() != gray.Columns()) {
        __builtin_trap();
    }
    const auto a = gray.Bytes();
    const auto b = back->Rows.Bytes();
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            __builtin_trap();
        }
    }
    return 0;
}
