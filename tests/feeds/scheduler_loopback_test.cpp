// The scan jobs with the real downloads, the real item reader and the real learning engine,
// against feeds served from 127.0.0.1: what a scheduled scan finds before and after a learning run.
#include <gtest/gtest.h>

#include <unistd.h>
#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <thread>

#include "common/shortintmap.h"
#include "feeds/feed_scan.h"
#include "feeds/learning_run.h"
#include "feeds/scan_job.h"
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

// The window: the scans' temporary folder and request settings.
class LoopbackHost : public FakeHost {
 public:
  LoopbackHost(ManualClock& clock, std::string tempDir)
      : FakeHost(clock), clock_(clock), tempDir_(std::move(tempDir)) {}
  int timeoutMs = 2000;
  FeedScanSettings ScanSettings() {
    FeedScanSettings settings;
    settings.tempDir = tempDir_;
    settings.http = FeedRequestOptions(ProxySettings{});
    settings.http.connectTimeoutMs = timeoutMs;
    settings.http.readTimeoutMs = timeoutMs;
    settings.clock = &clock_;
    return settings;
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

  ScanJobSettings JobSettings(ScanKind kind, int parallel) {
    ScanJobSettings settings;
    settings.kind = kind;
    settings.scan = host.ScanSettings();
    settings.maxParallel = parallel;
    return settings;
  }
  // A scan as the window runs it, to its end; with `scanner` or another.
  void RunJob(ScanKind kind, int parallel = 8) { RunJob(scanner, JobSettings(kind, parallel)); }
  void RunJob(TFeedScanner& with, ScanJobSettings settings) {
    TScanJob job(feeds, with, host, port, clock, std::move(settings));
    job.SetShownUrls(&shownUrls);
    job.RunToEnd();
  }
  int ScannedCount() const {
    int n = 0;
    for (const auto& line : port.lines) n += line.text.rfind("Scanning feed ", 0) == 0;
    return n;
  }
};

TEST_F(SchedulerLoopbackTest, ScheduledScanFindsTheKeywordMatchAndAfterLearningTheRelevantArticle) {
  RunJob(ScanKind::Scheduled);
  EXPECT_EQ(user.Titles(), std::vector<std::string>{"Volcano erupts near village"});
  EXPECT_EQ(user.shown[0].reason, "Keyword match on VOLCANO");
  EXPECT_EQ(feeds[0].lastRefresh, clock.now);

  host.selected = 0;
  user.shown.clear();
  user.answers = {{10, false}, {-8, false}};
  shownUrls.Clear();
  shownUrls.Add(server.Url("/n/1"), clock.now);
  RunJob(ScanKind::Learning);
  EXPECT_EQ(user.Titles(), (std::vector<std::string>{"Football cup final tonight", "Stock market report"}));
  EXPECT_GT(engine.WordWeights().Get("FOOTBALL"), 0);
  EXPECT_LT(engine.WordWeights().Get("STOCK"), 0);
  // The memory of before and the two articles just rated.
  EXPECT_EQ(shownUrls.Count(), 3);
  EXPECT_EQ(host.dataSaves, 1);

  // A minute later both feeds are due; the volcano was shown and both rated articles too, so
  // none of them comes back.
  clock.now += kMinute + 1;
  user.shown.clear();
  RunJob(ScanKind::Scheduled);
  EXPECT_TRUE(user.Titles().empty());
  for (const char* path : {"/n/1", "/s/1", "/s/2"})
    EXPECT_TRUE(port.Logged("URL " + server.Url(path) + " has been shown recently, ignoring it")) << path;

  // New articles: the football one qualifies by what was learned, once although both feeds carry
  // it, and the stock market one stays below the threshold.
  const std::array<std::string, 3> football = {"Football cup final replay", "Both football teams are ready",
                                               server.Url("/s/4")};
  server.ServeBody("/sport.xml",
                   Rss({football, {"Stock market report again", "Shares fell on the stock market", server.Url("/s/5")}}),
                   "text/xml");
  server.ServeBody("/news.xml", Rss({football}), "text/xml");
  clock.now += kMinute + 1;
  RunJob(ScanKind::Scheduled);
  ASSERT_EQ(user.Titles(), std::vector<std::string>{"Football cup final replay"});
  EXPECT_EQ(user.shown[0].reason.rfind("Article found, relevance=", 0), 0u);
  EXPECT_TRUE(port.Logged("Duplicate URL " + server.Url("/s/4") + " found, ignoring it"));
}

TEST_F(SchedulerLoopbackTest, CancelDuringTheFirstFeedScansNoFurtherFeed) {
  int triaged = 0;
  host.threshold = 0;
  // Cancel as the first item is looked at: the real scan stops before the next one.
  struct CancellingLearner : RelevanceLearner {
    TScanJob* job = nullptr;
    int* count = nullptr;
    int GetRelevance(std::string_view) override {
      ++*count;
      job->Cancel();
      return 50;
    }
    void LearnFromRating(int, std::string_view) override {}
  } cancelling;
  cancelling.count = &triaged;
  TFeedScanner cancellable{feeds, shownUrls, cancelling, port, clock, host, user};
  TScanJob job(feeds, cancellable, host, port, clock, JobSettings(ScanKind::ActiveFeeds, 8));
  cancelling.job = &job;
  job.RunToEnd();
  EXPECT_EQ(triaged, 1);
  EXPECT_EQ(ScannedCount(), 1);
  EXPECT_EQ(feeds[1].lastRefresh, 0);
  EXPECT_TRUE(user.shown.empty());
}

// The scan as a job against four servers (several downloads at once need several hosts: at most
// two go to one). Its feeds answer after random delays, some fail, one keeps silent.
class ScanJobLoopbackTest : public SchedulerLoopbackTest {
 protected:
  LoopbackServer more[3];
  int refusedPort = 0;

