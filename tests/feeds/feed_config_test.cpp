#include "feeds/feed_config.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/errors.h"
#include "common/settings.h"
#include "feeds/feed_list.h"
#include "rules/keyword_rules.h"
#include "recording_port.h"

namespace zibu {
namespace {

using test::RecordingPort;
namespace fs = std::filesystem;

class FeedConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zibu_feed_config_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "zibu.conf").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteText(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string ReadText() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  // Writes `feeds` the way WriteConfig does and reads them back the way LoadConfig does.
  std::vector<TFeed> RoundTrip(const std::vector<TFeed>& feeds) {
    RecordingPort port;
    {
      SettingsFile file(path_);
      WriteFeedConfig(file, feeds, 30, 0, port);
      file.Save();
    }
    SettingsFile file(path_);
    std::vector<TFeed> back;
    LoadFeedConfig(file, back, port, {});
    return back;
  }

  fs::path dir_;
  std::string path_;
};

TFeed Feed(const std::string& url, std::vector<std::string> keywords = {}) {
  TFeed f;
  f.url = url;
  f.keywords = std::move(keywords);
  return f;
}

TEST_F(FeedConfigTest, KeywordLinesAreStoredWithCrlfAndReadBackInAnyCase) {
  TFeed f = Feed("http://a/", {"1:a", "0:b"});
  f.active = false;
  f.refreshInterval = 900;
  f.lastRefresh = 1733650000123;
  auto back = RoundTrip({f});
  EXPECT_NE(ReadText().find("feed.0.keywords=1:aCRLF0:bCRLF"), std::string::npos) << ReadText();
  EXPECT_NE(ReadText().find("feed.0.active=0"), std::string::npos);
  EXPECT_NE(ReadText().find("feed.0.lastRefresh=1733650000123"), std::string::npos);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].url, "http://a/");
  EXPECT_FALSE(back[0].active);
  EXPECT_EQ(back[0].keywords, (std::vector<std::string>{"1:a", "0:b"}));
  EXPECT_EQ(back[0].refreshInterval, 900);
  EXPECT_EQ(back[0].lastRefresh, 1733650000123);

  WriteText("[main]\nfeedCount=1\n[rss]\nfeed.0.url=http://x/\nfeed.0.keywords=1:acrlfb\n");
  SettingsFile file(path_);
  RecordingPort port;
  std::vector<TFeed> feeds;
  LoadFeedConfig(file, feeds, port, {});
  ASSERT_EQ(feeds.size(), 1u);
  EXPECT_EQ(feeds[0].keywords, (std::vector<std::string>{"1:a", "b"}));
}

TEST_F(FeedConfigTest, EmptyLinesAndLongRulesSurviveASaveAndReload) {
  std::string longRule = "1:";
  while (longRule.size() < 3000) longRule += "keyword" + std::to_string(longRule.size()) + ",";
  auto back = RoundTrip({Feed("http://a/", {"1:a", "", "1:b", longRule})});
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].keywords, (std::vector<std::string>{"1:a", "", "1:b", longRule}));
}

// A rule text far too long to be a person's (a damaged file) is bounded when it is loaded, with a
// line in the status log; the feed and its other rules stay.
TEST_F(FeedConfigTest, AHugeKeywordValueIsBoundedOnLoad) {
  const std::string huge = "1:" + std::string(10u << 20, 'k');
  WriteText("[main]\nfeedCount=2\n[rss]\nfeed.0.url=http://a/\nfeed.0.keywords=1:aCRLF" + huge +
            "CRLF1:b\nfeed.1.url=http://b/\nfeed.1.keywords=1:c\n");
  SettingsFile file(path_);
  RecordingPort port;
  std::vector<TFeed> feeds;
  LoadFeedConfig(file, feeds, port, {});
  ASSERT_EQ(feeds.size(), 2u);
  EXPECT_EQ(feeds[0].keywords, (std::vector<std::string>{"1:a", "1:b"}));
  EXPECT_EQ(feeds[1].keywords, (std::vector<std::string>{"1:c"}));
  EXPECT_TRUE(port.Logged(KeywordsTooLongLine("http://a/", 1), false));
  EXPECT_FALSE(port.Logged(KeywordsTooLongLine("http://b/", 1), false));
}

