#include "app/main_form.h"

#include <QMdiArea>

#include "app/platform.h"

namespace zibu {

SpiderGate SpiderGateFor(int learnedWords) {
  if (learnedWords < 100) return SpiderGate::Refuse;
  if (learnedWords <= 999) return SpiderGate::Ask;
  return SpiderGate::Open;
}

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Zibu");
  mdiArea_ = new QMdiArea(this);
  setCentralWidget(mdiArea_);
}

TMainForm::~TMainForm() = default;

void TMainForm::AttachFeeds(TfrmFeeds* feeds) { feeds_ = feeds; }
void TMainForm::StartUp() { startupDone_ = true; }
void TMainForm::SaveAllConfig() { ++saveCount_; }
QWidget* TMainForm::NewPageMonitorWindow() { return nullptr; }
void TMainForm::NewSpiderWindow() {}
void TMainForm::AlertUser() {}
PageFoundResult TMainForm::ShowPageFound(const std::string&, const std::string&, const std::string&,
                                         const std::string&, bool) {
  return {};
}
std::string TMainForm::ProgramFolder() const { return zibu::ProgramFolder(); }
void TMainForm::ShowFeeds() {}
void TMainForm::NewWebPage() {}
void TMainForm::SaveConfigCommand() {}
void TMainForm::VisitHomePage() {}
void TMainForm::TileHorizontally() {}
void TMainForm::TileVertically() {}
void TMainForm::ArrangeAll() {}
void TMainForm::AppMinimize() {}
void TMainForm::TrayIconMessage(QSystemTrayIcon::ActivationReason) {}
bool TMainForm::TrayIconVisible() const { return false; }
void TMainForm::closeEvent(QCloseEvent* e) { QMainWindow::closeEvent(e); }
void TMainForm::changeEvent(QEvent* e) { QMainWindow::changeEvent(e); }
bool TMainForm::event(QEvent* e) { return QMainWindow::event(e); }
void TMainForm::CreateActions() {}
void TMainForm::ShowWelcomeOnce() {}
void TMainForm::RunVersionCheck() {}
QMdiSubWindow* TMainForm::AddChild(QWidget*) { return nullptr; }
void TMainForm::SetChildCaption(QMdiSubWindow*) {}
void TMainForm::RestoreFromTray() {}

}  // namespace zibu
