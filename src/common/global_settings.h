// The global settings of section "main", read once at start-up and shared by every window.
#pragma once

#include <cstdint>
#include <string>

#include "common/settings.h"

namespace zibu {

inline constexpr const char* kAppVersion = "1.13";
// The most page-monitor windows start-up restores.
inline constexpr int kMaxMonitorWindows = 64;

struct ProxySettings {
  std::string server;  // empty: direct connection
  int port = 0;
  std::string username;
  std::string password;
  bool basicAuthentication = true;  // held only; downloads use the four fields above
};

struct GlobalSettings {
  ProxySettings proxy;
  int64_t repeatIntervalMs = 60 * 60000LL;  // stored in minutes
  bool loadPagesOnStartup = true;
  bool verboseOutput = false;
  bool forceToForeground = true;
  bool showNagScreens = true;
  int64_t runAfterIdleForMs = 0;              // stored in seconds
  int64_t processMessagesIntervalMs = 60000;  // stored in seconds
  bool firstTime = false;
  bool backupDataFiles = true;
  int browserWindowCount = 0;  // bounded as StoredMonitorWindowCount says
  bool checkForNewVersion = true;
  bool desktopNotifications = true;  // each alert also posts a desktop notification
  // A PEM file of authorities that secure downloads trust besides the store (SSL_CERT_FILE,
  // SSL_CERT_DIR, else the system's). Empty: the store only. A relative name is taken against
  // the program home by whoever knows it (TMainForm).
  std::string caFile;
  // Feed downloads a scan runs at once (1..64); never more than two to one server.
  int maxParallelDownloads = 8;
  // The relevance slider moves to the threshold the user's ratings suggest after every
  // presentation of scan results (and so after every learning run). Homes made from the
  // delivered zibu.conf have it on; a file without the key keeps the slider where the user put it.
  bool followSuggestedThreshold = false;
  // The article store forgets what it first saw this many days ago, rated and starred articles
  // apart (0: it keeps everything).
  int keepArticlesDays = 90;
  // Selecting an article in the reading list marks it read after this long (-1: never).
  int markReadDelayMs = 1500;
  // Whether the reading window was open at exit: start-up opens it again.
  bool readingListOpen = false;
};

// Reads section "main" with every default and conversion: flags true only for exactly "true",
// a missing or non-numeric integer gives its default, minutes and seconds become milliseconds.
GlobalSettings ReadGlobalSettings(const SettingsFile& file);

// browserWindowCount, bounded by the "window_" sections the file holds and by
// kMaxMonitorWindows, with the status line for a count that had to be cut.
BoundedCount StoredMonitorWindowCount(const SettingsFile& file);

}  // namespace zibu
