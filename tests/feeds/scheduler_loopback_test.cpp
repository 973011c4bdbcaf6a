// The scanner with the real feed scan and the real learning engine, against feeds served from
// 127.0.0.1: what a scheduled scan finds before and after a learning run.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>

#include "common/shortintmap.h"
#include "feeds/feed_scan.h"
#include "feeds/learning_run.h"
#include "learning/engine.h"
#include "support/loopback_server.h"
#include "triage_fakes.h"

namespace zibu::test {
namespace {

std::string Rss(const std::vector<std::array<std::string, 3>>& items) {
  std::string out = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title>";
  for (const auto& [title, description, link] : items)
    out += "<item><title>" + title + "</title><description>" + description + "</description><link>" + link +
           "</link></item>";
  return out + "</channel></rss>";
}

// The window's scan: download into the temporary folder and triage every item.
class LoopbackHost : public FakeHost {
 public:
  LoopbackHost(ManualClock& clock, std::string tempDir)
      : FakeHost(clock), clock_(clock), tempDir_(std::move(tempDir)) {}
  UserPort* port = nullptr;
  void ScanFeed(TFeed& feed, Items& results) override {
    scanned.push_back(feed.url);
    FeedScanSettings settings;
    settings.tempDir = tempDir_;
    settings.http = FeedRequestOptions(ProxySettings{});
    settings.http.connectTimeoutMs = 2000;
    settings.http.readTimeoutMs = 2000;
    settings.cancelRequested = &scanner->cancelRequested;
    settings.clock = &clock_;
    settings.triage = [this](TFeed& f, TItem& item, Items& into) { scanner->TriageItem(f, item, into); };
    zibu::ScanFeed(feed, results, settings, *port);
  }

 private:
  ManualClock& clock_;
  std::string tempDir_;
};

class SchedulerLoopbackTest : public ::testing::Test {
 protected:
  std::string temp =
      (std::filesystem::temp_directory_path() / ("zibu_sched_" + std::to_string(::getpid()))).string() + "/";
  LoopbackServer server;
  ManualClock clock;
  ScriptedPort port;
  LearningEngine engine{port};
  EngineLearner learner{engine};
  ScriptedUser user;
  LoopbackHost host{clock, temp};
  TCompMap shownUrls;
  std::vector<TFeed> feeds;
  TFeedScanner scanner{feeds, shownUrls, learner, port, clock, host, user};

  void SetUp() override {
    std::filesystem::create_directories(temp);
    host.scanner = &scanner;
    host.port = &port;
    scanner.lastUserActivity = clock.now - kMinute;
    scanner.lastSaveTime = clock.now;
    host.threshold = 10;
    server.ServeBody("/sport.xml",
                     Rss({{"Football cup final tonight", "Both football teams are ready", server.Url("/s/1")},
                          {"Stock market report", "Shares fell on the stock market", server.Url("/s/2")},
                          {"PSST! HM. 1984", "XKCD 2025", server.Url("/s/3")}}),
                     "text/xml");
    server.ServeBody(
        "/news.xml",
        Rss({{"Volcano erupts near village", "Villagers watched the volcano", server.Url("/n/1")},
             {"Football cup final tonight", "Both football teams are ready", server.Url("/s/1")}}),
        "text/xml");
    feeds = {Feed(server.Url("/sport.xml"), {}, true, 60),
             Feed(server.Url("/news.xml"), {"1:volcano"}, true, 60)};
  }
  void TearDown() override { std::filesystem::remove_all(temp); }
};

TEST_F(SchedulerLoopbackTest, ScheduledScanFindsTheKeywordMatchAndAfterLearningTheRelevantArticle) {
  scanner.Timer1Timer();
  EXPECT_EQ(user.Titles(), std::vector<std::string>{"Volcano erupts near village"});
  EXPECT_EQ(user.shown[0].reason, "Keyword match on VOLCANO");
  EXPECT_EQ(feeds[0].lastRefresh, clock.now);

  host.selected = 0;
  user.shown.clear();
  user.answers = {{10, false}, {-8, false}};
  shownUrls.Clear();
  shownUrls.Add(server.Url("/n/1"), clock.now);
  scanner.LearnClick();
  EXPECT_EQ(user.Titles(), (std::vector<std::string>{"Football cup final tonight", "Stock market report"}));
  EXPECT_GT(engine.WordWeights().Get("FOOTBALL"), 0);
  EXPECT_LT(engine.WordWeights().Get("STOCK"), 0);
  EXPECT_EQ(shownUrls.Count(), 1);
  EXPECT_EQ(host.dataSaves, 1);

  // A minute later both feeds are due; the volcano was shown, the football article now qualifies
  // once although both feeds carry it, and the stock market report stays below the threshold.
  clock.now += kMinute + 1;
  user.shown.clear();
  scanner.Timer1Timer();
  ASSERT_EQ(user.Titles(), std::vector<std::string>{"Football cup final tonight"});
  EXPECT_EQ(user.shown[0].reason.rfind("Article found, relevance=", 0), 0u);
  EXPECT_TRUE(port.Logged("Duplicate URL " + server.Url("/s/1") + " found, ignoring it"));
  EXPECT_TRUE(port.Logged("URL " + server.Url("/n/1") + " has been shown recently, ignoring it"));
}

TEST_F(SchedulerLoopbackTest, CancelDuringTheFirstFeedScansNoFurtherFeed) {
  int triaged = 0;
  host.threshold = 0;
  // Cancel as the first item is looked at: the real scan stops before the next one.
  struct CancellingLearner : RelevanceLearner {
    TFeedScanner* scanner = nullptr;
    int* count = nullptr;
    int GetRelevance(std::string_view) override {
      ++*count;
      scanner->Cancel();
      return 50;
    }
    void LearnFromRating(int, std::string_view) override {}
  } cancelling;
  cancelling.count = &triaged;
  TFeedScanner cancellable{feeds, shownUrls, cancelling, port, clock, host, user};
  host.scanner = &cancellable;
  cancelling.scanner = &cancellable;
  cancellable.SearchActiveFeeds(true);
  EXPECT_EQ(triaged, 1);
  EXPECT_EQ(host.scanned.size(), 1u);
  EXPECT_TRUE(user.shown.empty());
}

}  // namespace
}  // namespace zibu::test
