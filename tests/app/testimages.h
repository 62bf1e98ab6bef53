// Images and files for the desktop tests. Sizes and pixels are always given
// column first, as the core allocates them (AllocateByteMatrix(columns,
// lines)); rows are indexed [line][column].
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>

#include "kavel/guitools.h"

// The tone of the test pattern at a pixel: distinct along both axes, so a
// swapped or shifted read shows.
inline std::uint8_t Tone(int column, int line) {
    return static_cast<std::uint8_t>((column * 7 + line * 13) & 0xFF);
}

inline kavel::ByteMatrix Pattern(int columns, int lines) {
    kavel::ByteMatrix rows = kavel::AllocateByteMatrix(columns, lines).value();
    for (int line = 0; line < lines; ++line) {
        for (int column = 0; column < columns; ++column) {
            rows[line][column] = Tone(column, line);
        }
    }
    return rows;
}

// The pattern as the bytes of a raw file, top line first.
inline QByteArray PatternBytes(int columns, int lines) {
    QByteArray bytes;
    bytes.reserve(columns * lines);
    for (int line = 0; line < lines; ++line) {
        for (int column = 0; column < columns; ++column) {
            bytes.append(static_cast<char>(Tone(column, line)));
        }
    }
    return bytes;
}

inline QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool WriteBytes(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
