#include "qtconvert.h"

#include <QByteArray>
#include <QFile>
#include <string_view>

#include "kavel/textnumber.h"

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

std::int32_t EditValue(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return kavel::TextToInteger(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}