TEST_F(FeedConfigTest, MissingKeysGiveTheirDefaults) {
  WriteText(
      "[main]\nfeedCount=2\n[rss]\nfeed.0.url=http://a/\nfeed.1.url=http://b/\nfeed.1.active=abc\n"
      "feed.1.refreshInterval=ten\nfeed.1.lastRefresh=1.5e3\n");
  SettingsFile file(path_);
  RecordingPort port;
  std::vector<TFeed> feeds;
  LoadFeedConfig(file, feeds, port, {});
  ASSERT_EQ(feeds.size(), 2u);
  for (const auto& f : feeds) {
    EXPECT_TRUE(f.active) << f.url;
    EXPECT_EQ(f.refreshInterval, 300) << f.url;
    EXPECT_TRUE(f.keywords.empty());
  }
  EXPECT_EQ(feeds[0].lastRefresh, 0);
  EXPECT_EQ(feeds[1].lastRefresh, 1500);

  const FeedLearningParameters p = ReadLearningParameters(file);
  EXPECT_EQ(p.minWordLength, 4);
  EXPECT_EQ(p.maxWordLength, 12);
  EXPECT_EQ(p.maxWordWeight, 50);
  EXPECT_EQ(p.saveConfigIntervalMs, 600000);
}

TEST_F(FeedConfigTest, DeletingTheMiddleFeedLeavesTheStaleKeysUnread) {
  std::vector<TFeed> feeds = {Feed("http://0/"), Feed("http://1/"), Feed("http://2/", {"1:two"})};
  RoundTrip(feeds);
  DeleteFeedAt(feeds, 1);
  auto back = RoundTrip(feeds);
  EXPECT_NE(ReadText().find("feedCount=2"), std::string::npos);
  EXPECT_NE(ReadText().find("feed.2.url=http://2/"), std::string::npos);  // left in the file
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].url, "http://0/");
  EXPECT_EQ(back[1].url, "http://2/");
  EXPECT_EQ(back[1].keywords, std::vector<std::string>{"1:two"});
}

// The validators, the title (and its own characters) and the folder: each key only while its
// field is not empty.
TEST_F(FeedConfigTest, ValidatorsTravelWithTheirFeedAndEmptyOnesLeaveNoKey) {
  struct Case {
    std::string etag, lastModified, title, folder;
    std::string titleUtf8 = {};
  };
  const std::vector<Case> cases = {
      {"\"5e1-6f0a\"", "Mon, 07 Dec 2026 18:04:11 GMT", "Coast News", "News"},
      {"W/\"weak;with=odd#chars\"", "", "Caf\xE9 & \"Bar\" = 1", "News/Regional"},
      {"", "Tue, 01 Dec 2026 09:30:00 GMT", "", "Tech"},
      {"", "", "Tides", ""},
      {"", "", "\xBF\xBF\xBF \x96 \xBF", "", "\u041A\u043E\u0442 \u2013 \U0001F605"},
  };
  std::vector<TFeed> feeds;
  for (const Case& c : cases) {
    feeds.push_back(Feed("http://" + std::to_string(feeds.size()) + "/"));
    feeds.back().etag = c.etag;
    feeds.back().lastModified = c.lastModified;
    feeds.back().title = c.title;
    feeds.back().folder = c.folder;
    feeds.back().titleUtf8 = c.titleUtf8;
  }
  auto back = RoundTrip(feeds);
  ASSERT_EQ(back.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(back[i].etag, cases[i].etag) << i;
    EXPECT_EQ(back[i].lastModified, cases[i].lastModified) << i;
    EXPECT_EQ(back[i].title, cases[i].title) << i;
    EXPECT_EQ(back[i].folder, cases[i].folder) << i;
    EXPECT_EQ(back[i].titleUtf8, cases[i].titleUtf8) << i;
  }
  // The title key holds the single-byte title as ever; only a title with characters of its own
  // has the second key.
  EXPECT_NE(ReadText().find("feed.4.title=\xBF\xBF\xBF \x96 \xBF"), std::string::npos) << ReadText();
  EXPECT_NE(ReadText().find("feed.4.titleUtf8=\u041A\u043E\u0442"), std::string::npos) << ReadText();
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(ReadText().find("feed." + std::to_string(i) + ".titleUtf8"), std::string::npos) << ReadText();
  EXPECT_EQ(ReadText().find("feed.3.etag"), std::string::npos) << ReadText();
  EXPECT_EQ(ReadText().find("feed.1.lastModified"), std::string::npos) << ReadText();
  EXPECT_EQ(ReadText().find("feed.2.title"), std::string::npos) << ReadText();
  EXPECT_EQ(ReadText().find("feed.3.folder"), std::string::npos) << ReadText();
  EXPECT_NE(ReadText().find("feed.0.title=Coast News"), std::string::npos) << ReadText();

  // After a deletion the next feed takes the number: the validators of the deleted one go.
  DeleteFeedAt(feeds, 0);
  back = RoundTrip(feeds);
  EXPECT_EQ(back[0].etag, "W/\"weak;with=odd#chars\"");
  EXPECT_EQ(back[0].lastModified, "");
  EXPECT_EQ(back[2].etag, "");
  EXPECT_EQ(back[1].title, "");
  EXPECT_EQ(back[2].folder, "");
  EXPECT_EQ(ReadText().find("feed.2.etag"), std::string::npos) << ReadText();
  EXPECT_EQ(ReadText().find("feed.1.title"), std::string::npos) << ReadText();
}

