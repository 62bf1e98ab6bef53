// The messages shown when memory runs short for an image or its display.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "kavel/guitools.h"

// "1 line and 1 column", "2 lines and 3 columns".
QString LinesAndColumnsText(std::int64_t lines, std::int64_t columns);
// Why lines x columns cannot be an image at all (negative, or more pixels than
// KAVEL holds, with the memory it would need), or nothing when it can.
std::optional<QString> ImageSizeRefusal(std::int64_t lines, std::int64_t columns);
// Why an image of lines x columns cannot be opened with the memory this
// process can still commit, or nothing when it can.
std::optional<QString> OpenMemoryRefusal(std::int64_t lines, std::int64_t columns);
// The message for an image that is in memory but whose display bitmap could
// not be made.
QString DisplayFailureText(const kavel::TRasterImage& image);
