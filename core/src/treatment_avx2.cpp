// The treatment's loops on AVX2, 32 pixels a step: the portable loops and the
// fused select-and-border loop compiled for AVX2, and the streaming copy that
// writes a staged result out whole cache lines at a time.
#include "treatment_kernels.h"

#if KAVEL_X86_KERNELS
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#define KAVEL_LANES_TARGET [[gnu::target("avx2")]]
#include "treatment_lanes.h"

#define KAVEL_AVX2 [[gnu::target("avx2"), gnu::always_inline]] static inline

namespace kavel::kernels {

namespace {

struct Avx2Lanes {
    using V = __m256i;
    static constexpr std::size_t kBytes = 32;
    KAVEL_AVX2 V Load(const std::uint8_t* at) noexcept {
        return _mm256_loadu_si256(reinterpret_cast<const V*>(at));
    }
    KAVEL_AVX2 void Store(std::uint8_t* at, V v) noexcept {
        _mm256_storeu_si256(reinterpret_cast<V*>(at), v);
    }
    KAVEL_AVX2 void Stream(std::uint8_t* at, V v) noexcept {
        _mm256_stream_si256(reinterpret_cast<V*>(at), v);
    }
    KAVEL_AVX2 V Splat(std::uint8_t byte) noexcept { return _mm256_set1_epi8(static_cast<char>(byte)); }
    KAVEL_AVX2 V Sub(V a, V b) noexcept { return _mm256_sub_epi8(a, b); }
    KAVEL_AVX2 V Min(V a, V b) noexcept { return _mm256_min_epu8(a, b); }
    KAVEL_AVX2 V Equal(V a, V b) noexcept { return _mm256_cmpeq_epi8(a, b); }
    KAVEL_AVX2 V And(V a, V b) noexcept { return _mm256_and_si256(a, b); }
    KAVEL_AVX2 V Xor(V a, V b) noexcept { return _mm256_xor_si256(a, b); }
};

}  // namespace

[[gnu::target("avx2")]] void SelectAvx2(const std::uint8_t* source, std::uint8_t* selected, std::size_t count,
                                        Interval interval) noexcept {
    SelectBody(source, selected, count, interval);
}

[[gnu::target("avx2")]] void WholeItemAvx2(const std::uint8_t* source, std::uint8_t* result,
                                           std::size_t count, Interval interval, std::uint8_t item,
                                           std::uint8_t background) noexcept {
    WholeItemBody(source, result, count, interval, item, background);
}

[[gnu::target("avx2")]] void BorderAvx2(const std::uint8_t* above, const std::uint8_t* here,
                                        const std::uint8_t* below, std::uint8_t* result, std::size_t count,
                                        const BorderTones& tones) noexcept {
    BorderBody(above, here, below, result, count, tones);
}

[[gnu::target("avx2")]] void SelectBorderAvx2(const std::uint8_t* nextSource, std::uint8_t* nextSelected,
                                              const std::uint8_t* above, const std::uint8_t* here,
                                              std::uint8_t* result, std::size_t count, Interval interval,
                                              const BorderTones& tones) noexcept {
    SelectBorderLanes<Avx2Lanes, false>(nextSource, nextSelected, above, here, result, count, interval,
                                        tones);
}

[[gnu::target("avx2")]] void SelectBorderStreamingAvx2(const std::uint8_t* nextSource,
                                                       std::uint8_t* nextSelected, const std::uint8_t* above,
                                                       const std::uint8_t* here, std::uint8_t* result,
                                                       std::size_t count, Interval interval,
                                                       const BorderTones& tones) noexcept {
    SelectBorderLanes<Avx2Lanes, true>(nextSource, nextSelected, above, here, result, count, interval, tones);
}

[[gnu::target("avx2")]] std::size_t StreamAvx2(std::uint8_t* target, const std::uint8_t* from,
                                               std::size_t count, bool all) noexcept {
    const std::size_t head = std::min(count, (64 - (reinterpret_cast<std::uintptr_t>(target) & 63)) & 63);
    std::memcpy(target, from, head);
    std::size_t j = head;
    for (; j + 64 <= count; j += 64) {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(target + j),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + j)));
        _mm256_stream_si256(reinterpret_cast<__m256i*>(target + j + 32),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + j + 32)));
    }
    if (all) {
        std::memcpy(target + j, from + j, count - j);
        j = count;
    }
    return j;
}

}  // namespace kavel::kernels
#endif
