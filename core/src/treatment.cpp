#include "kavel/treatment.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KAVEL_X86_KERNELS 1
#include <immintrin.h>
#endif

// The row loops are written once as always-inline bodies and compiled twice:
// in plain wrappers for the baseline x86-64 (16-byte vectors) and in
// wrappers that enable AVX2 (32-byte vectors), chosen at run time.
#define KAVEL_BODY [[gnu::always_inline]] inline

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

struct BorderTones {
    std::uint8_t background;
    std::uint8_t inside;  // item tone for "Item and Border", background for "Border"
    std::uint8_t border;
};

// 0xFF where the source tone is selected, 0 elsewhere.
KAVEL_BODY void SelectBody(const std::uint8_t* __restrict source, std::uint8_t* __restrict selected,
                           std::size_t count, Interval interval) noexcept {
    const std::uint8_t low = interval.low;
    const std::uint8_t span = interval.span;
    for (std::size_t j = 0; j < count; ++j) {
        selected[j] =
            static_cast<std::uint8_t>(static_cast<std::uint8_t>(source[j] - low) <= span ? 0xFF : 0);
    }
}

// Whole item: item tone where selected, background elsewhere, without
// branches. result may be source itself, so no restrict here.
KAVEL_BODY void WholeItemBody(const std::uint8_t* source, std::uint8_t* result, std::size_t count,
                              Interval interval, std::uint8_t item, std::uint8_t background) noexcept {
    const std::uint8_t low = interval.low;
    const std::uint8_t span = interval.span;
    const auto difference = static_cast<std::uint8_t>(item ^ background);
    for (std::size_t j = 0; j < count; ++j) {
        const auto mask =
            static_cast<std::uint8_t>(static_cast<std::uint8_t>(source[j] - low) <= span ? 0xFF : 0);
        result[j] = static_cast<std::uint8_t>(background ^ (mask & difference));
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
    const std::uint8_t background = tones.background;
    const auto insideFlip = static_cast<std::uint8_t>(tones.inside ^ tones.border);
    const std::uint8_t border = tones.border;
    // here[j - 1] would wrap the unsigned index at j = 0; a pointer to the
    // padding byte does not.
    const std::uint8_t* const left = here - 1;
    const std::uint8_t* const right = here + 1;
    for (std::size_t j = 0; j < count; ++j) {
        const auto neighbours = static_cast<std::uint8_t>(above[j] & below[j] & left[j] & right[j]);
        const auto tone = static_cast<std::uint8_t>(border ^ (neighbours & insideFlip));
        result[j] = static_cast<std::uint8_t>(background ^ (here[j] & (tone ^ background)));
    }
}

// One pixel of the fused loop below, for the unaligned ends of a line.
// (here - 1)[j], not here[j - 1]: the index would wrap at column 0.
KAVEL_BODY void SelectBorderPixel(const std::uint8_t* __restrict nextSource,
                                  std::uint8_t* __restrict nextSelected, const std::uint8_t* __restrict above,
                                  const std::uint8_t* __restrict here, std::uint8_t* __restrict result,
                                  std::size_t j, Interval interval, const BorderTones& tones) noexcept {
    const auto below = static_cast<std::uint8_t>(
        static_cast<std::uint8_t>(nextSource[j] - interval.low) <= interval.span ? 0xFF : 0);
    nextSelected[j] = below;
    const auto neighbours = static_cast<std::uint8_t>(above[j] & below & (here - 1)[j] & (here + 1)[j]);
    const auto tone = static_cast<std::uint8_t>(tones.border ^ (neighbours & (tones.inside ^ tones.border)));
    result[j] = static_cast<std::uint8_t>(tones.background ^ (here[j] & (tone ^ tones.background)));
}

#if KAVEL_X86_KERNELS
// Result line i and the selection of line i + 1 in one loop: the selection of
// the line below is used straight from the register that stores it into the
// window, so each line is read from memory once and the window is written
// once and read twice. With kStream the result goes out by streaming stores,
// which write whole cache lines without reading them first: a large result is
// written once instead of read and written.
template <bool kStream>
void SelectBorderBaseline(const std::uint8_t* __restrict nextSource, std::uint8_t* __restrict nextSelected,
                          const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                          std::uint8_t* __restrict result, std::size_t count, Interval interval,
                          const BorderTones& tones) noexcept {
    const __m128i low = _mm_set1_epi8(static_cast<char>(interval.low));
    const __m128i span = _mm_set1_epi8(static_cast<char>(interval.span));
    const __m128i background = _mm_set1_epi8(static_cast<char>(tones.background));
    const __m128i flip = _mm_set1_epi8(static_cast<char>(tones.inside ^ tones.border));
    const __m128i border = _mm_set1_epi8(static_cast<char>(tones.border));
    std::size_t j = 0;
    if constexpr (kStream) {
        const std::size_t head = std::min(count, (16 - (reinterpret_cast<std::uintptr_t>(result) & 15)) & 15);
        for (; j < head; ++j) {
            SelectBorderPixel(nextSource, nextSelected, above, here, result, j, interval, tones);
        }
    }
    for (; j + 16 <= count; j += 16) {
        const __m128i shifted =
            _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(nextSource + j)), low);
        const __m128i below = _mm_cmpeq_epi8(_mm_min_epu8(shifted, span), shifted);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(nextSelected + j), below);
        const __m128i middle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(here + j));
        const __m128i neighbours =
            _mm_and_si128(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(above + j)), below),
                          _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(here + j - 1)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(here + j + 1))));
        const __m128i tone = _mm_xor_si128(border, _mm_and_si128(neighbours, flip));
        const __m128i value =
            _mm_xor_si128(background, _mm_and_si128(middle, _mm_xor_si128(tone, background)));
        if constexpr (kStream) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(result + j), value);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(result + j), value);
        }
    }
    for (; j < count; ++j) {
        SelectBorderPixel(nextSource, nextSelected, above, here, result, j, interval, tones);
    }
}

