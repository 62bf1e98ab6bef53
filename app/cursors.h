// Numbered custom cursors and the application-wide screen cursor.
#pragma once

#include <QCursor>

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
