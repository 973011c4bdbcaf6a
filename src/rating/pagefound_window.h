// TfrmPageFound: shows one found article (or one matching web page) and, when asked to, takes
// the user's rating on the 21-step scale.
#pragma once

#include <QDialog>
#include <string>

#include "common/ports.h"
#include "rating/rating_scale.h"
#include "rating/why_window.h"

class QCheckBox;
class QFont;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace zibu {

class TLinkLabel;

class TfrmPageFound : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmPageFound(QWidget* owner = nullptr);

  // Fills the window; title and description arrive as HTML and are shown as plain text.
  void SetArticle(const std::string& caption, const std::string& link, const std::string& title,
                  const std::string& description, bool ratingPanelVisible);
  // What the window shows instead where the feed gave characters beyond Windows-1252 (UTF-8;
  // an empty text keeps the single-byte one). The link still opens in its URI form.
  void SetShownTexts(const std::string& titleUtf8, const std::string& descriptionUtf8, const std::string& linkUtf8);
  // Tag of the checked scale button; 0 when the user did not touch the scale.
  int GetRating() const { return scale_.GetRating(); }
  bool Enough() const;
  // Offers "Why?", which explains the article with `explain`; without this the button is hidden.
  void SetWhy(const WhySubject& subject, Explainer explain);
  // Where the article's relevance stands among the recent scores (see StandingText); the line
  // is hidden when `standing` is empty.
  void SetStanding(int relevance, const std::string& standing);
  void btnWhyClick();

  QLabel* Label1 = nullptr;
  QLabel* lblStanding = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QWidget* pnlButtons = nullptr;
  QPushButton* Button1 = nullptr;
  QCheckBox* cbEnough = nullptr;
  QPushButton* btnWhy = nullptr;
  QWidget* pnlRateRelevance = nullptr;
  TLinkLabel* LinkLabel = nullptr;
  const RatingScale& Scale() const { return scale_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitTitleAndLink();

  RatingScale scale_;
  QString title_;  // whole, as Label1 shows it when it fits
  QString link_;
  WhySubject why_;
  Explainer explain_;
};

// `text` as it fits in `lines` lines of `width` pixels when word-wrapped: unchanged when it fits,
// otherwise cut with "..." at the end of the last line.
QString ElideToLines(const QString& text, const QFont& font, int width, int lines);

// Steps 2 to 6 of showing a found article: create the window owned by owner, fill it, show it
// modally and return what the user chose. The caller alerts the user first.
PageFoundResult ShowPageFoundWindow(QWidget* owner, const std::string& reason, const std::string& title,
                                    const std::string& description, const std::string& link,
                                    bool ratingPanelVisible);
// The same for a feed article with its rating scale, whose "Why?" explains it with `explain`.
PageFoundResult ShowPageFoundWindow(QWidget* owner, const FoundArticle& article, const Explainer& explain);
// From now on a rating window is not shown, and one open is answered "ending" (the program is
// closing): the articles not answered stay unseen.
void EndRatingWindows();

}  // namespace zibu
