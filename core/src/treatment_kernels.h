// Internal to the core: the row loops of the treatment, as the instruction
// sets have them. treatment.cpp holds the portable loops, the drivers and the
// choice among the tables below; treatment_sse2.cpp, treatment_avx2.cpp and
// treatment_avx512.cpp hold each instruction set's loops, compiled with its
// target attribute, so one binary runs on any x86-64 and uses what it finds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kavel/guitools.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KAVEL_X86_KERNELS 1
#endif

// The portable loops are always-inline bodies: a kernel file that calls one
// from a function with a target attribute gets it vectorised for that target.
#define KAVEL_BODY [[gnu::always_inline]] inline

namespace kavel::kernels {

// The interval [Min, Max] reduced to bytes: a tone g is selected when
// (g - low) mod 256 <= span, one subtraction and one unsigned compare that
// vectorise.
struct Interval {
    bool empty = true;
    std::uint8_t low = 0;
    std::uint8_t span = 0;
};

struct BorderTones {
    std::uint8_t background;
    std::uint8_t inside;  // item tone for "Item and Border", background for "Border"
    std::uint8_t border;
};

KAVEL_BODY std::uint8_t SelectMask(std::uint8_t tone, Interval interval) noexcept {
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(tone - interval.low) <= interval.span ? 0xFF
                                                                                                     : 0);
}

// The border rule on one pixel, from its own mask and the AND of its four
// neighbours' masks: the border tone where selected with an unselected
// neighbour, the inside tone where all are selected, background elsewhere.
KAVEL_BODY std::uint8_t BorderTone(std::uint8_t here, std::uint8_t neighbours,
                                   const BorderTones& tones) noexcept {
    const auto tone = static_cast<std::uint8_t>(tones.border ^ (neighbours & (tones.inside ^ tones.border)));
    return static_cast<std::uint8_t>(tones.background ^ (here & (tone ^ tones.background)));
}

// 0xFF where the source tone is selected, 0 elsewhere.
KAVEL_BODY void SelectBody(const std::uint8_t* __restrict source, std::uint8_t* __restrict selected,
                           std::size_t count, Interval interval) noexcept {
    for (std::size_t j = 0; j < count; ++j) {
        selected[j] = SelectMask(source[j], interval);
    }
}

// Whole item: item tone where selected, background elsewhere, without
// branches. result may be source itself, so no restrict here.
KAVEL_BODY void WholeItemBody(const std::uint8_t* source, std::uint8_t* result, std::size_t count,
                              Interval interval, std::uint8_t item, std::uint8_t background) noexcept {
    const auto difference = static_cast<std::uint8_t>(item ^ background);
    for (std::size_t j = 0; j < count; ++j) {
        result[j] = static_cast<std::uint8_t>(background ^ (SelectMask(source[j], interval) & difference));
    }
}

// One result line from the selection masks of the lines above, here and below.
// The rows are padded: here[-1] and here[count] exist, and are 0xFF beyond
// the image's left and right edges, as the outside rows above the first and
// below the last line are: a neighbour outside the image counts as selected,
// so the edge of the image is not a border, and no pixel needs a special case.
KAVEL_BODY void BorderBody(const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                           const std::uint8_t* __restrict below, std::uint8_t* __restrict result,
                           std::size_t count, const BorderTones& tones) noexcept {
    // here[j - 1] would wrap the unsigned index at j = 0; a pointer to the
    // padding byte does not.
    const std::uint8_t* const left = here - 1;
    const std::uint8_t* const right = here + 1;
    const BorderTones t = tones;  // a copy the stores to result cannot change
    for (std::size_t j = 0; j < count; ++j) {
        result[j] =
            BorderTone(here[j], static_cast<std::uint8_t>(above[j] & below[j] & left[j] & right[j]), t);
    }
}

// Column j of the fused loop (SelectBorderLoop): selects pixel j of the line
// below into nextSelected and writes pixel j of the result line.
// (here - 1)[j], not here[j - 1]: the index would wrap at column 0.
KAVEL_BODY void SelectBorderPixel(const std::uint8_t* __restrict nextSource,
                                  std::uint8_t* __restrict nextSelected, const std::uint8_t* __restrict above,
                                  const std::uint8_t* __restrict here, std::uint8_t* __restrict result,
                                  std::size_t j, Interval interval, const BorderTones& tones) noexcept {
    const std::uint8_t below = SelectMask(nextSource[j], interval);
    nextSelected[j] = below;
    result[j] = BorderTone(
        here[j], static_cast<std::uint8_t>(above[j] & below & (here - 1)[j] & (here + 1)[j]), tones);
}

