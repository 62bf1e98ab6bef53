// kavel-cli measure: one row of measurements per input for an interval.
#pragma once

#include "args.h"

namespace kavel::cli {

int RunMeasure(const MeasureOptions& options);

}  // namespace kavel::cli
