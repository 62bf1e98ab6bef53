// The band loops of a planned raw image: bands as small as one line, line
// counts up to the largest an int holds. The lines given band by band must be
// the file's bytes (0 past its end), the streamed treatment and counts must
// equal those of the whole image, and every line must come exactly once.
//
// Input: bytes 0-3 the lines (little-endian, masked to 31 bits), byte 4 the
// columns (1 to 4), byte 5 the band in lines (1 to 8), bytes 6-11 a treatment
// (type, min, max, item, border, background); the rest is the raw file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_scratch.h"
#include "kavel/openplan.h"
#include "kavel/statistics.h"
#include "kavel/stream.h"
#include "kavel/treatment.h"

namespace {

namespace fs = std::filesystem;

// Whole-image checks only for images this small.
constexpr std::uint64_t kWholePixels = std::uint64_t{1} << 16;

const fs::path& RawFile() {
    static const fs::path file = kavel::fuzz::ScratchFolder() / "in.raw";
    return file;
}

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Every line once, in order, through Produce; their bytes as expected.
void CheckProduced(kavel::LineProducer& lines, kavel::LineOrder order, const kavel::ByteMatrix* whole) {
    const kavel::ImageSize size = lines.Size();
    std::int64_t seen = 0;
    const auto produced = lines.Produce(order, [&](int count, std::span<const std::uint8_t> rows) {
        Check(count >= 1 &&
              rows.size() == static_cast<std::size_t>(count) * static_cast<std::size_t>(size.Columns));
        for (int k = 0; whole != nullptr && k < count; ++k) {
            const std::int64_t line =
                order == kavel::LineOrder::TopFirst ? seen + k : size.Lines - 1 - seen - k;
            const auto row = whole->Row(static_cast<int>(line));
            Check(std::equal(row.begin(), row.end(), rows.begin() + k * size.Columns));
        }
        seen += count;
        return true;
    });
    Check(produced.ok());
    Check(seen == (size.Columns == 0 ? 0 : size.Lines));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 12) {
        return 0;
    }
    const std::uint32_t lines32 = (std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 |
                                   std::uint32_t{data[2]} << 16 | std::uint32_t{data[3]} << 24) &
                                  0x7FFFFFFF;
    const kavel::ImageSize imageSize{static_cast<int>(lines32), 1 + data[4] % 4};
    const std::size_t band = 1 + data[5] % 8;
    kavel::TreatmentParameters parameters;
    parameters.TreatmentType = static_cast<kavel::TreatmentKind>(data[6] % 4);
    parameters.MinThreshold = data[7];
    parameters.MaxThreshold = data[8];
    parameters.ItemTone = data[9];
    parameters.BorderTone = data[10];
    parameters.BackgroundTone = data[11];
    {
        std::ofstream out(RawFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 12), static_cast<std::streamsize>(size - 12));
    }
    const kavel::OpenPlan plan = kavel::PlanOpen(RawFile(), kavel::OpenAs::RawBytes, imageSize);
    if (!plan.Loadable()) {
        return 0;  // more than kMaxImagePixels
    }
    auto source = kavel::OpenPlannedLines(plan, band * static_cast<std::size_t>(imageSize.Columns));
    Check(source.ok());
    Check(source->BandLines() == static_cast<int>(std::min<std::uint64_t>(band, lines32)) || lines32 == 0);

    // The last lines of the image, however far: the file's bytes, or 0.
    const int count = static_cast<int>(std::min<std::uint32_t>(lines32, 3));
    std::vector<std::uint8_t> tail(static_cast<std::size_t>(count) * imageSize.Columns);
    Check(source->Read(kavel::LineOrder::TopFirst, static_cast<int>(lines32) - count, count, tail).ok());
    const std::uint64_t tailStart = (std::uint64_t{lines32} - count) * imageSize.Columns;
    for (std::size_t k = 0; k < tail.size(); ++k) {
        const std::uint64_t at = tailStart + k;
        Check(tail[k] == (at < size - 12 ? data[12 + at] : 0));
    }

    if (plan.PixelBytes() > kWholePixels) {
        // The whole loop only for a count of lines near the largest, and
        // rarely: it reads two gigabytes of zeros.
        if (data[5] == 0xFF && lines32 > 0x7FF00000) {
            auto wide = kavel::OpenPlannedLines(plan);
            Check(wide.ok());
            CheckProduced(*wide, kavel::LineOrder::TopFirst, nullptr);
        }
        return 0;
    }
    auto whole = kavel::LoadPlannedImage(plan);
    Check(whole.ok());
    CheckProduced(*source, kavel::LineOrder::TopFirst, &*whole);
    CheckProduced(*source, kavel::LineOrder::BottomFirst, &*whole);

    auto expected = kavel::AllocateByteMatrix(imageSize.Columns, imageSize.Lines);
    Check(expected.ok() && kavel::ComputeTreatment(*whole, parameters, *expected).ok());
    kavel::TreatedLines treated(*source, parameters);
    CheckProduced(treated, kavel::LineOrder::BottomFirst, &*expected);

    auto histogram = kavel::StreamHistogram(*source);
    Check(histogram.ok() && *histogram == kavel::ComputeHistogram(*whole));
    auto tones = kavel::StreamDistinctTones(*source);
    Check(tones.ok() && *tones == kavel::CountDistinctTones(*whole));
    return 0;
}
