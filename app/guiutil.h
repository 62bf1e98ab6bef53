// Small helpers shared by the windows: the application-wide screen cursor,
// path conversion, error text, glyphs and dialog placement.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QString>
#include <filesystem>

#include "kavel/expected.h"

class QFileDialog;

class QWidget;

// Registers the compiled-in resources (glyphs, icon, cursor). The library is
// static, so nothing pulls them in unless asked; safe to call repeatedly.
void InitKavelResources();

// Number under which the magnifier is registered.
inline constexpr int crMagnifier = 30;

// Registry of numbered custom cursors.
void RegisterCursor(int number, const QCursor& cursor);
// The registered cursor, or the arrow when the number is unknown.
QCursor ScreenCursorByNumber(int number);
// Builds the magnifier from its resource bitmap (32 x 32, hot spot 13, 12).
QCursor LoadLoupeCursor();

// The application-wide cursor, overriding every control's own. Each call
// replaces the current one; nothing is stacked.
void SetScreenCursor(const QCursor& cursor);
void SetScreenCursorArrow();
void SetScreenCursorHourglass();
void SetScreenCursorMagnifier();
// Removes the override entirely (used when the windows are torn down).
void ClearScreenCursor();

std::filesystem::path ToPath(const QString& name);
QString FromPath(const std::filesystem::path& path);
QString ErrorText(const kavel::Error& error);

// Position (from 0) of the chosen filter in the dialog's list, or -1. With
// hidden filter details Qt gives back only the label, so both forms are matched.
qsizetype SelectedFilterIndex(const QFileDialog& dialog);

// A glyph from the resources, drawn from its SVG at width x height pixels.
QPixmap LoadGlyph(const QString& resource, int width, int height);
// The icon every window shares.
QIcon ApplicationIcon();

// Moves a top-level window so its centre lies on the main window's centre.
void CentreOverMainWindow(QWidget* window);
