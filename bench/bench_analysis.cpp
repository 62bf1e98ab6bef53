// suggest and measure at 100 megapixels against memcpy of the same bytes in
// the same run. suggest is one histogram pass plus the sixteen methods on 256
// bins (BM_AllMethods times those alone); measure is the "Item and Border"
// treatment (BM_Treatment) plus one pass over its marks and the image.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kavel/guitools.h"
#include "kavel/measure.h"
#include "kavel/statistics.h"
#include "kavel/threshold.h"
#include "kavel/treatment.h"

namespace {

using kavel::ByteMatrix;

constexpr int kSide = 10000;  // 100 MP

ByteMatrix Allocate() {
    auto made = kavel::AllocateByteMatrix(kSide, kSide);
    if (!made) {
        std::abort();
    }
    ByteMatrix m = std::move(made).value();
    std::memset(m.Bytes().data(), 1, m.Bytes().size());  // touch every page before timing
    return m;
}

// Blobs: a coarse random grid of tones, cells 16 pixels square, with fine
// noise; [100, 180] then selects irregular items with many borders and regions.
const ByteMatrix& BlobImage() {
    static const ByteMatrix image = [] {
        ByteMatrix m = Allocate();
        const int cells = kSide / 16 + 1;
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
        for (int i = 0; i < kSide; ++i) {
            const std::uint8_t* cellRow = coarse.data() + static_cast<std::size_t>(i / 16) * cells;
            for (int j = 0; j < kSide; ++j) {
                const int noise = static_cast<int>(next() & 31) - 16;
                m[i][j] = static_cast<std::uint8_t>(std::clamp(cellRow[j / 16] + noise, 0, 255));
            }
        }
        return m;
    }();
    return image;
}

void Account(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * std::int64_t{kSide} * kSide);
}

void BM_Memcpy(benchmark::State& state) {
    const ByteMatrix& image = BlobImage();
    ByteMatrix target = Allocate();
    for (auto _ : state) {
        std::memcpy(target.Bytes().data(), image.Bytes().data(), image.PixelCount());
        benchmark::ClobberMemory();
    }
    Account(state);
}

void BM_Suggest(benchmark::State& state) {
    const ByteMatrix& image = BlobImage();
    for (auto _ : state) {
        const kavel::Histogram counts = kavel::ComputeHistogram(image);
        for (const kavel::ThresholdMethod method : kavel::kAllThresholdMethods) {
            benchmark::DoNotOptimize(kavel::ComputeThreshold(method, counts));
        }
    }
    Account(state);
}

// The sixteen methods alone, on the image's histogram: time per call is for
// all sixteen.
void BM_AllMethods(benchmark::State& state) {
    const kavel::Histogram counts = kavel::ComputeHistogram(BlobImage());
    for (auto _ : state) {
        for (const kavel::ThresholdMethod method : kavel::kAllThresholdMethods) {
            benchmark::DoNotOptimize(kavel::ComputeThreshold(method, counts));
        }
    }
}

void BM_Treatment(benchmark::State& state) {
    const ByteMatrix& image = BlobImage();
    ByteMatrix result = Allocate();
    const kavel::TreatmentParameters parameters{kavel::kItemAndBorder, 100, 180, 255, 128, 0};
    for (auto _ : state) {
        if (!kavel::ComputeTreatment(image, parameters, result)) {
            state.SkipWithError("treatment failed");
        }
        benchmark::ClobberMemory();
    }
    Account(state);
}

// Includes getting and first touching its scratch matrix, as every run of
// the command does.
void BM_Measure(benchmark::State& state) {
    const ByteMatrix& image = BlobImage();
    const auto connectivity = state.range(0) == 4 ? kavel::Connectivity::Four : kavel::Connectivity::Eight;
    std::int64_t regions = 0;
    for (auto _ : state) {
        auto m = kavel::MeasureSelection(image, 100, 180, connectivity);
        if (!m) {
            state.SkipWithError("measure failed");
            break;
        }
        regions = m->Regions;
    }
    state.counters["regions"] = static_cast<double>(regions);
    Account(state);
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Suggest)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AllMethods)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Treatment)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Measure)->Arg(8)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
