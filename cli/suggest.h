// kavel-cli suggest: the automatic thresholds of each input and the two
// intervals each implies; and the choice of the interval behind treat --auto.
#pragma once

#include <string>

#include "args.h"
#include "kavel/rawimage.h"
#include "kavel/statistics.h"
#include "kavel/threshold.h"
#include "kavel/treatment.h"

namespace kavel::cli {

int RunSuggest(const SuggestOptions& options);

// Sets the interval of parameters from the image's histogram and gives the
// line that reports it with the file's name, or says why the method has none.
Expected<std::string> ApplyAutoInterval(const AutoChoice& choice, const Histogram& histogram,
                                        const std::string& file, TreatmentParameters& parameters);

}  // namespace kavel::cli
