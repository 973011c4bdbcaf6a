// TfrmPageMonitor: one watched web page, a child window of the main frame.
// Placeholder until the page monitor lands: it keeps its section's keys so that restoring and
// saving windows round-trips, and shows the address it would load.
#pragma once

#include <QWidget>
#include <string>

class QLineEdit;
class QPlainTextEdit;

namespace zibu {

class SettingsFile;
class TMainForm;

class TfrmPageMonitor : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmPageMonitor(TMainForm* frame, QWidget* parent = nullptr);

  void SetMainForm(TMainForm* frame) { mainForm = frame; }
  void loadSettings(SettingsFile& file, const std::string& section);
  void saveSettings(SettingsFile& file, const std::string& section);
  void loadPage();

  // How many times loadPage ran.
  int loadCount() const { return loadCount_; }

  QLineEdit* txtAddress;
  QLineEdit* txtRefreshInterval;
  QLineEdit* txtStartTime;
  QLineEdit* txtEndTime;
  QPlainTextEdit* txtAlerts;

 private:
  TMainForm* mainForm = nullptr;
  int loadCount_ = 0;
};

}  // namespace zibu
