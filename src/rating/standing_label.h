// The line under a rated article's title that says where its relevance stands among recent scores.
#pragma once

class QLabel;
class QWidget;

namespace zibu {

// Hidden until there is a standing to show.
QLabel* NewStandingLabel(QWidget* parent);

}  // namespace zibu
