#include "cursors.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QImage>
#include <map>

namespace {

std::map<int, QCursor>& CursorRegistry() {
    static std::map<int, QCursor> registry;
    return registry;
}

}  // namespace

void RegisterCursor(int number, const QCursor& cursor) {
    CursorRegistry().insert_or_assign(number, cursor);
}

QCursor ScreenCursorByNumber(int number) {
    const auto& registry = CursorRegistry();
    const auto it = registry.find(number);
    return it != registry.end() ? it->second : QCursor(Qt::ArrowCursor);
}

// The resource is a two-colour picture with transparency: black pixels are
// drawn black, white ones white, transparent ones let the screen through.
QCursor LoadLoupeCursor() {
    const QImage picture =
        QImage(QStringLiteral(":/cursors/LoupeCurseur.xpm")).convertToFormat(QImage::Format_ARGB32);
    // A new mono image has the colour table [black, white], which
    // QBitmap::fromImage would read inverted; index 1 must be the drawn colour.
    const QList<QRgb> bitColours{qRgb(255, 255, 255), qRgb(0, 0, 0)};
    QImage shape(picture.size(), QImage::Format_MonoLSB);
    QImage mask(picture.size(), QImage::Format_MonoLSB);
    shape.setColorTable(bitColours);
    mask.setColorTable(bitColours);
    shape.fill(0);
    mask.fill(0);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            if (qAlpha(pixel) == 0) {
                continue;
            }
            mask.setPixel(x, y, 1);
            if (qGray(pixel) < 128) {
                shape.setPixel(x, y, 1);
            }
        }
    }
    return QCursor(QBitmap::fromImage(shape), QBitmap::fromImage(mask), 13, 12);
}

void SetScreenCursor(const QCursor& cursor) {
    if (QGuiApplication::overrideCursor()) {
        QGuiApplication::changeOverrideCursor(cursor);
    } else {
        QGuiApplication::setOverrideCursor(cursor);
    }
}

void SetScreenCursorArrow() {
    SetScreenCursor(QCursor(Qt::ArrowCursor));
}
void SetScreenCursorHourglass() {
    SetScreenCursor(QCursor(Qt::WaitCursor));
}
void SetScreenCursorMagnifier() {
    SetScreenCursor(ScreenCursorByNumber(crMagnifier));
}

void ClearScreenCursor() {
    while (QGuiApplication::overrideCursor()) {
        QGuiApplication::restoreOverrideCursor();
    }
}
