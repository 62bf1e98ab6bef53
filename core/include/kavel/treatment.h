// The thresholding treatment: interval selection, 4-neighbour border
// extraction and tone assignment.
#pragma once

#include <cstdint>

#include "kavel/expected.h"
#include "kavel/guitools.h"

namespace kavel {

enum TreatmentKind : std::int32_t {
    kNoTreatment = 0,  // only the background fill
    kWholeItem = 1,
    kBorder = 2,
    kItemAndBorder = 3,
};

struct TreatmentParameters {
    std::int32_t TreatmentType = 0;
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

}  // namespace kavel
