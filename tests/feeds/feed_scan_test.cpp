// Scanning real documents served from a loopback server: what reaches the triage hook and what
// the status log says.
#include "feeds/feed_scan.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "common/codepage.h"
#include "common/feed_date.h"
#include "common/ports.h"
#include "common/text.h"
#include "feeds/download_pool.h"
#include "feeds/feed_list.h"
#include "recording_port.h"
#include "support/loopback_server.h"
#include "xml/xml_parser.h"

namespace zibu {
namespace {

using test::LoopbackServer;
using test::RecordingPort;
namespace fs = std::filesystem;

std::string DataFile(const std::string& name) {
  std::ifstream in(std::string(ZIBU_TEST_DATA_DIR) + "/feeds/" + name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class FixedClock : public Clock {
 public:
  int64_t NowMs() const override { return now; }
  uint32_t IdleMs() const override { return 0; }
  int64_t now = 1733650000000;
};

struct Seen {
  std::string title, description, link;
  bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{" << s.title << " | " << s.description << " | " << s.link << "}";
}

class FeedScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zibu_feed_scan_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    settings_.tempDir = dir_.string() + "/";
    settings_.http = FeedRequestOptions(ProxySettings{});
    settings_.http.connectTimeoutMs = 2000;
    settings_.http.readTimeoutMs = 2000;
    settings_.clock = &clock_;
    settings_.cancelRequested = &cancel_;
    settings_.triage = [this](TFeed&, TItem& item, Items& results) {
      seen_.push_back({item.Title, item.Description, item.Link});
      results.push_back(item);
    };
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Serve(const std::string& name, const std::string& type = "application/rss+xml") {
    server_.ServeBody("/" + name, DataFile(name), type);
    return server_.Url("/" + name);
  }

  // Scans a feed at `url` as a scan job does, and returns the items the hook saw: the GET and the
  // item reader on the download's worker (this thread here), then the feed's turn, triaged one
  // item a slice.
  std::vector<Seen> Scan(const std::string& url) {
    feed_.url = url;
    seen_.clear();
    Items results;
    PooledDownload download;
    try {
      const HttpOptions options = FeedDownloadOptions(feed_, settings_);
      download.response = fetch_ ? fetch_(UrlEncode(url), options) : HttpGetResponse(UrlEncode(url), options);
    } catch (...) {
      download.error = std::current_exception();
    }
    ReadDownloadedFeed(download, settings_.tempDir + CachedFeedFileName(url));
    TFeedTurn turn(feed_, std::move(download), settings_, port_);
    while (!turn.Triage(feed_, results, std::chrono::steady_clock::now())) {
    }
    turn.Finish(feed_);
    EXPECT_EQ(results.size(), seen_.size());
    return seen_;
  }

  std::string DownloadFile() const { return settings_.tempDir + kDownloadFileName; }

  LoopbackServer server_;
  fs::path dir_;
  FeedScanSettings settings_;
  FixedClock clock_;
  bool cancel_ = false;
  RecordingPort port_;
  TFeed feed_;
  std::vector<Seen> seen_;
  TDownloadPool::Fetch fetch_;  // null: HttpGetResponse
};

TEST_F(FeedScanTest, Rss2ItemsWithCdataAndEntities) {
  const std::string url = Serve("rss2_three.xml");
  const auto items = Scan(url);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], (Seen{"Nuclear inspection resumes", "Inspectors return to the site.",
                            "http://127.0.0.1/news/1"}));
  EXPECT_EQ(items[1], (Seen{"Cricket tour announced", "<p>England <b>will</b> tour & play five tests</p>",
                            "http://127.0.0.1/news/2"}));
  EXPECT_EQ(items[2], (Seen{"Markets & money: <up> \xA9 2024", "Shares rose \"sharply\".",
                            "http://127.0.0.1/news/3?a=1&b=2"}));
  EXPECT_EQ(feed_.lastRefresh, clock_.now);
  // The download file holds the body byte for byte.
  std::ifstream in(DownloadFile(), std::ios::binary);
  std::stringstream body;
  body << in.rdbuf();
  EXPECT_EQ(body.str(), DataFile("rss2_three.xml"));

  EXPECT_EQ(port_.Texts(),
            (std::vector<std::string>{"Scanning feed " + url, "Downloading " + url,
                                      "Downloaded " + url + " ok", "Finished scanning feed " + url}));
  EXPECT_TRUE(port_.Logged("Downloading " + url, true));
  EXPECT_TRUE(port_.Logged("Downloaded " + url + " ok", true));
  EXPECT_TRUE(port_.Logged("Scanning feed " + url, false));
  EXPECT_TRUE(port_.Logged("Finished scanning feed " + url, false));
  ASSERT_TRUE(server_.LastRequest("/rss2_three.xml"));
  EXPECT_EQ(server_.LastRequest("/rss2_three.xml")->Header("User-Agent"), "Mozilla/4.0");
  EXPECT_EQ(server_.LastRequest("/rss2_three.xml")->Header("Cache-Control"), "no-cache");
}

TEST_F(FeedScanTest, RdfItemsAndAMissingDescriptionStaysEmpty) {
  const auto items = Scan(Serve("rdf.xml"));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], (Seen{"First RDF item", "One", "http://127.0.0.1/r/1"}));
  EXPECT_EQ(items[1], (Seen{"Second RDF item", "", "http://127.0.0.1/r/2"}));
}

TEST_F(FeedScanTest, AtomTakesTheAlternateLinkAndSummaries) {
  const auto items = Scan(Serve("atom.xml", "application/atom+xml"));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], (Seen{"Entry with two links", "<p>Full content</p>", "http://127.0.0.1/a/1"}));
  EXPECT_EQ(items[1], (Seen{"Entry with a summary only", "Just a summary", "http://127.0.0.1/a/2"}));
}

TEST_F(FeedScanTest, NamesMatchInAnyLetterCaseAndByNamespace) {
  const auto items = Scan(Serve("names.xml"));
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0], (Seen{"Upper", "Mixed case", "http://127.0.0.1/u"}));
  // content:encoded stands in for a missing description, atom:entry is an entry.
  EXPECT_EQ(items[1], (Seen{"Encoded only", "Not a description", "http://127.0.0.1/e"}));
  EXPECT_EQ(items[2], (Seen{"Prefixed", "", "http://127.0.0.1/p"}));
  EXPECT_EQ(items[3], (Seen{"Shouting entry", "", "http://127.0.0.1/s"}));
}

TEST_F(FeedScanTest, CommentAfterTheItemTagChangesNothing) {
  const std::string url = Serve("comment_after_item.xml");
  // The links are relative, so they are resolved against the feed's address.
  const std::string base = url.substr(0, url.rfind('/') + 1);
  EXPECT_EQ(Scan(url), (std::vector<Seen>{{"T0", "D0", base + "L0"},
                                          {"T1", "D1", base + "L1"},
                                          {"T2", "D2", base + "L2"},
                                          {"T3", "D3", base + "L3"}}));
}

TEST_F(FeedScanTest, Utf8AndLatin1DocumentsArriveAsWindows1252) {
  auto items = Scan(Serve("utf8.xml"));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0], (Seen{"Caf\xE9 \x80"
                            "5",
                            "na\xEFve", "http://127.0.0.1/u8"}));
  items = Scan(Serve("latin1.xml"));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0], (Seen{"Caf\xE9 \xA3"
                            "5",
                            "na\xEFve", "http://127.0.0.1/l1"}));
}

