#include "guiutil.h"

#include <QApplication>
#include <QBitmap>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QWidget>
#include <map>

#include "mainwindow.h"

void InitKavelResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(kavel);
        return true;
    }();
    (void)done;
}

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
    QImage shape(picture.size(), QImage::Format_MonoLSB);
    QImage mask(picture.size(), QImage::Format_MonoLSB);
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

std::filesystem::path ToPath(const QString& name) {
#ifdef _WIN32
    return std::filesystem::path(name.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

QString FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

QString ErrorText(const kavel::Error& error) {
    return QString::fromStdString(error.message);
}

QPixmap LoadGlyph(const QString& resource, int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    if (renderer.isValid()) {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    return QPixmap::fromImage(image);
}

QIcon ApplicationIcon() {
    QIcon icon;
    icon.addPixmap(LoadGlyph(QStringLiteral(":/icons/kavel.svg"), 32, 32));
    icon.addPixmap(LoadGlyph(QStringLiteral(":/icons/kavel.svg"), 16, 16));
    return icon;
}

void CentreOverMainWindow(QWidget* window) {
    if (!MainForm || !window) {
        return;
    }
    const QRect main = MainForm->frameGeometry();
    const QRect frame = window->frameGeometry();
    const QPoint offset = window->pos() - frame.topLeft();  // frame decoration
    window->move(main.center() - QPoint(frame.width() / 2, frame.height() / 2) + offset);
}

qsizetype SelectedFilterIndex(const QFileDialog& dialog) {
    const QString selected = dialog.selectedNameFilter();
    const QStringList filters = dialog.nameFilters();
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (filters[i] == selected || filters[i].startsWith(selected + QStringLiteral(" ("))) {
            return i;
        }
    }
    return -1;
}
