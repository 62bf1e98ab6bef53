// Images of known content for the kavel-cli tests: random gray images, the
// raw and bitmap files made from them, and the treatment they should get.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cli_support.h"
#include "reference_treatment.h"

namespace kavel::clitest {

struct Image {
    int Lines = 0;
    int Columns = 0;
    Bytes Pixels;  // line 0 first
};

struct Parameters {
    std::string Type;
    std::int32_t Min = 0;
    std::int32_t Max = 0;
    std::int32_t Item = 0;
    std::int32_t Border = 0;
    std::int32_t Background = 0;
};

// An empty interval (min above max) is asked for with --allow-empty.
inline std::vector<std::string> TreatWords(const Parameters& p) {
    std::vector<std::string> words{"--type",       p.Type,
                                   "--min",        std::to_string(p.Min),
                                   "--max",        std::to_string(p.Max),
                                   "--item",       std::to_string(p.Item),
                                   "--border",     std::to_string(p.Border),
                                   "--background", std::to_string(p.Background)};
    if (p.Min > p.Max) {
        words.emplace_back("--allow-empty");
    }
    return words;
}

// What kavel-cli should write for image and p.
inline Bytes ExpectedTreatment(const Image& image, const Parameters& p) {
    TreatmentParameters parameters;
    parameters.TreatmentType = p.Type == "whole"         ? TreatmentKind::WholeItem
                               : p.Type == "border"      ? TreatmentKind::Border
                               : p.Type == "item-border" ? TreatmentKind::ItemAndBorder
                                                         : TreatmentKind::None;
    parameters.MinThreshold = p.Min;
    parameters.MaxThreshold = p.Max;
    parameters.ItemTone = p.Item;
    parameters.BorderTone = p.Border;
    parameters.BackgroundTone = p.Background;
    return reference::Treatment(image.Pixels, image.Lines, image.Columns, parameters);
}

inline Image RandomImage(int lines, int columns, unsigned seed) {
    std::mt19937 random(seed);
    Image image{lines, columns, Bytes(static_cast<std::size_t>(lines) * columns)};
    // Few distinct tones, so that the interval makes blobs with borders.
    for (auto& pixel : image.Pixels) {
        pixel = static_cast<std::uint8_t>(40 * (random() % 7));
    }
    return image;
}

inline void WriteRawImage(const fs::path& raw, const Image& image) {
    WriteBytes(raw, image.Pixels);
    fs::path descriptor = raw;
    WriteText(descriptor.replace_extension(".txt"),
              std::to_string(image.Lines) + "\r\n" + std::to_string(image.Columns) + "\r\n");
}

inline void Put(Bytes& out, std::uint32_t value, int size) {
    for (int k = 0; k < size; ++k) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
    }
}

// A bitmap as the format has it: header, gray palette (8-bit), rows bottom up.
inline Bytes BitmapBytes(const Image& image, int bitsPerPixel = 8) {
    const int bytesPerPixel = bitsPerPixel / 8;
    const std::uint32_t stride = (static_cast<std::uint32_t>(image.Columns * bytesPerPixel) + 3) / 4 * 4;
    const std::uint32_t offset = bitsPerPixel == 8 ? 1078 : 54;
    const std::uint32_t imageSize = stride * static_cast<std::uint32_t>(image.Lines);
    Bytes out;
    for (const std::uint32_t field : {0x4D42u, offset + imageSize}) {
        Put(out, field, field == 0x4D42u ? 2 : 4);
    }
    Put(out, 0, 4);  // the two reserved fields
    Put(out, offset, 4);
    Put(out, 40, 4);
    Put(out, static_cast<std::uint32_t>(image.Columns), 4);
    Put(out, static_cast<std::uint32_t>(image.Lines), 4);
    Put(out, 1, 2);
    Put(out, static_cast<std::uint32_t>(bitsPerPixel), 2);
    Put(out, 0, 4);
    Put(out, imageSize, 4);
    Put(out, 10000, 4);
    Put(out, 10000, 4);
    Put(out, 0, 4);  // colours used
    Put(out, 0, 4);  // important colours
    if (bitsPerPixel == 8) {
        for (std::uint32_t i = 0; i < 256; ++i) {
            Put(out, i | i << 8 | i << 16, 4);
        }
    }
    for (int line = image.Lines - 1; line >= 0; --line) {
        const std::size_t start = out.size();
        for (int j = 0; j < image.Columns; ++j) {
            for (int k = 0; k < bytesPerPixel; ++k) {
                out.push_back(image.Pixels[line * image.Columns + j]);
            }
        }
        out.resize(start + stride, 0);
    }
    return out;
}

}  // namespace kavel::clitest
