// The commands of kavel-cli that read and write images in KAVEL's own
// kinds: treat, histogram, tones and convert here, suggest and measure in
// suggest.h and measure.h; import runs the helper kavel-import (import.h).
// Each gives the exit status: 0 when everything was done, 1 when an input
// could not be processed (one line on stderr for each), 2 when the run could
// not start. Each command's work on one input is a function that the batch
// (batch.h) calls for every input.
#pragma once

#include "args.h"

namespace kavel::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

int RunTreat(const TreatOptions& options);
int RunHistogram(const HistogramOptions& options);
int RunTones(const TonesOptions& options);
int RunConvert(const ConvertOptions& options);

}  // namespace kavel::cli
