#include "memorymessages.h"

#include <QObject>
#include <algorithm>

#include "kavel/memorybudget.h"

QString LinesAndColumnsText(std::int64_t lines, std::int64_t columns) {
    return QObject::tr("%1 %2 and %3 %4")
        .arg(lines)
        .arg(lines == 1 ? QObject::tr("line") : QObject::tr("lines"))
        .arg(columns)
        .arg(columns == 1 ? QObject::tr("column") : QObject::tr("columns"));
}

std::optional<QString> ImageSizeRefusal(std::int64_t lines, std::int64_t columns) {
    if (lines < 0 || columns < 0) {
        return QObject::tr("%1 is not an image size.").arg(LinesAndColumnsText(lines, columns));
    }
    if (static_cast<std::uint64_t>(lines) * static_cast<std::uint64_t>(columns) <= kavel::kMaxImagePixels) {
        return std::nullopt;
    }
    return QObject::tr(
               "An image of %1 would need %2 of memory (the image, its result and its display); "
               "KAVEL opens images of at most %3 pixels.")
        .arg(LinesAndColumnsText(lines, columns),
             QString::fromStdString(kavel::ByteSizeText(kavel::ImageOpenBytes(lines, columns))))
        .arg(kavel::kMaxImagePixels);
}

std::optional<QString> OpenMemoryRefusal(std::int64_t lines, std::int64_t columns) {
    const std::uint64_t needed = kavel::ImageOpenBytes(lines, columns);
    const std::optional<std::uint64_t> available = kavel::AvailableMemoryBytes();
    if (!available || needed <= *available) {
        return std::nullopt;
    }
    return QObject::tr(
               "An image of %1 needs %2 of memory (the image, its result "
               "and its display), but only %3 is available.")
        .arg(LinesAndColumnsText(lines, columns), QString::fromStdString(kavel::ByteSizeText(needed)),
             QString::fromStdString(kavel::ByteSizeText(*available)));
}

QString DisplayFailureText(const kavel::TRasterImage& image) {
    return QObject::tr(
               "The image of %1 is in memory, but there was not enough memory "
               "left to display it (%2).")
        .arg(LinesAndColumnsText(image.Lines(), image.Columns()),
             QString::fromStdString(
                 kavel::ByteSizeText(static_cast<std::uint64_t>(image.RowBytes()) *
                                     static_cast<std::uint64_t>(std::max(image.Lines(), 0)))));
}