// What the response says about its document: the charset for a document that declares none,
// and Content-Location as the base of relative links. The log names undefined entities once, and
// once an encoding it could not read.
TEST_F(FeedScanTest, TheResponseNamesCharsetAndBase) {
  struct Case {
    const char* what;
    std::string body;
    std::string contentType;
    std::string contentLocation;
    Seen item;
    std::string logged = {};  // the line about the encoding; empty: none
  };
  const std::string utf8Item = "<item><title>caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D</title><link>a/1</link></item>";
  const Case cases[] = {
      {"no declaration, no charset: UTF-8", "<rss><channel>" + utf8Item + "</channel></rss>",
       "application/rss+xml", "", {"caf\xE9 \x93q\x94", "", "/feeds/a/1"}},
      {"charset=utf-8", "<rss><channel>" + utf8Item + "</channel></rss>", "text/xml; charset=\"UTF-8\"", "",
       {"caf\xE9 \x93q\x94", "", "/feeds/a/1"}},
      {"charset=iso-8859-1 decides for an undeclared document",
       "<rss><channel><item><title>caf\xE9</title></item></channel></rss>", "text/xml;charset=iso-8859-1", "",
       {"caf\xE9", "", ""}},
      {"the declaration decides over the charset",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><rss><channel><item><title>caf\xC3\xA9</title></item>"
       "</channel></rss>",
       "text/xml; charset=utf-8", "", {"caf\xC3\xA9", "", ""}},
      {"Content-Location is the base", "<rss><channel>" + utf8Item + "</channel></rss>", "text/xml",
       "/elsewhere/feed.xml", {"caf\xE9 \x93q\x94", "", "/elsewhere/a/1"}},
      {"an absolute Content-Location", "<rss><channel>" + utf8Item + "</channel></rss>", "text/xml",
       "http://other.example/x/rss", {"caf\xE9 \x93q\x94", "", "http://other.example/x/a/1"}},
      {"charset=windows-1251 decides for an undeclared document",
       "<rss><channel><item><title>\xCF\xF0\xE8 \x84q\x93</title></item></channel></rss>",
       "text/xml; charset=windows-1251", "", {"\xBF\xBF\xBF \x84q\x93", "", ""}},
      {"a charset I do not know",
       "<rss><channel><item><title>\xCF\xF0\xE8</title></item></channel></rss>", "text/xml; charset=x-nothing",
       "", {"\xCF\xF0\xE8", "", ""}, "is in an encoding I do not know (\"x-nothing\"); I read it as Windows-1252"},
      {"bytes the declared encoding rejects",
       "<?xml version=\"1.0\" encoding=\"windows-1251\"?><rss><channel><item><title>\xCF\x98</title></item>"
       "</channel></rss>",
       "text/xml", "", {"\xCF\x98", "", ""}, "is not windows-1251 text (from byte 73 on); I read it as Windows-1252"},
  };
  for (const Case& c : cases) {
    server_.Serve("/feeds/rss", [&](const httplib::Request&, httplib::Response& res) {
      if (!c.contentLocation.empty()) res.set_header("Content-Location", c.contentLocation);
      res.set_content(c.body, c.contentType);
    });
    port_.lines.clear();
    const auto items = Scan(server_.Url("/feeds/rss"));
    Seen want = c.item;
    if (!want.link.empty() && want.link[0] == '/') want.link = server_.Url(want.link);
    EXPECT_EQ(items, std::vector<Seen>{want}) << c.what;
    std::vector<std::string> about;
    for (const auto& line : port_.lines)
      if (line.text.find("I read it as") != std::string::npos) about.push_back(line.text);
    EXPECT_EQ(about, c.logged.empty() ? std::vector<std::string>{}
                                      : std::vector<std::string>{"The feed " + server_.Url("/feeds/rss") + " " +
                                                                 c.logged})
        << c.what;
  }
  server_.ServeBody("/feeds/ent",
                    "<rss><channel><item><title>a&nbsp;b&hellip;</title></item><item><title>&nbsp;</title>"
                    "</item></channel></rss>",
                    "text/xml");
  port_.lines.clear();
  Scan(server_.Url("/feeds/ent"));
  int named = 0;
  for (const auto& line : port_.lines)
    if (line.text.find("does not declare") != std::string::npos) {
      ++named;
      EXPECT_NE(line.text.find("&nbsp;, &hellip;"), std::string::npos) << line.text;
    }
  EXPECT_EQ(named, 1);
}

TEST_F(FeedScanTest, RedirectIsFollowed) {
  Serve("rss2_three.xml");
  server_.ServeRedirect("/moved", server_.Url("/rss2_three.xml"), 301);
  EXPECT_EQ(Scan(server_.Url("/moved")).size(), 3u);
  EXPECT_EQ(server_.RequestCount("/rss2_three.xml"), 1u);
}

TEST_F(FeedScanTest, ErrorStatusLeavesNoDownloadFileAndNoItems) {
  // A good download first, so a stale file would be there to read.
  ASSERT_EQ(Scan(Serve("rss2_three.xml")).size(), 3u);
  ASSERT_TRUE(fs::exists(DownloadFile()));
  server_.ServeStatus("/gone.xml", 404, "not here");
  port_.lines.clear();
  const std::string url = server_.Url("/gone.xml");
  EXPECT_TRUE(Scan(url).empty());
  EXPECT_FALSE(fs::exists(DownloadFile()));
  EXPECT_EQ(feed_.lastRefresh, clock_.now);  // set whatever the outcome
  ASSERT_EQ(port_.lines.size(), 4u);
  EXPECT_EQ(port_.lines[1].text, "Downloading " + url);
  EXPECT_EQ(port_.lines[2].text.rfind("Error downloading " + url + ": ", 0), 0u) << port_.lines[2].text;
  EXPECT_GT(port_.lines[2].text.size(), ("Error downloading " + url + ": ").size());
  EXPECT_FALSE(port_.lines[2].verbose);
  EXPECT_EQ(port_.lines[3].text, "Finished scanning feed " + url);
}

TEST_F(FeedScanTest, TimeOutIsReportedAndScanningGoesOn) {
  server_.ServeDelayed("/slow.xml", 3000, DataFile("rss2_three.xml"));
  settings_.http.readTimeoutMs = 300;
  const auto start = std::chrono::steady_clock::now();
  const std::string url = server_.Url("/slow.xml");
  EXPECT_TRUE(Scan(url).empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_FALSE(fs::exists(DownloadFile()));
  const auto texts = port_.Texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[2].rfind("Error downloading " + url + ": ", 0), 0u) << texts[2];
}

TEST_F(FeedScanTest, DocumentsThatAreNotFeedsGiveNoItems) {
  server_.ServeBody("/page.html", "<html><body><p>Just a page</p></body></html>", "text/html");
  server_.ServeBody("/plain.txt", "This is not XML at all & never was <", "text/plain");
  server_.ServeBody("/empty.xml", "", "text/xml");
  for (const char* path : {"/page.html", "/plain.txt", "/empty.xml"}) {
    port_.lines.clear();
    const std::string url = server_.Url(path);
    EXPECT_TRUE(Scan(url).empty()) << path;
    EXPECT_EQ(port_.lines.front().text, "Scanning feed " + url);
    EXPECT_EQ(port_.lines.back().text, "Finished scanning feed " + url);
    EXPECT_EQ(port_.lines.size(), 4u) << path;
  }
}

TEST_F(FeedScanTest, AddressIsPercentEncodedForTheRequestAndTheLaterLogLines) {
  Serve("rss2_three.xml");
  server_.ServeBody("/a b.xml", DataFile("rdf.xml"), "text/xml");
  const std::string url = server_.Url("/a b.xml");
  const std::string encoded = server_.Url("/a%20b.xml");
  EXPECT_EQ(Scan(url).size(), 2u);
  EXPECT_EQ(port_.Texts(),
            (std::vector<std::string>{"Scanning feed " + url, "Downloading " + url,
                                      "Downloaded " + encoded + " ok", "Finished scanning feed " + url}));
}

TEST_F(FeedScanTest, OneBadItemIsSkippedAndTheRestOfTheFeedIsRead) {
  settings_.triage = [this](TFeed&, TItem& item, Items& results) {
    item.Title = HtmlToText(item.Title);  // rejects "&#xZZ;"
    seen_.push_back({item.Title, item.Description, item.Link});
    results.push_back(item);
  };
  const std::string url = Serve("bad_item.xml");
  const auto items = Scan(url);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].link, "http://127.0.0.1/g/1");
  EXPECT_EQ(items[1].link, "http://127.0.0.1/g/3");
  bool skipped = false;
  for (const auto& l : port_.lines)
    if (l.text.rfind("Skipping item http://127.0.0.1/g/2: ", 0) == 0 && !l.verbose) skipped = true;
  EXPECT_TRUE(skipped) << ::testing::PrintToString(port_.Texts());
  EXPECT_EQ(port_.lines.back().text, "Finished scanning feed " + url);
}

TEST_F(FeedScanTest, CancelStopsBeforeTheNextItem) {
  settings_.triage = [this](TFeed&, TItem& item, Items& results) {
    seen_.push_back({item.Title, item.Description, item.Link});
    results.push_back(item);
    cancel_ = true;
  };
  EXPECT_EQ(Scan(Serve("rss2_three.xml")).size(), 1u);
}

TEST_F(FeedScanTest, UnchangedFeedAnswers304AndItsKeptCopyIsReadAgain) {
  std::string etag = "\"v1\"";
  std::string body = DataFile("rss2_three.xml");
  bool validators = true;
  bool failing = false;
  server_.Serve("/feed.xml", [&](const httplib::Request& req, httplib::Response& res) {
    if (failing) {
      res.status = 503;
      return;
    }
    if (validators && req.get_header_value("If-None-Match") == etag) {
      res.status = 304;
      return;
    }
    if (validators) {
      res.set_header("ETag", etag);
      res.set_header("Last-Modified", "Mon, 07 Dec 2026 18:04:11 GMT");
    }
    res.set_content(body, "application/rss+xml");
  });
  const std::string url = server_.Url("/feed.xml");
  const std::string kept = settings_.tempDir + CachedFeedFileName(url);

  struct Step {
    const char* what;
    std::function<void()> before;
    std::string sentEtag;  // If-None-Match the server saw
    size_t items;
    std::string etagAfter;
    bool keptAfter;
  };
  const std::vector<Step> steps = {
      {"first download", [] {}, "", 3, "\"v1\"", true},
      {"unchanged: 304, the kept copy is read", [] {}, "\"v1\"", 3, "\"v1\"", true},
      {"a failed download keeps copy and validators", [&] { failing = true; }, "\"v1\"", 0, "\"v1\"", true},
      {"changed", [&] { failing = false, etag = "\"v2\"", body = DataFile("rdf.xml"); }, "\"v1\"", 2,
       "\"v2\"", true},
      {"copy gone: asked without condition", [&] { fs::remove(kept); }, "", 2, "\"v2\"", true},
      {"no validators any more", [&] { validators = false; }, "\"v2\"", 2, "", false},
      {"nothing to send then", [] {}, "", 2, "", false},
  };
  std::vector<Seen> first;
  for (const Step& step : steps) {
    step.before();
    port_.lines.clear();
    const auto items = Scan(url);
    EXPECT_EQ(items.size(), step.items) << step.what;
    EXPECT_EQ(server_.LastRequest("/feed.xml")->Header("If-None-Match"), step.sentEtag) << step.what;
    EXPECT_EQ(feed_.etag, step.etagAfter) << step.what;
    EXPECT_EQ(feed_.lastModified.empty(), step.etagAfter.empty()) << step.what;
    EXPECT_EQ(fs::exists(kept), step.keptAfter) << step.what;
    if (first.empty()) first = items;
    if (step.sentEtag == "\"v1\"" && step.items == 3) {
      // Triage sees exactly what the first download gave, and the download file is the copy.
      EXPECT_EQ(items, first);
      std::ifstream in(DownloadFile(), std::ios::binary);
      std::stringstream copy;
      copy << in.rdbuf();
      EXPECT_EQ(copy.str(), DataFile("rss2_three.xml"));
      EXPECT_TRUE(port_.Logged("Downloaded " + url + " ok: not modified since the last download", true));
    }
  }
  EXPECT_EQ(server_.RequestCount("/feed.xml"), steps.size());
}

