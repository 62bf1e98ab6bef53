// Where dialogs appear: centred over the main window or at their design place,
// with the outer size they were designed with.
#pragma once

class QWidget;

// Moves a top-level window so its centre lies on the main window's centre.
void CentreOverMainWindow(QWidget* window);

// Gives a dialog the outer size it was designed with (frame included, once
// the window manager has framed it) and, if centred, centres it over the
// main window on every showing, again when its frame becomes known.
enum class DialogPlacement { CentredOverMain, AtDesignPosition };
void KeepOuterGeometry(QWidget* dialog, DialogPlacement placement, bool fixedSize);
