// What the window tests measure of a theme: a dark palette like those of today's desktops, and
// the contrast of a text as it was drawn.
#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QRect>
#include <QWidget>
#include <algorithm>
#include <map>

#include "ui/readable_colour.h"

namespace zibu {

// The colour a text was drawn in, measured: within `area` of the widget's picture, the contrast
// between the most common colour (the background) and the colour farthest from it (the core of
// the glyphs).
inline double DrawnContrast(QWidget* widget, QRect area = {}) {
  const QImage image = widget->grab().toImage();
  if (area.isNull()) area = image.rect();
  area = area.intersected(image.rect());
  std::map<QRgb, int> counts;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) ++counts[image.pixel(x, y)];
  QRgb background = 0;
  int most = -1;
  for (auto [rgb, n] : counts)
    if (n > most) {
      most = n;
      background = rgb;
    }
  double best = 1;
  for (auto [rgb, n] : counts) best = std::max(best, ContrastRatio(QColor(rgb), QColor(background)));
  return best;
}

inline QPalette DarkPalette() {
  QPalette p;
  const QColor window(53, 53, 53), base(35, 35, 35), text(230, 230, 230), blue(42, 130, 218);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, Qt::red);
  p.setColor(QPalette::Link, blue);
  p.setColor(QPalette::LinkVisited, blue.darker());
  p.setColor(QPalette::Highlight, blue);
  p.setColor(QPalette::HighlightedText, Qt::black);
  return p;
}

}  // namespace zibu
