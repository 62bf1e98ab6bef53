// Images processed a band of lines at a time, in the order their files hold
// them, so that memory is bounded by a few lines whatever the image size.
//
// A producer hands its lines to a consumer band by band, in the order the
// consumer asks for: raw files are written top line first, bitmaps bottom
// line first, and the source is read in that order. The border rule of the
// treatment is symmetric between up and down, so treating lines bottom first
// gives the same result. Each band is one read and one write of many lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>

#include "kavel/expected.h"
#include "kavel/rawimage.h"
#include "kavel/statistics.h"
#include "kavel/treatment.h"

namespace kavel {

enum class LineOrder { TopFirst, BottomFirst };

struct OpenPlan;

// Default band: large enough that one system call moves many lines, small
// enough to stay in the processor's cache between reading and writing.
inline constexpr std::size_t kStreamBandBytes = std::size_t{1} << 20;
// kStreamBandBytes, or, for tests only, the positive number of bytes that
// KAVEL_BAND_BYTES in the environment gives (1 makes every band one line):
// whole programs can then be run on small images in many bands.
std::size_t StreamBandBytes() noexcept;

// Takes count lines (count * columns bytes, in the order asked for). Gives
// false to stop the producer early.
using LineConsumer = std::function<bool(int count, std::span<const std::uint8_t> rows)>;

class LineProducer {
public:
    virtual ~LineProducer() = default;
    virtual ImageSize Size() const noexcept = 0;
    // Every line once, in order, in bands of at least one line. An image
    // without pixels gives no band.
    virtual Status Produce(LineOrder order, const LineConsumer& take) = 0;
};

// The lines of a raw image or of an 8-bit gray bitmap, read from the file.
class LineSource final : public LineProducer {
public:
    // Raw bytes of the given size; a file shorter than that reads as 0 past
    // its end. Refuses what the whole-image reader refuses.
    static Expected<LineSource> OpenRaw(const std::filesystem::path& file, ImageSize size,
                                        std::size_t bandBytes = StreamBandBytes());
    // An 8-bit bitmap, decided from its header as the whole-image reader
    // decides, tones read through a gray palette.
    static Expected<LineSource> OpenBitmap(const std::filesystem::path& file,
                                           std::size_t bandBytes = StreamBandBytes());

    LineSource(LineSource&& other) noexcept;
    LineSource& operator=(LineSource&& other) noexcept;
    ~LineSource() override;

    ImageSize Size() const noexcept override;
    // The order lines are stored in: a raw file top first, most bitmaps bottom first.
    LineOrder FileOrder() const noexcept;
    // Bytes the file holds: fewer than the pixels of a short raw file.
    std::uint64_t FileBytes() const noexcept;
    bool Short() const noexcept;
    // Lines per band.
    int BandLines() const noexcept;

    // count lines, the first-th onwards counted in order, into rows.
    Status Read(LineOrder order, int first, int count, std::span<std::uint8_t> rows);
    Status Produce(LineOrder order, const LineConsumer& take) override;

private:
    friend Expected<LineSource> OpenPlannedLines(const OpenPlan& plan, std::size_t bandBytes);
    struct State;
    explicit LineSource(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// The treatment of a source, computed a band at a time with one line of the
// source above and below each band. Gives what ComputeTreatment gives.
class TreatedLines final : public LineProducer {
public:
    TreatedLines(LineSource& source, const TreatmentParameters& parameters);

    ImageSize Size() const noexcept override { return source_.Size(); }
    Status Produce(LineOrder order, const LineConsumer& take) override;

private:
    LineSource& source_;
    TreatmentParameters parameters_;
};

// A raw image and its five-line descriptor, replaced as a pair.
Status SaveRawLines(const std::filesystem::path& pixels, const std::filesystem::path& descriptor,
                    LineProducer& lines);
// An 8-bit bitmap with the gray ramp.
Status SaveBitmapLines(const std::filesystem::path& file, LineProducer& lines);

Expected<Histogram> StreamHistogram(LineSource& source);
// Stops reading once all 256 tones have been seen.
Expected<int> StreamDistinctTones(LineSource& source);

}  // namespace kavel