template <bool kStream>
[[gnu::target("avx2")]] void SelectBorderAvx2(const std::uint8_t* __restrict nextSource,
                                              std::uint8_t* __restrict nextSelected,
                                              const std::uint8_t* __restrict above,
                                              const std::uint8_t* __restrict here,
                                              std::uint8_t* __restrict result, std::size_t count,
                                              Interval interval, const BorderTones& tones) noexcept {
    const __m256i low = _mm256_set1_epi8(static_cast<char>(interval.low));
    const __m256i span = _mm256_set1_epi8(static_cast<char>(interval.span));
    const __m256i background = _mm256_set1_epi8(static_cast<char>(tones.background));
    const __m256i flip = _mm256_set1_epi8(static_cast<char>(tones.inside ^ tones.border));
    const __m256i border = _mm256_set1_epi8(static_cast<char>(tones.border));
    std::size_t j = 0;
    if constexpr (kStream) {
        const std::size_t head = std::min(count, (32 - (reinterpret_cast<std::uintptr_t>(result) & 31)) & 31);
        for (; j < head; ++j) {
            SelectBorderPixel(nextSource, nextSelected, above, here, result, j, interval, tones);
        }
    }
    for (; j + 32 <= count; j += 32) {
        const __m256i shifted =
            _mm256_sub_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(nextSource + j)), low);
        const __m256i below = _mm256_cmpeq_epi8(_mm256_min_epu8(shifted, span), shifted);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(nextSelected + j), below);
        const __m256i middle = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(here + j));
        const __m256i neighbours = _mm256_and_si256(
            _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(above + j)), below),
            _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(here + j - 1)),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(here + j + 1))));
        const __m256i tone = _mm256_xor_si256(border, _mm256_and_si256(neighbours, flip));
        const __m256i value =
            _mm256_xor_si256(background, _mm256_and_si256(middle, _mm256_xor_si256(tone, background)));
        if constexpr (kStream) {
            _mm256_stream_si256(reinterpret_cast<__m256i*>(result + j), value);
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(result + j), value);
        }
    }
    for (; j < count; ++j) {
        SelectBorderPixel(nextSource, nextSelected, above, here, result, j, interval, tones);
    }
}

// Copies bytes to target with streaming stores, whole cache lines only, and
// returns how many it copied: an unaligned start goes by ordinary stores,
// and the bytes after the last whole cache line stay for the next call,
// unless all is set. Ordinary and streaming stores in one cache line are
// slow, so a caller writing one block line by line carries those bytes over.
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

