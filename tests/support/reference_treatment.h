// The treatment written out plainly, for tests to hold the real kernels
// against: mark the interval, then look at the four side neighbours of every
// marked pixel. Kept deliberately naive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kavel/treatment.h"

namespace kavel::reference {

// pixels: lines x columns bytes, line 0 first; the result in the same layout.
inline std::vector<std::uint8_t> Treatment(std::span<const std::uint8_t> pixels, int lines, int columns,
                                           const TreatmentParameters& p) {
    const auto at = [&](int i, int j) {
        return static_cast<std::size_t>(i) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(j);
    };
    const auto low = [](std::int32_t v) { return static_cast<std::uint8_t>(v & 0xFF); };
    std::vector<int> mark(pixels.size(), 0);
    for (std::size_t k = 0; k < pixels.size(); ++k) {
        const std::int32_t g = pixels[k];
        mark[k] = p.MinThreshold <= g && g <= p.MaxThreshold ? 1 : 0;
    }
    const auto unmarked = [&](int i, int j) {
        return i >= 0 && i < lines && j >= 0 && j < columns && mark[at(i, j)] == 0;
    };
    std::vector<std::uint8_t> result(pixels.size(), low(p.BackgroundTone));
    for (int i = 0; i < lines; ++i) {
        for (int j = 0; j < columns; ++j) {
            if (mark[at(i, j)] != 1) {
                continue;
            }
            const bool border =
                unmarked(i - 1, j) || unmarked(i + 1, j) || unmarked(i, j - 1) || unmarked(i, j + 1);
            std::uint8_t& out = result[at(i, j)];
            if (p.TreatmentType == TreatmentKind::WholeItem) {
                out = low(p.ItemTone);
            } else if (p.TreatmentType == TreatmentKind::Border && border) {
                out = low(p.BorderTone);
            } else if (p.TreatmentType == TreatmentKind::ItemAndBorder) {
                out = border ? low(p.BorderTone) : low(p.ItemTone);
            }
        }
    }
    return result;
}

}  // namespace kavel::reference