  LoopbackServer& ServerFor(int i) { return i % 4 == 0 ? server : more[i % 4 - 1]; }

  // `count` feeds: shared and own articles, keyword rules on some, failures, an inactive feed and
  // one scanned moments ago.
  void ServeManyFeeds(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, 60);
    {
      // A port nobody listens on: the connection is refused, as a reset would end it.
      LoopbackServer gone;
      refusedPort = gone.Port();
    }
    feeds.clear();
    for (int i = 0; i < count; ++i) {
      LoopbackServer& s = ServerFor(i);
      const std::string path = "/f" + std::to_string(i) + ".xml";
      std::vector<std::array<std::string, 3>> items = {
          {"Story " + std::to_string(i), "About feed " + std::to_string(i), s.Url("/a/" + std::to_string(i))}};
      if (i % 2 == 0) items.push_back({"Shared story", "In every even feed", server.Url("/shared")});
      if (i % 7 == 3)
        s.ServeStatus(path, 404);
      else if (i % 11 == 5)
        s.ServeStatus(path, 500);
      else if (i == 13)
        s.ServeDelayed(path, 900, Rss(items), "text/xml");  // beyond the read time-out
      else
        s.ServeDelayed(path, delay(random), Rss(items), "text/xml");
      std::string url = i == 9 ? "http://127.0.0.1:" + std::to_string(refusedPort) + path : s.Url(path);
      feeds.push_back(Feed(url, i % 5 == 0 ? std::vector<std::string>{"1:story"} : std::vector<std::string>{},
                           i != 4, 60));
    }
    feeds[6].lastRefresh = clock.now - 10000;
  }

  struct Outcome {
    std::vector<std::pair<std::string, bool>> lines;
    std::vector<std::string> shown;  // title and link, in the order presented
    std::vector<int64_t> lastRefresh;
    std::vector<std::string> remembered;
  };
  Outcome Take() {
    Outcome o;
    for (const auto& l : port.lines) o.lines.emplace_back(l.text, l.verbose);
    for (const auto& u : user.shown) o.shown.push_back(u.title + " " + u.link);
    for (const TFeed& f : feeds) o.lastRefresh.push_back(f.lastRefresh);
    for (int i = 0; i < shownUrls.Count(); ++i) o.remembered.push_back(shownUrls.KeyAt(i));
    port.lines.clear();
    user.shown.clear();
    shownUrls.Clear();
    return o;
  }
  void Rewind(const std::vector<int64_t>& lastRefresh) {
    for (size_t i = 0; i < feeds.size(); ++i) feeds[i].lastRefresh = lastRefresh[i];
  }
};

