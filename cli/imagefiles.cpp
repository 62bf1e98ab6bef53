#include "imagefiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>

#include "importhelper.h"
#include "kavel/bitmap.h"
#include "kavel/safefile.h"

namespace kavel::cli {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return lower;
}

Expected<std::size_t> ReadStdin(std::span<std::uint8_t> into) {
    return ReadFully(STDIN_FILENO, into, "standard input");
}

// The rest of standard input, only counted.
Expected<std::uint64_t> DrainStdin() {
    std::array<std::uint8_t, 1 << 16> buffer{};
    std::uint64_t total = 0;
    for (;;) {
        auto got = ReadStdin(buffer);
        if (!got) {
            return got.error();
        }
        total += *got;
        if (*got < buffer.size()) {
            return total;
        }
    }
}

std::string NameOf(const ImageInput& input) {
    return input.Stdin ? std::string("standard input") : input.Name;
}

// A raw input of bytes bytes read with size: a line that names both when
// they differ, or the refusal with --strict.
Status CheckRawLength(const ImageInput& input, std::uint64_t bytes, ImageSize size, std::string& warnings) {
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(size.Lines) * static_cast<std::uint64_t>(size.Columns);
    if (bytes == pixels) {
        return {};
    }
    const std::string sizes =
        std::to_string(size.Lines) + " x " + std::to_string(size.Columns) + " = " + std::to_string(pixels);
    const std::string held = "holds " + std::to_string(bytes) + " bytes";
    if (input.Strict) {
        return Error{held + ", not the " + sizes + " of its size (--strict)"};
    }
    warnings += "kavel-cli: " + NameOf(input) + ": warning: " + held +
                (bytes < pixels ? ", fewer than the " + sizes + " of its size; the rest reads as 0\n"
                                : ", more than the " + sizes + " of its size; the rest is not read\n");
    return {};
}

// Raw bytes with --size, read straight into the image: nothing else is
// known of them, so their first bytes are asked what they are.
std::string StdinRawRefusal(std::span<const std::uint8_t> head, std::uint64_t bytes) {
    const std::string what = KnownFormatOf(head, bytes);
    if (what.empty()) {
        return {};
    }
    if (what.find("image") == std::string::npos && what != "a DICOM file" && what != "a Windows bitmap") {
        return "is " + what + ", not an image";
    }
    return "is " + what + ", not raw bytes: leave out --size to " +
           (what == "a Windows bitmap" ? "read it as one" : "convert it");
}

Expected<ByteMatrix> LoadSizedStdin(const ImageInput& input, std::string& warnings) {
    auto pixels = AllocateByteMatrix(input.Size->Columns, input.Size->Lines);
    if (!pixels) {
        return pixels.error();
    }
    auto got = ReadStdin(pixels->Bytes());
    if (!got) {
        return got.error();
    }
    // Bytes past the size are not pixels, but count for the length.
    auto rest = DrainStdin();
    if (!rest) {
        return rest.error();
    }
    const auto head = pixels->Bytes().first(std::min(*got, kSignatureBytes));
    if (const auto refusal = StdinRawRefusal(head, *got + *rest); !refusal.empty()) {
        return Error{refusal};
    }
    if (auto checked = CheckRawLength(input, *got + *rest, *input.Size, warnings); !checked) {
        return checked.error();
    }
    return std::move(*pixels);
}

// An input only the conversion reads, through kavel-import (fd: standard
// input held in memory); one line says what it was.
Expected<ByteMatrix> Convert(const ImageInput& input, const OpenPlan& plan, const HeldInput* held,
                             std::string& warnings) {
    if (input.Strict) {
        return plan.Refusal;
    }
    auto converted = ConvertWithHelper(held != nullptr ? fs::path() : fs::path(input.Name),
                                       held != nullptr ? held->RewoundFd() : -1);
    if (!converted) {
        return converted.error();
    }
    // A bitmap is named as the core knows it; another kind as the conversion found it.
    const bool bitmap = plan.What.find("bitmap") != std::string::npos;
    warnings +=
        "kavel-cli: " + NameOf(input) + ": " + (bitmap ? plan.What : converted->Description) + ", converted" +
        (converted->ColourConverted ? " to gray as its luminance (0.299 R + 0.587 G + 0.114 B)" : "") + "\n";
    return std::move(converted->Gray);
}

// The plan of an input, in the command line's words where it is refused.
Expected<OpenPlan> Resolve(const ImageInput& input, OpenPlan plan, std::string& warnings) {
    const auto noDescriptor = [&] {
        return Error{"no descriptor " + DescriptorNameFor(input.Name) +
                     "; give the size with --size LINESxCOLUMNS"};
    };
    switch (plan.Kind) {
        case OpenKind::Refused:
            if (plan.DescriptorRefused) {
                return Error{"descriptor " + plan.Descriptor.string() + ": " + plan.Refusal.message};
            }
            return plan.Refusal;
        case OpenKind::RawUnsized:
            return noDescriptor();
        case OpenKind::RawDescribed:
            // One that appeared while the run went on is not what it was started with.
            if (!input.Descriptor) {
                return noDescriptor();
            }
            [[fallthrough]];
        case OpenKind::RawSized:
            if (auto checked = CheckRawLength(input, plan.FileBytes, plan.Size, warnings); !checked) {
                return checked.error();
            }
            return plan;
        case OpenKind::GrayBitmap:
        case OpenKind::Convert:
            break;
    }
    return plan;
}