TEST_F(FeedScanTest, AnUnusableTempFolderCostsTheFeedNotTheScan) {
  // A folder name too long to look into: the kept copy cannot even be checked for.
  settings_.tempDir = dir_.string() + "/" + std::string(5000, 'x') + "/";
  const std::string url = Serve("rss2_three.xml");
  std::vector<Seen> items;
  EXPECT_NO_THROW(items = Scan(url));
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(port_.lines.back().text, "Finished scanning feed " + url);
}

// A download file that could not be removed (a temp/ folder the program may no longer write to)
// holds another feed's document: after a failed download none of it may be read as this feed's.
TEST_F(FeedScanTest, AfterAFailedDownloadNothingIsReadWhateverTheFolderHolds) {
  const std::string other = DataFile("rss2_three.xml");
  const struct {
    const char* name;
    std::function<HttpResponse()> fail;
    const char* error;
  } cases[] = {
      {"unwritable download file", [&]() -> HttpResponse { throw IoError("Unable to write to " + DownloadFile()); },
       "Unable to write to "},
      {"error status", []() -> HttpResponse { throw HttpError("Not Found (404)", kHttpErrorKind, 404); },
       "Not Found (404)"},
      {"cancelled", []() -> HttpResponse { throw HttpError("Download cancelled", kCancelledKind); },
       "Download cancelled"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fetch_ = [&](const std::string&, const HttpOptions&) {
      std::ofstream(DownloadFile(), std::ios::binary) << other;  // left behind, not removable
      return c.fail();
    };
    port_.lines.clear();
    EXPECT_TRUE(Scan(server_.Url("/b.xml")).empty());
    bool reported = false;
    for (const auto& line : port_.lines)
      reported = reported || line.text.find(std::string(": ") + c.error) != std::string::npos;
    EXPECT_TRUE(reported);
    EXPECT_EQ(port_.lines.back().text, "Finished scanning feed " + server_.Url("/b.xml"));
  }
}

// The temporary folder holds the copies kept of other feeds beside the download file: a feed's
// document may name them as external entities or as its DTD, but never reads them.
TEST_F(FeedScanTest, AFeedNeverReadsTheOtherFilesOfTheFolder) {
  const std::string privateUrl = "https://private.example/feed?token=s3cret";
  const std::string kept = CachedFeedFileName(privateUrl);
  std::ofstream(settings_.tempDir + kept, std::ios::binary)
      << "<rss><channel><item><title>PRIVATE</title></item></channel></rss>";
  std::ofstream(settings_.tempDir + "decls.dtd", std::ios::binary) << "<!ENTITY leak 'PRIVATE'>";
  const struct {
    const char* what;
    std::string document;
    Seen item;
  } cases[] = {
      {"in text",
       "<!DOCTYPE rss [<!ENTITY o SYSTEM \"" + kept + "\">]><rss><channel><item><title>t&o;</title>"
       "<link>http://a/&o;</link></item></channel></rss>",
       {"t", "", "http://a/"}},
      {"in an attribute, written as a Windows path",
       "<!DOCTYPE feed [<!ENTITY o SYSTEM \".\\" + kept + "\">]><feed xmlns=\"http://www.w3.org/2005/Atom\">"
       "<entry><title>t</title><link href=\"http://a/&o;\"/></entry></feed>",
       {"t", "", "http://a/"}},
      {"the download file itself",
       "<!DOCTYPE rss [<!ENTITY me SYSTEM \"temp.xml\">]><rss><channel><item><title>t</title>"
       "<description>&me;</description></item></channel></rss>",
       {"t", "", ""}},
      {"an external DTD beside it", "<!DOCTYPE rss SYSTEM \"decls.dtd\"><rss><item><title>&leak;</title></item></rss>",
       {"&leak;", "", ""}},
  };
  for (const auto& c : cases) {
    server_.ServeBody("/hostile.xml", c.document, "application/rss+xml");
    port_.lines.clear();
    EXPECT_EQ(Scan(server_.Url("/hostile.xml")), std::vector<Seen>{c.item}) << c.what;
    for (const auto& line : port_.lines) EXPECT_EQ(line.text.find("PRIVATE"), std::string::npos) << c.what;
  }
}

// A hostile document is cut to what the reader takes, and each cut is said once in the status log,
// however many items it touched.
TEST_F(FeedScanTest, WhatAHostileFeedBringsIsCutAndSaidOnce) {
  const std::string big(kMaxItemTitleBytes + 10, 'x');
  std::string doc = "<!DOCTYPE rss [<!ENTITY a '" + std::string(1000, 'a') + "'><!ENTITY b '";
  for (int i = 0; i < 1000; ++i) doc += "&a;";
  doc += "'><!ENTITY c '";
  for (int i = 0; i < 1000; ++i) doc += "&b;";
  doc += "'>]><rss><channel>";
  for (int i = 0; i < 3; ++i) doc += "<item><title>" + big + "</title><description>&c;</description></item>";
  doc += "</channel></rss>";
  server_.ServeBody("/hostile.xml", doc, "application/rss+xml");
  const std::string url = server_.Url("/hostile.xml");
  const auto items = Scan(url);
  ASSERT_EQ(items.size(), 3u);
  for (const Seen& item : items) EXPECT_EQ(item.title.size(), kMaxItemTitleBytes);
  std::vector<std::string> said;
  for (const auto& line : port_.lines)
    if (line.text.rfind("The feed " + url, 0) == 0) said.push_back(line.text);
  const std::vector<std::string> expected = {
      "The feed " + url + " has item titles longer than 64 KB; I cut them to that",
      "The feed " + url + " has item texts longer than 256 KB; I cut them to that",
      "The feed " + url + " expands its entities to more than 8 MB; I left the references after that unexpanded",
  };
  EXPECT_EQ(said, expected);
  EXPECT_EQ(port_.lines.back().text, "Finished scanning feed " + url);

  // An ordinary feed says nothing of the kind.
  port_.lines.clear();
  const std::string plain = Serve("rss2_three.xml");
  EXPECT_EQ(Scan(plain).size(), 3u);
  for (const auto& line : port_.lines) EXPECT_NE(line.text.rfind("The feed ", 0), 0u) << line.text;
}

TEST(FeedBytes, AnEmptyDocumentGivesNoItems) {
  int calls = 0;
  ReadFeedBytes("", [&](TItem&) { ++calls; });
  EXPECT_EQ(calls, 0);
}

// The copies kept for conditional requests sit beside the download file: a feed that names one
// as an external entity gets none of it, nor of any other file.
TEST_F(FeedScanTest, AFeedCannotReadAnotherFeedsKeptCopy) {
  server_.Serve("/private.xml", [&](const httplib::Request&, httplib::Response& res) {
    res.set_header("ETag", "\"p1\"");
    res.set_content(
        "<rss><channel><item><title>Secret plans</title><link>http://127.0.0.1/secret</link></item>"
        "</channel></rss>",
        "application/rss+xml");
  });
  const std::string privateUrl = server_.Url("/private.xml");
  ASSERT_EQ(Scan(privateUrl).size(), 1u);
  const std::string kept = CachedFeedFileName(privateUrl);
  ASSERT_TRUE(fs::exists(settings_.tempDir + kept));
  std::ofstream(settings_.tempDir + "plain.txt") << "Secret plans";
  for (const std::string& name : {kept, std::string("plain.txt"), settings_.tempDir + "plain.txt"}) {
    SCOPED_TRACE(name);
    server_.ServeBody("/nosy.xml",
                      "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY o SYSTEM \"" + name +
                          "\">]><rss><channel><item><title>Nosy &o;</title><link>http://127.0.0.1/n</link>"
                          "</item></channel></rss>",
                      "application/rss+xml");
    const auto items = Scan(server_.Url("/nosy.xml"));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].title.find("Secret"), std::string::npos) << items[0].title;
  }
}

// ---- reading items from small documents --------------------------------------------------

std::vector<Seen> ReadItems(const std::string& document, const std::string& documentUrl = "") {
  TXmlParser parser;
  parser.LoadFromBuffer(document);
  std::vector<Seen> seen;
  FeedReadOptions options;
  options.documentUrl = documentUrl;
  ReadFeedDocument(
      parser,
      [&](TItem& item) {
        seen.push_back({item.Title, item.Description, item.Link});
      },
      options);
  return seen;
}

struct ItemCase {
  const char* what;
  std::string document;
  std::vector<Seen> items;
  std::string documentUrl = "";
};

