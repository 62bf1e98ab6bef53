// What an open will cost in memory and what the machine can give, so that an
// image whose size the file cannot justify is refused before any of it is
// committed, instead of ending in an out-of-memory kill.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavel {

// Bytes an open of lines x columns holds at once: the source matrix, the
// all-zero result matrix and the image window's display bitmap, each one
// byte per pixel. Negative sizes count as 0.
std::uint64_t ImageOpenBytes(std::int64_t lines, std::int64_t columns) noexcept;

// "MemAvailable:" of a /proc/meminfo text, in bytes.
std::optional<std::uint64_t> MemAvailableFrom(std::string_view meminfo) noexcept;
// A "Name:   1234 kB" field of a /proc/self/status text, in bytes.
std::optional<std::uint64_t> StatusFieldBytes(std::string_view status, std::string_view field) noexcept;

// What a resource limit leaves beside what is already in use; nothing when
// the limit is infinite.
std::optional<std::uint64_t> Headroom(std::optional<std::uint64_t> limit, std::uint64_t used) noexcept;

// The smallest of the known bounds, or nothing when none is known.
std::optional<std::uint64_t> SmallestBound(std::optional<std::uint64_t> a, std::optional<std::uint64_t> b,
                                           std::optional<std::uint64_t> c) noexcept;

// What this process can still commit: the machine's available memory, and
// what RLIMIT_AS and RLIMIT_DATA leave. Nothing when none of them is known.
std::optional<std::uint64_t> AvailableMemoryBytes();

// "512 bytes", "1.5 KB", "3.2 GB" (powers of 1024).
std::string ByteSizeText(std::uint64_t bytes);

}  // namespace kavel
