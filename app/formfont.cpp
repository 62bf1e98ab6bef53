#include "formfont.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QString>
#include <QStringList>

bool RegisterFormFont() {
    static const bool registered = [] {
        const QString name = QStringLiteral("ms_sans_serif.ttf");
        QStringList candidates{QStringLiteral("/usr/share/wine/fonts/") + name};
        const QString programDir = QCoreApplication::applicationDirPath();
        if (!programDir.isEmpty()) {
            candidates << QDir::cleanPath(programDir + QStringLiteral("/../share/wine/fonts/") + name);
        }
        for (const QString& file : candidates) {
            if (!QFileInfo(file).isFile()) {
                continue;
            }
            const int id = QFontDatabase::addApplicationFont(file);
            if (id >= 0 &&
                QFontDatabase::applicationFontFamilies(id).contains(QStringLiteral("MS Sans Serif"))) {
                return true;
            }
        }
        return false;
    }();
    return registered;
}

QFont FormFont(int pixelHeight) {
    // Wine's copy holds only the 8-point strike (a 13-pixel cell); taller text
    // would come out at that size, so it takes a scalable face instead.
    constexpr int kTallestStrike = 13;
    const bool bitmapFace = RegisterFormFont() && pixelHeight > kTallestStrike;
    QFont font(bitmapFace ? QStringLiteral("Sans Serif") : QStringLiteral("MS Sans Serif"));
    font.setPixelSize(pixelHeight);
    return font;
}