void ExpectItems(const std::vector<ItemCase>& cases) {
  for (const ItemCase& c : cases) EXPECT_EQ(ReadItems(c.document, c.documentUrl), c.items) << c.what;
}

std::string Rss(const std::string& items) {
  return "<rss version=\"2.0\"><channel><title>Channel</title><link>http://c/</link>" + items +
         "</channel></rss>";
}
std::string Atom(const std::string& entries) {
  return "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Feed</title>"
         "<link rel=\"self\" href=\"http://f/self\"/>" +
         entries + "</feed>";
}

TEST(FeedItems, EachItemIsReadFromItsOwnChildren) {
  ExpectItems({
      {"a missing description stays empty",
       Rss("<item><title>A</title><description>DA</description><link>http://a</link></item>"
           "<item><title>B</title><link>http://b</link></item>"),
       {{"A", "DA", "http://a"}, {"B", "", "http://b"}}},
      {"an empty element gives an empty field",
       Rss("<item><title>A</title><description>DA</description><link/></item>"
           "<item><title></title><description/><link>http://b</link></item>"),
       {{"A", "DA", ""}, {"", "", "http://b"}}},
      {"comments, PIs and text between the children",
       Rss("<item><!-- c --><title>A</title>stray<?pi "
           "x?><description>DA</description>more<link>http://a</link>"
           "</item><item>text first<title>B</title></item>"),
       {{"A", "DA", "http://a"}, {"B", "", ""}}},
      {"the text of an element is all of it, CDATA included",
       Rss("<item><title>One <![CDATA[<b>two</b>]]> thr<!-- x -->ee <!-- y --> four\n</title></item>"),
       {{"One <b>two</b> three four", "", ""}}},
      {"an item that is not closed ends where the next begins",
       Rss("<item><title>A</title><item><title>B</title></item>"),
       {{"A", "", ""}, {"B", "", ""}}},
      {"an item cut short by the end of the document",
       "<rss><channel><item><title>A</title><link>http://a",
       {{"A", "", "http://a"}}},
      {"an Atom source's title and links are not the entry's",
       Atom(
           "<entry><title>E</title><link href=\"http://e\"/><source><title>S</title><link href=\"http://s\"/>"
           "</source></entry>"),
       {{"E", "", "http://e"}}},
      {"the channel's own fields are no item", Rss(""), {}},
  });
}

TEST(FeedItems, AtomLinkIsTheAlternateOne) {
  auto entry = [](const std::string& links) { return Atom("<entry><title>E</title>" + links + "</entry>"); };
  ExpectItems({
      {"alternate before self",
       entry("<link rel=\"alternate\" href=\"a\"/><link rel=\"self\" href=\"b\"/>"),
       {{"E", "", "a"}}},
      {"self before alternate",
       entry("<link rel=\"self\" href=\"b\"/><link rel=\"alternate\" href=\"a\"/>"),
       {{"E", "", "a"}}},
      {"no rel counts as alternate",
       entry("<link rel=\"edit\" href=\"b\"/><link href=\"a\"/>"),
       {{"E", "", "a"}}},
      {"the first of two alternates",
       entry("<link rel=\"alternate\" href=\"a1\"/><link rel=\"ALTERNATE\" href=\"a2\"/>"),
       {{"E", "", "a1"}}},
      {"no alternate: the first with an href",
       entry("<link rel=\"replies\"/><link rel=\"self\" href=\"b\"/><link rel=\"edit\" href=\"c\"/>"),
       {{"E", "", "b"}}},
      {"no link at all", entry(""), {{"E", "", ""}}},
  });
}

TEST(FeedItems, OtherFormsStandInForAMissingOrEmptyField) {
  const std::string ns =
      " xmlns:content=\"http://purl.org/rss/1.0/modules/content/\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
      " xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\" "
      "xmlns:media=\"http://search.yahoo.com/mrss/\"";
  auto rss = [&](const std::string& item) {
    return "<rss" + ns + "><channel><item>" + item + "</item></channel></rss>";
  };
  ExpectItems({
      {"description wins over content:encoded",
       rss("<description>D</description><content:encoded>E</content:encoded>"),
       {{"", "D", ""}}},
      {"content:encoded for an empty description",
       rss("<description/><content:encoded><![CDATA[<p>E</p>]]></content:encoded><dc:description>DC</"
           "dc:description>"),
       {{"", "<p>E</p>", ""}}},
      {"dc:description, then itunes:summary, then media:description",
       rss("<dc:description>DC</dc:description><itunes:summary>IT</itunes:summary>"),
       {{"", "DC", ""}}},
      {"itunes:summary",
       rss("<itunes:summary>IT</itunes:summary><media:description>M</media:description>"),
       {{"", "IT", ""}}},
      {"media:description inside media:group",
       rss("<media:group><media:content url=\"x\"><media:description>M</media:description></media:content>"
           "</media:group>"),
       {{"", "M", ""}}},
      {"dc:title, then media:title",
       rss("<title> </title><dc:title>DT</dc:title><media:title>MT</media:title>"),
       {{"DT", "", ""}}},
      {"media:title", rss("<media:group><media:title>MT</media:title></media:group>"), {{"MT", "", ""}}},
      {"a permalink guid", rss("<guid>https://g.example/1</guid>"), {{"", "", "https://g.example/1"}}},
      {"a guid marked as no permalink",
       rss("<guid isPermaLink=\"false\">http://g.example/1</guid>"),
       {{"", "", ""}}},
      {"a guid that is no web address", rss("<guid>tag:g.example,2026:1</guid>"), {{"", "", ""}}},
      {"link wins over guid",
       rss("<guid>http://g.example/1</guid><link>http://l.example/1</link>"),
       {{"", "", "http://l.example/1"}}},
      {"Atom summary without content",
       Atom("<entry><summary>S</summary></entry><entry><content "
            "src=\"http://x\"/><summary>S2</summary></entry>"),
       {{"", "S", ""}, {"", "S2", ""}}},
      {"Atom content wins over summary",
       Atom("<entry><content>C</content><summary>S</summary></entry>"),
       {{"", "C", ""}}},
      {"xhtml content keeps its tags",
       Atom("<entry><content type=\"xhtml\">\n <div xmlns=\"http://www.w3.org/1999/xhtml\"><p>a &lt; b</p>"
            "<p>c<br/>d, <em>e</em> <b>f</b>g</p></div></content></entry>"),
       {{"", "<p>a &lt; b</p><p>c<br/>d, <em>e</em> <b>f</b>g</p>", ""}}},
  });
}

// A teaser description beside the full story: the item's text is the longer of the two.
TEST(FeedItems, TheLongerOfDescriptionAndFullTextIsTheItemsText) {
  auto rss = [](const std::string& item) {
    return "<rss xmlns:content=\"http://purl.org/rss/1.0/modules/content/\"><channel><item>" + item +
           "</item></channel></rss>";
  };
  ExpectItems({
      {"a teaser and the full story",
       rss("<description>Short teaser.</description>"
           "<content:encoded><![CDATA[<p>Short teaser.</p><p>The whole story, told.</p>]]></content:encoded>"),
       {{"", "<p>Short teaser.</p><p>The whole story, told.</p>", ""}}},
      {"the full story given first",
       rss("<content:encoded>The whole story, told.</content:encoded><description>Teaser</description>"),
       {{"", "The whole story, told.", ""}}},
      {"a description longer than content:encoded",
       rss("<description>A description with more words</description><content:encoded>Brief</content:encoded>"),
       {{"", "A description with more words", ""}}},
      {"markup does not count: the longer text wins over the longer markup",
       rss("<description>Plain words here</description>"
           "<content:encoded><![CDATA[<div class=\"a-very-long-class-name\"><b>Few</b></div>]]></content:encoded>"),
       {{"", "Plain words here", ""}}},
      {"equal lengths keep the description",
       rss("<description>Same</description><content:encoded>Size</content:encoded>"),
       {{"", "Same", ""}}},
      {"fullitem counts as the full story",
       rss("<description>Teaser</description><fullitem>The whole story, told.</fullitem>"),
       {{"", "The whole story, told.", ""}}},
      {"references count as one character each",
       rss("<description>Fish and chips</description>"
           "<content:encoded><![CDATA[Fish&#32;&amp;&#32;chips]]></content:encoded>"),
       {{"", "Fish and chips", ""}}},
      {"a reference that is not a number costs neither text",
       rss("<description>Teaser</description><content:encoded><![CDATA[The &#abc; whole story]]></content:encoded>"),
       {{"", "The &#abc; whole story", ""}}},
      {"Atom content is not compared with a longer summary",
       Atom("<entry><content>C</content><summary>A longer summary</summary></entry>"),
       {{"", "C", ""}}},
  });
}

