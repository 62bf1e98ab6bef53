// Small helpers shared by the windows: the application-wide screen cursor,
// path conversion, error text, glyphs and dialog placement.
#pragma once

#include <QCursor>
#include <QFont>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "kavel/expected.h"
#include "kavel/guitools.h"

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

// Registers Debian's metric-compatible "MS Sans Serif" (Wine's fonts folder,
// not known to fontconfig) when it is installed. True when it is in use.
bool RegisterFormFont();
// The forms' font, "MS Sans Serif" of the given height in pixels. When the
// registered font has no strike that tall (the bold heading), a scalable
// sans serif of that height.
QFont FormFont(int pixelHeight = 11);

// Where a save dialog starts: preferred when it is a folder we may write in,
// else the user's pictures folder, else the home folder.
QString WritableSaveFolder(const QString& preferred);

// The set-up every file dialog of the program shares: an empty name box, the
// completion list closed with the dialog, a picture preview pane and a width
// that shows the columns in full.
void PrepareFileDialog(QFileDialog* dialog);

// Gives a dialog the outer size it was designed with (frame included, once
// the window manager has framed it) and, if centred, centres it over the
// main window on every showing, again when its frame becomes known.
enum class DialogPlacement { CentredOverMain, AtDesignPosition };
void KeepOuterGeometry(QWidget* dialog, DialogPlacement placement, bool fixedSize);

// Why an image of lines x columns cannot be opened with the memory this
// process can still commit, or nothing when it can.
std::optional<QString> OpenMemoryRefusal(std::int64_t lines, std::int64_t columns);
// The message for an image that is in memory but whose display bitmap could
// not be made.
QString DisplayFailureText(const kavel::TRasterImage& image);
