// A UserPort that records what the core asked of the user, for the feed tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/ports.h"

namespace zibu::test {

class RecordingPort : public UserPort {
 public:
  struct Line {
    std::string text;
    bool verbose;
  };

  void Log(const std::string& message, bool verbose = false) override { lines.push_back({message, verbose}); }
  void ShowProgress(const std::string& message, int percent) override {
    progress.push_back(message + " " + std::to_string(percent) + "%");
  }
  void HideProgress() override { progress.push_back("hide"); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    return answer;
  }
  void ProcessMessagesPaced() override {}

  // The log texts, verbose ones included.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(l.text);
    return out;
  }
  bool Logged(const std::string& text, bool verbose) const {
    for (const auto& l : lines)
      if (l.text == text && l.verbose == verbose) return true;
    return false;
  }

  std::vector<Line> lines;
  std::vector<std::string> progress;
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  bool answer = true;
};

}  // namespace zibu::test
