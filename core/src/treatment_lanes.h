// Internal to the core: the fused select-and-border loop over byte vectors,
// written once for the 16-byte vectors of SSE2 and the 32-byte ones of AVX2.
// A kernel file defines KAVEL_LANES_TARGET (its target attribute, or nothing)
// and its Lanes type, then includes this: everything here has internal
// linkage, so each file gets the loop compiled for its own target.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "treatment_kernels.h"

#ifndef KAVEL_LANES_TARGET
#error "define KAVEL_LANES_TARGET before including treatment_lanes.h"
#endif

namespace kavel::kernels {
namespace {  // internal: one copy per including file, compiled for its target

// L gives the vector type V, its width kBytes and Load, Store, Stream (a
// streaming store at a kBytes boundary), Splat, Sub, Min (unsigned), Equal,
// And and Xor. With kStream the result goes out by streaming stores, which
// write whole cache lines without reading them first: a large result is
// written once instead of read and written.
template <class L, bool kStream>
KAVEL_LANES_TARGET [[gnu::always_inline]] inline void SelectBorderLanes(
    const std::uint8_t* __restrict nextSource, std::uint8_t* __restrict nextSelected,
    const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
    std::uint8_t* __restrict result, std::size_t count, Interval interval,
    const BorderTones& tones) noexcept {
    using V = typename L::V;
    constexpr std::size_t kBytes = L::kBytes;
    const V low = L::Splat(interval.low);
    const V span = L::Splat(interval.span);
    const V background = L::Splat(tones.background);
    const V flip = L::Splat(static_cast<std::uint8_t>(tones.inside ^ tones.border));
    const V border = L::Splat(tones.border);
    std::size_t j = 0;
    if constexpr (kStream) {
        const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(result) & (kBytes - 1);
        const std::size_t head = std::min(count, (kBytes - misalignment) & (kBytes - 1));
        for (; j < head; ++j) {
            SelectBorderPixel(nextSource, nextSelected, above, here, result, j, interval, tones);
        }
    }
    for (; j + kBytes <= count; j += kBytes) {
        const V shifted = L::Sub(L::Load(nextSource + j), low);
        const V below = L::Equal(L::Min(shifted, span), shifted);
        L::Store(nextSelected + j, below);
        const V middle = L::Load(here + j);
        const V neighbours =
            L::And(L::And(L::Load(above + j), below), L::And(L::Load(here + j - 1), L::Load(here + j + 1)));
        const V tone = L::Xor(border, L::And(neighbours, flip));
        const V value = L::Xor(background, L::And(middle, L::Xor(tone, background)));
        if constexpr (kStream) {
            L::Stream(result + j, value);
        } else {
            L::Store(result + j, value);
        }
    }
    for (; j < count; ++j) {
        SelectBorderPixel(nextSource, nextSelected, above, here, result, j, interval, tones);
    }
}

}  // namespace
}  // namespace kavel::kernels
