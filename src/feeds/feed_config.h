// The feed keys and learning parameters of zibu.conf, and the order in which the feeds window
// loads and writes them. The steps that belong to other parts of the window (the list box, the
// shown-article memory, the learned data, the timer) are reached through hooks, so the order is
// fixed here and tested without a window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/settings.h"
#include "feeds/feed.h"

namespace zibu {

class UserPort;

inline constexpr const char* kFeedSection = "rss";
inline constexpr const char* kMainSection = "main";

// Learning parameters; read from the file, never written by the program.
struct FeedLearningParameters {
  int minWordLength = 4;
  int maxWordLength = 12;
  int maxWordWeight = 50;                       // as stored; the engine brings it into 1..127
  int64_t saveConfigIntervalMs = 10 * 60000LL;  // stored in minutes
};

// The most feeds a load reads (a feed list of that length is already far beyond any use).
inline constexpr int kMaxFeeds = 10000;

// "feed." + n + "." + field
std::string FeedKey(int n, const char* field);

// feedCount, bounded by the feeds the file has keys for and by kMaxFeeds, with the status line
// for a count that had to be cut.
BoundedCount StoredFeedCount(const SettingsFile& file);

// A zibu.conf that holds fewer feeds than its feedCount says (cut short, say): the count it
// states and the feeds it has keys for. A count above kMaxFeeds is not taken as one.
struct MissingFeeds {
  int stated = 0;
  int present = 0;
  bool Any() const { return present < stated; }
};
MissingFeeds FindMissingFeeds(const SettingsFile& file);

// One feed's keys, with their defaults: active true, refresh interval 300, last refresh 0, no
// validators, no title, no folder.
TFeed ReadFeed(const SettingsFile& file, int n);
// The five keys in the order url, active, keywords, refreshInterval, lastRefresh; then the
// validators etag and lastModified, the title and the folder, each only while it is not empty
// (an empty one removes its key, which may belong to the feed that held this number before a
// deletion).
void WriteFeed(SettingsFile& file, int n, const TFeed& feed);

// maxWordWeight missing gives 50 (the stored key cannot be taken as 300: weights are signed bytes).
FeedLearningParameters ReadLearningParameters(const SettingsFile& file);

// Every step of the load is optional; an empty hook is skipped.
struct FeedConfigLoadSteps {
  std::function<void(int index, const TFeed& feed)> feedLoaded;           // 2: per feed, after reading it
  std::function<void()> feedsLoaded;                                      // 3: select the first feed
  std::function<void()> markSaveTime;                                     // 4: LastSaveTime := NowMs
  std::function<void(const FeedLearningParameters&)> learningRead;        // 5
  std::function<void()> loadShownUrls;                                    // 6
  std::function<void()> loadCommonWords;                                  // 7
  std::function<void(int showRelevance, int resultsFormat)> displayRead;  // 8
  std::function<void()> loadLearnedData;                                  // 9
  std::function<void()> startTimer;                                       // 10, after hiding the progress
};

// LoadConfig in its ten steps. Replaces `feeds` with the stored list (as many feeds as
// StoredFeedCount says; its status line, if any, is logged); feeds[n] is complete when
// feedLoaded(n) runs. Step 3 runs only when there is at least one feed.
void LoadFeedConfig(const SettingsFile& file, std::vector<TFeed>& feeds, UserPort& port,
                    const FeedConfigLoadSteps& steps);

// WriteConfig: every feed's keys, then feedCount, showRelevance and resultsFormat, with the
// progress and the line "Saving config...". Keys of feeds beyond the new count stay in the file.
void WriteFeedConfig(SettingsFile& file, const std::vector<TFeed>& feeds, int showRelevance,
                     int resultsFormat, UserPort& port);
// Saves the file WriteFeedConfig wrote into, then logs "Finished saving config..."; when the save
// fails it logs that zibu.conf was not saved, and why, and raises the IoError.
void SaveConfigFile(SettingsFile& file, UserPort& port);

}  // namespace zibu
