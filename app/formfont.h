// The forms' font: "MS Sans Serif", 11 pixels high.
#pragma once

#include <QFont>

// Registers Debian's metric-compatible "MS Sans Serif" (Wine's fonts folder,
// not known to fontconfig) when it is installed. True when it is in use.
bool RegisterFormFont();
// The forms' font, "MS Sans Serif" of the given height in pixels. When the
// registered font has no strike that tall (the bold heading), a scalable
// sans serif of that height.
QFont FormFont(int pixelHeight = 11);
