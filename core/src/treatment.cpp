#include "kavel/treatment.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace kavel {

namespace {

// Low byte of a tone parameter: 256 gives 0, 300 gives 44, -1 gives 255.
std::uint8_t LowByte(std::int32_t tone) noexcept {
    return static_cast<std::uint8_t>(tone & 0xFF);
}

// The interval [Min, Max] reduced to bytes: a tone g is selected when
// (g - low) mod 256 <= span, one subtraction and one unsigned compare that
// vectorise. Bounds beyond 0..255 are clamped first, which keeps the signed
// 32-bit meaning of the comparison.
struct Interval {
    bool empty = true;
    std::uint8_t low = 0;
    std::uint8_t span = 0;
};

Interval ByteInterval(std::int32_t minimum, std::int32_t maximum) noexcept {
    if (maximum < 0 || minimum > 255 || minimum > maximum) {
        return {};
    }
    const std::int32_t low = std::max(minimum, 0);
    const std::int32_t high = std::min(maximum, 255);
    return {false, static_cast<std::uint8_t>(low), static_cast<std::uint8_t>(high - low)};
}

// 0xFF where the source tone is selected, 0 elsewhere.
void SelectRow(const std::uint8_t* source, std::uint8_t* selected, std::size_t count,
               Interval interval) noexcept {
    const std::uint8_t low = interval.low;
    const std::uint8_t span = interval.span;
    for (std::size_t j = 0; j < count; ++j) {
        selected[j] =
            static_cast<std::uint8_t>(static_cast<std::uint8_t>(source[j] - low) <= span ? 0xFF : 0);
    }
}

// Whole item: item tone where selected, background elsewhere, without branches.
void WholeItemRow(const std::uint8_t* source, std::uint8_t* result, std::size_t count, Interval interval,
                  std::uint8_t item, std::uint8_t background) noexcept {
    const std::uint8_t low = interval.low;
    const std::uint8_t span = interval.span;
    const auto difference = static_cast<std::uint8_t>(item ^ background);
    for (std::size_t j = 0; j < count; ++j) {
        const auto mask =
            static_cast<std::uint8_t>(static_cast<std::uint8_t>(source[j] - low) <= span ? 0xFF : 0);
        result[j] = static_cast<std::uint8_t>(background ^ (mask & difference));
    }
}

struct BorderTones {
    std::uint8_t background;
    std::uint8_t inside;  // item tone for "Item and Border", background for "Border"
    std::uint8_t border;
};

// Tone of one pixel from its own mask and the AND of its four neighbours'
// masks (a neighbour outside the image counts as selected: the edge of the
// image is not a border).
inline std::uint8_t PixelTone(std::uint8_t self, std::uint8_t neighbours, const BorderTones& t) noexcept {
    const auto tone = static_cast<std::uint8_t>(t.border ^ (neighbours & (t.inside ^ t.border)));
    return static_cast<std::uint8_t>(t.background ^ (self & (tone ^ t.background)));
}

// One result line from the selection masks of the lines above, here and below.
void BorderRow(const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below,
               std::uint8_t* result, std::size_t count, const BorderTones& tones) noexcept {
    if (count == 1) {
        result[0] = PixelTone(here[0], static_cast<std::uint8_t>(above[0] & below[0]), tones);
        return;
    }
    result[0] = PixelTone(here[0], static_cast<std::uint8_t>(above[0] & below[0] & here[1]), tones);
    const std::uint8_t background = tones.background;
    const auto insideFlip = static_cast<std::uint8_t>(tones.inside ^ tones.border);
    const std::uint8_t border = tones.border;
    for (std::size_t j = 1; j + 1 < count; ++j) {
        const auto neighbours = static_cast<std::uint8_t>(above[j] & below[j] & here[j - 1] & here[j + 1]);
        const auto tone = static_cast<std::uint8_t>(border ^ (neighbours & insideFlip));
        result[j] = static_cast<std::uint8_t>(background ^ (here[j] & (tone ^ background)));
    }
    const std::size_t last = count - 1;
    result[last] =
        PixelTone(here[last], static_cast<std::uint8_t>(above[last] & below[last] & here[last - 1]), tones);
}

// Border extraction in one pass with a rolling window of three selection lines:
// line i + 1 is selected before line i is written, so no full-size scratch
// matrix is needed and the result may even be the source itself.
Status BorderTreatment(const ByteMatrix& source, ByteMatrix& result, Interval interval,
                       const BorderTones& tones) {
    const int lines = source.Lines();
    const auto count = static_cast<std::size_t>(source.Columns());
    std::unique_ptr<std::uint8_t[]> window(new (std::nothrow) std::uint8_t[4 * count]);
    if (!window) {
        return Error{"not enough memory for the treatment of a line of " + std::to_string(count) + " pixels"};
    }
    std::uint8_t* const outside = window.get() + 3 * count;
    std::fill(outside, outside + count, std::uint8_t{0xFF});
    auto selection = [&](int line) { return window.get() + static_cast<std::size_t>(line % 3) * count; };

    SelectRow(source[0], selection(0), count, interval);
    for (int i = 0; i < lines; ++i) {
        if (i + 1 < lines) {
            SelectRow(source[i + 1], selection(i + 1), count, interval);
        }
        const std::uint8_t* above = i > 0 ? selection(i - 1) : outside;
        const std::uint8_t* below = i + 1 < lines ? selection(i + 1) : outside;
        BorderRow(above, selection(i), below, result[i], count, tones);
    }
    return {};
}

}  // namespace

Status ComputeTreatment(const ByteMatrix& source, const TreatmentParameters& parameters, ByteMatrix& result) {
    if (source.Lines() != result.Lines() || source.Columns() != result.Columns()) {
        return Error{"the result (" + std::to_string(result.Columns()) + " x " +
                     std::to_string(result.Lines()) + ") and the image (" + std::to_string(source.Columns()) +
                     " x " + std::to_string(source.Lines()) + ") differ in size"};
    }
    if (source.Empty()) {
        return {};
    }
    const std::uint8_t background = LowByte(parameters.BackgroundTone);
    const Interval interval = ByteInterval(parameters.MinThreshold, parameters.MaxThreshold);
    const int type = parameters.TreatmentType;
    const bool known = type == kWholeItem || type == kBorder || type == kItemAndBorder;
    if (!known || interval.empty) {
        std::span<std::uint8_t> bytes = result.Bytes();
        std::memset(bytes.data(), background, bytes.size());
        return {};
    }

    if (type == kWholeItem) {
        // The matrix is one block, so the whole image is a single row here.
        const std::span<const std::uint8_t> in = source.Bytes();
        WholeItemRow(in.data(), result.Bytes().data(), in.size(), interval, LowByte(parameters.ItemTone),
                     background);
        return {};
    }
    const BorderTones tones{
        background,
        type == kItemAndBorder ? LowByte(parameters.ItemTone) : background,
        LowByte(parameters.BorderTone),
    };
    return BorderTreatment(source, result, interval, tones);
}

}  // namespace kavel
