// Putting found articles before the user: order, one by one with learning and marking, the
// enough-for-now rule, the reminder, the table, and the advice after an empty first scan.
#include <gtest/gtest.h>

#include "feeds/presentation.h"
#include "triage_fakes.h"

namespace zibu::test {
namespace {

Items Relevances(std::initializer_list<std::pair<int, const char*>> list) {
  Items items;
  for (const auto& [relevance, title] : list) {
    TItem item = Article(title, std::string("http://x/") + title, std::string("about ") + title);
    item.Relevance = relevance;
    item.Reason = "Article found, relevance=" + std::to_string(relevance) + "%";
    items.push_back(item);
  }
  return items;
}

std::vector<std::string> Titles(const Items& items) {
  std::vector<std::string> out;
  for (const TItem& item : items) out.push_back(item.Title);
  return out;
}

TEST(SortByRelevanceTest, ExchangeWalkGivesItsOwnOrderAmongEquals) {
  Items items = Relevances({{3, "a"}, {5, "b"}, {3, "c"}, {5, "d"}, {1, "e"}});
  SortByRelevance(items);
  EXPECT_EQ(Titles(items), (std::vector<std::string>{"b", "d", "c", "a", "e"}));

  Items keyword = Relevances({{99, "p"}, {100, "k1"}, {40, "q"}, {100, "k2"}});
  SortByRelevance(keyword);
  EXPECT_EQ(Titles(keyword), (std::vector<std::string>{"k1", "k2", "p", "q"}));

  Items none;
  SortByRelevance(none);
  EXPECT_TRUE(none.empty());
}

TEST(RatingReminderTest, DueWithMoreThanOneItemAndAtMostAThirdRated) {
  EXPECT_TRUE(RatingReminderDue(3, 1));
  EXPECT_FALSE(RatingReminderDue(3, 2));
  EXPECT_FALSE(RatingReminderDue(1, 0));
  EXPECT_TRUE(RatingReminderDue(2, 0));
  EXPECT_FALSE(RatingReminderDue(2, 1));
  EXPECT_TRUE(RatingReminderDue(10, 3));
  EXPECT_FALSE(RatingReminderDue(10, 4));
}

class PresentTest : public ::testing::Test {
 protected:
  ScanBench bench;
  void Rate(std::initializer_list<int> ratings) {
    for (int r : ratings) bench.user.answers.push_back({r, false});
  }
};

TEST_F(PresentTest, OneByOneShowsMostRelevantFirstLearnsAndMarksEveryArticle) {
  Items items = Relevances({{40, "low"}, {100, "key"}, {70, "mid"}});
  items[1].Reason = "Keyword match on KEY";
  items[1].MatchedRule = "1:key";
  Rate({3, 0, -2});
  bench.clock.now = kT0 + 5;
  bench.scanner.PresentResults(bench.state, items);
  ASSERT_EQ(bench.user.shown.size(), 3u);
  // Each comes with what its "Why?" needs: the relevance it was found with and the rule line.
  ASSERT_EQ(bench.user.articles.size(), 3u);
  EXPECT_EQ(bench.user.articles[0].matchedRule, "1:key");
  EXPECT_EQ(bench.user.articles[1].matchedRule, "");
  EXPECT_EQ(bench.user.articles[1].relevance, 70);
  EXPECT_EQ(bench.user.articles[2].title, "low");
  for (const FoundArticle& a : bench.user.articles) EXPECT_FALSE(a.learning);
  EXPECT_EQ(bench.user.Titles(), (std::vector<std::string>{"key", "mid", "low"}));
  EXPECT_EQ(bench.user.shown[0].reason, "Keyword match on KEY");
  EXPECT_EQ(bench.user.shown[0].description, "about key");
  EXPECT_EQ(bench.user.shown[0].link, "http://x/key");
  ASSERT_EQ(bench.learner.learned.size(), 3u);
  EXPECT_EQ(bench.learner.learned[0], std::make_pair(3, std::string("key about key")));
  EXPECT_EQ(bench.learner.learned[2], std::make_pair(-2, std::string("low about low")));
  EXPECT_EQ(bench.ShownKeys(), (std::vector<std::string>{"http://x/key", "http://x/mid", "http://x/low"}));
  EXPECT_EQ(bench.shownUrls.ValueAt(0), kT0 + 5);
  EXPECT_TRUE(bench.port.LoggedVerbose("Showing key, link=http://x/key"));
  EXPECT_TRUE(bench.port.messages.empty());  // two of three rated
}

// An article shown with characters Windows-1252 lacks: its window and its log line get them,
// while what is learned and remembered is the single-byte text and the URI form of the link.
TEST_F(PresentTest, OneByOneHandsOnTheTextsToShow) {
  struct Case {
    const char* what;
    std::string titleUtf8, linkUtf8;
    std::string logged;  // the log line's UTF-8 form
  };
  const Case cases[] = {
      {"Cyrillic title and link", "\u041A\u043E\u0442", "http://x/\u0444",
       "Showing \u041A\u043E\u0442, link=http://x/\u0444"},
      {"only the title", "\u041A\u043E\u0442", "", "Showing \u041A\u043E\u0442, link=http://x/%D1%84"},
      {"nothing of its own", "", "", ""},
  };
  for (const Case& c : cases) {
    bench.port.quoting.clear();
    bench.user.articles.clear();
    bench.shownUrls.Clear();
    Items items = Relevances({{100, "\xBF\xBF\xBF"}});
    items[0].Link = "http://x/%D1%84";
    items[0].TitleUtf8 = c.titleUtf8;
    items[0].LinkUtf8 = c.linkUtf8;
    Rate({1});
    bench.scanner.PresentResults(bench.state, items);
    ASSERT_EQ(bench.user.articles.size(), 1u) << c.what;
    EXPECT_EQ(bench.user.articles[0].titleUtf8, c.titleUtf8) << c.what;
    EXPECT_EQ(bench.user.articles[0].linkUtf8, c.linkUtf8) << c.what;
    EXPECT_EQ(bench.port.quoting, std::vector<std::string>{c.logged}) << c.what;
    EXPECT_TRUE(bench.port.LoggedVerbose("Showing \xBF\xBF\xBF, link=http://x/%D1%84")) << c.what;
    EXPECT_EQ(bench.ShownKeys(), std::vector<std::string>{"http://x/%D1%84"}) << c.what;
  }
}

TEST_F(PresentTest, ReminderAfterTooFewRatings) {
  Items items = Relevances({{50, "a"}, {50, "b"}, {50, "c"}});
  Rate({0, 0, 5});
  bench.scanner.PresentResults(bench.state, items);
  ASSERT_EQ(bench.port.messages.size(), 1u);
  EXPECT_EQ(
      bench.port.messages[0],
      "You only rated 1/3 articles.\r\nPlease try to rate articles by relevance as this is the only way I "
      "can learn about what interests you and show you relevant content");

  ScanBench second;
  Items again = Relevances({{50, "a"}, {50, "b"}, {50, "c"}});
  second.user.answers = {{5, false}, {5, false}, {0, false}};
  second.scanner.PresentResults(second.state, again);
  EXPECT_TRUE(second.port.messages.empty());

  ScanBench single;
  Items one = Relevances({{50, "a"}});
  single.scanner.PresentResults(single.state, one);
  EXPECT_TRUE(single.port.messages.empty());

  ScanBench quiet;
  quiet.host.settings.showNagScreens = false;
  Items unrated = Relevances({{50, "a"}, {50, "b"}});
  quiet.scanner.PresentResults(quiet.state, unrated);
  EXPECT_TRUE(quiet.port.messages.empty());
}

TEST_F(PresentTest, EnoughForNowOnTheFirstOfFourStopsAndDelaysEveryFeed) {
  bench.feeds = {Feed("http://a/rss"), Feed("http://b/rss")};
  bench.feeds[1].lastRefresh = kT0 - 3600 * 1000;
  Items items = Relevances({{90, "one"}, {80, "two"}, {70, "three"}, {60, "four"}});
  bench.user.answers = {{0, true}};
  bench.clock.now = kT0 + 1234;
  bench.scanner.PresentResults(bench.state, items);
  EXPECT_EQ(bench.user.Titles(), std::vector<std::string>{"one"});
  EXPECT_EQ(bench.ShownKeys(), std::vector<std::string>{"http://x/one"});
  EXPECT_EQ(bench.feeds[0].lastRefresh, kT0 + 1234);
  EXPECT_EQ(bench.feeds[1].lastRefresh, kT0 + 1234);
  EXPECT_TRUE(bench.port.messages.empty());  // no reminder after enough-for-now
  EXPECT_EQ(bench.learner.learned.size(), 1u);
}

// The program closing while articles are put up: the one open and those after it stay unseen
// and unmarked, nothing is learned from them, the feeds keep their times and no reminder comes.
TEST_F(PresentTest, ProgramEndingStopsAndLeavesTheRestUnmarked) {
  struct Case {
    const char* what;
    std::vector<PageFoundResult> answers;
    std::vector<std::string> marked;
    size_t shown;
  };
  const Case cases[] = {
      {"while the first is open", {{0, false, true}}, {}, 1},
      {"after one rating", {{6, false, false}, {0, false, true}}, {"http://x/one"}, 2},
  };
  for (const Case& c : cases) {
    ScanBench b;
    b.feeds = {Feed("http://a/rss")};
    b.feeds[0].lastRefresh = kT0 - 1000;
    b.user.answers.assign(c.answers.begin(), c.answers.end());
    Items items = Relevances({{90, "one"}, {80, "two"}, {70, "three"}});
    b.scanner.PresentResults(b.state, items);
    EXPECT_EQ(b.user.shown.size(), c.shown) << c.what;
    EXPECT_EQ(b.ShownKeys(), c.marked) << c.what;
    EXPECT_EQ(b.learner.learned.size(), c.marked.size()) << c.what;
    EXPECT_EQ(b.feeds[0].lastRefresh, kT0 - 1000) << c.what;
    EXPECT_TRUE(b.port.messages.empty()) << c.what;
  }
}

TEST_F(PresentTest, AsATableLearnsEveryRatingAndMarksEveryItemAfterTheWindowCloses) {
  bench.host.resultsFormat = 1;
  bench.host.tableRatings = {0, 7, -4};
  Items items = Relevances({{10, "c"}, {90, "a"}, {50, "b"}});
  bench.scanner.PresentResults(bench.state, items);
  EXPECT_EQ(bench.host.tablesShown, 1);
  EXPECT_TRUE(bench.user.shown.empty());
  EXPECT_EQ(bench.host.tableTitles, (std::vector<std::string>{"a", "b", "c"}));
  ASSERT_EQ(bench.learner.learned.size(), 3u);
  EXPECT_EQ(bench.learner.learned[0], std::make_pair(0, std::string("a about a")));
  EXPECT_EQ(bench.learner.learned[1], std::make_pair(7, std::string("b about b")));
  EXPECT_EQ(bench.learner.learned[2], std::make_pair(-4, std::string("c about c")));
  EXPECT_EQ(bench.ShownKeys(), (std::vector<std::string>{"http://x/a", "http://x/b", "http://x/c"}));
  EXPECT_EQ(bench.port.pacedCalls, 3);
  const auto& lines = bench.port.lines;
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "Updating relevance tables");
  EXPECT_EQ(lines[1].text, "Finished updating relevance tables");
  EXPECT_TRUE(bench.port.messages.empty());
}

TEST_F(PresentTest, EmptyScanLogsNothingFoundAndOnAFirstRunTheAdvice) {
  Items none;
  bench.scanner.PresentResults(bench.state, none);
  ASSERT_EQ(bench.port.lines.size(), 1u);
  EXPECT_EQ(bench.port.lines[0].text, "No new matching items found");

  ScanBench first;
  first.host.settings.firstTime = true;
  first.host.threshold = 30;
  first.scanner.PresentResults(first.state, none);
  ASSERT_EQ(first.port.lines.size(), 2u);
  EXPECT_EQ(
      first.port.lines[1].text,
      "You may want to consider lowering the alert threshold by using the slider on the top right, it is "
      "currently set to only show articles with a relevance of at least 30%.\r\nYou could also run the "
      "learning process on more feeds - the more times you do this, the more I will learn about the type "
      "of content that interests you");
  EXPECT_FALSE(first.port.lines[1].verbose);
}

// The advice names a suggestion that differs from the slider; every presentation, empty or in
// either format, is reported once.
TEST_F(PresentTest, TheAdviceNamesTheSuggestionAndEveryPresentationIsReported) {
  const std::string head =
      "You may want to consider lowering the alert threshold by using the slider on the top right, it is "
      "currently set to only show articles with a relevance of at least ";
  const std::string tail =
      "\r\nYou could also run the learning process on more feeds - the more times you do this, the more I "
      "will learn about the type of content that interests you";
  struct Case {
    int threshold;
    std::optional<int> suggested;
    std::string advice;  // after the head, up to the tail
  } cases[] = {
      {30, 2,
       "30%. From the articles you have rated, I suggest 2%: the \"Use suggestion\" button under the slider "
       "moves it there."},
      {0, 45,
       "0%. From the articles you have rated, I suggest 45%: the \"Use suggestion\" button under the slider "
       "moves it there."},
      {7, 7, "7%."},
      {30, std::nullopt, "30%."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.advice);
    ScanBench b;
    b.host.settings.firstTime = true;
    b.host.threshold = c.threshold;
    b.host.suggested = c.suggested;
    Items none;
    b.scanner.PresentResults(b.state, none);
    ASSERT_EQ(b.port.lines.size(), 2u);
    EXPECT_EQ(b.port.lines[1].text, head + c.advice + tail);
    EXPECT_EQ(b.host.presentations, 1);
  }

  for (int format : {0, 1}) {
    ScanBench b;
    b.host.resultsFormat = format;
    b.host.tableRatings = {5, 5};
    b.user.answers = {{5, false}, {5, false}};
    Items items = Relevances({{10, "a"}, {20, "b"}});
    b.scanner.PresentResults(b.state, items);
    EXPECT_EQ(b.host.presentations, 1) << format;
    EXPECT_EQ(b.learner.learned.size(), 2u) << format;
  }
}

// Beside each scored article the windows show where it stands among the recent scores, told
// against every score up to the presentation; keyword matches and learning articles have no
// score to tell.
TEST_F(PresentTest, ScoredArticlesComeWithTheirStandingAmongTheRecentScores) {
  const std::string of40 = " of the 40 articles of the last 7 days";
  struct Case {
    const char* what;
    int format;
    int64_t presentedAt;  // the recent scores were given at kT0
    std::vector<std::string> standings;  // by presentation order: key (100), 30, 0, -5
  };
  const Case cases[] = {
      {"one by one", 0, kT0 + kMinute, {"", "higher than 75 %" + of40, "higher than 0 %" + of40, ""}},
      {"as a table", 1, kT0 + kMinute, {"", "higher than 75 %" + of40, "higher than 0 %" + of40, ""}},
      {"a week later the scores are gone", 0, kT0 + 7 * 24 * 60 * kMinute + 1, {"", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScanBench b;
    TRecentScores recent;
    for (int k = 0; k < 40; ++k) recent.Add(kT0, k);  // 0..39
    b.learner.recent = &recent;
    b.host.resultsFormat = c.format;
    Items items = Relevances({{0, "zero"}, {100, "key"}, {30, "thirty"}, {-5, "negative"}});
    for (TItem& item : items) item.Scored = item.Title == "zero" || item.Title == "thirty";
    items[1].Reason = "Keyword match on KEY";
    b.clock.now = c.presentedAt;
    b.scanner.PresentResults(b.state, items);
    std::vector<std::string> standings;
    if (c.format == 0) {
      for (const FoundArticle& a : b.user.articles) standings.push_back(a.standing);
    } else {
      standings = b.host.tableStandings;
    }
    EXPECT_EQ(standings, c.standings);
    EXPECT_EQ(recent.Count(), 40);  // presenting scores nothing
  }
  // Without a record nothing is told.
  ScanBench none;
  Items items = Relevances({{30, "thirty"}});
  items[0].Scored = true;
  none.scanner.PresentResults(none.state, items);
  ASSERT_EQ(none.user.articles.size(), 1u);
  EXPECT_EQ(none.user.articles[0].standing, "");
}

}  // namespace
}  // namespace zibu::test
