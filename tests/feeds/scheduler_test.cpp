// The scans as jobs: the scheduled scan, the search buttons, cancel, the idle wait, the periodic
// save and Reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

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

TEST_F(SchedulerTest, AScheduledScanScansEveryDueFeedAndPresentsWhatItFound) {
  bench.Run(ScanKind::Scheduled);
  EXPECT_EQ(bench.Scanned(), (std::vector<std::string>{"http://a/rss", "http://b/rss"}));
  EXPECT_EQ(bench.user.Titles(), (std::vector<std::string>{"Alpha one", "Alpha two", "Beta one"}));
  EXPECT_EQ(bench.ShownKeys(), (std::vector<std::string>{"http://a/1", "http://a/2", "http://b/1"}));
}

TEST_F(SchedulerTest, OnlyActiveDueFeedsAreScannedAndEachRunLocksAndRestartsEverything) {
  bench.feeds.push_back(Feed("http://c/rss", {}, false));
  bench.feeds[1].lastRefresh = kT0 - 299 * 1000;  // due at 300 s: one second to go
  bench.Run(ScanKind::ActiveFeeds);
  EXPECT_EQ(bench.Scanned(), std::vector<std::string>{"http://a/rss"});
  EXPECT_TRUE(bench.port.Logged("Ignoring inactive feed http://c/rss"));
  EXPECT_FALSE(bench.port.LoggedVerbose("Ignoring inactive feed http://c/rss"));
  EXPECT_TRUE(bench.port.LoggedVerbose("Ignoring feed http://b/rss as recently scanned"));
  EXPECT_EQ(bench.feeds[0].lastRefresh, kT0);
  EXPECT_EQ(bench.host.enableCalls, (std::vector<bool>{false, true}));
  EXPECT_TRUE(bench.host.timerRunning);
  EXPECT_EQ(bench.host.timerStops, 1);
  EXPECT_EQ(bench.resultsAtEnd, 0u);
  EXPECT_TRUE(bench.port.Logged("Searching all active feeds"));
  EXPECT_TRUE(bench.port.Logged("Finished searching active feeds"));

  // A second press a second later finds nothing due, the first feed included.
  bench.clock.now += 1000;
  bench.port.lines.clear();
  bench.Run(ScanKind::ActiveFeeds);
  EXPECT_EQ(bench.Scanned(), std::vector<std::string>{"http://b/rss"});
  bench.port.lines.clear();
  bench.Run(ScanKind::ActiveFeeds);
  EXPECT_TRUE(bench.Scanned().empty());
  EXPECT_EQ(bench.port.lines.back().text, "Finished searching active feeds");
  EXPECT_EQ(bench.port.lines[bench.port.lines.size() - 2].text, "No new matching items found");
}

TEST_F(SchedulerTest, IdleWaitOnlyOnScheduledScansAndOnlyWhileTheUserIsBusy) {
  bench.host.settings.runAfterIdleForMs = 300000;
  bench.clock.idle = 1000;
  bench.Run(ScanKind::ActiveFeeds);
  EXPECT_TRUE(bench.waits.empty());
  EXPECT_FALSE(bench.port.Logged("User is busy, waiting for idle..."));

  for (TFeed& feed : bench.feeds) feed.lastRefresh = 0;
  bench.clock.idle = 1000;
  bench.Run(ScanKind::Scheduled);
  // The wait leaves the user idle long enough, so the second feed does not wait again.
  EXPECT_EQ(bench.waits, std::vector<int64_t>{300000});
  EXPECT_EQ(bench.port.Count("User is busy, waiting for idle..."), 1);
  EXPECT_EQ(bench.Scanned().size(), 4u);

  // Input came in between the feeds: the second waits again.
  for (TFeed& feed : bench.feeds) feed.lastRefresh = 0;
  bench.waits.clear();
  bench.clock.idle = 5;
  bench.host.afterItem = [&](const std::string&, int) { bench.clock.idle = 5; };
  bench.Run(ScanKind::Scheduled);
  EXPECT_EQ(bench.waits.size(), 2u);
  EXPECT_EQ(bench.port.Count("User is busy, waiting for idle..."), 3);
}

