// The crawl loop against a scripted web: scoring, listing, failures, stop, pause.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "common/text.h"
#include "learning/recent_scores.h"
#include "spider/crawl.h"
#include "spider_fakes.h"

namespace zibu {
namespace {

using test::FakeView;
using test::FakeWeb;
using test::RecordingPort;

const std::string kSite = "http://site.example";
const std::string kStart = kSite + "/start";

std::string Link(const std::string& path, const std::string& text) {
  return "<a href=\"" + path + "\">" + text + "</a>" + std::string(60, '.');
}

class Crawl : public ::testing::Test {
 protected:
  Crawl() : spider(port, view, web, test::WordCountRelevance) {
    spider.SetRandomSource(random.Source());  // always the best link
    web.pages[kStart] = "<html><body><p>good good good start</p>" + std::string(60, '.') +
                        Link("/good.html", "good good good news") + Link("/ok.html", "ok good good") +
                        Link("/empty.html", "empty good") + Link("/fail.html", "broken") +
                        Link("/broken.html", "bad markup") + Link("/img.html", "<img src=\"i.gif\">") +
                        "</body></html>";
    web.pages[kSite + "/good.html"] = "<p>good good good good</p>" + std::string(60, '.') +
                                      Link("/deep.html", "deep") + Link("/start", "home");
    web.pages[kSite + "/ok.html"] = "good good";  // equal to the slider: not listed
    web.pages[kSite + "/empty.html"] = "";
    web.failing.insert(kSite + "/fail.html");
    web.pages[kSite + "/broken.html"] = "text &#abc; " + Link("/never.html", "never");
    web.pages[kSite + "/img.html"] = Link("/fromimg.html", "from image");
    web.pages[kSite + "/fromimg.html"] = "good  good\r\ngood\tgood     good";
    web.pages[kSite + "/deep.html"] = "bad";
  }

  std::vector<std::string> FoundUrls() const {
    std::vector<std::string> out;
    for (const auto& p : spider.foundPages()) out.push_back(p.url);
    return out;
  }
  bool Logged(const std::string& line) const { return port.CountOf(line) > 0; }

  RecordingPort port;
  FakeView view;
  FakeWeb web;
  test::ScriptedRandom random;
  TSpiderCrawl spider;
};

TEST_F(Crawl, ListsRelevantPagesReachedThroughLinksUntilTheLinksRunOut) {
  spider.crawl(kStart);

  // The starting page is never scored or listed; the page equal to the slider is not listed.
  EXPECT_EQ(FoundUrls(), (std::vector<std::string>{kSite + "/fromimg.html", kSite + "/good.html"}));
  EXPECT_EQ(spider.foundPages()[0].relevance, 50);
  EXPECT_EQ(spider.foundPages()[1].relevance, 40);
  // Description, "- ", and the text with line breaks and runs of blanks made single blanks.
  EXPECT_EQ(spider.foundPages()[0].text, "from image- good good good good good");
  // The whole plain text as it was scored, for "Why?".
  EXPECT_EQ(spider.foundPages()[0].scoredText, HtmlToText(web.pages[kSite + "/fromimg.html"]));

  // Scored: good, ok, broken, deep, fromimg. Not: the start, the empty body, the failure, and
  // the page reached through a link without description (whose links are still followed).
  EXPECT_EQ(spider.pagesChecked(), 5);
  EXPECT_EQ(view.pagesCheckedLabel, 5);
  EXPECT_EQ(port.CountOf("Checking page relevance"), 5);
  EXPECT_EQ(web.FetchCount(kSite + "/fromimg.html"), 1);

  EXPECT_TRUE(Logged("Error downloading http://site.example/fail.html: ESocketError: Connection refused"));
  // The page whose text cannot be made is reported once, its links are not queued, and it is
  // not fetched again.
  EXPECT_EQ(port.CountStartingWith("Error: "), 1);
  EXPECT_EQ(port.CountStartingWith("Error: EConvertError: "), 1);
  EXPECT_EQ(web.FetchCount(kSite + "/broken.html"), 1);
  EXPECT_EQ(web.FetchCount(kSite + "/never.html"), 0);
  // The link back to the start is known from the beginning.
  EXPECT_EQ(web.FetchCount(kStart), 1);

  const auto texts = port.Texts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], "Ran out of links!");
  EXPECT_EQ(texts.back(), "Stopped searching");
  EXPECT_TRUE(Logged("Page relevance=40%"));
  EXPECT_TRUE(Logged("Next link is http://site.example/good.html"));
  EXPECT_TRUE(port.lines.front().verbose);  // "Downloading ..." is verbose
  EXPECT_EQ(port.lines.front().text, "Downloading " + kStart);

