// The scheduled scan, the search buttons, cancel, the periodic save and Reset.
#include <gtest/gtest.h>

#include <stdexcept>

#include "triage_fakes.h"

namespace zibu::test {
namespace {

class SchedulerTest : public ::testing::Test {
 protected:
  ScanBench bench;

  void SetUp() override {
    bench.host.threshold = 0;
    bench.feeds = {Feed("http://a/rss"), Feed("http://b/rss")};
    bench.host.documents["http://a/rss"] = {Article("Alpha one", "http://a/1"),
                                            Article("Alpha two", "http://a/2")};
    bench.host.documents["http://b/rss"] = {Article("Beta one", "http://b/1")};
  }
};

TEST_F(SchedulerTest, TickWithinThirtySecondsOfActivityDoesNothingAndTheNextTickScans) {
  bench.clock.now = kT0;
  bench.scanner.Touch();
  bench.clock.now = kT0 + 20000;
  bench.scanner.Timer1Timer();
  EXPECT_TRUE(bench.host.scanned.empty());
  EXPECT_TRUE(bench.port.lines.empty());
  bench.clock.now = kT0 + 29999;
  bench.scanner.Timer1Timer();
  EXPECT_TRUE(bench.host.scanned.empty());
  bench.clock.now = kT0 + 80000;
  bench.scanner.Timer1Timer();
  EXPECT_EQ(bench.host.scanned, (std::vector<std::string>{"http://a/rss", "http://b/rss"}));
  EXPECT_EQ(bench.user.Titles(), (std::vector<std::string>{"Alpha one", "Alpha two", "Beta one"}));
}

TEST_F(SchedulerTest, OnlyActiveDueFeedsAreScannedAndEachRunLocksAndRestartsEverything) {
  bench.feeds.push_back(Feed("http://c/rss", {}, false));
  bench.feeds[1].lastRefresh = kT0 - 299 * 1000;  // due at 300 s: one second to go
  bench.scanner.SearchActiveFeeds(true);
  EXPECT_EQ(bench.host.scanned, std::vector<std::string>{"http://a/rss"});
  EXPECT_TRUE(bench.port.Logged("Ignoring inactive feed http://c/rss"));
  EXPECT_FALSE(bench.port.LoggedVerbose("Ignoring inactive feed http://c/rss"));
  EXPECT_TRUE(bench.port.LoggedVerbose("Ignoring feed http://b/rss as recently scanned"));
  EXPECT_EQ(bench.feeds[0].lastRefresh, kT0);
  EXPECT_EQ(bench.host.enableCalls, (std::vector<bool>{false, true}));
  EXPECT_TRUE(bench.host.timerRunning);
  EXPECT_EQ(bench.host.timerStops, 1);
  EXPECT_TRUE(bench.scanner.results.empty());
  EXPECT_TRUE(bench.port.Logged("Searching all active feeds"));
  EXPECT_TRUE(bench.port.Logged("Finished searching active feeds"));

  // A second press a second later finds nothing due, the first feed included.
  bench.clock.now += 1000;
  bench.host.scanned.clear();
  bench.scanner.SearchActiveFeeds(true);
  EXPECT_EQ(bench.host.scanned, std::vector<std::string>{"http://b/rss"});
  bench.host.scanned.clear();
  bench.scanner.SearchActiveFeeds(true);
  EXPECT_TRUE(bench.host.scanned.empty());
  EXPECT_EQ(bench.port.lines.back().text, "Finished searching active feeds");
  EXPECT_EQ(bench.port.lines[bench.port.lines.size() - 2].text, "No new matching items found");
}

TEST_F(SchedulerTest, IdleWaitOnlyOnScheduledScansAndOnlyWhileTheUserIsBusy) {
  bench.host.settings.runAfterIdleForMs = 300000;
  bench.clock.idle = 1000;
  bench.scanner.SearchActiveFeeds(true);
  EXPECT_TRUE(bench.host.waits.empty());
  EXPECT_FALSE(bench.port.Logged("User is busy, waiting for idle..."));

  for (TFeed& feed : bench.feeds) feed.lastRefresh = 0;
  bench.clock.idle = 1000;
  bench.scanner.Timer1Timer();
  // The wait leaves the user idle long enough, so the second feed does not wait again.
  EXPECT_EQ(bench.host.waits, std::vector<int64_t>{300000});
  EXPECT_EQ(bench.port.Count("User is busy, waiting for idle..."), 1);
  EXPECT_EQ(bench.host.scanned.size(), 4u);

  // Input came in between the feeds: the second waits again.
  for (TFeed& feed : bench.feeds) feed.lastRefresh = 0;
  bench.host.waits.clear();
  bench.clock.idle = 5;
  bench.host.afterItem = [&](const std::string&, int) { bench.clock.idle = 5; };
  bench.scanner.Timer1Timer();
  EXPECT_EQ(bench.host.waits.size(), 2u);
}

TEST_F(SchedulerTest, IdleThresholdZeroNeverWaits) {
  bench.host.settings.runAfterIdleForMs = 0;
  bench.clock.idle = 0;
  bench.scanner.Timer1Timer();
  EXPECT_TRUE(bench.host.waits.empty());
  EXPECT_EQ(bench.host.scanned.size(), 2u);
}

TEST_F(SchedulerTest, CancelDuringSearchActiveStopsBeforeTheNextItemAndPresentsNothing) {
  bench.host.afterItem = [&](const std::string& url, int index) {
    if (url == "http://a/rss" && index == 0) bench.scanner.Cancel();
  };
  bench.scanner.SearchActiveFeeds(true);
  EXPECT_EQ(bench.host.scanned, std::vector<std::string>{"http://a/rss"});
  EXPECT_TRUE(bench.user.shown.empty());
  EXPECT_EQ(bench.shownUrls.Count(), 0);
  EXPECT_FALSE(bench.port.Logged("No new matching items found"));
  EXPECT_TRUE(bench.port.Logged("Finished searching active feeds"));
  EXPECT_TRUE(bench.scanner.results.empty());
  EXPECT_TRUE(bench.host.controlsEnabled);
  EXPECT_TRUE(bench.host.timerRunning);
  // The next run starts with the flag cleared.
  bench.host.afterItem = nullptr;
  bench.clock.now += 3600 * 1000;
  bench.scanner.SearchActiveFeeds(true);
  EXPECT_EQ(bench.user.shown.size(), 3u);
}

TEST_F(SchedulerTest, CancelDuringSearchSelectedStillPresentsWhatWasFound) {
  bench.host.selected = 0;
  bench.host.afterItem = [&](const std::string&, int index) {
    if (index == 0) bench.scanner.Cancel();
  };
  bench.scanner.SearchSelectedFeed();
  EXPECT_EQ(bench.user.Titles(), std::vector<std::string>{"Alpha one"});
  EXPECT_EQ(bench.ShownKeys(), std::vector<std::string>{"http://a/1"});
  EXPECT_TRUE(bench.host.timerRunning);
  EXPECT_EQ(bench.host.enableCalls, (std::vector<bool>{false, true}));
}

TEST_F(SchedulerTest, SearchSelectedScansAnInactiveFeedThatIsNotDueAndWithoutWaiting) {
  bench.feeds[1].active = false;
  bench.feeds[1].lastRefresh = kT0;
  bench.host.settings.runAfterIdleForMs = 300000;
  bench.host.selected = 1;
  bench.scanner.SearchSelectedFeed();
  EXPECT_EQ(bench.host.scanned, std::vector<std::string>{"http://b/rss"});
  EXPECT_TRUE(bench.host.waits.empty());
  EXPECT_EQ(bench.user.Titles(), std::vector<std::string>{"Beta one"});

  bench.host.selected = -1;
  bench.host.scanned.clear();
  bench.scanner.SearchSelectedFeed();
  EXPECT_EQ(bench.port.messages.back(), "Please select a feed to search");
  EXPECT_TRUE(bench.host.scanned.empty());
  EXPECT_TRUE(bench.host.timerRunning);
}

TEST_F(SchedulerTest, PeriodicSaveOnlyOnATickThatScansAfterTheInterval) {
  bench.scanner.saveConfigIntervalMs = 10 * kMinute;
  bench.scanner.lastSaveTime = kT0 - 11 * kMinute;
  bench.scanner.Touch();  // held back by activity: no save either
  bench.scanner.Timer1Timer();
  EXPECT_EQ(bench.host.dataSaves, 0);
  EXPECT_EQ(bench.host.feedConfigSaves, 0);

  bench.clock.now += 31000;
  bench.scanner.Timer1Timer();
  EXPECT_EQ(bench.host.feedConfigSaves, 1);
  EXPECT_EQ(bench.host.dataSaves, 1);
  EXPECT_EQ(bench.scanner.lastSaveTime, bench.clock.now);

  bench.clock.now += 9 * kMinute;
  bench.scanner.Timer1Timer();
  EXPECT_EQ(bench.host.dataSaves, 1);
}

TEST_F(SchedulerTest, ErrorInsideAScheduledScanIsLoggedAndTheTimerKeepsRunning) {
  bench.host.onScan = [](const TFeed&) { throw std::runtime_error("Disk full"); };
  bench.scanner.Timer1Timer();
  EXPECT_TRUE(bench.port.Logged("Disk full"));
  EXPECT_FALSE(bench.port.LoggedVerbose("Disk full"));
  EXPECT_TRUE(bench.host.timerRunning);
  EXPECT_TRUE(bench.host.controlsEnabled);
  EXPECT_TRUE(bench.scanner.results.empty());

  // An error of the periodic save, too; the next tick runs normally.
  bench.host.onScan = nullptr;
  bench.host.failDataSave = true;
  bench.scanner.lastSaveTime = 0;
  bench.clock.now += 3600 * 1000;
  bench.scanner.Timer1Timer();
  EXPECT_TRUE(bench.port.Logged("Cannot create file data/reltable.dat"));
  EXPECT_TRUE(bench.host.timerRunning);
  bench.host.failDataSave = false;
  bench.clock.now += 3600 * 1000;
  bench.host.scanned.clear();
  bench.scanner.Timer1Timer();
  EXPECT_EQ(bench.host.scanned.size(), 2u);
  EXPECT_EQ(bench.host.dataSaves, 1);
}

TEST_F(SchedulerTest, ResetForgetsShownArticlesAndLastRefreshOnlyOnYes) {
  bench.scanner.SearchActiveFeeds(true);
  ASSERT_EQ(bench.shownUrls.Count(), 3);
  bench.port.answer = false;
  bench.scanner.ResetClick();
  EXPECT_EQ(bench.port.questions.back(), "Reset - are you sure?");
  EXPECT_EQ(bench.shownUrls.Count(), 3);
  EXPECT_EQ(bench.feeds[0].lastRefresh, kT0);

  bench.port.answer = true;
  const int stopsBefore = bench.host.timerStops;
  bench.scanner.ResetClick();
  EXPECT_EQ(bench.shownUrls.Count(), 0);
  EXPECT_EQ(bench.feeds[0].lastRefresh, 0);
  EXPECT_EQ(bench.feeds[1].lastRefresh, 0);
  EXPECT_EQ(bench.host.timerStops, stopsBefore + 1);
  EXPECT_TRUE(bench.host.timerRunning);
  EXPECT_EQ(bench.host.dataSaves, 0);

  // A minute later the next tick scans both feeds again and shows the same articles again.
  bench.clock.now += kMinute;
  bench.user.shown.clear();
  bench.scanner.Timer1Timer();
  EXPECT_EQ(bench.user.shown.size(), 3u);
}

}  // namespace
}  // namespace zibu::test
