// suggest and measure at 100 megapixels against memcpy of the same bytes in
// the same run. suggest is one histogram pass plus the sixteen methods on 256
// bins (BM_AllMethods times those alone); measure is the "Item and Border"
// treatment (BM_Treatment) plus one pass over its marks and the image.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "kavel/guitools.h"
#include "kavel/measure.h"
#include "kavel/statistics.h"
#include "kavel/threshold.h"
#include "kavel/treatment.h"

namespace {

using kavel::ByteMatrix;

constexpr int kSide = 10000;  // 100 MP

ByteMatrix Allocate() {
    return kavel::bench::TouchedMatrix(kSide, kSide);
}

// [100, 180] selects irregular items with many borders and regions.
const ByteMatrix& BlobImage() {
    static const ByteMatrix image = kavel::bench::MakeBlobImage(kSide);
    return image;
}

void Account(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * std::int64_t{kSide} * kSide);
}

void BM_Memcpy(benchmark::State& state) {
    kavel::bench::CopyLoop(state, BlobImage());
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
    const kavel::TreatmentParameters parameters{kavel::TreatmentKind::ItemAndBorder, 100, 180, 255, 128, 0};
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
