// Writes the bundled sample scene: a gray-tone image of our own with objects of
// several tones (discs, rectangles, a ring, a soft-edged disc, one-pixel lines,
// a small checkerboard) on a smooth gradient with mild noise, so that every
// treatment shows something with --min 100 --max 180.
//
//   make_samples [DIR] [LINES COLUMNS]
//
// writes DIR/scene.raw, DIR/scene.txt (two-line descriptor) and DIR/scene.bmp
// (8-bit, gray ramp); DIR defaults to "samples", the size to 512 x 512. Other
// sizes stretch the same scene (used for large test images). Only integer
// arithmetic and a PRNG of our own are used, so the files are identical on
// every platform.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "kavel/bitmap.h"
#include "kavel/guitools.h"
#include "kavel/rawimage.h"

namespace {

// Marsaglia's xorshift32: tiny, and the same sequence everywhere.
class XorShift32 {
public:
    explicit XorShift32(std::uint32_t seed) : state_(seed) {}
    std::uint32_t Next() noexcept {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

private:
    std::uint32_t state_;
};

std::int64_t IntegerSqrt(std::int64_t n) noexcept {
    std::int64_t root = 0;
    std::int64_t bit = std::int64_t{1} << 40;
    while (bit > n) {
        bit >>= 2;
    }
    while (bit != 0) {
        if (n >= root + bit) {
            n -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
        bit >>= 2;
    }
    return root;
}

std::int64_t SquaredDistance(std::int64_t x, std::int64_t y, std::int64_t cx, std::int64_t cy) noexcept {
    return (x - cx) * (x - cx) + (y - cy) * (y - cy);
}

// Tone of the scene at (x, y) in its own 512 x 512 frame, before the noise.
int SceneTone(std::int64_t x, std::int64_t y) noexcept {
    // One-pixel lines come last in the frame so that they cross other objects.
    if (y == 250 && x >= 20 && x <= 490) {
        return 175;
    }
    if (x == 256 && y >= 270 && y <= 500) {
        return 110;
    }
    // The diagonal from (30, 480) up to (240, 270).
    if (x >= 30 && x <= 240 && x + y == 510) {
        return 150;
    }

    if (SquaredDistance(x, y, 128, 128) <= 70 * 70) {
        return 140;
    }
    if (x >= 300 && x <= 460 && y >= 60 && y <= 170) {
        return 120;
    }
    if (x >= 40 && x <= 110 && y >= 215 && y <= 240) {
        return 60;
    }
    // A checkerboard of 6-pixel squares, half of them in the interval.
    if (x >= 190 && x < 262 && y >= 40 && y < 112) {
        return ((x - 190) / 6 + (y - 40) / 6) % 2 == 0 ? 110 : 200;
    }

    const std::int64_t ring = SquaredDistance(x, y, 380, 370);
    if (ring <= 25 * 25) {
        return 230;
    }
    if (ring >= 60 * 60 && ring <= 85 * 85) {
        return 165;
    }

    // Soft-edged disc: bright in its centre, fading out; the interval cuts an annulus.
    const std::int64_t soft = SquaredDistance(x, y, 140, 390);
    if (soft <= 90 * 90) {
        return static_cast<int>(215 - 150 * IntegerSqrt(soft) / 90);
    }

    // Smooth gradient from the top left (24) to the bottom right (94).
    return static_cast<int>(24 + (3 * x + 2 * y) * 70 / (5 * 511));
}

kavel::Expected<kavel::ByteMatrix> MakeScene(int lines, int columns) {
    auto image = kavel::AllocateByteMatrix(columns, lines);
    if (!image) {
        return image;
    }
    XorShift32 random(0x4B41u);
    for (int i = 0; i < lines; ++i) {
        std::uint8_t* row = (*image)[i];
        const std::int64_t y = std::int64_t{i} * 512 / lines;
        for (int j = 0; j < columns; ++j) {
            const std::int64_t x = std::int64_t{j} * 512 / columns;
            const int noise = static_cast<int>((random.Next() >> 8) % 9) - 4;  // -4 .. 4
            const int tone = SceneTone(x, y) + noise;
            row[j] = static_cast<std::uint8_t>(tone < 0 ? 0 : tone > 255 ? 255 : tone);
        }
    }
    return image;
}

bool ParseDimension(const char* text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 1 || parsed > 60000) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path folder = "samples";
    int lines = 512;
    int columns = 512;
    if (argc != 1 && argc != 2 && argc != 4) {
        std::cerr << "usage: make_samples [DIR] [LINES COLUMNS]\n";
        return 2;
    }
    if (argc >= 2) {
        folder = argv[1];
    }
    if (argc == 4 && (!ParseDimension(argv[2], lines) || !ParseDimension(argv[3], columns))) {
        std::cerr << "make_samples: LINES and COLUMNS are whole numbers from 1 to 60000\n";
        return 2;
    }

    auto scene = MakeScene(lines, columns);
    if (!scene) {
        std::cerr << "make_samples: " << scene.error().message << '\n';
        return 1;
    }
    const kavel::ImageSize size{lines, columns};
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    // One file after the other: stop at the first that cannot be written.
    kavel::Status written = kavel::WriteRawFile(folder / "scene.raw", *scene);
    if (written) {
        written = kavel::WriteDescriptorFile(folder / "scene.txt", size, kavel::DescriptorForm::TwoLines);
    }
    if (written) {
        written = kavel::WriteBitmapFile(folder / "scene.bmp", *scene);
    }
    if (!written) {
        std::cerr << "make_samples: " << written.error().message << '\n';
        return 1;
    }
    return 0;
}
