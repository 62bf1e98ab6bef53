// Shared by the core benchmarks: the synthetic blob image and the memcpy
// yardstick that every figure is compared with in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kavel/guitools.h"

namespace kavel::bench {

// A matrix with every page touched, so that first-touch faults stay out of the timings.
inline ByteMatrix TouchedMatrix(int columns, int lines) {
    auto made = AllocateByteMatrix(columns, lines);
    if (!made) {
        std::abort();
    }
    ByteMatrix m = std::move(made).value();
    std::memset(m.Bytes().data(), 1, m.Bytes().size());
    return m;
}

// Blobs: a coarse random grid of tones, each cell 16 pixels square, plus fine
// noise of +-16, so that thresholding at [100, 180] gives irregular items with
// many borders.
inline ByteMatrix MakeBlobImage(int side) {
    ByteMatrix image = TouchedMatrix(side, side);
    const int cells = side / 16 + 1;
    std::vector<std::uint8_t> coarse(static_cast<std::size_t>(cells) * static_cast<std::size_t>(cells));
    std::uint32_t state = 2463534242u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (std::uint8_t& c : coarse) {
        c = static_cast<std::uint8_t>(next());
    }
    for (int i = 0; i < side; ++i) {
        std::uint8_t* row = image[i];
        const std::uint8_t* cellRow =
            coarse.data() + static_cast<std::size_t>(i / 16) * static_cast<std::size_t>(cells);
        for (int j = 0; j < side; ++j) {
            const int noise = static_cast<int>(next() & 31) - 16;
            row[j] = static_cast<std::uint8_t>(std::clamp(cellRow[j / 16] + noise, 0, 255));
        }
    }
    return image;
}

// The yardstick: a copy of the image's bytes into another touched matrix.
inline void CopyLoop(benchmark::State& state, const ByteMatrix& image) {
    ByteMatrix target = TouchedMatrix(image.Columns(), image.Lines());
    for (auto _ : state) {
        std::memcpy(target.Bytes().data(), image.Bytes().data(), image.PixelCount());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image.PixelCount()));
}

}  // namespace kavel::bench