// feedCount is bounded by the feeds the file has keys for and by kMaxFeeds; a cut count is one
// status line, and the feeds that are there load as they are.
TEST_F(FeedConfigTest, FeedCountIsBoundedByTheKeysInTheFile) {
  auto keysFor = [](int from, int to) {
    std::string rss = "[rss]\n";
    for (int n = from; n < to; ++n)
      rss += "feed." + std::to_string(n) + ".url=http://f" + std::to_string(n) + "/\n";
    return rss;
  };
  struct Case {
    std::string conf;
    size_t feeds;
    std::string note;  // the status line, "" for none
  };
  const Case cases[] = {
      {"[main]\nfeedCount=2147483647\n" + keysFor(0, 2), 2,
       "feedCount in zibu.conf is 2147483647, but the file holds 2 feeds: I have read 2"},
      {"[main]\nfeedCount=20000000\n", 0,
       "feedCount in zibu.conf is 20000000, but the file holds 0 feeds: I have read 0"},
      {"[main]\nfeedCount=3\n" + keysFor(0, 3), 3, ""},
      {"[main]\nfeedCount=2\n" + keysFor(0, 5), 2, ""},  // stale keys of deleted feeds stay unread
      {"[main]\nfeedCount=-4\n" + keysFor(0, 2), 0, ""},
      // A gap is a feed with every default; only the highest numbered feed with a key bounds.
      {"[main]\nfeedCount=9\n[rss]\nfeed.0.url=http://a/\nFEED.3.Active=0\n", 4,
       "feedCount in zibu.conf is 9, but the file holds 4 feeds: I have read 4"},
      // Keys that no feed is read from do not count.
      {"[main]\nfeedCount=9\n[rss]\nfeed.0.url=http://a/\nfeed.05.url=x\nfeed.7.colour=red\nfeed.+8.url=y\n"
       "feed.6\n[other]\nfeed.4.url=z\n",
       1, "feedCount in zibu.conf is 9, but the file holds 1 feeds: I have read 1"},
      {"[main]\nfeedCount=10001\n" + keysFor(0, 10001), 10000,
       "feedCount in zibu.conf is 10001, more than the 10000 feeds I keep: I have read the first 10000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conf.substr(0, 60));
    WriteText(c.conf);
    SettingsFile file(path_);
    RecordingPort port;
    std::vector<TFeed> feeds = {Feed("http://old/")};
    LoadFeedConfig(file, feeds, port, {});
    ASSERT_EQ(feeds.size(), c.feeds);
    if (c.feeds == 2) {
      EXPECT_EQ(feeds[1].url, "http://f1/");
    }
    if (c.feeds == 4) {
      EXPECT_FALSE(feeds[3].active);
    }
    const std::vector<std::string> notes = port.Texts();
    EXPECT_EQ(notes, c.note.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.note});
  }
}

