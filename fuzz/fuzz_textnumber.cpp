// The edit boxes' text-to-integer rule against a reference that computes the
// same value another way: the digits' weights 10^k taken modulo 2^32.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kavel/textnumber.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t i = 0;
    while (i < size && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    const bool negative = i < size && text[i] == '-';
    if (i < size && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    std::size_t end = i;
    while (end < size && text[end] >= '0' && text[end] <= '9') {
        ++end;
    }
    std::uint64_t sum = 0;
    std::uint64_t weight = 1;
    for (std::size_t k = end; k > i; --k) {
        sum = (sum + static_cast<std::uint64_t>(text[k - 1] - '0') * weight) % (std::uint64_t{1} << 32);
        weight = weight * 10 % (std::uint64_t{1} << 32);
    }
    if (negative) {
        sum = ((std::uint64_t{1} << 32) - sum) % (std::uint64_t{1} << 32);
    }
    const auto expected = static_cast<std::int32_t>(static_cast<std::uint32_t>(sum));
    if (kavel::TextToInteger(text) != expected) {
        __builtin_trap();
    }
    return 0;
}
