#include "filepreview.h"

#include <QFileInfo>
#include <QLabel>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "filedialogs.h"
#include "kavel/bitmap.h"
#include "kavel/convert.h"
#include "kavel/rawimage.h"
#include "qtconvert.h"

namespace {

constexpr std::uint64_t kPreviewMaxPixels = kPreviewMaxFileBytes;
// What Qt may allocate to decode a file for its preview.
constexpr int kPreviewDecodeMegabytes = 64;

// "png", "tif", ... from the third entry of the open dialog.
const QStringList& ConvertedSuffixes() {
    static const QStringList suffixes = [] {
        QStringList list;
        for (const QString& pattern : QString::fromLatin1(kConvertedEntryPatterns).split(QLatin1Char(' '))) {
            list << pattern.mid(2);
        }
        return list;
    }();
    return suffixes;
}

bool SmallRegularFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return false;
    }
    const std::uintmax_t bytes = std::filesystem::file_size(path, error);
    return !error && bytes <= static_cast<std::uintmax_t>(kPreviewMaxFileBytes);
}

// Nearest-neighbour reduction, so a two-tone image stays two tones.
QImage Reduce(const kavel::ByteMatrix& rows, int bytesPerPixel) {
    const int columns = rows.Columns() / bytesPerPixel;
    const int lines = rows.Lines();
    const double scale = std::min(1.0, static_cast<double>(kPreviewSide) / std::max(columns, lines));
    const int width = std::max(1, static_cast<int>(columns * scale));
    const int height = std::max(1, static_cast<int>(lines * scale));
    QImage thumbnail(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = rows[static_cast<int>(static_cast<std::int64_t>(y) * lines / height)];
        auto* out = reinterpret_cast<QRgb*>(thumbnail.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* pixel = in + static_cast<std::int64_t>(x) * columns / width * bytesPerPixel;
            out[x] =
                bytesPerPixel == 3 ? qRgb(pixel[2], pixel[1], pixel[0]) : qRgb(pixel[0], pixel[0], pixel[0]);
        }
    }
    return thumbnail;
}

std::optional<PreviewPicture> Picture(const kavel::ByteMatrix& rows, int bytesPerPixel) {
    if (rows.Empty()) {
        return std::nullopt;
    }
    return PreviewPicture{Reduce(rows, bytesPerPixel), rows.Lines(), rows.Columns() / bytesPerPixel};
}

}  // namespace

std::optional<PreviewPicture> ReadPreview(const QString& fileName) {
    if (fileName.isEmpty()) {
        return std::nullopt;
    }
    const std::filesystem::path path = ToPath(fileName);
    if (!SmallRegularFile(path)) {
        return std::nullopt;
    }
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QStringLiteral("bmp")) {
        if (const kavel::Expected<kavel::BitmapData> bitmap = kavel::ReadBitmapFile(path)) {
            return Picture(bitmap->Rows, bitmap->BitsPerPixel / 8);
        }
    }
    // What only the conversion reads is shown as it would open: in gray.
    if (ConvertedSuffixes().contains(suffix)) {
        const kavel::Expected<kavel::ConvertedImage> converted =
            kavel::ConvertImageFile(path, kPreviewDecodeMegabytes);
        return converted ? Picture(converted->Gray, 1) : std::nullopt;
    }
    const std::filesystem::path descriptor =
        ToPath(QString::fromStdString(kavel::DescriptorNameFor(fileName.toStdString())));
    if (!SmallRegularFile(descriptor)) {
        return std::nullopt;
    }
    const kavel::Expected<kavel::ImageSize> size = kavel::ReadDescriptorFile(descriptor);
    if (!size || size->Lines <= 0 || size->Columns <= 0 ||
        static_cast<std::uint64_t>(size->Lines) * static_cast<std::uint64_t>(size->Columns) >
            kPreviewMaxPixels) {
        return std::nullopt;
    }
    kavel::Expected<kavel::ByteMatrix> rows = kavel::AllocateByteMatrix(size->Columns, size->Lines);
    if (!rows || !kavel::ReadRawPixels(path, *rows)) {
        return std::nullopt;
    }
    return Picture(*rows, 1);
}

TFilePreview::TFilePreview(QWidget* parent)
    : QWidget(parent), picture_(new QLabel(this)), sizeText_(new QLabel(this)) {
    setObjectName(QStringLiteral("PicturePreview"));
    picture_->setObjectName(QStringLiteral("PreviewPicture"));
    sizeText_->setObjectName(QStringLiteral("PreviewSize"));
    picture_->setFixedSize(kPreviewSide + 4, kPreviewSide + 4);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setFrameShape(QFrame::StyledPanel);
    sizeText_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setFixedWidth(kPreviewSide + 4 + 8);
    sizeText_->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 0, 0);
    layout->addWidget(picture_);
    layout->addWidget(sizeText_);
    layout->addStretch(1);
}

void TFilePreview::ShowFile(const QString& fileName) {
    const std::optional<PreviewPicture> preview = ReadPreview(fileName);
    if (!preview) {
        picture_->clear();
        sizeText_->clear();
        return;
    }
    picture_->setPixmap(QPixmap::fromImage(preview->Thumbnail));
    sizeText_->setText(tr("%1 lines x %2 columns").arg(preview->Lines).arg(preview->Columns));
}
