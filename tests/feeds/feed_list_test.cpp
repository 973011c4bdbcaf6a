#include "feeds/feed_list.h"

#include <gtest/gtest.h>

#include "recording_port.h"

namespace zibu {
namespace {

using test::RecordingPort;

TEST(FeedList, OnlyHttpAndHttpsAddressesInAnyCaseAreAccepted) {
  for (const char* url : {"http://example.org/rss", "HtTp://example.org/rss", "https://example.org/rss",
                          "HTTPS://example.org/rss", "https://"})
    EXPECT_TRUE(IsAcceptableFeedUrl(url)) << url;
  for (const char* url : {"example.org/rss", "http:/", "https:/x", "httpss://x", "ftp://example.org/rss",
                          "feed://example.org/rss", ""})
    EXPECT_FALSE(IsAcceptableFeedUrl(url)) << url;
  EXPECT_STREQ(kFeedUrlMessage, "Feed URL must start with http:// or https://");
}

TEST(FeedList, AddTakesAnyIntegerAndDefaultsTo300) {
  EXPECT_EQ(MakeNewFeed("http://a/", true, {}, "10").refreshInterval, 10);
  EXPECT_EQ(MakeNewFeed("http://a/", true, {}, " $3C").refreshInterval, 60);
  EXPECT_EQ(MakeNewFeed("http://a/", true, {}, "ten").refreshInterval, 300);
  EXPECT_EQ(MakeNewFeed("http://a/", true, {}, "").refreshInterval, 300);
  TFeed f = MakeNewFeed("http://a/", false, {"1:x"}, "900");
  EXPECT_FALSE(f.active);
  EXPECT_EQ(f.keywords, std::vector<std::string>{"1:x"});
  EXPECT_EQ(f.lastRefresh, 0);
}

TEST(FeedList, UpdateRaisesSmallOrInvalidIntervalsTo60) {
  struct Case {
    const char* text;
    int stored;
    bool invalid;
  } cases[] = {{"10", 60, true},  {"59", 60, true},        {"abc", 60, true}, {"", 60, true},
               {"60", 60, false}, {"14440", 14440, false}, {"-5", 60, true}};
  for (const auto& c : cases) {
    RecordingPort port;
    TFeed f = MakeNewFeed("http://a/", true, {}, "300");
    ApplyFeedDetails(f, false, {"1:b"}, c.text, port);
    EXPECT_EQ(f.refreshInterval, c.stored) << c.text;
    EXPECT_FALSE(f.active);
    EXPECT_EQ(f.keywords, std::vector<std::string>{"1:b"});
    std::vector<std::string> expected;
    if (c.invalid) expected.push_back("Invalid refresh interval, setting to default value 60");
    expected.push_back("Feed details updated");
    EXPECT_EQ(port.Texts(), expected) << c.text;
  }
}

TEST(FeedList, CommonIntervals) {
  ASSERT_EQ(CommonIntervals().size(), 11u);
  EXPECT_EQ(CommonIntervalValue("4 hours (14440)"), "14440");
  EXPECT_EQ(CommonIntervalIndexFor("14440"), 7);
  EXPECT_EQ(CommonIntervalIndexFor("300"), 1);
  EXPECT_EQ(CommonIntervalIndexFor("14400"), -1);
  EXPECT_EQ(CommonIntervalIndexFor(""), -1);
  for (const auto& item : CommonIntervals())
    EXPECT_EQ(CommonIntervals()[CommonIntervalIndexFor(CommonIntervalValue(item))], item);
}

TEST(FeedList, DeleteAndAllActive) {
  std::vector<TFeed> feeds(3);
  feeds[0].url = "0";
  feeds[1].url = "1";
  feeds[2].url = "2";
  DeleteFeedAt(feeds, 1);
  ASSERT_EQ(feeds.size(), 2u);
  EXPECT_EQ(feeds[1].url, "2");
  DeleteFeedAt(feeds, 5);
  EXPECT_EQ(feeds.size(), 2u);
  SetAllActive(feeds, false);
  EXPECT_FALSE(feeds[0].active || feeds[1].active);
  SetAllActive(feeds, true);
  EXPECT_TRUE(feeds[0].active && feeds[1].active);
}

// Several feeds go with one question; each is given back with the index it had, in list order.
TEST(FeedList, SeveralFeedsAreDeletedAtOnce) {
  const struct {
    std::vector<size_t> indices;
    std::string question;
    std::string deleted;  // "index:url" in list order
    std::string left;
  } cases[] = {
      {{1}, "Delete feed?", "1:b", "a c d e"},
      {{3, 0, 4}, "Delete 3 feeds?", "0:a 3:d 4:e", "b c"},
      {{0, 1, 2, 3, 4}, "Delete 5 feeds?", "0:a 1:b 2:c 3:d 4:e", ""},
      {{2, 2, 9}, "Delete 3 feeds?", "2:c", "a b d e"},  // a repeat and one past the end
      {{}, "Delete 0 feeds?", "", "a b c d e"},
  };
  for (const auto& c : cases) {
    std::vector<TFeed> feeds(5);
    for (size_t i = 0; i < feeds.size(); ++i) feeds[i].url = std::string(1, static_cast<char>('a' + i));
    EXPECT_EQ(DeleteFeedsQuestion(c.indices.size()), c.question);
    std::string deleted, left;
    for (const auto& [index, feed] : DeleteFeedsAt(feeds, c.indices))
      deleted += (deleted.empty() ? "" : " ") + std::to_string(index) + ":" + feed.url;
    for (const TFeed& feed : feeds) left += (left.empty() ? "" : " ") + feed.url;
    EXPECT_EQ(deleted, c.deleted) << c.question;
    EXPECT_EQ(left, c.left) << c.question;
  }
}

// The rows the feed list shows: the feeds in no folder first, then each folder under its heading
// in the order its first feed has; every feed once, named by its title or else its address.
TEST(FeedList, RowsGroupTheFeedsByFolder) {
  struct In {
    const char* url;
    const char* title;
    const char* folder;
  };
  const struct {
    const char* name;
    std::vector<In> feeds;
    std::vector<std::string> rows;  // "feed index:text|tool tip", "-:folder" for a heading
  } cases[] = {
      {"empty", {}, {}},
      {"addresses only", {{"http://a/", "", ""}, {"http://b/", "", ""}}, {"0:http://a/|http://a/", "1:http://b/|http://b/"}},
      {"titles", {{"http://a/", "Alpha", ""}, {"http://b/", "", ""}}, {"0:Alpha|http://a/", "1:http://b/|http://b/"}},
      {"one folder",
       {{"http://a/", "Alpha", "News"}, {"http://b/", "Beta", "News"}},
       {"-:News", "0:Alpha|http://a/", "1:Beta|http://b/"}},
      {"loose feeds first, folders in order of first use",
       {{"http://a/", "A", "Tech"}, {"http://b/", "B", ""}, {"http://c/", "C", "News"}, {"http://d/", "D", "Tech"},
        {"http://e/", "", ""}},
       {"1:B|http://b/", "4:http://e/|http://e/", "-:Tech", "0:A|http://a/", "3:D|http://d/", "-:News",
        "2:C|http://c/"}},
      {"a nested folder is a folder of its own",
       {{"http://a/", "A", "News"}, {"http://b/", "B", "News/Regional"}},
       {"-:News", "0:A|http://a/", "-:News/Regional", "1:B|http://b/"}},
      {"folder names match exactly", {{"http://a/", "A", "news"}, {"http://b/", "B", "News"}},
       {"-:news", "0:A|http://a/", "-:News", "1:B|http://b/"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TFeed> feeds;
    for (const In& in : c.feeds) {
      feeds.emplace_back();
      feeds.back().url = in.url;
      feeds.back().title = in.title;
      feeds.back().folder = in.folder;
      // Every other feed is inactive: its row says so.
      feeds.back().active = feeds.size() % 2 == 1;
    }
    std::vector<std::string> rows;
    std::vector<int> seen(feeds.size(), 0);
    for (const FeedListRow& r : FeedListRows(feeds)) {
      if (r.feed < 0) {
        EXPECT_FALSE(r.inactive);
        rows.push_back("-:" + r.text);
        EXPECT_EQ(r.toolTip, r.text);
        continue;
      }
      rows.push_back(std::to_string(r.feed) + ":" + r.text + "|" + r.toolTip);
      ++seen.at(static_cast<size_t>(r.feed));
      EXPECT_EQ(r.inactive, !feeds[static_cast<size_t>(r.feed)].active) << r.text;
    }
    EXPECT_EQ(rows, c.rows);
    for (int n : seen) EXPECT_EQ(n, 1);
  }
}

TEST(FeedList, ADeletionNamesTheFeed) {
  TFeed feed;
  feed.url = "http://coast.example/rss";
  EXPECT_EQ(DeletedFeedLine(0, feed), "Deleted feed 0: http://coast.example/rss");
  feed.title = "Coast News";
  EXPECT_EQ(FeedName(feed), "Coast News");
  EXPECT_EQ(DeletedFeedLine(12, feed), "Deleted feed 12: Coast News (http://coast.example/rss)");
}

}  // namespace
}  // namespace zibu
