// The Qt text layer: draws the overlays' UTF-8 text with QPainter and QFont
// straight into the framebuffer's pixels.  The only place text meets Qt;
// this header itself stays free of Qt so that any caller may include it.
#pragma once

#include <string>
#include <string_view>

#include "stereo/text_painter.h"

// The one Qt text painter.  Needs a QGuiApplication (or QApplication) for
// as long as it draws.
TextPainter& QtTextPainter();

// Makes QtTextPainter() the painter the overlays use.
void InstallQtTextPainter();

// Drops the fonts the painter keeps between calls; call it before the
// application object goes, since fonts must not outlive it.
void ReleaseQtTextPainterFonts();

// The font family text in `style` is drawn with: a face the system lacks
// (a Windows face name such as "MS UI Gothic" from a slideshow list) is
// replaced by fontconfig's choice for it in a Japanese setting.
std::string ResolvedFontFamily(const TextStyle& style);

// True when every character of `text` has a real glyph (not the missing-
// glyph box) in the font of `style` or in a fallback font Qt chooses for it.
bool HasGlyphsFor(std::string_view text, const TextStyle& style);
