// The compiled-in resources (glyphs, icon, cursor) and what is drawn from them.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// Registers the compiled-in resources. The library is static, so nothing
// pulls them in unless asked; safe to call repeatedly.
void InitKavelResources();

// A glyph from the resources, drawn from its SVG at width x height pixels.
QPixmap LoadGlyph(const QString& resource, int width, int height);
// The icon every window shares.
QIcon ApplicationIcon();
