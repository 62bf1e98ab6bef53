// Internal to the core: a file opened for reading that is known to be a
// regular file. The open itself never waits: a FIFO or a device is refused
// from what fstat says about the very file that was opened.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "kavel/expected.h"

namespace kavel::detail {

// What a file of this mode is, in words, or empty for a regular file.
std::string KindOfMode(mode_t mode);

// The system's reason for errno value error (EIO's for 0), and a failed call
// on a file in words: "<what> <name>: <reason>".
std::string SystemReason(int error);
Error FileFailure(std::string_view what, std::string_view name, int error);

class InputFile {
public:
    static Expected<InputFile> Open(const std::filesystem::path& name);

    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    std::uint64_t Size() const noexcept { return size_; }
    // Up to into.size() bytes from offset; fewer only at the end of the file.
    // The error gives the system's reason.
    Expected<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> into) const;

    // A hint to the system (POSIX_FADV_SEQUENTIAL, _WILLNEED, ...); nothing
    // changes where it is not available. length 0 means to the end.
    void Advise(std::uint64_t offset, std::uint64_t length, int advice) const noexcept;

private:
    InputFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

}  // namespace kavel::detail
