// The rule every numeric edit box uses to turn its text into a number.
#pragma once

#include <cstdint>
#include <string_view>

namespace kavel {

// White space as the C locale has it: blank, tab, line feed, vertical tab,
// form feed, carriage return.
constexpr bool IsWhiteSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading white space skipped, one optional sign, decimal digits up to the
// first non-digit, accumulated in wrapping 32-bit arithmetic; no digits give 0.
// Never fails.
std::int32_t TextToInteger(std::string_view text) noexcept;

}  // namespace kavel
