// The treatment's loops on SSE2, which every x86-64 has: the fused
// select-and-border loop, 16 pixels a step. The other loops are the portable
// ones, which the compiler vectorises for this baseline by itself.
#include "treatment_kernels.h"

#if KAVEL_X86_KERNELS
#include <immintrin.h>

#define KAVEL_LANES_TARGET
#include "treatment_lanes.h"

#define KAVEL_SSE2 [[gnu::always_inline]] static inline

namespace kavel::kernels {

namespace {

struct Sse2Lanes {
    using V = __m128i;
    static constexpr std::size_t kBytes = 16;
    KAVEL_SSE2 V Load(const std::uint8_t* at) noexcept {
        return _mm_loadu_si128(reinterpret_cast<const V*>(at));
    }
    KAVEL_SSE2 void Store(std::uint8_t* at, V v) noexcept { _mm_storeu_si128(reinterpret_cast<V*>(at), v); }
    KAVEL_SSE2 void Stream(std::uint8_t* at, V v) noexcept { _mm_stream_si128(reinterpret_cast<V*>(at), v); }
    KAVEL_SSE2 V Splat(std::uint8_t byte) noexcept { return _mm_set1_epi8(static_cast<char>(byte)); }
    KAVEL_SSE2 V Sub(V a, V b) noexcept { return _mm_sub_epi8(a, b); }
    KAVEL_SSE2 V Min(V a, V b) noexcept { return _mm_min_epu8(a, b); }
    KAVEL_SSE2 V Equal(V a, V b) noexcept { return _mm_cmpeq_epi8(a, b); }
    KAVEL_SSE2 V And(V a, V b) noexcept { return _mm_and_si128(a, b); }
    KAVEL_SSE2 V Xor(V a, V b) noexcept { return _mm_xor_si128(a, b); }
};

}  // namespace

void SelectBorderSse2(const std::uint8_t* nextSource, std::uint8_t* nextSelected, const std::uint8_t* above,
                      const std::uint8_t* here, std::uint8_t* result, std::size_t count, Interval interval,
                      const BorderTones& tones) noexcept {
    SelectBorderLanes<Sse2Lanes, false>(nextSource, nextSelected, above, here, result, count, interval,
                                        tones);
}

void SelectBorderStreamingSse2(const std::uint8_t* nextSource, std::uint8_t* nextSelected,
                               const std::uint8_t* above, const std::uint8_t* here, std::uint8_t* result,
                               std::size_t count, Interval interval, const BorderTones& tones) noexcept {
    SelectBorderLanes<Sse2Lanes, true>(nextSource, nextSelected, above, here, result, count, interval, tones);
}

void StreamFence() noexcept {
    _mm_sfence();  // streaming stores are weakly ordered: finish them before anyone reads
}

}  // namespace kavel::kernels
#endif
