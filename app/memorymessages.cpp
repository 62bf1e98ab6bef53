#include "memorymessages.h"

#include <QObject>
#include <algorithm>

#include "kavel/memorybudget.h"

std::optional<QString> OpenMemoryRefusal(std::int64_t lines, std::int64_t columns) {
    const std::uint64_t needed = kavel::ImageOpenBytes(lines, columns);
    const std::optional<std::uint64_t> available = kavel::AvailableMemoryBytes();
    if (!available || needed <= *available) {
        return std::nullopt;
    }
    return QObject::tr(
               "An image of %1 lines and %2 columns needs %3 of memory (the image, its result "
               "and its display), but only %4 is available.")
        .arg(lines)
        .arg(columns)
        .arg(QString::fromStdString(kavel::ByteSizeText(needed)),
             QString::fromStdString(kavel::ByteSizeText(*available)));
}

QString DisplayFailureText(const kavel::TRasterImage& image) {
    return QObject::tr(
               "The image of %1 lines and %2 columns is in memory, but there was not enough memory "
               "left to display it (%3).")
        .arg(image.Lines())
        .arg(image.Columns())
        .arg(QString::fromStdString(
            kavel::ByteSizeText(static_cast<std::uint64_t>(image.RowBytes()) *
                                static_cast<std::uint64_t>(std::max(image.Lines(), 0)))));
}
