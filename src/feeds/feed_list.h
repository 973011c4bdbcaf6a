// The editing rules of the feed list, free of any toolkit: the feeds window calls these from
// its handlers and keeps only the control state (selection, SelectingFeed) itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "feeds/feed.h"

namespace zibu {

class UserPort;

inline constexpr const char* kFeedUrlMessage = "Feed URL must start with http:// or https://";
inline constexpr const char* kSelectFeedToDeleteMessage = "Please select a feed to delete";
inline constexpr const char* kSelectFeedToOpenMessage = "Please select a feed to open";
inline constexpr const char* kDeleteFeedQuestion = "Delete feed?";
// The smallest refresh interval "Update" accepts, in seconds.
inline constexpr int kMinRefreshInterval = 60;
// The interval a new feed gets when its box does not hold an integer.
inline constexpr int kDefaultRefreshInterval = 300;

// Whether a typed address may be added: it must begin with "HTTP://" or "HTTPS://" in any
// letter case.
bool IsAcceptableFeedUrl(std::string_view url);

// The feed "Add" makes from the controls; a refresh text that is not an integer gives 300, and
// no minimum applies here.
TFeed MakeNewFeed(const std::string& url, bool active, std::vector<std::string> keywords,
                  std::string_view refreshText);

// What "Update" applies to the selected feed: the active flag, the rule lines and the interval.
// An interval text that is not an integer, or below 60, gives 60 with the invalid-interval line.
// Logs "Feed details updated".
void ApplyFeedDetails(TFeed& feed, bool active, std::vector<std::string> keywords,
                      std::string_view refreshText, UserPort& port);

// Removes feed `index`, moving the following ones up.
void DeleteFeedAt(std::vector<TFeed>& feeds, size_t index);

// The one question before deleting `count` feeds: "Delete feed?" for one, "Delete 3 feeds?" for
// several.
std::string DeleteFeedsQuestion(size_t count);

// Removes the feeds at `indices` (in any order; repeats and indices past the end are ignored) and
// gives them back with the index each had, in list order, for the status lines.
std::vector<std::pair<size_t, TFeed>> DeleteFeedsAt(std::vector<TFeed>& feeds, std::vector<size_t> indices);

void SetAllActive(std::vector<TFeed>& feeds, bool active);

// What the feed list calls a feed: its title, or its address while it has none.
std::string FeedName(const TFeed& feed);
// The same name to show, in UTF-8: with the characters of the feed's own title.
std::string FeedNameUtf8(const TFeed& feed);

// The status line of a deletion: "Deleted feed " + its number, then its name, and its address
// when the name is not the address.
std::string DeletedFeedLine(size_t index, const TFeed& feed);
// The same line with the name's own characters, for a log that shows them; "" where it is
// DeletedFeedLine itself.
std::string DeletedFeedLineUtf8(size_t index, const TFeed& feed);

// One row of the feed list: a feed (its name, its address as the tool tip) or the heading of a
// folder (feed -1).
struct FeedListRow {
  int feed = -1;
  std::string text;
  std::string toolTip;
  std::string textUtf8 = {};  // the text with the feed title's own characters; "" where it is text
  // A feed the scans pass by: the list marks it, for the eye and for a screen reader.
  bool inactive = false;
};

// How the feed list marks an inactive feed after its name, in what it shows and what it says.
inline constexpr const char* kInactiveMark = " (inactive)";

// The rows of the feed list: first the feeds in no folder, then each folder, in the order its
// first feed has in the list, as its heading followed by its feeds; within each, list order.
// Every feed has exactly one row.
std::vector<FeedListRow> FeedListRows(const std::vector<TFeed>& feeds);

// The items of the common-intervals drop-down, "4 hours (14440)" among them as it always was.
const std::vector<std::string>& CommonIntervals();
// The first item whose text contains "(" + refreshText + ")", or -1.
int CommonIntervalIndexFor(std::string_view refreshText);
// The text between the first "(" and the first ")" of an item.
std::string CommonIntervalValue(std::string_view item);

}  // namespace zibu
