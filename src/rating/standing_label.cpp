#include "rating/standing_label.h"

#include <QLabel>

#include "ui/qtext.h"

namespace zibu {

QLabel* NewStandingLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName("lblStanding");
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setToolTip(
      ToQ("Where this article's relevance stands among the articles and pages I have scored lately: a few per "
          "cent can be a high relevance"));
  label->setVisible(false);
  return label;
}

}  // namespace zibu
