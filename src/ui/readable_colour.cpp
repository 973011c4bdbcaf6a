#include "ui/readable_colour.h"

#include <algorithm>
#include <cmath>

namespace zibu {

namespace {

double Linear(double channel) {
  return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& c) {
  return 0.2126 * Linear(c.redF()) + 0.7152 * Linear(c.greenF()) + 0.0722 * Linear(c.blueF());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& wanted, const QColor& background, double minimum) {
  if (ContrastRatio(wanted, background) >= minimum) return wanted;
  // Lighter text on a background darker than the middle grey, darker text otherwise; white and
  // black reach at least 4.58:1 against any colour on their side.
  const bool lighter = ContrastRatio(background, Qt::white) > ContrastRatio(background, Qt::black);
  float h = 0, s = 0, l = 0, a = 0;
  wanted.toRgb().getHslF(&h, &s, &l, &a);
  for (int step = 1; step <= 100; ++step) {
    const float t = static_cast<float>(step) / 100.0f;
    const float shade = lighter ? l + (1.0f - l) * t : l * (1.0f - t);
    // Measured as it is drawn: in whole steps of 1/255.
    const QColor exact = QColor::fromHslF(h < 0 ? 0 : h, s, shade, a).toRgb();
    const QColor candidate(exact.red(), exact.green(), exact.blue(), exact.alpha());
    if (ContrastRatio(candidate, background) >= minimum) return candidate;
  }
  return lighter ? QColor(Qt::white) : QColor(Qt::black);
}

QColor RaisedColour(const QPalette& palette) {
  return ReadableOn(QColor(0, 128, 0), palette.color(QPalette::Base));
}

QColor LoweredColour(const QPalette& palette) {
  return ReadableOn(QColor(192, 0, 0), palette.color(QPalette::Base));
}

QColor RaisedTextColour(const QPalette& palette) {
  return ReadableOn(QColor(0, 128, 0), palette.color(QPalette::Window));
}

QColor LoweredTextColour(const QPalette& palette) {
  return ReadableOn(QColor(192, 0, 0), palette.color(QPalette::Window));
}

QColor LinkColour(const QPalette& palette) {
  return ReadableOn(palette.color(QPalette::Link), palette.color(QPalette::Window));
}

}  // namespace zibu
