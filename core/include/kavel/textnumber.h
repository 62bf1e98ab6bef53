// The rule every numeric edit box uses to turn its text into a number.
#pragma once

#include <cstdint>
#include <string_view>

namespace kavel {

// Leading white space skipped, one optional sign, decimal digits up to the
// first non-digit, accumulated in wrapping 32-bit arithmetic; no digits give 0.
// Never fails.
std::int32_t TextToInteger(std::string_view text) noexcept;

}  // namespace kavel
