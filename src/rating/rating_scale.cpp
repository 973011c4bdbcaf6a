#include "rating/rating_scale.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QVariant>
#include <algorithm>

#include "ui/qtext.h"
#include "ui/readable_colour.h"

namespace zibu {

const char* const kRatingScaleHint =
    "As you tell Zibu how relevant you find each article, it will gradually learn about the kind of articles "
    "that interest you \r\n and will start to show you similar articles in future.\r\nThe more feedback you "
    "provide, the more it will learn about your interests \r\nand the better it will get at showing you "
    "relevant content";

namespace {

// Indexed by button number - 1. The tags rise left to right, but the buttons named 4, 5 and 6
// stand at -6, -5 and -7: the left edges follow the tags, not the names.
constexpr int kTags[21] = {-10, -9, -8, -6, -5, -7, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr int kLeftByRating[21] = {19,  47,  75,  103, 132, 161, 189, 217, 246, 274, 303,
                                   331, 359, 388, 416, 445, 473, 501, 530, 558, 587};
constexpr int kButtonTop = 20;
constexpr int kButtonSize = 22;

// A ring in the highlight colour around the step that has the keyboard focus: the style's own
// dotted frame around a 22-pixel button is hard to find among 21 of them.
class FocusRing : public QWidget {
 public:
  explicit FocusRing(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::Highlight), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
  }
};

// The scale's keyboard: Tab enters at the checked step, the arrow keys (and Home, End) move the
// rating one step along the scale, and the focused step is ringed.
class ScaleKeys : public QObject {
 public:
  ScaleKeys(RatingScale& scale, QWidget* parent) : QObject(parent), scale_(scale), ring_(new FocusRing(parent)) {}

  // Only the checked step is on the Tab chain; every step still takes the focus on a click.
  void FollowChecked() {
    for (QRadioButton* button : scale_.buttons)
      button->setFocusPolicy(button->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    for (QRadioButton* button : scale_.buttons)
      if (button->isChecked()) scale_.lblRateHeading->setBuddy(button);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* button = qobject_cast<QRadioButton*>(watched);
    if (!button) return false;
    if (event->type() == QEvent::FocusIn) {
      ring_->setGeometry(button->geometry().adjusted(-3, -3, 3, 3));
      ring_->raise();
      ring_->show();
    } else if (event->type() == QEvent::FocusOut) {
      ring_->hide();
    } else if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
      const int rating = button->property("tag").toInt();
      int to = rating;
      switch (key->key()) {
        case Qt::Key_Left:
        case Qt::Key_Down:
          to = rating - 1;
          break;
        case Qt::Key_Right:
        case Qt::Key_Up:
          to = rating + 1;
          break;
        case Qt::Key_Home:
          to = -10;
          break;
        case Qt::Key_End:
          to = 10;
          break;
        default:
          return false;
      }
      to = std::clamp(to, -10, 10);
      for (QRadioButton* step : scale_.buttons) {
        if (step->property("tag").toInt() != to) continue;
        step->setChecked(true);
        step->setFocus(Qt::TabFocusReason);
      }
      return true;
    }
    return false;
  }

