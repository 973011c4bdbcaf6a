// A page-monitor window's own section of zibu.conf ("window_" and a number).
#pragma once

#include <string>
#include <vector>

namespace zibu {

class SettingsFile;

// The texts of the window's controls as they are stored; nothing else holds them.
struct TPageMonitorSection {
  std::string url;
  std::string refreshInterval;      // as typed; empty disables automatic reloads
  std::vector<std::string> alerts;  // keyword rule lines
  std::string startTimeToScan = "00:00";
  std::string endTimeToScan = "23:59";
};

// Reads the keys in the order url, refreshInterval, alerts, startTimeToScan, endTimeToScan; the
// rule lines come back from their one-line form, every "CRLF" in any letter case a line break.
TPageMonitorSection ReadPageMonitorSection(const SettingsFile& file, const std::string& section);
void WritePageMonitorSection(SettingsFile& file, const std::string& section,
                             const TPageMonitorSection& values);

}  // namespace zibu