TEST_F(FeedConfigTest, LoadRunsItsStepsInOrder) {
  WriteText(
      "[main]\nfeedCount=2\nshowRelevance=45\nresultsFormat=1\nmaxWordWeight=90\nsaveConfigInterval=3\n"
      "[rss]\nfeed.0.url=http://a/\nfeed.1.url=http://b/\n");
  SettingsFile file(path_);
  RecordingPort port;
  std::vector<std::string> steps;
  FeedConfigLoadSteps hooks;
  hooks.feedLoaded = [&](int n, const TFeed& f) {
    steps.push_back("feed " + std::to_string(n) + " " + f.url);
  };
  hooks.feedsLoaded = [&] { steps.push_back("select first"); };
  hooks.markSaveTime = [&] { steps.push_back("save time"); };
  hooks.learningRead = [&](const FeedLearningParameters& p) {
    steps.push_back("learning " + std::to_string(p.maxWordWeight) + " " +
                    std::to_string(p.saveConfigIntervalMs));
  };
  hooks.loadShownUrls = [&] { steps.push_back("shown urls"); };
  hooks.loadCommonWords = [&] { steps.push_back("common words"); };
  hooks.displayRead = [&](int rel, int fmt) {
    steps.push_back("display " + std::to_string(rel) + " " + std::to_string(fmt));
  };
  hooks.loadLearnedData = [&] { steps.push_back("learned data after " + port.progress.back()); };
  hooks.startTimer = [&] { steps.push_back("timer after " + port.progress.back()); };
  std::vector<TFeed> feeds;
  LoadFeedConfig(file, feeds, port, hooks);
  EXPECT_EQ(steps, (std::vector<std::string>{
                       "feed 0 http://a/", "feed 1 http://b/", "select first", "save time",
                       "learning 90 180000", "shown urls", "common words", "display 45 1",
                       "learned data after Loading word weightings... 0%", "timer after hide"}));
  EXPECT_EQ(port.progress.front(), "Loading config... 0%");
  EXPECT_EQ(port.progress[1], "Loading feeds... 0%");
  EXPECT_EQ(port.progress[2], "Loading feeds... 50%");

  // Without feeds there is nothing to select, and the timer still starts last.
  WriteText("[main]\n");
  SettingsFile empty(path_);
  steps.clear();
  LoadFeedConfig(empty, feeds, port, hooks);
  EXPECT_TRUE(feeds.empty());
  EXPECT_EQ(steps.front(), "save time");
  EXPECT_EQ(steps.back(), "timer after hide");
}

// "Finished saving config..." only once the file is on the disk: a save that fails says so instead.
TEST_F(FeedConfigTest, WriteLogsAndShowsProgressAroundTheKeys) {
  RecordingPort port;
  SettingsFile file(path_);
  WriteFeedConfig(file, {Feed("http://a/"), Feed("http://b/")}, 70, 1, port);
  EXPECT_EQ(port.Texts(), (std::vector<std::string>{"Saving config..."}));
  EXPECT_EQ(port.progress, (std::vector<std::string>{"Saving config... 0%", "Saving feeds... 0%",
                                                     "Saving feeds... 50%", "hide"}));
  // Something in the way of the temporary file, then nothing.
  fs::create_directories(path_ + ".tmp/blocked");
  EXPECT_THROW(SaveConfigFile(file, port), IoError);
  ASSERT_EQ(port.Texts().size(), 2u);
  EXPECT_EQ(port.Texts()[1].rfind("I have not saved zibu.conf: Unable to write to " + path_, 0), 0u)
      << port.Texts()[1];
  EXPECT_FALSE(fs::exists(path_));
  fs::remove_all(path_ + ".tmp");
  SaveConfigFile(file, port);
  EXPECT_EQ(port.Texts().back(), "Finished saving config...");
  EXPECT_TRUE(fs::exists(path_));
  EXPECT_EQ(file.ReadInteger("main", "feedCount", -1), 2);
  EXPECT_EQ(file.ReadInteger("main", "showRelevance", -1), 70);
  EXPECT_EQ(file.ReadInteger("main", "resultsFormat", -1), 1);
  EXPECT_EQ(file.ReadString("rss", "feed.1.active", ""), "1");
  EXPECT_EQ(file.ReadString("rss", "feed.1.keywords", "x"), "");
  EXPECT_EQ(file.ReadString("rss", "feed.1.refreshInterval", ""), "300");
}

}  // namespace
}  // namespace zibu