 private:
  RatingScale& scale_;
  FocusRing* ring_;
};

QString StepName(int rating) {
  if (rating == -10) return ToQ("-10 Totally irrelevant");
  if (rating == 10) return ToQ("+10 Very relevant");
  return rating > 0 ? QStringLiteral("+%1").arg(rating) : QString::number(rating);
}

}  // namespace

int ScaleButtonTag(int number) {
  return kTags[number - 1];
}

void RatingScale::Build(QWidget* parent) {
  auto* outer = new QVBoxLayout(parent);
  outer->setContentsMargins(0, 0, 0, 0);
  pnlFeedback = new QWidget(parent);
  pnlFeedback->setObjectName("pnlFeedback");
  outer->addWidget(pnlFeedback);

  auto* column = new QVBoxLayout(pnlFeedback);
  column->setContentsMargins(8, 4, 8, 4);
  column->setSpacing(2);
  auto* headings = new QHBoxLayout();
  lblIrrelevant = new QLabel(ToQ("Totally irrelevant"), pnlFeedback);
  lblIrrelevant->setObjectName("lblIrrelevant");
  const QPalette palette = pnlFeedback->palette();
  lblIrrelevant->setStyleSheet(QString("color: %1; font-weight: bold;").arg(LoweredTextColour(palette).name()));
  lblRateHeading = new QLabel(ToQ("&Rate this page's relevance"), pnlFeedback);
  lblRateHeading->setObjectName("lblRateHeading");
  lblRateHeading->setAlignment(Qt::AlignCenter);
  lblTotallyRelevant = new QLabel(ToQ("Very relevant"), pnlFeedback);
  lblTotallyRelevant->setObjectName("lblTotallyRelevant");
  lblTotallyRelevant->setStyleSheet(
      QString("color: %1; font-weight: bold;").arg(RaisedTextColour(palette).name()));
  lblTotallyRelevant->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  headings->addWidget(lblIrrelevant);
  headings->addWidget(lblRateHeading, 1);
  headings->addWidget(lblTotallyRelevant);
  column->addLayout(headings);

  gbRelevance = new QGroupBox(pnlFeedback);
  gbRelevance->setObjectName("gbRelevance");
  gbRelevance->setFixedSize(632, 72);
  gbRelevance->setAccessibleName(ToQ("Rate this page's relevance"));
  column->addWidget(gbRelevance, 0, Qt::AlignHCenter);

  // Created in name order, so the children of the group box and the tab order follow the
  // numbers while the positions follow the ratings.
  for (int n = 1; n <= 21; ++n) {
    auto* button = new QRadioButton(gbRelevance);
    button->setObjectName(QStringLiteral("RadioButton%1").arg(n));
    const int tag = kTags[n - 1];
    button->setProperty("tag", tag);
    button->setGeometry(kLeftByRating[tag + 10], kButtonTop, kButtonSize, kButtonSize);
    button->setAccessibleName(StepName(tag));
    buttons[n - 1] = button;
  }
  for (int n = 1; n < 21; ++n) QWidget::setTabOrder(buttons[n - 1], buttons[n]);
  buttons[10]->setChecked(true);
  auto* keys = new ScaleKeys(*this, gbRelevance);
  for (QRadioButton* button : buttons) {
    button->installEventFilter(keys);
    QObject::connect(button, &QRadioButton::toggled, keys, [keys](bool checked) {
      if (checked) keys->FollowChecked();
    });
  }
  keys->FollowChecked();

  // Numbers under the scale for the eye; a screen reader has them in the steps' names.
  const char* marks[] = {"-10", "-5", "0", "+5", "+10"};
  const int markRatings[] = {-10, -5, 0, 5, 10};
  for (int k = 0; k < 5; ++k) {
    auto* mark = new QLabel(ToQ(marks[k]), gbRelevance);
    mark->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    mark->setGeometry(kLeftByRating[markRatings[k] + 10] - 9, kButtonTop + kButtonSize + 2, 40, 18);
  }

  // Tool tips break lines at a line feed alone.
  QString hint = ToQ(kRatingScaleHint);
  hint.remove(QLatin1Char('\r'));
  for (QWidget* w : {static_cast<QWidget*>(pnlFeedback), static_cast<QWidget*>(lblRateHeading),
                     static_cast<QWidget*>(lblIrrelevant), static_cast<QWidget*>(lblTotallyRelevant),
                     static_cast<QWidget*>(gbRelevance)})
    w->setToolTip(hint);
}

int RatingScale::GetRating() const {
  for (QObject* child : gbRelevance->children()) {
    auto* button = qobject_cast<QRadioButton*>(child);
    if (button && button->isChecked()) return button->property("tag").toInt();
  }
  return 0;
}

void RatingScale::SetRating(int rating) {
  for (QRadioButton* button : buttons)
    if (button->property("tag").toInt() == rating) button->setChecked(true);
}

}  // namespace zibu
