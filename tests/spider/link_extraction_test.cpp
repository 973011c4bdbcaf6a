// Finding, resolving, filtering and describing the links of one page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "spider/crawl.h"
#include "spider/links.h"
#include "spider_fakes.h"

namespace zibu {
namespace {

using test::FakeView;
using test::FakeWeb;
using test::RecordingPort;

constexpr const char* kUk = "http://news.example/world/uk.html";

class LinkScan : public ::testing::Test {
 protected:
  LinkScan() : spider(port, view, web, test::WordCountRelevance) { spider.setCurrentPage(kUk, "x"); }

  // Queued addresses in queue order.
  std::vector<std::string> Urls() const {
    std::vector<std::string> out;
    for (const auto& r : spider.links().Rows()) out.push_back(r.url);
    return out;
  }
  std::vector<std::string> Scan(const std::string& page) {
    spider.searchPageForLinks(page);
    return Urls();
  }

  RecordingPort port;
  FakeView view;
  FakeWeb web;
  TSpiderCrawl spider;
};

// Links far apart, so that their descriptions are just their anchor texts.
std::string Anchor(const std::string& tag, const std::string& text) {
  return tag + text + "</a>" + std::string(60, '.');
}

TEST_F(LinkScan, OnlyDoubleQuotedHrefFirstWithOneSpaceIsAnAnchor) {
  const std::string page = Anchor("<a href=\"a.html\">", "one") + Anchor("<A HREF=\"b.html\">", "two") +
                           Anchor("<a href='c.html'>", "three") +
                           Anchor("<a class=\"x\" href=\"d.html\">", "four") +
                           Anchor("<a\thref=\"e.html\">", "five") + Anchor("<a href= \"f.html\">", "six") +
                           Anchor("<a HrEf=\"g.html\">", "seven");
  EXPECT_EQ(Scan(page),
            (std::vector<std::string>{"http://news.example/world/a.html", "http://news.example/world/b.html",
                                      "http://news.example/world/g.html"}));
  EXPECT_EQ(port.lines.front().text, "Searching page for hyperlinks");
}

TEST_F(LinkScan, RunsOfBlanksAreCollapsedBeforeScanning) {
  // The page goes through CollapseSpaces first, so the "exactly one space" of the anchor rule
  // holds for the collapsed page: runs of blanks match, a line break does not.
  EXPECT_EQ(Scan(Anchor("<a   href=\"a.html\">", "one") + Anchor("<a\r\nhref=\"b.html\">", "two")),
            (std::vector<std::string>{"http://news.example/world/a.html"}));
}

TEST_F(LinkScan, SkipsFragmentsScriptsAndOtherSchemesButNotHttps) {
  const std::string page =
      Anchor("<a href=\"#top\">", "a") + Anchor("<a href=\"page.html#part\">", "b") +
      Anchor("<a href=\"page.html\">", "c") + Anchor("<a href=\"https://secure.example/\">", "d") +
      Anchor("<a href=\"http://x.example/mirror/HtTpS:/y\">", "e") +
      Anchor("<a href=\"/guides/JavaScript-tips.html\">", "f") + Anchor("<a href=\"javascript:go()\">", "g") +
      Anchor("<a href=\"/old/vbscript.asp\">", "h") + Anchor("<a href=\"/ok.html\">", "i") +
      Anchor("<a href=\"mailto:ed@news.example\">", "j") + Anchor("<a href=\"ftp://files.example/f\">", "k") +
      Anchor("<a href=\"data:text/html,x\">", "l") + Anchor("<a href=\"HTTPS://Secure.example/M\">", "m");
  EXPECT_EQ(Scan(page), (std::vector<std::string>{
                            "http://news.example/world/page.html#part", "http://news.example/world/page.html",
                            "https://secure.example/", "http://x.example/mirror/HtTpS:/y",
                            "http://news.example/ok.html", "HTTPS://Secure.example/M"}));
}

TEST_F(LinkScan, ResolvesAgainstTheCurrentAddress) {
  const std::string page =
      Anchor("<a href=\"/news/a.html\">", "a") + Anchor("<a href=\"b.html\">", "b") +
      Anchor("<a href=\"../c.html\">", "c") + Anchor("<a href=\"//cdn.example/d.html\">", "d") +
      Anchor("<a href=\"HTTP://Other.example/E.html\">", "e") + Anchor("<a href=\"\"h.html\">", "h");
  EXPECT_EQ(Scan(page),
            (std::vector<std::string>{"http://news.example/news/a.html", "http://news.example/world/b.html",
                                      "http://news.example/world/../c.html", "http://cdn.example/d.html",
                                      "HTTP://Other.example/E.html", "http://news.example/world/h.html"}));

  // On an https page the same links keep its scheme.
  spider.setCurrentPage("https://news.example/world/uk.html", "x");
  spider.knownUrls().Clear();
  const std::string securePage = Anchor("<a href=\"/news/s.html\">", "sa") +
                                 Anchor("<a href=\"t.html\">", "sb") +
                                 Anchor("<a href=\"//cdn.example/u.html\">", "sc");
  const auto urls = Scan(securePage);
  EXPECT_EQ(std::vector<std::string>(urls.end() - 3, urls.end()),
            (std::vector<std::string>{"https://news.example/news/s.html", "https://news.example/world/t.html",
                                      "https://cdn.example/u.html"}));
}

TEST_F(LinkScan, ResolvesOnAnAddressWithoutPath) {
  spider.setCurrentPage("http://news.example", "x");
  EXPECT_EQ(Scan(Anchor("<a href=\"/news/a.html\">", "a") + Anchor("<a href=\"b.html\">", "b")),
            (std::vector<std::string>{"http:///news/a.html", "http://b.html"}));
}

TEST(LinkAddress, AbsoluteRulesApplyInOrder) {
  EXPECT_EQ(AbsoluteLinkAddress("//h.example/p", kUk), "http://h.example/p");
  EXPECT_EQ(AbsoluteLinkAddress("//h.example/p", "https://news.example/world/uk.html"),
            "https://h.example/p");
  EXPECT_EQ(AbsoluteLinkAddress("Http://h.example/p", kUk), "Http://h.example/p");
  EXPECT_EQ(AbsoluteLinkAddress("hTTps://h.example/p", kUk), "hTTps://h.example/p");
  EXPECT_EQ(AbsoluteLinkAddress("http:/h.example", kUk), "http://news.example/world/http:/h.example");
  EXPECT_EQ(AbsoluteLinkAddress("https:/h.example", kUk), "http://news.example/world/https:/h.example");
  for (const char* skipped : {"#", "a/JAVAscriptor", "mailto:x@y", "FTP://h/f", "tel:+123", "data:,x", "c:x"})
    EXPECT_TRUE(LinkAddressSkipped(skipped)) << skipped;
  for (const char* followed :
       {"a#b", "http://h/", "HTTPS://h/", "http:/h", "page.html?at=1:2", "/a:b", "a/b:c"})
    EXPECT_FALSE(LinkAddressSkipped(followed)) << followed;
}

// What a link's download asks for: as every spider address, percent-encoded byte by byte, but
// a host beyond ASCII in UTF-8 as its A-labels, or no resolver would find it; and what the
// window shows of it.
TEST(LinkAddress, RequestAndShownAddressesOfLinksBeyondAscii) {
  const struct {
    const char* what;
    const char* address;
    const char* request;
  } cases[] = {
      {"a host beyond ASCII", "http://\xD0\xBF\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80.\xD1\x80\xD1\x84/\xD0\xB0",
       "http://xn--e1afmkfd.xn--p1ai/%D0%B0"},
      {"and its port", "https://\xD0\xBF\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80.\xD1\x80\xD1\x84:8443/",
       "https://xn--e1afmkfd.xn--p1ai:8443/"},
      {"an ASCII host keeps byte-wise escaping", "http://h.example/\xD0\xB0 b~c", "http://h.example/%D0%B0%20b%7Ec"},
      {"a host in single bytes is no UTF-8", "http://\xEF\xF0.example/", "http://%EF%F0.example/"},
      {"beyond ASCII only after the host", "http://h.example/?q=\xD0\xB0", "http://h.example/?q=%D0%B0"},
      {"no scheme", "\xD0\xB0.html", "%D0%B0.html"},
  };
  for (const auto& c : cases) EXPECT_EQ(SpiderRequestAddress(c.address), c.request) << c.what;
  // Shown in its characters only where the bytes are UTF-8 beyond ASCII.
  EXPECT_EQ(SpiderAddressShown(cases[0].address), cases[0].address);
  EXPECT_EQ(SpiderAddressShown(cases[2].address), cases[2].address);
  EXPECT_EQ(SpiderAddressShown(cases[3].address), "");
  EXPECT_EQ(SpiderAddressShown("http://h.example/a"), "");
}

TEST_F(LinkScan, OffsiteFilterComparesSiteRootsExactly) {
  view.offsite = false;
  const std::string page = Anchor("<a href=\"/a.html\">", "a") +
                           Anchor("<a href=\"http://NEWS.example/b\">", "b") +
                           Anchor("<a href=\"http://other.example/c\">", "c") +
                           Anchor("<a href=\"http://news.example/d/e\">", "d");
  EXPECT_EQ(Scan(page), (std::vector<std::string>{"http://news.example/a.html", "http://news.example/d/e"}));
}

TEST_F(LinkScan, HigherLevelFilterKeepsOnlyAddressesHoldingTheCurrentOne) {
  view.higher = false;
  spider.setCurrentPage("http://news.example/news/", "x");
  const std::string page = Anchor("<a href=\"a.html\">", "a") + Anchor("<a href=\"/world/b.html\">", "b") +
                           Anchor("<a href=\"http://news.example/NEWS/c.html\">", "c") +
                           Anchor("<a href=\"http://mirror.example/?u=http://news.example/news/d\">", "d");
  EXPECT_EQ(Scan(page), (std::vector<std::string>{"http://news.example/news/a.html",
                                                  "http://mirror.example/?u=http://news.example/news/d"}));
}

TEST_F(LinkScan, AnAddressIsQueuedOncePerCrawlInAnyLetterCase) {
  spider.knownUrls().Add(kUk);
  const std::string page = Anchor("<a href=\"a.html\">", "one") + Anchor("<a href=\"A.HTML\">", "two") +
                           Anchor("<a href=\"HTTP://NEWS.EXAMPLE/WORLD/UK.HTML\">", "three");
  EXPECT_EQ(Scan(page), (std::vector<std::string>{"http://news.example/world/a.html"}));
  // Still known after it has been taken out of the queue and visited.
  ASSERT_TRUE(spider.chooseNextLink());
  EXPECT_EQ(spider.links().Count(), 0);
  EXPECT_EQ(Scan(Anchor("<a href=\"a.Html\">", "four")), std::vector<std::string>{});
}

TEST_F(LinkScan, ARepeatedDescriptionIsQueuedOnceWhileItIsQueued) {
  const std::string page = Anchor("<a href=\"x.html\">", "Same") + Anchor("<a href=\"y.html\">", "Same") +
                           Anchor("<a href=\"p.html\">", "<img src=\"p.gif\">") +
                           Anchor("<a href=\"q.html\">", "<img src=\"q.gif\">");
  ASSERT_EQ(Scan(page), (std::vector<std::string>{"http://news.example/world/x.html",
                                                  "http://news.example/world/p.html"}));
  EXPECT_EQ(spider.links().Row(0).description, "Same");
  EXPECT_EQ(spider.links().Row(1).description, "");
  EXPECT_TRUE(spider.descriptionKnown("Same"));
  EXPECT_FALSE(spider.descriptionKnown("same"));
  // Once the row holding it has been taken, the description no longer blocks a link.
  ASSERT_TRUE(spider.chooseNextLink());
  ASSERT_TRUE(spider.chooseNextLink());
  EXPECT_FALSE(spider.descriptionKnown("Same"));
  EXPECT_EQ(Scan(Anchor("<a href=\"z.html\">", "Same")),
            (std::vector<std::string>{"http://news.example/world/z.html"}));
}

TEST_F(LinkScan, EachRowCarriesTheRelevanceOfItsDescription) {
  Scan(Anchor("<a href=\"a.html\">", "good good bad") + Anchor("<a href=\"b.html\">", "bad"));
  EXPECT_EQ(spider.links().Row(0).relevance, 10);
  EXPECT_EQ(spider.links().Row(1).relevance, -10);
}

TEST_F(LinkScan, TheAnchorTextRunsToTheNextCloseTagInAnyCase) {
  Scan("<a href=\"a.html\"><b>Big</b> <i>news</i></A>" + std::string(60, '.'));
  ASSERT_EQ(spider.links().Count(), 1);
  EXPECT_EQ(spider.links().Row(0).description, "Big news");
}

TEST_F(LinkScan, AnUnfinishedAnchorEndsTheScan) {
  EXPECT_EQ(Scan(Anchor("<a href=\"a.html\">", "one") + "<a href=\"b.html\">two" + std::string(60, '.')),
            (std::vector<std::string>{"http://news.example/world/a.html"}));
  EXPECT_EQ(Scan("<a href=\"c.html>three</a>"),
            (std::vector<std::string>{"http://news.example/world/a.html"}));
}

TEST_F(LinkScan, AnAnchorLeftOpenEndsWhereTheNextBegins) {
  const std::string dots(60, '.');
  struct Case {
    const char* what;
    std::string page;
    std::vector<std::pair<std::string, std::string>> rows;  // address in the folder, description
  };
  const std::vector<Case> cases = {
      {"many anchors sharing one distant close",
       "<a href=\"1.html\">one" + dots + "<a href=\"2.html\">two" + dots + "<a href=\"3.html\">three" + dots +
           "</a>" + dots,
       {{"1.html", "one" + dots}, {"2.html", "two" + dots}, {"3.html", "three" + dots}}},
      {"an open anchor before a closed one",
       "<a href=\"4.html\">four" + dots + "<a href=\"5.html\">five</a>" + dots,
       {{"4.html", "four" + dots}, {"5.html", "five"}}},
      {"an address that runs into the next anchor",
       "<a href=\"6.html>six " + dots + "<a href=\"7.html\">seven</a>" + dots,
       {{"7.html", "seven"}}},
  };
  for (const Case& c : cases) {
    spider.knownUrls().Clear();
    const size_t before = static_cast<size_t>(spider.links().Count());
    Scan(c.page);
    std::vector<std::pair<std::string, std::string>> rows;
    for (size_t k = before; k < static_cast<size_t>(spider.links().Count()); ++k) {
      const LinkRow& row = spider.links().Row(static_cast<int>(k));
      rows.push_back({row.url.substr(std::string("http://news.example/world/").size()), row.description});
    }
    EXPECT_EQ(rows, c.rows) << c.what;
  }
}

TEST_F(LinkScan, AMalformedReferenceRaisesAndKeepsTheRowsBeforeIt) {
  const std::string page = Anchor("<a href=\"a.html\">", "one") + Anchor("<a href=\"b.html\">", "&#abc;") +
                           Anchor("<a href=\"c.html\">", "three");
  EXPECT_THROW(spider.searchPageForLinks(page), ConversionError);
  EXPECT_EQ(Urls(), (std::vector<std::string>{"http://news.example/world/a.html"}));
}

TEST(DescribeLink, TakesWholeWordsWithinFiftyCharactersOnEachSide) {
  const std::string page = "alpha beta gamma <a href=\"x.html\">Link</a> delta epsilon zeta";
  const size_t s = page.find('<');
  const size_t after = page.find("</a>") + 4;
  // The first word has no blank before it, so it is not known to be whole; the blank right
  // before the anchor is not part of the text, the one right after it is.
  EXPECT_EQ(DescribeLink("Link", page, s, after), "beta gamma Link  delta epsilon");
}

TEST(DescribeLink, ReachesToTheFarthestBlankWithinFiftyCharacters) {
  // 48 characters of words before the anchor and a run of 60 letters after it.
  const std::string before = "aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jj ";
  const std::string page = "zzzz " + before + "<a href=\"x\">L</a>" + std::string(60, 'q') + " tail";
  const size_t s = page.find('<');
  // Position s - 49 holds the blank after "zzzz", the lowest blank in reach.
  EXPECT_EQ(page[s - 49], ' ');
  EXPECT_EQ(DescribeLink("L", page, s, page.find("</a>") + 4), before.substr(0, before.size() - 1) + " L");
  const std::string far = "zzzzz" + before + "<a href=\"x\">L</a>";
  EXPECT_EQ(DescribeLink("L", far, far.find('<'), far.size()),
            "bbbb cccc dddd eeee ffff gggg hhhh iiii jj L");
}

TEST(DescribeLink, ContextsArePlainText) {
  const std::string page = "x <b>Bold</b>&amp; <a href=\"x\">L</a> <i>it</i>&quot; more";
  EXPECT_EQ(DescribeLink("L", page, page.find("<a"), page.find("</a>") + 4), "Bold& L  it\"");
}

}  // namespace
}  // namespace zibu
