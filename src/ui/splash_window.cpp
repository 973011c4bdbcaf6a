#include "ui/splash_window.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/qtext.h"

namespace zibu {

TfrmSplashScreen::TfrmSplashScreen(QWidget* parent)
    : QFrame(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setWindowTitle("Zibu - loading");
  setObjectName("frmSplashScreen");
  setFixedSize(371, 99);
  setAutoFillBackground(true);
  setFrameStyle(QFrame::Box | QFrame::Plain);

  Label2 = new QLabel("Zibu", this);
  QFont bold = Label2->font();
  bold.setBold(true);
  bold.setPointSize(bold.pointSize() + 6);
  Label2->setFont(bold);
  Label2->setAlignment(Qt::AlignCenter);

  Label1 = new QLabel("Zibu is loading...please wait", this);
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setFixedWidth(355);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 6, 8, 4);
  layout->addWidget(Label2);
  layout->addWidget(Label1, 0, Qt::AlignHCenter);
  layout->addStretch();
  layout->addWidget(ProgressBar1);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

namespace {
TfrmSplashScreen* theSplash = nullptr;
}

TfrmSplashScreen* SplashScreen() {
  if (!theSplash) theSplash = new TfrmSplashScreen();
  return theSplash;
}

bool SplashScreenExists() {
  return theSplash != nullptr;
}

void ShowProgress(const std::string& message, int percent) {
  TfrmSplashScreen* s = SplashScreen();
  if (!s->isVisible()) s->show();
  s->raise();
  s->Label1->setText(ToQ(message));
  s->ProgressBar1->setValue(std::clamp(percent, 0, 100));
  s->repaint();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void HideProgress() {
  SplashScreen()->hide();
}

}  // namespace zibu
