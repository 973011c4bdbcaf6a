// TLinkLabel: a label that looks like a hyperlink and opens Url in the default browser when
// clicked.
#pragma once

#include <QColor>
#include <QLabel>
#include <string>

namespace zibu {

class TLinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TLinkLabel(QWidget* parent = nullptr);

  QColor LinkColor() const { return linkColor_; }
  QColor VisitedColor() const { return visitedColor_; }
  bool Visited() const { return visited_; }
  void SetLinkColor(const QColor& color);
  void SetVisitedColor(const QColor& color);

  std::string Url;

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void SetFontColor(const QColor& color);

  QColor linkColor_;  // the palette's link colour unless set
  QColor visitedColor_{255, 0, 0};
  bool visited_ = false;
};

}  // namespace zibu
