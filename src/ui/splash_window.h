// TfrmSplashScreen: shown while the program starts, then the progress window of every long
// load or save.
#pragma once

#include <QFrame>
#include <string>

class QLabel;
class QProgressBar;

namespace zibu {

class TfrmSplashScreen : public QFrame {
  Q_OBJECT

 public:
  explicit TfrmSplashScreen(QWidget* parent = nullptr);

  QLabel* Label1;  // the message line
  QLabel* Label2;  // the product name
  QProgressBar* ProgressBar1;
};

// The one splash window of the run, created on first use.
TfrmSplashScreen* SplashScreen();
bool SplashScreenExists();
// Shows the splash if hidden, brings it to the front, sets message and position (0..100) and
// lets it repaint at once.
void ShowProgress(const std::string& message, int percent);
void HideProgress();

}  // namespace zibu
