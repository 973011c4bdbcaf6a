// Triage of single articles and the shown-article memory.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "common/codepage.h"
#include "feeds/shown_memory.h"
#include "feeds/triage.h"
#include "triage_fakes.h"

namespace zibu::test {
namespace {

class TriageTest : public ::testing::Test {
 protected:
  ScanBench bench;
  Items results;
  TItem working;

  void Triage(const TFeed& feed, const TItem& article) {
    working.Title = article.Title;
    working.Description = article.Description;
    working.Link = article.Link;
    bench.scanner.TriageItem(bench.state, feed, working, results);
  }
};

TEST_F(TriageTest, ShownWithinRepeatIntervalIsSkippedAndExpiredEntriesArePurgedByTheWalk) {
  bench.host.settings.repeatIntervalMs = 60 * kMinute;
  bench.shownUrls.Add("http://x/old", kT0 - 61 * kMinute);
  bench.shownUrls.Add("http://x/recent", kT0 - 59 * kMinute);
  const TFeed feed = Feed("http://feed", {}, true);
  bench.host.threshold = 0;

  Triage(feed, Article("Recent", "http://x/recent"));
  EXPECT_TRUE(results.empty());
  EXPECT_TRUE(bench.port.LoggedVerbose("URL http://x/recent has been shown recently, ignoring it"));
  // The walk stopped at the newest entry: the expired one before it was not looked at.
  EXPECT_EQ(bench.shownUrls.Count(), 2);

  Triage(feed, Article("Old", "http://x/old"));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Link, "http://x/old");
  EXPECT_EQ(bench.ShownKeys(), std::vector<std::string>{"http://x/recent"});
}

TEST_F(TriageTest, ShownMemoryBoundaryAndCaseSensitiveKeys) {
  TCompMap shown;
  MarkShown(shown, "http://x/a", kT0 - 60 * kMinute);
  EXPECT_TRUE(WasShownRecently(shown, "http://x/a", kT0, 60 * kMinute));  // exactly the interval: kept
  EXPECT_FALSE(WasShownRecently(shown, "http://X/a", kT0, 60 * kMinute));
  EXPECT_EQ(shown.Count(), 1);
  EXPECT_FALSE(WasShownRecently(shown, "http://x/a", kT0 + 1, 60 * kMinute));
  EXPECT_EQ(shown.Count(), 0);
  // Repeat interval 0 forgets everything at once.
  MarkShown(shown, "http://x/b", kT0 - 1);
  EXPECT_FALSE(WasShownRecently(shown, "http://x/b", kT0, 0));
}

TEST_F(TriageTest, DuplicateNeedsTheSameTitleAndTheSameLink) {
  const TFeed feed = Feed("http://feed");
  bench.host.threshold = 0;
  Triage(feed, Article("Storm warning", "http://x/1"));
  Triage(feed, Article("Storm warning, updated", "http://x/1"));
  Triage(feed, Article("Storm warning", "http://x/2"));
  Triage(feed, Article("Storm warning", "http://x/1"));
  ASSERT_EQ(results.size(), 3u);
  EXPECT_TRUE(bench.port.LoggedVerbose("Duplicate URL http://x/1 found, ignoring it"));
  EXPECT_EQ(bench.port.Count("Duplicate URL http://x/1 found, ignoring it"), 1);
}

// The hashed duplicate check must give the walk's answer whatever happens to the lists between
// two questions. Steps: "?L t|l" asks about title t and link l in list L (A or B), "+L t|l"
// appends, "cL" clears, "xL t|l" replaces the last item, "sL" reverses the order.
TEST(ResultKeysTest, AnswersAsTheWalkOverTheListAskedAbout) {
  const std::vector<std::vector<std::string>> scripts = {
      {"?A a|1", "+A a|1", "?A a|1", "?A a|2", "?A b|1", "+A b|2", "?A b|2", "?B a|1", "?A a|1"},
      {"+A ab|c", "?A a|bc", "?A ab|c", "?A abc|", "?A |abc"},
      {"+A a|1", "+A b|2", "?A b|2", "cA", "?A a|1", "?A b|2", "+A c|3", "?A c|3", "?A a|1"},
      {"+A a|1", "+A b|2", "?A b|2", "xA z|9", "?A b|2", "?A z|9", "?A a|1"},
      {"+A a|1", "+A b|2", "+A c|3", "?A a|1", "sA", "?A c|3", "?A a|1", "+A d|4", "?A d|4", "?A e|5"},
      {"+A a|1", "?A a|1", "+B b|2", "?B a|1", "?B b|2", "?A b|2", "+A b|2", "?A b|2", "cB", "?B b|2"},
  };
  for (const auto& script : scripts) {
    Items lists[2];
    TResultKeys keys;
    std::string trace;
    for (const std::string& step : script) {
      trace += step + "; ";
      Items& list = lists[step[1] - 'A'];
      const size_t bar = step.find('|');
      TItem item;
      if (bar != std::string::npos) {
        item.Title = step.substr(3, bar - 3);
        item.Link = step.substr(bar + 1);
      }
      switch (step[0]) {
        case '?':
          EXPECT_EQ(keys.Contains(item, list), IsDuplicate(item, list)) << trace;
          break;
        case '+':
          list.push_back(item);
          break;
        case 'c':
          list.clear();
          break;
        case 'x':
          list.back() = item;
          break;
        case 's':
          std::reverse(list.begin(), list.end());
          break;
      }
    }
  }
}

TEST_F(TriageTest, TitleAndDescriptionBecomePlainTextBeforeTheDuplicateTest) {
  const TFeed feed = Feed("http://feed");
  bench.host.threshold = 0;
  Triage(feed, Article("<b>Fish</b> &amp; chips", "http://x/1", "<p>Hot&nbsp;<i>and</i> salty</p>"));
  Triage(feed, Article("Fish & chips", "http://x/1"));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Title, "Fish & chips");
  EXPECT_EQ(results[0].Description.find('<'), std::string::npos);
}