// Inline XHTML keeps every attribute, escaped as markup, without the div the format wraps it in.
TEST(FeedItems, InlineXhtmlKeepsAttributesWithoutItsWrappingDiv) {
  const std::string div = "<div xmlns=\"http://www.w3.org/1999/xhtml\">";
  auto entry = [&](const std::string& field, const std::string& inner) {
    return Atom("<entry><" + field + " type=\"xhtml\">" + inner + "</" + field + "></entry>");
  };
  ExpectItems({
      {"a link and an image keep their attributes",
       entry("content", div + "<p>See <a href=\"http://x/?a=1&amp;b=2\" title='say \"hi\"'>this</a>"
                              "<img src=\"i.png\" alt=\"An &lt;image&gt;\"/></p></div>"),
       {{"", "<p>See <a href=\"http://x/?a=1&amp;b=2\" title=\"say &quot;hi&quot;\">this</a>"
             "<img alt=\"An &lt;image&gt;\" src=\"i.png\"/></p>", ""}}},
      {"the wrapper is dropped, blanks around it too",
       entry("content", "\n  " + div + "<p>Entry</p></div>\n"),
       {{"", "<p>Entry</p>", ""}}},
      {"an empty xhtml title is empty", entry("title", "<div xmlns=\"http://www.w3.org/1999/xhtml\"/>"),
       {{"", "", ""}}},
      {"an xhtml title is its text", entry("title", div + "Fish &amp; <b>chips</b></div>"),
       {{"Fish &amp; <b>chips</b>", "", ""}}},
      {"nested divs: only the outer one goes",
       entry("summary", div + "<div class=\"c\">In</div></div>"),
       {{"", "<div class=\"c\">In</div>", ""}}},
      {"two divs side by side are both content",
       entry("content", div + "A</div><div>B</div>"),
       {{"", "<div>A</div><div>B</div>", ""}}},
      {"without type xhtml the div stays",
       Atom("<entry><content>" + div + "<p>x</p></div></content></entry>"),
       {{"", "<div><p>x</p></div>", ""}}},
  });
}

// Forms of the fields the reader did not know: atom:link and atom:content in RSS, an XHTML
// body, fullitem, Atom 0.3's base64 content and the Channel Definition Format.
TEST(FeedItems, LessCommonFormsAreRead) {
  const std::string ns =
      " xmlns:atom=\"http://www.w3.org/2005/Atom\" xmlns:content=\"http://purl.org/rss/1.0/modules/content/\""
      " xmlns:xhtml=\"http://www.w3.org/1999/xhtml\"";
  auto rss = [&](const std::string& item) {
    return "<rss" + ns + "><channel><item>" + item + "</item></channel></rss>";
  };
  ExpectItems({
      {"atom:link when there is no link",
       rss("<title>T</title><atom:link rel=\"alternate\" href=\"http://a/1\"/>"),
       {{"T", "", "http://a/1"}}},
      {"atom:link resolved against the document", rss("<atom:link href=\"1.html\"/>"),
       {{"", "", "http://d.example/f/1.html"}}, "http://d.example/f/rss"},
      {"link wins over atom:link",
       rss("<link>http://l/1</link><atom:link href=\"http://a/1\"/>"),
       {{"", "", "http://l/1"}}},
      {"atom:link before it does not empty link",
       rss("<atom:link rel=\"self\" href=\"http://a/self\"/><link>http://l/1</link>"),
       {{"", "", "http://l/1"}}},
      {"an alternate atom:link before a guid",
       rss("<guid>http://g/1</guid><atom:link href=\"http://a/1\"/>"),
       {{"", "", "http://a/1"}}},
      {"a guid before a self atom:link",
       rss("<guid>http://g/1</guid><atom:link rel=\"self\" href=\"http://a/self\"/>"),
       {{"", "", "http://g/1"}}},
      {"atom:content", rss("<atom:content type=\"html\">&lt;p&gt;C&lt;/p&gt;</atom:content>"),
       {{"", "<p>C</p>", ""}}},
      {"xhtml:body", rss("<xhtml:body><p>B <a href=\"http://b\">b</a></p></xhtml:body>"),
       {{"", "<p>B <a href=\"http://b\">b</a></p>", ""}}},
      {"body in the XHTML namespace",
       rss("<body xmlns=\"http://www.w3.org/1999/xhtml\"><p>B</p></body>"),
       {{"", "<p>B</p>", ""}}},
      {"a body of no namespace is no text", rss("<body>B</body>"), {{"", "", ""}}},
      {"fullitem", rss("<fullitem>&lt;p&gt;F&lt;/p&gt;</fullitem>"), {{"", "<p>F</p>", ""}}},
      {"content:fullitem", rss("<content:fullitem>F</content:fullitem>"), {{"", "F", ""}}},
      {"Atom 0.3 base64 content",
       "<?xml version='1.0' encoding='utf-8'?><feed version=\"0.3\" xmlns=\"http://purl.org/atom/ns#\">"
       "<entry><title>T</title><content type=\"text/html\" mode=\"base64\">\n"
       "PHA+Q2Fmw6kgJmFtcDsgdGVhPC9wPg==\n</content></entry></feed>",
       {{"T", "<p>Caf\xE9 &amp; tea</p>", ""}}},
      {"Atom 0.3 escaped content",
       "<feed version=\"0.3\" xmlns=\"http://purl.org/atom/ns#\"><entry><content mode=\"escaped\">"
       "&lt;b&gt;x&lt;/b&gt;</content></entry></feed>",
       {{"", "<b>x</b>", ""}}},
      {"Channel Definition Format items",
       "<CHANNEL HREF=\"http://cdf.example/\"><TITLE>C</TITLE><ABSTRACT>About</ABSTRACT>"
       "<ITEM HREF=\"http://cdf.example/1\"><TITLE>One</TITLE><ABSTRACT>First</ABSTRACT></ITEM>"
       "<ITEM HREF=\"2.htm\"><ABSTRACT>Second</ABSTRACT></ITEM>"
       "<ITEM HREF=\"http://cdf.example/3\"/></CHANNEL>",
       {{"One", "First", "http://cdf.example/1"},
        {"", "Second", "http://cdf.example/2.htm"},
        {"", "", "http://cdf.example/3"}},
       "http://cdf.example/news.cdf"},
      {"an item's href gives way to its link",
       Rss("<item href=\"http://h/1\"><link>http://l/1</link></item>"),
       {{"", "", "http://l/1"}}},
  });
}

// Undeclared entities reach triage as written (HtmlToText decodes the common ones) and are
// named once per document.
TEST(FeedItems, UndefinedEntitiesAreKeptAndNamed) {
  struct Case {
    const char* what;
    std::string document;
    Seen item;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"in a title", Rss("<item><title>our&nbsp;DB</title></item>"), {"our&nbsp;DB", "", ""}, {"nbsp"}},
      {"in several fields, named once",
       Rss("<item><title>a&nbsp;b</title><description>&eacute;&nbsp;</description>"
           "<link>http://x/?a=1&b=2</link></item>"),
       {"a&nbsp;b", "&eacute;&nbsp;", "http://x/?a=1b=2"},
       {"nbsp", "eacute"}},
      {"declared in the document",
       "<!DOCTYPE rss [<!ENTITY nbsp '&#160;'>]>" + Rss("<item><title>a&nbsp;b</title></item>"),
       {"a\xA0"
        "b",
        "", ""},
       {}},
  };
  for (const Case& c : cases) {
    TXmlParser parser;
    parser.LoadFromBuffer(c.document);
    std::vector<std::string> names;
    FeedReadOptions options;
    options.undefinedEntities = &names;
    std::vector<Seen> seen;
    ReadFeedDocument(
        parser, [&](TItem& item) { seen.push_back({item.Title, item.Description, item.Link}); }, options);
    EXPECT_EQ(seen, std::vector<Seen>{c.item}) << c.what;
    EXPECT_EQ(names, c.names) << c.what;
  }
  EXPECT_EQ(UndefinedEntitiesMessage("http://f/rss", {"nbsp", "eacute"}),
            "The feed http://f/rss uses entities it does not declare; I kept them as written: &nbsp;, &eacute;");
}

TEST(FeedItems, NamesAreMatchedByNamespace) {
  ExpectItems({
      {"RSS 1.0 with every element prefixed",
       "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
       "xmlns:rss=\"http://purl.org/rss/1.0/\">"
       "<rss:channel><rss:title>C</rss:title></rss:channel><rss:item><rss:title>T</rss:title>"
       "<rss:link>http://t</rss:link><rss:description>D</rss:description></rss:item></rdf:RDF>",
       {{"T", "D", "http://t"}}},
      {"an Atom entry under any prefix",
       "<rss xmlns:a=\"http://www.w3.org/2005/Atom\"><a:entry><a:title>T</a:title><a:summary>S</a:summary>"
       "<a:link href=\"http://t\"/></a:entry></rss>",
       {{"T", "S", "http://t"}}},
      {"a module's own description does not replace the item's",
       Rss("<item xmlns:m=\"urn:module\"><title>T</title><description>D</description><m:description>M"
           "</m:description><m:title>MT</m:title></item>"),
       {{"T", "D", ""}}},
      {"nor stands in for it",
       Rss("<item xmlns:m=\"urn:module\"><m:description>M</m:description></item>"),
       {{"", "", ""}}},
      {"an element in another default namespace is another's",
       Rss("<item><title>T</title><description "
           "xmlns=\"http://www.w3.org/1999/xhtml\">X</description></item>"),
       {{"T", "", ""}}},
      {"a default namespace of the document's own making is the feed's",
       "<rss xmlns=\"urn:our-own\"><channel><item><title>T</title></item></channel></rss>",
       {{"T", "", ""}}},
      {"a usual prefix nobody declared",
       Rss("<item><title>T</title><content:encoded>E</content:encoded></item>"),
       {{"T", "E", ""}}},
      {"a prefix bound to a namespace of another name",
       "<rss xmlns:c=\"http://purl.org/rss/1.0/modules/content/\"><channel><item><c:encoded>E</c:encoded>"
       "</item></channel></rss>",
       {{"", "E", ""}}},
  });
}

