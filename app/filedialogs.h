// What the program's file dialogs share: their set-up, the chosen filter and
// the folders they start in.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class QFileDialog;

// The set-up every file dialog of the program shares: an empty name box, the
// completion list closed with the dialog, a picture preview pane and a width
// that shows the columns in full.
void PrepareFileDialog(QFileDialog* dialog);

// The open dialog's third entry, after the raw and bitmap ones: any image
// the conversion reads, opened as a bitmap once it is 8-bit gray.
inline constexpr char kConvertedEntryLabel[] = "Other images (converted to 8-bit gray)";
inline constexpr char kConvertedEntryPatterns[] =
    "*.png *.tif *.tiff *.jpg *.jpeg *.bmp *.pgm *.pnm *.gif *.webp";
// The entry as the dialog lists it: the label with its patterns in brackets,
// then the same patterns in parentheses for Qt, hidden from the user.
QString ConvertedEntryFilter();

// Position (from 0) of the chosen filter in the dialog's list, or -1. With
// hidden filter details Qt gives back only the label, so both forms are matched.
qsizetype SelectedFilterIndex(const QFileDialog& dialog);

// Where a save dialog starts: preferred when it is a folder we may write in,
// else the user's pictures folder, else the home folder.
QString WritableSaveFolder(const QString& preferred);

// Where the open dialog starts until a file has been chosen, so that a new user
// sees a sample at once: "C:\images" on Windows where it exists, else the
// samples at ../share/kavel/samples beside the program (installed, relocated,
// or the build tree's link to the source samples), else the user's home.
QStringList ImageFolderCandidates(const QString& applicationDir);
QString FirstExistingFolder(const QStringList& candidates, const QString& fallback);
QString DefaultImageFolder();
