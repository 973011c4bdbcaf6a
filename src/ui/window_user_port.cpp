#include "ui/window_user_port.h"

#include "ui/dialogs.h"
#include "ui/splash_window.h"
#include "ui/status_log.h"
#include "ui/window_ports.h"

namespace zibu {

WindowUserPort::WindowUserPort(StatusLog* log, ProgramPort* program)
    : log_([log](const std::string& m, bool v) {
        if (log) log->Log(m, v);
      }),
      logUtf8_([log](const std::string& m, bool v) {
        if (log) log->LogUtf8(m, v);
      }),
      program_(program) {}

WindowUserPort::WindowUserPort(std::function<void(const std::string&, bool)> log, ProgramPort* program)
    : log_(std::move(log)), program_(program) {}

void WindowUserPort::Log(const std::string& message, bool verbose) {
  if (log_) log_(message, verbose);
}
void WindowUserPort::LogQuoting(const std::string& message, const std::string& messageUtf8, bool verbose) {
  if (messageUtf8.empty() || !logUtf8_)
    Log(message, verbose);
  else
    logUtf8_(messageUtf8, verbose);
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
  if (program_) program_->ProcessMessagesPaced();
}

}  // namespace zibu