// However many downloads run at once, and however its triage is sliced, the job decides what
// the scan that downloads one feed at a time decides: the same lines in the same order, the same
// articles presented and remembered, the same lastRefresh.
TEST_F(ScanJobLoopbackTest, ParallelScansEqualTheOneAtATimeScan) {
  host.threshold = 0;
  host.timeoutMs = 500;
  host.settings.verboseOutput = true;
  ServeManyFeeds(24, 20261210);
  std::vector<int64_t> before;
  for (const TFeed& f : feeds) before.push_back(f.lastRefresh);

  // One download at a time, each feed triaged in one go.
  ScanJobSettings oneAtATime = JobSettings(ScanKind::ActiveFeeds, 1);
  oneAtATime.triageSliceMs = 1000000;
  const auto referenceStart = std::chrono::steady_clock::now();
  RunJob(scanner, oneAtATime);
  const auto referenceMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - referenceStart)
                               .count();
  const Outcome reference = Take();
  ASSERT_GT(reference.shown.size(), 10u);
  ASSERT_TRUE(std::count_if(reference.lines.begin(), reference.lines.end(), [](const auto& l) {
    return l.first.rfind("Error downloading ", 0) == 0;
  }) >= 5);
  // Each feed scanned has its lines in one piece: the next feed's begin after its last.
  std::vector<std::string> scanLines;
  for (const auto& [text, verbose] : reference.lines)
    if (text.rfind("Scanning feed ", 0) == 0 || text.rfind("Finished scanning feed ", 0) == 0)
      scanLines.push_back(text.substr(0, text.find(' ', 9)));
  for (size_t i = 0; i < scanLines.size(); ++i)
    EXPECT_EQ(scanLines[i], i % 2 == 0 ? "Scanning feed" : "Finished scanning") << i;

  const struct {
    ScanKind kind;
    int parallel;
    int sliceMs;
  } runs[] = {{ScanKind::ActiveFeeds, 1, kTriageSliceMs},
              {ScanKind::ActiveFeeds, 8, kTriageSliceMs},
              {ScanKind::ActiveFeeds, 8, 0},
              {ScanKind::Scheduled, 3, kTriageSliceMs}};
  for (const auto& run : runs) {
    SCOPED_TRACE("parallel " + std::to_string(run.parallel) + ", slice " + std::to_string(run.sliceMs));
    Rewind(before);
    scanner.lastUserActivity = clock.now - kMinute;
    ScanJobSettings settings = JobSettings(run.kind, run.parallel);
    settings.triageSliceMs = run.sliceMs;
    TScanJob job(feeds, scanner, host, port, clock, settings);
    const auto started = std::chrono::steady_clock::now();
    job.RunToEnd();
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LE(job.Pool().MostRunning(), run.parallel);
    if (run.parallel == 8 && run.sliceMs > 0) {
      EXPECT_GE(job.Pool().MostRunning(), 5);
      // Everything overlaps the silent feed's time-out: far less than the one-at-a-time sum.
      EXPECT_LT(tookMs, referenceMs * 3 / 4);
    }
    const Outcome parallel = Take();
    EXPECT_EQ(parallel.lines, reference.lines);
    EXPECT_EQ(parallel.shown, reference.shown);
    EXPECT_EQ(parallel.lastRefresh, reference.lastRefresh);
    EXPECT_EQ(parallel.remembered, reference.remembered);
    EXPECT_TRUE(host.timerRunning);
    EXPECT_TRUE(host.controlsEnabled);
    EXPECT_TRUE(job.State().results.empty());
  }
}

