#include "feeds/feed_list.h"

#include <algorithm>
#include <optional>

#include "common/numbers.h"
#include "common/ports.h"
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

void SetAllActive(std::vector<TFeed>& feeds, bool active) {
  for (auto& f : feeds) f.active = active;
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