TEST(FeedItems, RelativeLinksResolveAgainstXmlBaseOrTheDocument) {
  ExpectItems({
      {"against the document's address",
       Rss("<item><link>/a/1.html</link></item><item><link>2.html</link></item><item><link>http://abs/3</"
           "link>"
           "</item>"),
       {{"", "", "https://news.example/a/1.html"},
        {"", "", "https://news.example/feeds/2.html"},
        {"", "", "http://abs/3"}},
       "https://news.example/feeds/rss.xml"},
      {"without an address they stay as written",
       Rss("<item><link>2.html</link></item>"),
       {{"", "", "2.html"}}},
      {"xml:base of the entry, of the feed, and relative to an outer one",
       "<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:base=\"http://base.example/blog/\">"
       "<entry xml:base=\"http://other.example/x/\"><link href=\"post.html\"/></entry>"
       "<entry><link href=\"../about\"/></entry>"
       "<entry xml:base=\"2026/\"><link href=\"p?q=1#f\"/></entry>"
       "<entry><link xml:base=\"/root/\" href=\"r\"/></entry></feed>",
       {{"", "", "http://other.example/x/post.html"},
        {"", "", "http://base.example/about"},
        {"", "", "http://base.example/blog/2026/p?q=1#f"},
        {"", "", "http://base.example/root/r"}},
       "http://ignored.example/feed"},
      {"a guid is no relative link",
       Rss("<item><guid>g/1</guid></item>"),
       {{"", "", ""}},
       "http://d.example/"},
  });
}

TEST(FeedItems, JsonFeed) {
  ExpectItems({
      {"version 1.1 with each form of text",
       R"({"version": "https://jsonfeed.org/version/1.1", "title": "J", "items": [
           {"id": "1", "title": "Plain", "content_text": "Text", "content_html": "<p>Html</p>", "url": "https://j/1"},
           {"id": "2", "title": "Html", "content_html": "<p>Html</p>", "summary": "S", "url": "https://j/2"},
           {"id": "3", "summary": "Only a summary", "external_url": "https://elsewhere/3"},
           {"id": "4", "title": "Caf\u00e9 \u20ac", "url": "/4"}]})",
       {{"Plain", "Text", "https://j/1"},
        {"Html", "<p>Html</p>", "https://j/2"},
        {"", "Only a summary", "https://elsewhere/3"},
        {"Caf\xE9 \x80", "", "https://j.example/4"}},
       "https://j.example/feed.json"},
      {"version 1, after a byte order mark and blanks",
       "\xEF\xBB\xBF\n {\"version\": \"https://jsonfeed.org/version/1\", \"items\": [{\"title\": \"T\", "
       "\"url\": \"http://t\"}, 7, {\"title\": 5, \"url\": [\"x\"]}]}",
       {{"T", "", "http://t"}, {"", "", ""}}},
      {"another JSON document", R"({"version": "2", "items": [{"title": "T"}]})", {}},
      {"a bare version number",
       R"({"version": "1", "items": [{"title": "A"}]} )",
       {{"A", "", ""}}},
      {"a bare 1.0 and 1.1",
       R"({"version": " 1.1", "items": [{"title": "B"}]})",
       {{"B", "", ""}}},
      {"a bare number of another version", R"({"version": "1.2", "items": [{"title": "T"}]})", {}},
      {"not JSON at all", "{\"version\": \"https://jsonfeed.org/version/1\", \"items\": [", {}},
      {"items that are no list",
       R"({"version": "https://jsonfeed.org/version/1", "items": {"title": "T"}})",
       {}},
  });
}

// What keeps an article apart from the others and places it in time, in each format.
TEST(FeedItems, IdentityDateAndBaseAreRead) {
  const int64_t june10 = *ParseFeedDate("2003-06-10T04:00:00Z");
  const std::string dc = " xmlns:dc=\"http://purl.org/dc/elements/1.1/\"";
  const struct {
    const char* what;
    std::string document;
    std::string guid;
    int64_t published;
    std::string base;
  } cases[] = {
      {"RSS guid and pubDate", Rss("<item><guid isPermaLink=\"false\"> tag:x,1 </guid>"
                                   "<pubDate>Tue, 10 Jun 2003 04:00:00 GMT</pubDate></item>"),
       "tag:x,1", june10, ""},
      {"a date this reads nothing of", Rss("<item><guid>g</guid><pubDate>last Tuesday</pubDate></item>"), "g", 0, ""},
      {"dc:date", "<rss" + dc + "><channel><item><dc:date>2003-06-10T06:00:00+02:00</dc:date></item></channel></rss>",
       "", june10, ""},
      {"Atom id, published before updated",
       Atom("<entry><id>urn:uuid:1</id><updated>2020-01-01T00:00:00Z</updated>"
            "<published>2003-06-10T04:00:00Z</published></entry>"),
       "urn:uuid:1", june10, ""},
      {"Atom updated alone", Atom("<entry><updated>2003-06-10T04:00:00Z</updated></entry>"), "", june10, ""},
      {"xml:base at the item",
       "<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:base=\"http://b.example/news/\"><entry><id>e</id>"
       "<content type=\"html\">&lt;a href=\"x.html\"&gt;x&lt;/a&gt;</content></entry></feed>",
       "e", 0, "http://b.example/news/"},
      {"JSON Feed id and date", R"({"version": "1.1", "items": [{"id": 42, "date_published": "2003-06-10T04:00:00Z"}]})",
       "42", june10, ""},
      {"an identity of any length is cut", Rss("<item><guid>" + std::string(10000, 'g') + "</guid></item>"),
       std::string(kMaxGuidBytes, 'g'), 0, ""},
  };
  for (const auto& c : cases) {
    TXmlParser parser;
    parser.LoadFromBuffer(c.document);
    std::vector<TItem> items;
    ReadFeedDocument(parser, [&](TItem& item) { items.push_back(item); });
    ASSERT_EQ(items.size(), 1u) << c.what;
    EXPECT_EQ(items[0].Guid, c.guid) << c.what;
    EXPECT_EQ(items[0].Published, c.published) << c.what;
    EXPECT_EQ(items[0].Base, c.base) << c.what;
  }
}

// "titles,items": the cuts a read reported, for comparing.
std::string CutNames(const FeedReadCuts& cuts) {
  std::string names;
  const std::pair<bool, const char*> flags[] = {{cuts.titles, "titles"},   {cuts.texts, "texts"},
                                                {cuts.links, "links"},     {cuts.items, "items"},
                                                {cuts.tooDeep, "tooDeep"}, {cuts.expansionBudget != 0, "expansion"}};
  for (const auto& [on, name] : flags)
    if (on) names += (names.empty() ? "" : ",") + std::string(name);
  return names;
}