// The checks before a named input is planned, in the command line's short
// words: the name is already on the line.
Status CheckFileInput(const ImageInput& input) {
    const fs::path file = input.Name;
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return Error{errno == ENOENT ? std::string("no such file") : std::generic_category().message(errno)};
    }
    if (S_ISDIR(info.st_mode)) {
        return Error{"is a folder, not an image"};
    }
    if (const std::string kind = SpecialFileKind(file); !kind.empty()) {
        return Error{"is " + kind + ", not a regular file"};
    }
    return {};
}

Expected<OpenPlan> PlanNamed(const ImageInput& input, std::string& warnings) {
    if (auto checked = CheckFileInput(input); !checked) {
        return checked.error();
    }
    return Resolve(input, PlanOpen(input.Name, OpenAs::ByName, input.Size), warnings);
}

// Standard input without --size, held whole: a bitmap, or whatever the
// conversion reads.
Expected<ByteMatrix> LoadStdin(const ImageInput& input, std::string& warnings) {
    if (input.Size) {
        return LoadSizedStdin(input, warnings);
    }
    auto held = HeldInput::FromStdin();
    if (!held) {
        return held.error();
    }
    if (held->Bytes() == 0) {
        return Error{"is empty: give an image there, or raw bytes with --size LINESxCOLUMNS"};
    }
    auto plan = Resolve(input, PlanOpen(held->Path(), OpenAs::Content), warnings);
    if (!plan) {
        return plan.error();
    }
    if (plan->Kind == OpenKind::Convert) {
        auto converted = Convert(input, *plan, &*held, warnings);
        if (!converted && plan->What.empty() && !input.Strict) {
            // Bytes of no known kind may well be raw pixels.
            return Error{converted.error().message + "; raw bytes need --size LINESxCOLUMNS"};
        }
        return converted;
    }
    return LoadPlannedImage(*plan);
}

}  // namespace

ImageFormat InputFormatOf(const fs::path& file) {
    return FormatOfName(file.native()) == ImageFormat::Bitmap ? ImageFormat::Bitmap : ImageFormat::Raw;
}

ImageInput DescribeInput(const std::string& name, const std::optional<ImageSize>& size, bool strict) {
    ImageInput input;
    input.Name = name;
    input.Size = size;
    input.Strict = strict;
    if (name == kStandardStream) {
        input.Stdin = true;
        input.Kind = size ? ImageFormat::Raw : ImageFormat::Bitmap;
        return input;
    }
    input.Kind = InputFormatOf(name);
    if (input.Kind == ImageFormat::Raw && !size) {
        if (const DescriptorLocation descriptor = FindDescriptor(name); descriptor.Exists) {
            input.Descriptor = descriptor.Name;
        }
    }
    return input;
}

std::vector<fs::path> FilesReadFor(const ImageInput& input) {
    std::vector<fs::path> files;
    if (!input.Stdin) {
        files.emplace_back(input.Name);
    }
    if (input.Descriptor) {
        files.push_back(*input.Descriptor);
    }
    return files;
}

Expected<ByteMatrix> LoadImage(const ImageInput& input, std::string& warnings) {
    if (input.Stdin) {
        return LoadStdin(input, warnings);
    }
    auto plan = PlanNamed(input, warnings);
    if (!plan) {
        return plan.error();
    }
    if (plan->Kind == OpenKind::Convert) {
        return Convert(input, *plan, nullptr, warnings);
    }
    return LoadPlannedImage(*plan);
}

Expected<OpenedInput> OpenInput(const ImageInput& input, std::string& warnings) {
    if (input.Stdin) {
        auto whole = LoadStdin(input, warnings);
        if (!whole) {
            return whole.error();
        }
        return OpenedInput{std::nullopt, std::move(*whole)};
    }
    auto plan = PlanNamed(input, warnings);
    if (!plan) {
        return plan.error();
    }
    if (plan->Kind == OpenKind::Convert) {
        auto whole = Convert(input, *plan, nullptr, warnings);
        if (!whole) {
            return whole.error();
        }
        return OpenedInput{std::nullopt, std::move(*whole)};
    }
    auto lines = OpenPlannedLines(*plan);
    if (!lines) {
        return lines.error();
    }
    return OpenedInput{std::move(*lines), {}};
}

std::vector<fs::path> FilesWrittenFor(const fs::path& file, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return {file};
    }
    return {file, fs::path(DescriptorNameFor(file.string()))};
}

Status SaveImage(const fs::path& file, const ByteMatrix& image, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return SaveBitmapImage(file, image);
    }
    return SaveRawImage(file, fs::path(DescriptorNameFor(file.string())), image);
}

