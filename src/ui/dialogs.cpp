#include "ui/dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "ui/qtext.h"

namespace zibu {

namespace {

DialogScript& Script() {
  static DialogScript script;
  return script;
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

}  // namespace

void ShowMessage(const std::string& text) {
  if (Script().onMessage) return Script().onMessage(text);
  QMessageBox::information(DialogParent(), Title(), BoxText(text));
}

bool AskYesNo(const std::string& text) {
  if (Script().onQuestion) return Script().onQuestion(text);
  return QMessageBox::question(DialogParent(), Title(), BoxText(text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void OpenUrl(const std::string& url) {
  if (Script().onOpenUrl) return Script().onOpenUrl(url);
  QDesktopServices::openUrl(QUrl(ToQ(url)));
}

void SetDialogScript(DialogScript script) {
  Script() = std::move(script);
}
void ClearDialogScript() {
  Script() = DialogScript{};
}

}  // namespace zibu