TEST_F(SchedulerTest, IdleThresholdZeroNeverWaits) {
  bench.host.settings.runAfterIdleForMs = 0;
  bench.clock.idle = 0;
  bench.Run(ScanKind::Scheduled);
  EXPECT_TRUE(bench.waits.empty());
  EXPECT_EQ(bench.Scanned().size(), 2u);
}

TEST_F(SchedulerTest, CancelDuringSearchActiveStopsBeforeTheNextItemAndPresentsNothing) {
  bench.host.afterItem = [&](const std::string& url, int index) {
    if (url == "http://a/rss" && index == 0) bench.job->Cancel();
  };
  bench.Run(ScanKind::ActiveFeeds);
  EXPECT_EQ(bench.Scanned(), std::vector<std::string>{"http://a/rss"});
  EXPECT_TRUE(bench.user.shown.empty());
  EXPECT_EQ(bench.shownUrls.Count(), 0);
  EXPECT_FALSE(bench.port.Logged("No new matching items found"));
  EXPECT_TRUE(bench.port.Logged("Finished scanning feed http://a/rss"));
  EXPECT_TRUE(bench.port.Logged("Finished searching active feeds"));
  EXPECT_EQ(bench.resultsAtEnd, 0u);
  EXPECT_TRUE(bench.host.controlsEnabled);
  EXPECT_TRUE(bench.host.timerRunning);
  EXPECT_EQ(bench.feeds[1].lastRefresh, 0) << "no further feed was scanned";
  // The next run starts with the flag cleared.
  bench.host.afterItem = nullptr;
  bench.clock.now += 3600 * 1000;
  bench.Run(ScanKind::ActiveFeeds);
  EXPECT_EQ(bench.user.shown.size(), 3u);
}

TEST_F(SchedulerTest, CancelDuringSearchSelectedStillPresentsWhatWasFound) {
  bench.host.selected = 0;
  bench.host.afterItem = [&](const std::string&, int index) {
    if (index == 0) bench.job->Cancel();
  };
  bench.Run(ScanKind::SelectedFeed);
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
  bench.Run(ScanKind::SelectedFeed);
  EXPECT_EQ(bench.Scanned(), std::vector<std::string>{"http://b/rss"});
  EXPECT_TRUE(bench.waits.empty());
  EXPECT_EQ(bench.user.Titles(), std::vector<std::string>{"Beta one"});

  bench.host.selected = -1;
  bench.port.lines.clear();
  bench.Run(ScanKind::SelectedFeed);
  EXPECT_EQ(bench.port.messages.back(), "Please select a feed to search");
  EXPECT_TRUE(bench.Scanned().empty());
  EXPECT_TRUE(bench.host.timerRunning);
}

// Only a scheduled scan saves, and only once the interval has passed since the last save.
TEST_F(SchedulerTest, PeriodicSaveOnlyOnAScheduledScanAfterTheInterval) {
  bench.scanner.saveConfigIntervalMs = 10 * kMinute;
  bench.scanner.lastSaveTime = kT0 - 11 * kMinute;
  bench.Run(ScanKind::ActiveFeeds);
  EXPECT_EQ(bench.host.dataSaves, 0);
  EXPECT_EQ(bench.host.feedConfigSaves, 0);

  bench.clock.now += 31000;
  bench.Run(ScanKind::Scheduled);
  EXPECT_EQ(bench.host.feedConfigSaves, 1);
  EXPECT_EQ(bench.host.dataSaves, 1);
  EXPECT_EQ(bench.scanner.lastSaveTime, bench.clock.now);

  bench.clock.now += 9 * kMinute;
  bench.Run(ScanKind::Scheduled);
  EXPECT_EQ(bench.host.dataSaves, 1);
}

