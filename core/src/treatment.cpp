// The treatment: the portable row loops, the drivers that run them over an
// image, and the choice of the instruction set's loops at run time. The
// loops of each instruction set are in treatment_sse2.cpp, treatment_avx2.cpp
// and treatment_avx512.cpp; the portable ones are the reference that all of
// them must match.
#include "kavel/treatment.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "treatment_kernels.h"

namespace kavel {

namespace {

using kernels::BorderTones;
using kernels::Interval;
using kernels::RowKernels;
using kernels::SelectBorderLoop;

// Low byte of a tone parameter: 256 gives 0, 300 gives 44, -1 gives 255.
std::uint8_t LowByte(std::int32_t tone) noexcept {
    return static_cast<std::uint8_t>(tone & 0xFF);
}

// Bounds beyond 0..255 are clamped first, which keeps the signed 32-bit
// meaning of the comparison.
Interval ByteInterval(std::int32_t minimum, std::int32_t maximum) noexcept {
    if (maximum < 0 || minimum > 255 || minimum > maximum) {
        return {};
    }
    const std::int32_t low = std::max(minimum, 0);
    const std::int32_t high = std::min(maximum, 255);
    return {false, static_cast<std::uint8_t>(low), static_cast<std::uint8_t>(high - low)};
}

void SelectPortable(const std::uint8_t* source, std::uint8_t* selected, std::size_t count,
                    Interval interval) noexcept {
    kernels::SelectBody(source, selected, count, interval);
}
void WholeItemPortable(const std::uint8_t* source, std::uint8_t* result, std::size_t count, Interval interval,
                       std::uint8_t item, std::uint8_t background) noexcept {
    kernels::WholeItemBody(source, result, count, interval, item, background);
}
void BorderPortable(const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below,
                    std::uint8_t* result, std::size_t count, const BorderTones& tones) noexcept {
    kernels::BorderBody(above, here, below, result, count, tones);
}

#if KAVEL_X86_KERNELS
// The baseline of x86-64 has SSE2: the portable loops, which the compiler
// vectorises, and the fused loop written for it.
constexpr RowKernels kBaselineKernels{SelectPortable,
                                      WholeItemPortable,
                                      BorderPortable,
                                      kernels::SelectBorderSse2,
                                      kernels::SelectBorderStreamingSse2,
                                      nullptr,
                                      nullptr,
                                      kernels::StreamFence};
constexpr RowKernels kAvx2Kernels{kernels::SelectAvx2,
                                  kernels::WholeItemAvx2,
                                  kernels::BorderAvx2,
                                  kernels::SelectBorderAvx2,
                                  kernels::SelectBorderStreamingAvx2,
                                  kernels::StreamAvx2,
                                  nullptr,
                                  kernels::StreamFence};
// AVX-512 only changes the border treatments; the whole item is bound by
// memory already.
constexpr RowKernels kAvx512Kernels{kernels::SelectAvx2,
                                    kernels::WholeItemAvx2,
                                    kernels::BorderAvx2,
                                    kernels::SelectBorderAvx2,
                                    kernels::SelectBorderStreamingAvx2,
                                    kernels::StreamAvx2,
                                    kernels::BorderImageAvx512,
                                    kernels::StreamFence};
#else
// Elsewhere the fused loop is the portable rule a pixel at a time, with
// ordinary stores also where streaming ones are asked for.
void SelectBorderPortable(const std::uint8_t* __restrict nextSource, std::uint8_t* __restrict nextSelected,
                          const std::uint8_t* __restrict above, const std::uint8_t* __restrict here,
                          std::uint8_t* __restrict result, std::size_t count, Interval interval,
                          const BorderTones& tones) noexcept {
    for (std::size_t j = 0; j < count; ++j) {
        kernels::SelectBorderPixel(nextSource, nextSelected, above, here, result, j, interval, tones);
    }
}
constexpr RowKernels kBaselineKernels{
    SelectPortable,       WholeItemPortable, BorderPortable, SelectBorderPortable,
    SelectBorderPortable, nullptr,           nullptr,        nullptr};
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

// KAVEL_KERNEL=baseline, avx2 or avx512 in the environment makes every
// treatment take those loops, if the processor has them; anything else
// leaves the choice to the processor. For tests: whole programs can then be
// run on each path on any machine that has it.
detail::KernelPath PathFromEnvironment() noexcept {
    static const detail::KernelPath path = [] {
        const char* value = std::getenv("KAVEL_KERNEL");
        const std::string_view name = value != nullptr ? value : "";
        constexpr std::array<std::pair<std::string_view, detail::KernelPath>, 3> kNames{{
            {"baseline", detail::KernelPath::Baseline},
            {"avx2", detail::KernelPath::Avx2},
            {"avx512", detail::KernelPath::Avx512},
        }};
        for (const auto& [known, forced] : kNames) {
            if (name == known && detail::KernelPathAvailable(forced)) {
                return forced;
            }
        }
        return detail::KernelPath::Best;
    }();
    return path;
}

const RowKernels& KernelsFor(detail::KernelPath path) noexcept {
    if (path == detail::KernelPath::Best) {
        path = PathFromEnvironment();
    }
#if KAVEL_X86_KERNELS
    if (path == detail::KernelPath::Avx512 || (path == detail::KernelPath::Best && HasAvx512())) {
        return kAvx512Kernels;
    }
    if (path == detail::KernelPath::Avx2 || (path == detail::KernelPath::Best && HasAvx2())) {
        return kAvx2Kernels;
    }
#endif
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
        k.fence();  // tables with a streaming copy have streaming stores
        return {};
    }
    for (int i = 0; i + 1 < lines; ++i) {
        const std::uint8_t* above = i > 0 ? selection(i - 1) : outside;
        selectBorder(source[i + 1], selection(i + 1), above, selection(i), result[i], count, interval, tones);
    }
    // The last line has the outside below it; one line, ordinary stores.
    const int last = lines - 1;
    k.border(last > 0 ? selection(last - 1) : outside, selection(last), outside, result[last], count, tones);
    if (streaming && k.fence != nullptr) {
        k.fence();
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
