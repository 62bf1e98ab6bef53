#include "kavel/convert.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "formats.h"
#include "kavel/bitmap.h"
#include "kavel/imagefile.h"

namespace kavel {

namespace {

// Qt's decoders explain a refusal through qWarning rather than through the
// reader's error; those lines are caught here and put into the message.
class CaughtWarnings {
public:
    CaughtWarnings() : previous_(qInstallMessageHandler(&CaughtWarnings::Catch)) { Text().clear(); }
    ~CaughtWarnings() { qInstallMessageHandler(previous_); }
    CaughtWarnings(const CaughtWarnings&) = delete;
    CaughtWarnings& operator=(const CaughtWarnings&) = delete;

    static std::string& Text() {
        static std::string text;
        return text;
    }

private:
    static void Catch(QtMsgType, const QMessageLogContext&, const QString& message) {
        std::string& text = Text();
        if (text.size() < 400) {
            text += (text.empty() ? "" : "; ") + message.toStdString();
        }
    }

    QtMessageHandler previous_;
};

std::span<const std::uint8_t> Bytes(const QByteArray& b) {
    return {reinterpret_cast<const std::uint8_t*>(b.constData()), static_cast<std::size_t>(b.size())};
}

// A bitmap's header in words, so that a refusal says which kind of BMP it was
// ("4-bit BMP (40-byte header, 16-colour palette, RLE4), 30 x 20").
std::string DescribeBitmapHeader(const QByteArray& head) {
    // The fields a cut header still has are described; the missing ones read as 0.
    QByteArray padded = head;
    padded.append(QByteArray(std::max<qsizetype>(0, 14 + 124 + 16 - head.size()), '\0'));
    const auto parsed = ParseBitmapHeader(Bytes(padded));
    if (head.size() < 18) {
        return "BMP (file ends inside the header)";
    }
    if (!parsed) {
        return "BMP (" + parsed.error().message + ")";
    }
    const BitmapHeader& h = *parsed;
    const std::string header = std::to_string(h.InfoHeaderSize) + "-byte header";
    const bool cut = static_cast<std::uint64_t>(head.size()) < 14 + std::uint64_t{h.InfoHeaderSize};
    if (head.size() < (h.InfoHeaderSize == 12 ? 26 : 30)) {
        return "BMP (" + header + ", file ends inside it)";
    }
    std::string text =
        std::to_string(h.BitsPerPixel) + "-bit BMP (" + header + (cut ? ", file ends inside it" : "");
    if (h.ColoursUsed != 0) {
        text += ", " + std::to_string(h.ColoursUsed) + "-colour palette";
    }
    static constexpr std::array<const char*, 7> kCompression{
        "", "RLE8", "RLE4", "bit fields", "embedded JPEG", "embedded PNG", "alpha bit fields"};
    if (h.Compression != 0) {
        text += ", ";
        text += h.Compression < kCompression.size() ? kCompression[h.Compression]
                                                    : "compression " + std::to_string(h.Compression);
    }
    text += ", pixels at offset " + std::to_string(h.PixelOffset) + "), ";
    text += std::to_string(h.Width) + " x " + std::to_string(h.Height);
    return text;
}

std::string DescribeFile(QIODevice& device, const QByteArray& format) {
    const QByteArray head = device.peek(14 + 124 + 16);
    if (head.startsWith("BM")) {
        return DescribeBitmapHeader(head);
    }
    if (head.isEmpty()) {
        return "empty file";
    }
    if (format.isEmpty()) {
        return "not an image";
    }
    return format.toUpper().toStdString() + " image";
}

// The formats this machine's Qt decodes: plugins are found at run time, so a
// missing one shows here.
std::string KnownFormats() {
    std::string list;
    for (const QByteArray& name : QImageReader::supportedImageFormats()) {
        list += (list.empty() ? "" : ", ") + name.toStdString();
    }
    return list;
}

inline std::uint8_t Luminance(std::uint32_t r, std::uint32_t g, std::uint32_t b) noexcept {
    return static_cast<std::uint8_t>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
}

inline std::uint32_t To8Bits(std::uint32_t v16) noexcept {
    return (v16 * 255 + 32767) / 65535;
}

std::string DepthWords(const QImage& image) {
    switch (image.format()) {
        case QImage::Format_Grayscale8:
            return "8-bit gray";
        case QImage::Format_Grayscale16:
            return "16-bit gray";
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
        case QImage::Format_Indexed8:
            return std::to_string(image.colorCount()) + "-colour palette";
        default:
            break;
    }
    return std::to_string(image.depth()) + "-bit colour";
}

// Qt gives a null image when a conversion cannot get its memory.
Expected<QImage> Converted(const QImage& image, QImage::Format format) {
    if (image.format() == format) {
        return image;
    }
    QImage converted = image.convertToFormat(format);
    if (converted.isNull()) {
        return Error{"not enough memory to convert the decoded image"};
    }
    return converted;
}

// Palette images: a gray entry's luminance is its tone, so one table serves both kinds.
Expected<bool> IndexedToGray(const QImage& decoded, ByteMatrix& gray) {
    const auto converted = Converted(decoded, QImage::Format_Indexed8);
    if (!converted) {
        return converted.error();
    }
    const QImage& indexed = *converted;
    std::array<std::uint8_t, 256> tone{};
    bool colour = false;
    const auto table = indexed.colorTable();
    for (qsizetype i = 0; i < std::min<qsizetype>(table.size(), 256); ++i) {
        const QRgb c = table[i];
        tone[static_cast<std::size_t>(i)] = Luminance(qRed(c), qGreen(c), qBlue(c));
        colour = colour || qRed(c) != qGreen(c) || qGreen(c) != qBlue(c);
    }
    const auto columns = static_cast<std::size_t>(gray.Columns());
    for (int y = 0; y < gray.Lines(); ++y) {
        const uchar* in = indexed.constScanLine(y);
        std::uint8_t* out = gray[y];
        for (std::size_t x = 0; x < columns; ++x) {
            out[x] = tone[in[x]];
        }
    }
    return colour;
}

// Colour: deeper than 8 bits a channel through 16-bit RGBA, each channel
// scaled to 8 bits before the luminance; else through 8-bit RGBA.
// Premultiplied forms are undone by Qt so that colour is taken as stored.
Expected<bool> ColourToGray(const QImage& decoded, ByteMatrix& gray) {
    const bool deep = decoded.pixelFormat().redSize() > 8 ||
                      decoded.pixelFormat().typeInterpretation() == QPixelFormat::FloatingPoint;
    const auto converted = Converted(decoded, deep ? QImage::Format_RGBA64 : QImage::Format_RGBA8888);
    if (!converted) {
        return converted.error();
    }
    const QImage& rgba = *converted;
    const auto columns = static_cast<std::size_t>(gray.Columns());
    std::uint32_t differs = 0;
    for (int y = 0; y < gray.Lines(); ++y) {
        std::uint8_t* out = gray[y];
        const auto* in8 = rgba.constScanLine(y);
        const auto* in16 = reinterpret_cast<const quint16*>(in8);
        for (std::size_t x = 0; x < columns; ++x) {
            const std::uint32_t r = deep ? To8Bits(in16[4 * x]) : in8[4 * x];
            const std::uint32_t g = deep ? To8Bits(in16[4 * x + 1]) : in8[4 * x + 1];
            const std::uint32_t b = deep ? To8Bits(in16[4 * x + 2]) : in8[4 * x + 2];
            differs |= (r ^ g) | (g ^ b);
            out[x] = Luminance(r, g, b);
        }
    }
    return differs != 0;
}

// Fills gray from image; gives true when some pixel or palette entry had colour.
Expected<bool> ConvertToGray(const QImage& decoded, ByteMatrix& gray) {
    const auto columns = static_cast<std::size_t>(gray.Columns());
    switch (decoded.format()) {
        case QImage::Format_Grayscale8:
            for (int y = 0; y < gray.Lines(); ++y) {
                std::memcpy(gray[y], decoded.constScanLine(y), columns);
            }
            return false;
        case QImage::Format_Grayscale16:
            for (int y = 0; y < gray.Lines(); ++y) {
                const auto* in = reinterpret_cast<const quint16*>(decoded.constScanLine(y));
                std::uint8_t* out = gray[y];
                for (std::size_t x = 0; x < columns; ++x) {
                    out[x] = static_cast<std::uint8_t>(To8Bits(in[x]));
                }
            }
            return false;
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
        case QImage::Format_Indexed8:
            return IndexedToGray(decoded, gray);
        default:
            return ColourToGray(decoded, gray);
    }
}

std::string PixelCountProblem(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height) + " pixels is too large (at most " +
           std::to_string(kMaxImagePixels) + " pixels)";
}

void Put16(QByteArray& b, std::uint32_t v) {
    b.append(static_cast<char>(v & 0xFF));
    b.append(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(QByteArray& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// One channel of a packed pixel scaled onto 0..255 by the rule of every
// depth: v8 = (v * 255 + max / 2) / max, max the channel's largest value.
struct Channel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    std::uint32_t Max = 0;

    explicit Channel(std::uint32_t mask) : Mask(mask) {
        if (mask != 0) {
            while (((mask >> Shift) & 1) == 0) {
                ++Shift;
            }
            Max = mask >> Shift;
        }
    }
    std::uint8_t Scale(std::uint32_t pixel) const noexcept {
        if (Max == 0) {
            return 0;
        }
        const std::uint64_t v = (pixel & Mask) >> Shift;
        return static_cast<std::uint8_t>(std::min<std::uint64_t>(255, (v * 255 + Max / 2) / Max));
    }
};

// Qt widens 5-bit channels by a shift (31 gives 248, so white comes out gray);
// 16-bit bitmaps are therefore widened here, by the rounding rule above, into
// a 24-bit bitmap of the same rows. The rows were checked to be in the file.
QByteArray WidenedSixteenBits(const QByteArray& file, const BitmapHeader& header) {
    const std::array<std::uint32_t, 4>& masks = header.Masks;
    const std::int64_t width = header.Width;
    const std::int64_t height = header.Height;
    const std::uint32_t offset = header.PixelOffset;
    const Channel red(masks[0]);
    const Channel green(masks[1]);
    const Channel blue(masks[2]);
    const std::int64_t lines = height < 0 ? -height : height;
    const auto inStride = static_cast<std::size_t>((width * 16 + 31) / 32 * 4);
    const auto outStride = static_cast<std::size_t>((width * 24 + 31) / 32 * 4);
    const auto pixelBytes = static_cast<std::uint32_t>(outStride * static_cast<std::size_t>(lines));
    QByteArray out;
    out.append("BM");
    Put32(out, 54 + pixelBytes);
    Put32(out, 0);
    Put32(out, 54);
    for (const std::uint32_t v :
         {40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)}) {
        Put32(out, v);
    }
    Put16(out, 1);
    Put16(out, 24);
    for (const std::uint32_t v : {0u, pixelBytes, 2835u, 2835u, 0u, 0u}) {
        Put32(out, v);
    }
    out.append(QByteArray(static_cast<qsizetype>(pixelBytes), '\0'));
    const auto* in = reinterpret_cast<const unsigned char*>(file.constData()) + offset;
    auto* rows = reinterpret_cast<unsigned char*>(out.data()) + 54;
    const auto columns = static_cast<std::size_t>(width);
    for (std::int64_t line = 0; line < lines; ++line) {
        const unsigned char* source = in + static_cast<std::size_t>(line) * inStride;
        unsigned char* target = rows + static_cast<std::size_t>(line) * outStride;
        for (std::size_t x = 0; x < columns; ++x) {
            const std::uint32_t pixel = source[2 * x] | (std::uint32_t{source[2 * x + 1]} << 8);
            target[3 * x] = blue.Scale(pixel);
            target[3 * x + 1] = green.Scale(pixel);
            target[3 * x + 2] = red.Scale(pixel);
        }
    }
    return out;
}

// Qt's BMP reader takes the 12-, 40-, 108- and 124-byte headers but not the
// 16-, 52-, 56- and 64-byte ones; it reads a short palette on into the pixels,
// and decodes a truncated file with its missing rows black. So a bitmap is
// checked here, from its header alone, and rewritten with a 40-byte header (a
// 108-byte one where bit masks are needed) and a palette of exactly the
// entries it has; Qt then decodes the rewritten copy.
Expected<QByteArray> CanonicalBitmap(const QByteArray& file) {
    const auto length = static_cast<std::uint64_t>(file.size());
    const auto parsed = ParseBitmapHeader(Bytes(file));
    if (!parsed) {
        return parsed.error();
    }
    BitmapHeader h = *parsed;
    if (const auto problem = BitmapConversionProblem(h, length)) {
        return *problem;
    }
    if (h.BitsPerPixel == 16) {
        if (!h.BitFields()) {
            h.Masks = {0x7C00, 0x03E0, 0x001F, 0};  // 5-5-5, the only layout without masks
        }
        return WidenedSixteenBits(file, h);
    }

    const std::uint32_t offset = h.PixelOffset;
    const bool keepHeader = h.InfoHeaderSize == 108 || h.InfoHeaderSize == 124;
    const std::uint32_t newHeaderSize = keepHeader ? h.InfoHeaderSize : (h.BitFields() ? 108 : 40);
    const auto newOffset = static_cast<std::uint32_t>(14 + newHeaderSize + h.PaletteEntries * 4);
    QByteArray out;
    out.reserve(static_cast<qsizetype>(newOffset) + static_cast<qsizetype>(length - offset));
    out.append("BM");
    Put32(out, static_cast<std::uint32_t>(newOffset + (length - offset)));
    Put32(out, 0);
    Put32(out, newOffset);
    if (keepHeader) {
        out.append(file.mid(14, h.InfoHeaderSize));
        if (h.BitsPerPixel <= 8) {
            QByteArray used;
            Put32(used, static_cast<std::uint32_t>(h.PaletteEntries));
            out.replace(14 + 32, 4, used);
        }
    } else {
        for (const std::uint32_t v :
             {newHeaderSize, static_cast<std::uint32_t>(h.Width), static_cast<std::uint32_t>(h.Height)}) {
            Put32(out, v);
        }
        Put16(out, 1);
        Put16(out, h.BitsPerPixel);
        // Compression, image size, 72 dots per inch both ways, colours, important colours.
        for (const std::uint32_t v :
             {h.BitFields() ? 3u : h.Compression, static_cast<std::uint32_t>(length - offset), 2835u, 2835u,
              static_cast<std::uint32_t>(h.PaletteEntries), 0u}) {
            Put32(out, v);
        }
        if (h.BitFields()) {
            for (const std::uint32_t mask : h.Masks) {
                Put32(out, mask);
            }
            out.append(QByteArray(108 - 56, '\0'));  // colour space and gammas: none given
        }
    }
    for (std::uint64_t i = 0; i < h.PaletteEntries; ++i) {
        out.append(file.mid(static_cast<qsizetype>(h.PaletteStart + i * h.PaletteEntryBytes), 3));
        out.append('\0');
    }
    out.append(file.mid(static_cast<qsizetype>(offset)));
    return out;
}

// The size the header announces, checked before anything is decoded.
std::optional<std::string> AnnouncedSizeProblem(QImageReader& reader, int limitMegabytes) {
    const QSize announced = reader.size();
    if (!announced.isValid()) {
        return std::nullopt;
    }
    const auto pixels =
        static_cast<std::uint64_t>(announced.width()) * static_cast<std::uint64_t>(announced.height());
    if (pixels > kMaxImagePixels) {
        return PixelCountProblem(announced.width(), announced.height());
    }
    const QImage::Format decodedAs = reader.imageFormat();
    const std::uint64_t bitsPerPixel =
        decodedAs == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(decodedAs).bitsPerPixel();
    const std::uint64_t megabytes = (pixels * bitsPerPixel / 8 + (1u << 20) - 1) >> 20;
    if (megabytes > static_cast<std::uint64_t>(limitMegabytes)) {
        return "decoding " + std::to_string(announced.width()) + " x " + std::to_string(announced.height()) +
               " pixels needs " + std::to_string(megabytes) + " MB, more than the " +
               std::to_string(limitMegabytes) + " MB allowed";
    }
    return std::nullopt;
}

std::string FileTooLarge(QIODevice& device, int limitMegabytes) {
    return "a file of " + std::to_string(device.size()) + " bytes is more than the " +
           std::to_string(limitMegabytes) + " MB allowed";
}

Expected<ConvertedImage> DecodedToGray(const QImage& decoded) {
    if (static_cast<std::uint64_t>(decoded.width()) * static_cast<std::uint64_t>(decoded.height()) >
        kMaxImagePixels) {
        return Error{PixelCountProblem(decoded.width(), decoded.height())};
    }
    auto gray = AllocateByteMatrix(decoded.width(), decoded.height());
    if (!gray) {
        return gray.error();
    }
    const auto colour = ConvertToGray(decoded, *gray);
    if (!colour) {
        return colour.error();
    }
    return ConvertedImage{std::move(*gray), {}, *colour};
}

std::string DeepPgmWords(const detail::DeepPgmHeader& header) {
    int bits = 0;
    while ((std::uint64_t{1} << bits) <= header.MaxValue) {
        ++bits;
    }
    return "PGM, " + std::to_string(bits) + "-bit gray, " + std::to_string(header.Width) + " x " +
           std::to_string(header.Height);
}

// What a refusal adds after its reason: Qt's warnings and whatever a library
// wrote to standard error meanwhile.
std::string CaughtText(const detail::HeldStandardError& held) {
    std::string caught = CaughtWarnings::Text();
    const std::string printed = held.Text();
    if (!printed.empty()) {
        caught += (caught.empty() ? "" : "; ") + printed;
    }
    return caught.empty() ? caught : " (" + caught + ")";
}

}  // namespace

Expected<ConvertedImage> DecodeImage(QIODevice& device, int limitMegabytes) {
    // One bound for every decoder, instead of Qt's default of 256 MB: large
    // images decode, absurd ones are refused before their buffer is made.
    QImageReader::setAllocationLimit(limitMegabytes);
    const CaughtWarnings warnings;
    const detail::HeldStandardError held;

    std::string what = DescribeFile(device, {});
    const auto refusal = [&](const std::string& reason) {
        return Error{what + ": " + reason + CaughtText(held)};
    };
    const bool tooLarge = device.size() > std::int64_t{limitMegabytes} << 20;

    // Qt cuts deep PGM values to 8 bits; they are rounded here instead.
    if (const auto pgm = detail::DeepPgmHeaderOf(Bytes(device.peek(1024)))) {
        what = "PGM image";
        if (tooLarge) {
            return refusal(FileTooLarge(device, limitMegabytes));
        }
        auto gray = detail::DecodeDeepPgm(Bytes(device.readAll()), *pgm);
        if (!gray) {
            return refusal(gray.error().message);
        }
        return ConvertedImage{std::move(*gray), DeepPgmWords(*pgm), false};
    }
    // libtiff cannot give floating-point samples to Qt, and says so on stderr.
    if (const auto tiff = detail::TiffSamplesOf(device); tiff && tiff->FloatingPoint) {
        what = "TIFF image";
        return refusal(std::to_string(tiff->Bits) + "-bit floating-point samples, which cannot be imported");
    }

    // A bitmap is checked and rewritten first (see CanonicalBitmap), in
    // memory: a BMP holds its pixels raw or run-length coded, so the copy
    // costs about what the decoded image does, and it is bounded the same way.
    QByteArray canonical;
    QBuffer canonicalDevice(&canonical);
    QIODevice* source = &device;
    if (device.peek(2) == "BM") {
        if (tooLarge) {
            return refusal(FileTooLarge(device, limitMegabytes));
        }
        auto rewritten = CanonicalBitmap(device.readAll());
        if (!rewritten) {
            return refusal(rewritten.error().message);
        }
        canonical = std::move(*rewritten);
        canonicalDevice.open(QIODevice::ReadOnly);
        source = &canonicalDevice;
    }

    QImageReader reader(source);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);  // pixels as stored, whatever a tag says
    const QByteArray format = reader.format();
    if (format.isEmpty()) {
        return refusal("its content is none of the formats Qt reads here (" + KnownFormats() + ")");
    }
    if (source == &device) {
        what = DescribeFile(device, format);
    }
    // A drawing has no pixels of its own, and Qt cannot render its text
    // without a GUI application (it aborts the process instead).
    if (format == "svg" || format == "svgz") {
        return refusal("a vector drawing, not a raster image; export it as PNG first");
    }
    if (const auto problem = AnnouncedSizeProblem(reader, limitMegabytes)) {
        return refusal(*problem);
    }
    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull()) {
        return refusal("cannot be decoded: " + reader.errorString().toStdString());
    }
    what = format.toUpper().toStdString() + ", " + DepthWords(decoded) + ", " +
           std::to_string(decoded.width()) + " x " + std::to_string(decoded.height());
    auto gray = DecodedToGray(decoded);
    if (!gray) {
        return refusal(gray.error().message);
    }
    gray->Description = std::move(what);
    return gray;
}

Expected<ConvertedImage> DecodeImage(std::span<const std::uint8_t> bytes, int limitMegabytes) {
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    return DecodeImage(buffer, limitMegabytes);
}

Expected<ConvertedImage> ConvertImageFile(const std::filesystem::path& file, int limitMegabytes) {
    // A pipe or a device could block the read forever or never end.
    if (auto usable = CheckImageFile(file); !usable) {
        return usable.error();
    }
    QFile input(QString::fromStdString(file.string()));
    if (!input.open(QIODevice::ReadOnly)) {
        return Error{file.string() + " cannot be opened: " + input.errorString().toStdString()};
    }
    return DecodeImage(input, limitMegabytes);
}

std::string ColourNote() {
    return "colour converted to gray as its luminance (0.299 R + 0.587 G + 0.114 B)";
}

}  // namespace kavel
