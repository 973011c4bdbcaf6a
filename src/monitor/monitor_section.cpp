#include "monitor/monitor_section.h"

#include "common/settings.h"

namespace zibu {

TPageMonitorSection ReadPageMonitorSection(const SettingsFile& file, const std::string& section) {
  TPageMonitorSection values;
  values.url = file.ReadString(section, "url", "");
  values.refreshInterval = file.ReadString(section, "refreshInterval", "");
  values.alerts = DecodeCrlfLines(file.ReadString(section, "alerts", ""));
  values.startTimeToScan = file.ReadString(section, "startTimeToScan", "00:00");
  values.endTimeToScan = file.ReadString(section, "endTimeToScan", "23:59");
  return values;
}

void WritePageMonitorSection(SettingsFile& file, const std::string& section,
                             const TPageMonitorSection& values) {
  file.WriteString(section, "url", values.url);
  file.WriteString(section, "refreshInterval", values.refreshInterval);
  file.WriteString(section, "alerts", EncodeCrlfLines(values.alerts));
  file.WriteString(section, "startTimeToScan", values.startTimeToScan);
  file.WriteString(section, "endTimeToScan", values.endTimeToScan);
}

}  // namespace zibu
