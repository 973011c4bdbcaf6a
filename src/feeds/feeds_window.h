// TfrmFeeds: the feeds window. It owns the feed list, the learning engine and the status log,
// and turns its controls' events into calls of the feed core.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

namespace zibu {

class TMainForm;
class SettingsFile;
class LearningEngine;

class TfrmFeeds : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmFeeds(QWidget* parent = nullptr);
  ~TfrmFeeds() override;

  void SetMainForm(TMainForm* frame);
  void LoadConfig(SettingsFile& file);
  void WriteConfig(SettingsFile& file);
  void SaveData();
  void RequestCancel();
  void StopTimer();
  void StartTimer();
  int LearnedWordCount() const;
  LearningEngine& Engine();
  void Log(const std::string& message, bool verbose = false);

 private:
  TMainForm* mainForm_ = nullptr;
  LearningEngine* engine_ = nullptr;
  bool cancelRequested_ = false;
};

}  // namespace zibu
