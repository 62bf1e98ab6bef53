#include "kavel/memorybudget.h"

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kavel {

namespace {

// The number after "name:" at the start of a line, and whether it is in kB.
std::optional<std::uint64_t> FieldValue(std::string_view text, std::string_view name) noexcept {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.size() <= name.size() || line.substr(0, name.size()) != name || line[name.size()] != ':') {
            continue;
        }
        line.remove_prefix(name.size() + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        std::uint64_t value = 0;
        const auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (error != std::errc{} || rest == line.data()) {
            return std::nullopt;
        }
        std::string_view unit(rest, static_cast<std::size_t>(line.data() + line.size() - rest));
        while (!unit.empty() && unit.front() == ' ') {
            unit.remove_prefix(1);
        }
        if (unit.substr(0, 2) == "kB") {
            if (value > UINT64_MAX / 1024) {
                return std::nullopt;
            }
            value *= 1024;
        }
        return value;
    }
    return std::nullopt;
}

std::string ReadWhole(const char* fileName) {
    std::ifstream in(fileName);
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::uint64_t> Limit(int resource) noexcept {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace

std::uint64_t ImageOpenBytes(std::int64_t lines, std::int64_t columns) noexcept {
    if (lines <= 0 || columns <= 0) {
        return 0;
    }
    // Both fit in 31 bits, so the product and three times it fit in 64.
    const auto pixels = static_cast<std::uint64_t>(lines) * static_cast<std::uint64_t>(columns);
    return 3 * pixels;
}

std::optional<std::uint64_t> MemAvailableFrom(std::string_view meminfo) noexcept {
    return FieldValue(meminfo, "MemAvailable");
}

std::optional<std::uint64_t> StatusFieldBytes(std::string_view status, std::string_view field) noexcept {
    return FieldValue(status, field);
}

std::optional<std::uint64_t> Headroom(std::optional<std::uint64_t> limit, std::uint64_t used) noexcept {
    if (!limit) {
        return std::nullopt;
    }
    return *limit > used ? *limit - used : 0;
}

std::optional<std::uint64_t> SmallestBound(std::optional<std::uint64_t> a, std::optional<std::uint64_t> b,
                                           std::optional<std::uint64_t> c) noexcept {
    std::optional<std::uint64_t> smallest;
    for (const std::optional<std::uint64_t>& bound : {a, b, c}) {
        if (bound && (!smallest || *bound < *smallest)) {
            smallest = bound;
        }
    }
    return smallest;
}

std::optional<std::uint64_t> AvailableMemoryBytes() {
    const std::string meminfo = ReadWhole("/proc/meminfo");
    const std::string status = ReadWhole("/proc/self/status");
    const std::optional<std::uint64_t> machine = MemAvailableFrom(meminfo);
    const std::optional<std::uint64_t> address =
        Headroom(Limit(RLIMIT_AS), StatusFieldBytes(status, "VmSize").value_or(0));
    const std::optional<std::uint64_t> data =
        Headroom(Limit(RLIMIT_DATA), StatusFieldBytes(status, "VmData").value_or(0));
    return SmallestBound(machine, address, data);
}

std::string ByteSizeText(std::uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    constexpr std::array<const char*, 6> kUnits{"KB", "MB", "GB", "TB", "PB", "EB"};
    auto value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < kUnits.size()) {
        value /= 1024.0;
        ++unit;
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f %s", value, kUnits[unit]);
    return text.data();
}

}  // namespace kavel