TEST(FeedItems, WhatAnItemMayBringIsBounded) {
  const std::string longTitle(kMaxItemTitleBytes + 1, 't');
  const std::string longLink = "http://x/" + std::string(kMaxItemTitleBytes, 'l');
  auto items = [](size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += "<item><title>" + std::to_string(i) + "</title></item>";
    return out;
  };
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  deep += Rss("<item><title>T</title></item>");
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  std::string laughs = "<!DOCTYPE rss [<!ENTITY l0 'lol'>";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "'>";
  }
  laughs += "]>" + Rss("<item><title>&l9;</title></item><item><title>&l9;</title></item>");
  std::string jsonItems;
  for (size_t i = 0; i <= kMaxFeedItems; ++i)
    jsonItems += std::string(i ? "," : "") + "{\"title\": \"" + (i ? std::to_string(i) : longTitle) + "\"}";

  const struct {
    const char* what;
    std::string document;
    size_t items;
    size_t title, description, link;  // bytes of the first item's fields
    std::string cuts;
  } cases[] = {
      {"an ordinary item", Rss("<item><title>A</title><description>" + std::string(10000, 'd') +
                               "</description><link>http://a</link></item>"),
       1, 1, 10000, 8, ""},
      {"a title one byte too long", Rss("<item><title>" + longTitle + "</title></item>" + items(1)), 2,
       kMaxItemTitleBytes, 0, 0, "titles"},
      {"a title of text, CDATA and a reference",
       Rss("<item><title>" + std::string(40000, 'a') + "<![CDATA[" + std::string(40000, 'b') + "]]>&amp;</title></item>"),
       1, kMaxItemTitleBytes, 0, 0, "titles"},
      {"a title exactly at the limit", Rss("<item><title>" + longTitle.substr(1) + "</title></item>"), 1,
       kMaxItemTitleBytes, 0, 0, ""},
      {"a title whose own characters lie past the cut",
       Rss("<item><title>" + longTitle + "\xD0\xAF\xD0\xB1</title></item>"), 1, kMaxItemTitleBytes, 0, 0, "titles"},
      {"a link text", Rss("<item><link>" + longLink + "</link></item>"), 1, 0, 0, kMaxItemTitleBytes, "links"},
      {"an Atom link", Atom("<entry><link href=\"" + longLink + "\"/></entry>"), 1, 0, 0, kMaxItemTitleBytes,
       "links"},
      {"as many items as are read", Rss(items(kMaxFeedItems)), kMaxFeedItems, 1, 0, 0, ""},
      {"one item more", Rss(items(kMaxFeedItems + 1)), kMaxFeedItems, 1, 0, 0, "items"},
      {"100,000 levels around the feed", deep, 0, 0, 0, 0, "tooDeep"},
      {"a billion laughs in two titles", laughs, 2, kMaxItemTitleBytes, 0, 0, "titles,expansion"},
      {"a JSON Feed", R"({"version": "1", "items": [)" + jsonItems + "]}", kMaxFeedItems, kMaxItemTitleBytes,
       0, 0, "titles,items"},
  };
  for (const auto& c : cases) {
    TXmlParser parser;
    parser.LoadFromBuffer(c.document);
    FeedReadCuts cuts;
    cuts.texts = true;  // a read says what it found, whatever was there before
    FeedReadOptions options;
    options.cuts = &cuts;
    std::vector<TItem> read;
    ReadFeedDocument(parser, [&](TItem& item) { read.push_back(item); }, options);
    ASSERT_EQ(read.size(), c.items) << c.what;
    EXPECT_EQ(CutNames(cuts), c.cuts) << c.what;
    if (read.empty()) continue;
    const TItem& first = read.front();
    EXPECT_EQ(first.Title.size(), c.title) << c.what;
    EXPECT_EQ(first.Description.size(), c.description) << c.what;
    EXPECT_EQ(first.Link.size(), c.link) << c.what;
    // A form to show is one of its own, or none.
    EXPECT_TRUE(first.TitleUtf8.empty() || first.TitleUtf8 != first.Title) << c.what;
  }

  // A cut does not halve a tag, nor a reference in markup: it goes back to before it. The texts
  // are made of 1024-byte pieces with a tag or a reference at a known place; the length of what
  // comes first moves where the cut falls in them: before, into or after the tag or reference.
  for (size_t shift = 0; shift <= 4; ++shift) {
    std::string escaped(shift, 'x');  // the tag "<hr>" at 1020 of each piece
    while (escaped.size() < kMaxItemTextBytes + 2048) escaped += std::string(1020, 'd') + "&lt;hr&gt;";
    std::string inline_(1019 - shift, 'x');  // "&amp;" at 0 of each piece, after "<div>" and these
    while (inline_.size() < kMaxItemTextBytes + 2048) inline_ += "&amp;" + std::string(1019, 'd');
    const struct {
      std::string what, document;
      size_t back;  // bytes of the tag or reference the cut would have kept
    } texts[] = {
        {"a tag in the text", Rss("<item><description>" + escaped + "</description></item>"), (4 - shift) % 4},
        {"a reference in markup",
         Atom("<entry><content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">" + inline_ +
              "</div></content></entry>"),
         shift},
    };
    for (const auto& t : texts) {
      TXmlParser parser;
      parser.LoadFromBuffer(t.document);
      std::vector<TItem> read;
      ReadFeedDocument(parser, [&](TItem& item) { read.push_back(item); });
      ASSERT_EQ(read.size(), 1u) << t.what;
      const std::string& d = read[0].Description;
      EXPECT_EQ(d.size(), kMaxItemTextBytes - t.back) << t.what << ", shifted by " << shift;
      const size_t lt = d.rfind('<'), amp = d.rfind('&');
      EXPECT_TRUE(lt == std::string::npos || d.find('>', lt) != std::string::npos) << t.what << " " << shift;
      EXPECT_TRUE(amp == std::string::npos || d.find(';', amp) != std::string::npos) << t.what << " " << shift;
    }
  }

  // The characters to show are cut with the text: as many, and still UTF-8.
  std::string cyrillic;
  for (size_t i = 0; i <= kMaxItemTitleBytes; ++i) cyrillic += "\xD0\x96";
  TXmlParser parser;
  parser.LoadFromBuffer("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + Rss("<item><title>" + cyrillic + "</title></item>"));
  std::vector<TItem> read;
  ReadFeedDocument(parser, [&](TItem& item) { read.push_back(item); });
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].Title, std::string(kMaxItemTitleBytes, '\xBF'));
  EXPECT_EQ(read[0].TitleUtf8, cyrillic.substr(0, 2 * kMaxItemTitleBytes));

  FeedReadCuts all;
  all.titles = all.texts = all.links = all.items = all.tooDeep = true;
  all.expansionBudget = 80u << 20;
  EXPECT_EQ(FeedReadCutMessages("http://f/rss", all),
            (std::vector<std::string>{
                "The feed http://f/rss has item titles longer than 64 KB; I cut them to that",
                "The feed http://f/rss has item texts longer than 256 KB; I cut them to that",
                "The feed http://f/rss has item links longer than 64 KB; I cut them to that",
                "The feed http://f/rss has more than 10000 items; I read the first 10000",
                "The feed http://f/rss is too deep: its elements nest more than 4096 levels, and I did not read "
                "what lies deeper",
                "The feed http://f/rss expands its entities to more than 80 MB; I left the references after that "
                "unexpanded",
            }));
  EXPECT_TRUE(FeedReadCutMessages("http://f/rss", FeedReadCuts{}).empty());
}