// The UTF-8 texts follow the single-byte ones into plain text, references turned into their
// characters, while what triage decides and keeps of the single-byte texts does not change.
TEST_F(TriageTest, TextsToShowBecomePlainTextBesideTheSingleByteOnes) {
  struct Case {
    const char* what;
    TItem article;  // as item reading gives it
    std::string title, description;            // the single-byte plain texts
    std::string titleShown, descriptionShown;  // UTF-8
  };
  auto article = [](std::string title, std::string titleUtf8, std::string description, std::string descriptionUtf8) {
    TItem item = Article(std::move(title), "http://x/" + std::to_string(std::hash<std::string>()(titleUtf8 + title)),
                         std::move(description));
    item.TitleUtf8 = std::move(titleUtf8);
    item.DescriptionUtf8 = std::move(descriptionUtf8);
    return item;
  };
  const Case cases[] = {
      {"markup around Cyrillic and an emoji",
       article("<b>\xBF\xBF\xBF</b> \xBF", "<b>\u041A\u043E\u0442</b> \U0001F605", "<p>\xBF&nbsp;fish</p>",
               "<p>\u03A9&nbsp;fish</p>"),
       "\xBF\xBF\xBF \xBF", " \xBF fish ", "\u041A\u043E\u0442 \U0001F605", " \u03A9 fish "},
      {"references in an ASCII text give the characters a window shows",
       article("It&#8217;s &#1060; &amp;#931;", "", "&pound;5 &#x1F605;", ""), "It\x92s \xBF &#931;", "\xA3" "5 \xBF",
       "It\u2019s \u0424 &#931;", "\u00A3" "5 \U0001F605"},
      {"a text with a character Windows-1252 has", article("Caf\xE9", "", "na&iuml;ve &#233;", ""), "Caf\xE9",
       "na&iuml;ve \xE9", "Caf\u00E9", "na&iuml;ve \u00E9"},
      {"plain ASCII needs nothing of its own", article("<i>Plain</i>", "", "Text &amp; more", ""), "Plain",
       "Text & more", "Plain", "Text & more"},
  };
  const TFeed feed = Feed("http://feed");
  bench.host.threshold = 0;
  for (const Case& c : cases) {
    results.clear();
    TItem item = c.article;
    bench.scanner.TriageItem(bench.state, feed, item, results);
    ASSERT_EQ(results.size(), 1u) << c.what;
    const TItem& taken = results[0];
    EXPECT_EQ(taken.Title, c.title) << c.what;
    EXPECT_EQ(taken.Description, c.description) << c.what;
    EXPECT_EQ(DisplayUtf8(taken.Title, taken.TitleUtf8), c.titleShown) << c.what;
    EXPECT_EQ(DisplayUtf8(taken.Description, taken.DescriptionUtf8), c.descriptionShown) << c.what;
    // Without the UTF-8 texts triage decides the same.
    Items plain;
    TItem bare = Article(c.article.Title, c.article.Link, c.article.Description);
    bench.shownUrls.Clear();
    bench.scanner.TriageItem(bench.state, feed, bare, plain);
    ASSERT_EQ(plain.size(), 1u) << c.what;
    EXPECT_EQ(plain[0].Title, taken.Title) << c.what;
    EXPECT_EQ(plain[0].Description, taken.Description) << c.what;
    EXPECT_EQ(plain[0].Relevance, taken.Relevance) << c.what;
    EXPECT_EQ(plain[0].Reason, taken.Reason) << c.what;
  }
}