using SelectLoop = void (*)(const std::uint8_t* source, std::uint8_t* selected, std::size_t count,
                            Interval interval) noexcept;
using WholeItemLoop = void (*)(const std::uint8_t* source, std::uint8_t* result, std::size_t count,
                               Interval interval, std::uint8_t item, std::uint8_t background) noexcept;
using BorderLoop = void (*)(const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below,
                            std::uint8_t* result, std::size_t count, const BorderTones& tones) noexcept;
// Result line i and the selection of line i + 1 in one loop: the selection of
// the line below is used straight from the register that stores it into the
// window, so each line is read from memory once and the window is written
// once and read twice.
using SelectBorderLoop = void (*)(const std::uint8_t* nextSource, std::uint8_t* nextSelected,
                                  const std::uint8_t* above, const std::uint8_t* here, std::uint8_t* result,
                                  std::size_t count, Interval interval, const BorderTones& tones) noexcept;
// Copies count bytes to target with streaming stores, whole cache lines only,
// and returns how many it copied: an unaligned start goes by ordinary
// stores, and the bytes after the last whole cache line stay for the next
// call, unless all is set. Ordinary and streaming stores in one cache line
// are slow, so a caller writing one block line by line carries those over.
using StreamCopy = std::size_t (*)(std::uint8_t* target, const std::uint8_t* from, std::size_t count,
                                   bool all) noexcept;
// The border treatments of the whole image; false when out of memory.
using BorderImage = bool (*)(bool streaming, const ByteMatrix& source, ByteMatrix& result, Interval interval,
                             const BorderTones& tones) noexcept;

struct RowKernels {
    SelectLoop select;
    WholeItemLoop wholeItem;
    BorderLoop border;
    SelectBorderLoop selectBorder;
    // The same, the result written with streaming stores, which write whole
    // cache lines without reading them first.
    SelectBorderLoop selectBorderStreaming;
    // When set, a streamed result is computed into a staged line and copied
    // out with this, instead of the fused loop: faster for AVX2.
    StreamCopy stream;
    // When set, used for the border treatments instead of the row loops.
    BorderImage wholeBorder;
    // Orders streaming stores before any later read; null without them.
    void (*fence)() noexcept;
};

#if KAVEL_X86_KERNELS
// treatment_sse2.cpp: the baseline of every x86-64.
void SelectBorderSse2(const std::uint8_t* nextSource, std::uint8_t* nextSelected, const std::uint8_t* above,
                      const std::uint8_t* here, std::uint8_t* result, std::size_t count, Interval interval,
                      const BorderTones& tones) noexcept;
void SelectBorderStreamingSse2(const std::uint8_t* nextSource, std::uint8_t* nextSelected,
                               const std::uint8_t* above, const std::uint8_t* here, std::uint8_t* result,
                               std::size_t count, Interval interval, const BorderTones& tones) noexcept;
void StreamFence() noexcept;

// treatment_avx2.cpp
void SelectAvx2(const std::uint8_t* source, std::uint8_t* selected, std::size_t count,
                Interval interval) noexcept;
void WholeItemAvx2(const std::uint8_t* source, std::uint8_t* result, std::size_t count, Interval interval,
                   std::uint8_t item, std::uint8_t background) noexcept;
void BorderAvx2(const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below,
                std::uint8_t* result, std::size_t count, const BorderTones& tones) noexcept;
void SelectBorderAvx2(const std::uint8_t* nextSource, std::uint8_t* nextSelected, const std::uint8_t* above,
                      const std::uint8_t* here, std::uint8_t* result, std::size_t count, Interval interval,
                      const BorderTones& tones) noexcept;
void SelectBorderStreamingAvx2(const std::uint8_t* nextSource, std::uint8_t* nextSelected,
                               const std::uint8_t* above, const std::uint8_t* here, std::uint8_t* result,
                               std::size_t count, Interval interval, const BorderTones& tones) noexcept;
std::size_t StreamAvx2(std::uint8_t* target, const std::uint8_t* from, std::size_t count, bool all) noexcept;

// treatment_avx512.cpp
bool BorderImageAvx512(bool streaming, const ByteMatrix& source, ByteMatrix& result, Interval interval,
                       const BorderTones& tones) noexcept;
#endif

}  // namespace kavel::kernels
