// The UserPort a window hands to core code: log lines go to its status log, progress to the
// splash, messages and questions to message boxes.
#pragma once

#include <functional>
#include <string>

#include "common/ports.h"

namespace zibu {

class ProgramPort;
class StatusLog;

class WindowUserPort : public UserPort {
 public:
  // `program` paces the event handling of long operations; without one they handle none.
  WindowUserPort(StatusLog* log, ProgramPort* program);
  // For windows whose Log does more than the status log (or has none yet).
  WindowUserPort(std::function<void(const std::string&, bool)> log, ProgramPort* program);

  void Log(const std::string& message, bool verbose = false) override;
  void LogQuoting(const std::string& message, const std::string& messageUtf8, bool verbose = false) override;
  // Where LogQuoting's UTF-8 lines go; without it they go to Log in Windows-1252.
  void SetUtf8Log(std::function<void(const std::string&, bool)> log) { logUtf8_ = std::move(log); }
  void ShowProgress(const std::string& message, int percent) override;
  void HideProgress() override;
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void ProcessMessagesPaced() override;

 private:
  std::function<void(const std::string&, bool)> log_;
  std::function<void(const std::string&, bool)> logUtf8_;
  ProgramPort* program_;
};

}  // namespace zibu
