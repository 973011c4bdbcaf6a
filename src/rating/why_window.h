// TfrmWhy: why a found article or page has its relevance. The words that raised it and those that
// lowered it, each with its contribution, the strongest pairs, and for a keyword match the rule
// line that matched. Opened by "Why?" beside the reason in the rating windows and the spider's
// found pages.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "learning/explanation.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace zibu {

// What "Why?" explains: an article or page as it was shown.
struct WhySubject {
  std::string reason;                 // as the user saw it, e.g. "Article found, relevance=28%"
  std::string text;                   // the plain text that was scored
  std::string matchedRule;            // the keyword rule line that took it, as written; "" when none did
  bool learning = false;              // shown for rating in a learning run, whatever it scored
  std::optional<int> foundRelevance;  // the learned relevance it was shown for, when that decided
};

// Explains a text with what has been learned by now.
using Explainer = std::function<RelevanceExplanation(const std::string& text)>;

// The window's text about why the subject was shown; "" when there is nothing to say.
std::string WhyShownText(const WhySubject& subject);
// The three scores and how they come from the parts, one line each.
std::string WhyScoreText(const RelevanceExplanation& x);
// Said when the relevance now differs from the one the subject was shown for; "" otherwise.
std::string WhyChangedText(const WhySubject& subject, const RelevanceExplanation& x);

class TfrmWhy : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmWhy(QWidget* owner = nullptr);

  void SetExplanation(const WhySubject& subject, const RelevanceExplanation& x);

  QLabel* lblShown = nullptr;
  QLabel* lblScore = nullptr;
  QLabel* lblChanged = nullptr;
  QGroupBox* gbRaised = nullptr;
  QGroupBox* gbLowered = nullptr;
  QTableWidget* sgRaised = nullptr;   // Word, Times, Weight, Contribution; strongest first
  QTableWidget* sgLowered = nullptr;  // the same, most negative first
  QTableWidget* sgPairs = nullptr;    // Pair, Value, Contribution; raising pairs first
  QPushButton* btnClose = nullptr;
};


// Explains the subject now and shows it in a window over `owner` which does not block it and
// closes with it; an error of the explanation is shown in a message box instead (null returned).
TfrmWhy* OpenWhyWindow(QWidget* owner, const WhySubject& subject, const Explainer& explain);

}  // namespace zibu
