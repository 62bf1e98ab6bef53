#include "resources.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

void InitKavelResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(kavel);
        return true;
    }();
    (void)done;
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
