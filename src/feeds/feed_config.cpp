#include "feeds/feed_config.h"

#include <algorithm>
#include <cmath>

#include "common/codepage.h"
#include "common/errors.h"
#include "common/numbers.h"
#include "common/ports.h"
#include "common/settings.h"
#include "learning/engine.h"
#include "rules/keyword_rules.h"

namespace zibu {

std::string FeedKey(int n, const char* field) {
  return "feed." + std::to_string(n) + "." + field;
}

namespace {

int FeedsPresent(const SettingsFile& file) {
  return EntriesPresent(file.Keys(kFeedSection), "feed.",
                        {".url", ".active", ".keywords", ".refreshInterval", ".lastRefresh", ".etag",
                         ".lastModified", ".title", ".titleUtf8", ".folder"},
                        kMaxFeeds);
}

}  // namespace

BoundedCount StoredFeedCount(const SettingsFile& file) {
  return BoundCount("feedCount", file.ReadInteger(kMainSection, "feedCount", 0), FeedsPresent(file), kMaxFeeds,
                    "feeds");
}

MissingFeeds FindMissingFeeds(const SettingsFile& file) {
  MissingFeeds m;
  // A count beyond any list kept is itself damaged, not a sign of a file cut short.
  const int stated = file.ReadInteger(kMainSection, "feedCount", 0);
  if (stated > kMaxFeeds) return m;
  m.stated = std::max(0, stated);
  m.present = std::min(FeedsPresent(file), m.stated);
  return m;
}

TFeed ReadFeed(const SettingsFile& file, int n) {
  TFeed feed;
  feed.url = file.ReadString(kFeedSection, FeedKey(n, "url"), "");
  feed.active = file.ReadInteger(kFeedSection, FeedKey(n, "active"), 1) != 0;
  feed.keywords = DecodeCrlfLines(file.ReadString(kFeedSection, FeedKey(n, "keywords"), ""));
  feed.refreshInterval = file.ReadInteger(kFeedSection, FeedKey(n, "refreshInterval"), 300);
  // Stored as a decimal number; a text that is not one counts as never refreshed rather than
  // stopping the whole load.
  const auto last = TryStrToFloat(file.ReadString(kFeedSection, FeedKey(n, "lastRefresh"), "0"));
  feed.lastRefresh = last && std::isfinite(*last) ? std::llround(*last) : 0;
  feed.etag = file.ReadString(kFeedSection, FeedKey(n, "etag"), "");
  feed.lastModified = file.ReadString(kFeedSection, FeedKey(n, "lastModified"), "");
  feed.title = file.ReadString(kFeedSection, FeedKey(n, "title"), "");
  // Held apart from the title, which is Windows-1252 like every other key: the characters of a
  // feed's own title that Windows-1252 lacks would otherwise be lost at the next start.
  feed.titleUtf8 = file.ReadString(kFeedSection, FeedKey(n, "titleUtf8"), "");
  if (feed.title.empty() || !IsWellFormedUtf8(feed.titleUtf8)) feed.titleUtf8.clear();
  feed.folder = file.ReadString(kFeedSection, FeedKey(n, "folder"), "");
  return feed;
}

void WriteFeed(SettingsFile& file, int n, const TFeed& feed) {
  file.WriteString(kFeedSection, FeedKey(n, "url"), feed.url);
  file.WriteString(kFeedSection, FeedKey(n, "active"), feed.active ? "1" : "0");
  file.WriteString(kFeedSection, FeedKey(n, "keywords"), EncodeCrlfLines(feed.keywords));
  file.WriteInteger(kFeedSection, FeedKey(n, "refreshInterval"), feed.refreshInterval);
  file.WriteString(kFeedSection, FeedKey(n, "lastRefresh"), std::to_string(feed.lastRefresh));
  for (const auto& [field, value] :
       {std::pair{"etag", &feed.etag}, std::pair{"lastModified", &feed.lastModified},
        std::pair{"title", &feed.title}, std::pair{"titleUtf8", &feed.titleUtf8},
        std::pair{"folder", &feed.folder}}) {
    if (value->empty())
      file.DeleteKey(kFeedSection, FeedKey(n, field));
    else
      file.WriteString(kFeedSection, FeedKey(n, field), *value);
  }
}

FeedLearningParameters ReadLearningParameters(const SettingsFile& file) {
  FeedLearningParameters p;
  p.minWordLength = file.ReadInteger(kMainSection, "minWordLength", 4);
  p.maxWordLength = file.ReadInteger(kMainSection, "maxWordLength", 12);
  p.maxWordWeight = file.ReadInteger(kMainSection, "maxWordWeight", kDefaultMaxWordWeight);
  p.saveConfigIntervalMs =
      static_cast<int64_t>(file.ReadInteger(kMainSection, "saveConfigInterval", 10)) * 60000;
  return p;
}

void LoadFeedConfig(const SettingsFile& file, std::vector<TFeed>& feeds, UserPort& port,
                    const FeedConfigLoadSteps& steps) {
  port.ShowProgress("Loading config...", 0);

  const BoundedCount stored = StoredFeedCount(file);
  if (!stored.note.empty()) port.Log(stored.note);
  const int count = stored.count;
  feeds.clear();
  feeds.reserve(static_cast<size_t>(count));
  for (int n = 0; n < count; ++n) {
    port.ShowProgress("Loading feeds...", static_cast<int>(static_cast<int64_t>(n) * 100 / count));
    feeds.push_back(ReadFeed(file, n));
    if (const size_t leftOut = BoundKeywordLines(feeds.back().keywords))
      port.Log(KeywordsTooLongLine(feeds.back().url, leftOut));
    if (steps.feedLoaded) steps.feedLoaded(n, feeds.back());
  }
  if (!feeds.empty() && steps.feedsLoaded) steps.feedsLoaded();

  if (steps.markSaveTime) steps.markSaveTime();

  const FeedLearningParameters learning = ReadLearningParameters(file);
  if (steps.learningRead) steps.learningRead(learning);

  if (steps.loadShownUrls) steps.loadShownUrls();
  if (steps.loadCommonWords) steps.loadCommonWords();

  const int showRelevance = std::clamp(file.ReadInteger(kMainSection, "showRelevance", 30), 0, 100);
  const int resultsFormat = file.ReadInteger(kMainSection, "resultsFormat", 0);
  if (steps.displayRead) steps.displayRead(showRelevance, resultsFormat);

  port.ShowProgress("Loading word weightings...", 0);
  if (steps.loadLearnedData) steps.loadLearnedData();

  port.HideProgress();
  if (steps.startTimer) steps.startTimer();
}

void WriteFeedConfig(SettingsFile& file, const std::vector<TFeed>& feeds, int showRelevance,
                     int resultsFormat, UserPort& port) {
  port.ShowProgress("Saving config...", 0);
  port.Log("Saving config...");
  const int count = static_cast<int>(feeds.size());
  for (int n = 0; n < count; ++n) {
    port.ShowProgress("Saving feeds...", static_cast<int>(static_cast<int64_t>(n) * 100 / count));
    WriteFeed(file, n, feeds[static_cast<size_t>(n)]);
  }
  file.WriteInteger(kMainSection, "feedCount", count);
  file.WriteInteger(kMainSection, "showRelevance", showRelevance);
  file.WriteInteger(kMainSection, "resultsFormat", resultsFormat);
  port.HideProgress();
}

void SaveConfigFile(SettingsFile& file, UserPort& port) {
  try {
    file.Save();
  } catch (const std::exception& e) {
    port.Log("I have not saved zibu.conf: " + ErrorText(e));
    throw;
  }
  port.Log("Finished saving config...");
}

}  // namespace zibu
