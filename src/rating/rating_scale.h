// The 21-step relevance scale shared by both rating windows: a feedback panel with its three
// labels above a group box holding RadioButton1..RadioButton21.
#pragma once

#include <array>

class QGroupBox;
class QLabel;
class QRadioButton;
class QWidget;

namespace zibu {

// Hint of the scale and its labels.
extern const char* const kRatingScaleHint;

struct RatingScale {
  QWidget* pnlFeedback = nullptr;
  QLabel* lblIrrelevant = nullptr;
  QLabel* lblRateHeading = nullptr;
  QLabel* lblTotallyRelevant = nullptr;
  QGroupBox* gbRelevance = nullptr;
  // buttons[k] is RadioButton(k+1); its rating is its "tag" property.
  std::array<QRadioButton*, 21> buttons{};

  // Builds the panel inside parent (which it fills). RadioButton11 (rating 0) starts checked.
  void Build(QWidget* parent);
  // The tag of the first checked radio button among the children of gbRelevance, in their order.
  int GetRating() const;
  // Checks the button whose tag equals rating (nothing happens for a rating off the scale).
  void SetRating(int rating);
};

// Rating (tag) of RadioButton(number), number 1..21; the names swap at -7 and -6.
int ScaleButtonTag(int number);

}  // namespace zibu
