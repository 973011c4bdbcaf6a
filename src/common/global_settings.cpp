#include "common/global_settings.h"

#include <algorithm>

#include "common/settings.h"

namespace zibu {

GlobalSettings ReadGlobalSettings(const SettingsFile& f) {
  GlobalSettings g;
  const std::string m = "main";
  g.proxy.server = f.ReadString(m, "proxyHost", "");
  g.proxy.port = f.ReadInteger(m, "proxyPort", 0);
  g.proxy.username = f.ReadString(m, "proxyUsername", "");
  g.proxy.password = f.ReadString(m, "proxyPassword", "");
  g.proxy.basicAuthentication = f.ReadFlag(m, "proxyBasicAuthentication", true);
  g.repeatIntervalMs = int64_t{f.ReadInteger(m, "repeatInterval", 60)} * 60000;
  g.loadPagesOnStartup = f.ReadFlag(m, "loadPagesOnStartup", true);
  g.verboseOutput = f.ReadFlag(m, "verboseOutput", false);
  g.forceToForeground = f.ReadFlag(m, "forceToForeground", true);
  g.showNagScreens = f.ReadFlag(m, "showNagScreens", true);
  g.runAfterIdleForMs = int64_t{f.ReadInteger(m, "runAfterIdleFor", 0)} * 1000;
  g.processMessagesIntervalMs = int64_t{f.ReadInteger(m, "processMessagesInterval", 60)} * 1000;
  g.firstTime = f.ReadFlag(m, "firstTime", false);
  g.backupDataFiles = f.ReadFlag(m, "backupDataFiles", true);
  g.browserWindowCount = StoredMonitorWindowCount(f).count;
  g.checkForNewVersion = f.ReadFlag(m, "checkForNewVersion", true);
  g.desktopNotifications = f.ReadFlag(m, "desktopNotifications", true);
  g.caFile = f.ReadString(m, "caFile", "");
  // Below one nothing would ever download; far above, a scan would only open sockets faster
  // than any server answers them.
  g.maxParallelDownloads = std::clamp(f.ReadInteger(m, "maxParallelDownloads", 8), 1, 64);
  g.followSuggestedThreshold = f.ReadFlag(m, "followSuggestedThreshold", false);
  g.keepArticlesDays = std::clamp(f.ReadInteger(m, "keepArticlesDays", 90), 0, 100000);
  g.markReadDelayMs = std::clamp(f.ReadInteger(m, "markReadDelayMs", 1500), -1, 600000);
  g.readingListOpen = f.ReadFlag(m, "readingListOpen", false);
  return g;
}

BoundedCount StoredMonitorWindowCount(const SettingsFile& f) {
  const int present = EntriesPresent(f.Sections(), "window_", {""}, kMaxMonitorWindows);
  return BoundCount("browserWindowCount", f.ReadInteger("main", "browserWindowCount", 0), present,
                    kMaxMonitorWindows, "page-monitor window sections");
}

}  // namespace zibu