  EXPECT_EQ(view.holds, 1);
  EXPECT_EQ(view.releases, 1);
  EXPECT_FALSE(view.guiIdle.front());
  EXPECT_TRUE(view.guiIdle.back());
  EXPECT_FALSE(view.busy);
  EXPECT_FALSE(spider.running());
  EXPECT_EQ(spider.knownUrls().Count(), 0);
}

// A found page and a queued link are shown in the page's own characters, its charset told by a
// byte-order mark, the response, the page's meta element or HTML's default; the single-byte
// texts that are scored and learned stay exactly as they were.
TEST_F(Crawl, PagesAreShownInTheirOwnCharset) {
  struct Case {
    const char* what;
    std::string start;  // the page linking to /p.html
    std::string page;   // /p.html
    std::string responseCharset;
    std::string shown;  // the found page's text as shown
  };
  const std::string link = "<a href=\"/p.html\">good link</a>";
  const std::string privet = "\u041F\u0440\u0438\u0432\u0435\u0442";
  const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2", koi8 = "\xF0\xD2\xC9\xD7\xC5\xD4";
  const Case cases[] = {
      {"<meta charset>", link, "<meta charset=\"utf-8\">" + privet + " \U0001F605 good good good", "",
       "good link- " + privet + " \U0001F605 good good good"},
      {"<meta http-equiv>", link,
       "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1251\">" + cp1251 + " good good good",
       "", "good link- " + privet + " good good good"},
      {"the response's charset", link, koi8 + " good good good", "KOI8-R", "good link- " + privet + " good good good"},
      {"the response outweighs the meta element", link,
       "<meta charset='iso-8859-1'>" + cp1251 + " good good good", "windows-1251",
       "good link- " + privet + " good good good"},
      {"a response's charset nobody knows gives way to the meta element", link,
       "<meta charset=koi8-r>" + koi8 + " good good good", "x-nothing", "good link- " + privet + " good good good"},
      {"a byte-order mark", link, "\xEF\xBB\xBF" + privet + " good good good", "windows-1251",
       "good link- \uFEFF" + privet + " good good good"},
      {"nothing: HTML's default, Windows-1252", link, "caf\xE9 \x93q\x94 good good good", "",
       "good link- caf\u00E9 \u201Cq\u201D good good good"},
      {"references in an ASCII page", link, "&#1055;&#x440; good good good", "",
       "good link- \u041F\u0440 good good good"},
      {"bytes the charset rejects are Windows-1252", link,
       "<meta charset=windows-1251>\xCF\x98 good good good", "", "good link- \u00CF\u02DC good good good"},
      {"a link described in its own page's characters",
       "<meta charset=windows-1251><p>" + std::string(60, '.') + " \xEA\xEE\xF2 <a href=\"/p.html\">good " + cp1251 +
           "</a> \xEA\xEE\xF2 " + std::string(60, '.'),
       "good good good", "",
       // The blank before the text after the anchor stays, as in the single-byte description.
       "\u043A\u043E\u0442 good " + privet + "  \u043A\u043E\u0442- good good good"},
      {"the character cut off before an anchor in a UTF-8 page is left out whole",
       "<meta charset=utf-8><p>" + std::string(60, '.') + " \u043A\u043E\u0442<a href=\"/p.html\">good</a> " +
           std::string(60, '.'),
       "good good good", "", "\u043A\u043E good- good good good"},
  };
  for (const Case& c : cases) {
    FakeWeb site;
    site.pages[kStart] = c.start;
    site.pages[kSite + "/p.html"] = c.page;
    site.charsets[kSite + "/p.html"] = c.responseCharset;
    RecordingPort quiet;
    FakeView v;
    TSpiderCrawl crawl(quiet, v, site, test::WordCountRelevance);
    crawl.SetRandomSource(random.Source());
    crawl.crawl(kStart);
    ASSERT_EQ(crawl.foundPages().size(), 1u) << c.what;
    const FoundPage& found = crawl.foundPages()[0];
    EXPECT_EQ(DisplayUtf8(found.text, found.textUtf8), c.shown) << c.what;
    EXPECT_TRUE(found.textUtf8.empty() || found.textUtf8 != Win1252ToUtf8(found.text)) << c.what;
    // The single-byte texts are those of the page's bytes, as always.
    EXPECT_EQ(found.scoredText, HtmlToText(c.page)) << c.what;
    EXPECT_EQ(found.text.substr(found.text.find("- ")), "- " + PageExcerpt(HtmlToText(c.page))) << c.what;
  }
  // The description reached the current page and the queue in UTF-8 too.
  FakeWeb site;
  site.pages[kStart] = cases[9].start;
  RecordingPort quiet;
  FakeView v;
  TSpiderCrawl crawl(quiet, v, site, test::WordCountRelevance);
  crawl.setCurrentPage(kStart);
  crawl.searchPageForLinks(cases[9].start);
  ASSERT_EQ(crawl.links().Count(), 1);
  EXPECT_EQ(DisplayUtf8(crawl.links().Row(0).description, crawl.links().Row(0).descriptionUtf8),
            "\u043A\u043E\u0442 good " + privet + "  \u043A\u043E\u0442");
  ASSERT_TRUE(crawl.chooseNextLink());
  EXPECT_EQ(crawl.currentDescriptionUtf8(), "\u043A\u043E\u0442 good " + privet + "  \u043A\u043E\u0442");
}

