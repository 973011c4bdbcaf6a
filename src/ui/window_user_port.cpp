#include "ui/window_user_port.h"

#include "app/platform.h"
#include "ui/dialogs.h"
#include "ui/splash_window.h"
#include "ui/status_log.h"

namespace zibu {

WindowUserPort::WindowUserPort(StatusLog* log)
    : log_([log](const std::string& m, bool v) {
        if (log) log->Log(m, v);
      }) {}

WindowUserPort::WindowUserPort(std::function<void(const std::string&, bool)> log) : log_(std::move(log)) {}

void WindowUserPort::Log(const std::string& message, bool verbose) {
  if (log_) log_(message, verbose);
}
void WindowUserPort::ShowProgress(const std::string& message, int percent) {
  zibu::ShowProgress(message, percent);
}
void WindowUserPort::HideProgress() {
  zibu::HideProgress();
}
void WindowUserPort::ShowMessage(const std::string& text) {
  zibu::ShowMessage(text);
}
bool WindowUserPort::AskYesNo(const std::string& text) {
  return zibu::AskYesNo(text);
}
void WindowUserPort::ProcessMessagesPaced() {
  zibu::ProcessMessagesPaced();
}

}  // namespace zibu
