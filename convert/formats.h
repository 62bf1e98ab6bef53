// Internal to the conversion: the two kinds of file Qt's readers get wrong,
// found and handled before Qt sees them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "kavel/expected.h"
#include "kavel/guitools.h"

class QIODevice;

namespace kavel::detail {

// The header of a PGM (P2 or P5) whose largest value is above 255, or none for
// any other file: Qt cuts such values to 8 bits instead of rounding them.
struct DeepPgmHeader {
    bool Plain = false;  // P2: decimal numbers
    std::uint64_t Width = 0;
    std::uint64_t Height = 0;
    std::uint32_t MaxValue = 0;
    std::size_t RasterStart = 0;
};
std::optional<DeepPgmHeader> DeepPgmHeaderOf(std::span<const std::uint8_t> head);
// The gray of every sample v: (v * 255 + max / 2) / max, max the largest value.
Expected<ByteMatrix> DecodeDeepPgm(std::span<const std::uint8_t> file, const DeepPgmHeader& header);

// The first image of a TIFF: bits per sample and whether they are floating
// point, read from its first directory; none when the device is not a TIFF
// or cannot seek.
struct TiffSamples {
    std::uint32_t Bits = 0;
    bool FloatingPoint = false;
};
std::optional<TiffSamples> TiffSamplesOf(QIODevice& device);

// Standard error held in memory while a library may write to it, and put
// back afterwards (a decoder's own complaints belong in its refusal).
class HeldStandardError {
public:
    HeldStandardError();
    ~HeldStandardError();
    HeldStandardError(const HeldStandardError&) = delete;
    HeldStandardError& operator=(const HeldStandardError&) = delete;
    // What was written so far, its line ends as "; ".
    std::string Text() const;

private:
    int saved_ = -1;
    int held_ = -1;
};

}  // namespace kavel::detail
