// The border treatments on AVX-512. The selection is kept as bit masks, one
// 64-bit word per 64 columns, straight from the byte compares; the neighbour
// rule is then a few word operations per 64 pixels, and each result vector is
// two masked blends. Word w of a mask row covers columns 64w to 64w + 63; the
// rows have a word of ones on either side and ones beyond the last column,
// like the outside of the image.
#include "treatment_kernels.h"

#if KAVEL_X86_KERNELS
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#define KAVEL_AVX512 [[gnu::target("avx512f,avx512bw"), gnu::always_inline]] inline

namespace kavel::kernels {

namespace {

constexpr std::uint64_t kAll = ~std::uint64_t{0};

struct Vectors {
    __m512i low, span, background, inside, border;
};

// The selection of 64 pixels that are all inside the line.
KAVEL_AVX512 std::uint64_t SelectWhole(const std::uint8_t* pixels, const Vectors& v) noexcept {
    return _mm512_cmple_epu8_mask(_mm512_sub_epi8(_mm512_loadu_si512(pixels), v.low), v.span);
}

// The selection of the 64 columns of word w; beyond the line's end, ones.
KAVEL_AVX512 std::uint64_t SelectWord(const std::uint8_t* line, std::size_t w, std::size_t fullWords,
                                      __mmask64 tail, const Vectors& v) noexcept {
    if (w < fullWords) {
        return SelectWhole(line + 64 * w, v);
    }
    const __m512i pixels = _mm512_maskz_loadu_epi8(tail, line + 64 * w);
    return _mm512_cmple_epu8_mask(_mm512_sub_epi8(pixels, v.low), v.span) | ~tail;
}

// Word w of the row below: selected from the next source line and kept for
// the next result line, or, without a source line, as the row holds it.
KAVEL_AVX512 std::uint64_t Below(const std::uint8_t* nextSource, std::uint64_t* below, std::size_t w,
                                 std::size_t fullWords, __mmask64 tail, const Vectors& v) noexcept {
    if (nextSource == nullptr) {
        return below[w];
    }
    below[w] = SelectWord(nextSource, w, fullWords, tail, v);
    return below[w];
}

// 64 result bytes from the masks of selected and of inner (selected with all
// four neighbours selected) pixels.
KAVEL_AVX512 __m512i Tones(std::uint64_t selected, std::uint64_t inner, const Vectors& v) noexcept {
    return _mm512_mask_blend_epi8(inner, _mm512_mask_blend_epi8(selected, v.background, v.border), v.inside);
}

// Bits s to s + 63 of the 128-bit pair (high, low), s in 0..63. The high
// word goes in two shifts, since one of 64 would be undefined at s = 0.
inline std::uint64_t Funnel(std::uint64_t low, std::uint64_t high, unsigned s) noexcept {
    return (low >> s) | ((high << 1) << (63 - s));
}

// Writes a block of 64 result bytes at a 64-byte boundary.
template <bool kStream>
KAVEL_AVX512 void PutBlock(std::uint8_t* at, __m512i block) noexcept {
    if constexpr (kStream) {
        _mm512_stream_si512(reinterpret_cast<__m512i*>(at), block);
    } else {
        _mm512_storeu_si512(at, block);
    }
}

// The inner pixels of word w: selected, and all four neighbours selected.
// (here - 1)[w], not here[w - 1]: the index would wrap at word 0.
inline std::uint64_t InnerWord(const std::uint64_t* above, const std::uint64_t* here, std::uint64_t below,
                               std::size_t w) noexcept {
    const std::uint64_t middle = here[w];
    const std::uint64_t left = (middle << 1) | ((here - 1)[w] >> 63);
    const std::uint64_t right = (middle >> 1) | ((here + 1)[w] << 63);
    return middle & above[w] & below & left & right;
}

// One result line from the mask rows above, here and below, computing the
// row below from its source line on the way (nextSource null: below is
// already there). The stores are laid on the result's 64-byte grid rather than the mask
// words', so that with kStream every whole block of the line is a streaming
// store of one cache line. A cache line shared with the line before (carryIn)
// or after (carryOut) is put together in carry and streamed whole too:
// ordinary stores next to streaming ones measured up to 2.5 times slower on
// lines of 1000 pixels. Without those, the partial blocks at either end are
// masked ordinary stores.
template <bool kStream>
[[gnu::target("avx512f,avx512bw")]] void Line(const std::uint8_t* nextSource, std::uint64_t* below,
                                              const std::uint64_t* above, const std::uint64_t* here,
                                              std::uint8_t* result, std::size_t count, const Vectors& v,
                                              __m512i& carry, bool carryIn, bool carryOut) noexcept {
    const std::size_t fullWords = count / 64;
    const std::size_t words = (count + 63) / 64;
    const __mmask64 tail = count % 64 != 0 ? kAll >> (64 - count % 64) : kAll;
    // The first s columns lie before the result's first 64-byte boundary;
    // block k of the result covers columns s + 64 k to s + 64 k + 63, made
    // from mask words k and k + 1.
    const auto s = static_cast<unsigned>((64 - (reinterpret_cast<std::uintptr_t>(result) & 63)) & 63);
    std::uint64_t previousSelected = here[0];
    std::uint64_t previousInner = InnerWord(above, here, Below(nextSource, below, 0, fullWords, tail, v), 0);
    if (s != 0 && carryIn) {  // columns 0 .. s - 1 end the cache line the last line began
        const __m512i head = Tones(previousSelected << (64 - s), previousInner << (64 - s), v);
        PutBlock<kStream>(result + s - 64, _mm512_mask_blend_epi8(kAll << (64 - s), carry, head));
    } else if (s != 0) {  // columns 0 .. s - 1, which word 0 holds as they are
        const std::size_t head = std::min<std::size_t>(s, count);
        _mm512_mask_storeu_epi8(result, kAll >> (64 - head), Tones(previousSelected, previousInner, v));
    }
    std::size_t w = 1;
    // Words read whole, whose blocks are whole: no masks, no branches.
    const std::size_t wholeBlocks = count >= s ? (count - s) / 64 : 0;
    const std::size_t fastEnd = std::min(fullWords, wholeBlocks + 1);
    for (; w < fastEnd; ++w) {
        std::uint64_t selectedBelow = below[w];
        if (nextSource != nullptr) {
            selectedBelow = SelectWhole(nextSource + 64 * w, v);
            below[w] = selectedBelow;
        }
        const std::uint64_t inner = InnerWord(above, here, selectedBelow, w);
        PutBlock<kStream>(result + s + 64 * (w - 1),
                          Tones(Funnel(previousSelected, here[w], s), Funnel(previousInner, inner, s), v));
        previousSelected = here[w];
        previousInner = inner;
    }
    // The rest, and one block past the last word, which Funnel fills with zeros.
    for (; w <= words; ++w) {
        std::uint64_t selected = 0;
        std::uint64_t inner = 0;
        if (w < words) {
            selected = here[w];
            inner = InnerWord(above, here, Below(nextSource, below, w, fullWords, tail, v), w);
        }
        const std::size_t start = s + 64 * (w - 1);
        const __m512i block =
            Tones(Funnel(previousSelected, selected, s), Funnel(previousInner, inner, s), v);
        if (start + 64 <= count) {
            PutBlock<kStream>(result + start, block);
        } else if (start < count && carryOut) {
            carry = block;
        } else if (start < count) {
            _mm512_mask_storeu_epi8(result + start, kAll >> (64 - (count - start)), block);
        }
        previousSelected = selected;
        previousInner = inner;
    }
}

[[gnu::target("avx512f,avx512bw")]] void SelectLine(const std::uint8_t* line, std::uint64_t* mask,
                                                    std::size_t count, const Vectors& v) noexcept {
    const __mmask64 tail = count % 64 != 0 ? kAll >> (64 - count % 64) : kAll;
    for (std::size_t w = 0; w < (count + 63) / 64; ++w) {
        mask[w] = SelectWord(line, w, count / 64, tail, v);
    }
}

}  // namespace

// The border treatments over the whole image with a rolling window of three
// mask rows, as BorderTreatment does with byte rows.
[[gnu::target("avx512f,avx512bw")]] bool BorderImageAvx512(bool streaming, const ByteMatrix& source,
                                                           ByteMatrix& result, Interval interval,
                                                           const BorderTones& tones) noexcept {
    const int lines = source.Lines();
    const auto count = static_cast<std::size_t>(source.Columns());
    const std::size_t stride = (count + 63) / 64 + 2;
    std::unique_ptr<std::uint64_t[]> window(new (std::nothrow) std::uint64_t[4 * stride]);
    if (!window) {
        return false;
    }
    std::fill(window.get(), window.get() + 4 * stride, kAll);
    std::uint64_t* const outside = window.get() + 3 * stride + 1;
    auto row = [&](int line) { return window.get() + static_cast<std::size_t>(line % 3) * stride + 1; };
    const Vectors v{
        _mm512_set1_epi8(static_cast<char>(interval.low)), _mm512_set1_epi8(static_cast<char>(interval.span)),
        _mm512_set1_epi8(static_cast<char>(tones.background)),
        _mm512_set1_epi8(static_cast<char>(tones.inside)), _mm512_set1_epi8(static_cast<char>(tones.border))};
    SelectLine(source[0], row(0), count, v);
    // The result's lines follow each other in one block, so a cache line
    // that two lines share can be carried from one to the next; lines of
    // under 64 pixels would need more than two, and take ordinary stores.
    const bool carry = streaming && count >= 64;
    // Selecting line i + 1 in the loop that writes line i keeps both memory
    // streams going at once, except when the result lies just above the
    // next source line modulo 4 KiB: then each load waits on a store of an
    // iteration or two before that only looks like the same address (line
    // widths near 4000 took twice as long). There the next line is
    // selected on its own first.
    const std::uintptr_t lag =
        lines > 1
            ? (reinterpret_cast<std::uintptr_t>(result[0]) - reinterpret_cast<std::uintptr_t>(source[1])) &
                  4095
            : 0;
    const bool fused = lag == 0 || lag >= 512;
    __m512i carried = _mm512_setzero_si512();
    for (int i = 0; i < lines; ++i) {
        const bool last = i + 1 == lines;
        if (!last && !fused) {
            SelectLine(source[i + 1], row(i + 1), count, v);
        }
        const std::uint8_t* next = last || !fused ? nullptr : source[i + 1];
        std::uint64_t* below = last ? outside : row(i + 1);
        const std::uint64_t* above = i > 0 ? row(i - 1) : outside;
        if (streaming) {
            Line<true>(next, below, above, row(i), result[i], count, v, carried, carry && i > 0,
                       carry && !last);
        } else {
            Line<false>(next, below, above, row(i), result[i], count, v, carried, false, false);
        }
    }
    if (streaming) {
        _mm_sfence();
    }
    return true;
}

}  // namespace kavel::kernels
#endif