// Every page scored goes into the recent scores (link descriptions are estimates and do not),
// and a listed page carries where it stood among them when it was scored.
TEST_F(Crawl, ScoredPagesGoIntoTheRecentScoresAndListedOnesCarryTheirStanding) {
  struct FixedClock : Clock {
    int64_t NowMs() const override { return 1765152000000; }
    uint32_t IdleMs() const override { return 0; }
  } clock;
  struct Case {
    const char* what;
    bool record;
    int earlier;               // scores 0, 1, 2, ... recorded before the crawl
    const char* goodStanding;  // of good.html, the first page scored
  };
  const Case cases[] = {
      {"twenty earlier scores", true, 20, "higher than 95 % of the 21 articles of the last 7 days"},
      {"too few to compare with", true, 3, ""},
      {"no record", false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TRecentScores recent;
    for (int k = 0; k < c.earlier; ++k) recent.Add(clock.NowMs(), k);
    spider.SetRecentScores(c.record ? &recent : nullptr, &clock);
    spider.crawl(kStart);
    // good 40, ok 20, deep -10, fromimg 50; broken.html fails before it is scored.
    std::vector<int> scored;
    for (size_t i = static_cast<size_t>(c.earlier); i < recent.Entries().size(); ++i)
      scored.push_back(recent.Entries()[i].relevance);
    std::sort(scored.begin(), scored.end());
    EXPECT_EQ(scored, c.record ? (std::vector<int>{-10, 20, 40, 50}) : std::vector<int>{});
    ASSERT_EQ(FoundUrls(), (std::vector<std::string>{kSite + "/fromimg.html", kSite + "/good.html"}));
    EXPECT_EQ(spider.foundPages()[1].standing, c.goodStanding);
    // The best page stands above everything scored before it.
    if (c.earlier >= kMinScoresForStanding) {
      EXPECT_EQ(spider.foundPages()[0].standing.rfind("higher than 9", 0), 0u) << spider.foundPages()[0].standing;
    } else {
      EXPECT_EQ(spider.foundPages()[0].standing, "");
    }
  }
}

TEST_F(Crawl, FollowsTheBestQueuedLinkFirst) {
  spider.crawl(kStart);
  // Link relevances: good 30, ok 20, empty 10, fail, img and later deep and fromimg 0, broken -10.
  ASSERT_GE(web.fetched.size(), 4u);
  EXPECT_EQ(web.fetched[1], kSite + "/good.html");
  EXPECT_EQ(web.fetched[2], kSite + "/ok.html");
  EXPECT_EQ(web.fetched[3], kSite + "/empty.html");
  EXPECT_EQ(web.fetched.back(), kSite + "/broken.html");
}

TEST_F(Crawl, TheSliderIsReadWhenEachPageIsScored) {
  view.slider = 50;
  spider.crawl(kStart);
  EXPECT_TRUE(FoundUrls().empty());  // 50 is not above 50
  view.slider = 39;
  spider.crawl(kStart);
  EXPECT_EQ(FoundUrls(), (std::vector<std::string>{kSite + "/fromimg.html", kSite + "/good.html"}));
}

TEST_F(Crawl, StopDuringADownloadActsWhenTheDownloadReturns) {
  web.onFetch = [&](const std::string& address) {
    if (address == kSite + "/good.html") spider.stop();
  };
  spider.crawl(kStart);
  EXPECT_EQ(web.fetched.back(), kSite + "/good.html");
  EXPECT_EQ(spider.pagesChecked(), 0);  // the downloaded page is not scored any more
  EXPECT_FALSE(Logged("Ran out of links!"));
  EXPECT_EQ(port.Last(), "Stopped searching");
  // The tables keep their rows after the crawl ...
  EXPECT_EQ(spider.links().Count(), 5);
  EXPECT_FALSE(spider.searching());
  EXPECT_FALSE(spider.paused());

  // ... and the next Start empties them; pages found before may be found again.
  web.onFetch = nullptr;
  spider.crawl(kStart);
  EXPECT_EQ(FoundUrls().size(), 2u);
  EXPECT_EQ(web.FetchCount(kSite + "/good.html"), 2);
  spider.crawl(kSite + "/fail.html");
  EXPECT_TRUE(FoundUrls().empty());
  EXPECT_EQ(spider.links().Count(), 0);
}

TEST_F(Crawl, PauseWaitsWithoutDownloadingUntilResumed) {
  size_t fetchedAtPause = 0;
  port.onYield = [&] {
    if (web.fetched.size() == 2 && fetchedAtPause == 0) {
      fetchedAtPause = web.fetched.size();
      spider.togglePause();
      EXPECT_EQ(view.pauseCaption, "Resume");
      EXPECT_FALSE(view.busy);
      EXPECT_FALSE(view.guiIdle.back());
    }
  };
  view.onPausedWait = [&] {
    EXPECT_EQ(web.fetched.size(), fetchedAtPause);
    if (view.pausedWaits == 3) spider.togglePause();
  };
  spider.crawl(kStart);
  EXPECT_EQ(view.pausedWaits, 3);
  EXPECT_TRUE(Logged("Paused"));
  EXPECT_TRUE(Logged("Resumed"));
  EXPECT_EQ(FoundUrls().size(), 2u);  // the crawl went on where it left off
  EXPECT_EQ(port.Last(), "Stopped searching");
  EXPECT_EQ(view.pauseCaption, "Pause");
}

TEST_F(Crawl, APauseWhileTheCrawlEndsIsUndone) {
  port.onYield = [&] {
    if (port.Last() == "Ran out of links!" && !spider.paused()) spider.togglePause();
  };
  spider.crawl(kStart);
  EXPECT_EQ(view.pausedWaits, 0);
  EXPECT_FALSE(spider.paused());
  EXPECT_EQ(view.pauseCaption, "Pause");
  EXPECT_TRUE(view.guiIdle.back());
}

TEST_F(Crawl, StopWhilePausedEndsWithoutAnotherDownload) {
  port.onYield = [&] {
    if (web.fetched.size() == 2 && !spider.paused() && spider.searching()) spider.togglePause();
  };
  view.onPausedWait = [&] { spider.stop(); };
  spider.crawl(kStart);
  EXPECT_EQ(web.fetched.size(), 2u);
  EXPECT_EQ(port.Last(), "Stopped searching");
}

TEST_F(Crawl, AnEmptyStartingAddressRunsOutOfLinks) {
  spider.crawl("");
  const auto texts = port.Texts();
  EXPECT_EQ(port.CountStartingWith("Error downloading : "), 1);
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], "Ran out of links!");
  EXPECT_EQ(texts.back(), "Stopped searching");
}

