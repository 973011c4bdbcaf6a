#include "monitor/monitor_window.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "common/settings.h"
#include "ui/qtext.h"

namespace zibu {

TfrmPageMonitor::TfrmPageMonitor(TMainForm* frame, QWidget* parent) : QWidget(parent), mainForm(frame) {
  setWindowTitle("Browser window");
  auto* form = new QFormLayout(this);
  txtAddress = new QLineEdit(this);
  txtRefreshInterval = new QLineEdit("60", this);
  txtStartTime = new QLineEdit("00:00", this);
  txtEndTime = new QLineEdit("23:59", this);
  txtAlerts = new QPlainTextEdit(this);
  txtAlerts->setLineWrapMode(QPlainTextEdit::NoWrap);
  form->addRow("Address", txtAddress);
  form->addRow("Refresh (seconds, min 60)", txtRefreshInterval);
  form->addRow("Only scan between", txtStartTime);
  form->addRow("and", txtEndTime);
  form->addRow("Keywords", txtAlerts);
}

void TfrmPageMonitor::loadSettings(SettingsFile& file, const std::string& section) {
  txtAddress->setText(ToQ(file.ReadString(section, "url", "")));
  txtRefreshInterval->setText(ToQ(file.ReadString(section, "refreshInterval", "")));
  std::string alerts;
  for (const auto& line : DecodeCrlfLines(file.ReadString(section, "alerts", ""))) alerts += line + "\n";
  if (!alerts.empty()) alerts.pop_back();
  txtAlerts->setPlainText(ToQ(alerts));
  txtStartTime->setText(ToQ(file.ReadString(section, "startTimeToScan", "00:00")));
  txtEndTime->setText(ToQ(file.ReadString(section, "endTimeToScan", "23:59")));
}

void TfrmPageMonitor::saveSettings(SettingsFile& file, const std::string& section) {
  file.WriteString(section, "url", FromQ(txtAddress->text()));
  file.WriteString(section, "refreshInterval", FromQ(txtRefreshInterval->text()));
  std::string alerts = FromQ(txtAlerts->toPlainText());
  std::string stored;
  for (char c : alerts) {
    if (c == '\n')
      stored += "CRLF";
    else
      stored += c;
  }
  file.WriteString(section, "alerts", stored);
  file.WriteString(section, "startTimeToScan", FromQ(txtStartTime->text()));
  file.WriteString(section, "endTimeToScan", FromQ(txtEndTime->text()));
}

void TfrmPageMonitor::loadPage() { ++loadCount_; }

}  // namespace zibu