// Cancel abandons every download in flight at once, not one time-out after another.
TEST_F(ScanJobLoopbackTest, CancelEndsEveryDownloadInFlightAtOnce) {
  feeds.clear();
  for (int i = 0; i < 12; ++i) {
    ServerFor(i).ServeDelayed("/slow.xml", 20000, "<rss/>", "text/xml");
    feeds.push_back(Feed(ServerFor(i).Url("/slow.xml") + "?" + std::to_string(i)));
  }
  TScanJob job(feeds, scanner, host, port, clock, JobSettings(ScanKind::ActiveFeeds, 8));
  ASSERT_EQ(job.Advance(), ScanStep::Download);
  for (int i = 0; i < 200 && job.Pool().Running() < 8; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(job.Pool().Running(), 8);
  EXPECT_FALSE(host.controlsEnabled);

  const auto cancelled = std::chrono::steady_clock::now();
  job.Cancel();
  ScanStep step = ScanStep::Ready;
  while ((step = job.Advance()) != ScanStep::Done) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  while (job.Pool().Running() > 0 &&
         std::chrono::steady_clock::now() - cancelled < std::chrono::seconds(2))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const auto tookMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - cancelled).count();
  EXPECT_LT(tookMs, 200);
  EXPECT_EQ(job.Pool().Running(), 0);
  // The feed whose turn it was ends as a cancelled download; no further feed is scanned.
  EXPECT_EQ(port.Count("Finished scanning feed " + feeds[0].url), 1);
  EXPECT_EQ(port.Count("Scanning feed " + feeds[1].url), 0);
  EXPECT_TRUE(port.Logged("Finished searching active feeds"));
  EXPECT_FALSE(port.Logged("No new matching items found"));
  EXPECT_TRUE(host.controlsEnabled);
  EXPECT_TRUE(host.timerRunning);
  EXPECT_EQ(feeds[1].lastRefresh, 0);
}

