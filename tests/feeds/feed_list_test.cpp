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

}  // namespace
}  // namespace zibu