TEST_F(Crawl, CountsAreReportedEachCycle) {
  struct CountingView : FakeView {
    void CountsChanged(int links, int pages) override { counts.push_back({links, pages}); }
    std::vector<std::pair<int, int>> counts;
  } countingView;
  TSpiderCrawl other(port, countingView, web, test::WordCountRelevance);
  other.SetRandomSource(random.Source());
  other.crawl(kStart);
  ASSERT_FALSE(countingView.counts.empty());
  EXPECT_EQ(countingView.counts.front(), std::make_pair(5, 0));  // six queued, one taken
  EXPECT_EQ(countingView.counts.back(), std::make_pair(0, 2));
}

// Driven by events (each download handed back later, the user's clicks between events), the
// crawl writes the same lines, fetches the same pages and lists the same ones as a crawl run
// whole, with a Stop or a Pause at the same moment; a pause holds it without a wait of its own.
TEST_F(Crawl, DrivenByEventsItDoesExactlyWhatTheWholeCrawlDoes) {
  enum class Act { None, Stop, PauseResume, PauseStop };
  struct Case {
    const char* name;
    Act act;
    int atFetch;  // during which download (1 = the starting page)
  };
  for (const Case& c : std::vector<Case>{{"undisturbed", Act::None, 0},
                                         {"stop during the second download", Act::Stop, 2},
                                         {"stop during the last download", Act::Stop, 8},
                                         {"pause and resume", Act::PauseResume, 2},
                                         {"pause during the start page, then resume", Act::PauseResume, 1},
                                         {"pause, then stop while paused", Act::PauseStop, 3}}) {
    SCOPED_TRACE(c.name);
    int fetches = 0;
    web.onFetch = [&](const std::string&) {
      if (++fetches != c.atFetch) return;
      if (c.act == Act::Stop) spider.stop();
      if (c.act == Act::PauseResume || c.act == Act::PauseStop) spider.togglePause();
    };
    // The user's click that ends a pause.
    auto unpause = [&] {
      if (c.act == Act::PauseResume)
        spider.togglePause();
      else
        spider.stop();
    };

    port.lines.clear();
    web.fetched.clear();
    view.onPausedWait = unpause;
    spider.crawl(kStart);
    const auto wholeLines = port.Texts();
    const auto wholeFetched = web.fetched;
    const auto wholeFound = FoundUrls();
    const int wholeWaits = view.pausedWaits;

    port.lines.clear();
    web.fetched.clear();
    fetches = 0;
    test::QueuedDownloads downloads(web);
    spider.start(kStart, downloads);
    int events = 0, heldAt = 0;
    while (spider.running() && ++events < 1000) {
      EXPECT_LE(downloads.pending.size(), 1u);  // one download at a time
      if (downloads.DeliverOne(spider)) continue;
      // Nothing out and still running: a pause holds the crawl, and nothing is downloaded.
      ASSERT_TRUE(spider.paused());
      heldAt = static_cast<int>(web.fetched.size());
      unpause();
    }
    EXPECT_FALSE(spider.running());
    EXPECT_EQ(port.Texts(), wholeLines);
    EXPECT_EQ(web.fetched, wholeFetched);
    EXPECT_EQ(FoundUrls(), wholeFound);
    EXPECT_EQ(view.pausedWaits, wholeWaits);  // no wait of the whole crawl's kind
    if (c.act == Act::PauseResume || c.act == Act::PauseStop) {
      EXPECT_EQ(heldAt, c.atFetch);
    }
    EXPECT_EQ(view.pauseCaption, "Pause");
    EXPECT_TRUE(view.guiIdle.back());
    EXPECT_EQ(view.holds, view.releases);
    EXPECT_EQ(port.Last(), "Stopped searching");
    // An outcome handed back after the end changes nothing.
    spider.downloadFinished("<a href=\"/late.html\">late</a>");
    EXPECT_EQ(port.Last(), "Stopped searching");
    EXPECT_FALSE(spider.running());
  }
}

}  // namespace
}  // namespace zibu