// The idle gate holds the downloads until the user is idle, and each feed's triage while the user
// is busy again; the downloads themselves go on meanwhile.
TEST_F(ScanJobLoopbackTest, IdleGateHoldsDownloadsAndThenEachFeedsTriage) {
  host.threshold = 0;
  host.settings.runAfterIdleForMs = 300000;
  scanner.lastUserActivity = clock.now - kMinute;
  clock.idle = 1000;
  TScanJob job(feeds, scanner, host, port, clock, JobSettings(ScanKind::Scheduled, 8));
  const struct {
    uint32_t idle;
    ScanStep expected;
  } held[] = {{1000, ScanStep::Idle}, {299999, ScanStep::Idle}};
  for (const auto& h : held) {
    clock.idle = h.idle;
    EXPECT_EQ(job.Advance(), h.expected);
    EXPECT_GE(job.IdleRecheckMs(), 1);
    EXPECT_LE(job.IdleRecheckMs(), 2500);
  }
  EXPECT_EQ(port.Count("User is busy, waiting for idle..."), 1);
  EXPECT_TRUE(server.Requests().empty()) << "nothing is downloaded while the user is busy";

  clock.idle = 300000;
  while (job.State().results.empty()) {
    ASSERT_NE(job.Advance(), ScanStep::Done);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const size_t afterFirst = job.State().results.size();
  clock.idle = 10;
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(job.Advance(), ScanStep::Idle);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(job.State().results.size(), afterFirst);
  EXPECT_EQ(server.RequestCount("/news.xml"), 1u) << "the second feed's download was not held";
  EXPECT_EQ(port.Count("User is busy, waiting for idle..."), 2);
  clock.idle = 300000;
  job.RunToEnd();
  ASSERT_EQ(user.Titles().size(), 4u);
  EXPECT_EQ(user.Titles()[0], "Volcano erupts near village");
  EXPECT_TRUE(port.Logged("Finished searching active feeds"));
}

// The learning run as a job: the articles of the selected feed offered for rating whether shown
// before or not, the words learned, the memory set aside and given back, the list's feed keeping
// its time; the same however its triage is sliced. Without a selection nothing happens but the
// message.
TEST_F(ScanJobLoopbackTest, LearningRunAsAJob) {
  const struct {
    int selected;
    int sliceMs;
  } runs[] = {{0, 1000000}, {0, 0}, {-1, kTriageSliceMs}};
  std::optional<Outcome> reference;
  for (const auto& run : runs) {
    SCOPED_TRACE(std::to_string(run.selected) + ", slice " + std::to_string(run.sliceMs));
    LearningEngine fresh{port};
    EngineLearner freshLearner{fresh};
    TFeedScanner learning{feeds, shownUrls, freshLearner, port, clock, host, user};
    host.selected = run.selected;
    host.dataSaves = 0;
    shownUrls.Add(server.Url("/n/1"), clock.now);
    user.answers = {{10, false}, {-8, false}};
    ScanJobSettings settings = JobSettings(ScanKind::Learning, 8);
    settings.triageSliceMs = run.sliceMs;
    TScanJob job(feeds, learning, host, port, clock, settings);
    job.SetShownUrls(&shownUrls);
    job.RunToEnd();
    EXPECT_FALSE(job.State().isLearning);
    EXPECT_TRUE(host.timerRunning);
    const Outcome outcome = Take();
    if (run.selected < 0) {
      EXPECT_EQ(port.messages.back(), "Please select a feed to use for learning");
      EXPECT_TRUE(outcome.shown.empty());
      EXPECT_EQ(outcome.remembered, std::vector<std::string>{server.Url("/n/1")});
      EXPECT_EQ(host.dataSaves, 0);
      continue;
    }
    EXPECT_EQ(outcome.shown, (std::vector<std::string>{"Football cup final tonight " + server.Url("/s/1"),
                                                       "Stock market report " + server.Url("/s/2")}));
    EXPECT_EQ(outcome.remembered,
              (std::vector<std::string>{server.Url("/n/1"), server.Url("/s/1"), server.Url("/s/2")}));
    EXPECT_EQ(outcome.lastRefresh, (std::vector<int64_t>{0, 0})) << "the list's feed keeps its time";
    EXPECT_GT(fresh.WordWeights().Get("FOOTBALL"), 0);
    EXPECT_LT(fresh.WordWeights().Get("STOCK"), 0);
    EXPECT_EQ(host.dataSaves, 1);
    EXPECT_EQ(port.messages.back().rfind("Learning finished for this feed.", 0), 0u);
    if (!reference) {
      reference = outcome;
      continue;
    }
    EXPECT_EQ(outcome.lines, reference->lines);
    EXPECT_EQ(outcome.shown, reference->shown);
  }
}

// A learning run scans a copy of the feed: the title it finds, with the characters Windows-1252
// lacks, names the list's feed as an ordinary scan would.
TEST_F(ScanJobLoopbackTest, ALearningRunNamesTheListsFeedWithItsTitlesCharacters) {
  const std::string kot = "\u041A\u043E\u0442 \U0001F605";
  server.ServeBody("/own.xml",
                   "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss><channel><title>" + kot +
                       "</title><item><title>Football</title><link>" + server.Url("/o/1") + "</link></item></channel></rss>",
                   "text/xml");
  const struct {
    const char* what;
    std::string title, titleUtf8;  // before
    std::string afterTitle, afterUtf8;
  } cases[] = {
      {"no name yet", "", "", "\xBF\xBF\xBF \xBF", kot},
      {"a name taken before its characters were kept", "\xBF\xBF\xBF \xBF", "", "\xBF\xBF\xBF \xBF", kot},
      {"a name given otherwise", "Mine", "", "Mine", ""},
  };
  for (const auto& c : cases) {
    feeds = {Feed(server.Url("/own.xml"), {}, true, 60)};
    feeds[0].title = c.title;
    feeds[0].titleUtf8 = c.titleUtf8;
    host.selected = 0;
    user.answers = {{0, false}};
    TScanJob job(feeds, scanner, host, port, clock, JobSettings(ScanKind::Learning, 2));
    job.SetShownUrls(&shownUrls);
    job.RunToEnd();
    EXPECT_EQ(feeds[0].title, c.afterTitle) << c.what;
    EXPECT_EQ(feeds[0].titleUtf8, c.afterUtf8) << c.what;
    Take();
  }
}

}  // namespace
}  // namespace zibu::test