Status SaveImageLines(const fs::path& file, LineProducer& lines, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        return SaveBitmapLines(file, lines);
    }
    return SaveRawLines(file, fs::path(DescriptorNameFor(file.string())), lines);
}

Status WriteImageToStdout(const ByteMatrix& image, ImageFormat format) {
    if (format == ImageFormat::Bitmap) {
        if (auto written = WriteBitmapStream(std::cout, image); !written) {
            return written;
        }
    } else {
        const auto bytes = image.Bytes();
        std::cout.write(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()));
    }
    if (!std::cout.flush()) {
        return Error{"cannot write the result to standard output"};
    }
    return {};
}

Status WriteLinesToStdout(LineProducer& lines, ImageFormat format) {
    const ImageSize size = lines.Size();
    const auto rowBytes = static_cast<std::size_t>(size.Columns);
    std::size_t padding = 0;
    if (format == ImageFormat::Bitmap) {
        if (auto header = WriteBitmapHeaderStream(std::cout, size.Columns, size.Lines); !header) {
            return header;
        }
        padding = static_cast<std::size_t>(BitmapStride(size.Columns, 1)) - rowBytes;
    }
    const std::array<char, 4> zeros{};
    const auto order = format == ImageFormat::Bitmap ? LineOrder::BottomFirst : LineOrder::TopFirst;
    auto produced = lines.Produce(order, [&](int count, std::span<const std::uint8_t> rows) {
        if (padding == 0) {
            std::cout.write(reinterpret_cast<const char*>(rows.data()),
                            static_cast<std::streamsize>(rows.size()));
        } else {
            for (int line = 0; line < count; ++line) {
                std::cout.write(
                    reinterpret_cast<const char*>(rows.data()) + static_cast<std::size_t>(line) * rowBytes,
                    static_cast<std::streamsize>(rowBytes));
                std::cout.write(zeros.data(), static_cast<std::streamsize>(padding));
            }
        }
        return static_cast<bool>(std::cout);
    });
    if (!produced) {
        return produced;
    }
    if (!std::cout.flush()) {
        return Error{"cannot write the result to standard output"};
    }
    return {};
}

namespace {

// The names in folder of stem that could have a descriptor. The folder is
// read once, so that a run of many descriptors among many images does not
// read it again for each.
std::vector<fs::path> NamesOfStem(const fs::path& folder, const std::string& stem) {
    static std::mutex mutex;
    static std::map<fs::path, std::map<std::string, std::vector<fs::path>>> folders;
    const std::lock_guard lock(mutex);
    const auto [entry, added] = folders.try_emplace(folder);
    if (added) {
        std::error_code ec;
        for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            const fs::path name = it->path().filename();
            const std::string extension = Lower(name.extension().string());
            // A descriptor replaces the image's last extension; bitmaps have none.
            if (extension != ".txt" && extension != ".bmp") {
                entry->second[name.stem().string()].push_back(name);
            }
        }
    }
    const auto names = entry->second.find(stem);
    return names == entry->second.end() ? std::vector<fs::path>{} : names->second;
}

}  // namespace

std::optional<std::string> DescribedImageOf(const std::string& input) {
    if (input == kStandardStream) {
        return std::nullopt;
    }
    const fs::path path(input);
    if (Lower(path.extension().string()) != ".txt") {
        return std::nullopt;
    }
    const std::string stem = path.stem().string();
    const fs::path folder = path.parent_path();
    std::vector<fs::path> candidates = NamesOfStem(folder, stem);
    // .raw first, then by name, so that the answer does not depend on the
    // order of the folder.
    std::sort(candidates.begin(), candidates.end(), [](const fs::path& a, const fs::path& b) {
        const bool rawA = Lower(a.extension().string()) == ".raw";
        const bool rawB = Lower(b.extension().string()) == ".raw";
        return rawA != rawB ? rawA : a < b;
    });
    for (const fs::path& name : candidates) {
        const fs::path image = folder / name;
        std::error_code statError;
        if (!fs::is_regular_file(image, statError)) {
            continue;
        }
        const DescriptorLocation descriptor = FindDescriptor(image);
        if (descriptor.Exists && SameFile(descriptor.Name, path) && !SameFile(image, path)) {
            return image.string();
        }
    }
    return std::nullopt;
}

bool IsTextDocument(const std::string& input) {
    if (input == kStandardStream) {
        return false;
    }
    static constexpr std::array kTextEndings{".md",   ".markdown", ".rst",  ".txt", ".csv", ".tsv",
                                             ".json", ".xml",      ".html", ".htm", ".log", ".xls"};
    const std::string extension = Lower(fs::path(input).extension().string());
    if (std::find(kTextEndings.begin(), kTextEndings.end(), extension) == kTextEndings.end()) {
        return false;
    }
    std::error_code ec;
    if (!fs::is_regular_file(input, ec)) {
        return false;
    }
    std::array<char, 4096> head{};
    std::ifstream in(input, std::ios::binary);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    const auto got = static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0));
    return std::all_of(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(got), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f';
    });
}

}  // namespace kavel::cli
