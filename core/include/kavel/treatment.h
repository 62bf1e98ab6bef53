// The thresholding treatment: interval selection, 4-neighbour border
// extraction and tone assignment.
#pragma once

#include <cstdint>

#include "kavel/expected.h"
#include "kavel/guitools.h"

namespace kavel {

// The numbers are those of the treatment dialog's choice; any other value
// leaves only the background fill, as None does.
enum class TreatmentKind : std::int32_t {
    None = 0,  // only the background fill
    WholeItem = 1,
    Border = 2,
    ItemAndBorder = 3,
};

struct TreatmentParameters {
    TreatmentKind TreatmentType = TreatmentKind::None;
    std::int32_t MinThreshold = 0;
    std::int32_t MaxThreshold = 0;
    std::int32_t ItemTone = 0;
    std::int32_t BorderTone = 0;
    std::int32_t BackgroundTone = 0;
};

// Fills result from source. A pixel is selected when Min <= g <= Max (signed
// 32-bit compare). Tones are written as their low 8 bits. A selected pixel is a
// border pixel when one of its four side neighbours inside the image is not
// selected. result may be source itself. Fails only when the two matrices
// differ in size.
Status ComputeTreatment(const ByteMatrix& source, const TreatmentParameters& parameters, ByteMatrix& result);

namespace detail {

// The row loops exist for the baseline x86-64, for AVX2 and (the border
// treatments) for AVX-512, and a large result is written with streaming
// stores; ComputeTreatment takes the widest loops the processor has and
// chooses the stores by size. These entries force either choice, so that
// tests and benchmarks can check that all give the same results.
// KAVEL_KERNEL=baseline|avx2|avx512 in the environment makes
// ComputeTreatment take that path where the processor has it, so that
// tests can run whole programs on each.
enum class KernelPath { Best, Baseline, Avx2, Avx512 };
enum class ResultStores { BySize, Cached, Streaming };
bool KernelPathAvailable(KernelPath path) noexcept;
// As ComputeTreatment, with the given choices; an Error when the path is not
// available on this processor.
Status ComputeTreatmentOn(KernelPath path, ResultStores stores, const ByteMatrix& source,
                          const TreatmentParameters& parameters, ByteMatrix& result);

}  // namespace detail

}  // namespace kavel
