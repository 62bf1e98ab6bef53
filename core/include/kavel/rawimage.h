// Raw images: headerless lines x columns bytes, with a text descriptor beside
// them whose first two integers are the lines and the columns.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>

#include "kavel/expected.h"
#include "kavel/guitools.h"

namespace kavel {

struct ImageSize {
    int Lines = 0;
    int Columns = 0;
    friend bool operator==(const ImageSize&, const ImageSize&) = default;
};

// Which characters separate the parts of a file name: '/' on POSIX; '/', '\\'
// and the drive colon on Windows. The native style is used unless one is given
// (the explicit form lets either be tested anywhere).
enum class PathStyle { Posix, Windows };
#ifdef _WIN32
inline constexpr PathStyle kNativePathStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kNativePathStyle = PathStyle::Posix;
#endif

// The image name with its last extension replaced by ".txt", or ".txt" appended
// when it has none. Only a full stop after the last path separator counts
// (on Windows also after the last colon).
std::string DescriptorNameFor(std::string_view imageFileName);
std::string DescriptorNameFor(std::string_view imageFileName, PathStyle style);

// The folder part of a full file name: everything before the last separator;
// a separator right after a drive colon or another separator is kept
// ("C:\scene.raw" gives "C:\", "/scene.raw" gives "/"). Empty when there is none.
std::string DirectoryPartOf(std::string_view fullFileName);
std::string DirectoryPartOf(std::string_view fullFileName, PathStyle style);

// Two integers from the start of the text, each after optional white space
// (blanks, tabs, LF or CR LF) and an optional sign; the rest is ignored.
// Fails unless both are there and neither is negative; also fails when
// lines * columns exceeds kMaxImagePixels.
Expected<ImageSize> ParseDescriptor(std::string_view text);
Expected<ImageSize> ReadDescriptorFile(const std::filesystem::path& fileName);

enum class DescriptorForm { TwoLines, FiveLines };
// "lines\r\ncolumns\r\n", and for FiveLines "1\r\n0\r\n255\r\n" after them.
std::string FormatDescriptor(ImageSize size, DescriptorForm form);
Status WriteDescriptorFile(const std::filesystem::path& fileName, ImageSize size, DescriptorForm form);

// Reads up to rows.PixelCount() bytes into rows, line 0 first. A short file
// leaves the rest as it was (0 in a new matrix); extra bytes are not read.
Status ReadRawPixels(const std::filesystem::path& fileName, ByteMatrix& rows);
Status ReadRawStream(std::istream& in, ByteMatrix& rows);

// Writes the matrix bytes, line 0 first, through a temporary file and a rename.
Status WriteRawFile(const std::filesystem::path& fileName, const ByteMatrix& rows);

// Size of the file in bytes, or -1 when it cannot be opened.
std::int64_t FileSizeOf(const std::filesystem::path& fileName);

}  // namespace kavel
