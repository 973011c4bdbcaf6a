// Helpers shared by the learning tests: a port that records what the engine tells the user, a
// scratch folder, and the six example ratings.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/ports.h"
#include "learning/engine.h"

namespace zibu::testing {

class RecordingPort : public UserPort {
 public:
  struct LogLine {
    std::string text;
    bool verbose;
  };
  void Log(const std::string& message, bool verbose) override { logs.push_back({message, verbose}); }
  void ShowProgress(const std::string& message, int percent) override {
    progress.push_back(message + " " + std::to_string(percent));
  }
  void HideProgress() override { ++hides; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(const std::string&) override { return false; }
  void ProcessMessagesPaced() override {
    ++paced;
    if (onPaced) onPaced();
  }

  bool Logged(const std::string& text) const {
    for (const auto& l : logs)
      if (l.text == text) return true;
    return false;
  }
  void Reset() {
    logs.clear();
    progress.clear();
    messages.clear();
    hides = 0;
    paced = 0;
  }

  std::vector<LogLine> logs;
  std::vector<std::string> progress;
  std::vector<std::string> messages;
  int hides = 0;
  int paced = 0;
  std::function<void()> onPaced;
};

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zibu-learning-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
    path_ += "/";
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The six ratings of the weightings example, in their order.
inline const std::vector<std::pair<int, std::string>>& ExampleRatings() {
  static const std::vector<std::pair<int, std::string>> ratings = {
      {9, "jordan abdullah"}, {8, "jordan sand"},     {-8, "jordan's katie"},
      {-5, "katie sands"},    {-3, "katie abdullah"}, {7, "sand abdullah's"}};
  return ratings;
}

// The eight texts scored after the example: pairs that differ only in word forms and order.
inline constexpr const char* kEightTexts[] = {"jordan abdullah",
                                              "abdullahs jordan",
                                              "jordan sands",
                                              "sand jordan",
                                              "jordan katie",
                                              "katies jordan",
                                              "jordan katie sand abdullah",
                                              "abdullah katie's sand jordan"};

// Empty learned data, maxWordWeight 50, the six ratings applied twice.
inline void LearnExample(LearningEngine& engine) {
  engine.ClearLearnedData();
  engine.SetMaxWordWeight(50);
  for (int round = 0; round < 2; ++round)
    for (const auto& [rating, text] : ExampleRatings()) engine.LearnFromRating(rating, text);
}

}  // namespace zibu::testing
