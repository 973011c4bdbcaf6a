#include "feeds/feed_list.h"

#include <algorithm>
#include <map>
#include <optional>

#include "common/codepage.h"
#include "common/numbers.h"
#include "common/ports.h"
#include "rules/keyword_rules.h"
#include "common/text.h"

namespace zibu {

bool IsAcceptableFeedUrl(std::string_view url) {
  return UpperCase(url.substr(0, 7)) == "HTTP://" || UpperCase(url.substr(0, 8)) == "HTTPS://";
}

TFeed MakeNewFeed(const std::string& url, bool active, std::vector<std::string> keywords,
                  std::string_view refreshText) {
  TFeed feed;
  feed.url = url;
  feed.active = active;
  feed.keywords = std::move(keywords);
  feed.refreshInterval = TryStrToInt(refreshText).value_or(kDefaultRefreshInterval);
  feed.lastRefresh = 0;
  return feed;
}

void ApplyFeedDetails(TFeed& feed, bool active, std::vector<std::string> keywords,
                      std::string_view refreshText, UserPort& port) {
  feed.active = active;
  feed.keywords = std::move(keywords);
  if (const size_t leftOut = BoundKeywordLines(feed.keywords)) port.Log(KeywordsTooLongLine(feed.url, leftOut));
  const std::optional<int32_t> interval = TryStrToInt(refreshText);
  if (!interval || *interval < kMinRefreshInterval) {
    port.Log("Invalid refresh interval, setting to default value " + std::to_string(kMinRefreshInterval));
    feed.refreshInterval = kMinRefreshInterval;
  } else {
    feed.refreshInterval = *interval;
  }
  port.Log("Feed details updated");
}

void DeleteFeedAt(std::vector<TFeed>& feeds, size_t index) {
  if (index < feeds.size()) feeds.erase(feeds.begin() + static_cast<std::ptrdiff_t>(index));
}

std::string DeleteFeedsQuestion(size_t count) {
  if (count == 1) return kDeleteFeedQuestion;
  return "Delete " + std::to_string(count) + " feeds?";
}

std::vector<std::pair<size_t, TFeed>> DeleteFeedsAt(std::vector<TFeed>& feeds, std::vector<size_t> indices) {
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  while (!indices.empty() && indices.back() >= feeds.size()) indices.pop_back();
  std::vector<std::pair<size_t, TFeed>> deleted;
  deleted.reserve(indices.size());
  for (size_t index : indices) deleted.emplace_back(index, feeds[index]);
  // From the back, so every index still names the feed it named.
  for (auto it = indices.rbegin(); it != indices.rend(); ++it) DeleteFeedAt(feeds, *it);
  return deleted;
}

void SetAllActive(std::vector<TFeed>& feeds, bool active) {
  for (auto& f : feeds) f.active = active;
}

std::string FeedName(const TFeed& feed) {
  return feed.title.empty() ? feed.url : feed.title;
}

std::string FeedNameUtf8(const TFeed& feed) {
  return feed.title.empty() ? Win1252ToUtf8(feed.url) : DisplayUtf8(feed.title, feed.titleUtf8);
}

std::string DeletedFeedLine(size_t index, const TFeed& feed) {
  std::string line = "Deleted feed " + std::to_string(index) + ": " + FeedName(feed);
  if (!feed.title.empty()) line += " (" + feed.url + ")";
  return line;
}

std::string DeletedFeedLineUtf8(size_t index, const TFeed& feed) {
  if (feed.title.empty() || feed.titleUtf8.empty()) return {};
  return "Deleted feed " + std::to_string(index) + ": " + feed.titleUtf8 + " (" + Win1252ToUtf8(feed.url) + ")";
}

std::vector<FeedListRow> FeedListRows(const std::vector<TFeed>& feeds) {
  // Group 0 holds the feeds in no folder; the others follow in order of first appearance.
  std::map<std::string, size_t> groupOf{{"", 0}};
  std::vector<std::vector<int>> groups(1);
  for (size_t i = 0; i < feeds.size(); ++i) {
    const auto found = groupOf.emplace(feeds[i].folder, groups.size());
    if (found.second) groups.emplace_back();
    groups[found.first->second].push_back(static_cast<int>(i));
  }
  std::vector<FeedListRow> rows;
  rows.reserve(feeds.size() + groups.size());
  for (const std::vector<int>& group : groups) {
    if (group.empty()) continue;
    const std::string& folder = feeds[static_cast<size_t>(group.front())].folder;
    if (!folder.empty()) rows.push_back({-1, folder, folder});
    for (int i : group) {
      const TFeed& feed = feeds[static_cast<size_t>(i)];
      rows.push_back({i, FeedName(feed), feed.url, feed.title.empty() ? std::string() : feed.titleUtf8, !feed.active});
    }
  }
  return rows;
}

const std::vector<std::string>& CommonIntervals() {
  static const std::vector<std::string> items = {"1 minute (60)",     "5 minutes (300)", "15 minutes (900)",
                                                 "30 minutes (1800)", "1 hour (3600)",   "2 hours (7200)",
                                                 "3 hours (10800)",   "4 hours (14440)", "8 hours (28800)",
                                                 "24 hours (86400)",  "7 days (604800)"};
  return items;
}

int CommonIntervalIndexFor(std::string_view refreshText) {
  const std::string needle = "(" + std::string(refreshText) + ")";
  const auto& items = CommonIntervals();
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].find(needle) != std::string::npos) return static_cast<int>(i);
  return -1;
}

std::string CommonIntervalValue(std::string_view item) {
  const size_t open = item.find('(');
  const size_t close = item.find(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return {};
  return std::string(item.substr(open + 1, close - open - 1));
}

}  // namespace zibu
