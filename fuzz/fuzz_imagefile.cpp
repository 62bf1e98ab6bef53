// The whole way of a file through the program: the input becomes a bitmap
// file, or a raw file with its descriptor, on disk; the image-file unit loads
// it with every check a real file gets; then the treatment, the histogram, the
// tone count and both writers run on it, each checked against a plain
// reference written out here pixel by pixel.
//
// Input: byte 0 picks the kind (even: bitmap, odd: raw) and for raw files
// byte 1 the descriptor length; bytes 2..25 are the six treatment parameters;
// the rest is the file (raw: descriptor text, then pixels).
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "fuzz_scratch.h"
#include "kavel/bitmap.h"
#include "kavel/imagefile.h"
#include "kavel/statistics.h"
#include "kavel/treatment.h"

namespace {

namespace fs = std::filesystem;

// Work of the reference checks stays small; the loads themselves are bounded
// by the input's length (bitmaps) or refused above this (raw sizes).
constexpr std::uint64_t kMaxCheckedPixels = std::uint64_t{1} << 20;

const fs::path& Folder() {
    return kavel::fuzz::ScratchFolder();
}

void Save(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Check(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

std::int32_t Int32At(const std::uint8_t* p) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return static_cast<std::int32_t>(v);
}

void CheckTreatment(const kavel::ByteMatrix& image, const kavel::TreatmentParameters& p) {
    auto result = kavel::AllocateByteMatrix(image.Columns(), image.Lines());
    Check(result.ok());
    Check(kavel::ComputeTreatment(image, p, *result).ok());
    const auto selected = [&](int i, int j) {
        const std::int32_t g = image[i][j];
        return p.MinThreshold <= g && g <= p.MaxThreshold;
    };
    const auto low = [](std::int32_t v) { return static_cast<std::uint8_t>(v & 0xFF); };
    for (int i = 0; image.Columns() != 0 && i < image.Lines(); ++i) {
        for (int j = 0; j < image.Columns(); ++j) {
            std::uint8_t expected = low(p.BackgroundTone);
            if (selected(i, j)) {
                const bool border =
                    (i > 0 && !selected(i - 1, j)) || (i + 1 < image.Lines() && !selected(i + 1, j)) ||
                    (j > 0 && !selected(i, j - 1)) || (j + 1 < image.Columns() && !selected(i, j + 1));
                switch (p.TreatmentType) {
                    case kavel::TreatmentKind::WholeItem:
                        expected = low(p.ItemTone);
                        break;
                    case kavel::TreatmentKind::Border:
                        expected = border ? low(p.BorderTone) : low(p.BackgroundTone);
                        break;
                    case kavel::TreatmentKind::ItemAndBorder:
                        expected = border ? low(p.BorderTone) : low(p.ItemTone);
                        break;
                    default:
                        break;
                }
            }
            Check((*result)[i][j] == expected);
        }
    }
}

void CheckStatistics(const kavel::ByteMatrix& image) {
    std::array<std::int64_t, 256> counts{};
    std::set<int> tones;
    for (int i = 0; image.Columns() != 0 && i < image.Lines(); ++i) {
        for (int j = 0; j < image.Columns(); ++j) {
            ++counts[image[i][j]];
            tones.insert(image[i][j]);
        }
    }
    const kavel::Histogram histogram = kavel::ComputeHistogram(image);
    for (std::size_t k = 0; k < 256; ++k) {
        Check(histogram[k] == counts[k]);
    }
    Check(kavel::CountDistinctTones(image) == static_cast<int>(tones.size()));
    Check(kavel::CountDistinctTones(histogram) == static_cast<int>(tones.size()));
}

void CheckWriters(const kavel::ByteMatrix& image) {
    const auto same = [&](const kavel::ByteMatrix& other) {
        Check(other.Lines() == image.Lines() && other.Columns() == image.Columns());
        Check(std::equal(other.Bytes().begin(), other.Bytes().end(), image.Bytes().begin()));
    };
    const fs::path bmp = Folder() / "out.bmp";
    Check(kavel::SaveBitmapImage(bmp, image).ok());
    Check(fs::file_size(bmp) == kavel::BitmapFileSize(image.Columns(), image.Lines(), 8));
    // A bitmap of no pixel rows holds only its header and palette.
    auto bitmap = kavel::LoadGrayBitmap(bmp);
    Check(bitmap.ok());
    if (image.Columns() != 0) {
        same(*bitmap);
    }

    const fs::path raw = Folder() / "out.raw";
    const fs::path txt = Folder() / "out.txt";
    Check(kavel::SaveRawImage(raw, txt, image).ok());
    auto size = kavel::ReadDescriptorFile(txt);
    Check(size.ok() && size->Lines == image.Lines() && size->Columns == image.Columns());
    auto back = kavel::LoadRawImage(raw, *size);
    Check(back.ok() && !back->Short());
    same(back->Pixels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 26) {
        return 0;
    }
    const bool raw = (data[0] & 1) != 0;
    const kavel::TreatmentParameters parameters{static_cast<kavel::TreatmentKind>(Int32At(data + 2) & 3),
                                                Int32At(data + 6),
                                                Int32At(data + 10),
                                                Int32At(data + 14),
                                                Int32At(data + 18),
                                                Int32At(data + 22)};
    const std::uint8_t* file = data + 26;
    const std::size_t fileSize = size - 26;

    kavel::Expected<kavel::ByteMatrix> image = kavel::Error{"not loaded"};
    if (raw) {
        const std::size_t split = std::min<std::size_t>(data[1], fileSize);
        const fs::path pixels = Folder() / "in.raw";
        Save(Folder() / "in.txt", file, split);
        Save(pixels, file + split, fileSize - split);
        const kavel::DescriptorLocation descriptor = kavel::FindDescriptor(pixels);
        Check(descriptor.Exists);
        auto described = kavel::ReadDescriptorFile(descriptor.Name);
        if (!described) {
            Check(!described.error().message.empty());
            return 0;
        }
        Check(described->Lines >= 0 && described->Columns >= 0);
        if (static_cast<std::uint64_t>(described->Lines) * static_cast<std::uint64_t>(described->Columns) >
            kMaxCheckedPixels) {
            return 0;
        }
        auto loaded = kavel::LoadRawImage(pixels, *described);
        Check(loaded.ok());
        Check(loaded->FileBytes == fileSize - split);
        // What the file holds is copied, the rest stays 0.
        const auto bytes = loaded->Pixels.Bytes();
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            Check(bytes[k] == (k < fileSize - split ? file[split + k] : 0));
        }
        image = std::move(loaded->Pixels);
    } else {
        const fs::path bitmap = Folder() / "in.bmp";
        Save(bitmap, file, fileSize);
        image = kavel::LoadGrayBitmap(bitmap);
        if (!image) {
            Check(!image.error().message.empty());
            return 0;
        }
        // Only what the file paid for was allocated.
        Check(image->PixelCount() <= fileSize);
    }
    if (image->PixelCount() > kMaxCheckedPixels) {
        return 0;
    }
    CheckTreatment(*image, parameters);
    CheckStatistics(*image);
    CheckWriters(*image);
    return 0;
}