// AVX-512: the selection is kept as bit masks, one 64-bit word per 64
// columns, straight from the byte compares; the neighbour rule is then a few
// word operations per 64 pixels, and each result vector is two masked
// blends. Word w of a mask row covers columns 64w to 64w + 63; the rows have
// a word of ones on either side and ones beyond the last column, like the
// outside of the image.
namespace wide {

constexpr std::uint64_t kAll = ~std::uint64_t{0};

struct Vectors {
    __m512i low, span, background, inside, border;
};

// The selection of 64 pixels that are all inside the line.
[[gnu::target("avx512f,avx512bw"), gnu::always_inline]] inline std::uint64_t SelectWhole(
    const std::uint8_t* pixels, const Vectors& v) noexcept {
    return _mm512_cmple_epu8_mask(_mm512_sub_epi8(_mm512_loadu_si512(pixels), v.low), v.span);
}

// The selection of the 64 columns of word w; beyond the line's end, ones.
[[gnu::target("avx512f,avx512bw"), gnu::always_inline]] inline std::uint64_t SelectWord(
    const std::uint8_t* line, std::size_t w, std::size_t fullWords, __mmask64 tail,
    const Vectors& v) noexcept {
    if (w < fullWords) {
        return SelectWhole(line + 64 * w, v);
    }
    const __m512i pixels = _mm512_maskz_loadu_epi8(tail, line + 64 * w);
    return _mm512_cmple_epu8_mask(_mm512_sub_epi8(pixels, v.low), v.span) | ~tail;
}

// Word w of the row below: selected from the next source line and kept for
// the next result line, or, without a source line, as the row holds it.
[[gnu::target("avx512f,avx512bw"), gnu::always_inline]] inline std::uint64_t Below(
    const std::uint8_t* nextSource, std::uint64_t* below, std::size_t w, std::size_t fullWords,
    __mmask64 tail, const Vectors& v) noexcept {
    if (nextSource == nullptr) {
        return below[w];
    }
    below[w] = SelectWord(nextSource, w, fullWords, tail, v);
    return below[w];
}

// 64 result bytes from the masks of selected and of inner (selected with all
// four neighbours selected) pixels.
[[gnu::target("avx512f,avx512bw"), gnu::always_inline]] inline __m512i Tones(std::uint64_t selected,
                                                                             std::uint64_t inner,
                                                                             const Vectors& v) noexcept {
    return _mm512_mask_blend_epi8(inner, _mm512_mask_blend_epi8(selected, v.background, v.border), v.inside);
}

// Bits s to s + 63 of the 128-bit pair (high, low), s in 0..63. The high
// word goes in two shifts, since one of 64 would be undefined at s = 0.
inline std::uint64_t Funnel(std::uint64_t low, std::uint64_t high, unsigned s) noexcept {
    return (low >> s) | ((high << 1) << (63 - s));
}

// Writes a block of 64 result bytes at a 64-byte boundary.
template <bool kStream>
[[gnu::target("avx512f,avx512bw"), gnu::always_inline]] inline void PutBlock(std::uint8_t* at,
                                                                             __m512i block) noexcept {
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

// The border treatments over the whole image with a rolling window of three
// mask rows, as BorderTreatment does with byte rows.
[[gnu::target("avx512f,avx512bw")]] bool Border(bool streaming, const ByteMatrix& source, ByteMatrix& result,
                                                Interval interval, const BorderTones& tones) noexcept {
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

}  // namespace wide

void StreamFence() noexcept {
    _mm_sfence();  // streaming stores are weakly ordered: finish them before anyone reads
}
#else
// Elsewhere the two steps run one after the other, with ordinary stores.
template <bool kStream>
void SelectBorderBaseline(const std::uint8_t* __restrict nextSource, std::uint8_t* __restrict nextSelected,
                          const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                          std::uint8_t* __restrict result, std::size_t count, Interval interval,
                          const BorderTones& tones) noexcept {
    for (std::size_t j = 0; j < count; ++j) {
        SelectBorderPixel(nextSource, nextSelected, above, here, result, j, interval, tones);
    }
}
void StreamFence() noexcept {}
#endif

void SelectBaseline(const std::uint8_t* source, std::uint8_t* selected, std::size_t count,
                    Interval interval) noexcept {
    SelectBody(source, selected, count, interval);
}
void WholeItemBaseline(const std::uint8_t* source, std::uint8_t* result, std::size_t count, Interval interval,
                       std::uint8_t item, std::uint8_t background) noexcept {
    WholeItemBody(source, result, count, interval, item, background);
}
void BorderBaseline(const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below,
                    std::uint8_t* result, std::size_t count, const BorderTones& tones) noexcept {
    BorderBody(above, here, below, result, count, tones);
}

#if KAVEL_X86_KERNELS
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
#endif

using SelectBorderLoop = void (*)(const std::uint8_t*, std::uint8_t*, const std::uint8_t*,
                                  const std::uint8_t*, std::uint8_t*, std::size_t, Interval,
                                  const BorderTones&) noexcept;

struct RowKernels {
    void (*select)(const std::uint8_t*, std::uint8_t*, std::size_t, Interval) noexcept;
    void (*wholeItem)(const std::uint8_t*, std::uint8_t*, std::size_t, Interval, std::uint8_t,
                      std::uint8_t) noexcept;
    void (*border)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t,
                   const BorderTones&) noexcept;
    SelectBorderLoop selectBorder;
    SelectBorderLoop selectBorderStreaming;
    // When set, a streamed result is computed into a staged line and copied
    // out with this, instead of the fused loop: faster for AVX2.
    std::size_t (*stream)(std::uint8_t*, const std::uint8_t*, std::size_t, bool) noexcept;
    // When set, the border treatments of the whole image; false when out of memory.
    bool (*wholeBorder)(bool streaming, const ByteMatrix& source, ByteMatrix& result, Interval interval,
                        const BorderTones& tones) noexcept;
};

constexpr RowKernels kBaselineKernels{SelectBaseline,
                                      WholeItemBaseline,
                                      BorderBaseline,
                                      SelectBorderBaseline<false>,
                                      SelectBorderBaseline<true>,
                                      nullptr,
                                      nullptr};
#if KAVEL_X86_KERNELS
constexpr RowKernels kAvx2Kernels{
    SelectAvx2, WholeItemAvx2, BorderAvx2, SelectBorderAvx2<false>, SelectBorderAvx2<true>,
    StreamAvx2, nullptr};
// AVX-512 only changes the border treatments; the whole item is bound by
// memory already.
constexpr RowKernels kAvx512Kernels{
    SelectAvx2, WholeItemAvx2, BorderAvx2, SelectBorderAvx2<false>, SelectBorderAvx2<true>,
    StreamAvx2, wide::Border};
#endif

bool HasAvx2() noexcept {
#if KAVEL_X86_KERNELS
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

bool HasAvx512() noexcept {
#if KAVEL_X86_KERNELS
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
    }();
    return has;
#else
    return false;
#endif
}

const RowKernels& KernelsFor(detail::KernelPath path) noexcept {
#if KAVEL_X86_KERNELS
    if (path == detail::KernelPath::Avx512 || (path == detail::KernelPath::Best && HasAvx512())) {
        return kAvx512Kernels;
    }
    if (path == detail::KernelPath::Avx2 || (path == detail::KernelPath::Best && HasAvx2())) {
        return kAvx2Kernels;
    }
#endif
    (void)path;
    return kBaselineKernels;
}

// Results at least this large are written with streaming stores: they do not
// fit in the last-level cache anyway, so reading their lines in before writing
// them is wasted traffic. Measured here, streaming was slower up to about
// 36 MB and faster from 64 MB.
constexpr std::size_t kStreamFrom = std::size_t{48} << 20;

Error NoWindow(std::size_t columns) {
    return Error{"not enough memory for the treatment of a line of " + std::to_string(columns) + " pixels"};
}

// Border extraction in one pass with a rolling window of three selection lines:
// line i + 1 is selected while line i is written, so no full-size scratch
// matrix is needed and the result may even be the source itself.
Status BorderTreatment(const RowKernels& k, bool streaming, const ByteMatrix& source, ByteMatrix& result,
                       Interval interval, const BorderTones& tones) {
    const int lines = source.Lines();
    const auto count = static_cast<std::size_t>(source.Columns());
    if (k.wholeBorder != nullptr) {
        if (!k.wholeBorder(streaming, source, result, interval, tones)) {
            return NoWindow(count);
        }
        return {};
    }
    // Five rows: three of selection, one that stands for the outside of the
    // image, one for a staged result line. Each row starts a cache line and has one padding byte on
    // either side (the last byte of the cache line before it, the first after
    // it), 0xFF like the outside.
    const std::size_t stride = ((count + 1 + 63) & ~std::size_t{63}) + 64;
    PixelBuffer window(static_cast<std::uint8_t*>(std::aligned_alloc(64, 5 * stride + 64)));
    if (!window) {
        return NoWindow(count);
    }
    std::fill(window.get(), window.get() + 4 * stride + 64, std::uint8_t{0xFF});
    std::uint8_t* const outside = window.get() + 3 * stride + 64;
    auto selection = [&](int line) {
        return window.get() + static_cast<std::size_t>(line % 3) * stride + 64;
    };
    const SelectBorderLoop selectBorder = streaming ? k.selectBorderStreaming : k.selectBorder;

    k.select(source[0], selection(0), count, interval);
    if (streaming && k.stream != nullptr) {
        // The result's lines follow each other in one block, which goes out
        // as one: the bytes of a cache line that the next line completes are
        // carried at the front of the staged line (at most 63, and the row
        // has room for them beside a line).
        std::uint8_t* const staged = window.get() + 4 * stride + 64;
        std::uint8_t* out = result[0];
        std::size_t carried = 0;
        for (int i = 0; i < lines; ++i) {
            const bool last = i + 1 == lines;
            if (!last) {
                k.select(source[i + 1], selection(i + 1), count, interval);
            }
            const std::uint8_t* above = i > 0 ? selection(i - 1) : outside;
            const std::uint8_t* below = last ? outside : selection(i + 1);
            k.border(above, selection(i), below, staged + carried, count, tones);
            const std::size_t ready = carried + count;
            const std::size_t written = k.stream(out, staged, ready, last);
            carried = ready - written;
            std::memmove(staged, staged + written, carried);
            out += written;
        }
        StreamFence();
        return {};
    }
    for (int i = 0; i + 1 < lines; ++i) {
        const std::uint8_t* above = i > 0 ? selection(i - 1) : outside;
        selectBorder(source[i + 1], selection(i + 1), above, selection(i), result[i], count, interval, tones);
    }
    // The last line has the outside below it; one line, ordinary stores.
    const int last = lines - 1;
    k.border(last > 0 ? selection(last - 1) : outside, selection(last), outside, result[last], count, tones);
    if (streaming) {
        StreamFence();
    }
    return {};
}

Status Treat(const RowKernels& k, detail::ResultStores stores, const ByteMatrix& source,
             const TreatmentParameters& parameters, ByteMatrix& result) {
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
    const TreatmentKind type = parameters.TreatmentType;
    const bool known = type == TreatmentKind::WholeItem || type == TreatmentKind::Border ||
                       type == TreatmentKind::ItemAndBorder;
    if (!known || interval.empty) {
        std::span<std::uint8_t> bytes = result.Bytes();
        std::memset(bytes.data(), background, bytes.size());
        return {};
    }

    if (type == TreatmentKind::WholeItem) {
        // The matrix is one block, so the whole image is a single row here.
        const std::span<const std::uint8_t> in = source.Bytes();
        k.wholeItem(in.data(), result.Bytes().data(), in.size(), interval, LowByte(parameters.ItemTone),
                    background);
        return {};
    }
    const BorderTones tones{
        background,
        type == TreatmentKind::ItemAndBorder ? LowByte(parameters.ItemTone) : background,
        LowByte(parameters.BorderTone),
    };
    const bool streaming = stores == detail::ResultStores::Streaming ||
                           (stores == detail::ResultStores::BySize && source.PixelCount() >= kStreamFrom);
    return BorderTreatment(k, streaming, source, result, interval, tones);
}

}  // namespace

Status ComputeTreatment(const ByteMatrix& source, const TreatmentParameters& parameters, ByteMatrix& result) {
    return Treat(KernelsFor(detail::KernelPath::Best), detail::ResultStores::BySize, source, parameters,
                 result);
}

namespace detail {

bool KernelPathAvailable(KernelPath path) noexcept {
    switch (path) {
        case KernelPath::Avx2:
            return HasAvx2();
        case KernelPath::Avx512:
            return HasAvx512() && HasAvx2();
        default:
            return true;
    }
}

Status ComputeTreatmentOn(KernelPath path, ResultStores stores, const ByteMatrix& source,
                          const TreatmentParameters& parameters, ByteMatrix& result) {
    if (!KernelPathAvailable(path)) {
        return Error{path == KernelPath::Avx512 ? "this processor has no AVX-512"
                                                : "this processor has no AVX2"};
    }
    return Treat(KernelsFor(path), stores, source, parameters, result);
}

}  // namespace detail

}  // namespace kavel
