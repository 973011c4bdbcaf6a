// The learning run over one feed.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "feeds/learning_run.h"
#include "triage_fakes.h"

namespace zibu::test {
namespace {

class LearningRunTest : public ::testing::Test {
 protected:
  ScanBench bench;

  void SetUp() override {
    bench.feeds = {Feed("http://a/rss", {"1:nuclear"}), Feed("http://b/rss", {"0:x"})};
    bench.feeds[0].lastRefresh = kT0 - kMinute;
    bench.host.selected = 0;
    bench.host.threshold = 100;
    bench.host.documents["http://a/rss"] = {
        Article("Storm over the city", "http://a/1"), Article("Nuclear talks", "http://a/2", "<b>Vienna</b>"),
        Article("PSST! HM. 1984", "http://a/3", "XKCD 2025"), Article("Brrr", "http://a/4", "Dry myth")};
    // Shown a few minutes ago, and an unrelated entry.
    bench.shownUrls.Add("http://a/1", kT0 - 5 * kMinute);
    bench.shownUrls.Add("http://a/2", kT0 - 4 * kMinute);
    bench.shownUrls.Add("http://elsewhere/9", kT0 - 3 * kMinute);
  }

  std::vector<std::pair<std::string, int64_t>> Memory() const {
    std::vector<std::pair<std::string, int64_t>> out;
    for (int i = 0; i < bench.shownUrls.Count(); ++i)
      out.emplace_back(bench.shownUrls.KeyAt(i), bench.shownUrls.ValueAt(i));
    return out;
  }
};

TEST_F(LearningRunTest, ShowsEveryArticleWithAVowelEvenIfShownBeforeAndRestoresTheMemory) {
  const auto before = Memory();
  bench.user.answers = {{6, false}, {-3, false}, {2, false}};
  bench.clock.now = kT0 + 10;
  bench.Run(ScanKind::Learning);

  // "PSST! HM. 1984 XKCD 2025" has none of a, e, i, o, u, y; "Brrr Dry myth" has a y.
  EXPECT_EQ(bench.user.Titles(), (std::vector<std::string>{"Storm over the city", "Nuclear talks", "Brrr"}));
  for (const auto& shown : bench.user.shown) EXPECT_EQ(shown.reason, "Learning");
  for (const auto& a : bench.user.articles) EXPECT_TRUE(a.learning && a.matchedRule.empty()) << a.title;
  EXPECT_EQ(bench.user.shown[1].description, "Vienna");
  ASSERT_EQ(bench.learner.learned.size(), 3u);
  EXPECT_EQ(bench.learner.learned[0], std::make_pair(6, std::string("Storm over the city ")));

  // The memory of before, and the three articles just rated.
  auto after = before;
  for (const char* link : {"http://a/1", "http://a/2", "http://a/4"}) after.emplace_back(link, kT0 + 10);
  EXPECT_EQ(Memory(), after);
  EXPECT_EQ(bench.feeds[0].keywords, std::vector<std::string>{"1:nuclear"});
  EXPECT_EQ(bench.feeds[0].lastRefresh, kT0 - kMinute);
  ASSERT_EQ(bench.host.scannedKeywordsFirst.size(), 1u);
  EXPECT_EQ(bench.host.scannedKeywordsFirst[0], "1:a");

  EXPECT_EQ(bench.host.feedConfigSaves, 1);
  EXPECT_EQ(bench.host.dataSaves, 1);
  EXPECT_EQ(bench.port.messages.back(),
            "Learning finished for this feed.\r\nYou can repeat this process at any time with this or other "
            "feeds.\r\nThe more I learn, the more relevant the articles I show you will be.");
  EXPECT_FALSE(bench.learningAtEnd);
  EXPECT_TRUE(bench.host.timerRunning);
  EXPECT_FALSE(bench.port.Logged("Keyword match on NUCLEAR"));
}

TEST_F(LearningRunTest, TheRulesAreSixOneLetterLines) {
  EXPECT_EQ(LearningRules(), (std::vector<std::string>{"1:a", "1:e", "1:i", "1:o", "1:u", "1:y"}));
}

TEST_F(LearningRunTest, IntroductionOnlyOnAFirstRunAndNothingWithoutASelection) {
  bench.host.settings.firstTime = true;
  bench.Run(ScanKind::Learning);
  // Introduction, the reminder (nothing was rated), the final message.
  ASSERT_EQ(bench.port.messages.size(), 3u);
  EXPECT_EQ(bench.port.messages[0].rfind("I will now show you all the articles from this feed.", 0), 0u);
  EXPECT_EQ(bench.port.messages[1].rfind("You only rated 0/3 articles.", 0), 0u);
  EXPECT_EQ(bench.port.messages[2].rfind("Learning finished for this feed.", 0), 0u);

  ScanBench none;
  none.feeds = {Feed("http://a/rss")};
  none.shownUrls.Add("http://a/1", kT0);
  none.Run(ScanKind::Learning);
  EXPECT_EQ(none.port.messages, std::vector<std::string>{"Please select a feed to use for learning"});
  EXPECT_TRUE(none.Scanned().empty());
  EXPECT_EQ(none.host.dataSaves, 0);
  EXPECT_EQ(none.shownUrls.Count(), 1);
  EXPECT_TRUE(none.host.timerRunning);
}

TEST_F(LearningRunTest, AnErrorDuringThePresentationStillRestoresTheMemoryAndIsLogged) {
  const auto before = Memory();
  int shownCount = 0;
  bench.user.onShow = [&] {
    if (++shownCount == 2) throw std::runtime_error("Rating window failed");
  };
  bench.Run(ScanKind::Learning);
  // The first article was presented (and left at 0) before the second window failed.
  auto after = before;
  after.emplace_back("http://a/1", kT0);
  EXPECT_EQ(Memory(), after);
  EXPECT_TRUE(bench.port.Logged("Rating window failed"));
  EXPECT_FALSE(bench.learningAtEnd);
  EXPECT_TRUE(bench.host.timerRunning);
  EXPECT_EQ(bench.host.dataSaves, 0);  // the run ended before its save
}

// A download error is logged by the scan and does not end the run: nothing is found, and the
// run still restores the memory, saves and says it is finished.
TEST_F(LearningRunTest, ADownloadErrorStillRestoresTheMemoryAndEndsTheRunNormally) {
  const auto before = Memory();
  bench.host.onScan = [](const std::string&) { throw std::runtime_error("EHttpError"); };
  bench.Run(ScanKind::Learning);
  EXPECT_EQ(Memory(), before);
  EXPECT_TRUE(bench.port.Logged("Error downloading http://a/rss: EHttpError"));
  EXPECT_TRUE(bench.port.Logged("No new matching items found"));
  EXPECT_EQ(bench.host.dataSaves, 1);
  EXPECT_EQ(bench.port.messages.back().rfind("Learning finished for this feed.", 0), 0u);
  EXPECT_FALSE(bench.learningAtEnd);
  EXPECT_TRUE(bench.host.timerRunning);
}

TEST_F(LearningRunTest, AsATableEveryArticleIsRatedAndTheMemoryIsStillRestored) {
  const auto before = Memory();
  bench.host.resultsFormat = 1;
  bench.host.tableRatings = {4, 0, -1};
  bench.Run(ScanKind::Learning);
  EXPECT_EQ(bench.host.tablesShown, 1);
  EXPECT_EQ(bench.host.tableTitles.size(), 3u);
  // The unrated middle row is remembered with the rest.
  auto after = before;
  for (const char* link : {"http://a/1", "http://a/2", "http://a/4"}) after.emplace_back(link, kT0);
  EXPECT_EQ(Memory(), after);
}

TEST_F(LearningRunTest, EnoughForNowEndsTheRunNormally) {
  bench.user.answers = {{5, true}};
  bench.clock.now = kT0 + 99;
  bench.Run(ScanKind::Learning);
  EXPECT_EQ(bench.user.shown.size(), 1u);
  EXPECT_EQ(bench.feeds[0].lastRefresh, kT0 + 99);
  EXPECT_EQ(bench.feeds[1].lastRefresh, kT0 + 99);
  EXPECT_EQ(bench.host.dataSaves, 1);
  EXPECT_EQ(bench.shownUrls.Count(), 4);  // the three of before and the one presented
}

// What the memory holds after a learning run: what it held before, and every article the run
// presented, rated or left at 0, with the time it was shown. Presented before an error ended the
// run counts as presented; the article whose window failed was never answered and is not.
// The next ordinary scan, with the same threshold of 0, alerts none of them again.
TEST_F(LearningRunTest, PresentedArticlesStayRememberedAfterTheRunAndTheNextScan) {
  const struct {
    const char* name;
    int format;                             // 0 one by one, 1 as a table
    std::vector<PageFoundResult> answers;   // one by one
    std::vector<int> tableRatings;          // as a table
    int failAtShow;                         // 0: no failure; n: the n-th article's window fails, unanswered
    std::vector<std::string> remembered;    // added to the memory of before, in this order
  } cases[] = {
      {"all rated", 0, {{6, false}, {-3, false}, {2, false}}, {}, 0, {"http://a/1", "http://a/2", "http://a/4"}},
      {"none rated", 0, {{0, false}, {0, false}, {0, false}}, {}, 0, {"http://a/1", "http://a/2", "http://a/4"}},
      {"middle unrated", 0, {{-10, false}, {0, false}, {10, false}}, {}, 0, {"http://a/1", "http://a/2", "http://a/4"}},
      {"enough after the second", 0, {{0, false}, {1, true}}, {}, 0, {"http://a/1", "http://a/2"}},
      {"window fails at the third", 0, {{4, false}, {0, false}}, {}, 3, {"http://a/1", "http://a/2"}},
      {"table, all rated", 1, {}, {1, -1, 3}, 0, {"http://a/1", "http://a/2", "http://a/4"}},
      {"table, none rated", 1, {}, {}, 0, {"http://a/1", "http://a/2", "http://a/4"}},
      {"table, last rated", 1, {}, {0, 0, -7}, 0, {"http://a/1", "http://a/2", "http://a/4"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScanBench run;
    run.feeds = bench.feeds;
    run.host.selected = 0;
    run.host.threshold = 100;
    run.host.documents = bench.host.documents;
    run.host.resultsFormat = c.format;
    run.host.tableRatings = c.tableRatings;
    run.shownUrls.AddAll(bench.shownUrls);
    run.user.answers.assign(c.answers.begin(), c.answers.end());
    int shows = 0;
    run.user.onShow = [&] {
      run.clock.now += 1000;  // each article shown a second after the one before
      if (++shows == c.failAtShow) throw std::runtime_error("Rating window failed");
    };
    run.clock.now = kT0 + 10;
    run.Run(ScanKind::Learning);

    std::vector<std::pair<std::string, int64_t>> expected;
    for (int i = 0; i < bench.shownUrls.Count(); ++i)
      expected.emplace_back(bench.shownUrls.KeyAt(i), bench.shownUrls.ValueAt(i));
    for (const std::string& link : c.remembered) {
      // One by one, the time is that of the article's own window; as a table, all at once.
      const int shownAs = link == "http://a/1" ? 1 : link == "http://a/2" ? 2 : 3;
      expected.emplace_back(link, kT0 + 10 + 1000 * (c.format == 0 ? shownAs : 0));
    }
    std::vector<std::pair<std::string, int64_t>> memory;
    for (int i = 0; i < run.shownUrls.Count(); ++i) memory.emplace_back(run.shownUrls.KeyAt(i), run.shownUrls.ValueAt(i));
    EXPECT_EQ(memory, expected);
    EXPECT_EQ(run.presentedAtEnd, 0) << "nothing carried into the next run";
    EXPECT_FALSE(run.learningAtEnd);

    // The next scan of the same feed: every article the run presented stays away; what it never
    // presented (no vowel, or after "enough" or the failure) comes as an alert.
    const size_t learningShows = run.user.shown.size();
    run.host.threshold = 0;
    run.feeds[0].keywords = {"1:zzz"};
    run.user.onShow = nullptr;
    run.host.resultsFormat = 0;
    run.user.answers.assign(4, PageFoundResult{0, false});
    run.clock.now += 60000;
    run.Run(ScanKind::SelectedFeed);
    std::vector<std::string> alerted;
    for (size_t i = learningShows; i < run.user.shown.size(); ++i) alerted.push_back(run.user.shown[i].link);
    for (const std::string& link : c.remembered)
      EXPECT_EQ(std::count(alerted.begin(), alerted.end(), link), 0) << link << " alerted again";
    EXPECT_EQ(alerted.size() + c.remembered.size(), 4u) << "the rest is alerted";
  }
}

// An ordinary scan's ratings are remembered as every presented article is; none of them is
// taken for a learning run's rating.
TEST_F(LearningRunTest, AnOrdinaryScanRecordsNoLearningRatings) {
  bench.host.threshold = 0;
  bench.user.answers = {{5, false}, {5, false}, {5, false}, {5, false}};
  bench.Run(ScanKind::SelectedFeed);
  EXPECT_FALSE(bench.user.shown.empty());
  EXPECT_EQ(bench.presentedAtEnd, 0);
}

}  // namespace
}  // namespace zibu::test
