#include "feeds/feeds_window.h"

namespace zibu {

TfrmFeeds::TfrmFeeds(QWidget* parent) : QWidget(parent) { setWindowTitle("RSS/Atom feeds"); }

TfrmFeeds::~TfrmFeeds() = default;

void TfrmFeeds::SetMainForm(TMainForm* frame) { mainForm_ = frame; }
void TfrmFeeds::LoadConfig(SettingsFile&) {}
void TfrmFeeds::WriteConfig(SettingsFile&) {}
void TfrmFeeds::SaveData() {}
void TfrmFeeds::RequestCancel() { cancelRequested_ = true; }
void TfrmFeeds::StopTimer() {}
void TfrmFeeds::StartTimer() {}
int TfrmFeeds::LearnedWordCount() const { return 0; }
LearningEngine& TfrmFeeds::Engine() { return *engine_; }
void TfrmFeeds::Log(const std::string&, bool) {}

}  // namespace zibu
