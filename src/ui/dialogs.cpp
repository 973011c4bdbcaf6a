#include "ui/dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "ui/qtext.h"
#include "ui/splash_window.h"

namespace zibu {

namespace {

DialogScript& Script() {
  static DialogScript script;
  return script;
}

std::function<bool(const std::string&)>& BrowserLaunch() {
  static std::function<bool(const std::string&)> launch;
  return launch;
}

QWidget* DialogParent() {
  return QApplication::activeWindow();
}

QString Title() {
  const QString name = QApplication::applicationName();
  return name.isEmpty() ? QStringLiteral("Zibu") : name;
}

// Message box texts use CR LF line breaks; a widget wants plain line feeds.
QString BoxText(const std::string& text) {
  std::string t;
  t.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    t += text[i];
  }
  return ToQ(t);
}

// The splash stays on top of every window: a box shown under it would be half hidden, its
// buttons covered. The next progress step shows the splash again.
void HideSplashForBox() {
  if (SplashScreenExists()) HideProgress();
}

}  // namespace

void ShowMessage(const std::string& text) {
  HideSplashForBox();
  if (Script().onMessage) return Script().onMessage(text);
  QMessageBox::information(DialogParent(), Title(), BoxText(text));
}

bool AskYesNo(const std::string& text) {
  HideSplashForBox();
  if (Script().onQuestion) return Script().onQuestion(text);
  return QMessageBox::question(DialogParent(), Title(), BoxText(text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

std::string ChooseFileToOpen(const std::string& caption, const std::string& filter) {
  if (Script().onChooseFile) return Script().onChooseFile(caption);
  const QString name = QFileDialog::getOpenFileName(DialogParent(), ToQ(caption), QString(), ToQ(filter));
  return QFile::encodeName(name).toStdString();
}

std::string ChooseFileToSave(const std::string& caption, const std::string& filter,
                             const std::string& suggested) {
  if (Script().onChooseFile) return Script().onChooseFile(caption);
  const QString name =
      QFileDialog::getSaveFileName(DialogParent(), ToQ(caption), ToQ(suggested), ToQ(filter));
  return QFile::encodeName(name).toStdString();
}

std::string NoBrowserMessage(const std::string& url) {
  return "I could not open " + url +
         " because no web browser is set up on this computer.\r\n\r\nPlease set a default web browser in "
         "your "
         "desktop's settings, or copy the address into your browser by hand.";
}

void OpenUrl(const std::string& url) {
  if (Script().onOpenUrl) return Script().onOpenUrl(url);
  if (BrowserLaunch()) {
    if (!BrowserLaunch()(url)) ShowMessage(NoBrowserMessage(url));
    return;
  }
  const QString opener = QStandardPaths::findExecutable("xdg-open");
  if (opener.isEmpty()) {
    if (!QDesktopServices::openUrl(QUrl(ToQ(url)))) ShowMessage(NoBrowserMessage(url));
    return;
  }
  // xdg-open tells that it found no browser only by its exit status, once it has looked (the
  // toolkit's own call counts starting it as success). It may wait for the browser it started,
  // so it is watched without waiting; one still running when the program ends is left alone,
  // not killed with the browser it waits for.
  auto* process = new QProcess();
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  QObject::connect(process, &QProcess::finished, [process, url](int code, QProcess::ExitStatus status) {
    process->deleteLater();
    if (status != QProcess::NormalExit || code != 0) ShowMessage(NoBrowserMessage(url));
  });
  QObject::connect(process, &QProcess::errorOccurred, [process, url](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    process->deleteLater();
    ShowMessage(NoBrowserMessage(url));
  });
  process->start(opener, {ToQ(url)});
}

void SetDialogScript(DialogScript script) {
  Script() = std::move(script);
}
void ClearDialogScript() {
  Script() = DialogScript{};
}
void SetBrowserLaunch(std::function<bool(const std::string&)> launch) {
  BrowserLaunch() = std::move(launch);
}

}  // namespace zibu
