#include "import.h"

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
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "commands.h"
#include "imagefiles.h"

namespace kavel::cli {

namespace fs = std::filesystem;

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

std::uint32_t Le16(const QByteArray& b, int at) {
    return std::uint32_t{static_cast<unsigned char>(b[at])} |
           (std::uint32_t{static_cast<unsigned char>(b[at + 1])} << 8);
}
std::uint32_t Le32(const QByteArray& b, int at) {
    return Le16(b, at) | (Le16(b, at + 2) << 16);
}

// A bitmap's header in words, so that a refusal says which kind of BMP it was
// ("4-bit BMP (40-byte header, 16-colour palette, RLE4), 30 x 20").
std::string DescribeBitmapHeader(const QByteArray& head) {
    if (head.size() < 18) {
        return "BMP (file ends inside the header)";
    }
    const std::uint32_t headerSize = Le32(head, 14);
    const std::string header = std::to_string(headerSize) + "-byte header";
    if (headerSize < 12 || head.size() < 14 + 12) {
        return "BMP (" + header + ")";
    }
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t bits = 0;
    std::uint32_t compression = 0;
    std::uint32_t colours = 0;
    if (headerSize == 12) {
        width = Le16(head, 18);
        height = Le16(head, 20);
        bits = Le16(head, 24);
    } else {
        if (head.size() < 14 + 16) {
            return "BMP (" + header + ", file ends inside it)";
        }
        width = static_cast<std::int32_t>(Le32(head, 18));
        height = static_cast<std::int32_t>(Le32(head, 22));
        bits = Le16(head, 28);
        if (headerSize >= 20 && head.size() >= 34) {
            compression = Le32(head, 30);
        }
        if (headerSize >= 36 && head.size() >= 50) {
            colours = Le32(head, 46);
        }
    }
    std::string text = std::to_string(bits) + "-bit BMP (" + header;
    if (colours != 0) {
        text += ", " + std::to_string(colours) + "-colour palette";
    }
    static constexpr std::array<const char*, 7> kCompression{
        "", "RLE8", "RLE4", "bit fields", "embedded JPEG", "embedded PNG", "alpha bit fields"};
    if (compression != 0) {
        text += ", ";
        text += compression < kCompression.size() ? kCompression[compression]
                                                  : "compression " + std::to_string(compression);
    }
    text += ", pixels at offset " + std::to_string(Le32(head, 10)) + "), ";
    text += std::to_string(width) + " x " + std::to_string(height);
    return text;
}

std::string DescribeFile(QIODevice& device, const QByteArray& format) {
    const QByteArray head = device.peek(64);
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

// Fills gray from image; gives true when some pixel or palette entry had colour.
Expected<bool> ConvertToGray(const QImage& decoded, ByteMatrix& gray) {
    const int lines = gray.Lines();
    const auto columns = static_cast<std::size_t>(gray.Columns());
    switch (decoded.format()) {
        case QImage::Format_Grayscale8:
            for (int y = 0; y < lines; ++y) {
                std::memcpy(gray[y], decoded.constScanLine(y), columns);
            }
            return false;
        case QImage::Format_Grayscale16:
            for (int y = 0; y < lines; ++y) {
                const auto* in = reinterpret_cast<const quint16*>(decoded.constScanLine(y));
                std::uint8_t* out = gray[y];
                for (std::size_t x = 0; x < columns; ++x) {
                    out[x] = static_cast<std::uint8_t>(To8Bits(in[x]));
                }
            }
            return false;
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
        case QImage::Format_Indexed8: {
            const auto converted = Converted(decoded, QImage::Format_Indexed8);
            if (!converted) {
                return converted.error();
            }
            const QImage& indexed = *converted;
            // A gray entry's luminance is its tone, so one table serves both kinds.
            std::array<std::uint8_t, 256> tone{};
            bool colour = false;
            const auto table = indexed.colorTable();
            for (qsizetype i = 0; i < std::min<qsizetype>(table.size(), 256); ++i) {
                const QRgb c = table[i];
                tone[static_cast<std::size_t>(i)] = Luminance(qRed(c), qGreen(c), qBlue(c));
                colour = colour || qRed(c) != qGreen(c) || qGreen(c) != qBlue(c);
            }
            for (int y = 0; y < lines; ++y) {
                const uchar* in = indexed.constScanLine(y);
                std::uint8_t* out = gray[y];
                for (std::size_t x = 0; x < columns; ++x) {
                    out[x] = tone[in[x]];
                }
            }
            return colour;
        }
        default:
            break;
    }

    // Deeper than 8 bits a channel: through 16-bit RGBA, each channel scaled
    // to 8 bits before the luminance. Premultiplied forms are undone by Qt so
    // that colour is taken as stored.
    if (decoded.pixelFormat().redSize() > 8 ||
        decoded.pixelFormat().typeInterpretation() == QPixelFormat::FloatingPoint) {
        const auto converted = Converted(decoded, QImage::Format_RGBA64);
        if (!converted) {
            return converted.error();
        }
        const QImage& deep = *converted;
        std::uint32_t differs = 0;
        for (int y = 0; y < lines; ++y) {
            const auto* in = reinterpret_cast<const quint16*>(deep.constScanLine(y));
            std::uint8_t* out = gray[y];
            for (std::size_t x = 0; x < columns; ++x) {
                const std::uint32_t r = To8Bits(in[4 * x]);
                const std::uint32_t g = To8Bits(in[4 * x + 1]);
                const std::uint32_t b = To8Bits(in[4 * x + 2]);
                differs |= (r ^ g) | (g ^ b);
                out[x] = Luminance(r, g, b);
            }
        }
        return differs != 0;
    }

    const auto converted = Converted(decoded, QImage::Format_RGBA8888);
    if (!converted) {
        return converted.error();
    }
    const QImage& rgba = *converted;
    std::uint32_t differs = 0;
    for (int y = 0; y < lines; ++y) {
        const uchar* in = rgba.constScanLine(y);
        std::uint8_t* out = gray[y];
        for (std::size_t x = 0; x < columns; ++x) {
            const std::uint32_t r = in[4 * x];
            const std::uint32_t g = in[4 * x + 1];
            const std::uint32_t b = in[4 * x + 2];
            differs |= (r ^ g) | (g ^ b);
            out[x] = Luminance(r, g, b);
        }
    }
    return differs != 0;
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
QByteArray WidenedSixteenBits(const QByteArray& file, std::uint32_t offset, std::int64_t width,
                              std::int64_t height, const std::array<std::uint32_t, 4>& masks) {
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
    const auto fail = [](std::string reason) { return Error{std::move(reason)}; };
    if (length < 18) {
        return fail("file ends inside the header");
    }
    const std::uint32_t headerSize = Le32(file, 14);
    if (headerSize != 12 && headerSize != 16 && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
        headerSize != 64 && headerSize != 108 && headerSize != 124) {
        return fail("a header of " + std::to_string(headerSize) + " bytes, which no BMP version has");
    }
    if (length < 14 + std::uint64_t{headerSize}) {
        return fail("file ends inside the header");
    }
    const std::uint32_t offset = Le32(file, 10);
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t bits = 0;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    if (headerSize == 12) {
        width = Le16(file, 18);
        height = Le16(file, 20);
        bits = Le16(file, 24);
    } else {
        width = static_cast<std::int32_t>(Le32(file, 18));
        height = static_cast<std::int32_t>(Le32(file, 22));
        bits = Le16(file, 28);
        compression = headerSize >= 20 ? Le32(file, 30) : 0;
        coloursUsed = headerSize >= 40 ? Le32(file, 46) : 0;
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return fail(std::to_string(bits) + " bits per pixel, which BMP does not have");
    }
    if (width <= 0 || height == 0 || height == INT32_MIN) {
        return fail("a width of " + std::to_string(width) + " and a height of " + std::to_string(height));
    }
    const bool topDown = height < 0;
    const std::int64_t lines = topDown ? -height : height;
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(lines) > kMaxImagePixels) {
        return fail(PixelCountProblem(width, lines));
    }
    const bool masked = compression == 3 || compression == 6;
    const bool rle = compression == 1 || compression == 2;
    const bool known = compression == 0 || (compression == 1 && bits == 8) ||
                       (compression == 2 && bits == 4) ||
                       (masked && (bits == 16 || bits == 32) && headerSize != 64);
    if (!known) {
        return fail("compression " + std::to_string(compression) + " with " + std::to_string(bits) +
                    " bits per pixel, which cannot be imported");
    }
    if (rle && topDown) {
        return fail("run-length compressed rows stored top line first, which BMP does not allow");
    }

    // Bit masks: in the header from 52 bytes on, after a 40-byte one.
    std::array<std::uint32_t, 4> masks{};
    std::uint64_t paletteStart = 14 + std::uint64_t{headerSize};
    if (masked) {
        const std::uint64_t at = headerSize == 40 ? paletteStart : 54;
        const int count = headerSize == 40 ? (compression == 6 ? 4 : 3) : (headerSize >= 56 ? 4 : 3);
        if (length < at + 4u * static_cast<unsigned>(count)) {
            return fail("file ends inside the bit masks");
        }
        for (int i = 0; i < count; ++i) {
            masks[static_cast<std::size_t>(i)] = Le32(file, static_cast<int>(at) + 4 * i);
        }
        if (headerSize == 40) {
            paletteStart += 4u * static_cast<unsigned>(count);
        }
    }
    if (offset < paletteStart) {
        return fail("pixels at offset " + std::to_string(offset) + ", inside the header");
    }
    if (offset > length) {
        return fail("pixels at offset " + std::to_string(offset) + ", beyond the end of the file (" +
                    std::to_string(length) + " bytes)");
    }

    // The palette: as many entries as the header says, or as fit before the pixels.
    const std::uint32_t entrySize = headerSize == 12 ? 3 : 4;
    std::uint64_t entries = 0;
    if (bits <= 8) {
        const std::uint64_t indexable = std::uint64_t{1} << bits;
        const std::uint64_t wanted = coloursUsed != 0 ? coloursUsed : indexable;
        if (wanted > indexable) {
            return fail("a " + std::to_string(wanted) + "-colour palette, more than " + std::to_string(bits) +
                        " bits can index");
        }
        entries = std::min<std::uint64_t>(wanted, (offset - paletteStart) / entrySize);
        if (entries == 0) {
            return fail("no room for a palette before the pixels at offset " + std::to_string(offset));
        }
    }
    if (!rle) {
        const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
        const std::uint64_t whole = (length - offset) / stride;
        if (whole < static_cast<std::uint64_t>(lines)) {
            return fail("file ends inside row " + std::to_string(whole + 1) + " of " + std::to_string(lines) +
                        " (rows counted from 1 in file order)");
        }
    }

    if (bits == 16) {
        if (!masked) {
            masks = {0x7C00, 0x03E0, 0x001F, 0};  // 5-5-5, the only layout without masks
        }
        return WidenedSixteenBits(file, offset, width, height, masks);
    }

    const bool keepHeader = headerSize == 108 || headerSize == 124;
    const std::uint32_t newHeaderSize = keepHeader ? headerSize : (masked ? 108 : 40);
    const auto newOffset = static_cast<std::uint32_t>(14 + newHeaderSize + entries * 4);
    QByteArray out;
    out.reserve(static_cast<qsizetype>(newOffset) + static_cast<qsizetype>(length - offset));
    out.append("BM");
    Put32(out, static_cast<std::uint32_t>(newOffset + (length - offset)));
    Put32(out, 0);
    Put32(out, newOffset);
    if (keepHeader) {
        out.append(file.mid(14, headerSize));
        if (bits <= 8) {
            QByteArray used;
            Put32(used, static_cast<std::uint32_t>(entries));
            out.replace(14 + 32, 4, used);
        }
    } else {
        Put32(out, newHeaderSize);
        Put32(out, static_cast<std::uint32_t>(width));
        Put32(out, static_cast<std::uint32_t>(height));
        Put16(out, 1);
        Put16(out, bits);
        Put32(out, masked ? 3 : compression);
        Put32(out, static_cast<std::uint32_t>(length - offset));  // image size
        Put32(out, 2835);                                         // 72 dots per inch
        Put32(out, 2835);
        Put32(out, static_cast<std::uint32_t>(entries));
        Put32(out, 0);
        if (masked) {
            for (const std::uint32_t mask : masks) {
                Put32(out, mask);
            }
            out.append(QByteArray(108 - 56, '\0'));  // colour space and gammas: none given
        }
    }
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint64_t entryStart = paletteStart + i * entrySize;
        const auto at = static_cast<qsizetype>(entryStart);
        out.append(file.mid(at, 3));
        out.append('\0');
    }
    out.append(file.mid(static_cast<qsizetype>(offset)));
    return out;
}

}  // namespace

