// Measurements of the item that an interval [Min, Max] selects: the pixel
// counts of the treatment's border and inside, tone statistics of the selected
// pixels and the number of connected regions.
#pragma once

#include <cstdint>
#include <optional>

#include "kavel/expected.h"
#include "kavel/guitools.h"

namespace kavel {

class LineSource;

// Which pixels touch: the four side neighbours, or those and the four
// diagonal ones.
enum class Connectivity { Four = 4, Eight = 8 };

struct Measurements {
    std::int64_t Pixels = 0;
    std::int64_t Selected = 0;  // Min <= g <= Max
    std::int64_t Border = 0;    // selected, with an unselected side neighbour inside the image
    std::int64_t Inside = 0;    // selected, not border
    double AreaFraction = 0;    // Selected / Pixels; 0 for an image without pixels
    int DistinctTones = 0;      // among the selected pixels
    // Of the selected pixels' tones; none when nothing is selected. The median
    // is the lower one for an even count, the mode the lowest of equally
    // frequent tones, the standard deviation that of the population (n).
    std::optional<double> Mean;
    std::optional<int> Median;
    std::optional<int> Mode;
    std::optional<double> StdDev;
    std::int64_t Regions = 0;  // connected regions of the selection
};

// The counts come from the treatment itself ("Item and Border", run on
// strips of the image), so they are by construction what the treatment
// draws; one more pass over its marks and the image gives the rest. Fails
// only when memory for a strip cannot be had.
Expected<Measurements> MeasureSelection(const ByteMatrix& image, std::int32_t minimum, std::int32_t maximum,
                                        Connectivity connectivity);

// The same, of a source read a band at a time in the order its file holds
// the lines, in memory of a few bands whatever the image: every measurement
// is the same whether the lines come top first or bottom first.
Expected<Measurements> StreamMeasureSelection(LineSource& source, std::int32_t minimum, std::int32_t maximum,
                                              Connectivity connectivity);

}  // namespace kavel
