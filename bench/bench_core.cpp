// Core throughput at 1, 16 and 100 megapixels on a synthetic image full of
// borders. Every benchmark reports bytes per second over the image's pixel
// bytes; BM_Memcpy copies the same bytes and is the yardstick.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kavel/bitmap.h"
#include "kavel/guitools.h"
#include "kavel/rawimage.h"
#include "kavel/statistics.h"
#include "kavel/treatment.h"

namespace {

using kavel::ByteMatrix;

int SideFor(std::int64_t megapixels) {
    switch (megapixels) {
        case 1:
            return 1000;
        case 16:
            return 4000;
        default:
            return 10000;
    }
}

const ByteMatrix& BlobImage(std::int64_t megapixels) {
    static std::map<std::int64_t, ByteMatrix> cache;
    auto found = cache.find(megapixels);
    if (found != cache.end()) {
        return found->second;
    }
    return cache.emplace(megapixels, kavel::bench::MakeBlobImage(SideFor(megapixels))).first->second;
}

ByteMatrix Blank(const ByteMatrix& like) {
    return kavel::bench::TouchedMatrix(like.Columns(), like.Lines());
}

void Account(benchmark::State& state, const ByteMatrix& image) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image.PixelCount()));
    state.counters["MP"] = static_cast<double>(image.PixelCount()) / 1e6;
}

void BM_Memcpy(benchmark::State& state) {
    const ByteMatrix& image = BlobImage(state.range(0));
    kavel::bench::CopyLoop(state, image);
    state.counters["MP"] = static_cast<double>(image.PixelCount()) / 1e6;
}

void BM_Treatment(benchmark::State& state) {
    const ByteMatrix& image = BlobImage(state.range(1));
    ByteMatrix result = Blank(image);
    const kavel::TreatmentParameters parameters{
        static_cast<kavel::TreatmentKind>(state.range(0)), 100, 180, 255, 128, 0};
    for (auto _ : state) {
        if (!kavel::ComputeTreatment(image, parameters, result)) {
            state.SkipWithError("treatment failed");
        }
        benchmark::ClobberMemory();
    }
    Account(state, image);
}

// One row-loop variant at 100 MP: path 0 baseline x86-64, 1 AVX2, 2 AVX-512;
// stores 0 ordinary, 1 streaming. Shows what each choice of ComputeTreatment buys.
void BM_TreatmentVariant(benchmark::State& state) {
    const ByteMatrix& image = BlobImage(100);
    ByteMatrix result = Blank(image);
    const kavel::TreatmentParameters parameters{
        static_cast<kavel::TreatmentKind>(state.range(0)), 100, 180, 255, 128, 0};
    constexpr kavel::detail::KernelPath kPaths[] = {kavel::detail::KernelPath::Baseline,
                                                    kavel::detail::KernelPath::Avx2,
                                                    kavel::detail::KernelPath::Avx512};
    const kavel::detail::KernelPath path = kPaths[state.range(1)];
    const auto stores =
        state.range(2) == 0 ? kavel::detail::ResultStores::Cached : kavel::detail::ResultStores::Streaming;
    if (!kavel::detail::KernelPathAvailable(path)) {
        state.SkipWithError("this processor lacks the instructions");
        return;
    }
    for (auto _ : state) {
        if (!kavel::detail::ComputeTreatmentOn(path, stores, image, parameters, result)) {
            state.SkipWithError("treatment failed");
        }
        benchmark::ClobberMemory();
    }
    Account(state, image);
}

void BM_Histogram(benchmark::State& state) {
    const ByteMatrix& image = BlobImage(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(kavel::ComputeHistogram(image));
    }
    Account(state, image);
}

