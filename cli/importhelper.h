// kavel-import, the program that holds the conversion (it alone links Qt):
// found beside kavel-cli, run for `kavel-cli import`, and run for an input of
// another command that only the conversion reads. It then sends the gray
// image back through a pipe:
//   "KAVEL-GRAY LINES COLUMNS COLOUR DESCRIPTION\n" and LINES x COLUMNS bytes,
//   or "KAVEL-REFUSED REASON\n".
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "kavel/expected.h"
#include "kavel/guitools.h"

namespace kavel::cli {

// The word kavel-cli gives kavel-import for a conversion into the pipe,
// followed by the file's name, or by nothing when the image is its standard
// input.
inline constexpr std::string_view kConvertToPipeWord = "--convert-to-pipe";

// Up to into.size() bytes from fd, fewer only at its end; the failure says
// "cannot read SOURCE: reason".
Expected<std::size_t> ReadFully(int fd, std::span<std::uint8_t> into, std::string_view source);

// kavel-import next to kavel-cli in a build, in ../libexec/kavel where it is
// installed; the problem in words when it is in neither.
Expected<std::filesystem::path> FindImportHelper();

// Runs kavel-import with these words and the standard streams of this
// process, and gives its exit status; 1 with a message when it cannot start
// (a memory limit too low for its libraries, say).
int RunImportHelper(std::span<const std::string_view> args);

struct HelperImage {
    ByteMatrix Gray;
    std::string Description;  // "PNG, 8-bit gray, 640 x 480"
    bool ColourConverted = false;
};

// Standard input copied whole into an anonymous file in memory, so that it
// is looked at and read as a file is, and handed to kavel-import.
class HeldInput {
public:
    static Expected<HeldInput> FromStdin();
    HeldInput(HeldInput&& other) noexcept;
    HeldInput& operator=(HeldInput&&) = delete;
    HeldInput(const HeldInput&) = delete;
    HeldInput& operator=(const HeldInput&) = delete;
    ~HeldInput();

    std::uint64_t Bytes() const noexcept { return bytes_; }
    // The file as a name (/proc/self/fd/N), and at its start as a descriptor.
    std::filesystem::path Path() const;
    int RewoundFd() const noexcept;

private:
    HeldInput(int fd, std::uint64_t bytes) noexcept : fd_(fd), bytes_(bytes) {}
    int fd_ = -1;
    std::uint64_t bytes_ = 0;
};

// Converts a named file, or the bytes of inputFd (a file open for reading at
// its start) when file is empty.
Expected<HelperImage> ConvertWithHelper(const std::filesystem::path& file, int inputFd = -1);

}  // namespace kavel::cli
