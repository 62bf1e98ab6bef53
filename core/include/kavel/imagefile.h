// Image files as both programs open and save them: the one place that holds
// the rules, so the desktop and kavel-cli cannot drift apart.
//   - a raw image: headerless bytes sized by a descriptor (or a given size);
//   - a gray bitmap: an 8-bit file, its depth decided from the header;
//   - saves that replace a raw image and its descriptor as a pair.
// Every failure is a value whose text a user can read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kavel/bitmap.h"
#include "kavel/expected.h"
#include "kavel/guitools.h"
#include "kavel/rawimage.h"

namespace kavel {

// An existing regular file, or the reason it cannot be an image ("... is a
// named pipe (FIFO), not a regular file"). Never waits on a pipe or a device.
Status CheckImageFile(const std::filesystem::path& image);

// What a non-regular file is, in words ("a named pipe (FIFO)"), or empty for
// a regular file or a name that does not exist. Links are followed.
std::string SpecialFileKind(const std::filesystem::path& name);

// The descriptor a raw image is read with: NAME.txt beside it, or, when that
// does not exist, the one name that differs from it only in the letter case
// of "txt" (SCENE.RAW beside SCENE.TXT). When neither exists, Name is NAME.txt
// (where a new descriptor goes) and Exists is false.
struct DescriptorLocation {
    std::filesystem::path Name;
    bool Exists = false;
};
DescriptorLocation FindDescriptor(const std::filesystem::path& image);

struct RawImage {
    ByteMatrix Pixels;
    std::uint64_t FileBytes = 0;  // fewer than the pixels: the rest read as 0
    bool Short() const noexcept { return FileBytes < Pixels.PixelCount(); }
};

// The regular-file check, then the pixels of a raw image of the given size.
Expected<RawImage> LoadRawImage(const std::filesystem::path& image, ImageSize size);

// An 8-bit bitmap, read through its palette when that is all gray. A 24-bit
// file is refused from its header with kColourBitmapRefusal (see
// IsColourBitmapRefusal); other files KAVEL does not open are refused saying
// what they are and that `kavel-cli import` converts them.
Expected<ByteMatrix> LoadGrayBitmap(const std::filesystem::path& file);

// A raw image and its descriptor (lines, columns, 1, 0, 255) replaced as one.
Status SaveRawImage(const std::filesystem::path& pixels, const std::filesystem::path& descriptor,
                    const ByteMatrix& image);
// The 8-bit bitmap with the gray ramp.
Status SaveBitmapImage(const std::filesystem::path& file, const ByteMatrix& image);

// True when both names lead to one existing file (links followed).
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) noexcept;

// The first of targets that is one of the protected files (an image being
// read and its descriptor), or none.
std::optional<std::filesystem::path> FirstProtected(const std::vector<std::filesystem::path>& targets,
                                                    const std::vector<std::filesystem::path>& protectedFiles);

}  // namespace kavel
