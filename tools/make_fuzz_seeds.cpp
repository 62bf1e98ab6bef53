// Writes the small seed files the fuzz targets start from:
//   make_fuzz_seeds <fuzz/seeds folder>
// Bitmaps: valid 8- and 24-bit files of a few sizes, a top-down one, and
// files that must be refused. Raw: a length byte, descriptor text, pixels.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "kavel/bitmap.h"
#include "kavel/rawimage.h"

namespace {

bool Save(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string BitmapOf(int columns, int lines, kavel::PixelKind kind) {
    auto rows = kavel::AllocateByteMatrix(columns, lines);
    if (!rows) {
        return {};
    }
    for (std::size_t k = 0; k < rows->PixelCount(); ++k) {
        rows->Bytes()[k] = static_cast<std::uint8_t>(k * 37 + 11);
    }
    std::ostringstream out;
    if (!kavel::WriteBitmapStream(out, *rows, kind)) {
        return {};
    }
    return out.str();
}

void Set32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t b = 0; b < 4; ++b) {
        bytes[at + b] = static_cast<char>(value >> (8 * b));
    }
}

std::string RawSeed(const std::string& descriptor, const std::string& pixels) {
    return std::string(1, static_cast<char>(descriptor.size())) + descriptor + pixels;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_fuzz_seeds <seeds folder>\n";
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const auto bitmaps = root / "fuzz_bitmap";
    const auto raws = root / "fuzz_raw";
    std::filesystem::create_directories(bitmaps);
    std::filesystem::create_directories(raws);

    bool ok = true;
    const std::string gray = BitmapOf(5, 3, kavel::PixelKind::Gray);
    ok &= Save(bitmaps / "gray-5x3.bmp", gray);
    ok &= Save(bitmaps / "gray-1x1.bmp", BitmapOf(1, 1, kavel::PixelKind::Gray));
    ok &= Save(bitmaps / "gray-0x0.bmp", BitmapOf(0, 0, kavel::PixelKind::Gray));
    ok &= Save(bitmaps / "rgb-3x2.bmp", BitmapOf(9, 2, kavel::PixelKind::Rgb));
    ok &= Save(bitmaps / "rgb-4x4.bmp", BitmapOf(12, 4, kavel::PixelKind::Rgb));

    std::string topDown = gray;
    Set32(topDown, 22, static_cast<std::uint32_t>(-3));
    ok &= Save(bitmaps / "gray-top-down.bmp", topDown);
    std::string rle = gray;
    Set32(rle, 30, 1);
    ok &= Save(bitmaps / "refused-rle.bmp", rle);
    std::string huge = gray;
    Set32(huge, 18, 65536);
    Set32(huge, 22, 65536);
    ok &= Save(bitmaps / "refused-huge.bmp", huge);
    ok &= Save(bitmaps / "refused-truncated.bmp", gray.substr(0, gray.size() - 5));
    ok &= Save(bitmaps / "refused-signature.bmp", "BX" + gray.substr(2, 60));

    ok &= Save(raws / "two-lines", RawSeed("3\r\n4\r\n", "abcdefghijkl"));
    ok &= Save(raws / "five-lines-short", RawSeed("2\r\n5\r\n1\r\n0\r\n255\r\n", "xyz"));
    ok &= Save(raws / "blank-separated-long", RawSeed(" +2 2 rest", "0123456789"));
    ok &= Save(raws / "empty-image", RawSeed("0 0", ""));
    ok &= Save(raws / "refused-negative", RawSeed("-1 5", "ab"));
    ok &= Save(raws / "refused-overflow", RawSeed("99999999999 9", "ab"));
    ok &= Save(raws / "refused-garbage", RawSeed("lines", "ab"));

    ok &= Save(raws / "large-one-column", RawSeed("1073741824 1", "ab"));
    ok &= Save(raws / "large-square", RawSeed("32768\r\n32768\r\n", "ab"));

    // The whole load path: kind, descriptor length, six parameters, the file.
    const auto files = root / "fuzz_imagefile";
    std::filesystem::create_directories(files);
    const auto withParameters = [](char kind, char split, const std::string& file) {
        std::string seed{kind, split};
        for (const std::int32_t value : {3, 80, 160, 255, 128, 7}) {  // item and border, [80, 160]
            for (int b = 0; b < 4; ++b) {
                seed += static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * b));
            }
        }
        return seed + file;
    };
    ok &= Save(files / "bitmap-gray-5x3", withParameters(0, 0, gray));
    std::string reversed = gray;  // a gray palette that is not the ramp
    for (std::size_t i = 0; i < 256; ++i) {
        for (std::size_t b = 0; b < 3; ++b) {
            reversed[54 + i * 4 + b] = static_cast<char>(255 - i);
        }
    }
    ok &= Save(files / "bitmap-reversed-palette", withParameters(0, 0, reversed));
    ok &= Save(files / "bitmap-rgb", withParameters(0, 0, BitmapOf(9, 2, kavel::PixelKind::Rgb)));
    ok &= Save(files / "raw-3x4", withParameters(1, 6, "3\r\n4\r\nabcdefghijkl"));
    ok &= Save(files / "raw-short-bom", withParameters(1, 9,
                                                       "\xEF\xBB\xBF"
                                                       "2 5\r\nxyz"));

    const auto words = root / "fuzz_cli";
    std::filesystem::create_directories(words);
    using namespace std::string_literals;
    ok &= Save(words / "treat", "treat\0in.raw\0-o\0out.bmp\0--type\0whole\0--min\0-5\0--max\0+200"s);
    ok &= Save(words / "treat-out-dir", "treat\0a.raw\0b.bmp\0--out-dir\0d\0--format\0raw\0--size\04x4"s);
    ok &= Save(words / "histogram", "histogram\0a.raw\0--size\0480x640\0-o\0h.xls"s);
    ok &= Save(words / "convert", "convert\0a.bmp\0b.raw\0--\0-x"s);
    ok &= Save(words / "help", "tones\0--help"s);

    const auto texts = root / "fuzz_textnumber";
    std::filesystem::create_directories(texts);
    ok &= Save(texts / "plain", "512");
    ok &= Save(texts / "signed-blank", " \t-3x");
    ok &= Save(texts / "wraps", "5000000000");
    ok &= Save(texts / "long", "+123456789012345678901234567890");

    if (!ok) {
        std::cerr << "make_fuzz_seeds: could not write every seed under " << root.string() << "\n";
        return 1;
    }
    return 0;
}