TEST_F(TriageTest, ThresholdZeroTakesEveryArticleThatIsNotNegative) {
  const TFeed feed = Feed("http://feed");
  bench.host.threshold = 0;
  bench.learner.relevanceOf = {{"favourite", 12}, {"boring", -3}};
  Triage(feed, Article("favourite one", "http://x/1"));
  Triage(feed, Article("plain one", "http://x/2"));
  Triage(feed, Article("boring one", "http://x/3"));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].Reason, "Article found, relevance=12%");
  EXPECT_EQ(results[0].Relevance, 12);
  EXPECT_EQ(results[1].Reason, "Article found, relevance=0%");
  EXPECT_TRUE(bench.port.Logged("Article found, relevance=12%"));
  EXPECT_FALSE(bench.port.LoggedVerbose("Article found, relevance=12%"));
}

TEST_F(TriageTest, ThresholdHundredTakesOnlyKeywordMatchesAndFullRelevance) {
  const TFeed feed = Feed("http://feed", {"1:nuclear,inspection", "1:film,!cartoon"});
  bench.host.threshold = 100;
  bench.learner.relevanceOf = {{"perfect", 100}, {"good", 99}};
  Triage(feed, Article("Nuclear inspection resumes", "http://x/1"));
  Triage(feed, Article("A perfect day", "http://x/2"));
  Triage(feed, Article("A good day", "http://x/3"));
  Triage(feed, Article("A new cartoon film", "http://x/4"));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].Reason, "Keyword match on NUCLEAR,INSPECTION");
  EXPECT_EQ(results[0].Relevance, 100);
  EXPECT_EQ(results[0].MatchedRule, "1:nuclear,inspection");  // as written, for "Why?"
  EXPECT_EQ(results[1].Reason, "Article found, relevance=100%");
  EXPECT_EQ(results[1].MatchedRule, "");
  EXPECT_TRUE(bench.port.Logged("Keyword match on NUCLEAR,INSPECTION"));
}

TEST_F(TriageTest, KeywordMatchIsTakenAtHundredWhateverItsLearnedRelevance) {
  const TFeed feed = Feed("http://feed", {"1:film"});
  bench.host.threshold = 60;
  bench.learner.relevanceOf = {{"film", -80}};
  Triage(feed, Article("A new film", "http://x/1", "<p>description</p>"));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Relevance, 100);
  EXPECT_EQ(results[0].Reason, "Keyword match on FILM");
}

