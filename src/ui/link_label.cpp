#include "ui/link_label.h"

#include <QMouseEvent>

#include "ui/dialogs.h"
#include "ui/readable_colour.h"

namespace zibu {

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent) {
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  setAttribute(Qt::WA_TranslucentBackground);
  setAutoFillBackground(false);
  setCursor(Qt::PointingHandCursor);
  // The theme's link colour, made readable on the window behind it where the theme's is not.
  linkColor_ = LinkColour(palette());
  SetFontColor(linkColor_);
}

void TLinkLabel::SetFontColor(const QColor& color) {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, color);
  p.setColor(QPalette::Text, color);
  setPalette(p);
  update();
}

void TLinkLabel::SetLinkColor(const QColor& color) {
  linkColor_ = color;
  visited_ = false;
  SetFontColor(linkColor_);
}

void TLinkLabel::SetVisitedColor(const QColor& color) {
  visitedColor_ = color;
  visited_ = false;
  SetFontColor(linkColor_);
}

// Takes the press itself: the label's ordinary click handling does not run.
void TLinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QLabel::mousePressEvent(event);
  visited_ = true;
  SetFontColor(visitedColor_);
  repaint();
  event->accept();
  OpenUrl(Url);
}

}  // namespace zibu
