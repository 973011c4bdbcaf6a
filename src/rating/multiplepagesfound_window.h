// TfrmMultiplePagesFound: all articles of one scan in a table; the user rates any of them in any
// order, and the ratings are written into the caller's own records.
#pragma once

#include <QDialog>
#include <functional>
#include <QString>
#include <string>

#include "feeds/feed.h"
#include "rating/rating_scale.h"
#include "rating/why_window.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTableWidget;

namespace zibu {

class TLinkLabel;

class TfrmMultiplePagesFound : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmMultiplePagesFound(QWidget* owner = nullptr);

  // The grid's columns.
  static constexpr int kTitleColumn = 0;
  static constexpr int kFeedColumn = 1;
  static constexpr int kDateColumn = 2;
  static constexpr int kReasonColumn = 3;
  static constexpr int kRatingColumn = 4;

  // Takes the caller's (non-empty) array itself; every item's Rating starts again at 0.
  void SetItems(Items& items);
  void ShowItem(int index);
  int GetRating() const { return scale_.GetRating(); }
  void SetRating(int rating);
  // The title gets a third of the grid's visible width, the feed, the date and the reason a sixth
  // each, the rating the rest (each at least as wide as its header), so the columns always fit
  // without a horizontal scroll bar.
  void FormResize();
  // Takes the height of `room` (a screen's room inside the window's frame) and at most a wide
  // window's width; the grid gets every pixel the text and the scale leave.
  void FitInto(QSize room);
  // Whether the window may close; asks the reminder question when few items were rated.
  bool FormCloseQuery();
  // Offers "Why?" for the selected article, explained with `explain` (`learning`: the articles
  // of a learning run); without this the button is hidden.
  void SetWhy(Explainer explain, bool learning);
  void btnWhyClick();

  // The reminder question is asked only while this is on (showNagScreens).
  bool showNagScreens = true;
  // Asks a Yes/No question; a message box unless a test stands in for the user.
  std::function<bool(const std::string&)> askYesNo;

  QWidget* pnlTop = nullptr;
  QLabel* lblHeading = nullptr;
  QPushButton* btnWhy = nullptr;
  QTableWidget* sgArticles = nullptr;
  QWidget* pnlContent = nullptr;
  QPlainTextEdit* txtContents = nullptr;
  // Where the selected article's relevance stands among the recent scores; hidden for none.
  QLabel* lblStanding = nullptr;
  QWidget* pnlHyperlink = nullptr;
  TLinkLabel* LinkLabel = nullptr;
  QWidget* pnlBottom = nullptr;
  QPushButton* btnClose = nullptr;
  QSplitter* splitter = nullptr;
  const RatingScale& Scale() const { return scale_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 public slots:
  // Every way of closing (Close, Enter, Escape, the close box) comes here and ends with OK,
  // unless the close question keeps the window open.
  void done(int result) override;

 private:
  void FitLink();
  void sgArticlesSelectCell(int row);
  void RadioButton1Click();

  RatingScale scale_;
  Items* items_ = nullptr;
  bool updating_ = false;
  QString shownLink_;  // the current article's link as shown; LinkLabel->Url is what opens
  Explainer explain_;
  bool learning_ = false;
};

// The modal part of showing articles as a table: create the window owned by owner, hand it the
// items and wait until it is closed. The ratings end up in items. The caller alerts the user
// first and learns afterwards.
void ShowItemsTableWindow(QWidget* owner, Items& items, bool showNagScreens, const Explainer& explain = {},
                          bool learning = false);

}  // namespace zibu