// Every result carries the shown name of its feed, for the windows that list several feeds'
// results: the title's own characters, or the address while the feed has no title.
TEST_F(TriageTest, EveryResultCarriesItsFeedsShownName) {
  bench.host.threshold = 0;
  const struct {
    const char* title;
    const char* titleUtf8;
    const char* rule;  // a keyword match or a score takes it
    std::string feedName;
  } cases[] = {
      {"", "", "1:film", "http://feed/a"},
      {"Nachrichten", "", "", "Nachrichten"},
      {"Caf\xe9 news", "Caf\xc3\xa9 news", "1:film", "Caf\xc3\xa9 news"},
      {"Zolot? ?????", "Zolot\xc3\xbd \xe2\x80\x9cnews\xe2\x80\x9d", "", "Zolot\xc3\xbd \xe2\x80\x9cnews\xe2\x80\x9d"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.feedName);
    TFeed feed = Feed("http://feed/a", *c.rule ? std::vector<std::string>{c.rule} : std::vector<std::string>{});
    feed.title = c.title;
    feed.titleUtf8 = c.titleUtf8;
    results.clear();
    Triage(feed, Article("A new film", "http://x/" + std::to_string(++n)));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].FeedName, c.feedName);
  }
}

TEST_F(TriageTest, DuringALearningRunAMatchIsReasonedLearningWithoutALogLine) {
  const TFeed feed = Feed("http://feed", {"1:film"});
  bench.state.isLearning = true;
  Triage(feed, Article("A new film", "http://x/1"));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Reason, "Learning");
  EXPECT_EQ(results[0].Relevance, 100);
  EXPECT_EQ(results[0].MatchedRule, "");  // the run's own rules are not the user's
  EXPECT_FALSE(bench.port.Logged("Keyword match on FILM"));
}

TEST_F(TriageTest, ShownMemoryFileKeepsLinksWithEqualsSigns) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("triage_shown_" + std::to_string(::getpid()) + ".dat"))
          .string();
  TCompMap shown;
  MarkShown(shown, "http://x/a?id=1&b=2", kT0);
  MarkShown(shown, "http://x/b", kT0 + 5);
  shown.SaveToFile(path);
  TCompMap loaded;
  loaded.LoadFromFile(path);
  std::remove(path.c_str());
  ASSERT_EQ(loaded.Count(), 2);
  EXPECT_EQ(loaded.KeyAt(0), "http://x/a?id=1&b=2");
  EXPECT_EQ(loaded.ValueAt(0), kT0);
  EXPECT_TRUE(WasShownRecently(loaded, "http://x/a?id=1&b=2", kT0 + kMinute, 60 * kMinute));
}

// Every article the triage scores goes into the recent scores, taken or not; an article that is
// not scored (shown recently, a duplicate, a keyword match) leaves them alone.
TEST_F(TriageTest, EveryScoredArticleAndOnlyThoseGoIntoTheRecentScores) {
  TRecentScores recent;
  bench.learner.recent = &recent;
  bench.learner.relevanceOf = {{"favourite", 12}, {"boring", -3}, {"film", 90}};
  bench.host.threshold = 10;
  bench.shownUrls.Add("http://x/shown", kT0);
  const TFeed feed = Feed("http://feed", {"1:film"});
  struct Case {
    TItem article;
    int64_t at;
    bool recorded;
    int relevance;  // when recorded
    bool taken, scored;
  };
  const Case cases[] = {
      {Article("favourite one", "http://x/1"), kT0, true, 12, true, true},
      {Article("plain one", "http://x/2"), kT0 + 1, true, 0, false, false},
      {Article("boring one", "http://x/3"), kT0 + 2, true, -3, false, false},
      {Article("a film", "http://x/4"), kT0 + 3, false, 0, true, false},            // keyword match
      {Article("favourite one", "http://x/1"), kT0 + 4, false, 0, false, false},    // duplicate
      {Article("favourite again", "http://x/shown"), kT0 + 5, false, 0, false, false},  // shown
  };
  std::deque<RecentScore> expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.article.Title + " " + c.article.Link);
    bench.clock.now = c.at;
    const size_t before = results.size();
    Triage(feed, c.article);
    if (c.recorded) expected.push_back({c.at, c.relevance});
    EXPECT_EQ(recent.Entries(), expected);
    ASSERT_EQ(results.size(), before + (c.taken ? 1 : 0));
    if (c.taken) {
      EXPECT_EQ(results.back().Scored, c.scored);
      EXPECT_EQ(results.back().Standing, "");  // filled when the results are presented
    }
  }
}

}  // namespace
}  // namespace zibu::test
