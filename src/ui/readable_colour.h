// Colours that carry meaning (raised and lowered words, the ends of the rating scale, links, the
// selected row) taken from the palette, so they stay readable under light and dark themes alike.
#pragma once

#include <QColor>
#include <QPalette>

namespace zibu {

// The contrast ratio of two colours as the usual accessibility guidelines define it (1 to 21).
double ContrastRatio(const QColor& a, const QColor& b);

// The least contrast a text must have against its background to be read comfortably.
inline constexpr double kReadableContrast = 4.5;

// `wanted` itself when it reaches `minimum` against `background`; otherwise the same hue made
// lighter (on a dark background) or darker (on a light one) until it does.
QColor ReadableOn(const QColor& wanted, const QColor& background, double minimum = kReadableContrast);

// Green for what raised a relevance, red for what lowered it, readable on the palette's base
// colour (the colour behind table cells and lists).
QColor RaisedColour(const QPalette& palette);
QColor LoweredColour(const QPalette& palette);
// The same pair for text drawn on the window's own background (labels, group box titles).
QColor RaisedTextColour(const QPalette& palette);
QColor LoweredTextColour(const QPalette& palette);
// The palette's link colour, made readable on the window's background.
QColor LinkColour(const QPalette& palette);

}  // namespace zibu