// An error inside a scheduled scan is logged and the timer keeps running: a failed download
// costs its feed only, a failed rating window ends the scan, a failed periodic save is logged;
// the next scan runs normally.
TEST_F(SchedulerTest, ErrorInsideAScheduledScanIsLoggedAndTheTimerKeepsRunning) {
  bench.scanner.saveConfigIntervalMs = 1000 * 24 * 3600 * 1000LL;  // only the save case saves
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::string logged;
    std::vector<std::string> presented;
  } cases[] = {
      {"download",
       [&] {
         bench.host.onScan = [](const std::string& url) {
           if (url == "http://a/rss") throw std::runtime_error("Disk full");
         };
       },
       "Error downloading http://a/rss: Disk full",
       {"Beta one"}},
      {"rating window",
       [&] { bench.user.onShow = [] { throw std::runtime_error("Rating window failed"); }; },
       "Rating window failed",
       {"Alpha one"}},
      {"periodic save",
       [&] {
         bench.host.failDataSave = true;
         bench.scanner.lastSaveTime = 0;
       },
       "Cannot create file data/reltable.dat",
       {"Alpha one", "Alpha two", "Beta one"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bench.clock.now += 3600 * 1000;
    bench.port.lines.clear();
    bench.user.shown.clear();
    bench.shownUrls.Clear();
    c.arrange();
    bench.Run(ScanKind::Scheduled);
    EXPECT_TRUE(bench.port.Logged(c.logged));
    EXPECT_FALSE(bench.port.LoggedVerbose(c.logged));
    EXPECT_EQ(bench.user.Titles(), c.presented);
    EXPECT_TRUE(bench.host.timerRunning);
    EXPECT_TRUE(bench.host.controlsEnabled);
    EXPECT_EQ(bench.resultsAtEnd, 0u);

    bench.host.onScan = nullptr;
    bench.user.onShow = nullptr;
    bench.host.failDataSave = false;
    bench.clock.now += 3600 * 1000;
    bench.port.lines.clear();
    bench.shownUrls.Clear();
    bench.Run(ScanKind::Scheduled);
    EXPECT_EQ(bench.Scanned().size(), 2u);
    EXPECT_TRUE(bench.port.Logged("Finished searching active feeds"));
  }
  EXPECT_EQ(bench.host.dataSaves, 1) << "the scan after the failed save saved";
}

TEST_F(SchedulerTest, ResetForgetsShownArticlesAndLastRefreshOnlyOnYes) {
  bench.Run(ScanKind::ActiveFeeds);
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

  // A minute later the next scheduled scan scans both feeds again and shows the same articles again.
  bench.clock.now += kMinute;
  bench.user.shown.clear();
  bench.Run(ScanKind::Scheduled);
  EXPECT_EQ(bench.user.shown.size(), 3u);
}

// A feed whose triage takes long is triaged in slices: no step of the job runs much past its
// slice, and the driver's events get their turn in between; what is found is the same.
TEST_F(SchedulerTest, ALongTriageIsCutIntoSlicesBetweenEvents) {
  std::vector<TItem> many;
  for (int i = 0; i < 40; ++i)
    many.push_back(Article("Slow " + std::to_string(i), "http://a/s" + std::to_string(i)));
  bench.host.documents["http://a/rss"] = many;
  bench.host.afterItem = [](const std::string&, int) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  ScanJobSettings settings = bench.JobSettings(ScanKind::ActiveFeeds);
  settings.triageSliceMs = 10;
  TScanJob job(bench.feeds, bench.scanner, bench.host, bench.port, bench.clock, settings);
  bench.job = &job;
  int steps = 0;
  int64_t longestMs = 0;
  for (ScanStep step = ScanStep::Ready; step != ScanStep::Done;) {
    const auto started = std::chrono::steady_clock::now();
    step = job.Advance();
    longestMs = std::max<int64_t>(longestMs, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - started)
                                                 .count());
    if (step == ScanStep::Download) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++steps;
  }
  bench.job = nullptr;
  // 40 items of 5 ms each: 200 ms of triage in slices of 10 ms.
  EXPECT_GE(steps, 10);
  EXPECT_LT(longestMs, 100);
  EXPECT_EQ(bench.user.shown.size(), 41u);
}

}  // namespace
}  // namespace zibu::test