void BM_ToneCount(benchmark::State& state) {
    // All 256 tones turn up early in the blob image; a narrow-range image
    // makes the count read every pixel, which is the case worth timing.
    const ByteMatrix& blobs = BlobImage(state.range(0));
    ByteMatrix image = Blank(blobs);
    for (std::size_t k = 0; k < image.PixelCount(); ++k) {
        image.Bytes()[k] = static_cast<std::uint8_t>(blobs.Bytes()[k] >> 2);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(kavel::CountDistinctTones(image));
    }
    Account(state, image);
}

void BM_DisplayConversion(benchmark::State& state) {
    const ByteMatrix& image = BlobImage(state.range(0));
    ByteMatrix& rows = const_cast<ByteMatrix&>(image);  // the view only reads here
    const kavel::TRasterImage raster = kavel::TRasterImage::ViewOf(rows);
    std::vector<std::uint32_t> argb(image.PixelCount());
    const auto columns = static_cast<std::size_t>(image.Columns());
    for (auto _ : state) {
        for (int y = 0; y < raster.Lines(); ++y) {
            raster.ToDisplayRow(
                y, std::span<std::uint32_t>(argb.data() + static_cast<std::size_t>(y) * columns, columns));
        }
        benchmark::ClobberMemory();
    }
    Account(state, image);
}

std::filesystem::path ScratchFile(const char* stem, std::int64_t megapixels) {
    return std::filesystem::temp_directory_path() /
           ("kavel-bench-" + std::string(stem) + "-" + std::to_string(megapixels));
}

void BM_BitmapWriteFile(benchmark::State& state) {
    const ByteMatrix& image = BlobImage(state.range(0));
    const auto path = ScratchFile("write.bmp", state.range(0));
    for (auto _ : state) {
        if (!kavel::WriteBitmapFile(path, image)) {
            state.SkipWithError("write failed");
        }
    }
    std::filesystem::remove(path);
    Account(state, image);
}

void BM_BitmapReadFile(benchmark::State& state) {
    const ByteMatrix& image = BlobImage(state.range(0));
    const auto path = ScratchFile("read.bmp", state.range(0));
    if (!kavel::WriteBitmapFile(path, image)) {
        state.SkipWithError("could not prepare the file");
        return;
    }
    for (auto _ : state) {
        auto read = kavel::ReadBitmapFile(path);
        if (!read) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(read);
    }
    std::filesystem::remove(path);
    Account(state, image);
}

void BM_RawReadFile(benchmark::State& state) {
    const ByteMatrix& image = BlobImage(state.range(0));
    const auto path = ScratchFile("read.raw", state.range(0));
    if (!kavel::WriteRawFile(path, image)) {
        state.SkipWithError("could not prepare the file");
        return;
    }
    for (auto _ : state) {
        auto rows = kavel::AllocateByteMatrix(image.Columns(), image.Lines());
        if (!rows || !kavel::ReadRawPixels(path, *rows)) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(rows);
    }
    std::filesystem::remove(path);
    Account(state, image);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(1)->Arg(16)->Arg(100)->Unit(benchmark::kMillisecond);
}

void TypesAndSizes(benchmark::internal::Benchmark* b) {
    for (std::int64_t type : {1, 2, 3}) {
        for (std::int64_t mp : {1, 16, 100}) {
            b->Args({type, mp});
        }
    }
    b->ArgNames({"type", "MP"})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Apply(Sizes);
BENCHMARK(BM_Treatment)->Apply(TypesAndSizes);
BENCHMARK(BM_TreatmentVariant)
    ->ArgsProduct({{1, 2, 3}, {0, 1, 2}, {0, 1}})
    ->ArgNames({"type", "path", "streaming"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Histogram)->Apply(Sizes);
BENCHMARK(BM_ToneCount)->Apply(Sizes);
BENCHMARK(BM_DisplayConversion)->Apply(Sizes);
BENCHMARK(BM_BitmapWriteFile)->Apply(Sizes);
BENCHMARK(BM_BitmapReadFile)->Apply(Sizes);
BENCHMARK(BM_RawReadFile)->Apply(Sizes);

BENCHMARK_MAIN();