// What a window shows of each item: the document's own characters in UTF-8, whatever script,
// from literals and references, in every feed form; the single-byte texts stay as they were,
// and the link is sent in its URI form.
struct Shown {
  std::string title, description, link;  // UTF-8, as shown
  std::string sent;                       // the single-byte link: what is fetched and remembered
  bool operator==(const Shown&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Shown& s) {
  return os << "{" << s.title << " | " << s.description << " | " << s.link << " | " << s.sent << "}";
}

TEST(FeedItems, EveryScriptIsKeptForShowing) {
  const std::string utf8 = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
  const std::string cyrillicLink = "https://example.org/\u0441\u0442\u0430\u0442\u044C\u044F?q=\u0442\u0435\u0441\u0442";
  const std::string cyrillicUri = "https://example.org/%D1%81%D1%82%D0%B0%D1%82%D1%8C%D1%8F?q=%D1%82%D0%B5%D1%81%D1%82";
  struct Case {
    const char* what;
    std::string document;
    std::vector<Shown> items;
    std::string documentUrl = "";
  };
  const Case cases[] = {
      {"Cyrillic, Greek, Chinese and an emoji written literally",
       utf8 + Rss("<item><title>\u041F\u0440\u0438\u0432\u0435\u0442 \U0001F605</title>"
                  "<description>\u0395\u03BB\u03BB\u03AC\u03B4\u03B1 \u4E2D\u6587</description>"
                  "<link>http://a/1</link></item>"),
       {{"\u041F\u0440\u0438\u0432\u0435\u0442 \U0001F605", "\u0395\u03BB\u03BB\u03AC\u03B4\u03B1 \u4E2D\u6587", "http://a/1", "http://a/1"}}},
      {"curly quotes and an emoji as references, without a declaration",
       Rss("<item><title>&#8220;Quoted&#8221; &#8212; &#128517;</title><link>http://a/2</link></item>"),
       {{"\u201CQuoted\u201D \u2014 \U0001F605", "", "http://a/2", "http://a/2"}}},
      {"a link with a Cyrillic path and query", Rss("<item><title>T</title><link>" + cyrillicLink + "</link></item>"),
       {{"T", "", cyrillicLink, cyrillicUri}}},
      {"an Atom link and a relative one beyond ASCII",
       Atom("<entry><title>&#931;</title><link href=\"https://h/\u0444\"/></entry>"
            "<entry><title>B</title><link href=\"\u0444/&#1093;\"/></entry>"),
       {{"\u03A3", "", "https://h/\u0444", "https://h/%D1%84"},
        {"B", "", "https://f.example/dir/\u0444/\u0445", "https://f.example/dir/%D1%84/%D1%85"}},
       "https://f.example/dir/feed"},
      {"a single-byte document gives its characters, references beyond it too",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" +
           Rss("<item><title>Caf\xE9 &#1060;</title><description>na\xEFve</description>"
               "<link>http://a/caf\xE9</link></item>"),
       {{"Caf\u00E9 \u0424", "na\u00EFve", "http://a/caf\u00E9", "http://a/caf%C3%A9"}}},
      {"CDATA and markup inside a description keep their characters",
       utf8 + Rss("<item><title><![CDATA[\u041A\u043E\u0442]]></title>"
                  "<description>&lt;b&gt;\u0416&lt;/b&gt; <![CDATA[<i>\u03A9</i>]]></description></item>"),
       {{"\u041A\u043E\u0442", "<b>\u0416</b> <i>\u03A9</i>", "", ""}}},
      {"inline XHTML with an attribute beyond ASCII",
       Atom("<entry><title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">"
            "<a href=\"/\u0444\">\u0421\u0441\u044B\u043B\u043A\u0430</a></div></title></entry>"),
       {{"<a href=\"/\u0444\">\u0421\u0441\u044B\u043B\u043A\u0430</a>", "", "", ""}}},
      {"JSON Feed",
       R"({"version": "https://jsonfeed.org/version/1.1", "items": [{"title": "\u041C\u0438\u0440", "content_text": "\ud83d\ude05", "url": "https://j/\u043c"}]})",
       {{"\u041C\u0438\u0440", "\U0001F605", "https://j/\u043C", "https://j/%D0%BC"}}},
      {"a host beyond ASCII goes as its A-labels",
       utf8 + Rss("<item><link>http://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/\u0430</link></item>"),
       {{"", "", "http://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/\u0430",
         "http://xn--e1afmkfd.xn--p1ai/%D0%B0"}}},
      {"A-labels and escapes as written are shown as their characters",
       Rss("<item><link>http://xn--e1afmkfd.xn--p1ai/%D0%B0</link></item>"
           "<item><link>http://h/%d0%b0</link></item>"),
       {{"", "", "http://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/\u0430",
         "http://xn--e1afmkfd.xn--p1ai/%D0%B0"},
        {"", "", "http://h/%d0%b0", "http://h/%d0%b0"}}},  // shown, it would go as other bytes
      {"a windows-1251 document",
       "<?xml version=\"1.0\" encoding=\"windows-1251\"?>" +
           Rss("<item><title>\xCA\xEE\xF2 \x96 &#8470;</title><description>\xC4\xE0</description>"
               "<link>http://h/\xEF</link></item>"),
       {{"\u041A\u043E\u0442 \u2013 \u2116", "\u0414\u0430", "http://h/\u043F", "http://h/%D0%BF"}}},
      {"an item with nothing beyond ASCII, after one that had",
       utf8 + Rss("<item><title>\u0424</title><link>http://a/\u0444</link></item>"
                  "<item><title>Plain</title><description>Text</description><link>http://a/p</link></item>"),
       {{"\u0424", "", "http://a/\u0444", "http://a/%D1%84"}, {"Plain", "Text", "http://a/p", "http://a/p"}}},
  };
  for (const Case& c : cases) {
    TXmlParser parser;
    parser.LoadFromBuffer(c.document);
    FeedReadOptions options;
    options.documentUrl = c.documentUrl;
    std::vector<Shown> shown;
    ReadFeedDocument(
        parser,
        [&](TItem& item) {
          shown.push_back({DisplayUtf8(item.Title, item.TitleUtf8), DisplayUtf8(item.Description, item.DescriptionUtf8),
                           DisplayUtf8(item.Link, item.LinkUtf8), item.Link});
          // A UTF-8 form is given only where it is not the single-byte text itself.
          for (const std::string* own : {&item.TitleUtf8, &item.DescriptionUtf8, &item.LinkUtf8})
            EXPECT_FALSE(!own->empty() && IsAscii(*own)) << c.what;
          // The single-byte texts are those of the document in Windows-1252, as always.
          EXPECT_EQ(item.Title, Utf8ToWin1252(DisplayUtf8(item.Title, item.TitleUtf8))) << c.what;
        },
        options);
    EXPECT_EQ(shown, c.items) << c.what;
  }
}

TEST(FeedItems, CancelStopsBeforeTheNextItem) {
  for (const std::string& document :
       {Rss("<item><title>1</title></item><item><title>2</title></item>"),
        std::string(
            R"({"version": "https://jsonfeed.org/version/1", "items": [{"title": "1"}, {"title": "2"}]})")}) {
    TXmlParser parser;
    parser.LoadFromBuffer(document);
    bool cancel = false;
    FeedReadOptions options;
    options.cancelRequested = &cancel;
    int calls = 0;
    ReadFeedDocument(
        parser,
        [&](TItem&) {
          ++calls;
          cancel = true;
        },
        options);
    EXPECT_EQ(calls, 1) << document;
  }
}

// The feed's own title: the channel's or the Atom feed's, never an item's or an image's; as the
// feed list shows it, plain text on one line.
TEST(FeedItems, TheFeedsOwnTitle) {
  const struct {
    const char* what;
    std::string document;
    std::string raw;    // as read, "(none)" when the feed has none
    std::string shown;  // FeedTitleText of it
  } cases[] = {
      {"RSS 2.0", Rss("<item><title>Item</title></item>"), "Channel", "Channel"},
      {"Atom", Atom("<entry><title>Entry</title></entry>"), "Feed", "Feed"},
      {"RSS 1.0",
       "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" xmlns=\"http://purl.org/rss/1.0/\">"
       "<channel><title>Rdf news</title></channel><item><title>I</title></item></rdf:RDF>",
       "Rdf news", "Rdf news"},
      {"Atom under a prefix",
       "<a:feed xmlns:a=\"http://www.w3.org/2005/Atom\"><a:title>Prefixed</a:title></a:feed>", "Prefixed",
       "Prefixed"},
      {"the image's title is not the channel's",
       "<rss><channel><image><title>Logo</title></image><title>Real</title></channel></rss>", "Real", "Real"},
      {"after the items too", "<rss><channel><item><title>I</title></item><title>Late</title></channel></rss>",
       "Late", "Late"},
      {"only the first", "<rss><channel><title>One</title><title>Two</title></channel></rss>", "One", "One"},
      {"no title", "<rss><channel><item><title>I</title></item></channel></rss>", "(none)", ""},
      {"an item's title only", "<rss><item><title>I</title></item></rss>", "(none)", ""},
      {"references, CDATA and blanks",
       "<rss><channel><title>\n  Caf&#233; <![CDATA[& <b>Bar</b>]]>\n</title></channel></rss>",
       "Caf\xE9 & <b>Bar</b>", "Caf\xE9 & Bar"},
      {"a broken reference gives no name", "<rss><channel><title>&amp;#x;</title></channel></rss>", "&#x;", ""},
      {"JSON Feed", R"({"version": "https://jsonfeed.org/version/1.1", "title": "Json \u20ac", "items": []})",
       "Json \x80", "Json \x80"},
      {"JSON Feed without a title", R"({"version": "https://jsonfeed.org/version/1.1", "items": []})", "(none)",
       ""},
      {"a long title is cut", "<rss><channel><title>" + std::string(200, 'x') + "</title></channel></rss>",
       std::string(200, 'x'), std::string(kMaxFeedTitle, 'x')},
  };
  for (const auto& c : cases) {
    TXmlParser parser;
    parser.LoadFromBuffer(c.document);
    std::string title = "(none)";
    FeedReadOptions options;
    options.feedTitle = &title;
    std::vector<std::string> items;
    ReadFeedDocument(parser, [&](TItem& item) { items.push_back(item.Title); }, options);
    EXPECT_EQ(title, c.raw) << c.what;
    EXPECT_EQ(FeedTitleText(title == "(none)" ? "" : title), c.shown) << c.what;
    for (const std::string& t : items) EXPECT_NE(t, c.raw) << c.what;
  }
}

// A scan names a feed that has no name yet; a name it has (from an OPML file, say) stays.
TEST_F(FeedScanTest, AScanNamesAFeedWithoutATitle) {
  server_.ServeBody("/named.xml", Rss("<item><title>I</title><link>http://i/</link></item>"), "text/xml");
  Scan(server_.Url("/named.xml"));
  EXPECT_EQ(feed_.title, "Channel");
  feed_.title = "My name";
  Scan(server_.Url("/named.xml"));
  EXPECT_EQ(feed_.title, "My name");
  feed_.title.clear();
  server_.ServeStatus("/named.xml", 404, "gone");
  Scan(server_.Url("/named.xml"));
  EXPECT_EQ(feed_.title, "");
}

// A feed's own title keeps the characters Windows-1252 lacks beside its single-byte form, in
// every encoding the feed is in; a name given otherwise stays as it is.
TEST_F(FeedScanTest, AFeedsOwnTitleKeepsItsCharacters) {
  struct Case {
    const char* what;
    std::string document;
    std::string titleBefore, titleUtf8Before;
    std::string title, titleUtf8;  // after the scan
  };
  const std::string kot = "\u041A\u043E\u0442 \U0001F605";
  const auto rss = [](const std::string& prolog, const std::string& title) {
    return prolog + "<rss><channel><title>" + title + "</title><item><title>I</title></item></channel></rss>";
  };
  const std::string utf8 = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
  const Case cases[] = {
      {"Cyrillic and an emoji", rss(utf8, kot), "", "", "\xBF\xBF\xBF \xBF", kot},
      {"a windows-1251 feed", rss("<?xml version=\"1.0\" encoding=\"windows-1251\"?>", "\xCA\xEE\xF2 &#128517;"), "",
       "", "\xBF\xBF\xBF \xBF", kot},
      {"Latin letters have no second form", rss(utf8, "Caf\u00E9 \u201Cx\u201D"), "", "", "Caf\xE9 \x93x\x94", ""},
      {"a name taken before its characters were kept gets them", rss(utf8, kot), "\xBF\xBF\xBF \xBF", "",
       "\xBF\xBF\xBF \xBF", kot},
      {"a name given otherwise stays", rss(utf8, kot), "My \xBF name", "", "My \xBF name", ""},
      {"a name with its characters is not taken again", rss(utf8, "\u041F\u0451\u0441 \U0001F605"),
       "\xBF\xBF\xBF \xBF", kot, "\xBF\xBF\xBF \xBF", kot},
  };
  for (const Case& c : cases) {
    server_.ServeBody("/own.xml", c.document, "text/xml");
    feed_.title = c.titleBefore;
    feed_.titleUtf8 = c.titleUtf8Before;
    Scan(server_.Url("/own.xml"));
    EXPECT_EQ(feed_.title, c.title) << c.what;
    EXPECT_EQ(feed_.titleUtf8, c.titleUtf8) << c.what;
  }
  // Shown in the list, and in the line of its deletion.
  EXPECT_EQ(FeedNameUtf8(feed_), kot);
  EXPECT_EQ(FeedListRows({feed_})[0].textUtf8, kot);
  EXPECT_EQ(DeletedFeedLineUtf8(3, feed_), "Deleted feed 3: " + kot + " (" + feed_.url + ")");
  EXPECT_EQ(DeletedFeedLine(3, feed_), "Deleted feed 3: \xBF\xBF\xBF \xBF (" + feed_.url + ")");
  EXPECT_EQ(FeedTitleTextUtf8("x", std::string(200, 'a') + "\u0416"), std::string(kMaxFeedTitle, 'a'));
}

}  // namespace
}  // namespace zibu