Expected<ImportedImage> DecodeImage(QIODevice& device, int limitMegabytes) {
    // One bound for every decoder, instead of Qt's default of 256 MB: large
    // images decode, absurd ones are refused before their buffer is made.
    QImageReader::setAllocationLimit(limitMegabytes);
    const CaughtWarnings warnings;

    std::string what = DescribeFile(device, {});
    const auto refusal = [&](const std::string& reason) {
        std::string text = what + ": " + reason;
        if (!CaughtWarnings::Text().empty()) {
            text += " (" + CaughtWarnings::Text() + ")";
        }
        return Error{std::move(text)};
    };

    // A bitmap is checked and rewritten first (see CanonicalBitmap), in
    // memory: a BMP holds its pixels raw or run-length coded, so the copy
    // costs about what the decoded image does, and it is bounded the same way.
    QByteArray canonical;
    QBuffer canonicalDevice(&canonical);
    QIODevice* source = &device;
    if (device.peek(2) == "BM") {
        if (device.size() > std::int64_t{limitMegabytes} << 20) {
            return refusal("a file of " + std::to_string(device.size()) + " bytes is more than the " +
                           std::to_string(limitMegabytes) + " MB allowed");
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

    // The size the header announces, checked before anything is decoded.
    if (const QSize announced = reader.size(); announced.isValid()) {
        const auto pixels =
            static_cast<std::uint64_t>(announced.width()) * static_cast<std::uint64_t>(announced.height());
        if (pixels > kMaxImagePixels) {
            return refusal(PixelCountProblem(announced.width(), announced.height()));
        }
        const QImage::Format decodedAs = reader.imageFormat();
        const std::uint64_t bitsPerPixel =
            decodedAs == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(decodedAs).bitsPerPixel();
        const std::uint64_t megabytes = (pixels * bitsPerPixel / 8 + (1u << 20) - 1) >> 20;
        if (megabytes > static_cast<std::uint64_t>(limitMegabytes)) {
            return refusal("decoding " + std::to_string(announced.width()) + " x " +
                           std::to_string(announced.height()) + " pixels needs " + std::to_string(megabytes) +
                           " MB, more than the " + std::to_string(limitMegabytes) + " MB allowed");
        }
    }

    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull()) {
        return refusal("cannot be decoded: " + reader.errorString().toStdString());
    }
    what = format.toUpper().toStdString() + ", " + DepthWords(decoded) + ", " +
           std::to_string(decoded.width()) + " x " + std::to_string(decoded.height());
    if (static_cast<std::uint64_t>(decoded.width()) * static_cast<std::uint64_t>(decoded.height()) >
        kMaxImagePixels) {
        return refusal(PixelCountProblem(decoded.width(), decoded.height()));
    }
    auto gray = AllocateByteMatrix(decoded.width(), decoded.height());
    if (!gray) {
        return refusal(gray.error().message);
    }
    const auto colour = ConvertToGray(decoded, *gray);
    if (!colour) {
        return refusal(colour.error().message);
    }
    ImportedImage imported;
    imported.ColourConverted = *colour;
    imported.Gray = std::move(*gray);
    imported.Description = std::move(what);
    return imported;
}

Expected<ImportedImage> DecodeImage(std::span<const std::uint8_t> bytes, int limitMegabytes) {
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    return DecodeImage(buffer, limitMegabytes);
}

}  // namespace kavel::cli
